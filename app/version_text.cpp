#include "app/version_text.h"

#include "package/package_layout.h"
#include "package/sha256.h"
#include "tools/package_texts.h"

namespace tslflash {
namespace {

constexpr std::size_t kRevisionOffset = 24;  // inside the inquiry id: vendor 8, product 16

std::string PackageLine(std::span<const std::uint8_t> package) {
  const std::optional<PackageHeaderCopy> copy = HeaderCopyOf(package);
  if (!copy) {
    return "package: " + std::to_string(package.size()) + " bytes, shorter than a package header";
  }
  const PackageHeader header = DecodeHeader(*copy);
  const std::string_view inquiryId(header.inquiryId.data(), header.inquiryId.size());
  return "package: " + Quoted(inquiryId) + ", revision " +
         Quoted(inquiryId.substr(kRevisionOffset));
}

}  // namespace

std::string VersionText(const BuildInfo& build, std::span<const std::uint8_t> package) {
  std::string text = "tslflash " + std::string(build.version) + "\nbuild: ";
  text += build.buildType.empty() ? "no build type" : build.buildType;
  text += ", " + std::string(build.compiler);
  if (!build.commit.empty()) text += ", commit " + std::string(build.commit);
  text += "\n" + PackageLine(package) + "\n";
  text += "package sha256: " + Sha256Hex(package) + "\n";
  return text;
}

}  // namespace tslflash
