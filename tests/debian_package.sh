#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Builds the Debian package the Debian way, twice, from two copies of the
# tracked source in two folders, and checks it as a packager would: the two
# .deb files are the same byte for byte, no compiler warns, lintian
# (pedantic) and blhc find nothing, the package holds exactly what it
# should, and once installed with dpkg the program runs and its manual is
# found.  Removes it again.  A third build without tests (nocheck) must
# need no GoogleTest, build no test and give the same .deb.
#   debian_package.sh [SOURCE_FOLDER]
set -euo pipefail
. "$(dirname "$0")/debian_checks.sh"
source_folder=$(cd "${1:-.}" && pwd)
version=$(dpkg-parsechangelog -l "$source_folder/debian/changelog" -S Version)
arch=$(dpkg --print-architecture)
package=kepsift_${version}_${arch}.deb

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Builds the package from a copy of the tracked source in FOLDER, with
# dpkg-buildpackage's further ARGUMENTS, and fails on any warning in its log.
build() { # FOLDER [ARGUMENTS...]
  local folder=$1
  shift
  mkdir -p "$work/$folder/kepsift"
  (cd "$source_folder" && git ls-files -z | xargs -0 cp --parents -t "$work/$folder/kepsift")
  if ! (cd "$work/$folder/kepsift" && dpkg-buildpackage -us -uc -b "$@" > "$work/$folder/build.log" 2>&1); then
    tail -n 40 "$work/$folder/build.log"
    echo "FAILED: dpkg-buildpackage in $folder"
    exit 1
  fi
  if grep 'warning:' "$work/$folder/build.log"; then
    echo "FAILED: the build in $folder warns"
    exit 1
  fi
}

build first
build second/elsewhere
first=$work/first/$package
if ! grep -q '^100% tests passed' "$work/first/build.log"; then
  echo "FAILED: the package build ran no tests"
  exit 1
fi
cmp "$first" "$work/second/elsewhere/$package"
echo "two builds in two folders give the same $package: $(sha256sum < "$first" | cut -c1-16)"

# Without tests, GoogleTest is no build dependency; the tests are neither
# built nor run, and the package is the same.
empty_database=$work/empty-dpkg-database
mkdir "$empty_database" && touch "$empty_database/status"
unmet() { dpkg-checkbuilddeps --admindir="$empty_database" "$@" "$source_folder/debian/control" 2>&1 || true; }
if ! unmet | grep -q 'libgtest-dev' || unmet -P nocheck | grep -q 'libgtest-dev'; then
  echo "FAILED: libgtest-dev must be a build dependency except under the nocheck profile"
  exit 1
fi
DEB_BUILD_OPTIONS="nocheck ${DEB_BUILD_OPTIONS:-}" build nocheck -Pnocheck
nocheck_log=$work/nocheck/build.log
if ! grep -q -- '-DBUILD_TESTING=OFF' "$nocheck_log" || grep -e 'kepsift_tests' -e 'Running tests' "$nocheck_log"; then
  echo "FAILED: the nocheck build built or ran tests"
  exit 1
fi
cmp "$first" "$work/nocheck/$package"
echo "a nocheck build needs no GoogleTest, builds no test and gives the same $package"

check_package "$first" "$work/first/build.log"

contents=$(dpkg-deb -c "$first" | awk '$1 !~ /^d/ { print $6 }' | sort | tr '\n' ' ')
wanted="./usr/bin/kepsift ./usr/share/doc/kepsift/changelog.gz ./usr/share/doc/kepsift/copyright ./usr/share/man/man1/kepsift.1.gz "
if [ "$contents" != "$wanted" ]; then
  echo "FAILED: the package holds: $contents"
  exit 1
fi

dpkg -i "$first" > /dev/null
trap 'dpkg -r kepsift > /dev/null 2>&1 || true; rm -rf "$work"' EXIT
/usr/bin/kepsift "$source_folder/examples/mail.txt" 2> "$work/report" | cmp - "$source_folder/tests/expected/mail.txt"
[ "$(cat "$work/report")" = "Found 2 element sets." ] || { echo "FAILED: report $(cat "$work/report")"; exit 1; }
manual=$(man -w kepsift)
[ "$manual" = /usr/share/man/man1/kepsift.1.gz ] || { echo "FAILED: man -w kepsift gives $manual"; exit 1; }
dpkg -r kepsift > /dev/null
if [ -e /usr/bin/kepsift ]; then
  echo "FAILED: /usr/bin/kepsift is still there after dpkg -r"
  exit 1
fi
echo "installed with dpkg -i, ran, found its manual, removed: $package as it should be"
