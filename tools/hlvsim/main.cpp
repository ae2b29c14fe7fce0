// hlvsim: emulated adapters for users, tests and the demo.
#include <cstdio>
#include <string_view>

#include "tools/hlvsim/commands.h"

namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  hlvsim lab init LAB [--adapters N] [--flash ID] [--sfdp yes|no|1.0|1.6] [--protected]\n"
    "                      [--device ID] [--subsystem-vendor ID] [--subsystem-device ID]\n"
    "                      [--driver NAME] [--board NAME]\n"
    "  hlvsim lab capture LAB [--sys DIR]\n"
    "  hlvsim lab flash LAB BDF FILE [--part ID]\n"
    "  hlvsim flash LAB BDF identify\n"
    "  hlvsim flash LAB BDF read OUT\n"
    "  hlvsim flash LAB BDF update IMAGE [--mac HEX] [--phy HEX] [--reload]\n"
    "  hlvsim flash LAB BDF rollback | versions | backup OUT | reload | keycheck IMAGE\n"
    "  hlvsim run LAB [--uid N] [--] [ARGS...]\n"
    "  hlvsim query LAB [--uid N] [--] [ARGS...]\n"
    "  hlvsim rehearse LAB BUNDLE [--json] [--adapter NAME] [--keep]\n";

struct Command {
  std::string_view name;
  int (*run)(const hlv::sim::tool::Arguments&);
};

constexpr Command kCommands[] = {
    {"lab", hlv::sim::tool::labCommand},
    {"flash", hlv::sim::tool::flashCommand},
    {"run", hlv::sim::tool::runCommand},
    {"query", hlv::sim::tool::queryCommand},
    {"rehearse", hlv::sim::tool::rehearseCommand},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2) {
    const std::string_view name = argv[1];
    for (const Command& command : kCommands) {
      if (command.name == name) return command.run({argv + 2, argv + argc});
    }
    if (name == "-h" || name == "--help" || name == "help") {
      std::fputs(kUsage, stdout);
      return hlv::sim::tool::kExitOk;
    }
  }
  std::fputs(kUsage, stderr);
  return hlv::sim::tool::kExitUsage;
}
