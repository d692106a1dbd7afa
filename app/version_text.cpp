#include "app/version_text.h"

#include "package/firmware_package.h"
#include "package/sha256.h"
#include "tools/package_texts.h"

namespace tslflash {
namespace {

// Every line is appended piece by piece: GCC 12 at -O3 wrongly reports
// "text" + string as an overlapping copy (-Wrestrict).
std::string PackageLine(const FirmwarePackage& package) {
  std::string line = "package: ";
  if (!package.HasWholeHeader()) {
    line.append(std::to_string(package.bytes.size()))
        .append(" bytes, shorter than a package header");
    return line;
  }
  line.append(Quoted(package.InquiryId())).append(", revision ").append(Quoted(package.Revision()));
  return line;
}

}  // namespace

std::string VersionText(const BuildInfo& build, std::span<const std::uint8_t> package) {
  std::string text = "tslflash ";
  text.append(build.version).append("\nbuild: ");
  text.append(build.buildType.empty() ? std::string_view("no build type") : build.buildType);
  text.append(", ").append(build.compiler);
  if (!build.commit.empty()) text.append(", commit ").append(build.commit);
  text.append("\n").append(PackageLine(ParseFirmwarePackage(package))).append("\n");
  text.append("package sha256: ").append(Sha256Hex(package)).append("\n");
  return text;
}

}  // namespace tslflash
