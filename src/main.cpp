// SPDX-License-Identifier: ISC
#include "kepsift.h"

int main(int argc, char* argv[]) { return kepsift_main(argc, argv); }
