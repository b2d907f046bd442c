"""Drive the real fmscope binary on a pseudo-terminal, as a person at a terminal would.

The pseudo-terminal becomes the child's controlling terminal, so the program's
/dev/tty is the terminal the test types into and reads from.
"""
import fcntl
import os
import re
import select
import signal
import subprocess
import termios
import time

BINARY = os.environ.get("FMSCOPE_BINARY", "build/fmscope")
DASH = "-" * 57 + "\n"
PROMPT = "Press a corresponding number or ESC to quit\n"
OUTPUT_MENU = (DASH + "Output Type\n" + DASH + "1 - Direct Sound\n" + "2 - Windows Multimedia Waveout\n"
               + "3 - ASIO\n" + "4 - NoSound\n" + DASH + PROMPT)
HELP = "8 9 - Freq LFO\n + - Freq Osc\n"
KEY_UP = b"\x1b[A"


class Session:
    """One run of the program on its own pseudo-terminal."""

    def __init__(self, env=None, stdin=None, args=(), preexec=None):
        self.master, self.slave = os.openpty()
        self.termios_before = termios.tcgetattr(self.slave)
        child_env = dict(os.environ)
        child_env.setdefault("TERM", "xterm")
        if env:
            for key, value in env.items():
                if value is None:
                    child_env.pop(key, None)
                else:
                    child_env[key] = value
        slave = self.slave

        def become_terminal_owner():
            os.setsid()
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
            if preexec:
                preexec()

        self.process = subprocess.Popen(
            [BINARY, *args], stdin=stdin if stdin is not None else slave, stdout=slave, stderr=slave,
            env=child_env, preexec_fn=become_terminal_owner, close_fds=True)
        self.raw = b""

    # -- reading --------------------------------------------------------------
    @property
    def text(self):
        """Everything printed so far, with the terminal's CR LF as LF."""
        return self.raw.decode("utf-8", "replace").replace("\r\n", "\n")

    def _pump(self, timeout):
        ready, _, _ = select.select([self.master], [], [], timeout)
        if not ready:
            return False
        try:
            data = os.read(self.master, 65536)
        except OSError:  # the slave side is gone
            return False
        self.raw += data
        return bool(data)

    def expect(self, pattern, timeout=10.0):
        """Wait until the output matches a regular expression; return the match."""
        regex = re.compile(pattern, re.S)
        deadline = time.monotonic() + timeout
        while True:
            match = regex.search(self.text)
            if match:
                return match
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError("timed out waiting for %r; output so far:\n%s" % (pattern, self.text))
            self._pump(min(remaining, 0.1))

    def settle(self, seconds):
        """Collect output for a while."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self._pump(max(0.0, min(0.05, deadline - time.monotonic())))

    # -- typing ---------------------------------------------------------------
    def type(self, keys, pause=0.05):
        for key in keys:
            os.write(self.master, key if isinstance(key, bytes) else key.encode())
            time.sleep(pause)

    # -- ending ---------------------------------------------------------------
    def wait(self, timeout=10.0):
        deadline = time.monotonic() + timeout
        while self.process.poll() is None:
            if time.monotonic() > deadline:
                raise AssertionError("program did not end; output:\n" + self.text)
            self._pump(0.05)
        self.settle(0.1)
        return self.process.returncode

    def signal(self, signum):
        self.process.send_signal(signum)
        return self.wait()

    def termios_now(self):
        return termios.tcgetattr(self.slave)

    def main_thread_cpu_seconds(self):
        with open("/proc/%d/task/%d/stat" % (self.process.pid, self.process.pid)) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        ticks = os.sysconf("SC_CLK_TCK")
        return (int(fields[11]) + int(fields[12])) / ticks  # utime + stime

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        for fd in {self.master, self.slave}:
            try:
                os.close(fd)
            except OSError:
                pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def start_playing(session, output_key="4"):
    """Take the menus to the running tone with the first driver."""
    session.expect(re.escape(OUTPUT_MENU))
    session.type(output_key)
    session.expect(re.escape(DASH + PROMPT) + ".*" + re.escape(DASH + PROMPT), timeout=10)
    session.type("1")
    session.expect(re.escape(HELP))
