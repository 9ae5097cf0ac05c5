# Run by CPack before it builds the package: compress the staged manual
# pages as Debian wants them, reproducibly (no name, no time stamp).
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_DIRECTORY}/*.1")
list(FILTER pages INCLUDE REGEX "/man/man1/[^/]+\\.1$")
if(NOT pages)
  message(FATAL_ERROR "no manual page staged under ${CPACK_TEMPORARY_DIRECTORY}")
endif()
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9 -n -f "${page}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "could not compress ${page}")
  endif()
endforeach()
