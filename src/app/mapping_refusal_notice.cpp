#include "app/mapping_refusal_notice.h"

#include <cinttypes>
#include <cstring>
#include <utility>

#include "app/adapter_entry.h"
#include "app/mapping_refusal_notice_trace.h"
#include "device/pci_discovery.h"
#include "device/register_map.h"
#include "update/voflupdateiface.h"

namespace hlv {
namespace tp = trace_points::mapping_refusal_notice;
namespace {

using platform::KernelLockdown;
using platform::RefusalCause;
using platform::SecureBoot;

constexpr RefusalCause kCauses[] = {RefusalCause::kLockdown,       RefusalCause::kPermission,
                                    RefusalCause::kReadOnly,       RefusalCause::kNoRegion,
                                    RefusalCause::kWindowTooSmall, RefusalCause::kOther};

int mappingError(const AdapterEntry& entry) {
  const AdapterInfo* adapter = entry.adapter.get();
  return adapter != nullptr && adapter->updater ? adapter->updater->registerMappingError() : 0;
}

std::string hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%" PRIX64, value);
  return text;
}

// A region too short is told with its length: each adapter may describe another.
std::string adapterLabel(const AdapterEntry& entry, RefusalCause cause) {
  std::string label = entry.name() + " (" + entry.adapter->bdf;
  if (cause == RefusalCause::kWindowTooSmall)
    label += ", region 0 of " + hex(entry.adapter->updater->registerWindowLength()) + " bytes";
  return label + ")";
}

std::string lockdownText(const platform::MappingRefusal& refusal, const std::string& adapters) {
  std::string text;
  if (refusal.lockdown == KernelLockdown::kUnknown) {
    text = "[!] The kernel refused to map the registers of " + adapters + " (" +
           std::strerror(refusal.error) +
           ").\n"
           "    Secure Boot is on, and a kernel started under Secure Boot locks itself down: no\n"
           "    program may then reach a device's memory (the lockdown file " +
           platform::kLockdownPath + " could not be read to confirm it).\n";
  } else {
    text = std::string("[!] The kernel is locked down (") +
           (refusal.lockdown == KernelLockdown::kIntegrity ? "integrity" : "confidentiality") +
           " mode) and refuses to map the registers of " + adapters +
           ".\n"
           "    No program may reach a device's memory while it is.\n";
    if (refusal.secureBoot == SecureBoot::kOn)
      text += "    Secure Boot is on, which is what locks the kernel down when it starts.\n";
  }
  if (refusal.secureBoot == SecureBoot::kOn) {
    text +=
        "    To update the firmware: turn Secure Boot off in the machine's firmware setup, start\n"
        "    the machine, run the update, then turn Secure Boot on again.\n";
  } else {
    text +=
        "    Secure Boot is not on: the lockdown comes from the kernel's command line\n"
        "    ('lockdown=') or its build. To update the firmware, start a kernel without it, run\n"
        "    the update, then restart as before.\n";
  }
  return text + "    The lockdown cannot be lifted while the kernel runs.\n";
}

}  // namespace

std::string mappingRefusalText(const platform::MappingRefusal& refusal,
                               const std::string& adapters) {
  const std::string reason = std::string(" (") + std::strerror(refusal.error) + ")";
  switch (refusal.cause) {
    case RefusalCause::kLockdown:
      return lockdownText(refusal, adapters);
    case RefusalCause::kPermission:
      return "[!] Mapping the registers of " + adapters + " was refused" + reason + ".\n" +
             (refusal.root ? "" : "    The tool must run as root.\n") +
             "    The tool needs root with all its privileges and write access to each adapter's\n"
             "    \"resource0\" under /sys/bus/pci/devices: run it on the machine itself, not in "
             "a\n"
             "    restricted container, and check that no security policy denies it that access.\n";
    case RefusalCause::kReadOnly:
      return "[!] The registers of " + adapters + " cannot be mapped: /sys is read-only here" +
             reason +
             ".\n"
             "    Run the tool on the machine itself, or in a container given /sys read-write.\n";
    case RefusalCause::kNoRegion:
      return "[!] The registers of " + adapters +
             " cannot be mapped: the adapter has no memory region to map" + reason +
             ".\n"
             "    Check that the adapter is still present and enabled, and that the machine's\n"
             "    firmware gave it memory (a full power cycle often mends it).\n";
    case RefusalCause::kWindowTooSmall:
      return "[!] The registers of " + adapters +
             " are not mapped: the register window is too small.\n"
             "    The tool uses registers up to offset " +
             hex(reg::kHighestRegisterOffset) + ", so region 0 must be at least " +
             hex(reg::kRegisterWindowNeeded) +
             " bytes long.\n"
             "    Such an adapter is not what its identifiers claim, or its device description is\n"
             "    damaged: the tool leaves it alone.\n";
    case RefusalCause::kOther:
      break;
  }
  return "[!] The registers of " + adapters + " cannot be mapped" + reason + ".\n";
}

void explainMappingRefusals(const std::vector<AdapterEntry>& entries, std::FILE* out) {
  std::vector<std::pair<const AdapterEntry*, platform::MappingRefusal>> refused;
  for (const AdapterEntry& entry : entries) {
    const int error = mappingError(entry);
    if (error == 0) continue;
    trace::emit(tp::kAdapterRefused, entry.index, error);
    refused.emplace_back(&entry, platform::diagnoseMappingRefusal(error));
  }
  for (const RefusalCause cause : kCauses) {
    std::string adapters;
    const platform::MappingRefusal* first = nullptr;
    uint64_t count = 0;
    for (const auto& [entry, refusal] : refused) {
      if (refusal.cause != cause) continue;
      if (first == nullptr) first = &refusal;
      if (!adapters.empty()) adapters += ", ";
      adapters += adapterLabel(*entry, cause);
      ++count;
    }
    if (first == nullptr) continue;
    trace::emit(tp::kCauseExplained, static_cast<uint32_t>(cause), count, first->error,
                static_cast<uint32_t>(first->lockdown), static_cast<uint32_t>(first->secureBoot),
                first->root);
    std::fputs(mappingRefusalText(*first, adapters).c_str(), out);
  }
  std::fflush(out);
}

}  // namespace hlv
