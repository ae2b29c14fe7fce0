#include "tests/soak/soak_reading.h"

#include <cstdio>
#include <regex>
#include <sstream>

#include "tests/support/reference_layout.h"

namespace hlv::test::soak {
namespace {

constexpr uint32_t kBlock = 0x4000;
constexpr uint32_t kBankA = 0x8000;
constexpr uint32_t kBankB = 0x104000;
constexpr uint32_t kBankEnd = 0x200000;
constexpr uint32_t kComponentFields[] = {0x2C, 0x32, 0x40, 0x46, 0x54};

uint32_t le(std::span<const uint8_t> bytes, uint32_t at, uint32_t count) {
  uint32_t value = 0;
  for (uint32_t i = 0; i < count; ++i)
    value |= static_cast<uint32_t>(bytes[at + i]) << (8 * i);
  return value;
}

// Whether the line holds the text: at its start, or after a prompt the line continues (">",
// "(y/n): ").
bool has(const std::string& line, const std::string& text) {
  return line.find(text) != std::string::npos;
}

std::optional<uint32_t> failedCode(const std::string& line) {
  const std::size_t at = line.find("[FAILED : ");
  if (at == std::string::npos) return std::nullopt;
  return static_cast<uint32_t>(std::stoul(line.substr(at + 10)));
}

}  // namespace

bool blockReadsActive(std::span<const uint8_t> flash, uint32_t address) {
  const uint8_t state = flash[address + 3] >> 6;
  return state == 0b10 || state == 0b01;
}

RollbackTarget readRollbackTarget(std::span<const uint8_t> flash) {
  RollbackTarget target;
  if (flash.size() < kBankEnd) {
    target.problem = "flash smaller than the layout";
    return target;
  }
  // Readers take NCB0 when it reads active, else NCB1; a rollback returns to the other one.
  target.address = blockReadsActive(flash, 0) ? kBlock : 0;
  const std::span<const uint8_t> block = flash.subspan(target.address, kBlock);
  if (le(block, 0x70, 4) == 0xAA55AA55) {
    target.problem = "marked unusable";
    return target;
  }
  if (le(block, 0x5F, 3) != 0) {
    target.problem = "it describes a free area";
    return target;
  }
  const uint32_t bankStart = target.address == 0 ? kBankA : kBankB;
  const uint32_t bankEnd = target.address == 0 ? kBankB : kBankEnd;
  for (uint32_t field : kComponentFields) {
    const uint32_t start = le(block, field, 3);
    const uint32_t size = le(block, field + 3, 3);
    if (size != 0 && (start < bankStart || start + size > bankEnd)) {
      target.problem = "a component outside its own bank";
      return target;
    }
  }
  // The rest is what a reader checks of the block it takes.
  const FlashReading reading = readBlockAsReader(flash, target.address);
  if (!reading.usable) {
    target.problem = reading.problem;
    return target;
  }
  target.version = reading.version;
  target.valid = true;
  return target;
}

std::optional<FirmwareVersion> parseVersion(const std::string& text) {
  unsigned major = 0, minor = 0, build = 0;
  char end = 0;
  if (std::sscanf(text.c_str(), "%u.%u.%u%c", &major, &minor, &build, &end) < 3) {
    return std::nullopt;
  }
  return FirmwareVersion{major, minor, build};
}

std::string versionText(FirmwareVersion version) {
  return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
         std::to_string(version.build);
}

ConsoleSeen readConsole(const std::string& out) {
  static const std::regex tableRow(
      R"(^(\d+)\s+(\S+)\s+(\d+\.\d+\.\d+)\s+(Available: \d+\.\d+\.\d+|Not required|Not available)\s)");
  ConsoleSeen seen;
  std::istringstream lines(out);
  std::string line;
  UpdateBlockSeen* block = nullptr;
  while (std::getline(lines, line)) {
    std::smatch match;
    if (std::regex_search(line, match, tableRow)) {
      seen.table.push_back(
          {static_cast<unsigned>(std::stoul(match[1])), match[2], match[3], match[4]});
      continue;
    }
    if (line.find("Couldn't determine firmware version for device: '") != std::string::npos) {
      const std::size_t from = line.find('\'') + 1;
      seen.unreadable.push_back(line.substr(from, line.find('\'', from) - from));
    }
    if (line.find("Invalid input") != std::string::npos) seen.invalidInput = true;
    if (has(line, "No adapters can be updated")) seen.nothingToUpdate = true;
    if (has(line, "Firmware update finished!")) seen.updateFinished = true;
    if (has(line, "!!! There were some problems")) seen.problems = true;
    if (line.find("Another instance of the tool is running") != std::string::npos)
      seen.anotherInstance = true;

    if (has(line, "+ Adapter: ")) {
      seen.blocks.push_back({});
      block = &seen.blocks.back();
      const std::size_t from = line.find("+ Adapter: ") + 11;
      block->name = line.substr(from, line.find(' ', from) - from);
      continue;
    }
    if (block != nullptr) {
      // A step's line without its result word belongs to a run killed during that step.
      const bool resultShown = has(line, "[OK]") || has(line, "[FAILED");
      if (has(line, "|-- Backing up... ")) block->backupOk = has(line, "[OK]");
      if (has(line, "|-- Updating... ")) {
        if (line.find("[OK]") != std::string::npos) block->updateResult = 0;
        if (const auto code = failedCode(line)) block->updateResult = code;
      }
      if (has(line, "|-- Trying to reload firmware... ") && resultShown)
        block->reloadOk = has(line, "[OK]");
      if (has(line, "|-- Restarting device driver... ") && resultShown)
        block->driverOk = has(line, "[OK]");
      if (has(line, "|-- To complete update process")) block->powerCycleAsked = true;
      if (line == "===") {
        block->closed = true;
        block = nullptr;
      }
      continue;
    }

    RollbackSeen& rollback = seen.rollback;
    if (has(line, "An interrupted rollback was found")) rollback.interruptedFound = true;
    if (has(line, "  Previous version:\t"))
      rollback.questionPrevious = parseVersion(line.substr(line.find('\t') + 1));
    if (has(line, "[!] Backup firmware not found")) rollback.notPossible = true;
    if (has(line, "Firmware rollback aborted.")) rollback.aborted = true;
    if (has(line, "Backing up... ")) {
      rollback.backupShown = true;
      // A run killed during the backup or the rollback leaves the line without its result.
      if (has(line, "[OK]") || has(line, "[FAILED]")) rollback.backupOk = has(line, "[OK]");
    }
    if (has(line, "Performing firmware rollback on adapter")) rollback.performed = true;
    if (has(line, "[!] Rollback failed on adapter #"))
      rollback.failedIndex = static_cast<uint32_t>(std::stoul(line.substr(line.find('#') + 1)));
    if (has(line, "Firmware rollback finished!")) rollback.finished = true;
  }
  return seen;
}

}  // namespace hlv::test::soak
