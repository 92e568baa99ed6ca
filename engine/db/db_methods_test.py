"""sorn's database methods and the open-database table."""
import os
import shutil
import struct
import sys
import tempfile
import unittest

import sorn
from vorlane_dbimage import open_fds, pack_title, write_catalog, write_db
from vorlane_testing import run_child


def setUpModule():
    # The slot arenas that give query databases their term caches.
    sorn.cache_init(1 << 20, 1000, 0)


def quit_all():
    for ident, _ in sorn.list():
        sorn.quit_db(ident)


class DbTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="vorlane-db-")
        quit_all()

    def tearDown(self):
        quit_all()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def db(self, name, ndocs=3, **kw):
        path = os.path.join(self.tmp, name)
        write_db(path, ndocs, **kw)
        return path

    def assertSornError(self, message, fn, *args):
        with self.assertRaises(sorn.error) as cm:
            fn(*args)
        self.assertEqual(str(cm.exception), message)


class Table(DbTest):
    def test_identifiers_run_out_and_are_reused(self):
        path = self.db("a")
        ids = [sorn.open_db(path, "", 1, 0) for _ in range(127)]
        self.assertEqual(ids, list(range(1, 128)))
        self.assertSornError("Too many open dbs", sorn.open_db, path, "", 1, 0)
        self.assertIsNone(sorn.quit_db(5))
        self.assertEqual(sorn.open_db(path, "", 1, 0), 5)
        self.assertSornError("Too many open dbs", sorn.open_db, path, "", 1, 0)

    def test_list_order(self):
        p1, p2, p3 = self.db("one"), self.db("two"), self.db("three")
        self.assertEqual(sorn.list(), [])
        self.assertEqual([sorn.open_db(p, "", 1, 0) for p in (p1, p2, p3)], [1, 2, 3])
        sorn.quit_db(2)
        self.assertEqual(sorn.list(), [(1, p1), (3, p3)])
        self.assertEqual(sorn.open_db(p2, "", 1, 0), 2)
        self.assertEqual(sorn.list(), [(1, p1), (2, p2), (3, p3)])

    def test_identifier_checks(self):
        for method in (sorn.numdocs, sorn.save_db, sorn.close_journal, sorn.map_titles):
            with self.subTest(method=method.__name__):
                self.assertSornError("Invalid database identifier: 0", method, 0)
                self.assertSornError("Invalid database identifier: 128", method, 128)
                self.assertSornError("Database not open: 9", method, 9)
        self.assertSornError("Invalid database identifier: -1", sorn.delete, -1, 0)
        self.assertSornError("Database not open: 9", sorn.delete, 9, 0)
        self.assertSornError("Invalid database identifier: 0", sorn.quit_db, 0)
        self.assertSornError("Invalid database identifier: 128", sorn.quit_db, 128)
        self.assertIsNone(sorn.quit_db(9))

    def test_paths_round_trip(self):
        raw = os.path.join(os.fsencode(self.tmp), b"caf\xe9-\xff")
        write_db(raw, 1)
        ident = sorn.open_db(raw, "", 1, 0)
        (listed_id, listed_path), = sorn.list()
        self.assertEqual(listed_id, ident)
        self.assertIsInstance(listed_path, str)
        self.assertEqual(os.fsencode(listed_path), raw)
        with self.assertRaises(ValueError):
            sorn.open_db("a\0b", "", 1, 0)
        with self.assertRaises(TypeError):
            sorn.open_db(path=1)


class Opening(DbTest):
    def test_failures_leave_the_identifier_free(self):
        path = self.db("a")
        self.assertSornError("Invalid catalog", sorn.open_db, path, os.path.join(self.tmp, "nocat"), 1, 0)
        self.assertSornError("Cannot open database", sorn.open_db, os.path.join(self.tmp, "none"), "", 1, 0)
        self.assertEqual(sorn.list(), [])
        self.assertEqual(sorn.open_db(path, "", 1, 0), 1)

    def test_descriptors_after_open_and_quit_cycles(self):
        path = self.db("a")
        cat = os.path.join(self.tmp, "cat")
        write_catalog(cat, 3)
        sorn.quit_db(sorn.open_db(path, cat, 1, 0))
        before = open_fds()
        for _ in range(100):
            ident = sorn.open_db(path, cat, 1, 0)
            self.assertEqual(sorn.numdocs(ident), 3)
            sorn.quit_db(ident)
        self.assertEqual(open_fds(), before)

    def test_saving_a_query_database_fails(self):
        ident = sorn.open_db(self.db("a"), "", 1, 0)
        self.assertSornError("Failed: idbm_write", sorn.save_db, ident)
        self.assertEqual(sorn.numdocs(ident), 3)  # still open

    def test_numdocs(self):
        self.assertEqual(sorn.numdocs(sorn.open_db(self.db("a", 7), "", 1, 0)), 7)
        self.assertEqual(sorn.numdocs(sorn.open_db(self.db("b", 0), "", 1, 0)), 0)

    def test_without_arenas_the_open_is_refused(self):
        # A fresh process where nothing sized the arenas.
        path = self.db("a")
        code = (
            "import sorn\n"
            "seen = []\n"
            "sorn.set_log_handler(2, lambda level, text: seen.append(text))\n"
            "try:\n"
            "    sorn.open_db(%r, '', 1, 0)\n"
            "except sorn.error as e:\n"
            "    print('error', e)\n"
            "print(any('idbm_cache: no size given' in t for t in seen))\n"
            "print(sorn.list())\n" % path)
        r = run_child(code)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.split("\n")[:3], ["error Cannot open database", "True", "[]"])


class LogHandler(DbTest):
    def test_raising_handler_leaves_no_pending_exception(self):
        seen = []
        unraisable = []
        old_hook = sys.unraisablehook
        sys.unraisablehook = lambda u: unraisable.append(u.exc_value)

        def handler(level, text):
            seen.append((level, text))
            raise RuntimeError("handler failed")
        try:
            sorn.set_log_handler(2, handler)
            with self.assertRaises(sorn.error):
                sorn.open_db(os.path.join(self.tmp, "none"), "", 1, 0)
            self.assertEqual(sorn.hash1("a"), (97 + 987654321) & 0x7FFFFFFF)
            ident = sorn.open_db(self.db("a"), "", 1, 0)
            self.assertEqual(sorn.numdocs(ident), 3)
        finally:
            sorn.set_log_handler(0, lambda level, text: None)
            sys.unraisablehook = old_hook
        self.assertTrue(seen)
        self.assertTrue(all(level == 2 for level, _ in seen))
        self.assertTrue(any("idbm_openInner: can't map directory" in text for _, text in seen), seen)
        self.assertEqual(len(unraisable), len(seen))


H = [(0x1111, 0x2222), (0x3333, 0x4444), (0x5555, 0x6666)]


class Incremental(DbTest):
    def test_save_then_reopen(self):
        titles = {0: pack_title("first", url="http://a/0"), 2: pack_title("third", url="http://a/2")}
        path = self.db("inc", 3, titles=titles,
                       journal=[[(H[0], 3), (H[1], 1)], [(H[1], 2)], [(H[0], 1), (H[2], 5)]])
        ident = sorn.open_db(path, "", 1, 10)
        self.assertEqual(sorn.numdocs(ident), 3)
        sorn.delete(ident, 1)
        self.assertIsNone(sorn.save_db(ident))
        self.assertFalse(os.path.exists(os.path.join(path, "jnl")))
        self.assertEqual(sorn.numdocs(ident), 3)  # still open
        sorn.quit_db(ident)
        with open(os.path.join(path, "dir"), "rb") as f:
            nparts, nterms, ndocs, _ = struct.unpack("<4I", f.read(16))
        self.assertEqual((nterms, ndocs), (3, 3))
        ident = sorn.open_db(path, "", 1, 0)
        self.assertEqual(sorn.numdocs(ident), 3)
        got = sorn.titles([(ident, 2), (ident, 0)])
        self.assertEqual([(t[0], t[2]) for t in got], [("third", "http://a/2"), ("first", "http://a/0")])
        with open(os.path.join(path, "del"), "rb") as f:
            self.assertEqual(f.read(3)[1], 255)

    def test_delete(self):
        path = self.db("inc", 2, journal=[[(H[0], 3)], [(H[1], 2)]])
        ident = sorn.open_db(path, "", 1, 10)
        self.assertSornError("Invalid docid", sorn.delete, ident, 2)
        self.assertSornError("Invalid docid", sorn.delete, ident, -1)
        self.assertIsNone(sorn.delete(ident, 1))
        self.assertIsNone(sorn.delete(ident, 1))
        with open(os.path.join(path, "del"), "rb") as f:
            self.assertEqual(f.read(2)[1], 255)

    def test_catalog_taken_by_an_incremental_open_is_released_by_quit(self):
        path = self.db("inc", 2, journal=[[(H[0], 3)], [(H[1], 2)]])
        cat = os.path.join(self.tmp, "cat")
        write_catalog(cat, 50)
        sorn.quit_db(sorn.open_db(path, cat, 1, 10))
        before = open_fds()
        for _ in range(10):
            ident = sorn.open_db(path, cat, 1, 10)
            self.assertEqual(sorn.numdocs(ident), 2)
            sorn.quit_db(ident)
        self.assertEqual(open_fds(), before)

    def test_negative_capacity_is_no_room(self):
        # Unused by a query database; no room for the journal's documents.
        self.assertEqual(sorn.numdocs(sorn.open_db(self.db("q", 2), "", 1, -1)), 2)
        path = self.db("inc", 2, journal=[[(H[0], 3)], [(H[1], 2)]])
        self.assertSornError("Cannot open database", sorn.open_db, path, "", 1, -1)
        self.assertEqual(sorn.numdocs(sorn.open_db(path, "", 1, 2)), 2)

    def test_close_journal_keeps_the_file(self):
        path = self.db("inc", 1, journal=[[(H[0], 3)]])
        ident = sorn.open_db(path, "", 1, 10)
        self.assertIsNone(sorn.close_journal(ident))
        self.assertIsNone(sorn.close_journal(ident))
        sorn.save_db(ident)
        self.assertTrue(os.path.exists(os.path.join(path, "jnl")))
        sorn.quit_db(ident)
        # The journal still describes the database: it reopens from it.
        ident = sorn.open_db(path, "", 1, 10)
        self.assertEqual(sorn.numdocs(ident), 1)

    def test_score_setting_conflict(self):
        path = self.db("inc", 1, score_incr=4, journal=[[(H[0], 3)]])
        self.assertSornError("Cannot open database", sorn.open_db, path, "", 5, 10)
        self.assertEqual(sorn.list(), [])
        self.assertEqual(sorn.open_db(path, "", 4, 10), 1)


if __name__ == "__main__":
    unittest.main()
