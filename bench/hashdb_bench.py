"""Hash database files at the script level, as a user pays it, beside
Python's dbm.gnu, LMDB (python3-lmdb) and sqlite3 on the same workload in the
same run. Run it with
    build/bin/vorlane-server -child bench/hashdb_bench.py [N] [CACHESIZE] [ROUNDS]

N small pairs (default 1,000,000; keys "k" and 9 digits, values 20 bytes)
are stored in one random order, the store is closed and reopened read-only,
every key is read in another random order, and every pair is walked once.
For each store the rates (operations per second), the file's size and its
allocated size are printed, and for bsddb its ratio to each peer. CACHESIZE
(bytes, default 0: the module's default) is bsddb's cachesize. The stores
take turns for ROUNDS rounds (default 3), and each rate printed is the
median of its rounds; the range of the gets ratios is printed beside it.

Rates are given twice: by elapsed time, and by the process's CPU time (user
and system) in each phase. On a loaded machine the elapsed time of a phase
depends on what else runs at that moment, so the CPU-time ratios are the
ones to compare there; waits for the disk (dbm.gnu's and sqlite3's syncs)
show only in the elapsed times.
"""
import dbm.gnu
import os
import random
import shutil
import sqlite3
import sys
import tempfile
import time

import bsddb

try:
    import lmdb
except ImportError:  # python3-lmdb
    lmdb = None


def key(i):
    return b"k%09d" % i


def value(i):
    return b"value-%014d" % ((i * 2654435761) % 2**32)


def sizes(path):
    if os.path.isdir(path):
        files = [os.path.join(path, name) for name in os.listdir(path)]
    else:
        files = [path]
    size = sum(os.stat(f).st_size for f in files)
    allocated = sum(os.stat(f).st_blocks * 512 for f in files)
    return size, allocated


def timed(fn):
    t0, c0 = time.perf_counter(), time.process_time()
    fn()
    return time.perf_counter() - t0, time.process_time() - c0


def run_bsddb(path, keys, values, get_order, cachesize):
    def puts():
        db = bsddb.hashopen(path, "n", 0o666, 0, 0, 0, cachesize)
        for k, v in zip(keys, values):
            db[k] = v
        db.close()

    holder = []

    def gets():
        db = bsddb.hashopen(path, "r", 0o666, 0, 0, 0, cachesize)
        holder.append(db)
        for i in get_order:
            if len(db[keys[i]]) != 20:
                raise AssertionError("bsddb: wrong value")

    def walk():
        db = holder[0]
        n = 0
        try:
            k, v = db.first()
            while True:
                n += 1
                k, v = db.next()
        except KeyError:
            pass
        db.close()
        if n != len(keys):
            raise AssertionError("bsddb: walk saw %d pairs" % n)

    return timed(puts), timed(gets), timed(walk)


def run_gdbm(path, keys, values, get_order):
    def puts():
        db = dbm.gnu.open(path, "nf")
        for k, v in zip(keys, values):
            db[k] = v
        db.sync()
        db.close()

    holder = []

    def gets():
        db = dbm.gnu.open(path, "r")
        holder.append(db)
        for i in get_order:
            if len(db[keys[i]]) != 20:
                raise AssertionError("dbm.gnu: wrong value")

    def walk():
        db = holder[0]
        n = 0
        k = db.firstkey()
        while k is not None:
            db[k]
            n += 1
            k = db.nextkey(k)
        db.close()
        if n != len(keys):
            raise AssertionError("dbm.gnu: walk saw %d pairs" % n)

    return timed(puts), timed(gets), timed(walk)


def run_lmdb(path, keys, values, get_order):
    map_size = 1 << 34

    def puts():
        env = lmdb.open(path, map_size=map_size, sync=False, metasync=False)
        with env.begin(write=True) as txn:
            for k, v in zip(keys, values):
                txn.put(k, v)
        env.sync(True)
        env.close()

    holder = []

    def gets():
        env = lmdb.open(path, map_size=map_size, readonly=True, lock=False)
        txn = env.begin()
        holder.append((env, txn))
        for i in get_order:
            if len(txn.get(keys[i])) != 20:
                raise AssertionError("lmdb: wrong value")

    def walk():
        env, txn = holder[0]
        n = 0
        for k, v in txn.cursor():
            n += 1
        txn.abort()
        env.close()
        if n != len(keys):
            raise AssertionError("lmdb: walk saw %d pairs" % n)

    return timed(puts), timed(gets), timed(walk)


def run_sqlite(path, keys, values, get_order):
    def puts():
        db = sqlite3.connect(path)
        db.execute("create table kv (k blob primary key, v blob) without rowid")
        with db:
            db.executemany("insert or replace into kv values (?, ?)", zip(keys, values))
        db.close()

    holder = []

    def gets():
        db = sqlite3.connect(path)
        holder.append(db)
        query = "select v from kv where k = ?"
        for i in get_order:
            if len(db.execute(query, (keys[i],)).fetchone()[0]) != 20:
                raise AssertionError("sqlite3: wrong value")

    def walk():
        db = holder[0]
        n = 0
        for k, v in db.execute("select k, v from kv"):
            n += 1
        db.close()
        if n != len(keys):
            raise AssertionError("sqlite3: walk saw %d pairs" % n)

    return timed(puts), timed(gets), timed(walk)


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 1000000
    cachesize = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    order = list(range(n))
    random.Random(1).shuffle(order)
    keys = [key(i) for i in order]
    values = [value(i) for i in order]
    get_order = list(range(n))
    random.Random(2).shuffle(get_order)

    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3

    directory = tempfile.mkdtemp(prefix="hashdb-bench-")
    stores = [
        ("bsddb", "bench.db", lambda p: run_bsddb(p, keys, values, get_order, cachesize)),
        ("dbm.gnu", "bench.gdbm", lambda p: run_gdbm(p, keys, values, get_order)),
    ]
    if lmdb is not None:
        stores.append(("lmdb", "bench.lmdb", lambda p: run_lmdb(p, keys, values, get_order)))
    stores.append(("sqlite3", "bench.sqlite", lambda p: run_sqlite(p, keys, values, get_order)))
    # rates[name] = a list per round of (puts, gets, walk, size, allocated,
    # CPU puts, CPU gets, CPU walk)
    rates = {name: [] for name, _, _ in stores}
    try:
        for _ in range(rounds):
            for name, file_name, run in stores:
                path = os.path.join(directory, file_name)
                t_put, t_get, t_walk = run(path)
                size, allocated = sizes(path)
                rates[name].append((n / t_put[0], n / t_get[0], n / t_walk[0], size, allocated,
                                    n / t_put[1], n / t_get[1], n / t_walk[1]))
                if os.path.isdir(path):
                    shutil.rmtree(path)
                else:
                    os.remove(path)
    finally:
        shutil.rmtree(directory, ignore_errors=True)

    def median(values):
        values = sorted(values)
        middle = len(values) // 2
        return values[middle] if len(values) % 2 else (values[middle - 1] + values[middle]) / 2

    results = [(name,) + tuple(median([r[i] for r in rates[name]]) for i in range(8)) for name, _, _ in stores]
    # Gets ratios round by round (CPU time): each round's stores ran side by side.
    spread = {}
    for name, _, _ in stores[1:]:
        ratios = [ours[6] / theirs[6] for ours, theirs in zip(rates["bsddb"], rates[name])]
        spread[name] = (min(ratios), max(ratios))

    print("%d pairs (10-byte keys, 20-byte values), script level; bsddb cachesize %d; medians of %d rounds"
          % (n, cachesize, rounds))
    print("%-8s %10s %10s %10s %10s %10s   %10s %10s %10s" % (
        "store", "puts/s", "gets/s", "walk/s", "size MB", "alloc MB", "CPU puts/s", "gets/s", "walk/s"))
    for r in results:
        print("%-8s %10.0f %10.0f %10.0f %10.1f %10.1f   %10.0f %10.0f %10.0f"
              % (r[0], r[1], r[2], r[3], r[4] / 1e6, r[5] / 1e6, r[6], r[7], r[8]))
    ours = results[0]
    for peer in results[1:]:
        low, high = spread[peer[0]]
        print("bsddb/%-8s puts x%.2f  gets x%.2f  walk x%.2f  allocated x%.2f   CPU: puts x%.2f  gets x%.2f"
              " (rounds x%.2f-%.2f)  walk x%.2f"
              % (peer[0], ours[1] / peer[1], ours[2] / peer[2], ours[3] / peer[3], ours[5] / peer[5],
                 ours[6] / peer[6], ours[7] / peer[7], low, high, ours[8] / peer[8]))
    if lmdb is None:
        print("lmdb: not measured (python3-lmdb is not installed)")


if __name__ == "__main__":
    main()
