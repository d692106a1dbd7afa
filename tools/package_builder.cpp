#include "tools/package_builder.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <string_view>

#include "models/model_traits.h"
#include "package/checksum.h"
#include "package/image_staging.h"
#include "package/package_check.h"
#include "package/package_layout.h"
#include "tools/package_texts.h"

namespace tslflash {
namespace {

// The update run inflates an image only when its page count is below 128.
constexpr std::size_t kMaxInflatedPages = 127;
// Bytes of the whole pages that are not part of the compressed stream: the 4
// leading bytes and the last 128.
constexpr std::size_t kOutsideStream = 132;

std::string FillText(std::span<char> field, std::string_view text, std::string_view name,
                     char pad = ' ') {
  if (text.size() > field.size()) {
    return std::string(name) + " " + Quoted(text) + " is " + std::to_string(text.size()) +
           " characters; at most " + std::to_string(field.size()) + " fit";
  }
  std::ranges::fill(field, pad);
  std::ranges::copy(text, field.begin());
  return {};
}

std::span<char> AltPart(PackageHeader& header, layout::Field part) {
  return std::span(header.altProductId).subspan(part.offset, part.width);
}

std::string FillHeaderTexts(const PackageRecipe& recipe, PackageHeader& header) {
  const char namePad = recipe.altProductNameNulPadded ? '\0' : ' ';
  for (const std::string& error :
       {FillText(header.tag, recipe.tag, "tag"),
        FillText(header.inquiryId, recipe.inquiryId, "inquiryId"),
        FillText(AltPart(header, layout::kAltProductName), recipe.altProductName, "altProductName",
                 namePad),
        FillText(AltPart(header, layout::kVariantMark), recipe.variantMark, "variantMark"),
        FillText(AltPart(header, layout::kRevisionPattern), recipe.revisionPattern,
                 "revisionPattern")}) {
    if (!error.empty()) return error;
  }
  header.protocolDigit = recipe.protocolDigit;
  return {};
}

std::string CheckRawImage(std::span<const std::uint8_t> image, std::string_view name,
                          bool deflate) {
  const std::string size = std::to_string(image.size()) + " bytes";
  if (image.empty()) return std::string(name) + " is empty";
  if (image.size() > std::numeric_limits<std::uint32_t>::max()) {
    return std::string(name) + " of " + size + " does not fit a 32-bit length";
  }
  if (!deflate) return {};
  if (image.size() > kImageAreaSize) {
    return std::string(name) + " of " + size + " is over the 2 MiB limit of the inflated image";
  }
  if (image.size() % kImagePageSize != 0) {
    return std::string(name) + " of " + size +
           " is not whole 16384-byte pages; an inflated image is sent in whole pages only";
  }
  return {};
}

// The image as it is stored in the package, or an error.
std::string StoredImage(std::span<const std::uint8_t> raw, std::string_view name, bool deflate,
                        std::vector<std::uint8_t>& stored) {
  if (std::string error = CheckRawImage(raw, name, deflate); !error.empty()) return error;
  if (!deflate) {
    stored.assign(raw.begin(), raw.end());
    return {};
  }
  stored = PackDeflated(raw);
  if (stored.empty()) return "could not compress the " + std::string(name);
  const std::size_t pages = stored.size() / kImagePageSize;
  if (pages > kMaxInflatedPages) {
    return "compressed " + std::string(name) + " needs " + std::to_string(pages) +
           " pages; only images below 128 pages are inflated";
  }
  return {};
}

std::vector<std::uint8_t> Assemble(const PackageHeader& header,
                                   const std::optional<PackageExtension>& extension,
                                   std::span<const std::uint8_t> image,
                                   std::span<const std::uint8_t> second) {
  std::vector<std::uint8_t> bytes;
  const PackageHeaderCopy headerBytes = EncodeHeader(header);
  bytes.insert(bytes.end(), headerBytes.begin(), headerBytes.end());
  if (extension) {
    const PackageExtensionCopy extensionBytes = EncodeExtension(*extension);
    bytes.insert(bytes.end(), extensionBytes.begin(), extensionBytes.end());
  }
  bytes.insert(bytes.end(), image.begin(), image.end());
  if (extension) {
    bytes.insert(bytes.end(), layout::kImageGap, 0);
    bytes.insert(bytes.end(), second.begin(), second.end());
  }
  bytes.insert(bytes.end(), kTrailerSize, 0);
  return bytes;
}

// Sets the image sums of every form the package can be read with, from the
// ranges the update tool will stage, then writes header and extension.
std::string SealImageSums(std::vector<std::uint8_t>& bytes, PackageHeader& header,
                          std::optional<PackageExtension>& extension) {
  const std::vector<PackageForm> forms =
      extension ? std::vector{PackageForm::Varn2300, PackageForm::Varn2340}
                : std::vector{PackageForm::Plain};
  const bool perPageSums = PackageUsesPerPageSums(AltProductName(header));
  for (PackageForm form : forms) {
    const ImagePlan plan =
        PlanImage(header, extension.value_or(PackageExtension{}), form, perPageSums);
    if (extension && plan.rule == ImageRangeRule::PerPageSumModel) {
      return "an alternate id of a per-page-sum drive takes the plain layout only";
    }
    if (const auto status = CheckImageRange(plan, bytes.size());
        status != ImageRangeStatus::Usable) {
      return std::string(DescribeRangeStatus(status)) + " (" + std::to_string(plan.Length()) +
             " bytes)";
    }
    const ChecksumPair sums = ChecksumsOf(std::span(bytes).subspan(
        static_cast<std::size_t>(plan.start), static_cast<std::size_t>(plan.Length())));
    if (form == PackageForm::Varn2340) {
      extension->extSumLinear = sums.linear;
      extension->extSumRotated = sums.rotated;
    } else {
      header.imageSumLinear = sums.linear;
      header.imageSumRotated = sums.rotated;
    }
  }
  std::ranges::copy(EncodeHeader(header), bytes.begin());
  if (extension) std::ranges::copy(EncodeExtension(*extension), bytes.begin() + kHeaderSize);
  return {};
}

std::string SealTrailer(std::vector<std::uint8_t>& bytes, PackageForm form) {
  const TrailerPlace place = LocateTrailer(bytes, form);
  if (place.status != TrailerStatus::Found) return std::string(DescribeTrailerStatus(place.status));
  const auto offset = static_cast<std::size_t>(place.offset);
  const ChecksumPair sums = ChecksumsOf(std::span(bytes).first(offset));
  WriteLe16(bytes, offset + layout::kTrailerLinear.offset, sums.linear);
  WriteLe16(bytes, offset + layout::kTrailerRotated.offset, sums.rotated);
  return {};
}

std::string CheckProtocol(const PackageRecipe& recipe) {
  if (recipe.deflate && recipe.protocolDigit != '2') {
    return "a compressed image needs protocol 2 (summed pages), the only one that inflates";
  }
  return {};
}

struct StoredImages {
  std::vector<std::uint8_t> first;
  std::vector<std::uint8_t> second;
};

std::string StoreImages(const PackageRecipe& recipe, StoredImages& images) {
  if (std::string error = StoredImage(recipe.image, "image", recipe.deflate, images.first);
      !error.empty()) {
    return error;
  }
  if (!recipe.second) return {};
  return StoredImage(recipe.second->image, "second image", recipe.deflate, images.second);
}

std::string PrepareExtension(const PackageRecipe& recipe, const StoredImages& images,
                             std::optional<PackageExtension>& extension) {
  if (!recipe.second) return {};
  extension.emplace();
  extension->extImageLength = static_cast<std::uint32_t>(images.second.size());
  return FillText(extension->extRevision, recipe.second->extRevision, "extRevision");
}

BuildResult Failed(const std::string& error) { return {{}, error}; }

}  // namespace

BuildResult BuildPackage(const PackageRecipe& recipe) {
  PackageHeader header;
  if (std::string error = FillHeaderTexts(recipe, header); !error.empty()) return Failed(error);
  if (std::string error = CheckProtocol(recipe); !error.empty()) return Failed(error);
  StoredImages images;
  if (std::string error = StoreImages(recipe, images); !error.empty()) return Failed(error);
  std::optional<PackageExtension> extension;
  if (std::string error = PrepareExtension(recipe, images, extension); !error.empty()) {
    return Failed(error);
  }
  header.imageLength = static_cast<std::uint32_t>(images.first.size());

  std::vector<std::uint8_t> bytes = Assemble(header, extension, images.first, images.second);
  if (std::string error = SealImageSums(bytes, header, extension); !error.empty()) {
    return Failed(error);
  }
  const PackageForm trailerForm = extension ? PackageForm::Varn2340 : PackageForm::Plain;
  if (std::string error = SealTrailer(bytes, trailerForm); !error.empty()) return Failed(error);
  return {std::move(bytes), {}};
}

std::vector<std::uint8_t> DeflateStream(std::span<const std::uint8_t> raw) {
  const auto rawLength = static_cast<uLong>(raw.size());
  auto streamLength = compressBound(rawLength);
  std::vector<std::uint8_t> stream(streamLength);
  if (compress2(stream.data(), &streamLength, raw.data(), rawLength, Z_BEST_COMPRESSION) != Z_OK) {
    return {};
  }
  stream.resize(streamLength);
  return stream;
}

std::vector<std::uint8_t> PackDeflated(std::span<const std::uint8_t> raw) {
  const std::vector<std::uint8_t> stream = DeflateStream(raw);
  if (stream.empty()) return {};
  const std::size_t streamLength = stream.size();
  const std::size_t pages = std::max<std::size_t>(
      1, (streamLength + kOutsideStream + kImagePageSize - 1) / kImagePageSize);
  std::vector<std::uint8_t> packed(pages * kImagePageSize, 0);
  WriteLe32(packed, 0, static_cast<std::uint32_t>(raw.size()));
  std::copy_n(stream.begin(), streamLength, packed.begin() + 4);
  return packed;
}

namespace {

class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

 private:
  std::uint64_t state_;
};

void AppendRandom(std::vector<std::uint8_t>& out, std::size_t count, SplitMix64& random) {
  for (std::size_t i = 0; i < count; ++i) out.push_back(static_cast<std::uint8_t>(random.Next()));
}

// Copies byte by byte so a run may overlap the bytes it repeats.
void AppendRepeat(std::vector<std::uint8_t>& out, std::size_t count, std::size_t distance) {
  for (std::size_t i = 0; i < count; ++i) out.push_back(out[out.size() - distance]);
}

}  // namespace

std::vector<std::uint8_t> SynthesizeImage(std::size_t size, std::uint64_t seed) {
  SplitMix64 random(seed);
  std::vector<std::uint8_t> out;
  out.reserve(size);
  while (out.size() < size) {
    const std::uint64_t draw = random.Next();
    const std::size_t run = std::min<std::size_t>(16 + (draw & 63), size - out.size());
    const auto kind = (draw >> 6) & 3;
    if (kind == 0) {
      out.insert(out.end(), run, static_cast<std::uint8_t>(draw >> 8));
    } else if (kind == 1 && !out.empty()) {
      AppendRepeat(out, run, 1 + (draw >> 16) % std::min<std::size_t>(out.size(), 4096));
    } else {
      AppendRandom(out, run, random);
    }
  }
  return out;
}

}  // namespace tslflash
