#!/usr/bin/env python3
"""How long pages took, per channel, from one or more page ledgers.

    bench/page_delays.py [--over SECONDS] [--first-try] [--markdown] [CHANNEL=]LEDGER...
    bench/page_delays.py --self-test

LEDGER is a page-ledger.jsonl file, a folder (every page-ledger.jsonl under
it) or a glob pattern of either. CHANNEL= names the channel of every page in
those ledgers; without it a page's channel is what its ledger line names:
the carrier service of a page with a receipt, otherwise the paging service
(the "pager" field without the pager's ID). A page delivered by a fallback
pager (attempt 2 and up) counts under "<channel>, fallback". Daily test
pages stand for no mail and are left out. A page whose messages were all
delivered before in the same ledger (sent again, say after the inbox state
was lost) is counted as a repeat and left out of the delays: its journey
ended at the first delivery. "retried" counts the delivered pages whose
messages had a failed attempt before (a pager that did not take them, a
check that tried again); --first-try leaves them out of the delays.

For each channel it prints the pages delivered and given up, and for both
delays, first seen on the server -> delivered ("seen" to "at") and the
mail's Date -> delivered ("date" to "at"): count, mean, p50, p95 and max
(nearest rank) and the share of delivered pages over --over seconds
(default 100). A page whose line lacks a time stamp is left out of that
delay's figures only.
"""

import argparse
import glob
import json
import math
import os
import sys
from datetime import datetime

LEDGER = "page-ledger.jsonl"


def parse_time(text):
    """An ISO 8601 time stamp as the ledger writes it ("...Z"); None otherwise."""
    if not isinstance(text, str) or not text:
        return None
    try:
        return datetime.fromisoformat(text.replace("Z", "+00:00"))
    except ValueError:
        return None


def channel_of(line, label):
    """The channel a delivered or given-up line counts under."""
    if label:
        name = label
    elif line.get("service"):
        name = line["service"]
    else:
        pager = line.get("pager", "")
        name = pager.rsplit(" ", 1)[0] if " " in pager else (pager or "(unnamed)")
    attempt = line.get("attempt")
    if isinstance(attempt, int) and attempt > 1:
        name += ", fallback"
    return name


def ledger_files(path):
    """The ledger files a command-line path stands for."""
    found = []
    for p in sorted(glob.glob(path)) or [path]:
        if os.path.isdir(p):
            for top, _, files in os.walk(p):
                if LEDGER in files:
                    found.append(os.path.join(top, LEDGER))
        elif os.path.isfile(p):
            found.append(p)
    return sorted(found)


class Channel:
    def __init__(self):
        self.delivered = 0
        self.given_up = 0
        self.repeats = 0
        self.retried = 0
        self.seen = []  # seconds, first seen -> delivered
        self.date = []  # seconds, mail's Date -> delivered


def read_ledger(lines, label, channels, first_try=False):
    """Adds the pages of one ledger's lines to `channels`."""
    delivered = set()  # message IDs delivered so far
    failed = set()  # message IDs with a failed attempt so far
    for raw in lines:
        raw = raw.strip()
        if not raw:
            continue
        try:
            line = json.loads(raw)
        except ValueError:
            continue  # a torn last line
        if not isinstance(line, dict) or line.get("test"):
            continue
        event = line.get("event")
        ids = [i for i in line.get("ids", []) if isinstance(i, str) and i]
        if event == "failed":
            failed.update(ids)
        if event not in ("delivered", "given-up"):
            continue
        c = channels.setdefault(channel_of(line, label), Channel())
        if event == "given-up":
            c.given_up += 1
            continue
        if ids and all(i in delivered for i in ids):
            c.repeats += 1
            continue
        delivered.update(ids)
        c.delivered += 1
        if any(i in failed for i in ids):
            c.retried += 1
            if first_try:
                continue
        at = parse_time(line.get("at"))
        for field, into in (("seen", c.seen), ("date", c.date)):
            start = parse_time(line.get(field))
            if at and start:
                into.append((at - start).total_seconds())


def nearest_rank(values, share):
    ordered = sorted(values)
    return ordered[max(0, math.ceil(share * len(ordered)) - 1)]


def figures(values, over):
    """count, mean, p50, p95, max, share over `over` seconds (a fraction)."""
    if not values:
        return None
    return (len(values), sum(values) / len(values), nearest_rank(values, 0.50), nearest_rank(values, 0.95),
            max(values), sum(1 for v in values if v > over) / len(values))


def seconds(v):
    if abs(v) >= 3600:
        return "%.1f h" % (v / 3600)
    return "%.2f s" % v if abs(v) < 10 else "%.1f s" % v


def table(channels, over):
    head = ["channel", "delivered", "retried", "given up", "repeats"]
    for what in ("seen -> delivered", "Date -> delivered"):
        head += [what + " n", "mean", "p50", "p95", "max", "> %g s" % over]
    rows = []
    for name in sorted(channels):
        c = channels[name]
        row = [name, str(c.delivered), str(c.retried), str(c.given_up), str(c.repeats)]
        for values in (c.seen, c.date):
            f = figures(values, over)
            row += ["0", "-", "-", "-", "-", "-"] if f is None else \
                [str(f[0])] + [seconds(v) for v in f[1:5]] + ["%.1f %%" % (100 * f[5])]
        rows.append(row)
    return head, rows


def render(head, rows, markdown):
    if markdown:
        out = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
        out += ["| " + " | ".join(r) + " |" for r in rows]
        return "\n".join(out)
    widths = [max(len(r[i]) for r in [head] + rows) for i in range(len(head))]
    return "\n".join("  ".join(cell.ljust(w) for cell, w in zip(r, widths)).rstrip() for r in [head] + rows)


def self_test():
    def line(event, at, **more):
        return json.dumps(dict(event=event, at=at, **more))

    cases = [
        # (what, label, lines, {channel: (delivered, retried, given up, repeats, seen delays, date delays)})
        ("service named by the pager field", None,
         [line("delivered", "2026-12-08T10:00:30Z", pager="Night desk 7654321",
               seen="2026-12-08T10:00:00Z", date="2026-12-08T09:59:00Z")],
         {"Night desk": (1, 0, 0, 0, [30.0], [90.0])}),
        ("a receipt's carrier service wins", None,
         [line("delivered", "2026-12-08T10:00:05Z", pager="Default 1", service="Carrier", receipt="r1",
               seen="2026-12-08T10:00:00Z")],
         {"Carrier": (1, 0, 0, 0, [5.0], [])}),
        ("label, fallback row, test page and other events left out", "modem",
         [line("sending", "2026-12-08T10:00:00Z", pager="Default 1"),
          line("failed", "2026-12-08T10:00:10Z", pager="Default 1", attempt=1, ids=["<x>"]),
          line("delivered", "2026-12-08T10:00:20Z", pager="Default a@b", attempt=2, ids=["<x>"],
               seen="2026-12-08T10:00:00Z"),
          line("delivered", "2026-12-08T07:00:00Z", pager="Default 1", test=True, queued="2026-12-08T07:00:00Z"),
          line("given-up", "2026-12-08T11:00:00Z", pager="Default 1", attempt=1), "{torn"],
         {"modem": (0, 0, 1, 0, [], []), "modem, fallback": (1, 1, 0, 0, [20.0], [])}),
        ("a message delivered again is a repeat; a page with a new one is not", "tcp",
         [line("delivered", "2026-12-08T10:00:10Z", pager="D 1", ids=["<a>"], seen="2026-12-08T10:00:00Z"),
          line("delivered", "2026-12-08T10:05:00Z", pager="D 1", ids=["<a>"], seen="2026-12-08T10:00:00Z"),
          line("delivered", "2026-12-08T10:06:00Z", pager="D 1", ids=["<a>", "<b>"], seen="2026-12-08T10:05:00Z")],
         {"tcp": (2, 0, 0, 1, [10.0, 60.0], [])}),
    ]
    failed = 0
    for what, label, lines, want in cases:
        channels = {}
        read_ledger(lines, label, channels)
        got = {k: (c.delivered, c.retried, c.given_up, c.repeats, c.seen, c.date) for k, c in channels.items()}
        if got != want:
            failed += 1
            print("FAIL: %s: %r, expected %r" % (what, got, want))
    channels = {}
    read_ledger([line("failed", "2026-12-08T10:00:05Z", pager="D 1", ids=["<r>"]),
                 line("delivered", "2026-12-08T10:10:00Z", pager="D 1", ids=["<r>"], seen="2026-12-08T10:00:00Z"),
                 line("delivered", "2026-12-08T10:10:02Z", pager="D 1", ids=["<s>"], seen="2026-12-08T10:10:00Z")],
                None, channels, first_try=True)
    if (channels["D"].retried, channels["D"].seen) != (1, [2.0]):
        failed += 1
        print("FAIL: --first-try kept a retried page: %r" % channels["D"].seen)
    for values, share, want in [([5, 1, 3, 2, 4], 0.5, 3), ([5, 1, 3, 2, 4], 0.95, 5), (list(range(1, 101)), 0.95, 95),
                                ([7], 0.95, 7)]:
        if nearest_rank(values, share) != want:
            failed += 1
            print("FAIL: p%d of %r is %r, expected %r" % (share * 100, values, nearest_rank(values, share), want))
    if figures([50, 150, 101, 100], 100)[5] != 0.5:
        failed += 1
        print("FAIL: the share over 100 s counts 100 s itself")
    print("self-test: %s" % ("FAIL" if failed else "ok"))
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser(description="Page delays per channel, from page ledgers.")
    parser.add_argument("ledgers", nargs="*", metavar="[CHANNEL=]LEDGER")
    parser.add_argument("--over", type=float, default=100, help="the delay a page should stay under (seconds)")
    parser.add_argument("--first-try", action="store_true",
                        help="delays of the pages delivered at their first attempt only")
    parser.add_argument("--markdown", action="store_true", help="print a Markdown table")
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args()
    if args.self_test:
        return self_test()
    if not args.ledgers:
        parser.error("name at least one ledger")
    channels = {}
    read = set()
    for arg in args.ledgers:
        label, path = arg.split("=", 1) if "=" in arg and not os.path.exists(arg) else (None, arg)
        files = ledger_files(path)
        if not files:
            print("page_delays.py: no page ledger at %s" % path, file=sys.stderr)
            return 2
        for f in files:
            real = os.path.realpath(f)
            if real in read:
                continue  # named twice: counted once
            read.add(real)
            with open(f, encoding="utf-8", errors="replace") as ledger:
                read_ledger(ledger, label, channels, args.first_try)
    print(render(*table(channels, args.over), args.markdown))
    print("%d ledger%s" % (len(read), "" if len(read) == 1 else "s"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
