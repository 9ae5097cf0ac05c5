# SPDX-License-Identifier: ISC
# What the cross builds with Debian's cross compilers share; the toolchain
# file of each processor sets CMAKE_SYSTEM_PROCESSOR and
# KEPSIFT_CROSS_TRIPLE (its GNU triple) and includes this.  The tests run
# under qemu-user, so the machine needs no binfmt_misc registration.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${KEPSIFT_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KEPSIFT_CROSS_TRIPLE}-g++)

# Libraries and headers come from the target's tree only; programs (the
# emulator, strace, the shell) are the build machine's own.
set(CMAKE_FIND_ROOT_PATH /usr/${KEPSIFT_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every built program that a test starts runs under this, with the
# target's C library and loader taken from the cross tree.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CMAKE_SYSTEM_PROCESSOR};-L;/usr/${KEPSIFT_CROSS_TRIPLE})
