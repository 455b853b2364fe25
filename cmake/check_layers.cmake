# Checks the include direction of the core's layers (run as a test):
#   cmake -DSOURCE_DIR=... -P check_layers.cmake
# The link checks of the build catch a lower layer that calls into a higher
# one; this catches the includes that a link cannot see (a header-only type,
# an inline function).
#
#   platform/                 platform/
#   values/ (the base)        platform/, the base of values/
#   regex/ http/ data/ ext/   platform/, the base, their own folder
# engine/ (with the statement handlers in engine/statements/) sits above all
# of them and may include anything of the core.

cmake_minimum_required(VERSION 3.25)

set(violations "")
foreach(folder platform values regex http data ext)
  file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${folder}/*.cpp
       ${SOURCE_DIR}/${folder}/*.h)
  foreach(file ${files})
    if(folder STREQUAL "platform")
      set(allowed platform)
    elseif(folder STREQUAL "values")
      set(allowed platform values)
    else()
      set(allowed platform values ${folder})
    endif()
    file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^#include \"[a-z_]+/")
    foreach(line ${includes})
      string(REGEX MATCH "\"([a-z_]+)/([^\"]+)\"" _ "${line}")
      set(target_folder ${CMAKE_MATCH_1})
      set(target "${CMAKE_MATCH_1}/${CMAKE_MATCH_2}")
      if(NOT target_folder IN_LIST allowed)
        list(APPEND violations "${file} includes ${target}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "includes against the layers:\n  ${text}")
endif()
message(STATUS "layers: every include goes down or sideways")
