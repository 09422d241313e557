# Helpers for tools/cross.sh and tools/package.sh (sourced, not run): the cross
# compiler and qemu of a Debian ARM architecture, its system folders and binfmt.

# Sets triplet, qemu_arch and sysroot_cache for ARCH (armhf, arm64, armel), and installs
# on the host what building for it needs: the cross compiler, qemu-user and mmdebstrap.
# The target's own libraries never go into the host's packages: they live in a system
# folder below $RYX_CROSS_CACHE.
cross_setup() {
  case "$1" in
    armhf) triplet=arm-linux-gnueabihf qemu_arch=arm ;;
    armel) triplet=arm-linux-gnueabi qemu_arch=arm ;;
    arm64) triplet=aarch64-linux-gnu qemu_arch=aarch64 ;;
    *) echo "unknown architecture '$1': armhf, arm64 or armel" >&2; return 2 ;;
  esac
  sysroot_cache=${RYX_CROSS_CACHE:-/var/cache/ryx-cross}
  tools/install-deps.sh "g++-$triplet" qemu-user-static mmdebstrap
}

# run_as_root COMMAND...: as root, or through sudo.
run_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# make_system_folder DIR ARCH RELEASE VARIANT PACKAGES [MMDEBSTRAP OPTION...]: a Debian system folder made by
# mmdebstrap, unless DIR is there already. Made beside DIR and moved into place at the
# end, so that an interrupted run leaves nothing half made under the final name.
make_system_folder() {
  local dir=$1 arch=$2 release=$3 variant=$4 packages=$5
  shift 5
  [ -e "$dir/.complete" ] && return 0
  echo "Making a Debian $release $arch system folder in $dir"
  run_as_root rm -rf "$dir.tmp"
  run_as_root mkdir -p "$(dirname "$dir")"
  run_as_root mmdebstrap --quiet --variant="$variant" --architectures="$arch" --include="$packages" \
    "$@" "$release" "$dir.tmp"
  # The linker resolves absolute links against the host's root, not the sysroot.
  (cd "$dir.tmp" && find . -lname '/*' -print0 | while IFS= read -r -d '' link; do
    target=$(readlink "$link")
    run_as_root ln -sfnr "./${target#/}" "$link"
  done)
  run_as_root touch "$dir.tmp/.complete"
  run_as_root rm -rf "$dir"
  run_as_root mv "$dir.tmp" "$dir"
}

# The kernel starts the ARM programs the tests start (the program, the generator, the
# daemon stand-in) through qemu once qemu is registered with binfmt_misc.
register_qemu() {
  local binfmt=/proc/sys/fs/binfmt_misc
  if [ ! -e "$binfmt/register" ]; then
    run_as_root mount -t binfmt_misc binfmt_misc "$binfmt"
  fi
  if [ ! -e "$binfmt/qemu-$qemu_arch" ]; then
    echo "Registering qemu-$qemu_arch with the kernel's binfmt_misc (for ARM programs started by the tests)"
    run_as_root sh -c "cat /usr/lib/binfmt.d/qemu-$qemu_arch.conf > $binfmt/register"
  fi
  grep -q enabled "$binfmt/qemu-$qemu_arch"
}
