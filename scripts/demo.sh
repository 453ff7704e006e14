#!/usr/bin/env bash
# The main job: builds the installer's Linux programs, makes the demo device with its
# storage card, and runs the installer on it as the device shell does when the card goes
# in. Then a second card with a newer build goes in and the installer offers the update.
#
# On a terminal the installer's questions are asked there and the installation shows a
# progress bar; without one every question is answered Yes.
# AUTORUN_BUILD_DIR chooses the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=${AUTORUN_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target autorun-config autorun-sim
config_tool="$build/tools/autorun-config"
sim="$build/tools/autorun-sim"

demo="$build/demo"
device="$demo/device"
mkdir -p "$demo"

if [ -t 0 ] && [ -t 1 ]; then
  answers=()
  how="the questions are asked here"
else
  answers=(--answers yes)
  how="no terminal: every question is answered Yes"
fi

banner() { printf '\n==== %s ====\n' "$*"; }

# Runs the installer with the shell's argument for an inserted card, then shows what it
# changed on the device.
insert_card() {
  local run=$1
  python3 demo/report.py snapshot "$device" "$demo/before-$run.json"
  echo "\$ autorun-sim --device $device ${answers[*]:+${answers[*]} }-- install    ($how)"
  local code=0
  "$sim" --device "$device" --trace "$demo/trace-$run.jsonl" "${answers[@]}" -- install || code=$?
  echo "installer exit code: $code"
  python3 demo/report.py changes "$demo/before-$run.json" "$device" "$demo/trace-$run.jsonl"
}

banner "The demo device and its storage card"
python3 demo/build_image.py --config-tool "$config_tool" --out "$device" --version 1
echo "device image: $device (fs/ is the device's root, registry.reg its registry)"
echo "card: \\Storage Card, with the installer in 2577\\ and Atlas Navigator 1.4 in Atlas\\"
echo
echo "The card's files:"
(cd "$device/fs/Storage Card" && find . -type f | sort | sed 's|^\./|  \\Storage Card\\|; s|/|\\|g')
echo
echo "Part of its configuration (demo/config/autorun.txt, enciphered on the card), as the"
echo "installer holds it after loading (all of it: autorun-config dump FILE):"
"$config_tool" dump "$device/fs/Storage Card/2577/autorun_8.qlm" |
  grep -E '^(common/brand|navigation/|registry/|upgrade/)' | sed 's/^/  /'

banner "Before any device: the card checked, planned and built"
card="$device/fs/Storage Card"
echo "\$ autorun-config check demo/config/autorun.txt --card <card>"
"$config_tool" check demo/config/autorun.txt --card "$card" && echo "no errors"
echo
echo "\$ autorun-config plan demo/config/autorun.txt --card <card>    (the first steps)"
"$config_tool" plan demo/config/autorun.txt --card "$card" | head -n 8
echo "  ..."
echo
rm -rf "$demo/built-card" "$demo/card.img"
echo "\$ autorun-config build demo/config/autorun.txt --files <card> --out $demo/built-card --image $demo/card.img"
"$config_tool" build demo/config/autorun.txt --files "$card" --out "$demo/built-card" \
  --image "$demo/card.img"
echo "The image's files, as mtools lists them:"
MTOOLS_SKIP_CHECK=1 mdir -/ -b -i "$demo/card.img" ::/ | grep -v '/$' | sed 's/^/  /'

banner "1. The card goes into a device without the application"
insert_card 1

banner "2. The user works with the application"
# What the running program and its user would store: settings an update carries over.
python3 demo/report.py set-dword "$device" 'HKCU\Software\Atlas\Navigator\Settings' Units 2
python3 demo/report.py set-string "$device" 'HKCU\Software\Atlas\Navigator\Settings' LastRoute 'Home - Office'
python3 demo/report.py set-dword "$device" 'HKLM\Software\Atlas\Navigator' Autorun 1
echo "stored on the device: Units = 2 (the installation wrote 1), LastRoute = \"Home - Office\","
echo "Autorun = 1 (start the program whenever the card goes in; the installation wrote 0)"

banner "3. A second card with Atlas Navigator 1.5 goes in"
python3 demo/build_image.py --config-tool "$config_tool" --out "$device" --version 2 --card-only
insert_card 2

banner "Done"
echo "The device image stays in $device; the traces are $demo/trace-1.jsonl and"
echo "$demo/trace-2.jsonl. Run the installer again by hand, for example the card's removal:"
echo "  $sim --device $device --trace /dev/stdout -- uninstall"
