#!/usr/bin/env bash
# Runs the unit tests and the end-to-end suite under valgrind's memcheck.
# Any memcheck error makes the run exit 99, which fails the test.
# Usage: scripts/memcheck.sh [ctest -R regex]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh build test memcheck
build=${MEMCHECK_BUILD:-build-memcheck}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"

valgrind="valgrind --error-exitcode=99 --quiet --trace-children=no"
echo "memcheck: unit tests"
# Under valgrind posix_spawn cannot report a failed exec (the child just
# exits 127), so the tests of a program that cannot run are left out here;
# so are the starts under seccomp filters, which valgrind's own calls meet.
$valgrind --leak-check=full "$build/tools/diagpack/tests/diagpack_unit_tests" \
  --gtest_brief=1 \
  --gtest_filter=-ChildProcess.MissingProgramIsOsError:ChildProcess.StartsTheSameWhereSpawnIsRefused

echo "memcheck: end-to-end tests"
# memcheck reports go to files, not to the tool's standard error, which the
# tests read (and sometimes close); an error still makes the tool exit 99.
logs=$(mktemp -d "${TMPDIR:-/tmp}/diagpack-memcheck.XXXXXX")
chmod 1777 "$logs"
cd "$build"
status=0
DIAGPACK_E2E_WRAPPER="$valgrind --leak-check=full --log-file=$logs/%p.log" \
  ctest -j"$(nproc)" --output-on-failure -R "${1:-^e2e_}" || status=$?
reports=$(grep -l "ERROR SUMMARY: [1-9]\|Invalid \|uninitialised\|definitely lost" "$logs"/*.log 2>/dev/null || true)
if [ -n "$reports" ]; then
  echo "memcheck: errors reported in:" $reports
  cat $reports
  status=1
fi
rm -rf "$logs"
exit $status
