#!/usr/bin/python3
"""Writes a set of synthetic sung melodies with their true notes, for judging transcription.

Each take is a voice made of harmonics shaped by vowel formants, singing a random melody in
phrases: vibrato, glides into notes, a tuning that drifts slowly, repeated notes parted by a
short consonant, breaths between phrases, and noise at 20 dB below the voice. Takes differ in
voice range, sample rate and tempo. For every take NAME.wav there is NAME_notes.csv with one
line onset_s,pitch_hz,duration_s per note (the layout of the vocadito annotations).

Usage: make_synthetic_voices.py OUT_DIR [--seed N] [--takes N]
"""

import argparse
import csv
import os
import wave

import numpy as np

# (name, lowest MIDI note, highest, sample rate)
VOICES = [
    ("bass", 43, 60, 22050),
    ("tenor", 48, 67, 44100),
    ("alto", 53, 72, 22050),
    ("soprano", 60, 79, 44100),
    ("child", 62, 81, 16000),
    ("baritone", 45, 64, 8000),
]
# Formant frequencies and bandwidths (Hz) of a few vowels.
VOWELS = [
    ((800, 80), (1150, 90), (2900, 120)),   # a
    ((400, 60), (1700, 80), (2600, 100)),   # e
    ((300, 50), (2200, 100), (3000, 120)),  # i
    ((450, 70), (800, 80), (2830, 100)),    # o
    ((325, 50), (700, 60), (2530, 100)),    # u
]
MAJOR = [0, 2, 4, 5, 7, 9, 11]


def formant_gain(freq, vowel):
    gain = 0.05
    for centre, width in vowel:
        gain += 1.0 / (1.0 + ((freq - centre) / width) ** 2)
    return gain


def melody(rng, low, high, seconds):
    """Notes as (onset, midi, duration, glide, parted), in phrases with rests between them."""
    tonic = rng.integers(low, low + 12)
    scale = [tonic + o + d for o in (-12, 0, 12) for d in MAJOR if low <= tonic + o + d <= high]
    beat = rng.uniform(0.22, 0.45)
    notes, t = [], rng.uniform(0.3, 0.8)
    index = len(scale) // 2
    while t < seconds - 2.0:
        for _ in range(rng.integers(4, 10)):
            length = beat * rng.choice([1, 1, 2, 2, 3, 4])
            repeat = notes and rng.random() < 0.2
            if not repeat:
                index = int(np.clip(index + rng.choice([-2, -1, -1, 1, 1, 2, 3, -3]), 0, len(scale) - 1))
            legato = rng.random() < 0.4 and not repeat
            glide = legato and rng.random() < 0.7
            # Legato and repeated notes run into the next one; others leave a short gap.
            duration = length if legato or repeat else length * rng.uniform(0.8, 0.95)
            notes.append((t, scale[index], duration, glide, repeat))
            t += length
            if t >= seconds - 2.0:
                break
        t += rng.uniform(0.4, 1.0)  # a breath
    return notes


def sing(rng, notes, rate, seconds):
    n = int(seconds * rate)
    time = np.arange(n) / rate
    pitch = np.full(n, np.nan)
    amplitude = np.zeros(n)
    vowel_of = np.zeros(n, dtype=int)
    drift = 0.3 * np.sin(2 * np.pi * time / rng.uniform(15, 30) + rng.uniform(0, 6))  # semitones
    truth = []
    previous = None
    for onset, midi, duration, glide, parted in notes:
        a, b = int(onset * rate), min(n, int((onset + duration) * rate))
        seg = time[a:b] - onset
        p = np.full(b - a, float(midi))
        if glide and previous is not None:
            g = rng.uniform(0.06, 0.12)
            p = np.where(seg < g, previous + (midi - previous) * (seg / g), p)
        rate_v, depth = rng.uniform(4.5, 6.5), rng.uniform(0.2, 0.5)
        ramp = np.clip((seg - 0.15) / 0.2, 0, 1)  # vibrato grows after the attack
        p = p + depth * ramp * np.sin(2 * np.pi * rate_v * seg)
        pitch[a:b] = p + drift[a:b]
        env = np.minimum(1, np.minimum(seg / 0.03, (duration - seg) / 0.04))
        amplitude[a:b] = np.clip(env, 0, 1) * rng.uniform(0.5, 1.0)
        vowel_of[a:b] = rng.integers(len(VOWELS))
        hz = 440 * 2 ** ((midi + np.mean(drift[a:b]) - 69) / 12)
        truth.append((onset, hz, duration))
        previous = midi
    voiced = ~np.isnan(pitch)
    f0 = np.where(voiced, 440 * 2 ** ((np.nan_to_num(pitch, nan=60) - 69) / 12), 0)
    phase = 2 * np.pi * np.cumsum(f0) / rate
    voice = np.zeros(n)
    for h in range(1, 30):
        freq = h * f0
        ok = voiced & (freq < rate / 2 - 200)
        if not ok.any():
            break
        gain = np.zeros(n)
        for v, vowel in enumerate(VOWELS):
            sel = ok & (vowel_of == v)
            gain[sel] = formant_gain(freq[sel], vowel)
        voice += gain * np.sin(h * phase + h * 0.7) / h ** 0.7
    # Jitter the level a little, as a real voice does.
    shimmer = 1 + 0.05 * np.convolve(rng.standard_normal(n), np.ones(200) / 200, mode="same") * 14
    voice *= amplitude * shimmer
    voice /= np.max(np.abs(voice)) + 1e-9
    # Consonants before repeated notes: a short burst of noise over a dip of the voice.
    for onset, midi, duration, glide, parted in notes:
        if parted:
            a = int(onset * rate)
            c = int(rng.uniform(0.04, 0.07) * rate)
            voice[a:a + c] *= np.linspace(0.05, 1, min(c, n - a))
            voice[a:a + c] += 0.15 * rng.standard_normal(min(c, n - a)) * np.hanning(min(c, n - a))
    # Breaths in the rests: soft, band-limited noise.
    for (o1, _, d1, _, _), (o2, _, _, _, _) in zip(notes, notes[1:]):
        if o2 - (o1 + d1) > 0.35:
            a, b = int((o1 + d1 + 0.08) * rate), int((o2 - 0.08) * rate)
            burst = np.convolve(rng.standard_normal(b - a), np.ones(6) / 6, mode="same")
            voice[a:b] += 0.06 * burst * np.hanning(b - a)
    signal_power = np.mean(voice[voiced] ** 2)
    noise = rng.standard_normal(n)
    voice += noise * np.sqrt(signal_power / 10 ** (20 / 10) / np.mean(noise ** 2))
    return voice / (np.max(np.abs(voice)) + 1e-9) * 0.7, truth


def write_wav(path, samples, rate):
    data = (np.clip(samples, -1, 1) * 32767).astype("<i2").tobytes()
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out_dir")
    parser.add_argument("--seed", type=int, default=2026)
    parser.add_argument("--takes", type=int, default=len(VOICES))
    args = parser.parse_args()
    os.makedirs(args.out_dir, exist_ok=True)
    rng = np.random.default_rng(args.seed)
    for i in range(args.takes):
        name, low, high, rate = VOICES[i % len(VOICES)]
        seconds = 20.0
        notes = melody(rng, low, high, seconds)
        samples, truth = sing(rng, notes, rate, seconds)
        base = os.path.join(args.out_dir, f"{i + 1:02d}_{name}")
        write_wav(base + ".wav", samples, rate)
        with open(base + "_notes.csv", "w", newline="") as f:
            writer = csv.writer(f)
            for onset, hz, duration in truth:
                writer.writerow([f"{onset:.4f}", f"{hz:.3f}", f"{duration:.4f}"])
        print(base + ".wav")


if __name__ == "__main__":
    main()
