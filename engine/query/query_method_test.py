"""sorn.query over databases indexed from real HTML pages (parse_html,
idoc.update, idoc.insert, save_db) and reopened for querying: argument
checks, paging, languages, term pairs, long texts, term details, deletion,
the date window, the buffer pool, and the same pages split over three
databases against one."""
import os
import shutil
import tempfile
import unittest

import sorn
import vorlane_testing
from vorlane_index import ENGLISH, doc_pages, index_html, test_language

SECTIONS = ("tutorial", "faq")
DAY = 86400
T0 = 1700000000 - 1700000000 % DAY + 3600  # 01:00 UTC of a day (ctest sets TZ=UTC)
STOP = ["the", "of", "and", "a", "to", "in", "is", "it"]
BOOLEAN_QUERIES = ['+python +list', 'python -list', '"standard library"', 'module AND function',
                   'string NOT integer', '+dictionary -tuple', 'exception OR error']


def pages():
    return doc_pages(SECTIONS)


def build(path, docs, language="english"):
    return index_html(path, docs, language)


def page(html_body, title):
    return b"<html><head><title>%s</title></head><body><p>%s</p></body></html>" % (title, html_body)


def urls(result):
    return sorted(h[3] for h in result[3])


class Fixture:
    tmp = None
    one = None      # every page in one database
    split = None    # the same pages over three databases (page i in i mod 3)
    dated = {}      # url -> date


def setUpModule():
    Fixture.tmp = tempfile.mkdtemp(prefix="vorlane-query-")
    sorn.cache_init(1 << 24, 1000, 4)
    sorn.lang_init("english", ENGLISH)
    sorn.init_stopword_table("english", STOP)
    sorn.lang_init("testlang", test_language(Fixture.tmp))
    docs = [(html, url, T0 + (i % 5) * DAY) for i, (html, url) in enumerate(pages())]
    Fixture.dated = {url: date for _, url, date in docs}
    Fixture.one = build(os.path.join(Fixture.tmp, "one"), docs)
    Fixture.split = [build(os.path.join(Fixture.tmp, "part%d" % k), docs[k::3]) for k in range(3)]


def tearDownModule():
    for ident, _ in sorn.list():
        sorn.quit_db(ident)
    shutil.rmtree(Fixture.tmp, ignore_errors=True)


def query(text, dbs, start=1, count=10, languages=("english",), date_a=0, date_b=0, details=0):
    return sorn.query(start, count, list(languages), text, list(dbs), date_a, date_b, details)


class Arguments(unittest.TestCase):
    def assertSornError(self, message, *args, **kw):
        with self.assertRaises(sorn.error) as cm:
            query(*args, **kw)
        self.assertEqual(str(cm.exception), message)

    def test_checks_in_order(self):
        self.assertSornError("Start must be 1 or greater.", "python", [99] * 60, start=0)
        self.assertSornError("Too many dbs in query. Please choose fewer collections.", "python",
                             [Fixture.one] * 49, languages=["x"] * 49)
        self.assertSornError("Too many langs in query. Please choose fewer collections.", "python",
                             [Fixture.one] * 48, languages=["english"] * 49)
        self.assertSornError("Invalid database identifier: 0", "python", [Fixture.one, 0])
        self.assertSornError("Database not open: 99", "python", [99])
        self.assertSornError("invalid language", "python", [Fixture.one], languages=["klingon"])
        # An empty language list with databases is refused the same way.
        self.assertSornError("invalid language", "python", [Fixture.one], languages=[])
        with self.assertRaises(TypeError):
            query("python", [Fixture.one], languages=[3])
        with self.assertRaises(TypeError):
            query("python \u0100", [Fixture.one])
        with self.assertRaises(TypeError):
            query("python", ["1"])

    def test_forty_eight_databases_and_languages(self):
        r = query("python", [Fixture.one] * 48, count=5, languages=["english"] * 48)
        self.assertEqual(len(r[3]), 5)
        # One database named 48 times is counted once.
        self.assertEqual(r[:3], query("python", [Fixture.one], count=5)[:3])

    def test_no_databases(self):
        while sorn.reap_query_buffers():
            pass
        self.assertEqual(query("python", []), (0, 0, [], []))
        self.assertEqual(query("python", [], languages=[]), (0, 0, [], []))
        self.assertEqual(sorn.reap_query_buffers(), 0)  # no buffer was taken
        query("python", [Fixture.one])
        self.assertEqual(sorn.reap_query_buffers(), 1)

    def test_reap_takes_no_argument(self):
        with self.assertRaises(TypeError):
            sorn.reap_query_buffers(1)

    def test_bytes_and_str_texts_agree(self):
        self.assertEqual(query(b"python", [Fixture.one]), query("python", [Fixture.one]))

    def test_lists_changed_while_converted(self):
        dbs = [Fixture.one]

        class Emptying:
            def __index__(self):
                dbs.clear()
                return Fixture.one
        dbs.append(Emptying())
        r = query("python", dbs)
        self.assertEqual(r, query("python", [Fixture.one]))  # the same database twice counts once

        path = os.path.join(Fixture.tmp, "closing")
        doomed = build(path, [(page(b"python", b"t"), "http://c.example.org/0", T0)])

        class Closing:
            def __index__(self):
                sorn.quit_db(doomed)
                return Fixture.one
        with self.assertRaises(sorn.error) as cm:
            query("python", [doomed, Closing()])
        self.assertEqual(str(cm.exception), "Database not open: %d" % doomed)

        class Raising:
            def __index__(self):
                raise ValueError("no")
        with self.assertRaises(ValueError):
            query("python", [Fixture.one, Raising()])


class Paging(unittest.TestCase):
    def test_start_past_the_last_hit_and_past_500(self):
        full = query("python", Fixture.split, count=500)
        n = len(full[3])
        self.assertGreater(n, 20)
        past = query("python", Fixture.split, start=n + 1)
        self.assertEqual(past, (full[0], full[1], [], []))
        self.assertEqual(query("python", Fixture.split, start=501), (0, 0, [], []))
        self.assertEqual(query("python", Fixture.split, start=2 ** 31 - 1, count=2 ** 31 - 1), (0, 0, [], []))

    def test_pages_are_slices_of_one_ranking(self):
        whole = query("python", Fixture.split, start=1, count=20)
        second = query("python", Fixture.split, start=11, count=10)
        strip = lambda hits: [h[1:] for h in hits]  # percentages are of the page
        self.assertEqual([(h[12], h[13]) for h in second[3]], [(h[12], h[13]) for h in whole[3][10:20]])
        self.assertEqual(strip(second[3]), strip(whole[3][10:20]))
        self.assertEqual(second[:3], whole[:3])

    def test_result_shape(self):
        total, documents, terms, hits = query("python", Fixture.split, count=3)
        self.assertEqual(documents, sum(sorn.numdocs(d) for d in Fixture.split))
        self.assertGreaterEqual(total, 3)
        self.assertEqual(terms, [("python", terms[0][1])])
        self.assertEqual(len(hits), 3)
        for h in hits:
            self.assertEqual(len(h), 16)
            self.assertTrue(1 <= h[0] <= 100)
            self.assertIn(h[3], Fixture.dated)
            self.assertEqual(h[7], Fixture.dated[h[3]])
            self.assertEqual(h[11], [0, 0, 0, 0])
            self.assertIn(h[12], Fixture.split)
            self.assertEqual((h[14], h[15]), ([], 0))
            self.assertEqual(sorn.titles([(h[12], h[13])])[0], h[1:11])


class Languages(unittest.TestCase):
    def test_third_database_uses_the_first_language(self):
        # The test language stems "paris" to "par"; the English set keeps it.
        docs = [(page(b"paris in spring", b"paris"), "http://l.example.org/0", T0)]
        dbs = [build(os.path.join(Fixture.tmp, "lang%d" % k), docs) for k in range(3)]
        r = query("paris", dbs, languages=["english", "testlang"])
        self.assertEqual(sorted(h[12] for h in r[3]), [dbs[0], dbs[2]])
        r = query("paris", dbs, languages=["testlang", "english"])
        self.assertEqual([h[12] for h in r[3]], [dbs[1]])


class Terms(unittest.TestCase):
    def test_more_than_forty_terms_give_forty_pairs(self):
        words = ("python list string function module class object file error dictionary tuple "
                 "number value variable loop statement expression operator integer float program "
                 "interpreter example method attribute argument keyword return import package "
                 "exception syntax index slice sequence iterator generator comprehension lambda "
                 "scope namespace instance inheritance format print input output").split()
        self.assertGreater(len(words), 45)
        r = query(" ".join(words), [Fixture.one])
        self.assertEqual(len(r[2]), 40)
        for term, count in r[2]:
            self.assertIsInstance(term, str)
            self.assertGreater(count, 0)
        few = query(" ".join(words[:5]), [Fixture.one])
        self.assertEqual(few[2][:5], r[2][:5])

    def test_counts_sum_over_databases(self):
        one = dict(query("python list", [Fixture.one])[2])
        split = dict(query("python list", Fixture.split)[2])
        self.assertEqual(one, split)

    def test_long_texts_fill_the_request(self):
        base = query("python", [Fixture.one])
        self.assertGreater(base[0], 0)
        for n in (1990, 1991, 1992, 5000):
            text = "python" + " " * (n - 6)
            with self.subTest(length=n):
                r = query(text, [Fixture.one])
                self.assertEqual(r[0], base[0])
                self.assertEqual(urls(r), urls(base))


class Details(unittest.TestCase):
    def test_fractions_and_quality(self):
        plain = query("+python +list", Fixture.split, count=20)
        r = query("+python +list", Fixture.split, count=20, details=1)
        self.assertEqual([h[:14] for h in r[3]], [h[:14] for h in plain[3]])
        self.assertEqual(r[2], plain[2])
        terms = {t for t, _ in r[2]}
        self.assertGreater(len(r[3]), 0)
        for h in r[3]:
            self.assertEqual(h[15], 4)  # quality_offsets[4] with the default offsets
            got = {t for t, _ in h[14]}
            self.assertLessEqual(got, terms)
            self.assertGreaterEqual(len(h[14]), 2)  # both required terms
            for _, fraction in h[14]:
                self.assertIsInstance(fraction, float)
                self.assertGreater(fraction, 0.0)

    def test_details_that_outgrow_the_merged_area_are_left_empty(self):
        # 500 documents over four databases, each holding the same 60
        # words: the second merge would need a block of 500 hits for every
        # term, more than the merged area holds, and fails.
        syllables = ["ba", "ke", "mi", "do", "pu", "sa", "te", "vo"]
        words = [a + b + "x" for a in syllables for b in syllables][:60]
        body = " ".join(words).encode()
        dbs = []
        for k in range(4):
            docs = [(page(body, b"w"), "http://w%d.example.org/%d" % (k, i), T0) for i in range(125)]
            dbs.append(build(os.path.join(Fixture.tmp, "wide%d" % k), docs))
        text = " ".join(words)
        plain = query(text, dbs, count=500)
        r = query(text, dbs, count=500, details=1)
        self.assertEqual(len(r[3]), 500)
        self.assertEqual(r[:3], plain[:3])
        self.assertEqual([h[:14] for h in r[3]], [h[:14] for h in plain[3]])
        self.assertEqual({(tuple(h[14]), h[15]) for h in r[3]}, {((), 0)})
        # A page small enough for its details still gets them.
        r = query(" ".join(words[:3]), dbs, count=5, details=1)
        self.assertGreaterEqual(len(r[2]), 3)
        self.assertEqual([len(h[14]) for h in r[3]], [len(r[2])] * 5)

    def test_quality_follows_the_offsets(self):
        try:
            sorn.qual_init([0, 1, 2, 3, 9, 5, 6, 7])
            r = query("python", Fixture.split, count=5, details=1)
            self.assertEqual({h[15] for h in r[3]}, {9})
        finally:
            sorn.qual_init([0, 1, 2, 3, 4, 5, 6, 7])


class Changes(unittest.TestCase):
    def test_deleted_document_leaves_the_next_query(self):
        docs = [(page(b"zebra number %d" % i, b"zebra"), "http://z.example.org/%d" % i, T0) for i in range(3)]
        db = build(os.path.join(Fixture.tmp, "zebra"), docs)
        before = query("zebra", [db])
        self.assertEqual(len(before[3]), 3)
        sorn.delete(db, 1)
        after = query("zebra", [db])
        self.assertEqual(sorted(h[13] for h in after[3]), [0, 2])
        self.assertEqual(after[0], 2)

    def test_date_window_filters_by_day(self):
        everything = query("python", [Fixture.one], count=500)
        def on_days(lo, hi):
            return sorted(h[3] for h in everything[3] if lo <= (Fixture.dated[h[3]] - T0) // DAY <= hi)
        # The window takes days: any time of a day stands for all of it.
        r = query("python", [Fixture.one], count=500, date_a=T0 + 3 * DAY + 7200, date_b=T0 + DAY + 60)
        self.assertEqual(urls(r), on_days(1, 3))
        self.assertEqual(urls(query("python", [Fixture.one], count=500, date_b=T0 + 4 * DAY)), on_days(4, 4))
        self.assertEqual(urls(query("python", [Fixture.one], count=500, date_a=T0)), on_days(0, 0))
        self.assertEqual(urls(query("python", [Fixture.one], count=500, date_a=-5, date_b=0)),
                         urls(everything))


class SplitAgainstOne(unittest.TestCase):
    def test_same_hits_and_totals(self):
        for text in BOOLEAN_QUERIES:
            with self.subTest(query=text):
                one = query(text, [Fixture.one], count=500)
                split = query(text, Fixture.split, count=500)
                self.assertGreater(len(one[3]), 0)
                self.assertEqual(urls(split), urls(one))
                self.assertEqual(split[0], one[0])
                # Documents count the databases that contributed hits.
                self.assertEqual(split[1], sum(sorn.numdocs(d) for d in {h[12] for h in split[3]}))
                self.assertEqual(one[1], sorn.numdocs(Fixture.one))

    def test_scores_are_ranked(self):
        r = query("python list", Fixture.split, count=100)
        scores = [h[0] for h in r[3]]
        self.assertEqual(scores, sorted(scores, reverse=True))


def quiet(level, text):
    pass


class QueriesFromALogHandler(unittest.TestCase):
    """A log handler runs while a query is evaluated, on the query's thread:
    queries it starts must leave the one in progress alone."""

    OUTER = 'python +list "standard library"'
    INNER = 'exception OR error | "the tutorial"'

    def run_with_inner_queries(self, mask, outer):
        inner = []
        busy = []

        def handler(level, text):
            if busy:
                return  # the inner queries' own messages
            busy.append(1)
            try:
                inner.append((query(self.INNER, [Fixture.one], count=15),
                              len(sorn.query_allhits("english", self.INNER, Fixture.one))))
            finally:
                busy.pop()

        sorn.set_log_handler(mask, handler)
        try:
            result = outer()
        finally:
            sorn.set_log_handler(0, quiet)
        return result, inner

    def test_outer_results_are_those_of_a_quiet_run(self):
        # Level 0x8 logs the parse, 0x1000 the evaluation of each database
        # (all-hits runs log only the parse).
        outers = {
            "query": (lambda: query(self.OUTER, [Fixture.one], count=20), (0x8, 0x1000)),
            "query with details over three databases":
                (lambda: query(self.OUTER, Fixture.split, count=20, details=1), (0x8, 0x1000)),
            "all hits": (lambda: sorn.query_allhits("english", self.OUTER, Fixture.one), (0x8,)),
        }
        inner_alone = (query(self.INNER, [Fixture.one], count=15),
                       len(sorn.query_allhits("english", self.INNER, Fixture.one)))
        self.assertTrue(inner_alone[0][3])
        for name, (outer, masks) in outers.items():
            alone = outer()
            self.assertTrue(alone)
            for mask in masks:
                with self.subTest(outer=name, mask=hex(mask)):
                    result, inner = self.run_with_inner_queries(mask, outer)
                    self.assertTrue(inner, "the handler ran no query")
                    self.assertEqual(result, alone)
                    for r in inner:
                        self.assertEqual(r, inner_alone)


# Queries, term details, all-hits runs and refinements on 16 script threads
# of 64 KiB stacks give what they give on the main thread. One refinement
# runs out of term room: its error goes through the script log handler.
SMALL_STACKS = r"""
import sys, threading
import sorn
english, one_path, filler = sys.argv[1], sys.argv[2], sys.argv[3]
split_paths = sys.argv[4:]
sorn.cache_init(1 << 24, 1000, 20)
sorn.lang_init("english", english)
sorn.init_stopword_table("english", %r)
one = sorn.open_db(one_path, "", 1, 0)
split = [sorn.open_db(p, "", 1, 0) for p in split_paths]
errors = []
sorn.set_log_handler(0x40000000, lambda level, text: errors.append(text))
def q(text, dbs, details=0):
    return sorn.query(1, 20, ["english"], text, dbs, 0, 0, details)
work = [
    lambda: q("python list dictionary", [one]),
    lambda: q('+python "standard library" -tuple', split, 1),
    lambda: q('module function "the python tutorial"', split),
    lambda: q("exception | error || handling", [one]),
    lambda: q(filler + " | python", [one]),
    lambda: [t[10] for t in sorn.query_allhits("english", '+python "the standard library"', one)],
    lambda: [t[10] for t in sorn.query_allhits("english", "list dictionary set tuple string", one)],
]
def all_of():
    return [f() for f in work]
expected = all_of()
threading.stack_size(64 * 1024)
outcomes = []
def run():
    outcomes.append(all(all_of() == expected for _ in range(3)))
threads = [threading.Thread(target=run) for _ in range(16)]
for t in threads:
    t.start()
for t in threads:
    t.join()
print(len(outcomes), outcomes.count(True), sum(1 for e in errors if "buffer space in refinement" in e) >= 17,
      all(len(r) > 0 for r in expected))
""" % (STOP,)


class SmallStacks(unittest.TestCase):
    def test_sixteen_threads_of_64_kib(self):
        # 78 indexed words fill the first part's term room.
        html = pages()[0][0]
        words = []
        for w in sorn.parse_html(html, b"http://x/")[2].decode("latin-1").lower().split():
            if w.isalpha() and w not in STOP and w not in words and query(w, [Fixture.one])[0] > 0:
                words.append(w)
        self.assertGreaterEqual(len(words), 78)
        r = vorlane_testing.run_child(SMALL_STACKS, ENGLISH, os.path.join(Fixture.tmp, "one"), " ".join(words[:78]),
                                      *[os.path.join(Fixture.tmp, "part%d" % k) for k in range(3)], timeout=120)
        self.assertEqual(r.returncode, 0, r.stderr[-2000:])
        self.assertEqual(r.stdout.split("\n")[0], "16 16 True True")


# Three queries at once with a pool limit of 2 (each holds its buffer at a
# barrier inside its evaluation, reached through the log hook): when they
# end two buffers stay pooled; reaping then frees 1, 1 and 0.
POOL = r"""
import sys, threading
import sorn
sorn.cache_init(1 << 22, 1000, 2)
sorn.lang_init("english", sys.argv[2])
db = sorn.open_db(sys.argv[1], "", 1, 0)
barrier = threading.Barrier(3, timeout=60)
local = threading.local()
def handler(level, text):
    if text.startswith("query_each: query=") and local.__dict__.get("armed"):
        local.armed = False
        barrier.wait()
sorn.set_log_handler(8, handler)
results = []
def run():
    local.armed = True
    results.append(len(sorn.query(1, 5, ["english"], "python", [db], 0, 0, 0)[3]))
threads = [threading.Thread(target=run) for _ in range(3)]
for t in threads:
    t.start()
for t in threads:
    t.join()
print(results, barrier.broken)
print(sorn.reap_query_buffers(), sorn.reap_query_buffers(), sorn.reap_query_buffers())
sorn.query(1, 5, ["english"], "python", [db], 0, 0, 0)
sorn.query(1, 5, ["english"], "python", [db], 0, 0, 0)
print(sorn.reap_query_buffers())
"""


class Pool(unittest.TestCase):
    def test_three_at_once_with_limit_two(self):
        r = vorlane_testing.run_child(POOL, os.path.join(Fixture.tmp, "one"), ENGLISH)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.split("\n")[:3], ["[5, 5, 5] False", "1 1 0", "1"])


if __name__ == "__main__":
    unittest.main()
