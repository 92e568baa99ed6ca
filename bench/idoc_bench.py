"""Indexing HTML pages: documents per second and MB/s through
sorn.parse_html, idoc.update and idoc.insert over the HTML documentation of
python3.11-doc (or the directories in VORLANE_HTML_CORPUS, separated by
':'), the time of save_db, and the saved index's bytes per document. Run it
with
    build/bin/vorlane-server -child bench/idoc_bench.py
"""
import os
import shutil
import sys
import tempfile
import time

import sorn

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import html_corpus  # noqa: E402

DEFAULT = "/usr/share/doc/python3.11/html"
HERE = os.path.dirname(os.path.abspath(__file__))
ENGLISH = os.path.join(os.environ.get("VORLANE_BUILD", os.path.join(HERE, "..", "build")),
                       "resources", "english", "english")
sys.path.insert(0, os.path.join(HERE, "..", "tests", "py"))
from vorlane_dbimage import write_db  # noqa: E402


def corpus():
    return html_corpus.corpus(DEFAULT)


def main():
    pages = corpus()
    if not pages:
        print("no HTML documentation installed")
        return
    sorn.cache_init(1 << 24, 1000, 0)
    sorn.lang_init("english", ENGLISH)
    sorn.init_stopword_table("english", ["the", "of", "and", "a", "to", "in", "is", "it", "for", "on"])
    tmp = tempfile.mkdtemp(prefix="idoc-bench-")
    try:
        path = os.path.join(tmp, "db")
        write_db(path, 0, journal=[])  # empty, with a journal: opened for indexing
        # The capacity sizes the term table and the record buffer too: room
        # for the few pages with tens of thousands of distinct terms.
        db = sorn.open_db(path, "", 1, max(10000, 20 * len(pages)))
        size = sum(len(text) for text, _ in pages)
        full = 0
        phases = [0.0, 0.0, 0.0]
        clock = time.perf_counter
        start = clock()
        for text, url in pages:
            t0 = clock()
            title, summary, body = (s or b"" for s in sorn.parse_html(text, url)[:3])
            t1 = clock()
            doc = sorn.idoc()
            try:
                doc.update([(body, b"", 1, 1, 1, 1, 3), (title, b"title:", 3, 1, 0, 1, 3)],
                           [(b"site:docs.example.org", 1), (b"url:" + url, 1)], "english")
            except sorn.limit:
                full += 1
            t2 = clock()
            doc.insert(db, title, summary, b"", url, b"", 0, 0, 0, 0, 0, b"\0" * 8, 0, 0, [])
            t3 = clock()
            phases[0] += t1 - t0
            phases[1] += t2 - t1
            phases[2] += t3 - t2
        indexing = clock() - start
        start = time.perf_counter()
        sorn.save_db(db)
        saving = time.perf_counter() - start
        ndocs = sorn.numdocs(db)
        sorn.quit_db(db)
        files = {name: os.path.getsize(os.path.join(path, name)) for name in os.listdir(path)}
        # Title, deletion and date files keep the capacity's size; a
        # document takes 448 + 1 + 8 bytes of them.
        terms = sum(n for name, n in files.items() if name.startswith("tf") or name in ("dir", "cat", "inf"))
        index_bytes = terms + ndocs * (448 + 1 + 8)
        print("indexing: %d pages, %.1f MB of HTML in %.2f s: %.1f documents/s, %.2f MB/s (%d tables full)"
              % (ndocs, size / 1e6, indexing, ndocs / indexing, size / 1e6 / indexing, full))
        print("  parse_html %.2f s, idoc.update %.2f s, idoc.insert %.2f s" % tuple(phases))
        print("save_db: %.3f s" % saving)
        print("index: %d bytes, %.0f bytes per document (term files and directory %d bytes)"
              % (index_bytes, index_bytes / ndocs, terms))
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


main()
