#!/usr/bin/env bash
# Builds ryx and runs it on a freshly generated demo library, inside a private
# D-Bus session with a stand-in system daemon (which starts the viewers) and a
# private file-type registry (pdf, epub and html in mupdf, txt in xmessage).
# Without a display it runs on a virtual one and takes a short tour instead,
# saving a screenshot of each stop. With --again it skips building and generating
# and runs on the library and history of the last demo.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-demo
demo="$PWD/$build/demo"

# Taps the window at (x, y), counted from its top left (negative y: from its bottom).
tap() {
  local y=$2
  [ "$y" -lt 0 ] && y=$((height + y))
  xdotool mousemove --window "$window" "$1" "$y" click 1
  sleep 1.5
}
# The centre of the key in column col of the search box's table of 31 columns.
key_x() { echo $(((2 * $1 + 1) * (width - 4) / 62 + 2)); }

# Without a display: a title letter, a tag with the attachments of its first item, and
# Recent after opening one of them; the viewer is not started on the virtual screen.
tour() {
  matchbox-window-manager -use_titlebar no &
  local wm=$!
  "$build/src/ryx" "$demo/library/zotero.sqlite" &
  local ryx=$!
  window=$(xdotool search --sync --onlyvisible --pid "$ryx" | head -1)
  sleep 2
  eval "$(xdotool getwindowgeometry --shell "$window")"
  width=$WIDTH height=$HEIGHT
  tap "$(key_x 5)" -131 # title key "B"
  import -window root "$demo/tour-1-title-B.png"
  tap 652 844 # the tag "Maps"
  tap 40 55   # its first item
  import -window root "$demo/tour-2-tag-attachments.png"
  tap 40 55 # the item's first attachment
  tap "$(key_x 27)" -29 # "Recent"
  import -window root "$demo/tour-3-recent.png"
  kill -TERM "$ryx"
  wait "$ryx" || true
  kill -TERM "$wm"
}

# Runs inside the private session: the daemon first, then the program.
session() {
  local stub_out="$demo/sysd.out" stub_args=()
  [ -n "${RYX_DEMO_TOUR:-}" ] && stub_args+=(--no-exec)
  "$build/tools/ryx-sysd-stub" --log "$demo/sysd.log" "${stub_args[@]}" >"$stub_out" &
  local stub=$!
  for _ in $(seq 100); do grep -q ready "$stub_out" 2>/dev/null && break; sleep 0.1; done
  if [ -n "${RYX_DEMO_TOUR:-}" ]; then
    tour
  else
    "$build/src/ryx" "$demo/library/zotero.sqlite" || true
  fi
  kill -TERM "$stub"
  wait "$stub" || true
}
if [ "${1:-}" = "--session" ]; then
  session
  exit 0
fi

# The demo's environment: the style and history files away from the device's card,
# the private file-type registry.
export RYX_SHARE_DIR="$demo/share"
export GCONF_DEFAULT_SOURCE_PATH="$demo/gconf.path"
export NO_AT_BRIDGE=1

if [ "${1:-}" != "--again" ]; then
  tools/install-deps.sh mupdf matchbox-window-manager xdotool
  # Only the three programs the demo runs.
  cmake -S . -B "$build" -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" --target ryx ryx-libgen ryx-sysd-stub

  rm -rf "$demo"
  "$build/tools/libgen/ryx-libgen" --demo "$demo/library"
  tools/demo-registry.sh "$demo"
  mkdir -p "$RYX_SHARE_DIR"
  cp share/ryx/ryx.rc "$RYX_SHARE_DIR/"
fi

if [ -n "${DISPLAY:-}" ]; then
  dbus-run-session -- "$0" --session
else
  echo "No display: touring on a virtual one and saving screenshots."
  export RYX_DEMO_TOUR=1
  xvfb-run -a -s "-screen 0 1024x1280x24" dbus-run-session -- "$0" --session
  echo "Screenshots: $demo/tour-*.png"
fi
echo "Run it again on the same library and history: $0 --again"
