# The Windows resources' texts written from a small catalogue: the string
# table with every entry, wrapped ones too, and a #define for each text the
# .rc names, whatever brackets and semicolons the texts hold; a name or an
# entry the resource compiler could not be given fails with one line. Then
# the same for the tree's own catalogue and .rc.
#   cmake -DWRITER=ResourceTexts.cmake -DSOURCE_DIR=DIR -DWORK=DIR -P resource_texts_test.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/expect_outcome.cmake)

set(catalogue [=[
#pragma once
namespace tslflash {
inline constexpr std::string_view kApplicationName = "TslFlash";
// A text that is no caption: inline constexpr std::string_view kComment = "no";
inline constexpr std::string_view kAboutCaption =
    "About [it]; then";
inline constexpr std::string_view kTwoLines = "one\ntwo";
inline constexpr std::string_view kTwoPieces =
    "one "
    "two";
struct StringTableEntry {
  std::uint16_t id;
  std::string_view text;
};
inline constexpr StringTableEntry kStringOne = {101, "One (&1)..."};
inline constexpr StringTableEntry kStringTwo =
    {102, "Two; [2]"};
]=])
set(written [=[
// Written from texts.h by cmake/ResourceTexts.cmake: edit the catalogue, not this.
#define kAboutCaption "About [it]; then"
#define kApplicationName "TslFlash"

STRINGTABLE
BEGIN
  101 "One (&1)..."
  102 "Two; [2]"
END
]=])
set(good_rc [=[
// kTwoLines is named in a comment only
CAPTION kAboutCaption
LTEXT "kTwoPieces, in a text", -1, 40, 10, 119, 8
VALUE "InternalName", kApplicationName
]=])

set(failures "")

# Writes the case's catalogue and .rc, runs the writer and compares what it
# wrote (EXPECTED starts with "//"), or the line it failed with, with EXPECTED.
function(check case extra_catalogue rc expected)
  set(root ${WORK}/${case})
  file(REMOVE_RECURSE ${root})
  file(WRITE ${root}/texts.h "${catalogue}${extra_catalogue}}  // namespace tslflash\n")
  file(WRITE ${root}/tslflash.rc "${rc}")
  set(outcome "${expected}")
  if(expected MATCHES "^//")
    set(outcome PASS)
  endif()
  expect_outcome(${case} "${outcome}" -DTEXTS=${root}/texts.h -DRC=${root}/tslflash.rc
                 -DOUTPUT=${root}/out.rc2 -P ${WRITER})
  if(outcome STREQUAL "PASS" AND EXISTS ${root}/out.rc2)
    file(READ ${root}/out.rc2 out)
    if(NOT out STREQUAL expected)
      list(APPEND failures "${case}: wrote\n${out}\nexpected\n${expected}")
    endif()
  endif()
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

check(written "" "${good_rc}" "${written}")
check(text_with_an_escape "" "CAPTION kTwoLines\n"
      "tslflash.rc: kTwoLines is not a catalogue text of one plain literal in texts.h")
check(text_in_two_pieces "" "CAPTION kTwoPieces\n"
      "tslflash.rc: kTwoPieces is not a catalogue text of one plain literal in texts.h")
check(text_only_in_a_comment "" "CAPTION kComment\n"
      "tslflash.rc: kComment is not a catalogue text of one plain literal in texts.h")
check(text_not_in_the_catalogue "" "LTEXT kAboutVersion, -1\n"
      "tslflash.rc: kAboutVersion is not a catalogue text of one plain literal in texts.h")
check(entry_with_a_quote "inline constexpr StringTableEntry kStringQuote = {103, \"say \\\"hi\\\"\"};\n"
      "${good_rc}"
      "texts.h: kStringQuote is not a string-table entry of the form {ID, \"PLAIN TEXT\"}")
check(entry_not_written_as_a_pair "inline constexpr StringTableEntry kStringBraced{103, \"Three\"};\n"
      "${good_rc}"
      "texts.h: kStringBraced is not a string-table entry of the form {ID, \"PLAIN TEXT\"}")

# The tree's own catalogue and resources.
expect_outcome(tree PASS -DTEXTS=${SOURCE_DIR}/resources/texts.h
               -DRC=${SOURCE_DIR}/ui/win32/tslflash.rc -DOUTPUT=${WORK}/tree.rc2 -P ${WRITER})
report_failures()
