# Cross-builds ryx for a Debian ARM system from a Debian host, with the host's cross
# compiler and a Debian system folder of the target as sysroot (tools/cross.sh makes
# one). Set RYX_CROSS_ARCH (armhf, arm64 or armel) and RYX_SYSROOT.
set(RYX_CROSS_ARCH "$ENV{RYX_CROSS_ARCH}" CACHE STRING "Debian architecture to build for")
set(RYX_SYSROOT "$ENV{RYX_SYSROOT}" CACHE PATH "Debian system folder of that architecture")
# try_compile projects read this file again and see only these variables.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES RYX_CROSS_ARCH RYX_SYSROOT)

if(RYX_CROSS_ARCH STREQUAL "armhf")
  set(ryx_triplet arm-linux-gnueabihf)
  set(ryx_qemu qemu-arm-static)
  set(CMAKE_SYSTEM_PROCESSOR arm)
elseif(RYX_CROSS_ARCH STREQUAL "armel")
  set(ryx_triplet arm-linux-gnueabi)
  set(ryx_qemu qemu-arm-static)
  set(CMAKE_SYSTEM_PROCESSOR arm)
elseif(RYX_CROSS_ARCH STREQUAL "arm64")
  set(ryx_triplet aarch64-linux-gnu)
  set(ryx_qemu qemu-aarch64-static)
  set(CMAKE_SYSTEM_PROCESSOR aarch64)
else()
  message(FATAL_ERROR "RYX_CROSS_ARCH must be armhf, arm64 or armel, not '${RYX_CROSS_ARCH}'")
endif()
if(NOT IS_DIRECTORY "${RYX_SYSROOT}/usr/lib/${ryx_triplet}")
  message(FATAL_ERROR "RYX_SYSROOT '${RYX_SYSROOT}' is not a Debian ${RYX_CROSS_ARCH} system folder")
endif()

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${ryx_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${ryx_triplet}-g++)
set(CMAKE_SYSROOT "${RYX_SYSROOT}")
set(CMAKE_LIBRARY_ARCHITECTURE ${ryx_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Test discovery runs the ARM test programs; the loader and libraries come from the sysroot.
set(CMAKE_CROSSCOMPILING_EMULATOR ${ryx_qemu} -L "${RYX_SYSROOT}")

set(ENV{PKG_CONFIG_DIR} "")
set(ENV{PKG_CONFIG_LIBDIR} "${RYX_SYSROOT}/usr/lib/${ryx_triplet}/pkgconfig:${RYX_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${RYX_SYSROOT}")
