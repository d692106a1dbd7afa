# Writes OUTPUT, the C++ source of ThisBuild(), at every build: the commit
# changes without CMake running again. Outside a git checkout of SOURCE_DIR
# (a release tarball, say) the commit is left empty; the build goes on.
#   cmake -DOUTPUT=... -DSOURCE_DIR=... -DVERSION=... -DBUILD_TYPE=...
#         -DCOMPILER=... [-DGIT=path] -P BuildInfo.cmake
set(commit "")
if(GIT)
  execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} rev-parse --show-toplevel
    OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE top_result ERROR_QUIET)
  # Only the source's own checkout: a tarball unpacked inside another
  # repository must not take that repository's commit.
  if(top_result EQUAL 0)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
  endif()
  if(top_result EQUAL 0 AND top STREQUAL source)
    execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} describe --always --dirty --abbrev=12
      OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
endif()

file(WRITE ${OUTPUT}.new "// Written by cmake/BuildInfo.cmake at build time.
#include \"app/version_text.h\"

namespace tslflash {

BuildInfo ThisBuild() {
  return {\"${VERSION}\", \"${BUILD_TYPE}\", \"${COMPILER}\", \"${commit}\"};
}

}  // namespace tslflash
")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
