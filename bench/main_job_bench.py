#!/usr/bin/python3
"""Side-by-side benchmark of the main job: this engine, through
examples/index.py and the search of examples/search.py, against Xapian
(python3-xapian, English stemmer) and SQLite FTS5 (porter tokenizer) on the
same documents and queries.

    /usr/bin/python3 bench/main_job_bench.py [--build DIR] [--reps N] [FOLDER]

FOLDER defaults to the HTML pages of python3.11-doc. It reports indexing
documents/s and MB/s, index bytes per document, and query latency p50/p95 by
kind of query (rare and common single terms, 2-term AND and OR, NOT, phrase,
refinement). First it checks that the three find the same documents for
boolean queries over words they analyse alike, and prints the
disagreements otherwise.

The peers read the same files: their text comes from Python's html.parser
(title and body, without scripts and styles), which is timed as part of
their indexing, as the engine's own HTML extraction is part of its.
"""
import argparse
import html.parser
import json
import os
import random
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time

import xapian

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "examples"))
import documents  # noqa: E402

STOP_WORDS = set("a an and are as at be but by for if in into is it no not of on or such that the their "
                 "then there these they this to was will with".split())
PHRASES = ["standard library", "keyword arguments", "default value", "return value", "regular expression",
           "file object", "command line", "error message"]


class Extract(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.title, self.body, self.skip, self.in_title = [], [], 0, False

    def handle_starttag(self, tag, attrs):
        if tag in ("script", "style"):
            self.skip += 1
        elif tag == "title":
            self.in_title = True

    def handle_endtag(self, tag):
        if tag in ("script", "style"):
            self.skip = max(0, self.skip - 1)
        elif tag == "title":
            self.in_title = False

    def handle_data(self, data):
        if self.in_title:
            self.title.append(data)
        elif not self.skip:
            self.body.append(data)


def extract(path, kind):
    with open(path, "rb") as f:
        data = f.read()
    text = documents.decode(data, kind)
    if kind == "plain":
        first = next((ln.strip() for ln in text.splitlines() if ln.strip()), "")
        return first[:120], text, len(data)
    p = Extract()
    p.feed(text)
    p.close()
    return " ".join("".join(p.title).split()), " ".join(p.body), len(data)


def du(path):
    if os.path.isfile(path):
        return os.path.getsize(path)
    return sum(os.path.getsize(os.path.join(top, n)) for top, _, names in os.walk(path) for n in names)


# ---- the three engines ------------------------------------------------------

class Vorlane:
    name = "vorlane"

    def __init__(self, build, work):
        self.server = os.path.join(build, "bin", "vorlane-server")
        self.data = os.path.join(work, "vorlane")

    def index(self, folder, files):
        t0 = time.perf_counter()
        r = subprocess.run([self.server, "-child", os.path.join(SOURCE, "examples", "index.py"),
                            "--data", self.data, folder], capture_output=True, text=True)
        elapsed = time.perf_counter() - t0
        if r.returncode != 0:
            sys.exit("index.py failed: %s%s" % (r.stdout, r.stderr))
        print("  " + r.stdout.strip().splitlines()[-1])
        size = sum(du(os.path.join(self.data, n)) for n in os.listdir(self.data) if n not in ("lock", "CURRENT"))
        return elapsed, size

    def ask(self, request):
        r = subprocess.run([self.server, "-child", os.path.join(HERE, "main_job_queries.py"), self.data],
                           input=json.dumps(request), capture_output=True, text=True)
        if r.returncode != 0:
            sys.exit("main_job_queries.py failed: %s" % r.stderr)
        return json.loads(r.stdout)

    def match_sets(self, queries):
        ours = {q: self.translate(q) for q in queries}
        sets = self.ask({"sets": list(ours.values())})["sets"]
        return {q: set(sets[ours[q]]) for q in queries}

    @staticmethod
    def translate(q):
        # The common forms below in this engine's query language.
        kind, words = q
        if kind == "and":
            return "+%s +%s" % words
        if kind == "or":
            return "%s OR %s" % words
        if kind == "not":
            return "%s NOT %s" % words
        if kind == "phrase":
            return '"%s"' % words[0]
        if kind == "refine":
            return "%s | %s" % words
        return words[0]

    def timed(self, queries, reps):
        req = {k: [self.translate(q) for q in qs] for k, qs in queries.items()}
        return self.ask({"timed": req, "reps": reps})["timed"]


class Xapian:
    name = "xapian"

    def __init__(self, work):
        self.path = os.path.join(work, "xapian")
        self.stem = xapian.Stem("english")

    def index(self, folder, files):
        t0 = time.perf_counter()
        db = xapian.WritableDatabase(self.path, xapian.DB_CREATE_OR_OVERWRITE)
        tg = xapian.TermGenerator()
        tg.set_stemmer(self.stem)
        for path, kind, url in files:
            title, body, _ = extract(path, kind)
            doc = xapian.Document()
            tg.set_document(doc)
            tg.index_text(title, 3)
            tg.increase_termpos()
            tg.index_text(body)
            doc.set_data(json.dumps([url, title]))
            db.add_document(doc)
        db.commit()
        db.close()
        elapsed = time.perf_counter() - t0
        self.db = xapian.Database(self.path)
        return elapsed, du(self.path)

    def query(self, q):
        kind, words = q
        z = lambda w: "Z" + self.stem(w).decode()  # noqa: E731
        if kind in ("and", "refine"):
            return xapian.Query(xapian.Query.OP_AND, [z(words[0]), z(words[1])])
        if kind == "or":
            return xapian.Query(xapian.Query.OP_OR, [z(words[0]), z(words[1])])
        if kind == "not":
            return xapian.Query(xapian.Query.OP_AND_NOT, xapian.Query(z(words[0])), xapian.Query(z(words[1])))
        if kind == "phrase":
            return xapian.Query(xapian.Query.OP_PHRASE, words[0].split())
        return xapian.Query(z(words[0]))

    def match_sets(self, queries):
        out = {}
        enq = xapian.Enquire(self.db)
        for q in queries:
            enq.set_query(self.query(q))
            out[q] = {json.loads(m.document.get_data())[0] for m in enq.get_mset(0, self.db.get_doccount())}
        return out

    def timed(self, queries, reps):
        enq = xapian.Enquire(self.db)
        out = {}
        for kind, qs in queries.items():
            times = []
            for q in qs:
                for rep in range(reps + 1):
                    t0 = time.perf_counter()
                    enq.set_query(self.query(q))
                    page = [json.loads(m.document.get_data()) for m in enq.get_mset(0, 10)]
                    if rep:
                        times.append(time.perf_counter() - t0)
                    assert len(page) <= 10
            out[kind] = times
        return out


class Fts5:
    name = "fts5"

    def __init__(self, work):
        self.path = os.path.join(work, "fts5.sqlite")

    def index(self, folder, files):
        t0 = time.perf_counter()
        db = sqlite3.connect(self.path)
        # Contentless: the index without a copy of the texts; url and title
        # are kept beside it, as the other two keep theirs.
        db.execute("CREATE VIRTUAL TABLE docs USING fts5(title, body, content='', tokenize='porter unicode61')")
        db.execute("CREATE TABLE meta(id INTEGER PRIMARY KEY, url TEXT, title TEXT)")
        for i, (path, kind, url) in enumerate(files, 1):
            title, body, _ = extract(path, kind)
            db.execute("INSERT INTO docs(rowid, title, body) VALUES (?, ?, ?)", (i, title, body))
            db.execute("INSERT INTO meta VALUES (?, ?, ?)", (i, url, title))
        db.commit()
        db.close()
        elapsed = time.perf_counter() - t0
        self.db = sqlite3.connect(self.path)
        return elapsed, du(self.path)

    @staticmethod
    def text(q):
        kind, words = q
        if kind in ("and", "refine"):
            return "%s AND %s" % words
        if kind == "or":
            return "%s OR %s" % words
        if kind == "not":
            return "%s NOT %s" % words
        if kind == "phrase":
            return '"%s"' % words[0]
        return words[0]

    def match_sets(self, queries):
        return {q: {u for (u,) in self.db.execute(
            "SELECT meta.url FROM docs JOIN meta ON meta.id = docs.rowid WHERE docs MATCH ?", (self.text(q),))}
            for q in queries}

    def timed(self, queries, reps):
        out = {}
        sql = ("SELECT meta.url, meta.title FROM (SELECT rowid FROM docs WHERE docs MATCH ? ORDER BY rank LIMIT 10) "
               "AS top JOIN meta ON meta.id = top.rowid")
        for kind, qs in queries.items():
            times = []
            for q in qs:
                text = self.text(q)
                for rep in range(reps + 1):
                    t0 = time.perf_counter()
                    page = self.db.execute(sql, (text,)).fetchall()
                    if rep:
                        times.append(time.perf_counter() - t0)
                    assert len(page) <= 10
            out[kind] = times
        return out


# ---- queries ----------------------------------------------------------------

def candidate_words(xdb, stem, ndocs):
    """Plain words with no other form in the collection under Xapian's
    stemmer, with their document counts."""
    forms = {}
    for t in xdb.allterms():
        w = t.term.decode("utf-8", "replace")
        if re.fullmatch(r"[a-z]{4,12}", w) and w not in STOP_WORDS:
            forms.setdefault(stem(w).decode(), []).append((w, t.termfreq))
    return [(fs[0][0], fs[0][1]) for s, fs in forms.items() if len(fs) == 1 and 2 <= fs[0][1] < ndocs]


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100.0 * (len(values) - 1))))] * 1000.0


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("folder", nargs="?", default=documents.DEFAULT_FOLDER)
    ap.add_argument("--build", default=os.path.join(SOURCE, "build"))
    ap.add_argument("--reps", type=int, default=20)
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="vorlane-bench-")
    try:
        run(args, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def run(args, work):
    walked = documents.walk(args.folder)
    files = [(p, k, documents.file_url(p, args.folder)) for p, k in walked]
    total = sum(os.path.getsize(p) for p, _, _ in files)
    print("documents: %d files, %.1f MB, in %s" % (len(files), total / 1e6, args.folder))
    engines = [Vorlane(args.build, work), Xapian(work), Fts5(work)]
    figures = {}
    for e in engines:
        elapsed, size = e.index(args.folder, files)
        figures[e.name] = {"docs/s": len(files) / elapsed, "MB/s": total / 1e6 / elapsed,
                           "bytes/doc": size / len(files)}
        print("  %-8s indexed in %.2f s, index %.1f MB" % (e.name, elapsed, size / 1e6))

    vorlane, xap, fts = engines
    cands = candidate_words(xap.db, xap.stem, len(files))
    stems = vorlane.ask({"stems": [w for w, _ in cands]})["stems"]
    cands = [(w, n) for w, n in cands if stems.get(w) == w]
    singles = [("word", (w,)) for w, _ in cands]
    sets = [e.match_sets(singles) for e in engines]
    agreed = [(w, n) for (w, n), q in zip(cands, singles) if sets[0][q] == sets[1][q] == sets[2][q]]
    print("check: %d words without other forms; %d match alike in all three on their own" % (
        len(cands), len(agreed)))
    shown = 0
    for q in singles:
        if not sets[0][q] == sets[1][q] == sets[2][q] and shown < 5:
            shown += 1
            print("  word %r: vorlane %d, xapian %d, fts5 %d documents" % (
                q[1][0], len(sets[0][q]), len(sets[1][q]), len(sets[2][q])))

    rng = random.Random(31)
    by_count = sorted(agreed, key=lambda x: (x[1], x[0]))
    rare = [w for w, n in by_count if n <= 5]
    common = [w for w, n in by_count if n >= len(files) // 10]
    rare = rng.sample(rare, min(8, len(rare)))
    common = rng.sample(common, min(8, len(common)))
    pairs = [(common[i], common[(i + 1) % len(common)]) for i in range(len(common))]
    mixed = [(common[i], rare[i % len(rare)]) for i in range(len(common))]
    combos = [("and", p) for p in pairs + mixed] + [("or", p) for p in pairs + mixed] + \
             [("not", p) for p in pairs]
    combo_sets = [e.match_sets(combos) for e in engines]
    bad = [q for q in combos if not combo_sets[0][q] == combo_sets[1][q] == combo_sets[2][q]]
    print("check: %d boolean queries (AND, OR, NOT) over those words: %d disagree" % (len(combos), len(bad)))
    for q in bad:
        a, b, c = (s[q] for s in combo_sets)
        print("  %s %s: vorlane %d, xapian %d, fts5 %d; only vorlane %s; only peers %s" % (
            q[0], " ".join(q[1]), len(a), len(b), len(c), sorted(a - b - c)[:2], sorted((b | c) - a)[:2]))

    timed = {
        "rare term": [("word", (w,)) for w in rare],
        "common term": [("word", (w,)) for w in common],
        "2-term AND": [("and", p) for p in pairs],
        "2-term OR": [("or", p) for p in pairs],
        "NOT": [("not", p) for p in pairs],
        "phrase": [("phrase", (p,)) for p in PHRASES],
        "refinement": [("refine", p) for p in pairs],
    }
    lat = {e.name: e.timed(timed, args.reps) for e in engines}

    names = [e.name for e in engines]
    print()
    print("%-24s %10s %10s %10s %9s %9s" % ("", *names, "v/xapian", "v/fts5"))

    def row(label, values):
        v, x, f = values
        print("%-24s %10.2f %10.2f %10.2f %9.2f %9.2f" % (label, v, x, f, v / x, v / f))
    for key in ("docs/s", "MB/s", "bytes/doc"):
        row("index " + key, [figures[n][key] for n in names])
    for kind in timed:
        for p in (50, 95):
            row("%s p%d ms" % (kind, p), [percentile(lat[n][kind], p) for n in names])


if __name__ == "__main__":
    main()
