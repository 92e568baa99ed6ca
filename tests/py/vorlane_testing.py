"""Helpers shared by the script tests that run inside vorlane-server -child."""
import os
import shutil
import signal
import subprocess
import tempfile

BUILD = os.environ.get("VORLANE_BUILD", "")
SOURCE = os.environ.get("VORLANE_SOURCE", "")
SERVER = os.path.join(BUILD, "bin", "vorlane-server")


class TempRoot:
    """A temporary VORLANE_ROOT for the life of a test (use with `with`, or
    call start/stop from setUp/tearDown)."""

    def start(self):
        self.old = os.environ.get("VORLANE_ROOT")
        self.path = tempfile.mkdtemp(prefix="vorlane-test-")
        os.environ["VORLANE_ROOT"] = self.path
        return self

    def stop(self):
        if self.old is None:
            os.environ.pop("VORLANE_ROOT", None)
        else:
            os.environ["VORLANE_ROOT"] = self.old
        shutil.rmtree(self.path, ignore_errors=True)

    __enter__ = start

    def __exit__(self, *exc):
        self.stop()


def read_eventlog(root):
    """Events of root/eventlog as dicts: time, source, type, category, id,
    strings."""
    path = os.path.join(root, "eventlog")
    events = []
    if not os.path.exists(path):
        return events
    with open(path, "rb") as f:
        for raw in f.read().decode("latin-1").splitlines():
            fields = raw.split("\t")
            if len(fields) < 5:
                continue
            strings = [unescape(s) for s in fields[5:]]
            events.append({"time": int(fields[0]), "source": unescape(fields[1]),
                           "type": fields[2], "category": int(fields[3]),
                           "id": int(fields[4]), "strings": strings})
    return events


def unescape(field):
    out = []
    i = 0
    while i < len(field):
        c = field[i]
        if c == "\\" and i + 1 < len(field):
            i += 1
            c = {"n": "\n", "r": "\r", "t": "\t"}.get(field[i], field[i])
        out.append(c)
        i += 1
    return "".join(out)


def run_child(code, *args, env=None, timeout=60):
    """Runs a snippet of Python in a fresh vorlane-server -child process;
    returns the CompletedProcess."""
    with tempfile.NamedTemporaryFile("w", suffix=".py", delete=False) as f:
        f.write(code)
        script = f.name
    try:
        return subprocess.run([SERVER, "-child", script, *args], capture_output=True,
                              text=True, env=env, timeout=timeout)
    finally:
        os.unlink(script)


def end_process(proc, timeout=30):
    """Asks a running supervisor (or other process) to stop with SIGTERM;
    kills it when it has not ended within the time-out."""
    if proc.poll() is not None:
        return
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
