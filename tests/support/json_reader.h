// A strict JSON reader for tests of the programs' machine-readable output: it accepts only what
// the JSON grammar allows (no trailing commas, no control characters or malformed UTF-8 in
// strings, no lone surrogate escapes, no duplicate keys), so a test that parses an output also
// proves it is valid JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hlv::test {

class JsonValue {
 public:
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };

  Type type() const { return type_; }
  bool isNull() const { return type_ == Type::kNull; }
  bool boolean() const { return boolean_; }
  // A number's text as written, a string's UTF-8 bytes.
  const std::string& text() const { return text_; }
  std::optional<int64_t> asInt64() const;
  std::optional<uint64_t> asUint64() const;
  const std::vector<JsonValue>& items() const { return items_; }
  const std::vector<std::pair<std::string, JsonValue>>& members() const { return members_; }
  bool has(const std::string& key) const;
  // The member's value; a null value when the object has no such member.
  const JsonValue& operator[](const std::string& key) const;
  const JsonValue& operator[](std::size_t index) const { return items_.at(index); }

 private:
  friend class JsonParser;
  Type type_ = Type::kNull;
  bool boolean_ = false;
  std::string text_;
  std::vector<JsonValue> items_;
  std::vector<std::pair<std::string, JsonValue>> members_;
};

// The one value the text holds (surrounded only by white space), or nothing with `error` saying
// where and why parsing failed.
std::optional<JsonValue> parseJson(std::string_view text, std::string& error);

}  // namespace hlv::test
