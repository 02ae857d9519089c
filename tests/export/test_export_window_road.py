"""The export window driven with real input events (xdotool) on a virtual X display inside
the private sound server: a take of the example melody, EXPORT, Listen and Stop of the
ringtone preview, the RTTTL text saved with Alt+S. Screenshots are kept; the saved text is
read back by a parser of the test's own.

Run by CTest under xvfb-run with LIRROSA_BIN_DIR, LIRROSA_SOURCE_DIR and LIRROSA_ARTIFACTS.
"""

import os
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from desktop import MELODY, MELODY_NOTES, DesktopTestCase, geometry, visible, xdotool  # noqa: E402

NOTE_NAMES = ["c", "c#", "d", "d#", "e", "f", "f#", "g", "g#", "a", "a#", "b"]

# Centres of the controls on the 548 x 290 face.
FILE = (93, 251)
CONVERT = (74, 212)
EXPORT = (413, 214)
# The export window's frame buttons: 75 x 25, 8 pixels from the edges, 6 apart; Listen is
# the third from the right.
LISTEN_FROM_BOTTOM_RIGHT = (8 + 2 * 81 + 37, 8 + 12)


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


class ExportWindowRoad(DesktopTestCase):
    LOG = "export-window.log"

    def test_listen_to_the_ringtone_and_save_its_text(self):
        self.click(FILE)
        self.click(CONVERT)
        self.answer_dialog("Open", MELODY)
        # EXPORT does nothing until the take is recognised; then it opens the window.
        export = None
        deadline = time.monotonic() + 60
        while export is None and time.monotonic() < deadline:
            self.click(EXPORT)
            time.sleep(0.6)
            found = visible(r"^Export to \.\.\.$")
            export = found[-1] if found else None
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
