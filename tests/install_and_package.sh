#!/usr/bin/env bash
# Checks a configured and built folder the way a packager would: the install
# leaves exactly the program and its manual, the manual is clean under
# mandoc's lint and man's warnings, and the Debian package holds the program
# and the compressed manual and installs a working kepsift.
#   install_and_package.sh BUILD_FOLDER
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

lint=$(mandoc -T lint "$build/kepsift.1" 2>&1 || true)
rendering=$(MANWIDTH=80 man --warnings -l "$build/kepsift.1" 2>&1 >/dev/null || true)
if [ -n "$lint$rendering" ]; then
  printf 'FAILED: the manual has warnings:\n%s\n%s\n' "$lint" "$rendering"
  exit 1
fi

(cd "$build" && cpack -G DEB >/dev/null 2>&1)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
package="$build/kepsift_${version}_$(dpkg --print-architecture).deb"
listing=$(dpkg-deb -c "$package")
for path in ./usr/bin/kepsift ./usr/share/man/man1/kepsift.1.gz; do
  if ! grep -q " $path\$" <<<"$listing"; then
    printf 'FAILED: %s lacks %s:\n%s\n' "$package" "$path" "$listing"
    exit 1
  fi
done
for field in Section Depends Description; do
  dpkg-deb -f "$package" "$field" | sed "1s/^/$field: /" | head -n 1
done

# The packaged program runs, and its manual is there to read.
dpkg-deb -x "$package" "$work/root"
source=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")
"$work/root/usr/bin/kepsift" <"$source/examples/mail.txt" | cmp - "$source/tests/expected/mail.txt"
zcat "$work/root/usr/share/man/man1/kepsift.1.gz" | mandoc -T lint
echo "install, manual and package are as they should be: $(basename "$package")"
