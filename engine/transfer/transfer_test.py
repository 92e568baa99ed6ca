"""Index-file transfer over sockets and the byte-order functions of sorn."""
import os
import shutil
import socket
import struct
import tempfile
import threading
import time
import unittest

import sorn

END = 0xFFFFFF80


def le_words(*words):
    return struct.pack("<%dI" % len(words), *words)


class Peer:
    """The test's end of a socket pair, reading everything in a thread."""

    def __init__(self):
        self.mine, self.theirs = socket.socketpair()
        self.data = b""
        self.thread = threading.Thread(target=self._read)
        self.thread.start()

    def _read(self):
        chunks = []
        while True:
            b = self.mine.recv(65536)
            if not b:
                break
            chunks.append(b)
        self.data = b"".join(chunks)

    def send_file(self, path, *kind):
        try:
            return sorn.copy_from_file(self.theirs.fileno(), path, *kind)
        finally:
            self.theirs.close()
            self.thread.join()
            self.mine.close()


def decode_terms(data):
    """Reads a term file's network stream back: (h1, h2, docf, norm, postings)."""
    out, at = [], 0
    while at < len(data):
        w0, w1 = struct.unpack_from(">ii", data, at)
        if w0 > 0:
            w2, w3 = struct.unpack_from(">II", data, at + 8)
            count, free = w3 & 0x1FFFF, w3 >> 17
            assert free == 0
            postings = list(struct.unpack_from(">%dI" % count, data, at + 16))
            assert struct.unpack_from(">I", data, at + 16 + 4 * count)[0] == END
            out.append((w0, w1, w2 >> 7, w2 & 127, postings))
            at += 4 * (count + 5)
        else:
            two = w1 < 0
            n = 2 if two else 1
            postings = list(struct.unpack_from(">%dI" % n, data, at + 8))
            out.append((w0 & 0x7FFFFFFF, w1 & 0x7FFFFFFF, n, 0, postings))
            at += 16 if two else 12
    return out


class Transfer(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vorlane-transfer-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_plain_and_word_kinds(self):
        data = os.urandom(150000 - 150000 % 8)
        path = self.write("any", data)
        for kind in ((), (0,), (3,), (5,)):
            peer = Peer()
            self.assertEqual(peer.send_file(path, *kind), len(data))
            self.assertEqual(peer.data, data)
        n = len(data) // 4
        peer = Peer()
        self.assertEqual(peer.send_file(path, 4), len(data))
        self.assertEqual(struct.unpack(">%dI" % n, peer.data), struct.unpack("<%dI" % n, data))
        peer = Peer()
        self.assertEqual(peer.send_file(path, 8), len(data))
        self.assertEqual(struct.unpack(">%dQ" % (n // 2), peer.data), struct.unpack("<%dQ" % (n // 2), data))

    def test_directory(self):
        path = self.write("dir", le_words(1, 2, 9, 40000, 0x10, 0x20, 0, 20 << 8, 0x30, 0x40, 8180, 24 << 8 | 1))
        peer = Peer()
        self.assertEqual(peer.send_file(path, 1), 48)
        header = struct.unpack_from(">4I", peer.data, 0)
        self.assertEqual(header, (1, 2, 9, 40000))
        entries = [struct.unpack_from(">4I", peer.data, at) for at in (16, 32)]
        # the packed word arrives as part << 24 | size
        self.assertEqual(entries, [(0x10, 0x20, 0, 20), (0x30, 0x40, 8180, 1 << 24 | 24)])

    def test_term_file(self):
        records, expected = [], []
        for i in range(1, 200):
            count = i % 7 + 1
            postings = [(d * 3 + 1) << 7 | (d % 127 + 1) for d in range(count)]
            if count <= 2 and i % 2:
                h1, h2 = i | 0x80000000, (1000 + i) | (0x80000000 if count == 2 else 0)
                records.append(le_words(h1, h2, *postings))
                expected.append((i, 1000 + i, count, 0, postings))
            else:
                docf, norm = count + i % 4, i % 128
                records.append(le_words(i, 1000 + i, docf | norm << 25, count << 15, *postings, END))
                expected.append((i, 1000 + i, docf, norm, postings))
        data = b"".join(records)
        path = self.write("tf0", data)
        peer = Peer()
        self.assertEqual(peer.send_file(path, 2), len(data))
        self.assertEqual(decode_terms(peer.data), expected)

    def test_term_file_errors(self):
        good = le_words(5, 6, 1, 1 << 15, 3 << 7 | 1, END)
        cases = [
            (le_words(5, 6, 1, 0, END), "size==0: %s"),
            (le_words(5, 6, 1, 2 << 15, 1 << 7, 2 << 7, END), "docf(1)<size(2): %s"),
            (le_words(5, 6, 2, 2 << 15, 1 << 7, 2 << 7, 0), "missing ENDTERMLIST: %s"),
        ]
        for bad, text in cases:
            path = self.write("tf1", good + bad)
            peer = Peer()
            with self.assertRaises(sorn.error) as raised:
                peer.send_file(path, 2)
            self.assertEqual(str(raised.exception), text % path)
            # the record before the fault was sent and stays sent
            self.assertEqual(decode_terms(peer.data), [(5, 6, 1, 0, [3 << 7 | 1])])

    def test_open_failure_and_cut_unit(self):
        missing = os.path.join(self.dir, "missing")
        peer = Peer()
        with self.assertRaises(sorn.error) as raised:
            peer.send_file(missing)
        self.assertEqual(str(raised.exception), "open %s: No such file or directory" % missing)
        path = self.write("odd", b"\1\2\3\4\5\6")
        peer = Peer()
        with self.assertRaises(sorn.error) as raised:
            peer.send_file(path, 4)
        self.assertIn("file ends inside a 4-byte unit", str(raised.exception))
        self.assertEqual(peer.data, b"\4\3\2\1")

    def test_socket_with_a_timeout_is_served(self):
        # A script socket with a time-out is non-blocking underneath.
        data = os.urandom(4 << 20)
        path = self.write("big", data)
        a, b = socket.socketpair()
        b.settimeout(10)
        got = []

        def slow_reader():
            time.sleep(0.2)
            chunks = []
            while True:
                c = a.recv(65536)
                if not c:
                    break
                chunks.append(c)
            got.append(b"".join(chunks))

        t = threading.Thread(target=slow_reader)
        t.start()
        try:
            self.assertEqual(sorn.copy_from_file(b.fileno(), path), len(data))
        finally:
            b.close()
            t.join()
            a.close()
        self.assertEqual(got[0], data)

    def test_receive(self):
        path = self.write("out", b"x" * 100000)  # longer than what arrives
        a, b = socket.socketpair()
        payload = os.urandom(200000)

        def sender():
            a.sendall(payload)
            a.close()

        t = threading.Thread(target=sender)
        t.start()
        try:
            self.assertEqual(sorn.copy_to_file(b.fileno(), path, b"HEAD", 5), 200004)
        finally:
            t.join()
            b.close()
        with open(path, "rb") as f:
            self.assertEqual(f.read(), b"HEAD" + payload)

        # Round trip of a term file through both ends.
        src = self.write("tf0", le_words(5, 6, 1, 1 << 15, 3 << 7 | 1, END))
        a, b = socket.socketpair()
        t = threading.Thread(target=lambda: (sorn.copy_from_file(a.fileno(), src, 2), a.close()))
        t.start()
        dst = os.path.join(self.dir, "tf0.net")
        self.assertEqual(sorn.copy_to_file(b.fileno(), dst, "", 5), 24)
        t.join()
        b.close()
        with open(dst, "rb") as f:
            self.assertEqual(decode_terms(f.read()), [(5, 6, 1, 0, [3 << 7 | 1])])

    def test_receive_timeout(self):
        path = os.path.join(self.dir, "slow")
        a, b = socket.socketpair()
        start = time.monotonic()
        with self.assertRaises(sorn.error) as raised:
            sorn.copy_to_file(b.fileno(), path, "first", 1)
        elapsed = time.monotonic() - start
        a.close()
        b.close()
        self.assertEqual(str(raised.exception), "timeout")
        self.assertGreaterEqual(elapsed, 0.9)
        self.assertLess(elapsed, 3)
        with open(path, "rb") as f:
            self.assertEqual(f.read(), b"first")
        with self.assertRaises(sorn.error):
            sorn.copy_to_file(b.fileno(), path, "", -1)
        with self.assertRaises(sorn.error) as raised:
            sorn.copy_to_file(0, os.path.join(self.dir, "no", "such"), "", 1)
        self.assertTrue(str(raised.exception).startswith("open "))

    def test_byte_order_and_memory(self):
        self.assertEqual(sorn.convert_to_net_format(1), 16777216)
        self.assertEqual(sorn.convert_to_host_format(16777216), 1)
        self.assertEqual(sorn.convert_to_net_format(0x80), -0x80000000)
        self.assertEqual(sorn.convert_to_host_format(-1), -1)
        with self.assertRaises(OverflowError):
            sorn.convert_to_net_format(0x80000000)
        size, avail = sorn.physsize(), sorn.physavail()
        self.assertGreater(size, 1 << 24)
        self.assertTrue(0 < avail <= size)
        with self.assertRaises(TypeError):
            sorn.physsize(1)


if __name__ == "__main__":
    unittest.main()
