"""Bad input and failing surroundings: every byte at the menus and in the key
loop, the terminal closed under the program, the sound server killed."""
import os
import re
import signal
import time
import unittest

from fmscope_session import DASH, HELP, OUTPUT_MENU, PROMPT, Session, start_playing
from screen import capture_window
from servers import PrivateJack, PrivatePulse
from test_window import wait_for_picture
from trace_reference import trace_pixels

# Bytes the terminal itself acts on while the program runs (Ctrl-C, Ctrl-\ and
# Ctrl-Z signal, Ctrl-S and Ctrl-Q are flow control): they never reach it.
TERMINAL_BYTES = {0x03, 0x1C, 0x1A, 0x13, 0x11}
ESC = 0x1B


class EveryByte(unittest.TestCase):
    def test_output_menu_takes_only_its_four_keys(self):
        ignored = bytes(b for b in range(256) if b not in TERMINAL_BYTES and b != ESC
                        and not ord("1") <= b <= ord("4"))
        with Session() as s:
            s.expect(re.escape(OUTPUT_MENU))
            s.type([ignored])
            s.settle(0.5)
            self.assertEqual(s.text, OUTPUT_MENU)
            self.assertIsNone(s.process.poll())
            s.type("4")
            s.expect("NoSound Driver list")

    def test_driver_menu_ignores_what_names_no_driver(self):
        # The null output has one driver, '1'.
        ignored = bytes(b for b in range(256) if b not in TERMINAL_BYTES and b not in (ESC, ord("1")))
        with Session() as s:
            s.expect(re.escape(OUTPUT_MENU))
            s.type("4")
            s.expect("Driver list\n.*" + re.escape(DASH + PROMPT) + "$")
            before = s.text
            s.type([ignored])
            s.settle(0.5)
            self.assertEqual(s.text, before)
            s.type("1")
            s.expect(re.escape(HELP))

    def test_key_loop_answers_every_byte(self):
        # Sent in one go, so no ESC is among them (a lone ESC waits for what
        # follows); 0 and 224, the prefixes, pass like any other byte.
        keys = bytes(b for b in range(256) if b not in TERMINAL_BYTES and b != ESC)
        with Session() as s:
            start_playing(s)
            s.type([keys])
            lines = 2 * len(keys)
            s.expect(r"(Freq1\[-?\d+\.\d{6}\]\nFreq2\[-?\d+\.\d{6}\]\n){%d}$" % len(keys), timeout=15)
            self.assertEqual(len(re.findall(r"Freq[12]\[", s.text)), lines)
            self.assertTrue(s.text.endswith("Freq2[1.000000]\n"), "9 and 6 cancel out")
            self.assertIsNone(s.process.poll())


class ClosedTerminal(unittest.TestCase):
    def test_hang_up_ends_the_program_and_restores_nothing_it_cannot(self):
        with Session() as s:
            start_playing(s)
            os.close(s.master)
            self.assertEqual(s.process.wait(timeout=10), -signal.SIGHUP)

    def test_with_hang_up_ignored_it_plays_on_idle(self):
        with Session(preexec=lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN)) as s:
            start_playing(s)
            os.close(s.master)
            time.sleep(1.0)
            self.assertIsNone(s.process.poll(), "still playing")
            before = s.main_thread_cpu_seconds()
            time.sleep(2.0)
            self.assertLess(s.main_thread_cpu_seconds() - before, 0.1, "the key loop does not spin")


class ServerKilled(unittest.TestCase):
    def _plays_on_after_kill(self, server, output_key):
        display = os.environ["DISPLAY"]
        try:
            with Session(env=server.env) as s:
                start_playing(s, output_key)
                wait_for_picture(display, trace_pixels(1.0))
                printed = len(s.text)
                server.kill()
                time.sleep(1.5)
                s.settle(0.2)
                self.assertIsNone(s.process.poll(), "the program keeps running; it printed:\n"
                                  + s.text[printed:])
                s.type("9")
                s.expect(r"Freq2\[2\.000000\]\n$")
                self.assertRegex(s.text[printed:], r"^Freq1\[-?\d+\.\d{6}\]\nFreq2\[2\.000000\]\n$",
                                 "nothing but the key's lines reaches the terminal")
                # The window keeps being redrawn: it follows the new rate.
                wait_for_picture(display, trace_pixels(2.0))
        finally:
            server.kill()

    def test_pulseaudio_killed_while_playing(self):
        self._plays_on_after_kill(PrivatePulse(), "1")

    def test_jack_killed_while_playing(self):
        self._plays_on_after_kill(PrivateJack(), "3")


if __name__ == "__main__":
    unittest.main()
