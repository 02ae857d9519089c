"""The settings dialog driven with real input events (xdotool) on a virtual X display: opened
from the main window's SETTINGS button, a check box ticked and stored with "Set Default" on
the General page, letters and a new tempo typed on the MIDI page and stored, the dialog closed
with the same button; the stored values are read back from the registry file after the program
ends. Screenshots are kept.

Run by CTest under xvfb-run with LIRROSA_BIN_DIR, LIRROSA_SOURCE_DIR and LIRROSA_ARTIFACTS.
"""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

from test_road_of_one_take import find_window, window_origin, xdotool

BIN = os.environ["LIRROSA_BIN_DIR"]
ARTIFACTS = os.environ["LIRROSA_ARTIFACTS"]

SETTINGS = (479, 251)  # the main window's SETTINGS button
# Places on the dialog (222 x 331, without its frame).
MIDI_PAGE = (160, 10)
DONT_REMIND = (18, 117)
TEMPO = (170, 274)
SET_DEFAULT = (48, 316)


def visible(name):
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                          capture_output=True, text=True).stdout.split()


class SettingsDialog(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="lirrosa-settings-")
        os.makedirs(ARTIFACTS, exist_ok=True)
        self.env = dict(os.environ, LIRROSA_REGISTRY=os.path.join(self.folder, "registry.reg"),
                        QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=self.folder, HOME=self.folder)
        self.env.pop("WAYLAND_DISPLAY", None)
        subprocess.run([os.path.join(BIN, "lirrosa-setup")], check=True, env=self.env, capture_output=True)
        self.log = open(os.path.join(ARTIFACTS, "settings-dialog.log"), "w")
        self.program = subprocess.Popen([os.path.join(BIN, "lirrosa")], env=self.env,
                                        stdout=self.log, stderr=subprocess.STDOUT)
        self.window = find_window("^Lirrosa$")

    def tearDown(self):
        if self.program.poll() is None:
            self.program.kill()
            self.program.wait()
        self.log.close()
        shutil.rmtree(self.folder, ignore_errors=True)

    def click(self, origin, at):
        x, y = origin[0] + at[0], origin[1] + at[1]
        xdotool("mousemove", "--sync", str(x), str(y - 3))
        xdotool("mousemove", "--sync", str(x), str(y))
        time.sleep(0.15)
        xdotool("click", "1")
        time.sleep(0.3)

    def screenshot(self, name):
        subprocess.run([os.path.join(BIN, "lirrosa-screenshot"), os.path.join(ARTIFACTS, name)],
                       check=True, env=self.env)

    def stored(self):
        with open(self.env["LIRROSA_REGISTRY"], encoding="utf-8") as registry:
            return registry.read().lower()

    def test_a_value_changed_in_the_dialog_is_stored_by_set_default(self):
        main = window_origin(self.window)
        self.click(main, SETTINGS)
        dialog = window_origin(find_window(r"^Settings\.\.\.$"))
        self.screenshot("1-general.png")

        self.click(dialog, DONT_REMIND)
        self.click(dialog, SET_DEFAULT)
        self.click(dialog, MIDI_PAGE)
        self.click(dialog, TEMPO)
        xdotool("key", "--clearmodifiers", "End")
        for _ in range(3):
            xdotool("key", "BackSpace")
        xdotool("type", "--delay", "20", "x9y5")
        time.sleep(0.3)
        self.screenshot("2-midi.png")
        self.click(dialog, SET_DEFAULT)

        self.click(main, SETTINGS)
        time.sleep(0.3)
        self.assertEqual(visible(r"^Settings\.\.\.$"), [], "the dialog did not close")
        self.screenshot("3-closed.png")

        xdotool("windowfocus", "--sync", self.window)
        xdotool("key", "ctrl+q")
        self.assertEqual(self.program.wait(timeout=20), 0)
        text = self.stored()
        self.assertIn('"disablesaverem"=dword:00000001', text)
        self.assertIn('"tempo"=dword:0000005f', text)


if __name__ == "__main__":
    unittest.main()
