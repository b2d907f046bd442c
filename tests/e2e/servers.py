"""Private PulseAudio and JACK servers for tests that kill them."""
import os
import shutil
import subprocess
import tempfile
import time


def _wait(command, env, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if subprocess.run(command, env=env, capture_output=True).returncode == 0:
            return True
        time.sleep(0.1)
    return False


class PrivatePulse:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="fmscope-e2e-pulse-")
        with open(os.path.join(self.dir, "pulse.pa"), "w") as f:
            f.write("load-module module-native-protocol-unix socket=%s/native auth-anonymous=1\n"
                    "load-module module-null-sink sink_name=fmscope_private rate=44100\n"
                    "set-default-sink fmscope_private\n" % self.dir)
        self.env = {"PULSE_SERVER": "unix:%s/native" % self.dir, "PULSE_RUNTIME_PATH": self.dir,
                    "PULSE_STATE_PATH": self.dir}
        env = dict(os.environ, **self.env)
        self.process = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "--disallow-exit", "-F", os.path.join(self.dir, "pulse.pa")],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not _wait(["pactl", "info"], env):
            self.kill()
            raise RuntimeError("private PulseAudio did not start")

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


class PrivateJack:
    # A fixed name: JACK gives a killed server's registry slot back only to a
    # server of the same name.
    NAME = "fmscope-e2e-private"

    def __init__(self):
        self.env = {"JACK_DEFAULT_SERVER": self.NAME, "JACK_NO_START_SERVER": "1"}
        env = dict(os.environ, **self.env)
        self.process = subprocess.Popen(
            ["jackd", "--no-realtime", "-n", self.NAME, "-d", "dummy", "-r", "44100", "-p", "256"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not _wait(["jack_lsp"], env):
            self.kill()
            raise RuntimeError("private JACK did not start")

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
