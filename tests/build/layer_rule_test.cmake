# The layer rule on two small trees: the engine including the dialog fails
# the check and names the file and the include; the same tree without that
# include passes.
#   cmake -DCHECKER=CheckLayers.cmake -DWORK=DIR -P layer_rule_test.cmake
cmake_minimum_required(VERSION 3.25)

function(make_tree root engine_include)
  file(REMOVE_RECURSE ${root})
  file(WRITE ${root}/app/update_dialog.h "#pragma once\n")
  file(WRITE ${root}/package/package_layout.h "#pragma once\n#include <cstdint>\n")
  file(WRITE ${root}/update/update_run.cpp
       "#include \"update/update_run.h\"\n#include \"package/package_layout.h\"\n${engine_include}")
  file(WRITE ${root}/update/update_run.h "#pragma once\n")
endfunction()

function(check root expect_failure)
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${root} -P ${CHECKER}
                  RESULT_VARIABLE result ERROR_VARIABLE err OUTPUT_QUIET)
  if(expect_failure)
    if(result EQUAL 0)
      message(FATAL_ERROR "a tree whose engine includes app/ passed the check")
    endif()
    string(REPLACE "\n" " " err "${err}")
    if(NOT err MATCHES "update/update_run.cpp: #include \"app/update_dialog.h\": +update/ may not +include +app/")
      message(FATAL_ERROR "the failure does not name the file and the include: ${err}")
    endif()
  elseif(NOT result EQUAL 0)
    message(FATAL_ERROR "a tree that keeps the rule failed the check: ${err}")
  endif()
endfunction()

make_tree(${WORK}/broken "#include \"app/update_dialog.h\"\n")
check(${WORK}/broken TRUE)
make_tree(${WORK}/kept "")
check(${WORK}/kept FALSE)
