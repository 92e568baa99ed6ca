"""The sorn methods parse_html, parse_plain, urlquote, urlunquote, htmlquote
and xmlquote."""
import html.entities
import unittest
import urllib.parse
import xml.sax.saxutils

import sorn

BASE = "http://WWW.Example.com/dir/page.html"


class ParseHtml(unittest.TestCase):
    def test_seven_tuple(self):
        page = ("<html><head><title>The Page</title>"
                "<meta name=keywords content=k1>"
                "<meta http-equiv=refresh content=5></head>"
                "<body><h1>Head</h1><p>First para &amp; more."
                "<a href=/x>Go!</a> <img src=i.gif alt=Logo width=10></body>")
        title, summary, body, texts, links, images, headers = sorn.parse_html(page, BASE)
        self.assertEqual(title, "The Page")
        self.assertEqual(summary, "First para & more.\n Go!")
        self.assertEqual(body, "Head\n First para & more.\n Go!")
        self.assertEqual(texts, [("k1", "keywords:"), ("Logo", "alt:")])
        self.assertEqual(links, [("http://www.example.com/x", "Go", None)])
        self.assertEqual(images, [("http://www.example.com/dir/i.gif", "Logo", 10, 0, None)])
        self.assertEqual(headers, [("refresh", "5")])

    def test_result_type_follows_the_text(self):
        result = sorn.parse_html(b"<title>T</title>\xe9t\xe9 <a href=a>x</a>", BASE)
        self.assertEqual(result[0], b"T")
        self.assertEqual(result[2], b"\xe9t\xe9\n x")
        self.assertEqual(result[4], [(b"http://www.example.com/dir/a", b"x", None)])
        result = sorn.parse_html("\xe9t\xe9", b"http://h.org/")
        self.assertEqual(result[2], "\xe9t\xe9")
        self.assertEqual(result[:3], ("", "\xe9t\xe9", "\xe9t\xe9"))

    def test_text_is_read_up_to_its_first_nul(self):
        self.assertEqual(sorn.parse_html("a\0<a href=x>b</a>", BASE)[2:5], ("a", [], []))

    def test_entities_agree_with_html_entities_for_latin1(self):
        names = {name: cp for name, cp in html.entities.name2codepoint.items() if 160 <= cp <= 255}
        self.assertEqual(len(names), 96)
        for name, cp in names.items():
            body = sorn.parse_html("x&%s;y" % name, BASE)[2]
            self.assertEqual(body, "x y" if cp == 160 else "x" + chr(cp) + "y", name)
        # The typographic names give their Windows-1252 byte.
        checked = 0
        for name, cp in html.entities.name2codepoint.items():
            got = sorn.parse_html("&%s;" % name, BASE)[2]
            if cp > 255 and len(got) == 1 and ord(got) >= 128:
                self.assertEqual(got, chr(cp).encode("cp1252").decode("latin-1"), name)
                checked += 1
        self.assertEqual(checked, 20)

    def test_bad_arguments(self):
        with self.assertRaisesRegex(TypeError, "parse_html"):
            sorn.parse_html("x")
        with self.assertRaises(TypeError):
            sorn.parse_html(1, BASE)
        with self.assertRaisesRegex(TypeError, "above U\\+00FF"):
            sorn.parse_html("\u263a", BASE)

    def test_lock_is_released(self):
        import threading
        page = "<p>word <a href=x>l</a> " * 20000
        results = []
        threads = [threading.Thread(target=lambda: results.append(sorn.parse_html(page, BASE)))
                   for _ in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(len(results), 4)
        self.assertTrue(all(r == results[0] for r in results))


def vm_size():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024
    raise AssertionError("no VmSize")


class OutOfMemory(unittest.TestCase):
    """Areas sized from the text (the parser's arena, 6 bytes per byte for
    the entity quoting) that cannot be had raise MemoryError."""

    def test_memory_error(self):
        import resource
        text = b"<p>x" * (25 << 20)  # 100 MB: the arena would take 600 MB
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        resource.setrlimit(resource.RLIMIT_AS, (vm_size() + (300 << 20), hard))
        try:
            with self.assertRaises(MemoryError):
                sorn.parse_html(text, BASE)
            with self.assertRaises(MemoryError):
                sorn.htmlquote(text)
        finally:
            resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        self.assertEqual(sorn.parse_html(b"<p>x", BASE)[2], b"x")


class ParsePlain(unittest.TestCase):
    def test_cases(self):
        for text, expected in [("  a \t\n b  ", "a b"), ("a....b", "a..b"),
                               ("a - - - b", "a - - - b"), ("", ""), ("x\0y", "x")]:
            self.assertEqual(sorn.parse_plain(text), expected, text)
        self.assertEqual(sorn.parse_plain(b"\xa0a\xa0\xa0b"), b"a b")
        with self.assertRaisesRegex(TypeError, "parse_plain"):
            sorn.parse_plain()


class Quoting(unittest.TestCase):
    SAFE = "!$'()*,-./[\\]^_`{|}~"

    def test_cases(self):
        self.assertEqual(sorn.urlquote("a b&c"), "a+b%26c")
        self.assertEqual(sorn.urlquote("a b", 0), "a%20b")
        self.assertEqual(sorn.urlquote("\xe9"), "%E9")
        self.assertEqual(sorn.urlquote(b"\xe9 "), b"%E9+")
        self.assertEqual(sorn.urlunquote("a+b%41"), "a bA")
        self.assertEqual(sorn.urlunquote("a+b", 0), "a+b")
        self.assertEqual(sorn.urlunquote("%zz"), "\0")
        self.assertEqual(sorn.urlunquote("%00x"), "\0x")
        self.assertEqual(sorn.urlunquote(b"abc%"), b"abc%")
        self.assertEqual(sorn.urlunquote("%4"), "%4")
        self.assertEqual(sorn.htmlquote('<a href="x">'), "&lt;a href=&quot;x&quot;&gt;")
        self.assertEqual(sorn.xmlquote("it's"), "it&apos;s")
        self.assertEqual(sorn.xmlquote("\xe9"), "&#233;")
        self.assertEqual(sorn.xmlquote(b"\xe9"), b"&#233;")

    def test_same_object_when_nothing_changes(self):
        for method, text in [(sorn.urlquote, "abc"), (sorn.urlquote, b"abc"),
                             (sorn.htmlquote, "it's"), (sorn.htmlquote, b"it's"),
                             (sorn.xmlquote, "plain text")]:
            self.assertIs(method(text), text)
        text = "a+b/c"
        self.assertIsNot(sorn.urlunquote(text, 0), text)
        self.assertEqual(sorn.urlunquote(text, 0), text)

    def test_urlquote_agrees_with_urllib(self):
        for b in range(1, 256):
            text = bytes([b])
            self.assertEqual(sorn.urlquote(text, 0).decode(),
                             urllib.parse.quote(text, safe=self.SAFE), b)
            self.assertEqual(sorn.urlquote(text, 1).decode(),
                             urllib.parse.quote_plus(text, safe=self.SAFE), b)
            self.assertEqual(sorn.urlunquote(sorn.urlquote(text, 1), 1), text)
        every = bytes(range(1, 256))
        self.assertEqual(sorn.urlquote(every, 0).decode(),
                         urllib.parse.quote(every, safe=self.SAFE))
        self.assertEqual(sorn.urlunquote(sorn.urlquote(every.decode("latin-1"), 0), 0),
                         every.decode("latin-1"))

    def test_xmlquote_agrees_with_saxutils(self):
        every = bytes(range(1, 256)).decode("latin-1")
        expected = xml.sax.saxutils.escape(every, {'"': "&quot;", "'": "&apos;"})
        expected = "".join(c if ord(c) < 127 or len(c) > 1 else "&#%d;" % ord(c)
                           for c in expected)
        self.assertEqual(sorn.xmlquote(every), expected)

    def test_large_texts(self):
        big = '"' * 70000
        self.assertEqual(sorn.htmlquote(big), "&quot;" * 70000)
        self.assertEqual(sorn.xmlquote("'" * 70000), "&apos;" * 70000)
        self.assertEqual(sorn.urlquote(" " * 70000, 0), "%20" * 70000)

    def test_bad_arguments(self):
        with self.assertRaises(TypeError):
            sorn.urlquote("a", "b")
        with self.assertRaisesRegex(TypeError, "urlquote"):
            sorn.urlquote("a", 1, 2)
        with self.assertRaisesRegex(TypeError, "urlunquote"):
            sorn.urlunquote()
        with self.assertRaises(TypeError):
            sorn.htmlquote(3)
        with self.assertRaisesRegex(TypeError, "xmlquote"):
            sorn.xmlquote("a", 1)


if __name__ == "__main__":
    unittest.main()
