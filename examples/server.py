"""The server's main script: a search page over the databases of the data
directory named in this server's registry key.

vorlane-server runs it (installed as lib/server.py). It reads "data_dir" and
"port" from the key of its server number (port 0 or none: any free port),
listens on 127.0.0.1, records itself with osdnt_native.record so that
orvelstart finds it, and answers each request on its own thread:

    GET /  or  /admin   the search page; parameters q (the query), start
                        (1..500) and count (1..100)

Anything else gets an error page. With "--max-requests N" it stops after N
requests. When the indexer makes a new merged database, the next request
opens it.
"""
import http.server
import os
import socketserver
import sys
import threading
import time
import urllib.parse

import osdnt_native
import sorn

import vorlane_app as app

HOST = "127.0.0.1"
DEFAULT_PORT = 8080
MAX_QUERY = 1000
PATHS = ("/", "/admin")
PARAMS = ("q", "start", "count")


def quote(text):
    """Text for a page: escaped by the engine's htmlquote, in UTF-8."""
    return app.from_engine(sorn.htmlquote(app.to_engine(text)))


class BadRequest(Exception):
    pass


class Databases:
    """The databases of the data directory, reopened when the indexer makes
    a new merged one. A set is closed only when no request uses it."""

    def __init__(self, data_dir):
        self.data = data_dir
        self.lock = threading.Lock()
        self.stamp = None
        self.current = None   # [identifiers, users]

    def _stamp(self):
        try:
            st = os.stat(os.path.join(self.data, "CURRENT"))
            return (st.st_ino, st.st_mtime_ns)
        except FileNotFoundError:
            return None

    def take(self):
        with self.lock:
            stamp = self._stamp()
            if self.current is None or stamp != self.stamp:
                fresh = self._open()
                if fresh is not None:
                    old = self.current
                    self.current = [fresh, 1]  # 1: held as current
                    self.stamp = stamp
                    if old is not None:
                        self._release(old)
                elif self.current is None:
                    self.current = [[], 1]
            self.current[1] += 1
            return self.current

    def _open(self):
        """The identifiers of the searchable databases, or None when one
        cannot be opened (the indexer may be replacing them): the next
        request tries again."""
        opened = []
        try:
            for path in app.searchable(self.data):
                opened.append(sorn.open_db(path, "", 1, 0))
        except (sorn.error, OSError, ValueError) as e:
            print("server: cannot open the databases of %s: %s" % (self.data, e), file=sys.stderr)
            for ident in opened:
                sorn.quit_db(ident)
            return None
        return opened

    def give(self, dbs):
        with self.lock:
            self._release(dbs)

    def _release(self, dbs):
        dbs[1] -= 1
        if dbs[1] == 0:
            for ident in dbs[0]:
                sorn.quit_db(ident)


def parse_params(query_string):
    try:
        pairs = urllib.parse.parse_qsl(query_string, keep_blank_values=True, strict_parsing=False,
                                       encoding="utf-8", errors="strict", max_num_fields=len(PARAMS))
    except (ValueError, UnicodeDecodeError):
        raise BadRequest("malformed parameters")
    params = {}
    for name, value in pairs:
        if name not in PARAMS:
            raise BadRequest("unknown parameter")
        if name in params:
            raise BadRequest("parameter given twice: " + name)
        params[name] = value
    q = params.get("q", "")
    if len(q.encode("utf-8")) > MAX_QUERY:
        raise BadRequest("the query is longer than %d bytes" % MAX_QUERY)
    if "<" in q or ">" in q:
        raise BadRequest("markup is not searched")
    start = number(params, "start", 1, 1, app.MAX_START)
    count = number(params, "count", 10, 1, app.MAX_COUNT)
    return q, start, count


def number(params, name, default, low, high):
    value = params.get(name)
    if value is None or value == "":
        return default
    # ASCII digits only: str.isdigit() also takes "²" and "①", which int()
    # refuses.
    if not (value.isascii() and value.isdigit()) or len(value) > 6 or not low <= int(value) <= high:
        raise BadRequest("%s must be a number %d..%d" % (name, low, high))
    return int(value)


PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>%(title)s</title>
<style>body{font-family:sans-serif;max-width:50em;margin:1em auto}
li{margin-bottom:1em}.url{color:#060;font-size:90%%}.score{color:#888}</style>
</head><body>
<form method="get" action="/"><input name="q" size="50" value="%(q)s">
<input type="submit" value="Search"></form>
%(body)s
</body></html>
"""


def page_link(q, start, count, label):
    href = "/?q=%s&start=%d&count=%d" % (sorn.urlquote(app.to_engine(q)).decode("latin-1"), start, count)
    return '<a class="page" href="%s">%s</a>' % (quote(href), quote(label))


def results_body(q, start, count, result, more):
    """The page of hits; more: the ranking holds hits after this page."""
    out = []
    if result.hits:
        out.append('<p class="total">%d matches; hits %d-%d</p>' % (
            result.total, start, start + len(result.hits) - 1))
    else:
        out.append('<p class="total">%d matches; no hits from %d on</p>' % (result.total, start))
    out.append('<ol start="%d">' % start)
    for h in result.hits:
        out.append('<li><a class="hit" href="%s">%s</a> <span class="score">%d</span><br>'
                   '<span class="url">%s</span><br>%s</li>' % (
                       quote(h.url), quote(h.title or h.url), h.score, quote(h.url),
                       quote(" ".join(h.summary.split())[:300])))
    out.append("</ol>")
    links = []
    if start > 1:
        links.append(page_link(q, max(1, start - count), count, "Previous"))
    if more and start + count <= app.MAX_START:
        links.append(page_link(q, start + count, count, "Next"))
    if links:
        out.append("<p>%s</p>" % " ".join(links))
    return "\n".join(out)


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "vorlane/" + app.VERSION
    timeout = 30          # a client that sends nothing is dropped
    protocol_version = "HTTP/1.0"

    def log_message(self, fmt, *args):
        sys.stderr.write("server: %s %s\n" % (self.address_string(), fmt % args))

    def send_error(self, code, message=None, explain=None):
        # The page of every error, with every text escaped by htmlquote.
        text = message or self.responses.get(code, ("Error",))[0]
        body = PAGE % {"title": quote("Error %d" % code), "q": "",
                       "body": '<p class="error">Error %d: %s</p>' % (code, quote(text))}
        self.log_error("code %d, %s", code, text)
        self.send_response(code, text if text.isascii() else None)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Connection", "close")
        data = body.encode("utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if self.command != "HEAD" and code >= 200 and code not in (204, 304):
            self.wfile.write(data)

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        try:
            self.answer()
        except Exception as e:
            # Every request gets an answer, a failed one too.
            self.log_error("failed: %r", e)
            if not self.answered:
                self.send_error(500, "the search failed")
        finally:
            self.server.count_request()

    answered = False

    def send_response(self, code, message=None):
        self.answered = True
        super().send_response(code, message)

    def answer(self):
        split = urllib.parse.urlsplit(self.path)
        if split.path not in PATHS:
            self.send_error(404, "no such page")
            return
        try:
            q, start, count = parse_params(split.query)
        except BadRequest as e:
            self.send_error(400, str(e))
            return
        if q.strip():
            dbs = self.server.databases.take()
            try:
                # One hit more than the page tells whether a next page has
                # any (a total may be an estimate, and only 500 are ranked).
                result = app.search(q, dbs[0], start, count + 1)
            finally:
                self.server.databases.give(dbs)
            more = len(result.hits) > count
            del result.hits[count:]
            body = results_body(q, start, count, result, more)
            title = q + " - search"
        else:
            body = ""
            title = "Search"
        data = (PAGE % {"title": quote(title), "q": quote(q), "body": body}).encode("utf-8")
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    # Connections waiting to be accepted: many clients may connect at once
    # (the kernel caps it at net.core.somaxconn).
    request_queue_size = 1024

    def __init__(self, address, databases, max_requests):
        super().__init__(address, Handler)
        self.databases = databases
        self.max_requests = max_requests
        self.requests = 0
        self.requests_lock = threading.Lock()

    def count_request(self):
        with self.requests_lock:
            self.requests += 1
            if self.max_requests and self.requests >= self.max_requests:
                threading.Thread(target=self.shutdown).start()


def main(argv):
    max_requests = 0
    if argv[:1] == ["--max-requests"] and len(argv) == 2 and argv[1].isdigit():
        max_requests = int(argv[1])
    elif argv:
        print("server: usage: server.py [--max-requests N]", file=sys.stderr)
        return 0  # a restart would not mend the command line
    data_dir = osdnt_native.query_registry("data_dir")
    if not isinstance(data_dir, str) or not data_dir:
        print("server: no data_dir in the registry key of this server (set it with wendal -setdir DIR)",
              file=sys.stderr)
        return 0  # nothing a restart could change
    port = osdnt_native.query_registry("port")
    if not isinstance(port, int) or port < 0 or port > 65535:
        port = DEFAULT_PORT
    app.start_engine()
    try:
        server = Server((HOST, port), Databases(data_dir), max_requests)
    except OSError as e:
        message = "server: cannot listen on %s:%d: %s" % (HOST, port, e)
        print(message, file=sys.stderr)
        # The supervisor's children write to /dev/null: the event log says
        # it, once for each start.
        import _syslog
        _syslog.syslog(3, message)
        time.sleep(2)  # the supervisor starts it again
        return 1
    port = server.server_address[1]
    osdnt_native.record(data_dir, HOST, port, app.VERSION)
    print("server: searching %s on http://%s:%d/" % (data_dir, HOST, port), file=sys.stderr, flush=True)
    with server:
        server.serve_forever()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
