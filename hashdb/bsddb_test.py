"""The bsddb module: opening, the mapping, the methods, texts and errors."""
import errno
import os
import shutil
import signal
import tempfile
import threading
import unittest

import bsddb


class Base(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="bsddb-test-")
        self.path = os.path.join(self.dir, "t.db")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def assertDbError(self, code, call, *args):
        with self.assertRaises(bsddb.error) as cm:
            call(*args)
        self.assertEqual(cm.exception.args, (code, os.strerror(code % 1000)))


class Opening(Base):
    def test_module(self):
        self.assertTrue(issubclass(bsddb.error, Exception))
        self.assertEqual(bsddb.error.__name__, "error")
        self.assertEqual(bsddb.error.__module__, "bsddb")
        for name in ("hashopen", "btopen", "rnopen"):
            self.assertTrue(callable(getattr(bsddb, name)))

    def test_missing_file(self):
        self.assertDbError(1203002, bsddb.hashopen, self.path)
        self.assertDbError(1203002, bsddb.hashopen, self.path, "w")
        self.assertFalse(os.path.exists(self.path))
        db = bsddb.hashopen(self.path, "c")
        self.assertEqual(type(db).__name__, "bsddb")
        db.close()
        self.assertTrue(os.path.exists(self.path))

    def test_flags(self):
        db = bsddb.hashopen(self.path, "c")
        db[b"k"] = b"v"
        db.close()
        db = bsddb.hashopen(self.path)  # read-only
        self.assertEqual(db[b"k"], b"v")
        self.assertDbError(1, db.__setitem__, b"k", b"w")
        db.close()
        db = bsddb.hashopen(self.path, "n")  # truncated
        self.assertEqual(len(db), 0)
        db.close()
        with self.assertRaises(bsddb.error) as cm:
            bsddb.hashopen(self.path, "x")
        self.assertEqual(cm.exception.args, ("Flag should begin with 'r', 'w', 'c' or 'n'",))
        with self.assertRaises(bsddb.error) as cm:
            bsddb.hashopen(self.path, "cl")
        self.assertEqual(cm.exception.args, ("locking not supported on this platform",))

    def test_not_a_database(self):
        with open(self.path, "wb") as f:
            f.write(b"\0" * 4096)
        self.assertDbError(1206022, bsddb.hashopen, self.path, "w")
        with open(self.path, "wb") as f:
            pass
        self.assertDbError(1205022, bsddb.hashopen, self.path, "w")

    def test_settings(self):
        self.assertDbError(1204022, bsddb.hashopen, self.path, "c", 0o666, 32)
        self.assertDbError(1204022, bsddb.hashopen, self.path, "c", 0o666, 0, 0, 0, 0, 0, 1111)
        db = bsddb.hashopen(self.path, "c", 0o600, 512, 4, 100, 8192, 0, 1234)
        for i in range(300):
            db[b"key%d" % i] = b"value%d" % i
        db.close()
        self.assertEqual(os.stat(self.path).st_mode & 0o777, 0o600)
        db = bsddb.hashopen(self.path)
        self.assertEqual(len(db), 300)
        self.assertEqual(db[b"key299"], b"value299")
        db.close()

    def test_a_limit_of_the_format_is_named(self):
        # 64-byte pages: 32 bitmap pages of 512 bits cover 16,384 overflow
        # slots, and a value of 800,000 bytes needs about 17,400 big pages.
        db = bsddb.hashopen(self.path, "n", 0o666, 64)
        db[b"small"] = b"kept"
        with self.assertRaises(bsddb.error) as cm:
            db[b"big"] = b"x" * 800000
        code, text = cm.exception.args
        self.assertEqual(code // 1000, 1402)
        self.assertEqual(text, "hash database limit: overflow pages would need a 33rd bitmap page")
        self.assertEqual(db[b"small"], b"kept")
        db[b"after"] = b"stored"
        db.close()
        db = bsddb.hashopen(self.path)
        self.assertEqual(db[b"small"], b"kept")
        self.assertEqual(db[b"after"], b"stored")
        db.close()

    def test_path_forms(self):
        db = bsddb.hashopen(os.fsencode(self.path), "c")
        db.close()
        import pathlib
        db = bsddb.hashopen(pathlib.Path(self.path), "w")
        db.close()

    def test_interrupted_open_keeps_the_handlers_exception(self):
        # Opening a FIFO blocks until a writer comes; a signal interrupts it
        # and its handler's exception is what the caller sees.
        fifo = os.path.join(self.dir, "fifo")
        os.mkfifo(fifo)

        class Stop(Exception):
            pass

        def handler(signum, frame):
            raise Stop()

        def unblock():
            # Should the signal miss the open, a writer ends the wait.
            if not done.wait(5):
                os.close(os.open(fifo, os.O_WRONLY))

        done = threading.Event()
        writer = threading.Thread(target=unblock)
        writer.start()
        old = signal.signal(signal.SIGALRM, handler)
        try:
            signal.setitimer(signal.ITIMER_REAL, 0.2)
            with self.assertRaises(Stop):
                bsddb.hashopen(fifo)
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
            signal.signal(signal.SIGALRM, old)
            done.set()
            writer.join()

    def test_btopen_and_rnopen_fail(self):
        self.assertDbError(22, bsddb.btopen, self.path, "c")
        self.assertDbError(22, bsddb.rnopen, self.path, "c")
        with self.assertRaises(bsddb.error) as cm:
            bsddb.rnopen(self.path, "cx")
        self.assertEqual(cm.exception.args, ("Flag char 2 should be 'l' or absent",))
        with self.assertRaises(bsddb.error) as cm:
            bsddb.btopen(self.path, "wl")
        self.assertEqual(cm.exception.args, ("locking not supported on this platform",))


class Mapping(Base):
    def setUp(self):
        super().setUp()
        self.db = bsddb.hashopen(self.path, "c")

    def tearDown(self):
        self.db.close()
        super().tearDown()

    def test_store_fetch_delete(self):
        db = self.db
        db[b"a"] = b"1"
        db[b"a"] = b"2"
        self.assertEqual(db[b"a"], b"2")
        self.assertEqual(len(db), 1)
        del db[b"a"]
        self.assertEqual(len(db), 0)
        with self.assertRaises(KeyError) as cm:
            db["a"]
        self.assertEqual(cm.exception.args, ("a",))
        with self.assertRaises(KeyError) as cm:
            del db["a"]
        self.assertEqual(cm.exception.args, ("a",))

    def test_text_policy(self):
        db = self.db
        db["caf\xe9"] = "cr\xe8me"
        self.assertEqual(db[b"caf\xe9"], b"cr\xe8me")
        db[bytearray(b"ba")] = memoryview(b"mv")
        self.assertEqual(db["ba"], b"mv")
        self.assertIsInstance(db.keys()[0], bytes)
        self.assertIn("caf\xe9", db)
        self.assertIn(b"ba", db)
        self.assertNotIn(b"zz", db)
        with self.assertRaises(TypeError) as cm:
            db[1] = b"x"
        self.assertEqual(str(cm.exception), "bsddb key type must be string")
        with self.assertRaises(TypeError) as cm:
            db[b"k"] = 1
        self.assertEqual(str(cm.exception), "bsddb value type must be string")
        with self.assertRaises(TypeError):
            db["\u0100"] = b"x"
        with self.assertRaises(TypeError):
            db[1]
        # NUL bytes and empty strings are ordinary bytes.
        db[b""] = b""
        db[b"a\0b"] = b"\0"
        self.assertEqual(db[b""], b"")
        self.assertEqual(db[b"a\0b"], b"\0")

    def test_big_records(self):
        db = self.db
        big = bytes(range(256)) * 100
        db[big] = big[::-1]
        db[b"small"] = big
        self.assertEqual(db[big], big[::-1])
        self.assertEqual(db[b"small"], big)
        self.assertEqual(sorted(db.keys()), sorted([big, b"small"]))

    def test_walk(self):
        db = self.db
        pairs = {b"k%d" % i: b"v%d" % i for i in range(50)}
        for k, v in pairs.items():
            db[k] = v
        seen = dict([db.first()])
        while True:
            try:
                k, v = db.next()
            except KeyError as e:
                self.assertEqual(e.args, ())
                break
            seen[k] = v
        self.assertEqual(seen, pairs)
        with self.assertRaises(KeyError) as cm:
            db.next()
        self.assertEqual(cm.exception.args, ())
        self.assertEqual(db.has_key(b"k3"), 1)
        self.assertEqual(db.has_key(b"nope"), 0)

    def test_unavailable_positions(self):
        db = self.db
        db[b"a"] = b"b"
        self.assertDbError(22, db.set_location, b"a")
        self.assertDbError(22, db.previous)
        self.assertDbError(22, db.last)

    def test_empty_walk(self):
        with self.assertRaises(KeyError) as cm:
            self.db.first()
        self.assertEqual(cm.exception.args, ())
        self.assertEqual(self.db.keys(), [])

    def test_cached_size(self):
        db = self.db
        for i in range(10):
            db[b"%d" % i] = b"x"
        self.assertEqual(len(db.keys()), 10)
        self.assertEqual(len(db), 10)
        db[b"new"] = b"x"  # a store makes the size count again
        self.assertEqual(len(db), 11)
        del db[b"new"]
        self.assertEqual(len(db), 10)

    def test_size_cached_by_a_count_or_a_keys_walk(self):
        # A second object on the same file changes it behind the reader's
        # back; the reader's tiny cache reads every page again, so only the
        # cached size can still show the old count.
        self.db.close()
        self.db = bsddb.hashopen(self.path, "n")
        for i in range(3):
            self.db[b"k%d" % i] = b"v"
        self.db.close()

        def add(*keys):
            w = bsddb.hashopen(self.path, "w")
            for k in keys:
                w[k] = b"v"
            w.close()

        counted = bsddb.hashopen(self.path, "r", 0o666, 0, 0, 0, 1)
        self.assertEqual(len(counted), 3)
        add(b"a", b"b")
        self.assertEqual(len(counted.keys()), 5)
        self.assertEqual(len(counted), 3)  # counted before: keys leaves it
        walked = bsddb.hashopen(self.path, "r", 0o666, 0, 0, 0, 1)
        self.assertEqual(len(walked.keys()), 5)
        add(b"c")
        self.assertEqual(len(walked), 5)  # cached by the keys walk: no new count
        counted.close()
        walked.close()
        self.db = bsddb.hashopen(self.path, "w")

    def test_sync_and_close(self):
        db = self.db
        db[b"a"] = b"b"
        self.assertEqual(db.sync(), 0)
        db.close()
        db.close()  # harmless
        with self.assertRaises(bsddb.error) as cm:
            db.keys()
        self.assertEqual(cm.exception.args, ("BSDDB object has already been closed",))
        for call in (lambda: db[b"a"], lambda: len(db), lambda: db.first(), lambda: db.sync(),
                     lambda: db.has_key(b"a"), lambda: b"a" in db):
            with self.assertRaises(bsddb.error):
                call()
        with self.assertRaises(bsddb.error):
            db[b"a"] = b"c"
        self.db = bsddb.hashopen(self.path, "w")
        self.assertEqual(self.db[b"a"], b"b")

    def test_release_closes(self):
        db = bsddb.hashopen(os.path.join(self.dir, "r.db"), "c")
        db[b"x"] = b"y"
        del db
        db = bsddb.hashopen(os.path.join(self.dir, "r.db"))
        self.assertEqual(db[b"x"], b"y")
        db.close()


if __name__ == "__main__":
    unittest.main()
