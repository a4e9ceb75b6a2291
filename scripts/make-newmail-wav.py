#!/usr/bin/env python3
"""Writes the new-mail sound shipped with the program: a short two-note
chime (16-bit mono PCM, 22050 Hz), made here so no outside audio is needed.

Usage: make-newmail-wav.py [OUTPUT]   (default resources/shipped/NewMail.wav)
"""

import math
import os
import struct
import sys
import wave

RATE = 22050
NOTES = [(880.0, 0.14), (1318.5, 0.22)]  # A5 then E6, seconds


def samples():
    for freq, length in NOTES:
        count = int(RATE * length)
        for i in range(count):
            t = i / RATE
            attack = min(1.0, i / (RATE * 0.005))
            decay = math.exp(-4.0 * t / length)
            yield int(0.45 * 32767 * attack * decay * math.sin(2 * math.pi * freq * t))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources", "shipped", "NewMail.wav")
    with wave.open(out, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<h", s) for s in samples()))


if __name__ == "__main__":
    main()
