"""The documents of a folder: every HTML page (.html, .htm) and plain text
file (.txt) below it, in a fixed order. Folders whose names begin with "."
or "_" are left out (hidden folders, and generated assets and page sources
such as Sphinx's _static and _sources). Runs on any Python 3."""
import os
import re

DEFAULT_FOLDER = "/usr/share/doc/python3.11/html"
HTML = (".html", ".htm")
PLAIN = (".txt",)


def walk(folder):
    """(path, kind) of every document below folder, sorted by path; kind is
    "html" or "plain"."""
    out = []
    for top, dirs, files in os.walk(folder):
        dirs[:] = sorted(d for d in dirs if not d.startswith((".", "_")))
        for name in files:
            lower = name.lower()
            path = os.path.join(top, name)
            if not os.path.isfile(path):
                continue
            if lower.endswith(HTML):
                out.append((path, "html"))
            elif lower.endswith(PLAIN):
                out.append((path, "plain"))
    out.sort()
    return out


def file_url(path, folder, base_url=None):
    """The URL a document is found under: base_url followed by its path below
    folder, or its file: URL."""
    rel = os.path.relpath(path, folder).replace(os.sep, "/")
    if base_url:
        return base_url.rstrip("/") + "/" + rel
    return "file://" + os.path.abspath(path)


_CHARSET = re.compile(rb"""<meta[^>]+charset\s*=\s*["']?([A-Za-z0-9_.:-]+)""", re.I)


def decode(data, kind):
    """The text of a document's bytes: the charset an HTML page declares, else
    UTF-8, else Latin-1 (which takes every byte)."""
    names = []
    if kind == "html":
        m = _CHARSET.search(data[:4096])
        if m:
            names.append(m.group(1).decode("ascii"))
    names.append("utf-8")
    for name in names:
        try:
            return data.decode(name)
        except (LookupError, UnicodeDecodeError):
            pass
    return data.decode("latin-1")


_CHAR_REF = re.compile(r"&#(?:([0-9]{1,7})|[xX]([0-9a-fA-F]{1,6}));?")


def plain_char_refs(text):
    """Numeric character references past Latin-1 ("&#8212;") as the
    characters themselves, which the engine's code page may hold; the others
    are kept as they are."""
    def one(m):
        code = int(m.group(1)) if m.group(1) else int(m.group(2), 16)
        if code <= 255 or code > 0x10FFFF:
            return m.group(0)
        return chr(code)
    return _CHAR_REF.sub(one, text)
