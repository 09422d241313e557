#!/usr/bin/env bash
# Cross-builds ryx for a Debian ARM architecture with warnings as errors and runs every
# test under qemu, with a virtual X server and a private D-Bus session.
# Usage: tools/cross.sh ARCH [RELEASE]
#   ARCH     armhf, arm64 or armel
#   RELEASE  the Debian release whose libraries the build uses and needs (default bookworm)
# The target's libraries come from a Debian system folder below $RYX_CROSS_CACHE
# (default /var/cache/ryx-cross), made on the first run and reused; the build goes to
# build-ARCH (build-ARCH-RELEASE for another release).
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:?usage: tools/cross.sh ARCH [RELEASE]}
release=${2:-bookworm}
source tools/cross-common.sh
cross_setup "$arch"

sysroot=$sysroot_cache/$release-$arch
make_system_folder "$sysroot" "$arch" "$release" extract \
  libgtk2.0-dev,libgconf2-dev,libsqlite3-dev,libgtest-dev,libx11-dev,libc6-dev,fonts-dejavu-core,fontconfig-config
register_qemu

build=build-$arch
cmake_args=()
if [ "$release" != bookworm ]; then
  build=build-$arch-$release
  # The cross compiler's C++ library is newer than an older release's: carry it along.
  cmake_args+=(-DCMAKE_EXE_LINKER_FLAGS="-static-libstdc++ -static-libgcc")
fi
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/debian-cross.cmake" \
  -DRYX_CROSS_ARCH="$arch" -DRYX_SYSROOT="$sysroot" \
  -DCMAKE_CXX_FLAGS="-Werror" "${launcher[@]}" "${cmake_args[@]}"
cmake --build "$build" -j"$(nproc)"

# The ARM programs find their loader and libraries in the system folder.
export QEMU_LD_PREFIX=$sysroot
cd "$build"
NO_AT_BRIDGE=1 xvfb-run -a -s "-noreset -screen 0 1024x1280x24" \
  dbus-run-session -- ctest --output-on-failure -j2 --timeout 900
