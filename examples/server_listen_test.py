"""The server on a port another program holds: run by the console supervisor
(vorlane-server with lib/server.py of the build), each start that cannot
listen says so once in the event log and ends after a pause, so the
supervisor's restarts come about two seconds apart, not in a tight loop."""
import os
import socket
import subprocess
import tempfile
import time
import unittest

import osdnt_native
import vorlane_testing
from vorlane_testing import TempRoot, read_eventlog


class PortTaken(unittest.TestCase):
    def setUp(self):
        self.root = TempRoot().start()
        self.data = tempfile.mkdtemp(dir=self.root.path)
        self.holder = socket.socket()
        self.holder.bind(("127.0.0.1", 0))
        self.holder.listen()
        self.port = self.holder.getsockname()[1]
        osdnt_native.set_server_num(0)
        osdnt_native.record(self.data, "127.0.0.1", self.port, "1")
        env = dict(os.environ)
        env.pop("VORLANE_MAIN", None)
        env.pop("VORLANE_SERVICE", None)
        self.supervisor = subprocess.Popen([vorlane_testing.SERVER], env=env, stdin=subprocess.DEVNULL,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def tearDown(self):
        vorlane_testing.end_process(self.supervisor)
        self.holder.close()
        self.root.stop()

    def cannot_listen(self):
        return [e for e in read_eventlog(self.root.path)
                if e["strings"][:1] and e["strings"][0].startswith("server: cannot listen")]

    def test_each_start_says_it_once(self):
        seen = []  # when each event was first seen
        deadline = time.monotonic() + 120
        while len(seen) < 3 and time.monotonic() < deadline:
            n = len(self.cannot_listen())
            seen += [time.monotonic()] * (n - len(seen))
            time.sleep(0.05)
        self.assertGreaterEqual(len(seen), 3, "fewer than three starts said they cannot listen")
        events = self.cannot_listen()
        self.assertEqual(events[0]["type"], "error")
        self.assertEqual(events[0]["strings"],
                         ["server: cannot listen on 127.0.0.1:%d: [Errno 98] Address already in use" % self.port])
        # Each start waits before it ends: at least three seconds pass from
        # the first start's event to the third's.
        self.assertGreater(seen[2] - seen[0], 3.0)
        self.assertIsNone(self.supervisor.poll())


if __name__ == "__main__":
    unittest.main()
