# Adds the guest program's target to the project without touching the
# project's own lists: given as CMAKE_PROJECT_INCLUDE by tools/ci/vm-test.sh,
# it runs once the project's libraries are defined.
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL include
               ${CMAKE_SOURCE_DIR}/tests/vm/CMakeLists.txt)
