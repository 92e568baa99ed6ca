"""Helpers for script tests that index documents: the tests' small resource
set, empty databases opened for indexing, real HTML pages indexed through
parse_html and idoc, the URLs a data directory holds, and the store's own
lookup of what a saved database holds (build/bin/index_lookup)."""
import json
import os
import subprocess

import sorn
import vorlane_dbimage
import vorlane_testing

DOCS = "/usr/share/doc/python3.11/html"


def test_language(directory):
    """Writes the tests' small resource set into directory; returns its
    path for lang_init."""
    base = os.path.join(directory, "testlang")
    subprocess.run([os.path.join(vorlane_testing.BUILD, "bin", "make_test_language"), base], check=True)
    return base


ENGLISH = os.path.join(vorlane_testing.BUILD, "resources", "english", "english")


def new_index(path):
    """An empty database with an empty journal: open_db opens it for
    indexing."""
    vorlane_dbimage.write_db(path, 0, journal=[])
    return path


def lookup(path, terms):
    """The docids of each term's postings in the saved database at path, as
    sets, through the store's term lookup."""
    data = b"".join((t.encode("latin-1") if isinstance(t, str) else t) + b"\n" for t in terms)
    r = subprocess.run([os.path.join(vorlane_testing.BUILD, "bin", "index_lookup"), path], input=data,
                       capture_output=True, check=True)
    lines = r.stdout.decode().split("\n")[:len(terms)]
    return [set(int(d) for d in line.split()) for line in lines]


def doc_pages(sections, limit=None):
    """(html, url) of the pages of python3.11-doc's sections, in order; at
    most limit pages of each section."""
    out = []
    for section in sections:
        directory = os.path.join(DOCS, section)
        names = sorted(n for n in os.listdir(directory) if n.endswith(".html"))
        for name in names[:limit]:
            with open(os.path.join(directory, name), "rb") as f:
                out.append((f.read(), "http://%s.docs.example.org/%s" % (section, name)))
    return out


def index_html(path, docs, language="english"):
    """Indexes docs, (html, url, date) triples, into a new database at path
    (parse_html, then idoc with the body, the title under "title:" and the
    host under "site:"), saves it and reopens it for querying; returns its
    identifier."""
    new_index(path)
    # Room for the terms of long pages: the capacity sizes the term table.
    db = sorn.open_db(path, "", 1, max(2000, 4 * len(docs)))
    for html, url, date in docs:
        title, summary, body = sorn.parse_html(html, url.encode())[:3]
        title, summary, body = title or b"", summary or b"", body or b""
        host = url.split("/")[2]
        doc = sorn.idoc()
        doc.update([(body, b"", 1, 1, 1, 1, 3), (title, b"title:", 3, 1, 0, 1, 3)],
                   [("site:" + host, 1)], language)
        doc.insert(db, title, summary, b"", url, b"", 0, date, 0, 0, 0, b"\0" * 8, 0, 0, [])
    sorn.save_db(db)
    sorn.quit_db(db)
    return sorn.open_db(path, "", 1, 0)


# Prints, as JSON, the URL of every document of the searchable databases of
# the data directory given as its argument (run as vorlane-server -child).
LIST_URLS = r"""
import json, sys
sys.path.insert(0, %(examples)r)
import sorn, vorlane_app as app
app.start_engine()
out = []
for db in app.open_for_search(app.searchable(sys.argv[1])):
    n = sorn.numdocs(db)
    for first in range(0, n, 400):
        out += [t[2] for t in sorn.titles([(db, d) for d in range(first, min(n, first + 400))])]
print(json.dumps(out))
""" % {"examples": os.path.join(vorlane_testing.SOURCE, "examples")}


def all_urls(data):
    """The URL of every document searchable in a data directory, as often as
    it is there."""
    r = vorlane_testing.run_child(LIST_URLS, data)
    if r.returncode != 0:
        raise AssertionError(r.stderr)
    return json.loads(r.stdout)
