"""Helpers of the supervisor tests: the children's main script, their
records, waiting with a deadline, ending what a test left running."""
import json
import os
import signal
import time

from vorlane_testing import BUILD

PROGRAM = os.path.join(BUILD, "bin", "vorlane-server")
SERVICE_TOOL = os.path.join(BUILD, "bin", "vorlane-service")

# Each start records what the child was given in $VORLANE_ROOT/starts, then
# follows $VORLANE_ROOT/exit.<server number or "none">: a list of exit codes
# consumed one per start ("wN": wait for $VORLANE_ROOT/go, then exit N). With
# none left it sleeps until it is ended.
CHILD_MAIN = r'''
import json, os, sys, time
root = os.environ["VORLANE_ROOT"]
args = [a.decode() for a in open("/proc/self/cmdline", "rb").read().split(b"\0")[:-1]]
n = args[args.index("-serverNum") + 1] if "-serverNum" in args else "none"
record = dict(argv=args, pythonpath=os.environ.get("PYTHONPATH"), temp=os.environ.get("TEMP"),
              cwd=os.getcwd(), pid=os.getpid(), server=n, service=os.environ.get("VORLANE_SERVICE"))
os.makedirs(root + "/starts", exist_ok=True)
name = "%s.%d.%d" % (n, time.time_ns(), os.getpid())
with open(root + "/starts/." + name, "w") as f:
    json.dump(record, f)
os.rename(root + "/starts/." + name, root + "/starts/" + name)
plan = root + "/exit." + n
if os.path.exists(plan):
    codes = open(plan).read().split()
    if codes:
        with open(plan, "w") as f:
            f.write(" ".join(codes[1:]))
        code = codes[0]
        if code.startswith("w"):
            deadline = time.time() + 30
            while not os.path.exists(root + "/go") and time.time() < deadline:
                time.sleep(0.02)
            code = code[1:]
        sys.exit(int(code))
time.sleep(60)
'''


def write_main(root):
    path = os.path.join(root, "child_main.py")
    with open(path, "w") as f:
        f.write(CHILD_MAIN)
    return path


def starts(root):
    """The records of every child start, oldest first."""
    folder = os.path.join(root, "starts")
    if not os.path.isdir(folder):
        return []
    names = sorted((n for n in os.listdir(folder) if not n.startswith(".")),
                   key=lambda n: int(n.split(".")[1]))
    out = []
    for n in names:
        with open(os.path.join(folder, n)) as f:
            out.append(json.load(f))
    return out


def wait_for(condition, timeout=10.0, what="condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.02)
    raise AssertionError("timed out waiting for " + what)


def alive(pid):
    """True while pid runs (a zombie counts as ended)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (FileNotFoundError, ProcessLookupError, IndexError):
        return False


def kill_all(root, extra_pids=()):
    """Ends the given processes and every other process that runs under
    this root (children that had no time to record themselves included)."""
    mark = ("VORLANE_ROOT=" + root).encode()
    pids = set(extra_pids) | {r["pid"] for r in starts(root)}
    for name in os.listdir("/proc"):
        if not name.isdigit() or int(name) == os.getpid():
            continue
        try:
            with open("/proc/%s/environ" % name, "rb") as f:
                if mark in f.read().split(b"\0"):
                    pids.add(int(name))
        except OSError:
            pass
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass
