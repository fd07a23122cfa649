#!/usr/bin/env bash
# Runs patcher.exe under Wine on the current X display and plays the player: every box it
# shows is answered with its default button (Yes to the confirmation, OK to the rest) and
# the screen is saved once a second. Prints each box caption and the exit code.
# usage: drive_patcher.sh PREFIX EXE SHOTS_DIR      (needs DISPLAY; exits with the code)
# VARD_DEMO_SHOTS=boxes saves only the screens that show a box. The tests set it: a
# screenshot a second took a fifth of a demo run's processor time, more than the player.
set -uo pipefail
prefix=$1 exe=$2 shots=$3
every_second=yes
[ "${VARD_DEMO_SHOTS:-all}" = boxes ] && every_second=no
mkdir -p "$shots"
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}
wine "$exe" &
pid=$!
declare -A answered=()
n=0
while kill -0 "$pid" 2>/dev/null; do
  sleep 1
  n=$((n + 1))
  screen=$(printf '%s/screen-%03d.png' "$shots" "$n")
  [ $every_second = yes ] && import -display "$DISPLAY" -window root "$screen" 2>/dev/null
  # Message boxes are the visible top-level windows of the dialog class; the splash and
  # the progress window are of the patcher's own classes.
  for w in $(xdotool search --onlyvisible --classname '.' 2>/dev/null); do
    name=$(xdotool getwindowname "$w" 2>/dev/null) || continue
    eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)" || continue
    # Boxes carry a caption and are not the skinned 519-pixel windows.
    [ -n "$name" ] && [ "${WIDTH:-0}" != 519 ] || continue
    [ -n "${answered[$w]:-}" ] && continue
    answered[$w]=1
    # A screen of its own, a moment after the box was found: the screen of this second was
    # taken before the search and can show the moment just before the box was mapped, and a
    # box just mapped may not have been painted yet.
    sleep 0.3
    import -display "$DISPLAY" -window root "$shots/box-$w.png" 2>/dev/null
    echo "box: \"$name\" (screenshot $shots/box-$w.png), pressing its default button"
    xdotool windowfocus --sync "$w" key --window "$w" Return 2>/dev/null ||
      xdotool windowfocus "$w" key Return
  done
  if [ "$n" -ge 600 ]; then
    echo "patcher still running after 10 minutes: stopping it"
    kill "$pid"
  fi
done
wait "$pid"
code=$?
wineserver -w
echo "patcher.exe exited with code $code"
exit "$code"
