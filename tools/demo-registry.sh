#!/bin/sh
# Writes a private GConf source holding a file-type registry for trying ryx on a
# desktop: pdf, epub and html open in mupdf, txt in xmessage.
#
#   tools/demo-registry.sh DIR
#
# creates DIR/gconf (the source) and DIR/gconf.path (a GConf path file naming it).
# GConf's daemon reads the path file named by GCONF_DEFAULT_SOURCE_PATH when a
# session bus starts it, so run the program inside a private session:
#
#   GCONF_DEFAULT_SOURCE_PATH=DIR/gconf.path dbus-run-session -- ...
#
# Needs gconftool-2 (Debian: gconf2) and, to view files, mupdf and xmessage
# (Debian: mupdf, x11-utils).
set -eu

if [ $# -ne 1 ]; then
    echo "usage: $0 DIR" >&2
    exit 2
fi
mkdir -p "$1/gconf"
dir=$(cd "$1" && pwd)
source="xml:readwrite:$dir/gconf"
printf '%s\n' "$source" > "$dir/gconf.path"

registry=/apps/er/sys/ctb/filetypes

# Writes the source's files directly: no GConf daemon may serve it meanwhile.
set_key() {
    gconftool-2 --direct --config-source="$source" "$@"
}

# viewer NAME COMMAND ICON EXTENSION...
viewer() {
    name=$1 command=$2 icon=$3
    shift 3
    extensions=$(echo "$@" | tr ' ' ',')
    set_key --type string --set "$registry/$name/viewer_cmd" "$command"
    set_key --type string --set "$registry/$name/icon_name" "$icon"
    set_key --type list --list-type string --set "$registry/$name/extensions" "[$extensions]"
}

viewer mupdf mupdf pdf pdf epub html
viewer text "xmessage -file" txt txt
