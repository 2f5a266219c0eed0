#!/usr/bin/env bash
# Replaces the vendored zlib-ng under third_party/zlib-ng/ with the release
# in TARBALL, after checking its SHA-256.
# Usage: scripts/update-zlib-ng.sh TARBALL SHA256
#   TARBALL  a zlib-ng source release (.tar.gz holding one top folder)
#   SHA256   its expected SHA-256; on success it is written to
#            third_party/zlib-ng.sha256 beside the tree
# Kept: the library's sources, its CMake files, LICENSE.md and README.md.
# Left out: its tests (test/), CI settings (.github), documentation (doc/)
# and the other build systems' leftovers that our CMake build never reads.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -ne 2 ]; then
  echo "usage: scripts/update-zlib-ng.sh TARBALL SHA256" >&2
  exit 2
fi
tarball=$1
expected=$(tr 'A-F' 'a-f' <<<"$2")
actual=$(sha256sum "$tarball" | cut -d' ' -f1)
if [ "$actual" != "$expected" ]; then
  echo "update-zlib-ng: $tarball has SHA-256 $actual, expected $expected" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/update-zlib-ng.XXXXXX")
trap 'rm -rf "$work"' EXIT
# -m: the files get the time of extraction, as a git checkout gives them,
# not the release's (the packages clamp both to the last commit's time).
tar -xzmf "$tarball" -C "$work" --no-same-owner
top=("$work"/*)
if [ ${#top[@]} -ne 1 ] || [ ! -f "${top[0]}/zlib.h.in" ]; then
  echo "update-zlib-ng: $tarball does not hold one zlib-ng source folder" >&2
  exit 1
fi
src=${top[0]}
rm -rf "$src/test" "$src/.github" "$src/doc"
rm -f "$src/.codecov.yaml" "$src/.shellcheckrc"

rm -rf third_party/zlib-ng
mv "$src" third_party/zlib-ng
echo "$expected  $(basename "$tarball")" >third_party/zlib-ng.sha256
version=$(sed -n 's/^#define ZLIBNG_VERSION "\(.*\)"/\1/p' third_party/zlib-ng/zlib.h.in)
echo "update-zlib-ng: third_party/zlib-ng is zlib-ng $version; update the version in third_party/README.md"
