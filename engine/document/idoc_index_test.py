"""Indexing HTML pages end to end: parse_html, idoc.update, idoc.insert and
save_db in a server process, then the saved database checked with the
store's own lookup; and a server process killed while it indexes, whose
acknowledged documents come back from the journal."""
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import unicodedata
import unittest

import vorlane_testing
from vorlane_index import ENGLISH, lookup, new_index

DOCS = "/usr/share/doc/python3.11/html"
SECTIONS = ("tutorial", "faq")

# Run by a server process: indexes the pages named on standard input's first
# line into the database argv[1] (capacity argv[2]) and prints one JSON line
# per stored document. With argv[3] == "forever" it goes on storing the pages
# again until the database is full ("Too many docs"), then waits to be
# killed.
INDEXER = r"""
import json, sys
import sorn

path, capacity, mode = sys.argv[1], int(sys.argv[2]), sys.argv[3]
pages = json.loads(sys.stdin.readline())
sorn.cache_init(1 << 22, 1000, 0)
sorn.lang_init("english", %(english)r)
sorn.init_stopword_table("english", ["the", "of", "and", "a", "to", "in", "is", "it"])
db = sorn.open_db(path, "", 1, capacity)


def index(file, url, host):
    with open(file, "rb") as f:
        html = f.read()
    title, summary, body, texts, links, images, headers = sorn.parse_html(html, url.encode())
    title, summary, body = title or b"", summary or b"", body or b""
    doc = sorn.idoc()
    doc.update([(body, b"", 1, 1, 1, 1, 3), (title, b"title:", 3, 1, 0, 1, 3)],
               [("site:" + host, 1), ("url:" + url, 1)], "english")
    before = sorn.numdocs(db)
    doc.insert(db, title, summary, b"", url, b"", 0, 0, 0, 0, 0, b"\0" * 8, 0, 0, [])
    # Every word the body's words are indexed under (irregular stems, such as
    # "find" of "found", lie outside the text).
    stems = sorn.conflate_text(body, 0, 1, 1, 1, 1, 1, "english").decode("latin-1").split()
    return {"docid": before, "url": url, "title": title.decode("latin-1"), "body": body.decode("latin-1"),
            "stems": stems}


full = False
while not full:
    for file, url, host in pages:
        try:
            print(json.dumps(index(file, url, host)), flush=True)
        except sorn.error:
            if mode != "forever":
                raise
            full = True
            break
    full = full or mode != "forever"
if mode == "forever":
    sys.stdin.readline()
sorn.save_db(db)
"""


def pages():
    out = []
    for section in SECTIONS:
        directory = os.path.join(DOCS, section)
        for name in sorted(os.listdir(directory)):
            if name.endswith(".html"):
                host = "%s.docs.example.org" % section
                out.append((os.path.join(directory, name), "http://%s/%s" % (host, name), host))
    return out


def words(text, limit=20000):
    """The words of the first limit bytes of a text (where every word's
    stems fit the word area) that are lower-case letters only: each is an
    indexed term of the text."""
    tokens = re.split(r"[^A-Za-z0-9\x80-\xff]+", text[:limit])
    if len(text) > limit:
        tokens.pop()
    return set(w for w in tokens if 3 <= len(w) < 50 and re.fullmatch("[a-z]+", w))


def squeezed(text):
    """A text lower-cased and folded to ASCII, without anything but letters
    and digits: no term made from its words (a word, a phrase, a stem, a
    conflated form) can lie outside it."""
    folded = unicodedata.normalize("NFKD", text.lower().replace("\xdf", "ss"))
    return re.sub(r"[^a-z0-9]", "", folded)


# Regular plurals whose stem the English set gives.
PLURALS = {"functions": "function", "arguments": "argument", "modules": "module", "objects": "object",
           "values": "value", "methods": "method", "files": "file", "strings": "string", "numbers": "number",
           "variables": "variable"}


@unittest.skipUnless(os.path.isdir(DOCS), "python3.11-doc is not installed")
class HtmlPages(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="vorlane-pages-")
        self.pages = pages()
        self.script = os.path.join(self.tmp, "indexer.py")
        with open(self.script, "w") as f:
            f.write(INDEXER % {"english": ENGLISH})
        self.errors = open(os.path.join(self.tmp, "stderr"), "w+b")

    def stderr(self):
        self.errors.seek(0)
        return self.errors.read().decode("latin-1")[-3000:]

    def tearDown(self):
        self.errors.close()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def indexer(self, path, capacity, mode):
        p = subprocess.Popen([vorlane_testing.SERVER, "-child", self.script, path, str(capacity), mode],
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.errors)
        p.stdin.write((json.dumps(self.pages) + "\n").encode())
        p.stdin.flush()
        return p

    def test_every_page_is_found_by_its_terms(self):
        path = new_index(os.path.join(self.tmp, "db"))
        p = self.indexer(path, 2000, "once")
        out, _ = p.communicate(timeout=300)
        self.assertEqual(p.returncode, 0, self.stderr())
        docs = [json.loads(line) for line in out.decode().splitlines()]
        self.assertEqual([d["docid"] for d in docs], list(range(len(self.pages))))

        checks = []  # (term, docid, expected)
        for d in docs:
            body_words = sorted(words(d["body"]))
            for w in body_words[::max(1, len(body_words) // 15)]:
                checks.append((w, d["docid"], True))
            for plural, stem in PLURALS.items():
                if plural in body_words and stem not in body_words:
                    checks.append((stem, d["docid"], True))
            for w in words(d["title"]):
                checks.append(("title:" + w, d["docid"], True))
            checks.append(("url:" + d["url"], d["docid"], True))
            checks.append(("site:" + d["url"].split("/")[2], d["docid"], True))
        # The same terms for pages that lack them.
        for term, docid, _ in list(checks):
            field, _, word = term.partition(":") if ":" in term else ("", "", term)
            for other in docs:
                text = {"": other["body"], "title": other["title"]}.get(field)
                if field == "" and word in other["stems"]:
                    continue
                if text is not None and word not in squeezed(text):
                    checks.append((term, other["docid"], False))
                    break
                if field in ("url", "site") and word not in other["url"]:
                    checks.append((term, other["docid"], False))
                    break
        self.assertTrue(any(t.startswith("title:") for t, _, _ in checks))
        self.assertGreater(sum(1 for t, _, e in checks if t in PLURALS.values() and e), 3)
        self.assertGreater(sum(1 for _, _, e in checks if not e), 100)

        found = lookup(path, [t for t, _, _ in checks])
        wrong = [(t, docid, e) for (t, docid, e), docids in zip(checks, found) if (docid in docids) != e]
        self.assertEqual(wrong, [])

    def test_acknowledged_documents_survive_a_kill(self):
        path = new_index(os.path.join(self.tmp, "db"))
        capacity = 2000
        p = self.indexer(path, capacity, "forever")
        acked = []
        while len(acked) < 40:
            line = p.stdout.readline()
            self.assertTrue(line, "the indexer ended early")
            acked.append(json.loads(line))
        p.send_signal(signal.SIGKILL)
        p.wait(timeout=60)
        p.stdout.close()
        p.stdin.close()
        self.assertTrue(os.path.getsize(os.path.join(path, "jnl")) > 0)

        r = vorlane_testing.run_child(
            "import sorn\n"
            "sorn.cache_init(1 << 22, 1000, 0)\n"
            "db = sorn.open_db(%r, '', 1, %d)\n"
            "print(sorn.numdocs(db))\n"
            "sorn.save_db(db)\n" % (path, capacity))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertGreaterEqual(int(r.stdout), len(acked))
        found = lookup(path, ["url:" + d["url"] for d in acked])
        # Every page is indexed again and again: a url is found for each of
        # its copies, the acknowledged one among them.
        for d, docids in zip(acked, found):
            self.assertIn(d["docid"], docids, d["url"])
        with open(os.path.join(path, "ti0"), "rb") as f:
            titles = f.read()
        for d in acked:
            record = titles[d["docid"] * 448:(d["docid"] + 1) * 448]
            self.assertIn(d["url"].encode(), record)


if __name__ == "__main__":
    unittest.main()
