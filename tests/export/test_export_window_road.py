"""The export window driven with real input events (xdotool) on a virtual X display inside
the private sound server: a take of the example melody, EXPORT, Listen and Stop of the
ringtone preview, the RTTTL text saved with Alt+S. Screenshots are kept; the saved text is
read back by a parser of the test's own.

Run by CTest under xvfb-run with LIRROSA_BIN_DIR, LIRROSA_SOURCE_DIR and LIRROSA_ARTIFACTS.
"""

import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

BIN = os.environ["LIRROSA_BIN_DIR"]
SOURCE = os.environ["LIRROSA_SOURCE_DIR"]
ARTIFACTS = os.environ["LIRROSA_ARTIFACTS"]
MELODY = os.path.join(SOURCE, "examples", "melody.wav")
MELODY_NOTES = [55, 55, 62, 62, 64, 64, 62, 60, 60, 59, 59, 57, 57, 55]
NOTE_NAMES = ["c", "c#", "d", "d#", "e", "f", "f#", "g", "g#", "a", "a#", "b"]

# Centres of the controls on the 548 x 290 face.
FILE = (93, 251)
CONVERT = (74, 212)
EXPORT = (413, 214)
# The export window's frame buttons: 75 x 25, 8 pixels from the edges, 6 apart; Listen is
# the third from the right.
LISTEN_FROM_BOTTOM_RIGHT = (8 + 2 * 81 + 37, 8 + 12)


def xdotool(*args):
    return subprocess.run(["xdotool", *args], check=True, capture_output=True, text=True).stdout.strip()


def find_window(name, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                               capture_output=True, text=True).stdout.split()
        if found:
            return found[-1]
        time.sleep(0.1)
    return None


def geometry(window):
    values = dict(line.split("=") for line in xdotool("getwindowgeometry", "--shell", window).splitlines())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def pitch_classes(text):
    """The pitch classes of an RTTTL text's notes, repeats in a row collapsed."""
    name, defaults, notes = text.strip().split(":")
    assert name and re.fullmatch(r"d=\d+,o=\d,b=\d+,s=[ncs],l=\d+", defaults), text
    classes = []
    for command in notes.split(","):
        match = re.fullmatch(r"(1|2|4|8|16|32)?(p|[a-g]#?)([4-7])?", command)
        assert match, command
        if match.group(2) != "p" and (not classes or classes[-1] != NOTE_NAMES.index(match.group(2))):
            classes.append(NOTE_NAMES.index(match.group(2)))
    return classes


class ExportWindowRoad(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="lirrosa-export-road-")
        os.makedirs(ARTIFACTS, exist_ok=True)
        self.env = dict(os.environ, LIRROSA_REGISTRY=os.path.join(self.folder, "registry.reg"),
                        QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=self.folder, HOME=self.folder)
        self.env.pop("WAYLAND_DISPLAY", None)
        subprocess.run([os.path.join(BIN, "lirrosa-setup")], check=True, env=self.env, capture_output=True)
        self.log = open(os.path.join(ARTIFACTS, "export-window.log"), "w")
        self.program = subprocess.Popen([os.path.join(BIN, "lirrosa")], env=self.env,
                                        stdout=self.log, stderr=subprocess.STDOUT)
        self.window = find_window("^Lirrosa$")
        self.assertIsNotNone(self.window)
        self.origin = geometry(self.window)[:2]

    def tearDown(self):
        if self.program.poll() is None:
            self.program.kill()
            self.program.wait()
        self.log.close()
        shutil.rmtree(self.folder, ignore_errors=True)

    def click_at(self, x, y):
        xdotool("mousemove", "--sync", str(x), str(y - 3))
        xdotool("mousemove", "--sync", str(x), str(y))
        time.sleep(0.15)
        xdotool("click", "1")
        time.sleep(0.3)

    def click(self, at):
        self.click_at(self.origin[0] + at[0], self.origin[1] + at[1])

    def screenshot(self, name):
        subprocess.run([os.path.join(BIN, "lirrosa-screenshot"), os.path.join(ARTIFACTS, name)],
                       check=True, env=self.env)

    def answer_dialog(self, title, path):
        dialog = find_window(f"^{title}$")
        self.assertIsNotNone(dialog, title)
        xdotool("windowfocus", "--sync", dialog)
        time.sleep(0.3)
        xdotool("key", "--clearmodifiers", "ctrl+a")
        xdotool("type", "--delay", "5", path)
        xdotool("key", "Return")
        time.sleep(0.5)

    def test_listen_to_the_ringtone_and_save_its_text(self):
        self.click(FILE)
        self.click(CONVERT)
        self.answer_dialog("Open", MELODY)
        # EXPORT does nothing until the take is recognised; then it opens the window.
        export = None
        deadline = time.monotonic() + 60
        while export is None and time.monotonic() < deadline:
            self.click(EXPORT)
            export = find_window(r"^Export to \.\.\.$", timeout=1)
        self.assertIsNotNone(export, "the export window did not open")
        time.sleep(0.5)
        self.screenshot("export-1-open.png")

        x, y, width, height = geometry(export)
        listen = (x + width - LISTEN_FROM_BOTTOM_RIGHT[0], y + height - LISTEN_FROM_BOTTOM_RIGHT[1])
        self.click_at(*listen)
        time.sleep(1.5)
        self.screenshot("export-2-listen.png")
        self.click_at(*listen)
        self.assertIsNone(self.program.poll())

        saved = os.path.join(self.folder, "tune.rtttl")
        xdotool("windowfocus", "--sync", export)
        time.sleep(0.3)
        xdotool("key", "alt+s")
        self.answer_dialog("Save the RTTTL text", saved)
        deadline = time.monotonic() + 15
        while not os.path.exists(saved) and time.monotonic() < deadline:
            time.sleep(0.2)
        self.screenshot("export-3-saved.png")
        with open(saved, encoding="utf-8") as file:
            text = file.read()
        self.assertTrue(text.startswith("melody:"), text)
        expected = []
        for note in MELODY_NOTES:
            if not expected or expected[-1] != note % 12:
                expected.append(note % 12)
        self.assertEqual(pitch_classes(text), expected)

        xdotool("windowfocus", "--sync", self.window)
        xdotool("key", "ctrl+q")
        self.assertEqual(self.program.wait(timeout=20), 0)


if __name__ == "__main__":
    unittest.main()
