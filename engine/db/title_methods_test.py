"""sorn's title methods: the title cache, titles and map_titles."""
import os
import shutil
import tempfile
import unittest

import sorn
from vorlane_dbimage import TITLE_SIZE, TITLES_PER_FILE, open_fds, pack_title, write_db

EMPTY = ("", "", "", "", "", 0, 0, 0, 0, 0)


def setUpModule():
    sorn.cache_init(1 << 20, 1000, 0)


def ti0_mappings():
    """How many mappings of a file named ti0 the process holds."""
    with open("/proc/self/maps") as f:
        return sum(1 for line in f if line.rstrip().endswith("/ti0"))


class TitleTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="vorlane-titles-")
        self.ids = []

    def tearDown(self):
        for ident in self.ids:
            sorn.quit_db(ident)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def open(self, name, ndocs, titles):
        path = os.path.join(self.tmp, name)
        write_db(path, ndocs, titles=titles)
        ident = sorn.open_db(path, "", 1, 0)
        self.ids.append(ident)
        return ident, path


# Runs first (the cache is made once per process): the sizes, then hits and
# collisions.
class A_Cache(TitleTest):
    def test_size_hits_and_collisions(self):
        self.assertEqual(sorn.title_cache_stat(), (0, 0, 0))
        self.assertEqual(sorn.init_title_cache(579), 0)
        self.assertEqual(sorn.title_cache_stat(), (0, 0, 0))
        self.assertEqual(sorn.init_title_cache(5800), 1)
        self.assertEqual(sorn.title_cache_stat(), (10, 0, 0))
        self.assertEqual(sorn.init_title_cache(58000), 1)
        self.assertEqual(sorn.title_cache_stat(), (10, 0, 0))

        titles = {d: pack_title("t%d" % d, url="http://h/%d" % d) for d in range(11)}
        ident, _ = self.open("db", 11, titles)
        self.assertEqual(sorn.titles([(ident, 0)])[0][0], "t0")
        self.assertEqual(sorn.title_cache_stat(), (10, 0, 1))
        self.assertEqual(sorn.titles([(ident, 0)])[0][0], "t0")
        self.assertEqual(sorn.title_cache_stat(), (10, 1, 2))
        # Docid 10 takes docid 0's slot (10 slots); 0 must then be read again.
        self.assertEqual(sorn.titles([(ident, 10), (ident, 0), (ident, 0)])[1][0], "t0")
        self.assertEqual(sorn.title_cache_stat(), (10, 2, 5))


class Titles(TitleTest):
    def test_tuples(self):
        rec = pack_title("Caf\xe9", "a summary", "http://h/x", "pub", "k1 k2", extra=0xFFFFFFFE,
                         date=1234567, download_date=7654321, flags=0x8001, doctype=3)
        ident, _ = self.open("db", 3, {0: rec, 1: pack_title("", url="http://h/untitled")})
        got = sorn.titles([(ident, 0), (ident, 1), (ident, 3), (ident, -1), (ident, 2)])
        self.assertEqual(got[0], ("Caf\xe9", "a summary", "http://h/x", "pub", "k1 k2", 0xFFFFFFFE,
                                  1234567, 7654321, 0x8001, 3))
        self.assertEqual(got[1][:3], ("", "", "http://h/untitled"))
        self.assertEqual(got[2], EMPTY)  # docid == ndocs
        self.assertEqual(got[3], EMPTY)
        self.assertEqual(got[4], EMPTY)  # a record never written

    def test_arguments(self):
        ident, _ = self.open("db", 1, {0: pack_title("t", url="u")})
        self.assertEqual(sorn.titles([]), [])
        self.assertEqual(len(sorn.titles([(ident, 0)] * 499)), 499)
        with self.assertRaises(sorn.error) as cm:
            sorn.titles([(ident, 0)] * 500)
        self.assertEqual(str(cm.exception), "Too many docs")
        for bad in ([[ident, 0]], [ident], [(ident, "0")], [(ident,)]):
            with self.subTest(bad=bad):
                with self.assertRaises(TypeError):
                    sorn.titles(bad)
        with self.assertRaises(TypeError):
            sorn.titles(((ident, 0),))
        with self.assertRaises(sorn.error) as cm:
            sorn.titles([(ident, 0), (0, 0)])
        self.assertEqual(str(cm.exception), "Invalid database identifier: 0")
        with self.assertRaises(sorn.error) as cm:
            sorn.titles([(ident, 0), (100, 0)])
        self.assertEqual(str(cm.exception), "Database not open: 100")

    def test_conversions_that_change_the_list_or_the_table(self):
        ident, _ = self.open("db", 2, {0: pack_title("t0", url="u"), 1: pack_title("t1", url="u")})
        pairs = []

        class Shrinks:
            def __index__(self):
                pairs.clear()
                return 0

        class Quits:
            def __index__(self):
                sorn.quit_db(ident)
                return 1

        pairs[:] = [(ident, Shrinks()), (ident, 1), (ident, 0)]
        self.assertEqual([t[0] for t in sorn.titles(pairs)], ["t0", "t1", "t0"])
        # A database closed by a later conversion is not read.
        with self.assertRaises(sorn.error) as cm:
            sorn.titles([(ident, 0), (ident, Quits())])
        self.assertEqual(str(cm.exception), "Database not open: %d" % ident)

    def test_rebuilt_database_shows_its_own_titles(self):
        sorn.init_title_cache(5800)
        ident, path = self.open("db", 1, {0: pack_title("old", url="u")})
        self.assertEqual(sorn.titles([(ident, 0)])[0][0], "old")
        sorn.quit_db(ident)
        self.ids.remove(ident)
        shutil.rmtree(path)
        write_db(path, 1, titles={0: pack_title("new", url="u")})
        ident = sorn.open_db(path, "", 1, 0)
        self.ids.append(ident)
        self.assertEqual(sorn.titles([(ident, 0)])[0][0], "new")


class MapTitles(TitleTest):
    def test_second_title_file_and_mapping(self):
        second = TITLES_PER_FILE  # docid 4,194,304
        ident, _ = self.open("big", second + 1, {0: pack_title("first", url="u0"),
                                                 second: pack_title("second", url="u1")})
        self.assertEqual([t[0] for t in sorn.titles([(ident, second), (ident, 0)])], ["second", "first"])
        self.assertIsNone(sorn.map_titles(ident))
        fds, maps = open_fds(), ti0_mappings()
        self.assertEqual(maps, 1)
        self.assertIsNone(sorn.map_titles(ident))  # already mapped: nothing happens
        self.assertEqual((open_fds(), ti0_mappings()), (fds, maps))
        self.assertEqual([t[0] for t in sorn.titles([(ident, 0), (ident, second)])], ["first", "second"])

    def test_records_past_the_mapped_size_are_zero(self):
        ident, path = self.open("db", 5, {d: pack_title("t%d" % d, url="u") for d in range(5)})
        with open(os.path.join(path, "ti0"), "r+b") as f:
            f.truncate(2 * TITLE_SIZE)
        sorn.map_titles(ident)
        got = sorn.titles([(ident, 1), (ident, 2), (ident, 4)])
        self.assertEqual(got[0][0], "t1")
        self.assertEqual(got[1:], [EMPTY, EMPTY])

    def test_missing_file(self):
        ident, path = self.open("db", 1, {0: pack_title("t", url="u")})
        os.unlink(os.path.join(path, "ti0"))
        with self.assertRaises(sorn.error) as cm:
            sorn.map_titles(ident)
        self.assertEqual(str(cm.exception), "ti0 fmap: No such file or directory")
        # The title file opened with the database still serves its records.
        self.assertEqual(sorn.titles([(ident, 0)])[0][0], "t")


if __name__ == "__main__":
    unittest.main()
