# SPDX-License-Identifier: ISC
# Cross build for aarch64 Linux, with Debian's cross compilers
# (g++-aarch64-linux-gnu); the tests run under qemu-aarch64:
#   cmake --workflow --preset cross-aarch64
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(KEPSIFT_CROSS_TRIPLE aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
