"""sorn.query_allhits on a database of real pages (Debian's Python
documentation, tokenised and stemmed by the default English set and indexed
through the store by the allhits_corpus tool), checked against a brute-force
scan of the same documents' terms."""
import os
import random
import shutil
import subprocess
import tempfile
import unittest

import sorn

BUILD = os.environ.get("VORLANE_BUILD", "")
ENGLISH = os.path.join(BUILD, "resources", "english", "english")
TOOL = os.path.join(BUILD, "bin", "allhits_corpus")
PAGES = 120
STOP_WORDS = ["a", "an", "and", "are", "as", "at", "be", "by", "for", "from", "in", "is", "it", "of",
              "on", "or", "that", "the", "this", "to", "was", "were", "with"]


def setUpModule():
    global WORK, DOCS, WORDS, PHRASES, DB
    if not (os.path.exists(ENGLISH + ".hmm") and os.path.exists(TOOL)):
        raise unittest.SkipTest("no English set or corpus tool")
    WORK = tempfile.mkdtemp(prefix="allhits-")
    run = subprocess.run([TOOL, WORK, ENGLISH, str(PAGES)], capture_output=True, text=True)
    if run.returncode == 3:
        raise unittest.SkipTest("no HTML documentation installed")
    if run.returncode != 0:
        raise RuntimeError("allhits_corpus failed: %s" % run.stderr)
    DOCS = {}
    with open(os.path.join(WORK, "docs.txt"), encoding="latin-1") as f:
        for line in f:
            docid, deleted, url, terms = line.rstrip("\n").split("\t")
            DOCS[int(docid)] = (deleted == "1", url, set(terms.split()))
    with open(os.path.join(WORK, "words.txt"), encoding="latin-1") as f:
        WORDS = dict(line.rstrip("\n").split("\t") for line in f)
    with open(os.path.join(WORK, "phrases.txt"), encoding="latin-1") as f:
        PHRASES = dict(line.rstrip("\n").split("\t") for line in f)
    sorn.cache_init(1 << 24, 40000, 0)
    sorn.lang_init("english", ENGLISH)
    sorn.init_stopword_table("english", STOP_WORDS)
    DB = sorn.open_db(os.path.join(WORK, "db"), "", 1, 0)


def tearDownModule():
    if "DB" in globals():
        sorn.quit_db(DB)
    if "WORK" in globals():
        shutil.rmtree(WORK, ignore_errors=True)


def having(term):
    return {d for d, (deleted, _, terms) in DOCS.items() if not deleted and term in terms}


def live():
    return {d for d, (deleted, _, _) in DOCS.items() if not deleted}


class AllHits(unittest.TestCase):
    def allhits(self, query):
        got = sorn.query_allhits("english", query, DB)
        ids = [t[10] for t in got]
        self.assertEqual(ids, sorted(set(ids)), query)
        for t in got:
            self.assertEqual(len(t), 11)
            self.assertEqual(t[2], DOCS[t[10]][1])  # the title record's url
        return set(ids)

    def pick_words(self, n, seed):
        # Words of middling frequency, so that every operator has work to do.
        rng = random.Random(seed)
        pool = sorted(w for w in WORDS if 3 <= len(having(WORDS[w])) <= len(live()) - 3)
        self.assertGreater(len(pool), 20)
        return [rng.choice(pool) for _ in range(n)]

    def test_boolean_queries_match_a_brute_force_scan(self):
        for seed in range(12):
            a, b, c = self.pick_words(3, seed)
            ta, tb, tc = WORDS[a], WORDS[b], WORDS[c]
            cases = {
                "+%s +%s" % (a, b): having(ta) & having(tb),
                "%s AND %s" % (a, b): having(ta) & having(tb),
                "%s OR %s" % (a, b): having(ta) | having(tb),
                "%s -%s" % (a, b): having(ta) - having(tb),
                "+%s +%s -%s" % (a, b, c): (having(ta) & having(tb)) - having(tc),
                "%s NOT %s" % (a, b): having(ta) - having(tb),
                "+%s | %s" % (a, b): having(ta),  # only the part before the first '|'
            }
            # Two plain words also infer their phrase, which adds nothing
            # that the words do not already have.
            cases["%s %s" % (a, b)] = having(ta) | having(tb)
            for query, expected in cases.items():
                with self.subTest(query=query):
                    self.assertEqual(self.allhits(query), expected)

    def test_phrase_and_field_queries(self):
        self.assertTrue(PHRASES)
        for pair, term in sorted(PHRASES.items())[:25]:
            with self.subTest(phrase=pair):
                self.assertEqual(self.allhits('"%s"' % pair), having(term))
        for k in range(3):
            site = "site:host%d.example" % k
            self.assertEqual(self.allhits(site), having(site))
            a = self.pick_words(1, 100 + k)[0]
            self.assertEqual(self.allhits("%s %s" % (site, a)), having(site) | having(WORDS[a]))
            self.assertEqual(self.allhits("+%s +%s" % (site, a)), having(site) & having(WORDS[a]))

    def test_phrase_queries_match_the_ranked_query(self):
        # Phrases of two, three and four words (chains of two-word phrases
        # the pages hold), marked +, - or not, beside marked words; the
        # ranked query names every match here (fewer than 500), so its
        # documents are the all-hits answer.
        rng = random.Random(40)
        pairs = sorted(PHRASES)
        following = {}
        for pair in pairs:
            first, second = pair.split()
            following.setdefault(first, []).append(second)
        chains = {3: [], 4: []}
        for pair in pairs:
            words = pair.split()
            while len(words) < 4 and following.get(words[-1]):
                words.append(sorted(following[words[-1]])[0])
                if len(words) in chains:
                    chains[len(words)].append(" ".join(words))
        self.assertGreater(len(chains[3]), 20)
        self.assertGreater(len(chains[4]), 5)
        words = self.pick_words(200, 41)

        def item():
            kind = rng.random()
            if kind < 0.35:
                text = '"%s"' % rng.choice(chains[3])
            elif kind < 0.5:
                text = '"%s"' % rng.choice(chains[4])
            elif kind < 0.6:
                text = '"%s"' % rng.choice(pairs)
            else:
                text = rng.choice(words)
            return rng.choice(["", "", "+", "+", "-"]) + text

        matched = 0
        for n in range(600):
            items = [item() for _ in range(rng.randint(1, 4))]
            if n % 7 == 0 and len(items) > 1:
                items[1] = rng.choice(["AND ", "OR "]) + items[1].lstrip("+-")
            text = " ".join(items)
            ranked = sorn.query(1, 500, ["english"], text, [DB], 0, 0, 0)
            self.assertLess(ranked[0], 500, text)
            expected = {h[13] for h in ranked[3]}
            with self.subTest(query=text):
                self.assertEqual(self.allhits(text), expected)
            matched += bool(expected)
        self.assertGreater(matched, 150)

    def test_deleted_documents_never_appear(self):
        deleted = {d for d, (gone, _, _) in DOCS.items() if gone}
        self.assertTrue(deleted)
        everything = set()
        for k in range(3):
            everything |= self.allhits("site:host%d.example" % k)
        self.assertEqual(everything, live())
        self.assertFalse(everything & deleted)

    def test_errors_and_empty_results(self):
        for text in ("", "   ", "\n", " | a"):
            with self.assertRaisesRegex(sorn.error, "failed: query_each2"):
                sorn.query_allhits("english", text, DB)
        self.assertEqual(sorn.query_allhits("english", "zzqqnothingatall", DB), [])
        self.assertEqual(sorn.query_allhits("english", ",,,", DB), [])
        with self.assertRaisesRegex(sorn.error, "invalid language"):
            sorn.query_allhits("klingon", "a", DB)
        with self.assertRaisesRegex(sorn.error, "Database not open: 99"):
            sorn.query_allhits("english", "a", 99)
        with self.assertRaisesRegex(sorn.error, "Invalid database identifier: 0"):
            sorn.query_allhits("english", "a", 0)
        with self.assertRaises(TypeError):
            sorn.query_allhits("english", "caf\u20ac", DB)
        word = self.pick_words(1, 7)[0]
        self.assertEqual(self.allhits(word.encode("latin-1")), having(WORDS[word]))
        self.assertEqual(self.allhits(word + "\n"), having(WORDS[word]))


if __name__ == "__main__":
    unittest.main()
