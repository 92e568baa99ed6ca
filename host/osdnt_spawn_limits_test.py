"""osdnt_native.spawn ending children at their time limits. A child is first
checked limit + 5 seconds after its start, so each case takes about 6 s; the
cases run on threads of their own (spawn releases the interpreter lock)."""
import threading
import time
import unittest

import osdnt_native


class SpawnLimits(unittest.TestCase):
    def test_busy_and_sleeping_children_end_with_42(self):
        cases = {
            # Past the one-second limit in user time at the first check.
            "busy": '/bin/sh -c "while :; do :; done"',
            # No user time, but more than five times the limit elapsed.
            "sleeping": "/bin/sleep 60",
            # Ends before its limit: its own code.
            "quick": '/bin/sh -c "sleep 1; exit 9"',
        }
        results = {}

        def run(name, command):
            start = time.monotonic()
            code = osdnt_native.spawn(command, 1)
            results[name] = (code, time.monotonic() - start)

        threads = [threading.Thread(target=run, args=item) for item in cases.items()]
        for t in threads:
            t.start()
        for t in threads:
            t.join(30)
        self.assertEqual(results["busy"][0], 42)
        self.assertEqual(results["sleeping"][0], 42)
        self.assertEqual(results["quick"][0], 9)
        for name in ("busy", "sleeping"):
            self.assertGreaterEqual(results[name][1], 5.9, name)
            self.assertLess(results[name][1], 9.0, name)
        self.assertLess(results["quick"][1], 4.0)


if __name__ == "__main__":
    unittest.main()
