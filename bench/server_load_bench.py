#!/usr/bin/python3
"""Concurrency benchmark of the search page: examples/index.py indexes the
folder, vorlane-server runs the server script, and 50 and then 200 clients
at once each send searches one after the other.

    /usr/bin/python3 bench/server_load_bench.py [--build DIR] [--script FILE]
        [--clients 50,200] [--requests N] [FOLDER]

FOLDER defaults to the HTML pages of python3.11-doc, FILE to lib/server.py
of the build (give another server script to compare). For each number of
clients it reports the requests sent, the errors (no answer, a broken
connection, a timeout after 60 s, or a status other than 200), the latency
percentiles p50 and p99 and the maximum, requests per second, the server's
CPU time and the load average.
"""
import argparse
import asyncio
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
DEFAULT_FOLDER = "/usr/share/doc/python3.11/html"
TIMEOUT = 60.0
QUERIES = ["python", "list comprehension", "dictionary", "string format", '"regular expression"', "file",
           "thread lock", "socket", "import module", "class inheritance", "exception", "+json +decode",
           "sorted -bisect", "title:asyncio", "unicode OR bytes", "date time", "subprocess pipe",
           '"keyword arguments"', "iterator", "decorator"]


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100.0 * (len(values) - 1))))] * 1000.0


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


async def one_request(port, path):
    """(seconds, error text or None) of one GET."""
    t0 = time.perf_counter()
    try:
        async def exchange():
            reader, writer = await asyncio.open_connection("127.0.0.1", port)
            try:
                writer.write(("GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n" % path).encode())
                await writer.drain()
                data = await reader.read()
            finally:
                writer.close()
            return data
        data = await asyncio.wait_for(exchange(), TIMEOUT)
    except asyncio.TimeoutError:
        return time.perf_counter() - t0, "timeout"
    except OSError as e:
        return time.perf_counter() - t0, type(e).__name__
    elapsed = time.perf_counter() - t0
    m = re.match(rb"HTTP/1\.[01] (\d+)", data)
    if not m:
        return elapsed, "no answer"
    if m.group(1) != b"200":
        return elapsed, "status " + m.group(1).decode()
    return elapsed, None


async def load(port, clients, requests, seed):
    rng = random.Random(seed)
    paths = ["/?" + urllib.parse.urlencode({"q": rng.choice(QUERIES), "count": 10}) for _ in range(clients * requests)]
    times, errors = [], {}

    async def client(k):
        for path in paths[k * requests:(k + 1) * requests]:
            elapsed, error = await one_request(port, path)
            times.append(elapsed)
            if error:
                errors[error] = errors.get(error, 0) + 1
    t0 = time.perf_counter()
    await asyncio.gather(*(client(k) for k in range(clients)))
    return times, errors, time.perf_counter() - t0


def start_server(build, script, data, root, log):
    env = dict(os.environ, VORLANE_ROOT=root)
    # The key of server 0 names the data directory and port 0, with which
    # the server takes any free port (and prints it). wendal would not
    # write a port of 0.
    key = os.path.join(root, "key.py")
    with open(key, "w") as f:
        f.write("import sys, osdnt_native\nosdnt_native.set_server_num(0)\n"
                "osdnt_native.record(sys.argv[1], '', 0, '')\n")
    subprocess.run([os.path.join(build, "bin", "vorlane-server"), "-child", key, data], check=True, env=env,
                   timeout=60)
    err = open(log, "w")
    proc = subprocess.Popen([os.path.join(build, "bin", "vorlane-server"), "-child", "-serverNum", "0", script],
                            stdout=subprocess.DEVNULL, stderr=err, env=env)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        with open(log) as f:
            m = re.search(r"on http://127\.0\.0\.1:(\d+)/", f.read())
        if m:
            return proc, int(m.group(1))
        if proc.poll() is not None:
            break
        time.sleep(0.1)
    proc.kill()
    with open(log) as f:
        sys.exit("the server did not start: %s" % f.read())


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("folder", nargs="?", default=DEFAULT_FOLDER)
    ap.add_argument("--build", default=os.path.join(SOURCE, "build"))
    ap.add_argument("--script", help="the server script (default: lib/server.py of the build)")
    ap.add_argument("--clients", default="50,200", help="numbers of clients at once, comma-separated")
    ap.add_argument("--requests", type=int, default=20, help="requests per client (default 20)")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    script = os.path.abspath(args.script or os.path.join(build, "lib", "server.py"))
    work = tempfile.mkdtemp(prefix="vorlane-load-")
    proc = None
    try:
        data = os.path.join(work, "data")
        root = os.path.join(work, "root")
        os.mkdir(root)
        r = subprocess.run([os.path.join(build, "bin", "vorlane-server"), "-child",
                            os.path.join(SOURCE, "examples", "index.py"), "--data", data, args.folder],
                           capture_output=True, text=True)
        if r.returncode != 0:
            sys.exit("index.py failed: %s%s" % (r.stdout, r.stderr))
        print("server script: %s" % script)
        print("  " + r.stdout.strip().splitlines()[-1])
        proc, port = start_server(build, script, data, root, os.path.join(work, "server.log"))
        asyncio.run(load(port, 4, 5, 0))  # warm up: the databases open on the first request
        print("%8s %9s %7s %9s %9s %9s %8s %10s  %s" % ("clients", "requests", "errors", "p50 ms", "p99 ms",
                                                      "max ms", "req/s", "server s", "load average"))
        for clients in [int(c) for c in args.clients.split(",")]:
            cpu0 = cpu_seconds(proc.pid)
            times, errors, wall = asyncio.run(load(port, clients, args.requests, clients))
            cpu = cpu_seconds(proc.pid) - cpu0
            print("%8d %9d %7d %9.1f %9.1f %9.1f %8.1f %10.2f  %s" % (
                clients, len(times), sum(errors.values()), percentile(times, 50), percentile(times, 99),
                max(times) * 1000.0, len(times) / wall, cpu, " ".join("%.2f" % x for x in os.getloadavg())))
            for error, n in sorted(errors.items()):
                print("         %d x %s" % (n, error))
    finally:
        if proc is not None:
            proc.send_signal(signal.SIGTERM)
            try:
                proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
