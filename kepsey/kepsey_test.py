"""kepsey run as a program over a made-up installation whose lib/sums lists
files with known MD5 sums."""
import os
import subprocess
import unittest

import vorlane_testing as vt

KEPSEY = os.path.join(vt.BUILD, "bin", "kepsey")
UNFROZEN = os.path.join(vt.BUILD, "bin", "kepsey_unfrozen")

# RFC 1321's test suite.
MD5 = {
    b"": "d41d8cd98f00b204e9800998ecf8427e",
    b"abc": "900150983cd24fb0d6963f7d28e17f72",
    b"message digest": "f96b697d7cb7938d525a2f31aaf161d0",
    b"1234567890" * 8: "57edf4a22be3c955ac49da2e2107b67a",
}

HEADER = "Vorlane Server files that have been saved:\n\n"


class KepseyTest(unittest.TestCase):
    def setUp(self):
        self.root = vt.TempRoot().start()
        self.install = os.path.join(self.root.path, "install")
        os.makedirs(os.path.join(self.install, "bin"))
        os.makedirs(os.path.join(self.install, "lib", "web"))
        self.write("lib/web/index.html", b"abc")
        self.write("lib/empty", b"")
        self.write("lib/md", b"message digest")
        self.write("lib/digits.txt", b"1234567890" * 8)

    def tearDown(self):
        self.root.stop()

    def write(self, rel, data):
        with open(os.path.join(self.install, rel), "wb") as f:
            f.write(data)

    def read(self, rel):
        with open(os.path.join(self.install, rel), "rb") as f:
            return f.read()

    def exists(self, rel):
        return os.path.lexists(os.path.join(self.install, rel))

    def sums(self, lines):
        self.write("lib/sums", "".join(line + "\n" for line in lines).encode())

    def run_kepsey(self, program=KEPSEY):
        env = dict(os.environ, VORLANE_ROOT=self.root.path)
        return subprocess.run([program], cwd=os.path.join(self.install, "bin"), env=env,
                              capture_output=True, text=True, timeout=60)

    def messages(self):
        """The boxes shown: (style, caption, text) of each."""
        path = os.path.join(self.root.path, "messages")
        if not os.path.exists(path):
            return []
        with open(path, encoding="latin-1") as f:
            return [tuple(vt.unescape(field) for field in line.rstrip("\n").split("\t")[1:])
                    for line in f]

    def all_sums(self):
        return ["lib/web/index.html:" + MD5[b"abc"], "lib/empty:" + MD5[b""],
                "lib/md:" + MD5[b"message digest"], "lib/digits.txt:" + MD5[b"1234567890" * 8]]

    def test_all_files_match(self):
        lines = self.all_sums()
        self.sums(lines[:2] + [""] + lines[2:])  # empty lines are ignored
        r = self.run_kepsey()
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        self.assertEqual(self.messages(), [])
        self.assertEqual(sorted(os.listdir(os.path.join(self.install, "lib"))),
                         ["digits.txt", "empty", "md", "sums", "web"])

    def test_changed_file_is_saved_and_listed(self):
        self.write("lib/md", b"message digesT")
        self.write("lib/empty", b"\n")
        self.sums(self.all_sums() + ["lib/missing.txt:" + MD5[b"abc"],
                                     "lib/web:" + MD5[b""]])  # a directory cannot be read
        r = self.run_kepsey()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertFalse(self.exists("lib/md"))
        self.assertEqual(self.read("lib/md.old"), b"message digesT")
        self.assertFalse(self.exists("lib/empty"))
        self.assertEqual(self.read("lib/empty.old"), b"\n")
        self.assertEqual(self.read("lib/web/index.html"), b"abc")
        self.assertFalse(self.exists("lib/web.old"))
        self.assertFalse(self.exists("lib/missing.txt.old"))
        text = HEADER + "lib/empty->lib/empty.old\nlib/md->lib/md.old"
        self.assertEqual(self.messages(), [("40040", "Information", text)])
        # A second run finds the moved files missing and shows nothing.
        r = self.run_kepsey()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(len(self.messages()), 1)

    def test_earlier_saved_copy_is_kept(self):
        self.write("lib/md", b"changed again")
        self.write("lib/md.old", b"saved before")
        self.write("lib/digits.txt", b"changed")
        self.sums(self.all_sums())
        r = self.run_kepsey()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.read("lib/md"), b"changed again")
        self.assertEqual(self.read("lib/md.old"), b"saved before")
        self.assertEqual(self.read("lib/digits.txt.old"), b"changed")
        self.assertEqual(self.messages(),
                         [("40040", "Information", HEADER + "lib/digits.txt->lib/digits.txt.old")])

    def test_malformed_line_stops_the_run(self):
        self.write("lib/md", b"x")
        self.write("lib/digits.txt", b"y")
        self.sums(["lib/md:" + MD5[b"message digest"], "C:/lib/empty:" + MD5[b""],
                   "lib/digits.txt:" + MD5[b"1234567890" * 8]])
        r = self.run_kepsey()
        self.assertEqual(r.returncode, 1)
        self.assertIn("ValueError", r.stderr)
        # The lines before it were handled, the ones after it not.
        self.assertEqual(self.read("lib/md.old"), b"x")
        self.assertEqual(self.read("lib/digits.txt"), b"y")
        self.assertEqual(self.messages(), [])

    def test_missing_sum_list(self):
        r = self.run_kepsey()
        self.assertEqual(r.returncode, 1)
        self.assertIn("FileNotFoundError", r.stderr)

    def test_inspect_reads_a_terminal_after_the_script(self):
        # With PYTHONINSPECT set and standard input a terminal, the
        # interactive loop runs after the script; the script's argument vector
        # is the process's own. PYTHONUNBUFFERED leaves standard output
        # without a buffer.
        self.sums(self.all_sums())
        line = b"import sys; print(6 * 7, sys.argv[1:], type(sys.stdout.buffer).__name__)\n\x04"
        for inspect, unbuffered, expected in (("1", "", "42 ['a b', 'c'] BufferedWriter\n"),
                                              ("1", "1", "42 ['a b', 'c'] FileIO\n"),
                                              ("", "", "")):
            env = dict(os.environ, VORLANE_ROOT=self.root.path, PYTHONINSPECT=inspect,
                       PYTHONUNBUFFERED=unbuffered)
            master, slave = os.openpty()
            p = subprocess.Popen([KEPSEY, "a b", "c"], cwd=os.path.join(self.install, "bin"), env=env,
                                 stdin=slave, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            os.close(slave)
            os.write(master, line)
            out, _ = p.communicate(timeout=60)
            os.close(master)
            self.assertEqual((p.returncode, out), (0, expected), (inspect, unbuffered))

    def test_table_without_main_is_fatal(self):
        self.sums(self.all_sums())
        r = self.run_kepsey(UNFROZEN)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("__main__ not frozen", r.stderr)


if __name__ == "__main__":
    unittest.main()
