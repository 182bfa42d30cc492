#include "quarnel/model_line.h"

#include <algorithm>

#include "format_text.h"

namespace quarnel {
namespace {

// The characters of a text as a run reads them, one at a time.
class CharacterReader {
 public:
  explicit CharacterReader(std::string_view text) : text_(text) {}

  // The next character, every line end given as '\n'; std::nullopt at the
  // end of the text, at the end marker and at a NUL byte.
  std::optional<char> Next() {
    if (at_ >= text_.size()) return std::nullopt;
    const char c = text_[at_++];
    if (c == '\0' || IsEndMarker(c)) {
      at_ = text_.size();
      return std::nullopt;
    }
    if (c != '\r') return c;
    if (at_ < text_.size() && text_[at_] == '\r') return '\r';
    if (at_ < text_.size() && text_[at_] == '\n') ++at_;
    return '\n';
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

// Reads on to the end of the current line; false at the end of the text.
bool SkipLine(CharacterReader& reader) {
  for (;;) {
    const std::optional<char> c = reader.Next();
    if (!c) return false;
    if (*c == '\n') return true;
  }
}

}  // namespace

std::optional<std::string> ReadModelName(std::string_view text) {
  CharacterReader reader(text);
  for (;;) {
    std::optional<char> c = reader.Next();
    if (!c) return std::nullopt;
    if (*c != '@' && *c != '$') continue;
    const bool header = *c == '@';
    // A line end right behind the marker ends that line.
    c = reader.Next();
    if (!c) return std::nullopt;
    if (*c == '\n') continue;
    if (!header || *c != 'i') {
      if (!SkipLine(reader)) return std::nullopt;
      continue;
    }
    std::string name;
    // Position 3 is free; positions 4 to 9 hold the name.
    for (std::size_t position = 3; position <= 3 + kModelNameLength; ++position) {
      c = reader.Next();
      if (!c || *c == '\n') break;
      if (position > 3) name += *c;
    }
    return name;
  }
}

bool IsOldModelName(std::string_view name) {
  return std::find(std::begin(kOldModelNames), std::end(kOldModelNames), name) != std::end(kOldModelNames);
}

bool IsNewModelName(std::string_view name) {
  return name == kNewModelDesignation.substr(0, kModelNameLength);
}

}  // namespace quarnel
