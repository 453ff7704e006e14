#!/usr/bin/env bash
# Builds everything and runs every test; CI runs it through .ci/run.
#
#   bash scripts/test.sh           everything: the Release build and its tests; the build
#                                  under AddressSanitizer and UndefinedBehaviorSanitizer
#                                  (clang, with the fuzzers) and its tests; the Windows
#                                  program under wine (scripts/test-wine.sh, alongside);
#                                  the fuzzers' smoke runs and valgrind (test-fuzz.sh);
#                                  then any further stage scripts/test-*.sh
#   bash scripts/test.sh --quick   the daily loop: the Release build and every test but
#                                  those labelled slow (the fault sweep, the kill test)
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; }
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

stage "Release build"
bench=ON
((quick)) && bench=OFF
# lld links the test programs in a fraction of the time the default linker takes.
linker=()
command -v ld.lld >/dev/null && linker=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DAUTORUN_WERROR=ON \
  -DAUTORUN_BUILD_BENCH=$bench "${linker[@]}" >/dev/null
cmake --build build -j "$jobs"
if ((quick)); then
  stage "Release tests but the slow ones"
  ctest --test-dir build -j "$jobs" --output-on-failure -LE slow
  stage "quick run passed"
  exit 0
fi

# The wine stage mostly waits on one core: it runs alongside the rest, into a log of its
# own that is shown when it ends.
export AUTORUN_BUILD_DIR=build AUTORUN_FUZZ_BUILD_DIR=build-asan
mkdir -p build/logs
bash scripts/test-wine.sh >build/logs/wine.log 2>&1 &
wine_pid=$!
wine_result() {
  local code=0
  wait "$wine_pid" || code=$?
  stage "test-wine (ran alongside; its log follows)"
  cat build/logs/wine.log
  return "$code"
}
trap 'kill "$wine_pid" 2>/dev/null || true' EXIT

stage "Release tests"
ctest --test-dir build -j "$jobs" --output-on-failure

stage "AddressSanitizer and UndefinedBehaviorSanitizer build (clang, with the fuzzers)"
# One unit per target: the Release build above already compiles every file on its own.
# Line tables are all the sanitizers' reports need, at two thirds of full debug info's cost.
CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_FLAGS_DEBUG=-gline-tables-only -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only \
  -DAUTORUN_WERROR=ON -DAUTORUN_BUILD_FUZZERS=ON -DCMAKE_UNITY_BUILD=ON "${linker[@]}" >/dev/null
cmake --build build-asan -j "$jobs"

stage "AddressSanitizer and UndefinedBehaviorSanitizer tests"
# Eight frames of where a block was allocated and freed are enough to find it, and
# recording the default thirty is a fifth of the fault sweep's time. The sweep's parent
# only waits on its children, so one test more than there are cores keeps them busy.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:malloc_context_size=8 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -j $((jobs + 1)) --output-on-failure

stage "test-fuzz"
bash scripts/test-fuzz.sh

wine_result
trap - EXIT

for extra in scripts/test-*.sh; do
  case "$extra" in scripts/test-wine.sh | scripts/test-fuzz.sh) continue ;; esac
  stage "$(basename "$extra" .sh)"
  bash "$extra"
done
stage "every test passed"
