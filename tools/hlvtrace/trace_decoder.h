// Turns a binary trace file back into readable lines, or into one JSON object per record.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "trace/trace_point.h"

namespace hlv::trace {

// One argument as the record carries it.
struct DecodedArg {
  ArgKind kind = ArgKind::kU32;
  uint64_t raw = 0;  // a number's bits, zero-extended from its width
  std::string text;  // a text argument's bytes, exactly as recorded
};

struct DecodedRecord {
  std::size_t offset = 0;  // where the record starts in the file
  uint32_t component = 0;
  uint32_t file = 0;
  uint32_t point = 0;
  const TableInfo* table = nullptr;
  const PointInfo* info = nullptr;
  std::vector<DecodedArg> args;
  std::string message;  // the point's message with the arguments filled in
};

struct DecodeResult {
  std::vector<DecodedRecord> records;  // every complete, known record
  std::vector<std::string> lines;      // the same records as text lines
  bool ok = true;
  std::string error;  // why decoding stopped, when not ok
};

// Decodes records until the end of the data. A record whose identifiers no table declares, or
// that ends early or carries an argument of the wrong size, stops the decoding: a reader cannot
// know where the next record would start.
DecodeResult decodeTrace(std::span<const uint8_t> data);

// "component:file:point table.point: message".
std::string formatRecordText(const DecodedRecord& record);

// One JSON object on one line (no line feed): offset, component, file, point, table, name,
// args (each {"type", "value"}; a text that is not well-formed UTF-8 also carries its bytes in
// hexadecimal as "bytes") and message.
std::string formatRecordJson(const DecodedRecord& record);

// The name of an argument kind in the JSON output: "bool", "u8", ..., "i64", "text".
const char* argKindName(ArgKind kind);

// The message with "{}" and "{x}" replaced by the argument texts; extra arguments are appended.
std::string renderMessage(const char* message, const std::vector<std::string>& decimal,
                          const std::vector<std::string>& hex);

}  // namespace hlv::trace
