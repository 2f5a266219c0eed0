#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for N seconds.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
#   SECONDS  time for each target (default 60)
#   TARGET   e.g. json_reader_fuzz; default: every tools/diagpack/tests/fuzz/*_fuzz.cpp
# Each target X_fuzz starts from a temporary copy of
# tools/diagpack/tests/fuzz/corpus/X/ (new inputs never land in the
# repository) and uses tools/diagpack/tests/fuzz/X.dict when there is one.
# A crash leaves its input in the build directory's fuzz-artifacts/ and
# makes the script exit non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
fuzz_dir=tools/diagpack/tests/fuzz
build=${FUZZ_BUILD:-build-fuzz}

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$fuzz_dir"/*_fuzz.cpp; do
    [ -e "$source" ] || continue
    targets+=("$(basename "$source" .cpp)")
  done
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no targets in $fuzz_dir" >&2
  exit 1
fi

scripts/install-deps.sh build fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DDIAGPACK_FUZZ=ON -DBUILD_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

work=$(mktemp -d "${TMPDIR:-/tmp}/diagpack-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}

status=0
for target in "${targets[@]}"; do
  name=${target%_fuzz}
  corpus="$work/$name"
  mkdir -p "$corpus"
  if [ -d "$fuzz_dir/corpus/$name" ]; then
    cp -R "$fuzz_dir/corpus/$name/." "$corpus/"
  fi
  options=(-max_total_time="$seconds" -print_final_stats=1
           -artifact_prefix="$artifacts/$target-")
  [ -f "$fuzz_dir/$name.dict" ] && options+=(-dict="$fuzz_dir/$name.dict")
  echo "fuzz: $target for ${seconds}s"
  if ! "$build/fuzz/$target" "${options[@]}" "$corpus" 2>"$work/$target.log"; then
    tail -n 60 "$work/$target.log" >&2
    echo "fuzz: $target FAILED (inputs in $artifacts)" >&2
    status=1
    continue
  fi
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^Done ' \
    "$work/$target.log" || true
done
exit $status
