#include "tests/support/operator_texts.h"

#include <algorithm>
#include <cstdio>

namespace hlv::test {
namespace {

std::string format(const char* pattern, auto... values) {
  char text[512];
  std::snprintf(text, sizeof text, pattern, values...);
  return text;
}

std::string versionText(FirmwareVersion v) {
  return format("%u.%u.%u", v.major, v.minor, v.build);
}

std::string numberPrompt(const std::string& request, unsigned invalidAnswers) {
  std::string text = request + "\n>";
  for (unsigned i = 0; i < invalidAnswers; ++i)
    text += "Invalid input\n>";
  return text;
}

}  // namespace

StatusText availableStatus(FirmwareVersion offered) {
  return {"Available: " + versionText(offered), true};
}
StatusText notAvailableStatus() {
  return {"Not available", false};
}
StatusText notRequiredStatus() {
  return {"Not required", false};
}

std::string adapterTable(const std::vector<TableRow>& rows, bool rollbackMode) {
  std::size_t nameWidth = 4;
  std::size_t statusWidth = 13;
  for (const TableRow& row : rows) {
    nameWidth = std::max(nameWidth, row.name.size());
    statusWidth = std::max(statusWidth, row.status.text.size() + (row.status.formatted ? 1 : 0));
  }
  const std::string rule(nameWidth + statusWidth + 50, '_');
  const int name = static_cast<int>(nameWidth);
  const int status = static_cast<int>(statusWidth);
  std::string text = rule + "\n";
  text += format("No  %-*s  Firmware  %-*s  %-*s  %-*s\n", name, "Name", status,
                 rollbackMode ? "Rollback" : "Update status", 13, "Device", 17, "MAC address");
  text += rule + "\n";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const TableRow& row = rows[i];
    text +=
        format("%-2u  %-*s  %u.%u.%-6u%-*s  %04X-%04X%04X  %-17s\n", static_cast<unsigned>(i + 1),
               name, row.name.c_str(), row.firmware.major, row.firmware.minor, row.firmware.build,
               status, row.status.text.c_str(), unsigned{row.deviceId},
               unsigned{row.subsystemDeviceId}, unsigned{row.subsystemVendorId}, row.mac.c_str());
  }
  return text + rule + "\n\n";
}

std::string versionsUnreadable(const std::string& name) {
  return "Couldn't determine firmware version for device: '" + name + "' \n";
}

std::string silentSelected(const std::string& name) {
  return "Silent mode: selected device '" + name + "' \n";
}

std::string silentNotFound(const std::string& name) {
  return "Silent mode: adapter with name '" + name + "' not found \nSilent mode: update aborted \n";
}

std::string updateProblems(const std::string& logDirectory) {
  return "\n!!! There were some problems updating one or more adapters. \n"
         "   Please send update logs to the vendor. \n"
         "   Logs location: '" +
         logDirectory + "' \n";
}

std::string updateNumberPrompt(unsigned invalidAnswers) {
  return numberPrompt("Enter adapter number or 'q' for quit without update ", invalidAnswers);
}

std::string rollbackNumberPrompt(unsigned invalidAnswers) {
  return "Please select an adapter to restore previous firmware version:\n \n" +
         numberPrompt("Enter adapter number or 'q' to quit ", invalidAnswers);
}

std::string updateBlock(const UpdateBlock& b) {
  std::string text =
      "=== \n+ Adapter: " + b.name + " \n" +
      format("|-- HWID:  VEN_%04X&DEV_%04X&SUBSYS_%04X%04X \n", unsigned{b.vendorId},
             unsigned{b.deviceId}, unsigned{b.subsystemDeviceId}, unsigned{b.subsystemVendorId}) +
      "|-- Backing up... ";
  if (b.backupResult != 0) {
    return text + "[FAILED] \n|-- Update stopped: firmware has not been updated\n===\n \n";
  }
  text += "[OK] \n|-- Updating... ";
  bool powerCycle = true;
  if (b.updateResult != 0) {
    text += format("[FAILED : %u] \n", b.updateResult);
  } else {
    text += "[OK] \n|-- New firmware version: " + versionText(b.newVersion) + " \n";
    if (b.reload != UpdateBlock::Reload::kNotTried) {
      const bool reloaded = b.reload == UpdateBlock::Reload::kSucceeded;
      text +=
          std::string("|-- Trying to reload firmware... ") + (reloaded ? "[OK] \n" : "[FAILED] \n");
      powerCycle = !reloaded;
    }
  }
  text += std::string("|-- Restarting device driver... ") +
          (b.driverRestarted ? "[OK] \n" : "[FAILED] \n");
  if (!b.driverRestarted) powerCycle = true;
  if (powerCycle) text += "|-- To complete update process please power cycle your PC. \n";
  return text + "===\n \n";
}

std::string rollbackQuestion(FirmwareVersion current, FirmwareVersion previous) {
  return "This will restore adapter's firmware to the previous version. \n"
         "  Current version:\t" +
         versionText(current) +
         " \n"
         "  Previous version:\t" +
         versionText(previous) +
         " \n"
         "[WARNING] This is an experimental feature which may not work correctly. \n"
         "  Please ONLY use if absolutely necessary, e.g. network adapter not functional after "
         "firmware update. \n"
         "Please confirm firmware rollback operation (y/n): ";
}

std::string rollbackOutcome(const std::string& name, uint32_t index, uint32_t result,
                            bool driverRestarted) {
  std::string text =
      "Backing up... [OK] \nPerforming firmware rollback on adapter '" + name + "'... \n";
  text += result == 0 ? "/!\\ Rollback succeeded but firmware could not be restarted \n"
                      : format("[!] Rollback failed on adapter #%u \n", index);
  text += std::string("Restarting device driver... ") +
          (driverRestarted ? "[OK] \n" : "[FAILED] \n") + "Firmware rollback finished! \n";
  if (result == 0 || !driverRestarted)
    text += "Please power cycle the setup to complete the operation. \n";
  return text;
}

}  // namespace hlv::test
