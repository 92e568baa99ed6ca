#!/usr/bin/python3
"""Text analysis beside Xapian's TermGenerator, on the same text in one run.

Runs Xapian's TermGenerator (English stemmer, positions, one document per
file) over the corpus of build/bin/text_analysis_bench (the plain-text
sources of the Python library reference from python3.11-doc, or the files
named in VORLANE_TEXT_CORPUS, separated by ':'), then the benchmark itself
on the same files, then Xapian once more, and prints MB/s and the ratios.

    bench/text_analysis_compare.py [--bench build/bin/text_analysis_bench]
                                   [--baseline OTHER_BENCH_BINARY] [--rounds N]

--baseline runs a second build of the benchmark (an older revision, say) on
the same files in the same run. Needs python3-xapian.
"""
import argparse
import json
import os
import subprocess
import sys
import time

import xapian

LIBRARY_DOC = "/usr/share/doc/python3.11/html/_sources/library"


def corpus_files():
    env = os.environ.get("VORLANE_TEXT_CORPUS")
    if env:
        return [f for f in env.split(":") if f]
    files = []
    for directory, _, names in os.walk(LIBRARY_DOC):
        files.extend(os.path.join(directory, n) for n in names if n.endswith(".txt"))
    return sorted(files)


def xapian_mbps(texts, rounds):
    generator = xapian.TermGenerator()
    generator.set_stemmer(xapian.Stem("english"))
    size = sum(len(t) for t in texts)
    best = None
    for _ in range(rounds):
        start = time.perf_counter()
        for text in texts:
            doc = xapian.Document()
            generator.set_document(doc)
            generator.index_text(text)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None or elapsed < best else best
    return size / best / 1e6


def bench_mbps(binary, files):
    env = dict(os.environ, VORLANE_TEXT_CORPUS=":".join(files))
    out = subprocess.run([binary, "--benchmark_format=json", "--benchmark_min_time=1"], env=env, check=True,
                         capture_output=True, text=True).stdout
    result = {}
    for b in json.loads(out)["benchmarks"]:
        name = b["name"].split("/")[0]
        label = b.get("label", "")
        key = {"BM_Tokenize": "tokenise"}.get(name, label or name)
        result[key] = b["bytes_per_second"] / 1e6
    return result


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", default=os.path.join(here, "..", "build", "bin", "text_analysis_bench"))
    parser.add_argument("--baseline")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    files = corpus_files()
    if not files:
        sys.exit("no corpus: install python3.11-doc or set VORLANE_TEXT_CORPUS")
    texts = []
    for f in files:
        with open(f, "rb") as handle:
            texts.append(handle.read())
    size = sum(len(t) for t in texts)
    print(f"corpus: {len(files)} files, {size / 1e6:.1f} MB")

    x1 = xapian_mbps(texts, args.rounds)
    runs = [("this build", bench_mbps(args.bench, files))]
    if args.baseline:
        runs.append(("baseline", bench_mbps(args.baseline, files)))
    x2 = xapian_mbps(texts, args.rounds)
    xap = max(x1, x2)
    print(f"Xapian TermGenerator (English stemmer, positions): {x1:.1f} / {x2:.1f} MB/s, best {xap:.1f}")
    for name, figures in runs:
        for key in ("tokenise", "indexing", "query"):
            if key in figures:
                print(f"{name:>10} {key:>9}: {figures[key]:7.1f} MB/s  {figures[key] / xap:5.2f}x Xapian")
    if args.baseline:
        new, old = runs[0][1], runs[1][1]
        for key in ("tokenise", "indexing", "query"):
            if key in new and key in old:
                print(f"{key:>9}: {new[key] / old[key]:.2f}x the baseline")


if __name__ == "__main__":
    main()
