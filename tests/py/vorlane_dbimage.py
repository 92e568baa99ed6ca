"""Writers of small index database images for script tests, from the file
formats of the index store (little-endian words; title records in network
order)."""
import os
import struct

TITLES_PER_FILE = 0x400000
TITLE_SIZE = 448


def pack_title(title="", summary="", url="", publisher="", terms="", extra=0, date=0,
               download_date=0, flags=0, doctype=0):
    """A 448-byte title record (version 253)."""
    rec = bytearray(TITLE_SIZE)
    rec[0] = 253
    strings = b"".join(s.encode("latin-1") + b"\0" for s in (title, summary, url, publisher, terms))
    assert len(strings) <= 391
    rec[1:1 + len(strings)] = strings
    struct.pack_into(">I", rec, 408, download_date)
    struct.pack_into(">HH", rec, 412, flags, doctype)
    struct.pack_into(">II", rec, 440, extra, date)
    return bytes(rec)


def title_file_count(ndocs):
    return (ndocs - 1) // TITLES_PER_FILE + 1 if ndocs > 0 else 1


def write_db(path, ndocs, titles=None, score_incr=1, journal=None):
    """A query database of ndocs documents and no terms at path. titles maps
    docids to records (the title files are sparse). journal, when given, is a
    list of documents, each a list of ((hash1, hash2), frequency) terms: the
    database then opens for incremental indexing."""
    path = os.fsdecode(path)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, "dir"), "wb") as f:
        f.write(struct.pack("<4I", 1, 0, ndocs, 40000))
    open(os.path.join(path, "tf0"), "wb").close()
    nfiles = title_file_count(ndocs)
    for n in range(nfiles):
        records = TITLES_PER_FILE if n + 1 < nfiles else ndocs - n * TITLES_PER_FILE
        with open(os.path.join(path, "ti%d" % n), "wb") as f:
            f.truncate(records * TITLE_SIZE)
    for docid, record in (titles or {}).items():
        with open(os.path.join(path, "ti%d" % (docid // TITLES_PER_FILE)), "r+b") as f:
            f.seek((docid % TITLES_PER_FILE) * TITLE_SIZE)
            f.write(record)
    with open(os.path.join(path, "del"), "wb") as f:
        f.truncate(ndocs)
    with open(os.path.join(path, "inf"), "wb") as f:
        f.write(struct.pack("<i", score_incr))
    if journal is not None:
        with open(os.path.join(path, "jnl"), "wb") as f:
            for terms in journal:
                f.write(struct.pack("<I", len(terms) * 9))
                for (h1, h2), _ in terms:
                    f.write(struct.pack("<II", h1, h2))
                f.write(bytes(freq for _, freq in terms))


def write_catalog(path, ndocs):
    """A catalog file holding only its first entry."""
    with open(path, "wb") as f:
        f.write(struct.pack("<4I", 0x80000000, 0x80000000, ndocs << 7, 0))


def open_fds():
    return len(os.listdir("/proc/self/fd"))
