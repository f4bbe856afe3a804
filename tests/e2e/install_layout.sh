#!/usr/bin/env bash
# `cmake --install` puts the programs, their man pages and the desktop entry in place.
# Usage: install_layout.sh BUILD_DIR
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/tessivane share/man/man6/tessivane.6 share/applications/tessivane.desktop; do
    [ -f "$prefix/$file" ] || { echo "missing after install: $file"; exit 1; }
done
[ -x "$prefix/bin/tessivane" ] || { echo "bin/tessivane is not executable"; exit 1; }
# The man page carries the same options as --help.
"$prefix/bin/tessivane" --help | grep -o -- '--[a-z]*' | sort -u | while read -r option; do
    grep -q -- "\\$option\|$option" "$prefix/share/man/man6/tessivane.6" ||
        { echo "the man page lacks $option"; exit 1; }
done
grep -q '^Exec=tessivane$' "$prefix/share/applications/tessivane.desktop"
echo "installed layout complete"
