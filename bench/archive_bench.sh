#!/bin/sh
# The archive benchmark: whole diagpack-jce runs against `tar -czf` and
# `tar | pigz -6 -p2` on two log-like corpora, alternating, with medians,
# paired ratios, archive sizes and peak RSS (archive_bench.py says how):
#   plain    1 GiB of text rotations with a few .gz ones (about a ninth of
#            the bytes), the usual case: compression is the cost;
#   rotated  256 MiB as logrotate leaves it with compression on, jce.log,
#            jce.log.1 and jce.log.2.gz ... jce.log.14.gz, half the bytes
#            already compressed.
# With TODAY_REF (a git ref, e.g. main) or TODAY_BIN (a bin directory), the
# diagpack-jce of that build runs in the same rounds as "today", with the
# paired time ratio and the archive bytes against it.
#
# Usage: bench/archive_bench.sh [build dir] [rounds]
#   build dir: a Release build made here (default build-bench), configured
#              with -DCMAKE_BUILD_TYPE=Release -DDIAGPACK_BENCH=ON
#   rounds:    default 3 (plus one warm-up round that is not counted)
# Environment:
#   PLAIN_MIB, ROTATED_MIB  corpus sizes (defaults 1024 and 256; 0 skips one)
#   QUICK=1                 a quick run: 128 and 64 MiB
#   TODAY_REF, TODAY_BIN    the build to compare with (see above)
#   TODAY_SYSTEM_ZLIB=1     TODAY_REF built against the system's zlib
#   BENCH_TMP               where the corpora and scratch directories go
#                           (default $TMPDIR or /tmp), about 3.5 times the
#                           larger corpus at the peak; all removed at the end
# Example, on a quiet machine:
#   TODAY_REF=main bench/archive_bench.sh build-bench 5
# Needs root (a private mount namespace per run), python3, GNU tar, gzip,
# pigz and GNU time (/usr/bin/time, for the peak RSS); on Debian or Ubuntu:
#   apt-get install pigz time
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build-bench}
rounds=${2:-3}
if [ "${QUICK:-0}" = 1 ]; then plain_mib=${PLAIN_MIB:-128}; rotated_mib=${ROTATED_MIB:-64}
else plain_mib=${PLAIN_MIB:-1024}; rotated_mib=${ROTATED_MIB:-256}; fi

if [ "$(id -u)" -ne 0 ]; then echo "archive_bench: needs root (unshare -m)" >&2; exit 1; fi
missing=
for tool in python3 tar gzip pigz unshare cmake; do
  command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
[ -x /usr/bin/time ] || missing="$missing time(/usr/bin/time)"
if [ -n "$missing" ]; then
  echo "archive_bench: missing:$missing (e.g. apt-get install pigz time)" >&2
  exit 1
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DDIAGPACK_BENCH=ON >/dev/null
cmake --build "$build" --target diagpack-jce -j2 >/dev/null

work=$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/archive_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

today=${TODAY_BIN:-}
if [ -z "$today" ] && [ -n "${TODAY_REF:-}" ]; then
  echo "building $TODAY_REF as today's diagpack-jce ..."
  mkdir "$work/today-src"
  git -C "$root" archive "$TODAY_REF" | tar -x -C "$work/today-src"
  cmake -S "$work/today-src" -B "$work/today-build" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_TESTING=OFF "-DDIAGPACK_SYSTEM_ZLIB=${TODAY_SYSTEM_ZLIB:-0}" >/dev/null 2>&1
  cmake --build "$work/today-build" --target diagpack-jce -j2 >/dev/null
  today=$work/today-build/bin
fi

echo "machine: $(nproc) CPUs usable, load $(cut -d' ' -f1-3 /proc/loadavg)"
for corpus in plain rotated; do
  if [ "$corpus" = plain ]; then mib=$plain_mib; flag=; else mib=$rotated_mib; flag=--rotated; fi
  [ "$mib" -gt 0 ] || continue
  printf "\n=== %s corpus, %s MiB: generating in %s ...\n" "$corpus" "$mib" "$work/$corpus"
  python3 "$here/make_log_corpus.py" "$work/$corpus" "$mib" $flag
  mkdir "$work/run-$corpus"
  python3 "$here/archive_bench.py" --bin "$build/bin" --corpus "$work/$corpus" \
    --work "$work/run-$corpus" --rounds "$rounds" --targets "$corpus" \
    ${today:+--today "$today"}
  rm -rf "$work/$corpus" "$work/run-$corpus"
done
