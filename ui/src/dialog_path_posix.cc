#include "dialog_path.h"

#include "quarnel/name_text.h"

namespace quarnel::ui {
namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

bool IsScalarValue(char32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

}  // namespace

// File names on Linux are bytes, by convention UTF-8, whatever the locale.
// wchar_t holds UTF-32 there; a value that is no character (a lone surrogate)
// becomes U+FFFD rather than bytes no other program could type.
std::filesystem::path ToFilesystemPath(const std::wstring& text) { return std::filesystem::path(ToUtf8(text)); }

std::wstring FromFilesystemPath(const std::filesystem::path& path) { return FromUtf8(path.native()); }

std::string ToUtf8(const std::wstring& text) {
  static_assert(sizeof(wchar_t) == 4, "wide strings are UTF-32 on this platform");
  std::string bytes;
  bytes.reserve(text.size());
  for (wchar_t c : text) {
    const auto value = static_cast<char32_t>(c);
    AppendUtf8(bytes, IsScalarValue(value) ? value : kReplacementCharacter);
  }
  return bytes;
}

std::wstring FromUtf8(const std::string& text) {
  std::wstring wide;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    // The lead byte gives the sequence's length and the value's top bits.
    std::size_t length = 0;
    char32_t c = 0;
    if (lead < 0x80) {
      length = 1;
      c = lead;
    } else if ((lead >> 5) == 0x6) {
      length = 2;
      c = lead & 0x1F;
    } else if ((lead >> 4) == 0xE) {
      length = 3;
      c = lead & 0x0F;
    } else if ((lead >> 3) == 0x1E) {
      length = 4;
      c = lead & 0x07;
    }
    bool valid = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms and values beyond Unicode are no characters either.
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (valid && (c < kLeast[length] || !IsScalarValue(c))) valid = false;
    wide += static_cast<wchar_t>(valid ? c : kReplacementCharacter);
    i += valid ? length : 1;
  }
  return wide;
}

}  // namespace quarnel::ui
