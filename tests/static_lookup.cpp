// SPDX-License-Identifier: ISC
// The host look-up of the statically linked test program of a cross build,
// linked in place of the C library's (ld --wrap=getaddrinfo).  A static
// program cannot look a host up: the C library would need its shared
// parts, as the linker warns.  Only GoogleTest's option that streams the
// results to a socket looks one up; here it fails at once.

#include <netdb.h>

extern "C" int __wrap_getaddrinfo(const char*, const char*, const addrinfo*, addrinfo**) { return EAI_FAIL; }
