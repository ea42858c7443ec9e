# The layers point one way. Run as a test: cmake -DSOURCE_DIR=<repository> -P CheckLayers.cmake
#
#   base/                          includes nothing of the project but base/
#   net/                           base/ and net/
#   vfs/ patch/ auth/ game/        base/, net/ and each other; never shell/ (the program on top)
#   install/ ui/                   and never tools/ outside their tests
#   shell/                         anything
#   tools/                         anything but shell/ (they sit beside the program, not on it)
#
# Tests and fuzz targets of a folder may also use tools/ (the test servers, the release writer).
cmake_minimum_required(VERSION 3.25)
set(middle vfs patch auth game install ui)
set(project_folders base net ${middle} shell tools)
set(faults "")

file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
  ${SOURCE_DIR}/*.h ${SOURCE_DIR}/*.cpp ${SOURCE_DIR}/*.c ${SOURCE_DIR}/*.rc)
foreach(source IN LISTS sources)
  string(REGEX MATCH "^[^/]+" folder "${source}")
  if(NOT folder IN_LIST project_folders)
    continue()
  endif()
  set(test_code OFF)
  if(source MATCHES "/(tests|fuzz)/")
    set(test_code ON)
  endif()
  if(folder STREQUAL "base")
    set(allowed base)
  elseif(folder STREQUAL "net")
    set(allowed base net)
  elseif(folder IN_LIST middle)
    set(allowed base net ${middle})
  elseif(folder STREQUAL "tools")
    set(allowed base net ${middle} tools)
  else()
    set(allowed ${project_folders})
  endif()
  if(test_code AND NOT folder STREQUAL "base")
    list(APPEND allowed tools)
  endif()

  file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included "${line}")
    string(REGEX MATCH "^[^/]+" target "${included}")
    if(target IN_LIST project_folders AND NOT target IN_LIST allowed)
      string(APPEND faults "  ${source} includes ${included}\n")
    endif()
  endforeach()
endforeach()

if(faults)
  message(FATAL_ERROR "Includes that point up a layer:\n${faults}")
endif()
list(LENGTH sources count)
message(STATUS "layers: ${count} files, every include points down or sideways")
