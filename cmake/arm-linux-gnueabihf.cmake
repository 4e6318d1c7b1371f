# Cross-build for the board: 32-bit ARM, hard float (Debian's armhf).
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake ...
#
# The target's libraries come from one of two places:
#  - this host's multiarch directories: crossbuild-essential-armhf and the
#    :armhf -dev packages (libfastrtps-dev:armhf and so on);
#  - an armhf root file system of its own, CHRONAVEL_ARMHF_SYSROOT, with the
#    same -dev packages in it (scripts/test-armhf.sh makes one). That one is
#    compiled with clang and lld, which target ARM without a cross gcc: on
#    Debian 12 the cross gcc and g++-multilib cannot be installed together.
# The tests run under qemu-arm user-mode emulation (CHRONAVEL_QEMU_ARM, else
# qemu-arm from PATH), which CTest puts in front of every test executable.
# CHRONAVEL_ARMHF_TIME_BITS=64 builds with a 64-bit time_t, as the armhf of
# newer distributions does (glibc 2.34 and later).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(CHRONAVEL_ARMHF_SYSROOT "$ENV{CHRONAVEL_ARMHF_SYSROOT}" CACHE PATH
    "armhf root file system to build against; empty: the host's multiarch directories")
set(CHRONAVEL_QEMU_ARM "$ENV{CHRONAVEL_QEMU_ARM}" CACHE FILEPATH "qemu-arm to run the tests with")
set(CHRONAVEL_ARMHF_TIME_BITS 32 CACHE STRING "Width of time_t: 32 or 64")
# try_compile projects read this file again without the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
     CHRONAVEL_ARMHF_SYSROOT CHRONAVEL_QEMU_ARM CHRONAVEL_ARMHF_TIME_BITS)

if(CHRONAVEL_ARMHF_TIME_BITS EQUAL 64)
  set(_armhf_flags "-D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64")
elseif(CHRONAVEL_ARMHF_TIME_BITS EQUAL 32)
  set(_armhf_flags "")
else()
  message(FATAL_ERROR "CHRONAVEL_ARMHF_TIME_BITS is 32 or 64, not ${CHRONAVEL_ARMHF_TIME_BITS}")
endif()

if(CHRONAVEL_ARMHF_SYSROOT)
  set(CMAKE_SYSROOT "${CHRONAVEL_ARMHF_SYSROOT}")
  set(CMAKE_FIND_ROOT_PATH "${CHRONAVEL_ARMHF_SYSROOT}")
  set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
  set(CMAKE_C_COMPILER clang)
  set(CMAKE_CXX_COMPILER clang++)
  set(CMAKE_C_COMPILER_TARGET arm-linux-gnueabihf)
  set(CMAKE_CXX_COMPILER_TARGET arm-linux-gnueabihf)
  # The tree's gcc by its /usr/lib path: found through /lib (a link to
  # usr/lib), its headers' ".../lib/gcc/arm-linux-gnueabihf/12/../../../../include"
  # folds, in CMake's dependency files, to a directory outside the tree, and
  # every make after the first (cpack's, for one) rebuilt everything.
  set(CMAKE_C_COMPILER_EXTERNAL_TOOLCHAIN "${CHRONAVEL_ARMHF_SYSROOT}/usr")
  set(CMAKE_CXX_COMPILER_EXTERNAL_TOOLCHAIN "${CHRONAVEL_ARMHF_SYSROOT}/usr")
  # Debian armhf's baseline, which its gcc has built in and clang has not.
  string(APPEND _armhf_flags " -march=armv7-a -mfpu=vfpv3-d16 -mfloat-abi=hard -mthumb")
  foreach(_kind EXE SHARED MODULE)
    set(CMAKE_${_kind}_LINKER_FLAGS_INIT "-fuse-ld=lld")
  endforeach()
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "${CHRONAVEL_ARMHF_SYSROOT}")
  set(_pkgconfig_root "${CHRONAVEL_ARMHF_SYSROOT}")
  set(_qemu_prefix -L "${CHRONAVEL_ARMHF_SYSROOT}")
else()
  set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
  set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
  set(_pkgconfig_root "")
  # The armhf libc6 puts its loader at /lib/ld-linux-armhf.so.3: no prefix.
  set(_qemu_prefix "")
endif()

set(CMAKE_C_FLAGS_INIT "${_armhf_flags}")
set(CMAKE_CXX_FLAGS_INIT "${_armhf_flags}")

# Only the target's .pc files: otherwise pkg-config hands FindOpenSSL the
# host's directories.
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_LIBDIR}
    "${_pkgconfig_root}/usr/lib/arm-linux-gnueabihf/pkgconfig:${_pkgconfig_root}/usr/share/pkgconfig")

set(_qemu "${CHRONAVEL_QEMU_ARM}")
if(NOT _qemu)
  find_program(CHRONAVEL_QEMU_ARM_FOUND NAMES qemu-arm qemu-arm-static)
  set(_qemu "${CHRONAVEL_QEMU_ARM_FOUND}")
endif()
if(_qemu)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${_qemu}" ${_qemu_prefix})
endif()
