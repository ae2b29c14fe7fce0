#include "tests/support/json_reader.h"

#include <charconv>

namespace hlv::test {

std::optional<int64_t> JsonValue::asInt64() const {
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text_.data(), text_.data() + text_.size(), value);
  if (type_ != Type::kNumber || ec != std::errc() || end != text_.data() + text_.size())
    return std::nullopt;
  return value;
}

std::optional<uint64_t> JsonValue::asUint64() const {
  uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text_.data(), text_.data() + text_.size(), value);
  if (type_ != Type::kNumber || ec != std::errc() || end != text_.data() + text_.size())
    return std::nullopt;
  return value;
}

bool JsonValue::has(const std::string& key) const {
  for (const auto& [name, value] : members_) {
    if (name == key) return true;
  }
  return false;
}

const JsonValue& JsonValue::operator[](const std::string& key) const {
  static const JsonValue kMissing;
  for (const auto& [name, value] : members_) {
    if (name == key) return value;
  }
  return kMissing;
}

class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : text_(text) {}

  std::optional<JsonValue> parseDocument(std::string& error) {
    JsonValue value;
    skipSpace();
    if (!parseValue(value, 0)) {
      error = error_ + " at byte " + std::to_string(at_);
      return std::nullopt;
    }
    skipSpace();
    if (at_ != text_.size()) {
      error = "text after the value at byte " + std::to_string(at_);
      return std::nullopt;
    }
    return value;
  }

 private:
  static constexpr int kMaxDepth = 64;

  bool fail(const char* why) {
    error_ = why;
    return false;
  }
  bool atEnd() const { return at_ >= text_.size(); }
  char peek() const { return atEnd() ? '\0' : text_[at_]; }
  void skipSpace() {
    while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
      ++at_;
  }
  bool literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return fail("bad literal");
    at_ += word.size();
    return true;
  }

  bool parseValue(JsonValue& value, int depth) {
    if (depth > kMaxDepth) return fail("nested too deeply");
    switch (peek()) {
      case '{':
        return parseObject(value, depth);
      case '[':
        return parseArray(value, depth);
      case '"':
        value.type_ = JsonValue::Type::kString;
        return parseString(value.text_);
      case 't':
        value.type_ = JsonValue::Type::kBool;
        value.boolean_ = true;
        return literal("true");
      case 'f':
        value.type_ = JsonValue::Type::kBool;
        return literal("false");
      case 'n':
        return literal("null");
      default:
        return parseNumber(value);
    }
  }

  bool parseObject(JsonValue& value, int depth) {
    value.type_ = JsonValue::Type::kObject;
    ++at_;
    skipSpace();
    if (peek() == '}') {
      ++at_;
      return true;
    }
    for (;;) {
      skipSpace();
      std::string key;
      if (peek() != '"') return fail("object key expected");
      if (!parseString(key)) return false;
      if (value.has(key)) return fail("duplicate key");
      skipSpace();
      if (peek() != ':') return fail("':' expected");
      ++at_;
      skipSpace();
      JsonValue member;
      if (!parseValue(member, depth + 1)) return false;
      value.members_.emplace_back(std::move(key), std::move(member));
      skipSpace();
      if (peek() == '}') {
        ++at_;
        return true;
      }
      if (peek() != ',') return fail("',' or '}' expected");
      ++at_;
    }
  }

  bool parseArray(JsonValue& value, int depth) {
    value.type_ = JsonValue::Type::kArray;
    ++at_;
    skipSpace();
    if (peek() == ']') {
      ++at_;
      return true;
    }
    for (;;) {
      skipSpace();
      JsonValue item;
      if (!parseValue(item, depth + 1)) return false;
      value.items_.push_back(std::move(item));
      skipSpace();
      if (peek() == ']') {
        ++at_;
        return true;
      }
      if (peek() != ',') return fail("',' or ']' expected");
      ++at_;
    }
  }

  bool digits() {
    const std::size_t start = at_;
    while (!atEnd() && peek() >= '0' && peek() <= '9')
      ++at_;
    return at_ > start;
  }

  bool parseNumber(JsonValue& value) {
    const std::size_t start = at_;
    if (peek() == '-') ++at_;
    if (peek() == '0') {
      ++at_;
    } else if (!digits()) {
      return fail("value expected");
    }
    if (peek() == '.') {
      ++at_;
      if (!digits()) return fail("digits expected after '.'");
    }
    if (peek() == 'e' || peek() == 'E') {
      ++at_;
      if (peek() == '+' || peek() == '-') ++at_;
      if (!digits()) return fail("exponent digits expected");
    }
    value.type_ = JsonValue::Type::kNumber;
    value.text_ = std::string(text_.substr(start, at_ - start));
    return true;
  }

  static void appendUtf8(std::string& out, uint32_t codePoint) {
    if (codePoint < 0x80) {
      out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
      out += static_cast<char>(0xC0 | (codePoint >> 6));
      out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
      out += static_cast<char>(0xE0 | (codePoint >> 12));
      out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (codePoint >> 18));
      out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
  }

  bool hex4(uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i, ++at_) {
      const char c = peek();
      uint32_t digit = 0;
      if (c >= '0' && c <= '9')
        digit = static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f')
        digit = static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        digit = static_cast<uint32_t>(c - 'A' + 10);
      else
        return fail("four hexadecimal digits expected");
      value = value * 16 + digit;
    }
    return true;
  }

  bool escape(std::string& out) {
    const char c = peek();
    ++at_;
    switch (c) {
      case '"':
      case '\\':
      case '/':
        out += c;
        return true;
      case 'b':
        out += '\b';
        return true;
      case 'f':
        out += '\f';
        return true;
      case 'n':
        out += '\n';
        return true;
      case 'r':
        out += '\r';
        return true;
      case 't':
        out += '\t';
        return true;
      case 'u':
        break;
      default:
        return fail("unknown escape");
    }
    uint32_t unit = 0;
    if (!hex4(unit)) return false;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return fail("lone low surrogate");
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      uint32_t low = 0;
      if (text_.substr(at_, 2) != "\\u") return fail("lone high surrogate");
      at_ += 2;
      if (!hex4(low)) return false;
      if (low < 0xDC00 || low > 0xDFFF) return fail("lone high surrogate");
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    appendUtf8(out, unit);
    return true;
  }

  // One raw UTF-8 character, checked byte by byte.
  bool rawCharacter(std::string& out) {
    const auto lead = static_cast<uint8_t>(peek());
    std::size_t continuation = 0;
    uint32_t codePoint = 0, minimum = 0;
    if (lead < 0x80) {
      codePoint = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      continuation = 1, codePoint = lead & 0x1Fu, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      continuation = 2, codePoint = lead & 0x0Fu, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      continuation = 3, codePoint = lead & 0x07u, minimum = 0x10000;
    } else {
      return fail("malformed UTF-8");
    }
    const std::size_t start = at_++;
    for (std::size_t i = 0; i < continuation; ++i, ++at_) {
      const auto next = static_cast<uint8_t>(peek());
      if (atEnd() || (next & 0xC0) != 0x80) return fail("malformed UTF-8");
      codePoint = (codePoint << 6) | (next & 0x3Fu);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
      return fail("malformed UTF-8");
    out.append(text_.substr(start, at_ - start));
    return true;
  }

  bool parseString(std::string& out) {
    ++at_;  // the opening quote
    for (;;) {
      if (atEnd()) return fail("unterminated string");
      const auto c = static_cast<uint8_t>(peek());
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c < 0x20) return fail("control character in a string");
      if (c == '\\') {
        ++at_;
        if (!escape(out)) return false;
      } else if (!rawCharacter(out)) {
        return false;
      }
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::string error_;
};

std::optional<JsonValue> parseJson(std::string_view text, std::string& error) {
  return JsonParser(text).parseDocument(error);
}

}  // namespace hlv::test
