#!/bin/sh
# Copies a 40 GiB sparse file holding a few megabytes of data with
# copy_file and checks that the copy is byte-identical and stays small on
# disk. Usage: bench/sparse_copy.sh [build dir]   (default build-bench)
# The file lives under $TMPDIR (default /tmp), which must support holes.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build-bench}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DDIAGPACK_BENCH=ON >/dev/null
cmake --build "$build" --target copy_file_bench >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/sparse_copy.XXXXXX")
trap 'rm -rf "$work"' EXIT
src=$work/src
dst=$work/dst

# 40 GiB apparent size; data: 1 MiB at 0, 4 MiB at 10 GiB, 1 MiB at 25 GiB,
# 4 KiB just before the end, so the file ends in data.
truncate -s 40G "$src"
dd if=/dev/urandom of="$src" bs=1M count=1 conv=notrunc status=none
dd if=/dev/urandom of="$src" bs=1M count=4 seek=10240 conv=notrunc status=none
dd if=/dev/urandom of="$src" bs=1M count=1 seek=25600 conv=notrunc status=none
dd if=/dev/urandom of="$src" bs=4K count=1 seek=$((40 * 262144 - 1)) conv=notrunc status=none
# and a copy of it that ends in a hole.
src2=$work/src2
dst2=$work/dst2
truncate -s 40G "$src2"
dd if=/dev/urandom of="$src2" bs=1M count=2 seek=20480 conv=notrunc status=none

for pair in "$src $dst" "$src2 $dst2"; do
  set -- $pair
  echo "source: $(stat -c %s "$1") bytes, $(du -k "$1" | cut -f1) KiB on disk"
  "$build/bench/copy_file_bench" "$1" "$2"
  echo "copy:   $(stat -c %s "$2") bytes, $(du -k "$2" | cut -f1) KiB on disk"
  if cmp "$1" "$2"; then echo "cmp: identical"; else echo "cmp: DIFFERENT"; exit 1; fi
  if [ "$(du -k "$2" | cut -f1)" -gt $(( $(du -k "$1" | cut -f1) + 1024 )) ]; then
    echo "copy is not sparse"; exit 1
  fi
done
