#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Builds the Debian package without tests from a copy of the tracked source
# and runs the package's own tests (debian/tests) on it with autopkgtest's
# null runner, that is on this machine: it installs the package for the
# run, so it must run as root, and removes it again afterwards.
#   autopkgtest.sh [SOURCE_FOLDER]
set -euo pipefail
source_folder=$(cd "${1:-.}" && pwd)
version=$(dpkg-parsechangelog -l "$source_folder/debian/changelog" -S Version)
package=kepsift_${version}_$(dpkg --print-architecture).deb

if dpkg -s kepsift > /dev/null 2>&1; then
  echo "FAILED: kepsift is installed already; the test would replace it and then remove it"
  exit 1
fi
work=$(mktemp -d)
trap 'dpkg -r kepsift > /dev/null 2>&1 || true; rm -rf "$work"' EXIT

mkdir -p "$work/kepsift"
(cd "$source_folder" && git ls-files -z | xargs -0 cp --parents -t "$work/kepsift")
if ! (cd "$work/kepsift" && DEB_BUILD_OPTIONS="nocheck ${DEB_BUILD_OPTIONS:-}" \
      dpkg-buildpackage -Pnocheck -us -uc -b > "$work/build.log" 2>&1); then
  tail -n 40 "$work/build.log"
  echo "FAILED: dpkg-buildpackage -Pnocheck"
  exit 1
fi

if ! autopkgtest --output-dir "$work/results" "$work/$package" "$work/kepsift/" -- null > "$work/autopkgtest.log" 2>&1; then
  tail -n 40 "$work/autopkgtest.log"
  echo "FAILED: autopkgtest"
  exit 1
fi
summary=$(cat "$work/results/summary")
if [ "$(awk '$2 != "PASS"' "$work/results/summary")" != "" ] || [ -z "$summary" ]; then
  printf 'FAILED: autopkgtest:\n%s\n' "$summary"
  exit 1
fi
printf 'autopkgtest on %s with the null runner:\n%s\n' "$package" "$summary"
