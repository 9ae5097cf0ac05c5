#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Runs out of room for the output file, the two ways a system refuses a
# write, and checks that the file holds whole sets only, the start of the
# right output, and that the run says so and ends with status 1:
#   - a file size limit (prlimit --fsize), which needs nothing special,
#     once before the first whole set reached the file and once after many;
#   - a real file system filled up: kepsift writes more than a 1 MB tmpfs
#     holds, mounted in a mount namespace of its own, so nothing is left
#     mounted.  That needs root (or a user namespace) to mount; it is
#     skipped otherwise, except in CI.
# A cross-built program runs under the emulator named in KEPSIFT_EMULATOR.
#   full_disk.sh PROGRAM SOURCE_FOLDER
set -euo pipefail
program=$(realpath "$1") source_folder=$(realpath "$2")
read -r -a emulator <<< "${KEPSIFT_EMULATOR:-}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# out.tle against the right output and report of the same input (full.out,
# full.err): whole sets only, the start of the right output, the report
# and then the message, status 1.
check_cut() { # status message what
  local status=$1 message=$2 what=$3
  [ "$status" = 1 ] || fail "$what: status $status"
  local expected
  expected="$(cat full.err)
$message"
  [ "$(cat err)" = "$expected" ] || fail "$what: messages $(tr '\n' '|' < err)"
  local lines
  lines=$(wc -l < out.tle)
  [ $((lines % 3)) -eq 0 ] || fail "$what: $lines lines, the last set is cut"
  cmp -s out.tle <(head -n "$lines" full.out) || fail "$what: the output is not the start of the right output"
}

# About 1.2 MB of output.
for copy in $(seq 720); do cat "$source_folder"/examples/*.txt; done > in.txt
head -n 3 "$source_folder"/tests/expected/mail.txt > one.txt

# A file size limit: the write that passes it fails with EFBIG (once the
# signal it raises is ignored, as a shell may leave it).  The file takes
# bytes up to the limit and is cut back by less than a set of three lines
# of 69 columns: under 100 bytes no whole set reached it, and it is left
# empty.
while read -r input limit message least; do
  "${emulator[@]}" "$program" "$input" full.out 2> full.err
  status=0
  (trap '' XFSZ; prlimit --fsize="$limit" "${emulator[@]}" "$program" "$input" out.tle 2> err) || status=$?
  check_cut "$status" "Error $message output file: File too large" "a limit of $limit bytes"
  size=$(stat -c %s out.tle)
  [ "$size" -ge "$least" ] && [ "$size" -le "$limit" ] || fail "a limit of $limit bytes left $size bytes"
  echo "a limit of $limit bytes kept $size bytes of $(stat -c %s full.out)"
done <<'LIMITS'
one.txt 100 closing 0
in.txt 300000 writing 299790
LIMITS

if ! unshare -m true 2>/dev/null; then
  echo "cannot make a mount namespace here"
  [ "$failures" -eq 0 ] || exit 1
  [ -n "${CI:-}" ] && exit 1
  exit 77
fi

"${emulator[@]}" "$program" in.txt full.out 2> full.err
mkdir small
unshare -m bash -c 'mount -t tmpfs -o size=1m tmpfs small &&
  { status=0; "${@:2}" "$1" in.txt small/out.tle 2> err || status=$?; echo $status > status; } &&
  cp small/out.tle out.tle' _ "$program" "${emulator[@]}"

check_cut "$(cat status)" "Error writing output file: No space left on device" "a full file system"
size=$(stat -c %s out.tle)
[ "$size" -gt 900000 ] && [ "$size" -le 1048576 ] || fail "the file system took $size bytes"
[ "$failures" -eq 0 ] || exit 1
echo "a full file system kept $(($(wc -l < out.tle) / 3)) whole sets of $(($(wc -l < full.out) / 3)), $size bytes"
