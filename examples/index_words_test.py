"""Every word of a page reaches the index: long bodies as several fields,
phrases across inline markup, typographic punctuation on both the index and
the query side, and a page that fills its term table. Real pages of
python3.11-doc and a few small made-up ones, indexed by examples/index.py
and searched with examples/search.py as a user runs them."""
import html.parser
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import vorlane_testing

DOCS = "/usr/share/doc/python3.11/html"
EXAMPLES = os.path.join(vorlane_testing.SOURCE, "examples")
SERVER = vorlane_testing.SERVER
sys.path.insert(0, EXAMPLES)
import sorn  # noqa: E402
import index  # noqa: E402
import vorlane_app as app  # noqa: E402

# Real pages: stdtypes.html has "TypeVar" only past byte 158,000 of its body.
PAGES = ["library/stdtypes.html", "library/bisect.html", "library/graphlib.html", "library/string.html",
         "tutorial/classes.html", "tutorial/controlflow.html"]

# Made-up words, so that only these two documents hold them.
CURLY_PAGE = """<html><head><meta charset="utf-8"><title>The “curly” page</title></head><body>
<p>On “zarquon semantics” and the ‘quibbly’ parts… Zorp’s new — and what glibn’t:
a\u00a0wumpus • glorbish–snarfle—plinthy…</p></body></html>
"""
CURLY_TEXT = "Plain “quuxly” text about O’Grimley’s books\n"


def full_page():
    """A page with more distinct words than its term table holds."""
    rng = random.Random(7)
    letters = "bcdfghjklmnpqrstvwxz"
    words = {"".join(rng.choice(letters) for _ in range(9)) for _ in range(60000)}
    return ("<html><head><title>Overflowing wordlist</title></head><body><p>%s</p></body></html>"
            % " ".join(sorted(words)))


def index_run(data, folder):
    r = subprocess.run([SERVER, "-child", os.path.join(EXAMPLES, "index.py"), "--data", data, folder],
                       capture_output=True, text=True, timeout=300)
    if r.returncode != 0:
        raise AssertionError("index.py failed (%d): %s%s" % (r.returncode, r.stdout, r.stderr))
    return r.stdout


HIT = re.compile(r"^\s*(\d+)\. \[\s*(\d+)\] (.*)$")


def search(*query, count=100):
    """[(title, url)] of the hits of one search."""
    r = subprocess.run([SERVER, "-child", os.path.join(EXAMPLES, "search.py"), "--data", Fixture.data,
                        "--count", str(count), "--", *query], capture_output=True, text=True, timeout=60)
    if r.returncode != 0:
        raise AssertionError("search.py failed (%d): %s" % (r.returncode, r.stderr))
    lines = r.stdout.splitlines()
    return [(m.group(3), lines[i + 1].strip()) for i, line in enumerate(lines) for m in [HIT.match(line)] if m]


# Searches many queries in one process: a JSON list of query texts on stdin,
# the URLs of each one's hits (at most 100) on stdout.
MANY = r"""
import json, sys
sys.path.insert(0, %(examples)r)
import vorlane_app as app
app.start_engine()
dbs = app.open_for_search(app.searchable(sys.argv[1]))
print(json.dumps([[h.url for h in app.search(q, dbs, 1, 100).hits] for q in json.load(sys.stdin)]))
"""


def search_many(queries):
    with tempfile.NamedTemporaryFile("w", suffix=".py", delete=False) as f:
        f.write(MANY % {"examples": EXAMPLES})
    try:
        r = subprocess.run([SERVER, "-child", f.name, Fixture.data], input=json.dumps(queries),
                           capture_output=True, text=True, timeout=120)
    finally:
        os.unlink(f.name)
    if r.returncode != 0:
        raise AssertionError(r.stderr)
    return json.loads(r.stdout)


# ---- phrases that cross inline markup -----------------------------------

# Elements inside a line of text (HTML's phrasing content); every other
# element ends a line.
INLINE = {"a", "abbr", "b", "bdi", "bdo", "big", "cite", "code", "data", "dfn", "em", "font", "i", "kbd",
          "mark", "q", "s", "samp", "small", "span", "strong", "sub", "sup", "time", "tt", "u", "var"}


class Lines(html.parser.HTMLParser):
    """The lines of a page's body as the page shows them: each a list of
    text pieces and markers (None) where inline markup starts or ends."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.lines, self.line, self.skip = [], [], 0

    def end_line(self):
        if self.line:
            self.lines.append(self.line)
        self.line = []

    def boundary(self, tag):
        if tag in INLINE:
            self.line.append(None)
        else:
            self.end_line()

    def handle_starttag(self, tag, attrs):
        if tag in ("script", "style", "title"):
            self.skip += 1
        self.boundary(tag)

    def handle_endtag(self, tag):
        if tag in ("script", "style", "title"):
            self.skip = max(0, self.skip - 1)
        self.boundary(tag)

    def handle_data(self, data):
        if not self.skip:
            self.line.append(data)


WORD = re.compile(r"[a-z]{2,20}")


def crossing_phrases(page):
    """{phrase: crosses} of the three-word phrases of lower-case words, with
    only white space between them, on the page's lines: crosses is whether
    every occurrence has inline markup between its first and last word."""
    p = Lines()
    with open(page, encoding="utf-8") as f:
        p.feed(f.read())
    p.close()
    p.end_line()
    found = {}
    for line in p.lines:
        text, marks = "", set()
        for piece in line:
            if piece is None:
                marks.add(len(text))
            else:
                text += piece
        # Runs of words separated by white space only, each ended by white
        # space, sentence punctuation or the line's edge.
        for run in re.finditer(r"(?<![^\s,;:()])[a-z]+(?:\s+[a-z]+)+(?=$|[\s,;:()]|\.(?:\s|$))", text):
            words = [(m.start() + run.start(), m.end() + run.start()) for m in re.finditer(r"\S+", run.group())]
            for i in range(len(words) - 2):
                ws = [text[a:b] for a, b in words[i:i + 3]]
                if not all(WORD.fullmatch(w) and w not in app.STOP_WORDS for w in ws):
                    continue
                inside = [m for m in marks if words[i][0] < m < words[i + 2][1]]
                in_word = any(a < m < b for m in inside for a, b in words[i:i + 3])
                if in_word:
                    continue
                phrase = " ".join(ws)
                found[phrase] = found.get(phrase, True) and bool(inside)
    return found


def phrase_sample(pages, n, seed=41):
    """n phrases that cross inline markup wherever they occur on the pages,
    as (phrase, page), spread over the pages."""
    per_page = [crossing_phrases(os.path.join(DOCS, p)) for p in pages]
    everywhere = {}
    for phrases in per_page:
        for phrase, crosses in phrases.items():
            everywhere[phrase] = everywhere.get(phrase, True) and crosses
    pools = [sorted(ph for ph, crosses in phrases.items() if crosses and everywhere[ph]) for phrases in per_page]
    rng = random.Random(seed)
    for pool in pools:
        rng.shuffle(pool)
    out = []
    while len(out) < n and any(pools):
        for page, pool in zip(pages, pools):
            if pool and len(out) < n:
                out.append((pool.pop(), page))
    return out


class Fixture:
    tmp = docs = data = None
    first_run = ""


def url_of(name):
    return "file://" + os.path.join(Fixture.docs, name)


def setUpModule():
    Fixture.tmp = tempfile.mkdtemp(prefix="vorlane-words-")
    Fixture.docs = os.path.join(Fixture.tmp, "docs")
    for name in PAGES:
        os.makedirs(os.path.dirname(os.path.join(Fixture.docs, name)), exist_ok=True)
        shutil.copyfile(os.path.join(DOCS, name), os.path.join(Fixture.docs, name))
    with open(os.path.join(Fixture.docs, "curly.html"), "w", encoding="utf-8") as f:
        f.write(CURLY_PAGE)
    with open(os.path.join(Fixture.docs, "curly.txt"), "w", encoding="utf-8") as f:
        f.write(CURLY_TEXT)
    with open(os.path.join(Fixture.docs, "full.html"), "w") as f:
        f.write(full_page())
    Fixture.data = os.path.join(Fixture.tmp, "data")
    Fixture.first_run = index_run(Fixture.data, Fixture.docs)


def tearDownModule():
    shutil.rmtree(Fixture.tmp, ignore_errors=True)


class LongBodies(unittest.TestCase):
    def test_body_fields_cut_at_white_space_within_the_limit(self):
        limit = index.FIELD_BYTES
        cases = [
            ("short", b"a few words", 1),
            ("exactly the limit", b"x" * (limit - 1) + b" ", 1),
            ("a blank right at the limit", b"x" * limit + b" y", 2),
            ("one word over", b"word " * (limit // 5 + 1) + b"tail", 2),
            ("lines", b"a line of text\n " * 20000, 4),
            ("tabs and lines", b"ab cd\tef\n gh " * 30000, 5),
            ("no white space", b"y" * (2 * limit + 7), 3),
        ]
        for name, body, n in cases:
            with self.subTest(name=name):
                pieces = index.body_fields(body)
                self.assertEqual(len(pieces), n)
                self.assertTrue(all(len(p) <= limit for p in pieces))
                if b" " in body:
                    # Every word survives whole, in order.
                    self.assertEqual(b" ".join(pieces).split(), body.split())
                else:
                    self.assertEqual(b"".join(pieces), body)

    def test_a_word_past_the_field_limit_finds_its_page(self):
        with open(os.path.join(DOCS, "library/stdtypes.html"), "rb") as f:
            page = app.to_engine(f.read().decode("utf-8"))
        body = sorn.parse_html(page, b"file:///x")[2]
        self.assertGreater(body.find(b"TypeVar"), index.FIELD_BYTES)
        last = body.split()[-40:]
        words = [w.decode() for w in last if re.fullmatch(rb"[a-z]{5,}", w)][:3]
        for word in ["TypeVar"] + words:
            with self.subTest(word=word):
                self.assertIn(url_of("library/stdtypes.html"), [u for _, u in search(word)])

    def test_a_page_that_fills_its_term_table_is_counted_and_keeps_its_title_and_checksum(self):
        self.assertIn("; 1 filled the term table", Fixture.first_run)
        self.assertEqual([u for _, u in search("title:overflowing")], [url_of("full.html")])
        # The checksum is indexed: the next run finds every page unchanged.
        again = index_run(Fixture.data, Fixture.docs)
        n = len(PAGES) + 3
        self.assertIn("0 new, 0 changed, %d unchanged, 0 left out; nothing to merge" % n, again)


class InlineMarkup(unittest.TestCase):
    def test_phrases_across_inline_markup_are_found_on_their_page(self):
        sample = phrase_sample(PAGES, 100)
        self.assertEqual(len(sample), 100)
        hits = search_many(['"%s"' % phrase for phrase, _ in sample])
        missed = [(phrase, page) for (phrase, page), urls in zip(sample, hits) if url_of(page) not in urls]
        self.assertEqual(missed, [])

    def test_inline_tags_leave_their_text_and_block_tags(self):
        page = (b'<p>The <code class="x"><span class="pre">graphlib</span></code> module<br>next '
                b'<A HREF="y">line</a></p><address>kept</address><abbr>ab</abbr><area alt=z>')
        self.assertEqual(index.without_inline_tags(page),
                         b'<p>The graphlib module<br>next line</p><address>kept</address>ab<area alt=z>')


class Punctuation(unittest.TestCase):
    def test_typographic_punctuation_is_found_by_plain_forms_and_as_typed(self):
        curly, text = url_of("curly.html"), url_of("curly.txt")
        cases = [
            ("zarquon", curly), ('"zarquon semantics"', curly), ("quibbly", curly), ("parts", curly),
            ("zorp's", curly), ("glibn't", curly), ("wumpus", curly), ("glorbish", curly),
            ("snarfle", curly), ("plinthy", curly),
            ("“zarquon”", curly), ("“zarquon semantics”", curly), ("Zorp’s", curly), ("‘quibbly’", curly),
            ("quuxly", text), ("“quuxly”", text), ("o'grimley's", text), ("O’Grimley’s", text),
        ]
        for query, url in cases:
            with self.subTest(query=query):
                found = [u for _, u in search(query)]
                if query == "parts":
                    self.assertIn(url, found)  # a common word: glued to … before
                else:
                    self.assertEqual(found, [url])

    def test_shown_titles_keep_their_characters(self):
        self.assertEqual(search("title:curly"), [("The “curly” page", url_of("curly.html"))])


if __name__ == "__main__":
    unittest.main()
