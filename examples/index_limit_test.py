"""Many small databases: examples/index.py with a capacity far below what a
page needs in term room (--capacity 10) writes more than a hundred parts for
a few hundred real pages, merges them as it goes so that a search never
names more than the 48 databases a query may, and keeps every page once
through kills at each step of a merge. A directory that an indexer which
did not merge as it went left with more than 48 parts is searched as it
stands and cut down by the next run."""
import json
import os
import random
import re
import shutil
import tempfile
import unittest

import index as indexer
import sorn
import vorlane_app as app
import vorlane_testing
from demo_test import EXAMPLES, SERVER, all_urls, copy_pages, index, search, urls
from vorlane_index import doc_pages, index_html

MAX_QUERY_DBS = 48

# Runs index.py in this process with hooks: HOOKS (Python code) may wrap the
# indexer's steps. Prints, as JSON, the number of parts started and the most
# databases a search could have named at any part's start (the saved ones
# and the part about to be written, which a killed run leaves saved).
RUN = r"""
import json, os, sys
sys.path.insert(0, %(examples)r)
import index, sorn, vorlane_app as app
seen = {"parts": 0, "most": 0}
new_part = index.Indexer.new_part
def counted(self, capacity):
    seen["parts"] += 1
    seen["most"] = max(seen["most"], len(app.searchable(self.data)) + 1)
    new_part(self, capacity)
index.Indexer.new_part = counted
%(hooks)s
rc = index.main(sys.argv[1:])
print(json.dumps(seen))
sys.exit(rc)
"""


def run_index(data, *args, hooks=""):
    """(exit status, the counts RUN prints or None, stderr) of index.py
    --data data args."""
    r = vorlane_testing.run_child(RUN % {"examples": EXAMPLES, "hooks": hooks},
                                  "--data", data, *args, timeout=300)
    lines = r.stdout.strip().splitlines()
    seen = json.loads(lines[-1]) if r.returncode == 0 and lines else None
    return r.returncode, seen, r.stderr


def listing(data):
    return sorted(n.split(".")[0] for n in os.listdir(data))


def main_dir(data):
    with open(os.path.join(data, "CURRENT")) as f:
        return os.path.join(data, f.read().strip())


class Fixture:
    tmp = docs = None
    names = []


def setUpModule():
    Fixture.tmp = tempfile.mkdtemp(prefix="vorlane-limit-")
    Fixture.docs = os.path.join(Fixture.tmp, "docs")
    Fixture.names = copy_pages(Fixture.docs)


def tearDownModule():
    shutil.rmtree(Fixture.tmp, ignore_errors=True)


def every_page():
    return sorted("file://" + os.path.join(Fixture.docs, n) for n in Fixture.names)


class ManyParts(unittest.TestCase):
    def test_small_parts_are_merged_as_they_fill(self):
        # Merging as it goes writes what one merge of the same documents at
        # the end writes, byte for byte (with the download date pinned).
        os.environ["VORLANE_DOWNLOAD_DATE"] = "1700000000"
        try:
            data = os.path.join(Fixture.tmp, "small")
            rc, seen, err = run_index(data, "--capacity", "10", Fixture.docs)
            self.assertEqual(rc, 0, err)
            whole = os.path.join(Fixture.tmp, "whole")
            index(whole, Fixture.docs)
        finally:
            del os.environ["VORLANE_DOWNLOAD_DATE"]
        self.assertGreater(seen["parts"], 2 * MAX_QUERY_DBS)
        self.assertLessEqual(seen["most"], MAX_QUERY_DBS)
        self.assertEqual(listing(data), ["CURRENT", "lock", "main"])
        self.assertEqual(sorted(all_urls(data)), every_page())
        a, b = main_dir(data), main_dir(whole)
        self.assertEqual(sorted(os.listdir(a)), sorted(os.listdir(b)))
        for name in os.listdir(a):
            with open(os.path.join(a, name), "rb") as f, open(os.path.join(b, name), "rb") as g:
                self.assertTrue(f.read() == g.read(), name)

        out = index(data, Fixture.docs, "--capacity", "10")
        self.assertIn("0 new, 0 changed, %d unchanged" % len(Fixture.names), out)
        _, hits, _ = search(data, "bisect")
        self.assertEqual(hits[0][3], "file://" + os.path.join(Fixture.docs, "library", "bisect.html"))


# Stops the process (as a kill would) at one step of the n-th merge made as
# the run goes: after the merge is written under its temporary name, after
# it is renamed into place, or after the first file of its first source is
# removed.
KILL_AT = r"""
step, nth = %(step)r, %(nth)d
merges = [0]
def stop():
    os._exit(9)
merge_spans = index.Indexer.merge_spans
def counting(self, i, j):
    merges[0] += 1
    merge_spans(self, i, j)
index.Indexer.merge_spans = counting
if step == "written":
    merge_db = sorn.merge_db
    def written(*args):
        merge_db(*args)
        if merges[0] == nth and os.path.basename(args[0]).startswith("merge.run."):
            stop()
    index.sorn.merge_db = written
else:
    sync_dir, rmtree = index.sync_dir, index.shutil.rmtree
    def renamed(path):
        sync_dir(path)
        if merges[0] == nth and step == "renamed":
            stop()
    def removing(path, *args, **kw):
        if merges[0] == nth and step == "removing" and os.path.basename(path).startswith(("part.", "run.", "gone.")):
            os.unlink(os.path.join(path, sorted(os.listdir(path))[0]))
            stop()
        rmtree(path, *args, **kw)
    index.sync_dir = renamed
    index.shutil.rmtree = removing
"""

# An indexer that never merges before the end, killed with a number of
# parts saved and the next one written: with 60, what an indexer that did
# not merge as it went left of a large collection (it stopped with "Too many
# dbs in query" at the 49th part).
NO_MERGING = r"""
index.Indexer.merge_as_you_go = lambda self: None
index.Indexer.current_versions = lambda self, url, cs: []
close_part = index.Indexer.close_part
def closing(self):
    if self.part and self.part[2] and len(app.searchable(self.data)) == %(parts)d:
        os._exit(9)
    close_part(self)
index.Indexer.close_part = closing
"""


class Killed(unittest.TestCase):
    def check_recovers(self, data):
        """A search covers at most 48 databases and finds each page at most
        once; the next run indexes the rest, and every page is there once."""
        found = all_urls(data)
        self.assertEqual(len(found), len(set(found)))
        out = index(data, Fixture.docs, "--capacity", "10")
        # What was found, and what a journal still held, is not indexed again.
        self.assertGreaterEqual(int(re.search(r"(\d+) unchanged", out).group(1)), len(found))
        self.assertEqual(listing(data), ["CURRENT", "lock", "main"])
        self.assertEqual(sorted(all_urls(data)), every_page())

    def test_a_kill_at_each_step_of_a_merge_loses_and_doubles_nothing(self):
        for step, nth in (("written", 3), ("renamed", 5), ("removing", 9), ("renamed", 12)):
            with self.subTest(step=step, nth=nth):
                data = os.path.join(Fixture.tmp, "kill-%s-%d" % (step, nth))
                rc, _, err = run_index(data, "--capacity", "10", Fixture.docs,
                                       hooks=KILL_AT % {"step": step, "nth": nth})
                self.assertEqual(rc, 9, err)
                self.assertLessEqual(len(app.searchable(data)), MAX_QUERY_DBS)
                self.check_recovers(data)

    def test_a_directory_of_more_than_48_parts_is_searched_and_cut_down(self):
        data = os.path.join(Fixture.tmp, "old")
        rc, _, err = run_index(data, "--capacity", "10", Fixture.docs, hooks=NO_MERGING % {"parts": 60})
        self.assertEqual(rc, 9, err)
        self.assertGreater(len(app.searchable(data)), MAX_QUERY_DBS)
        found = set(all_urls(data))
        page = "file://" + os.path.join(Fixture.docs, "library", "bisect.html")
        self.assertIn(page, found)
        first, hits, _ = search(data, "bisect", count=100)
        self.assertEqual(hits[0][3], page)
        self.assertTrue(set(urls(hits)) <= found)
        self.assertEqual(len(urls(hits)), len(set(urls(hits))))
        self.assertEqual(int(first.split()[0]), len(hits))
        self.check_recovers(data)

    def test_a_changed_page_replaces_its_version_in_a_part_merged_since(self):
        # The parts of a killed run hold the first pages of faq/ and
        # library/; the next run starts with tutorial/, whose parts are
        # merged with those, and then meets the faq pages, all changed.
        data = os.path.join(Fixture.tmp, "changed")
        faq, library = (os.path.join(Fixture.docs, d) for d in ("faq", "library"))
        tutorial = os.path.join(Fixture.docs, "tutorial")
        rc, _, err = run_index(data, "--capacity", "10", faq, library, hooks=NO_MERGING % {"parts": 5})
        self.assertEqual(rc, 9, err)
        before = set(all_urls(data))
        pages = sorted(os.path.join(faq, n) for n in os.listdir(faq))
        changed = ["file://" + p for p in pages if "file://" + p in before]
        self.assertTrue(changed)
        originals = {}
        for p in pages:
            with open(p, "rb") as f:
                originals[p] = f.read()
            with open(p, "wb") as f:
                f.write(originals[p].replace(b"</body>", b"<p>quixotically</p></body>"))
        try:
            out = index(data, tutorial, faq, library, "--capacity", "10")
        finally:
            for p, html in originals.items():
                with open(p, "wb") as f:
                    f.write(html)
        # Those found, and one a journal may still have held.
        n = int(re.search(r"(\d+) changed", out).group(1))
        self.assertGreaterEqual(n, len(changed))
        self.assertLessEqual(n, len(changed) + 1)
        found = all_urls(data)
        self.assertEqual(sorted(found), every_page())
        _, hits, _ = search(data, "quixotically", count=100)
        self.assertEqual(sorted(urls(hits)), sorted("file://" + p for p in pages))

    def test_a_merge_of_deleted_documents_cut_short_leaves_no_broken_database(self):
        # Eight parts of one page each, then the pages change: the next run,
        # stopped before its merge, deletes every document of those eight.
        # A run merging them finds nothing to keep and removes them; it is
        # stopped with the first of them all but emptied.
        docs = os.path.join(Fixture.tmp, "eight")
        os.mkdir(docs)
        for i in range(8):
            with open(os.path.join(docs, "p%d.html" % i), "w") as f:
                f.write("<html><head><title>p%d</title></head><body><p>page one</p></body></html>" % i)
        data = os.path.join(Fixture.tmp, "deleted")
        for _ in range(2):
            rc, _, err = run_index(data, "--capacity", "1", docs, hooks=UNMERGED)
            self.assertEqual(rc, 9, err)
            for name in os.listdir(docs):
                with open(os.path.join(docs, name), "r+") as f:
                    text = f.read().replace("page one", "page two")
                    f.seek(0)
                    f.write(text)
        rc, _, err = run_index(data, "--capacity", "1", docs, hooks=CUT_REMOVAL)
        self.assertEqual(rc, 9, err)
        out = index(data, docs, "--capacity", "1")
        self.assertIn("8 unchanged", out)
        self.assertEqual(listing(data), ["CURRENT", "lock", "main"])
        pages = sorted("file://" + os.path.join(docs, "p%d.html" % i) for i in range(8))
        self.assertEqual(sorted(all_urls(data)), pages)
        self.assertEqual(sorted(urls(search(data, "two", count=20)[1])), pages)


# Never merges, and stops before the merge at the end.
UNMERGED = r"""
index.Indexer.merge_as_you_go = lambda self: None
index.Indexer.merge = lambda self: os._exit(9)
"""

# Stops while a merge's first source is removed, with every file of it but
# its directory file gone.
CUT_REMOVAL = r"""
rmtree = index.shutil.rmtree
def removing(path, *args, **kw):
    if os.path.exists(os.path.join(path, "dir")):
        for name in os.listdir(path):
            if name != "dir":
                os.unlink(os.path.join(path, name))
        os._exit(9)
    rmtree(path, *args, **kw)
index.shutil.rmtree = removing
"""


class GroupedSearch(unittest.TestCase):
    """A search over more databases than one query may name, in groups."""

    @classmethod
    def setUpClass(cls):
        app.start_engine()
        pages = doc_pages(("tutorial", "faq", "howto")) + doc_pages(["library"], 150)
        docs = [(html, url, 1700000000) for html, url in pages]
        cls.dbs = [index_html(os.path.join(Fixture.tmp, "group%d" % k), docs[k::60]) for k in range(60)]

    @classmethod
    def tearDownClass(cls):
        for db in cls.dbs:
            sorn.quit_db(db)

    def test_pages_slice_one_ranking_and_a_database_named_twice_counts_once(self):
        for text in ("python", "list dict", "function -class", "file | directory"):
            with self.subTest(query=text):
                whole = app.search(text, self.dbs, 1, 500)
                self.assertGreater(len(whole.hits), 20)
                keys = [(h.db, h.docid) for h in whole.hits]
                self.assertEqual(len(set(keys)), len(keys))
                laid = []
                for start in range(1, 501, 7):
                    page = app.search(text, self.dbs, start, 7)
                    self.assertEqual(page.total, whole.total)
                    laid += [(h.db, h.docid) for h in page.hits]
                    if len(page.hits) < 7:
                        break
                self.assertEqual(laid, keys)
                again = app.search(text, self.dbs + self.dbs[:12] + self.dbs[30:31], 1, 500)
                self.assertEqual((again.total, [(h.db, h.docid) for h in again.hits]), (whole.total, keys))


class Policy(unittest.TestCase):
    """The merge policy alone, over numbers of parts: the databases stay
    within room, and a part is merged about once per power of eight."""

    def simulate(self, added, start=(), room=46):
        """(most databases at once, merges per part) as parts are added one
        by one to databases holding start parts each."""
        spans, merged, most = list(start), 0, 0
        for n in range(added + 1):
            if n:
                spans.append(1)
            while True:
                picked = indexer.pick_merge(spans, room)
                if picked is None:
                    break
                i, j = picked
                self.assertGreaterEqual(j - i, 2)
                merged += sum(spans[i:j])
                spans[i:j] = [sum(spans[i:j])]
            most = max(most, len(spans))
        return most, merged / (added + sum(start))

    def test_databases_stay_within_room_and_each_part_is_merged_once_a_level(self):
        for added, start, most, per_part in (
                (7, (), 7, 0),              # fewer than eight: nothing merged
                (8, (), 7, 1),              # eight: one merge
                (64, (), 14, 2),            # two levels
                (20000, (), 46, 4),         # log8(20000) = 4.8 levels
                (100, (1,) * 200, 46, 3),   # left by an indexer that never merged
                # No eight of one level in a row: the room decides.
                (0, (1, 8) * 25, 46, 1),
                (2000, (1, 8) * 25, 46, 5),
        ):
            with self.subTest(added=added, start=len(start)):
                got_most, got_per_part = self.simulate(added, start)
                self.assertLessEqual(got_most, most)
                self.assertLessEqual(got_per_part, per_part)


if __name__ == "__main__":
    unittest.main()
