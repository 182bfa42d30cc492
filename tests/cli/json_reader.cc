#include "json_reader.h"

#include <cstdlib>
#include <stdexcept>

namespace quarnel::testing {
namespace {

class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : text_(text) {}

  JsonValue ParseDocument() {
    JsonValue value = ParseValue();
    SkipSpace();
    if (at_ != text_.size()) Fail("text behind the value");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& problem) const {
    throw std::runtime_error("JSON: " + problem + " at offset " + std::to_string(at_));
  }
  void SkipSpace() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
      ++at_;
  }
  bool Take(char c) {
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == c) return ++at_, true;
    return false;
  }
  void Expect(char c) {
    if (!Take(c)) Fail(std::string("expected '") + c + "'");
  }
  bool TakeWord(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  JsonValue ParseValue() {
    SkipSpace();
    if (at_ == text_.size()) Fail("missing value");
    JsonValue value;
    const char c = text_[at_];
    if (c == '{') {
      value.kind = JsonValue::Kind::Object;
      ++at_;
      if (Take('}')) return value;
      do {
        SkipSpace();
        const std::string name = ParseString();
        Expect(':');
        if (!value.fields.emplace(name, ParseValue()).second) Fail("field \"" + name + "\" twice");
      } while (Take(','));
      Expect('}');
    } else if (c == '[') {
      value.kind = JsonValue::Kind::Array;
      ++at_;
      if (Take(']')) return value;
      do value.items.push_back(ParseValue());
      while (Take(','));
      Expect(']');
    } else if (c == '"') {
      value.kind = JsonValue::Kind::String;
      value.text = ParseString();
    } else if (TakeWord("true") || TakeWord("false")) {
      value.kind = JsonValue::Kind::Boolean;
      value.boolean = c == 't';
    } else if (TakeWord("null")) {
    } else {
      const std::string rest(text_.substr(at_, 32));
      char* end = nullptr;
      value.kind = JsonValue::Kind::Number;
      value.number = std::strtod(rest.c_str(), &end);
      if (end == rest.c_str()) Fail("unexpected character");
      at_ += static_cast<std::size_t>(end - rest.c_str());
    }
    return value;
  }

  static void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  std::string ParseString() {
    if (at_ >= text_.size() || text_[at_] != '"') Fail("expected a string");
    ++at_;
    std::string out;
    while (at_ < text_.size() && text_[at_] != '"') {
      const unsigned char c = static_cast<unsigned char>(text_[at_++]);
      if (c < 0x20) Fail("raw control character in a string");
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (at_ == text_.size()) break;
      const char escape = text_[at_++];
      switch (escape) {
        case '"': case '\\': case '/': out += escape; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          if (at_ + 4 > text_.size()) Fail("short \\u escape");
          AppendUtf8(out, static_cast<unsigned>(std::stoul(std::string(text_.substr(at_, 4)), nullptr, 16)));
          at_ += 4;
          break;
        }
        default: Fail("unknown escape");
      }
    }
    if (at_ == text_.size()) Fail("unterminated string");
    ++at_;
    return out;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

const JsonValue& JsonValue::operator[](const std::string& name) const {
  const auto it = fields.find(name);
  if (kind != Kind::Object || it == fields.end()) throw std::runtime_error("JSON: no field \"" + name + "\"");
  return it->second;
}

JsonValue ParseJson(std::string_view text) { return JsonParser(text).ParseDocument(); }

}  // namespace quarnel::testing
