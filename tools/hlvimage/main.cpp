// hlvimage: shows what an update image, a backup file or a flash dump holds, compares two of
// them, draws one, and builds images from short descriptions (for tests and for trying the tool
// on emulated adapters).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tools/hlvimage/image_builder.h"
#include "tools/hlvimage/image_description.h"
#include "tools/hlvimage/image_diff.h"
#include "tools/hlvimage/image_file.h"
#include "tools/hlvimage/image_map.h"
#include "tools/hlvimage/image_report.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// diff: 0 identical, 1 different, 2 trouble (a file cannot be read, bad usage).
constexpr int kExitDifferent = 1;
constexpr int kExitDiffTrouble = 2;

void printUsage(std::FILE* stream) {
  std::fputs(
      "usage: hlvimage info FILE [--json]\n"
      "       hlvimage diff A B [--json]\n"
      "       hlvimage map FILE --svg OUT\n"
      "       hlvimage build DESCRIPTION OUT\n"
      "info   shows both control blocks, the layout, the versions and the image type of an\n"
      "       update image, a backup file or a flash dump (--json: one JSON object)\n"
      "diff   shows what differs between two images or dumps: control block fields,\n"
      "       components, areas and regions (exit status 0 identical, 1 different, 2 trouble)\n"
      "map    draws the control blocks and both banks with their components as an SVG picture\n"
      "build  writes an image built from a description file of 'key = value' lines\n",
      stream);
}

bool writeFile(const std::string& path, const void* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out || !out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size)) ||
      !out.flush()) {
    std::fprintf(stderr, "hlvimage: cannot write '%s'\n", path.c_str());
    return false;
  }
  return true;
}

std::optional<hlv::image::ImageFile> readImage(const std::string& path) {
  hlv::Result<hlv::image::ImageFile> file = hlv::image::readImageFile(path);
  if (!file) {
    std::fprintf(stderr, "hlvimage: %s\n", file.error().c_str());
    return std::nullopt;
  }
  return std::move(*file);
}

int info(const std::string& path, bool json) {
  const std::optional<hlv::image::ImageFile> file = readImage(path);
  if (!file) return kExitFailure;
  const hlv::image::ImageReport report = hlv::image::analyzeImage(file->contents, file->size);
  const std::string text =
      json ? hlv::image::formatReportJson(report) : hlv::image::formatReportText(report);
  std::fputs(text.c_str(), stdout);
  return 0;
}

int diff(const std::string& pathA, const std::string& pathB, bool json) {
  const std::optional<hlv::image::ImageFile> a = readImage(pathA);
  const std::optional<hlv::image::ImageFile> b = a ? readImage(pathB) : std::nullopt;
  if (!a || !b) return kExitDiffTrouble;
  const hlv::image::ImageDiff result =
      hlv::image::diffImages(a->contents, a->size, b->contents, b->size);
  const std::string text = json ? hlv::image::formatDiffJson(result, pathA, pathB, a->size, b->size)
                                : hlv::image::formatDiffText(result, pathA, pathB);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return result.identical() ? 0 : kExitDifferent;
}

int map(const std::string& path, const std::string& outPath) {
  const std::optional<hlv::image::ImageFile> file = readImage(path);
  if (!file) return kExitFailure;
  const hlv::image::ImageReport report = hlv::image::analyzeImage(file->contents, file->size);
  const std::string svg =
      hlv::image::renderFlashMapSvg(report, std::filesystem::path(path).filename().string());
  return writeFile(outPath, svg.data(), svg.size()) ? 0 : kExitFailure;
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
  const hlv::Result<> parsed = hlv::image::parseImageDescription(text.str(), spec);
  if (!parsed) {
    std::fprintf(stderr, "hlvimage: %s: %s\n", descriptionPath.c_str(), parsed.error().c_str());
    return kExitFailure;
  }
  const std::vector<uint8_t> image = hlv::image::buildImage(spec);
  return writeFile(outPath, image.data(), image.size()) ? 0 : kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::string command = args.empty() ? "" : args[0];
  if (command == "info" && (args.size() == 2 || (args.size() == 3 && args[2] == "--json")))
    return info(args[1], args.size() == 3);
  if (command == "diff") {
    if (args.size() == 3 || (args.size() == 4 && args[3] == "--json"))
      return diff(args[1], args[2], args.size() == 4);
    printUsage(stderr);
    return kExitDiffTrouble;
  }
  if (command == "map" && args.size() == 4 && args[2] == "--svg") return map(args[1], args[3]);
  if (command == "build" && args.size() == 3) return build(args[1], args[2]);
  if (args.size() == 1 && (command == "help" || command == "--help" || command == "-h")) {
    printUsage(stdout);
    return 0;
  }
  printUsage(stderr);
  return kExitUsage;
}
