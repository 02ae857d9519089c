"""End-to-end tests of `lirrosa-cli ringtone`: the RTTTL text of a sung melody, read back
by a parser written here from the format's grammar, and the request to the reference
ringtone service of tools/ringtone-service on the loopback address.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

CLI = os.environ["LIRROSA_CLI"]
SETUP = os.environ["LIRROSA_SETUP"]
SOURCE = os.environ["LIRROSA_SOURCE_DIR"]
SERVICE = os.environ["LIRROSA_REFERENCE_SERVICE"]
EXAMPLE = os.path.join(SOURCE, "examples", "melody.wav")
EXAMPLE_PITCHES = [55, 55, 62, 62, 64, 64, 62, 60, 60, 59, 59, 57, 57, 55]

NOTE = re.compile(r"^(1|2|4|8|16|32)?([a-gp])(#?)([4-7])?(\.?)$")


def parse_rtttl(text):
    """(name, defaults, [(note number or None, duration)]), note 60 being c5."""
    name, section, notes = text.split(":")
    defaults = dict(item.split("=") for item in section.split(","))
    commands = []
    for item in notes.split(","):
        m = NOTE.match(item)
        if not m:
            raise ValueError("not an RTTTL note: %r" % item)
        duration = int(m.group(1) or defaults["d"])
        if m.group(2) == "p":
            commands.append((None, duration))
        else:
            octave = int(m.group(4) or defaults["o"])
            pitch = "c d ef g a b".index(m.group(2)) + (1 if m.group(3) else 0)
            commands.append((12 * octave + pitch, duration))
    return name, defaults, commands


class RingtoneCommand(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="lirrosa-ringtone-")
        cls.env = dict(os.environ, LIRROSA_REGISTRY=os.path.join(cls.dir, "registry.reg"))
        subprocess.run([SETUP], env=cls.env, check=True, capture_output=True)
        cls.service = subprocess.Popen([sys.executable, SERVICE], stdout=subprocess.PIPE, text=True)
        line = cls.service.stdout.readline()
        cls.host = re.search(r"http://(127\.0\.0\.1:\d+)", line).group(1)

    @classmethod
    def tearDownClass(cls):
        cls.service.terminate()
        cls.service.wait()
        shutil.rmtree(cls.dir)

    def run_cli(self, *args, env=None):
        return subprocess.run([CLI, "ringtone"] + list(args), env=env or self.env, capture_output=True, text=True,
                              timeout=120)

    def configure(self, url, uri="/rtc", options=1):
        for key, value in (("url", url), ("uri", uri), ("DelivOpt", str(options))):
            subprocess.run([CLI, "settings", "set", key, value], env=self.env, check=True, capture_output=True)

    def setting(self, key):
        return subprocess.run([CLI, "settings", "get", key], env=self.env, check=True, capture_output=True,
                              text=True).stdout.strip()

    def test_example_gives_its_tune_note_for_note(self):
        result = self.run_cli(EXAMPLE)
        self.assertEqual(result.returncode, 0, result.stderr)
        name, defaults, commands = parse_rtttl(result.stdout.strip())
        self.assertEqual(name, "melody")
        self.assertEqual(defaults, {"d": "8", "o": "4", "b": "125", "s": "n", "l": "0"})
        self.assertEqual([pitch for pitch, _ in commands if pitch is not None], EXAMPLE_PITCHES)
        # A ringtone value lies between half the sung length and that length plus a 64th:
        # each note with its rest against the sung note and breath (0.52 s or 0.97 s at
        # 120 beats per minute), the last note against its own 0.9 s.
        spans, count = [], 0.0
        for pitch, duration in commands:
            if pitch is not None and count:
                spans.append(count)
                count = 0.0
            count += 4.0 / duration
        spans.append(count)
        sung = [1.04] * 6 + [1.94] + [1.04] * 6 + [1.8]
        for got, want in zip(spans, sung):
            self.assertTrue(want / 2 <= got <= want * 1.1 + 1 / 16, (spans, sung))

    def test_midi_file_gives_the_same_text_and_options_change_it(self):
        midi = os.path.join(self.dir, "melody.mid")
        subprocess.run([CLI, "convert", EXAMPLE, "-o", midi, "--force", "--quiet"], env=self.env, check=True,
                       capture_output=True)
        from_wav = self.run_cli(EXAMPLE).stdout
        self.assertEqual(self.run_cli(midi).stdout, from_wav)
        named = self.run_cli(midi, "--name", "My: tune", "--tempo", "150").stdout
        self.assertTrue(named.startswith("My tune:d=8,o=4,b=140,s=n,l=0:"), named)
        self.assertEqual(named.split(":")[2], from_wav.split(":")[2])

    def test_output_file_is_kept_without_force(self):
        out = os.path.join(self.dir, "tune.rtttl")
        first = self.run_cli(EXAMPLE, "-o", out, "--tempo", "900")
        self.assertEqual(first.returncode, 0, first.stderr)
        with open(out) as f:
            text = f.read()
        self.assertTrue(text.startswith("melody:d=8,o=4,b=900,") and text.endswith("\n"), text)
        again = self.run_cli(EXAMPLE, "-o", out)
        self.assertEqual(again.returncode, 1)
        self.assertIn("--force", again.stderr)
        with open(out) as f:
            self.assertEqual(f.read(), text)
        self.assertEqual(self.run_cli(EXAMPLE, "-o", out, "--force").returncode, 0)

    def test_bad_input_and_usage(self):
        silent = os.path.join(self.dir, "not-a-wave.wav")
        with open(silent, "wb") as f:
            f.write(b"RIFF0000WAVEjunk")
        failed = self.run_cli(silent, "-o", os.path.join(self.dir, "none.rtttl"))
        self.assertEqual(failed.returncode, 1)
        self.assertTrue(failed.stderr.startswith("lirrosa-cli: cannot make a ringtone of"), failed.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "none.rtttl")))
        for args in ([], [EXAMPLE, "--tempo", "20"], [EXAMPLE, "--name", "x" * 16], [EXAMPLE, "--mail", "a@b"],
                     [EXAMPLE, "--dotted"]):
            self.assertEqual(self.run_cli(*args).returncode, 2, args)

    def test_send_delivers_and_stores_what_was_sent(self):
        self.configure(self.host, "/rtc?dvropt=5&update=New%23%23version")
        mail, phone = "secret.person+tag@example.org", "13055551234"
        result = self.run_cli(EXAMPLE, "--send", "--mail", mail, "--phone", phone, "--name", "A&B")
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn("does not offer delivery by SMS", result.stderr)

        result = self.run_cli(EXAMPLE, "--send", "--mail", mail, "--name", "A&B")
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.splitlines()
        self.assertTrue(lines[1].startswith("A&B:d=8,o=4,b=125,s=n,l=0:"), result.stdout)
        self.assertIn("Delivery by e-mail (RTTTL)", result.stdout)
        self.assertIn("New\n\tversion", result.stdout)
        self.assertEqual(self.setting("DelivOpt"), "5")
        self.assertEqual(self.setting("LastMailTo"), mail)

        # DelivOpt 5 offers SMS; the address last sent is used again.
        self.configure(self.host, options=5)
        result = self.run_cli(EXAMPLE, "--send", "--phone", phone, "--dotted")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Delivery by e-mail (RTTTL) and SMS, dotted notes allowed", result.stdout)
        self.assertEqual(self.setting("PhoneNumber"), phone)
        for output in (result.stdout, result.stderr):
            self.assertNotIn(mail, output)
            self.assertNotIn(phone, output)

    def test_send_failures_say_why(self):
        self.configure("", "/rtc")
        result = self.run_cli(EXAMPLE, "--send", "--mail", "u@example.org")
        self.assertEqual(result.returncode, 1)
        self.assertIn("the settings' url is empty", result.stderr)
        self.configure(self.host, "/rtc", options=7)
        cases = [
            ([ "--mail", "@example.org"], "Please enter valid email address!"),
            (["--mail", "u@example.org", "--phone", "1305555"], "Please enter valid Phone Number!"),
            (["--mail", "u@example.org", "--phone", "1305 555 1234"], "Please enter valid Phone Number!"),
        ]
        for args, message in cases:
            result = self.run_cli(EXAMPLE, "--send", *args)
            self.assertEqual(result.returncode, 1, args)
            self.assertIn(message, result.stderr)
        answers = [("answer=err", "did not take the request"), ("answer=status500", "Error: Network error"),
                   ("answer=garbage", "not a ringtone answer"), ("answer=norsp", "did not take the request")]
        for query, message in answers:
            self.configure(self.host, "/rtc?" + query, options=7)
            result = self.run_cli(EXAMPLE, "--send", "--mail", "u@example.org")
            self.assertEqual(result.returncode, 1, query)
            self.assertIn(message, result.stderr, query)
        self.assertIn("Unknowing Error", result.stdout)

        unset = dict(self.env, LIRROSA_REGISTRY=os.path.join(self.dir, "none", "registry.reg"))
        result = self.run_cli(EXAMPLE, "--send", env=unset)
        self.assertEqual(result.returncode, 1)
        self.assertIn("Please run Lirrosa Setup", result.stderr)


if __name__ == "__main__":
    unittest.main()
