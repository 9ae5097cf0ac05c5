#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Makes each read(2), write(2) and close(2) of the built program's two
# streams fail once, in turn, with strace, and checks what the user gets:
#   a read fault:  the output and report of the input cut where it hit,
#                  then "Error reading input file", status 1;
#   a write fault: the whole sets of the right output that reached the file
#                  in the buffers before the one that failed, the file cut
#                  back to the last of them, then the report and the write
#                  error;
#   a close fault: the whole output, the report and the close error.
# It also checks that both streams move in blocks of 8192 bytes.
#   fault_injection.sh PROGRAM SOURCE_FOLDER
set -euo pipefail
program=$(realpath "$1") source_folder=$(realpath "$2")
block=8192

# A cross-built program runs under the emulator named in KEPSIFT_EMULATOR
# (words split at spaces).  strace then traces the emulator, whose own
# calls come first; the program's calls pass through it one for one, so
# numbering them by name still finds each of the program's calls.
read -r -a emulator <<< "${KEPSIFT_EMULATOR:-}"
run() { "${emulator[@]}" "$program" "$@"; }

if ! command -v strace >/dev/null; then
  echo "strace is not installed"
  # CI installs it; there a missing strace is a failure, not a skip.
  [ -n "${CI:-}" ] && exit 1
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Many buffers of every kind of input the examples show.
for copy in $(seq 40); do cat "$source_folder"/examples/*.txt; done > in.txt
run in.txt full.out 2> full.err
report=$(cat full.err)

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# The calls the program makes, numbered per call as strace's when= counts
# them, and which of them use the input's and the output's descriptors.
strace -o calls.log -e trace=openat,read,write,close -e signal=none "${emulator[@]}" "$program" in.txt out.txt 2>/dev/null
awk '
  { name = $0; sub(/\(.*/, "", name); number[name]++ }
  /^openat\(.*"in\.txt"/  { input = $NF }
  /^openat\(.*"out\.txt"/ { output = $NF }
  name ~ /^(read|write|close)$/ {
    fd = $0; sub(/^[a-z]+\(/, "", fd); sub(/[,)].*/, "", fd)
    if (input != "" && fd == input)   print name, number[name], "input", $NF
    if (output != "" && fd == output) print name, number[name], "output", $NF
  }' calls.log > streams.log

# Both streams in blocks of the stream buffer's size.
awk -v block=$block '($1 == "read" || $1 == "write") && $4 != 0 { size[$1 " " $3] = $4 }
  ($1 == "read" || $1 == "write") && $4 != 0 && $4 != block { short[$1 " " $3]++ }
  END { for (k in short) if (short[k] > 1) { print k, "moves", short[k], "short blocks"; bad = 1 } exit bad }' \
  streams.log || fail "a stream does not move in blocks of $block bytes"

reads=$(awk '$1 == "read" && $3 == "input"' streams.log | wc -l)
writes=$(awk '$1 == "write" && $3 == "output"' streams.log | wc -l)
[ "$reads" -gt 3 ] && [ "$writes" -gt 3 ] || fail "too few calls to test: $reads reads, $writes writes"

inject() { # call number error -> status of the run; its messages in err
  set +e
  strace -o /dev/null -e trace="$1" -e signal=none -e inject="$1:error=$3:when=$2" \
    "${emulator[@]}" "$program" in.txt out.txt 2> err < /dev/null
  local status=$?
  set -e
  return $status
}

expect() { # what status message
  local status=$1 wanted=$2
  [ "$status" -eq 1 ] || fail "$what: status $status"
  [ "$(cat err)" = "$wanted" ] || fail "$what: messages $(cat err | tr '\n' '|')"
}

rank=0 wrank=0
while read -r name number stream result; do
  what="$name #$number of the $stream"
  case "$name $stream" in
  "read input")
    rank=$((rank + 1))
    head -c $(((rank - 1) * block)) in.txt > cut.txt
    run cut.txt cut.out 2> cut.err
    status=0; inject read "$number" EIO || status=$?
    expect "$status" "$(cat cut.err)
Error reading input file: Input/output error"
    cmp -s out.txt cut.out || fail "$what: the output is not that of the input cut there"
    ;;
  "write output")
    wrank=$((wrank + 1))
    status=0; inject write "$number" ENOSPC || status=$?
    if [ "$number" -eq "$(awk '$1 == "write" && $3 == "output" { n = $2 } END { print n }' streams.log)" ]; then
      message="Error closing output file"
    else
      message="Error writing output file"
    fi
    expect "$status" "$report
$message: No space left on device"
    # The whole blocks before the fault reached the file; it is then cut
    # back to the end of the last whole set in them: three lines a set.
    reached=$(head -c $(((wrank - 1) * block)) full.out | tr -cd '\n' | wc -c)
    cmp -s out.txt <(head -n $((reached / 3 * 3)) full.out) ||
      fail "$what: the output is not the whole sets before the fault ($(stat -c %s out.txt) bytes)"
    ;;
  "close input" | "close output")
    status=0; inject close "$number" EIO || status=$?
    expect "$status" "$report
Error closing $stream file: Input/output error"
    cmp -s out.txt full.out || fail "$what: the output is not whole"
    ;;
  *) continue ;;
  esac
  echo "$what: as it should be"
done < streams.log

[ "$failures" -eq 0 ] || { echo "$failures failures"; exit 1; }
echo "every fault of $reads reads, $writes writes and both closes gave the right result"
