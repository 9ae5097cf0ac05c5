#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# The program builds and installs with a C++ compiler and CMake alone: with
# GoogleTest hidden (neither the library nor its sources), configuring says
# in one line that the tests are left out, the build and the install work,
# and the README's run command builds exactly one program.
#   build_alone.sh [SOURCE_FOLDER]
set -euo pipefail
source_folder=$(cd "${1:-.}" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/source"
(cd "$source_folder" && git ls-files -z | xargs -0 cp --parents -t "$work/source")
cd "$work/source"

cmake -S . -B build -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DKEPSIFT_GTEST_SOURCES="$work/none" > configure.log
grep -q "Tests left out: GoogleTest not found" configure.log || { cat configure.log; echo "FAILED: no note"; exit 1; }
# The README's run command, on that build folder.
cmake --build build --target kepsift > /dev/null
./build/kepsift examples/mail.txt 2> report | cmp - tests/expected/mail.txt
[ "$(cat report)" = "Found 2 element sets." ] || { echo "FAILED: report $(cat report)"; exit 1; }
programs=$(find build -type f -perm -u+x ! -name '*.sh' ! -path '*/CMakeFiles/*' | sort | tr '\n' ' ')
[ "$programs" = "build/kepsift " ] || { echo "FAILED: the run command built $programs"; exit 1; }
cmake --build build > /dev/null
cmake --install build --prefix "$work/prefix" > /dev/null
[ -x "$work/prefix/bin/kepsift" ] || { echo "FAILED: nothing installed"; exit 1; }
echo "built, run and installed without GoogleTest; the run command built build/kepsift alone"
