// Every check the update tool makes on a package, reported field by field in
// plain words: what the package tool's inspect and verify commands run.
#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace tslflash {

struct [[nodiscard]] Inspection {
  std::vector<std::string> failures;  // names of the checks that do not match
  bool Passed() const { return failures.empty(); }
};

// A package whose extended-layout trailer ends it exactly is checked under
// both extended forms; any other package under the plain form. The tag word,
// the image range and sums of each form, and the trailer count as checks.
Inspection InspectPackage(std::span<const std::uint8_t> package, std::ostream& report);

// The failing checks' names, comma separated.
std::string JoinedFailures(const Inspection& inspection);

}  // namespace tslflash
