"""End-to-end tests of `lirrosa-cli convert`: real WAV files in, MIDI files and JSON out.

The MIDI files are read back with mido, an independent reader, so what other programs
see is checked, not what our writer meant to write.
"""

import json
import math
import os
import random
import struct
import subprocess
import tempfile
import unittest
import wave

import mido

CLI = os.environ["LIRROSA_CLI"]
SOURCE = os.environ["LIRROSA_SOURCE_DIR"]
EXAMPLE = os.path.join(SOURCE, "examples", "melody.wav")

# The example tune: (MIDI note, seconds), each followed by 70 ms of breath, after 0.3 s lead-in.
EXAMPLE_TUNE = [(55, 0.45), (55, 0.45), (62, 0.45), (62, 0.45), (64, 0.45), (64, 0.45), (62, 0.9),
                (60, 0.45), (60, 0.45), (59, 0.45), (59, 0.45), (57, 0.45), (57, 0.45), (55, 0.9)]


def onsets(tune, lead_in=0.3, gap=0.07):
    times, t = [], lead_in
    for _, seconds in tune:
        times.append(t)
        t += seconds + gap
    return times


def hum_samples(tune, rate, lead_in=0.3, gap=0.07, vibrato_cents=25.0, amplitude=9000.0):
    """Float samples of a hummed tune: five harmonics, vibrato, soft edges."""
    harmonics = [1.0, 0.55, 0.3, 0.18, 0.1]
    out = [0.0] * int(lead_in * rate)
    for note, seconds in tune:
        base = 440.0 * 2.0 ** ((note - 69) / 12.0)
        phase = 0.0
        count = int(seconds * rate)
        for i in range(count):
            t = i / rate
            cents = vibrato_cents * math.sin(2.0 * math.pi * 5.5 * t)
            phase += 2.0 * math.pi * base * 2.0 ** (cents / 1200.0) / rate
            value = sum(a * math.sin(k * phase) for k, a in enumerate(harmonics, start=1))
            envelope = min(1.0, t / 0.04, (seconds - t) / 0.05)
            out.append(amplitude * envelope * value / sum(harmonics) * 2.0)
        out += [0.0] * int(gap * rate)
    out += [0.0] * int(0.3 * rate)
    return out


def write_wav(path, samples, rate, channels=1, bits=16):
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(bits // 8)
        w.setframerate(rate)
        frames = bytearray()
        for s in samples:
            v = max(-32768, min(32767, round(s)))
            for c in range(channels):
                # The second channel carries different sound: only the first is analysed.
                cv = v if c == 0 else v // 3
                frames += struct.pack("<h", cv) if bits == 16 else struct.pack("B", (cv >> 8) + 128)
        w.writeframes(bytes(frames))


def run(*args):
    return subprocess.run([CLI, *args], capture_output=True, text=True, timeout=300)


def midi_notes(path):
    """(start tick, end tick, note, velocity, channel) of every note in a MIDI file."""
    midi = mido.MidiFile(path)
    notes, sounding = [], {}
    for track in midi.tracks:
        tick = 0
        for msg in track:
            tick += msg.time
            if msg.type == "note_on" and msg.velocity > 0:
                sounding[(msg.channel, msg.note)] = (tick, msg.velocity)
            elif msg.type in ("note_off", "note_on"):
                start, velocity = sounding.pop((msg.channel, msg.note))
                notes.append((start, tick, msg.note, velocity, msg.channel))
    return midi, sorted(notes)


class ConvertTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def convert_json(self, wav, *extra):
        out, js = self.path("out.mid"), self.path("out.json")
        result = run("convert", wav, "-o", out, "--json", js, "--quiet", "--force", *extra)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(js) as f:
            return out, json.load(f)

    def assert_tune(self, report, tune, lead_in=0.3):
        notes = report["notes"]
        self.assertEqual([n["note"] for n in notes], [n for n, _ in tune])
        for note, expected in zip(notes, onsets(tune, lead_in)):
            self.assertAlmostEqual(note["startSeconds"], expected, delta=0.05)

    def test_example_converts_note_for_note_and_mido_reads_every_note(self):
        out, report = self.convert_json(EXAMPLE)
        self.assert_tune(report, EXAMPLE_TUNE)
        midi, notes = midi_notes(out)
        self.assertEqual(midi.type, 1)
        self.assertEqual(midi.ticks_per_beat, 480)
        self.assertEqual([(n["start"], n["start"] + n["duration"], n["note"], n["velocity"]) for n in report["notes"]],
                         [(s, e, n, v) for s, e, n, v, _ in notes])
        tempos = [m.tempo for m in midi.tracks[0] if m.type == "set_tempo"]
        self.assertEqual(tempos, [500000])

    def test_report_structure_and_units(self):
        _, report = self.convert_json(EXAMPLE, "--tpqn", "96")
        self.assertEqual(report["format"], {"channels": 1, "rate": 22050, "bits": 16})
        self.assertGreater(report["frames"], 300)
        self.assertGreaterEqual(len(report["raw"]), len(report["cleaned"]))
        frame = report["raw"][0]
        self.assertEqual(set(frame), {"frame", "frequency", "pitch", "level", "candidates"})
        self.assertAlmostEqual(frame["pitch"], 12 * (math.log2(frame["frequency"]) - 6.7813597) + 45, places=3)
        for n in report["notes"]:
            self.assertAlmostEqual(n["pitch"], n["note"] + n["cents"] / 100, places=5)
            self.assertAlmostEqual(n["endSeconds"] - n["startSeconds"], n["duration"] * 60 / (120 * 96), places=6)
        self.assertTrue(report["summary"]["recognised"])
        self.assertEqual(set(report["summary"]), {"nearHalfCount", "medianOctave", "octaveShift", "octaveRoom",
                                                  "noteDivision", "maxLevel", "recognised"})

    def test_steady_220_hz_tone_gives_pitch_57_and_one_note(self):
        rate = 22050
        samples = [8000 * math.sin(2 * math.pi * 220 * i / rate) for i in range(int(1.5 * rate))]
        wav = self.path("a3.wav")
        write_wav(wav, samples, rate)
        _, report = self.convert_json(wav)
        self.assertGreater(len(report["raw"]), 40)
        for frame in report["raw"]:
            self.assertAlmostEqual(frame["pitch"], 57.0, delta=0.1)
        self.assertEqual([n["note"] for n in report["notes"]], [57])

    def test_formats_8_bit_stereo_and_rates_track_the_same_tune(self):
        tune = [(60, 0.4), (64, 0.4), (67, 0.5), (62, 0.6)]
        for rate, channels, bits in [(11025, 1, 16), (22050, 1, 8), (22050, 2, 16), (44100, 1, 16), (44100, 2, 8)]:
            with self.subTest(rate=rate, channels=channels, bits=bits):
                wav = self.path(f"tune-{rate}-{channels}-{bits}.wav")
                write_wav(wav, hum_samples(tune, rate), rate, channels, bits)
                _, report = self.convert_json(wav)
                self.assertEqual(report["format"], {"channels": channels, "rate": rate, "bits": bits})
                self.assert_tune(report, tune)

    def test_raw_output_glides_with_pitch_bends_and_closes_every_note(self):
        out = self.path("raw.mid")
        result = run("convert", EXAMPLE, "-o", out, "--raw", "--quiet")
        self.assertEqual(result.returncode, 0, result.stderr)
        midi = mido.MidiFile(out)
        messages = [m for m in midi.tracks[1] if not m.is_meta]
        controls = [(m.control, m.value) for m in messages if m.type == "control_change"]
        self.assertIn((101, 0), controls)
        self.assertIn((100, 0), controls)
        self.assertIn((6, 60), controls)
        ons = [m for m in messages if m.type == "note_on" and m.velocity > 0]
        offs = [m for m in messages if m.type == "note_off" or (m.type == "note_on" and m.velocity == 0)]
        self.assertGreater(len(ons), 5)
        self.assertEqual(len(ons), len(offs))
        self.assertGreater(len([m for m in messages if m.type == "pitchwheel"]), 100)

    def test_table_prints_positions_names_and_the_output_path(self):
        out = self.path("t.mid")
        result = run("convert", EXAMPLE, "-o", out, "--table")
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.splitlines()
        self.assertIn("start", lines[0])
        first = lines[1].split()
        self.assertRegex(first[1], r"^01:01:\d{3}$")   # the first note starts in the first beat
        self.assertRegex(first[2], r"^00:\d{2}:\d{3}$")
        self.assertEqual(first[3], "G4")
        self.assertIn(out, lines[-1])

    def test_failures_say_why_and_leave_no_output(self):
        out = self.path("never.mid")
        cases = {
            "missing": (self.path("missing.wav"), "cannot be opened"),
            "truncated": (self.path("short.wav"), "too short"),
            "24-bit": (self.path("deep.wav"), "24 bits"),
            "silence": (self.path("silence.wav"), "no sung"),
        }
        with open(EXAMPLE, "rb") as source, open(cases["truncated"][0], "wb") as f:
            f.write(source.read()[:40])
        with wave.open(cases["24-bit"][0], "wb") as w:
            w.setnchannels(1); w.setsampwidth(3); w.setframerate(22050); w.writeframes(b"\0" * 30000)
        write_wav(cases["silence"][0], [0.0] * 22050, 22050)
        for name, (wav, words) in cases.items():
            with self.subTest(name):
                result = run("convert", wav, "-o", out)
                self.assertNotEqual(result.returncode, 0)
                self.assertEqual(len(result.stderr.strip().splitlines()), 1, result.stderr)
                self.assertIn(words, result.stderr)
                self.assertFalse(os.path.exists(out))
                self.assertEqual(os.listdir(self.dir.name).count("never.mid"), 0)

    def test_existing_output_is_kept_without_force(self):
        out = self.path("keep.mid")
        with open(out, "wb") as f:
            f.write(b"precious")
        result = run("convert", EXAMPLE, "-o", out)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("--force", result.stderr)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), b"precious")
        self.assertEqual(run("convert", EXAMPLE, "-o", out, "--force", "--quiet").returncode, 0)
        self.assertEqual(mido.MidiFile(out).type, 1)

    def test_render_sounds_the_notes_and_converts_back_to_the_same_pitches(self):
        out, rendered = self.path("r.mid"), self.path("r.wav")
        result = run("convert", EXAMPLE, "-o", out, "--render", rendered, "--patch", "79", "--quiet")
        self.assertEqual(result.returncode, 0, result.stderr)
        with wave.open(rendered) as w:
            self.assertEqual((w.getnchannels(), w.getsampwidth(), w.getframerate()), (1, 2, 22050))
            self.assertGreater(w.getnframes(), 22050 * 8)
            peak = max(abs(v) for v in struct.unpack(f"<{w.getnframes()}h", w.readframes(w.getnframes())))
        self.assertGreater(peak, 1000)
        self.assertEqual([m.program for m in mido.MidiFile(out).tracks[1] if m.type == "program_change"], [79])
        _, report = self.convert_json(rendered)
        self.assertEqual([n["note"] for n in report["notes"]], [n for n, _ in EXAMPLE_TUNE])

    def test_render_without_a_soundfont_fails_and_leaves_nothing(self):
        out, rendered = self.path("r.mid"), self.path("r.wav")
        env = dict(os.environ, LIRROSA_SOUNDFONT=self.path("missing.sf2"))
        result = subprocess.run([CLI, "convert", EXAMPLE, "-o", out, "--render", rendered, "--quiet"],
                                capture_output=True, text=True, timeout=300, env=env)
        self.assertNotEqual(result.returncode, 0)
        self.assertEqual(len(result.stderr.strip().splitlines()), 1, result.stderr)
        self.assertEqual(os.listdir(self.dir.name), [])

    def test_usage_errors(self):
        for args in (["convert"], ["convert", EXAMPLE, "--tpqn", "10"], ["convert", EXAMPLE, "--patch", "128"],
                     ["convert", EXAMPLE, "--bogus"], ["convert", EXAMPLE, "--engine", "fast"],
                     ["convert", EXAMPLE, "--engine"], ["frobnicate"]):
            with self.subTest(args=args):
                result = run(*args)
                self.assertNotEqual(result.returncode, 0)
                self.assertEqual(len(result.stderr.strip().splitlines()), 1, result.stderr)

    def test_precise_engine_gives_the_tune_in_every_output(self):
        out, report = self.convert_json(EXAMPLE, "--engine", "precise")
        self.assert_tune(report, EXAMPLE_TUNE)
        _, notes = midi_notes(out)
        self.assertEqual([(n["start"], n["start"] + n["duration"], n["note"]) for n in report["notes"]],
                         [(s, e, n) for s, e, n, _, _ in notes])
        self.assertTrue(report["summary"]["recognised"])
        # Its raw track lies on the same frame grid as the classic one.
        frames = [f["frame"] for f in report["cleaned"]]
        self.assertEqual(frames, sorted(set(frames)))
        self.assertLess(frames[-1], report["frames"])
        self.assertGreater(len(frames), report["frames"] // 2)

        rendered = self.path("p.wav")
        result = run("convert", EXAMPLE, "-o", self.path("p.mid"), "--engine", "precise", "--table", "--render",
                     rendered, "--patch", "79", "--quiet")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(len([l for l in result.stdout.splitlines() if l.strip()[:1].isdigit()]), len(EXAMPLE_TUNE))
        _, again = self.convert_json(rendered, "--engine", "precise")
        self.assertEqual([n["note"] for n in again["notes"]], [n for n, _ in EXAMPLE_TUNE])

    def test_merge_option_never_adds_notes(self):
        _, merged = self.convert_json(EXAMPLE)
        _, unmerged = self.convert_json(EXAMPLE, "--no-merge")
        self.assertLessEqual(len(merged["notes"]), len(unmerged["notes"]))


if __name__ == "__main__":
    unittest.main()
