"""sorn's small methods: hashes, dirdepth, priorities and process helpers."""
import random
import string
import unittest

import sorn
from vorlane_testing import run_child


def model_pair(data, skip=b""):
    """Both hash rules over the bytes not in skip, masked to 31 bits, 0 -> 1."""
    h1 = h2 = 0
    for c in data:
        if c in skip:
            continue
        h1 = (h1 * 129 + c + 987654321) % 2**32
        h2 = (h2 * 65599 + c) % 2**32
    h1, h2 = h1 & 0x7FFFFFFF or 1, h2 & 0x7FFFFFFF or 1
    return h1.to_bytes(4, "little") + h2.to_bytes(4, "little")


# White space, punctuation and control characters of the C locale; bytes
# from 0x80 up belong to no class there and count.
C_SKIPPED = bytes(range(32)) + b"\x7f" + string.punctuation.encode() + b" "


class Hashes(unittest.TestCase):
    def test_against_a_model(self):
        rng = random.Random(109)
        samples = [b"", b"a\0b", b"\0", b"\xff\xe9", b"http://example.com/a b, c!"]
        samples += [bytes(rng.randrange(256) for _ in range(rng.randrange(1, 40))) for _ in range(200)]
        for data in samples:
            with self.subTest(data=data):
                self.assertEqual(sorn.hash2(data), model_pair(data))
                self.assertEqual(sorn.checksum(data), model_pair(data, C_SKIPPED))
                text = data.decode("latin-1")
                self.assertEqual(sorn.hash2(text), model_pair(data))
                self.assertEqual(sorn.checksum(text), model_pair(data, C_SKIPPED))
                cut = data.split(b"\0")[0]
                self.assertEqual(sorn.hash1(data), int.from_bytes(model_pair(cut)[:4], "little"))
                self.assertEqual(sorn.hash1(text), sorn.hash1(data))


    def test_hash1(self):
        self.assertEqual(sorn.hash1(""), 1)
        self.assertEqual(sorn.hash1("a"), (97 + 987654321) & 0x7FFFFFFF)
        # up to the first NUL; str and bytes alike, Latin-1
        self.assertEqual(sorn.hash1(b"ab\0cd"), sorn.hash1("ab"))
        self.assertEqual(sorn.hash1("caf\xe9"), sorn.hash1(b"caf\xe9"))
        with self.assertRaises(TypeError):
            sorn.hash1("\u0100")

    def test_hash2(self):
        self.assertEqual(sorn.hash2(""), bytes([1, 0, 0, 0, 1, 0, 0, 0]))
        got = sorn.hash2("a")
        self.assertIs(type(got), bytes)
        h1 = (97 + 987654321) & 0x7FFFFFFF
        h2 = 97
        self.assertEqual(got, h1.to_bytes(4, "little") + h2.to_bytes(4, "little"))
        # the first word of a text without NULs is its hash1
        self.assertEqual(int.from_bytes(sorn.hash2("example.com")[:4], "little"), sorn.hash1("example.com"))
        # every byte counts, NULs included
        self.assertNotEqual(sorn.hash2(b"a\0b"), sorn.hash2(b"a"))
        self.assertNotEqual(sorn.hash2(b"a\0b"), sorn.hash2(b"ab"))

    def test_checksum(self):
        self.assertEqual(sorn.checksum("a, b"), sorn.checksum("ab"))
        self.assertEqual(sorn.checksum(b"a\0b"), sorn.checksum("ab"))
        self.assertNotEqual(sorn.checksum("ab"), sorn.checksum("ba"))
        got = sorn.checksum("ab")
        self.assertEqual(len(got), 8)
        self.assertEqual(got, sorn.hash2("ab"))  # nothing skipped: the pair itself
        self.assertEqual(sorn.checksum(""), bytes([1, 0, 0, 0, 1, 0, 0, 0]))

    def test_dirdepth(self):
        cases = [("http://host/a/b", 2), ("http://h/a?x=/y/z", 1), ("", -2), ("http://host", 0)]
        for url, depth in cases:
            with self.subTest(url=url):
                self.assertEqual(sorn.dirdepth(url), depth)


class Process(unittest.TestCase):
    def test_priorities(self):
        for level, prio in [(20, 2), (0, -2), (10, 0), (4, -2), (5, 0), (14, 0), (15, 2)]:
            with self.subTest(level=level):
                self.assertIsNone(sorn.setprio(level))
                self.assertEqual(sorn.getprio(), prio)
        sorn.setprio(10)

    def test_small_helpers(self):
        self.assertEqual(sorn.gethostid(), 0)
        self.assertIsNone(sorn.sync())
        before = sorn.datasize()
        self.assertGreaterEqual(before, 0)
        block = bytearray(64 << 20)
        block[::4096] = b"x" * len(block[::4096])
        self.assertGreater(sorn.datasize(), before)
        del block
        for method in (sorn.gethostid, sorn.sync, sorn.getprio, sorn.datasize):
            with self.assertRaises(TypeError):
                method(1)

    def test_no_handler_call_while_the_interpreter_ends(self):
        # An object deleted during finalisation logs through a sorn call: the
        # message goes to the default log stream, not to the script.
        code = (
            "import sorn\n"
            "ns = {}\n"
            "exec('def h(level, text):\\n    print(\"handler\", text, flush=True)\\n', ns)\n"
            "sorn.set_log_handler(2, ns['h'])\n"
            "class Late:\n"
            "    def __del__(self, sorn=sorn):\n"
            "        try:\n"
            "            sorn.open_db('/nonexistent-late', '', 1, 0)\n"
            "        except sorn.error:\n"
            "            pass\n"
            "late = Late()\n"
            "try:\n"
            "    sorn.open_db('/nonexistent-early', '', 1, 0)\n"
            "except sorn.error:\n"
            "    pass\n")
        r = run_child(code)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("handler exception No such file or directory at idbm_openInner: "
                      "can't map directory /nonexistent-early/dir", r.stdout)
        self.assertNotIn("nonexistent-late", r.stdout)
        self.assertIn("can't map directory /nonexistent-late/dir", r.stderr)

    def test_set_log_handler_arguments(self):
        with self.assertRaises(TypeError):
            sorn.set_log_handler(0, "not a function")
        with self.assertRaises(TypeError):
            sorn.set_log_handler(0)


if __name__ == "__main__":
    unittest.main()
