#include "dialog_path.h"

namespace quarnel::ui {
namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

bool IsScalarValue(char32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

void AppendUtf8(std::string& out, char32_t c) {
  if (!IsScalarValue(c)) c = kReplacementCharacter;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

// File names on Linux are bytes, by convention UTF-8, whatever the locale.
// wchar_t holds UTF-32 there; a value that is no character (a lone surrogate)
// becomes U+FFFD rather than bytes no other program could type.
std::filesystem::path ToFilesystemPath(const std::wstring& text) {
  static_assert(sizeof(wchar_t) == 4, "wide strings are UTF-32 on this platform");
  std::string bytes;
  bytes.reserve(text.size());
  for (wchar_t c : text) AppendUtf8(bytes, static_cast<char32_t>(c));
  return std::filesystem::path(std::move(bytes));
}

}  // namespace quarnel::ui
