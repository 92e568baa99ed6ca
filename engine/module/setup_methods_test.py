"""The set-up methods of sorn: cache_init, lang_init, qual_init,
init_stopword_table and is_stop_word."""
import os
import shutil
import subprocess
import tempfile
import unittest

import vorlane_testing


def make_test_language(directory):
    """Writes the tests' small resource set; returns its path."""
    base = os.path.join(directory, "testlang")
    subprocess.run([os.path.join(vorlane_testing.BUILD, "bin", "make_test_language"), base], check=True)
    return base


def child_lines(code):
    """Runs code in a fresh vorlane-server -child and returns its output
    lines; a failing child fails the test."""
    r = vorlane_testing.run_child("import sorn\n" + code)
    if r.returncode != 0:
        raise AssertionError("child failed (%d): %s" % (r.returncode, r.stderr))
    return r.stdout.split()


class CacheInit(unittest.TestCase):
    # cache_init may succeed once per process, so every case runs in a
    # process of its own.
    def test_totals(self):
        cases = [
            ((0, 0, 0), 416152),
            ((104857600, 40000, 10), 104363808),
            ((0, 999, -1), 416152),  # below 1,000 counts as 1,000; -1 is a large pool limit
        ]
        for args, total in cases:
            with self.subTest(args=args):
                self.assertEqual(child_lines("print(sorn.cache_init(*%r))" % (args,)), [str(total)])

    def test_second_call_is_refused(self):
        out = child_lines(
            "print(sorn.cache_init(0, 0, 0))\n"
            "try:\n"
            "    sorn.cache_init(104857600, 40000, 10)\n"
            "except sorn.error as e:\n"
            "    print('refused')\n")
        self.assertEqual(out, ["416152", "refused"])

    def test_posting_limits_above_131071_are_refused(self):
        out = child_lines(
            "for m in (131072, 327680, -1):\n"
            "    try:\n"
            "        sorn.cache_init(0, m, 0)\n"
            "    except sorn.error as e:\n"
            "        print('131071' in str(e))\n"
            "print(sorn.cache_init(0, 0, 0))\n")
        self.assertEqual(out, ["True", "True", "True", "416152"])

    def test_wrong_argument_types(self):
        out = child_lines(
            "for args in [(0, 0), (0, 0, 0, 0), ('0', 0, 0), (0, 1.5, 0)]:\n"
            "    try:\n"
            "        sorn.cache_init(*args)\n"
            "    except TypeError as e:\n"
            "        print('cache_init' in str(e) or 'integer' in str(e))\n"
            "print(sorn.cache_init(0, 0, 0))\n")
        self.assertEqual(out, ["True"] * 4 + ["416152"])


class Languages(unittest.TestCase):
    def test_unknown_language(self):
        import sorn
        for call in (lambda: sorn.is_stop_word("the", "klingon"),
                     lambda: sorn.init_stopword_table("klingon", ["the"])):
            with self.assertRaises(sorn.error) as cm:
                call()
            self.assertEqual(str(cm.exception), "invalid language")

    def test_missing_resource_set(self):
        import sorn
        with self.assertRaises(sorn.error) as cm:
            sorn.lang_init("nowhere", "/nonexistent/dir/nowhere")
        self.assertEqual(str(cm.exception), "Can't open stemmer")
        # The table is unchanged: the name is still unknown.
        with self.assertRaises(sorn.error):
            sorn.is_stop_word("the", "nowhere")

    def test_argument_errors_name_the_method(self):
        import sorn
        for name in ("cache_init", "lang_init", "qual_init", "init_stopword_table", "is_stop_word"):
            with self.subTest(name=name):
                with self.assertRaises(TypeError) as cm:
                    getattr(sorn, name)()
                self.assertTrue(str(cm.exception).startswith(name + "()"), str(cm.exception))

    def test_argument_types(self):
        import sorn
        with self.assertRaises(TypeError):
            sorn.lang_init("english")
        with self.assertRaises(TypeError):
            sorn.init_stopword_table("english", ("the",))
        with self.assertRaises(TypeError):
            sorn.is_stop_word(3, "english")
        with self.assertRaises(ValueError):
            sorn.lang_init("eng\0lish", "/x/english")


class LanguagesWithAResourceSet(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="vorlane-lang-")
        cls.base = make_test_language(cls.dir)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def test_languages_and_stop_words(self):
        out = child_lines(
            "base = %r\n"
            "print(sorn.lang_init('english', base))\n"
            "print(sorn.lang_init('english', '/no/such/set'))\n"  # known name: the path is not looked at
            "print(sorn.lang_init(b'same', base))\n"               # same set: same stemmer
            "print(sorn.is_stop_word('the', 'english'))\n"
            "sorn.init_stopword_table('english', ['the', b'of', 'caf\\xe9'])\n"
            "for w, lang in [('the', 'english'), ('The', 'english'), ('of', 'english'), ('caf\\xe9', 'english'),\n"
            "                (b'caf\\xe9', 'english'), ('', 'english'), ('the', 'same'), ('then', 'english')]:\n"
            "    print(sorn.is_stop_word(w, lang))\n"
            "try:\n"
            "    sorn.init_stopword_table('english', ['a', 3])\n"
            "except TypeError:\n"
            "    print('TypeError')\n"
            % self.base)
        self.assertEqual(out, ["0", "0", "1", "0", "1", "0", "1", "1", "1", "0", "1", "0", "TypeError"])

    def test_thirty_third_language_is_refused(self):
        out = child_lines(
            "base = %r\n"
            "print([sorn.lang_init('l%%d' %% i, base) for i in range(32)] == list(range(32)))\n"
            "try:\n"
            "    sorn.lang_init('l32', base)\n"
            "except sorn.error as e:\n"
            "    print('refused')\n"
            "print(sorn.lang_init('l31', '/elsewhere'))\n"
            % self.base)
        self.assertEqual(out, ["True", "refused", "31"])


ENGLISH = os.path.join(vorlane_testing.BUILD, "resources", "english", "english")


@unittest.skipUnless(os.path.exists(ENGLISH + ".hmm"), "no default English resource set")
class EnglishResourceSet(unittest.TestCase):
    def test_lang_init_and_stop_words(self):
        out = child_lines(
            "path = %r\n"
            "print(sorn.lang_init('english', path))\n"
            "print(sorn.lang_init('english', path))\n"
            "sorn.init_stopword_table('english', ['the', 'of', 'and'])\n"
            "print(sorn.is_stop_word('of', 'english'), sorn.is_stop_word('Of', 'english'))\n"
            % ENGLISH)
        self.assertEqual(out, ["0", "0", "1", "0"])


class QualInit(unittest.TestCase):
    def test_wrong_counts_and_types(self):
        import sorn
        for offsets in ([0] * 7, [0] * 9, []):
            with self.assertRaises(sorn.error) as cm:
                sorn.qual_init(offsets)
            self.assertEqual(str(cm.exception), "wrong number of quality offsets")
        with self.assertRaises(TypeError):
            sorn.qual_init([0, 1, 2, 3, "4", 5, 6, 7])
        with self.assertRaises(TypeError):
            sorn.qual_init((0, 1, 2, 3, 4, 5, 6, 7))
        with self.assertRaises(OverflowError):
            sorn.qual_init([0, 1, 2, 3, 4, 5, 6, 2 ** 40])
        self.assertIsNone(sorn.qual_init([10, 20, 30, 40, 50, 60, 70, -80]))


if __name__ == "__main__":
    unittest.main()
