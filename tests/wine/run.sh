#!/usr/bin/env bash
# End-to-end tests of autorun.exe under wine: a fresh wine prefix with a storage card laid
# out in its drive C:, a headless X server, and driver.exe playing the user.
#
#   tests/wine/run.sh WINDOWS_BUILD_DIR CONFIG_TOOL ARTIFACTS_DIR
#
# WINDOWS_BUILD_DIR holds autorun.exe, driver.exe, platform-check.exe, contract-tests.exe,
# navigator.exe, Note_prj.dll and selfreg.dll, all built for one architecture: x86-64
# runs in a 64-bit prefix, 32-bit x86 in a 32-bit one (wine32). CONFIG_TOOL is the host's
# autorun-config. Screenshots go to ARTIFACTS_DIR. Set AUTORUN_WINE_KEEP=1 to keep the
# prefix for a look afterwards.
set -euo pipefail

if (($# != 3)); then
  echo "usage: $0 WINDOWS_BUILD_DIR CONFIG_TOOL ARTIFACTS_DIR" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$1" && pwd)
config_tool=$(realpath "$2")
mkdir -p "$3"
artifacts=$(cd "$3" && pwd)

# Every wait has a limit; a whole installer run never takes longer than this.
readonly run_limit=90
readonly dialog_ms=30000

tmp=$(mktemp -d /tmp/autorun-wine.XXXXXX)
log="$artifacts/wine.log"
: >"$log"
xvfb_pid=
program_pid=
hold_pid=

# The machine type in a program's PE header: 8664 for x86-64, 014c for 32-bit x86.
pe_machine() {
  local header
  header=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
  od -An -t x2 -j $((header + 4)) -N 2 "$1" | tr -d ' '
}
machine=$(pe_machine "$bin/autorun.exe")
case $machine in
  8664) arch=win64 ;;
  014c) arch=win32 ;;
  *)
    echo "$bin/autorun.exe: unknown machine type '$machine'" >&2
    exit 2
    ;;
esac
# A program of the other architecture would not run, and a 32-bit one on a wine without
# wine32 crashes while wine still returns 0: every program must be of the same kind.
for program in driver.exe platform-check.exe contract-tests.exe navigator.exe Note_prj.dll \
  selfreg.dll; do
  if [[ $(pe_machine "$bin/$program") != "$machine" ]]; then
    echo "$bin/$program is not built for the machine of autorun.exe ($machine)" >&2
    exit 2
  fi
done

export WINEPREFIX="$tmp/prefix" WINEARCH=$arch WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

cleanup() {
  set +e
  for pid in $program_pid $hold_pid; do kill "$pid" 2>/dev/null; done
  if [[ -d $WINEPREFIX ]]; then
    timeout 20 wineserver -k 2>/dev/null
    timeout 20 wineserver -w 2>/dev/null
  fi
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  if [[ ${AUTORUN_WINE_KEEP:-0} == 1 ]]; then
    echo "wine prefix kept in $WINEPREFIX"
  else
    rm -rf "$tmp"
  fi
}
trap cleanup EXIT
# A stage time limit ends the script through its clean-up as well.
trap 'exit 143' TERM INT

failures=0
ok() { printf '  ok    %s\n' "$1"; }
bad() {
  printf '  FAIL  %s\n' "$1"
  failures=$((failures + 1))
}
expect_eq() { # actual expected what
  if [[ $1 == "$2" ]]; then ok "$3"; else bad "$3: got '$1', expected '$2'"; fi
}
expect_file() { if [[ -f $1 ]]; then ok "$2"; else bad "$2: $1 is missing"; fi; }
expect_no_path() { if [[ ! -e $1 ]]; then ok "$2"; else bad "$2: $1 exists"; fi; }
case_title() { printf '\n== %s\n' "$1"; }

# ---- The machine: X server, wine prefix -------------------------------------------------

Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$tmp/display" >>"$log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s $tmp/display ]] && break; sleep 0.1; done
[[ -s $tmp/display ]] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$tmp/display")"

echo "$arch wine prefix in $WINEPREFIX, display $DISPLAY"
timeout 180 wineboot -i >>"$log" 2>&1
timeout 120 wineserver -w
# A crash must never pass for a success: a program that prints its usage and exits with 2
# shows that this wine runs programs of this architecture and passes their exit codes back.
probe=0
usage=$(timeout 60 wine "$bin/platform-check.exe" 2>>"$log") || probe=$?
if ((probe != 2)) || [[ $usage != *"usage: platform-check"* ]]; then
  echo "wine does not run $arch programs here (platform-check.exe without arguments gave" \
    "$probe, not 2 and its usage); a 32-bit build needs wine32 (scripts/setup.sh)" >&2
  exit 1
fi
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
# Plain Xvfb has no window manager: wine's virtual desktop draws the title bars.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >>"$log" 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >>"$log" 2>&1
# One server for all the runs below (it detaches); stopped by the clean-up.
timeout 60 wineserver -w
wineserver -p

drive_c="$WINEPREFIX/drive_c"
card="$drive_c/Storage Card"
tools="$drive_c/tools"
program_files="$drive_c/Program Files"
installed="$program_files/Atlas"

# ---- Helpers ------------------------------------------------------------------------------

# Starts a program in the background from a folder inside the prefix's drive, so that the
# device's rooted paths ("\Storage Card\...") resolve on C:.
start_program() { # folder exe args...
  local folder=$1 exe=$2
  shift 2
  (cd "$folder" && exec timeout -k 5 "$run_limit" wine "$exe" "$@") >>"$log" 2>&1 &
  program_pid=$!
}
expect_exit() { # code what
  local rc=0
  if [[ -z $program_pid ]]; then
    bad "$2: the run was abandoned"
    return
  fi
  wait "$program_pid" || rc=$?
  program_pid=
  expect_eq "$rc" "$1" "$2"
}
# Gives up on a run whose dialog never came.
abandon_program() {
  [[ -n $program_pid ]] || return 0
  kill "$program_pid" 2>/dev/null || true
  wait "$program_pid" 2>/dev/null || true
  program_pid=
}

driver() { timeout -k 5 120 wine "$tools/driver.exe" "$@" 2>>"$log" | tr -d '\r'; }
press() { # caption id what
  if driver press "$1" "$2" "$dialog_ms" >/dev/null; then
    ok "$3"
  else
    bad "$3 (no dialog \"$1\")"
    abandon_program
  fi
}
expect_text() { # caption text what
  local texts
  if texts=$(driver expect-text "$1" "$2" "$dialog_ms"); then
    ok "$3"
  else
    bad "$3: \"$2\" not shown; the dialog showed: $(tr '\n' '|' <<<"$texts")"
  fi
}

reg_value() { # key name: the value's data, nothing when it is absent
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    awk -v name="$2" '$1 == name { sub(/^[ \t]*[^ \t]+[ \t]+[^ \t]+[ \t]+/, ""); print; exit }'
}
expect_reg() { expect_eq "$(reg_value "$1" "$2")" "$3" "$1\\$2 = $3"; }
expect_no_key() {
  if wine reg query "$1" >/dev/null 2>&1; then bad "$1 still exists"; else ok "$1 absent"; fi
}

# A screenshot of the whole screen, taken again (a few times) until the screen is painted:
# not blank, and showing the configured logo, whose upper half is pure magenta.
screenshot() { # name what
  local file="$artifacts/$1.png" colours=0 magenta=0
  for _ in 1 2 3 4 5; do
    sleep 1
    import -display "$DISPLAY" -window root "$file"
    colours=$(/usr/bin/convert "$file" -format %k info:)
    magenta=$(/usr/bin/convert "$file" -fill black +opaque '#FF00FF' -fill white \
      -opaque '#FF00FF' -format '%[fx:round(mean*w*h)]' info:)
    if ((colours > 16 && magenta >= 84 * 40)); then
      ok "$2: $file ($colours colours, logo shown)"
      return
    fi
  done
  bad "$2: $file has $colours colours and $magenta logo pixels"
}

# ---- The card and the helpers -------------------------------------------------------------

mkdir -p "$card/2577" "$card/Atlas/maps" "$card/Atlas/voices" "$card/Atlas/bin" "$tools"
cp "$bin/autorun.exe" "$bin/Note_prj.dll" "$card/2577/"
cp "$bin/navigator.exe" "$card/Atlas/atlas.exe"
cp "$bin/selfreg.dll" "$card/Atlas/bin/"
cp "$bin/driver.exe" "$bin/platform-check.exe" "$bin/Note_prj.dll" "$bin/selfreg.dll" "$tools/"
for i in $(seq 1 20); do
  head -c 32768 /dev/urandom >"$card/Atlas/maps/tile$i.map"
  head -c 32768 /dev/urandom >"$card/Atlas/voices/voice$i.wav"
done
echo today >"$card/Atlas/today.dat"
# The configured logo: 84 x 100, 24 bits, magenta above a gradient.
/usr/bin/convert -size 84x50 xc:'#FF00FF' -size 84x50 gradient:'#203080-#F0C040' -append \
  -type TrueColor BMP3:"$card/Atlas/logo.bmp"
qlm="$card/2577/autorun_8.qlm"

# ---- The platform on its own --------------------------------------------------------------

case_title "platform operations"
mkdir -p "$drive_c/check/work" "$drive_c/check-bare"
# Passes only with its own last line: a run that ends early says nothing.
check_rc=0
check_out=$(cd "$drive_c/check" &&
  timeout 120 wine "$tools/platform-check.exe" 'C:\check\work' 2>>"$log") || check_rc=$?
check_out=${check_out//$'\r'/}
printf '%s\n' "$check_out" >>"$log"
check_pass='^platform-check: [1-9][0-9]* checks, 0 failed$'
if ((check_rc == 0)) && [[ $(tail -n1 <<<"$check_out") =~ $check_pass ]]; then
  ok "platform-check"
else
  bad "platform-check (see $log)"
fi
# Without the card library beside it, the card search falls back to the root's folders.
cp "$bin/platform-check.exe" "$drive_c/check-bare/"
if (cd "$drive_c/check-bare" &&
  timeout 120 wine 'C:\check-bare\platform-check.exe' 'C:\check-bare' --cards-from-root) \
  >>"$log" 2>&1; then
  ok "card search without Note_prj.dll"
else
  bad "card search without Note_prj.dll (see $log)"
fi

case_title "the device contract"
# Run from a folder of drive C: beside the card library's stand-in; passes only when
# GoogleTest's report says every test ran and passed.
mkdir -p "$drive_c/contract"
cp "$bin/contract-tests.exe" "$bin/Note_prj.dll" "$drive_c/contract/"
rm -f "$artifacts/contract.xml"
contract_rc=0
(cd "$drive_c/contract" && timeout 120 wine 'C:\contract\contract-tests.exe' \
  "--gtest_output=xml:Z:${artifacts//\//\\}\\contract.xml") >>"$log" 2>&1 || contract_rc=$?
report=$(head -c 2000 "$artifacts/contract.xml" 2>/dev/null | tr -d '\r' |
  grep -o '<testsuites tests="[0-9]*" failures="[0-9]*" disabled="0" errors="[0-9]*"' || true)
contract_pass='tests="([1-9][0-9]*)" failures="0" disabled="0" errors="0"'
if ((contract_rc == 0)) && [[ $report =~ $contract_pass ]]; then
  ok "contract-tests: ${BASH_REMATCH[1]} tests passed"
else
  bad "contract-tests: exit code $contract_rc, '${report:-no report}' (see $log)"
fi

# ---- Configuration errors -----------------------------------------------------------------

case_title "no configuration anywhere"
start_program "$card/2577" autorun.exe
expect_text Error "Fatal error: cannot open configuration file. (1)" "fatal message (1)"
press Error 1 "OK pressed"
expect_exit 1 "exit code 1"

case_title "no configuration, started for a removed card"
start_program "$card/2577" autorun.exe uninstall
expect_exit 1 "exit code 1 without a message"

case_title "invalid configuration"
"$config_tool" encode "$here/broken.txt" "$qlm"
start_program "$card/2577" autorun.exe install
expect_text Error "Fatal error: configuration is invalid. (3)" "fatal message (3)"
press Error 1 "OK pressed"
expect_exit 3 "exit code 3"

"$config_tool" encode "$here/autorun.txt" "$qlm"

# ---- First insertion ----------------------------------------------------------------------

case_title "first insertion, the question answered No"
start_program "$card/2577" autorun.exe install
expect_text "Atlas setup" "Install Atlas on this device?" "question text"
screenshot question "question dialog with the configured logo"
press "Atlas setup" 1004 "No pressed"
expect_exit 0 "exit code 0"
expect_no_path "$installed" "nothing copied"
expect_no_key 'HKLM\Software\Atlas'

case_title "first insertion, the question answered Yes"
start_program "$card/2577" autorun.exe install
press "Atlas setup" 1001 "Yes pressed"
expect_exit 0 "exit code 0"
expect_file "$installed/atlas.exe" "program copied"
expect_file "$installed/selfreg.dll" "library copied"
[[ -d $installed/data/cache/tiles ]] && ok "folder made with its missing parents" ||
  bad "$installed/data/cache/tiles is missing"
expect_file "$installed/docs/today.dat" "copied into a dst ending in a backslash"
expect_eq "$(find "$installed/maps" -name '*.map' | wc -l)" 20 "maps copied"
expect_eq "$(find "$installed/voices" -name '*.wav' | wc -l)" 20 "voices copied"
cmp -s "$card/Atlas/maps/tile7.map" "$installed/maps/tile7.map" && ok "copies are equal" ||
  bad "tile7.map differs"
programs=$(find "$drive_c/users" -type d -path '*/Roaming/Microsoft/Windows/Start Menu/Programs' |
  head -n1)
expect_eq "$(cat "$programs/Atlas.lnk" 2>/dev/null)" '1#"C:\Program Files\Atlas\atlas.exe"' \
  "shortcut"
expect_eq "$(cat "$programs/Atlas on card.lnk" 2>/dev/null)" '1#"\Storage Card\Atlas\atlas.exe"' \
  "card shortcut"
expect_file "$drive_c/windows/atlas_today.dat" "card-insert copy"
expect_reg 'HKLM\Software\Atlas' Installed 0x1
expect_reg 'HKLM\Software\Atlas' CardPath '\Storage Card'
expect_reg 'HKLM\Software\Atlas' Version 0x7
expect_reg 'HKCU\Software\Atlas' Language English
expect_reg 'HKLM\Software\Atlas' CardInserted 0x1
expect_reg 'HKLM\Software\AtlasToday' Enabled 0x1
expect_reg 'HKLM\Software\Atlas' TodayEnabledSave 0x1
expect_reg 'HKCU\Software\AutorunWineTest' Registered 0x1
driver window AtlasNavigator "Atlas Navigator" 20000 && ok "navigator started" ||
  bad "navigator not started"

# ---- Card removal and insertion -----------------------------------------------------------

case_title "card removed: the shell runs the installer's copy in \\Windows, the card gone"
# The device's shell keeps a copy of the card's installer in \Windows and starts it after
# the card is out; the configuration is the device's own copy in its system folder.
windows="$drive_c/windows"
cp "$card/2577/autorun.exe" "$qlm" "$bin/Note_prj.dll" "$windows/"
mv "$card" "$drive_c/card-out"
start_program "$windows" 'C:\windows\autorun.exe' uninstall
expect_exit 0 "exit code 0"
driver no-window AtlasNavigator "Atlas Navigator" 20000 && ok "navigator closed" ||
  bad "navigator still running"
expect_reg 'HKCU\Software\AutorunWineTest' Closes 0x1
expect_reg 'HKLM\Software\Atlas' CardInserted 0x0
expect_reg 'HKLM\Software\AtlasToday' Enabled 0x0
expect_reg 'HKLM\Software\Atlas' TodayEnabledSave 0x1
expect_no_path "$programs/Atlas on card.lnk" "card shortcut removed"
expect_file "$installed/atlas.exe" "installation kept"
mv "$drive_c/card-out" "$card"
rm -f "$windows/autorun.exe" "$windows/autorun_8.qlm" "$windows/Note_prj.dll"

case_title "card inserted into the device with the application"
wine reg add 'HKLM\Software\Atlas' /v Autorun /t REG_DWORD /d 1 /f >>"$log" 2>&1
start_program "$card/2577" autorun.exe install
expect_exit 0 "exit code 0 without a question"
expect_reg 'HKLM\Software\Atlas' CardInserted 0x1
expect_reg 'HKLM\Software\AtlasToday' Enabled 0x1
expect_file "$programs/Atlas on card.lnk" "card shortcut back"
driver window AtlasNavigator "Atlas Navigator" 20000 && ok "navigator started by autorun" ||
  bad "navigator not started by autorun"
driver close AtlasNavigator "Atlas Navigator" >/dev/null || true
driver no-window AtlasNavigator "Atlas Navigator" 20000 >/dev/null || true

# ---- Update offer and upgrade -------------------------------------------------------------

case_title "card with a newer build: update accepted"
# The version stamp is the executable's last four bytes.
printf '\xf0\xff\xff\xff' >>"$card/Atlas/atlas.exe"
wine reg add 'HKLM\Software\Atlas' /v UserSetting /t REG_DWORD /d 42 /f >>"$log" 2>&1
wine reg add 'HKCU\Software\Atlas' /v Language /d Deutsch /f >>"$log" 2>&1
start_program "$card/2577" autorun.exe install
expect_text "Atlas update" "The card carries a newer build. Update now?" "update question"
press "Atlas update" 6 "Yes pressed"
expect_exit 0 "exit code 0"
cmp -s "$card/Atlas/atlas.exe" "$installed/atlas.exe" && ok "new build installed" ||
  bad "installed program is not the card's build"
expect_reg 'HKLM\Software\Atlas' Installed 0x1
expect_reg 'HKLM\Software\Atlas' UserSetting 0x2a
expect_reg 'HKCU\Software\Atlas' Language Deutsch
driver close AtlasNavigator "Atlas Navigator" >/dev/null || true
driver no-window AtlasNavigator "Atlas Navigator" 20000 >/dev/null || true

# ---- Reinstall and uninstall --------------------------------------------------------------

case_title "started by hand on the device with the application: reinstall declined"
start_program "$card/2577" autorun.exe
expect_text "Atlas removal" "Atlas is installed already. Install it again?" "reinstall question"
press "Atlas removal" 7 "No pressed"
expect_exit 0 "exit code 0"
expect_reg 'HKLM\Software\Atlas' Installed 0x1

case_title "the uninstaller, uninstall.exe"
cp "$card/2577/autorun.exe" "$card/2577/uninstall.exe"
start_program "$card/2577" uninstall.exe
expect_text "Atlas removal" "Remove Atlas from this device?" "uninstall question"
press "Atlas removal" 6 "Yes pressed"
expect_text "Atlas removal" "Atlas has been removed." "removed message"
press "Atlas removal" 1 "OK pressed"
expect_exit 0 "exit code 0"
expect_no_key 'HKLM\Software\Atlas'
expect_no_key 'HKCU\Software\Atlas'
expect_no_path "$programs/Atlas.lnk" "shortcut removed"
expect_no_path "$installed/atlas.exe" "program removed"
expect_eq "$(find "$installed" -type f | wc -l)" 0 "files removed, folders kept"
expect_reg 'HKCU\Software\AutorunWineTest' Registered 0x0

case_title "the uninstaller without installation"
start_program "$card/2577" uninstall.exe
expect_text "Atlas removal" "Atlas is not installed." "not-installed message"
press "Atlas removal" 1 "OK pressed"
expect_exit 0 "exit code 0"

# ---- A copy that fails half-way -----------------------------------------------------------

case_title "a card file held by another program"
# The library is copied between the maps and the voices: the copy stops half-way.
rm -f "$tmp/held"
(cd "$drive_c" && exec timeout -k 5 "$run_limit" wine "$tools/driver.exe" hold \
  'C:\Storage Card\Atlas\bin\selfreg.dll' 60000 "Z:${tmp//\//\\}\\held") >>"$log" 2>&1 &
hold_pid=$!
for _ in $(seq 200); do [[ -e $tmp/held ]] && break; sleep 0.1; done
start_program "$card/2577" autorun.exe
press "Atlas setup" 1001 "Yes pressed"
caption='c:\storage card\2577\autorun.exe'
expect_text "$caption" "Can't copy:" "copy failure message"
expect_text "$caption" '\Storage Card\Atlas\bin\selfreg.dll' "copy failure names the file"
position=$(driver progress Status 1007 "$dialog_ms")
if [[ $position =~ ^[0-9]+$ ]] && ((position > 0 && position < 100)); then
  ok "progress half-way ($position)"
else
  bad "progress half-way: '$position'"
fi
screenshot status-midway "status dialog half-way"
press "$caption" 1 "OK pressed"
expect_exit 0 "exit code 0"
expect_eq "$(reg_value 'HKLM\Software\Atlas' Installed)" "" "installed mark not written"
kill "$hold_pid" 2>/dev/null || true
wait "$hold_pid" 2>/dev/null || true
hold_pid=

# ---- The handheld's Program Files --------------------------------------------------------

case_title "Program Files without a drive letter, as the handheld names it"
# The special folder is "\Program Files" here, as on the device: every path the
# installation makes from it has no drive.
wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion' /v ProgramFilesDir \
  /d '\Program Files' /f >>"$log" 2>&1
rm -rf "$installed"
start_program "$card/2577" autorun.exe
press "Atlas setup" 1001 "Yes pressed"
expect_exit 0 "exit code 0"
expect_file "$installed/atlas.exe" "program copied to C:\Program Files"
expect_eq "$(find "$installed/maps" -name '*.map' | wc -l)" 20 "maps copied"
[[ -d $installed/data/cache/tiles ]] && ok "folder made with its missing parents" ||
  bad "$installed/data/cache/tiles is missing"
expect_file "$installed/docs/today.dat" "copied into a dst ending in a backslash"
expect_eq "$(cat "$programs/Atlas.lnk" 2>/dev/null)" '1#"\Program Files\Atlas\atlas.exe"' \
  "shortcut without a drive"
expect_reg 'HKLM\Software\Atlas' Installed 0x1
driver window AtlasNavigator "Atlas Navigator" 20000 && ok "navigator started" ||
  bad "navigator not started"

abandon_program
printf '\nwine end-to-end: %d failed\n' "$failures"
((failures == 0))
