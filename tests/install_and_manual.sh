#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Checks a configured and built folder the way a packager would: the install
# leaves exactly the program and its manual, and the manual is clean under
# mandoc's lint and man's warnings.
#   install_and_manual.sh BUILD_FOLDER
set -euo pipefail
build=$(cd "$1" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
installed=$(cd "$work/prefix" && find . ! -type d | sort | tr '\n' ' ')
if [ "$installed" != "./bin/kepsift ./share/man/man1/kepsift.1 " ]; then
  echo "FAILED: the install left: $installed"
  exit 1
fi

# Whether the manuals it refers to (.Xr) are installed and indexed is the
# machine's affair, not the manual's: those two notes are passed over.
lint=$(mandoc -T lint "$build/kepsift.1" 2>&1 | grep -v -e 'mandoc\.db' -e 'referenced manual not found' || true)
rendering=$(MANWIDTH=80 man --warnings -l "$build/kepsift.1" 2>&1 >/dev/null || true)
if [ -n "$lint$rendering" ]; then
  printf 'FAILED: the manual has warnings:\n%s\n%s\n' "$lint" "$rendering"
  exit 1
fi

echo "install and manual are as they should be"
