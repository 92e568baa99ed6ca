"""orvelstart run as a program against the service manager stand-in, with a
test service that records server 0's values and an opener stub."""
import os
import unittest

from orvelstart_testing import Installation


class OrvelstartTest(unittest.TestCase):
    def setUp(self):
        self.inst = Installation()

    def tearDown(self):
        self.inst.close()

    def test_starts_the_service_and_opens_the_shortcut(self):
        inst = self.inst
        inst.install_service("recording")
        rc, out, err = inst.run()
        self.assertEqual((rc, out, err), (0, "", ""))
        shortcut = os.path.join(inst.data, "orvelstart.url")
        with open(shortcut) as f:
            self.assertEqual(f.read(), "[InternetShortcut]\nurl=http://search.example:8765/admin\n")
        self.assertEqual(inst.wait_opened(1), [shortcut])
        pid = inst.service_pid()
        self.assertTrue(pid)

        # A second run finds the service running: that counts as started.
        rc, out, err = inst.run()
        self.assertEqual((rc, err), (0, ""))
        self.assertEqual(inst.service_pid(), pid)
        self.assertEqual(inst.wait_opened(2), [shortcut, shortcut])

        # An opener that cannot be run is reported by the exit code
        # ("file not found").
        rc, out, err = inst.run(VORLANE_OPENER=os.path.join(inst.path, "no-such-opener"))
        self.assertEqual(rc, 2)

    def test_service_not_installed(self):
        self.assertEqual(self.inst.run(), (10, "", ""))

    def test_service_manager_cannot_be_opened(self):
        with open(os.path.join(self.inst.path, "services"), "w"):
            pass
        # Standard input is at its end, so the wait for a line returns at once.
        self.assertEqual(self.inst.run(), (1, "", "OpenSCManager failed.\nError exit: 1\n"))


if __name__ == "__main__":
    unittest.main()
