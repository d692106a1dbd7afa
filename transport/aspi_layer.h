// The ASPI layer as the transport sees it: its two entry points, once the
// library is loaded. Tests stand in for the library behind this interface.
#pragma once

#include <cstdint>
#include <memory>

namespace tslflash {

class AspiLayer {
 public:
  virtual ~AspiLayer() = default;
  // Loads the library and finds both entry points; false when either is missing.
  virtual bool Load() = 0;
  // The two calls below only after Load() returned true.
  // Status in bits 8-15, host adapter count in bits 0-7.
  virtual std::uint32_t GetSupportInfo() = 0;
  // Hands one request block to the layer; returns its status.
  virtual std::uint32_t SendCommand(void* requestBlock) = 0;
};

// WNASPI32.DLL, loaded at run time and freed when the layer is destroyed.
std::unique_ptr<AspiLayer> MakeWnAspi32Layer();

}  // namespace tslflash
