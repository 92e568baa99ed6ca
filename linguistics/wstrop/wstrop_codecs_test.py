"""wstrop's conversions against the interpreter's own codecs and the UTF-7
examples of RFC 2152."""
import random
import unittest

import wstrop
from wstrop import UCS2_DO_UTF16, UTF7_QUOTE_OPTIONALS

BMP = [c for c in range(0x10000) if not 0xD800 <= c <= 0xDFFF]


def chunks(code_points, size=4096):
    for i in range(0, len(code_points), size):
        yield "".join(map(chr, code_points[i:i + size]))


class Rfc2152(unittest.TestCase):
    EXAMPLES = [
        ("A\u2262\u0391.", b"A+ImIDkQ."),
        ("Hi Mom -\u263a-!", b"Hi Mom -+Jjo--!"),
        ("\u65e5\u672c\u8a9e", b"+ZeVnLIqe-"),
    ]

    def test_examples_both_ways(self):
        for text, utf7 in self.EXAMPLES:
            w = wstrop.L(text.encode("utf-8"))
            self.assertEqual(w.utf7(), utf7)
            self.assertEqual(wstrop.from_utf7(utf7), w)
            self.assertEqual(wstrop.from_utf7(utf7).utf8(), text.encode("utf-8"))


class RoundTrips(unittest.TestCase):
    def check(self, text, utf7_flags=0):
        utf8 = text.encode("utf-8")
        utf16 = text.encode("utf-16-be")
        ucs4 = text.encode("utf-32-be")
        w = wstrop.L(utf8)
        self.assertEqual(len(w), len(utf16) // 2)
        self.assertEqual(w.utf8(), utf8)
        self.assertEqual(w.utf16(), utf16)
        self.assertEqual(w.ucs2(), utf16)
        self.assertEqual(w.ucs4(), ucs4)
        self.assertEqual(wstrop.from_utf16(utf16), w)
        self.assertEqual(wstrop.from_ucs4(ucs4), w)
        utf7 = text.encode("utf-7")
        self.assertEqual(w.utf7(), utf7)
        self.assertEqual(wstrop.from_utf7(utf7, utf7_flags), w)
        self.assertEqual(w.utf7(UTF7_QUOTE_OPTIONALS).decode("utf-7"), text)
        return w

    def test_every_bmp_code_point(self):
        for text in chunks(BMP):
            w = self.check(text)
            self.assertEqual(wstrop.from_ucs2(text.encode("utf-16-be")), w)
        # Each code point alone too, so that none hides behind a neighbour.
        for c in BMP:
            utf8 = chr(c).encode("utf-8")
            w = wstrop.L(utf8)
            if w.utf8() != utf8 or wstrop.ord(w) != c or wstrop.chr(c) != w:
                self.fail("U+%04X" % c)

    def test_sample_above_the_bmp(self):
        rng = random.Random(5)
        above = [0x10000, 0x10FFFF, 0x1F600, 0xFFFFF] + [rng.randrange(0x10000, 0x110000) for _ in range(5000)]
        self.check("".join(map(chr, above)), UCS2_DO_UTF16)
        for c in above[:500]:
            w = wstrop.chr(c)
            self.assertEqual(len(w), 2)
            self.assertEqual(w.utf8(), chr(c).encode("utf-8"))
            self.assertEqual(wstrop.ord(w), c)
        mixed = [rng.choice(BMP) if rng.random() < 0.7 else rng.choice(above) for _ in range(5000)]
        self.check("".join(map(chr, mixed)), UCS2_DO_UTF16)

    def test_mixed_ascii_and_runs_in_utf7(self):
        # Direct characters next to base64 runs are where the '-' rules bite.
        rng = random.Random(9)
        alphabet = [chr(c) for c in range(0x80)] + ["\u20ac", "\u2262", "\u00e9", "\U0001F600"]
        for _ in range(2000):
            text = "".join(rng.choice(alphabet) for _ in range(rng.randrange(12)))
            self.check(text, UCS2_DO_UTF16)

    def test_lone_surrogates(self):
        text = "a\udc00b\ud800"
        utf8 = text.encode("utf-8", "surrogatepass")
        w = wstrop.L(utf8)
        self.assertEqual(w.utf8(), utf8)
        self.assertEqual(w.ucs2(), text.encode("utf-16-be", "surrogatepass"))
        self.assertEqual(w.ucs4(), text.encode("utf-32-be", "surrogatepass"))


if __name__ == "__main__":
    unittest.main()
