"""The idoc type: documents updated with fields and terms, inserted into a
database, saved and found again through the store's lookup."""
import os
import shutil
import struct
import tempfile
import unittest

import subprocess

import sorn
import vorlane_testing
from vorlane_index import lookup, new_index, test_language

LANG = "testlang"
NO_CHECKSUM = b"\0" * 8


def setUpModule():
    global TMP
    TMP = tempfile.mkdtemp(prefix="vorlane-idoc-")
    sorn.cache_init(1 << 20, 1000, 0)
    sorn.lang_init(LANG, test_language(TMP))
    sorn.init_stopword_table(LANG, ["the", "of", "and"])


def tearDownModule():
    shutil.rmtree(TMP, ignore_errors=True)


def field(text, name, a=1, b=1, c=0, d=1, e=-1):
    return (text, name, a, b, c, d, e)


class Logged:
    """Collects the engine's log lines while active."""

    def __enter__(self):
        self.lines = []
        self.handle = lambda level, text: self.lines.append(text)
        sorn.set_log_handler(0x4, self.handle)
        return self

    def __exit__(self, *exc):
        sorn.set_log_handler(0, lambda level, text: None)

    def has(self, part):
        return any(part in line for line in self.lines)


class IdocTest(unittest.TestCase):
    def setUp(self):
        for ident, _ in sorn.list():
            sorn.quit_db(ident)
        self.dir = tempfile.mkdtemp(dir=TMP)
        self.path = new_index(os.path.join(self.dir, "db"))

    def tearDown(self):
        for ident, _ in sorn.list():
            sorn.quit_db(ident)

    def open(self, capacity=1000):
        return sorn.open_db(self.path, "", 1, capacity)

    def insert(self, db, doc, url="http://www.example.org/a.html", title="A title", date=86400 * 3,
               checksum=NO_CHECKSUM, normalise=0, classifications=(), deletion=0):
        return doc.insert(db, title, "a summary", "publisher", url, "index terms", 7, date, 5, 3, 2, checksum,
                          deletion, normalise, list(classifications))

    def assertSornError(self, message, fn, *args, **kw):
        with self.assertRaises(sorn.error) as cm:
            fn(*args, **kw)
        self.assertEqual(str(cm.exception), message)

    def saved_lookup(self, db, terms):
        sorn.save_db(db)
        return lookup(self.path, terms)


class Documents(IdocTest):
    def test_fields_and_terms_are_found_for_their_document(self):
        db = self.open()
        first = sorn.idoc()
        first.update([field("Old dogs of Paris", "body:", c=1), field("Football", "Title:")],
                     [("site:example.org", 10)], LANG)
        self.assertEqual(self.insert(db, first)[0], 0)
        second = sorn.idoc()
        second.update([field(b"old cities", b"body:")], [], LANG.encode())
        self.insert(db, second, url="http://other.example.net/b")
        self.assertEqual(sorn.numdocs(db), 2)
        found = self.saved_lookup(db, ["body:old", "body:dog", "body:olddog", "Title:football", "title:football",
                                       "site:example.org", "body:cities", "body:dogs.ofparis", "body:cats"])
        self.assertEqual(found, [{0, 1}, {0}, {0}, {0}, {0}, {0}, {1}, set(), set()])

    def test_unknown_language_adds_nothing(self):
        db = self.open()
        doc = sorn.idoc()
        self.assertSornError("invalid language", doc.update, [field("dogs", "body:")], [("t", 1)], "klingon")
        self.assertSornError("invalid language", doc.update, [], [], LANG + "\0")
        self.insert(db, doc)
        self.assertEqual(self.saved_lookup(db, ["body:dogs", "t"]), [set(), set()])

    def test_argument_errors(self):
        doc = sorn.idoc()
        with self.assertRaises(TypeError):
            doc.update([("text", "body:", 1, 1, 0, 1)], [], LANG)  # six items
        with self.assertRaises(TypeError):
            doc.update([], [("t",)], LANG)
        with self.assertRaises(TypeError):
            doc.update([["text", "body:", 1, 1, 0, 1, 1]], [], LANG)
        with self.assertRaises(TypeError):
            doc.update([], ["t"], LANG)
        with self.assertRaises(TypeError):
            doc.update((), [], LANG)
        with self.assertRaises(TypeError):
            doc.update([("caf\u20ac", "body:", 1, 1, 0, 1, 1)], [], LANG)
        db = self.open()
        with self.assertRaises(ValueError):
            self.insert(db, doc, checksum=b"1234567")
        with self.assertRaises(TypeError):
            self.insert(db, doc, classifications=["x"])

    def test_a_list_emptied_while_it_is_converted(self):
        fields = []

        class Emptying:
            def __index__(self):
                fields.clear()
                return 1

        fields += [field("dogs", "body:", a=Emptying()), field("cities", "body:")]
        db = self.open()
        doc = sorn.idoc()
        doc.update(fields, [], LANG)
        self.insert(db, doc)
        self.assertEqual(self.saved_lookup(db, ["body:dogs", "body:cities"]), [{0}, {0}])

    def test_full_table_raises_limit_and_insert_keeps_the_earlier_terms(self):
        db = self.open()
        doc = sorn.idoc()
        terms = [("t%d" % i, 1) for i in range(81921)]
        with Logged() as log:
            with self.assertRaises(sorn.limit) as cm:
                doc.update([field("dogs", "body:")], terms, LANG)
        self.assertEqual(str(cm.exception), "idoc hashtable full")
        self.assertTrue(log.has('idoc_update: idoc hashtable full, terms="t81920"'))
        self.insert(db, doc)
        self.assertEqual(self.saved_lookup(db, ["t0", "t81919", "t81920", "body:dogs"]), [{0}, {0}, set(), set()])


class Insert(IdocTest):
    def test_result_is_zero_and_the_cut_strings(self):
        db = self.open()
        title = "x" * 100
        result = sorn.idoc().insert(db, title, "s" * 400, "p", "http://h/", "i", 0, 0, 0, 0, 0, NO_CHECKSUM, 0,
                                    0, [])
        self.assertEqual(result[0], 0)
        self.assertEqual(result[1], "x" * 64 + " ...")
        self.assertEqual(result[4], "http://h/")
        self.assertLess(len(result[2]), 400)
        self.assertTrue(result[2].endswith(" ..."))

    def test_checks_in_order(self):
        doc = sorn.idoc()
        self.assertSornError("Invalid database identifier: 0", self.insert, 0, doc)
        self.assertSornError("Invalid database identifier: 128", self.insert, 128, doc)
        self.assertSornError("Database not open: 9", self.insert, 9, doc)
        db = self.open()
        self.assertSornError("URL too long", self.insert, db, doc, "http://h/" + "u" * 247)
        self.insert(db, doc, "http://h/" + "u" * 246)  # 255 bytes

    def test_date_entry_holds_the_host_hash_and_the_day(self):
        db = self.open()
        for url in ("http://www.example.org/a/b.html", "http://nohost.example.org", "no-scheme/x"):
            self.insert(db, sorn.idoc(), url=url, date=86400 * 5 + 100)
        with open(os.path.join(self.path, "din"), "rb") as f:
            words = struct.unpack("<6I", f.read(24))
        self.assertEqual(words[0], sorn.hash1("www.example.org"))
        self.assertEqual(words[2:], (0, words[1], 0, words[1]))
        self.assertEqual(words[1] & 0xFFFF, 0)
        self.assertNotEqual(words[1], 0)

    def test_title_record_fields(self):
        db = self.open()
        self.insert(db, sorn.idoc(), checksum=struct.pack("<II", 0x1234, 0x5678),
                    classifications=[0x01000005, 0x02FFFFFF, 3, 4, 5], deletion=0x1FE)
        with open(os.path.join(self.path, "ti0"), "rb") as f:
            rec = f.read(448)
        self.assertEqual(struct.unpack(">4I", rec[392:408]), (0x01000005, 0x02FFFFFF, 3, 4))
        self.assertEqual(struct.unpack(">HH", rec[412:416]), (3, 2))
        self.assertEqual(struct.unpack(">II", rec[432:440]), (0x1234, 0x5678))
        with open(os.path.join(self.path, "del"), "rb") as f:
            self.assertEqual(f.read(1), b"\xfe")

    def test_a_document_is_stored_once(self):
        db = self.open()
        doc = sorn.idoc()
        doc.update([field("dogs", "body:")], [], LANG)
        self.insert(db, doc)
        self.assertSornError("document already inserted", self.insert, db, doc)
        self.assertSornError("update after insert", doc.update, [field("cats", "body:")], [], LANG)
        self.assertEqual(sorn.numdocs(db), 1)

    def test_too_many_docs(self):
        db = self.open(capacity=2)
        self.insert(db, sorn.idoc())
        self.insert(db, sorn.idoc())
        doc = sorn.idoc()
        self.assertSornError("Too many docs", self.insert, db, doc)
        self.assertEqual(sorn.numdocs(db), 2)
        # Not stored: the document may go to another database.
        other = sorn.open_db(new_index(os.path.join(self.dir, "other")), "", 1, 10)
        self.insert(other, doc)

    def test_refusals_of_the_store(self):
        db = self.open()
        first = sorn.idoc()
        first.update([], [("t", 1)], LANG)
        self.insert(db, first, normalise=0)
        with Logged() as log:
            sorn.set_log_handler(0x40000000, log.handle)
            doc = sorn.idoc()
            doc.update([], [("t", 1)], LANG)
            self.assertSornError("Failed: idbm_index_and_log", self.insert, db, doc, normalise=1)
            self.assertTrue(log.has("inconsistent normalization"))
            sorn.close_journal(db)
            self.assertSornError("Failed: idbm_index_and_log", self.insert, db, doc)
            self.assertTrue(log.has("no journal open"))
        self.assertEqual(sorn.numdocs(db), 1)


class IndexTermsAndTopics(IdocTest):
    def test_iterms_weighs_words_by_the_catalog(self):
        source = self.open()
        for i in range(10):
            doc = sorn.idoc()
            doc.update([field("common word%d" % i, "", a=30)], [], LANG)
            self.insert(source, doc)
        sorn.save_db(source)
        merged = os.path.join(self.dir, "merged")
        subprocess.run([os.path.join(vorlane_testing.BUILD, "bin", "index_catalog"), merged, self.path],
                       check=True)
        indexed = sorn.open_db(new_index(os.path.join(self.dir, "new")), os.path.join(merged, "cat"), 1, 10)
        plain = sorn.open_db(new_index(os.path.join(self.dir, "plain")), "", 1, 10)
        doc = sorn.idoc()
        doc.update([field("common", "", a=30), field("unusual", "", a=30), field("Heading", "title:")],
                   [("site:x", 90)], LANG)
        # A word every document of the catalog has weighs less than one none has.
        self.assertEqual(doc.iterms(indexed, "new doc", 0, LANG), "unusual common")
        self.assertEqual(doc.iterms(plain, "new doc", 0, LANG), "")
        self.assertSornError("invalid language", doc.iterms, indexed, "new doc", 0, "klingon")
        self.assertSornError("Database not open: 99", doc.iterms, 99, "new doc", 0, LANG)

    def test_topics_of_the_matched_rules(self):
        sorn.classify_build_table([(7, 1, ["body:dogs", "title:red"], ["body:cats"]), (9, 2, ["site:x"], [])], 10)
        doc = sorn.idoc()
        doc.update([field("dogs", "body:")], [("site:x", 1)], LANG)
        self.assertEqual(doc.get_topics(), [9])
        doc.update([field("Red", "title:")], [], LANG)
        self.assertEqual(doc.get_topics(), [9, 7])
        self.assertEqual(doc.get_topics(), [9, 7])
        doc.update([field("cats", "body:")], [], LANG)
        self.assertEqual(doc.get_topics(), [9])
        self.assertEqual(sorn.idoc().get_topics(), [])

    def test_topics_need_the_table(self):
        r = vorlane_testing.run_child(
            "import sorn\n"
            "try:\n"
            "    sorn.idoc().get_topics()\n"
            "except sorn.error as e:\n"
            "    print(e)\n")
        self.assertEqual(r.stdout.strip(), "classification hashtable not initialized", r.stderr)


if __name__ == "__main__":
    unittest.main()
