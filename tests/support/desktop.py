"""The desktop program driven as a person drives it: real input events (xdotool) on the
virtual X display that CTest starts with xvfb-run, the program started on a registry of the
test's own, and screenshots kept in LIRROSA_ARTIFACTS.

The tests that use it run with LIRROSA_BIN_DIR, LIRROSA_SOURCE_DIR and LIRROSA_ARTIFACTS set.
"""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

from PIL import Image

BIN = os.environ["LIRROSA_BIN_DIR"]
SOURCE = os.environ["LIRROSA_SOURCE_DIR"]
ARTIFACTS = os.environ["LIRROSA_ARTIFACTS"]
MELODY = os.path.join(SOURCE, "examples", "melody.wav")
MELODY_NOTES = [55, 55, 62, 62, 64, 64, 62, 60, 60, 59, 59, 57, 57, 55]


def xdotool(*args):
    return subprocess.run(["xdotool", *args], check=True, capture_output=True, text=True).stdout.strip()


def visible(name):
    """The visible windows whose title matches `name`."""
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                          capture_output=True, text=True).stdout.split()


def find_window(name, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = visible(name)
        if found:
            return found[-1]
        time.sleep(0.1)
    raise AssertionError(f"no window named {name!r} appeared")


def geometry(window):
    values = dict(line.split("=") for line in xdotool("getwindowgeometry", "--shell", window).splitlines())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def window_origin(window):
    return geometry(window)[:2]


class DesktopTestCase(unittest.TestCase):
    """Starts the program on fresh settings of its own; `LOG` names the file its output goes to."""

    LOG = "program.log"

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="lirrosa-desktop-")
        os.makedirs(ARTIFACTS, exist_ok=True)
        self.env = dict(os.environ, LIRROSA_REGISTRY=os.path.join(self.folder, "registry.reg"),
                        QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=self.folder, HOME=self.folder)
        self.env.pop("WAYLAND_DISPLAY", None)
        subprocess.run([os.path.join(BIN, "lirrosa-setup")], check=True, env=self.env, capture_output=True)
        self.log = open(os.path.join(ARTIFACTS, self.LOG), "w")
        self.program = subprocess.Popen([os.path.join(BIN, "lirrosa")], env=self.env,
                                        stdout=self.log, stderr=subprocess.STDOUT)
        self.window = find_window("^Lirrosa$")
        self.origin = window_origin(self.window)

    def tearDown(self):
        if self.program.poll() is None:
            self.program.kill()
            self.program.wait()
        self.log.close()
        shutil.rmtree(self.folder, ignore_errors=True)

    def move(self, x, y):
        xdotool("mousemove", "--sync", str(x), str(y))

    def click_at(self, x, y, button="1"):
        # The pointer comes in first, as a hand does, then presses.
        self.move(x, y - 3)
        self.move(x, y)
        time.sleep(0.15)
        xdotool("click", button)
        time.sleep(0.4)

    def click(self, at, origin=None):
        """A click at `at` on the main window, or on the window whose top-left corner is `origin`."""
        x, y = origin if origin is not None else self.origin
        self.click_at(x + at[0], y + at[1])

    def screenshot(self, name):
        path = os.path.join(ARTIFACTS, name)
        subprocess.run([os.path.join(BIN, "lirrosa-screenshot"), path], check=True, env=self.env)
        return Image.open(path).convert("RGB")

    def face(self, picture):
        """The main window's 548 x 290 face in a screenshot."""
        x, y = self.origin
        return picture.crop((x, y, x + 548, y + 290))

    def wait_for(self, name, condition, timeout, crop=None):
        """Screenshots until `condition` holds for the picture (the main window's face unless
        `crop` says otherwise); the last one is kept as `name`."""
        crop = crop or self.face
        deadline = time.monotonic() + timeout
        while True:
            picture = crop(self.screenshot(name))
            if condition(picture):
                return picture
            if time.monotonic() > deadline:
                raise AssertionError(f"{name}: the window did not get there within {timeout} s")
            time.sleep(0.3)

    def answer_dialog(self, title, path):
        """Types `path` into the file dialog titled `title` and accepts it."""
        dialog = find_window(f"^{title}$")
        xdotool("windowfocus", "--sync", dialog)
        time.sleep(0.3)
        xdotool("key", "--clearmodifiers", "ctrl+a")
        xdotool("type", "--delay", "5", path)
        xdotool("key", "Return")
        time.sleep(0.5)

    def stored_settings(self):
        with open(self.env["LIRROSA_REGISTRY"], encoding="utf-8") as registry:
            return registry.read().lower()
