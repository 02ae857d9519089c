"""The desktop program driven as a person drives it, with real input events (xdotool) on a
virtual X display inside the private sound server: FILE, CONVERT, the file chosen in the
open dialog, the voice diagram filling, STOP, FINISH, PLAY of the notes, SAVE AS a MIDI
file, and Ctrl+Q. Screenshots of each moment are kept; the saved file is read back with mido.

Two more tests install the program into a temporary prefix: the installation holds every
file the program opens (programs, data, skin, help, icons, menu entry), and the installed
program started as a new user does, without settings, asks to create them and comes up.

Run by CTest under xvfb-run with LIRROSA_BIN_DIR, LIRROSA_BUILD_DIR, LIRROSA_SOURCE_DIR and
LIRROSA_ARTIFACTS.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import mido
from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from desktop import ARTIFACTS, BIN, MELODY, MELODY_NOTES, SOURCE, DesktopTestCase, find_window, xdotool  # noqa: E402

# Centres of the controls on the 548 x 290 face.
FILE = (93, 251)
CONVERT = (74, 212)
STOP = (136, 212)
PLAY = (198, 211)
SAVE_AS = (345, 211)
FINISH = (345, 249)
PLAY_NOTES = (45, 69)
DISPLAY = (64, 64, 440, 105)


class RoadOfOneTake(DesktopTestCase):
    LOG = "road-of-one-take.log"

    def coloured_columns(self, face, top=16, bottom=2):
        """Columns of the display that hold bright, saturated pixels between `top` and `bottom`
        (level bars below the note strip by default)."""
        left, display_top, width, height = DISPLAY
        columns = 0
        for x in range(left, left + width):
            for y in range(display_top + top, display_top + height - bottom):
                r, g, b = face.getpixel((x, y))
                if max(r, g, b) > 150 and max(r, g, b) - min(r, g, b) > 90:
                    columns += 1
                    break
        return columns

    def note_marks(self, face):
        """Columns of the note strip that hold a recognised note's mark."""
        return self.coloured_columns(face, top=2, bottom=105 - 14)

    def test_a_take_from_a_wave_file_becomes_a_midi_file(self):
        start = self.face(self.screenshot("1-start.png"))
        # The shaped face: the corners outside the rounded outline show the white root window.
        self.assertEqual(start.getpixel((1, 1)), (255, 255, 255))
        self.assertEqual(start.getpixel((546, 288)), (255, 255, 255))
        self.assertNotEqual(start.getpixel((274, 30)), (255, 255, 255))
        self.assertEqual(self.coloured_columns(start), 0)

        self.click(FILE)
        self.click(CONVERT)
        self.answer_dialog("Open", MELODY)
        # The take runs at the pace of its MIDI echo (8.8 s): the diagram fills as it goes,
        # and the recognised notes appear along the top strip when it ends.
        during = self.wait_for("2-take.png", lambda face: self.coloured_columns(face) > 60, 30)
        self.assertEqual(self.note_marks(during), 0)
        after = self.wait_for("3-recognised.png", lambda face: self.note_marks(face) > 100, 40)
        self.assertGreater(self.coloured_columns(after), self.coloured_columns(during))
        self.click(STOP)

        self.click(FINISH)
        self.click(PLAY_NOTES)
        self.click(PLAY)
        time.sleep(2)
        self.screenshot("4-playback.png")
        self.click(STOP)

        saved = os.path.join(self.folder, "take.mid")
        self.click(SAVE_AS)
        self.answer_dialog("Save As", saved)
        self.wait_for("5-saved.png", lambda face: os.path.exists(saved), 15)
        notes = [m.note for track in mido.MidiFile(saved).tracks for m in track
                 if m.type == "note_on" and m.velocity > 0]
        self.assertEqual(notes, MELODY_NOTES)

        xdotool("windowfocus", "--sync", self.window)
        xdotool("key", "ctrl+q")
        self.assertEqual(self.program.wait(timeout=20), 0)
        self.assertIn('"left"=dword:', self.stored_settings())


class FirstStartOfANewUser(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="lirrosa-first-")
        os.makedirs(ARTIFACTS, exist_ok=True)
        self.prefix = os.path.join(self.folder, "prefix")
        subprocess.run(["cmake", "--install", os.environ["LIRROSA_BUILD_DIR"], "--prefix", self.prefix],
                       check=True, capture_output=True)
        self.env = dict(os.environ, LIRROSA_REGISTRY=os.path.join(self.folder, "config", "registry.reg"),
                        QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=self.folder, HOME=self.folder)

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def answer_box(self, title):
        box = find_window(f"^{title}$")
        xdotool("windowfocus", "--sync", box)
        time.sleep(0.3)
        xdotool("key", "Return")
        time.sleep(0.3)

    def test_the_installation_holds_every_file_the_program_opens(self):
        share = os.path.join(self.prefix, "share")
        for program in ("lirrosa", "lirrosa-cli", "lirrosa-setup"):
            self.assertTrue(os.access(os.path.join(self.prefix, "bin", program), os.X_OK), program)
        # The instrument list, the skin's pictures and the help topics, as they ship.
        for folder in ("data", "skins", "Help"):
            for root, dirs, files in os.walk(os.path.join(SOURCE, folder)):
                dirs[:] = [d for d in dirs if d != "icons"]
                for name in files:
                    if name.endswith(".desktop"):
                        continue
                    relative = os.path.relpath(os.path.join(root, name), SOURCE)
                    self.assertTrue(os.path.isfile(os.path.join(share, "lirrosa", relative)), relative)
        icons = os.path.join(share, "icons", "hicolor")
        self.assertTrue(os.path.isfile(os.path.join(icons, "scalable", "apps", "lirrosa.svg")))
        for size in (16, 32, 48, 64, 128, 256):
            with Image.open(os.path.join(icons, f"{size}x{size}", "apps", "lirrosa.png")) as icon:
                self.assertEqual(icon.size, (size, size))
        with open(os.path.join(share, "applications", "lirrosa.desktop"), encoding="utf-8") as entry:
            self.assertIn("Icon=lirrosa\n", entry.read())

    def test_the_installed_program_creates_the_settings_and_starts(self):
        with open(os.path.join(self.prefix, "share", "applications", "lirrosa.desktop"), encoding="utf-8") as entry:
            command = [line[5:].strip() for line in entry if line.startswith("Exec=")][0]
        self.assertEqual(command, os.path.join(self.prefix, "bin", "lirrosa"))
        program = subprocess.Popen([command], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.answer_box("Error")      # "Please run Lirrosa Setup"
            self.answer_box("Lirrosa")    # create the settings now? Yes
            window = find_window("^Lirrosa$")
            time.sleep(0.5)
            subprocess.run([os.path.join(BIN, "lirrosa-screenshot"), os.path.join(ARTIFACTS, "first-start.png")],
                           check=True, env=self.env)
            with open(self.env["LIRROSA_REGISTRY"], encoding="utf-8") as registry:
                text = registry.read()
            self.assertIn(os.path.join(self.prefix, "share", "lirrosa") + "/", text)
            xdotool("windowfocus", "--sync", window)
            xdotool("key", "ctrl+q")
            self.assertEqual(program.wait(timeout=20), 0)
        finally:
            if program.poll() is None:
                program.kill()
                program.wait()


if __name__ == "__main__":
    unittest.main()
