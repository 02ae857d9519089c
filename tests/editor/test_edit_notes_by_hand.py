"""The note editor driven as a person drives it, with real input events (xdotool) on a virtual
X display inside the private sound server: a take from a wave file, EDIT, a note dragged up two
rows and the drag undone with Ctrl+Z, another note dragged up one row, the first note split in the
note edit dialog, SAVE AS a MIDI file read back with mido. Screenshots of each moment are kept; each
step waits for what the windows show, so a loaded machine does not fail it.

Run by CTest under xvfb-run with LIRROSA_BIN_DIR, LIRROSA_SOURCE_DIR and LIRROSA_ARTIFACTS.
"""

import os
import sys
import time
import unittest

import mido

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from desktop import MELODY, MELODY_NOTES, DesktopTestCase, find_window, visible, window_origin, xdotool  # noqa: E402

# Centres of the main window's controls on its 548 x 290 face.
MIDI = (183, 252)
FILE = (93, 251)
CONVERT = (74, 212)
SAVE_AS = (345, 211)
FINISH = (345, 249)
EDIT = (413, 251)
# The Split button of the note edit dialog, in its client.
SPLIT = (166, 186)
# The main window's display and the height of its note strip.
DISPLAY = (64, 64, 440, 105)
STRIP = 14

# Pitch-class colours of the notes on the roll.
COLOURS = {55: (255, 255, 153), 57: (0, 255, 255), 62: (255, 9, 255), 63: (52, 182, 20)}


def row_middle(pitch):
    """The middle y of a pitch's row in the editor at its first zoom level (6-pixel rows, the row
    of 60 from 164 to 169)."""
    return 164 - (pitch - 60) * 6 + 3


class EditNotesByHand(DesktopTestCase):
    LOG = "edit-notes.log"

    def editor_crop(self, picture):
        """The editor window in a screenshot."""
        x, y = self.editor
        return picture.crop((x, y, x + 684, y + 344))

    def note_marks(self, face):
        """Columns of the main window's note strip that hold a note's mark."""
        left, top, width, _ = DISPLAY
        return sum(1 for x in range(left, left + width)
                   if any(max(p) > 150 and max(p) - min(p) > 90
                          for p in (face.getpixel((x, y)) for y in range(top + 2, top + STRIP))))

    def note_columns(self, picture, pitch):
        """The x of every pixel in the middle of a pitch's row that has the pitch's colour."""
        y = row_middle(pitch)
        return [x for x in range(picture.width) if picture.getpixel((x, y)) == COLOURS[pitch]]

    def drag(self, x, pitch, rows):
        """Presses on a note of `pitch` at column x and drags it `rows` rows up in small steps."""
        ex, ey = self.editor
        y = row_middle(pitch)
        self.move(ex + x, ey + y)
        time.sleep(0.15)
        xdotool("mousedown", "1")
        time.sleep(0.2)
        # The image's top follows the pointer; its middle decides the pitch.
        target = y - 3 - 6 * rows
        for step in range(y, target - 1, -1):
            self.move(ex + x, ey + step)
            time.sleep(0.02)
        time.sleep(0.2)
        xdotool("mouseup", "1")
        time.sleep(0.4)

    def test_drag_undo_split_and_save(self):
        self.click(MIDI)          # no echo: the file is converted at once
        self.click(FILE)
        self.click(CONVERT)
        self.answer_dialog("Open", MELODY)
        self.wait_for("edit-0-recognised.png", lambda face: self.note_marks(face) > 100, 40)
        self.click(FINISH)
        self.click(EDIT)
        editor = find_window("^Edit$")
        self.editor = window_origin(editor)
        self.assertGreaterEqual(self.editor[1], self.origin[1] + 290)

        opened = self.wait_for("edit-1-opened.png", lambda p: self.note_columns(p, 55), 20, crop=self.editor_crop)
        first_x = self.note_columns(opened, 55)[0] + 2

        # The first note dragged two rows up becomes an A, and Ctrl+Z makes it a G again.
        self.drag(first_x, 55, 2)
        dragged = self.wait_for("edit-2-dragged.png", lambda p: first_x in self.note_columns(p, 57), 20,
                                crop=self.editor_crop)
        self.assertNotIn(first_x, self.note_columns(dragged, 55))
        xdotool("windowfocus", "--sync", editor)
        time.sleep(0.3)
        xdotool("key", "--clearmodifiers", "ctrl+z")
        undone = self.wait_for("edit-3-undone.png", lambda p: first_x in self.note_columns(p, 55), 20,
                               crop=self.editor_crop)

        # The first D one row up becomes a D#.
        d_x = self.note_columns(undone, 62)[0] + 2
        self.drag(d_x, 62, 1)
        self.wait_for("edit-4-raised.png", lambda p: d_x in self.note_columns(p, 63), 20, crop=self.editor_crop)

        # The first note split at the middle in the note edit dialog.
        self.click_at(self.editor[0] + first_x, self.editor[1] + row_middle(55), "3")
        dialog = find_window("^Edit Note$")
        time.sleep(0.4)
        self.screenshot("edit-5-dialog.png")
        dx, dy = window_origin(dialog)
        self.click_at(dx + SPLIT[0], dy + SPLIT[1])
        self.wait_for("edit-6-split.png", lambda p: not visible("^Edit Note$"), 20, crop=self.editor_crop)

        saved = os.path.join(self.folder, "edited.mid")
        self.click(SAVE_AS)
        self.answer_dialog("Save As", saved)
        self.wait_for("edit-7-saved.png", lambda p: os.path.exists(saved), 20, crop=self.editor_crop)
        notes = [m.note for track in mido.MidiFile(saved).tracks for m in track
                 if m.type == "note_on" and m.velocity > 0]
        expected = [55] + MELODY_NOTES[:2] + [63] + MELODY_NOTES[3:]
        self.assertEqual(notes, expected)

        xdotool("windowfocus", "--sync", self.window)
        xdotool("key", "ctrl+q")
        self.assertEqual(self.program.wait(timeout=20), 0)


if __name__ == "__main__":
    unittest.main()
