"""bsddb files holding real amounts of data: a random mix of large and small
values against a dict, and a million small pairs."""
import os
import random
import shutil
import struct
import tempfile
import unittest

import bsddb


def page_size(path):
    with open(path, "rb") as f:
        return struct.unpack("<I", f.read(16)[12:16])[0]


class Base(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="bsddb-scale-")
        self.path = os.path.join(self.dir, "t.db")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def assertWalkIs(self, db, model):
        seen = {}
        try:
            k, v = db.first()
            while True:
                self.assertNotIn(k, seen)
                seen[k] = v
                k, v = db.next()
        except KeyError:
            pass
        self.assertEqual(len(seen), len(model))
        self.assertTrue(seen == model)


class RandomMix(Base):
    # New files take pages of the unit the disk writes: with 512-byte pages
    # this mix ran the file to the 2 GB address limit after 14,561 operations.
    def test_puts_deletes_and_gets_against_a_dict(self):
        rng = random.Random(34)
        model = {}
        db = bsddb.hashopen(self.path, "n")
        db.sync()
        block = os.statvfs(self.dir).f_bsize
        if 512 <= block <= 65536:
            self.assertGreaterEqual(page_size(self.path), block)
        for op in range(20000):
            if op and op % 5000 == 0:
                db.close()
                db = bsddb.hashopen(self.path, "w")
            k = b"key%d" % rng.randrange(6000)
            r = rng.random()
            if r < 0.5:
                v = bytes([op % 251]) * rng.randint(1, 9000)
                db[k] = v
                model[k] = v
            elif r < 0.7:
                if k in model:
                    del db[k]
                    del model[k]
                else:
                    with self.assertRaises(KeyError):
                        del db[k]
            else:
                if k in model:
                    self.assertEqual(db[k], model[k], "operation %d" % op)
                else:
                    with self.assertRaises(KeyError):
                        db[k]
        self.assertEqual(len(db), len(model))
        self.assertWalkIs(db, model)
        db.close()
        self.assertLess(os.stat(self.path).st_size, 64 << 20)
        db = bsddb.hashopen(self.path)
        self.assertWalkIs(db, model)
        db.close()


class MillionPairs(Base):
    def test_store_read_back_and_walk(self):
        n = 1000000
        model = {b"k%09d" % i: b"value-%014d" % (i * 7919) for i in range(n)}
        order = list(model)
        random.Random(1).shuffle(order)
        db = bsddb.hashopen(self.path, "n")
        for k in order:
            db[k] = model[k]
        db.close()
        db = bsddb.hashopen(self.path)
        random.Random(2).shuffle(order)
        for k in order:
            if db[k] != model[k]:
                self.fail("wrong value for %r" % k)
        with self.assertRaises(KeyError):
            db[b"k%09d" % n]
        self.assertWalkIs(db, model)
        self.assertEqual(len(db), n)
        db.close()
        # About 34 bytes a pair on half-filled pages, not a file of holes.
        st = os.stat(self.path)
        self.assertLess(st.st_size, 160 << 20)
        self.assertLess(st.st_blocks * 512, 160 << 20)


if __name__ == "__main__":
    unittest.main()
