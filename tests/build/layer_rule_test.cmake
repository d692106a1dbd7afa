# The layer rule on small trees: each case adds one file (and a pending list)
# to a tree that keeps the rule, then expects the check to pass, or to fail
# with the one line that names the file, the line and the include.
#   cmake -DCHECKER=CheckLayers.cmake -DWORK=DIR -P layer_rule_test.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/expect_outcome.cmake)

set(failures "")

# case: a name; file: the file the case adds; text: its lines, "|" between
# them; pending: the lines of cmake/LayerRulePending.txt; expected: PASS, or
# the line the check must print.
function(check case file text pending expected)
  set(root ${WORK}/${case})
  file(REMOVE_RECURSE ${root})
  file(WRITE ${root}/app/update_dialog.h "#pragma once\n")
  file(WRITE ${root}/ui/dialog_view.h "#pragma once\n")
  file(WRITE ${root}/package/package_layout.h "#pragma once\n#include <cstdint>\n")
  file(WRITE ${root}/transport/drive_commands.h "#pragma once\n")
  file(WRITE ${root}/tools/file_io.h "#pragma once\n#include \"package/package_layout.h\"\n")
  file(WRITE ${root}/update/update_run.h "#pragma once\n")
  file(WRITE ${root}/update/update_run.cpp
       "#include \"update/update_run.h\"\n\n#include <vector>\n#include \"package/package_layout.h\"\n")
  string(REPLACE "|" "\n" text "${text}")
  file(WRITE ${root}/${file} "${text}\n")
  string(REPLACE "|" "\n" pending "${pending}")
  file(WRITE ${root}/cmake/LayerRulePending.txt "# pending\n${pending}\n")

  expect_outcome(${case} "${expected}" -DSOURCE_DIR=${root} -P ${CHECKER})
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

check(kept update/upgrade_checks.cpp
      "#include \"update/update_run.h\"|#include \"transport/drive_commands.h\"|#include <sys/file.h>"
      "" PASS)
check(engine_includes_dialog update/upgrade_checks.cpp
      "// the checks||#include \"app/update_dialog.h\""
      "" "update/upgrade_checks.cpp:3: #include \"app/update_dialog.h\": update/ may not include app/update_dialog.h")
check(angled_include update/upgrade_checks.cpp "#include <ui/dialog_view.h>"
      "" "update/upgrade_checks.cpp:1: #include <ui/dialog_view.h>: update/ may not include ui/dialog_view.h")
check(path_through_parent update/upgrade_checks.cpp "  #  include \"../app/update_dialog.h\""
      "" "update/upgrade_checks.cpp:1: #  include \"../app/update_dialog.h\": update/ may not include app/update_dialog.h")
check(package_reads_files package/package_file.cpp "#include \"tools/file_io.h\"" "" PASS)
check(package_above_its_layer package/package_file.cpp
      "#include \"package/package_layout.h\"|#include \"transport/drive_commands.h\""
      "" "package/package_file.cpp:2: #include \"transport/drive_commands.h\": package/ may not include transport/drive_commands.h")
check(emulator_includes_window emulator/drive_emulator.h "#include \"ui/dialog_view.h\""
      "" "emulator/drive_emulator.h:1: #include \"ui/dialog_view.h\": emulator/ may not include ui/dialog_view.h")
check(file_io_includes_dialog tools/file_io.cpp "#include \"app/update_dialog.h\""
      "" "tools/file_io.cpp:1: #include \"app/update_dialog.h\": tools/file_io may not include app/update_dialog.h")
check(pending_lets_a_file_off models/eligibility.cpp "#include \"app/update_dialog.h\""
      "models/eligibility.cpp" PASS)
check(pending_lets_only_its_files_off models/eligibility.cpp "#include \"app/update_dialog.h\""
      "models/startup_warning.cpp"
      "models/eligibility.cpp:1: #include \"app/update_dialog.h\": models/ may not include app/update_dialog.h")
check(pending_entry_that_keeps_the_rule models/eligibility.cpp "#include \"models/eligibility.h\""
      "models/eligibility.cpp"
      "cmake/LayerRulePending.txt: models/eligibility.cpp keeps the layer rule: take it off the list")

report_failures()
