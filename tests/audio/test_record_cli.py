"""End-to-end tests of `lirrosa-cli record`, `play` and `devices`.

The tests with --input run anywhere. Those on a sound server need PULSE_SERVER, as set by
scripts/with-sound-server.sh (default input: the monitor of the null sink "micsink", so
whatever is played into micsink is what gets recorded); without it they are skipped.
"""

import os
import signal
import struct
import subprocess
import tempfile
import time
import unittest
import wave
from pathlib import Path

CLI = os.environ["LIRROSA_CLI"]
SOURCE_DIR = Path(os.environ["LIRROSA_SOURCE_DIR"])
MELODY = SOURCE_DIR / "examples" / "melody.wav"
NO_SERVER = {"PULSE_SERVER": "unix:/nonexistent/lirrosa/native"}


def run(*args, env=None, timeout=120):
    return subprocess.run([CLI, *map(str, args)], capture_output=True, text=True, timeout=timeout,
                          env={**os.environ, **(env or {})})


def note_names(table):
    """The note column of a printed note table."""
    names = []
    for line in table.splitlines():
        fields = line.split()
        if len(fields) >= 6 and fields[0].isdigit():
            names.append(fields[3])
    return names


def wav_seconds(path):
    with wave.open(str(path)) as w:
        return w.getnframes() / w.getframerate()


class RecordFromFile(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.take = Path(self.dir.name) / "take.wav"

    def tearDown(self):
        self.dir.cleanup()

    def test_records_in_real_time_writes_the_take_and_its_notes(self):
        started = time.monotonic()
        result = run("record", "--input", MELODY, "-o", self.take, "--seconds", 3)
        elapsed = time.monotonic() - started
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertGreater(elapsed, 2.5, "the file is played in real time")
        self.assertAlmostEqual(wav_seconds(self.take), 3.0, places=2)
        self.assertTrue(self.take.with_suffix(".mid").exists())
        self.assertIn("Take written", result.stdout)
        self.assertEqual(note_names(result.stdout)[:4], ["G4", "G4", "D5", "D5"])
        self.assertIn("MIDI file written", result.stdout)

        # The recorded samples are the file's, from its start.
        with wave.open(str(self.take)) as recorded, wave.open(str(MELODY)) as original:
            self.assertEqual(recorded.getparams()[:3], original.getparams()[:3])
            frames = recorded.readframes(recorded.getnframes())
            # The file's reader skips the first 16 bytes of its data chunk.
            original.readframes(8)
            self.assertEqual(frames, original.readframes(len(frames) // 2))

    def test_whole_file_ends_the_take_by_itself(self):
        result = run("record", "--input", MELODY, "-o", self.take, "--quiet")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(note_names(result.stdout),
                         note_names(run("convert", MELODY, "-o", Path(self.dir.name) / "m.mid",
                                        "--table", "--quiet").stdout))
        self.assertGreater(wav_seconds(self.take), wav_seconds(MELODY) - 0.2)

    def test_ctrl_c_stops_and_keeps_the_take(self):
        process = subprocess.Popen([CLI, "record", "--input", str(MELODY), "-o", str(self.take)],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        time.sleep(2.5)
        process.send_signal(signal.SIGINT)
        out, err = process.communicate(timeout=60)
        self.assertEqual(process.returncode, 0, err)
        self.assertTrue(1.5 < wav_seconds(self.take) < 4.0, wav_seconds(self.take))
        self.assertIn("MIDI file written", out)

    def test_refusals_leave_nothing_behind(self):
        for args in (["record"], ["record", "-o", self.take, "--seconds", "0"],
                     ["record", "-o", self.take, "--seconds", "61"],
                     ["record", "-o", self.take, "--input", MELODY, "--device", "1"],
                     ["record", "-o", self.take, "--bogus"], ["play"], ["devices", "extra"]):
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(len(result.stderr.strip().splitlines()), 1, result.stderr)
        missing = run("record", "-o", self.take, "--input", Path(self.dir.name) / "missing.wav")
        self.assertEqual(missing.returncode, 1)
        self.assertIn("cannot record from", missing.stderr)
        self.assertFalse(self.take.exists())

    def test_existing_take_is_kept_without_force(self):
        self.take.write_bytes(b"keep me")
        result = run("record", "-o", self.take, "--input", MELODY, "--seconds", 1)
        self.assertEqual(result.returncode, 1)
        self.assertIn("already exists", result.stderr)
        self.assertEqual(self.take.read_bytes(), b"keep me")
        forced = run("record", "-o", self.take, "--input", MELODY, "--seconds", 1, "--force")
        self.assertEqual(forced.returncode, 0, forced.stderr)

    def test_silence_is_recorded_but_has_no_notes(self):
        silence = Path(self.dir.name) / "silence.wav"
        with wave.open(str(silence), "wb") as w:
            w.setnchannels(1)
            w.setsampwidth(2)
            w.setframerate(22050)
            w.writeframes(struct.pack("<22050h", *([0] * 22050)))
        result = run("record", "-o", self.take, "--input", silence, "--quiet")
        self.assertNotEqual(result.returncode, 0)
        self.assertTrue(self.take.exists(), "the take is kept even when it holds no melody")
        self.assertIn("nothing to convert", result.stderr)


class WithoutServer(unittest.TestCase):
    def test_devices_still_lists_the_built_in_synthesiser(self):
        result = run("devices", env=NO_SERVER, timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("none found", result.stdout)
        self.assertIn("MIDI outputs", result.stdout)
        self.assertIn("  0  Auto", result.stdout)

    def test_play_and_record_fail_at_once_with_one_line(self):
        with tempfile.TemporaryDirectory() as folder:
            take = Path(folder) / "take.wav"
            for args in (["play", "--wave", MELODY], ["record", "-o", take, "--seconds", 1]):
                with self.subTest(args=args):
                    started = time.monotonic()
                    result = run(*args, env=NO_SERVER, timeout=30)
                    self.assertLess(time.monotonic() - started, 10)
                    self.assertEqual(result.returncode, 1)
                    self.assertEqual(len(result.stderr.strip().splitlines()), 1, result.stderr)
            self.assertFalse(take.exists())


@unittest.skipUnless(os.environ.get("PULSE_SERVER") or os.environ.get("CI") == "true",
                     "no sound server; run through scripts/with-sound-server.sh")
class WithServer(unittest.TestCase):
    def test_devices_are_listed_with_their_indices(self):
        result = run("devices")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("  0  Default input", result.stdout)
        self.assertIn("  1  Monitor of", result.stdout)
        self.assertIn("  0  Default output", result.stdout)
        self.assertIn("  0  Auto", result.stdout)

    def test_microphone_take_holds_the_sung_melody(self):
        with tempfile.TemporaryDirectory() as folder:
            take = Path(folder) / "take.wav"
            recorder = subprocess.Popen([CLI, "record", "-o", str(take), "--seconds", "12"],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            time.sleep(1.0)
            subprocess.run(["paplay", "-d", "micsink", str(MELODY)], check=True, timeout=60)
            out, err = recorder.communicate(timeout=60)
            self.assertEqual(recorder.returncode, 0, err)
            expected = note_names(run("convert", MELODY, "-o", Path(folder) / "m.mid", "--table",
                                      "--quiet").stdout)
            self.assertEqual(note_names(out), expected)

            started = time.monotonic()
            played = run("play", "--wave", take, "--quiet")
            self.assertEqual(played.returncode, 0, played.stderr)
            self.assertGreater(time.monotonic() - started, wav_seconds(take) - 0.5)


if __name__ == "__main__":
    unittest.main()
