#!/usr/bin/env bash
# Sizes a skinned sizeable form by its frame under a real X server with a window manager, with
# the mouse as a user moves it, and reads the size back from the window system.
# Usage: resize.sh <probe program>. Exit 77: skipped (no X server, window manager or tools here).
set -u
probe=$1

for tool in Xvfb openbox xdotool xwininfo xprop; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "skipped: $tool is not installed"
    exit 77
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/taskvane-x11-XXXXXX")
pids=()
# Ends what the test started, the last started first (the X server last), each waited for.
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null
    wait "${pids[i]}" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to 20 s for a command to succeed.
wait_for() {
  local i
  for i in $(seq 1 200); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  return 1
}

# A display of its own: the server picks a free number and writes it to the file.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
if ! wait_for test -s "$work/display"; then
  echo "skipped: the X server did not start"; cat "$work/xvfb.log"
  exit 77
fi
export DISPLAY=":$(head -n1 "$work/display")"

# x y width height of the form as the window system has it.
geometry() {
  xwininfo -id "$wid" | awk '
    /Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF}
    /Width:/ {w = $NF} /Height:/ {h = $NF}
    END {print x, y, w, h}'
}

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

# Starts the probe and waits for its form to be on the screen.
probe_pid=
start_probe() {
  : >"$work/probe.out"
  # The keyboard library of the X client hands over strings without their terminator that it
  # reads by length: strict string checks of a sanitised build would stop the probe at its start.
  ASAN_OPTIONS="${ASAN_OPTIONS:-}:strict_string_checks=0" QT_QPA_PLATFORM=xcb \
    "$probe" >"$work/probe.out" 2>"$work/probe.err" &
  probe_pid=$!
  pids+=("$probe_pid")
  if ! wait_for grep -q '^ready' "$work/probe.out"; then
    echo "FAIL: the probe did not show its form"; cat "$work/probe.err"
    exit 1
  fi
  wid=$(awk '/^ready/ {print $2}' "$work/probe.out")
  wait_for sh -c "xwininfo -id $wid | grep -q 'IsViewable'"
}

stop() { # pid
  kill "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}

# Every edge the test drags, checked against the sizes the window system reports.
run_drags() {
  local x y w h x2 y2 w2 h2 x3 y3 w3 h3 x4 y4 w4 h4
  read -r x y w h < <(geometry)
  echo "form at $x,$y size ${w}x$h"
  expect "width at start" "$w" 400
  expect "height at start" "$h" 300

  # The right edge, outwards.
  drag "$((x + w - 2))" "$((y + h / 2))" 120 0
  read -r x2 y2 w2 h2 < <(geometry)
  expect "width after the right edge" "$w2" 520
  expect "height after the right edge" "$h2" 300
  expect "left edge stays" "$x2" "$x"

  # The bottom-right corner, outwards in both directions.
  drag "$((x2 + w2 - 2))" "$((y2 + h2 - 2))" 60 50
  read -r x3 y3 w3 h3 < <(geometry)
  expect "width after the corner" "$w3" 580
  expect "height after the corner" "$h3" 350

  # The left edge far to the right: the form stops at its minimum width; its right edge stays.
  drag "$((x3 + 1))" "$((y3 + h3 / 2))" 900 0
  read -r x4 y4 w4 h4 < <(geometry)
  expect "width at the minimum" "$w4" 130
  expect "right edge stays" "$((x4 + w4))" "$((x3 + w3))"
}

openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm_pid=$!
pids+=("$wm_pid")
if ! wait_for sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'; then
  echo "skipped: the window manager did not start"; cat "$work/openbox.log"
  exit 77
fi

echo "-- the window manager sizes the form"
start_probe
run_drags
stop "$probe_pid"

# Without a window manager that offers sizing, the form sizes itself.
echo "-- the form sizes itself"
stop "$wm_pid"
wait_for sh -c '! xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'
start_probe
run_drags

[ "$failures" -eq 0 ]
