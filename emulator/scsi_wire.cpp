#include "emulator/scsi_wire.h"

#include <algorithm>

namespace tslflash::emu {

std::optional<std::span<std::uint8_t>> DataInBuffer(const CommandRequest& request) {
  if (request.direction != DataDirection::FromDrive || request.data == nullptr) {
    return std::nullopt;
  }
  return std::span<std::uint8_t>(request.data, request.length);
}

std::optional<std::span<const std::uint8_t>> DataOutBytes(const CommandRequest& request,
                                                          std::uint32_t announced) {
  if (announced == 0) return std::span<const std::uint8_t>{};
  if (request.direction != DataDirection::ToDrive || request.data == nullptr ||
      request.length < announced) {
    return std::nullopt;
  }
  return std::span<const std::uint8_t>(request.data, announced);
}

TransportReply ReturnData(const CommandRequest& request, std::span<const std::uint8_t> content,
                          std::uint32_t allocation) {
  const auto buffer = DataInBuffer(request);
  if (!buffer) return CheckCondition(sense::kInvalidField);
  const std::size_t count = std::min({std::size_t{allocation}, buffer->size(), content.size()});
  std::copy_n(content.begin(), count, buffer->begin());
  return Returned(count);
}

}  // namespace tslflash::emu
