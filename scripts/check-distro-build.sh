#!/usr/bin/env bash
# A distribution's build, as the README gives it: dynamic, against the
# system's zlib, without the tests. CMake is forbidden to find GoogleTest
# and Python, so the build shows it needs neither; then the install into a
# DESTDIR must hold the four executables in bindir, linked to the system's
# libz, and the man pages in mandir, and nothing else is installed.
# Usage: scripts/check-distro-build.sh [build dir]   (default build-distro)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-distro}
scripts/install-deps.sh system-zlib
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DDIAGPACK_SYSTEM_ZLIB=ON -DDIAGPACK_WERROR="${WERROR:-OFF}" \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_Python3=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
dest=$(mktemp -d "${TMPDIR:-/tmp}/diagpack-distro.XXXXXX")
trap 'rm -rf "$dest"' EXIT
DESTDIR=$dest cmake --install "$build" --prefix /usr >/dev/null

fail() {
  echo "check-distro-build: $*" >&2
  exit 1
}
for key in dyn jce pkcs11 cli; do
  exe=$dest/usr/bin/diagpack-$key
  [ -x "$exe" ] || fail "diagpack-$key not in /usr/bin"
  readelf -dW "$exe" | grep -q 'Shared library: \[libz\.so' || fail "diagpack-$key not linked to libz"
  "$exe" --help >/dev/null || fail "diagpack-$key --help failed"
done
expected="usr/bin/diagpack-cli usr/bin/diagpack-dyn usr/bin/diagpack-jce usr/bin/diagpack-pkcs11
usr/share/man/man1/diagpack-cli.1.gz usr/share/man/man1/diagpack-dyn.1.gz
usr/share/man/man1/diagpack-jce.1.gz usr/share/man/man1/diagpack-pkcs11.1.gz
usr/share/man/man1/diagpack.1.gz"
installed=$(cd "$dest" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')
[ "$installed" = "$(echo $expected) " ] || fail "installed: $installed"
echo "check-distro-build: ok (no GoogleTest, no Python, system zlib)"
