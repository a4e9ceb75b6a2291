#!/usr/bin/env python3
"""The same POP3 commands a Tessaly check sends, issued by Python's poplib:
login, STAT, LIST, then for every message TOP m 0 (followed by NOOP, as the
check's second receive does) and RETR m for messages below the size limit.
Prints one JSON line with the wall time."""
import json
import poplib
import sys
import time

host, port, user, password, limit = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], int(sys.argv[5])
start = time.monotonic()
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
print(json.dumps({"messages": count, "wall": time.monotonic() - start}))
