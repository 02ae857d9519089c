"""The settings dialog driven with real input events (xdotool) on a virtual X display: opened
from the main window's SETTINGS button, a check box ticked and stored with "Set Default" on
the General page, letters and a new tempo typed on the MIDI page and stored, the dialog closed
with the same button; the stored values are read back from the registry file after the program
ends. Screenshots are kept.

Run by CTest under xvfb-run with LIRROSA_BIN_DIR, LIRROSA_SOURCE_DIR and LIRROSA_ARTIFACTS.
"""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from desktop import DesktopTestCase, find_window, visible, window_origin, xdotool  # noqa: E402

SETTINGS = (479, 251)  # the main window's SETTINGS button
# Places on the dialog (222 x 331, without its frame).
MIDI_PAGE = (160, 10)
DONT_REMIND = (18, 117)
TEMPO = (170, 274)
SET_DEFAULT = (48, 316)


class SettingsDialog(DesktopTestCase):
    LOG = "settings-dialog.log"

    def test_a_value_changed_in_the_dialog_is_stored_by_set_default(self):
        main = window_origin(self.window)
        self.click(SETTINGS, main)
        dialog = window_origin(find_window(r"^Settings\.\.\.$"))
        self.screenshot("1-general.png")

        self.click(DONT_REMIND, dialog)
        self.click(SET_DEFAULT, dialog)
        self.click(MIDI_PAGE, dialog)
        self.click(TEMPO, dialog)
        xdotool("key", "--clearmodifiers", "End")
        for _ in range(3):
            xdotool("key", "BackSpace")
        xdotool("type", "--delay", "20", "x9y5")
        time.sleep(0.3)
        self.screenshot("2-midi.png")
        self.click(SET_DEFAULT, dialog)

        self.click(SETTINGS, main)
        time.sleep(0.3)
        self.assertEqual(visible(r"^Settings\.\.\.$"), [], "the dialog did not close")
        self.screenshot("3-closed.png")

        xdotool("windowfocus", "--sync", self.window)
        xdotool("key", "ctrl+q")
        self.assertEqual(self.program.wait(timeout=20), 0)
        text = self.stored_settings()
        self.assertIn('"disablesaverem"=dword:00000001', text)
        self.assertIn('"tempo"=dword:0000005f', text)


if __name__ == "__main__":
    unittest.main()
