"""Helpers for script tests that index documents: the tests' small resource
set, empty databases opened for indexing, and the store's own lookup of what
a saved database holds (build/bin/index_lookup)."""
import json
import os
import subprocess

import vorlane_dbimage
import vorlane_testing


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
