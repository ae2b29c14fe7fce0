// "hlvsim lab capture", "hlvsim lab flash" and "hlvsim rehearse": a machine's adapters read from
// its sysfs, its backups put in as their flashes, and a bundle tried on a copy; the rehearsal's
// verdicts are what the tool then really does on the same lab.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/ipc.h>
#include <sys/sem.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "device/driver_control.h"
#include "device/pci_discovery.h"
#include "platform/linux_platform.h"
#include "tests/e2e/lab_scenario.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/files.h"
#include "tests/support/json_reader.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv::test {
namespace {

namespace fs = std::filesystem;

constexpr FirmwareVersion kOld{1, 5, 90};
constexpr FirmwareVersion kMiddle{1, 6, 0};
constexpr FirmwareVersion kNew{1, 6, 2};
// The tool's single-instance key comes from a file of this name in its working directory: the
// runs here get a key of their own.
constexpr const char* kInstanceKeyFile = "5F3A9C12-7B44-4E0D-A1C6-93D2E8B047F1";

LabAdapter withSubsystemDevice(LabAdapter adapter, uint16_t subsystemDeviceId) {
  adapter.subsystemDeviceId = subsystemDeviceId;
  return adapter;
}

const std::string kDatabase =
    database(boardEntry("t1", 0x20C3, 0x1F70, 0x1028, "fw_20c3.bin") +
             boardEntry("t2", 0x21C3, 0x1F70, 0x1028, "fw_21c3.bin"));

void writeBundle(const std::string& directory, const std::vector<BundleImage>& images,
                 const std::string& databaseText) {
  for (const BundleImage& image : images)
    writeBinaryFile(directory + "/" + image.file, image::buildImage(image.spec));
  writeFile(directory + "/updatedata.xml", databaseText);
}

// Every file of the tree with its contents, symbolic links as their targets.
std::map<std::string, std::string> treeContents(const std::string& root) {
  std::map<std::string, std::string> contents;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).string();
    if (entry.is_symlink()) {
      contents[relative] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_regular_file()) {
      contents[relative] = readFile(entry.path().string());
    } else {
      contents[relative] = "directory";
    }
  }
  return contents;
}

std::string sha256Hex(const std::vector<uint8_t>& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    text += pair;
  }
  return text;
}

// hlvsim in a working directory of the test's own, where the tool's instance key is.
class Hlvsim {
 public:
  explicit Hlvsim(const TempDir& directory) : work_(directory / "work") {
    writeFile(work_ + "/" + kInstanceKeyFile, "");
  }
  ~Hlvsim() {
    const int id = semget(ftok((work_ + "/" + kInstanceKeyFile).c_str(), 0), 0, 0);
    if (id != -1) semctl(id, 0, IPC_RMID);
  }
  ProcessResult operator()(const std::vector<std::string>& args) const {
    ProcessOptions options;
    options.workDir = work_;
    options.timeoutSeconds = 300;
    return runProcess(builtProgram("hlvsim"), args, options);
  }

 private:
  std::string work_;
};

JsonValue parsed(const ProcessResult& result) {
  std::string error;
  const std::optional<JsonValue> value = parseJson(result.out, error);
  EXPECT_TRUE(value.has_value()) << error << "\n" << result.out << result.err;
  return value.value_or(JsonValue());
}

std::string joined(const JsonValue& lines) {
  std::string text;
  for (const JsonValue& line : lines.items())
    text += line.text() + "\n";
  return text;
}

// A machine with five adapters, updated once with an earlier bundle so that its log directory
// holds backups: a type-1 model in the old layout, a type-2 model, one up to date, one the
// bundles have no image for, and one more type-1 model. Its sysfs is captured and each flash
// put in from its backup, or from a dump where that run left none; the last adapter is given a
// part that loses power in its erase. The rehearsal of a newer bundle on that lab must say what
// the tool then does there: each adapter's table line and block, its flash afterwards, the exit
// status; and the lab is the same afterwards.
TEST(HlvsimRehearse, VerdictsOfACapturedMachineAreWhatTheToolThenDoesOnIt) {
  TempDir directory;
  LabSpec machineSpec;
  machineSpec.adapters = {
      typeOneLayoutAdapter("enp1s0", kOld),
      typeTwoDevice(typeTwoLayoutAdapter("enp2s0", kOld)),
      typeTwoLayoutAdapter("enp3s0", kNew),
      withSubsystemDevice(typeTwoLayoutAdapter("enp4s0", kOld), 0x1F71),
      typeTwoLayoutAdapter("enp5s0", kOld),
  };
  machineSpec.images = {bundleImage("fw_20c3.bin", kMiddle),
                        bundleImage("fw_21c3.bin", kMiddle, 0x21C3)};
  machineSpec.database = kDatabase;
  machineSpec.boardName = "RACK-BOARD-7\n";
  Lab machine(directory, machineSpec);
  const ProcessResult earlier = machine.run({.args = {"-s"}});
  ASSERT_EQ(earlier.exitStatus, 0) << earlier.out << earlier.err;
  const std::string logs = machine.logDirectory();
  ASSERT_FALSE(logs.empty());

  const Hlvsim hlvsim(directory);
  const std::string lab = directory / "captured";
  const ProcessResult capture = hlvsim({"lab", "capture", lab, "--sys", machine.root() + "/sys"});
  ASSERT_EQ(capture.exitStatus, 0) << capture.err;
  EXPECT_EQ(capture.out,
            "0000:01:00.0 enp1s0\n0000:02:00.0 enp2s0\n0000:03:00.0 enp3s0\n0000:04:00.0 enp4s0\n"
            "0000:05:00.0 enp5s0\n");
  for (std::size_t i = 0; i < machineSpec.adapters.size(); ++i) {
    std::string flash = logs + "image_" + machine.displayName(i) + ".bin";
    if (!fileExists(flash)) {
      flash = directory / ("dump" + std::to_string(i));
      ASSERT_EQ(hlvsim({"flash", machine.root(), machine.bdf(i), "backup", flash}).exitStatus, 0);
    }
    const ProcessResult put = hlvsim({"lab", "flash", lab, machine.bdf(i), flash});
    ASSERT_EQ(put.exitStatus, 0) << put.err;
    EXPECT_EQ(put.out, machine.bdf(i) + ": part EF6015, 2097152 bytes\n");
  }
  const std::string lastConf = lab + "/adapters/0000:05:00.0/adapter.conf";
  writeFile(lastConf, readFile(lastConf) + "power_cut_after = 3\n");

  const std::string bundle = directory / "bundle";
  writeBundle(bundle, {bundleImage("fw_20c3.bin", kNew), bundleImage("fw_21c3.bin", kNew, 0x21C3)},
              kDatabase);
  const std::map<std::string, std::string> labBefore = treeContents(lab);
  const ProcessResult rehearsal = hlvsim({"rehearse", lab, bundle, "--json"});
  EXPECT_EQ(rehearsal.exitStatus, 1) << "an update would fail" << rehearsal.err;
  EXPECT_EQ(treeContents(lab), labBefore) << "the rehearsal changed the lab";
  const JsonValue report = parsed(rehearsal);

  // The same bundle really run on the same lab.
  fs::copy(bundle, lab + "/tool", fs::copy_options::recursive);
  const ProcessResult real = hlvsim({"run", lab, "--", "-s"});
  EXPECT_EQ(report["tool_status"].asInt64(), real.exitStatus);
  EXPECT_EQ(real.exitStatus, 17) << real.out;
  EXPECT_FALSE(report["succeeds"].boolean());

  const JsonValue& adapters = report["adapters"];
  ASSERT_EQ(adapters.items().size(), 5u) << rehearsal.out;
  for (std::size_t i = 0; i < adapters.items().size(); ++i) {
    const JsonValue& adapter = adapters[i];
    SCOPED_TRACE(machine.bdf(i));
    EXPECT_EQ(adapter["bdf"].text(), machine.bdf(i));
    EXPECT_NE(real.out.find("\n" + adapter["table_row"].text() + "\n"), std::string::npos)
        << adapter["table_row"].text() << "\n" << real.out;
    EXPECT_NE(real.out.find(joined(adapter["console"])), std::string::npos)
        << joined(adapter["console"]) << "\n" << real.out;
    EXPECT_EQ(adapter["flash_after_sha256"].text(),
              sha256Hex(readBinaryFile(lab + "/adapters/" + machine.bdf(i) + "/flash.bin")));
  }

  // What each verdict says, beyond agreeing with the run.
  struct Verdict {
    const char* status;
    const char* reason;
    bool attempted;
    int64_t result;
    bool transformed;
    bool powerCycle;
  };
  const Verdict verdicts[] = {
      {"Available", "holds 1.6.2, newer than the running 1.5.90", true, 0, true, false},
      {"Available", "holds 1.6.2, newer than the running 1.5.90", true, 0, false, true},
      {"Not required", "not newer than the running 1.6.2", false, -1, false, false},
      {"Not available", "no board entry for VEN_1E9C&DEV_20C3&SUBSYS_1F711028", false, -1, false,
       false},
      {"Available", "newer than the running 1.5.90", true, 17, false, true},
  };
  for (std::size_t i = 0; i < std::size(verdicts); ++i) {
    const JsonValue& adapter = adapters[i];
    const Verdict& expected = verdicts[i];
    SCOPED_TRACE(machine.bdf(i));
    EXPECT_EQ(adapter["status"].text(), expected.status);
    EXPECT_NE(adapter["reason"].text().find(expected.reason), std::string::npos)
        << adapter["reason"].text();
    EXPECT_EQ(adapter["attempted"].boolean(), expected.attempted);
    EXPECT_EQ(adapter["result"].asInt64().value_or(-1), expected.result);
    EXPECT_EQ(adapter["transformed"].boolean(), expected.transformed);
    EXPECT_EQ(adapter["power_cycle"].boolean(), expected.powerCycle);
  }
  EXPECT_EQ(adapters[0]["flash_before"]["layout"].asInt64(), 1);
  EXPECT_EQ(adapters[0]["flash_after"]["layout"].asInt64(), 2);
  EXPECT_EQ(adapters[0]["flash_after"]["version"].text(), "1.6.2");
  EXPECT_EQ(adapters[0]["reload"].asInt64(), 0);
  EXPECT_EQ(adapters[4]["flash_after"]["version"].text(), "1.5.90") << "the old bank stays";
}

// Bundles the tool would refuse for the one adapter of a lab: each is reported as such, with
// the reason (the damaged image is offered, and its update refused before the first erase),
// the flash is not written, and the lab is unchanged.
struct RefusedBundle {
  const char* name;
  BundleImage image;
  const char* status;
  const char* why;  // in the reason, or for a refused update in its outcome
  int toolStatus;
  std::string database = kDatabase;
};
void PrintTo(const RefusedBundle& refused, std::ostream* out) {
  *out << refused.name;
}

BundleImage damaged(BundleImage image) {
  image.spec.ncbs[0].romCrc.kind = image::CrcSpec::Kind::kBad;
  return image;
}

// One adapter running the old firmware in the type-2 layout; the lab's database offers its model
// an image.
Lab oneOldAdapterLab(const TempDir& directory) {
  LabSpec spec;
  spec.adapters = {typeTwoLayoutAdapter("enp1s0", kOld)};
  spec.database = kDatabase;
  return Lab(directory, spec);
}

class HlvsimRehearseRefused : public ::testing::TestWithParam<RefusedBundle> {};

TEST_P(HlvsimRehearseRefused, IsReportedWithItsReasonAndLeavesTheLabAsItWas) {
  const RefusedBundle& refused = GetParam();
  TempDir directory;
  Lab lab = oneOldAdapterLab(directory);
  const std::string bundle = directory / "bundle";
  writeBundle(bundle, {refused.image}, refused.database);

  const Hlvsim hlvsim(directory);
  const std::map<std::string, std::string> labBefore = treeContents(lab.root());
  const ProcessResult text = hlvsim({"rehearse", lab.root(), bundle});
  const ProcessResult json = hlvsim({"rehearse", lab.root(), bundle, "--json"});
  EXPECT_EQ(treeContents(lab.root()), labBefore);

  // Nothing updated is nothing failed; an update refused is a failure.
  const bool attempted = refused.toolStatus != 2;
  EXPECT_EQ(json.exitStatus, attempted ? 1 : 0) << json.err;
  const JsonValue report = parsed(json);
  EXPECT_EQ(report["tool_status"].asInt64(), refused.toolStatus);
  const JsonValue& adapter = report["adapters"][0];
  EXPECT_EQ(adapter["status"].text(), refused.status);
  const std::string why = adapter[attempted ? "outcome" : "reason"].text();
  EXPECT_NE(why.find(refused.why), std::string::npos) << why;
  EXPECT_EQ(adapter["attempted"].boolean(), attempted);
  EXPECT_FALSE(adapter["flash_changed"].boolean());
  EXPECT_EQ(text.exitStatus, json.exitStatus);
  EXPECT_NE(text.out.find(std::string("  status: ") + refused.status + ": "), std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("  flash before: NCB0 active, layout type 2, firmware 1.5.90 in bank A, "
                          "previous none, components ok\n  flash after:  unchanged\n"),
            std::string::npos)
      << text.out;
}

INSTANTIATE_TEST_SUITE_P(
    Bundles, HlvsimRehearseRefused,
    ::testing::Values(
        RefusedBundle{"WrongImageType", bundleImage("fw_20c3.bin", kNew, 0x21C3),
                      "Not available",
                      "it takes images of type 1, image 'fw_20c3.bin' is of type 2", 2},
        RefusedBundle{"OlderVersion", bundleImage("fw_20c3.bin", {1, 5, 0}), "Not required",
                      "holds 1.5.0, not newer than the running 1.5.90", 2},
        RefusedBundle{"DamagedImage", damaged(bundleImage("fw_20c3.bin", kNew)), "Available",
                      "the update failed (status 26: an image component does not match its "
                      "CRC); the firmware it ran stays intact",
                      26},
        RefusedBundle{"ImageNameClimbsOutOfTheBundle", bundleImage("fw_20c3.bin", kNew),
                      "Not available",
                      "image name '../fw_20c3.bin' is refused: it has a \"..\" component, which "
                      "could lead out of the bundle",
                      2, database(boardEntry("t1", 0x20C3, 0x1F70, 0x1028, "../fw_20c3.bin"))}),
    [](const ::testing::TestParamInfo<RefusedBundle>& info) { return info.param.name; });

// The tool ends with 3 both when -a names no adapter and when an update was not possible: the
// rehearsal tells them apart by whether an update was tried.
TEST(HlvsimRehearse, AnAdapterNameThatNamesNoAdapterIsNotTakenForAFailedUpdate) {
  TempDir directory;
  Lab lab = oneOldAdapterLab(directory);
  const std::string bundle = directory / "bundle";
  writeBundle(bundle, {bundleImage("fw_20c3.bin", kNew)}, kDatabase);

  const Hlvsim hlvsim(directory);
  const ProcessResult json =
      hlvsim({"rehearse", lab.root(), bundle, "--json", "--adapter", "enp9s9"});
  EXPECT_EQ(json.exitStatus, 1) << json.err;
  const JsonValue report = parsed(json);
  EXPECT_EQ(report["tool_status"].asInt64(), 3);
  EXPECT_EQ(report["tool_outcome"].text(), "the adapter named with -a does not exist");
  EXPECT_FALSE(report["adapters"][0]["attempted"].boolean());
}

// An adapter of a capture without a flash (no backup of it was put in): what the tool would do
// to it is not known, so the rehearsal does not pass, unless the run is for another adapter.
TEST(HlvsimRehearse, AnAdapterWithoutAFlashLeavesTheVerdictOpen) {
  TempDir directory;
  FakeSysfs machine(directory / "machine");
  machine.addFunction({.bdf = "0000:01:00.0", .interfaceName = "enp1s0"});
  const Hlvsim hlvsim(directory);
  const std::string lab = directory / "lab";
  ASSERT_EQ(hlvsim({"lab", "capture", lab, "--sys", machine.root() + "/sys"}).exitStatus, 0);
  writeBundle(directory / "bundle", {bundleImage("fw_20c3.bin", kNew)}, kDatabase);

  const ProcessResult all = hlvsim({"rehearse", lab, directory / "bundle", "--json"});
  EXPECT_EQ(all.exitStatus, 1);
  const JsonValue report = parsed(all);
  EXPECT_FALSE(report["adapters"][0]["has_flash"].boolean());
  EXPECT_NE(report["adapters"][0]["reason"].text().find("the lab holds no flash for it"),
            std::string::npos)
      << report["adapters"][0]["reason"].text();
  const ProcessResult other =
      hlvsim({"rehearse", lab, directory / "bundle", "--adapter", "enp9s0"});
  EXPECT_EQ(other.exitStatus, 0) << other.out;
}

// What the tool's own readers find on a machine, and on the lab captured from it.
struct Seen {
  std::string bdf, interfaceName, driverVersion, macAddress;
  uint16_t ids[4];
  std::array<PciResource, kPciResourceCount> resources;
  bool operator==(const Seen& other) const {
    return bdf == other.bdf && interfaceName == other.interfaceName &&
           driverVersion == other.driverVersion && macAddress == other.macAddress &&
           std::equal(std::begin(ids), std::end(ids), std::begin(other.ids)) &&
           std::equal(resources.begin(), resources.end(), other.resources.begin(),
                      [](const PciResource& a, const PciResource& b) {
                        return a.start == b.start && a.size == b.size && a.flags == b.flags;
                      });
  }
};

std::vector<Seen> seenByTheTool(const std::string& root) {
  platform::RootedPlatform machine(root);
  const platform::ScopedPlatform scoped(machine);
  std::vector<Seen> seen;
  for (const std::unique_ptr<AdapterInfo>& adapter : discoverAdapters()) {
    PciDevice device;
    initPciDevice(device, adapter->sysfsPath);
    seen.push_back({adapter->bdf,
                    adapter->interfaceName,
                    adapter->driverVersion,
                    adapter->macAddress,
                    {adapter->vendorId, adapter->deviceId, adapter->subsystemDeviceId,
                     adapter->subsystemVendorId},
                    device.resources});
  }
  return seen;
}

// A machine with the odd things real sysfs trees hold; the tool reads the captured lab as it
// reads the machine, and a capture of the capture is the capture again.
TEST(HlvsimCapture, TheToolReadsTheCapturedLabAsItReadsTheMachine) {
  TempDir directory;
  FakeSysfs machine(directory / "machine");
  machine.addFunction({.bdf = "0000:01:00.0", .subsystemVendorId = 0x1028,
                       .subsystemDeviceId = 0x1F70, .interfaceName = "enp1s0f0"});
  machine.addFunction({.bdf = "0000:02:00.0", .interfaceName = std::nullopt});  // no interface
  machine.addFunction({.bdf = "0000:03:00.0", .driver = std::nullopt});         // unbound
  machine.addFunction({.bdf = "0000:04:00.0", .vendorId = 0x8086});  // another maker's
  machine.addFunction({.bdf = "0000:05:00.0", .interfaceName = "eth5"});
  machine.writeSysFile("/sys/bus/pci/devices/0000:05:00.0/resource", "0xfb000000 garbled\n");
  machine.writeSysFile("/sys/bus/pci/devices/0000:05:00.0/net/eth5/address",
                       std::string(4096, 'a'));  // read no further than an address
  machine.addFunction({.bdf = "0000:06:00.0", .driver = "halvern-fwd",
                       .driverVersion = "3.0.0-odd version\nsecond line\n"});
  machine.writeSysFile("/sys/bus/pci/devices/0000:07:00.0/vendor", "no number\n");
  machine.writeSysFile("/sys/bus/pci/devices/not-an-address/vendor", "0x1e9c\n");
  machine.setBoardName(std::string(1000, 'B') + "\nmore\n");

  const Hlvsim hlvsim(directory);
  const std::string lab = directory / "lab";
  const ProcessResult capture = hlvsim({"lab", "capture", lab, "--sys", machine.root() + "/sys"});
  ASSERT_EQ(capture.exitStatus, 0) << capture.err;
  EXPECT_EQ(capture.out,
            "0000:01:00.0 enp1s0f0\n0000:02:00.0 unknown\n0000:03:00.0 eth0\n0000:05:00.0 eth5\n"
            "0000:06:00.0 eth0\n");
  const std::vector<Seen> original = seenByTheTool(machine.root());
  ASSERT_EQ(original.size(), 5u);
  EXPECT_TRUE(seenByTheTool(lab) == original);
  EXPECT_FALSE(fs::exists(lab + "/adapters")) << "the flashes are added afterwards";
  EXPECT_TRUE(fs::is_directory(lab + "/tool"));
  EXPECT_FALSE(fs::exists(lab + "/sys/bus/pci/devices/0000:03:00.0/driver"));
  EXPECT_FALSE(fs::exists(lab + "/sys/bus/pci/devices/0000:02:00.0/net"));
  EXPECT_EQ(readFile(lab + "/sys/devices/virtual/dmi/id/board_name"), std::string(255, 'B'))
      << "the board name as the tool reads it: its first line, within the tool's bound";

  const std::string again = directory / "again";
  ASSERT_EQ(hlvsim({"lab", "capture", again, "--sys", lab + "/sys"}).exitStatus, 0);
  EXPECT_EQ(treeContents(again + "/sys"), treeContents(lab + "/sys"));
}

// Whether the tool can restart an adapter's driver is decided on the lab as on the machine: by
// the driver directories' listings, which the tool reads, not by the function's "driver" link.
// A function bound to a driver the tool does not restart keeps it, with its version.
TEST(HlvsimCapture, TheLabAndTheMachineAgreeOnWhichDriverTheToolRestarts) {
  TempDir directory;
  FakeSysfs machine(directory / "machine");
  machine.addFunction({.bdf = "0000:01:00.0"});
  machine.addFunction({.bdf = "0000:02:00.0", .driver = "halvern-fwd"});
  // Linked to "halvern", but not in its directory's listing.
  machine.addFunction({.bdf = "0000:03:00.0"});
  fs::remove(machine.hostPath("/sys/bus/pci/drivers/halvern/0000:03:00.0"));
  // In the listing of "halvern-fwd", without a link back.
  machine.addFunction({.bdf = "0000:04:00.0", .driver = std::nullopt});
  machine.bindFunction("0000:04:00.0", "halvern-fwd");
  fs::remove(machine.hostPath("/sys/bus/pci/devices/0000:04:00.0/driver"));
  machine.addFunction({.bdf = "0000:05:00.0", .driver = "vfio-pci", .driverVersion = "0.2\n"});

  const Hlvsim hlvsim(directory);
  const std::string lab = directory / "lab";
  const ProcessResult capture = hlvsim({"lab", "capture", lab, "--sys", machine.root() + "/sys"});
  ASSERT_EQ(capture.exitStatus, 0) << capture.err;

  const auto ownersOn = [](const std::string& root) {
    platform::RootedPlatform rooted(root);
    const platform::ScopedPlatform scoped(rooted);
    std::vector<std::string> owners;
    for (const char* bdf :
         {"0000:01:00.0", "0000:02:00.0", "0000:03:00.0", "0000:04:00.0", "0000:05:00.0"}) {
      const char* owner = owningDriver(bdf);
      owners.push_back(owner != nullptr ? owner : "none");
    }
    return owners;
  };
  const std::vector<std::string> expected = {"halvern", "halvern-fwd", "none", "halvern-fwd",
                                             "none"};
  EXPECT_EQ(ownersOn(machine.root()), expected);
  EXPECT_EQ(ownersOn(lab), expected);
  EXPECT_EQ(fs::read_symlink(lab + "/sys/bus/pci/devices/0000:05:00.0/driver").filename(),
            "vfio-pci");
  EXPECT_EQ(seenByTheTool(lab)[4].driverVersion, "0.2\n");
}

TEST(HlvsimCapture, RefusesWhatItCannotReadOrWouldOverwrite) {
  TempDir directory;
  const Hlvsim hlvsim(directory);
  const ProcessResult missing = hlvsim({"lab", "capture", directory / "lab", "--sys",
                                        directory / "nothing"});
  EXPECT_EQ(missing.exitStatus, 1);
  EXPECT_NE(missing.err.find("not a directory"), std::string::npos) << missing.err;
  writeFile(directory / "empty/.keep", "");
  const ProcessResult unlisted = hlvsim({"lab", "capture", directory / "lab", "--sys",
                                         directory / "empty"});
  EXPECT_EQ(unlisted.exitStatus, 1);
  EXPECT_NE(unlisted.err.find("bus/pci/devices: cannot be listed"), std::string::npos)
      << unlisted.err;
  ASSERT_EQ(hlvsim({"lab", "init", directory / "lab"}).exitStatus, 0);
  FakeSysfs machine(directory / "machine");
  machine.addFunction({});
  const ProcessResult existing =
      hlvsim({"lab", "capture", directory / "lab", "--sys", machine.root() + "/sys"});
  EXPECT_EQ(existing.exitStatus, 1);
  EXPECT_NE(existing.err.find("a lab already exists there"), std::string::npos) << existing.err;
}

// The part for a flash file: given, or the one of the identification table with the file's
// size; a size several parts have needs the part named.
struct FlashCase {
  const char* name;
  uint32_t size;
  std::vector<std::string> options;
  int exitStatus;
  const char* says;  // on standard output when it succeeds, else on standard error
  const char* flashLine;
  bool identifies = true;  // the program's flash layer knows the part
};
void PrintTo(const FlashCase& flashCase, std::ostream* out) {
  *out << flashCase.name;
}

class HlvsimLabFlash : public ::testing::TestWithParam<FlashCase> {};

TEST_P(HlvsimLabFlash, ChoosesOrChecksThePart) {
  const FlashCase& c = GetParam();
  TempDir directory;
  const Hlvsim hlvsim(directory);
  const std::string lab = directory / "lab";
  ASSERT_EQ(hlvsim({"lab", "init", lab}).exitStatus, 0);
  const std::string conf = lab + "/adapters/0000:01:00.0/adapter.conf";
  writeFile(conf, "flash = EF6015\nengine_busy_us = 7\n");
  const std::vector<uint8_t> before = readBinaryFile(lab + "/adapters/0000:01:00.0/flash.bin");
  std::vector<uint8_t> contents(c.size, 0x5A);
  writeBinaryFile(directory / "flash.file", contents);
  std::vector<std::string> args = {"lab", "flash", lab, "0000:01:00.0", directory / "flash.file"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  const ProcessResult result = hlvsim(args);
  EXPECT_EQ(result.exitStatus, c.exitStatus) << result.err;
  const std::string& said = c.exitStatus == 0 ? result.out : result.err;
  EXPECT_NE(said.find(c.says), std::string::npos) << said;
  const std::string confAfter = readFile(conf);
  EXPECT_NE(confAfter.find("engine_busy_us = 7\n"), std::string::npos) << confAfter;
  EXPECT_NE(confAfter.find(c.flashLine), std::string::npos) << confAfter;
  EXPECT_EQ(readBinaryFile(lab + "/adapters/0000:01:00.0/flash.bin"),
            c.exitStatus == 0 ? contents : before);
  if (c.exitStatus == 0 && c.identifies) {
    // The lab takes it: the part identifies with the file's size.
    const ProcessResult identify = hlvsim({"flash", lab, "0000:01:00.0", "identify"});
    EXPECT_NE(identify.out.find(" size " + std::to_string(c.size) + " "), std::string::npos)
        << identify.out << identify.err;
  }
}

constexpr uint32_t kMiB = 1024 * 1024;

INSTANTIATE_TEST_SUITE_P(
    Cases, HlvsimLabFlash,
    ::testing::Values(
        FlashCase{"TwoMegabytesAreTheOnePartOfThatSize", 2 * kMiB, {}, 0,
                  "0000:01:00.0: part EF6015, 2097152 bytes\n", "flash = EF6015\n"},
        FlashCase{"FourMegabytesNeedThePartNamed", 4 * kMiB, {}, 2,
                  "fit several parts (1F2700, C22016, EF4016, 014016)", "flash = EF6015\n"},
        FlashCase{"ANamedPartOfThatSize", 4 * kMiB, {"--part", "C22016"}, 0,
                  "part C22016, 4194304 bytes", "flash = C22016\n"},
        FlashCase{"ANamedPartOfAnotherSize", 4 * kMiB, {"--part", "EF6015"}, 2,
                  "part EF6015 holds 2097152 bytes, the file 4194304", "flash = EF6015\n"},
        FlashCase{"APartOutsideTheTableTakesTheFileSize", 8 * kMiB, {"--part", "C84017"}, 0,
                  "part C84017, 8388608 bytes", "capacity = 8388608\n", false},
        FlashCase{"ASizeNoPartHas", 3 * kMiB, {}, 2, "no part of the identification table holds",
                  "flash = EF6015\n"}),
    [](const ::testing::TestParamInfo<FlashCase>& info) { return info.param.name; });

TEST(HlvsimLabFlash, TakesOnlyAFunctionOfTheLabByItsAddress) {
  TempDir directory;
  const Hlvsim hlvsim(directory);
  const std::string lab = directory / "lab";
  ASSERT_EQ(hlvsim({"lab", "init", lab}).exitStatus, 0);
  writeBinaryFile(directory / "flash.file", std::vector<uint8_t>(2 * kMiB, 0xFF));
  const ProcessResult outside = hlvsim({"lab", "flash", lab, "../../x", directory / "flash.file"});
  EXPECT_EQ(outside.exitStatus, 2);
  EXPECT_NE(outside.err.find("not a PCI address"), std::string::npos) << outside.err;
  const ProcessResult absent =
      hlvsim({"lab", "flash", lab, "0000:09:00.0", directory / "flash.file"});
  EXPECT_EQ(absent.exitStatus, 1);
  EXPECT_NE(absent.err.find("no PCI function 0000:09:00.0"), std::string::npos) << absent.err;
  EXPECT_FALSE(fs::exists(lab + "/adapters/0000:09:00.0"));
}

}  // namespace
}  // namespace hlv::test
