"""orvelstart gives up (exit code 1) when server 0 never records its values:
ten tries, one second apart."""
import os
import time
import unittest

from orvelstart_testing import Installation


class OrvelstartWaitTest(unittest.TestCase):
    def test_server_that_never_records(self):
        inst = Installation()
        try:
            inst.install_service("silent")
            began = time.monotonic()
            rc, out, err = inst.run()
            took = time.monotonic() - began
            self.assertEqual((rc, out, err), (1, "", ""))
            self.assertGreater(took, 8.5)
            self.assertTrue(inst.service_pid())
            self.assertFalse(os.path.exists(os.path.join(inst.data, "orvelstart.url")))
            self.assertEqual(inst.opened(), [])
        finally:
            inst.close()


if __name__ == "__main__":
    unittest.main()
