"""The console front end end to end: the real binary, a pseudo-terminal, Xvfb,
and the PulseAudio and JACK test servers."""
import os
import re
import signal
import subprocess
import tempfile
import time
import unittest

from fmscope_session import DASH, HELP, KEY_UP, OUTPUT_MENU, PROMPT, Session, start_playing

FREQ = r"Freq1\[-?\d+\.\d{6}\]\nFreq2\[%s\]\n"


def freq_lines(lfo):
    return FREQ % re.escape(lfo)


class Dialog(unittest.TestCase):
    def test_whole_transcript_with_null_output(self):
        with Session() as s:
            s.expect(re.escape(OUTPUT_MENU))
            self.assertEqual(s.text, OUTPUT_MENU, "the version check prints nothing when it passes")
            s.type("4")
            s.expect("Driver list\n.*" + re.escape(PROMPT) + "$")
            driver_menu = s.text[len(OUTPUT_MENU):]
            self.assertRegex(driver_menu, "^" + re.escape(DASH + "NoSound Driver list\n" + DASH)
                             + r"1 - [^\n]+\n" + re.escape(DASH + PROMPT) + "$")
            s.type("1")
            s.expect(re.escape(HELP))
            after_menus = s.text[len(OUTPUT_MENU) + len(driver_menu):]
            self.assertTrue(after_menus.endswith(HELP), after_menus)
            self.assertIn("\x1b[2J", after_menus, "clear ran before the help")

            # 9, 6, 6, 8, +, then an arrow key: two characters, two passes.
            expected = ["2.000000", "1.000000", "0.000000", "0.000000", "0.000000", "0.000000", "0.000000"]
            s.type(["9", "6", "6", "8", "+", KEY_UP], pause=0.2)
            s.expect(re.escape(HELP) + "".join(freq_lines(v) for v in expected) + "$")
            s.type("6")
            s.expect(freq_lines("-1.000000") + "$")

    def test_pulseaudio_output_plays_the_tone(self):
        with Session() as s:
            s.expect(re.escape(OUTPUT_MENU))
            s.type("1")
            s.expect(re.escape(DASH + "Direct Sound Driver list\n" + DASH) + r"1 - [^\n]*\n.*"
                     + re.escape(PROMPT) + "$")
            s.type("1")
            s.expect(re.escape(HELP))
            inputs = subprocess.run(["pactl", "list", "short", "sink-inputs"], capture_output=True,
                                    text=True, check=True).stdout
            self.assertTrue(inputs.strip(), "a stream plays on the server")
            recording = subprocess.run(
                ["timeout", "3", "parec", "-d", "fmscope_test.monitor", "--format=s16le",
                 "--rate=44100", "--channels=2", "--raw"], capture_output=True).stdout
            import array
            samples = array.array("h", recording)
            self.assertGreater(len(samples), 44100, "over half a second recorded")
            self.assertTrue(all(v % 100 == 0 for v in samples), "every sample a multiple of 100")
            self.assertGreater(max(samples), 9000)
            self.assertLess(min(samples), -9000)

    def test_jack_output_plays(self):
        with Session() as s:
            s.expect(re.escape(OUTPUT_MENU))
            s.type("3")
            s.expect(re.escape(DASH + "ASIO Driver list\n" + DASH) + r"1 - [^\n]*\n.*" + re.escape(PROMPT) + "$")
            s.type("1")
            s.expect(re.escape(HELP))
            deadline = time.monotonic() + 10
            while True:  # the ports are connected just after the stream starts
                ports = subprocess.run(["jack_lsp", "-c"], capture_output=True, text=True, check=True).stdout
                if re.search(r"system:playback_1\n\s+\S+", ports) or time.monotonic() > deadline:
                    break
                time.sleep(0.1)
            self.assertRegex(ports, r"system:playback_1\n\s+\S+", "connected to the playback ports")
            s.type("9")
            s.expect(freq_lines("2.000000"))

    def test_esc_at_each_menu_ends_with_status_zero(self):
        for keys, last in (([], OUTPUT_MENU), (["4"], PROMPT)):
            with Session() as s:
                s.expect(re.escape(OUTPUT_MENU))
                s.type(keys)
                s.expect((".*Driver list\n.*" if keys else "") + re.escape(last) + "$")
                s.type([b"\x1b"])
                self.assertEqual(s.wait(), 0)
                self.assertTrue(s.text.endswith(last), "nothing printed after ESC")

    def test_menus_ignore_other_keys_and_arrows(self):
        with Session() as s:
            s.expect(re.escape(OUTPUT_MENU))
            s.type(["0", "5", "x", " ", "\r", KEY_UP, b"\x1bOP", "\u00e9"], pause=0.1)
            s.settle(0.3)
            self.assertEqual(s.text, OUTPUT_MENU)
            self.assertIsNone(s.process.poll(), "an arrow key is not ESC")
            s.type("4")
            s.expect("Driver list\n.*" + re.escape(PROMPT) + "$")
            before = s.text
            s.type(["0", "2", "a", KEY_UP], pause=0.1)
            s.settle(0.3)
            self.assertEqual(s.text, before)
            s.type("1")
            s.expect(re.escape(HELP))

    def test_standard_input_is_never_read(self):
        with tempfile.TemporaryFile() as keys:
            keys.write(b"41+99\x1b")
            keys.seek(0)
            with Session(stdin=keys) as s:
                s.expect(re.escape(OUTPUT_MENU))
                s.settle(0.5)
                self.assertEqual(s.text, OUTPUT_MENU, "keys in standard input are not taken")
                start_playing_from_menu(s)
        r, w = os.pipe()
        os.write(w, b"4\n1\n")
        os.close(w)
        with Session(stdin=r) as s:
            os.close(r)
            s.expect(re.escape(OUTPUT_MENU))
            s.settle(0.5)
            self.assertEqual(s.text, OUTPUT_MENU)

    def test_no_display_gives_a_clear_message_and_status_one(self):
        with Session(env={"DISPLAY": None}) as s:
            start_menus(s)
            self.assertEqual(s.wait(), 1)
            self.assertRegex(s.text, re.escape(DASH + PROMPT) + r"Cannot open the 640x480 window: [^\n]+\n$")
            self.assertNotIn(HELP, s.text)


def start_menus(s):
    s.expect(re.escape(OUTPUT_MENU))
    s.type("4")
    s.expect("Driver list\n.*" + re.escape(PROMPT) + "$")
    s.type("1")


def start_playing_from_menu(s):
    start_menus(s)
    s.expect(re.escape(HELP))


class Terminal(unittest.TestCase):
    def test_settings_restored_after_signals(self):
        for how in ("SIGINT", "SIGTERM", "SIGHUP", "SIGQUIT", "ctrl-c"):
            with self.subTest(how=how), Session() as s:
                before = s.termios_now()
                start_playing(s)
                during = s.termios_now()
                self.assertNotEqual(during, before, "keys are read without echo while it runs")
                if how == "ctrl-c":
                    s.type([b"\x03"])
                    status = s.wait()
                    signum = signal.SIGINT
                else:
                    signum = getattr(signal, how)
                    status = s.signal(signum)
                self.assertEqual(status, -signum, "ended by the signal itself")
                self.assertEqual(s.termios_now(), before)

    def test_settings_restored_after_esc(self):
        with Session() as s:
            before = s.termios_now()
            s.expect(re.escape(OUTPUT_MENU))
            s.type([b"\x1b"])
            self.assertEqual(s.wait(), 0)
            self.assertEqual(s.termios_now(), before)

    def test_main_thread_sleeps_while_no_key_is_pressed(self):
        with Session() as s:
            start_playing(s)
            s.settle(0.5)
            before = s.main_thread_cpu_seconds()
            s.settle(2.0)
            # A spinning loop would spend 2 s here; a sleeping one spends none.
            self.assertLess(s.main_thread_cpu_seconds() - before, 0.05)


if __name__ == "__main__":
    unittest.main()
