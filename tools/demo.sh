#!/usr/bin/env bash
# Builds ryx and runs it on a freshly generated demo library, inside a private
# D-Bus session with a stand-in system daemon (which starts the viewers) and a
# private file-type registry (pdf, epub and html in mupdf, txt in xmessage).
# Without a display it runs on a virtual one and saves a screenshot instead.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-demo
demo="$PWD/$build/demo"

# Runs inside the private session: the daemon first, then the program.
session() {
  local stub_out="$demo/sysd.out"
  "$build/tools/ryx-sysd-stub" --log "$demo/sysd.log" >"$stub_out" &
  local stub=$!
  for _ in $(seq 100); do grep -q ready "$stub_out" 2>/dev/null && break; sleep 0.1; done
  if [ -n "${RYX_DEMO_SCREENSHOT:-}" ]; then
    # A window manager maximizes the window, as the device's does.
    matchbox-window-manager -use_titlebar no &
    local wm=$!
    sleep 1
    "$build/src/ryx" "$demo/library/zotero.sqlite" &
    local ryx=$!
    sleep 4
    import -window root "$RYX_DEMO_SCREENSHOT"
    kill -TERM "$ryx"
    wait "$ryx" || true
    kill -TERM "$wm"
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

tools/install-deps.sh mupdf matchbox-window-manager

cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)"

rm -rf "$demo"
"$build/tools/libgen/ryx-libgen" --demo "$demo/library"
tools/demo-registry.sh "$demo"
# The style and history files of the demo, away from the device's card.
mkdir -p "$demo/share"
cp share/ryx/ryx.rc "$demo/share/"
export RYX_SHARE_DIR="$demo/share"
export GCONF_DEFAULT_SOURCE_PATH="$demo/gconf.path"
export NO_AT_BRIDGE=1


if [ -n "${DISPLAY:-}" ]; then
  dbus-run-session -- "$0" --session
else
  echo "No display: running on a virtual one and saving a screenshot."
  export RYX_DEMO_SCREENSHOT="$demo/screenshot.png"
  xvfb-run -a -s "-screen 0 1024x1280x24" dbus-run-session -- "$0" --session
  echo "Screenshot: $RYX_DEMO_SCREENSHOT"
fi
