#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Fills a real file system: kepsift writes more than a 1 MB tmpfs holds,
# mounted in a mount namespace of its own, so nothing is left mounted.
# The output file must hold whole sets only, the start of the right
# output, and the run must say so and end with status 1.  Needs root (or a
# user namespace) to mount; skipped otherwise, except in CI.
# A cross-built program runs under the emulator named in KEPSIFT_EMULATOR.
#   full_disk.sh PROGRAM SOURCE_FOLDER
set -euo pipefail
program=$(realpath "$1") source_folder=$(realpath "$2")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir small
if ! unshare -m true 2>/dev/null; then
  echo "cannot make a mount namespace here"
  [ -n "${CI:-}" ] && exit 1
  exit 77
fi

# About 1.2 MB of output.
for copy in $(seq 720); do cat "$source_folder"/examples/*.txt; done > in.txt
${KEPSIFT_EMULATOR:-} "$program" in.txt full.out 2> full.err

unshare -m bash -c 'mount -t tmpfs -o size=1m tmpfs small &&
  { status=0; '"${KEPSIFT_EMULATOR:-}"' "$1" in.txt small/out.tle 2> err || status=$?; echo $status > status; } &&
  cp small/out.tle out.tle' _ "$program"

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
[ "$(cat status)" = 1 ] || fail "status $(cat status)"
expected="$(cat full.err)
Error writing output file: No space left on device"
[ "$(cat err)" = "$expected" ] || fail "messages: $(tr '\n' '|' < err)"
size=$(stat -c %s out.tle)
[ "$size" -gt 900000 ] && [ "$size" -le 1048576 ] || fail "the file system took $size bytes"
lines=$(wc -l < out.tle)
[ $((lines % 3)) -eq 0 ] || fail "$lines lines: the last set is cut"
cmp -s out.tle <(head -n "$lines" full.out) || fail "the output is not the start of the right output"
[ "$failures" -eq 0 ] || exit 1
echo "a full file system kept $((lines / 3)) whole sets of $(($(wc -l < full.out) / 3)), $size bytes"
