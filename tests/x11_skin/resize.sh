#!/usr/bin/env bash
# Sizes a skinned sizeable form by its frame under a real X server, with the mouse as a user
# moves it, and reads the size back from the window system: once sized by the window manager,
# once (without one) by the form itself. Usage: resize.sh <probe program>.
set -u
probe=$1
source "$(dirname "$0")/../x11/x11lib.sh"
x11_start

# Presses at (x, y), moves by (dx, dy) in steps and lets go.
drag() {
  local x=$1 y=$2 dx=$3 dy=$4 i
  xdotool mousemove "$x" "$y"; sleep 0.3
  xdotool mousedown 1; sleep 0.3
  for i in 1 2 3 4; do
    xdotool mousemove "$((x + dx * i / 4))" "$((y + dy * i / 4))"; sleep 0.15
  done
  sleep 0.3
  xdotool mouseup 1; sleep 0.6
}

failures=0
expect() { # what, got, wanted
  if [ "$2" -ne "$3" ]; then
    echo "FAIL: $1: $2, expected $3"; failures=$((failures + 1))
  else
    echo "ok: $1: $2"
  fi
}

# Every drag of the test, checked against the sizes the window system reports.
run_drags() {
  local wid x y w h x2 y2 w2 h2 x3 y3 w3 h3 x4 y4 w4 h4
  x11_run "$probe"
  wid=$(x11_wait_window TaskvaneSkinProbe "$X11_LAST_PID") || x11_fail "the probe did not show its form"
  read -r x y w h < <(x11_geometry "$wid")
  echo "form at $x,$y size ${w}x$h"
  expect "width at start" "$w" 400
  expect "height at start" "$h" 300

  # The right edge, outwards.
  drag "$((x + w - 2))" "$((y + h / 2))" 120 0
  read -r x2 y2 w2 h2 < <(x11_geometry "$wid")
  expect "width after the right edge" "$w2" 520
  expect "height after the right edge" "$h2" 300
  expect "left edge stays" "$x2" "$x"

  # The bottom-right corner, outwards in both directions.
  drag "$((x2 + w2 - 2))" "$((y2 + h2 - 2))" 60 50
  read -r x3 y3 w3 h3 < <(x11_geometry "$wid")
  expect "width after the corner" "$w3" 580
  expect "height after the corner" "$h3" 350

  # The left edge far to the right: the form stops at its minimum width; its right edge stays.
  drag "$((x3 + 1))" "$((y3 + h3 / 2))" 900 0
  read -r x4 y4 w4 h4 < <(x11_geometry "$wid")
  expect "width at the minimum" "$w4" 130
  expect "right edge stays" "$((x4 + w4))" "$((x3 + w3))"

  kill "$X11_LAST_PID" 2>/dev/null
  wait "$X11_LAST_PID" 2>/dev/null
}

echo "-- the window manager sizes the form"
run_drags

# The window manager is the second process the library started, after the server.
echo "-- the form sizes itself"
wm=${X11_PIDS[1]}
kill "$wm" 2>/dev/null
wait "$wm" 2>/dev/null
x11_until 5 '! wmctrl -m >/dev/null 2>&1' || x11_fail "the window manager did not end"
run_drags

[ "$failures" -eq 0 ]
