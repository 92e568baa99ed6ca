#!/usr/bin/python3
"""Byte for byte: the files two builds write for the same documents.

    /usr/bin/python3 bench/index_bytes_compare.py BUILD_A BUILD_B [FOLDER]

Indexes FOLDER (default: the HTML pages of python3.11-doc) with
examples/index.py of this source tree under each build's vorlane-server,
with the download date pinned ($VORLANE_DOWNLOAD_DATE) and TZ=UTC, and
compares every file: each part database as it stands just before its save
(its journal, title, deletion and date files), each part as saved, and the
data directory at the end (the merged database). Prints the files and bytes
compared and the CPU time of each run, and every file that differs; the exit
code is 1 when any does.
"""
import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
EXAMPLES = os.path.join(SOURCE, "examples")
DEFAULT_FOLDER = "/usr/share/doc/python3.11/html"
DOWNLOAD_DATE = "1700000000"


def drive(snapshots, index_args):
    """Run inside vorlane-server: index.py's own main, with every part
    copied aside just before and just after its save."""
    sys.path.insert(0, EXAMPLES)
    import index  # noqa: E402

    close_part = index.Indexer.close_part

    def close_and_copy(self):
        if self.part is not None:
            path = self.part[1]
            name = os.path.basename(path)
            shutil.copytree(path, os.path.join(snapshots, name, "before-save"))
            close_part(self)
            shutil.copytree(path, os.path.join(snapshots, name, "saved"))
        else:
            close_part(self)

    index.Indexer.close_part = close_and_copy
    return index.main(index_args)


def run(build, folder, out):
    server = os.path.join(build, "bin", "vorlane-server")
    if not os.access(server, os.X_OK):
        sys.exit("%s: no vorlane-server" % build)
    data, snapshots = os.path.join(out, "data"), os.path.join(out, "parts")
    os.makedirs(snapshots)
    env = dict(os.environ, VORLANE_DOWNLOAD_DATE=DOWNLOAD_DATE, TZ="UTC")
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    r = subprocess.run([server, "-child", os.path.abspath(__file__), "--drive", snapshots, "--data", data, folder],
                       env=env, capture_output=True, text=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if r.returncode != 0:
        sys.exit("%s: index.py failed (%d):\n%s%s" % (build, r.returncode, r.stdout, r.stderr[-3000:]))
    last = r.stdout.strip().splitlines()[-1] if r.stdout.strip() else ""
    print("%s: user %.2f s, system %.2f s, load %.2f\n  %s" % (
        build, after.ru_utime - before.ru_utime, after.ru_stime - before.ru_stime, os.getloadavg()[0], last))


def files_under(top):
    out = set()
    for root, _, names in os.walk(top):
        for n in names:
            out.add(os.path.relpath(os.path.join(root, n), top))
    return out


def first_difference(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        x, y = fa.read(), fb.read()
    if x == y:
        return None
    n = min(len(x), len(y))
    at = next((i for i in range(n) if x[i] != y[i]), n)
    return "sizes %d and %d, first difference at byte %d" % (len(x), len(y), at)


def compare(a, b):
    names_a, names_b = files_under(a), files_under(b)
    differ = []
    for name in sorted(names_a ^ names_b):
        differ.append("%s: only in %s" % (name, a if name in names_a else b))
    size = 0
    common = sorted(names_a & names_b)
    for name in common:
        why = first_difference(os.path.join(a, name), os.path.join(b, name))
        size += os.path.getsize(os.path.join(a, name))
        if why:
            differ.append("%s: %s" % (name, why))
    journals = sum(1 for n in common if os.path.basename(n) == "jnl")
    print("compared %d files (%d journals, %d part databases), %.1f MB" % (
        len(common), journals, sum(1 for n in common if n.endswith(os.path.join("saved", "dir"))), size / 1e6))
    return differ


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--drive":
        return drive(sys.argv[2], sys.argv[3:])
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("build_a")
    ap.add_argument("build_b")
    ap.add_argument("folder", nargs="?", default=DEFAULT_FOLDER)
    args = ap.parse_args()
    if not os.path.isdir(args.folder):
        sys.exit("%s: not a folder" % args.folder)
    work = tempfile.mkdtemp(prefix="vorlane-bytes-")
    try:
        a, b = os.path.join(work, "a"), os.path.join(work, "b")
        run(os.path.abspath(args.build_a), args.folder, a)
        run(os.path.abspath(args.build_b), args.folder, b)
        differ = compare(a, b)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for line in differ:
        print("  differs: " + line)
    print("identical" if not differ else "%d files differ" % len(differ))
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
