"""The main job on real pages: a few hundred pages of python3.11-doc indexed
by examples/index.py and searched with examples/search.py, each run as a user
runs it (vorlane-server -child SCRIPT)."""
import os
import re
import shutil
import signal
import subprocess
import tempfile
import unittest

import vorlane_testing
from vorlane_index import all_urls

DOCS = "/usr/share/doc/python3.11/html"
EXAMPLES = os.path.join(vorlane_testing.SOURCE, "examples")
SERVER = vorlane_testing.SERVER


def copy_pages(target):
    """tutorial/, faq/ and the first 150 pages of library/: about 180."""
    names = []
    for section, limit in (("tutorial", None), ("faq", None), ("library", 150)):
        src = os.path.join(DOCS, section)
        pages = sorted(n for n in os.listdir(src) if n.endswith(".html"))[:limit]
        os.makedirs(os.path.join(target, section))
        for n in pages:
            shutil.copyfile(os.path.join(src, n), os.path.join(target, section, n))
            names.append("%s/%s" % (section, n))
    return names


def index(data, folder, *extra, timeout=300):
    r = subprocess.run([SERVER, "-child", os.path.join(EXAMPLES, "index.py"), "--data", data, folder, *extra],
                       capture_output=True, text=True, timeout=timeout)
    if r.returncode != 0:
        raise AssertionError("index.py failed (%d): %s%s" % (r.returncode, r.stdout, r.stderr))
    return r.stdout


HIT = re.compile(r"^\s*(\d+)\. \[\s*(\d+)\] (.*)$")


def search(data, *query, start=1, count=10, terms=False):
    """(first line, [(rank, score, title, url)]) of one search."""
    args = [SERVER, "-child", os.path.join(EXAMPLES, "search.py"), "--data", data,
            "--start", str(start), "--count", str(count)] + (["--terms"] if terms else []) + ["--", *query]
    r = subprocess.run(args, capture_output=True, text=True, timeout=60)
    if r.returncode != 0:
        raise AssertionError("search.py failed (%d): %s" % (r.returncode, r.stderr))
    lines = r.stdout.splitlines()
    hits = []
    for i, line in enumerate(lines):
        m = HIT.match(line)
        if m:
            hits.append((int(m.group(1)), int(m.group(2)), m.group(3), lines[i + 1].strip()))
    return lines[0], hits, r.stdout


def urls(hits):
    return [h[3] for h in hits]


def every_hit(*query):
    """The set of URLs of every hit of a query that has at most 100."""
    line, hits, _ = search(Fixture.data, *query, count=100)
    total = int(line.split()[0])
    assert total <= 100, (query, line)
    return set(urls(hits))


class Fixture:
    tmp = docs = data = None
    names = []
    first_run = ""


def setUpModule():
    Fixture.tmp = tempfile.mkdtemp(prefix="vorlane-demo-")
    Fixture.docs = os.path.join(Fixture.tmp, "docs")
    Fixture.names = copy_pages(Fixture.docs)
    Fixture.data = os.path.join(Fixture.tmp, "data")
    # A small capacity fills several databases, which the run then merges.
    Fixture.first_run = index(Fixture.data, Fixture.docs, "--capacity", "60")


def tearDownModule():
    shutil.rmtree(Fixture.tmp, ignore_errors=True)


def data_listing():
    """The data directory's entries, generations left out."""
    return sorted(n.split(".")[0] for n in os.listdir(Fixture.data))


def url_of(name):
    return "file://" + os.path.join(Fixture.docs, name)


class Searching(unittest.TestCase):
    def test_first_run_indexed_every_page_into_one_database(self):
        n = len(Fixture.names)
        self.assertIn("%d new, 0 changed, 0 unchanged, 0 left out; merged" % n, Fixture.first_run)
        self.assertEqual(data_listing(), ["CURRENT", "lock", "main"])
        self.assertEqual(sorted(all_urls(Fixture.data)), sorted(url_of(p) for p in Fixture.names))

    def test_a_module_name_finds_its_page_first(self):
        for module in ("bisect", "calendar", "base64", "argparse", "codecs"):
            with self.subTest(module=module):
                _, hits, _ = search(Fixture.data, module)
                self.assertTrue(hits)
                self.assertEqual(hits[0][3], url_of("library/%s.html" % module))
                self.assertIn(module, hits[0][2])

    def test_phrases_not_and_required_terms(self):
        both = every_hit("+regular", "+expression")
        phrase = every_hit('"regular expression"')
        self.assertTrue(phrase)
        self.assertLessEqual(phrase, both)
        self.assertLess(len(phrase), len(every_hit("regular", "OR", "expression")))
        with_bisect = every_hit("+bisect")
        sorting = every_hit("sorted")
        for text in (("sorted", "-bisect"), ("sorted", "NOT", "bisect")):
            with self.subTest(query=text):
                hits = every_hit(*text)
                self.assertTrue(hits)
                self.assertEqual(hits, sorting - with_bisect)
        self.assertEqual(every_hit("sorted", "AND", "bisect"), sorting & with_bisect)
        self.assertEqual(every_hit("+sorted", "+bisect"), sorting & with_bisect)
        self.assertEqual(every_hit("zipimport", "OR", "bisect"), every_hit("zipimport") | with_bisect)

    def test_field_prefixes(self):
        _, hits, _ = search(Fixture.data, "title:calendar", count=50)
        self.assertIn(url_of("library/calendar.html"), urls(hits))
        for h in hits:
            self.assertIn("calendar", h[2].lower())
        _, hits, _ = search(Fixture.data, "url:tutorial", count=100)
        self.assertEqual(len(hits), len([n for n in Fixture.names if n.startswith("tutorial/")]))
        self.assertTrue(all("/tutorial/" in u for u in urls(hits)))

    def test_refinement_narrows(self):
        narrowed = every_hit("compression", "|", "archive")
        self.assertTrue(narrowed)
        self.assertEqual(narrowed, every_hit("+compression", "+archive"))

    def test_paging_is_consistent(self):
        first, whole, _ = search(Fixture.data, "function", count=30)
        self.assertEqual(len(whole), 30)
        pages = []
        for start in (1, 11, 21):
            line, hits, _ = search(Fixture.data, "function", start=start, count=10)
            self.assertEqual([h[0] for h in hits], list(range(start, start + 10)))
            pages += hits
        self.assertEqual(urls(pages), urls(whole))
        self.assertEqual(len(set(urls(whole))), 30)
        line, hits, _ = search(Fixture.data, "function", start=500, count=10)
        self.assertEqual(hits, [])
        self.assertIn("no hits from 500 on", line)

    def test_term_statistics(self):
        _, hits, out = search(Fixture.data, "bisect", "insort", terms=True)
        self.assertRegex(out, r"term bisect: \d+ documents")
        self.assertIn("terms: ", out)

    def test_bad_arguments_are_refused(self):
        for args in (["--start", "0"], ["--count", "0"], ["--start", "x"], ["--count", "1000"]):
            with self.subTest(args=args):
                r = subprocess.run([SERVER, "-child", os.path.join(EXAMPLES, "search.py"), "--data",
                                    Fixture.data, *args, "python"], capture_output=True, text=True, timeout=60)
                self.assertEqual(r.returncode, 2)
                self.assertIn("search.py: error", r.stderr)


class Incremental(unittest.TestCase):
    def test_second_run_adds_nothing_then_a_change_replaces_its_page(self):
        before = search(Fixture.data, "calendar")[1]
        # A folder given again below another is no second copy of its pages.
        out = index(Fixture.data, Fixture.docs, os.path.join(Fixture.docs, "library"))
        self.assertIn("0 new, 0 changed, %d unchanged" % len(Fixture.names), out)
        self.assertIn("nothing to merge", out)
        self.assertEqual(data_listing(), ["CURRENT", "lock", "main"])
        self.assertEqual(search(Fixture.data, "calendar")[1], before)

        page = os.path.join(Fixture.docs, "library", "bisect.html")
        with open(page, "rb") as f:
            html = f.read()
        try:
            with open(page, "wb") as f:
                f.write(html.replace(b"</body>", b"<p>quixotically</p></body>"))
            out = index(Fixture.data, Fixture.docs)
            self.assertIn("0 new, 1 changed", out)
            self.assertEqual(urls(search(Fixture.data, "quixotically")[1]), [url_of("library/bisect.html")])
            found = all_urls(Fixture.data)
            self.assertEqual(found.count(url_of("library/bisect.html")), 1)
            self.assertEqual(len(found), len(Fixture.names))
        finally:
            with open(page, "wb") as f:
                f.write(html)
            index(Fixture.data, Fixture.docs)

    def test_pages_reached_through_links_are_indexed_once(self):
        # A folder given again through a link to it, and links (and a link
        # to a link) to pages already found, in a folder after theirs; the
        # one page of its own there is the only addition.
        links = os.path.join(Fixture.tmp, "links")
        more = os.path.join(links, "more")
        os.makedirs(more)
        try:
            alias = os.path.join(links, "alias")
            os.symlink(os.path.join(Fixture.docs, "tutorial"), alias)
            os.symlink(os.path.join(Fixture.docs, "library", "bisect.html"), os.path.join(more, "linked.html"))
            os.symlink("linked.html", os.path.join(more, "twice.html"))
            os.symlink(os.path.join("..", "alias", "index.html"), os.path.join(more, "up.html"))
            with open(os.path.join(more, "own.html"), "w") as f:
                f.write("<html><head><title>Its own page</title></head><body><p>Flibbertigibbet.</p></body></html>")
            data = os.path.join(links, "data")
            n = len(Fixture.names)
            out = index(data, Fixture.docs, alias, more)
            self.assertIn("%d new, 0 changed, 0 unchanged, 0 left out" % (n + 1), out)
            self.assertEqual(sorted(all_urls(data)),
                             sorted([url_of(p) for p in Fixture.names] + ["file://" + os.path.join(more, "own.html")]))
        finally:
            shutil.rmtree(links, ignore_errors=True)


class Killed(unittest.TestCase):
    def test_a_killed_indexer_keeps_every_acknowledged_page(self):
        data = os.path.join(Fixture.tmp, "killed")
        p = subprocess.Popen([SERVER, "-child", os.path.join(EXAMPLES, "index.py"), "--data", data,
                              "--capacity", "40", "--verbose", Fixture.docs],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        acked = []
        try:
            for line in p.stdout:
                if line.startswith("indexed "):
                    acked.append(line[len("indexed "):].strip())
                if len(acked) == 70:  # past the first database, inside the second
                    break
        finally:
            p.send_signal(signal.SIGKILL)
            p.wait(timeout=60)
            p.stdout.close()
        self.assertEqual(len(acked), 70)
        out = index(data, Fixture.docs)
        # The acknowledged pages came back from the journal and saved
        # databases: the second run finds them unchanged.
        total = len(Fixture.names)
        unchanged = int(re.search(r"(\d+) unchanged", out).group(1))
        self.assertGreaterEqual(unchanged, 70)
        self.assertIn("%d new, 0 changed" % (total - unchanged), out)
        found = all_urls(data)
        self.assertEqual(sorted(found), sorted(url_of(n) for n in Fixture.names))
        for url in acked[::10]:
            name = url.rsplit("/", 2)
            with self.subTest(url=url):
                self.assertIn(url, urls(search(data, "url:" + name[-1][:-5], count=50)[1]))


if __name__ == "__main__":
    unittest.main()
