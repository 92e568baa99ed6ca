"""The parsing-only run of this engine for the main-job benchmarks, run by
vorlane-server -child:
    main_job_parse.py SOURCE FOLDER...
It starts as examples/index.py of the checkout SOURCE starts (the engine and
its English set), walks and reads the same files, and runs index.py's own
analyse step (decoding and the engine's parse_html) on each, without
indexing them."""
import os
import sys

source = sys.argv[1]
sys.path.insert(0, os.path.join(source, "examples"))
import index  # noqa: E402
import vorlane_app as app  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from main_job_systems import collection  # noqa: E402


def main():
    app.start_engine()
    for path, kind, url in collection(sys.argv[2:]):
        with open(path, "rb") as f:
            data = f.read()
        index.Indexer.analyse(None, path, kind, url, data)


if __name__ == "__main__":
    main()
