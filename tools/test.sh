#!/usr/bin/env bash
# Builds ryx with warnings as errors and runs every test under a virtual X server
# and a private D-Bus session.
#   --sanitize  builds with ASan and UBSan (GLib allocating with malloc) instead
#   --clang     builds with clang and checks that every file holds to .clang-format
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
cmake_args=()
case "${1:-}" in
  --sanitize)
    tools/install-deps.sh
    build=build-asan
    cmake_args+=(-DRYX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
    export LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    # GLib's slice allocator and its caches would hide our leaks from the sanitizer.
    export G_SLICE=always-malloc G_DEBUG=gc-friendly
    ;;
  --clang)
    tools/install-deps.sh clang clang-format
    build=build-clang
    cmake_args+=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
    git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
    ;;
  *)
    tools/install-deps.sh
    ;;
esac

# The default share directory is the device's: the tests never use it.
cmake -S . -B "$build" -DCMAKE_CXX_FLAGS="-Werror" "${cmake_args[@]}"
cmake --build "$build" -j"$(nproc)"

cd "$build"
NO_AT_BRIDGE=1 xvfb-run -a -s "-noreset -screen 0 1024x1280x24" \
  dbus-run-session -- ctest --output-on-failure -j2 --timeout 300
