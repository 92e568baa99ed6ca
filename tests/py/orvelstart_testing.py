"""Helpers of the orvelstart tests: a temporary root with a test service, an
opener stub, and orvelstart run with standard input at end of file."""
import os
import stat
import subprocess
import time

import vorlane_testing as vt

ORVELSTART = os.path.join(vt.BUILD, "bin", "orvelstart")
SERVICE_TOOL = os.path.join(vt.BUILD, "bin", "vorlane-service")

# The test service: records server 0's values as a running server does, then
# runs until it is stopped.
RECORDING_SERVICE = r'''
import os, time, osdnt_native
osdnt_native.set_server_num(0)
osdnt_native.record(os.environ["ORVELSTART_TEST_DATA"], "search.example", 8765, "1.0")
time.sleep(120)
'''

# The opener stub: appends the file it is asked to open to $VORLANE_ROOT/opened.
OPENER = '#!/bin/sh\nprintf "%s\\n" "$1" >> "$VORLANE_ROOT/opened"\n'


def write_program(path, text):
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)
    return path


class Installation:
    def __init__(self):
        self.root = vt.TempRoot().start()
        self.path = self.root.path
        self.data = os.path.join(self.path, "data")
        self.bin = os.path.join(self.path, "install", "bin")
        os.makedirs(self.data)
        os.makedirs(self.bin)
        self.opener = write_program(os.path.join(self.path, "opener"), OPENER)

    def install_service(self, kind):
        """kind "recording" or "silent" (never records)."""
        if kind == "recording":
            main = os.path.join(self.path, "service_main.py")
            with open(main, "w") as f:
                f.write(RECORDING_SERVICE)
            body = 'exec "%s" -child "%s"\n' % (vt.SERVER, main)
        else:
            body = "exec sleep 120\n"
        program = write_program(os.path.join(self.path, "service"), "#!/bin/sh\n" + body)
        self.service_tool("install", program)

    def service_tool(self, *args):
        return subprocess.run([SERVICE_TOOL, *args], capture_output=True, text=True,
                              env=self.env(), timeout=30)

    def service_pid(self):
        out = self.service_tool("status").stdout
        for line in out.splitlines():
            if line.startswith("pid="):
                return int(line[4:])
        return 0

    def env(self, **extra):
        env = dict(os.environ, VORLANE_ROOT=self.path, VORLANE_OPENER=self.opener,
                   ORVELSTART_TEST_DATA=self.data)
        env.update(extra)
        return env

    def start(self, **extra):
        """Starts orvelstart; returns the Popen."""
        return subprocess.Popen([ORVELSTART], cwd=self.bin, env=self.env(**extra), stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def run(self, **extra):
        p = self.start(**extra)
        out, err = p.communicate(timeout=60)
        return p.returncode, out, err

    def opened(self):
        try:
            with open(os.path.join(self.path, "opened")) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def wait_opened(self, count, timeout=10.0):
        deadline = time.monotonic() + timeout
        while len(self.opened()) < count and time.monotonic() < deadline:
            time.sleep(0.02)
        return self.opened()

    def close(self):
        pid = self.service_pid()
        if pid:
            self.service_tool("stop")
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and os.path.exists("/proc/%d" % pid):
                with open("/proc/%d/stat" % pid) as f:
                    if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                        break
                time.sleep(0.02)
        self.root.stop()
