#!/usr/bin/env bash
# Installs every Debian package the build and the tests need. Idempotent; runs
# as root or through sudo. With --bench-docs it also installs the HTML
# documentation that bench/scale_bench.py indexes beside python3.11-doc
# (about 55 MB to fetch, 470 MB installed; no test needs it).
set -euo pipefail

packages=(
  build-essential cmake pkg-config binutils
  python3 python3-dev
  python3-gdbm python3-lmdb
  libgtest-dev libgmock-dev libbenchmark-dev
  libexpat1-dev nettle-dev
  locales
  apache2-doc python3.11-doc
  openssl gss-ntlmssp python3-gssapi
  libexttextcat-data
  manpages manpages-de manpages-fr manpages-es manpages-it manpages-nl manpages-pt-br
  manpages-da manpages-nb manpages-sv manpages-fi manpages-ja  # running text of the language models
  zlib1g-dev
  wamerican wordnet-base
  liblingua-en-tagger-perl  # its tagged lexicon is read as data for the English tagger model
  iproute2
  python3-xapian  # benchmark peer only (SQLite FTS5 is Python's own)
)

if [ "${1:-}" = --bench-docs ]; then
  packages+=(python3-doc postgresql-doc-15 python-django-doc python-scipy-doc python-pandas-doc sphinx-doc
             docutils-doc python-requests-doc)
elif [ $# -gt 0 ]; then
  echo "usage: $0 [--bench-docs]" >&2
  exit 2
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
