#include "command_output.h"

namespace quarnel::cli {

std::string EscapeControls(const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string escaped;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    // C1 controls reach a UTF-8 terminal as C2 80 to C2 9F.
    const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if (c < 0x20 || c == 0x7F || c1) {
      const std::size_t count = c1 ? 2 : 1;
      for (std::size_t k = 0; k < count; ++k) {
        const auto byte = static_cast<unsigned char>(text[i + k]);
        escaped += "\\x";
        escaped += kHex[byte >> 4];
        escaped += kHex[byte & 0xF];
      }
      i += count - 1;
    } else {
      escaped += text[i];
    }
  }
  return escaped;
}

std::string DisplayName(const std::filesystem::path& path) { return EscapeControls(PathForDisplay(path)); }

}  // namespace quarnel::cli
