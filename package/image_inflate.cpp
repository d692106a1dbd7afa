#include "package/image_inflate.h"

// The stream's input is only read: zlib may say so in its types.
#define ZLIB_CONST
#include <zlib.h>

#include <algorithm>

#include "package/image_staging.h"
#include "package/package_layout.h"

namespace tslflash {
namespace {

constexpr std::int64_t kStreamOffset = 4;
constexpr std::int64_t kBytesOutsideStream = kStreamOffset + 128;

enum class FeedEnd { StreamEnded, InputConsumed, Failed };

struct FeedSteps {
  uLong input;
  uLong output;
};

// Points the output at the buffer's free space, or, once it is full, at a
// one-byte probe: any byte written there means the image would not fit.
void OfferOutput(z_stream& stream, uLong step, std::uint8_t& probe) {
  const uLong room = kImageAreaSize - stream.total_out;
  if (room == 0) {
    stream.next_out = &probe;
    stream.avail_out = 1;
    return;
  }
  stream.avail_out = static_cast<uInt>(std::min(step, room));
}

FeedEnd Feed(z_stream& stream, uLong inputLength, FeedSteps steps) {
  std::uint8_t probe = 0;
  while (stream.total_in < inputLength) {
    stream.avail_in = static_cast<uInt>(std::min(steps.input, inputLength - stream.total_in));
    OfferOutput(stream, steps.output, probe);
    const int status = inflate(&stream, Z_NO_FLUSH);
    if (stream.total_out > kImageAreaSize) return FeedEnd::Failed;
    if (status == Z_STREAM_END) return FeedEnd::StreamEnded;
    // Data, memory and stream errors, a missing dictionary, and no progress
    // with both buffers offered all mean the image cannot be inflated.
    if (status != Z_OK) return FeedEnd::Failed;
  }
  return FeedEnd::InputConsumed;
}

}  // namespace

std::span<const std::uint8_t> InflatedImage::Pages() const {
  if (!Ok()) return {};
  return {bytes.get(), std::size_t{pages} * kImagePageSize};
}

InflatedImage InflateImage(std::span<const std::uint8_t> image, std::uint8_t pageCount,
                           InflateFeed feed) {
  InflatedImage result;
  const std::int64_t inputLength = std::int64_t{pageCount} * kImagePageSize - kBytesOutsideStream;
  if (inputLength <= 0 || kStreamOffset + inputLength > static_cast<std::int64_t>(image.size())) {
    return result;
  }
  const auto n = static_cast<uLong>(inputLength);
  const FeedSteps steps =
      feed == InflateFeed::WholeInput ? FeedSteps{n, kImageAreaSize} : FeedSteps{1, 1};

  // Not zeroed: only the bytes the stream writes are ever read, and pages it
  // never reaches cost no memory.
  result.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(kImageAreaSize);
  z_stream stream{};
  stream.next_in = image.data() + kStreamOffset;
  stream.next_out = result.bytes.get();
  // The linked library's own version and record size: current releases refuse
  // to start a stream for the older ones.
  if (inflateInit(&stream) != Z_OK) return result;
  const FeedEnd end = Feed(stream, n, steps);
  const uLong produced = stream.total_out;
  if (inflateEnd(&stream) != Z_OK || end != FeedEnd::StreamEnded) return result;
  result.length = static_cast<std::uint32_t>(produced);
  result.pages = static_cast<std::uint8_t>(produced / kImagePageSize);
  return result;
}

}  // namespace tslflash
