#!/usr/bin/env bash
# Installs the demo game 1.00 in a Wine prefix, runs a patcher on it and checks the result:
# the tree equals 1.01 byte for byte (base pack plus the installation's language pack),
# both version values read 1.01, saves without the keep marker are gone and the others kept.
# DEMO_FROM and DEMO_TO choose other versions (a patcher from several versions).
# usage: run_demo_patch.sh EXE GAME_DIR OUT_DIR [french|german|english] [--skip-saves|--refused]
#   GAME_DIR: what demo/make_demo.py wrote; OUT_DIR: prefix, copies and screenshots;
#   --skip-saves: report the saves left but do not judge them;
#   --refused: the patcher must end in its error box and leave everything as
#   it was (the tree, every save, the version value at 1.00).
# Runs headless on a private Xvfb screen unless DISPLAY is set. Exit code 0 when all holds.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
# Every Wine command of the run on one screen: a Wine session keeps the display it started
# with, and the patcher must not join a session begun without one.
if [ -z "${DISPLAY:-}" ]; then exec "$repo/scripts/private-screen" "$0" "$@"; fi
exe=$1 game=$2 out=$3 language=${4:-french} judge_saves=yes refused=no
from=${DEMO_FROM:-1.00} to=${DEMO_TO:-1.01}
[ "${5:-}" = --skip-saves ] && judge_saves=no
[ "${5:-}" = --refused ] && refused=yes
case $language in
  french) lang_id=1036 ;; german) lang_id=7 ;; english) lang_id=9 ;;
  *) echo "language must be french, german or english" >&2; exit 2 ;;
esac
mkdir -p "$out"
prefix=$out/wineprefix
install_win='C:\Games\KoraxDemo'
install=$prefix/drive_c/Games/KoraxDemo
"$repo/scripts/wine-run" "$prefix" cmd /c exit >/dev/null 2>&1   # creates the prefix once
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}
rm -rf "$install" "$out/before" "$out/expected" "$out/screenshots"
compose() {   # version, target folder: the base pack plus the installation's language pack
  mkdir -p "$2"
  cp -r "$game/$1/base/." "$2/"
  if [ "$language" != english ]; then
    mkdir -p "$2/local/$language"
    cp -r "$game/$1/$language/." "$2/local/$language/"
  fi
}
compose "$from" "$install"
compose "$from" "$out/before"
compose "$to" "$out/expected"
# Saves: those ending with the keep marker 00 00 00 00 26 6B 84 F2 must survive the patch.
saves=$install/settings/profiles
mkdir -p "$saves/Aldric/savegames" "$saves/Brenna/savegames"
marker='\x00\x00\x00\x00\x26\x6b\x84\xf2'
printf 'level 2, checkpoint 3' > "$saves/Aldric/savegames/quick.sav"
printf "campaign end$marker" > "$saves/Aldric/savegames/campaign.sav"
printf 'autosave' > "$saves/Brenna/savegames/auto.sav"
printf "hardcore run$marker" > "$saves/Brenna/savegames/hardcore.sav"
hklm='HKLM\SOFTWARE\Korax\Demo'
uninstall='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\KoraxDemo'
wine reg add "$hklm" /v InstallPath /t REG_SZ /d "$install_win" /f >/dev/null
wine reg add "$hklm" /v Version /t REG_SZ /d "$from" /f >/dev/null
wine reg add "$hklm" /v Language /t REG_DWORD /d $lang_id /f >/dev/null
wine reg add "$uninstall" /v DisplayVersion /t REG_SZ /d "$from" /f >/dev/null
echo "installed the demo $from at $install_win, language $lang_id, 4 saves (2 with the keep marker)"

echo "running $(basename "$exe")"
"$here/drive_patcher.sh" "$prefix" "$exe" "$out/screenshots" | tee "$out/drive.log"
code=${PIPESTATUS[0]}

status=0
if [ $refused = yes ]; then
  python3 "$here/compare_trees.py" "$out/before" "$install" "$out/before" --ignore settings || status=1
  v1=$(wine reg query "$hklm" /v Version 2>/dev/null | sed -n "s/.*Version *REG_SZ *//p" | tr -d '\r')
  echo "registry: Version=$v1"
  [ "$v1" = "$from" ] || status=1
  left=$(cd "$saves" && find . -type f | grep -c .)
  [ "$left" = 4 ] || { echo "only $left of the 4 saves are left"; status=1; }
  grep -Eq '^box: "(Error!|Erreur !|Fehler!)"' "$out/drive.log" || { echo "no error box"; status=1; }
  exit $status
fi
python3 "$here/compare_trees.py" "$out/before" "$install" "$out/expected" --ignore settings || status=1
query() { wine reg query "$1" /v "$2" 2>/dev/null | sed -n "s/.*$2 *REG_SZ *//p" | tr -d '\r'; }
v1=$(query "$hklm" Version)
v2=$(query "$uninstall" DisplayVersion)
echo "registry: Version=$v1 DisplayVersion=$v2"
[ "$v1" = "$to" ] && [ "$v2" = "$to" ] || status=1
echo "saves left: $(cd "$saves" 2>/dev/null && find . -type f | sort | tr '\n' ' ')"
if [ $judge_saves = yes ]; then
  for kept in Aldric/savegames/campaign.sav Brenna/savegames/hardcore.sav; do
    [ -f "$saves/$kept" ] || { echo "missing kept save $kept"; status=1; }
  done
  for gone in Aldric/savegames/quick.sav Brenna/savegames/auto.sav; do
    [ -f "$saves/$gone" ] && { echo "save $gone was not removed"; status=1; }
  done
fi
stale=$(find "$install" -iname '*.vard-*')
[ -z "$stale" ] || { echo "staging files left: $stale"; status=1; }
echo "screenshots: $out/screenshots"
[ "$code" = 0 ] || status=1
exit $status
