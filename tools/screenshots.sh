#!/usr/bin/env bash
# Takes screenshots of ryx on the demo library at the screen sizes of common e-paper
# readers, each under a virtual X server that reports the panel's density, into
# docs/screen-WIDTHxHEIGHT.png: the start screen (recent items) with the attachments
# of the first item listed, as a tap on it lists them. No window manager runs, so
# the window has to fit the screen by itself.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-demo
work="$PWD/$build/screenshots"

# Runs inside the virtual X server: one screen, one picture.
shoot() {
  local out=$1
  "$build/src/ryx" "$work/library/zotero.sqlite" &
  local ryx=$!
  sleep 3
  # The first row of the item list lies at the window's top while no attachment is listed.
  xdotool mousemove 60 60 click 1
  sleep 2
  import -window root "$out"
  kill -TERM "$ryx"
  wait "$ryx" || true
}
if [ "${1:-}" = "--shoot" ]; then
  shoot "$2"
  exit 0
fi

tools/install-deps.sh xdotool sqlite3
ccache=$(command -v ccache || true)
cmake -S . -B "$build" -DRYX_SHARE_DIR="$PWD/$build/share" ${ccache:+-DCMAKE_CXX_COMPILER_LAUNCHER=ccache} >/dev/null
cmake --build "$build" -j"$(nproc)" --target ryx ryx-libgen ryx_rc

rm -rf "$work"
mkdir -p "$work/share"
"$build/tools/libgen/ryx-libgen" --demo "$work/library" >/dev/null
cp share/ryx/ryx.rc "$work/share/"
# Recent items that have attachments, so that the start screen has something to show.
items=$(sqlite3 "$work/library/zotero.sqlite" \
  "SELECT group_concat(id, ';') FROM (SELECT DISTINCT sourceItemID AS id FROM itemAttachments
   WHERE sourceItemID IS NOT NULL ORDER BY id LIMIT 10)")
printf '[HISTORY]\nmax_history=10\nitems=%s;\n' "$items" >"$work/share/ryx.history"
export RYX_SHARE_DIR="$work/share" NO_AT_BRIDGE=1

for screen in 600x800@167 768x1024@160 1024x1280@160 1404x1872@227; do
  size=${screen%@*}
  xvfb-run -a -s "-screen 0 ${size}x24 -dpi ${screen#*@}" "$0" --shoot "docs/screen-$size.png"
  echo "docs/screen-$size.png"
done
