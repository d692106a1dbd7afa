#include "transport/aspi_layer.h"

#include <windows.h>

#include "transport/aspi_request_blocks.h"

namespace tslflash {
namespace {

// GetProcAddress returns one generic function type; going through
// void (*)() states that the entry point's real type is known here.
template <typename Function>
Function EntryPoint(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

class WnAspi32Layer final : public AspiLayer {
 public:
  WnAspi32Layer() = default;
  ~WnAspi32Layer() override {
    if (module_ != nullptr) ::FreeLibrary(module_);
  }
  WnAspi32Layer(const WnAspi32Layer&) = delete;
  WnAspi32Layer& operator=(const WnAspi32Layer&) = delete;

  bool Load() override {
    module_ = ::LoadLibraryA("WNASPI32");
    if (module_ == nullptr) return false;
    getSupportInfo_ =
        EntryPoint<aspi::GetASPI32SupportInfoFunction>(module_, "GetASPI32SupportInfo");
    sendCommand_ = EntryPoint<aspi::SendASPI32CommandFunction>(module_, "SendASPI32Command");
    return getSupportInfo_ != nullptr && sendCommand_ != nullptr;
  }

  std::uint32_t GetSupportInfo() override { return getSupportInfo_(); }

  std::uint32_t SendCommand(void* requestBlock) override { return sendCommand_(requestBlock); }

 private:
  HMODULE module_ = nullptr;
  aspi::GetASPI32SupportInfoFunction getSupportInfo_ = nullptr;
  aspi::SendASPI32CommandFunction sendCommand_ = nullptr;
};

}  // namespace

std::unique_ptr<AspiLayer> MakeWnAspi32Layer() { return std::make_unique<WnAspi32Layer>(); }

}  // namespace tslflash
