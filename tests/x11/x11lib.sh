# Shell library of the real-window-system tests: a private X server (Xvfb) with a window manager
# (openbox), a private home and runtime directory, and clean-up of everything started here.
# Source it, then call x11_start. A missing tool makes the test skip (exit 77) with its reason.

X11_PIDS=()
X11_DIR=""

x11_skip() {
  echo "SKIP: $*"
  exit 77
}

x11_fail() {
  echo "FAIL: $*"
  if [ -n "$X11_DIR" ] && [ -s "$X11_DIR/program.log" ]; then
    echo "---- program output ----"
    tail -n 60 "$X11_DIR/program.log"
  fi
  exit 1
}

x11_teardown() {
  local i
  # Newest first: the program, then the window manager, then the server.
  for ((i = ${#X11_PIDS[@]} - 1; i >= 0; i--)); do
    kill "${X11_PIDS[i]}" 2>/dev/null || true
  done
  for ((i = ${#X11_PIDS[@]} - 1; i >= 0; i--)); do
    local n=0
    while kill -0 "${X11_PIDS[i]}" 2>/dev/null && [ $n -lt 50 ]; do
      sleep 0.1
      n=$((n + 1))
    done
    kill -9 "${X11_PIDS[i]}" 2>/dev/null || true
    wait "${X11_PIDS[i]}" 2>/dev/null || true
  done
  X11_PIDS=()
  if [ -n "$X11_DIR" ] && [ -d "$X11_DIR" ]; then
    rm -rf "$X11_DIR"
  fi
}

x11_require() {
  local tool
  for tool in Xvfb openbox xdotool xprop xwininfo wmctrl "$@"; do
    command -v "$tool" >/dev/null 2>&1 || x11_skip "$tool is not installed"
  done
}

# Starts the server and the window manager; exports DISPLAY and the private directories.
#   --no-wm        the server alone
#   --framebuffer  the server keeps its screen in $X11_DIR/fb/Xvfb_screen0 (an xwd image): the very
#                  pixels shown, whatever a client that reads the screen makes of them
x11_start() {
  local wm=1 fb=0
  while [ $# -gt 0 ]; do
    case $1 in
    --no-wm) wm=0 ;;
    --framebuffer) fb=1 ;;
    *) x11_fail "x11_start: unknown option $1" ;;
    esac
    shift
  done
  x11_require
  trap x11_teardown EXIT
  trap 'exit 1' INT TERM
  X11_DIR=$(mktemp -d "${TMPDIR:-/tmp}/taskvane-x11.XXXXXX")
  mkdir -p "$X11_DIR/home" "$X11_DIR/run/$(id -u)" "$X11_DIR/config" "$X11_DIR/data" "$X11_DIR/cache" "$X11_DIR/fb"
  local fbargs=()
  [ $fb -eq 0 ] || fbargs=(-fbdir "$X11_DIR/fb")
  chmod 700 "$X11_DIR/run/$(id -u)"
  export HOME="$X11_DIR/home"
  # The program keeps its socket in the user's session folder below these, whatever names it.
  export TASKVANE_RUN_USER_DIR="$X11_DIR/run"
  export TASKVANE_TEMP_DIR="$X11_DIR"
  export XDG_RUNTIME_DIR="$X11_DIR/run/$(id -u)"
  export XDG_CONFIG_HOME="$X11_DIR/config"
  export XDG_DATA_HOME="$X11_DIR/data"
  export XDG_CACHE_HOME="$X11_DIR/cache"
  export TASKVANE_REGISTRY_DIR="$X11_DIR/registry"
  # A name of its own: a real running instance is never met.
  export TASKVANE_INSTANCE_NAME="taskvane-x11-$$-$RANDOM"
  # The update check goes to a closed loopback port, never out to the network.
  export TASKVANE_HTTP_CONNECT_TO="127.0.0.1:9"
  export QT_QPA_PLATFORM=xcb
  # The X keyboard library's string copies trip the sanitizer's strict string checks, which
  # the test build switches on; they are not the program's.
  export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}strict_string_checks=0"
  unset WAYLAND_DISPLAY SESSION_MANAGER DBUS_SESSION_BUS_ADDRESS

  local fifo="$X11_DIR/displayfd"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 "${fbargs[@]}" -nolisten tcp -noreset 3>"$fifo" >"$X11_DIR/xvfb.log" 2>&1 &
  X11_PIDS+=($!)
  local display=""
  read -r -t 20 display <"$fifo" || true
  [ -n "$display" ] || { cat "$X11_DIR/xvfb.log"; x11_skip "Xvfb did not start"; }
  export DISPLAY=":$display"

  [ $wm -eq 1 ] || return 0
  openbox >"$X11_DIR/openbox.log" 2>&1 &
  X11_PIDS+=($!)
  local n=0
  until wmctrl -m >/dev/null 2>&1; do
    n=$((n + 1))
    [ $n -lt 100 ] || x11_skip "the window manager did not start"
    sleep 0.1
  done
}

# Starts a program in the background; its pid is in X11_LAST_PID.
x11_run() {
  "$@" >>"$X11_DIR/program.log" 2>&1 &
  X11_LAST_PID=$!
  X11_PIDS+=("$X11_LAST_PID")
}

# Waits for a visible window of the name owned by the pid (both: xdotool matches either by
# default); prints its id.
x11_wait_window() {
  local name=$1 pid=$2 timeout=${3:-30} id="" n=0
  while [ $n -lt $((timeout * 10)) ]; do
    id=$(xdotool search --all --onlyvisible --pid "$pid" --name "^$name\$" 2>/dev/null | head -n1 || true)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || { cat "$X11_DIR/program.log" >&2; return 1; }
    sleep 0.1
    n=$((n + 1))
  done
  return 1
}

# Polls a shell condition for up to a number of seconds (default 5).
x11_until() {
  local timeout=$1 n=0
  shift
  while [ $n -lt $((timeout * 20)) ]; do
    if eval "$@"; then
      return 0
    fi
    sleep 0.05
    n=$((n + 1))
  done
  return 1
}

# The frame geometry of a window as the window manager sees it: "X Y W H".
x11_geometry() {
  xwininfo -id "$1" | awk '/Absolute upper-left X:/ {x=$NF} /Absolute upper-left Y:/ {y=$NF}
    /^  Width:/ {w=$NF} /^  Height:/ {h=$NF} END {print x, y, w, h}'
}

# The window's _NET_WM_STATE atoms, one line.
x11_state() {
  xprop -id "$1" _NET_WM_STATE 2>/dev/null | sed 's/.*= *//'
}

x11_maximized() {
  local s
  s=$(x11_state "$1")
  [[ $s == *_NET_WM_STATE_MAXIMIZED_VERT* && $s == *_NET_WM_STATE_MAXIMIZED_HORZ* ]]
}

x11_hidden() {
  [[ $(x11_state "$1") == *_NET_WM_STATE_HIDDEN* ]]
}

# Clicks (or double-clicks with "2") at a point of a window.
x11_click_at() {
  local id=$1 x=$2 y=$3 repeat=${4:-1}
  xdotool mousemove --window "$id" "$x" "$y" sleep 0.1 click --repeat "$repeat" --delay 80 1
}
