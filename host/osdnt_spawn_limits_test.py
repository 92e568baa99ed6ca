"""osdnt_native.spawn ending children at their time limits. A child is first
checked limit + 5 seconds after its start and then every limit - U + 5
seconds (U its user time), so the cases take up to about 14 s; they run on
threads of their own (spawn releases the interpreter lock)."""
import threading
import time
import unittest

import osdnt_native

# Busy children that end by themselves after 30 s, so that none outlives a
# test run that is cut short. HASHING burns CPU on six threads (hashing a
# large buffer releases the interpreter lock), so its user time passes two
# seconds well within seven even on a loaded machine.
BUSY = ('/usr/bin/python3 -c "import time; e = time.monotonic() + 30; '
        '[0 for _ in iter(lambda: time.monotonic() > e, True)]"')
HASHING = ("/usr/bin/python3 -c \"import hashlib, threading, time; e = time.monotonic() + 30; "
           "b = b'x' * (1 << 22); [threading.Thread(target=lambda: [hashlib.sha256(b) for _ in "
           "iter(lambda: time.monotonic() > e, True)]).start() for _ in range(6)]\"")


class SpawnLimits(unittest.TestCase):
    def test_busy_and_sleeping_children_end_with_42(self):
        # name: (command, limit, exit code, least and most seconds taken)
        cases = {
            # Limit 1: at the first check (6 s) both the user time and the
            # elapsed time are past their limits.
            "busy": (BUSY, 1, 42, 5.9, 9.0),
            "sleeping": ("/bin/sleep 60", 1, 42, 5.9, 9.0),
            # Limit 2: at the first check (7 s) only a busy child is past its
            # limit (user time over 2 s; elapsed 7 s is not over 10 s).
            "busy, limit 2": (HASHING, 2, 42, 6.9, 11.0),
            # A sleeping child survives the first check; the second comes
            # 2 - 0 + 5 seconds later, past five times the limit.
            "sleeping, limit 2": ("/bin/sleep 60", 2, 42, 13.9, 20.0),
            # Ends before its limit: its own code.
            "quick": ('/bin/sh -c "sleep 1; exit 9"', 1, 9, 0.9, 4.0),
        }
        results = {}

        def run(name, command, limit):
            start = time.monotonic()
            code = osdnt_native.spawn(command, limit)
            results[name] = (code, time.monotonic() - start)

        threads = [threading.Thread(target=run, args=(name, case[0], case[1]), daemon=True)
                   for name, case in cases.items()]
        for t in threads:
            t.start()
        for t in threads:
            t.join(40)
        for name, (_, _, code, least, most) in cases.items():
            with self.subTest(name=name):
                self.assertIn(name, results)
                self.assertEqual(results[name][0], code)
                self.assertGreaterEqual(results[name][1], least)
                self.assertLess(results[name][1], most)


if __name__ == "__main__":
    unittest.main()
