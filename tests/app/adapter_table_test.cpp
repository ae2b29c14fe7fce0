// The console's adapter table (column widths, the rollback mode's column) and the prompt that
// takes an adapter's number.
#include "app/adapter_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "bundle/vo_image_file.h"
#include "device/pci_discovery.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace hlv {
namespace {

using Status = AdapterStatus;

struct Row {
  std::string name;
  FirmwareVersion current;
  FirmwareVersion previous;
  Status status;
  uint16_t deviceId = 0x20C3;
  std::string mac = "02:00:00:aa:bb:cc";
};

class AdapterTable : public ::testing::Test {
 protected:
  // Entries as the adapter list leaves them; an Available one carries an image of version 3.1.121.
  std::vector<AdapterEntry> entries(const std::vector<Row>& rows) {
    test::writeFile(dir_ / "fw.bin", "image");
    auto image = std::make_shared<VoImageFile>(dir_ / "fw.bin");
    image->setVersion({3, 1, 121});
    std::vector<AdapterEntry> list;
    for (const Row& row : rows) {
      auto info = std::make_unique<AdapterInfo>();
      info->interfaceName = row.name;
      info->deviceId = row.deviceId;
      info->subsystemDeviceId = 0x0001;
      info->subsystemVendorId = 0x1E9C;
      info->macAddress = row.mac;
      list.emplace_back(static_cast<uint32_t>(list.size()), std::move(info));
      list.back().currentVersion = row.current;
      list.back().previousVersion = row.previous;
      list.back().status = row.status;
      if (row.status == Status::Available) list.back().selectedImage = image;
    }
    return list;
  }

  static std::string shown(const std::vector<AdapterEntry>& list, bool rollbackMode) {
    ::testing::internal::CaptureStdout();
    showAdapterTable(list, rollbackMode);
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
  }

  test::TempDir dir_;
};

TEST_F(AdapterTable, ColumnsWidenForLongNamesAndFormattedStatusTexts) {
  const auto list = entries({
      {"eth0", {3, 1, 57}, {}, Status::Available},
      {"enp3s0f1", {3, 1, 121}, {}, Status::NotRequired, 0x21C3, "02:00:00:aa:bb:cd"},
      {"unknown", {}, {}, Status::NotAvailable, 0x20C3, ""},
      {"eth9", {1, 2, 3}, {}, static_cast<Status>(7)},
  });
  // Name column 8 wide (the longest name); status column 19 wide: "Available: 3.1.121" shows 18
  // characters and is stored with the NUL that ends it.
  const std::string rule(8 + 19 + 50, '_');
  EXPECT_EQ(shown(list, false),
            rule + "\n" +
                "No  Name      Firmware  Update status        Device         MAC address      \n" +
                rule + "\n" +
                "1   eth0      3.1.57    Available: 3.1.121   20C3-00011E9C  02:00:00:aa:bb:cc\n"
                "2   enp3s0f1  3.1.121   Not required         21C3-00011E9C  02:00:00:aa:bb:cd\n"
                "3   unknown   0.0.0     Not available        20C3-00011E9C                   \n"
                "4   eth9      1.2.3     ?                    20C3-00011E9C  02:00:00:aa:bb:cc\n" +
                rule + "\n\n");
}

TEST_F(AdapterTable, ShortNamesAndPlainStatusTextsKeepTheMinimumWidths) {
  const auto list = entries({{"eth0", {3, 1, 57}, {}, Status::NotAvailable}});
  const std::string rule(4 + 13 + 50, '_');
  EXPECT_EQ(shown(list, false),
            rule + "\n" + "No  Name  Firmware  Update status  Device         MAC address      \n" +
                rule + "\n" +
                "1   eth0  3.1.57    Not available  20C3-00011E9C  02:00:00:aa:bb:cc\n" + rule +
                "\n\n");
}

TEST_F(AdapterTable, RollbackModeShowsThePreviousFirmware) {
  const auto list = entries({
      {"eth0", {3, 1, 121}, {3, 1, 57}, Status::NotRequired},
      {"eth1", {3, 1, 121}, {}, Status::Available},
  });
  // "Available: 3.1.57" is stored with its NUL: 18 places.
  const std::string rule(4 + 18 + 50, '_');
  EXPECT_EQ(shown(list, true),
            rule + "\n" +
                "No  Name  Firmware  Rollback            Device         MAC address      \n" +
                rule + "\n" +
                "1   eth0  3.1.121   Available: 3.1.57   20C3-00011E9C  02:00:00:aa:bb:cc\n"
                "2   eth1  3.1.121   Not available       20C3-00011E9C  02:00:00:aa:bb:cc\n" +
                rule + "\n\n");
}

struct PromptCase {
  const char* what;
  bool rollback;
  std::string input;
  std::size_t chosen;  // 3: quit
  int invalid;         // times "Invalid input" is answered
};

void PrintTo(const PromptCase& c, std::ostream* os) {
  *os << c.what;
}

const PromptCase kPromptCases[] = {
    {"a number chooses that adapter", false, "3\n", 2, 0},
    {"leading zeros are digits too", false, "01\n", 0, 0},
    {"q quits", false, "q\n", 3, 0},
    {"end of input quits silently", false, "", 3, 0},
    {"a last line without a newline quits, even a valid number", false, "1", 3, 0},
    {"an unavailable adapter is refused in update mode", false, "2\n1\n", 0, 1},
    {"an unavailable adapter is accepted in rollback mode", true, "2\n", 1, 0},
    {"lines that are no valid choice are refused until one is", false,
     "\n0\n4\n1 \nQ\n-1\n+1\n q\n1\n", 0, 8},
    {"a number too large for an unsigned long is refused", true, "99999999999999999999999\n3\n", 2,
     1},
    {"a line with a NUL is no number", false, std::string("1\0\n1\n", 5), 0, 1},
    {"input ending after refused lines quits", true, "x\n9\n", 3, 2},
};

class AdapterPrompt : public AdapterTable, public ::testing::WithParamInterface<PromptCase> {};

TEST_P(AdapterPrompt, AcceptsANumberOrQAndRefusesEverythingElse) {
  const PromptCase& c = GetParam();
  const auto list = entries({
      {"eth0", {}, {}, Status::Available},
      {"eth1", {}, {}, Status::NotRequired},
      {"eth2", {}, {}, Status::Available},
  });
  std::FILE* in = std::tmpfile();
  std::fwrite(c.input.data(), 1, c.input.size(), in);
  std::rewind(in);
  char* printed = nullptr;
  std::size_t printedSize = 0;
  std::FILE* out = open_memstream(&printed, &printedSize);
  const std::size_t chosen =
      c.rollback ? selectAdapterForRollback(list, in, out) : selectAdapterForUpdate(list, in, out);
  std::fclose(out);
  std::fclose(in);
  const std::string output(printed, printedSize);
  std::free(printed);

  EXPECT_EQ(chosen, c.chosen);
  std::string expected = c.rollback ? "Enter adapter number or 'q' to quit \n>"
                                    : "Enter adapter number or 'q' for quit without update \n>";
  for (int i = 0; i < c.invalid; ++i)
    expected += "Invalid input\n>";
  EXPECT_EQ(output, expected);
}

INSTANTIATE_TEST_SUITE_P(Inputs, AdapterPrompt, ::testing::ValuesIn(kPromptCases));

}  // namespace
}  // namespace hlv
