"""The engine's side of bench/main_job_bench.py, run by vorlane-server -child
over a data directory made by examples/index.py. Reads one JSON request on
standard input and prints one JSON answer:
  {"stems": [words]}             -> {"stems": {word: stem}}
  {"sets": [queries]}            -> {"sets": {query: [urls]}} (every match)
  {"timed": {kind: [queries]}, "reps": n}
                                 -> {"timed": {kind: [seconds, ...]}}
Timed queries go through the same search as examples/search.py: one page of
10 ranked hits with titles."""
import json
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples"))
import sorn  # noqa: E402
import vorlane_app as app  # noqa: E402


def main():
    data_dir = sys.argv[1]
    request = json.loads(sys.stdin.read())
    app.start_engine()
    dbs = app.open_for_search(app.searchable(data_dir))
    answer = {}
    if "stems" in request:
        answer["stems"] = {w: app.from_engine(sorn.get_stem(w, app.LANGUAGE, app.LANGUAGE, "StemTokens") or "") for w in request["stems"]}
    if "sets" in request:
        sets = {}
        for q in request["sets"]:
            urls = []
            for db in dbs:
                urls += [app.from_engine(t[2]) for t in sorn.query_allhits(app.LANGUAGE, app.to_engine(q), db)]
            sets[q] = urls
        answer["sets"] = sets
    if "timed" in request:
        reps = request.get("reps", 10)
        timed = {}
        for kind, queries in request["timed"].items():
            times = []
            for q in queries:
                app.search(q, dbs, 1, 10)  # warm
                for _ in range(reps):
                    t0 = time.perf_counter()
                    r = app.search(q, dbs, 1, 10)
                    times.append(time.perf_counter() - t0)
                    assert r.total >= 0
            timed[kind] = times
        answer["timed"] = timed
    print(json.dumps(answer))


if __name__ == "__main__":
    main()
