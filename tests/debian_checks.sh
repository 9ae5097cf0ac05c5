# SPDX-License-Identifier: ISC
# Sourced by the package tests: the checks every built package must pass.

# Lintian (pedantic, every tag) and blhc find nothing in a package, its
# .changes and its build log.  Lintian runs as a user would: it warns about
# running as root, which is no finding.
#   check_package PACKAGE.deb BUILD_LOG
check_package() {
  local package=$1 log=$2 findings hardening
  findings=$(lintian --pedantic --info --display-experimental "$package" "${package%.deb}.changes" 2>&1 |
             grep -v '^running with root privileges' || true)
  if [ -n "$findings" ]; then
    printf 'FAILED: lintian:\n%s\n' "$findings"
    exit 1
  fi
  hardening=$(blhc --debian --all "$log" || true)
  if [ -n "$hardening" ]; then
    printf 'FAILED: blhc:\n%s\n' "$hardening"
    exit 1
  fi
  echo "lintian --pedantic and blhc: nothing found"
}
