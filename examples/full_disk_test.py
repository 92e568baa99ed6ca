"""The indexer on a disk that fills up: examples/index.py run over a small
corpus into a data directory on a tmpfs of 200 KB to 1 MB (in a private mount
namespace, where the test may mount one), and under file size limits (always).
No run ends by a signal; each stops with a sorn.error that names the file it
could not write; and the next run, with room, leaves every page searchable
exactly once, the acknowledged ones included."""
import json
import os
import random
import re
import resource
import shutil
import subprocess
import tempfile
import unittest

import vorlane_testing
from vorlane_index import LIST_URLS, all_urls

DOCS = "/usr/share/doc/python3.11/html"
INDEX = os.path.join(vorlane_testing.SOURCE, "examples", "index.py")
SERVER = vorlane_testing.SERVER
CAPACITY = "50"  # several databases, each saved, then merged

# The last line of a run that met a full disk: the error names a file of the
# data directory, or, for the merge's own files, the file within the merged
# database ("ti0 fwrite: ...").
FULL = re.compile(r"^sorn\.error: .*?(?P<file>/\S+|\b(?:ti\d+|del|din|adj) \w+): (?P<reason>[^:]+)$")


def make_corpus(target):
    """200 short notes in two folders and 12 pages of python3.11-doc from
    four of its folders; returns every page's URL as the indexer gives it."""
    rng = random.Random(7)
    syllables = ["ka", "lo", "mi", "ne", "ru", "ta", "vo", "si", "pe", "du", "ga", "ho"]
    vocabulary = ["".join(rng.choice(syllables) for _ in range(rng.randint(2, 4))) for _ in range(3000)]
    paths = []
    for i in range(200):
        folder = os.path.join(target, ("notes", "more")[i % 2])
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "n%03d.txt" % i)
        with open(path, "w") as f:
            f.write(" ".join(rng.choice(vocabulary) for _ in range(rng.randint(5, 40))) + "\n")
        paths.append(path)
    for section in ("tutorial", "library", "howto", "faq"):
        os.makedirs(os.path.join(target, section))
        for name in sorted(n for n in os.listdir(os.path.join(DOCS, section)) if n.endswith(".html"))[:3]:
            paths.append(os.path.join(target, section, name))
            shutil.copyfile(os.path.join(DOCS, section, name), paths[-1])
    return sorted("file://" + p for p in paths)


def index_args(data, corpus, verbose=False):
    folders = sorted(os.path.join(corpus, n) for n in os.listdir(corpus))
    return [SERVER, "-child", INDEX, "--data", data, "--capacity", CAPACITY] + (["--verbose"] if verbose else []) + \
        folders


# In a private mount namespace: a tmpfs of the size given as the data
# directory's file system; the indexer's run on it, the same file system
# given room, the next run and the list of what is searchable. Each step's
# output goes to files of the folder given.
TMPFS_RUN = r"""
size=$1 mnt=$2 out=$3; shift 3
mount -t tmpfs -o size=$size tmpfs "$mnt" || exit 99
"$@" --verbose > "$out/first.out" 2> "$out/first.err"; echo $? > "$out/first.rc"
mount -t tmpfs -o remount,size=64m tmpfs "$mnt" || exit 98
"$@" > "$out/second.out" 2>&1; echo $? > "$out/second.rc"
"$SERVER" -child "$LIST" "$mnt/data" > "$out/urls.json" 2> "$out/urls.err"
"""


def read(path):
    with open(path) as f:
        return f.read()


class FullDisk(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vorlane-full-disk-")
        cls.corpus = os.path.join(cls.tmp, "corpus")
        cls.urls = make_corpus(cls.corpus)
        cls.list_script = os.path.join(cls.tmp, "list_urls.py")
        with open(cls.list_script, "w") as f:
            f.write(LIST_URLS)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def check_run(self, rc, out, err, reason, urls_after, second_rc, second_out):
        """The first run stopped on a full disk and said which file; the
        second one left every page searchable once."""
        self.assertEqual(rc, 1, "not ended by an error (a signal?): %d\n%s" % (rc, err[-2000:]))
        last = err.strip().splitlines()[-1]
        m = FULL.match(last)
        self.assertTrue(m, last)
        self.assertEqual(m.group("reason"), reason, last)
        acknowledged = [line[len("indexed "):] for line in out.splitlines() if line.startswith("indexed ")]
        self.assertEqual(second_rc, 0, second_out[-2000:])
        self.assertEqual(sorted(urls_after), self.urls)
        self.assertLessEqual(set(acknowledged), set(self.urls))
        return m.group("file")

    def test_small_file_systems(self):
        mnt = os.path.join(self.tmp, "mnt")
        os.mkdir(mnt)
        try:
            probe = subprocess.run(["unshare", "-m", "sh", "-c", 'mount -t tmpfs -o size=64k tmpfs "$0"', mnt],
                                   capture_output=True, timeout=60)
            refused = (probe.stderr.decode().strip() or "exit %d" % probe.returncode) if probe.returncode else ""
        except OSError as e:
            refused = str(e)
        if refused:
            self.skipTest("no tmpfs mount in a private mount namespace here: %s" % refused)
        env = dict(os.environ, SERVER=SERVER, LIST=self.list_script)
        files = set()
        for kb in range(200, 1401, 40):
            with self.subTest(size="%d KB" % kb):
                out = os.path.join(self.tmp, "run.%d" % kb)
                os.mkdir(out)
                r = subprocess.run(["unshare", "-m", "sh", "-c", TMPFS_RUN, "sh", "%dk" % kb, mnt, out,
                                    *index_args(os.path.join(mnt, "data"), self.corpus)],
                                   env=env, capture_output=True, timeout=600)
                self.assertEqual(r.returncode, 0, r.stderr)
                files.add(self.check_run(int(read(out + "/first.rc")), read(out + "/first.out"),
                                         read(out + "/first.err"), "No space left on device",
                                         json.loads(read(out + "/urls.json") or "[]"),
                                         int(read(out + "/second.rc")), read(out + "/second.out")))
        # The sizes reach the journal, the title file, a save's term file and
        # the merge.
        kinds = {re.sub(r"^.*/", "", f).split(" ")[0] for f in files}
        for kind in ("jnl", "ti0", ".tf0.new"):
            self.assertIn(kind, kinds)
        self.assertTrue(any("/merge." in f for f in files), files)

    def test_file_size_limits(self):
        # Below the size of a title file of the capacity (the open), then the
        # journal, a save's term file and the merge's.
        soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
        files = []
        for kb in (16, 80, 200, 280):
            with self.subTest(limit="%d KB" % kb):
                data = os.path.join(self.tmp, "limit.%d" % kb)
                limit = kb * 1024

                def cap_files():
                    resource.setrlimit(resource.RLIMIT_FSIZE, (limit, hard))

                first = subprocess.run(index_args(data, self.corpus, verbose=True), preexec_fn=cap_files,
                                       capture_output=True, text=True, timeout=600)
                second = subprocess.run(index_args(data, self.corpus), capture_output=True, text=True,
                                        timeout=600)
                files.append(self.check_run(first.returncode, first.stdout, first.stderr, "File too large",
                                            all_urls(data), second.returncode, second.stdout + second.stderr))
        self.assertEqual([re.sub(r"^.*/", "", f) for f in files], ["ti0", "jnl", ".tf0.new", ".tf0.new"])
        self.assertIn("/merge.", files[-1])


if __name__ == "__main__":
    unittest.main()
