// hlvsim lab init LAB [options]: writes a new lab; and the dispatch of the other lab commands.
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>

#include "sim/adapter_conf.h"
#include "sim/lab_writer.h"
#include "tools/hlvsim/commands.h"

namespace hlv::sim::tool {
namespace {

bool parseNumber(const std::string& text, unsigned& value, int base) {
  std::string_view digits = text;
  if (base == 16 && digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    digits.remove_prefix(2);
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  return !digits.empty() && ec == std::errc() && end == digits.data() + digits.size();
}

bool parseId16(const std::string& text, uint16_t& value) {
  unsigned number = 0;
  if (!parseNumber(text, number, 16) || number > 0xFFFF) return false;
  value = static_cast<uint16_t>(number);
  return true;
}

}  // namespace

int labCommand(const Arguments& args) {
  const Arguments rest(args.begin() + (args.empty() ? 0 : 1), args.end());
  if (!args.empty() && args[0] == "init") return labInitCommand(rest);
  if (!args.empty() && args[0] == "capture") return labCaptureCommand(rest);
  if (!args.empty() && args[0] == "flash") return labFlashCommand(rest);
  complain("usage: hlvsim lab init | capture | flash ...");
  return kExitUsage;
}

int labInitCommand(const Arguments& args) {
  if (args.empty()) {
    complain("usage: hlvsim lab init LAB [options]");
    return kExitUsage;
  }
  const std::string root = args[0];
  unsigned count = 1;
  AdapterConfig config;
  std::string conf;  // adapter.conf lines from the options, checked by the conf parser
  std::optional<uint16_t> deviceId, subsystemVendorId, subsystemDeviceId;
  std::optional<std::string> driver, board;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& option = args[i];
    const bool hasValue = i + 1 < args.size();
    const std::string value = hasValue ? args[i + 1] : std::string();
    uint16_t id = 0;
    if (option == "--protected") {
      conf += "protected = yes\n";
      continue;
    }
    if (!hasValue) {
      complain(option + " needs a value");
      return kExitUsage;
    }
    ++i;
    if (option == "--adapters") {
      if (!parseNumber(value, count, 10) || count == 0 || count > 255) {
        complain("--adapters needs a number from 1 to 255");
        return kExitUsage;
      }
    } else if (option == "--flash") {
      conf += "flash = " + value + "\n";
    } else if (option == "--sfdp") {
      conf += "sfdp = " + value + "\n";
    } else if (option == "--device" && parseId16(value, id)) {
      deviceId = id;
    } else if (option == "--subsystem-vendor" && parseId16(value, id)) {
      subsystemVendorId = id;
    } else if (option == "--subsystem-device" && parseId16(value, id)) {
      subsystemDeviceId = id;
    } else if (option == "--driver") {
      driver = value;
    } else if (option == "--board") {
      board = value + "\n";
    } else {
      complain("bad option or value: " + option + " " + value);
      return kExitUsage;
    }
  }
  if (const Result<> parsed = parseAdapterConf(conf, config); !parsed) {
    complain("bad option value: " + parsed.error());
    return kExitUsage;
  }
  LabDescription description = defaultLab(count, config);
  for (LabFunction& adapter : description.adapters) {
    if (deviceId) adapter.deviceId = *deviceId;
    if (subsystemVendorId) adapter.subsystemVendorId = *subsystemVendorId;
    if (subsystemDeviceId) adapter.subsystemDeviceId = *subsystemDeviceId;
    if (driver) adapter.driver = *driver;
  }
  if (board) description.boardName = *board;
  if (const Result<> written = writeLab(root, description); !written) {
    complain(written.error());
    return kExitFailed;
  }
  for (const LabFunction& adapter : description.adapters)
    std::printf("%s\n", adapter.bdf.c_str());
  return kExitOk;
}

}  // namespace hlv::sim::tool
