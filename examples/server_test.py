"""The server as it is meant to run: vorlane-server starts lib/server.py of
the build, which reads its registry key, records its port and serves the
search page; an HTTP client searches through it and gets the hits of the
command-line search, and bad requests get error pages while the server goes
on serving."""
import html
import os
import re
import shutil
import subprocess
import tempfile
import threading
import unittest
import urllib.error
import urllib.parse
import urllib.request

import osdnt_native
import vorlane_testing
from server_testing import start_server, stop_server

DOCS = "/usr/share/doc/python3.11/html"
EXAMPLES = os.path.join(vorlane_testing.SOURCE, "examples")
SERVER = vorlane_testing.SERVER
HIT = re.compile(r'<a class="hit" href="([^"]*)">')


class Fixture:
    root = None
    tmp = data = None
    proc = None
    port = None


def setUpModule():
    Fixture.root = vorlane_testing.TempRoot().start()
    Fixture.tmp = tempfile.mkdtemp(prefix="vorlane-server-")
    docs = os.path.join(Fixture.tmp, "docs")
    shutil.copytree(os.path.join(DOCS, "tutorial"), os.path.join(docs, "tutorial"))
    Fixture.data = os.path.join(Fixture.tmp, "data")
    subprocess.run([SERVER, "-child", os.path.join(EXAMPLES, "index.py"), "--data", Fixture.data, docs],
                   check=True, capture_output=True, timeout=300)
    Fixture.proc, Fixture.port = start_server(Fixture.data, "--max-requests", "200")


def tearDownModule():
    stop_server(Fixture.proc)
    shutil.rmtree(Fixture.tmp, ignore_errors=True)
    Fixture.root.stop()


def get(path, method="GET"):
    """(status, body) of one request."""
    req = urllib.request.Request("http://127.0.0.1:%d%s" % (Fixture.port, path), method=method)
    try:
        with urllib.request.urlopen(req, timeout=30) as r:
            return r.status, r.read().decode("utf-8")
    except urllib.error.HTTPError as e:
        return e.code, e.read().decode("utf-8")


def cli_urls(*query, start=1, count=10):
    r = subprocess.run([SERVER, "-child", os.path.join(EXAMPLES, "search.py"), "--data", Fixture.data,
                        "--start", str(start), "--count", str(count), "--", *query],
                       capture_output=True, text=True, timeout=60, check=True)
    lines = r.stdout.splitlines()
    return [lines[i + 1].strip() for i, line in enumerate(lines) if re.match(r"^\s*\d+\. \[", line)]


def page_urls(body):
    return [html.unescape(u) for u in HIT.findall(body)]


class Serving(unittest.TestCase):
    def test_records_its_key(self):
        self.assertEqual(osdnt_native.query_registry("data_dir"), Fixture.data)
        self.assertEqual(osdnt_native.query_registry("version"), "1.0")

    def test_page_hits_match_the_command_line(self):
        for query, start, count in (("python", 1, 10), ("list comprehension", 1, 5), ("python", 6, 5),
                                    ('"floating point"', 1, 10), ("title:classes", 1, 10),
                                    ("string -list", 1, 10)):
            with self.subTest(query=query, start=start):
                path = "/?q=%s&start=%d&count=%d" % (urllib.parse.quote_plus(query), start, count)
                status, body = get(path)
                self.assertEqual(status, 200)
                expected = cli_urls(query, start=start, count=count)
                self.assertTrue(expected)
                self.assertEqual(page_urls(body), expected)

    def test_search_form_paging_and_admin_page(self):
        status, body = get("/admin")
        self.assertEqual(status, 200)
        self.assertIn('<input name="q"', body)
        status, body = get("/?q=python&count=5")
        self.assertIn('href="/?q=python&amp;start=6&amp;count=5"', body)
        status, body = get("/?q=python&start=6&count=5")
        self.assertIn('href="/?q=python&amp;start=1&amp;count=5"', body)

    def test_texts_are_escaped(self):
        status, body = get("/?q=%s" % urllib.parse.quote_plus('"floating point" & x'))
        self.assertEqual(status, 200)
        self.assertIn('value="&quot;floating point&quot; &amp; x"', body)

    def test_bad_requests_get_an_error_page_and_the_server_goes_on(self):
        cases = [
            ("/nowhere", 404), ("/../etc/passwd", 404), ("/?q=x&bogus=1", 400), ("/?q=x&q=y", 400),
            ("/?q=x&start=abc", 400), ("/?q=x&start=0", 400), ("/?q=x&start=501", 400),
            ("/?q=x&count=101", 400), ("/?q=x&start=99999999999999999999", 400),
            # Digits to str.isdigit() but not to int(), and digits of
            # other scripts.
            ("/?q=x&start=%C2%B2", 400), ("/?q=x&count=%E2%91%A0", 400), ("/?q=x&start=%D9%A1", 400),
            ("/?q=x&count=1%C2%B2", 400),
            ("/?q=" + "a" * 1001, 400), ("/?q=%ff%fe", 400),
            ("/?q=%3Cscript%3Ealert(1)%3C/script%3E", 400), ("/?q=a%3Eb", 400),
        ]
        for path, code in cases:
            with self.subTest(path=path):
                status, body = get(path)
                self.assertEqual(status, code)
                self.assertIn('class="error"', body)
                self.assertNotIn("<script", body)
        status, _ = get("/", method="POST")
        self.assertEqual(status, 501)
        status, body = get("/?q=python")
        self.assertEqual(status, 200)
        self.assertTrue(page_urls(body))

    def test_reindexing_while_serving(self):
        # The indexer adds the FAQ pages beside the tutorial's while the
        # server runs; the next request searches the new merged database.
        self.assertEqual(page_urls(get("/?q=%s" % urllib.parse.quote_plus("url:faq"))[1]), [])
        docs = os.path.join(Fixture.tmp, "docs")
        shutil.copytree(os.path.join(DOCS, "faq"), os.path.join(docs, "faq"))
        subprocess.run([SERVER, "-child", os.path.join(EXAMPLES, "index.py"), "--data", Fixture.data, docs],
                       check=True, capture_output=True, timeout=300)
        found = page_urls(get("/?q=%s&count=50" % urllib.parse.quote_plus("url:faq"))[1])
        self.assertEqual(len(found), len(os.listdir(os.path.join(DOCS, "faq"))))
        self.assertEqual(found, cli_urls("url:faq", count=50))

    def test_requests_at_once(self):
        results = []

        def one():
            results.append(get("/?q=python&count=20"))
        threads = [threading.Thread(target=one) for _ in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=60)
        self.assertEqual(len(results), 8)
        self.assertEqual({s for s, _ in results}, {200})
        self.assertEqual(len({tuple(page_urls(b)) for _, b in results}), 1)


    def test_the_listening_queue_holds_many_connections(self):
        # For a listening socket ss shows the length of its queue as Send-Q.
        r = subprocess.run(["ss", "-ltnH", "sport = :%d" % Fixture.port], capture_output=True, text=True,
                           timeout=30)
        if r.returncode != 0 or not r.stdout.split():
            self.skipTest("ss cannot show the listening socket")
        self.assertGreaterEqual(int(r.stdout.split()[2]), 128)


class Installed(unittest.TestCase):
    def test_the_child_runs_lib_server_py_by_default(self):
        with vorlane_testing.TempRoot():
            r = subprocess.run([SERVER, "-child"], capture_output=True, text=True, timeout=60)
        self.assertEqual(r.returncode, 0)
        self.assertIn("server: no data_dir in the registry key", r.stderr)


if __name__ == "__main__":
    unittest.main()
