# Fails when a source file includes a header of a layer it may not use.
# Layers, lowest first: resources < package, transport < emulator, models <
# update (the engine) < ui, app. Each checked part names the folders (or
# single files of another folder) its files may include; the parts above the
# engine (ui, app, tools' programs, tests, bench) are not checked.
# Files named in cmake/LayerRulePending.txt of the checked tree are let off
# while they are being moved to their layer; an entry whose file keeps the
# rule fails the check too, so the list only shrinks.
#   cmake -DSOURCE_DIR=DIR [-DSTAMP=FILE] -P CheckLayers.cmake
# Each broken include is one line on standard error: FILE:LINE: the include
# and the rule it breaks.
cmake_minimum_required(VERSION 3.25)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "CheckLayers.cmake needs -DSOURCE_DIR=...")
endif()

set(parts resources package transport emulator models update file_io)
set(globs_file_io tools/file_io.h tools/file_io.cpp)
set(name_file_io tools/file_io)
set(allowed_resources resources)
set(allowed_package package resources tools/file_io.h)
set(allowed_transport transport resources)
set(allowed_emulator emulator transport package tools/file_io.h resources)
set(allowed_models models package transport resources)
set(allowed_update update models package transport resources)
# The file reading the programs and the emulator share.
set(allowed_file_io tools/file_io.h package resources)

set(pending_list ${SOURCE_DIR}/cmake/LayerRulePending.txt)
set(pending "")
if(EXISTS ${pending_list})
  file(STRINGS ${pending_list} pending REGEX "^[^#]")
  list(TRANSFORM pending STRIP)
endif()

# The tree-relative path an include names: a quoted name is looked for beside
# the including file first, as the compiler does, then from the top of the
# tree, which is on the include path; an angled one only from the top.
function(included_path source include_line out)
  string(REGEX MATCH "include[ \t]*([\"<])([^\">]*)" ignored "${include_line}")
  set(name ${CMAKE_MATCH_2})
  get_filename_component(folder ${source} DIRECTORY)
  if(CMAKE_MATCH_1 STREQUAL "\"" AND EXISTS ${SOURCE_DIR}/${folder}/${name})
    set(name ${folder}/${name})
  endif()
  cmake_path(NORMAL_PATH name)
  set(${out} ${name} PARENT_SCOPE)
endfunction()

# The 1-based number of the first line of FILE that reads TEXT.
function(line_number file text out)
  file(READ ${SOURCE_DIR}/${file} content)
  string(FIND "\n${content}" "\n${text}" at)
  math(EXPR length "${at} + 1")
  string(SUBSTRING "\n${content}" 0 ${length} before)
  string(REGEX MATCHALL "\n" breaks "${before}")
  list(LENGTH breaks number)
  set(${out} ${number} PARENT_SCOPE)
endfunction()

# Appends to `violations` one line for each include of SOURCE that its part
# may not make.
function(check_source part source)
  file(STRINGS ${SOURCE_DIR}/${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
  foreach(line IN LISTS lines)
    included_path(${source} "${line}" target)
    string(REGEX MATCH "^[^/]+" folder "${target}")
    if(NOT target MATCHES "/" OR NOT IS_DIRECTORY ${SOURCE_DIR}/${folder}
       OR folder IN_LIST allowed_${part} OR target IN_LIST allowed_${part})
      continue()  # its own folder's, the system's, a generated one, or allowed
    endif()
    line_number(${source} "${line}" number)
    string(STRIP "${line}" line)
    list(APPEND violations "${source}:${number}: ${line}: ${name_${part}} may not include ${target}")
  endforeach()
  set(violations "${violations}" PARENT_SCOPE)
endfunction()

set(violations "")
set(let_off "")
foreach(part IN LISTS parts)
  if(NOT DEFINED globs_${part})
    set(globs_${part} ${part}/*.h ${part}/*.cpp)
    set(name_${part} ${part}/)
  endif()
  list(TRANSFORM globs_${part} PREPEND ${SOURCE_DIR}/ OUTPUT_VARIABLE globs)
  file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${globs})
  foreach(source IN LISTS sources)
    set(before "${violations}")
    check_source(${part} ${source})
    if(source IN_LIST pending)
      list(APPEND let_off ${source})
      if("${violations}" STREQUAL "${before}")
        list(APPEND violations
             "cmake/LayerRulePending.txt: ${source} keeps the layer rule: take it off the list")
      else()
        set(violations "${before}")
      endif()
    endif()
  endforeach()
endforeach()
foreach(entry IN LISTS pending)
  if(NOT entry IN_LIST let_off)
    list(APPEND violations "cmake/LayerRulePending.txt: ${entry} is not a checked file")
  endif()
endforeach()

if(violations)
  foreach(violation IN LISTS violations)
    message(NOTICE "${violation}")
  endforeach()
  message(FATAL_ERROR "The layer rule is broken: see the lines above.")
endif()
if(STAMP)
  file(TOUCH ${STAMP})
endif()
