// What a run of the tool did to each adapter, read back from the run's own trace and console:
// the verdict `hlvsim rehearse` reports. The trace says what the program decided and why (the
// adapter list's verdicts, the image store's refusals, the update procedure's steps); the
// console holds what the operator would have read (the table row, the adapter's block).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "shared/firmware_version.h"
#include "tools/common/json_output.h"
#include "tools/hlvtrace/trace_decoder.h"

namespace hlv::sim::tool {

struct AdapterRehearsal {
  uint32_t index = 0;  // the tool's entry number, in discovery order
  std::string bdf;
  std::string name;  // its interface name as the tool shows it
  std::string mac;
  uint16_t vendorId = 0, deviceId = 0, subsystemDeviceId = 0, subsystemVendorId = 0;
  bool hasFlash = true;  // the lab holds an emulated adapter (a flash) for it

  // The table's verdict: "Available", "Not required" or "Not available", and why.
  std::string status = "Not available";
  std::string reason;
  std::optional<FirmwareVersion> current;
  std::optional<FirmwareVersion> previous;  // none when the other bank holds none
  std::optional<uint32_t> takesImageType;
  std::string board;  // the database's board entry chosen, if any
  std::string image;  // the image file it names, if any
  std::optional<FirmwareVersion> imageVersion;
  std::optional<uint32_t> imageType;

  // The update, when one was tried.
  bool attempted = false;
  bool backupFailed = false;
  bool notPossible = false;        // no image or no update interface when it came to it
  std::optional<uint32_t> result;  // the procedure's result: 0, or why it failed
  bool transformed = false;        // the type-1 layout was rearranged first
  std::optional<uint32_t> reload;  // the firmware reload's status, when one was tried
  bool driverRestartFailed = false;
  bool powerCycle = false;

  std::string tableRow;              // the adapter's line of the table
  std::vector<std::string> console;  // the adapter's block, "=== " to "==="

  // The flash before and after, as hlvimage summarises it; empty without a flash.
  std::string flashBefore, flashAfter;
  hlv::tool::Json flashBeforeJson, flashAfterJson;  // null without a flash file
  bool flashChanged = false;
  std::string flashAfterSha256;

  // What the update's result means, in words.
  std::string outcome() const;
};

struct Rehearsal {
  int toolStatus = -1;  // the tool's exit status; -1 when it ended by a signal
  std::vector<AdapterRehearsal> adapters;
  bool traceComplete = true;
  std::string traceProblem;  // why the trace could not be read whole
  std::string errors;        // the tool's standard error

  std::string adapterName;  // the one adapter the run was asked to update (-a), if any

  // True when every adapter the tool would update would be updated: the run ended with 0, with
  // nothing to update (2), or without an adapter of the maker (42), and no adapter it might
  // update lacks a flash in the lab (what the tool would do to it is not known).
  bool succeeds() const;
  // The tool's exit status in words.
  std::string toolOutcome() const;
};

// Fills the adapters and their verdicts from the run's decoded trace and its console text.
void readRun(const std::vector<trace::DecodedRecord>& records, const std::string& console,
             Rehearsal& rehearsal);

// The report for people, and as one JSON object (with a line feed after it).
std::string formatRehearsalText(const Rehearsal& rehearsal);
std::string formatRehearsalJson(const Rehearsal& rehearsal);

}  // namespace hlv::sim::tool
