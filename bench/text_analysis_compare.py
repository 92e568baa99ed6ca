#!/usr/bin/python3
"""Text analysis beside Xapian's TermGenerator, on the same text in one run.

Runs Xapian's TermGenerator (English stemmer, positions, one document per
file) over the corpus of build/bin/text_analysis_bench (the plain-text
sources of the Python library reference from python3.11-doc, or the files
named in VORLANE_TEXT_CORPUS, separated by ':') and the benchmark itself on
the same files, round after round, the two sides taking turns, and prints
the median and best MB/s of each side and their ratios. Both sides are timed
by the CPU time of the thread doing the work (the benchmark's own figures are
CPU time), so a machine shared with other work slows both alike instead of
charging its waits to one side.

    bench/text_analysis_compare.py [--bench build/bin/text_analysis_bench]
                                   [--baseline OTHER_BENCH_BINARY] [--rounds N]
                                   [--pipeline build/bin/phrase_pipeline_bench]
                                   [--baseline-pipeline OTHER_PIPELINE_BINARY]

--baseline runs a second build of the benchmark (an older revision, say) on
the same files in the same rounds; --pipeline (and --baseline-pipeline) adds
the tokens/s of tokenise + tag + group. Needs python3-xapian.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import time

import xapian

LIBRARY_DOC = "/usr/share/doc/python3.11/html/_sources/library"
ROADS = ("tokenise", "indexing", "query")


def corpus_files():
    env = os.environ.get("VORLANE_TEXT_CORPUS")
    if env:
        return [f for f in env.split(":") if f]
    files = []
    for directory, _, names in os.walk(LIBRARY_DOC):
        files.extend(os.path.join(directory, n) for n in names if n.endswith(".txt"))
    return sorted(files)


def xapian_pass(generator, texts, size):
    """MB/s of one pass of TermGenerator over every text, by thread CPU time."""
    start = time.thread_time()
    for text in texts:
        doc = xapian.Document()
        generator.set_document(doc)
        generator.index_text(text)
    return size / (time.thread_time() - start) / 1e6


def bench_mbps(binary, files):
    env = dict(os.environ, VORLANE_TEXT_CORPUS=":".join(files))
    out = subprocess.run([binary, "--benchmark_format=json", "--benchmark_min_time=0.5"], env=env, check=True,
                         capture_output=True, text=True).stdout
    result = {}
    for b in json.loads(out)["benchmarks"]:
        name = b["name"].split("/")[0]
        label = b.get("label", "")
        key = {"BM_Tokenize": "tokenise"}.get(name, label or name)
        result[key] = b["bytes_per_second"] / 1e6
    return result


def pipeline_tokens(binary):
    out = subprocess.run([binary, "--benchmark_format=json", "--benchmark_min_time=0.5",
                          "--benchmark_filter=BM_TokeniseTagGroup"], check=True, capture_output=True, text=True).stdout
    for b in json.loads(out)["benchmarks"]:
        if "tokens/s" in b:
            return b["tokens/s"] / 1e6
    return None


def spread(values):
    return statistics.median(values), max(values)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", default=os.path.join(here, "..", "build", "bin", "text_analysis_bench"))
    parser.add_argument("--baseline")
    parser.add_argument("--pipeline")
    parser.add_argument("--baseline-pipeline")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    files = corpus_files()
    if not files:
        sys.exit("no corpus: install python3.11-doc or set VORLANE_TEXT_CORPUS")
    texts = []
    for f in files:
        with open(f, "rb") as handle:
            texts.append(handle.read())
    size = sum(len(t) for t in texts)
    print(f"corpus: {len(files)} files, {size / 1e6:.1f} MB; {args.rounds} rounds, sides taking turns")

    generator = xapian.TermGenerator()
    generator.set_stemmer(xapian.Stem("english"))
    sides = [("this build", args.bench, args.pipeline)]
    if args.baseline:
        sides.append(("baseline", args.baseline, args.baseline_pipeline))
    xap = []
    figures = {name: {} for name, _, _ in sides}
    for _ in range(max(1, args.rounds)):
        xap.append(xapian_pass(generator, texts, size))
        for name, binary, pipeline in sides:
            for key, value in bench_mbps(binary, files).items():
                figures[name].setdefault(key, []).append(value)
            if pipeline:
                tokens = pipeline_tokens(pipeline)
                if tokens is not None:
                    figures[name].setdefault("pipeline", []).append(tokens)
        xap.append(xapian_pass(generator, texts, size))

    x_median, x_best = spread(xap)
    print(f"Xapian TermGenerator (English stemmer, positions): median {x_median:.1f} MB/s, best {x_best:.1f} "
          f"(range {min(xap):.1f}-{max(xap):.1f})")
    for name, _, _ in sides:
        for key in ROADS:
            if key not in figures[name]:
                continue
            values = figures[name][key]
            median, best = spread(values)
            print(f"{name:>10} {key:>9}: median {median:7.1f} MB/s {median / x_median:5.2f}x Xapian, "
                  f"best {best:7.1f} MB/s {best / x_best:5.2f}x  (range {min(values):.1f}-{max(values):.1f})")
        if "pipeline" in figures[name]:
            values = figures[name]["pipeline"]
            median, best = spread(values)
            print(f"{name:>10} tokenise+tag+group: median {median:.2f} M tokens/s, best {best:.2f} "
                  f"(range {min(values):.2f}-{max(values):.2f})")
    if args.baseline:
        new, old = figures["this build"], figures["baseline"]
        for key in ROADS + ("pipeline",):
            if key in new and key in old:
                print(f"{key:>9}: median {statistics.median(new[key]) / statistics.median(old[key]):.2f}x "
                      f"the baseline, best {max(new[key]) / max(old[key]):.2f}x")


if __name__ == "__main__":
    main()
