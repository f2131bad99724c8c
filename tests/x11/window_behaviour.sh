#!/usr/bin/env bash
# The main window under a real X server and window manager, driven with xdotool and checked from
# the window manager's side: maximise and restore by the title button and by a title double-click,
# minimise and a second start that brings the window back, and the resize grip with its minimum.
# Usage: window_behaviour.sh PROGRAM
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=x11lib.sh
source "$here/x11lib.sh"

program=${1:?the program to test}
[ -x "$program" ] || x11_skip "the program is not built: $program"
x11_require import xdpyinfo
x11_start

x11_run "$program"
pid=$X11_LAST_PID
id=$(x11_wait_window Taskvane "$pid" 60) || x11_fail "the window never showed"
# The window settles where the window manager put it.
sleep 0.5
read -r x0 y0 w0 h0 < <(x11_geometry "$id")
echo "normal: $x0 $y0 $w0 $h0"
[ "$w0" -eq 800 ] && [ "$h0" -eq 600 ] || x11_fail "the window is ${w0}x${h0}, not 800x600"

# Points in the window: the title buttons sit right of the title, 28 pixels apart.
max_at() { local w; read -r _ _ w _ < <(x11_geometry "$id"); echo "$((w - 5 - 56 + 14)) 10"; }
min_at() { local w; read -r _ _ w _ < <(x11_geometry "$id"); echo "$((w - 5 - 84 + 14)) 10"; }
is_normal_geometry() { [ "$(x11_geometry "$id")" = "$x0 $y0 $w0 $h0" ]; }
screen_size() { xdpyinfo 2>/dev/null | awk '/dimensions:/ {split($2, d, "x"); print d[1], d[2]}'; }

# ---- maximise and restore with the title button, twice round ----------------------------------
for round in 1 2; do
  # shellcheck disable=SC2046
  x11_click_at "$id" $(max_at)
  x11_until 5 x11_maximized "$id" || x11_fail "round $round: the window manager does not see the window maximised"
  read -r sw sh < <(screen_size)
  x11_until 5 '[ "$(x11_geometry "$id" | cut -d" " -f3,4)" = "$sw $sh" ]' ||
    x11_fail "round $round: maximised geometry $(x11_geometry "$id"), screen $sw $sh"
  # shellcheck disable=SC2046
  x11_click_at "$id" $(max_at)
  x11_until 5 '! x11_maximized "$id"' || x11_fail "round $round: still maximised after the restore click"
  x11_until 5 is_normal_geometry || x11_fail "round $round: restored to $(x11_geometry "$id"), not $x0 $y0 $w0 $h0"
done
echo "maximise button: ok"

# ---- double-click on the title ------------------------------------------------------------------
x11_click_at "$id" 200 15 2
x11_until 5 x11_maximized "$id" || x11_fail "a title double-click does not maximise"
x11_click_at "$id" 200 15 2
x11_until 5 '! x11_maximized "$id"' || x11_fail "a title double-click does not restore"
x11_until 5 is_normal_geometry || x11_fail "double-click restored to $(x11_geometry "$id")"
echo "title double-click: ok"

# ---- dragging the title moves the window --------------------------------------------------------
xdotool mousemove --window "$id" 200 15 mousedown 1 sleep 0.2 mousemove_relative 30 20 sleep 0.2 \
  mousemove_relative 30 20 sleep 0.3 mouseup 1
x11_until 5 '[ "$(x11_geometry "$id" | cut -d" " -f1,2)" != "$x0 $y0" ]' || x11_fail "dragging the title does not move the window"
read -r x0 y0 w0 h0 < <(x11_geometry "$id")
echo "title drag: ok ($x0 $y0)"

# ---- minimise, then a second start brings the window back ---------------------------------------
xdotool mousemove 1 1
sleep 0.3
min_button_face() {
  local mx
  read -r mx _ < <(min_at)
  import -window "$id" -crop "20x14+$((mx - 10))+3" +repage txt:- 2>/dev/null | tail -n +2 | md5sum
}
face_before=$(min_button_face)
# shellcheck disable=SC2046
x11_click_at "$id" $(min_at)
x11_until 5 x11_hidden "$id" || x11_fail "the minimise button does not minimise"
x11_run "$program"
second=$X11_LAST_PID
x11_until 30 '! kill -0 "$second" 2>/dev/null' || x11_fail "the second start did not end"
wait "$second"
rc=$?
[ "$rc" -eq 0 ] || x11_fail "the second start ended with $rc"
x11_until 10 '! x11_hidden "$id"' || x11_fail "the second start did not bring the window back"
xdotool mousemove 1 1
sleep 0.5
[ "$(min_button_face)" = "$face_before" ] || x11_fail "the minimise button still shows its highlight after the restore"
echo "minimise and second start: ok"

# ---- the resize grip ----------------------------------------------------------------------------
read -r x0 y0 w0 h0 < <(x11_geometry "$id")
xdotool mousemove --window "$id" $((w0 - 4)) $((h0 - 4)) mousedown 1 sleep 0.2 \
  mousemove_relative -- -100 -60 sleep 0.2 mousemove_relative -- -150 -100 sleep 0.3 mouseup 1
x11_until 5 '[ "$(x11_geometry "$id" | cut -d" " -f3,4)" = "620 450" ]' ||
  x11_fail "shrinking by the grip gave $(x11_geometry "$id"), not the minimum 620 450"
xdotool mousemove --window "$id" 616 446 mousedown 1 sleep 0.2 mousemove_relative 100 50 sleep 0.2 \
  mousemove_relative 80 30 sleep 0.3 mouseup 1
x11_until 5 '[ "$(x11_geometry "$id" | cut -d" " -f3,4)" = "796 526" ]' ||
  x11_fail "growing by the grip gave $(x11_geometry "$id"), not 796 526"
echo "resize grip: ok"

# ---- closing ends the program -------------------------------------------------------------------
# shellcheck disable=SC2046
read -r w _ < <(x11_geometry "$id" | cut -d" " -f3,4)
x11_click_at "$id" $((w - 5 - 28 + 14)) 10
x11_until 30 '! kill -0 "$pid" 2>/dev/null' || x11_fail "the close button does not end the program"
wait "$pid"
rc=$?
[ "$rc" -eq 0 ] || x11_fail "the program ended with $rc"
echo "window behaviour: all checks passed"
exit 0
