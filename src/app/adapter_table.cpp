#include "app/adapter_table.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "app/adapter_table_trace.h"
#include "app/console.h"
#include "bundle/vo_image_file.h"
#include "device/pci_discovery.h"
#include "trace/format_string.h"

namespace hlv {
namespace tp = trace_points::adapter_table;
namespace {

inline constexpr std::size_t kMinimumNameWidth = 4;
inline constexpr std::size_t kMinimumStatusWidth = 13;
// The other columns and their separators: number, firmware, device and MAC address.
inline constexpr std::size_t kFixedColumnsWidth = 50;
inline constexpr int kNumberWidth = 2;
inline constexpr int kBuildWidth = 6;
inline constexpr int kDeviceWidth = 13;
inline constexpr int kMacWidth = 17;

// The status column's text. Formatted texts keep the NUL that ends them, and the column width
// counts it: "Available: 3.1.121" takes 19 places.
std::string statusText(const AdapterEntry& entry, bool rollbackMode) {
  if (rollbackMode) {
    const FirmwareVersion& previous = entry.previousVersion;
    if (previous.isZero()) return "Not available";
    return formatString("Available: %u.%u.%u", previous.major, previous.minor, previous.build);
  }
  switch (entry.status) {
    case AdapterStatus::Available:
      if (const VoImageFile* image = entry.selectedImage.get()) {
        const FirmwareVersion& offered = image->version();
        return formatString("%s: %u.%u.%u", "Available", offered.major, offered.minor,
                            offered.build);
      }
      return "?";
    case AdapterStatus::NotAvailable:
      return "Not available";
    case AdapterStatus::NotRequired:
      return "Not required";
  }
  return "?";
}

void traceEntry(const AdapterEntry& entry, const std::string& status) {
  trace::emit(tp::kTableEntry, entry.index);
  if (const AdapterInfo* adapter = entry.adapter.get()) {
    trace::emit(tp::kEntryAdapter, adapter->interfaceName, adapter->bdf, adapter->macAddress,
                adapter->driverVersion);
    trace::emit(tp::kEntryIds, adapter->vendorId, adapter->deviceId, adapter->subsystemDeviceId,
                adapter->subsystemVendorId);
  }
  trace::emit(tp::kEntryFirmware, entry.currentVersion.major, entry.currentVersion.minor,
              entry.currentVersion.build, entry.previousVersion.major, entry.previousVersion.minor,
              entry.previousVersion.build, entry.imageType);
  trace::emit(tp::kEntryStatus, status.c_str(), static_cast<uint32_t>(entry.status));
}

bool onlyDigits(const std::string& line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::size_t promptForAdapter(const std::vector<AdapterEntry>& entries, const char* request,
                             bool rollbackMode, std::FILE* input, std::FILE* output) {
  trace::emit(tp::kPromptShown, static_cast<uint64_t>(entries.size()), rollbackMode);
  std::fprintf(output, "%s\n", request);
  for (;;) {
    // The marker must be on the screen before the program waits for the answer.
    std::fputs(">", output);
    std::fflush(output);
    const std::optional<std::string> line = readLine(input);
    if (!line) {
      trace::emit(tp::kPromptQuit, true);
      return entries.size();
    }
    if (!line->empty()) traceText(*line);
    if (onlyDigits(*line)) {
      // Too many digits saturate, which is out of range as well.
      const unsigned long number = std::strtoul(line->c_str(), nullptr, 10);
      if (number >= 1 && number <= entries.size() &&
          (rollbackMode || entries[number - 1].status == AdapterStatus::Available)) {
        trace::emit(tp::kAdapterChosen, static_cast<uint64_t>(number - 1));
        return number - 1;
      }
    } else if (*line == "q") {
      trace::emit(tp::kPromptQuit, false);
      return entries.size();
    }
    trace::emit(tp::kInvalidInput);
    std::fputs("Invalid input\n", output);
    std::fflush(output);
  }
}

}  // namespace

void showAdapterTable(const std::vector<AdapterEntry>& entries, bool rollbackMode) {
  std::vector<std::string> statuses;
  statuses.reserve(entries.size());
  std::size_t nameWidth = kMinimumNameWidth;
  std::size_t statusWidth = kMinimumStatusWidth;
  for (const AdapterEntry& entry : entries) {
    statuses.push_back(statusText(entry, rollbackMode));
    nameWidth = std::max(nameWidth, entry.name().size());
    statusWidth = std::max(statusWidth, statuses.back().size());
  }
  const std::string rule(nameWidth + statusWidth + kFixedColumnsWidth, '_');
  const int nameColumn = static_cast<int>(nameWidth);
  const int statusColumn = static_cast<int>(statusWidth);

  std::puts(rule.c_str());
  std::printf("No  %-*s  Firmware  %-*s  %-*s  %-*s\n", nameColumn, "Name", statusColumn,
              rollbackMode ? "Rollback" : "Update status", kDeviceWidth, "Device", kMacWidth,
              "MAC address");
  std::puts(rule.c_str());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const AdapterEntry& entry = entries[i];
    const AdapterInfo* adapter = entry.adapter.get();
    std::printf("%-*u  ", kNumberWidth, static_cast<unsigned>(i + 1));
    std::printf("%-*s  ", nameColumn, entry.name().c_str());
    std::printf("%u.%u.%-*u", entry.currentVersion.major, entry.currentVersion.minor, kBuildWidth,
                entry.currentVersion.build);
    std::printf("%-*s  ", statusColumn, statuses[i].c_str());
    std::printf("%04X-%04X%04X  ", adapter ? adapter->deviceId : 0u,
                adapter ? adapter->subsystemDeviceId : 0u,
                adapter ? adapter->subsystemVendorId : 0u);
    std::printf("%-*s\n", kMacWidth, adapter ? adapter->macAddress.c_str() : "");
  }
  std::printf("%s\n\n", rule.c_str());

  trace::emit(tp::kTableShown, static_cast<uint64_t>(entries.size()), rollbackMode);
  for (std::size_t i = 0; i < entries.size(); ++i)
    traceEntry(entries[i], statuses[i]);
}

std::size_t selectAdapterForUpdate(const std::vector<AdapterEntry>& entries, std::FILE* input,
                                   std::FILE* output) {
  return promptForAdapter(entries, "Enter adapter number or 'q' for quit without update ", false,
                          input, output);
}

std::size_t selectAdapterForRollback(const std::vector<AdapterEntry>& entries, std::FILE* input,
                                     std::FILE* output) {
  return promptForAdapter(entries, "Enter adapter number or 'q' to quit ", true, input, output);
}

}  // namespace hlv
