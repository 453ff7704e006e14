#!/usr/bin/env bash
# The device-build gate (cmake/wince/), run by scripts/test-wine.sh; it takes seconds.
#
#   scripts/check-device-build.sh [WINDOWS_BUILD_DIR...]      default: build-win
#
# 1. The Win32 layer and the Windows entry compile for the handheld: _WIN32_WCE defined,
#    syntax only, with a 32-bit compiler (16-bit wchar_t) against the declarations in
#    cmake/wince/include, written from the handheld's documented API.
# 2. Every function that each build's autorun.exe imports has a counterpart on the handheld
#    (cmake/wince/device_api.txt), and the installer's own code calls nothing else.
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
  -h | --help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac

python3 cmake/wince/check_device_build.py syntax .
builds=("$@")
((${#builds[@]})) || builds=(build-win)
python3 cmake/wince/check_device_build.py imports . "${builds[@]}"
