"""Helpers of the tests that run the search server as it is meant to run:
vorlane-server starting lib/server.py of the build for server 0, whose
registry key names the data directory and a free port."""
import os
import signal
import socket
import subprocess
import time

import osdnt_native
import vorlane_testing


def free_port():
    """A port no one listens on now (the server takes it a moment later)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_server(data_dir, *args, timeout=60):
    """Sets server 0's key (wendal, which always ends with exit code 1) to
    data_dir and a free port, starts the server and waits until it records
    that port. (process, port)."""
    port = free_port()
    subprocess.run([os.path.join(vorlane_testing.BUILD, "bin", "wendal"), "-serverNum", "0", "-setdir", data_dir,
                    "-port", str(port)], capture_output=True, timeout=30)
    proc = subprocess.Popen([vorlane_testing.SERVER, os.path.join(vorlane_testing.BUILD, "lib", "server.py"), *args],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    osdnt_native.set_server_num(0)
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if osdnt_native.query_registry("hostname") == "127.0.0.1" and osdnt_native.query_registry("port") == port:
            return proc, port
        if proc.poll() is not None:
            raise AssertionError("vorlane-server ended with %d" % proc.returncode)
        time.sleep(0.1)
    stop_server(proc)
    raise AssertionError("the server recorded no port")


def stop_server(proc):
    if proc and proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
