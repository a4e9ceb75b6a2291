#!/usr/bin/env python3
"""Hayes modem and alphanumeric paging terminal simulator for integration tests.

The simulator opens a pseudo-terminal pair, announces the slave device on
stdout as one JSON line ({"device": "/dev/pts/N"}) and then plays, on the
master side, a Hayes-command modem that can "dial" a paging terminal speaking
the alphanumeric paging protocol (ID= prompt, ESC PG1 logon, STX/ETX blocks
with a three-character checksum, EOT logoff).  The program under test opens
the slave device as its serial port.

With --tcp there is no modem and no pseudo-terminal: the simulator listens
on 127.0.0.1 (a free port unless --port is given), prints "PORT <n>" on
stdout, and every connection is a call to the paging terminal, which speaks
at once (the terminal behind a terminal server).  The terminal closing the
connection stands for its hanging up.

Everything received and sent is recorded (--log, JSON lines) and the outcome
of the run is kept in a summary (--summary, one JSON document) that tests
read to check what arrived.  See README.md next to this file for the options
and the summary format.

Standard library only; runs on Linux (relies on pty semantics of the Linux
kernel for detecting the port being closed).
"""

import argparse
import errno
import heapq
import itertools
import json
import os
import pty
import select
import signal
import socket
import struct
import sys
import time
import tty

STX = 0x02
ETX = 0x03
EOT = 0x04
ACK = 0x06
BS = 0x08
LF = 0x0A
CR = 0x0D
NAK = 0x15
ESC = 0x1B
RS = 0x1E
PLUS = 0x2B

STAGES = ("command", "dial", "id", "logon", "block", "logoff")

# Socket errors that mean the peer of a --tcp connection has gone.
CONNECTION_GONE = (errno.EIO, errno.ECONNRESET, errno.EPIPE, errno.ENOTCONN)

# The dial "result" of a --noise rule: endless noise instead of a result word.
NOISE_RESULT = "<noise>"

# Answers to a block and the bytes the terminal sends for each.
BLOCK_ANSWERS = {
    "ack": b"\x06\r",
    "nak": b"\x15\r",
    "rs": b"\x1e\r",
    "eot": b"\x1b\x04\r",
    "none": b"",
}

LOGON_ACCEPT = b"\r\x06\r"
LOGON_REJECT = b"\r\x15\r"
GO_AHEAD = b"\x1b[p\r"
DISCONNECT = b"\x1b\x04\r"

# Bytes put in front of every answer with --garbage.  They hold no letters of
# any result word and no flow-control characters (XON/XOFF), so they cannot
# stall a port that uses software flow control.
GARBAGE = b"\x00\xff\x00~\x7f\x80\x00"

# Line noise sent after a --noise dial: no upper-case letters (so no result
# word can form), no CR, no XON/XOFF.
NOISE = bytes(b for b in range(0x20, 0x7F) if not (0x41 <= b <= 0x5A)) + b"\x00\x80\xff"

# Numeric result codes (ATV0) of the verbose result texts.
RESULT_CODES = {
    "OK": "0",
    "CONNECT": "1",
    "RING": "2",
    "NO CARRIER": "3",
    "ERROR": "4",
    "CONNECT 1200": "5",
    "NO DIALTONE": "6",
    "BUSY": "7",
    "NO ANSWER": "8",
    "CONNECT 2400": "10",
    "CONNECT 4800": "11",
    "CONNECT 9600": "12",
}

# Single-letter commands with the accepted range of their numeric argument.
BASIC_COMMANDS = {
    "B": (0, 1), "E": (0, 1), "H": (0, 1), "I": (0, 9), "L": (0, 3),
    "M": (0, 3), "O": (0, 1), "Q": (0, 1), "V": (0, 1), "X": (0, 4),
    "Z": (0, 1), "P": (0, 0), "T": (0, 0),
}
AMPERSAND_COMMANDS = {
    "C": (0, 1), "D": (0, 3), "F": (0, 0), "K": (0, 6), "Q": (0, 6),
    "S": (0, 1), "W": (0, 1),
}
BACKSLASH_COMMANDS = {"N": (0, 7), "Q": (0, 3)}

# S registers that read back a Hayes default before they are set.
DEFAULT_REGISTERS = {0: 0, 2: 43, 3: 13, 4: 10, 5: 8, 6: 2, 7: 50, 8: 2, 10: 14, 12: 50}


def tap_checksum(block):
    """Checksum of a paging block: the sum of the bytes from STX through ETX,
    low 12 bits, as three characters (each 4-bit value + 0x30, most
    significant first)."""
    total = sum(block) & 0xFFF
    return bytes(0x30 + ((total >> shift) & 0xF) for shift in (8, 4, 0))


def as_text(data):
    """Bytes to a JSON-safe text, one character per byte."""
    return bytes(data).decode("latin-1")


def dial_digits(text):
    """The dialling characters of a number: digits, '*' and '#'."""
    return "".join(c for c in text if c.isdigit() or c in "*#")


class DialRule:
    """A dialled number that gets a fixed result, for all dials or a count."""

    def __init__(self, rule_text, result):
        number, sep, count = rule_text.partition(":")
        self.number = dial_digits(number)
        if not self.number:
            raise ValueError("no digits in number %r" % rule_text)
        self.remaining = int(count) if sep else None
        if self.remaining is not None and self.remaining < 0:
            raise ValueError("negative count in %r" % rule_text)
        self.result = result

    def matches(self, digits, numeric):
        if self.remaining == 0:
            return False
        if numeric:
            return digits.startswith(self.number)
        return digits == self.number

    def use(self):
        if self.remaining is not None:
            self.remaining -= 1


class CommandError(Exception):
    pass


def parse_command_line(body):
    """Split the text after "AT" into (name, argument) pairs.

    Spaces between commands are ignored.  A dial command takes the rest of
    the line and is returned as ("D", dial string).  Raises CommandError for
    anything this modem does not know.
    """
    items = []
    i = 0
    n = len(body)

    def number(pos):
        start = pos
        while pos < n and body[pos].isdigit():
            pos += 1
        return (int(body[start:pos]) if pos > start else 0), pos

    while i < n:
        c = body[i].upper()
        if c == " ":
            i += 1
            continue
        if c == "D":
            items.append(("D", body[i + 1:]))
            return items
        if c == "S":
            reg, j = number(i + 1)
            if j == i + 1 or reg > 255:
                raise CommandError("bad register")
            while j < n and body[j] == " ":
                j += 1
            if j < n and body[j] == "=":
                j += 1
                while j < n and body[j] == " ":
                    j += 1
                value, k = number(j)
                if value > 255:
                    raise CommandError("bad register value")
                items.append(("S=", (reg, value)))
                i = k
            elif j < n and body[j] == "?":
                items.append(("S?", reg))
                i = j + 1
            else:
                raise CommandError("bad register command")
            continue
        if c in ("&", "\\"):
            table = AMPERSAND_COMMANDS if c == "&" else BACKSLASH_COMMANDS
            if i + 1 >= n:
                raise CommandError("incomplete command")
            letter = body[i + 1].upper()
            if letter not in table:
                raise CommandError("unknown command")
            value, j = number(i + 2)
            low, high = table[letter]
            if not low <= value <= high:
                raise CommandError("argument out of range")
            items.append((c + letter, value))
            i = j
            continue
        if c in BASIC_COMMANDS:
            value, j = number(i + 1)
            low, high = BASIC_COMMANDS[c]
            if not low <= value <= high:
                raise CommandError("argument out of range")
            items.append((c, value))
            i = j
            continue
        raise CommandError("unknown command")
    return items


class Simulator:
    def __init__(self, opts):
        self.o = opts
        self.t0 = time.monotonic()
        self.master = -1
        self.device = None
        # --tcp: the listening socket and the connection of the call.
        self.listener = None
        self.conn = None
        self.port_open = False
        self.out = bytearray()
        self.events = []
        self.seq = itertools.count()
        self.stop = False
        self.log_file = None
        # The device has gone away (--hangup-mid-frame, "hangup"): the master
        # side is closed and nothing is read or sent any more.
        self.gone = False

        self.rules = []
        for numbers, text in ((opts.busy, "BUSY"),
                              (opts.no_dialtone, "NO DIALTONE"),
                              (opts.no_carrier, "NO CARRIER"),
                              (opts.no_answer, "NO ANSWER"),
                              (opts.dial_error, "ERROR"),
                              (opts.noise, NOISE_RESULT)):
            for rule_text in numbers or []:
                self.rules.append(DialRule(rule_text, text))
        self.numeric_numbers = [dial_digits(n) for n in opts.numeric_number or []]

        silent = opts.silent_after
        self.silent_stage = None
        self.silent_blocks_answered = 0
        if silent:
            stage, sep, count = silent.partition(":")
            self.silent_stage = stage
            if sep:
                self.silent_blocks_answered = int(count)

        self.block_script = [a.strip().lower() for a in opts.block_answers.split(",")
                             if a.strip()] if opts.block_answers else []

        self.reset_settings()
        self.cmd_buf = bytearray()
        self.mode = "command"
        self.call = None
        self.dial_pending = None
        self.last_rx = time.monotonic()
        self.plus_count = 0
        self.escape_pending = False

        self.term_state = None
        self.term_buf = bytearray()
        self.term_crs = 0
        self.checksum_buf = bytearray()
        self.blocks_total = 0
        self.good_blocks_nakked = 0

        self.summary = {
            "device": None,
            "link": opts.link,
            "port_opens": 0,
            "port_closes": 0,
            "bytes_received": 0,
            "bytes_sent": 0,
            "commands": [],
            "dials": [],
            "numeric_pages": [],
            "calls": [],
            "logons": [],
            "blocks": [],
            "logoffs": [],
            "escapes": 0,
            "drops": 0,
            "hangups": [],
            "noise_bytes": 0,
            "ignored_lines": [],
        }

    # ----------------------------------------------------------- bookkeeping

    def now(self):
        return round(time.monotonic() - self.t0, 4)

    def log(self, entry):
        if self.log_file is None:
            return
        record = {"t": self.now()}
        record.update(entry)
        self.log_file.write(json.dumps(record) + "\n")
        self.log_file.flush()

    def write_summary(self):
        if not self.o.summary:
            return
        tmp = self.o.summary + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump(self.summary, f, indent=1)
            f.write("\n")
        os.replace(tmp, self.o.summary)

    def changed(self):
        """Something the summary shows has changed."""
        self.write_summary()

    def verbose(self, text):
        if self.o.verbose:
            sys.stderr.write("modemsim: %s\n" % text)
            sys.stderr.flush()

    # ------------------------------------------------------------- scheduler

    def schedule(self, delay, fn, tag):
        heapq.heappush(self.events, (time.monotonic() + delay, next(self.seq), tag, fn))

    def cancel(self, *tags):
        self.events = [e for e in self.events if e[2] not in tags]
        heapq.heapify(self.events)

    def run_due(self):
        while self.events and self.events[0][0] <= time.monotonic():
            _, _, _, fn = heapq.heappop(self.events)
            fn()

    # ---------------------------------------------------------------- output

    def send(self, data):
        if not data:
            return
        if not self.port_open:
            self.log({"dir": "tx-dropped", "data": as_text(data)})
            return
        self.out += data
        self.flush_out()

    def flush_out(self):
        while self.out and self.port_open and not self.gone:
            try:
                n = os.write(self.master, self.out)
            except BlockingIOError:
                return
            except OSError as e:
                if e.errno in CONNECTION_GONE:
                    self.port_closed()
                    return
                raise
            self.log({"dir": "tx", "data": as_text(self.out[:n])})
            self.summary["bytes_sent"] += n
            del self.out[:n]

    def answer(self, stage, data):
        """Send an answer of the given stage, with the junk and garbage that
        the options put in front of it."""
        prefix = b""
        if self.o.long_reply and self.o.long_reply_stage == stage:
            prefix += bytes(0x61 + i % 26 for i in range(self.o.long_reply))
        if self.o.garbage:
            prefix += GARBAGE
        self.send(prefix + data)

    def result_bytes(self, text):
        if self.quiet:
            return b""
        if self.verbose_results:
            return b"\r\n" + text.encode("latin-1") + b"\r\n"
        code = RESULT_CODES.get(text)
        if code is None:
            code = "1" if text.startswith("CONNECT") else "4"
        return code.encode("ascii") + b"\r"

    def modem_result(self, text, stage="command"):
        data = self.result_bytes(text)
        if data:
            self.answer(stage, data)

    # ------------------------------------------------------------ port state

    def check_port(self):
        """Poll the master for the slave being open (no hang-up condition),
        or with --tcp accept a connection: the terminal answers at once."""
        if self.o.tcp:
            self.accept_call()
            return
        p = select.poll()
        p.register(self.master, select.POLLIN)
        events = p.poll(0)
        hung_up = any(ev & select.POLLHUP for _, ev in events)
        if not hung_up and not self.port_open:
            self.port_open = True
            self.summary["port_opens"] += 1
            self.log({"event": "port-open"})
            self.verbose("port opened")
            self.changed()

    def accept_call(self):
        try:
            conn, peer = self.listener.accept()
        except (BlockingIOError, InterruptedError):
            return
        conn.setblocking(False)
        self.conn = conn
        self.master = conn.fileno()
        self.port_open = True
        self.summary["port_opens"] += 1
        self.log({"event": "port-open", "peer": "%s:%d" % peer[:2]})
        self.verbose("connection from %s:%d" % peer[:2])
        self.start_call({"number": "tcp"})
        self.changed()

    def close_conn(self, abort=False):
        """Ends the --tcp connection; with abort the peer gets a reset."""
        if self.conn is None:
            return
        if abort:
            self.conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.conn.close()
        self.conn = None
        self.master = -1
        self.port_open = False

    def tcp_hang_up(self):
        """The terminal hangs up a --tcp call: what it still has to say goes
        out, then the connection closes."""
        if self.conn is None:
            return
        try:
            self.conn.settimeout(2)
            self.conn.sendall(self.out)
            if self.out:
                self.log({"dir": "tx", "data": as_text(self.out)})
                self.summary["bytes_sent"] += len(self.out)
        except OSError:
            self.log({"dir": "tx-dropped", "data": as_text(self.out)})
        self.out.clear()
        self.log({"event": "hung-up"})
        self.close_conn()

    def port_closed(self):
        """The program closed the serial port: like a DTR drop with &D2, the
        modem hangs up and returns to command mode.  With --tcp: the program
        closed the connection."""
        if not self.port_open:
            return
        self.port_open = False
        if self.out:
            self.log({"dir": "tx-dropped", "data": as_text(self.out)})
            self.out.clear()
        self.summary["port_closes"] += 1
        self.log({"event": "port-closed"})
        self.verbose("port closed")
        self.cancel("dial", "escape", "terminal")
        self.set_dial_result("")
        if self.call is not None:
            self.end_call("port-closed", notify=False)
        self.mode = "command"
        self.cmd_buf.clear()
        self.plus_count = 0
        self.escape_pending = False
        self.close_conn()
        self.changed()

    # ---------------------------------------------------------------- input

    def receive(self, data):
        now = time.monotonic()
        gap = now - self.last_rx
        self.last_rx = now
        self.log({"dir": "rx", "data": as_text(data)})
        self.summary["bytes_received"] += len(data)
        if self.o.seven_bit:
            # A 7-bit line (7 data bits and parity): the eighth bit never
            # reaches the modem or the terminal.
            data = bytes(b & 0x7F for b in data)
        for b in data:
            if self.gone or not self.port_open:
                return
            if self.o.tcp:
                # No modem: every byte goes to the terminal.
                if self.call is not None:
                    self.terminal_byte(b)
            elif self.mode == "online":
                self.online_byte(b, gap)
            else:
                self.command_byte(b)
            gap = 0.0

    # ------------------------------------------------------------ modem part

    def reset_settings(self):
        self.echo = self.o.echo
        self.verbose_results = True
        self.quiet = False
        self.dial_method = "tone"
        self.registers = dict(DEFAULT_REGISTERS)
        self.guard_register_set = False

    def guard_time(self):
        # The option stands in for S12 until a command sets the register.
        if self.guard_register_set:
            return self.registers[12] / 50.0
        return self.o.guard_time

    def command_byte(self, b):
        if self.dial_pending is not None:
            # Any character aborts a dial in progress.
            self.cancel("dial")
            if self.silent_stage == "dial":
                self.set_dial_result("")
            else:
                self.set_dial_result("NO CARRIER")
                self.modem_result("NO CARRIER", "dial")
            self.changed()
            return
        if self.echo and self.silent_stage != "command":
            self.send(bytes([b]))
        if b == CR:
            line = bytes(self.cmd_buf)
            self.cmd_buf.clear()
            self.command_line(line)
        elif b == BS:
            if self.cmd_buf:
                self.cmd_buf.pop()
        elif b == LF:
            pass
        else:
            self.cmd_buf.append(b)
            if len(self.cmd_buf) > 1024:
                del self.cmd_buf[:-1024]

    def command_line(self, line):
        text = as_text(line)
        # Leading control characters, spaces and '+' (a "+++" sent while
        # already in command mode) are not part of the command.
        stripped = text.lstrip("".join(chr(c) for c in range(0x20)) + "\x7f +")
        if stripped[:2] not in ("AT", "at", "At", "aT"):
            if text:
                ignored = self.summary["ignored_lines"]
                if len(ignored) < 200:
                    ignored.append({"t": self.now(), "line": text})
                    self.changed()
            return
        record = {"t": self.now(), "line": stripped, "result": None}
        self.summary["commands"].append(record)
        if self.silent_stage == "command":
            record["result"] = ""
            self.changed()
            return
        self.run_command(stripped[2:], record)
        self.changed()

    def run_command(self, body, record):
        try:
            items = parse_command_line(body)
        except CommandError:
            record["result"] = "ERROR"
            self.modem_result("ERROR")
            return
        info = []
        final = "OK"
        dial = None
        for name, arg in items:
            if name == "E":
                self.echo = bool(arg)
            elif name == "V":
                self.verbose_results = bool(arg)
            elif name == "Q":
                self.quiet = bool(arg)
            elif name in ("T", "P"):
                self.dial_method = "tone" if name == "T" else "pulse"
            elif name == "Z":
                self.reset_settings()
                if self.call is not None:
                    self.end_call("hangup", notify=False)
            elif name == "&F":
                self.reset_settings()
            elif name == "H":
                if arg == 0 and self.call is not None:
                    self.end_call("hangup", notify=False)
            elif name == "I":
                info.append("MODEMSIM")
            elif name == "O":
                final = "O"
            elif name == "S=":
                reg, value = arg
                self.registers[reg] = value
                if reg == 12:
                    self.guard_register_set = True
            elif name == "S?":
                info.append("%03d" % self.registers.get(arg, 0))
            elif name == "D":
                dial = arg
            # Everything else (speaker, volume, result set, flow control,
            # DCD/DTR handling, ...) is accepted and has no effect here.
        if dial is not None:
            result = self.start_dial(dial, record)
            if result is None:
                return  # the result comes later
            final = result
        if final == "O":
            if self.call is not None:
                final = self.o.connect_text
            else:
                final = "NO CARRIER"
        record["result"] = final
        data = b""
        for line in info:
            data += b"\r\n" + line.encode("latin-1") + b"\r\n"
        data += self.result_bytes(final)
        if data:
            self.answer("command", data)
        if final == self.o.connect_text and self.call is not None:
            self.mode = "online"
            self.log({"event": "online"})

    def start_dial(self, dial, record):
        """Start a dial; returns an immediate result text or None when the
        result follows after the dial delay."""
        s = dial.strip()
        method = self.dial_method
        if s[:1].upper() in ("T", "P"):
            method = "tone" if s[:1].upper() == "T" else "pulse"
            s = s[1:].strip()
        if self.call is not None:
            return "ERROR"
        semicolon = s.endswith(";")
        number = s[:-1].rstrip() if semicolon else s
        if not dial_digits(number):
            return "ERROR"
        digits = dial_digits(number)
        numeric = (semicolon or number.endswith("#")
                   or any(digits.startswith(n) for n in self.numeric_numbers))
        entry = {
            "t": self.now(),
            "dial_string": s,
            "method": method,
            "number": number,
            "numeric": numeric,
            "result": None,
        }
        page = None
        if numeric:
            page = self.split_numeric(number)
            entry["number"] = page["number"]
            page["t"] = entry["t"]
            page["dial_string"] = s
            page["method"] = method
            page["result"] = None
            self.summary["numeric_pages"].append(page)
        self.summary["dials"].append(entry)

        result = None
        for rule in self.rules:
            if rule.matches(digits, numeric):
                rule.use()
                result = rule.result
                break
        if result is None:
            result = self.o.numeric_reply if numeric else self.o.connect_text

        self.dial_pending = (entry, record, page)
        if result == NOISE_RESULT:
            # No result word ever comes, only noise, until a keystroke ends
            # the dial (NO CARRIER) or the port closes.
            entry["noise"] = True
            self.schedule(self.o.dial_delay, self.noise_burst, "dial")
            return None
        if self.silent_stage == "dial":
            for item in (entry, record, page):
                if item is not None:
                    item["result"] = ""
            return None

        def finish():
            self.set_dial_result(result)
            if result:
                self.modem_result(result, "dial")
            if not numeric and result == self.o.connect_text:
                self.start_call(entry)
            self.changed()

        self.schedule(self.o.dial_delay, finish, "dial")
        return None

    def noise_burst(self):
        if self.dial_pending is None or not self.port_open or self.gone:
            return
        self.summary["noise_bytes"] += 256
        self.send((NOISE * (256 // len(NOISE) + 1))[:256])
        self.schedule(0.01, self.noise_burst, "dial")

    def hang_up_device(self, stage):
        """The device goes away: the master side is closed, so the program's
        port sees a hang-up (as when a USB modem is pulled out)."""
        if self.gone:
            return
        entry = {"t": self.now(), "stage": stage}
        if stage == "block":
            entry["block"] = self.blocks_total + 1
        self.summary["hangups"].append(entry)
        self.log({"event": "hangup", "stage": stage})
        self.verbose("device hung up (%s)" % stage)
        self.cancel("dial", "escape", "terminal")
        self.set_dial_result("")
        if self.call is not None:
            self.end_call("device-hangup", notify=False)
        if self.o.tcp:
            # The connection breaks off; the next one is a new call.
            self.out.clear()
            self.close_conn(abort=True)
            self.changed()
            return
        self.gone = True
        self.port_open = False
        self.out.clear()
        os.close(self.master)
        self.master = -1
        self.changed()

    def set_dial_result(self, result):
        """Give the pending dial its result and end it."""
        if self.dial_pending is None:
            return
        for item in self.dial_pending:
            if item is not None:
                item["result"] = result
        self.dial_pending = None

    def split_numeric(self, number):
        """Telephone number, pause commas and keyed digits of a numeric page."""
        digits_only = dial_digits(number)
        for prefix in self.numeric_numbers:
            if digits_only.startswith(prefix) and "," not in number:
                return {"number": prefix, "pauses": 0,
                        "digits": digits_only[len(prefix):]}
        head, sep, rest = number.partition(",")
        if not sep:
            return {"number": number, "pauses": 0, "digits": ""}
        pauses = 1
        while rest.startswith(","):
            pauses += 1
            rest = rest[1:]
        return {"number": head, "pauses": pauses, "digits": rest}

    # ------------------------------------------------------------------ calls

    def start_call(self, dial_entry):
        self.call = {
            "call": len(self.summary["calls"]) + 1,
            "number": dial_entry["number"],
            "t_connect": self.now(),
            "t_end": None,
            "end": None,
            "crs": 0,
            "id_prompts": 0,
        }
        self.summary["calls"].append(self.call)
        self.mode = "online"
        self.log({"event": "online", "call": self.call["call"]})
        self.term_state = "await_id"
        self.term_buf.clear()
        self.term_crs = 0
        self.plus_count = 0
        self.escape_pending = False
        if self.o.cr_before_id == 0:
            self.schedule(self.o.id_delay, self.send_id, "terminal")

    def end_call(self, reason, notify):
        self.cancel("terminal", "escape")
        call = self.call
        if call is not None:
            call["end"] = reason
            call["t_end"] = self.now()
            self.log({"event": "call-end", "call": call["call"], "reason": reason})
        self.call = None
        self.term_state = None
        self.mode = "command"
        self.cmd_buf.clear()
        self.plus_count = 0
        self.escape_pending = False
        if notify:
            if self.o.tcp:
                self.tcp_hang_up()
            else:
                self.modem_result("NO CARRIER", "none")
        self.changed()

    def line_drop(self):
        """Carrier lost: the line drops in the middle of whatever happens."""
        if self.dial_pending is not None:
            self.cancel("dial")
            self.set_dial_result("NO CARRIER")
            self.modem_result("NO CARRIER", "none")
            self.changed()
        elif self.call is not None:
            self.summary["drops"] += 1
            self.end_call("drop", notify=True)

    def online_byte(self, b, gap):
        guard = self.guard_time()
        if self.escape_pending:
            # Data within the guard time after "+++": not an escape.
            self.cancel("escape")
            self.escape_pending = False
            self.plus_count = 0
        if b == PLUS:
            if self.plus_count == 0:
                if gap >= guard:
                    self.plus_count = 1
            elif gap < guard:
                self.plus_count += 1
            else:
                self.plus_count = 0
            if self.plus_count == 3:
                self.plus_count = 0
                self.escape_pending = True
                self.schedule(guard, self.escape, "escape")
        else:
            self.plus_count = 0
        self.terminal_byte(b)

    def escape(self):
        self.escape_pending = False
        self.mode = "command"
        self.cmd_buf.clear()
        self.summary["escapes"] += 1
        self.log({"event": "escape"})
        self.modem_result("OK", "command")
        self.changed()

    # -------------------------------------------------------- paging terminal

    def terminal_send(self, stage, data):
        # The terminal's data reaches the program only while the modem is
        # online (not in command mode after an escape).
        if self.mode == "online" and self.call is not None:
            self.answer(stage, data)

    def send_id(self):
        self.cancel("terminal")
        if self.call is None or self.silent_stage == "id":
            return
        self.call["id_prompts"] += 1
        self.term_state = "await_logon"
        self.term_buf.clear()
        self.terminal_send("id", self.o.id_prompt.encode("latin-1"))
        self.changed()

    def terminal_byte(self, b):
        st = self.term_state
        if st == "await_id":
            if b == CR:
                self.call["crs"] += 1
                self.term_crs += 1
                if self.term_crs >= self.o.cr_before_id:
                    self.send_id()
                else:
                    self.changed()
        elif st == "await_logon":
            if b == CR:
                line = bytes(self.term_buf)
                self.term_buf.clear()
                self.logon_line(line)
            else:
                self.term_buf.append(b)
                if len(self.term_buf) > 512:
                    del self.term_buf[:-512]
        elif st == "ready":
            if b == STX:
                self.term_buf = bytearray([STX])
                self.term_state = "block"
            elif b == EOT:
                self.term_state = "eot"
        elif st == "block":
            if b == STX:
                self.term_buf = bytearray([STX])
                return
            self.term_buf.append(b)
            if (b == CR and self.term_buf.count(CR) == 1
                    and self.o.hangup_mid_frame == self.blocks_total + 1):
                # The pager ID has arrived, the text is on its way.
                self.hang_up_device("block")
                return
            if b == ETX:
                self.checksum_buf = bytearray()
                self.term_state = "checksum"
            elif len(self.term_buf) > 4096:
                self.block_done(terminated=False)
        elif st == "checksum":
            if len(self.checksum_buf) < 3:
                self.checksum_buf.append(b)
                return
            if b == CR:
                self.block_done(terminated=True)
            else:
                self.block_done(terminated=False)
                if self.term_state == "ready":
                    self.terminal_byte(b)
        elif st == "eot":
            if b == CR:
                self.logoff()
            else:
                self.term_state = "ready"
                self.terminal_byte(b)

    def logon_line(self, line):
        esc = line.rfind(bytes([ESC]))
        if esc < 0:
            # A CR (or anything without an ESC sequence) asks for the prompt.
            self.call["crs"] += 1
            self.send_id()
            return
        sequence = line[esc + 1:]
        entry = {
            "call": self.call["call"],
            "t": self.now(),
            "sequence": as_text(sequence[:3]),
            "password": as_text(sequence[3:]),
            "accepted": False,
            "answered": True,
        }
        self.summary["logons"].append(entry)
        if self.silent_stage == "logon":
            entry["answered"] = False
            self.term_state = "silent"
            self.changed()
            return
        accepted = (sequence[:3] == b"PG1"
                    and (self.o.password is None or entry["password"] == self.o.password))
        banner = self.o.banner.encode("latin-1") if self.o.banner else b""
        if accepted:
            entry["accepted"] = True
            self.term_state = "ready"
            self.terminal_send("logon", banner + LOGON_ACCEPT + GO_AHEAD)
            if self.o.drop_after_blocks == 0 and self.blocks_total == 0:
                self.line_drop()
        else:
            self.terminal_send("logon", banner + LOGON_REJECT)
        self.changed()

    def block_done(self, terminated):
        block = bytes(self.term_buf)
        received = bytes(self.checksum_buf) if terminated else b""
        self.term_buf = bytearray()
        self.checksum_buf = bytearray()
        self.term_state = "ready"
        self.blocks_total += 1
        expected = tap_checksum(block) if block.endswith(bytes([ETX])) else b""
        ok = terminated and received == expected

        body = block[1:-1] if block.endswith(bytes([ETX])) else block[1:]
        pager_id, sep, rest = body.partition(b"\r")
        well_formed = terminated and bool(sep) and rest.endswith(b"\r")
        message = rest[:-1] if rest.endswith(b"\r") else rest

        seq = self.blocks_total
        if (self.silent_stage == "block"
                and seq > self.silent_blocks_answered):
            answer = "none"
        elif seq <= len(self.block_script):
            answer = self.block_script[seq - 1]
        elif not (ok and well_formed):
            answer = "nak"
        elif self.good_blocks_nakked < self.o.bad_checksum_answers:
            self.good_blocks_nakked += 1
            answer = "nak"
        else:
            answer = "ack"

        self.summary["blocks"].append({
            "call": self.call["call"],
            "seq": seq,
            "t": self.now(),
            "pager_id": as_text(pager_id),
            "message": as_text(message),
            "checksum": as_text(received),
            "expected_checksum": as_text(expected),
            "checksum_ok": ok,
            "well_formed": well_formed,
            "printable": all(0x20 <= c <= 0x7E for c in pager_id + message),
            "frame_length": len(block) + len(received) + (1 if terminated else 0),
            "frame": as_text(block + received + (b"\r" if terminated else b"")),
            "answer": answer,
        })
        if answer != "none":
            data = BLOCK_ANSWERS[answer]
            if self.o.block_text:
                data = self.o.block_text.encode("latin-1") + b"\r" + data
            self.terminal_send("block", data)
        if answer == "eot":
            self.end_call("terminal-disconnect", notify=True)
        elif (self.o.drop_after_blocks is not None
              and seq == self.o.drop_after_blocks and self.call is not None):
            self.line_drop()
        self.changed()

    def logoff(self):
        entry = {"call": self.call["call"], "t": self.now(), "answered": True}
        self.summary["logoffs"].append(entry)
        if self.silent_stage == "logoff":
            entry["answered"] = False
            self.term_state = "silent"
            self.changed()
            return
        data = DISCONNECT
        if self.o.logoff_text:
            data = self.o.logoff_text.encode("latin-1") + b"\r" + data
        self.terminal_send("logoff", data)
        self.end_call("logoff", notify=True)

    # ---------------------------------------------------------- control input

    def control_line(self, line):
        word = line.strip().lower()
        if word == "summary":
            self.write_summary()
            try:
                sys.stdout.write(json.dumps({"summary": self.summary}) + "\n")
                sys.stdout.flush()
            except OSError:
                self.verbose("stdout is gone; summary not printed")
        elif word == "drop":
            self.line_drop()
        elif word == "hangup":
            self.hang_up_device("request")
        elif word == "quit":
            self.stop = True
        elif word:
            self.verbose("unknown control command %r" % word)

    # -------------------------------------------------------------- main loop

    def open_listener(self):
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", self.o.port))
        listener.listen(4)
        listener.setblocking(False)
        self.listener = listener
        self.device = "127.0.0.1:%d" % listener.getsockname()[1]
        self.summary["device"] = self.device
        return listener.getsockname()[1]

    def open_pty(self):
        master, slave = pty.openpty()
        tty.setraw(slave)
        self.device = os.ttyname(slave)
        # Only the program under test holds the slave open, so that its
        # closing the port shows on the master as a hang-up.
        os.close(slave)
        os.set_blocking(master, False)
        self.master = master
        self.summary["device"] = self.device
        if self.o.link:
            if os.path.islink(self.o.link):
                os.unlink(self.o.link)
            os.symlink(self.device, self.o.link)

    def read_port(self):
        while self.port_open:
            try:
                data = os.read(self.master, 4096)
            except BlockingIOError:
                return
            except OSError as e:
                if e.errno in CONNECTION_GONE:
                    self.port_closed()
                    return
                raise
            if not data:
                self.port_closed()
                return
            self.receive(data)

    def run(self):
        wake_r, wake_w = os.pipe()
        os.set_blocking(wake_r, False)
        os.set_blocking(wake_w, False)
        pending_signals = []

        def on_signal(signum, frame):
            pending_signals.append(signum)

        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGUSR1):
            signal.signal(sig, on_signal)
        signal.set_wakeup_fd(wake_w)

        deadline = (time.monotonic() + self.o.max_runtime) if self.o.max_runtime else None
        watch_stdin = not self.o.no_stdin
        stdin_buf = b""
        self.write_summary()
        while not self.stop:
            if not self.port_open and not self.gone:
                self.check_port()
            rlist = [wake_r]
            if watch_stdin:
                rlist.append(sys.stdin.fileno())
            if self.port_open:
                rlist.append(self.master)
            elif self.listener is not None:
                rlist.append(self.listener.fileno())
            wlist = [self.master] if (self.port_open and self.out) else []
            timeout = None
            if self.events:
                timeout = max(0.0, self.events[0][0] - time.monotonic())
            if not self.port_open and not self.gone and self.listener is None:
                timeout = 0.02 if timeout is None else min(timeout, 0.02)
            if deadline is not None:
                left = max(0.0, deadline - time.monotonic())
                timeout = left if timeout is None else min(timeout, left)
            readable, writable, _ = select.select(rlist, wlist, [], timeout)

            if wake_r in readable:
                try:
                    os.read(wake_r, 256)
                except BlockingIOError:
                    pass
            while pending_signals:
                signum = pending_signals.pop(0)
                if signum == signal.SIGUSR1:
                    self.write_summary()
                else:
                    self.stop = True
            if self.stop:
                break

            if self.port_open and self.master in readable:
                self.read_port()
            if watch_stdin and sys.stdin.fileno() in readable:
                chunk = os.read(sys.stdin.fileno(), 4096)
                if not chunk:
                    self.verbose("stdin closed")
                    break
                stdin_buf += chunk
                while b"\n" in stdin_buf:
                    line, stdin_buf = stdin_buf.split(b"\n", 1)
                    self.control_line(line.decode("utf-8", "replace"))

            if writable:
                self.flush_out()
            self.run_due()
            if deadline is not None and time.monotonic() >= deadline:
                self.verbose("maximum run time reached")
                break
        signal.set_wakeup_fd(-1)
        os.close(wake_r)
        os.close(wake_w)

    def close(self):
        # What the program sent (or its closing the port) just before the
        # end still counts.
        if self.master >= 0 and self.port_open:
            self.read_port()
        self.write_summary()
        if self.log_file is not None:
            self.log_file.close()
            self.log_file = None
        if self.o.link and os.path.islink(self.o.link):
            try:
                if os.readlink(self.o.link) == self.device:
                    os.unlink(self.o.link)
            except OSError:
                pass
        if self.conn is not None:
            self.close_conn()
        elif self.master >= 0:
            os.close(self.master)
            self.master = -1
        if self.listener is not None:
            self.listener.close()
            self.listener = None


def build_parser():
    p = argparse.ArgumentParser(
        description="Hayes modem and alphanumeric paging terminal simulator on a pseudo-terminal.")
    g = p.add_argument_group("process")
    g.add_argument("--tcp", action="store_true",
                   help="no modem: listen on 127.0.0.1, announce \"PORT <n>\" on stdout, and "
                        "answer every connection as the paging terminal")
    g.add_argument("--port", type=int, default=0,
                   help="with --tcp: the port to listen on (default: a free one)")
    g.add_argument("--link", metavar="PATH",
                   help="create a symbolic link PATH to the slave device (removed at exit)")
    g.add_argument("--log", metavar="PATH", help="record every byte and event as JSON lines")
    g.add_argument("--summary", metavar="PATH",
                   help="keep the summary JSON in PATH (rewritten after every event and at exit)")
    g.add_argument("--no-stdin", action="store_true",
                   help="do not watch stdin (by default the simulator exits when stdin closes)")
    g.add_argument("--max-runtime", type=float, metavar="S",
                   help="exit after S seconds whatever happens")
    g.add_argument("--verbose", action="store_true", help="trace to stderr")

    g = p.add_argument_group("modem")
    g.add_argument("--echo", action="store_true",
                   help="echo command-mode input at start and after ATZ/AT&F (ATE0/ATE1 change it)")
    g.add_argument("--dial-delay", type=float, default=0.2, metavar="S",
                   help="seconds from a dial command to its result (default 0.2)")
    g.add_argument("--connect-text", default="CONNECT 1200",
                   help='result text of a successful dial (default "CONNECT 1200")')
    g.add_argument("--busy", action="append", metavar="NUMBER[:COUNT]",
                   help="dialling NUMBER answers BUSY (for the first COUNT dials only when given)")
    g.add_argument("--no-dialtone", action="append", metavar="NUMBER[:COUNT]",
                   help="dialling NUMBER answers NO DIALTONE")
    g.add_argument("--no-carrier", action="append", metavar="NUMBER[:COUNT]",
                   help="dialling NUMBER answers NO CARRIER")
    g.add_argument("--no-answer", action="append", metavar="NUMBER[:COUNT]",
                   help="dialling NUMBER answers NO ANSWER")
    g.add_argument("--dial-error", action="append", metavar="NUMBER[:COUNT]",
                   help="dialling NUMBER answers ERROR")
    g.add_argument("--noise", action="append", metavar="NUMBER[:COUNT]",
                   help="dialling NUMBER gives endless line noise and no result")
    g.add_argument("--numeric-number", action="append", metavar="NUMBER",
                   help="dials starting with NUMBER are numeric pages even without '#' or ';'")
    g.add_argument("--numeric-reply", default="OK",
                   help='result text of a numeric page (default "OK"; "" for no answer)')
    g.add_argument("--guard-time", type=float, default=0.5, metavar="S",
                   help="escape guard time in seconds (default 0.5; ATS12=n sets n/50 s)")

    g = p.add_argument_group("paging terminal")
    g.add_argument("--cr-before-id", type=int, default=1, metavar="N",
                   help="CRs the terminal waits for before sending the ID= prompt "
                        "(default 1; 0 sends it unprompted after --id-delay)")
    g.add_argument("--id-delay", type=float, default=1.0, metavar="S",
                   help="with --cr-before-id 0: seconds from CONNECT to the prompt (default 1.0)")
    g.add_argument("--id-prompt", default="ID=", help='the logon prompt (default "ID=")')
    g.add_argument("--password", default=None,
                   help="password the terminal requires after ESC PG1 (default: accept any)")
    g.add_argument("--banner", default="",
                   help="text sent in front of the logon answer (CR ACK CR)")
    g.add_argument("--block-text", default="",
                   help="text + CR sent in front of every block answer")
    g.add_argument("--logoff-text", default="",
                   help="text + CR sent in front of the logoff answer (ESC EOT CR)")

    g = p.add_argument_group("scripted failures")
    g.add_argument("--bad-checksum-answers", type=int, default=0, metavar="N",
                   help="answer NAK to the first N blocks whose checksum is good")
    g.add_argument("--block-answers", metavar="LIST",
                   help="comma list of answers for the first blocks, overriding the checksum "
                        "verdict: ack, nak, rs, eot (disconnect), none")
    g.add_argument("--silent-after", metavar="STAGE",
                   help="stop answering at STAGE: command, dial, id, logon, block[:N] "
                        "(after N answered blocks), logoff")
    g.add_argument("--drop-after-blocks", type=int, metavar="N",
                   help="drop the line (NO CARRIER, command mode) after the Nth block has "
                        "been answered; 0 drops right after the logon go-ahead")
    g.add_argument("--hangup-mid-frame", type=int, metavar="N",
                   help="the device hangs up (the pseudo-terminal's master closes) while the "
                        "Nth block of the run arrives, right after its pager ID")
    g.add_argument("--seven-bit", action="store_true",
                   help="a 7-bit line: the eighth bit of every received byte is lost, so "
                        "the terminal checks the checksum over 7-bit bytes")
    g.add_argument("--garbage", action="store_true",
                   help="put NUL and other non-text bytes in front of every answer")
    g.add_argument("--long-reply", type=int, default=0, metavar="N",
                   help="put N junk characters in front of the answers of --long-reply-stage")
    g.add_argument("--long-reply-stage", default="dial", choices=STAGES,
                   help="stage whose answers get the --long-reply junk (default dial)")
    return p


def check_options(p, o):
    if o.silent_after:
        stage, sep, count = o.silent_after.partition(":")
        if stage not in STAGES:
            p.error("--silent-after: unknown stage %r" % stage)
        if sep and (stage != "block" or not count.isdigit()):
            p.error("--silent-after: only block takes a count (block:N)")
    if o.block_answers:
        for a in o.block_answers.split(","):
            if a.strip() and a.strip().lower() not in BLOCK_ANSWERS:
                p.error("--block-answers: unknown answer %r" % a)
    for name in ("busy", "no_dialtone", "no_carrier", "no_answer", "dial_error", "noise"):
        for rule_text in getattr(o, name) or []:
            try:
                DialRule(rule_text, "")
            except ValueError as e:
                p.error("--%s: %s" % (name.replace("_", "-"), e))
    if o.cr_before_id < 0:
        p.error("--cr-before-id must not be negative")
    if o.hangup_mid_frame is not None and o.hangup_mid_frame < 1:
        p.error("--hangup-mid-frame counts blocks from 1")
    if o.drop_after_blocks is not None and o.drop_after_blocks < 0:
        p.error("--drop-after-blocks must not be negative")
    if o.tcp and o.link:
        p.error("--link names a pseudo-terminal; there is none with --tcp")
    if o.port and not o.tcp:
        p.error("--port needs --tcp")
    if o.link and os.path.lexists(o.link) and not os.path.islink(o.link):
        p.error("--link: %s exists and is not a symbolic link" % o.link)


def main(argv=None):
    p = build_parser()
    o = p.parse_args(argv)
    check_options(p, o)
    sim = Simulator(o)
    if o.log:
        sim.log_file = open(o.log, "w", encoding="utf-8")
    if o.tcp:
        sys.stdout.write("PORT %d\n" % sim.open_listener())
    else:
        sim.open_pty()
        hello = {"device": sim.device}
        if o.link:
            hello["link"] = o.link
        sys.stdout.write(json.dumps(hello) + "\n")
    sys.stdout.flush()
    sim.log({"event": "start", "device": sim.device})
    try:
        sim.run()
    finally:
        sim.log({"event": "exit"})
        sim.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
