#include "tools/hlvtrace/trace_decoder.h"

#include <cinttypes>
#include <cstdio>

#include "tools/common/json_output.h"
#include "tools/common/text_escape.h"
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
  // Room for the longest error: three 64-bit numbers, an offset and an argument index take up
  // to about 150 characters.
  char error[320];
  while (!reader.atEnd()) {
    const std::size_t start = reader.offset();
    uint64_t component = 0, file = 0, point = 0;
    if (!reader.take(4, component) || !reader.take(4, file) || !reader.take(4, point)) {
      std::snprintf(error, sizeof error, "truncated record header at offset %zu", start);
      result.ok = false;
      result.error = error;
      return result;
    }
    const FoundPoint found =
        findTracePoint(static_cast<uint32_t>(component), static_cast<uint32_t>(file),
                       static_cast<uint32_t>(point));
    if (found.point == nullptr) {
      std::snprintf(error, sizeof error,
                    "unknown trace point %" PRIu64 ":%" PRIu64 ":%" PRIu64 " at offset %zu",
                    component, file, point, start);
      result.ok = false;
      result.error = error;
      return result;
    }
    DecodedRecord record;
    record.offset = start;
    record.component = static_cast<uint32_t>(component);
    record.file = static_cast<uint32_t>(file);
    record.point = static_cast<uint32_t>(point);
    record.table = found.table;
    record.info = found.point;
    std::vector<std::string> decimal, hex;
    for (uint8_t i = 0; i < found.point->argCount; ++i) {
      DecodedArg arg;
      arg.kind = found.point->kinds[i];
      uint64_t size = 0;
      bool good = reader.take(4, size);
      if (good && arg.kind == ArgKind::kText) {
        good = reader.takeBytes(size, arg.text);
        if (good) {
          decimal.push_back(quoteText(arg.text));
          hex.push_back(decimal.back());
        }
      } else if (good) {
        good = size == argWidth(arg.kind) && reader.take(size, arg.raw);
        if (good) {
          decimal.emplace_back();
          hex.emplace_back();
          formatValue(arg.kind, arg.raw, decimal.back(), hex.back());
        }
      }
      if (!good) {
        std::snprintf(error, sizeof error,
                      "record %" PRIu64 ":%" PRIu64 ":%" PRIu64
                      " at offset %zu: argument %u "
                      "truncated or of the wrong size",
                      component, file, point, start, i + 1u);
        result.ok = false;
        result.error = error;
        return result;
      }
      record.args.push_back(std::move(arg));
    }
    record.message = renderMessage(found.point->message, decimal, hex);
    result.lines.push_back(formatRecordText(record));
    result.records.push_back(std::move(record));
  }
  return result;
}

std::string formatRecordText(const DecodedRecord& record) {
  return std::to_string(record.component) + ":" + std::to_string(record.file) + ":" +
         std::to_string(record.point) + " " + record.table->name + "." + record.info->name + ": " +
         record.message;
}

const char* argKindName(ArgKind kind) {
  switch (kind) {
    case ArgKind::kBool:
      return "bool";
    case ArgKind::kU8:
      return "u8";
    case ArgKind::kU16:
      return "u16";
    case ArgKind::kU32:
      return "u32";
    case ArgKind::kI32:
      return "i32";
    case ArgKind::kU64:
      return "u64";
    case ArgKind::kI64:
      return "i64";
    case ArgKind::kText:
      return "text";
  }
  return "?";
}

std::string formatRecordJson(const DecodedRecord& record) {
  tool::Json out;
  out["offset"] = record.offset;
  out["component"] = record.component;
  out["file"] = record.file;
  out["point"] = record.point;
  out["table"] = record.table->name;
  out["name"] = record.info->name;
  tool::Json args = tool::Json::array();
  for (const DecodedArg& arg : record.args) {
    tool::Json value;
    value["type"] = argKindName(arg.kind);
    switch (arg.kind) {
      case ArgKind::kBool:
        value["value"] = arg.raw != 0;
        break;
      case ArgKind::kI32:
        value["value"] = static_cast<int32_t>(arg.raw);
        break;
      case ArgKind::kI64:
        value["value"] = static_cast<int64_t>(arg.raw);
        break;
      case ArgKind::kText:
        value["value"] = arg.text;
        // The text as written, for a reader that wants the bytes the replacement hides.
        if (!tool::isValidUtf8(arg.text)) value["bytes"] = tool::hexBytes(arg.text);
        break;
      default:
        value["value"] = arg.raw;
        break;
    }
    args.push_back(std::move(value));
  }
  out["args"] = std::move(args);
  out["message"] = record.message;
  return tool::dumpJson(out);
}

}  // namespace hlv::trace
