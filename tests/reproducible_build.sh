#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Builds kepsift twice, from two copies of the source in different folders,
# with one SOURCE_DATE_EPOCH, and fails unless the two programs are the same
# byte for byte.
#   reproducible_build.sh [SOURCE_FOLDER]
set -euo pipefail
source_folder=$(cd "${1:-.}" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-1796947200}

for copy in first second-copy; do
  mkdir -p "$work/$copy/source"
  (cd "$source_folder" && git ls-files -z | xargs -0 cp --parents -t "$work/$copy/source")
  cmake -S "$work/$copy/source" -B "$work/$copy/build-$copy" -G Ninja -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$work/$copy/build-$copy" --target kepsift >/dev/null
done
cmp "$work/first/build-first/kepsift" "$work/second-copy/build-second-copy/kepsift"
echo "two builds with SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH are identical: $(sha256sum < "$work/first/build-first/kepsift" | cut -c1-16)"
