# Fails when a source file includes a header of a layer it may not use.
# Layers, lowest first: resources < package, transport < emulator, models <
# update (the engine) < ui, app. Each checked folder names the folders its
# files may include; the folders above the engine (ui, app, tools' programs,
# tests, bench) are not checked.
#   cmake -DSOURCE_DIR=DIR [-DSTAMP=FILE] -P CheckLayers.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "CheckLayers.cmake needs -DSOURCE_DIR=...")
endif()

set(allowed_resources resources)
set(allowed_package package resources)
set(allowed_transport transport resources)
set(allowed_emulator emulator transport package tools resources)
set(allowed_models models package transport resources)
set(allowed_update update models package transport resources)

set(violations "")
foreach(layer resources package transport emulator models update)
  file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
       ${SOURCE_DIR}/${layer}/*.h ${SOURCE_DIR}/${layer}/*.cpp)
  foreach(source IN LISTS sources)
    file(STRINGS ${SOURCE_DIR}/${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
      if(NOT line MATCHES "\"([a-z0-9_]+)/[^\"]*\"")
        continue()  # a file of its own folder, named without one
      endif()
      set(target_folder ${CMAKE_MATCH_1})
      if(NOT EXISTS ${SOURCE_DIR}/${target_folder} OR target_folder IN_LIST allowed_${layer})
        continue()
      endif()
      string(STRIP "${line}" line)
      list(APPEND violations "${source}: ${line}: ${layer}/ may not include ${target_folder}/")
    endforeach()
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n" text)
  message(FATAL_ERROR "Layer rule broken:\n${text}")
endif()
if(STAMP)
  file(TOUCH ${STAMP})
endif()
