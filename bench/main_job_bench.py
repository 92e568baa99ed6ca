#!/usr/bin/python3
"""Side-by-side benchmark of the main job: this engine, through
examples/index.py and the search of examples/search.py, against Xapian
(python3-xapian, English stemmer) and SQLite FTS5 (porter tokenizer) on the
same documents and queries.

    /usr/bin/python3 bench/main_job_bench.py [--build DIR] [--source DIR]
        [--rounds N] [--reps N] [FOLDER ...]

FOLDER defaults to the HTML pages of python3.11-doc; --build to build/ of
this checkout, --source (the checkout whose examples/index.py runs) to this
checkout.

Indexing: in each of N rounds (default 3) every system indexes the
documents from nothing in a child process of its own, and runs once more
parsing only (bench/main_job_systems.py tells what each run does); the
systems and the two kinds of run take turns in an order that moves by one
each round. Each run is timed by wall clock and by CPU time, user and system
apart, and its 1-minute load average is printed. The table gives the medians
over the rounds: documents/s and MB/s by CPU time of the whole process and
of the engine alone (the whole less the parsing), and by wall clock, with
the ratios of this engine's figures to Xapian's and FTS5's (above 1: this
engine does more per second).

Then it checks that the three find the same documents for words they
analyse alike, boolean queries over those words and phrases of two of them
(printing the disagreements), and times queries by kind: p50/p95 latency
(ratios below 1: this engine answers sooner).
"""
import argparse
import os
import random
import re
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from main_job_systems import (SOURCE, Fts5, Vorlane, Xapian, collection, extract, median,  # noqa: E402
                              percentile, timed_child)

DEFAULT_FOLDER = "/usr/share/doc/python3.11/html"
STOP_WORDS = set("a an and are as at be but by for if in into is it no not of on or such that the their "
                 "then there these they this to was will with".split())
PHRASES = ["standard library", "keyword arguments", "default value", "return value", "regular expression",
           "file object", "command line", "error message"]


# ---- indexing -----------------------------------------------------------------

def index_rounds(systems, folders, rounds, log=print):
    """{system name: [{"index": run, "parse": run}, ...]} over the rounds;
    each run a dict of timed_child."""
    jobs = [(s, kind) for s in systems for kind in ("index", "parse")]
    runs = {s.name: [{} for _ in range(rounds)] for s in systems}
    for r in range(rounds):
        shift = r % len(jobs)
        for s, kind in jobs[shift:] + jobs[:shift]:
            if kind == "index":
                s.clear()
            argv = s.index_argv(folders) if kind == "index" else s.parse_argv(folders)
            t = timed_child(argv)
            if t["rc"] != 0:
                sys.exit("%s %s failed (%d): %s%s" % (s.name, kind, t["rc"], t["out"], t["err"][-2000:]))
            if kind == "index":
                t["size"] = s.size()
            runs[s.name][r][kind] = t
            log("  round %d %-7s %-5s wall %6.2f s  user %6.2f s  sys %5.2f s  RSS %6.1f MB  load %.2f-%.2f" % (
                r + 1, s.name, kind, t["wall"], t["user"], t["sys"], t["rss"], t["load"][0], t["load"][1]))
    return runs


def index_figures(runs, ndocs, nbytes):
    """Medians over the rounds of one system's runs."""
    whole = [r["index"] for r in runs]
    engine = [r["index"]["cpu"] - r["parse"]["cpu"] for r in runs]
    m = lambda key: median([t[key] for t in whole])  # noqa: E731
    cpu, wall, eng = m("cpu"), m("wall"), median(engine)
    mb = nbytes / 1e6
    return {
        "docs/s (CPU)": ndocs / cpu, "MB/s (CPU)": mb / cpu,
        "engine docs/s (CPU)": ndocs / eng if eng > 0 else float("inf"),
        "engine MB/s (CPU)": mb / eng if eng > 0 else float("inf"),
        "docs/s (wall)": ndocs / wall, "MB/s (wall)": mb / wall,
        "CPU s": cpu, "user s": m("user"), "sys s": m("sys"), "wall s": wall,
        "parse CPU s": median([r["parse"]["cpu"] for r in runs]), "engine CPU s": eng,
        "peak RSS MB": m("rss"), "index bytes/doc": m("size") / ndocs,
    }


RATES = ("docs/s (CPU)", "MB/s (CPU)", "engine docs/s (CPU)", "engine MB/s (CPU)", "docs/s (wall)", "MB/s (wall)")
AMOUNTS = ("CPU s", "user s", "sys s", "wall s", "parse CPU s", "engine CPU s", "peak RSS MB", "index bytes/doc")


def print_table(names, rows, out=print):
    """rows: (label, [value per system]); the ratio columns give the first
    system's value over each other's."""
    out("%-26s" % "" + "".join("%11s" % n for n in names) + "".join("%11s" % ("v/" + n) for n in names[1:]))
    for label, values in rows:
        v = values[0]
        out("%-26s" % label + "".join("%11.2f" % x for x in values) +
            "".join("%11.2f" % (v / x if x else float("nan")) for x in values[1:]))


# ---- agreement ----------------------------------------------------------------

def candidate_words(xap, ndocs):
    """Plain words with no other form in the collection under Xapian's
    stemmer, with their document counts."""
    forms = {}
    for t in xap.db.allterms():
        w = t.term.decode("utf-8", "replace")
        if re.fullmatch(r"[a-z]{4,12}", w) and w not in STOP_WORDS:
            forms.setdefault(xap.stem(w).decode(), []).append((w, t.termfreq))
    return [(fs[0][0], fs[0][1]) for s, fs in forms.items() if len(fs) == 1 and 2 <= fs[0][1] < ndocs]


def sample_phrases(files, words, rng, n=40):
    """Pairs of words that stand next to each other in the text of a sample
    of the documents, both of them in words."""
    pairs = []
    for path, kind, _ in rng.sample(files, min(60, len(files))):
        tokens = re.findall(r"[a-z]+", extract(path, kind)[1].lower())
        pairs += ["%s %s" % p for p in zip(tokens, tokens[1:]) if p[0] in words and p[1] in words and p[0] != p[1]]
    pairs = sorted(set(pairs))
    return rng.sample(pairs, min(n, len(pairs)))


def check(systems, queries, label, out=print):
    sets = [s.match_sets(queries) for s in systems]
    bad = [q for q in queries if not all(x[q] == sets[0][q] for x in sets[1:])]
    out("check: %d %s: %d disagree" % (len(queries), label, len(bad)))
    for q in bad[:8]:
        a, b, c = (x[q] for x in sets)
        out("  %s %s: vorlane %d, xapian %d, fts5 %d; only vorlane %s; only peers %s" % (
            q[0], " / ".join(q[1]), len(a), len(b), len(c), sorted(a - b - c)[:2], sorted((b | c) - a)[:2]))
    return sets


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("folders", nargs="*", metavar="FOLDER")
    ap.add_argument("--build", default=os.path.join(SOURCE, "build"))
    ap.add_argument("--source", default=SOURCE, help="the checkout whose examples/index.py runs")
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--reps", type=int, default=20)
    args = ap.parse_args()
    if args.rounds < 1:
        ap.error("--rounds must be 1 or more")
    work = tempfile.mkdtemp(prefix="vorlane-bench-")
    try:
        run(args, args.folders or [DEFAULT_FOLDER], work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def run(args, folders, work):
    files = collection(folders)
    total = sum(os.path.getsize(p) for p, _, _ in files)
    print("documents: %d files, %.1f MB, in %s" % (len(files), total / 1e6, " ".join(folders)))
    print("load average at the start: %.2f %.2f %.2f" % os.getloadavg())
    systems = [Vorlane(args.build, args.source, work), Xapian(work), Fts5(work)]
    runs = index_rounds(systems, folders, args.rounds)
    print("  " + runs["vorlane"][-1]["index"]["out"].strip().splitlines()[-1])
    names = [s.name for s in systems]
    figures = {n: index_figures(runs[n], len(files), total) for n in names}
    loads = [t["load"][1] for n in names for r in runs[n] for t in r.values()]
    print()
    print("indexing, medians of %d rounds (1-minute load %.2f-%.2f over the runs)" % (
        args.rounds, min(loads), max(loads)))
    print_table(names, [(k, [figures[n][k] for n in names]) for k in RATES + AMOUNTS])
    print()

    for s in systems:
        s.open()
    vorlane, xap, fts = systems
    cands = candidate_words(xap, len(files))
    stems = vorlane.ask({"stems": [w for w, _ in cands]})["stems"]
    cands = [(w, n) for w, n in cands if stems.get(w) == w]
    singles = [("word", (w,)) for w, _ in cands]
    sets = check(systems, singles, "words without other forms, on their own")
    agreed = [(w, n) for (w, n), q in zip(cands, singles) if all(x[q] == sets[0][q] for x in sets[1:])]

    rng = random.Random(31)
    by_count = sorted(agreed, key=lambda x: (x[1], x[0]))
    rare = rng.sample([w for w, n in by_count if n <= 5], min(8, len([w for w, n in by_count if n <= 5])))
    common_all = [w for w, n in by_count if n >= len(files) // 10]
    common = rng.sample(common_all, min(8, len(common_all)))
    pairs = [(common[i], common[(i + 1) % len(common)]) for i in range(len(common))]
    mixed = [(common[i], rare[i % len(rare)]) for i in range(len(common))] if rare else []
    combos = [("and", p) for p in pairs + mixed] + [("or", p) for p in pairs + mixed] + \
             [("not", p) for p in pairs]
    check(systems, combos, "boolean queries (AND, OR, NOT) over those words")
    phrases = [("phrase", (p,)) for p in sample_phrases(files, {w for w, _ in agreed}, rng)]
    check(systems, phrases, "phrases of two of those words, as they stand in the text")
    check(systems, [("phrase", (p,)) for p in PHRASES], "common phrases")

    timed = {
        "rare term": [("word", (w,)) for w in rare],
        "common term": [("word", (w,)) for w in common],
        "2-term AND": [("and", p) for p in pairs],
        "2-term OR": [("or", p) for p in pairs],
        "NOT": [("not", p) for p in pairs],
        "phrase": [("phrase", (p,)) for p in PHRASES],
        "refinement": [("refine", p) for p in pairs],
    }
    lat = {s.name: s.timed(timed, args.reps) for s in systems}
    print()
    print("queries, one page of 10 hits, %d repetitions each (load %.2f)" % (args.reps, os.getloadavg()[0]))
    rows = []
    for kind in timed:
        for p in (50, 95):
            rows.append(("%s p%d ms" % (kind, p), [percentile(lat[n][kind], p) for n in names]))
    print_table(names, rows)


if __name__ == "__main__":
    main()
