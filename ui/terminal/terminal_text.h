// The text side of the terminal front end, kept free of streams so each rule
// can be checked on its own: which log lines are new, how a typed answer or
// drive number reads, how the progress bar looks.
#pragma once

#include <cstddef>
#include <cstdint>
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

// A typed answer to a message box: "o"/"ok"/"y"/"yes" or, when the box
// offers it, "c"/"cancel"/"n"/"no", in any case and with blanks around.
// Nothing for anything else.
std::optional<BoxAnswer> ParseBoxAnswer(std::string_view typed, BoxButtons buttons);
// What a box accepts, said after an answer it does not.
std::string_view AcceptedAnswers(BoxButtons buttons);

// Consent given by name on the command line: a scripted run answers each box
// by what it asks, never by its place in the order.
struct Consent {
  bool yes = false;             // the confirmations: the start-up warning and the update
  bool allowReinstall = false;  // with yes: rewriting the revision the drive already has
  bool allowOlder = false;      // with yes: writing an older revision than the drive's
  bool restart = false;         // the restart offer; without it the offer is declined
};

struct ConsentAnswer {
  BoxAnswer answer = BoxAnswer::Cancel;
  // The options the box still needs, when the consent given does not answer
  // it; empty when it does (a declined restart needs nothing).
  std::string_view missing;
};

// How a box that asks OK or Cancel is answered by the consent given.
ConsentAnswer AnswerByConsent(BoxPurpose purpose, const Consent& consent);

// The choices after a drive is selected, as the window's buttons offer them.
enum class MenuChoice : std::uint8_t { Upgrade, SelectAnother, Exit };
// "u"/"upgrade", "s"/"select", "x"/"exit", as ParseBoxAnswer reads words.
std::optional<MenuChoice> ParseMenuChoice(std::string_view typed);

// "3 of 10 pages sent".
std::string TransferText(const TransferProgress& progress);

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
