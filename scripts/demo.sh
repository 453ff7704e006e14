#!/usr/bin/env bash
# The main job: builds the programs and runs them on the bundled demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target autorun-config
echo "== the sample configuration, as the installer would hold it after loading =="
./build/tools/autorun-config encode demo/config/autorun.txt build/demo-autorun_8.qlm
./build/tools/autorun-config dump build/demo-autorun_8.qlm
