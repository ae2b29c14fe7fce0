// hlvtrace: decodes a trace file written by hlvflashupdate into one line per record.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "tools/hlvtrace/trace_catalog.h"
#include "tools/hlvtrace/trace_decoder.h"

namespace {

int usage() {
  std::fputs(
      "usage: hlvtrace FILE        decode a trace file\n"
      "       hlvtrace --points   list every trace point the program declares\n",
      stderr);
  return 2;
}

int listPoints() {
  for (const hlv::trace::TableInfo* table : hlv::trace::traceCatalog()) {
    for (const hlv::trace::PointInfo& point : table->points) {
      std::printf("%u:%u:%u %s.%s: %s\n", table->component, table->file, point.point, table->name,
                  point.name, point.message);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return usage();
  if (std::strcmp(argv[1], "--points") == 0) return listPoints();

  std::ifstream file(argv[1], std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "hlvtrace: cannot open '%s'\n", argv[1]);
    return 2;
  }
  const std::vector<uint8_t> data((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
  const hlv::trace::DecodeResult result = hlv::trace::decodeTrace(data);
  for (const std::string& line : result.lines)
    std::printf("%s\n", line.c_str());
  if (!result.ok) {
    std::fflush(stdout);
    std::fprintf(stderr, "hlvtrace: %s\n", result.error.c_str());
    return 1;
  }
  return 0;
}
