// Identifiers of the trace records: the component and the source-file number that every trace
// record carries, and which point numbers of each (component, file) pair each table may give out.
// Each source file that emits records declares its points in a table of its own (a
// "<file>_trace.h" header next to it, see trace_point.h); every table of the program has its
// entry in kPointNumbers below, under the table's name. The build refuses a point outside its
// table's runs or on a retired number, and two tables whose runs overlap; the decoder's catalogue
// test refuses a table without an entry and an entry without a table.
//
// A new point takes a free number of its table's runs. A table that needs more numbers gets a
// further run that no other table of its pair has; a new table gets an entry here. A number is
// never given to another meaning: one that is no longer used is listed in kRetiredPoints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <span>
#include <string_view>

namespace hlv::trace {

// Application side: shell, bundle, device access, adapter update interface, procedures.
inline constexpr uint32_t kComponentApp = 9248;
// Flash update engine and firmware control sequences.
inline constexpr uint32_t kComponentEngine = 987;

namespace file {
// Component kComponentApp.
inline constexpr uint32_t kAdapterList = 0;
inline constexpr uint32_t kDatabaseEntries = 1;  // database entry descriptions, board lookup
inline constexpr uint32_t kImageFile = 2;
inline constexpr uint32_t kProgramEntry = 3;
inline constexpr uint32_t kUpdateSession = 5;
inline constexpr uint32_t kConsole = 6;     // prompts, adapter table, operator text
inline constexpr uint32_t kProcedures = 7;  // update/rollback/backup, image selection, formatString
inline constexpr uint32_t kDeviceAccess = 8;  // driver control, discovery, register access
inline constexpr uint32_t kDatabaseLoading = 9;
inline constexpr uint32_t kUpdateInterface = 10;
inline constexpr uint32_t kProcessUtilities = 15;  // interrupt handler, log directory
inline constexpr uint32_t kRunReport = 16;
// Component kComponentEngine.
inline constexpr uint32_t kEngine = 0;
inline constexpr uint32_t kFirmwareControl = 2;
inline constexpr uint32_t kEngineSupport = 3;
inline constexpr uint32_t kEngineFurther = 4;
inline constexpr uint32_t kFlashControl = 5;  // flash control object and its register sequences
inline constexpr uint32_t kEngineState = 6;  // the read-only look at a flash
}  // namespace file

// Point numbers first to last, both included.
struct PointRun {
  uint32_t first;
  uint32_t last;
};

// The last run of a pair may reach to the end of the numbers.
inline constexpr uint32_t kLastPointNumber = UINT32_MAX;

// The numbers one table may give out: up to kMaxRuns runs within its (component, file) pair.
struct PointNumbers {
  static constexpr std::size_t kMaxRuns = 4;

  constexpr PointNumbers(std::string_view tableName, uint32_t componentId, uint32_t fileId,
                         std::initializer_list<PointRun> given)
      : table(tableName), component(componentId), file(fileId) {
    for (const PointRun& run : given) {
      if (runCount < kMaxRuns) runs[runCount] = run;
      ++runCount;  // more than kMaxRuns fails validPointNumbers below
    }
  }

  constexpr bool contains(uint32_t point) const {
    for (std::size_t i = 0; i < runCount && i < kMaxRuns; ++i) {
      if (runs[i].first <= point && point <= runs[i].last) return true;
    }
    return false;
  }

  std::string_view table;
  uint32_t component;
  uint32_t file;
  PointRun runs[kMaxRuns] = {};
  std::size_t runCount = 0;
};

// clang-format off
inline constexpr PointNumbers kPointNumbers[] = {
    // Application side.
    {"adapter_list", kComponentApp, file::kAdapterList, {{0, kLastPointNumber}}},

    {"database_entry", kComponentApp, file::kDatabaseEntries, {{0, 8}, {20, kLastPointNumber}}},
    {"bdp_lookup", kComponentApp, file::kDatabaseEntries, {{9, 19}}},

    {"vo_image_file", kComponentApp, file::kImageFile, {{0, 5}, {11, 12}}},
    {"image_store", kComponentApp, file::kImageFile, {{6, 10}, {13, kLastPointNumber}}},

    {"program_entry", kComponentApp, file::kProgramEntry, {{0, 19}}},
    {"command_line", kComponentApp, file::kProgramEntry, {{20, 39}}},
    {"tool_directory", kComponentApp, file::kProgramEntry, {{40, kLastPointNumber}}},

    {"update_session", kComponentApp, file::kUpdateSession, {{0, 19}, {30, 39},
                                                             {60, kLastPointNumber}}},
    {"instance_lock", kComponentApp, file::kUpdateSession, {{20, 29}, {40, 59}}},

    {"console", kComponentApp, file::kConsole, {{0, 9}}},
    {"adapter_table", kComponentApp, file::kConsole, {{10, 39}}},
    {"mapping_refusal_notice", kComponentApp, file::kConsole, {{40, kLastPointNumber}}},

    {"image_selection", kComponentApp, file::kProcedures, {{0, 20}}},
    {"format_string", kComponentApp, file::kProcedures, {{21, 29}}},
    {"rollback_procedure", kComponentApp, file::kProcedures, {{30, 49}}},
    {"backup_file", kComponentApp, file::kProcedures, {{50, 69}, {100, 109}}},
    {"update_procedure", kComponentApp, file::kProcedures, {{70, 89}}},
    {"driver_restart_step", kComponentApp, file::kProcedures, {{90, 99}}},
    {"rollback_journal", kComponentApp, file::kProcedures, {{110, 129}}},

    {"open_updater", kComponentApp, file::kDeviceAccess, {{0, 0}}},
    {"driver_control", kComponentApp, file::kDeviceAccess, {{1, 19}}},
    {"pci_discovery", kComponentApp, file::kDeviceAccess, {{20, 39}}},
    {"pci_device", kComponentApp, file::kDeviceAccess, {{40, 43}}},
    {"register_window", kComponentApp, file::kDeviceAccess, {{44, 44}}},
    {"register_control", kComponentApp, file::kDeviceAccess, {{45, 45}}},

    {"update_database", kComponentApp, file::kDatabaseLoading, {{0, kLastPointNumber}}},

    {"direct_flash_update", kComponentApp, file::kUpdateInterface, {{0, kLastPointNumber}}},

    {"interrupt_handler", kComponentApp, file::kProcessUtilities, {{0, 0},
                                                                   {20, kLastPointNumber}}},
    {"log_directory", kComponentApp, file::kProcessUtilities, {{1, 19}}},

    {"run_report", kComponentApp, file::kRunReport, {{0, kLastPointNumber}}},

    // Engine side.
    {"ncb", kComponentEngine, file::kEngine, {{0, 99}}},
    {"ncb_layout", kComponentEngine, file::kEngine, {{100, 199}}},
    {"update_data", kComponentEngine, file::kEngine, {{200, 205}, {208, 229}}},
    {"update_image", kComponentEngine, file::kEngine, {{206, 207}}},
    {"new_ncb", kComponentEngine, file::kEngine, {{230, 239}}},
    {"ncb_activation", kComponentEngine, file::kEngine, {{240, 249}}},
    {"type2_update", kComponentEngine, file::kEngine, {{250, 299}}},
    {"type1_transform", kComponentEngine, file::kEngine, {{300, 349}}},
    {"legacy_flags", kComponentEngine, file::kEngine, {{350, 379}}},
    {"firmware_update", kComponentEngine, file::kEngine, {{380, 419}}},
    {"rollback", kComponentEngine, file::kEngine, {{420, kLastPointNumber}}},

    {"firmware_control", kComponentEngine, file::kFirmwareControl, {{0, 99}}},
    {"mdio_access", kComponentEngine, file::kFirmwareControl, {{100, kLastPointNumber}}},

    {"flash_access", kComponentEngine, file::kEngineSupport, {{0, 99}}},
    {"component_copy", kComponentEngine, file::kEngineSupport, {{100, 199}}},
    {"flash_verify", kComponentEngine, file::kEngineSupport, {{200, kLastPointNumber}}},

    {"firmware_version", kComponentEngine, file::kEngineFurther, {{0, 99}}},
    {"record_stream", kComponentEngine, file::kEngineFurther, {{100, 199}}},
    {"flash_backup", kComponentEngine, file::kEngineFurther, {{200, 219}}},
    {"image_key_digest", kComponentEngine, file::kEngineFurther, {{220, 239}}},
    {"firmware_key_check", kComponentEngine, file::kEngineFurther, {{240, kLastPointNumber}}},

    {"voapiflashcontrol", kComponentEngine, file::kFlashControl, {{0, 19}}},
    {"flash_protocol", kComponentEngine, file::kFlashControl, {{20, 39}}},
    {"flash_sequences", kComponentEngine, file::kFlashControl, {{40, kLastPointNumber}}},

    {"flash_state", kComponentEngine, file::kEngineState, {{0, kLastPointNumber}}},
};

// Numbers that meant something once and are no longer emitted. They are never given again, so
// that a trace written by an earlier build is never read as saying something it did not.
struct RetiredPoints {
  uint32_t component;
  uint32_t file;
  PointRun run;
};

inline constexpr RetiredPoints kRetiredPoints[] = {
    {kComponentApp, file::kProcedures, {38, 38}},     // rollback: driver restart failed (now 90)
    {kComponentApp, file::kProcedures, {63, 69}},     // a search of the logs for rollback backups
    {kComponentApp, file::kProcedures, {78, 78}},     // update: driver restart failed (now 90)
    {kComponentApp, file::kProcedures, {106, 109}},   // a search of the logs for a journal
    {kComponentEngine, file::kEngine, {250, 254}},    // the type-2 update's own component copy
    {kComponentEngine, file::kEngine, {400, 400}},    // the other active block across both banks
    {kComponentEngine, file::kEngineFurther, {21, 22}},    // the version readout's image checks
    {kComponentEngine, file::kEngineFurther, {221, 222}},  // the key digest's image checks
    {kComponentEngine, file::kFlashControl, {31, 31}},     // part parameters loaded
};
// clang-format on

// Where the entry of the table of that name stands in kPointNumbers, or kNoPointNumbers. (An
// index, not a pointer: the sanitizing builds cannot compare pointers in a constant expression.)
inline constexpr std::size_t kNoPointNumbers = SIZE_MAX;
constexpr std::size_t pointNumbersIndex(std::string_view table) {
  for (std::size_t i = 0; i < std::size(kPointNumbers); ++i) {
    if (kPointNumbers[i].table == table) return i;
  }
  return kNoPointNumbers;
}

constexpr const PointNumbers* pointNumbersAt(std::size_t index) {
  return index < std::size(kPointNumbers) ? &kPointNumbers[index] : nullptr;
}

constexpr bool isRetired(uint32_t component, uint32_t file, uint32_t point) {
  for (const RetiredPoints& retired : kRetiredPoints) {
    if (retired.component == component && retired.file == file && retired.run.first <= point &&
        point <= retired.run.last) {
      return true;
    }
  }
  return false;
}

// Every entry names a table once, with at most kMaxRuns runs that are not empty, and no two
// tables of one pair share a number.
constexpr bool validPointNumbers() {
  const std::span<const PointNumbers> all = kPointNumbers;
  for (std::size_t i = 0; i < all.size(); ++i) {
    const PointNumbers& a = all[i];
    if (a.runCount == 0 || a.runCount > PointNumbers::kMaxRuns) return false;
    for (std::size_t r = 0; r < a.runCount; ++r) {
      if (a.runs[r].first > a.runs[r].last) return false;
    }
    for (std::size_t j = i + 1; j < all.size(); ++j) {
      const PointNumbers& b = all[j];
      if (a.table == b.table) return false;
      if (a.component != b.component || a.file != b.file) continue;
      for (std::size_t r = 0; r < a.runCount; ++r) {
        for (std::size_t s = 0; s < b.runCount; ++s) {
          if (a.runs[r].first <= b.runs[s].last && b.runs[s].first <= a.runs[r].last) return false;
        }
      }
    }
  }
  return true;
}
static_assert(validPointNumbers(),
              "kPointNumbers: a table named twice, a run empty or too many, or two tables of one "
              "(component, file) pair sharing a number");

}  // namespace hlv::trace
