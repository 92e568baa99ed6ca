"""The sorn methods conflate_text and ctp_process."""
import os
import shutil
import subprocess
import tempfile
import unittest

import sorn
import vorlane_testing


def setUpModule():
    global _dir
    _dir = tempfile.mkdtemp(prefix="vorlane-conflate-")
    base = os.path.join(_dir, "testlang")
    subprocess.run([os.path.join(vorlane_testing.BUILD, "bin", "make_test_language"), base], check=True)
    sorn.lang_init("english", base)


def tearDownModule():
    shutil.rmtree(_dir, ignore_errors=True)


class ConflateText(unittest.TestCase):
    def test_words_with_their_folded_forms(self):
        self.assertEqual(sorn.conflate_text("Cr\xe8me br\xfbl\xe9e", 0, 1, 0, 0, 1, 1, "english"),
                         "cr\xe8me creme br\xfbl\xe9e brulee ")
        self.assertEqual(sorn.conflate_text(b"Cr\xe8me", 0, 1, 0, 0, 1, 1, b"english"), b"cr\xe8me creme ")
        self.assertEqual(sorn.conflate_text("\xc9COLE", 0, 1, 0, 0, 1, 1, "english"),
                         "\xc9cole Ecole ecole \xe9cole ")
        self.assertEqual(sorn.conflate_text("Cr\xe8me", 0, 1, 0, 0, 0, 0, "english"), "cr\xe8me ")
        self.assertEqual(sorn.conflate_text("", 0, 1, 0, 0, 1, 1, "english"), "")

    def test_phrases_and_words(self):
        # No phrase in the text: the words are written instead.
        self.assertEqual(sorn.conflate_text("dogs", 1, 0, 0, 0, 1, 1, "english"), "dogs ")
        phrases = sorn.conflate_text("quick brown dogs", 1, 0, 0, 0, 1, 1, "english")
        words = sorn.conflate_text("quick brown dogs", 0, 1, 0, 0, 1, 1, "english")
        self.assertEqual(phrases, "quickbrown browndogs ")  # phrases are written as identifiers
        self.assertEqual(sorn.conflate_text("quick brown dogs", 1, 1, 0, 0, 1, 1, "english"), phrases + words)

    def test_text_is_analysed_up_to_its_first_nul(self):
        self.assertEqual(sorn.conflate_text("one\0two", 0, 1, 0, 0, 1, 1, "english"), "one ")

    def test_long_text(self):
        text = "w\xe9rd " * 30000  # longer than the part that is analysed
        out = sorn.conflate_text(text, 0, 1, 0, 0, 1, 1, "english")
        self.assertTrue(out.startswith("w\xe9rd werd w\xe9rd werd "))
        # 81,919 bytes hold 16,383 words and blanks and a last whole word.
        self.assertEqual(len(out.split()), 2 * 16384)

    def test_errors(self):
        with self.assertRaisesRegex(sorn.error, "invalid language"):
            sorn.conflate_text("x", 0, 1, 0, 0, 1, 1, "klingon")
        with self.assertRaises(TypeError):
            sorn.conflate_text("\u0100", 0, 1, 0, 0, 1, 1, "english")
        with self.assertRaisesRegex(TypeError, "conflate_text"):
            sorn.conflate_text("x", 0, 1, 0, 0, 1, "english")


class CtpProcess(unittest.TestCase):
    c = [b"\x88\xa0", b"\x88\x41", b"\x93\xfa", b"\x96\x7b"]

    def test_examples(self):
        c = self.c
        self.assertEqual(sorn.ctp_process(b"ab" + c[0] + b"cd"), b"ab " + c[0] + b" cd ")
        self.assertEqual(sorn.ctp_process(b"".join(c)),
                         b" ".join(c) + b" " + c[0] + c[1] + c[2] + b" ; ")
        self.assertEqual(sorn.ctp_process(b"".join(c).decode("latin-1")),
                         (b" ".join(c) + b" " + c[0] + c[1] + c[2] + b" ; ").decode("latin-1"))
        self.assertEqual(sorn.ctp_process(""), "")

    def test_output_is_cut_at_102400_bytes(self):
        out = sorn.ctp_process(self.c[0] * 60000)
        self.assertLessEqual(len(out), 102400)
        self.assertTrue(out.startswith(self.c[0] + b" " + self.c[0] + b" "))

    def test_errors(self):
        with self.assertRaisesRegex(TypeError, "ctp_process"):
            sorn.ctp_process()
        with self.assertRaises(TypeError):
            sorn.ctp_process(3)


if __name__ == "__main__":
    unittest.main()
