// The text side of the terminal front end, kept free of streams so each rule
// can be checked on its own: which log lines are new, how a typed answer or
// drive number reads, how the progress bar looks.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/dialog_view.h"

namespace tslflash::terminal {

// The lines to print when the log pane's text goes from `before` to `after`.
// The dialog appends a line as "\r\n" + text, so an append prints only the
// lines it added; any other change replaced the pane and prints all of it.
std::vector<std::string> NewLogLines(std::string_view before, std::string_view after);

// Splits a text at "\r\n" or "\n"; an empty text is one empty line.
std::vector<std::string> SplitLines(std::string_view text);

// A typed answer to a message box: "o"/"ok" or, when the box offers it,
// "c"/"cancel", in any case and with blanks around. Nothing for anything else.
std::optional<BoxAnswer> ParseBoxAnswer(std::string_view typed, BoxButtons buttons);

// A typed drive number from 0 (none: the tree's root) to driveCount.
std::optional<std::size_t> ParseDriveNumber(std::string_view typed, std::size_t driveCount);

// The bar's position in percent of its range, clamped to 0..100; 0 for an
// empty range.
int ProgressPercent(int low, int high, int position);

// "[##########          ]  50%" with `width` cells between the brackets.
std::string ProgressBar(int percent, std::size_t width);

// The caption without its mnemonic marks: "&Devices:" reads "Devices:", "&&"
// stays one "&".
std::string WithoutMnemonics(std::string_view caption);

}  // namespace tslflash::terminal
