# Cross build for 64-bit Arm Linux with Debian's g++-aarch64-linux-gnu. The program runs on
# this machine under qemu-user with the Arm C library from /usr/aarch64-linux-gnu.
#   cmake -S . -B build-aarch64 --toolchain cmake/aarch64-linux-gnu.cmake -DAEROSOL_SIMULATE=OFF
# With the simulate front door, the Arm builds of its libraries come from a folder that
# scripts/aarch64-sysroot.sh fills with Debian's arm64 packages:
#   scripts/aarch64-sysroot.sh build-aarch64/sysroot
#   cmake -S . -B build-aarch64 --toolchain cmake/aarch64-linux-gnu.cmake \
#         -DAEROSOL_AARCH64_SYSROOT=$PWD/build-aarch64/sysroot
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(AEROSOL_AARCH64_SYSROOT "" CACHE PATH
  "Folder of unpacked Debian arm64 packages (scripts/aarch64-sysroot.sh), or empty")
# The checks that CMake compiles (OpenMP for SUNDIALS' package files) read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES AEROSOL_AARCH64_SYSROOT)

# Libraries and headers only from the Arm folders; programs (cmake, python) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(aerosol_qemu qemu-aarch64 -L /usr/aarch64-linux-gnu)

if(AEROSOL_AARCH64_SYSROOT)
  if(NOT EXISTS "${AEROSOL_AARCH64_SYSROOT}/usr/include/sundials")
    message(FATAL_ERROR "AEROSOL_AARCH64_SYSROOT=${AEROSOL_AARCH64_SYSROOT} holds no arm64 "
      "packages: run scripts/aarch64-sysroot.sh ${AEROSOL_AARCH64_SYSROOT}")
  endif()
  list(APPEND CMAKE_FIND_ROOT_PATH "${AEROSOL_AARCH64_SYSROOT}")
  # Debian's multiarch folders (lib/aarch64-linux-gnu, and the CMake package files in it).
  set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
  # The C and C++ runtimes are the cross toolchain's; the rest, and what those libraries
  # load in turn, is in the folder: the linker looks there, and so does the program's loader
  # under qemu.
  set(aerosol_sysroot_libs
    "${AEROSOL_AARCH64_SYSROOT}/usr/lib/aarch64-linux-gnu:${AEROSOL_AARCH64_SYSROOT}/lib/aarch64-linux-gnu")
  string(REPLACE ":" ",-rpath-link," aerosol_rpath_link "${aerosol_sysroot_libs}")
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${aerosol_rpath_link}")
  set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-rpath-link,${aerosol_rpath_link}")
  list(APPEND aerosol_qemu -E "LD_LIBRARY_PATH=${aerosol_sysroot_libs}")
endif()

set(CMAKE_CROSSCOMPILING_EMULATOR ${aerosol_qemu})
