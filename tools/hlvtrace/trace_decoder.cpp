#include "tools/hlvtrace/trace_decoder.h"

#include <cinttypes>
#include <cstdio>

#include "tools/hlvtrace/trace_catalog.h"

namespace hlv::trace {
namespace {

class Reader {
 public:
  explicit Reader(std::span<const uint8_t> data) : data_(data) {}
  bool atEnd() const { return offset_ == data_.size(); }
  std::size_t offset() const { return offset_; }
  bool take(std::size_t count, uint64_t& value) {
    if (data_.size() - offset_ < count) return false;
    value = 0;
    for (std::size_t i = 0; i < count; ++i)
      value |= uint64_t{data_[offset_ + i]} << (8 * i);
    offset_ += count;
    return true;
  }
  bool takeBytes(std::size_t count, std::string& out) {
    if (data_.size() - offset_ < count) return false;
    out.assign(reinterpret_cast<const char*>(data_.data() + offset_), count);
    offset_ += count;
    return true;
  }

 private:
  std::span<const uint8_t> data_;
  std::size_t offset_ = 0;
};

std::string quoteText(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void formatValue(ArgKind kind, uint64_t raw, std::string& decimal, std::string& hex) {
  char buffer[32];
  switch (kind) {
    case ArgKind::kBool:
      decimal = raw != 0 ? "true" : "false";
      hex = decimal;
      return;
    case ArgKind::kI32:
      std::snprintf(buffer, sizeof buffer, "%" PRId32, static_cast<int32_t>(raw));
      break;
    case ArgKind::kI64:
      std::snprintf(buffer, sizeof buffer, "%" PRId64, static_cast<int64_t>(raw));
      break;
    default:
      std::snprintf(buffer, sizeof buffer, "%" PRIu64, raw);
      break;
  }
  decimal = buffer;
  std::snprintf(buffer, sizeof buffer, "0x%" PRIX64,
                kind == ArgKind::kI32 ? uint64_t{static_cast<uint32_t>(raw)} : raw);
  hex = buffer;
}

}  // namespace

std::string renderMessage(const char* message, const std::vector<std::string>& decimal,
                          const std::vector<std::string>& hex) {
  std::string out;
  std::size_t next = 0;
  for (const char* p = message; *p != '\0'; ++p) {
    if (p[0] == '{' && p[1] == '}') {
      out += next < decimal.size() ? decimal[next] : "?";
      ++next;
      ++p;
    } else if (p[0] == '{' && p[1] == 'x' && p[2] == '}') {
      out += next < hex.size() ? hex[next] : "?";
      ++next;
      p += 2;
    } else {
      out += *p;
    }
  }
  for (; next < decimal.size(); ++next)
    out += " " + decimal[next];
  return out;
}

DecodeResult decodeTrace(std::span<const uint8_t> data) {
  DecodeResult result;
  Reader reader(data);
  // Room for the longest message: three 64-bit numbers, an offset and an argument index take
  // up to about 150 characters, and the table and point names are short identifiers.
  char header[320];
  while (!reader.atEnd()) {
    const std::size_t start = reader.offset();
    uint64_t component = 0, file = 0, point = 0;
    if (!reader.take(4, component) || !reader.take(4, file) || !reader.take(4, point)) {
      std::snprintf(header, sizeof header, "truncated record header at offset %zu", start);
      result.ok = false;
      result.error = header;
      return result;
    }
    const FoundPoint found =
        findTracePoint(static_cast<uint32_t>(component), static_cast<uint32_t>(file),
                       static_cast<uint32_t>(point));
    if (found.point == nullptr) {
      std::snprintf(header, sizeof header,
                    "unknown trace point %" PRIu64 ":%" PRIu64 ":%" PRIu64 " at offset %zu",
                    component, file, point, start);
      result.ok = false;
      result.error = header;
      return result;
    }
    std::vector<std::string> decimal, hex;
    for (uint8_t i = 0; i < found.point->argCount; ++i) {
      const ArgKind kind = found.point->kinds[i];
      uint64_t size = 0;
      bool good = reader.take(4, size);
      if (good && kind == ArgKind::kText) {
        std::string text;
        good = reader.takeBytes(size, text);
        if (good) {
          decimal.push_back(quoteText(text));
          hex.push_back(decimal.back());
        }
      } else if (good) {
        uint64_t raw = 0;
        good = size == argWidth(kind) && reader.take(size, raw);
        if (good) {
          decimal.emplace_back();
          hex.emplace_back();
          formatValue(kind, raw, decimal.back(), hex.back());
        }
      }
      if (!good) {
        std::snprintf(header, sizeof header,
                      "record %" PRIu64 ":%" PRIu64 ":%" PRIu64
                      " at offset %zu: argument %u "
                      "truncated or of the wrong size",
                      component, file, point, start, i + 1u);
        result.ok = false;
        result.error = header;
        return result;
      }
    }
    std::snprintf(header, sizeof header, "%" PRIu64 ":%" PRIu64 ":%" PRIu64 " %s.%s: ", component,
                  file, point, found.table->name, found.point->name);
    result.lines.push_back(header + renderMessage(found.point->message, decimal, hex));
  }
  return result;
}

}  // namespace hlv::trace
