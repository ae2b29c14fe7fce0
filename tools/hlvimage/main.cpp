// hlvimage: shows what an update image, a backup file or a flash dump holds, and builds images
// from short descriptions (for tests and for trying the tool on emulated adapters).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "tools/hlvimage/image_builder.h"
#include "tools/hlvimage/image_description.h"
#include "tools/hlvimage/image_report.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void printUsage(std::FILE* stream) {
  std::fputs(
      "usage: hlvimage info FILE [--json]\n"
      "       hlvimage build DESCRIPTION OUT\n"
      "info   shows both control blocks, the layout, the versions and the image type of an\n"
      "       update image, a backup file or a flash dump (--json: one JSON object)\n"
      "build  writes an image built from a description file of 'key = value' lines\n",
      stream);
}

int info(const std::string& path, bool json) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) {
    std::fprintf(stderr, "hlvimage: cannot read '%s': %s\n", path.c_str(), error.message().c_str());
    return kExitFailure;
  }
  std::ifstream file(path, std::ios::binary);
  const uint64_t examined = std::min<uint64_t>(size, hlv::image::kMaxExamined);
  std::vector<uint8_t> contents(examined);
  if (!file || !file.read(reinterpret_cast<char*>(contents.data()),
                          static_cast<std::streamsize>(examined))) {
    std::fprintf(stderr, "hlvimage: cannot read '%s'\n", path.c_str());
    return kExitFailure;
  }
  const hlv::image::ImageReport report = hlv::image::analyzeImage(contents, size);
  const std::string text =
      json ? hlv::image::formatReportJson(report) : hlv::image::formatReportText(report);
  std::fputs(text.c_str(), stdout);
  return 0;
}

int build(const std::string& descriptionPath, const std::string& outPath) {
  std::ifstream description(descriptionPath);
  if (!description) {
    std::fprintf(stderr, "hlvimage: cannot read '%s'\n", descriptionPath.c_str());
    return kExitFailure;
  }
  std::stringstream text;
  text << description.rdbuf();
  hlv::image::ImageSpec spec;
  std::string error;
  if (!hlv::image::parseImageDescription(text.str(), spec, error)) {
    std::fprintf(stderr, "hlvimage: %s: %s\n", descriptionPath.c_str(), error.c_str());
    return kExitFailure;
  }
  const std::vector<uint8_t> image = hlv::image::buildImage(spec);
  std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
  if (!out ||
      !out.write(reinterpret_cast<const char*>(image.data()),
                 static_cast<std::streamsize>(image.size())) ||
      !out.flush()) {
    std::fprintf(stderr, "hlvimage: cannot write '%s'\n", outPath.c_str());
    return kExitFailure;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 2 && args.size() <= 3 && args[0] == "info") {
    if (args.size() == 3 && args[2] != "--json") {
      printUsage(stderr);
      return kExitUsage;
    }
    return info(args[1], args.size() == 3);
  }
  if (args.size() == 3 && args[0] == "build") return build(args[1], args[2]);
  if (args.size() == 1 && (args[0] == "help" || args[0] == "--help" || args[0] == "-h")) {
    printUsage(stdout);
    return 0;
  }
  printUsage(stderr);
  return kExitUsage;
}
