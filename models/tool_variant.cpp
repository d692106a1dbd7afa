#include "models/tool_variant.h"

#include <array>
#include <string>
#include <string_view>
#include <utility>

namespace tslflash {
namespace {

// Tried in this order; the first equal mark wins.
constexpr std::array<std::pair<std::string_view, ToolVariant>, 4> kMarks = {{
    {"TW", ToolVariant::Tw},
    {"NX", ToolVariant::Nx},
    {"VR", ToolVariant::Vr},
    {"KV", ToolVariant::Kv},
}};

// ASCII only: the mark is raw header bytes, not text in the user's locale.
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

ToolVariant DetermineToolVariant(const FirmwarePackage& package) {
  std::string mark(package.VariantMark());
  for (char& c : mark) c = UpperAscii(c);
  for (const auto& [text, variant] : kMarks) {
    if (mark == text) return variant;
  }
  return ToolVariant::Other;
}

}  // namespace tslflash
