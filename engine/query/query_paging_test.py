"""sorn.query pages and totals against simple models.

Pages: a few hundred real pages of python3.11-doc, indexed through
parse_html and idoc into one database and, split, into three; for random
queries (words, + and -, quoted phrases, OR and "|" refinements) the pages
of 7, 10 and 20 hits laid end to end are the ranking of (1, 500), with no
document twice and none left out, and every page tells the same total.

Totals: documents of made-up words with known contents; after deletions
and under date windows the total and the hits are those of a brute-force
count of the documents that match and pass the filters.

A database named twice in one query counts once."""
import os
import random
import shutil
import tempfile
import unittest

import sorn
from vorlane_index import ENGLISH, doc_pages, index_html
from vorlane_queries import random_query, vocabulary, words_of

SECTIONS = ("tutorial", "faq", "howto", "reference", "using", "extending", "whatsnew", "c-api")
LIBRARY_PAGES = 140
DAY = 86400
T0 = 1700000000 - 1700000000 % DAY + 3600  # 01:00 UTC of a day (ctest sets TZ=UTC)
STOP = ["the", "of", "and", "a", "to", "in", "is", "it"]
LANGUAGES = ["english"]
PAGE_SIZES = (7, 10, 20)
LAST = 500  # the engine ranks at most 500 hits


def query(text, dbs, start=1, count=10, date_a=0, date_b=0):
    return sorn.query(start, count, LANGUAGES, text, list(dbs), date_a, date_b, 0)


def keys(hits):
    return [(h[12], h[13]) for h in hits]


class Fixture:
    tmp = None
    one = None     # the real pages in one database
    split = None   # the same pages over three (page i in i mod 3)
    vocabulary = []
    texts = []     # the pages' words, for phrases


def setUpModule():
    Fixture.tmp = tempfile.mkdtemp(prefix="vorlane-paging-")
    sorn.cache_init(1 << 25, 40000, 4)
    sorn.lang_init("english", ENGLISH)
    sorn.init_stopword_table("english", STOP)
    pages = doc_pages(SECTIONS) + doc_pages(["library"], LIBRARY_PAGES)
    docs = [(html, url, T0 + (i % 5) * DAY) for i, (html, url) in enumerate(pages)]
    Fixture.one = index_html(os.path.join(Fixture.tmp, "one"), docs)
    Fixture.split = [index_html(os.path.join(Fixture.tmp, "part%d" % k), docs[k::3]) for k in range(3)]
    # Words of every frequency, from rare to common, and the pages' texts.
    Fixture.texts = [words_of(sorn.parse_html(html, url.encode())[2] or b"") for html, url in pages]
    Fixture.vocabulary = vocabulary(Fixture.texts, STOP)


def tearDownModule():
    for ident, _ in sorn.list():
        sorn.quit_db(ident)
    shutil.rmtree(Fixture.tmp, ignore_errors=True)


class Pages(unittest.TestCase):
    def check_pages(self, text, dbs):
        full = query(text, dbs, 1, LAST)
        ranking = full[3]
        self.assertEqual(len(set(keys(ranking))), len(ranking), text)
        for size in PAGE_SIZES:
            laid = []
            for start in range(1, LAST + 1, size):
                page = query(text, dbs, start, size)
                if page[3]:
                    self.assertEqual(page[:3], full[:3], "%r page %d of %d" % (text, start, size))
                elif ranking:
                    self.assertEqual(page[:2], full[:2], "%r page %d of %d" % (text, start, size))
                laid += page[3]
                if len(page[3]) < size:
                    break
            self.assertEqual(keys(laid), keys(ranking), "%r in pages of %d" % (text, size))
            self.assertEqual(laid, ranking, "%r in pages of %d" % (text, size))

    def test_pages_laid_end_to_end_are_one_ranking(self):
        rng = random.Random(40)
        texts = [random_query(rng, Fixture.vocabulary, Fixture.texts) for _ in range(200)]
        ranked = 0
        for text in texts:
            for dbs in ([Fixture.one], Fixture.split):
                self.check_pages(text, dbs)
            ranked += len(query(text, [Fixture.one], 1, LAST)[3]) > 20
        self.assertGreater(ranked, 60)  # enough queries run to several pages

    def test_queries_of_the_report(self):
        # Two-, three- and four-word queries whose pages of 10 repeated and
        # skipped documents; rank 50 of (1, 50) and (1, 51).
        for text in ("socket server client http request", "list dict", "module function class",
                     "string format number output"):
            for dbs in ([Fixture.one], Fixture.split):
                self.check_pages(text, dbs)
                self.assertEqual(query(text, dbs, 1, 50)[3], query(text, dbs, 1, 51)[3][:50])


class SameDatabaseTwice(unittest.TestCase):
    def test_counted_and_ranked_once(self):
        a, b, c = Fixture.split
        for text in ("python", "list dict", '+module -class', "file | directory"):
            with self.subTest(query=text):
                once = query(text, [a], count=100)
                self.assertGreater(len(once[3]), 0)
                self.assertEqual(query(text, [a, a], count=100), once)
                three = query(text, [a, b, c], count=100)
                self.assertEqual(query(text, [a, b, a, c, b], count=100), three)
                self.assertEqual(len(set(keys(three[3]))), len(three[3]))


# ---- totals ----------------------------------------------------------------

WORDS = ["blick", "tromp", "quaz", "vorn", "glim", "frud", "snet", "plov", "krim", "drax"]
FORMS = [  # (query, documents that match, given the documents of a, b, c)
    ("{a}", lambda a, b, c: a),
    ("{a} {b}", lambda a, b, c: a | b),
    ("{a} OR {b}", lambda a, b, c: a | b),
    ("+{a} +{b}", lambda a, b, c: a & b),
    ("+{a} {b}", lambda a, b, c: a),
    ("{a} -{b}", lambda a, b, c: a - b),
    ("{a} {b} -{c}", lambda a, b, c: (a | b) - c),
    ("{a} {b} {c}", lambda a, b, c: a | b | c),
    ("{a} | {b}", lambda a, b, c: a & b),
]


class Totals(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        rng = random.Random(41)
        cls.docs = []  # (url, words, day)
        for i in range(240):
            words = rng.sample(WORDS, rng.randint(1, 4))
            cls.docs.append(("http://t.example.org/%d" % i, set(words), i % 6))
        triples = [(b"<html><head><title>t%d</title></head><body><p>%s filler</p></body></html>"
                    % (i, " ".join(sorted(w)).encode()), url, T0 + day * DAY)
                   for i, (url, w, day) in enumerate(cls.docs)]
        cls.one = index_html(os.path.join(Fixture.tmp, "words"), triples)
        cls.split = [index_html(os.path.join(Fixture.tmp, "words%d" % k), triples[k::3]) for k in range(3)]
        # A quarter of the documents deleted, in both sets.
        cls.deleted = set(rng.sample(range(len(cls.docs)), len(cls.docs) // 4))
        for i in sorted(cls.deleted):
            sorn.delete(cls.one, i)
            sorn.delete(cls.split[i % 3], i // 3)

    def expected(self, form, words, earliest, latest):
        a, b, c = ({i for i, (_, w, _) in enumerate(self.docs) if word in w} for word in words)
        return {self.docs[i][0] for i in form(a, b, c)
                if i not in self.deleted and earliest <= self.docs[i][2] <= latest}

    def test_totals_are_brute_force_counts(self):
        rng = random.Random(42)
        windows = [(0, 0, 0, 9), (T0 + 3 * DAY, 0, 0, 3), (0, T0 + 2 * DAY, 2, 9),
                   (T0 + 4 * DAY, T0 + DAY, 1, 4), (T0, T0, 0, 0)]
        for _ in range(60):
            text, form = rng.choice(FORMS)
            words = rng.sample(WORDS, 3)
            text = text.format(a=words[0], b=words[1], c=words[2])
            for date_a, date_b, earliest, latest in windows:
                want = self.expected(form, words, earliest, latest)
                for dbs in ([self.one], self.split):
                    r = query(text, dbs, 1, LAST, date_a, date_b)
                    where = "%r window %d..%d over %d" % (text, earliest, latest, len(dbs))
                    self.assertEqual(r[0], len(want), where)
                    self.assertEqual({h[3] for h in r[3]}, want, where)


if __name__ == "__main__":
    unittest.main()
