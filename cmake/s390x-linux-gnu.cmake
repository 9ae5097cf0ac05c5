# SPDX-License-Identifier: ISC
# Cross build for s390x Linux with Debian's cross compilers
# (g++-s390x-linux-gnu); the tests run under qemu-user, so the machine
# needs no binfmt_misc registration:
#   cmake --workflow --preset cross-s390x
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)

set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)

# Libraries and headers come from the target's tree only; programs (the
# emulator, strace, the shell) are the build machine's own.
set(CMAKE_FIND_ROOT_PATH /usr/s390x-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every built program that a test starts runs under this, with the
# target's C library and loader taken from the cross tree.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x;-L;/usr/s390x-linux-gnu)
