"""Megabytes per second of sorn.parse_html over the HTML documentation
installed from Debian packages (apache2-doc, python3.11-doc), or the
directories in VORLANE_HTML_CORPUS (separated by ':'). Run it with
    build/bin/vorlane-server -child bench/parse_html_bench.py [rounds]
"""
import os
import sys
import time

import sorn

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import html_corpus  # noqa: E402

DEFAULT = "/usr/share/doc/apache2-doc/manual:/usr/share/doc/python3.11/html"


def corpus():
    return html_corpus.corpus(DEFAULT)


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    pages = corpus()
    if not pages:
        print("no HTML documentation installed")
        return
    size = sum(len(text) for text, _ in pages)
    best = None
    for _ in range(rounds):
        start = time.perf_counter()
        for text, base in pages:
            sorn.parse_html(text, base)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    print("parse_html: %d pages, %.1f MB, %.1f MB/s (best of %d)"
          % (len(pages), size / 1e6, size / 1e6 / best, rounds))


main()
