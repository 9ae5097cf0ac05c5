#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Runs every example command of the manual as written, from a copy of the
# source tree's examples, with the built kepsift first on the PATH: the
# lines that start with "$ " in its example blocks (.EX to .EE).  Checks
# too that the manual fits an 80-column terminal.
#   manual_examples.sh MANUAL PROGRAM_FOLDER SOURCE_FOLDER
set -euo pipefail
manual=$1 program_folder=$2 source_folder=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$source_folder/examples" "$work/"
cd "$work"
if [ -n "${KEPSIFT_EMULATOR:-}" ]; then
  # A cross-built program runs under the emulator named in KEPSIFT_EMULATOR:
  # a kepsift first on the PATH starts it there, for the examples that run
  # kepsift through parallel and xargs too.
  mkdir bin
  printf '#!/usr/bin/env bash\nexec %s %q "$@"\n' "$KEPSIFT_EMULATOR" "$program_folder/kepsift" > bin/kepsift
  chmod +x bin/kepsift
  export PATH="$work/bin:$PATH"
else
  export PATH="$program_folder:$PATH"
fi

ran=0
while IFS= read -r command; do
  tool=${command%% *}
  if ! command -v "$tool" > /dev/null; then
    echo "\$ $command"
    echo "    skipped: $tool is not installed"
    continue
  fi
  echo "\$ $command"
  if ! output=$(bash -o pipefail -c "$command" 2>&1); then
    echo "$output"
    echo "FAILED: the example above did not succeed"
    exit 1
  fi
  # An example prints something, or fills the file it sends its output to.
  target=$(sed -n 's/.*> *\([^ ]*\)$/\1/p' <<<"$command")
  if [ -n "$target" ]; then
    if [ ! -s "$target" ]; then
      echo "FAILED: the example above left $target empty"
      exit 1
    fi
    output="$output${output:+$'\n'}($target: $(wc -l < "$target") lines)"
  elif [ -z "$output" ]; then
    echo "FAILED: the example above printed nothing"
    exit 1
  fi
  printf '%s\n' "$output" | sed 's/^/    /'
  ran=$((ran + 1))
done < <(sed -n '/^\.EX$/,/^\.EE$/s/^\$ //p' "$manual")

# Lines of the rendered manual wider than a terminal of 80 columns.
if command -v man > /dev/null; then
  widest=$(MANWIDTH=80 MAN_KEEP_FORMATTING= man -l "$manual" 2>/dev/null | col -b | wc -L)
  if [ "$widest" -gt 80 ]; then
    MANWIDTH=80 man -l "$manual" 2>/dev/null | col -b | awk 'length > 80'
    echo "FAILED: the manual renders $widest columns wide"
    exit 1
  fi
fi

if [ "$ran" -lt 8 ]; then
  echo "FAILED: found $ran examples in $manual, expected at least 8"
  exit 1
fi
echo "$ran examples ran"
