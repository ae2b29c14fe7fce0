// hlvsim lab flash LAB BDF FILE [--part ID]: a flash file (a backup the tool wrote, or a dump)
// becomes the flash of the lab adapter at BDF, on a part given or chosen from the file's size.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <vector>

#include "sim/adapter_conf.h"
#include "sim/flash_part_model.h"
#include "tools/hlvsim/commands.h"

namespace hlv::sim::tool {
namespace {

// Largest part the lab emulates; larger files are refused before they are read.
constexpr uint64_t kLargestFlash = 16 * 1024 * 1024;

bool isDirectory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The kernel's name of a PCI function: domain, bus, device and function in hexadecimal. The
// name becomes part of paths in the lab, so nothing else is taken.
bool isPciAddress(const std::string& text) {
  static const std::regex pattern("[0-9a-f]{4}:[0-9a-f]{2}:[0-1][0-9a-f]\\.[0-7]");
  return std::regex_match(text, pattern);
}

std::string partList(const std::vector<uint32_t>& ids) {
  std::string text;
  for (const uint32_t id : ids)
    text += (text.empty() ? "" : ", ") + formatJedecId(id);
  return text;
}

// Sets the part of config for a flash of `size` bytes: the part named, or the one part of the
// identification table with that capacity. An empty result on success, else why not.
std::string choosePart(const std::optional<std::string>& part, uint64_t size,
                       AdapterConfig& config) {
  if (part) {
    AdapterConfig chosen = config;
    chosen.capacity.reset();
    if (const Result<> parsed = parseAdapterConf("flash = " + *part + "\n", chosen); !parsed) {
      return "--part: " + parsed.error();
    }
    const FlashPartModel model = partModelFor(chosen);
    if (!model.known) {
      // A part outside the table is as large as its flash file.
      if (!validGenericCapacity(size)) {
        return "a part outside the identification table holds a power of two from 65536 to "
               "16777216 bytes, not " +
               std::to_string(size);
      }
      chosen.capacity = static_cast<uint32_t>(size);
    } else if (model.capacity != size) {
      return "part " + *part + " holds " + std::to_string(model.capacity) + " bytes, the file " +
             std::to_string(size);
    }
    config = chosen;
    return {};
  }
  const std::vector<uint32_t> candidates = knownPartsOfCapacity(static_cast<uint32_t>(size));
  if (candidates.empty()) {
    return "no part of the identification table holds " + std::to_string(size) +
           " bytes: name the part with --part ID";
  }
  if (candidates.size() > 1) {
    // The parts of one size differ in pages and erase units, and so in what an update writes:
    // a rehearsal on the wrong one would not be faithful.
    return std::to_string(size) + " bytes fit several parts (" + partList(candidates) +
           "): name the adapter's part with --part ID";
  }
  config.jedecId = candidates.front();
  config.capacity.reset();
  return {};
}

bool writeWhole(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".new";
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    complain(path + ": cannot write");
    return false;
  }
  return true;
}

}  // namespace

int labFlashCommand(const Arguments& args) {
  std::optional<std::string> part;
  Arguments positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--part" && i + 1 < args.size()) {
      part = args[++i];
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 3) {
    complain("usage: hlvsim lab flash LAB BDF FILE [--part ID]");
    return kExitUsage;
  }
  const std::string& root = positional[0];
  const std::string& bdf = positional[1];
  const std::string& file = positional[2];
  if (!isPciAddress(bdf)) {
    complain(bdf + ": not a PCI address (0000:01:00.0)");
    return kExitUsage;
  }
  if (!isDirectory(root + "/sys/bus/pci/devices/" + bdf)) {
    complain(root + ": no PCI function " + bdf + " in the lab's sys");
    return kExitFailed;
  }

  struct stat info {};
  if (stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    complain(file + ": not a readable file");
    return kExitFailed;
  }
  const auto size = static_cast<uint64_t>(info.st_size);
  if (size == 0 || size > kLargestFlash) {
    complain(file + ": " + std::to_string(size) + " bytes is no flash the lab can carry");
    return kExitFailed;
  }

  const std::string directory = root + "/adapters/" + bdf;
  const std::string confPath = directory + "/adapter.conf";
  AdapterConfig config;
  std::string conf;
  if (std::ifstream in(confPath, std::ios::binary); in) {
    conf.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (const Result<> parsed = parseAdapterConf(conf, config); !parsed) {
      complain(confPath + ": " + parsed.error());
      return kExitFailed;
    }
  }
  if (const std::string refused = choosePart(part, size, config); !refused.empty()) {
    complain(file + ": " + refused);
    return kExitUsage;
  }

  std::ifstream in(file, std::ios::binary);
  std::string contents(size, '\0');
  if (!in.read(contents.data(), static_cast<std::streamsize>(size)) ||
      in.peek() != std::char_traits<char>::eof()) {
    complain(file + ": cannot be read whole");
    return kExitFailed;
  }
  if ((mkdir((root + "/adapters").c_str(), 0755) != 0 && errno != EEXIST) ||
      (mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST)) {
    complain(directory + ": cannot create");
    return kExitFailed;
  }
  // The flash first: an adapter.conf naming a part whose flash.bin has another size would make
  // the lab unusable.
  if (!writeWhole(directory + "/flash.bin", contents) ||
      !writeWhole(confPath, formatAdapterConf(config))) {
    return kExitFailed;
  }
  std::printf("%s: part %s, %llu bytes\n", bdf.c_str(), formatJedecId(config.jedecId).c_str(),
              static_cast<unsigned long long>(size));
  return kExitOk;
}

}  // namespace hlv::sim::tool
