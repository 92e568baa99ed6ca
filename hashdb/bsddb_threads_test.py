"""bsddb under threads: one object shared by many threads (with close racing
every call), objects on different files in parallel, and a reader object
beside a writer object on the same file."""
import os
import random
import shutil
import tempfile
import threading
import unittest

import bsddb


def walk(db, limit=100000):
    """Every (key, value) of a walk, stopping at its end."""
    pairs = []
    try:
        pairs.append(db.first())
        while len(pairs) < limit:
            pairs.append(db.next())
    except KeyError:
        pass
    return pairs


class Threads(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="bsddb-threads-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_threads(self, targets):
        errors = []

        def guard(target, *args):
            try:
                target(*args)
            except Exception as e:  # reported after the join
                errors.append(repr(e))

        threads = [threading.Thread(target=guard, args=t) for t in targets]
        for t in threads:
            t.start()
        for t in threads:
            t.join(120)
            self.assertFalse(t.is_alive(), "a thread hangs")
        self.assertEqual(errors, [])

    def test_one_object_every_call_with_close(self):
        for round_ in range(6):
            path = os.path.join(self.dir, "shared%d.db" % round_)
            db = bsddb.hashopen(path, "c", 0o666, 256)
            for i in range(100):
                db[b"k%d" % i] = b"v%d" % i
            stop = threading.Event()

            def worker(seed):
                rng = random.Random(seed)
                while not stop.is_set():
                    k = b"k%d" % rng.randrange(200)
                    op = rng.randrange(11)
                    try:
                        if op == 0:
                            db[k] = b"x" * rng.randrange(600)
                        elif op == 1:
                            db[k]
                        elif op == 2:
                            del db[k]
                        elif op == 3:
                            k in db
                        elif op == 4:
                            len(db)
                        elif op == 5:
                            db.keys()
                        elif op == 6:
                            db.first()
                            db.next()
                        elif op == 7:
                            db.has_key(k)
                        elif op == 8:
                            db.sync()
                        elif op == 9:
                            try:
                                db.set_location(k)
                            except bsddb.error:
                                pass
                        else:
                            if rng.randrange(50) == 0:
                                db.close()
                                stop.set()
                    except KeyError:
                        pass
                    except bsddb.error as e:
                        # Only a closed object may refuse; a database error would be a fault.
                        if e.args != ("BSDDB object has already been closed",):
                            raise

            def closer():
                threading.Event().wait(0.05 + 0.05 * round_)
                db.close()
                stop.set()

            self.run_threads([(worker, s) for s in range(8)] + [(closer,)])
            db.close()
            # Whatever got in is a well-formed file.
            db = bsddb.hashopen(path)
            keys = [k for k, _ in walk(db)]
            self.assertEqual(len(keys), len(set(keys)))
            self.assertEqual(len(keys), len(db))
            db.close()

    def test_objects_on_different_files(self):
        def worker(n):
            path = os.path.join(self.dir, "own%d.db" % n)
            db = bsddb.hashopen(path, "c")
            expect = {}
            rng = random.Random(n)
            for i in range(3000):
                k = b"%d-%d" % (n, rng.randrange(1000))
                if rng.randrange(4) == 0:
                    try:
                        del db[k]
                    except KeyError:
                        pass
                    expect.pop(k, None)
                else:
                    v = b"v" * rng.randrange(50)
                    db[k] = v
                    expect[k] = v
            db.close()
            db = bsddb.hashopen(path)
            got = dict(walk(db))
            db.close()
            if got != expect:
                raise AssertionError("file %d differs" % n)

        self.run_threads([(worker, n) for n in range(6)])

    def test_reader_beside_writer(self):
        path = os.path.join(self.dir, "rw.db")
        writer = bsddb.hashopen(path, "c", 0o666, 512)
        writer[b"seed"] = b"0"
        writer.sync()
        done = threading.Event()

        def write():
            rng = random.Random(7)
            for i in range(4000):
                k = b"w%d" % rng.randrange(800)
                if rng.randrange(5) == 0:
                    try:
                        del writer[k]
                    except KeyError:
                        pass
                else:
                    writer[k] = b"%d" % i * rng.randrange(1, 60)
                if i % 200 == 0:
                    writer.sync()
            writer.sync()
            done.set()

        def read():
            while not done.is_set():
                try:
                    reader = bsddb.hashopen(path)
                except bsddb.error:
                    continue  # caught between writes: refused, never a crash
                try:
                    walk(reader, 20000)
                    for i in range(50):
                        try:
                            reader[b"w%d" % i]
                        except KeyError:
                            pass
                except bsddb.error:
                    pass  # a page caught half-written reads as damaged
                reader.close()

        self.run_threads([(write,), (read,), (read,)])
        writer.close()


if __name__ == "__main__":
    unittest.main()
