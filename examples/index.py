"""Indexes the HTML pages and plain text files of folders into the databases
of a data directory, for the command-line search and the server.

    vorlane-server -child examples/index.py [--data DIR] [--capacity N]
        [--base-url URL] [--verbose] [FOLDER ...]

FOLDER defaults to the HTML pages of the python3.11-doc package, DIR to
data/ of the installation. A run adds only the files that are new or whose
content changed since the last run (a changed file's old version is dropped);
files that have gone from a folder stay indexed, in one version. Every word
of a body is indexed while the document's term table (81,920 terms) has
room; the summary line counts the documents that filled it. Documents go
into databases of CAP documents each (new ones are started when one is
full); full ones are merged as the run goes on, so that a search never names
more than the 48 databases a query may, and all are merged into one database
at the end. A run that is killed keeps every document it reported: the next
run takes them back from their journals, goes on, and leaves one version of
each file. With --verbose every stored document is reported as it is
acknowledged ("indexed URL").
"""
import argparse
import fcntl
import os
import re
import shutil
import struct
import sys
import time
import urllib.parse

import sorn

import documents
import vorlane_app as app

DEFAULT_CAPACITY = 1000
MAX_CAPACITY = 100000
MAX_URL = 255  # bytes of a URL a document's title record holds
MERGE_FAN_IN = 8


def part_level(parts):
    """The level of a database that holds the given number of parts: the
    whole number of times MERGE_FAN_IN divides into it."""
    level = 0
    while parts >= MERGE_FAN_IN:
        parts //= MERGE_FAN_IN
        level += 1
    return level


def pick_merge(weights, room):
    """The databases to merge next, as a slice (i, j) of the list of the
    numbers of parts they hold, in order; or None. MERGE_FAN_IN of one
    level in a row are merged into one of the next level, as a counter
    carries: a part's documents are merged once per level, the logarithm of
    the number of parts to the base MERGE_FAN_IN, and at most
    MERGE_FAN_IN - 1 databases of each level are left. Should they still be
    more than room, the MERGE_FAN_IN in a row that hold the fewest parts
    are merged."""
    levels = [part_level(w) for w in weights]
    for i in range(len(levels) - MERGE_FAN_IN + 1):
        if len(set(levels[i:i + MERGE_FAN_IN])) == 1:
            return i, i + MERGE_FAN_IN
    if len(weights) <= room:
        return None
    k = min(MERGE_FAN_IN, len(weights))
    i = min(range(len(weights) - k + 1), key=lambda i: (sum(weights[i:i + k]), -i))
    return i, i + k

# The engine reads the first 81,919 bytes of a field; a longer body goes in
# as several fields.
FIELD_BYTES = 81919

# Elements that sit inside a line of text. The engine's HTML reader ends a
# line at every tag, and a short line ends a phrase, so "<code>graphlib</code>
# module" would never form the phrase "graphlib module": the body is read
# from the page with these tags taken out. Block elements (and <br>, <img>)
# still end lines.
INLINE_TAGS = (
    # The most frequent first: the pattern below tries them in this order.
    "span", "a", "code", "em", "strong", "b", "i", "tt", "kbd", "var", "samp", "abbr", "acronym",
    "sub", "sup", "small", "big", "font", "bdi", "bdo", "cite", "data", "del", "dfn", "ins", "label",
    "mark", "q", "s", "strike", "time", "u", "wbr",
)
# A tag ends where the engine's reader ends it: at '>' or before the next '<'.
_INLINE_TAG = re.compile(rb"</?(?:%s)(?![A-Za-z0-9_.-])[^<>]*>?" % "|".join(INLINE_TAGS).encode(), re.I)


def without_inline_tags(html):
    """The page's text with the start and end tags of inline elements taken
    out (their contents stay)."""
    return _INLINE_TAG.sub(b"", html)


def body_fields(body):
    """The body as texts of at most FIELD_BYTES bytes each, cut at white
    space (a line break when there is one in the second half of the limit),
    so that no word is cut and each reaches the engine."""
    pieces = []
    start = 0
    while len(body) - start > FIELD_BYTES:
        end = start + FIELD_BYTES  # a cut at end keeps FIELD_BYTES bytes
        cut = body.rfind(b"\n", start + FIELD_BYTES // 2, end + 1)
        if cut < 0:
            cut = max(body.rfind(c, start + 1, end + 1) for c in (b" ", b"\t", b"\r", b"\n"))
        if cut < 0:
            pieces.append(body[start:end])  # no white space at all
            start = end
        else:
            pieces.append(body[start:cut])
            start = cut + 1
    pieces.append(body[start:])
    return pieces


def page_body(html, base):
    """The body text a page is indexed with: read with its inline elements
    inside their lines (the title and summary come from the page as it
    is)."""
    return sorn.parse_html(without_inline_tags(html), base)[2] or b""


def document_terms(body, short, terms, full=False):
    """(idoc, whether it filled its term table) of a document's fields: the
    body's, then the short ones (title, URL, checksum). When the body fills
    the table, which holds 81,920 terms, the document is analysed again with
    the short fields first, so that it keeps its title, its URL and the
    checksum by which the next run knows it unchanged, and as much of its
    body as fits. full: that is known already."""
    if not full:
        doc = sorn.idoc()
        try:
            doc.update(body + short, terms, app.LANGUAGE)
            return doc, False
        except sorn.limit:
            pass
    doc = sorn.idoc()
    try:
        doc.update(short + body, terms, app.LANGUAGE)
    except sorn.limit:
        pass
    return doc, True


class Progress:
    """A progress bar on a terminal; nothing otherwise."""

    def __init__(self, total_docs, total_bytes):
        self.docs = total_docs
        self.bytes = total_bytes
        self.tty = sys.stderr.isatty()
        self.start = time.monotonic()
        self.last = 0.0

    def show(self, done_docs, done_bytes, final=False):
        if not self.tty:
            return
        now = time.monotonic()
        if not final and now - self.last < 0.2:
            return
        self.last = now
        elapsed = max(now - self.start, 1e-6)
        rate = done_docs / elapsed
        left = (self.docs - done_docs) / rate if rate > 0 else 0
        width = 30
        filled = width * done_docs // self.docs if self.docs else width
        bar = "#" * filled + "." * (width - filled)
        sys.stderr.write("\r[%s] %d/%d docs  %.1f/%.1f MB  %.1f docs/s  %d:%02d left " % (
            bar, done_docs, self.docs, done_bytes / 1e6, self.bytes / 1e6, rate, left // 60, left % 60))
        if final:
            sys.stderr.write("\n")
        sys.stderr.flush()


def size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def checksum_hex(cs):
    return "%08x%08x" % struct.unpack("<II", cs)


class Span:
    """A saved database of this generation: part K (first = last = K), or a
    run of the parts first..last merged. db is its identifier while open."""
    __slots__ = ("db", "path", "first", "last")

    def __init__(self, db, path, first, last):
        self.db, self.path, self.first, self.last = db, path, first, last

    def parts(self):
        """The number of parts it holds (numbers of parts that were left
        empty and removed count too)."""
        return self.last - self.first + 1


def title_urls(db):
    """The URL of every document of an open database, by docid."""
    n = sorn.numdocs(db)
    out = []
    for first in range(0, n, 400):
        out += [t[2] for t in sorn.titles([(db, d) for d in range(first, min(n, first + 400))])]
    return out


class Indexer:
    def __init__(self, data_dir, capacity, verbose):
        self.data = data_dir
        self.capacity = capacity
        self.verbose = verbose
        self.gen, self.main = app.current_generation(data_dir)
        self.main_dbs = []       # (identifier, path) of the merged database, open for querying
        self.spans = []          # Span: the saved parts and runs, in order
        self.part = None         # (identifier, path, documents) being written
        self.next_part = 0
        self.urls = {}           # url -> [(identifier, docid)]
        self.db_urls = {}        # identifier -> the urls above that name its documents
        self.added = self.changed = self.unchanged = self.skipped = 0
        self.deleted = 0
        self.full = 0            # documents that filled their term table

    # -- start: clean up, take back cut-off parts, open what is searchable --

    @property
    def query_dbs(self):
        """(identifier, path) of every database open for querying."""
        return self.main_dbs + [(s.db, s.path) for s in self.spans]

    def clean(self):
        keep_main = self.main
        live = {path for _, _, path in app.spans(self.data, self.gen)}
        for name in os.listdir(self.data):
            path = os.path.join(self.data, name)
            stale = False
            if name.startswith("main.") and name != keep_main:
                stale = True
            elif name.startswith(("merge.", "new.", "gone.")):
                stale = True
            elif name.startswith("part."):
                p = app.parse_part(name)
                # A part that a run covers was merged into it.
                stale = p is None or p[0] != self.gen or path not in live
            elif name.startswith("run."):
                r = app.parse_run(name)
                stale = r is None or r[0] != self.gen or path not in live
            if stale and os.path.isdir(path):
                shutil.rmtree(path)

    def recover(self):
        """Saves every part that still has its journal: its acknowledged
        documents are replayed from it."""
        for number, cap, path in app.parts(self.data, self.gen):
            self.next_part = max(self.next_part, number + 1)
            if os.path.exists(os.path.join(path, "jnl")):
                db = sorn.open_db(path, "", 1, cap)
                sorn.save_db(db)
                sorn.quit_db(db)
        # Numbers go on after the last part a run holds, even when the run
        # is all that is left of it.
        for _, last, _ in app.runs(self.data, self.gen):
            self.next_part = max(self.next_part, last + 1)

    def load_spans(self):
        """The saved parts and runs of this generation, not yet open."""
        self.spans = [Span(None, path, first, last) for first, last, path in app.spans(self.data, self.gen)
                      if app.saved(path)]

    def open_searchable(self):
        if self.main:
            path = os.path.join(self.data, self.main)
            self.main_dbs.append((sorn.open_db(path, "", 1, 0), path))
        for s in self.spans:
            s.db = sorn.open_db(s.path, "", 1, 0)
        for db, _ in self.query_dbs:
            self.note_urls(db)

    def note_urls(self, db, wanted=None):
        """Enters the documents of db under their URLs (only the URLs in
        wanted, when given)."""
        for docid, url in enumerate(title_urls(db)):
            url = app.from_engine(url) if url else None
            if url and (wanted is None or url in wanted):
                self.urls.setdefault(url, []).append((db, docid))
                self.db_urls.setdefault(db, set()).add(url)

    # -- one document --------------------------------------------------------

    def current_versions(self, url, cs_hex):
        """The searchable documents of url that hold this content, as
        (identifier, docid) pairs; deleted ones are not found."""
        ids = [db for db, _ in self.query_dbs]
        if not ids:
            return []
        text = "checksum:" + cs_hex
        r = sorn.query(1, app.MAX_START, [app.LANGUAGE], text, ids, 0, 0, 0)
        found = [(h[12], h[13]) for h in r[3] if app.from_engine(h[3]) == url]
        if not found and r[0] > len(r[3]):
            # More documents hold this content than a query ranks: all of
            # them, in the databases that hold the URL.
            for db in sorted({db for db, _ in self.urls.get(url, [])}):
                found += [(db, t[-1]) for t in sorn.query_allhits(app.LANGUAGE, text, db)
                          if app.from_engine(t[2]) == url]
        return found

    def live_versions(self, url):
        """The documents of url known to this run that are not deleted, as
        (identifier, docid) pairs, found through the words of their url:
        field."""
        entries = self.urls.get(url, [])
        text = app.engine_words('url:"%s"' % url.replace('"', " ").replace("|", " "))
        live = []
        for db in sorted({db for db, _ in entries}):
            live += [(db, t[-1]) for t in sorn.query_allhits(app.LANGUAGE, text, db)
                     if app.from_engine(t[2]) == url and (db, t[-1]) in entries]
        return live

    def settle_versions(self):
        """Leaves one version of every URL this run did not store or find
        unchanged (its file has gone, or could not be read or indexed): a run
        killed between storing a page's new version and deleting the old one
        leaves two, which only a run that meets the file again would mend.
        The newest that is not deleted stays; a URL none of whose versions
        is found stays as it is."""
        order = {db: k for k, (db, _) in enumerate(self.query_dbs)}
        for url in [u for u, entries in self.urls.items() if len(entries) > 1]:
            live = self.live_versions(url)
            if live:
                self.drop_versions(url, keep=[max(live, key=lambda e: (order.get(e[0], -1), e[1]))])

    def drop_versions(self, url, keep=()):
        """Deletes every searchable document of url but those of keep.
        Deleting a deleted document again changes nothing."""
        for db, docid in self.urls.pop(url, []):
            if (db, docid) not in keep:
                sorn.delete(db, docid)
                self.deleted += 1

    def new_part(self, capacity):
        name = "part.%d.%d.%d" % (self.gen, self.next_part, capacity)
        self.next_part += 1
        path = os.path.join(self.data, name)
        # The directory appears with its journal in place, so that nothing
        # takes it for a saved database.
        tmp = os.path.join(self.data, "new." + name)
        shutil.rmtree(tmp, ignore_errors=True)
        os.mkdir(tmp)
        open(os.path.join(tmp, "jnl"), "wb").close()
        os.rename(tmp, path)
        self.part = [sorn.open_db(path, "", 1, capacity), path, 0]

    def close_part(self):
        if self.part is None:
            return
        db, path, ndocs = self.part
        self.part = None
        if ndocs == 0:
            # Nothing went in: the part goes.
            sorn.quit_db(db)
            self.remove(path)
            return
        sorn.save_db(db)
        sorn.quit_db(db)
        number = app.parse_part(os.path.basename(path))[1]
        self.spans.append(Span(sorn.open_db(path, "", 1, 0), path, number, number))
        self.merge_as_you_go()

    def remove(self, path):
        """Removes a part or run that holds nothing searchable: renamed first
        to a name that only a cleaning finds, so that one whose removal was
        cut short is never opened as a database (a merge whose sources are
        all deleted leaves no run that would cover them)."""
        gone = os.path.join(self.data, "gone." + os.path.basename(path))
        os.rename(path, gone)
        shutil.rmtree(gone)

    # -- merging as the run goes ---------------------------------------------

    def room(self):
        """How many saved parts and runs there may be while a part is
        written: with the merged database and that part (which a killed run
        leaves saved), a search names at most the databases a query may."""
        return app.MAX_QUERY_DBS - (1 if self.main else 0) - 1

    def merge_as_you_go(self):
        while True:
            picked = pick_merge([s.parts() for s in self.spans], self.room())
            if picked is None:
                return
            self.merge_spans(*picked)

    def merge_spans(self, i, j):
        """Merges spans i..j-1 into a run that takes their place. The run is
        written under a temporary name and renamed into place whole; from
        then on it stands for its sources, which go after it."""
        group = self.spans[i:j]
        first, last = group[0].first, group[-1].last
        name = "run.%d.%d.%d" % (self.gen, first, last)
        tmp = os.path.join(self.data, "merge." + name)
        shutil.rmtree(tmp, ignore_errors=True)
        opened = [s.db is not None for s in group]
        ids = [s.db if s.db is not None else sorn.open_db(s.path, "", 1, 0) for s in group]
        empty = False
        try:
            sorn.merge_db(tmp, ids, 0, 0)
        except sorn.error as e:
            if str(e) != "empty merge result":
                raise
            empty = True  # every document of the sources was deleted
        finally:
            for db, was_open in zip(ids, opened):
                if not was_open:
                    sorn.quit_db(db)
        if empty:
            shutil.rmtree(tmp, ignore_errors=True)
            merged = []
        else:
            path = os.path.join(self.data, name)
            os.rename(tmp, path)
            sync_dir(self.data)
            # Open for searching when its sources were.
            db = sorn.open_db(path, "", 1, 0) if any(opened) else None
            merged = [Span(db, path, first, last)]
        self.spans[i:j] = merged
        for s in group:
            if s.db is not None:
                sorn.quit_db(s.db)
            self.remove(s.path)
        if any(opened):
            self.move_urls([s.db for s in group], merged[0].db if merged else None)

    def move_urls(self, sources, merged):
        """The URL entries that named documents of the sources name them in
        the merged database instead, or nowhere when it is None (the
        sources' identifiers are free again and will name other
        databases)."""
        wanted = set()
        for db in sources:
            wanted |= self.db_urls.pop(db, set())
        # A URL whose versions this run has dealt with has no entry left.
        wanted = {url for url in wanted if self.urls.get(url)}
        gone = set(sources)
        for url in wanted:
            self.urls[url] = [e for e in self.urls[url] if e[0] not in gone]
        if wanted and merged is not None:
            self.note_urls(merged, wanted)

    def analyse(self, path, kind, url, data):
        """(title, summary, body) of a document: the title and summary as
        shown, the body as indexed (page_body, engine_words)."""
        text = documents.decode(data, kind)
        if kind == "html":
            text = documents.plain_char_refs(text)
        text = app.to_engine(text)
        name = os.path.basename(path)
        if kind == "html":
            title, summary = sorn.parse_html(text, app.to_engine(url))[:2]
            title, summary = title or b"", summary or b""
            body = page_body(text, app.to_engine(url))
        else:
            body = sorn.parse_plain(text)
            first = next((line.strip() for line in text.splitlines() if line.strip()), b"")
            title = first[:120]
            summary = body[:300]
        title = b" ".join(title.split())
        if not title:
            title = app.to_engine(name)
        return title, summary, app.engine_words(body)

    def store(self, path, kind, url, data, cs):
        if len(app.to_engine(url)) > MAX_URL:
            print("index: %s: its URL is longer than %d bytes, left out" % (path, MAX_URL), file=sys.stderr)
            return False
        title, summary, body = self.analyse(path, kind, url, data)
        host = urllib.parse.urlsplit(url).netloc
        words = app.engine_words(title)
        short = [
            # A title's words weigh more, and are not throttled as words
            # repeated too often in the body are.
            (words, b"", 40, 1, 1, 1, -1),
            (words, b"title:", 1, 1, 1, 1, -1),
            (app.engine_words(url), b"url:", 1, 0, 0, 1, 3),
            (checksum_hex(cs).encode(), b"checksum:", 1, 0, 0, 1, -1),
        ]
        body_parts = [(piece, b"", 1, 1, 1, 1, 3) for piece in body_fields(body)]
        terms = [("site:" + host.lower(), 1)] if host else []
        mtime = int(os.stat(path).st_mtime)
        # $VORLANE_DOWNLOAD_DATE pins the download date (seconds), so that two
        # runs over the same files write the same bytes.
        downloaded = int(os.environ.get("VORLANE_DOWNLOAD_DATE") or time.time())
        args = (title, summary, b"", app.to_engine(url), b"", 0, mtime, downloaded, 0,
                1 if kind == "html" else 2, cs, 0, 0, [])
        # A full database is saved and a new one started. A document too
        # large for an empty database of the usual capacity gets one of
        # its own, of a larger capacity (which sizes its term buffer).
        capacity = self.capacity
        full = False
        while True:
            if self.part is None:
                self.new_part(capacity)
            # Each try needs a fresh document: insert uses its table up.
            doc, full = document_terms(body_parts, short, terms, full)
            try:
                doc.insert(self.part[0], *args)
                self.part[2] += 1
                self.full += full
                return True
            except sorn.error as e:
                if str(e) != "Too many docs":
                    raise
                empty = self.part[2] == 0
                self.close_part()
                if empty:
                    if capacity >= MAX_CAPACITY:
                        break
                    capacity = min(capacity * 4, MAX_CAPACITY)
        print("index: %s: too large to index, left out" % path, file=sys.stderr)
        return False

    def replace(self, path, kind, url, data, cs):
        """Makes the file's content the one searchable version of its URL.
        A changed file's new version is stored (its journal record written)
        before the older ones are deleted, and every run deletes whatever
        other documents its URL still has, so an indexer killed at any point
        leaves, after the next run, exactly one version: never none, never
        two."""
        current = self.current_versions(url, checksum_hex(cs))
        if current:
            self.unchanged += 1
            self.drop_versions(url, keep=current[:1])
        elif self.store(path, kind, url, data, cs):
            if self.verbose:
                print("indexed %s" % url, flush=True)
            if self.urls.get(url):
                self.changed += 1
            else:
                self.added += 1
            self.drop_versions(url)
        else:
            self.skipped += 1

    def run(self, files, base_urls):
        total = sum(size(p) for p, _, _ in files)
        progress = Progress(len(files), total)
        done_bytes = 0
        for i, (path, kind, folder) in enumerate(files):
            try:
                with open(path, "rb") as f:
                    data = f.read()
            except OSError as e:
                print("index: %s: %s, left out" % (path, e.strerror), file=sys.stderr)
                self.skipped += 1
                continue
            done_bytes += len(data)
            url = app.engine_url(documents.file_url(path, folder, base_urls))
            cs = sorn.checksum(data)
            self.replace(path, kind, url, data, cs)
            progress.show(i + 1, done_bytes)
        progress.show(len(files), done_bytes, final=True)
        self.settle_versions()
        self.close_part()
        return total

    # -- end: one merged database -----------------------------------------

    def merge(self):
        sources = self.query_dbs
        has_parts = any(p != os.path.join(self.data, self.main or "") for _, p in sources)
        if not has_parts and not self.deleted:
            return False
        gen = self.gen + 1
        target = os.path.join(self.data, "merge.%d" % gen)
        shutil.rmtree(target, ignore_errors=True)
        empty = False
        try:
            sorn.merge_db(target, [db for db, _ in sources], 0, 0)
        except sorn.error as e:
            if str(e) != "empty merge result":
                raise
            empty = True
        name = "main.%d" % gen
        if empty:
            shutil.rmtree(target, ignore_errors=True)
        else:
            os.rename(target, os.path.join(self.data, name))
        tmp = os.path.join(self.data, "CURRENT.tmp")
        try:
            with open(tmp, "w") as f:
                f.write(name + "\n")
                f.flush()
                os.fsync(f.fileno())
        except OSError as e:
            raise OSError(e.errno, e.strerror, tmp) from None  # say which file (a full disk, say)
        os.rename(tmp, os.path.join(self.data, "CURRENT"))
        for db, _ in sources:
            sorn.quit_db(db)
        self.main_dbs, self.spans = [], []
        self.gen = gen
        self.main = None if empty else name
        self.clean()
        return True


def main(argv):
    ap = argparse.ArgumentParser(prog="index.py", description=__doc__.split("\n\n")[0])
    ap.add_argument("folders", nargs="*", metavar="FOLDER")
    ap.add_argument("--data", default=os.path.join(app.installation(), "data"), metavar="DIR")
    ap.add_argument("--capacity", type=int, default=DEFAULT_CAPACITY, metavar="N",
                    help="documents per database (default %d)" % DEFAULT_CAPACITY)
    ap.add_argument("--base-url", metavar="URL",
                    help="URL of the folder's documents (default: their file: URLs)")
    ap.add_argument("--verbose", action="store_true")
    args = ap.parse_args(argv)
    if not 1 <= args.capacity <= MAX_CAPACITY:
        ap.error("--capacity must be 1..%d" % MAX_CAPACITY)
    folders = args.folders or [documents.DEFAULT_FOLDER]
    files = []
    seen = set()
    real_folders = {}
    for folder in folders:
        if not os.path.isdir(folder):
            ap.error("%s: not a folder" % folder)
        for p, k in documents.walk(folder):
            # A file below two of the folders given is indexed once.
            real = real_path(p, real_folders)
            if real not in seen:
                seen.add(real)
                files.append((p, k, folder))

    os.makedirs(args.data, exist_ok=True)
    lock = open(os.path.join(args.data, "lock"), "a")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        print("index: another indexer is working on %s" % args.data, file=sys.stderr)
        return 1

    started = time.monotonic()
    app.start_engine()
    ix = Indexer(args.data, args.capacity, args.verbose)
    ix.clean()
    ix.recover()
    ix.load_spans()
    # A directory left with more databases than a search may name is cut
    # down before the first search.
    ix.merge_as_you_go()
    ix.open_searchable()
    total = ix.run(files, args.base_url)
    merged = ix.merge()
    for db, _ in ix.query_dbs:
        sorn.quit_db(db)
    elapsed = time.monotonic() - started
    print("index: %d files (%.1f MB) in %.1f s: %d new, %d changed, %d unchanged, %d left out; "
          "%s; %d documents searchable in %s; %d filled the term table (81,920 terms)" % (
              len(files), total / 1e6, elapsed, ix.added, ix.changed, ix.unchanged, ix.skipped,
              "merged" if merged else "nothing to merge", searchable_docs(args.data), args.data,
              ix.full))
    return 0


def real_path(path, real_folders):
    """os.path.realpath(path), the real path of each folder found once (in
    real_folders, by folder): a file that is no symbolic link is its name in
    its folder's real path. That takes one lstat a file, where realpath takes
    one for every part of the path."""
    folder, name = os.path.split(path)
    if os.path.islink(path):
        return os.path.realpath(path)
    real = real_folders.get(folder)
    if real is None:
        real = real_folders[folder] = os.path.realpath(folder)
    return os.path.join(real, name)


def sync_dir(path):
    fd = os.open(path, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def searchable_docs(data_dir):
    n = 0
    for path in app.searchable(data_dir):
        db = sorn.open_db(path, "", 1, 0)
        n += sorn.numdocs(db)
        sorn.quit_db(db)
    return n


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
