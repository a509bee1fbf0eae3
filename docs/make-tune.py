#!/usr/bin/env python3
"""Writes the short tune that the README's picture shows, as a 16-bit stereo
WAV file: a verse, a near-silent break, and a louder chorus with drums, so
that the timeline's picture shows loud and quiet stretches the way a real
recording does. Pure Python, no downloads: python3 make-tune.py OUT.wav"""
import math
import random
import struct
import sys
import wave

RATE = 44100
BPM = 112
BEAT = 60.0 / BPM
random.seed(7)

# Note numbers (MIDI) of an A-minor progression: Am, F, C, G.
CHORDS = [(57, 60, 64), (53, 57, 60), (48, 52, 55), (55, 59, 62)]
MELODY = [69, 72, 71, 69, 67, 64, 67, 69, 72, 74, 72, 71, 69, 67, 69, 64]


def freq(note):
    return 440.0 * 2 ** ((note - 69) / 12)


def tone(buf, start, length, f, level, decay):
    first = int(start * RATE)
    for i in range(int(length * RATE)):
        if first + i >= len(buf):
            break
        t = i / RATE
        env = min(1.0, t * 200) * math.exp(-t * decay)
        # A little brightness from two overtones.
        s = math.sin(2 * math.pi * f * t) + 0.3 * math.sin(4 * math.pi * f * t) + 0.12 * math.sin(
            6 * math.pi * f * t)
        buf[first + i] += level * env * s


def kick(buf, start, level):
    first = int(start * RATE)
    phase = 0.0
    for i in range(int(0.25 * RATE)):
        if first + i >= len(buf):
            break
        t = i / RATE
        phase += 2 * math.pi * (45 + 90 * math.exp(-t * 30)) / RATE
        buf[first + i] += level * math.exp(-t * 14) * math.sin(phase)


def hat(buf, start, level):
    first = int(start * RATE)
    for i in range(int(0.05 * RATE)):
        if first + i >= len(buf):
            break
        buf[first + i] += level * math.exp(-i / RATE * 90) * (random.random() * 2 - 1)


def section(buf, start, bars, level, drums):
    for bar in range(bars):
        t0 = start + bar * 4 * BEAT
        for note in CHORDS[bar % 4]:
            tone(buf, t0, 4 * BEAT, freq(note), 0.05 * level, 0.6)
        tone(buf, t0, 2 * BEAT, freq(CHORDS[bar % 4][0] - 12), 0.16 * level, 1.2)
        for beat in range(4):
            note = MELODY[(bar * 4 + beat) % len(MELODY)]
            tone(buf, t0 + beat * BEAT, BEAT, freq(note), 0.11 * level, 3.0)
            if drums:
                kick(buf, t0 + beat * BEAT, 0.35 * level)
                hat(buf, t0 + (beat + 0.5) * BEAT, 0.05 * level)


def main():
    bar = 4 * BEAT
    verse, gap, chorus = 4 * bar, 1.6, 6 * bar
    total = verse + gap + chorus + 1.5
    left = [0.0] * int(total * RATE)
    section(left, 0.0, 4, 0.55, False)
    # The break: a breath of room noise only.
    first, last = int(verse * RATE), int((verse + gap) * RATE)
    for i in range(first, min(last, len(left))):
        left[i] += 0.0015 * (random.random() * 2 - 1)
    section(left, verse + gap, 6, 1.0, True)
    peak = max(abs(x) for x in left) or 1.0
    with wave.open(sys.argv[1], "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(RATE)
        frames = bytearray()
        for i, x in enumerate(left):
            s = int(x / peak * 0.89 * 32767)
            # A touch of width: the right channel a few samples late.
            r = int(left[i - 12] / peak * 0.89 * 32767) if i >= 12 else 0
            frames += struct.pack("<hh", s, r)
        out.writeframes(bytes(frames))


main()
