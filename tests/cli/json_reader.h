// Reads the JSON the command prints, so tests check records by their fields
// rather than by their spelling.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quarnel::testing {

struct JsonValue {
  enum class Kind : std::uint8_t { Null, Boolean, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  std::string text;  // UTF-8
  std::vector<JsonValue> items;
  std::map<std::string, JsonValue> fields;

  bool IsNull() const { return kind == Kind::Null; }
  // The field `name` of an object; throws when there is none.
  const JsonValue& operator[](const std::string& name) const;
};

// Parses one JSON text; throws std::runtime_error on anything malformed,
// trailing text included.
JsonValue ParseJson(std::string_view text);

}  // namespace quarnel::testing
