#!/usr/bin/env bash
# Builds everything and runs every test; CI runs it through .ci/run.
#
#   bash scripts/test.sh           everything: the Release build and its tests; the build
#                                  under AddressSanitizer and UndefinedBehaviorSanitizer
#                                  (clang) with its tests and the fuzzers; then each
#                                  further stage scripts/test-*.sh (wine, fuzz smoke runs)
#   bash scripts/test.sh --quick   the daily loop: the Release build and every test but
#                                  those labelled slow (the fault sweep, the kill test)
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; }
quick=0
case "${1:-}" in
  "") ;;
  --quick) quick=1 ;;
  -h | --help) usage; exit 0 ;;
  *) usage >&2; exit 64 ;;
esac

bash scripts/setup.sh

jobs=$(nproc)
started=$SECONDS
stage() { printf '\n==== %s (at %d s) ====\n' "$*" $((SECONDS - started)); }

stage "Release build and tests"
bench=ON
((quick)) && bench=OFF
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DAUTORUN_WERROR=ON \
  -DAUTORUN_BUILD_BENCH=$bench >/dev/null
cmake --build build -j "$jobs"
if ((quick)); then
  ctest --test-dir build -j "$jobs" --output-on-failure -LE slow
  stage "quick run passed"
  exit 0
fi
ctest --test-dir build -j "$jobs" --output-on-failure

stage "AddressSanitizer and UndefinedBehaviorSanitizer build (clang, with the fuzzers) and tests"
CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DAUTORUN_WERROR=ON -DAUTORUN_BUILD_FUZZERS=ON >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -j "$jobs" --output-on-failure

export AUTORUN_BUILD_DIR=build AUTORUN_FUZZ_BUILD_DIR=build-asan
for extra in scripts/test-*.sh; do
  [ -e "$extra" ] || continue
  stage "$(basename "$extra" .sh)"
  bash "$extra"
done
stage "every test passed"
