#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Cross-builds the Debian package the Debian way for another architecture,
# arm64 unless told otherwise, from a copy of the tracked source and
# without tests, as dpkg-buildpackage -a ARCH -Pcross,nocheck does.  Then
# checks it: the build warns of nothing, lintian (pedantic) and blhc find
# nothing, and the program in the package, run under qemu-user, passes the
# package's own tests (debian/tests/examples) on the examples.
#   debian_cross.sh [SOURCE_FOLDER [ARCHITECTURE]]
# It needs the architecture known to dpkg, the cross compilers, and the
# architecture's C and C++ runtime, whose symbols dpkg-shlibdeps reads:
#   dpkg --add-architecture arm64 && apt-get update
#   apt-get install crossbuild-essential-arm64 libc6:arm64 libstdc++6:arm64 qemu-user
# Where qemu-user is missing the run is skipped, except in CI.
set -euo pipefail
. "$(dirname "$0")/debian_checks.sh"
source_folder=$(cd "${1:-.}" && pwd)
arch=${2:-arm64}
version=$(dpkg-parsechangelog -l "$source_folder/debian/changelog" -S Version)
package=kepsift_${version}_${arch}.deb
triplet=$(dpkg-architecture -a "$arch" -q DEB_HOST_GNU_TYPE 2>/dev/null)
cpu=$(dpkg-architecture -a "$arch" -q DEB_HOST_GNU_CPU 2>/dev/null)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/kepsift"
(cd "$source_folder" && git ls-files -z | xargs -0 cp --parents -t "$work/kepsift")
# dpkg-buildpackage asks CC which system it builds for; debhelper hands
# the same cross compilers to CMake.
if ! (cd "$work/kepsift" &&
      CC=$triplet-gcc CXX=$triplet-g++ DEB_BUILD_OPTIONS="nocheck ${DEB_BUILD_OPTIONS:-}" \
        dpkg-buildpackage -a "$arch" -Pcross,nocheck -us -uc -b > "$work/build.log" 2>&1); then
  tail -n 40 "$work/build.log"
  echo "FAILED: dpkg-buildpackage -a $arch -Pcross,nocheck"
  exit 1
fi
if grep 'warning:' "$work/build.log"; then
  echo "FAILED: the cross build warns"
  exit 1
fi
built_for=$(dpkg-deb -f "$work/$package" Architecture)
[ "$built_for" = "$arch" ] || { echo "FAILED: $package is for $built_for"; exit 1; }
echo "cross-built $package without a warning: $(dpkg-deb -f "$work/$package" Depends)"

check_package "$work/$package" "$work/build.log"

if ! command -v "qemu-$cpu" > /dev/null; then
  if [ "${CI:-}" = true ]; then
    echo "FAILED: qemu-$cpu is not installed"
    exit 1
  fi
  echo "qemu-$cpu is not installed: the $arch program was not run"
  exit 0
fi
# The package's tests run the kepsift they find first on the PATH: here
# the packaged program under qemu, with the cross libraries.
dpkg-deb -x "$work/$package" "$work/root"
mkdir "$work/bin" "$work/tmp"
printf '#!/bin/sh\nexec %s -L %s %s "$@"\n' "qemu-$cpu" "/usr/$triplet" "$work/root/usr/bin/kepsift" > "$work/bin/kepsift"
chmod +x "$work/bin/kepsift"
(cd "$work/kepsift" && PATH="$work/bin:$PATH" AUTOPKGTEST_TMP="$work/tmp" debian/tests/examples)
echo "the $arch program, under qemu-$cpu, passes debian/tests/examples"
