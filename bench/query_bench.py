"""sorn.query through the script: latency (p50, p95) of each query of a mix
(single rare and common terms, two-term AND and OR, NOT, a phrase, a
refinement) over one database and over the same pages split into ten, and
queries per second of the mix with 1 and 4 script threads. The pages are
the HTML documentation of python3.11-doc and apache2-doc (or the directories
in VORLANE_HTML_CORPUS, separated by ':'), indexed through parse_html and
idoc before the measurements. Run it with
    build/bin/vorlane-server -child bench/query_bench.py [rounds] [seconds]
"""
import os
import shutil
import sys
import tempfile
import threading
import time

import sorn

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import html_corpus  # noqa: E402

DEFAULT = "/usr/share/doc/python3.11/html:/usr/share/doc/apache2-doc/manual"
HERE = os.path.dirname(os.path.abspath(__file__))
ENGLISH = os.path.join(os.environ.get("VORLANE_BUILD", os.path.join(HERE, "..", "build")),
                       "resources", "english", "english")
sys.path.insert(0, os.path.join(HERE, "..", "tests", "py"))
from vorlane_dbimage import write_db  # noqa: E402

STOP = ["the", "of", "and", "a", "to", "in", "is", "it", "for", "on"]
MIX = [
    ("rare term", "memoryview"),
    ("common term", "module"),
    ("AND", "+server +configuration"),
    ("OR", "thread OR process"),
    ("NOT", "socket -windows"),
    ("phrase", '"regular expression"'),
    ("refinement", "file | directory"),
]
SPLIT = 10


def corpus():
    return html_corpus.corpus(DEFAULT)


def index(path, pages):
    write_db(path, 0, journal=[])  # empty, with a journal: opened for indexing
    db = sorn.open_db(path, "", 1, max(2000, 4 * len(pages)))
    for text, url in pages:
        title, summary, body = (s or b"" for s in sorn.parse_html(text, url)[:3])
        doc = sorn.idoc()
        try:
            doc.update([(body, b"", 1, 1, 1, 1, 3), (title, b"title:", 3, 1, 0, 1, 3)],
                       [(b"site:docs.example.org", 1)], "english")
        except sorn.limit:
            pass
        doc.insert(db, title, summary, b"", url, b"", 0, 0, 0, 0, 0, b"\0" * 8, 0, 0, [])
    sorn.save_db(db)
    sorn.quit_db(db)
    return sorn.open_db(path, "", 1, 0)


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * p))]


def latencies(dbs, rounds):
    languages = ["english"]
    for label, text in MIX:
        sorn.query(1, 10, languages, text, dbs, 0, 0, 0)  # warm the term caches
        times = []
        for _ in range(rounds):
            start = time.perf_counter()
            total = sorn.query(1, 10, languages, text, dbs, 0, 0, 0)[0]
            times.append(time.perf_counter() - start)
        print("  %-12s %-26s total %6d   p50 %7.3f ms   p95 %7.3f ms"
              % (label, text, total, percentile(times, 0.5) * 1e3, percentile(times, 0.95) * 1e3))


def throughput(dbs, threads, seconds):
    done = [0] * threads
    stop = time.perf_counter() + seconds

    def run(k):
        i = k
        while time.perf_counter() < stop:
            sorn.query(1, 10, ["english"], MIX[i % len(MIX)][1], dbs, 0, 0, 0)
            done[k] += 1
            i += 1
    workers = [threading.Thread(target=run, args=(k,)) for k in range(threads)]
    start = time.perf_counter()
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    elapsed = time.perf_counter() - start
    return sum(done) / elapsed


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 50
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 3.0
    pages = corpus()
    if not pages:
        print("no HTML documentation installed")
        return
    sorn.cache_init(1 << 26, 40000, 4)
    sorn.lang_init("english", ENGLISH)
    sorn.init_stopword_table("english", STOP)
    tmp = tempfile.mkdtemp(prefix="query-bench-")
    try:
        start = time.perf_counter()
        one = [index(os.path.join(tmp, "one"), pages)]
        split = [index(os.path.join(tmp, "part%d" % k), pages[k::SPLIT]) for k in range(SPLIT)]
        print("%d pages indexed twice (one database, %d databases) in %.1f s"
              % (len(pages), SPLIT, time.perf_counter() - start))
        for name, dbs in (("1 database", one), ("%d databases" % SPLIT, split)):
            print("%s, %d rounds of each query (page of 10):" % (name, rounds))
            latencies(dbs, rounds)
            for threads in (1, 4):
                print("  %d thread(s): %.0f queries/s" % (threads, throughput(dbs, threads, seconds)))
    finally:
        for ident, _ in sorn.list():
            sorn.quit_db(ident)
        shutil.rmtree(tmp, ignore_errors=True)


main()
