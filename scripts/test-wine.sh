#!/usr/bin/env bash
# The Windows program: cross-builds autorun.exe and its test helpers with mingw-w64 into
# build-win/, then runs the end-to-end tests under wine (screenshots in
# build-win/artifacts/). Needs the host's autorun-config, which the Linux stage builds
# into build/ (override with AUTORUN_CONFIG_TOOL).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=build-win
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DAUTORUN_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
# The device-build gate: the handheld's branches compile, and autorun.exe imports nothing
# that the handheld lacks.
bash scripts/check-device-build.sh "$build"

config_tool=${AUTORUN_CONFIG_TOOL:-build/tools/autorun-config}
if [[ ! -x $config_tool ]]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j "$(nproc)" --target autorun-config
fi

rm -rf "$build/artifacts"
timeout 600 bash tests/wine/run.sh "$build" "$config_tool" "$build/artifacts"
sim_tool=${AUTORUN_SIM_TOOL:-build/tools/autorun-sim}; [[ -x $sim_tool ]] || cmake --build build --target autorun-sim >/dev/null; timeout 300 bash tests/wine/regedit_roundtrip.sh "$sim_tool" "$config_tool"
