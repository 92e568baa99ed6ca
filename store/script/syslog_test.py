"""The _syslog module writes event-log records."""
import unittest

from vorlane_testing import TempRoot, read_eventlog


class Syslog(unittest.TestCase):
    def setUp(self):
        self.root = TempRoot().start()

    def tearDown(self):
        self.root.stop()

    def test_priorities_give_event_types(self):
        import _syslog
        cases = [(0, "information"), (1, "error"), (3, "error"), (4, "warning"),
                 (5, "information"), (7, "information")]
        for priority, _ in cases:
            self.assertIsNone(_syslog.syslog(priority, "p%d" % priority))
        events = read_eventlog(self.root.path)
        self.assertEqual([e["type"] for e in events], [t for _, t in cases])
        self.assertEqual([e["source"] for e in events], ["Vorlane Server"] * len(cases))
        self.assertEqual(events[0]["strings"], ["p0"])

    def test_percent_m_is_kept(self):
        import _syslog
        _syslog.syslog(3, "disk %m full %s 100%")
        [event] = read_eventlog(self.root.path)
        self.assertEqual(event["strings"], ["disk %m full %s 100%"])

    def test_text_policy(self):
        import _syslog
        _syslog.syslog(5, b"bytes \xe9")
        _syslog.syslog(5, "latin-1 \xe9")
        events = read_eventlog(self.root.path)
        self.assertEqual([e["strings"][0] for e in events], ["bytes \xe9", "latin-1 \xe9"])
        with self.assertRaises(TypeError):
            _syslog.syslog(5, "snowman \u2603")
        with self.assertRaises(TypeError):
            _syslog.syslog("5", "x")

    def test_openlog_accepts_anything(self):
        import _syslog
        self.assertIsNone(_syslog.openlog())
        self.assertIsNone(_syslog.openlog("x", 1, 2))


if __name__ == "__main__":
    unittest.main()
