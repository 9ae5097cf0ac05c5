# SPDX-License-Identifier: ISC
# Each engine is compiled for its own processor, and the linker keeps one
# copy of a weak (inline or template) function for the whole program: a
# weak function in an engine's object, if it were not the engine's own,
# could be the copy the rest of the program runs, with instructions its
# processor may lack.  Fails if an engine's object defines a weak function
# outside the engine's own namespace.
#   cmake -DNM=nm -DOBJECTS="engine:object;..." -P engine_objects.cmake
set(failures 0)
foreach(entry IN LISTS OBJECTS)
  string(REPLACE ":" ";" parts "${entry}")
  list(GET parts 0 engine)
  list(GET parts 1 object)
  execute_process(COMMAND ${NM} -C --defined-only ${object} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${object}")
  endif()
  string(REPLACE "\n" ";" lines "${symbols}")
  set(checked 0)
  foreach(line IN LISTS lines)
    if(line MATCHES "^[0-9a-f]+ ([Wi]) (.*)$")
      set(name "${CMAKE_MATCH_2}")
      if(NOT name MATCHES "^${engine}::")
        message("the ${engine} engine defines the weak function ${name}")
        math(EXPR failures "${failures} + 1")
      endif()
    endif()
    if(line MATCHES " D ${engine}::ENGINE$")
      set(checked 1)
    endif()
  endforeach()
  if(NOT checked)
    message("${object} does not define ${engine}::ENGINE")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} problems in the engines' objects")
endif()
list(LENGTH OBJECTS count)
message("${count} engine objects define no weak function but their own")
