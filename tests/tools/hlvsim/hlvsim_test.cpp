// hlvsim on labs built from the layout on disk: identifying and reading the emulated flash, and
// the lab written by "lab init".
#include <gtest/gtest.h>

#include <ostream>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"
#include "tests/support/hlvsim_lab.h"

namespace hlv::test {
namespace {

ProcessOptions longRun() {
  ProcessOptions options;
  options.timeoutSeconds = 300;
  return options;
}

const std::string kBdf = "0000:03:00.0";

ProcessResult hlvsim(const std::vector<std::string>& args) {
  return runProcess(builtProgram("hlvsim"), args, longRun());
}

struct IdentifyCase {
  const char* name;
  const char* conf;
  const char* expected;
};

void PrintTo(const IdentifyCase& c, std::ostream* os) {
  *os << c.name;
}

const IdentifyCase kIdentifyCases[] = {
    {"Ef6015", "flash = EF6015\n",
     "type 12 id 0x001560EF page 256 sector 4096 block 65536 size 2097152 block_erase yes\n"},
    {"C22016", "flash = C22016\n",
     "type 10 id 0x001620C2 page 256 sector 4096 block 65536 size 4194304 block_erase yes\n"},
    {"Ef4016", "flash = EF4016\n",
     "type 11 id 0x001640EF page 256 sector 4096 block 65536 size 4194304 block_erase yes\n"},
    {"Id014016", "flash = 014016\n",
     "type 14 id 0x00164001 page 256 sector 4096 block 65536 size 4194304 block_erase yes\n"},
    {"SfdpOnlyRevision16", "flash = EF7017\nsfdp = yes\n",
     "type 90 id 0x001770EF page 256 sector 4096 block 65536 size 8388608 block_erase yes\n"},
    {"SfdpOnlyRevision10", "flash = C2FF15\nsfdp = 1.0\n",
     "type 90 id 0x0015FFC2 page 256 sector 4096 block 65536 size 2097152 block_erase yes\n"},
    {"ShortIdPart", "flash = 651F\n",
     "type 0 id 0x0000651F page 128 sector 0 block 0 size 65536 block_erase no\n"},
    {"ReadyBitPart", "flash = 1F2400\n",
     "type 1 id 0x0000241F page 256 sector 2048 block 65536 size 524288 block_erase yes\n"},
    {"DefaultsWithoutConfiguration", "",
     "type 12 id 0x001560EF page 256 sector 4096 block 65536 size 2097152 block_erase yes\n"},
};

class HlvsimIdentify : public testing::TestWithParam<IdentifyCase> {};

TEST_P(HlvsimIdentify, PrintsTheTypeIdAndGeometry) {
  TempDir lab;
  addLabAdapter(lab.path(), kBdf, GetParam().conf);
  const ProcessResult result = hlvsim({"flash", lab.path(), kBdf, "identify"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out, GetParam().expected);
  EXPECT_EQ(statValue(readFile(lab / ("adapters/" + kBdf + "/stats")), "violations"), 0);
}

INSTANTIATE_TEST_SUITE_P(Parts, HlvsimIdentify, testing::ValuesIn(kIdentifyCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct ReadCase {
  const char* name;
  const char* conf;
  uint32_t size;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
  *os << c.name;
}

class HlvsimRead : public testing::TestWithParam<ReadCase> {};

TEST_P(HlvsimRead, ReturnsTheFlashFileByteForByteWithoutViolations) {
  TempDir lab;
  const std::vector<uint8_t> contents =
      addLabAdapter(lab.path(), kBdf, GetParam().conf, GetParam().size, GetParam().size / 7);
  const auto start = std::chrono::steady_clock::now();
  const ProcessResult result = hlvsim({"flash", lab.path(), kBdf, "read", lab / "out.bin"});
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_TRUE(readBinaryFile(lab / "out.bin") == contents);
  EXPECT_TRUE(readBinaryFile(lab / ("adapters/" + kBdf + "/flash.bin")) == contents);
  const std::string stats = readFile(lab / ("adapters/" + kBdf + "/stats"));
  EXPECT_EQ(statValue(stats, "violations"), 0) << stats;
  EXPECT_EQ(statValue(stats, "bytes_read"), GetParam().size) << stats;
  EXPECT_EQ(statValue(stats, "modifying_transfers"), 0) << stats;
  RecordProperty(
      "real_ms",
      std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
}

INSTANTIATE_TEST_SUITE_P(WholeFlash, HlvsimRead,
                         testing::Values(ReadCase{"Ef6015", "flash = EF6015\n", 2u << 20},
                                         ReadCase{"C22016", "flash = C22016\n", 4u << 20},
                                         ReadCase{"Ef4016", "flash = EF4016\n", 4u << 20},
                                         ReadCase{"Id014016", "flash = 014016\n", 4u << 20},
                                         // Sized by its flash file.
                                         ReadCase{"SfdpOnly", "flash = EF7099\nsfdp = yes\n",
                                                  1u << 20}),
                         [](const auto& info) { return std::string(info.param.name); });

struct FailureCase {
  const char* name;
  const char* conf;
  uint32_t flashSize;                // 0: none written
  std::vector<std::string> command;  // after "flash LAB BDF"
  const char* bdf;
  int status;
  const char* message;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.name;
}

const FailureCase kFailureCases[] = {
    {"NoAdapterDirectory",
     "",
     0,
     {"identify"},
     "0000:09:00.0",
     1,
     "no emulated adapter 0000:09:00.0"},
    {"UnknownPart",
     "flash = 123456\n",
     0,
     {"identify"},
     "0000:03:00.0",
     1,
     "flash part not identified (type 101, identification 0x00563412)"},
    {"UnknownKey",
     "flash = EF6015\ncolour = blue\n",
     0,
     {"identify"},
     "0000:03:00.0",
     1,
     "adapter.conf: line 2: unknown key 'colour'"},
    {"FlashFileOfAnotherSize",
     "flash = C22016\n",
     2u << 20,
     {"identify"},
     "0000:03:00.0",
     1,
     "flash.bin: size 2097152 differs from the capacity of the configured part (4194304 bytes)"},
    {"NoPower",
     "power_cut_after = 0\n",
     0,
     {"identify"},
     "0000:03:00.0",
     1,
     "the adapter has no power"},
    {"StuckEngine",
     "engine_stuck = yes\n",
     0,
     {"read", "out.bin"},
     "0000:03:00.0",
     1,
     "flash part not identified"},
    // A busy part answers nothing but its status, so it cannot even be identified.
    {"StuckPart",
     "part_stuck = yes\n",
     0,
     {"read", "out.bin"},
     "0000:03:00.0",
     1,
     "flash part not identified (type 101, identification 0xFFFFFFFF)"},
    {"ProtectedReadyBitPart",
     "flash = 1F2701\nprotected = yes\n",
     0,
     {"identify"},
     "0000:03:00.0",
     1,
     "adapter.conf: protected = yes on the part 1F2701"},
    {"UnknownSubcommand", "", 0, {"erase"}, "0000:03:00.0", 2, "unknown flash subcommand 'erase'"},
    {"ReadWithoutOutput", "", 0, {"read"}, "0000:03:00.0", 2, "read takes one argument"},
};

class HlvsimFailures : public testing::TestWithParam<FailureCase> {};

TEST_P(HlvsimFailures, EndWithAClearMessageAndNonZeroStatus) {
  const FailureCase& c = GetParam();
  TempDir lab;
  addLabAdapter(lab.path(), kBdf, c.conf, c.flashSize);
  std::vector<std::string> args = {"flash", lab.path(), c.bdf};
  args.insert(args.end(), c.command.begin(), c.command.end());
  const ProcessResult result = runProcess(builtProgram("hlvsim"), args, inDirectory(lab.path()));
  EXPECT_EQ(result.exitStatus, c.status);
  EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
  EXPECT_TRUE(result.out.empty()) << result.out;
  EXPECT_FALSE(fileExists(lab / "out.bin"));
}

INSTANTIATE_TEST_SUITE_P(Cases, HlvsimFailures, testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Hlvsim, AMissingLabIsReported) {
  TempDir directory;
  const ProcessResult result = hlvsim({"flash", directory / "nothing", kBdf, "identify"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_NE(result.err.find("no lab there"), std::string::npos) << result.err;
}

TEST(Hlvsim, StatsAreWrittenForEveryAdapterAfterACommand) {
  TempDir lab;
  addLabAdapter(lab.path(), "0000:03:00.0", "");
  addLabAdapter(lab.path(), "0000:04:00.0", "power_cut_after = 2\n");
  ASSERT_EQ(hlvsim({"flash", lab.path(), "0000:03:00.0", "identify"}).exitStatus, 0);
  const std::string used = readFile(lab / "adapters/0000:03:00.0/stats");
  EXPECT_GT(statValue(used, "reg_reads"), 0);
  EXPECT_GT(statValue(used, "virtual_us"), 0);
  const std::string untouched = readFile(lab / "adapters/0000:04:00.0/stats");
  for (const char* key : {"reg_reads", "reg_writes", "bytes_read", "bytes_programmed", "erases_4k",
                          "erases_64k", "modifying_transfers", "violations"}) {
    EXPECT_EQ(statValue(untouched, key), 0) << key;
  }
  EXPECT_NE(untouched.find("power_cut = no\n"), std::string::npos);
}

TEST(Hlvsim, LabInitWritesALabItsFlashCommandsUse) {
  TempDir directory;
  const std::string lab = directory / "lab";
  const ProcessResult init =
      hlvsim({"lab", "init", lab, "--adapters", "2", "--flash", "C22016", "--device", "0x20c4"});
  ASSERT_EQ(init.exitStatus, 0) << init.err;
  EXPECT_EQ(init.out, "0000:01:00.0\n0000:02:00.0\n");
  for (const char* file :
       {"sys/bus/pci/devices/0000:02:00.0/vendor", "sys/bus/pci/devices/0000:02:00.0/resource",
        "sys/bus/pci/devices/0000:02:00.0/net/enp2s0/address",
        "sys/bus/pci/devices/0000:02:00.0/driver/module/version",
        "sys/bus/pci/drivers/halvern/bind", "sys/bus/pci/drivers/halvern/unbind",
        "sys/bus/pci/drivers/halvern/0000:01:00.0", "sys/devices/virtual/dmi/id/board_name",
        "tool"}) {
    EXPECT_TRUE(fileExists(lab + "/" + file)) << file;
  }
  EXPECT_EQ(readFile(lab + "/sys/bus/pci/devices/0000:01:00.0/vendor"), "0x1e9c\n");
  EXPECT_EQ(readFile(lab + "/sys/bus/pci/devices/0000:01:00.0/device"), "0x20c4\n");
  EXPECT_EQ(readFile(lab + "/adapters/0000:01:00.0/adapter.conf"), "flash = C22016\n");
  EXPECT_EQ(readBinaryFile(lab + "/adapters/0000:02:00.0/flash.bin"),
            std::vector<uint8_t>(4u << 20, 0xFF));
  const ProcessResult identify = hlvsim({"flash", lab, "0000:02:00.0", "identify"});
  EXPECT_EQ(identify.exitStatus, 0) << identify.err;
  EXPECT_EQ(identify.out.substr(0, 24), "type 10 id 0x001620C2 pa");

  const ProcessResult again = hlvsim({"lab", "init", lab});
  EXPECT_EQ(again.exitStatus, 1);
  EXPECT_NE(again.err.find("a lab already exists"), std::string::npos) << again.err;
}

TEST(Hlvsim, LabInitRefusesBadOptions) {
  TempDir directory;
  for (const std::vector<std::string>& options : {std::vector<std::string>{"--flash", "XYZ"},
                                                  {"--adapters", "0"},
                                                  {"--sfdp", "maybe"},
                                                  {"--device", "0x12345"},
                                                  {"--colour", "blue"},
                                                  {"--adapters"},
                                                  {"--flash", "1F2400", "--protected"}}) {
    std::vector<std::string> args = {"lab", "init", directory / "lab"};
    args.insert(args.end(), options.begin(), options.end());
    const ProcessResult result = hlvsim(args);
    EXPECT_EQ(result.exitStatus, 2) << options[0];
    EXPECT_FALSE(result.err.empty());
    EXPECT_FALSE(fileExists(directory / "lab/sys")) << options[0];
  }
}

}  // namespace
}  // namespace hlv::test
