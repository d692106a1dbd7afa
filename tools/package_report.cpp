#include "tools/package_report.h"

#include <string_view>

#include "models/model_traits.h"
#include "package/checksum.h"
#include "package/firmware_package.h"
#include "package/image_staging.h"
#include "package/package_check.h"
#include "package/package_form.h"
#include "package/package_layout.h"
#include "tools/package_texts.h"

namespace tslflash {
namespace {

std::string_view Text(std::span<const char> field) { return {field.data(), field.size()}; }

std::string FormName(PackageForm form) {
  return IsExtended(form) ? std::string(PackageFormText(form)) : "plain";
}

bool HasExtension(std::span<const std::uint8_t> package) {
  const TrailerPlace place = LocateTrailer(package, PackageForm::Varn2300);
  const bool located =
      place.status == TrailerStatus::Found || place.status == TrailerStatus::OverBound;
  return located && place.offset + kTrailerSize == package.size();
}

class Inspector {
 public:
  Inspector(const FirmwarePackage& package, std::ostream& out)
      : package_(package.bytes), header_(package.header), out_(out) {}

  Inspection Run() {
    ReportHeader();
    const bool extended = HasExtension(package_);
    if (extended) {
      extension_ = DecodeExtension(*ExtensionCopyOf(package_));
      ReportExtension();
      out_ << "layout: extended (its trailer ends the package); read with VARN_2340 or VARN_2300\n"
           << "form plain: not checked; a package with an extension is meant for the extended "
              "forms\n";
      ReportForm(PackageForm::Varn2340);
      ReportForm(PackageForm::Varn2300);
    } else {
      out_ << "layout: plain\n";
      ReportForm(PackageForm::Plain);
    }
    ReportTrailer(extended ? PackageForm::Varn2340 : PackageForm::Plain);
    ReportSummary();
    return {failures_};
  }

 private:
  void ReportHeader() {
    const std::string_view tag = Text(header_.tag);
    out_ << "tag word: " << Quoted(tag);
    Verdict(tag == kPackageTag, "tag word");
    const std::string_view inquiry = Text(header_.inquiryId);
    out_ << "protocol digit: " << Quoted({&header_.protocolDigit, 1}) << " ("
         << DescribeProtocolDigit(header_.protocolDigit) << ")\n"
         << "inquiry id: vendor " << Quoted(inquiry.substr(0, 8)) << ", product "
         << Quoted(inquiry.substr(8, 16)) << ", revision " << Quoted(inquiry.substr(24)) << '\n'
         << "alternate product name: " << Quoted(AltProductName(header_)) << '\n'
         << "variant mark: " << Quoted(VariantMark(header_)) << '\n'
         << "revision pattern: " << Quoted(RevisionPattern(header_)) << '\n'
         << "image length: " << header_.imageLength << '\n'
         << "image sums in the header: linear " << Hex16(header_.imageSumLinear) << ", rotated "
         << Hex16(header_.imageSumRotated) << '\n';
  }

  void ReportExtension() {
    out_ << "second image revision: " << Quoted(Text(extension_.extRevision)) << '\n'
         << "second image length: " << extension_.extImageLength << '\n'
         << "second image sums in the extension: linear " << Hex16(extension_.extSumLinear)
         << ", rotated " << Hex16(extension_.extSumRotated) << '\n';
  }

  void ReportForm(PackageForm form) {
    const std::string name = FormName(form);
    const ImagePlan plan =
        PlanImage(header_, extension_, form, PackageUsesPerPageSums(AltProductName(header_)));
    out_ << "form " << name << ":\n"
         << "  range: " << DescribeRule(plan.rule) << '\n'
         << "  image range: " << plan.start << ".." << plan.end << " (" << plan.Length()
         << " bytes)\n"
         << "  transfer length: " << plan.transferLength
         << ", page count: " << unsigned{plan.pageCount}
         << ", per-page sums: " << (plan.perPageSumMode ? "on" : "off") << '\n';
    const ImageRangeStatus status = CheckImageRange(plan, package_.size());
    if (status != ImageRangeStatus::Usable) {
      out_ << "  " << DescribeRangeStatus(status);
      Verdict(false, "image range (" + name + ")");
      return;
    }
    const ChecksumPair computed = ChecksumsOf(package_.subspan(
        static_cast<std::size_t>(plan.start), static_cast<std::size_t>(plan.Length())));
    Compare("image linear checksum (" + name + ")", plan.expected.linear, computed.linear);
    Compare("image rotated checksum (" + name + ")", plan.expected.rotated, computed.rotated);
  }

  void ReportTrailer(PackageForm form) {
    const TrailerReading reading = ReadTrailer(package_, form);
    if (reading.place.status != TrailerStatus::Found) {
      out_ << "trailer: " << DescribeTrailerStatus(reading.place.status);
      Verdict(false, "trailer");
      return;
    }
    const std::uint64_t offset = reading.place.offset;
    out_ << "trailer at " << offset << ", over package bytes 0.." << offset << ":\n";
    Compare("trailer linear checksum", reading.stored.linear, reading.computed.linear);
    Compare("trailer rotated checksum", reading.stored.rotated, reading.computed.rotated);
    if (const auto after = package_.size() - offset - kTrailerSize; after > 0) {
      out_ << "  " << after << " bytes follow the trailer; the update tool never reads them\n";
    }
  }

  void Compare(const std::string& name, std::uint16_t expected, std::uint16_t computed) {
    out_ << "  " << name << ": expected " << Hex16(expected) << ", computed " << Hex16(computed);
    Verdict(expected == computed, name);
  }

  void Verdict(bool matches, const std::string& name) {
    out_ << (matches ? ": matches\n" : ": DOES NOT MATCH\n");
    if (!matches) failures_.push_back(name);
  }

  void ReportSummary() {
    if (failures_.empty()) {
      out_ << "result: every check matches\n";
      return;
    }
    out_ << "result: DOES NOT MATCH: " << JoinedFailures({failures_}) << '\n';
  }

  std::span<const std::uint8_t> package_;
  PackageHeader header_;
  PackageExtension extension_;
  std::ostream& out_;
  std::vector<std::string> failures_;
};

}  // namespace

std::string JoinedFailures(const Inspection& inspection) {
  std::string joined;
  for (const std::string& failure : inspection.failures) {
    joined += (joined.empty() ? "" : ", ") + failure;
  }
  return joined;
}

Inspection InspectPackage(std::span<const std::uint8_t> package, std::ostream& report) {
  const FirmwarePackage firmware = ParseFirmwarePackage(package);
  if (!firmware.HasWholeHeader()) {
    report << "package of " << package.size() << " bytes is shorter than its header\n";
    return {{"header"}};
  }
  return Inspector(firmware, report).Run();
}

}  // namespace tslflash
