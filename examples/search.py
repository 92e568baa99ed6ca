"""Searches the databases of a data directory and prints one page of ranked
hits: rank, score, title, then the URL and the summary on lines of their own.

    vorlane-server -child examples/search.py [--data DIR] [--start N]
        [--count N] [--terms] QUERY ...

The query words are joined by blanks. The query language: words; "quoted
phrases"; +word (required) and -word (excluded); AND, OR and NOT in capitals;
field prefixes such as title:word, url:word and site:host; "a | b" narrows
the hits of a by b, and after "||" only the following part's terms score.
--terms prints each query term's document count and, under each hit, the
terms it matched with their weights.
"""
import argparse
import os
import sys

import sorn

import vorlane_app as app


def print_result(result, start, show_terms, out=sys.stdout):
    shown = len(result.hits)
    if shown:
        out.write("%d matches in %d documents; hits %d-%d\n" % (
            result.total, result.documents, start, start + shown - 1))
    else:
        out.write("%d matches; no hits from %d on\n" % (result.total, start))
    if show_terms:
        for term, count in result.terms:
            out.write("  term %s: %d documents\n" % (term, count))
    for h in result.hits:
        out.write("%4d. [%3d] %s\n" % (h.rank, h.score, h.title))
        out.write("      %s\n" % h.url)
        if h.summary:
            out.write("      %s\n" % " ".join(h.summary.split())[:200])
        if show_terms and h.terms:
            out.write("      terms: %s\n" % ", ".join("%s %.2f" % t for t in h.terms))


def main(argv):
    ap = argparse.ArgumentParser(prog="search.py", description=__doc__.split("\n\n")[0])
    ap.add_argument("query", nargs="+", metavar="QUERY")
    ap.add_argument("--data", default=os.path.join(app.installation(), "data"), metavar="DIR")
    ap.add_argument("--start", type=int, default=1, metavar="N", help="first hit (1..%d)" % app.MAX_START)
    ap.add_argument("--count", type=int, default=10, metavar="N", help="hits per page (1..%d)" % app.MAX_COUNT)
    ap.add_argument("--terms", action="store_true", help="term statistics")
    args = ap.parse_args(argv)
    if not 1 <= args.start <= app.MAX_START:
        ap.error("--start must be 1..%d" % app.MAX_START)
    if not 1 <= args.count <= app.MAX_COUNT:
        ap.error("--count must be 1..%d" % app.MAX_COUNT)
    text = " ".join(args.query)
    if len(app.to_engine(text)) > 1000:
        ap.error("the query is longer than 1000 bytes")
    paths = app.searchable(args.data)
    if not paths:
        print("search: nothing indexed in %s (run examples/index.py first)" % args.data, file=sys.stderr)
        return 1
    app.start_engine()
    dbs = app.open_for_search(paths)
    result = app.search(text, dbs, args.start, args.count, details=args.terms)
    try:
        print_result(result, args.start, args.terms)
        sys.stdout.flush()
    except BrokenPipeError:
        # The reader went away (search ... | head): nothing more to say.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
