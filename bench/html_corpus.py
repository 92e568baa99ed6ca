"""The HTML pages the script benchmarks read: every ".html" file below the
directories in VORLANE_HTML_CORPUS (separated by ':'), or below the default
directories a benchmark names, as (bytes, URL) pairs in a stable order."""
import os


def corpus(default):
    pages = []
    for root in os.environ.get("VORLANE_HTML_CORPUS", default).split(":"):
        for directory, _, files in os.walk(root):
            for name in sorted(files):
                if name.endswith(".html"):
                    path = os.path.join(directory, name)
                    with open(path, "rb") as f:
                        url = "http://docs.example.org/" + os.path.relpath(path, root)
                        pages.append((f.read(), url.encode()))
    return pages
