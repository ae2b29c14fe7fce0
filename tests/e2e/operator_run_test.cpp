// The whole tool as an operator runs it, on labs of emulated adapters: what the console shows,
// the exit status, the flash each adapter is left with (judged by the tests' own reading of the
// layout), the backups, the driver restarts, the emulated adapters' counters and the trace.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/flash_update_status.h"
#include "tests/support/expected_output.h"
#include "tests/e2e/lab_scenario.h"
#include "tests/support/operator_texts.h"
#include "tests/support/reference_layout.h"
#include "tests/support/files.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"
#include "tests/support/hlvsim_lab.h"

namespace hlv::test {
namespace {

constexpr FirmwareVersion kOld{1, 5, 90};
constexpr FirmwareVersion kNew{1, 6, 2};
constexpr FirmwareVersion kBeforeUpdate{1, 5, 86};

LabAdapter withSubsystemDevice(LabAdapter adapter, uint16_t subsystemDeviceId) {
  adapter.subsystemDeviceId = subsystemDeviceId;
  return adapter;
}

const std::string kTypeOneEntry = boardEntry("t1", 0x20C3, 0x1F70, 0x1028, "fw_20c3.bin");
const std::string kTypeTwoEntry = boardEntry("t2", 0x21C3, 0x1F70, 0x1028, "fw_21c3.bin");

// A type-1 model in the old layout, which the update transforms and whose firmware it reloads;
// a type-2 model, whose new firmware needs a power cycle; one already up to date, sharing the
// first one's image; one the bundle has no image for.
LabSpec mixedLab() {
  LabSpec lab;
  lab.adapters = {
      offered(typeOneLayoutAdapter("enp1s0", kOld), "fw_20c3.bin", availableStatus(kNew)),
      offered(typeTwoDevice(typeTwoLayoutAdapter("enp2s0", kOld)), "fw_21c3.bin",
              availableStatus(kNew)),
      offered(typeTwoLayoutAdapter("enp3s0", kNew), "fw_20c3.bin", notRequiredStatus()),
      offered(withSubsystemDevice(typeTwoLayoutAdapter("enp4s0", kOld), 0x1F71), "",
              notAvailableStatus()),
  };
  lab.images = {bundleImage("fw_20c3.bin", kNew), bundleImage("fw_21c3.bin", kNew, 0x21C3)};
  lab.database = database(kTypeOneEntry + kTypeTwoEntry);
  return lab;
}

// The first adapter's image has a component that does not match its CRC; the second one's
// firmware never comes back after the reload.
LabSpec failureLab() {
  LabSpec lab;
  LabAdapter stuck =
      offered(typeTwoLayoutAdapter("enp2s0", kOld), "fw_20c3.bin", availableStatus(kNew));
  stuck.conf = "firmware_stuck = yes\n";
  lab.adapters = {offered(withSubsystemDevice(typeTwoLayoutAdapter("enp1s0", kOld), 0x1F72),
                          "fw_bad.bin", availableStatus(kNew)),
                  stuck};
  BundleImage bad = bundleImage("fw_bad.bin", kNew);
  bad.spec.ncbs[0].romCrc.kind = image::CrcSpec::Kind::kBad;
  lab.images = {bundleImage("fw_20c3.bin", kNew), bad};
  lab.database = database(kTypeOneEntry + boardEntry("bad", 0x20C3, 0x1F72, 0x1028, "fw_bad.bin"));
  return lab;
}

LabSpec singleAdapterLab() {
  LabSpec lab;
  lab.adapters = {
      offered(typeTwoLayoutAdapter("enp1s0", kOld), "fw_20c3.bin", availableStatus(kNew))};
  lab.images = {bundleImage("fw_20c3.bin", kNew)};
  lab.database = database(kTypeOneEntry);
  return lab;
}

// Two adapters without a network interface: the tool names both "unknown".
LabSpec unnamedLab() {
  LabSpec lab = singleAdapterLab();
  lab.adapters.push_back(lab.adapters[0]);
  lab.adapters[0].name = lab.adapters[1].name = "";
  return lab;
}

// A long adapter name and a long formatted status widen their columns.
LabSpec wideLab() {
  LabSpec lab;
  lab.adapters = {
      offered(updatedAdapter("enp1s0-with-a-much-longer-name", kBeforeUpdate, kNew), "fw_wide.bin",
              availableStatus({3, 10, 121})),
      offered(withSubsystemDevice(typeTwoLayoutAdapter("enp2s0", kOld), 0x1F71), "",
              notAvailableStatus()),
  };
  lab.images = {bundleImage("fw_wide.bin", {3, 10, 121})};
  lab.database = database(boardEntry("t1", 0x20C3, 0x1F70, 0x1028, "fw_wide.bin"));
  return lab;
}

// An alias sends the model, on this machine's board, to another board entry than its identity
// would. The kernel ends the board name with a line feed: the alias's text must end with one.
LabSpec aliasLab(const std::string& systemId, FirmwareVersion expected) {
  LabSpec lab;
  lab.adapters = {offered(typeTwoLayoutAdapter("enp1s0", kOld), "", availableStatus(expected))};
  lab.images = {bundleImage("fw_20c3.bin", kNew), bundleImage("fw_board.bin", {1, 7, 0})};
  lab.database =
      database(kTypeOneEntry + boardEntry("board", 0x20C3, 0xFFFF, 0x1028, "fw_board.bin") +
               "  <alias id=\"on-board\">\n"
               "    <hwids><hwid vid=\"1E9C\" did=\"20C3\" sdid=\"1F70\" svid=\"1028\"/></hwids>\n"
               "    <bdpid>board</bdpid>\n"
               "    <systemid>" +
               systemId + "</systemid>\n  </alias>\n");
  return lab;
}

// One adapter is up to date; the other is a type-2 model the bundle offers a type-1 image.
LabSpec nothingToUpdateLab() {
  LabSpec lab;
  lab.adapters = {
      offered(typeTwoLayoutAdapter("enp1s0", kNew), "fw_20c3.bin", notRequiredStatus()),
      offered(typeTwoDevice(typeTwoLayoutAdapter("enp2s0", kOld)), "fw_20c3.bin",
              notAvailableStatus()),
  };
  lab.images = {bundleImage("fw_20c3.bin", kNew)};
  lab.database = database(kTypeOneEntry + boardEntry("t2", 0x21C3, 0x1F70, 0x1028, "fw_20c3.bin"));
  return lab;
}

// A flash with no firmware on it, and a board of a kind the tool never updates (the maker's own
// subsystem vendor with subsystem device 0x0001), though the bundle lists it.
LabSpec unusableLab() {
  LabSpec lab;
  LabAdapter blank = typeTwoLayoutAdapter("enp1s0", {});
  for (image::NcbSpec& ncb : blank.flash.ncbs)
    ncb.erased = true;
  LabAdapter legacy = typeTwoLayoutAdapter("enp2s0", kOld);
  legacy.subsystemDeviceId = 0x0001;
  legacy.subsystemVendorId = 0x1E9C;
  lab.adapters = {offered(blank, "", notAvailableStatus()),
                  offered(legacy, "", notAvailableStatus())};
  lab.images = {bundleImage("fw_20c3.bin", kNew)};
  lab.database = database(kTypeOneEntry + boardEntry("own", 0x20C3, 0x0001, 0x1E9C, "fw_20c3.bin"));
  return lab;
}

// A machine whose kernel is locked down because it started under Secure Boot: it refuses to map
// the registers of two adapters, which cannot be examined, beside a board the tool never updates.
LabSpec lockedDownLab() {
  LabSpec lab = unusableLab();
  LabAdapter refused = typeTwoLayoutAdapter("enp1s0", {});
  refused.conf = "map_refused = eperm\n";
  LabAdapter second = refused;
  second.name = "enp3s0";
  lab.adapters = {offered(refused, "", notAvailableStatus()), lab.adapters[1],
                  offered(second, "", notAvailableStatus())};
  lab.machineFiles = {{"sys/kernel/security/lockdown", "none [integrity] confidentiality\n"},
                      {"sys/firmware/efi/efivars/SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c",
                       std::string("\x06\x00\x00\x00\x01", 5)}};
  return lab;
}

// The resource file of the first adapter gives its register region 4 KiB, far short of the
// firmware-control registers the update and the reload use; the second one is whole.
LabSpec shortWindowLab() {
  LabSpec lab = singleAdapterLab();
  lab.adapters.push_back(lab.adapters[0]);
  lab.adapters[0].status = notAvailableStatus();
  lab.adapters[0].running = {};  // never read: its registers are not reached
  lab.adapters[1].name = "enp2s0";
  std::string resource = "0x00000000fb000000 0x00000000fb000fff 0x0000000000140204\n";
  for (int line = 1; line < 13; ++line)
    resource += "0x0000000000000000 0x0000000000000000 0x0000000000000000\n";
  lab.machineFiles = {{"sys/bus/pci/devices/0000:01:00.0/resource", resource}};
  return lab;
}

// Updated once; never updated; updated once but the previous firmware's option ROM is damaged.
LabSpec rollbackLab() {
  LabSpec lab = singleAdapterLab();
  // A whole previous block over firmware that is not: an option ROM that does not match its CRC.
  // The rollback would refuse it, so it is not offered.
  LabAdapter damaged = updatedAdapter("enp3s0", kBeforeUpdate, kNew);
  damaged.flash.ncbs[0].romCrc.kind = image::CrcSpec::Kind::kBad;
  lab.adapters = {updatedAdapter("enp1s0", kBeforeUpdate, kNew),
                  typeTwoLayoutAdapter("enp2s0", kOld), damaged};
  for (LabAdapter& adapter : lab.adapters)
    adapter.status = adapter.previous.isZero() ? availableStatus(kNew) : notRequiredStatus();
  lab.adapters[2].previous = {};
  return lab;
}

enum class Change { kNone, kUpdated, kRolledBack };

struct Scenario {
  const char* what;
  LabSpec (*lab)();
  RunOptions run;
  std::function<std::string(const Expect&)> output;
  int exitStatus = 0;
  std::vector<Change> changes = {};  // per adapter; the ones not listed are left alone
  // Backups in the run's log directory: adapter, file name. No other backup may be there.
  std::vector<std::pair<std::size_t, std::string>> backups = {};
  std::vector<std::size_t> restarted = {};   // adapters whose driver is rebound, in order
  std::vector<std::string> traceLines = {};  // texts the decoded trace holds
  // Texts standard error holds, each once; without any it stays empty (it is not a terminal, so
  // no progress is drawn there either).
  std::vector<std::string> errors = {};
};

void PrintTo(const Scenario& s, std::ostream* os) {
  *os << s.what;
}

std::string interactiveStart(const Expect& e, bool rollbackMode = false) {
  return kBanner + kNotice + kPrompt + e.table(rollbackMode);
}

std::string silentStart(const Expect& e) {
  return kBanner + kNotice + e.table();
}

const Change U = Change::kUpdated;
const Change N = Change::kNone;

const Scenario kScenarios[] = {
    {.what = "silent: every adapter that can be updated is, type 1 with a reload, type 2 asking "
             "for a power cycle; the image two adapters share is loaded once",
     .lab = mixedLab,
     .run = {.args = {"-s"}},
     .output =
         [](const Expect& e) {
           return silentStart(e) + kSilentAll + kUpdatesStart + updateBlock(e.block(0)) +
                  updateBlock(e.block(1)) + kUpdateFinished;
         },
     .changes = {U, U},
     .backups = {{0, "image_enp1s0.bin"}, {1, "image_enp2s0.bin"}},
     .restarted = {0, 1},
     .traceLines = {"image_store.kCacheHit: image \"fw_20c3.bin\" already loaded"}},
    {.what = "interactive: an empty confirmation is asked again; blanks, numbers out of range, "
             "adapters that cannot be updated, Q and too many digits are invalid",
     .lab = mixedLab,
     .run = {.input = "\nYES\n\n0\n5\n3\n4\n2 \nQ\n-1\n99999999999999999999999\n2\n"},
     .output =
         [](const Expect& e) {
           return kBanner + kNotice + kPrompt + kPrompt + e.table() + kUpdateNotice +
                  updateNumberPrompt(9) + kUpdatesStart + updateBlock(e.block(1)) +
                  kUpdateFinished + kPressAnyKey;
         },
     .changes = {N, U},
     .backups = {{1, "image_enp2s0.bin"}},
     .restarted = {1}},
    {.what = "interactive: q at the adapter prompt quits with 41 and no closing line",
     .lab = singleAdapterLab,
     .run = {.input = "y\nq\n"},
     .output =
         [](const Expect& e) { return interactiveStart(e) + kUpdateNotice + updateNumberPrompt(); },
     .exitStatus = 41},
    {.what = "interactive: a valid number on a last line without a line feed quits",
     .lab = singleAdapterLab,
     .run = {.input = "y\n1"},
     .output =
         [](const Expect& e) { return interactiveStart(e) + kUpdateNotice + updateNumberPrompt(); },
     .exitStatus = 41},
    {.what = "interactive -a naming an adapter that needs no update: no prompt, nothing written",
     .lab = mixedLab,
     .run = {.args = {"-a", "enp3s0"}, .input = "y\n"},
     .output =
         [](const Expect& e) {
           return interactiveStart(e) + kUpdateNotice + kUpdatesStart + kUpdateFinished +
                  kPressAnyKey;
         }},
    {.what = "silent -a updates the named adapter only",
     .lab = mixedLab,
     .run = {.args = {"-s", "-a", "enp1s0"}},
     .output =
         [](const Expect& e) {
           return silentStart(e) + silentSelected("enp1s0") + kUpdatesStart +
                  updateBlock(e.block(0)) + kUpdateFinished;
         },
     .changes = {U},
     .backups = {{0, "image_enp1s0.bin"}},
     .restarted = {0}},
    {.what = "silent -a matches names exactly, letter case included",
     .lab = singleAdapterLab,
     .run = {.args = {"-s", "-a", "ENP1S0"}},
     .output = [](const Expect& e) { return silentStart(e) + silentNotFound("ENP1S0"); },
     .exitStatus = 3},
    {.what = "silent: a failed update shows its code and the run ends with it, though a later "
             "adapter is updated; firmware that does not come back asks for a power cycle",
     .lab = failureLab,
     .run = {.args = {"-s"}},
     .output =
         [](const Expect& e) {
           UpdateBlock refused = e.block(0);
           refused.updateResult = statusNumber(kStatusComponentCrcMismatch);
           UpdateBlock stuck = e.block(1);
           stuck.reload = UpdateBlock::Reload::kFailed;
           return silentStart(e) + kSilentAll + kUpdatesStart + updateBlock(refused) +
                  updateBlock(stuck) + updateProblems(e.logDirectory());
         },
     .exitStatus = static_cast<int>(kStatusComponentCrcMismatch),
     .changes = {N, U},
     .backups = {{0, "image_enp1s0.bin"}, {1, "image_enp2s0.bin"}},
     .restarted = {0, 1}},
    {.what = "silent: a backup that cannot be written in full (a full disk) stops the update "
             "before the flash is touched, and no file that looks like a backup is left",
     .lab = singleAdapterLab,
     .run = {.args = {"-s"}, .fileSizeLimit = 1 << 20},
     .output =
         [](const Expect& e) {
           UpdateBlock block = e.block(0);
           block.backupResult = 13;
           return silentStart(e) + kSilentAll + kUpdatesStart + updateBlock(block) +
                  updateProblems(e.logDirectory());
         },
     .exitStatus = 13},
    {.what = "silent: a run started in the same second as an earlier one gets a directory of its "
             "own; adapters without a network interface keep a backup each",
     .lab = unnamedLab,
     .run = {.args = {"-s"}, .earlierFiles = {"image_unknown.bin"}},
     .output =
         [](const Expect& e) {
           return silentStart(e) + kSilentAll + kUpdatesStart + updateBlock(e.block(0)) +
                  updateBlock(e.block(1)) + kUpdateFinished;
         },
     .changes = {U, U},
     .backups = {{0, "image_unknown.bin"}, {1, "image_unknown_2.bin"}}},
    {.what = "update table: a long name and a long formatted status widen their columns",
     .lab = wideLab,
     .run = {.input = "y\nq\n"},
     .output =
         [](const Expect& e) { return interactiveStart(e) + kUpdateNotice + updateNumberPrompt(); },
     .exitStatus = 41},
    {.what = "rollback table: the previous firmware or Not available, in columns as wide as "
             "needed",
     .lab = wideLab,
     .run = {.args = {"-r"}, .input = "y\nq\n"},
     .output = [](const Expect& e) { return interactiveStart(e, true) + rollbackNumberPrompt(); },
     .exitStatus = 41},
    {.what = "an alias whose board name ends with the line feed the kernel writes chooses its "
             "board entry",
     .lab =
         [] {
           return aliasLab("EMULATED-BOARD\n", {1, 7, 0});
         },
     .run = {.input = "y\nq\n"},
     .output =
         [](const Expect& e) { return interactiveStart(e) + kUpdateNotice + updateNumberPrompt(); },
     .exitStatus = 41,
     .traceLines = {"image_selection.kBoardEntryChosen: entry 0: board entry \"board\""}},
    {.what = "an alias whose board name lacks the line feed matches nothing: the identity decides",
     .lab = [] { return aliasLab("EMULATED-BOARD", kNew); },
     .run = {.input = "y\nq\n"},
     .output =
         [](const Expect& e) { return interactiveStart(e) + kUpdateNotice + updateNumberPrompt(); },
     .exitStatus = 41,
     .traceLines = {"image_selection.kBoardEntryChosen: entry 0: board entry \"t1\""}},
    {.what = "nothing to update: one adapter up to date, one offered an image of the other type",
     .lab = nothingToUpdateLab,
     .run = {.input = "y\n"},
     .output =
         [](const Expect& e) { return interactiveStart(e) + kNothingToUpdate + kPressAnyKey; },
     .exitStatus = 2},
    {.what = "silent: an adapter whose firmware version cannot be read and one the tool may not "
             "update are not available",
     .lab = unusableLab,
     .run = {.args = {"-s"}},
     .output =
         [](const Expect& e) {
           return kBanner + kNotice + versionsUnreadable("enp1s0") + e.table() + kNothingToUpdate;
         },
     .exitStatus = 2},
    {.what = "silent: adapters whose registers a locked-down kernel refuses to map are not "
             "available, and standard error says once why and what to do",
     .lab = lockedDownLab,
     .run = {.args = {"-s"}},
     .output =
         [](const Expect& e) {
           return kBanner + kNotice + versionsUnreadable("enp1s0") + versionsUnreadable("enp3s0") +
                  e.table() + kNothingToUpdate;
         },
     .exitStatus = 2,
     .traceLines = {"mapping_refusal_notice.kAdapterRefused: adapter 2: its registers could not "
                    "be mapped (errno 1)"},
     .errors = {"[!] The kernel is locked down (integrity mode) and refuses to map the registers "
                "of enp1s0 (0000:01:00.0), enp3s0 (0000:03:00.0).\n",
                "Secure Boot is on", "turn Secure Boot off"}},
    {.what = "silent: an adapter whose register region does not reach every register the tool "
             "uses is not mapped at all; standard error says why, and the others are updated",
     .lab = shortWindowLab,
     .run = {.args = {"-s"}},
     .output =
         [](const Expect& e) {
           return kBanner + kNotice + versionsUnreadable("enp1s0") + e.table() + kSilentAll +
                  kUpdatesStart + updateBlock(e.block(1)) + kUpdateFinished;
         },
     .changes = {N, U},
     .backups = {{1, "image_enp2s0.bin"}},
     .restarted = {1},
     .traceLines = {"register_control.kWindowTooSmall: registers of "
                    "\"/sys/bus/pci/devices/0000:01:00.0\" not mapped: region 0 is 0x1000 bytes, "
                    "0x7004 are needed"},
     .errors = {"[!] The registers of enp1s0 (0000:01:00.0, region 0 of 0x1000 bytes) are not "
                "mapped: the register window is too small.\n",
                "so region 0 must be at least 0x7004 bytes long"}},
    {.what = "rollback: the chosen adapter is backed up and switched back; the firmware cannot "
             "be restarted without an update, so a power cycle is asked for",
     .lab = rollbackLab,
     .run = {.args = {"-r"}, .input = "y\n1\nYES\n"},
     .output =
         [](const Expect& e) {
           return interactiveStart(e, true) + rollbackNumberPrompt() +
                  rollbackQuestion(kNew, kBeforeUpdate) + rollbackOutcome("enp1s0", 0, 0) +
                  kPressAnyKey;
         },
     .changes = {Change::kRolledBack},
     .backups = {{0, "image_enp1s0_rollback.bin"}},
     .restarted = {0}},
    {.what = "rollback -a: refused at the question, nothing is saved or changed",
     .lab = rollbackLab,
     .run = {.args = {"-r", "-a", "enp1s0"}, .input = "y\nn\n"},
     .output =
         [](const Expect& e) {
           return interactiveStart(e, true) + rollbackQuestion(kNew, kBeforeUpdate) +
                  kRollbackAborted;
         },
     .exitStatus = 41},
    {.what = "rollback of an adapter without previous firmware stops with 2",
     .lab = rollbackLab,
     .run = {.args = {"-r"}, .input = "y\n2\n"},
     .output =
         [](const Expect& e) {
           return interactiveStart(e, true) + rollbackNumberPrompt() + kNoPreviousFirmware +
                  kPressAnyKey;
         },
     .exitStatus = 2},
    {.what = "rollback of an adapter whose previous block the rollback would refuse (its firmware "
             "is not intact) stops with 2 before anything is saved or changed",
     .lab = rollbackLab,
     .run = {.args = {"-r", "-a", "enp3s0"}, .input = "y\ny\n"},
     .output =
         [](const Expect& e) {
           return interactiveStart(e, true) + kNoPreviousFirmware + kPressAnyKey;
         },
     .exitStatus = 2,
     .traceLines = {"rollback_procedure.kPreviousNotOffered: entry 2: previous firmware not "
                    "offered, the rollback refuses it with 24"}},
};

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    result.push_back(line);
  return result;
}

// The quoted text that follows `marker` on the line, or empty.
std::string quotedAfter(const std::string& line, const std::string& marker) {
  const std::size_t at = line.find(marker);
  if (at == std::string::npos) return "";
  const std::size_t start = at + marker.size();
  const std::size_t end = line.find('"', start);
  return end == std::string::npos ? "" : line.substr(start, end - start);
}

std::set<std::string> backupFiles(const std::string& directory) {
  std::set<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("image_")) files.insert(name);
  }
  return files;
}

class OperatorRun : public ::testing::TestWithParam<Scenario> {};

TEST_P(OperatorRun, ShowsTheDialogueAndLeavesAdaptersBackupsDriversAndTraceAsExpected) {
  const Scenario& s = GetParam();
  TempDir directory;
  Lab lab(directory, s.lab());
  const ProcessResult result = lab.run(s.run);
  const Expect expect(lab);
  EXPECT_EQ(result.out, s.output(expect));
  EXPECT_EQ(result.exitStatus, s.exitStatus) << result.err;
  if (s.errors.empty()) {
    EXPECT_EQ(result.err, "");
  }
  for (const std::string& text : s.errors)
    EXPECT_EQ(occurrences(result.err, text), 1u) << text << "\nin\n" << result.err;
  const std::string logDirectory = lab.logDirectory();
  ASSERT_FALSE(logDirectory.empty()) << "no trace file under the tool's logs";

  for (std::size_t i = 0; i < lab.spec().adapters.size(); ++i) {
    SCOPED_TRACE("adapter " + lab.bdf(i));
    const Change change = i < s.changes.size() ? s.changes[i] : Change::kNone;
    std::vector<uint8_t> expected = lab.flashBefore(i);
    if (change == Change::kUpdated) {
      expected = referenceUpdate(expected, lab.imageBytes(lab.spec().adapters[i].image), macBytes(),
                                 phyBytes());
    } else if (change == Change::kRolledBack) {
      expected = referenceRollback(expected);
    }
    EXPECT_TRUE(lab.flashAfter(i) == expected) << "the flash is not what the run should leave";
    const std::string stats = lab.stats(i);
    EXPECT_EQ(statValue(stats, "violations"), 0) << stats;
    EXPECT_EQ(statValue(stats, "unclaimed_accesses"), 0) << stats;
    EXPECT_NE(stats.find("semaphore_held_at_exit = no\n"), std::string::npos) << stats;
  }

  // Each backup holds the flash as it was before the run; nothing else is saved (a backup that
  // failed leaves no file), and what an earlier run left stays as it was, in its own directory:
  // the run took the next name.
  std::set<std::string> expectedFiles;
  for (const auto& [adapter, file] : s.backups) {
    EXPECT_TRUE(readBinaryFile(logDirectory + file) == lab.flashBefore(adapter)) << file;
    expectedFiles.insert(file);
  }
  EXPECT_EQ(backupFiles(logDirectory), expectedFiles);
  if (!s.run.earlierFiles.empty()) {
    ASSERT_TRUE(logDirectory.ends_with("_2/")) << logDirectory;
    const std::string earlier = logDirectory.substr(0, logDirectory.size() - 3) + "/";
    for (const std::string& file : s.run.earlierFiles)
      EXPECT_EQ(readFile(earlier + file), kEarlierFile) << file;
  }

  const ProcessResult decoded =
      runProcess(builtProgram("hlvtrace"), {logDirectory + "voflashupdatelog.etl"});
  ASSERT_EQ(decoded.exitStatus, 0) << decoded.err;
  std::vector<std::string> restarted;
  std::map<std::string, int> loads;
  int checks = 0, rejections = 0;
  for (const std::string& line : lines(decoded.out)) {
    const std::string bdf = quotedAfter(line, "driver_control.kDriverRestarted: adapter \"");
    if (!bdf.empty()) restarted.push_back(bdf);
    const std::string image = quotedAfter(line, "image_store.kImageLoaded: image \"");
    if (!image.empty()) ++loads[image];
    if (line.find("direct_flash_update.kImageInspected:") != std::string::npos) ++checks;
    if (line.find("image_store.kImageRejected:") != std::string::npos) ++rejections;
  }
  std::vector<std::string> expectedRestarts;
  for (std::size_t adapter : s.restarted)
    expectedRestarts.push_back(lab.bdf(adapter));
  EXPECT_EQ(restarted, expectedRestarts);
  // Each image is loaded and checked once per run, however many adapters take it.
  for (const auto& [image, count] : loads)
    EXPECT_EQ(count, 1) << image << " was loaded more than once";
  EXPECT_EQ(checks, static_cast<int>(loads.size()) + rejections) << "images checked again";
  for (const std::string& text : s.traceLines)
    EXPECT_NE(decoded.out.find(text), std::string::npos) << text;

  // The driver files hold the address written last (the kernel reads each write on its own).
  const std::string lastRestarted = expectedRestarts.empty() ? "" : expectedRestarts.back();
  EXPECT_EQ(lab.driverFile("unbind"), lastRestarted);
  EXPECT_EQ(lab.driverFile("bind"), lastRestarted);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, OperatorRun, ::testing::ValuesIn(kScenarios));

// An operator at a terminal sees each adapter's backup read, erase, program and verify move on
// standard error; standard output, and what is written to the adapters, are exactly those of a
// run whose standard error is no terminal, which draws nothing.
TEST(OperatorTerminal, DrawsProgressOnStandardErrorAndLeavesStandardOutputAsItIs) {
  TempDir plainDirectory, terminalDirectory;
  Lab plain(plainDirectory, mixedLab());
  Lab terminal(terminalDirectory, mixedLab());
  const ProcessResult withoutTerminal = plain.run({.args = {"-s"}});
  const ProcessResult onTerminal = terminal.run({.args = {"-s"}, .errorOnTerminal = true});
  EXPECT_EQ(withoutTerminal.err, "");
  EXPECT_EQ(onTerminal.exitStatus, 0) << onTerminal.out;
  EXPECT_EQ(onTerminal.out, withoutTerminal.out);
  for (std::size_t i = 0; i < plain.spec().adapters.size(); ++i)
    EXPECT_TRUE(terminal.flashAfter(i) == plain.flashAfter(i)) << "adapter " << i;

  const std::string& drawn = onTerminal.err;
  // Nothing of the console's text, only the drawings, each saving the cursor before it and
  // restoring it after, so that the step's result word lands where it always did.
  EXPECT_EQ(drawn.find("[OK]"), std::string::npos) << drawn;
  EXPECT_EQ(occurrences(drawn, "\0337"), occurrences(drawn, "\033[K\0338")) << drawn;
  // The two adapters that are updated, each phase through to its end, in order.
  EXPECT_EQ(occurrences(drawn, "backup read 100% (2097152 of 2097152 bytes)"), 2u) << drawn;
  std::size_t at = 0;
  for (int adapter = 0; adapter < 2; ++adapter) {
    for (const char* phase : {"backup read 100%", "erase 100%", "program 100%", "verify 100%"}) {
      const std::size_t next = drawn.find(phase, at);
      ASSERT_NE(next, std::string::npos) << phase << " of adapter " << adapter << " in\n" << drawn;
      at = next;
    }
  }
  // Wiped at the end of the last step.
  EXPECT_TRUE(drawn.ends_with("\033[K")) << drawn;
}

}  // namespace
}  // namespace hlv::test
