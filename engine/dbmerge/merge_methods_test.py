"""sorn.merge_db and sorn.merge_delmap on small database images."""
import os
import shutil
import struct
import tempfile
import threading
import unittest

import sorn
from vorlane_dbimage import pack_title, write_db


def setUpModule():
    sorn.cache_init(1 << 20, 1000, 0)


def quit_all():
    for ident, _ in sorn.list():
        sorn.quit_db(ident)


def quiet(level, text):
    pass


def read(path):
    with open(path, "rb") as f:
        return f.read()


class MergeTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="vorlane-merge-")
        quit_all()
        self.lines = []
        sorn.set_log_handler(4, lambda level, text: self.lines.append(text))

    def tearDown(self):
        sorn.set_log_handler(0, quiet)
        quit_all()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.tmp, name)

    def source(self, name, first, pattern):
        """A database of len(pattern) documents: K kept, D deleted, U without
        a url; document g's url is http://h/g."""
        titles = {j: pack_title(title="t%d" % (first + j),
                                url="" if c == "U" else "http://h/%d" % (first + j), date=86400 * 3)
                  for j, c in enumerate(pattern)}
        write_db(self.path(name), len(pattern), titles=titles)
        ident = sorn.open_db(self.path(name), "", 1, 0)
        for j, c in enumerate(pattern):
            if c == "D":
                sorn.delete(ident, j)
        return ident

    def assertSornError(self, message, fn, *args):
        with self.assertRaises(sorn.error) as cm:
            fn(*args)
        self.assertEqual(str(cm.exception), message)


class MergeDb(MergeTest):
    def test_kept_and_deleted_documents(self):
        a = self.source("a", 0, "KKDKU")
        b = self.source("b", 5, "DKKK")
        self.assertIsNone(sorn.merge_db(self.path("m"), [a, b], 1, 1))
        self.assertIn("expunging 3 docs out of 9, keeping 6 (66%)", self.lines)
        self.assertEqual(read(self.path("m/adj")), b"\x09\x00\x00\x00\x02\x01\x00\x03")
        titles = read(self.path("m/ti0"))
        self.assertEqual([titles[i * 448 + 1:i * 448 + 4] for i in range(6)], [b"t0\0", b"t1\0", b"t3\0", b"t6\0",
                                                                               b"t7\0", b"t8\0"])
        m = sorn.open_db(self.path("m"), "", 1, 0)
        self.assertEqual(sorn.numdocs(m), 6)
        # Later deletions in the sources come over through "adj".
        sorn.delete(b, 3)
        self.assertIsNone(sorn.merge_delmap(m, [a, b]))
        self.assertIn("propagated 1 new doc deletions", self.lines)
        self.assertEqual(read(self.path("m/del")), b"\0\0\0\0\0\xff")
        with open(self.path("m/adj"), "r+b") as f:
            f.seek(7)
            f.write(b"\x01")  # the runs end before N
        sorn.delete(a, 0)
        self.assertSornError("adj corrupt", sorn.merge_delmap, m, [a, b])
        self.assertEqual(read(self.path("m/del")), b"\0\0\0\0\0\xff")

    def test_a_deletion_on_another_thread_during_the_merge(self):
        a = self.source("a", 0, "KKDK")
        done = []

        def handler(level, text):
            if text.startswith("expunging"):
                # The merge runs on; another thread deletes meanwhile.
                t = threading.Thread(target=lambda: done.append(sorn.delete(a, 3)))
                t.start()
                t.join()
            self.lines.append(text)

        sorn.set_log_handler(4, handler)
        self.assertIsNone(sorn.merge_db(self.path("m"), [a], 0, 0))
        self.assertEqual(done, [None])
        self.assertIn("propagated 1 new doc deletions made while merging", self.lines)
        self.assertEqual(read(self.path("m/del")), b"\0\0\xff")
        self.assertFalse(os.path.exists(self.path("m/adj")))

    def test_empty_merge_result(self):
        a = self.source("a", 0, "DU")
        self.assertSornError("empty merge result", sorn.merge_db, self.path("m"), [a], 1, 0)
        # The new database was never committed: its title, deletion, date and
        # score files stay, but no directory or term files.
        self.assertEqual(sorted(os.listdir(self.path("m"))), ["del", "din", "inf", "ti0"])
        self.assertSornError("empty merge result", sorn.merge_db, self.path("n"), [], 1, 0)
        self.assertFalse(os.path.exists(self.path("n")))

    def test_argument_errors(self):
        a = self.source("a", 0, "K")
        target = self.path("m")
        self.assertSornError("Invalid database identifier: 0", sorn.merge_db, target, [a, 0], 1, 0)
        self.assertSornError("Database not open: 9", sorn.merge_db, target, [9], 1, 0)
        self.assertSornError("Too many databases: 129 (at most 128)", sorn.merge_db, target, [a] * 129, 1, 0)
        with self.assertRaises(TypeError):
            sorn.merge_db(target, [a, "1"], 1, 0)
        with self.assertRaises(TypeError):
            sorn.merge_db(target, (a,), 1, 0)
        self.assertSornError("Invalid database identifier: 200", sorn.merge_delmap, 200, [a])
        self.assertSornError("Database not open: 5", sorn.merge_delmap, a, [5])
        self.assertFalse(os.path.exists(target))
        # 128 identifiers are taken (one database twice over).
        self.assertIsNone(sorn.merge_db(target, [a] * 128, 0, 0))
        self.assertIn("expunging 0 docs out of 128, keeping 128 (100%)", self.lines)

    def test_refused_before_anything_is_written(self):
        a = self.source("a", 0, "KK")
        before = {n: read(os.path.join(self.path("a"), n)) for n in os.listdir(self.path("a"))}
        for target in (self.path("a"), self.path("a/tf0"), self.path("a/sub")):
            self.assertSornError("Merge target lies in database %d" % a, sorn.merge_db, target, [a], 1, 0)
        self.assertEqual({n: read(os.path.join(self.path("a"), n)) for n in os.listdir(self.path("a"))}, before)
        # A database open for indexing (it has a journal).
        write_db(self.path("i"), 0, journal=[])
        i = sorn.open_db(self.path("i"), "", 1, 10)
        self.assertSornError("Database open for indexing: %d" % i, sorn.merge_db, self.path("m"), [a, i], 1, 0)
        self.assertFalse(os.path.exists(self.path("m")))

    def files(self, name):
        return {n: read(os.path.join(self.path(name), n)) for n in os.listdir(self.path(name))}

    def test_a_failed_merge_into_a_used_directory_keeps_its_database(self):
        a = self.source("a", 0, "KKKKK")
        self.assertIsNone(sorn.merge_db(self.path("m"), [a], 1, 0))
        before = self.files("m")
        d = self.source("d", 5, "DD")
        self.assertSornError("empty merge result", sorn.merge_db, self.path("m"), [d], 0, 0)
        self.assertEqual(self.files("m"), before)
        m = sorn.open_db(self.path("m"), "", 1, 0)
        self.assertEqual(sorn.numdocs(m), 5)
        self.assertEqual([t[2] for t in sorn.titles([(m, j) for j in range(5)])],
                         ["http://h/%d" % j for j in range(5)])

    def test_a_target_open_in_this_process_is_refused(self):
        a = self.source("a", 0, "KK")
        b = self.source("b", 2, "KKK")
        self.assertIsNone(sorn.merge_db(self.path("m"), [a], 1, 0))
        m = sorn.open_db(self.path("m"), "", 1, 0)
        before = self.files("m")
        for target in (self.path("m"), self.path("m/sub")):
            self.assertSornError("Merge target lies in database %d" % m, sorn.merge_db, target, [b], 1, 0)
        self.assertEqual(self.files("m"), before)
        self.assertEqual([t[2] for t in sorn.titles([(m, 0), (m, 1)])], ["http://h/0", "http://h/1"])
        # Once it is closed the merge may replace it.
        sorn.quit_db(m)
        self.assertIsNone(sorn.merge_db(self.path("m"), [b], 1, 0))
        m = sorn.open_db(self.path("m"), "", 1, 0)
        self.assertEqual(sorn.numdocs(m), 3)
        self.assertEqual(sorn.titles([(m, 0)])[0][2], "http://h/2")

    def test_a_source_without_score_setting(self):
        write_db(self.path("z"), 1, titles={0: pack_title(url="http://h/0")}, score_incr=0)
        z = sorn.open_db(self.path("z"), "", 1, 0)
        self.assertSornError("Failed: idbm_write_score_incr", sorn.merge_db, self.path("m"), [z], 1, 0)
        self.assertFalse(os.path.exists(self.path("m/adj")))

    def test_merge_delmap_refuses_a_source_that_has_grown(self):
        a = self.source("a", 0, "KKK")
        b = self.source("b", 3, "KKK")
        self.assertIsNone(sorn.merge_db(self.path("m"), [a, b], 1, 0))
        m = sorn.open_db(self.path("m"), "", 1, 0)
        # A rebuilt with five documents, its fifth (which M never held) deleted.
        sorn.quit_db(a)
        shutil.rmtree(self.path("a"))
        a = self.source("a", 0, "KKKKD")
        before = read(self.path("m/del"))
        self.assertSornError("adj does not match the databases", sorn.merge_delmap, m, [a, b])
        self.assertEqual(read(self.path("m/del")), before)
        self.assertEqual(before, b"\0" * 6)

    def test_merge_delmap_without_adj(self):
        a = self.source("a", 0, "KK")
        sorn.merge_db(self.path("m"), [a], 0, 0)
        m = sorn.open_db(self.path("m"), "", 1, 0)
        with self.assertRaises(sorn.error) as cm:
            sorn.merge_delmap(m, [a])
        self.assertEqual(str(cm.exception), "adj open: No such file or directory")


if __name__ == "__main__":
    unittest.main()
