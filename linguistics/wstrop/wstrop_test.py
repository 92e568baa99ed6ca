"""The wstrop module: the wstring type, its conversions and registries."""
import sys
import unittest

import wstrop
from wstrop import ConvertError, SKIP_INVALID, UCS2_DO_UTF16, UTF7_QUOTE_OPTIONALS


def cells(w):
    """The cells of a wstring as a list of integers."""
    u = w.ucs2()
    return [u[i] << 8 | u[i + 1] for i in range(0, len(u), 2)]


def ws(*values):
    """A wstring holding exactly these cells (lone surrogates included)."""
    return wstrop.from_ucs4(b"".join(v.to_bytes(4, "big") for v in values))


def reference_hash(values):
    x = (values[0] << 7) if values else 0
    for c in values:
        x = ((x * 1000003) & 0xFFFFFFFF) ^ c
    x ^= len(values)
    if x >= 1 << 31:
        x -= 1 << 32
    return -2 if x == -1 else x


class Module(unittest.TestCase):
    def test_attributes(self):
        self.assertTrue(wstrop.__doc__.startswith("Support for wide character strings"))
        self.assertEqual((wstrop.SKIP_INVALID, wstrop.UTF7_QUOTE_OPTIONALS,
                          wstrop.UCS_SWITCH_BYTEORDER, wstrop.UCS2_DO_UTF16), (1, 2, 4, 8))
        self.assertTrue(issubclass(ConvertError, Exception))
        self.assertEqual(ConvertError.__module__, "wstrop")
        self.assertEqual(ConvertError.__name__, "ConvertError")
        for name in ("encodings", "decodings", "encoding_functions", "decoding_functions"):
            self.assertIsInstance(getattr(wstrop, name), dict)
        for alias in ("ISO-IR-100", "ISO_8859-1", "LATIN1", "L1", "IBM819", "CP819"):
            self.assertEqual(wstrop.aliases[alias], "ISO_8859-1:1987")
        self.assertEqual(type(wstrop.L(b"")).__name__, "wstring")

    def test_second_import_shares_the_registries(self):
        first = sys.modules.pop("wstrop")
        try:
            import wstrop as again
            self.assertIsNot(again, first)
            self.assertIs(again.aliases, first.aliases)
            self.assertIs(again.ConvertError, first.ConvertError)
            self.assertEqual(again.L(b"a"), first.L(b"a"))
        finally:
            sys.modules["wstrop"] = first


class Utf8(unittest.TestCase):
    def test_decoding(self):
        self.assertEqual(cells(wstrop.L(b"\xc3\xa9")), [0xE9])
        self.assertEqual(cells(wstrop.from_utf8(b"A\xe2\x82\xac")), [0x41, 0x20AC])
        self.assertEqual(cells(wstrop.L(b"\xf0\x9f\x98\x80")), [0xD83D, 0xDE00])
        self.assertEqual(cells(wstrop.L(b"\xc0\x80")), [0])  # read as it says
        self.assertEqual(cells(wstrop.L(b"\xed\xa0\x80")), [0xD800])
        self.assertEqual(len(wstrop.L(b"")), 0)

    def test_illegal_sequences(self):
        for bad in (b"\x80", b"a\xbf", b"\xc3A", b"\xc3", b"ab\xe2\x82", b"\xf0\x9f\x98",
                    b"\xf4\x90\x80\x80", b"\xf8\x88\x80\x80\x80", b"\xfc\x84\x80\x80\x80\x80",
                    b"\xfe", b"\xff"):
            for function in (wstrop.L, wstrop.from_utf8):
                with self.assertRaises(ConvertError) as cm:
                    function(bad)
                self.assertEqual(str(cm.exception), "Illegal byte sequence", bad)

    def test_encoding(self):
        self.assertEqual(ws(0x20AC).utf8(), b"\xe2\x82\xac")
        self.assertEqual(ws(0x41, 0x7FF, 0x800, 0xFFFF).utf8(),
                         b"A\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf")
        self.assertEqual(ws(0x10FFFF).utf8(), b"\xf4\x8f\xbf\xbf")
        # Lone surrogate cells still convert, three bytes each.
        self.assertEqual(ws(0xDC00, 0xD800).utf8(), b"\xed\xb0\x80\xed\xa0\x80")

    def test_argument_types(self):
        self.assertEqual(wstrop.L("\xc3\xa9"), wstrop.L(b"\xc3\xa9"))  # Latin-1 str
        self.assertEqual(wstrop.L(bytearray(b"\xc3\xa9")), wstrop.L(b"\xc3\xa9"))
        with self.assertRaises(TypeError):
            wstrop.L("\u20ac")
        with self.assertRaises(TypeError):
            wstrop.L(5)
        with self.assertRaises(TypeError):
            wstrop.L()


class Ucs(unittest.TestCase):
    def test_from_ucs2(self):
        self.assertEqual(cells(wstrop.from_ucs2(b"\x00\x41\x20\xac")), [0x41, 0x20AC])
        cases = [
            (b"\x00\x41\xd8\x00", 0, "UTF-16 cells in UCS-2 string"),
            (b"\x00\x41\x00", 0, "odd number of UCS-2 bytes"),
            (b"\xdc\x00", UCS2_DO_UTF16, "unpaired low-half UTF-16 cell"),
            (b"\xd8\x00", UCS2_DO_UTF16, "unpaired high-half UTF-16 cell"),
            (b"\xd8\x00\x00\x41", UCS2_DO_UTF16, "unpaired high-half UTF-16 cell"),
        ]
        for data, flags, message in cases:
            with self.assertRaises(ConvertError) as cm:
                wstrop.from_ucs2(data, flags)
            self.assertEqual(str(cm.exception), message)
        skipped = [
            (b"\x00\x41\xd8\x00", 0, [0x41]),
            (b"\x00\x41\x00", 0, [0x41]),
            (b"\xdc\x00\x00\x41", UCS2_DO_UTF16, [0x41]),
            (b"\xd8\x00\xd8\x3d\xde\x00", UCS2_DO_UTF16, [0xD83D, 0xDE00]),
        ]
        for data, flags, want in skipped:
            self.assertEqual(cells(wstrop.from_ucs2(data, flags | SKIP_INVALID)), want, data)

    def test_utf16_pairs(self):
        w = wstrop.from_ucs2(b"\xd8\x3d\xde\x00", UCS2_DO_UTF16)
        self.assertEqual(cells(w), [0xD83D, 0xDE00])
        self.assertEqual(wstrop.from_utf16(b"\xd8\x3d\xde\x00"), w)
        self.assertEqual(w.utf8(), "\U0001F600".encode("utf-8"))
        self.assertEqual(w.ucs4(), b"\x00\x01\xf6\x00")
        self.assertEqual(w.ucs2(), b"\xd8\x3d\xde\x00")
        self.assertEqual(w.utf16(), b"\xd8\x3d\xde\x00")
        with self.assertRaises(ConvertError):
            wstrop.from_utf16(b"\xde\x00")

    def test_ucs4(self):
        self.assertEqual(cells(wstrop.from_ucs4(b"\0\0\0A\0\x01\xf6\x00")), [0x41, 0xD83D, 0xDE00])
        self.assertEqual(ws(0x41, 0x20AC).ucs4(), b"\0\0\0A\0\0\x20\xac")
        self.assertEqual(ws(0xDC00).ucs4(), b"\0\0\xdc\x00")
        for data, message in ((b"\0\0\0A\0", "Length of UCS-4 string not multiple of 4"),
                              (b"\0\x11\0\0", "character above U+10FFFF"),
                              (b"\xff\xff\0A", "character above U+10FFFF")):
            with self.assertRaises(ConvertError) as cm:
                wstrop.from_ucs4(data)
            self.assertEqual(str(cm.exception), message)
        self.assertEqual(cells(wstrop.from_ucs4(b"\0\x11\0\0\0\0\0A\0\0", SKIP_INVALID)), [0x41])


class Utf7(unittest.TestCase):
    def test_part_examples(self):
        self.assertEqual(cells(wstrop.from_utf7(b"A+ImIDkQ.")), [0x41, 0x2262, 0x0391, 0x2E])
        self.assertEqual(ws(0x2262, 0x2D).utf7(), b"+ImI--")

    def test_errors_and_skipping(self):
        cases = [(b"a+", "Invalid escape in UTF-7", [0x61]),
                 (b"+!", "Invalid escape in UTF-7", [0x21]),
                 (b"+AA-x", "odd number of octets in quoted sequence", [0x78]),
                 (b"+AAAA", "odd number of octets in quoted sequence", [0])]
        for data, message, skipped in cases:
            with self.assertRaises(ConvertError) as cm:
                wstrop.from_utf7(data)
            self.assertEqual(str(cm.exception), message)
            self.assertEqual(cells(wstrop.from_utf7(data, SKIP_INVALID)), skipped, data)
        with self.assertRaises(ConvertError) as cm:
            wstrop.from_utf7(b"+2D3eAA-")  # a surrogate pair needs UCS2_DO_UTF16
        self.assertEqual(str(cm.exception), "UTF-16 cells in UCS-2 string")
        self.assertEqual(cells(wstrop.from_utf7(b"+2D3eAA-", UCS2_DO_UTF16)), [0xD83D, 0xDE00])

    def test_plus_and_optionals(self):
        self.assertEqual(wstrop.L(b"1+1").utf7(), b"1+-1")
        self.assertEqual(wstrop.from_utf7(b"1+-1"), wstrop.L(b"1+1"))
        self.assertEqual(wstrop.L(b"a b!").utf7(), b"a b!")
        self.assertEqual(wstrop.L(b"a b!").utf7(UTF7_QUOTE_OPTIONALS), b"a+ACA-b+ACE-")


class Chr(unittest.TestCase):
    def test_chr_and_ord(self):
        self.assertEqual(cells(wstrop.chr(0xD7FF)), [0xD7FF])
        self.assertEqual(cells(wstrop.chr(0)), [0])
        self.assertEqual(cells(wstrop.chr(0x10000)), [0xD800, 0xDC00])
        self.assertEqual(cells(wstrop.chr(0x10FFFF)), [0xDBFF, 0xDFFF])
        for code in (0, 0x41, 0xFFFF, 0x10000, 0x1F600, 0x10FFFF):
            self.assertEqual(wstrop.ord(wstrop.chr(code)), code)
        self.assertEqual(wstrop.ord(wstrop.L(b"")), 0)
        self.assertEqual(wstrop.ord(ws(0xDC00, 0x41)), 0xDC00)
        for code, error, message in ((0xD800, ConvertError, "zone reserved for UTF-16"),
                                     (0xDFFF, ConvertError, "zone reserved for UTF-16"),
                                     (0x110000, ConvertError, "character above U+10FFFF"),
                                     (-1, ValueError, "negative wide character")):
            with self.assertRaises(error) as cm:
                wstrop.chr(code)
            self.assertEqual(str(cm.exception), message)
        with self.assertRaises(TypeError):
            wstrop.ord(b"a")


class Registries(unittest.TestCase):
    def setUp(self):
        self.saved = [dict(d) for d in self.registries()]

    def tearDown(self):
        for d, saved in zip(self.registries(), self.saved):
            d.clear()
            d.update(saved)

    @staticmethod
    def registries():
        return (wstrop.encodings, wstrop.decodings, wstrop.encoding_functions,
                wstrop.decoding_functions, wstrop.aliases)

    def assertConvertError(self, message, function, *args):
        with self.assertRaises(ConvertError) as cm:
            function(*args)
        self.assertEqual(str(cm.exception), message)

    def test_latin1(self):
        w = wstrop.decode("ISO_8859-1:1987", b"caf\xe9")
        self.assertEqual(cells(w), [0x63, 0x61, 0x66, 0xE9])
        self.assertEqual(wstrop.decode("LATIN1", b"caf\xe9"), w)
        self.assertEqual(wstrop.decode(b"L1", "caf\xe9"), w)
        self.assertEqual(w.encode("CP819"), b"caf\xe9")
        mixed = wstrop.L("a\u20acb\U0001F600c".encode("utf-8"))
        self.assertConvertError("Unconvertible wide character", mixed.encode, "LATIN1")
        self.assertEqual(mixed.encode("LATIN1", SKIP_INVALID), b"abc")  # a pair is one character

    def test_unknown(self):
        self.assertConvertError("Unknown character set", wstrop.decode, "KOI8-R", b"x")
        self.assertConvertError("Unknown character set", wstrop.L(b"x").encode, "latin1")
        wstrop.decodings["KOI8-R"] = [1, 2]  # neither a dictionary nor a function
        wstrop.decoding_functions["KOI8-R"] = "not callable"
        self.assertConvertError("Unknown character set", wstrop.decode, "KOI8-R", b"x")

    def test_tables(self):
        wstrop.decodings["mini"] = {0x61: 0x3B1, 0x62: 0x1F600}
        wstrop.encodings["mini"] = {0x3B1: 0x61, 0x1F600: 0x62}
        wstrop.aliases["MINI"] = "mini"
        w = wstrop.decode("MINI", b"abab")
        self.assertEqual(cells(w), [0x3B1, 0xD83D, 0xDE00] * 2)
        self.assertEqual(w.encode("mini"), b"abab")
        self.assertConvertError("Invalid character in source", wstrop.decode, "mini", b"axb")
        self.assertEqual(cells(wstrop.decode("mini", b"axb", SKIP_INVALID)), [0x3B1, 0x78, 0xD83D, 0xDE00])
        unconvertible = wstrop.L("\u03b1z\u03b1".encode("utf-8"))
        self.assertConvertError("Unconvertible wide character", unconvertible.encode, "mini")
        self.assertEqual(unconvertible.encode("mini", SKIP_INVALID), b"aa")

    def test_bad_table_values(self):
        wstrop.decodings["bad"] = {0x61: "x", 0x62: -1, 0x63: 0x110000, 0x64: 1 << 80}
        wstrop.encodings["bad"] = {0x61: "x", 0x62: 256, 0x63: -1}
        for data, error in ((b"a", TypeError), (b"b", ValueError), (b"c", ConvertError),
                            (b"d", ConvertError)):
            with self.assertRaises(error):
                wstrop.decode("bad", data)
        for text, error in ((b"a", TypeError), (b"b", ValueError), (b"c", ValueError)):
            with self.assertRaises(error):
                wstrop.L(text).encode("bad")

    def test_functions(self):
        calls = []

        def decoder(data, flags):
            calls.append((data, flags))
            return wstrop.L(data.upper())

        def encoder(w, flags):
            calls.append((w, flags))
            return w.utf8().lower()

        wstrop.decoding_functions["upper"] = decoder
        wstrop.encoding_functions["upper"] = encoder
        self.assertEqual(wstrop.decode("upper", "abc", 9), wstrop.L(b"ABC"))
        self.assertEqual(wstrop.L(b"ABC").encode("upper", 3), b"abc")
        self.assertEqual(calls, [(b"abc", 9), (wstrop.L(b"ABC"), 3)])
        self.assertIs(type(calls[0][0]), bytes)

        wstrop.decoding_functions["wrong"] = lambda data, flags: "a str"
        wstrop.encoding_functions["wrong"] = lambda w, flags: "a str"
        with self.assertRaises(TypeError) as cm:
            wstrop.decode("wrong", b"x")
        self.assertEqual(str(cm.exception), "conversion function did not return a wide string")
        with self.assertRaises(TypeError) as cm:
            wstrop.L(b"x").encode("wrong")
        self.assertEqual(str(cm.exception), "conversion function did not return a string")

        def failing(*args):
            raise KeyError("from the script")
        wstrop.decoding_functions["failing"] = failing
        with self.assertRaises(KeyError):
            wstrop.decode("failing", b"x")

    def test_table_replaced_during_lookup(self):
        # A key whose comparison removes the table from the registry: the
        # conversion keeps the table alive until it is done.
        class Sneaky:
            def __hash__(self):
                return 0x61

            def __eq__(self, other):
                wstrop.decodings.pop("sneaky", None)
                wstrop.encodings.pop("sneaky", None)
                return False

        wstrop.decodings["sneaky"] = {Sneaky(): 1, 0x61: 0x3B1}
        self.assertEqual(cells(wstrop.decode("sneaky", b"aa")), [0x3B1, 0x3B1])
        wstrop.encodings["sneaky"] = {Sneaky(): 1, 0x61: 0x62}
        self.assertEqual(wstrop.L(b"aa").encode("sneaky"), b"bb")


class Protocols(unittest.TestCase):
    def test_repetition(self):
        two = ws(0x41, 0x20AC)
        self.assertEqual(cells(two * 3), [0x41, 0x20AC] * 3)
        self.assertEqual(len(3 * two), 6)
        self.assertIs(two * 1, two)
        self.assertEqual(len(two * 0), 0)
        self.assertEqual(len(two * -4), 0)
        self.assertEqual(cells(ws(7) * 5), [7] * 5)
        with self.assertRaises(MemoryError):
            two * sys.maxsize
        with self.assertRaises(MemoryError):
            (ws(1) * 65536) * 32768  # 2**31 cells: past the 32-bit count

    def test_concatenation(self):
        a, b, empty = wstrop.L(b"ab"), wstrop.L(b"\xc3\xa9"), wstrop.L(b"")
        self.assertEqual((a + b).utf8(), b"ab\xc3\xa9")
        self.assertIs(a + empty, a)
        self.assertIs(empty + b, b)
        for other in (b"x", "x", 1, None, [1]):
            with self.assertRaises(TypeError):
                a + other
            with self.assertRaises(TypeError):
                other + a
            with self.assertRaises(TypeError):
                empty + other
        c = a
        c += b
        self.assertEqual(c, a + b)

    def test_items_and_slices(self):
        values = [0x41, 0xD83D, 0xDE00, 0x20AC, 0x7A]
        w = ws(*values)
        self.assertEqual(len(w), 5)
        self.assertEqual([cells(w[i]) for i in range(5)], [[v] for v in values])
        self.assertEqual(cells(w[-1]), [0x7A])
        self.assertEqual([cells(c) for c in w], [[v] for v in values])
        for i in (5, -6, sys.maxsize, -sys.maxsize - 1):
            with self.assertRaises(IndexError) as cm:
                w[i]
            self.assertEqual(str(cm.exception), "wstring index out of range")
        for start in (None, -9, -2, 0, 1, 3, 5, 9):
            for stop in (None, -9, -1, 0, 2, 5, 9):
                self.assertEqual(cells(w[start:stop]), values[start:stop], (start, stop))
                self.assertEqual(cells(w[start:stop:1]), values[start:stop])
        self.assertIs(w[:], w)
        self.assertIs(w[0:99], w)
        self.assertIs(w[-99:], w)
        for step in (2, -1, 0):
            with self.assertRaises(TypeError):
                w[::step]
        with self.assertRaises(TypeError):
            w["a"]
        with self.assertRaises(TypeError):
            w["a":]

    def test_comparison(self):
        order = [ws(), ws(0), ws(0x41), ws(0x41, 0), ws(0x41, 0x42), ws(0x7FFF), ws(0x8000),
                 ws(0xD800), ws(0xFFFF)]
        for i, a in enumerate(order):
            for j, b in enumerate(order):
                self.assertEqual((a < b, a <= b, a == b, a != b, a > b, a >= b),
                                 (i < j, i <= j, i == j, i != j, i > j, i >= j), (i, j))
        self.assertEqual(sorted(reversed(order)), order)
        a = wstrop.L(b"a")
        self.assertFalse(a == b"a")
        self.assertFalse(a == "a")
        self.assertTrue(a != "a")
        with self.assertRaises(TypeError):
            a < b"b"

    def test_hash(self):
        samples = [[], [0x41], [0x41, 0x42], [0xFFFF] * 7, [0xD83D, 0xDE00], list(range(300))]
        for values in samples:
            self.assertEqual(hash(ws(*values)), reference_hash(values), values)
        self.assertEqual(hash(ws(0x41)), -269909568)      # 0xEFE981C0 sign-extended
        self.assertEqual(hash(ws(0x78, 0x67, 0xDD11)), -2)  # 0xFFFFFFFF is given as -2
        d = {wstrop.L(b"x"): 1}
        self.assertEqual(d[wstrop.L(b"x")], 1)

    def test_repr(self):
        self.assertEqual(repr(wstrop.L(b"\xc3\xa9")), "wstring.L(b'\\xc3\\xa9')")
        self.assertEqual(repr(wstrop.L(b"")), "wstring.L(b'')")
        self.assertEqual(repr(wstrop.L(b"it's")), "wstring.L(b\"it's\")")
        self.assertEqual(str(ws(0x20AC)), "wstring.L(b'\\xe2\\x82\\xac')")

    def test_not_constructible(self):
        with self.assertRaises(TypeError):
            type(wstrop.L(b""))()


if __name__ == "__main__":
    unittest.main()
