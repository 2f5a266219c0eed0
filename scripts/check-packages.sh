#!/usr/bin/env bash
# Checks the release packages as a distribution would, and as an operator
# installs them: lintian and rpmlint report no error (the static link is
# intended: contrib/packaging/lintian-overrides and the rpmlint step say why), the
# .rpm asks for no library, and each package installs into an empty root and
# is removed again without leaving a file of its own.
# Usage: scripts/check-packages.sh <.deb> <.rpm>   (the install checks need root)
set -euo pipefail
deb=$(realpath "$1")
rpm=$(realpath "$2")
packaging=$(cd "$(dirname "$0")/../contrib/packaging" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/diagpack-packages.XXXXXX")
trap 'rm -rf "$work"' EXIT
executables="diagpack-dyn diagpack-jce diagpack-pkcs11 diagpack-cli"

fail() {
  echo "check-packages: $*" >&2
  exit 1
}

echo "== lintian $(basename "$deb")"
lintian --fail-on error "$deb" || fail "lintian reports errors"

# rpmlint may report one error, intended: statically-linked-binary (the
# executables must start on hosts with an older C library than ours). Its
# settings filter no-signature: packages are signed where they are
# published, with a key that this tree does not hold.
echo "== rpmlint $(basename "$rpm")"
rpmlint -c "$packaging/rpmlint.toml" "$rpm" >"$work/rpmlint.txt" 2>&1 || true
cat "$work/rpmlint.txt"
if grep ': E: ' "$work/rpmlint.txt" | grep -Ev ': E: statically-linked-binary( |$)' | grep -q .; then
  fail "rpmlint reports errors"
fi

echo "== rpm requirements"
requires=$(rpm -qp --requires "$rpm")
echo "$requires"
if echo "$requires" | grep -v '^rpmlib(' | grep -q .; then
  fail "the .rpm requires more than rpm itself"
fi

installed() {
  for e in $executables; do
    [ -x "$1/usr/bin/$e" ] || fail "$e not installed under $1"
  done
  [ -f "$1/usr/share/man/man1/diagpack.1.gz" ] || fail "man page not installed"
  for f in copyright licenses/LGPL-2.1 licenses/GPL-3 licenses/GCC-exception-3.1 licenses/Zlib; do
    [ -s "$1/usr/share/doc/diagpack/$f" ] || fail "$f not installed"
  done
}
removed() {
  local left
  left=$(find "$1/usr" -name 'diagpack*' 2>/dev/null || true)
  [ -z "$left" ] || fail "left behind after removal: $left"
}

if [ "$(id -u)" -ne 0 ]; then
  echo "check-packages: installing into an empty root needs root: not checked"
  exit 0
fi

echo "== dpkg --root: install, remove"
droot=$work/dpkg
mkdir -p "$droot/var/lib/dpkg/info" "$droot/var/lib/dpkg/updates"
touch "$droot/var/lib/dpkg/status"
deb_arch=$(dpkg-deb -f "$deb" Architecture)
if [ "$deb_arch" != "$(dpkg --print-architecture)" ]; then
  dpkg --root="$droot" --add-architecture "$deb_arch"
fi
dpkg --root="$droot" -i "$deb" >/dev/null
installed "$droot"
dpkg --root="$droot" -r diagpack >/dev/null
removed "$droot"

echo "== rpm --root: install (no --nodeps), erase"
rroot=$work/rpm
mkdir -p "$rroot"
ignorearch=()
if [ "$(rpm -qp --qf '%{ARCH}' "$rpm")" != "$(uname -m)" ]; then
  ignorearch=(--ignorearch)
fi
# Debian's rpm warns that it is not Debian's package manager; --root into
# an empty directory is exactly the case it allows.
rpm --root "$rroot" --force-debian "${ignorearch[@]}" -i "$rpm"
installed "$rroot"
rpm --root "$rroot" --force-debian -e diagpack
removed "$rroot"
echo "check-packages: ok"
