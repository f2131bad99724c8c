#!/usr/bin/env bash
# Installs what is missing, builds Taskvane and starts it.
# Without a display it runs under a virtual X server, saves a screenshot and runs until Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/build.sh release

program=build/bin/taskvane
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$program"
fi

shot=$(pwd)/taskvane-screenshot.png
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Without a session (root on a console, a container) there is no session folder: the toolkit would
# make /tmp/runtime-<user> and leave it behind. The program gets one of this run's own instead,
# removed with the rest at the end.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  mkdir -m 0700 "$tmp/runtime"
  export XDG_RUNTIME_DIR=$tmp/runtime
fi
# Ctrl-C, a kill, or the terminal closing asks the program to end; the server then goes with it.
# Until the runner starts there is nothing to end but this script. The kill comes before any
# message: a closed terminal fails the writes, and they must not stop the kill.
stop() {
  if [ -s "$tmp/pid" ]; then
    kill -TERM "$(cat "$tmp/pid")" 2>/dev/null || true
  elif [ -n "${runner:-}" ]; then
    kill -TERM "$runner" 2>/dev/null || true
  else
    exit 130
  fi
  { echo && echo "Stopping Taskvane."; } 2>/dev/null || true
}
trap stop INT TERM HUP
echo "No display found: Taskvane runs under a virtual X server; a screenshot goes to $shot."
echo "Press Ctrl-C to stop it."
# The virtual X server runs in a session of its own, so that Ctrl-C reaches this script alone; the
# program is then asked to end and closes as when its window is closed, before the server goes.
setsid xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  "$1" &
  pid=$!
  echo "$pid" >"$3/pid"
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    import -window root "$2" && echo "Screenshot saved: $2"
  fi
  wait "$pid"
' _ "$program" "$shot" "$tmp" &
runner=$!
status=0
while :; do
  wait "$runner" && status=0 || status=$?
  kill -0 "$runner" 2>/dev/null || break
done
echo "Taskvane ended (status $status)." 2>/dev/null || true
exit "$status"
