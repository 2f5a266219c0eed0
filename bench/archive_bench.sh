#!/bin/sh
# The archive benchmark: a whole diagpack-jce run against `tar -czf` and
# `tar | pigz -6 -p2` on a 1 GiB log-like corpus, alternating, with medians,
# paired ratios, archive sizes and peak RSS (archive_bench.py says how).
#
# Usage: bench/archive_bench.sh [build dir] [rounds]
#   build dir: a Release build made here (default build-bench)
#   rounds:    default 3
# Environment: BENCH_TMP (default $TMPDIR or /tmp) holds the corpus and the
# scratch directories, about 3.5 GiB at the peak; all removed at the end.
# Needs root (a private mount namespace per run) and pigz.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build-bench}
rounds=${2:-3}

if [ "$(id -u)" -ne 0 ]; then echo "archive_bench: needs root (unshare -m)" >&2; exit 1; fi
if ! command -v pigz >/dev/null 2>&1; then
  echo "archive_bench: needs pigz (Debian: apt-get install pigz)" >&2; exit 1
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target diagpack-jce -j2 >/dev/null

work=$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/archive_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
echo "generating the corpus in $work/corpus ..."
python3 "$here/make_log_corpus.py" "$work/corpus" 1024
echo "machine: $(nproc) CPUs usable, load $(cut -d' ' -f1-3 /proc/loadavg)"
python3 "$here/archive_bench.py" --bin "$build/bin" --corpus "$work/corpus" \
  --work "$work" --rounds "$rounds"
