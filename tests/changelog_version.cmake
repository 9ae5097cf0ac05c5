# SPDX-License-Identifier: ISC
# Fails unless the newest entry of debian/changelog carries VERSION:
#   cmake -DVERSION=0.50 -DCHANGELOG=debian/changelog -P changelog_version.cmake
file(STRINGS "${CHANGELOG}" first_line LIMIT_COUNT 1)
if(NOT first_line MATCHES "^kepsift \\(([^)]+)\\) ")
  message(FATAL_ERROR "${CHANGELOG} does not start with a kepsift entry: ${first_line}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
  message(FATAL_ERROR "${CHANGELOG} is at version ${CMAKE_MATCH_1}, the project at ${VERSION}")
endif()
message(STATUS "debian/changelog and the project are both at version ${VERSION}")
