# Writes the Windows resources' texts from the text catalogue, so that the
# .rc keeps no copy of them: the STRINGTABLE, from the catalogue's
# StringTableEntry ids and texts, and a #define for each catalogue text the
# .rc names (CAPTION kDialogTitle), which the resource compiler's
# preprocessor puts in its place.
#   cmake -DTEXTS=resources/texts.h -DRC=ui/win32/tslflash.rc -DOUTPUT=FILE
#         -P ResourceTexts.cmake
# A text goes into the resources only as one plain literal (no backslash, no
# quote); anything else fails with one line naming it.
cmake_minimum_required(VERSION 3.25)

foreach(required TEXTS RC OUTPUT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "ResourceTexts.cmake: ${required} is not set")
  endif()
endforeach()

# The text of PATH without its comment lines, every run of white space one
# blank, so that a declaration the formatter wrapped reads as one line; with
# KEEP_NAMES only the names outside comments and quoted texts are kept.
function(read_source path out)
  cmake_parse_arguments(ARG "KEEP_NAMES" "" "" ${ARGN})
  file(READ ${path} text)
  string(REGEX REPLACE "(^|\n)[ \t]*//[^\n]*" "\n" text "${text}")
  if(ARG_KEEP_NAMES)
    string(REGEX REPLACE "//[^\n]*" "" text "${text}")
    string(REGEX REPLACE "\"[^\"]*\"" "" text "${text}")
  endif()
  string(REGEX REPLACE "[ \t\r\n]+" " " text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(fail text)
  message(NOTICE "${text}")
  message(FATAL_ERROR "The resources' texts were not written.")
endfunction()

read_source(${TEXTS} catalogue)
get_filename_component(texts_name ${TEXTS} NAME)
get_filename_component(rc_name ${RC} NAME)

set(plain "\"([^\"\\\\]*)\"")
set(table "")
string(REGEX MATCHALL "StringTableEntry k[A-Za-z0-9]+" entries "${catalogue}")
list(TRANSFORM entries REPLACE "StringTableEntry " "")
foreach(name IN LISTS entries)
  if(NOT catalogue MATCHES "StringTableEntry ${name} = ?{ ?([0-9]+), ?${plain} ?};")
    fail("${texts_name}: ${name} is not a string-table entry of the form {ID, \"PLAIN TEXT\"}")
  endif()
  string(APPEND table "  ${CMAKE_MATCH_1} \"${CMAKE_MATCH_2}\"\n")
endforeach()

set(defines "")
read_source(${RC} resources KEEP_NAMES)
string(REGEX MATCHALL "[^A-Za-z0-9_]k[A-Z][A-Za-z0-9]*" names "${resources}")
list(TRANSFORM names REPLACE "^[^k]" "")
list(REMOVE_DUPLICATES names)
foreach(name IN LISTS names)
  if(NOT catalogue MATCHES "std::string_view ${name} = ${plain};")
    fail("${rc_name}: ${name} is not a catalogue text of one plain literal in ${texts_name}")
  endif()
  string(APPEND defines "#define ${name} \"${CMAKE_MATCH_1}\"\n")
endforeach()

set(content "// Written from ${texts_name} by cmake/ResourceTexts.cmake: edit the catalogue, not this.\n")
string(APPEND content "${defines}\nSTRINGTABLE\nBEGIN\n${table}END\n")
file(WRITE ${OUTPUT} "${content}")
