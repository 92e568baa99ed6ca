#!/usr/bin/python3
"""Indexing and searching as the collection grows: this engine (through
examples/index.py and the search of examples/search.py) beside Xapian, on
1, 4 and 16 copies of the HTML pages of python3.11-doc and on all of the
installed HTML documentation of the packages below.

    /usr/bin/python3 bench/scale_bench.py [--build DIR] [--source DIR]
        [--sizes 1,4,16,all] [--rounds N] [--reps N]

--sizes picks the collections (numbers of copies of python3.11-doc, and
"all"); --rounds (default 1) repeats the indexing, the two systems taking
turns, and the table gives medians. The copies are hard links (or copies
where links cannot be made) in a temporary folder, copy01 to copy16, so that
every page has a URL of its own. Each indexing run is a child process timed
as bench/main_job_systems.py tells; the table gives documents/s and MB/s by
CPU time (and MB/s by wall clock), its rate against the 1-copy one, the
system share of the CPU time, peak RSS, index size, and the p50/p95 latency
of one page of 10 hits over a mix of queries (rare and common words, 2-term
AND and OR, phrases), with the 1-minute load average of the runs.

A run that fails (as an indexer stopped by the 48-database limit of a query
did) is shown as failed with its last message. The documentation packages:
    apt-get install python3-doc postgresql-doc-15 python-django-doc
        python-scipy-doc python-pandas-doc sphinx-doc docutils-doc
        python-requests-doc
(or scripts/install-deps.sh --bench-docs); the benchmark says which it found.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from main_job_bench import PHRASES, candidate_words  # noqa: E402
from main_job_systems import SOURCE, Vorlane, Xapian, collection, median, percentile, timed_child  # noqa: E402

PYTHON_DOC = "/usr/share/doc/python3.11/html"
# The HTML documentation packages and the folder each installs.
DOC_PACKAGES = [
    ("python3.11-doc", PYTHON_DOC),
    ("python3-doc", "/usr/share/doc/python3-doc/html"),
    ("postgresql-doc-15", "/usr/share/doc/postgresql-doc-15/html"),
    ("python-django-doc", "/usr/share/doc/python-django-doc/html"),
    ("python-scipy-doc", "/usr/share/doc/python-scipy-doc/html"),
    ("python-pandas-doc", "/usr/share/doc/python-pandas-doc/html"),
    ("sphinx-doc", "/usr/share/doc/sphinx-doc/html"),
    ("docutils-doc", "/usr/share/doc/docutils-doc"),
    ("python-requests-doc", "/usr/share/doc/python-requests-doc/html"),
]


def installed(package):
    r = subprocess.run(["dpkg-query", "-W", "-f=${Status}", package], capture_output=True, text=True)
    return r.returncode == 0 and "install ok installed" in r.stdout


def installed_docs():
    """(found packages, their folders, missing packages)."""
    found, folders, missing = [], [], []
    for package, folder in DOC_PACKAGES:
        if installed(package) and os.path.isdir(folder):
            found.append(package)
            folders.append(folder)
        else:
            missing.append(package)
    return found, folders, missing


def copies(work, n):
    """n copies of python3.11-doc's pages under work/copies: their
    folders."""
    folders = []
    for i in range(1, n + 1):
        target = os.path.join(work, "copies", "copy%02d" % i)
        folders.append(target)
        if os.path.isdir(target):
            continue
        for top, _, names in os.walk(PYTHON_DOC):
            dest = os.path.join(target, os.path.relpath(top, PYTHON_DOC))
            os.makedirs(dest, exist_ok=True)
            for name in names:
                src = os.path.join(top, name)
                try:
                    os.link(src, os.path.join(dest, name))
                except OSError:
                    shutil.copy2(src, os.path.join(dest, name))
    return folders


def query_mix(xap, ndocs, rng):
    """{kind: [query]}: rare and common words of the collection, pairs of
    common words, and common phrases."""
    words = sorted(candidate_words(xap, ndocs), key=lambda x: (x[1], x[0]))
    rare = [w for w, n in words if n <= 5]
    common = [w for w, n in words if n >= ndocs // 10]
    rare = rng.sample(rare, min(10, len(rare)))
    common = rng.sample(common, min(10, len(common)))
    pairs = [(common[i], common[(i + 1) % len(common)]) for i in range(len(common))]
    return {"rare": [("word", (w,)) for w in rare], "common": [("word", (w,)) for w in common],
            "and": [("and", p) for p in pairs], "or": [("or", p) for p in pairs],
            "phrase": [("phrase", (p,)) for p in PHRASES]}


def measure(label, folders, systems, args):
    files = collection(folders)
    nbytes = sum(os.path.getsize(p) for p, _, _ in files)
    print("%s: %d files, %.1f MB" % (label, len(files), nbytes / 1e6), flush=True)
    runs = {s.name: [] for s in systems}
    for r in range(args.rounds):
        order = systems[r % len(systems):] + systems[:r % len(systems)]
        for s in order:
            s.clear()
            t = timed_child(s.index_argv(folders))
            if t["rc"] == 0:
                t["size"] = s.size()
            else:
                lines = (t["out"] + t["err"]).strip().splitlines()
                t["failed"] = lines[-1] if lines else "exit status %d" % t["rc"]
            runs[s.name].append(t)
            print("  round %d %-7s wall %7.2f s  user %7.2f s  sys %6.2f s  RSS %7.1f MB  load %.2f-%.2f%s" % (
                r + 1, s.name, t["wall"], t["user"], t["sys"], t["rss"], t["load"][0], t["load"][1],
                "  FAILED: " + t["failed"] if "failed" in t else ""), flush=True)
    rows = {}
    lat = {}
    ok = [s for s in systems if all("failed" not in t for t in runs[s.name])]
    xap = next((s for s in ok if s.name == "xapian"), None)
    if xap is not None:
        # The last round's indexes stay for the queries.
        for s in ok:
            s.open()
        mix = query_mix(xap, len(files), random.Random(17))
        for s in ok:
            times = s.timed(mix, args.reps)
            lat[s.name] = [x for kind in times.values() for x in kind]
    for s in systems:
        ts = runs[s.name]
        if s not in ok:
            rows[s.name] = {"failed": next(t["failed"] for t in ts if "failed" in t)}
            continue
        cpu, wall = median([t["cpu"] for t in ts]), median([t["wall"] for t in ts])
        rows[s.name] = {
            "docs/s": len(files) / cpu, "MB/s": nbytes / 1e6 / cpu, "MB/s wall": nbytes / 1e6 / wall,
            "sys %": 100.0 * median([t["sys"] for t in ts]) / cpu,
            "RSS MB": median([t["rss"] for t in ts]), "index MB": median([t["size"] for t in ts]) / 1e6,
            "p50 ms": percentile(lat[s.name], 50) if s.name in lat else float("nan"),
            "p95 ms": percentile(lat[s.name], 95) if s.name in lat else float("nan"),
        }
    loads = [x for s in systems for t in runs[s.name] for x in t["load"]]
    return {"label": label, "docs": len(files), "MB": nbytes / 1e6, "rows": rows,
            "load": (min(loads), max(loads))}


COLUMNS = ("docs/s", "MB/s", "MB/s wall", "vs 1x", "sys %", "RSS MB", "index MB", "p50 ms", "p95 ms")


def print_table(results, names):
    print()
    print("%-22s %7s %7s %-9s" % ("collection", "docs", "MB", "system") +
          "".join("%10s" % c for c in COLUMNS) + "   load")
    base = {}
    for res in results:
        if res["label"].startswith("1x"):
            base = {n: r.get("MB/s") for n, r in res["rows"].items()}
    for res in results:
        first = True
        for n in names:
            r = res["rows"][n]
            lead = "%-22s %7d %7.1f " % (res["label"], res["docs"], res["MB"]) if first else " " * 39
            tail = "   %.2f-%.2f" % res["load"] if first else ""
            first = False
            if "failed" in r:
                print(lead + "%-9s failed: %s" % (n, r["failed"][:90]) + tail)
                continue
            vs = r["MB/s"] / base[n] if base.get(n) else float("nan")
            values = [r["docs/s"], r["MB/s"], r["MB/s wall"], vs, r["sys %"], r["RSS MB"], r["index MB"],
                      r["p50 ms"], r["p95 ms"]]
            print(lead + "%-9s" % n + "".join("%10.2f" % v for v in values) + tail)
        v, x = res["rows"].get(names[0], {}), res["rows"].get(names[1], {})
        if "failed" not in v and "failed" not in x:
            print(" " * 39 + "%-9s" % ("v/" + names[1]) + "".join(
                "%10.2f" % (v[c] / x[c] if x.get(c) else float("nan")) if c != "vs 1x" else "%10s" % ""
                for c in COLUMNS))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", default=os.path.join(SOURCE, "build"))
    ap.add_argument("--source", default=SOURCE, help="the checkout whose examples/index.py runs")
    ap.add_argument("--sizes", default="1,4,16,all", help="copies of python3.11-doc, and 'all' (default %(default)s)")
    ap.add_argument("--rounds", type=int, default=1)
    ap.add_argument("--reps", type=int, default=5)
    args = ap.parse_args()
    sizes = [s.strip() for s in args.sizes.split(",") if s.strip()]
    for s in sizes:
        if s != "all" and not (s.isdigit() and 1 <= int(s) <= 99):
            ap.error("--sizes: %r is neither a number of copies (1..99) nor 'all'" % s)
    if args.rounds < 1:
        ap.error("--rounds must be 1 or more")
    if not os.path.isdir(PYTHON_DOC):
        sys.exit("scale_bench: %s is missing (apt-get install python3.11-doc)" % PYTHON_DOC)
    print("load average at the start: %.2f %.2f %.2f" % os.getloadavg())
    work = tempfile.mkdtemp(prefix="vorlane-scale-")
    try:
        systems = [Vorlane(args.build, args.source, work), Xapian(work)]
        results = []
        for size in sizes:
            if size == "all":
                found, folders, missing = installed_docs()
                print("installed documentation: %s" % ", ".join(found))
                if missing:
                    print("not installed: %s" % ", ".join(missing))
                results.append(measure("all installed", folders, systems, args))
            else:
                n = int(size)
                folders = [PYTHON_DOC] if n == 1 else copies(work, n)
                results.append(measure("%dx python3.11-doc" % n, folders, systems, args))
        print_table(results, [s.name for s in systems])
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
