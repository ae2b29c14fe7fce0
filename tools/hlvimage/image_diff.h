// What differs between two update images, backups or flash dumps (`hlvimage diff`): what a
// flash reader and the update-image check find, every field of both control blocks, each
// component (place, size, CRC state, bytes), each in-block area and the free area, and which
// regions of the flash differ byte for byte. Both files are judged by the same report as
// `hlvimage info`.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/common/json_output.h"

namespace hlv::image {

struct ImageDifference {
  // "file", "image" (reader and image check), "ncb", "component", "area" or "region".
  std::string category;
  std::string field;  // e.g. "ncb1.state", "ncb0.macPart2.offset", "bankB"
  std::string text;   // "field: A -> B", or for a region what differs in it
  tool::Json json;    // one JSON object: category, field, then what differs
};

struct ImageDiff {
  std::vector<ImageDifference> differences;
  bool identical() const { return differences.empty(); }
};

// `a` and `b` hold the files (or their first kMaxExamined bytes); `sizeA` and `sizeB` are their
// lengths. Files that differ in any examined byte or in length are never identical.
ImageDiff diffImages(std::span<const uint8_t> a, uint64_t sizeA, std::span<const uint8_t> b,
                     uint64_t sizeB);

std::string formatDiffText(const ImageDiff& diff, const std::string& pathA,
                           const std::string& pathB);
// One JSON object: "a" and "b" (path, file_size), "identical", "differences".
std::string formatDiffJson(const ImageDiff& diff, const std::string& pathA,
                           const std::string& pathB, uint64_t sizeA, uint64_t sizeB);

}  // namespace hlv::image
