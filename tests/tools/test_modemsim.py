"""Self-tests of modemsim.py: drive the simulator through its pseudo-terminal
the way the paging program does and check the bytes it answers and the
summary it records."""

import json
import os
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time
import tty
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SIM = os.path.join(HERE, "modemsim.py")
sys.path.insert(0, HERE)

import modemsim  # noqa: E402

OK = b"\r\nOK\r\n"
ERROR = b"\r\nERROR\r\n"
CONNECT = b"\r\nCONNECT 1200\r\n"
NO_CARRIER = b"\r\nNO CARRIER\r\n"
LOGON_ACCEPT = b"\r\x06\r\x1b[p\r"
ACK = b"\x06\r"
NAK = b"\x15\r"


def frame(pager_id, text, checksum=None):
    """A page block as the program sends it, with a correct checksum unless
    one is given."""
    block = b"\x02" + pager_id + b"\r" + text + b"\r\x03"
    if checksum is None:
        checksum = modemsim.tap_checksum(block)
    return block + checksum + b"\r"


class Sim:
    """One simulator process and the program's side of its serial port."""

    def __init__(self, *args, open_port=True):
        self.dir = tempfile.TemporaryDirectory()
        self.summary_path = os.path.join(self.dir.name, "summary.json")
        self.log_path = os.path.join(self.dir.name, "log.jsonl")
        self.proc = subprocess.Popen(
            [sys.executable, SIM, "--summary", self.summary_path, "--log", self.log_path,
             "--dial-delay", "0.02", "--max-runtime", "30"] + list(args),
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        ready, _, _ = select.select([self.proc.stdout], [], [], 5)
        if not ready:
            self.kill()
            raise AssertionError("simulator did not announce its device")
        self.hello = json.loads(self.proc.stdout.readline())
        self.device = self.hello["device"]
        self.fd = -1
        self.rx = b""
        if open_port:
            self.open_port()

    def open_port(self):
        self.fd = os.open(self.device, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd)
        self.rx = b""

    def close_port(self):
        if self.fd >= 0:
            os.close(self.fd)
            self.fd = -1

    def send(self, data):
        os.write(self.fd, data)

    def _read(self, timeout):
        ready, _, _ = select.select([self.fd], [], [], timeout)
        if ready:
            self.rx += os.read(self.fd, 65536)

    def expect(self, pattern, timeout=2.0):
        """Read until pattern arrives; return everything up to and including
        it (the rest stays buffered)."""
        deadline = time.monotonic() + timeout
        while pattern not in self.rx:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("expected %r, received %r" % (pattern, self.rx))
            self._read(min(left, 0.05))
        end = self.rx.index(pattern) + len(pattern)
        got, self.rx = self.rx[:end], self.rx[end:]
        return got

    def exchange(self, data, pattern, timeout=2.0):
        self.send(data)
        return self.expect(pattern, timeout)

    def quiet(self, duration=0.2):
        """Everything that arrives within duration (and was buffered)."""
        deadline = time.monotonic() + duration
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            self._read(min(left, 0.05))
        got, self.rx = self.rx, b""
        return got

    def control(self, line):
        self.proc.stdin.write(line.encode() + b"\n")
        self.proc.stdin.flush()

    def summary(self):
        with open(self.summary_path, encoding="utf-8") as f:
            return json.load(f)

    def log_entries(self):
        with open(self.log_path, encoding="utf-8") as f:
            return [json.loads(line) for line in f]

    def finish(self):
        """Close the port and stdin, wait for a clean exit, return the summary."""
        self.close_port()
        self.proc.stdin.close()
        code = self.proc.wait(5)
        if code != 0:
            raise AssertionError("simulator exited with %r: %s" % (code, self.proc.stderr.read()))
        return self.summary()

    def kill(self):
        self.close_port()
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(5)
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            stream.close()
        self.dir.cleanup()

    # The program's steps, as the modem routines perform them.

    def init_modem(self):
        got = self.exchange(b"AT\r", OK)
        got += self.exchange(b"AT&F E0 V1 &D2 &C1 &Q0 M0 L2\r", OK)
        return got

    def connect(self, number=b"5551234"):
        self.init_modem()
        return self.exchange(b"ATDT" + number + b"\r", CONNECT)

    def logon(self, password=b""):
        self.connect()
        if self.exchange(b"\r", b"ID=") != b"ID=":
            raise AssertionError("unexpected text before the prompt")
        return self.exchange(b"\x1bPG1" + password + b"\r", b"\x1b[p\r")


class SimTestCase(unittest.TestCase):
    def start(self, *args, **kw):
        sim = Sim(*args, **kw)
        self.addCleanup(sim.kill)
        return sim


class ChecksumTest(unittest.TestCase):
    def test_known_sums(self):
        block = b"\x021234\rHELLO\r\x03"
        self.assertEqual(sum(block), 605)
        self.assertEqual(modemsim.tap_checksum(block), b"25=")
        # 1242 = 0x4DA
        self.assertEqual(modemsim.tap_checksum(bytes([2] + [100] * 12 + [40])), b"4=:")
        # A sum below 256 starts with "0"; only the low 12 bits count.
        self.assertEqual(modemsim.tap_checksum(b"\x02\x03"), b"005")
        self.assertEqual(modemsim.tap_checksum(bytes([2, 3] + [255] * 16 + [15])), b"004")


class ModemCommandTest(SimTestCase):
    def test_init_strings_and_errors(self):
        sim = self.start()
        for line in (b"AT", b"ATZ M0 L2", b"AT&F M1 L1", b"AT&F E0 V1 &D2 &C1 &Q0 M3 L3",
                     b"at&f e0 v1", b"ATX4 S7=60 S0=0 &K0", b"ATH0"):
            self.assertEqual(sim.exchange(line + b"\r", OK), OK, line)
        for line in (b"ATFOO", b"ATM4", b"ATL9", b"AT&Z", b"ATS7", b"ATDT", b"AT+FCLASS=0"):
            self.assertEqual(sim.exchange(line + b"\r", ERROR), ERROR, line)
        self.assertEqual(sim.exchange(b"ATS12?\r", OK), b"\r\n050\r\n" + OK)
        self.assertEqual(sim.exchange(b"ATS7=45\r", OK), OK)
        self.assertEqual(sim.exchange(b"ATS7?\r", OK), b"\r\n045\r\n" + OK)
        # What comes before "AT" on the line (a "+++" sent in command mode)
        # is not part of the command; a line without "AT" gets no answer.
        self.assertEqual(sim.exchange(b"+++ATH0\r", OK), OK)
        sim.send(b"\x04\r" + b"HELLO DATA\r")
        self.assertEqual(sim.quiet(), b"")
        summary = sim.finish()
        commands = [(c["line"], c["result"]) for c in summary["commands"]]
        self.assertEqual(commands[0], ("AT", "OK"))
        self.assertIn(("ATFOO", "ERROR"), commands)
        self.assertEqual(commands[-1], ("ATH0", "OK"))
        self.assertEqual([i["line"] for i in summary["ignored_lines"]], ["\x04", "HELLO DATA"])

    def test_numeric_results_and_quiet(self):
        sim = self.start()
        self.assertEqual(sim.exchange(b"ATV0\r", b"\r"), b"0\r")
        # S12 (in 1/50 s) replaces the 0.5-s guard time of the options.
        self.assertEqual(sim.exchange(b"ATS12=5\r", b"\r"), b"0\r")
        self.assertEqual(sim.exchange(b"ATFOO\r", b"\r"), b"4\r")
        self.assertEqual(sim.exchange(b"ATDT5551234\r", b"\r"), b"5\r")
        time.sleep(0.25)
        sim.send(b"+++")
        self.assertEqual(sim.expect(b"\r", 2), b"0\r")
        sim.send(b"ATH0 V1 Q1\r")
        self.assertEqual(sim.quiet(), b"")
        self.assertEqual(sim.exchange(b"ATZ\r", OK), OK)

    def test_echo(self):
        sim = self.start("--echo")
        self.assertEqual(sim.exchange(b"AT\r", OK), b"AT\r" + OK)
        self.assertEqual(sim.exchange(b"ATE0\r", OK), b"ATE0\r" + OK)
        self.assertEqual(sim.exchange(b"AT\r", OK), OK)
        self.assertEqual(sim.exchange(b"ATZ\r", OK), OK)
        self.assertEqual(sim.exchange(b"AT\r", OK), b"AT\r" + OK)

    def test_no_echo_by_default(self):
        sim = self.start()
        self.assertEqual(sim.exchange(b"AT\r", OK), OK)
        self.assertEqual(sim.exchange(b"ATE1\r", OK), OK)
        self.assertEqual(sim.exchange(b"AT\r", OK), b"AT\r" + OK)


class DialTest(SimTestCase):
    def test_rule_results(self):
        sim = self.start("--busy", "5551111", "--no-dialtone", "5552222",
                         "--no-carrier", "5553333", "--no-answer", "5554444")
        sim.init_modem()
        for number, text in ((b"5551111", b"BUSY"), (b"555-2222", b"NO DIALTONE"),
                             (b"5553333", b"NO CARRIER"), (b"(555) 4444", b"NO ANSWER")):
            reply = b"\r\n" + text + b"\r\n"
            self.assertEqual(sim.exchange(b"ATDT" + number + b"\r", reply), reply)
            self.assertEqual(sim.exchange(b"AT\r", OK), OK)  # still in command mode
        self.assertEqual(sim.exchange(b"ATDP5551112\r", CONNECT), CONNECT)
        summary = sim.finish()
        self.assertEqual([(d["number"], d["method"], d["result"]) for d in summary["dials"]], [
            ("5551111", "tone", "BUSY"), ("555-2222", "tone", "NO DIALTONE"),
            ("5553333", "tone", "NO CARRIER"), ("(555) 4444", "tone", "NO ANSWER"),
            ("5551112", "pulse", "CONNECT 1200")])
        self.assertEqual(len(summary["calls"]), 1)
        self.assertEqual(summary["calls"][0]["number"], "5551112")

    def test_counted_rule_and_connect_text(self):
        sim = self.start("--busy", "5551111:1", "--connect-text", "CONNECT 2400")
        self.assertEqual(sim.exchange(b"ATDT5551111\r", b"\r\nBUSY\r\n"), b"\r\nBUSY\r\n")
        self.assertEqual(sim.exchange(b"ATDT5551111\r", b"CONNECT 2400\r\n"),
                         b"\r\nCONNECT 2400\r\n")

    def test_dial_delay_and_abort(self):
        sim = self.start("--dial-delay", "0.4", "--guard-time", "0.1")
        sim.send(b"ATDT5551234\r")
        self.assertEqual(sim.quiet(0.2), b"")
        self.assertEqual(sim.expect(CONNECT, 1), CONNECT)
        time.sleep(0.25)
        sim.send(b"+++")
        sim.expect(OK, 2)
        sim.exchange(b"ATH0\r", OK)
        # A character sent while the modem dials ends the dial.
        sim.send(b"ATDT5551234\r")
        self.assertEqual(sim.quiet(0.1), b"")
        self.assertEqual(sim.exchange(b"x", NO_CARRIER), NO_CARRIER)
        self.assertEqual(sim.quiet(0.5), b"")
        self.assertEqual(sim.exchange(b"AT\r", OK), OK)
        summary = sim.finish()
        self.assertEqual([d["result"] for d in summary["dials"]], ["CONNECT 1200", "NO CARRIER"])
        self.assertEqual(summary["calls"][0]["end"], "hangup")


class SessionTest(SimTestCase):
    def test_two_page_queue_in_one_logon(self):
        sim = self.start()
        self.assertEqual(sim.connect(), CONNECT)
        self.assertEqual(sim.exchange(b"\r", b"ID="), b"ID=")
        self.assertEqual(sim.exchange(b"\x1bPG1\r", b"\x1b[p\r"), LOGON_ACCEPT)
        self.assertEqual(sim.exchange(frame(b"1234", b"HELLO", b"25="), ACK), ACK)
        self.assertEqual(sim.exchange(frame(b"5678", b"Mail from bob: lunch?"), ACK), ACK)
        self.assertEqual(sim.exchange(frame(b"1234", b"HELLO", b"25>"), NAK), NAK)
        self.assertEqual(sim.exchange(b"\x04\r", NO_CARRIER), b"\x1b\x04\r" + NO_CARRIER)
        # The program's hang-up: "+++" gets no answer in command mode, ATH0 does.
        sim.send(b"+++")
        self.assertEqual(sim.quiet(0.3), b"")
        self.assertEqual(sim.exchange(b"ATH0\r", OK), OK)
        summary = sim.finish()

        self.assertEqual(summary["logons"], [{
            "call": 1, "t": summary["logons"][0]["t"], "sequence": "PG1", "password": "",
            "accepted": True, "answered": True}])
        blocks = summary["blocks"]
        self.assertEqual([(b["pager_id"], b["message"]) for b in blocks],
                         [("1234", "HELLO"), ("5678", "Mail from bob: lunch?"), ("1234", "HELLO")])
        self.assertEqual([b["checksum_ok"] for b in blocks], [True, True, False])
        self.assertEqual([b["answer"] for b in blocks], ["ack", "ack", "nak"])
        self.assertEqual(blocks[0]["checksum"], "25=")
        self.assertEqual(blocks[2]["expected_checksum"], "25=")
        self.assertEqual(blocks[0]["frame_length"], 17)
        self.assertTrue(all(b["well_formed"] and b["call"] == 1 for b in blocks))
        self.assertEqual(len(summary["logoffs"]), 1)
        call = summary["calls"][0]
        self.assertEqual((call["end"], call["crs"], call["id_prompts"]), ("logoff", 1, 1))
        self.assertEqual(summary["commands"][-1]["line"], "ATH0")

    def test_password(self):
        sim = self.start("--password", "s3cret", "--banner", "114 Welcome")
        sim.connect()
        sim.exchange(b"\r", b"ID=")
        self.assertEqual(sim.exchange(b"\x1bPG1wrong\r", b"\x15\r"), b"114 Welcome\r\x15\r")
        self.assertEqual(sim.exchange(b"\x1bPG1\r", b"\x15\r"), b"114 Welcome\r\x15\r")
        self.assertEqual(sim.exchange(b"\x1bPG1s3cret\r", b"\x1b[p\r"), b"114 Welcome" + LOGON_ACCEPT)
        summary = sim.finish()
        self.assertEqual([(l["password"], l["accepted"]) for l in summary["logons"]],
                         [("wrong", False), ("", False), ("s3cret", True)])

    def test_prompt_after_two_crs(self):
        sim = self.start("--cr-before-id", "2")
        sim.connect()
        sim.send(b"\r")
        self.assertEqual(sim.quiet(0.2), b"")
        self.assertEqual(sim.exchange(b"\r", b"ID="), b"ID=")
        summary = sim.finish()
        self.assertEqual(summary["calls"][0]["crs"], 2)

    def test_unprompted_id(self):
        sim = self.start("--cr-before-id", "0", "--id-delay", "0.3")
        sim.connect()
        self.assertEqual(sim.quiet(0.15), b"")
        self.assertEqual(sim.expect(b"ID=", 1), b"ID=")
        self.assertEqual(sim.exchange(b"\x1bPG1\r", b"\x1b[p\r"), LOGON_ACCEPT)
        self.assertEqual(sim.finish()["calls"][0]["crs"], 0)

    def test_block_fields(self):
        sim = self.start()
        sim.logon()
        text = b"line one \x08two\rrest kept"
        self.assertEqual(sim.exchange(frame(b"99", text), ACK), ACK)
        # Without the CR in front of ETX the frame is refused, whatever its
        # checksum says.
        bad = b"\x021234\rHELLO\x03"
        self.assertEqual(sim.exchange(bad + modemsim.tap_checksum(bad) + b"\r", NAK), NAK)
        first, second = sim.finish()["blocks"]
        self.assertEqual((first["pager_id"], first["message"]), ("99", text.decode()))
        self.assertTrue(first["checksum_ok"] and first["well_formed"])
        self.assertEqual((second["checksum_ok"], second["well_formed"], second["answer"]),
                         (True, False, "nak"))

    def test_escape_online_and_back(self):
        sim = self.start("--guard-time", "0.1")
        sim.logon()
        time.sleep(0.3)
        # Without the guard time before or after them the "+" characters are
        # data.
        sim.send(b"x+++")
        self.assertEqual(sim.quiet(0.4), b"")
        sim.send(b"+++x")
        self.assertEqual(sim.quiet(0.4), b"")
        self.assertEqual(sim.exchange(b"+++", OK, 1), OK)
        self.assertEqual(sim.exchange(b"ATO\r", CONNECT), CONNECT)
        self.assertEqual(sim.exchange(frame(b"1234", b"HELLO"), ACK), ACK)
        time.sleep(0.3)
        self.assertEqual(sim.exchange(b"+++", OK, 1), OK)
        self.assertEqual(sim.exchange(b"ATH0\r", OK), OK)
        self.assertEqual(sim.exchange(b"ATO\r", NO_CARRIER), NO_CARRIER)
        summary = sim.finish()
        self.assertEqual(summary["escapes"], 2)
        self.assertEqual(summary["calls"][0]["end"], "hangup")
        self.assertEqual(len(summary["blocks"]), 1)

    def test_closing_the_port_hangs_up(self):
        sim = self.start()
        sim.logon()
        sim.close_port()
        time.sleep(0.1)
        sim.open_port()
        self.assertEqual(sim.exchange(b"AT\r", OK), OK)
        self.assertEqual(sim.exchange(b"ATDT5551234\r", CONNECT), CONNECT)
        summary = sim.finish()
        self.assertEqual([c["end"] for c in summary["calls"]], ["port-closed", "port-closed"])
        self.assertEqual(summary["port_opens"], 2)


class ScriptedFailureTest(SimTestCase):
    def test_nak_for_good_blocks(self):
        sim = self.start("--bad-checksum-answers", "1")
        sim.logon()
        self.assertEqual(sim.exchange(frame(b"1234", b"HELLO"), NAK), NAK)
        self.assertEqual(sim.exchange(frame(b"1234", b"HELLO"), ACK), ACK)
        blocks = sim.finish()["blocks"]
        self.assertEqual([(b["checksum_ok"], b["answer"]) for b in blocks],
                         [(True, "nak"), (True, "ack")])

    def test_block_answer_script(self):
        sim = self.start("--block-answers", "rs,eot")
        sim.logon()
        self.assertEqual(sim.exchange(frame(b"1", b"A"), b"\x1e\r"), b"\x1e\r")
        self.assertEqual(sim.exchange(frame(b"1", b"B"), NO_CARRIER), b"\x1b\x04\r" + NO_CARRIER)
        self.assertEqual(sim.exchange(b"AT\r", OK), OK)
        summary = sim.finish()
        self.assertEqual([b["answer"] for b in summary["blocks"]], ["rs", "eot"])
        self.assertEqual(summary["calls"][0]["end"], "terminal-disconnect")

    def test_silent_command_mode(self):
        sim = self.start("--silent-after", "command")
        sim.send(b"AT\r")
        self.assertEqual(sim.quiet(), b"")
        self.assertEqual([(c["line"], c["result"]) for c in sim.finish()["commands"]],
                         [("AT", "")])

    def test_silent_dial(self):
        sim = self.start("--silent-after", "dial")
        sim.init_modem()
        sim.send(b"ATDT5551234\r")
        self.assertEqual(sim.quiet(0.3), b"")
        # The program's hang-up: the first "+" ends the dial, ATH0 is answered.
        sim.send(b"+++")
        self.assertEqual(sim.quiet(0.2), b"")
        self.assertEqual(sim.exchange(b"ATH0\r", OK), OK)
        summary = sim.finish()
        self.assertEqual(summary["dials"][0]["result"], "")
        self.assertEqual(summary["calls"], [])

    def test_silent_id(self):
        sim = self.start("--silent-after", "id")
        sim.connect()
        sim.send(b"\r\r\r")
        self.assertEqual(sim.quiet(), b"")
        self.assertEqual(sim.finish()["calls"][0]["crs"], 3)

    def test_silent_logon(self):
        sim = self.start("--silent-after", "logon", "--guard-time", "0.1")
        sim.connect()
        sim.exchange(b"\r", b"ID=")
        sim.send(b"\x1bPG1\r")
        self.assertEqual(sim.quiet(0.3), b"")
        self.assertEqual(sim.exchange(b"+++", OK, 1), OK)
        self.assertEqual(sim.exchange(b"ATH0\r", OK), OK)
        summary = sim.finish()
        self.assertEqual((summary["logons"][0]["answered"], summary["logons"][0]["accepted"]),
                         (False, False))

    def test_silent_after_one_block(self):
        sim = self.start("--silent-after", "block:1")
        sim.logon()
        self.assertEqual(sim.exchange(frame(b"1", b"first"), ACK), ACK)
        sim.send(frame(b"1", b"second"))
        self.assertEqual(sim.quiet(), b"")
        self.assertEqual([b["answer"] for b in sim.finish()["blocks"]], ["ack", "none"])

    def test_silent_logoff(self):
        sim = self.start("--silent-after", "logoff")
        sim.logon()
        sim.send(b"\x04\r")
        self.assertEqual(sim.quiet(), b"")
        summary = sim.finish()
        self.assertFalse(summary["logoffs"][0]["answered"])
        self.assertEqual(summary["calls"][0]["end"], "port-closed")

    def test_drop_after_block(self):
        sim = self.start("--drop-after-blocks", "1")
        sim.logon()
        self.assertEqual(sim.exchange(frame(b"1234", b"HELLO"), NO_CARRIER), ACK + NO_CARRIER)
        # The next block and the logoff reach a modem in command mode: no
        # answer, and they are not taken for a block or a logoff.
        sim.send(frame(b"1234", b"HELLO"))
        sim.send(b"\x04\r")
        self.assertEqual(sim.quiet(), b"")
        summary = sim.finish()
        self.assertEqual(summary["calls"][0]["end"], "drop")
        self.assertEqual(len(summary["blocks"]), 1)
        self.assertEqual(len(summary["dials"]), 1)
        self.assertEqual(summary["logoffs"], [])

    def test_drop_right_after_logon(self):
        sim = self.start("--drop-after-blocks", "0")
        sim.connect()
        sim.exchange(b"\r", b"ID=")
        self.assertEqual(sim.exchange(b"\x1bPG1\r", NO_CARRIER), LOGON_ACCEPT + NO_CARRIER)

    def test_drop_on_request(self):
        sim = self.start()
        sim.logon()
        sim.control("drop")
        self.assertEqual(sim.expect(NO_CARRIER), NO_CARRIER)
        self.assertEqual(sim.finish()["calls"][0]["end"], "drop")

    def test_garbage_before_answers(self):
        sim = self.start("--garbage")
        garbage = modemsim.GARBAGE
        self.assertIn(b"\x00", garbage)
        self.assertEqual(sim.exchange(b"AT\r", OK), garbage + OK)
        self.assertEqual(sim.exchange(b"ATDT5551234\r", CONNECT), garbage + CONNECT)
        self.assertEqual(sim.exchange(b"\r", b"ID="), garbage + b"ID=")
        self.assertEqual(sim.exchange(b"\x1bPG1\r", b"\x1b[p\r"), garbage + LOGON_ACCEPT)
        self.assertEqual(sim.exchange(frame(b"1", b"x"), ACK), garbage + ACK)

    def test_long_reply(self):
        sim = self.start("--long-reply", "6000")
        self.assertEqual(sim.exchange(b"AT\r", OK), OK)
        got = sim.exchange(b"ATDT5551234\r", CONNECT)
        junk = got[:-len(CONNECT)]
        self.assertEqual(len(junk), 6000)
        for word in (b"OK", b"CONNECT", b"BUSY", b"NO DIAL", b"ID", b"\r"):
            self.assertNotIn(word, junk)

    def test_long_reply_at_logon(self):
        sim = self.start("--long-reply", "300", "--long-reply-stage", "logon")
        got = sim.logon()
        self.assertEqual(len(got), 300 + len(LOGON_ACCEPT))
        self.assertTrue(got.endswith(LOGON_ACCEPT))


class NumericPageTest(SimTestCase):
    def test_numeric_pages(self):
        sim = self.start("--busy", "5551111")
        sim.init_modem()
        self.assertEqual(sim.exchange(b"ATDT5551234,,,,111*3#\r", OK), OK)
        self.assertEqual(sim.exchange(b"AT\r", OK), OK)  # not online
        self.assertEqual(sim.exchange(b"ATDP5551111,,01*2*1234#\r", b"BUSY\r\n"), b"\r\nBUSY\r\n")
        self.assertEqual(sim.exchange(b"ATDT5552222;\r", OK), OK)
        self.assertEqual(sim.exchange(b"ATDT5553333111*3#\r", OK), OK)
        summary = sim.finish()
        self.assertEqual(summary["calls"], [])
        pages = [(p["number"], p["pauses"], p["digits"], p["method"], p["result"])
                 for p in summary["numeric_pages"]]
        self.assertEqual(pages, [
            ("5551234", 4, "111*3#", "tone", "OK"),
            ("5551111", 2, "01*2*1234#", "pulse", "BUSY"),
            ("5552222", 0, "", "tone", "OK"),
            ("5553333111*3#", 0, "", "tone", "OK")])
        self.assertTrue(all(d["numeric"] for d in summary["dials"]))

    def test_numeric_number_and_silent_reply(self):
        sim = self.start("--numeric-number", "5553333", "--numeric-reply", "")
        sim.send(b"ATDT5553333111*3\r")
        self.assertEqual(sim.quiet(), b"")
        self.assertEqual(sim.exchange(b"AT\r", OK), OK)
        page = sim.finish()["numeric_pages"][0]
        self.assertEqual((page["number"], page["digits"]), ("5553333", "111*3"))


class FaultTest(SimTestCase):
    def test_dial_error_and_endless_noise(self):
        sim = self.start("--dial-error", "5551111", "--noise", "5552222")
        sim.init_modem()
        self.assertEqual(sim.exchange(b"ATDT5551111\r", ERROR), ERROR)
        sim.send(b"ATDT5552222\r")
        noise = sim.quiet(0.3)
        self.assertGreater(len(noise), 2000)  # keeps coming
        self.assertFalse(any(0x41 <= c <= 0x5A for c in noise))  # no result word can form
        self.assertNotIn(b"\r", noise)
        sim.send(b"x")  # a keystroke ends the dial
        sim.expect(NO_CARRIER)
        sim.quiet(0.1)
        self.assertEqual(sim.exchange(b"AT\r", OK), OK)
        summary = sim.finish()
        self.assertEqual([d["result"] for d in summary["dials"]], ["ERROR", "NO CARRIER"])
        self.assertTrue(summary["dials"][1]["noise"])
        self.assertGreater(summary["noise_bytes"], 2000)

    def test_seven_bit_line_sums_seven_bit_bytes(self):
        sim = self.start("--seven-bit")
        sim.logon()
        eight_bit = frame(b"1234", "caf\u00e9".encode("latin-1"))  # summed with the 8th bit
        self.assertEqual(sim.exchange(eight_bit, NAK), NAK)
        self.assertEqual(sim.exchange(frame(b"1234", b"cafe"), ACK), ACK)
        blocks = sim.finish()["blocks"]
        self.assertEqual([(b["message"], b["checksum_ok"], b["printable"]) for b in blocks],
                         [("cafi", False, True), ("cafe", True, True)])

    def test_etx_and_eight_bit_text_are_recorded(self):
        sim = self.start()
        sim.logon()
        self.assertEqual(sim.exchange(frame(b"1234", "d\u00e9j\u00e0".encode("latin-1")), ACK), ACK)
        # An ETX inside the text ends the frame early: the rest is not a checksum.
        sim.send(b"\x021234\rbad\x03text\r\x03" + b"000\r")
        sim.expect(NAK)
        blocks = sim.finish()["blocks"]
        self.assertEqual([(b["printable"], b["checksum_ok"]) for b in blocks[:2]],
                         [(False, True), (True, False)])

    def test_hangup_mid_frame(self):
        sim = self.start("--hangup-mid-frame", "2")
        sim.logon()
        self.assertEqual(sim.exchange(frame(b"1", b"first"), ACK), ACK)
        sim.send(b"\x021\rsecond")
        # The other end is gone: the port reports a hang-up.
        deadline = time.monotonic() + 2
        hung_up = False
        while time.monotonic() < deadline and not hung_up:
            events = select.poll()
            events.register(sim.fd, select.POLLIN)
            hung_up = any(ev & select.POLLHUP for _, ev in events.poll(50))
        self.assertTrue(hung_up)
        summary = sim.finish()
        self.assertEqual(summary["hangups"][0]["stage"], "block")
        self.assertEqual(summary["hangups"][0]["block"], 2)
        self.assertEqual(len(summary["blocks"]), 1)
        self.assertEqual(summary["calls"][0]["end"], "device-hangup")

    def test_hangup_on_request(self):
        sim = self.start()
        sim.init_modem()
        sim.control("hangup")
        deadline = time.monotonic() + 2
        while time.monotonic() < deadline and not sim.summary()["hangups"]:
            time.sleep(0.02)
        summary = sim.finish()
        self.assertEqual(summary["hangups"][0]["stage"], "request")


class ProcessTest(SimTestCase):
    def test_exit_when_stdin_closes(self):
        sim = self.start(open_port=False)
        sim.proc.stdin.close()
        self.assertEqual(sim.proc.wait(5), 0)
        self.assertEqual(sim.summary()["device"], sim.device)

    def test_sigterm_and_link(self):
        link = os.path.join(tempfile.mkdtemp(), "ttyMODEM")
        self.addCleanup(os.rmdir, os.path.dirname(link))
        sim = self.start("--link", link, open_port=False)
        self.assertEqual(sim.hello["link"], link)
        self.assertEqual(os.readlink(link), sim.device)
        sim.device = link
        sim.open_port()
        self.assertEqual(sim.exchange(b"AT\r", OK), OK)
        sim.proc.send_signal(signal.SIGTERM)
        self.assertEqual(sim.proc.wait(5), 0)
        self.assertFalse(os.path.lexists(link))
        self.assertEqual(sim.summary()["commands"][0]["line"], "AT")

    def test_log_holds_every_byte(self):
        sim = self.start()
        sent = (b"AT\rAT&F E0 V1 &D2 &C1 &Q0 M0 L2\rATDT5551234\r\r\x1bPG1\r"
                + frame(b"1234", b"HELLO") + b"\x04\r")
        sim.logon()
        sim.exchange(frame(b"1234", b"HELLO"), ACK)
        sim.exchange(b"\x04\r", NO_CARRIER)
        summary = sim.finish()
        entries = sim.log_entries()
        rx = "".join(e["data"] for e in entries if e.get("dir") == "rx").encode("latin-1")
        tx = "".join(e["data"] for e in entries if e.get("dir") == "tx").encode("latin-1")
        self.assertEqual(rx, sent)
        self.assertEqual(len(rx), summary["bytes_received"])
        self.assertEqual(tx, OK + OK + CONNECT + b"ID=" + LOGON_ACCEPT + ACK
                         + b"\x1b\x04\r" + NO_CARRIER)
        self.assertEqual(len(tx), summary["bytes_sent"])
        self.assertTrue(all(isinstance(e["t"], float) for e in entries))

    def test_summary_on_request(self):
        sim = self.start()
        sim.exchange(b"AT\r", OK)
        sim.control("summary")
        ready, _, _ = select.select([sim.proc.stdout], [], [], 2)
        self.assertTrue(ready)
        reply = json.loads(sim.proc.stdout.readline())
        self.assertEqual(reply["summary"]["commands"][0]["result"], "OK")


class TcpSim:
    """The simulator in --tcp mode and one connection to it."""

    def __init__(self, *args):
        self.dir = tempfile.TemporaryDirectory()
        self.summary_path = os.path.join(self.dir.name, "summary.json")
        self.proc = subprocess.Popen(
            [sys.executable, SIM, "--tcp", "--summary", self.summary_path, "--max-runtime", "30"]
            + list(args),
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        ready, _, _ = select.select([self.proc.stdout], [], [], 5)
        line = self.proc.stdout.readline() if ready else b""
        if not line.startswith(b"PORT "):
            self.kill()
            raise AssertionError("simulator did not announce its port: %r" % line)
        self.port = int(line[5:])
        self.sock = None
        self.rx = b""

    def connect(self):
        if self.sock is not None:
            self.sock.close()
        self.sock = socket.create_connection(("127.0.0.1", self.port), timeout=2)
        self.rx = b""

    def send(self, data):
        self.sock.sendall(data)

    def expect(self, pattern, timeout=2.0):
        deadline = time.monotonic() + timeout
        while pattern not in self.rx:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("expected %r, received %r" % (pattern, self.rx))
            self.sock.settimeout(left)
            chunk = self.sock.recv(65536)
            if not chunk:
                raise AssertionError("closed before %r, received %r" % (pattern, self.rx))
            self.rx += chunk
        end = self.rx.index(pattern) + len(pattern)
        got, self.rx = self.rx[:end], self.rx[end:]
        return got

    def exchange(self, data, pattern):
        self.send(data)
        return self.expect(pattern)

    def closed_by_terminal(self, timeout=2.0):
        """True when the terminal closes (or breaks off) the connection;
        what it sent before is kept in rx."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            self.sock.settimeout(max(0.01, deadline - time.monotonic()))
            try:
                chunk = self.sock.recv(65536)
            except socket.timeout:
                return False
            except ConnectionResetError:
                return True
            if not chunk:
                return True
            self.rx += chunk
        return False

    def summary(self):
        with open(self.summary_path, encoding="utf-8") as f:
            return json.load(f)

    def finish(self):
        if self.sock is not None:
            self.sock.close()
        self.proc.stdin.close()
        code = self.proc.wait(5)
        if code != 0:
            raise AssertionError("simulator exited with %r: %s" % (code, self.proc.stderr.read()))
        return self.summary()

    def kill(self):
        if self.sock is not None:
            self.sock.close()
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(5)
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            stream.close()
        self.dir.cleanup()


class TcpTerminalTest(unittest.TestCase):
    def start(self, *args):
        sim = TcpSim(*args)
        self.addCleanup(sim.kill)
        return sim

    def test_session_without_modem(self):
        sim = self.start("--password", "pw")
        sim.connect()
        # No AT commands: the terminal answers the first CR with its prompt.
        self.assertEqual(sim.exchange(b"\r", b"ID="), b"ID=")
        self.assertEqual(sim.exchange(b"\x1bPG1pw\r", b"\x1b[p\r"), LOGON_ACCEPT)
        self.assertEqual(sim.exchange(frame(b"1234", b"HELLO"), ACK), ACK)
        self.assertEqual(sim.exchange(frame(b"1234", b"HELLO", b"25>"), NAK), NAK)
        sim.send(b"\x04\r")
        self.assertTrue(sim.closed_by_terminal())
        self.assertEqual(sim.rx, b"\x1b\x04\r")
        # The next connection is the next call.
        sim.connect()
        self.assertEqual(sim.exchange(b"\r", b"ID="), b"ID=")
        self.assertEqual(sim.exchange(b"\x1bPG1wrong\r", NAK), b"\r" + NAK)
        summary = sim.finish()
        self.assertEqual(summary["device"], "127.0.0.1:%d" % sim.port)
        self.assertEqual(summary["commands"], [])
        self.assertEqual([b["frame"] for b in summary["blocks"]],
                         [frame(b"1234", b"HELLO").decode("latin-1"),
                          frame(b"1234", b"HELLO", b"25>").decode("latin-1")])
        self.assertEqual([b["checksum_ok"] for b in summary["blocks"]], [True, False])
        self.assertEqual([c["end"] for c in summary["calls"]], ["logoff", "port-closed"])
        self.assertEqual([l["accepted"] for l in summary["logons"]], [True, False])

    def test_drops(self):
        for options, blocks, end in ((["--drop-after-blocks", "1"], 1, "drop"),
                                     (["--hangup-mid-frame", "1"], 0, "device-hangup")):
            with self.subTest(options=options):
                sim = self.start("--cr-before-id", "0", "--id-delay", "0.05", *options)
                sim.connect()
                self.assertEqual(sim.expect(b"ID="), b"ID=")
                sim.exchange(b"\x1bPG1\r", b"\x1b[p\r")
                sim.send(frame(b"1", b"first"))
                self.assertTrue(sim.closed_by_terminal())
                summary = sim.finish()
                self.assertEqual(len(summary["blocks"]), blocks)
                self.assertEqual(summary["calls"][0]["end"], end)


if __name__ == "__main__":
    unittest.main()
