#!/usr/bin/python3
"""The systems the main-job benchmarks compare, and how one run of each is
timed. This engine indexes through examples/index.py; Xapian (python3-xapian,
TermGenerator with the English stemmer) and SQLite FTS5 (porter tokenizer)
index the same files, whose text Python's html.parser extracts (title and
body, without scripts and styles).

Each indexing run is a child process of its own, timed by wall clock and by
the CPU time (user and system) and peak RSS its rusage reports. Beside it
runs a parsing-only child: the same start, walk, reads and page parsing,
without the indexing (for this engine, index.py's own analyse step, the
engine's parse_html). The indexing run's CPU time less the parsing run's is
the engine's own work.

Run as a script, it is that child for the peers:
    main_job_systems.py {index,parse} {xapian,fts5} OUT FOLDER...
"""
import html.parser
import json
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "examples"))
import documents  # noqa: E402


# ---- the documents ------------------------------------------------------------

def collection(folders):
    """(path, kind, url) of every document below the folders, as index.py
    takes them: in folder order, a file below two folders once."""
    out, seen = [], set()
    for folder in folders:
        for path, kind in documents.walk(folder):
            real = os.path.realpath(path)
            if real not in seen:
                seen.add(real)
                out.append((path, kind, documents.file_url(path, folder)))
    return out


class Extract(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.title, self.body, self.skip, self.in_title = [], [], 0, False

    def handle_starttag(self, tag, attrs):
        if tag in ("script", "style"):
            self.skip += 1
        elif tag == "title":
            self.in_title = True

    def handle_endtag(self, tag):
        if tag in ("script", "style"):
            self.skip = max(0, self.skip - 1)
        elif tag == "title":
            self.in_title = False

    def handle_data(self, data):
        if self.in_title:
            self.title.append(data)
        elif not self.skip:
            self.body.append(data)


def extract(path, kind):
    """(title, body) of a file, as the peers index it."""
    with open(path, "rb") as f:
        data = f.read()
    text = documents.decode(data, kind)
    if kind == "plain":
        first = next((ln.strip() for ln in text.splitlines() if ln.strip()), "")
        return first[:120], text
    p = Extract()
    p.feed(text)
    p.close()
    return " ".join("".join(p.title).split()), " ".join(p.body)


def du(path):
    if os.path.isfile(path):
        return os.path.getsize(path)
    return sum(os.path.getsize(os.path.join(top, n)) for top, _, names in os.walk(path) for n in names)


# ---- one timed child ----------------------------------------------------------

def timed_child(argv):
    """Runs argv to its end: a dict of wall, user, sys and cpu seconds, peak
    RSS in MB (all from the child's rusage), the 1-minute load average at
    its start and end, its exit status and output."""
    load0 = os.getloadavg()[0]
    with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err:
        t0 = time.perf_counter()
        p = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        _, status, ru = os.wait4(p.pid, 0)
        wall = time.perf_counter() - t0
        p.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        return {"wall": wall, "user": ru.ru_utime, "sys": ru.ru_stime, "cpu": ru.ru_utime + ru.ru_stime,
                "rss": ru.ru_maxrss / 1024.0, "rc": p.returncode, "out": out.read(), "err": err.read(),
                "load": (load0, os.getloadavg()[0])}


# ---- the systems --------------------------------------------------------------

def q_text(forms, q):
    """The text of a query (kind, words) in a system's forms."""
    kind, words = q
    return forms[kind] % words


class Vorlane:
    name = "vorlane"

    def __init__(self, build, source, work):
        self.server = os.path.join(build, "bin", "vorlane-server")
        self.source = source
        self.data = os.path.join(work, "vorlane")

    def index_argv(self, folders):
        return [self.server, "-child", os.path.join(self.source, "examples", "index.py"), "--data", self.data,
                *folders]

    def parse_argv(self, folders):
        return [self.server, "-child", os.path.join(HERE, "main_job_parse.py"), self.source, *folders]

    def clear(self):
        shutil.rmtree(self.data, ignore_errors=True)

    def size(self):
        return sum(du(os.path.join(self.data, n)) for n in os.listdir(self.data) if n not in ("lock", "CURRENT"))

    def open(self):
        pass

    def ask(self, request):
        r = subprocess.run([self.server, "-child", os.path.join(HERE, "main_job_queries.py"), self.data],
                           input=json.dumps(request), capture_output=True, text=True)
        if r.returncode != 0:
            sys.exit("main_job_queries.py failed: %s" % r.stderr)
        return json.loads(r.stdout)

    def match_sets(self, queries):
        ours = {q: self.translate(q) for q in queries}
        sets = self.ask({"sets": list(ours.values())})["sets"]
        return {q: set(sets[ours[q]]) for q in queries}

    # The common forms of queries in this engine's query language.
    FORMS = {"word": "%s", "and": "+%s +%s", "or": "%s OR %s", "not": "%s NOT %s", "phrase": '"%s"',
             "refine": "%s | %s"}

    def translate(self, q):
        return q_text(self.FORMS, q)

    def timed(self, queries, reps):
        req = {k: [self.translate(q) for q in qs] for k, qs in queries.items()}
        return self.ask({"timed": req, "reps": reps})["timed"]


class Peer:
    """A peer indexes in a child that runs this file; its index is the file
    or folder work/NAME."""

    def __init__(self, work):
        self.path = os.path.join(work, self.file)

    def argv(self, mode, folders):
        return ["/usr/bin/python3", os.path.abspath(__file__), mode, self.name, self.path, *folders]

    def index_argv(self, folders):
        return self.argv("index", folders)

    def parse_argv(self, folders):
        return self.argv("parse", folders)

    def clear(self):
        if os.path.isdir(self.path):
            shutil.rmtree(self.path)
        elif os.path.exists(self.path):
            os.unlink(self.path)

    def size(self):
        return du(self.path)

    def timed(self, queries, reps):
        """{kind: [seconds of one page of 10 hits]}: each query once to warm
        up, then reps times."""
        out = {}
        for kind, qs in queries.items():
            times = []
            for q in qs:
                for rep in range(reps + 1):
                    t0 = time.perf_counter()
                    page = self.page(q)
                    if rep:
                        times.append(time.perf_counter() - t0)
                    assert len(page) <= 10
            out[kind] = times
        return out


class Xapian(Peer):
    name = file = "xapian"

    @staticmethod
    def build(path, files):
        import xapian
        db = xapian.WritableDatabase(path, xapian.DB_CREATE_OR_OVERWRITE)
        tg = xapian.TermGenerator()
        tg.set_stemmer(xapian.Stem("english"))
        for p, kind, url in files:
            title, body = extract(p, kind)
            doc = xapian.Document()
            tg.set_document(doc)
            tg.index_text(title, 3)
            tg.increase_termpos()
            tg.index_text(body)
            doc.set_data(json.dumps([url, title]))
            db.add_document(doc)
        db.commit()
        db.close()

    def open(self):
        import xapian
        self.xapian = xapian
        self.stem = xapian.Stem("english")
        self.db = xapian.Database(self.path)
        self.enquire = xapian.Enquire(self.db)

    def query(self, q):
        xapian = self.xapian
        kind, words = q
        z = lambda w: "Z" + self.stem(w).decode()  # noqa: E731
        if kind in ("and", "refine"):
            return xapian.Query(xapian.Query.OP_AND, [z(words[0]), z(words[1])])
        if kind == "or":
            return xapian.Query(xapian.Query.OP_OR, [z(words[0]), z(words[1])])
        if kind == "not":
            return xapian.Query(xapian.Query.OP_AND_NOT, xapian.Query(z(words[0])), xapian.Query(z(words[1])))
        if kind == "phrase":
            return xapian.Query(xapian.Query.OP_PHRASE, words[0].split())
        return xapian.Query(z(words[0]))

    def match_sets(self, queries):
        out = {}
        enq = self.xapian.Enquire(self.db)
        for q in queries:
            enq.set_query(self.query(q))
            out[q] = {json.loads(m.document.get_data())[0] for m in enq.get_mset(0, self.db.get_doccount())}
        return out

    def page(self, q):
        self.enquire.set_query(self.query(q))
        return [json.loads(m.document.get_data()) for m in self.enquire.get_mset(0, 10)]


class Fts5(Peer):
    name, file = "fts5", "fts5.sqlite"

    @staticmethod
    def build(path, files):
        db = sqlite3.connect(path)
        # Contentless: the index without a copy of the texts; url and title
        # are kept beside it, as the other two keep theirs.
        db.execute("CREATE VIRTUAL TABLE docs USING fts5(title, body, content='', tokenize='porter unicode61')")
        db.execute("CREATE TABLE meta(id INTEGER PRIMARY KEY, url TEXT, title TEXT)")
        for i, (p, kind, url) in enumerate(files, 1):
            title, body = extract(p, kind)
            db.execute("INSERT INTO docs(rowid, title, body) VALUES (?, ?, ?)", (i, title, body))
            db.execute("INSERT INTO meta VALUES (?, ?, ?)", (i, url, title))
        db.commit()
        db.close()

    def open(self):
        self.db = sqlite3.connect(self.path)

    FORMS = {"word": "%s", "and": "%s AND %s", "refine": "%s AND %s", "or": "%s OR %s", "not": "%s NOT %s",
             "phrase": '"%s"'}

    def text(self, q):
        return q_text(self.FORMS, q)

    def match_sets(self, queries):
        return {q: {u for (u,) in self.db.execute(
            "SELECT meta.url FROM docs JOIN meta ON meta.id = docs.rowid WHERE docs MATCH ?", (self.text(q),))}
            for q in queries}

    def page(self, q):
        return self.db.execute(
            "SELECT meta.url, meta.title FROM (SELECT rowid FROM docs WHERE docs MATCH ? ORDER BY rank LIMIT 10) "
            "AS top JOIN meta ON meta.id = top.rowid", (self.text(q),)).fetchall()


# ---- figures ------------------------------------------------------------------

def median(values):
    values = sorted(values)
    n = len(values)
    return values[n // 2] if n % 2 else (values[n // 2 - 1] + values[n // 2]) / 2.0


def percentile(values, p):
    """The p-th percentile of seconds, in milliseconds."""
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100.0 * (len(values) - 1))))] * 1000.0


def peer_child(argv):
    mode, name, out = argv[:3]
    files = collection(argv[3:])
    if mode == "parse":
        if name == "xapian":
            import xapian  # noqa: F401 (the same start as the indexing run's)
        for path, kind, _ in files:
            extract(path, kind)
    else:
        {"xapian": Xapian, "fts5": Fts5}[name].build(out, files)


if __name__ == "__main__":
    peer_child(sys.argv[1:])
