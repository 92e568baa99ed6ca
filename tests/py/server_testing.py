"""Helpers of the tests that run the search server as it is meant to run:
vorlane-server starting lib/server.py of the build for server 0, whose
registry key names the data directory."""
import os
import subprocess
import time

import osdnt_native
import vorlane_testing


def start_server(data_dir, *args, timeout=60):
    """Sets server 0's key to data_dir and starts the server on a port of its
    choosing; waits until it records that port. (process, port).

    wendal sets the key (and always ends with exit code 1). It leaves a port
    of 0 unwritten, and without a port the server takes 8080, which other
    servers on the machine may hold: a port of 0 written into the key lets
    the server take any free port, which it records."""
    subprocess.run([os.path.join(vorlane_testing.BUILD, "bin", "wendal"), "-serverNum", "0", "-setdir", data_dir],
                   capture_output=True, timeout=30)
    osdnt_native.set_server_num(0)
    osdnt_native.record(data_dir, "", 0, "")
    proc = subprocess.Popen([vorlane_testing.SERVER, os.path.join(vorlane_testing.BUILD, "lib", "server.py"), *args],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        port = osdnt_native.query_registry("port")
        if osdnt_native.query_registry("hostname") == "127.0.0.1" and isinstance(port, int) and port > 0:
            return proc, port
        if proc.poll() is not None:
            raise AssertionError("vorlane-server ended with %d" % proc.returncode)
        time.sleep(0.1)
    vorlane_testing.end_process(proc)
    raise AssertionError("the server recorded no port")


def stop_server(proc):
    if proc:
        vorlane_testing.end_process(proc)
