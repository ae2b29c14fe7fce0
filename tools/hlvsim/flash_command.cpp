// hlvsim flash LAB BDF SUBCOMMAND ...: the flash of one lab adapter, through the program's own
// flash control layer (identify, read) or through its adapter update interface (the others).
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <string_view>
#include <vector>

#include "flashctl/voapiflashcontrol.h"
#include "tools/hlvsim/adapter_command.h"
#include "tools/hlvsim/commands.h"
#include "tools/hlvsim/lab_session.h"

namespace hlv::sim::tool {
namespace {

// Why init failed, in the operator's words.
std::string initFailure(const LabAdapter& entry, const VoApiFlashControl& flash) {
  char text[160];
  std::snprintf(text, sizeof text,
                "%s: flash part not identified (type %" PRIu32 ", identification 0x%08" PRIX32 ")",
                entry.bdf.c_str(), flash.flashType(), flash.flashId);
  std::string message = text;
  if (entry.adapter->poweredOff()) message += ": the adapter has no power";
  return message;
}

int identify(LabAdapter& /*entry*/, VoApiFlashControl& flash, const Arguments& args) {
  if (!args.empty()) {
    complain("identify takes no arguments");
    return kExitUsage;
  }
  std::printf("type %" PRIu32 " id 0x%08" PRIX32 " page %u sector %" PRIu32 " block %" PRIu32
              " size %" PRIu32 " block_erase %s\n",
              flash.flashType(), flash.flashId, static_cast<unsigned>(flash.pageSize),
              flash.sectorSize, flash.blockSize, flash.flashSize,
              flash.blockEraseSupported ? "yes" : "no");
  return kExitOk;
}

int read(LabAdapter& entry, VoApiFlashControl& flash, const Arguments& args) {
  if (args.size() != 1) {
    complain("read takes one argument: the output file");
    return kExitUsage;
  }
  std::vector<uint8_t> contents(flash.flashSize);
  uint32_t bytesRead = 0;
  if (!flash.read(0, contents.data(), flash.flashSize, bytesRead)) {
    std::string message = entry.bdf + ": flash read failed after " + std::to_string(bytesRead) +
                          " of " + std::to_string(flash.flashSize) + " bytes";
    if (entry.adapter->poweredOff()) message += ": the adapter has no power";
    complain(message);
    return kExitFailed;
  }
  if (entry.adapter->poweredOff()) {
    complain(entry.bdf + ": the adapter lost power during the read");
    return kExitFailed;
  }
  return writeOutputFile(args[0], contents) ? kExitOk : kExitFailed;
}

struct Subcommand {
  std::string_view name;
  int (*run)(LabAdapter&, VoApiFlashControl&, const Arguments&);
};

constexpr Subcommand kSubcommands[] = {
    {"identify", identify},
    {"read", read},
};

}  // namespace

int flashCommand(const Arguments& args) {
  if (args.size() < 3) {
    complain(
        "usage: hlvsim flash LAB BDF identify | read OUT | update IMAGE [--mac HEX] [--phy HEX] "
        "[--reload] | rollback | versions | backup OUT | reload | keycheck IMAGE");
    return kExitUsage;
  }
  const Subcommand* subcommand = nullptr;
  for (const Subcommand& candidate : kSubcommands) {
    if (candidate.name == args[2]) subcommand = &candidate;
  }
  const bool adapterLevel = isAdapterSubcommand(args[2]);
  if (subcommand == nullptr && !adapterLevel) {
    complain("unknown flash subcommand '" + args[2] + "'");
    return kExitUsage;
  }
  const Result<LabSession*> session = LabSession::open(args[0], 0);
  if (!session) {
    complain(session.error());
    return kExitFailed;
  }
  Lab& lab = (*session)->lab();
  LabAdapter* entry = lab.adapter(args[1]);
  if (entry == nullptr) {
    complain("no emulated adapter " + args[1] + " in " + lab.root());
    return kExitFailed;
  }
  if (adapterLevel) {
    return runAdapterSubcommand(lab, *entry, args[2], Arguments(args.begin() + 3, args.end()));
  }
  VoApiFlashControl flash(entry->adapter.get());
  if (!flash.init()) {
    complain(initFailure(*entry, flash));
    return kExitFailed;
  }
  return subcommand->run(*entry, flash, Arguments(args.begin() + 3, args.end()));
}

void complain(const std::string& message) {
  std::fprintf(stderr, "hlvsim: %s\n", message.c_str());
}

bool writeOutputFile(const std::string& path, std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) complain(path + ": cannot write");
  return static_cast<bool>(out);
}

}  // namespace hlv::sim::tool
