#!/usr/bin/env bash
# Builds ryx for a Debian ARM architecture and packs it as a Debian package and as a
# plain archive, dist/ryx_VERSION_ARCH.deb and dist/ryx-VERSION-ARCH.tar.gz, with the
# version of the project. Then, as its own check, installs the package into a fresh
# system folder of that architecture and starts the program from it under qemu.
# Usage: tools/package.sh ARCH   (armhf, arm64 or armel)
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:?usage: tools/package.sh ARCH}
source tools/cross-common.sh

# Runs inside a virtual display and a private bus: the installed program must show its
# window on a demo library.
if [ "${2:-}" = "--start" ]; then
  ryx=$3 library=$4
  "$ryx" "$library" &
  pid=$!
  for _ in $(seq 120); do
    # The main window, not GTK's 10x10 leader window.
    if xwininfo -root -tree | grep -Eq '"ryx".* [0-9]{3,}x[0-9]{3,}\+'; then
      echo "The installed program started and shows its window."
      kill -TERM "$pid"
      wait "$pid" || true
      exit 0
    fi
    kill -0 "$pid" 2> /dev/null || break
    sleep 1
  done
  echo "The installed program did not show its window." >&2
  kill -TERM "$pid" 2> /dev/null || true
  exit 1
fi

cross_setup "$arch"
tools/install-deps.sh dpkg-dev arch-test
sysroot=$sysroot_cache/bookworm-$arch
make_system_folder "$sysroot" "$arch" bookworm extract \
  libgtk2.0-dev,libgconf2-dev,libsqlite3-dev,libx11-dev,libc6-dev
register_qemu

version=$(sed -n 's/^project(ryx VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
build=build-package-$arch
stage=$PWD/$build/stage
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/debian-cross.cmake" \
  -DRYX_CROSS_ARCH="$arch" -DRYX_SYSROOT="$sysroot" -DBUILD_TESTING=OFF \
  -DCMAKE_CXX_FLAGS="-Werror"
cmake --build "$build" -j"$(nproc)" --target ryx ryx-libgen
rm -rf "$stage"
DESTDIR=$stage cmake --install "$build" --strip

# The C library version the program needs, from the symbol versions it uses.
glibc=$(objdump -T "$build/src/ryx" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -V | tail -n 1)
mkdir -p "$stage/DEBIAN" dist
cat > "$stage/DEBIAN/control" << CONTROL
Package: ryx
Version: $version
Architecture: $arch
Maintainer: ryx developers <ryx@localhost>
Depends: libc6 (>= $glibc), libstdc++6 (>= 12), libgtk2.0-0, libgconf-2-4, libglib2.0-0, libsqlite3-0
Section: text
Priority: optional
Description: browse a Zotero library on an electronic-paper reader
 Lists the items of a Zotero library by title, creator, month added, tag and
 collection, and opens their attachments in the reader's viewers.
CONTROL
deb=dist/ryx_${version}_$arch.deb
tarball=dist/ryx-$version-$arch.tar.gz
dpkg-deb --root-owner-group --build "$stage" "$deb"
# The archive holds the program's folder, to unpack wherever the card is mounted.
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
tar --owner=0 --group=0 -C "$stage$prefix" -czf "$tarball" .
echo "Made $deb and $tarball (needs glibc $glibc)"

# The check: a fresh system folder with nothing but the package and what it depends on.
checkroot=$sysroot_cache/package-check-$arch
run_as_root rm -rf "$checkroot"
make_system_folder "$checkroot" "$arch" bookworm apt "$PWD/$deb" \
  --hook-dir=/usr/share/mmdebstrap/hooks/file-mirror-automount
library=$PWD/$build/demo
rm -rf "$library"
QEMU_LD_PREFIX=$sysroot "$build/tools/ryx-libgen" --demo "$library"
QEMU_LD_PREFIX=$checkroot NO_AT_BRIDGE=1 xvfb-run -a -s "-screen 0 1024x1280x24" \
  dbus-run-session -- "$0" "$arch" --start "$checkroot$prefix/bin/ryx" "$library/zotero.sqlite"
