# Cross-building for Linux arm64 with Debian's g++-aarch64-linux-gnu; the
# tests run under qemu-user, which finds the arm64 C library in the
# cross-compiler's folder (the npm package's program is static anyway).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
find_program(MAPCLEAN_QEMU NAMES qemu-aarch64-static qemu-aarch64)
set(CMAKE_CROSSCOMPILING_EMULATOR ${MAPCLEAN_QEMU} -L /usr/aarch64-linux-gnu)
