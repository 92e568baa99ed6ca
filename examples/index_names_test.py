"""How examples/index.py knows a file again, by its URL and its content: a
name with characters the engine's code page lacks (or bytes that are no
UTF-8) is stored under a URL with them percent-encoded, which reads back the
same, so that the next run finds the page unchanged and a changed page
replaces its one version; a file whose URL is longer than a title record
holds is left out with a message, and the rest of the folder is indexed; a
file is found unchanged however many others hold the same content."""
import json
import os
import shutil
import subprocess
import tempfile
import unittest

import vorlane_testing
from vorlane_index import all_urls

EXAMPLES = os.path.join(vorlane_testing.SOURCE, "examples")
SERVER = vorlane_testing.SERVER

# Prints, as JSON, the URLs of the hits of each query given (at most 100).
SEARCH = r"""
import json, sys
sys.path.insert(0, %r)
import vorlane_app as app
app.start_engine()
dbs = app.open_for_search(app.searchable(sys.argv[1]))
print(json.dumps({q: [h.url for h in app.search(q, dbs, 1, 100).hits] for q in sys.argv[2:]}))
""" % EXAMPLES


def page(word):
    return b"<html><head><title>%s</title></head><body><p>everypage %s</p></body></html>" % (word, word)


class Names(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="vorlane-names-")
        self.docs = os.path.join(self.tmp, "docs")
        self.data = os.path.join(self.tmp, "data")
        os.mkdir(self.docs)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def write(self, name, data):
        """Writes a file of the folder under a name given as bytes."""
        with open(os.path.join(os.fsencode(self.docs), name), "wb") as f:
            f.write(data)

    def index(self):
        r = subprocess.run([SERVER, "-child", os.path.join(EXAMPLES, "index.py"), "--data", self.data, self.docs],
                           capture_output=True, text=True, timeout=120)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        return r.stdout, r.stderr

    def search(self, *queries):
        r = vorlane_testing.run_child(SEARCH, self.data, *queries)
        self.assertEqual(r.returncode, 0, r.stderr)
        return json.loads(r.stdout)

    def test_urls_read_back_as_stored_and_a_long_one_is_left_out(self):
        base = "file://" + self.docs + "/"
        # name, its URL, the page's word
        pages = [
            ("日本.html".encode(), base + "%E6%97%A5%E6%9C%AC.html", b"nihonword"),
            ("中国.html".encode(), base + "%E4%B8%AD%E5%9B%BD.html", b"zhongword"),
            ("café – menu.html".encode(), base + "café – menu.html", b"cafeword"),
            (b"latin\xe9.html", base + "latin%E9.html", b"latinword"),
            (b"plain.html", base + "plain.html", b"plainword"),
        ]
        for name, _, word in pages:
            self.write(name, page(word))
        deep = os.path.join(self.docs, *["d" * 60] * 4)
        os.makedirs(deep)
        with open(os.path.join(deep, "deep.html"), "wb") as f:
            f.write(page(b"deepword"))
        expected = sorted(url for _, url, _ in pages)
        # The URLs as the title records hold them, in the code page.
        stored = sorted(url.encode("cp1252").decode("latin-1") for url in expected)

        out, err = self.index()
        self.assertIn("5 new, 0 changed, 0 unchanged, 1 left out", out)
        self.assertIn("deep.html: its URL is longer than 255 bytes, left out", err)
        out, _ = self.index()
        self.assertIn("0 new, 0 changed, 5 unchanged, 1 left out", out)
        self.assertEqual(sorted(all_urls(self.data)), stored)
        found = self.search(*(word.decode() for _, _, word in pages))
        for _, url, word in pages:
            self.assertEqual(found[word.decode()], [url])

        # A changed page replaces its one version.
        self.write(pages[0][0], page(b"nihonchanged"))
        out, _ = self.index()
        self.assertIn("0 new, 1 changed, 4 unchanged, 1 left out", out)
        self.assertEqual(sorted(all_urls(self.data)), stored)
        found = self.search("nihonword", "nihonchanged", "everypage")
        self.assertEqual(found["nihonword"], [])
        self.assertEqual(found["nihonchanged"], [pages[0][1]])
        self.assertEqual(sorted(found["everypage"]), expected)

    def test_files_of_the_same_content_are_found_unchanged(self):
        # More of them than a query ranks.
        for i in range(520):
            self.write(b"copy%03d.txt" % i, b"the same licence text\n")
        out, _ = self.index()
        self.assertIn("520 new, 0 changed, 0 unchanged", out)
        out, _ = self.index()
        self.assertIn("0 new, 0 changed, 520 unchanged, 0 left out; nothing to merge", out)
        self.assertEqual(len(set(all_urls(self.data))), 520)


if __name__ == "__main__":
    unittest.main()
