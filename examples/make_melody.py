#!/usr/bin/env python3
"""Writes examples/melody.wav: a hummed tune with vibrato, for trying Lirrosa out.

The tune is the opening of "Twinkle, Twinkle, Little Star" in G, hummed around 200 Hz:
a few harmonics that fade with their number (a nasal hum), 5.5 Hz vibrato of +-25 cents,
soft attacks and releases, short breaths between the notes and a little breath noise.
Deterministic, so the committed file can be made again bit for bit.
"""

import math
import random
import struct
import wave
from pathlib import Path

RATE = 22050
# (MIDI note, seconds); note 60 is middle C.
TUNE = [(55, 0.45), (55, 0.45), (62, 0.45), (62, 0.45), (64, 0.45), (64, 0.45), (62, 0.9),
        (60, 0.45), (60, 0.45), (59, 0.45), (59, 0.45), (57, 0.45), (57, 0.45), (55, 0.9)]
GAP = 0.07          # silence between notes, seconds
HARMONICS = [1.0, 0.55, 0.3, 0.18, 0.1]
VIBRATO_HZ = 5.5
VIBRATO_CENTS = 25.0
ATTACK = 0.04
RELEASE = 0.05
PEAK = 9000.0


def note_frequency(note):
    return 440.0 * 2.0 ** ((note - 69) / 12.0)


def hum(note, seconds, rng):
    """Samples of one hummed note."""
    count = int(seconds * RATE)
    phase = 0.0
    base = note_frequency(note)
    samples = []
    for i in range(count):
        t = i / RATE
        cents = VIBRATO_CENTS * math.sin(2.0 * math.pi * VIBRATO_HZ * t)
        frequency = base * 2.0 ** (cents / 1200.0)
        phase += 2.0 * math.pi * frequency / RATE
        value = sum(a * math.sin(k * phase) for k, a in enumerate(HARMONICS, start=1))
        envelope = min(1.0, t / ATTACK, (seconds - t) / RELEASE)
        samples.append(PEAK * envelope * value / sum(HARMONICS) * 2.0 + rng.gauss(0.0, 40.0))
    return samples


def main():
    rng = random.Random(20261208)
    samples = [0.0] * int(0.3 * RATE)
    for note, seconds in TUNE:
        samples += hum(note, seconds, rng)
        samples += [rng.gauss(0.0, 40.0) for _ in range(int(GAP * RATE))]
    samples += [0.0] * int(0.3 * RATE)

    out = Path(__file__).with_name("melody.wav")
    with wave.open(str(out), "wb") as wav:
        wav.setnchannels(1)
        wav.setsampwidth(2)
        wav.setframerate(RATE)
        wav.writeframes(b"".join(struct.pack("<h", max(-32768, min(32767, round(s)))) for s in samples))
    print(f"wrote {out} ({len(samples) / RATE:.2f} s)")


if __name__ == "__main__":
    main()
