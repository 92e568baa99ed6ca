"""What the indexer, the command-line search and the server share: where the
installation and its English set are, the engine's set-up, the layout of a
data directory, and one search over its databases.

A data directory holds:
  CURRENT            the name of the merged database now in use ("main.N"),
                     replaced atomically; absent before the first merge
  main.N/            the merged database of generation N
  part.N.K.CAP/      databases of documents added since main.N (K counts up,
                     CAP is the document capacity it was opened with); one
                     that still holds "jnl" is being written or was cut off
  run.N.LO.HI/       the documents of parts LO..HI of generation N (and of
                     the runs inside that range), merged into one database
                     while the indexer went on; it stands for all of them,
                     so any of them still present is left over from an
                     indexer cut off before it removed them
  lock               held by the one indexer that may run at a time
"""
import os
import urllib.parse

import sorn

LANGUAGE = "english"
VERSION = "1.0"

# Words too common to help a search; the indexer and every query use the
# same list.
STOP_WORDS = [
    "a", "an", "and", "are", "as", "at", "be", "but", "by", "for", "if", "in",
    "into", "is", "it", "no", "not", "of", "on", "or", "such", "that", "the",
    "their", "then", "there", "these", "they", "this", "to", "was", "will",
    "with",
]

# Documents are handed to the engine in cp1252, the code page its tables
# know; what it gives back is turned into text the same way.
CODEPAGE = "cp1252"


def installation():
    """The installation directory: the folder above the program's bin/."""
    exe = os.path.realpath("/proc/self/exe")
    return os.path.dirname(os.path.dirname(exe))


def english_set():
    return os.path.join(installation(), "resources", "english", "english")


def start_engine(memory=64 << 20, max_hits=40000, pool=4):
    """cache_init, the English set and its stop words: once per process."""
    sorn.cache_init(memory, max_hits, pool)
    sorn.lang_init(LANGUAGE, english_set())
    sorn.init_stopword_table(LANGUAGE, STOP_WORDS)


def to_engine(text):
    """A str for the engine: bytes in its code page (characters it cannot
    hold become '?')."""
    if isinstance(text, bytes):
        return text
    return text.encode(CODEPAGE, errors="replace")


# Typographic punctuation of the code page that separates words, in the
# ASCII form the token passes know or as a blank: bytes 0x80-0xFF belong to no
# character class there, so “core” would be one word with its quotes and
# What’s would not be what's. The pilcrow (¶) is the permalink sign that
# generated pages put right after their headings.
_WORD_PUNCTUATION = {
    0x82: b"'", 0x91: b"'", 0x92: b"'",     # ‚ ‘ ’
    0x84: b'"', 0x93: b'"', 0x94: b'"',     # „ “ ”
    0x8B: b" ", 0x9B: b" ",                 # ‹ ›
    0x96: b" ", 0x97: b" ",                 # – — (a "-" would exclude a query's next word)
    0x85: b"...",                           # …
    0x95: b" ", 0xA0: b" ", 0xB6: b" ",     # • no-break space, ¶
}
_WORD_TABLE = bytes.maketrans(
    bytes(c for c, v in _WORD_PUNCTUATION.items() if len(v) == 1),
    b"".join(v for v in _WORD_PUNCTUATION.values() if len(v) == 1))
_WORD_LONGER = [(bytes([c]), v) for c, v in _WORD_PUNCTUATION.items() if len(v) > 1]


def engine_words(text):
    """Text to index or to search for, for the engine: in its code page, with
    the typographic punctuation that separates words as ASCII. Texts shown
    to users (titles, summaries) keep their characters: they go through
    to_engine."""
    data = to_engine(text).translate(_WORD_TABLE)
    for c, v in _WORD_LONGER:
        if c in data:
            data = data.replace(c, v)
    return data


def engine_url(url):
    """url with every character the engine's code page lacks percent-encoded
    (its UTF-8 bytes, or the byte a file name that is no UTF-8 holds there),
    so that the URL a document is stored under reads back the same."""
    try:
        url.encode(CODEPAGE)
        return url
    except UnicodeEncodeError:
        pass
    out = []
    for c in url:
        try:
            c.encode(CODEPAGE)
            out.append(c)
        except UnicodeEncodeError:
            out.append(urllib.parse.quote(c.encode("utf-8", "surrogateescape"), safe=""))
    return "".join(out)


def from_engine(value):
    """Text the engine gave back (a str of bytes) as ordinary text."""
    if isinstance(value, str):
        value = value.encode("latin-1")
    return value.decode(CODEPAGE, errors="replace")


# ---- the data directory ----------------------------------------------------

def current_generation(data_dir):
    """(generation, name of the merged database or None)."""
    try:
        with open(os.path.join(data_dir, "CURRENT")) as f:
            name = f.read().strip()
    except FileNotFoundError:
        return 0, None
    if not name.startswith("main.") or not name[5:].isdigit():
        raise ValueError("%s: CURRENT names no database: %r" % (data_dir, name))
    gen = int(name[5:])
    if not os.path.isdir(os.path.join(data_dir, name)):
        return gen, None  # an empty merge result leaves no database
    return gen, name


def parse_part(name):
    """(generation, number, capacity) of a part's directory name, or None."""
    fields = name.split(".")
    if len(fields) != 4 or fields[0] != "part" or not all(f.isdigit() for f in fields[1:]):
        return None
    return int(fields[1]), int(fields[2]), int(fields[3])


def parts(data_dir, gen):
    """The part directories of generation gen, in order, as (number, capacity,
    path)."""
    return directories(data_dir, parse_part, gen)


def directories(data_dir, parse, gen):
    """The directories whose names parse reads as of generation gen, in
    order, as the fields after the generation followed by the path."""
    out = []
    for name in os.listdir(data_dir):
        p = parse(name)
        if p and p[0] == gen:
            out.append((*p[1:], os.path.join(data_dir, name)))
    return sorted(out)


def parse_run(name):
    """(generation, first part, last part) of a run's directory name, or
    None."""
    fields = name.split(".")
    if len(fields) != 4 or fields[0] != "run" or not all(f.isdigit() for f in fields[1:]):
        return None
    gen, first, last = (int(f) for f in fields[1:])
    return (gen, first, last) if first <= last else None


def runs(data_dir, gen):
    """The run directories of generation gen, in order, as (first, last,
    path)."""
    return directories(data_dir, parse_run, gen)


def spans(data_dir, gen):
    """The parts and runs of generation gen that hold its documents, in
    order, as (first, last, path): a part is (K, K, path). One that a run
    covers is left out."""
    found = [(k, k, path) for k, _, path in parts(data_dir, gen)] + runs(data_dir, gen)
    merged = [(a, b) for a, b, _ in found if a < b]
    return sorted(s for s in found if not any(a <= s[0] and s[1] <= b and (a, b) != s[:2] for a, b in merged))


def searchable(data_dir):
    """Paths of the databases a search covers: the merged one and every part
    or run of its generation that is saved (no journal)."""
    if not os.path.isdir(data_dir):
        return []
    gen, main = current_generation(data_dir)
    paths = [os.path.join(data_dir, main)] if main else []
    return paths + [path for _, _, path in spans(data_dir, gen) if saved(path)]


def saved(path):
    """Whether a part or run is a saved database (a directory, no journal)."""
    return not os.path.exists(os.path.join(path, "jnl")) and os.path.exists(os.path.join(path, "dir"))


def open_for_search(paths):
    """open_db for querying; returns the identifiers."""
    return [sorn.open_db(p, "", 1, 0) for p in paths]


# ---- searching -------------------------------------------------------------

MAX_START = 500   # the engine ranks at most 500 hits of a query
MAX_COUNT = 100
MAX_QUERY_DBS = 48  # the databases one query may name


class Hit:
    __slots__ = ("rank", "score", "title", "url", "summary", "db", "docid", "terms")

    def __init__(self, rank, t):
        self.rank = rank
        self.score = t[0]
        self.title = from_engine(t[1])
        self.summary = from_engine(t[2])
        self.url = from_engine(t[3])
        self.db = t[12]
        self.docid = t[13]
        self.terms = [(from_engine(term), fraction) for term, fraction in t[14]]


class Result:
    def __init__(self, start, r):
        self.total = r[0]
        self.documents = r[1]
        self.terms = [(from_engine(t), n) for t, n in r[2]]
        self.hits = [Hit(start + i, t) for i, t in enumerate(r[3])]


def search(text, dbs, start=1, count=10, details=False):
    """One page of ranked hits of a query over the databases dbs (one named
    more than once is searched once, as a query searches it)."""
    dbs = list(dict.fromkeys(dbs))
    if not dbs:
        return Result(start, (0, 0, [], []))
    if len(dbs) > MAX_QUERY_DBS:
        return Result(start, query_in_groups(engine_words(text), dbs, start, count, details))
    r = sorn.query(start, count, [LANGUAGE], engine_words(text), dbs, 0, 0, 1 if details else 0)
    return Result(start, r)


def query_in_groups(text, dbs, start, count, details):
    """The query's result over more databases than one query may name (as an
    indexer that was stopped short may leave, until the next indexer merges
    them): each group of MAX_QUERY_DBS is asked for its best hits up to the
    page's end, and these are ranked together by score. Each group scores
    its hits against its own databases' statistics, so the ranking is the
    engine's within a group and close to it across groups."""
    end = min(start + count - 1, MAX_START)
    total = documents = 0
    terms = {}
    hits = []
    for i in range(0, len(dbs), MAX_QUERY_DBS):
        r = sorn.query(1, end, [LANGUAGE], text, dbs[i:i + MAX_QUERY_DBS], 0, 0, 1 if details else 0)
        total += r[0]
        documents += r[1]
        for term, n in r[2]:
            terms[term] = terms.get(term, 0) + n
        hits += r[3]
    hits.sort(key=lambda h: -h[0])
    page = hits[start - 1:end]
    return total, documents, list(terms.items())[:40] if page else [], page
