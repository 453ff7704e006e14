#!/usr/bin/env bash
# Times the installer against the limits the machine sets: on a generated card tree of
# 20000 files in 2000 folders and 1 GiB, `find` over the source (enumeration limit) beside
# autorun-plan (the install flow's planning through the simulated device), and `cp -r` of
# the source (copy limit) beside autorun-sim installing it with its progress bar drawn on
# a terminal (run under `script`, which gives it one; script's own share, timed alone, is
# taken off). Also the start-up on the demo
# device: from process start to the install question, answered No.
#
# Every command runs once to warm the caches, then the copies RUNS times (default 3) and
# the walks WALKS times (default 3 x RUNS); the best time counts. Data is flushed (sync)
# before each timed run, and no copy is deleted before the end (see reset_copy), so the
# disk needs about (2 x RUNS + 3) GiB free. Peak memory is the maximum resident set size
# that /usr/bin/time reports.
#
# AUTORUN_BUILD_DIR chooses the build folder (default: build); WORK the folder for the
# tree (default: a new folder in /tmp, removed at the end unless KEEP is set, for profiling).
set -euo pipefail
started=${EPOCHREALTIME%%[!0-9]*}
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=${AUTORUN_BUILD_DIR:-build}
runs=${RUNS:-3}
walks=${WALKS:-$((runs * 3))}
if [ -z "${AUTORUN_NO_BUILD:-}" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DAUTORUN_BUILD_BENCH=ON >/dev/null
  cmake --build "$build" -j "$(nproc)" --target autorun-sim autorun-config autorun-plan >/dev/null
fi
sim=$(realpath "$build/tools/autorun-sim")
plan=$(realpath "$build/bench/autorun-plan")
config_tool=$(realpath "$build/tools/autorun-config")

work=${WORK:-$(mktemp -d /tmp/autorun-compare.XXXXXX)}
[ -n "${KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
device="$work/device"
maps="$device/fs/Storage Card/Maps"

folders=${FOLDERS:-2000}
files=${FILES:-20000}
file_bytes=${FILE_BYTES:-53688} # 20000 files of this size make just over 1 GiB

echo "making the card tree: $files files in $folders folders, $((files * file_bytes)) bytes"
"$sim" init "$device"
python3 - "$maps" "$folders" "$files" "$file_bytes" <<'PY'
import os, sys
root, folders, files, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
block = os.urandom(1 << 20)
per_folder = files // folders
n = 0
for group in range(folders // 10):
    top = os.path.join(root, "region%d" % group)
    for sub in range(10):
        folder = top if sub == 0 else os.path.join(top, "tile%d" % sub)
        os.makedirs(folder, exist_ok=True)
        for f in range(per_folder):
            start = (n * 4099) % (len(block) - size)
            with open(os.path.join(folder, "part%d.map" % f), "wb") as out:
                out.write(block[start:start + size])
            n += 1
PY
mkdir -p "$device/fs/Storage Card/2577"
cat >"$work/autorun.txt" <<'CFG'
[common]
brand = "Atlas Navigator"
website = "www.atlas-nav.example"
[install]
title = "%s Setup"
question = "Install %s on this device?"
[registry]
installed = "HKLM\\Software\\Atlas\\Navigator\\Installed"
[install_actions]
makedir_1 = "%PROGRAM_FILES%\\Atlas Maps"
src_1 = "\\Maps"
dst_1 = "${makedir_1}"
CFG
"$config_tool" encode "$work/autorun.txt" "$device/fs/Storage Card/2577/autorun_8.qlm"
cp "$device/registry.reg" "$work/registry.clean"

# ext4 without a journal (this machine's root) passes over every inode freed in the last
# minute when it makes a file, reading each: a copy made right after a large deletion (an
# earlier run's clean-up) costs up to three times as much, by chance of where it lands.
# So nothing is timed until a minute after the start, and nothing is deleted before the end.
sync
while ((${EPOCHREALTIME%%[!0-9]*} - started < 60)); do sleep 1; done

# time_once NAME RESET COMMAND...: runs RESET (untimed), then COMMAND once, timed; keeps the
# best time in best_<NAME> (nanoseconds). The clock is bash's own: running `date` would add
# its own start (milliseconds here) to every time.
time_once() {
  local name=$1 reset=$2 start elapsed best_var
  shift 2
  eval "$reset"
  sync
  start=${EPOCHREALTIME//[!0-9]/}
  "$@" >/dev/null
  elapsed=$(((${EPOCHREALTIME//[!0-9]/} - start) * 1000))
  printf '  %-10s %10s ms\n' "$name" "$(awk -v n="$elapsed" 'BEGIN { printf "%.1f", n / 1e6 }')"
  best_var="best_$name"
  if [ -z "${!best_var:-}" ] || ((elapsed < ${!best_var})); then printf -v "$best_var" '%s' "$elapsed"; fi
}
# best_of NAME RESET COMMAND...: COMMAND once to warm up, then RUNS times; the best counts.
best_of() {
  local name=$1 reset=$2 i
  shift 2
  eval "$reset"
  "$@" >/dev/null
  for ((i = 1; i <= runs; i++)); do time_once "$name" "$reset" "$@"; done
}

# Earlier copies are moved aside, not deleted, until the end (see above).
aside="$work/aside"
mkdir -p "$aside"
copies=0
copy_target="$aside/cp-target"
installed="$device/fs/Program Files/Atlas Maps"
move_aside() {
  copies=$((copies + 1))
  if [ -e "$1" ]; then mv "$1" "$aside/$copies"; fi
}
# Before each copy the page cache goes back to the same state: the written data on disk
# and out of memory, the source (and the programs) in it, as after reading the card once.
# Otherwise each copy's gigabyte stays cached, and later copies pay for making room.
settle() {
  sync
  if [ -w /proc/sys/vm/drop_caches ]; then echo 3 >/proc/sys/vm/drop_caches; fi
  find "$maps" -type f -exec cat {} + >/dev/null
  "$sim" --help >/dev/null
  cp --version >/dev/null
}
reset_copy() {
  move_aside "$copy_target"
  settle
}
reset_install() {
  move_aside "$installed"
  cp "$work/registry.clean" "$device/registry.reg"
  settle
}
# `script` gives its command a terminal. Its own start, and its waits for more output
# after the input ends and after the command ends (10 ms each), are not the installer's:
# they are timed alone (`terminal`) and taken off the installation's time.
on_terminal() { script -qec "$1" /dev/null </dev/null; }
install_command="'$sim' --device '$device' --answers yes,no,no,no -- install"
install_on_terminal() { on_terminal "$install_command"; }
plan_with_memory() { /usr/bin/time -f %M -o "$work/plan.rss" "$plan" --device "$device"; }

echo "timing: a warm-up run of each, then the best of $runs copies and $walks walks"
# The walks take turns, so that each sees the machine as the others do; being short, they
# run more often than the copies.
# The planner needs every file's size (the free-space check, the progress total); on this
# host that is a stat per file, which find does not do unless asked for sizes.
find "$maps" >/dev/null
find "$maps" -printf '%s %p\n' >/dev/null
"$plan" --device "$device" >/dev/null
for ((i = 1; i <= walks; i++)); do
  time_once find : find "$maps"
  time_once findsize : find "$maps" -printf '%s %p\n'
  time_once plan : "$plan" --device "$device"
  time_once terminal : on_terminal true
done
plan_with_memory >/dev/null # untimed: GNU time's own start would count against the planning
# The disk's state (write-back of earlier runs) moves copy times a lot, so the copies and
# the installations take turns, each after a sync.
reset_copy
cp -r "$maps" "$copy_target"
reset_install
# Untimed: GNU time's own start would count against the installation.
on_terminal "/usr/bin/time -f %M -o '$work/install.rss' $install_command" >/dev/null
for ((i = 1; i <= runs; i++)); do
  time_once cp reset_copy cp -r "$maps" "$copy_target"
  time_once install reset_install install_on_terminal
done

# The result must be the whole tree, as cp made it.
planned=$("$plan" --device "$device")
copied=$(find "$installed" -type f | wc -l)
if [ "$copied" -ne "$files" ] || ! diff -rq "$maps" "$installed" >/dev/null; then
  echo "compare: the installation is not a copy of the card tree ($copied files)" >&2
  exit 1
fi

# Start-up: the demo device, from process start to the install question (answered No, so
# the run ends there).
demo="$work/demo"
python3 demo/build_image.py --config-tool "$config_tool" --out "$demo" --version 1 >/dev/null
best_of startup : "$sim" --device "$demo" --answers no -- install
/usr/bin/time -f %M -o "$work/startup.rss" "$sim" --device "$demo" --answers no -- install >/dev/null || true

ms() { awk -v n="$1" 'BEGIN { printf "%10.1f ms", n / 1e6 }'; }
plain_ms() { awk -v n="$1" 'BEGIN { printf "%.1f ms", n / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo
echo "plan: $planned"
printf '%-44s %s\n' "find over the source (enumeration limit)" "$(ms "$best_find")"
printf '%-44s %s\n' "find with sizes (a stat per file)" "$(ms "$best_findsize")"
printf '%-44s %s   %s x find, %s x find with sizes (target <= 1.5)\n' \
  "autorun-sim planning (autorun-plan)" "$(ms "$best_plan")" "$(ratio "$best_plan" "$best_find")" \
  "$(ratio "$best_plan" "$best_findsize")"
printf '%-44s %s\n' "cp -r of the source (copy limit)" "$(ms "$best_cp")"
net_install=$((best_install - best_terminal))
printf '%-44s %s   %s x cp -r (target <= 1.15)\n' "autorun-sim installing, progress on" \
  "$(ms "$net_install")" "$(ratio "$net_install" "$best_cp")"
printf '%-44s (%s under script, whose own share is %s)\n' "" \
  "$(plain_ms "$best_install")" "$(plain_ms "$best_terminal")"
printf '%-44s %s   (target < 20 ms)\n' "start-up to the question, demo device" "$(ms "$best_startup")"
printf '%-44s %8s KiB (target < 65536 KiB)\n' "peak memory, installing" "$(cat "$work/install.rss")"
printf '%-44s %8s KiB\n' "peak memory, planning" "$(cat "$work/plan.rss")"
printf '%-44s %8s KiB\n' "peak memory, start-up" "$(cat "$work/startup.rss")"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores"
