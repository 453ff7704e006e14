#!/usr/bin/env bash
# The simulated device's registry file against the registry editor itself: values of every
# type the simulator keeps are exported by `regedit /E` from a wine prefix (UTF-16LE with
# its mark), loaded and changed by an installation under autorun-sim, imported back with
# `regedit /S`, and compared with `reg query`: nothing lost or garbled, the installer's
# changes there. One prefix, no X server.
#
#   tests/wine/regedit_roundtrip.sh AUTORUN_SIM AUTORUN_CONFIG
#
# Set AUTORUN_WINE_KEEP=1 to keep the prefix and the files for a look afterwards.
set -euo pipefail

if (($# != 2)); then
  echo "usage: $0 AUTORUN_SIM AUTORUN_CONFIG" >&2
  exit 2
fi
sim=$(realpath "$1")
config_tool=$(realpath "$2")

tmp=$(mktemp -d /tmp/autorun-regedit.XXXXXX)
export WINEPREFIX="$tmp/prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# The 64-bit loader itself: `wine` would pick a 32-bit one when one is installed.
wine=wine
if [[ -x /usr/lib/wine/wine64 ]]; then
  wine=/usr/lib/wine/wine64
  export WINELOADER=$wine
fi
log="$tmp/wine.log"

cleanup() {
  set +e
  if [[ -d $WINEPREFIX ]]; then
    timeout 20 wineserver -k 2>/dev/null
    timeout 20 wineserver -w 2>/dev/null
  fi
  if [[ ${AUTORUN_WINE_KEEP:-0} == 1 ]]; then
    echo "kept in $tmp"
  else
    rm -rf "$tmp"
  fi
}
trap cleanup EXIT
trap 'exit 143' TERM INT

failures=0
ok() { printf '  ok    %s\n' "$1"; }
bad() {
  printf '  FAIL  %s\n' "$1"
  failures=$((failures + 1))
}
# A host path as the prefix sees it.
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# reg.exe writes in the console's code page: a Russian locale makes it 866, which holds
# every character used here, so that a garbled one shows. (Arguments with such characters
# go through the default locale: the Russian one is not installed for the host's side.)
reg() { LC_ALL=ru_RU.UTF-8 "$wine" reg "$@" 2>>"$log" | iconv -f CP866 -t UTF-8 | tr -d '\r'; }

echo "== registry round trip through regedit (prefix in $WINEPREFIX)"
timeout 180 "$wine" wineboot -i >>"$log" 2>&1
timeout 60 wineserver -w

readonly top='HKEY_CURRENT_USER\Software\AutorunRoundTrip'
deep="$top\\Deep"
for i in $(seq 1 40); do deep+="\\L$i"; done
blob=$(for i in $(seq 0 99); do printf '%02x' $((i * 37 % 256)); done)
{
  "$wine" reg add "$top" /ve /d 'Атлас №1' /f
  "$wine" reg add "$top" /v Path /d 'C:\Program Files\Атлас "карты"' /f
  "$wine" reg add "$top" /v Count /t REG_DWORD /d 42 /f
  "$wine" reg add "$top" /v Most /t REG_DWORD /d 0xffffffff /f
  "$wine" reg add "$top" /v Blob /t REG_BINARY /d "$blob" /f
  "$wine" reg add "$top" /v NoBytes /t REG_BINARY /f
  "$wine" reg add "$top" /v Cities /t REG_MULTI_SZ /d 'Москва\0Киев\0Minsk' /f
  "$wine" reg add "$top" /v Maps /t REG_EXPAND_SZ /d '%ProgramFiles%\Атлас\Карты' /f
  "$wine" reg add "$top" /v Nothing /d '' /f
  "$wine" reg add "$top\\Ключ" /v 'Имя' /d 'значение' /f
  "$wine" reg add "$top\\Empty" /f
  "$wine" reg add "$deep" /v Leaf /t REG_DWORD /d 1 /f
  "$wine" reg add "$deep" /ve /t REG_EXPAND_SZ /d '%TEMP%' /f
} >>"$log" 2>&1
reg query "$top" /s >"$tmp/before.txt"

export_file="$tmp/export.reg"
"$wine" regedit /E "$(winepath "$export_file")" "$top" >>"$log" 2>&1
if [[ $(head -c 2 "$export_file" | od -An -tx1 | tr -d ' ') == fffe ]]; then
  ok "regedit /E writes UTF-16LE with its byte-order mark"
else
  bad "regedit /E did not write UTF-16LE with a mark"
fi

# The image: the export as its registry, and a card whose installation writes into keys
# the export holds (a deep one, one with a non-ASCII name) and makes a new one.
image="$tmp/image"
"$sim" init "$image" >>"$log"
cp "$export_file" "$image/registry.reg"
card="$image/fs/Storage Card"
mkdir -p "$card/2577" "$card/Atlas"
printf 'MZ' >"$card/Atlas/atlas.exe"
cat >"$tmp/autorun.txt" <<EOF
[common]
brand = "Atlas"
website = "atlas.example"

[navigation]
sd_dir = "Atlas"
exe_parent = "PROGRAM_FILES"
exe_dir = "Atlas"
exe = "atlas.exe"
windowclass = "AtlasNavigator"
windowname = "Atlas Navigator"

[install]
title = "%s setup"
question = "Install %s?"

[registry]
installed = "HKCU\\\\Software\\\\AutorunRoundTrip\\\\Installed"
cardpath = "HKCU\\\\Software\\\\AutorunRoundTrip\\\\Ключ\\\\Карта"

[install_actions]
reg_key_1 = "HKCU\\\\Software\\\\AutorunRoundTrip\\\\Deep\\\\L1\\\\L2\\\\L3\\\\Version"
reg_dw_value_1 = "3"
reg_key_2 = "HKCU\\\\Software\\\\AutorunRoundTrip\\\\Новый\\\\Город"
reg_str_value_2 = "Санкт-Петербург"
EOF
"$config_tool" encode "$tmp/autorun.txt" "$card/2577/autorun_8.qlm" >>"$log" 2>&1
if "$sim" --device "$image" --answers yes -- install >>"$log" 2>&1; then
  ok "autorun-sim installs on the exported registry"
else
  bad "autorun-sim did not install (see $log)"
fi
if [[ $(head -c 2 "$image/registry.reg" | od -An -tx1 | tr -d ' ') == fffe ]]; then
  ok "autorun-sim writes the registry back in UTF-16LE"
else
  bad "autorun-sim did not keep the registry's encoding"
fi

"$wine" reg delete "$top" /f >>"$log" 2>&1
"$wine" regedit /S "$(winepath "$image/registry.reg")" >>"$log" 2>&1

# What the installation wrote, as the registry editor read it.
reg query "$top" /s >"$tmp/installed.txt"
expect_value() { # key name type data
  if awk -v key="$1" -v want="    $2    $3    $4" '/^HKEY_/ { here = ($0 == key) }
      here && $0 == want { found = 1 } END { exit !found }' "$tmp/installed.txt"; then
    ok "$2 = $4"
  else
    bad "$1: no $2 $3 $4 (installed.txt)"
  fi
}
expect_value "$top" Installed REG_DWORD 0x1
expect_value "$top\\Ключ" Карта REG_SZ '\Storage Card'
expect_value "$top\\Deep\\L1\\L2\\L3" Version REG_DWORD 0x3
expect_value "$top\\Новый" Город REG_SZ 'Санкт-Петербург'

# Without them, everything else is as it was before the round trip.
{
  "$wine" reg delete "$top" /v Installed /f
  "$wine" reg delete "$top\\Ключ" /v Карта /f
  "$wine" reg delete "$top\\Deep\\L1\\L2\\L3" /v Version /f
  "$wine" reg delete "$top\\Новый" /f
} >>"$log" 2>&1
reg query "$top" /s >"$tmp/after.txt"
if [[ $(grep -c 'REG_' "$tmp/before.txt") -ge 13 ]] && diff -u "$tmp/before.txt" "$tmp/after.txt"; then
  ok "every value came back unchanged ($(grep -c 'REG_' "$tmp/before.txt") values)"
else
  bad "values were lost or garbled (before.txt and after.txt above)"
fi

if ((failures > 0)); then
  echo "regedit round trip: $failures failure(s); wine's output is in $log"
  AUTORUN_WINE_KEEP=1
  exit 1
fi
echo "regedit round trip: all passed"
