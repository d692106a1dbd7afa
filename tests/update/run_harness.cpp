#include "tests/update/run_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "models/field_text.h"
#include "models/model_catalogue.h"
#include "models/model_traits.h"
#include "models/tool_variant.h"
#include "package/firmware_package.h"
#include "package/package_layout.h"

namespace tslflash::testing {

std::vector<std::string> RevisionLines(const std::vector<std::string>& log) {
  std::vector<std::string> said;
  std::ranges::copy_if(log, std::back_inserter(said), [](const std::string& line) {
    return line.find("reports firmware") != std::string::npos ||
           line.find("did not answer") != std::string::npos;
  });
  return said;
}

PackageRecipe RecipeFor(char digit, std::vector<std::uint8_t> image, std::string mark) {
  PackageRecipe recipe;
  recipe.protocolDigit = digit;
  recipe.inquiryId = "VARN    DVD RW LPX-650A 1.07";
  recipe.altProductName = "TK420B";
  recipe.altProductNameNulPadded = true;
  recipe.variantMark = std::move(mark);
  recipe.revisionPattern = "1.**";
  recipe.image = std::move(image);
  return recipe;
}

RunHarness::RunHarness(const RunSetup& setup) {
  Make({setup.drive}, setup.recipe);
  drive = emulators.front();
  view.Answer({BoxAnswer::Ok});         // the start-up warning
  EXPECT_TRUE(dialog->OnInitDialog());  // leaves the first drive selected

  // The revision before the run, as the checks take it from the drive list.
  const std::string listed = dialog->Drives().front().text;
  job_.driveText = listed;
  job_.driveRevision = listed.substr(std::min(listed.size(), kDriveIdLength), 4);
  job_.modelCode = setup.modelCode;
  job_.plan = setup.plan;
  job_.packaging.form = setup.form;
  job_.packaging.extension = ExtensionCopyOf(package).value_or(PackageExtensionCopy{});
  job_.variant = DetermineToolVariant(ParseFirmwarePackage(package));
  dialog->UseRestarter(std::make_unique<RecordingRestarter>(rebootRequests, setup.grantReboot));

  view.calls.clear();
  view.boxes.clear();
  view.texts[ControlId::Log].clear();
  clock.sleeps.clear();
  diagnostics.str("");
  commandsBeforeRun_ = static_cast<std::uint32_t>(drive->Trace().size());
}

int RunHarness::Run(const std::vector<BoxAnswer>& answers) {
  for (const BoxAnswer answer : answers) view.Answer({answer});
  // Staged as the checks stage it, from the package as the test left it.
  const FirmwarePackage firmware = ParseFirmwarePackage(package);
  job_.staged = StageImage(firmware, job_.packaging.extension, job_.packaging.form,
                           PackageUsesPerPageSums(firmware.AltProductName()));
  // As the checks announce it for a plain package.
  job_.newRevision = UnpaddedField(firmware.Revision());
  return dialog->RunJob(job_) ? 1 : 0;
}

std::vector<std::string> RunHarness::Log() const {
  constexpr std::string_view kBreak = "\r\n";
  const std::string& pane = view.texts.at(ControlId::Log);
  std::vector<std::string> lines;
  for (std::size_t at = pane.find(kBreak); at != std::string::npos;) {
    const std::size_t next = pane.find(kBreak, at + kBreak.size());
    lines.push_back(pane.substr(at + kBreak.size(), next - at - kBreak.size()));
    at = next;
  }
  return lines;
}

std::vector<std::string> RunHarness::Transcript() const {
  const std::vector<std::string> log = Log();
  const std::string logCall = "SetControlText " + std::to_string(static_cast<int>(ControlId::Log));
  std::size_t nextLine = 0;
  std::size_t nextBox = 0;
  std::vector<std::string> seen;
  for (const std::string& call : view.calls) {
    if (call == logCall && nextLine < log.size()) {
      seen.push_back("log " + log[nextLine++]);
    } else if (call.starts_with("ShowMessageBox") && nextBox < view.boxes.size()) {
      seen.push_back("box " + view.boxes[nextBox++].text);
    } else if (call.starts_with("StartTimer") || call.starts_with("StopTimer") ||
               call.starts_with("EnableCloseCommand") || call.starts_with("SetProgressPosition")) {
      seen.push_back(call);
    }
  }
  return seen;
}

std::vector<emu::TraceEntry> RunHarness::RunTrace() const {
  const std::vector<emu::TraceEntry> trace = drive->Trace();
  return {trace.begin() + commandsBeforeRun_, trace.end()};
}

std::vector<std::uint8_t> RunHarness::PackageBytes(std::size_t begin, std::size_t length) const {
  return {package.begin() + static_cast<std::ptrdiff_t>(begin),
          package.begin() + static_cast<std::ptrdiff_t>(begin + length)};
}

}  // namespace tslflash::testing
