"""Short words and abbreviations' plurals with the default English set, as a
script meets them: small documents indexed with idoc.update and found (or
not) by sorn.query. (sorn.get_stem of the same words: lid_stem_methods_test
in engine/analysis.)"""
import os
import shutil
import tempfile
import unittest

import sorn
from vorlane_index import ENGLISH, new_index

# One document per key, each the only one that holds its word.
DOCS = {
    "os": "Import the os module first.",
    "o": "Write the letter o twice.",
    "us": "Tell us what you need.",
    "u": "The letter u comes next.",
    "sys": "The sys module holds the interpreter state.",
    "sy": "Write sy in the margin.",
    "its": "The list keeps its order.",
    "it": "Run it again.",
    "io": "Buffered io streams.",
    "bed": "A bed for the night.",
    "be": "Let there be light.",
    "is": "Nothing is lost.",
    "was": "Nothing was lost.",
    "man": "One man came.",
    "men": "Two men came.",
    "ad": "One ad ran.",
    "ads": "Two ads ran.",
    "apis": "Several apis changed.",
    "APIs": "Several APIs changed.",
    "api": "One api changed.",
    "urls": "Many urls broke.",
    "url": "One url broke.",
    "uuids": "Some uuids repeat.",
    "uuid": "One uuid repeats.",
}

# A query, then the documents it finds.
QUERIES = [
    # Short words stay themselves, apart from the words they looked like.
    ("os", {"os"}), ("o", {"o"}), ("us", {"us"}), ("u", {"u"}), ("sys", {"sys"}), ("sy", {"sy"}),
    ("its", {"its"}), ("it", {"it"}), ("io", {"io"}), ("bed", {"bed"}),
    # Irregular forms and plain plurals still relate both ways.
    ("be", {"be", "is", "was"}), ("was", {"be", "is", "was"}), ("is", {"be", "is", "was"}),
    ("men", {"man", "men"}), ("man", {"man", "men"}), ("ads", {"ad", "ads"}), ("ad", {"ad", "ads"}),
    # Abbreviations and their plurals, both ways.
    ("api", {"api", "apis", "APIs"}), ("apis", {"api", "apis", "APIs"}),
    ("url", {"url", "urls"}), ("urls", {"url", "urls"}), ("uuid", {"uuid", "uuids"}), ("uuids", {"uuid", "uuids"}),
]

@unittest.skipUnless(os.path.exists(ENGLISH + ".hmm"), "no default English resource set")
class ShortWordsAndAbbreviations(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vorlane-english-")
        sorn.cache_init(1 << 22, 1000, 0)
        sorn.lang_init("english", ENGLISH)
        sorn.init_stopword_table("english", ["the", "a", "of", "to"])
        path = new_index(os.path.join(cls.tmp, "db"))
        db = sorn.open_db(path, "", 1, 100)
        for key, text in DOCS.items():
            doc = sorn.idoc()
            doc.update([(text.encode(), b"", 1, 1, 1, 1, 3)], [], "english")
            doc.insert(db, key.encode(), b"", b"", ("http://docs.example.org/" + key).encode(), b"", 0, 0, 0, 0, 0,
                       b"\0" * 8, 0, 0, [])
        sorn.save_db(db)
        sorn.quit_db(db)
        cls.db = sorn.open_db(path, "", 1, 0)

    @classmethod
    def tearDownClass(cls):
        sorn.quit_db(cls.db)
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_queries_find_the_documents_of_their_stems(self):
        for text, keys in QUERIES:
            with self.subTest(query=text):
                hits = sorn.query(1, 50, ["english"], text, [self.db], 0, 0, 0)[3]
                found = {h[3].rsplit("/", 1)[1] for h in hits}
                self.assertEqual(found, keys)


if __name__ == "__main__":
    unittest.main()
