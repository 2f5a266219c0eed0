#!/usr/bin/env bash
# Shows that a release is reproducible: two clean clones of the last commit,
# in folders of different names and depths, each build the release
# (scripts/release.sh, tests skipped) and must give bit-identical
# executables, debug files and packages.
# Usage: scripts/reproducible.sh [amd64|arm64]    Exit 0 when identical.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-amd64}
work=$(mktemp -d "${TMPDIR:-/tmp}/diagpack-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT

clones=("$work/a/diagpack" "$work/second/clone/of-the-tree")
for c in "${clones[@]}"; do
  git clone -q --no-hardlinks . "$c"
  (cd "$c" && RELEASE_TESTS=0 scripts/release.sh "$arch" >"$c.log" 2>&1) || {
    tail -30 "$c.log"
    echo "reproducible: the release build in $c failed" >&2
    exit 1
  }
done

sums() {
  local build
  build=$1/$([ "$arch" = amd64 ] && echo build-release || echo build-release-arm64)
  (cd "$build" && sha256sum bin/* debug/* ./*.deb ./*.rpm)
}
sums "${clones[0]}" >"$work/a.sums"
sums "${clones[1]}" >"$work/b.sums"
cat "$work/a.sums"
if cmp -s "$work/a.sums" "$work/b.sums"; then
  echo "reproducible: $(wc -l <"$work/a.sums") files bit-identical in both clones ($arch)"
else
  diff "$work/a.sums" "$work/b.sums" || true
  echo "reproducible: the clones differ (diffoscope on the two files says where)" >&2
  exit 1
fi
