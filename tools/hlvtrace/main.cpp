// hlvtrace: decodes a trace file written by hlvflashupdate into one line per record, or one
// JSON object per line.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/hlvtrace/trace_catalog.h"
#include "tools/hlvtrace/trace_decoder.h"

namespace {

constexpr int kExitDecodeFailed = 1;
constexpr int kExitUsage = 2;  // also: the file cannot be opened

constexpr const char* kUsage =
    "usage: hlvtrace [--json] FILE   decode a trace file (--json: one JSON object per record)\n"
    "       hlvtrace --points        list every trace point the program declares\n"
    "       hlvtrace -h | --help     show this text\n";

int listPoints() {
  for (const hlv::trace::TableInfo* table : hlv::trace::traceCatalog()) {
    for (const hlv::trace::PointInfo& point : table->points) {
      std::printf("%u:%u:%u %s.%s: %s\n", table->component, table->file, point.point, table->name,
                  point.name, point.message);
    }
  }
  return 0;
}

int decode(const std::string& path, bool json) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "hlvtrace: cannot open '%s'\n", path.c_str());
    return kExitUsage;
  }
  const std::vector<uint8_t> data((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
  const hlv::trace::DecodeResult result = hlv::trace::decodeTrace(data);
  for (const hlv::trace::DecodedRecord& record : result.records) {
    const std::string line =
        json ? hlv::trace::formatRecordJson(record) : hlv::trace::formatRecordText(record);
    std::printf("%s\n", line.c_str());
  }
  if (!result.ok) {
    std::fflush(stdout);
    std::fprintf(stderr, "hlvtrace: %s\n", result.error.c_str());
    return kExitDecodeFailed;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args.size() == 1 && args[0] == "--points") return listPoints();
  if (args.size() == 1 && args[0] != "--json") return decode(args[0], false);
  if (args.size() == 2 && args[0] == "--json") return decode(args[1], true);
  if (args.size() == 2 && args[1] == "--json") return decode(args[0], true);
  std::fputs(kUsage, stderr);
  return kExitUsage;
}
