// The operator guide's bad-input table, row by row: for each class of bad input the whole tool
// meets (sysfs, the database, the image files, the flash, the operator), what it says, its exit
// status, and what becomes of the flash. Each case names its row; a change of the table or of
// the tool that makes them disagree fails here. (The rows of the lab files and of the trace
// decoder are tested with hlvsim and hlvtrace, the rollback journal's with the rollback.)
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/expected_output.h"
#include "tests/e2e/lab_scenario.h"
#include "tests/support/operator_texts.h"
#include "tests/support/reference_layout.h"
#include "tests/support/files.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"

namespace hlv::test {
namespace {

namespace fs = std::filesystem;

constexpr FirmwareVersion kOld{1, 5, 90};
constexpr FirmwareVersion kNew{1, 6, 2};

// What a run leaves on an adapter's flash.
enum class Flash { kUntouched, kUpdated };

struct BadInput {
  const char* what;                        // the row and the input
  std::function<LabSpec()> lab;            // the machine
  std::function<void(Lab&)> prepare = {};  // what is broken after the lab is built, if anything
  RunOptions run;
  int exitStatus;
  std::vector<std::string> says;  // on standard output, each once
  std::string errorSays = "";     // on standard error, if anything
  std::vector<Flash> flashes;     // per adapter
};

void PrintTo(const BadInput& c, std::ostream* os) {
  *os << c.what;
}

const RunOptions kSilent{.args = {"-s"}};

std::string sysFile(std::size_t adapter, const std::string& name) {
  return "sys/bus/pci/devices/0000:0" + std::to_string(adapter + 1) + ":00.0/" + name;
}

// Adapters of model 0x20C3 on a board the tool may update, with these subsystem identities, and
// a database entry and image for each identity.
LabSpec labOf(const std::vector<std::pair<uint16_t, uint16_t>>& subsystems) {
  LabSpec lab;
  std::string entries;
  for (std::size_t i = 0; i < subsystems.size(); ++i) {
    LabAdapter adapter = typeTwoLayoutAdapter("enp" + std::to_string(i + 1) + "s0", kOld);
    adapter.subsystemDeviceId = subsystems[i].first;
    adapter.subsystemVendorId = subsystems[i].second;
    adapter.image = "fw_" + std::to_string(i + 1) + ".bin";
    lab.adapters.push_back(adapter);
    lab.images.push_back(bundleImage(adapter.image, kNew));
    entries += boardEntry("b" + std::to_string(i + 1), 0x20C3, subsystems[i].first,
                          subsystems[i].second, adapter.image);
  }
  lab.database = database(entries);
  return lab;
}

LabSpec oneAdapter() {
  return labOf({{0x1F70, 0x1028}});
}

const std::string kNoAdapterOfTheMaker = "No Tessarin network adapter found \n";
const std::string kDatabaseNotLoaded =
    "[!] Couldn't load data from XML file. Check update files. \n";

const BadInput kBadInputs[] = {
    {.what = "sysfs: a function whose vendor is another maker's or unreadable is not one of the "
             "maker's adapters",
     .lab =
         [] {
           LabSpec lab = labOf({{0x1F70, 0x1028}, {0x1F70, 0x1028}});
           lab.machineFiles = {{sysFile(0, "vendor"), "0x8086\n"},
                               {sysFile(1, "vendor"), "no number\n"}};
           return lab;
         },
     .run = kSilent,
     .exitStatus = 42,
     .says = {kNoAdapterOfTheMaker},
     .flashes = {Flash::kUntouched, Flash::kUntouched}},
    // Only the vendor decides whose adapter it is; the subsystem identity is matched as read.
    {.what = "sysfs: a subsystem vendor that is unreadable (read as 0) or another maker's leaves "
             "the adapter one of the maker's, and a database entry of that identity updates it",
     .lab =
         [] {
           LabSpec lab = labOf({{0x1F70, 0x0000}, {0x1F70, 0x8086}});
           lab.machineFiles = {{sysFile(0, "subsystem_vendor"), "no number\n"}};
           return lab;
         },
     .run = kSilent,
     .exitStatus = 0,
     .says = {kUpdateFinished},
     .flashes = {Flash::kUpdated, Flash::kUpdated}},
    {.what = "sysfs: identifier files holding no number read as 0, and an entry without subsystem "
             "identifiers (0) matches and updates the adapter",
     .lab =
         [] {
           LabSpec lab = labOf({{0x0000, 0x0000}});
           lab.machineFiles = {{sysFile(0, "subsystem_device"), "\n"},
                               {sysFile(0, "subsystem_vendor"), "none\n"}};
           return lab;
         },
     .run = kSilent,
     .exitStatus = 0,
     .says = {kUpdateFinished},
     .flashes = {Flash::kUpdated}},
    {.what = "sysfs: a garbled resource table leaves no usable region 0: the registers cannot be "
             "mapped and the adapter is never updated",
     .lab =
         [] {
           LabSpec lab = oneAdapter();
           lab.machineFiles = {{sysFile(0, "resource"), "0xfb000000 garbled\n"}};
           return lab;
         },
     .run = kSilent,
     .exitStatus = 2,
     .says = {versionsUnreadable("enp1s0"), kNothingToUpdate},
     .flashes = {Flash::kUntouched}},
    {.what = "sysfs: an adapter without a network interface is named unknown and updated",
     .lab =
         [] {
           LabSpec lab = oneAdapter();
           lab.adapters[0].name = "";
           return lab;
         },
     .run = kSilent,
     .exitStatus = 0,
     .says = {"+ Adapter: unknown \n", kUpdateFinished},
     .flashes = {Flash::kUpdated}},
    {.what = "database: updatedata.xml missing",
     .lab = oneAdapter,
     .prepare = [](Lab& lab) { fs::remove(lab.root() + "/tool/updatedata.xml"); },
     .run = kSilent,
     .exitStatus = 9,
     .says = {kDatabaseNotLoaded},
     .flashes = {Flash::kUntouched}},
    {.what = "database: configuration bytes that are not hexadecimal",
     .lab =
         [] {
           LabSpec lab = oneAdapter();
           lab.database = database(
               R"(  <bdp id="b1"><hwids><hwid vid="1E9C" did="20C3" sdid="1F70" svid="1028"/>)"
               "</hwids><mac>0G</mac><phy>00</phy><image>fw_1.bin</image></bdp>\n");
           return lab;
         },
     .run = kSilent,
     .exitStatus = 9,
     .says = {kDatabaseNotLoaded},
     .flashes = {Flash::kUntouched}},
    // An identifier is read as far as it is hexadecimal: "20G3" is 0x20, no adapter's device.
    {.what = "database: an identifier that is not hexadecimal throughout matches no adapter",
     .lab =
         [] {
           LabSpec lab = oneAdapter();
           lab.database = database(
               R"(  <bdp id="b1"><hwids><hwid vid="1E9C" did="20G3" sdid="1F70" svid="1028"/>)"
               "</hwids><mac>00</mac><phy>00</phy><image>fw_1.bin</image></bdp>\n");
           return lab;
         },
     .run = kSilent,
     .exitStatus = 2,
     .says = {kNothingToUpdate},
     .flashes = {Flash::kUntouched}},
    {.what = "database: no entry for an adapter",
     .lab =
         [] {
           LabSpec lab = oneAdapter();
           lab.database = database(boardEntry("other", 0x21C3, 0x1F70, 0x1028, "fw_1.bin"));
           return lab;
         },
     .run = kSilent,
     .exitStatus = 2,
     .says = {kNothingToUpdate},
     .flashes = {Flash::kUntouched}},
    // A name climbing out of the bundle is refused by its name, with the reason on standard
    // error; a file longer than the largest flash is not read (read modulo 2^32 it would pass as
    // the 2 MiB image it begins with).
    {.what = "image file: missing, named through \"..\", or longer than the largest flash",
     .lab =
         [] {
           LabSpec lab = labOf({{0x1F70, 0x1028}, {0x1F71, 0x1028}, {0x1F72, 0x1028}});
           lab.images.erase(lab.images.begin());
           lab.database = database(boardEntry("b1", 0x20C3, 0x1F70, 0x1028, "fw_1.bin") +
                                   boardEntry("b2", 0x20C3, 0x1F71, 0x1028, "../tool/fw_2.bin") +
                                   boardEntry("b3", 0x20C3, 0x1F72, 0x1028, "fw_3.bin"));
           return lab;
         },
     .prepare =
         [](Lab& lab) {
           fs::resize_file(lab.root() + "/tool/fw_3.bin", (uint64_t{1} << 32) + 0x200000);
         },
     .run = kSilent,
     .exitStatus = 2,
     .says = {"[!] Couldn't read file 'fw_1.bin' \n",
              "[!] Couldn't read file '../tool/fw_2.bin' \n",
              "[!] Couldn't read file 'fw_3.bin' \n", kNothingToUpdate},
     .errorSays = "[!] Image file name '../tool/fw_2.bin' refused: it has a \"..\" component, "
                  "which could lead out of the bundle \n",
     .flashes = {Flash::kUntouched, Flash::kUntouched, Flash::kUntouched}},
    // Only a regular file is an image: a directory would read as a file of 4 GiB, and a named
    // pipe would hold the run until something wrote into it.
    {.what = "image file: a directory or a named pipe in its place is no image, and the pipe is "
             "not waited on",
     .lab = [] { return labOf({{0x1F70, 0x1028}, {0x1F71, 0x1028}}); },
     .prepare =
         [](Lab& lab) {
           const std::string bundle = lab.root() + "/tool/";
           fs::remove(bundle + "fw_1.bin");
           fs::create_directory(bundle + "fw_1.bin");
           fs::remove(bundle + "fw_2.bin");
           ASSERT_EQ(mkfifo((bundle + "fw_2.bin").c_str(), 0600), 0);
         },
     .run = kSilent,
     .exitStatus = 2,
     .says = {"[!] Couldn't read file 'fw_1.bin' \n", "[!] Couldn't read file 'fw_2.bin' \n",
              kNothingToUpdate},
     .flashes = {Flash::kUntouched, Flash::kUntouched}},
    // A name beginning with "/" is joined to the bundle directory like any other name.
    {.what = "image file: a name beginning with \"/\" names the file in the bundle, which updates "
             "the adapter",
     .lab =
         [] {
           LabSpec lab = oneAdapter();
           lab.database = database(boardEntry("b1", 0x20C3, 0x1F70, 0x1028, "/fw_1.bin"));
           return lab;
         },
     .run = kSilent,
     .exitStatus = 0,
     .says = {kUpdateFinished},
     .flashes = {Flash::kUpdated}},
    {.what = "image file: shorter than 2 MiB: the adapter is not offered it",
     .lab =
         [] {
           LabSpec lab = oneAdapter();
           lab.images[0].spec.imageSize = 0x100000;
           return lab;
         },
     .run = kSilent,
     .exitStatus = 2,
     .says = {kNothingToUpdate},
     .flashes = {Flash::kUntouched}},
    {.what = "image file: a component not matching its CRC fails the update before the first "
             "erase",
     .lab =
         [] {
           LabSpec lab = oneAdapter();
           lab.images[0].spec.ncbs[0].romCrc.kind = image::CrcSpec::Kind::kBad;
           return lab;
         },
     .run = kSilent,
     .exitStatus = 26,
     .says = {"|-- Updating... [FAILED : 26] \n"},
     .flashes = {Flash::kUntouched}},
    {.what = "flash: no active block whose CRC holds",
     .lab =
         [] {
           LabSpec lab = oneAdapter();
           lab.adapters[0].flash.ncbs[0].ncbCrc.kind = image::CrcSpec::Kind::kBad;
           return lab;
         },
     .run = kSilent,
     .exitStatus = 2,
     .says = {versionsUnreadable("enp1s0"), kNothingToUpdate},
     .flashes = {Flash::kUntouched}},
    {.what = "operator: a bad command line",
     .lab = oneAdapter,
     .run = {.args = {"-x"}},
     .exitStatus = 255,
     .says = {kUsage},
     .flashes = {Flash::kUntouched}},
    {.what = "operator: anything but y or yes at the confirmation",
     .lab = oneAdapter,
     .run = {.input = "no\n"},
     .exitStatus = 255,
     .says = {"Proceed with update? (y/n): "},
     .flashes = {Flash::kUntouched}},
    {.what = "operator: a bad adapter number and an empty line are asked again; q quits",
     .lab = oneAdapter,
     .run = {.input = "y\n7\n\nq\n"},
     .exitStatus = 41,
     .says = {updateNumberPrompt(2)},
     .flashes = {Flash::kUntouched}},
    {.what = "operator: anything but y or yes at the rollback's confirmation",
     .lab =
         [] {
           LabSpec lab = oneAdapter();
           lab.adapters[0] = updatedAdapter("enp1s0", kOld, kNew);
           return lab;
         },
     .run = {.args = {"-r"}, .input = "y\n1\nno\n"},
     .exitStatus = 41,
     .says = {kRollbackAborted},
     .flashes = {Flash::kUntouched}},
};

class BadInputRow : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadInputRow, IsAnsweredAsTheTableSays) {
  const BadInput& c = GetParam();
  TempDir directory;
  Lab lab(directory, c.lab());
  if (c.prepare) c.prepare(lab);
  const ProcessResult result = lab.run(c.run);
  EXPECT_EQ(result.exitStatus, c.exitStatus) << result.out << result.err;
  for (const std::string& text : c.says)
    EXPECT_EQ(occurrences(result.out, text), 1u) << text << "\nin\n" << result.out;
  if (!c.errorSays.empty()) {
    EXPECT_EQ(occurrences(result.err, c.errorSays), 1u) << result.err;
  }
  ASSERT_EQ(c.flashes.size(), lab.spec().adapters.size());
  for (std::size_t i = 0; i < c.flashes.size(); ++i) {
    std::vector<uint8_t> expected = lab.flashBefore(i);
    if (c.flashes[i] == Flash::kUpdated) {
      expected = referenceUpdate(expected, lab.imageBytes(lab.spec().adapters[i].image), macBytes(),
                                 phyBytes());
    }
    EXPECT_TRUE(lab.flashAfter(i) == expected) << "adapter " << lab.bdf(i);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, BadInputRow, ::testing::ValuesIn(kBadInputs));

}  // namespace
}  // namespace hlv::test
