#!/usr/bin/env bash
# Keeps the fuzzers building and working, and the simulated device clean under valgrind:
#  1. builds every fuzzer (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer;
#     in AUTORUN_FUZZ_BUILD_DIR when that build has them, as the test command's sanitizer
#     build does, else in build-fuzz/) and runs each for a fixed number of inputs, starting from the seeds taken from the
#     tests and the inputs that once broke a reader (fuzz/regressions/);
#  2. runs autorun-sim under valgrind on the demo device: installation, update from a
#     newer card, card removal.
# Long fuzzing runs: fuzz/README.md.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
fuzz_build=${AUTORUN_FUZZ_BUILD_DIR:-build-fuzz}
build=${AUTORUN_BUILD_DIR:-build}
stage() { printf '\n---- %s ----\n' "$*"; }

stage "fuzzers: build"
fuzzers=(config_text config_file logo version_stamp registry_location sim_registry device_config)
if ! grep -qs '^AUTORUN_BUILD_FUZZERS:BOOL=ON' "$fuzz_build/CMakeCache.txt"; then
  CC=clang CXX=clang++ cmake -S . -B "$fuzz_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DAUTORUN_BUILD_FUZZERS=ON -DAUTORUN_BUILD_TESTS=OFF -DAUTORUN_WERROR=ON >/dev/null
fi
cmake --build "$fuzz_build" -j "$jobs" --target "${fuzzers[@]/#/fuzz_}"
rm -rf "$fuzz_build/seeds"
python3 fuzz/make_seeds.py . "$fuzz_build/seeds"

# Inputs per fuzzer: the logo and configuration fuzzers work on larger inputs and are
# slower per input.
declare -A runs=(
  [config_text]=2000 [config_file]=2000 [logo]=1500 [version_stamp]=20000
  [registry_location]=20000 [sim_registry]=5000 [device_config]=5000
)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for name in "${fuzzers[@]}"; do
  stage "fuzz_$name: ${runs[$name]} inputs"
  corpora=("$work/$name" "$fuzz_build/seeds/$name")
  mkdir -p "$work/$name"
  [ -d "fuzz/regressions/$name" ] && corpora+=("fuzz/regressions/$name")
  "$fuzz_build/fuzz/fuzz_$name" -runs="${runs[$name]}" -max_len=8192 -timeout=30 \
    -artifact_prefix="$work/$name-" -print_final_stats=1 "${corpora[@]}" 2>"$work/$name.log" ||
    { cat "$work/$name.log"; echo "fuzz_$name failed; the input is in the log above"; exit 1; }
  grep -E '^Done [0-9]+ runs|^#[0-9]+ *DONE' "$work/$name.log" | tail -n 1
done

stage "autorun-sim under valgrind on the demo device"
[ -e "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$jobs" --target autorun-sim autorun-config
device="$work/demo-device"
python3 demo/build_image.py --config-tool "$build/tools/autorun-config" --out "$device" --version 1 >/dev/null
grind() {
  echo "\$ autorun-sim --device DEMO $*"
  local code=0
  valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect \
    --errors-for-leak-kinds=definite,indirect "$build/tools/autorun-sim" --device "$device" \
    --trace "$work/trace.jsonl" "$@" </dev/null || code=$?
  # 99 is valgrind's own verdict; anything else is the installer's exit code.
  if [ "$code" -ne 0 ]; then echo "exit code $code"; return 1; fi
}
grind --answers yes -- install
python3 demo/build_image.py --config-tool "$build/tools/autorun-config" --out "$device" --version 2 \
  --card-only >/dev/null
grind --answers yes -- install
grind -- uninstall
echo "valgrind: no errors and no leaks"
