"""The script kepsey runs: checks the installed files against the MD5 sums
in lib/sums and moves every file whose contents have changed aside, to its
own name followed by ".old", then lists the moved files in a message box.

lib/sums (relative to the directory above the current one) holds text lines
"<path>:<md5, 32 lower-case hex digits>", each path relative to that
directory; empty lines are ignored. A line that does not hold exactly one
colon stops the run with an exception.
"""
import hashlib
import os
import sys

import osdnt_native


def file_md5(path):
    """The MD5 digest of the file's whole contents, read as bytes."""
    digest = hashlib.md5()
    with open(path, "rb") as f:
        while True:
            block = f.read(1 << 16)
            if not block:
                break
            digest.update(block)
    return digest.hexdigest()


def move_aside(path, old):
    """Moves path to old unless old exists already (an earlier saved copy
    is kept). True when the file was moved."""
    try:
        # A hard link is made only when old does not exist yet.
        os.link(path, old, follow_symlinks=False)
    except FileExistsError:
        return False
    except OSError:
        # No hard links on this file system: check first, then rename.
        if os.path.lexists(old):
            return False
        os.rename(path, old)
        return True
    try:
        os.unlink(path)
    except OSError:
        os.unlink(old)
        raise
    return True


def main():
    os.chdir("..")
    # Paths are read in the file system's own encoding, so that every name
    # reaches the file system byte for byte.
    with open(os.path.join("lib", "sums"), encoding=sys.getfilesystemencoding(),
              errors=sys.getfilesystemencodeerrors()) as f:
        lines = f.read().split("\n")
    saved = []
    for line in lines:
        if not line:
            continue
        path, stored = line.split(":")
        try:
            if file_md5(path) != stored:
                old = path + ".old"
                if move_aside(path, old):
                    saved.append("%s->%s" % (path, old))
        except Exception:
            # A file that cannot be read or moved is skipped.
            pass
    if saved:
        text = "Vorlane Server files that have been saved:\n\n" + "\n".join(saved)
        osdnt_native.message_box(os.fsencode(text))


if __name__ == "__main__":
    main()
