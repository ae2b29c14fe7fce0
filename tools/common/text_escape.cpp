#include "tools/common/text_escape.h"

#include <cstdint>
#include <cstdio>

namespace hlv::tool {
namespace {

// Length of the well-formed UTF-8 sequence starting at `at`, or 0 when the byte there does not
// start one. ASCII bytes are sequences of length 1.
std::size_t sequenceLength(std::string_view bytes, std::size_t at, uint32_t& codePoint) {
  const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(bytes[at + i]); };
  const uint8_t lead = byte(0);
  std::size_t length = 0;
  uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  if (bytes.size() - at < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const uint8_t next = byte(i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  return length;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
  uint32_t codePoint = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = sequenceLength(bytes, at, codePoint);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string xmlText(std::string_view bytes) {
  std::string out;
  uint32_t codePoint = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = sequenceLength(bytes, at, codePoint);
    const bool allowed =
        length != 0 && codePoint != 0xFFFE && codePoint != 0xFFFF &&
        (codePoint >= 0x20 || codePoint == '\t' || codePoint == '\n' || codePoint == '\r');
    if (!allowed) {
      out += "&#xFFFD;";
      at += length == 0 ? 1 : length;
      continue;
    }
    switch (codePoint) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out.append(bytes.substr(at, length));
    }
    at += length;
  }
  return out;
}

std::string hexBytes(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto byte = static_cast<uint8_t>(c);
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
  }
  return out;
}

}  // namespace hlv::tool
