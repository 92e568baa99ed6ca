"""Writes the files of a few database merges, for comparing two builds.

    vorlane-server -child scripts/merge_files.py OUT DB [DB ...]

copies the databases DB into OUT/src.N, deletes every seventh document of
the first copy and merges the copies into new directories of OUT: "all"
(every copy, with "adj" and recomputed date entries), "reversed" (the copies
in reverse order, without either) and "one" (the first copy alone); then
merges every copy again into "used", a directory that already holds a copy
of the last DB. Run it with two builds into two folders and compare them:

    diff -r OUT1 OUT2

The directories a merge leaves hold the same bytes whichever build wrote
them when the stored formats are unchanged; "used" must equal "all".
"""
import os
import shutil
import sys

import sorn


def main(out, dbs):
    sorn.cache_init(1 << 22, 1000, 0)
    if os.path.exists(out):
        shutil.rmtree(out)
    os.makedirs(out)
    ids = []
    for n, db in enumerate(dbs):
        copy = os.path.join(out, "src.%d" % n)
        shutil.copytree(db, copy)
        ids.append(sorn.open_db(copy, "", 1, 0))
    for docid in range(0, sorn.numdocs(ids[0]), 7):
        sorn.delete(ids[0], docid)
    sorn.merge_db(os.path.join(out, "all"), ids, 1, 1)
    sorn.merge_db(os.path.join(out, "reversed"), ids[::-1], 0, 0)
    sorn.merge_db(os.path.join(out, "one"), ids[:1], 1, 0)
    used = os.path.join(out, "used")
    shutil.copytree(dbs[-1], used)
    sorn.merge_db(used, ids, 1, 1)
    for ident in ids:
        sorn.quit_db(ident)
    for name in sorted(os.listdir(out)):
        files = sorted(os.listdir(os.path.join(out, name)))
        print("%s: %s" % (name, " ".join(files)))


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2:])
