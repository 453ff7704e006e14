#!/usr/bin/env bash
# The Windows program: cross-builds autorun.exe, its test helpers and contract-tests.exe
# with mingw-w64 for x86-64 (build-win/) and for 32-bit x86 like the handheld
# (build-win32/), then runs the end-to-end tests under wine for each: the 64-bit build in
# a 64-bit prefix, the 32-bit build in a 32-bit one (screenshots and logs in
# <build>/artifacts/). A machine that cannot run 32-bit programs builds the 32-bit
# installer only and says so. Needs the host's autorun-config, which the Linux stage
# builds into build/ (override with AUTORUN_CONFIG_TOOL).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

config_tool=${AUTORUN_CONFIG_TOOL:-build/tools/autorun-config}
if [[ ! -x $config_tool ]]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j "$(nproc)" --target autorun-config
fi

run32=0
if bash scripts/runs-32-bit.sh &&
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
  run32=1
fi

# Each target compiles as one unit: the Windows headers are read once per target, not per file.
configure() { # build-dir toolchain
  cmake -S . -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/$2.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DAUTORUN_WERROR=ON -DCMAKE_UNITY_BUILD=ON >/dev/null
}
configure build-win mingw-w64-x86_64
configure build-win32 mingw-w64-i686
cmake --build build-win -j "$(nproc)"
if ((run32)); then
  cmake --build build-win32 -j "$(nproc)"
else
  cmake --build build-win32 -j "$(nproc)" --target autorun
fi
# The device-build gate: the handheld's branches compile, and neither autorun.exe imports
# anything that the handheld lacks.
bash scripts/check-device-build.sh build-win build-win32

failed=0
run() { # build-dir
  local started=$SECONDS
  rm -rf "$1/artifacts"
  timeout 600 bash tests/wine/run.sh "$1" "$config_tool" "$1/artifacts" || failed=1
  printf 'wine stage of %s: %d s\n' "$1" $((SECONDS - started))
}
run build-win
if ((run32)); then
  run build-win32
else
  printf '\nNOT RUN: the 32-bit build under 32-bit wine. This machine does not run 32-bit\n'
  printf 'programs (scripts/runs-32-bit.sh), so wine32 cannot start; build-win32/autorun.exe\n'
  printf 'was built and nothing of it was tested.\n'
fi
# The registry file carried to wine's registry editor and back.
sim_tool=${AUTORUN_SIM_TOOL:-build/tools/autorun-sim}
[[ -x $sim_tool ]] || cmake --build build --target autorun-sim >/dev/null
timeout 300 bash tests/wine/regedit_roundtrip.sh "$sim_tool" "$config_tool" || failed=1
exit "$failed"
