# Libraries of the cross build that Debian ships only for the build machine:
# nlohmann-json is header-only, and GoogleTest comes as sources. Neither may
# bring the build machine's /usr/include into the target's search path, so
# the JSON headers are reached through a folder of their own.
set(json_root ${CMAKE_BINARY_DIR}/cross-include)
file(MAKE_DIRECTORY ${json_root})
file(CREATE_LINK /usr/include/nlohmann ${json_root}/nlohmann SYMBOLIC)
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE ${json_root})
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)

if(TSLFLASH_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  # Defines the same GTest:: targets as the build machine's package.
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
