"""The search page's paging: for random queries over real pages, following
the "Next" links from the first page of 7, 10 or 20 hits shows the ranking
of the first 500 hits, each document once and none left out, every page
reached has hits, and the last page offers no "Next"."""
import html
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.parse
import urllib.request

import sorn
import vorlane_testing
from server_testing import start_server, stop_server
from vorlane_queries import random_query, vocabulary, words_of

DOCS = "/usr/share/doc/python3.11/html"
SECTIONS = ("tutorial", "faq", "howto", "reference", "using", "extending")
EXAMPLES = os.path.join(vorlane_testing.SOURCE, "examples")
SERVER = vorlane_testing.SERVER
HIT = re.compile(r'<a class="hit" href="([^"]*)">')
NEXT = re.compile(r'<a class="page" href="([^"]*)">Next</a>')

sys.path.insert(0, EXAMPLES)
import vorlane_app as app  # noqa: E402


class Fixture:
    root = tmp = data = proc = port = None
    dbs = []
    words = texts = []


def setUpModule():
    Fixture.root = vorlane_testing.TempRoot().start()
    Fixture.tmp = tempfile.mkdtemp(prefix="vorlane-server-paging-")
    docs = os.path.join(Fixture.tmp, "docs")
    for section in SECTIONS:
        shutil.copytree(os.path.join(DOCS, section), os.path.join(docs, section))
    Fixture.data = os.path.join(Fixture.tmp, "data")
    subprocess.run([SERVER, "-child", os.path.join(EXAMPLES, "index.py"), "--data", Fixture.data, docs],
                   check=True, capture_output=True, timeout=300)
    Fixture.proc, Fixture.port = start_server(Fixture.data)
    # The same databases, searched here for the whole ranking.
    app.start_engine()
    Fixture.dbs = app.open_for_search(app.searchable(Fixture.data))
    Fixture.texts = []
    for top, _, names in os.walk(docs):
        for name in sorted(names):
            with open(os.path.join(top, name), "rb") as f:
                Fixture.texts.append(words_of(sorn.parse_html(f.read(), b"http://x/")[2] or b""))
    Fixture.words = vocabulary(Fixture.texts, app.STOP_WORDS)


def tearDownModule():
    stop_server(Fixture.proc)
    for ident in Fixture.dbs:
        sorn.quit_db(ident)
    shutil.rmtree(Fixture.tmp, ignore_errors=True)
    Fixture.root.stop()


def get(path):
    with urllib.request.urlopen("http://127.0.0.1:%d%s" % (Fixture.port, path), timeout=30) as r:
        return r.read().decode("utf-8")


class Paging(unittest.TestCase):
    def walk(self, text, count):
        """The hits of the pages reached from the first by "Next"."""
        path = "/?q=%s&count=%d" % (urllib.parse.quote_plus(text), count)
        shown = []
        pages = 0
        while path:
            body = get(path)
            hits = [html.unescape(u) for u in HIT.findall(body)]
            pages += 1
            if pages > 1:
                self.assertTrue(hits, "%r: %s has no hits" % (text, path))
            shown += hits
            following = NEXT.findall(body)
            path = html.unescape(following[0]) if following else None
        return shown

    def test_next_pages_lay_out_the_ranking(self):
        rng = random.Random(43)
        long = 0
        for _ in range(25):
            text = random_query(rng, Fixture.words, Fixture.texts)
            ranking = [h.url for h in app.search(text, Fixture.dbs, 1, app.MAX_START).hits]
            long += len(ranking) > 20
            for count in (7, 10, 20):
                self.assertEqual(self.walk(text, count), ranking, "%r in pages of %d" % (text, count))
        self.assertGreater(long, 5)

    def test_a_page_that_ends_the_ranking_offers_no_next(self):
        ranking = [h.url for h in app.search("python", Fixture.dbs, 1, app.MAX_START).hits]
        n = len(ranking)
        self.assertGreater(n, 20)
        for start, count in ((n - 9, 10), (n - 10, 10), (n - 11, 10), (1, n), (1, n - 1)):
            body = get("/?q=python&start=%d&count=%d" % (start, count))
            hits = [html.unescape(u) for u in HIT.findall(body)]
            self.assertEqual(hits, ranking[start - 1:start - 1 + count], (start, count))
            self.assertEqual(bool(NEXT.findall(body)), start - 1 + count < n, (start, count))


if __name__ == "__main__":
    unittest.main()
