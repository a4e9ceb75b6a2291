#!/usr/bin/env python3
"""The POP3 conversation of a mail check that keeps nothing between checks,
issued by Python's poplib: login, STAT, LIST, then for every message TOP m 0
(followed by NOOP, as the check's second receive does) and RETR m for
messages below the size limit (a limit of 0 downloads nothing, as a check
of messages already downloaded). Prints one JSON line with the wall time,
its own CPU time and its peak resident size."""
import json
import poplib
import sys
import time

host, port, user, password, limit = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], int(sys.argv[5])
start = time.monotonic()
cpu0 = time.process_time()
pop = poplib.POP3(host, port, timeout=60)
pop.user(user)
pop.pass_(password)
count, _ = pop.stat()
sizes = {}
for line in pop.list()[1]:
    number, size = line.split()
    sizes[int(number)] = int(size)
for m in range(1, count + 1):
    pop.top(m, 0)
    pop.noop()
    if sizes.get(m, 0) < limit:
        pop.retr(m)
pop.quit()
wall, cpu = time.monotonic() - start, time.process_time() - cpu0
# The kernel's high-water mark of this process image (getrusage would also
# count the forking parent's size).
peak = 0
with open("/proc/self/status") as status:
    for line in status:
        if line.startswith("VmHWM:"):
            peak = int(line.split()[1])
print(json.dumps({"messages": count, "wall": wall, "cpu": cpu, "maxrss_kb": peak}))
