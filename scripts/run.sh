#!/usr/bin/env bash
# Installs what is missing, builds Taskvane and starts it.
# Without a display it runs under a virtual X server and saves a screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/build.sh release

program=build/bin/taskvane
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$program"
fi

shot=$(pwd)/taskvane-screenshot.png
echo "No display found: starting Taskvane under a virtual X server; a screenshot goes to $shot"
exec xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  "$1" &
  pid=$!
  trap "kill $pid 2>/dev/null" INT TERM
  sleep 5
  import -window root "$2" && echo "Screenshot saved: $2"
  wait $pid
' _ "$program" "$shot"
