"""The window end to end: screenshots of the running program under Xvfb
compared with an independent reference of the trace."""
import os
import re
import subprocess
import tempfile
import time
import unittest

from fmscope_session import Session, start_playing
from screen import capture_window
from trace_reference import trace_pixels

WHITE, BLACK = 0xFFFFFF, 0x000000


def picture(image):
    """The white pixels of a window image, and the colours found elsewhere."""
    white = {(i % image.width, i // image.width) for i, p in enumerate(image.pixels) if p == WHITE}
    others = {p for p in image.pixels if p not in (WHITE, BLACK)}
    return white, others


def wait_for_picture(display, expected, timeout=10.0):
    """Capture until the window shows `expected` (a redraw may be in flight)."""
    deadline = time.monotonic() + timeout
    white = others = None
    while time.monotonic() < deadline:
        image = capture_window(display)
        if image is not None:
            white, others = picture(image)
            if white == expected and not others:
                return
        time.sleep(0.2)
    raise AssertionError("window never showed the expected trace: %s white pixels (%d expected), "
                         "%d missing, %d extra, other colours %s" % (
                             None if white is None else len(white), len(expected),
                             len(expected - (white or set())), len((white or set()) - expected),
                             sorted(others or [])[:5]))


class Xvfb:
    """A private X server at a chosen depth, on a free display number."""

    def __init__(self, depth):
        number = 600 + os.getpid() % 300
        for _ in range(10):
            self.display = ":%d" % number
            self.process = subprocess.Popen(
                ["Xvfb", self.display, "-screen", "0", "800x600x%d" % depth, "-nolisten", "tcp"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 10
            while self.process.poll() is None and time.monotonic() < deadline:
                if subprocess.run(["xdpyinfo", "-display", self.display], capture_output=True).returncode == 0:
                    return
                time.sleep(0.1)
            self.close()  # that number is taken: try the next
            number += 1
        raise RuntimeError("no Xvfb at depth %d could be started" % depth)

    def close(self):
        self.process.terminate()
        self.process.wait()


class Window(unittest.TestCase):
    def test_trace_on_a_24_bit_display_follows_the_modulation_rate(self):
        display = os.environ["DISPLAY"]
        with Session() as s:
            start_playing(s)
            wait_for_picture(display, trace_pixels(1.0))
            s.type("9")
            s.expect(r"Freq2\[2\.000000\]")
            wait_for_picture(display, trace_pixels(2.0))

    def test_trace_on_a_16_bit_display_is_white_on_black(self):
        server = Xvfb(16)
        try:
            with Session(env={"DISPLAY": server.display}) as s:
                start_playing(s)
                wait_for_picture(server.display, trace_pixels(1.0))
        finally:
            server.close()


if __name__ == "__main__":
    unittest.main()
