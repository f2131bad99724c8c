#!/usr/bin/env bash
# The about box and a message box over the main window, as the screen shows them, with a window
# manager and with the server alone: the screen's picture over each box must be the box's own
# picture, both as a client reads the root window (xwd, which goes window by window and colormap
# by colormap) and in the server's frame buffer.
# Usage: popup_images.sh PROGRAM
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=x11lib.sh
source "$here/x11lib.sh"

program=${1:?the program to test}
[ -x "$program" ] || x11_skip "the program is not built: $program"
x11_require xwd convert compare

# The message box's corners are cut round by its shape: what shows there is the window beneath.
# Sets CORNERS to the drawing that blacks them out in a picture of the size.
corners() {
  local w=$1 h=$2 r=5
  CORNERS=(-fill black -draw "rectangle 0,0 $((r - 1)),$((r - 1))"
    -draw "rectangle $((w - r)),0 $((w - 1)),$((r - 1))"
    -draw "rectangle 0,$((h - r)) $((r - 1)),$((h - 1))"
    -draw "rectangle $((w - r)),$((h - r)) $((w - 1)),$((h - 1))")
}

# Differing pixels between two pictures.
differing() {
  compare -metric AE "$1" "$2" null: 2>&1 | cut -d' ' -f1
}

# Checks the screen over a shown box; a picture that differs is taken again a few times, in case
# the box was still drawing.
check_box() {
  local id=$1 what=$2 x y w h own root fb d_root d_fb
  read -r x y w h < <(x11_geometry "$id")
  # Over the main window is where a box was read wrong.
  if [ "$x" -lt "$MAIN_X" ] || [ "$y" -lt "$MAIN_Y" ] || [ $((x + w)) -gt $((MAIN_X + MAIN_W)) ] ||
    [ $((y + h)) -gt $((MAIN_Y + MAIN_H)) ]; then
    x11_fail "$what: the box at $x $y ${w}x$h is not over the main window"
  fi
  # The pointer away from the box: no highlight, and the server's own cursor is in the frame buffer.
  xdotool mousemove 0 0
  own="$X11_DIR/own.png" root="$X11_DIR/root.png" fb="$X11_DIR/fb.png"
  corners "$w" "$h"
  for _ in 1 2 3 4 5; do
    sleep 0.5
    xwd -silent -id "$id" | convert xwd:- "${CORNERS[@]}" "$own" || x11_fail "$what: no image of the box"
    xwd -silent -root | convert xwd:- -crop "${w}x${h}+$x+$y" +repage "${CORNERS[@]}" "$root" ||
      x11_fail "$what: no image of the root window"
    convert "xwd:$X11_DIR/fb/Xvfb_screen0" -crop "${w}x${h}+$x+$y" +repage "${CORNERS[@]}" "$fb" ||
      x11_fail "$what: no image of the frame buffer"
    d_root=$(differing "$own" "$root")
    d_fb=$(differing "$own" "$fb")
    [ "$d_root" = 0 ] && [ "$d_fb" = 0 ] && break
  done
  echo "$what ($id) at $x $y ${w}x$h: $d_root pixels differ on the root window, $d_fb in the frame buffer"
  # A box that drew nothing would match a screen that shows nothing: its own picture has content.
  [ "$(convert "$own" -format '%k' info:)" -gt 20 ] || x11_fail "$what: the box's own picture is blank"
  [ "$d_fb" = 0 ] || FAILED+=("$what: the screen does not show the box")
  [ "$d_root" = 0 ] || FAILED+=("$what: the root window's image over the box is not the box")
}

viewable() {
  xwininfo -id "$1" 2>/dev/null | grep -q IsViewable
}

# Esc closes the box. A key goes where the input focus is when the server takes it: a window manager
# that acts late on an older request (the click on the main window) can move the focus off the box
# after it was put there, and the toolkit drops a key aimed at a window the box blocks. A key sent
# while the focus left the box is sent again; one the box had the focus for must close it. How soon
# depends on the machine's load: the wait is the test's to bound, not a measure.
close_box() {
  local id=$1 what=$2 try
  for try in 1 2 3; do
    xdotool windowfocus --sync "$id" key Escape
    x11_until 60 '! viewable "$id" || [ "$(xdotool getwindowfocus 2>/dev/null)" != "$id" ]' ||
      x11_fail "$what: Esc does not close the box"
    viewable "$id" || return 0
    sleep 0.2
    viewable "$id" || return 0
    echo "$what: the focus left the box before the key reached it (try $try)"
  done
  x11_fail "$what: the focus does not stay on the box"
}

run_round() {
  local setting=$1 pid id box
  shift
  x11_start --framebuffer "$@"
  x11_run "$program"
  pid=$X11_LAST_PID
  id=$(x11_wait_window Taskvane "$pid" 60) || x11_fail "$setting: the window never showed"
  sleep 0.5
  read -r MAIN_X MAIN_Y MAIN_W MAIN_H < <(x11_geometry "$id")

  # The about box: the title's "?" button.
  x11_click_at "$id" $((MAIN_W - 5 - 112 + 14)) 10
  box=$(x11_wait_window "About.*" "$pid" 20) || x11_fail "$setting: the about box never showed"
  check_box "$box" "$setting, about box"
  close_box "$box" "$setting, about box"

  # A message box: the failure to start a program that does not exist.
  x11_click_at "$id" $((MAIN_W - 54)) $((MAIN_H - 44))
  sleep 0.5
  xdotool type --delay 20 "$X11_DIR/no-such-program"
  xdotool key Return
  box=$(x11_wait_window "Details.*" "$pid" 20) || x11_fail "$setting: the message box never showed"
  check_box "$box" "$setting, message box"
  close_box "$box" "$setting, message box"
  x11_teardown
}

# Every box in every setting is looked at before the verdict.
FAILED=()
run_round "window manager"
run_round "no window manager" --no-wm
[ ${#FAILED[@]} -eq 0 ] || x11_fail "$(printf '%s\n' "${FAILED[@]}")"
echo "popup images: all checks passed"
exit 0
