#include "app/version_text.h"

#include "package/package_layout.h"
#include "package/sha256.h"
#include "tools/package_texts.h"

namespace tslflash {
namespace {

constexpr std::size_t kRevisionOffset = 24;  // inside the inquiry id: vendor 8, product 16

// Every line is appended piece by piece: GCC 12 at -O3 wrongly reports
// "text" + string as an overlapping copy (-Wrestrict).
std::string PackageLine(std::span<const std::uint8_t> package) {
  std::string line = "package: ";
  const std::optional<PackageHeaderCopy> copy = HeaderCopyOf(package);
  if (!copy) {
    line.append(std::to_string(package.size())).append(" bytes, shorter than a package header");
    return line;
  }
  const PackageHeader header = DecodeHeader(*copy);
  const std::string_view inquiryId(header.inquiryId.data(), header.inquiryId.size());
  line.append(Quoted(inquiryId))
      .append(", revision ")
      .append(Quoted(inquiryId.substr(kRevisionOffset)));
  return line;
}

}  // namespace

std::string VersionText(const BuildInfo& build, std::span<const std::uint8_t> package) {
  std::string text = "tslflash ";
  text.append(build.version).append("\nbuild: ");
  text.append(build.buildType.empty() ? std::string_view("no build type") : build.buildType);
  text.append(", ").append(build.compiler);
  if (!build.commit.empty()) text.append(", commit ").append(build.commit);
  text.append("\n").append(PackageLine(package)).append("\n");
  text.append("package sha256: ").append(Sha256Hex(package)).append("\n");
  return text;
}

}  // namespace tslflash
