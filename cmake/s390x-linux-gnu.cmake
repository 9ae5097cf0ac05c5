# SPDX-License-Identifier: ISC
# Cross build for s390x Linux, big-endian, with Debian's cross compilers
# (g++-s390x-linux-gnu); the tests run under qemu-s390x:
#   cmake --workflow --preset cross-s390x
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(KEPSIFT_CROSS_TRIPLE s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
