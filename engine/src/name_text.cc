#include "quarnel/name_text.h"

#include <algorithm>

namespace quarnel {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

}  // namespace

std::size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;       // overlong
    if (lead == 0xED) high = 0x9F;      // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;       // overlong
    if (lead == 0xF4) high = 0x8F;      // beyond U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

void AppendUtf8(std::string& text, char32_t c) {
  if (c < 0x80) {
    text += static_cast<char>(c);
  } else if (c < 0x800) {
    text += static_cast<char>(0xC0 | (c >> 6));
    text += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    text += static_cast<char>(0xE0 | (c >> 12));
    text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (c >> 18));
    text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string EscapeName(std::string_view text) {
  const bool escapeBackslash = IsBackslashInNames();
  std::string escaped;
  while (!text.empty()) {
    // A byte outside valid UTF-8 stands alone.
    const std::size_t length = std::max<std::size_t>(Utf8SequenceLength(text), 1);
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char c = byte(0);
    bool control = false;
    if (length == 1) {
      control = c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || (c == '\\' && escapeBackslash);
    } else if (length == 2) {
      control = c == 0xC2 && byte(1) <= 0x9F;
    } else if (length == 3) {
      control = c == 0xE2 && byte(1) == 0x80 && (byte(2) == 0xA8 || byte(2) == 0xA9);
    }
    for (std::size_t i = 0; i < length; ++i) {
      if (control) {
        escaped += "\\x";
        escaped += kHexDigits[byte(i) >> 4];
        escaped += kHexDigits[byte(i) & 0xF];
      } else {
        escaped += text[i];
      }
    }
    text.remove_prefix(length);
  }
  return escaped;
}

}  // namespace quarnel
