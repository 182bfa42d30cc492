#include "quarnel/target_prefix.h"

#include <cstddef>

namespace quarnel {
namespace {

template <typename Char>
Char LowerAscii(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

// Compares ASCII letters without case; any other character, a byte of UTF-8
// or a UTF-16 unit alike, must be the same.
template <typename Char>
bool HasAtIgnoringCase(std::basic_string_view<Char> name, std::string_view part, std::size_t at) {
  if (name.size() < at + part.size()) return false;
  for (std::size_t i = 0; i < part.size(); ++i) {
    if (LowerAscii(name[at + i]) != LowerAscii(static_cast<Char>(part[i]))) return false;
  }
  return true;
}

template <typename Char>
std::basic_string<Char> PrefixedName(std::basic_string_view<Char> fileName) {
  std::basic_string<Char> name(kTargetPrefix.begin(), kTargetPrefix.end());
  name += fileName;
  return name;
}

template <typename Char>
bool IsSourceNameOf(std::basic_string_view<Char> name) {
  constexpr std::string_view kExtension = ".frt";
  if (name.size() <= kExtension.size() || name[0] == '.' || HasAtIgnoringCase(name, kTargetPrefix, 0)) return false;
  return HasAtIgnoringCase(name, kExtension, name.size() - kExtension.size());
}

}  // namespace

std::string ProposeTargetName(std::string_view fileName) { return PrefixedName(fileName); }
std::wstring ProposeTargetName(std::wstring_view fileName) { return PrefixedName(fileName); }
bool IsSourceName(std::string_view fileName) { return IsSourceNameOf(fileName); }
bool IsSourceName(std::wstring_view fileName) { return IsSourceNameOf(fileName); }

}  // namespace quarnel
