#!/usr/bin/env bash
# The main job from a fresh machine: installs what the build needs, builds,
# indexes FOLDER (default: the HTML pages of python3.11-doc) into build/data
# and searches it for QUERY, its words joined by blanks (default: a sample
# query).
#   scripts/demo.sh [FOLDER] [QUERY...]
set -euo pipefail
cd "$(dirname "$0")/.."

folder=/usr/share/doc/python3.11/html
if [ $# -gt 0 ] && [ -d "$1" ]; then
  folder=$1
  shift
fi
if [ $# -eq 0 ]; then
  set -- '"regular expression" match'
fi

scripts/install-deps.sh
BUILD_DIR=build scripts/build.sh >/dev/null

server=build/bin/vorlane-server
"$server" -child examples/index.py --data build/data "$folder"
echo
echo "search: $*"
"$server" -child examples/search.py --data build/data --count 5 -- "$@"
