# Fails when a module's file includes a header of a module its library does
# not link directly. Run as a test: cmake -DLAYERS=<file> -P CheckLayering.cmake
# LAYERS, written at configure time, sets for every library its FOLDER, its
# files (SOURCES, absolute paths) and the FOLDERS of the libraries it links.
cmake_minimum_required(VERSION 3.25)
include(${LAYERS})
set(violations "")
foreach(target IN LISTS QUELLMERE_LAYER_TARGETS)
  set(allowed ${QUELLMERE_LAYER_${target}_FOLDER} ${QUELLMERE_LAYER_${target}_LINKED})
  foreach(source IN LISTS QUELLMERE_LAYER_${target}_SOURCES)
    file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^/\"]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^/\"]+)/.*$" "\\1" folder "${line}")
      if(folder IN_LIST QUELLMERE_LAYER_FOLDERS AND NOT folder IN_LIST allowed)
        string(APPEND violations "  ${source}: ${target} includes ${folder}/ but does not link it\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(violations)
  message(FATAL_ERROR "Layering broken:\n${violations}")
endif()
list(LENGTH QUELLMERE_LAYER_TARGETS count)
message(STATUS "Layering holds for ${count} libraries")
