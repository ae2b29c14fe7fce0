// Register access: the mapped window, accesses outside it, its release, and a window the kernel
// refuses.
#include "device/register_control.h"

#include <dirent.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cerrno>

#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "device/register_map.h"
#include "platform/linux_platform.h"
#include "platform/mapping_refusal.h"
#include "platform/platform.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace hlv {
namespace {

using test::FakePciFunction;
using test::FakeSysfs;

constexpr const char* kBdf = "0000:03:00.0";
// A region 0 that covers every register the program uses, backed by a register file of its size.
constexpr uint64_t kWindow = 0x8000;
constexpr test::FakePciRegion kRegion{0xFB000000, 0xFB000000 + kWindow - 1, 0x140204};

// Descriptors this process has open now.
int openDescriptorCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr)
      ++count;
    closedir(dir);
  }
  return count;
}

TEST(VoRegControl, NullWindowReadsAllOnesAndLosesWrites) {
  VoRegControl control(nullptr, 0x400000);
  for (uint32_t offset : {0u, 4u, reg::kFlashCommand, reg::kControlWord, 0xFFFFFFFCu, 3u}) {
    control.write32(offset, 0);
    EXPECT_EQ(control.read32(offset), kUnmappedRegisterValue) << offset;
  }
}

TEST(VoRegControl, AccessesOutsideTheWindowNeverTouchMemory) {
  // A 16-byte window between guard words.
  std::array<uint32_t, 8> memory{};
  memory.fill(0x5A5A5A5A);
  uint32_t* window = &memory[2];
  VoRegControl control(window, 16);

  struct Case {
    const char* what;
    uint32_t offset;
    bool inside;
  };
  const Case cases[] = {
      {"first word", 0, true},
      {"last word", 12, true},
      {"just past the end", 16, false},
      {"word crossing the end", 14, false},
      {"unaligned inside", 2, false},
      {"unaligned near the end", 13, false},
      {"highest offset", 0xFFFFFFFC, false},
      {"offset that wraps a 32-bit sum", 0xFFFFFFF0, false},
  };
  for (const Case& c : cases) {
    control.write32(c.offset, 0x11223344);
    if (c.inside) {
      EXPECT_EQ(control.read32(c.offset), 0x11223344u) << c.what;
      EXPECT_EQ(window[c.offset / 4], 0x11223344u) << c.what;
      window[c.offset / 4] = 0x5A5A5A5A;
    } else {
      EXPECT_EQ(control.read32(c.offset), kUnmappedRegisterValue) << c.what;
    }
    for (uint32_t word : memory)
      ASSERT_EQ(word, 0x5A5A5A5Au) << c.what;
  }

  VoRegControl tooSmall(window, 3);
  EXPECT_EQ(tooSmall.read32(0), kUnmappedRegisterValue);
}

class RegisterWindow : public ::testing::Test {
 protected:
  // One adapter whose region 0 is a regular file of `size` bytes.
  PciDevice deviceWithRegion(test::FakePciRegion region, uint64_t fileSize) {
    FakePciFunction f;
    f.bdf = kBdf;
    f.regions[0] = region;
    sysfs_.addFunction(f);
    sysfs_.addRegisterFile(kBdf, fileSize);
    PciDevice device;
    initPciDevice(device, FakeSysfs::devicePath(kBdf));
    return device;
  }
  std::string registerFile() const {
    return sysfs_.hostPath(FakeSysfs::devicePath(kBdf) + "/resource0");
  }

  test::TempDir dir_;
  FakeSysfs sysfs_{dir_.path()};
  platform::RootedPlatform platform_{dir_.path()};
  platform::ScopedPlatform installed_{platform_};
};

TEST_F(RegisterWindow, MappedRegionZeroIsTheRegisterFileSharedWithTheDevice) {
  const int descriptorsBefore = openDescriptorCount();
  {
    PciDevice device = deviceWithRegion(kRegion, kWindow);
    void* base = mapBar0(device);
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(device.mapping(), base);
    EXPECT_GE(device.fd(), 0);
    EXPECT_EQ(mapBar0(device), base);  // mapped once only

    VoRegControl control(base, device.resources[0].size);
    control.write32(0, 0xA1B2C3D4);
    control.write32(reg::kControlWord, 0x11223344);
    EXPECT_EQ(control.read32(0), 0xA1B2C3D4u);
    EXPECT_EQ(control.read32(reg::kControlWord), 0x11223344u);
    EXPECT_EQ(control.read32(kWindow), kUnmappedRegisterValue);  // past the region

    releasePciDevice(device);
    EXPECT_EQ(device.fd(), -1);
    EXPECT_EQ(device.mapping(), nullptr);
    releasePciDevice(device);  // nothing is released twice
  }
  EXPECT_EQ(openDescriptorCount(), descriptorsBefore);

  const std::vector<uint8_t> stored = test::readBinaryFile(registerFile());
  ASSERT_EQ(stored.size(), kWindow);
  EXPECT_EQ((std::vector<uint8_t>(stored.begin(), stored.begin() + 4)),
            (std::vector<uint8_t>{0xD4, 0xC3, 0xB2, 0xA1}));
  EXPECT_EQ((std::vector<uint8_t>(stored.begin() + reg::kControlWord,
                                  stored.begin() + reg::kControlWord + 4)),
            (std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11}));
}

TEST_F(RegisterWindow, ARegionEndingRightAfterTheHighestRegisterIsMappedWhole) {
  PciDevice device = deviceWithRegion(
      {0xFB000000, 0xFB000000 + reg::kRegisterWindowNeeded - 1, 0x140204}, kWindow);
  const std::unique_ptr<VoRegControlInterface> control = openRegisterControl(device);
  ASSERT_NE(device.mapping(), nullptr);
  EXPECT_EQ(device.mapError, 0);
  control->write32(reg::kHighestRegisterOffset, 0x600DF00D);
  EXPECT_EQ(control->read32(reg::kHighestRegisterOffset), 0x600DF00Du);
  EXPECT_EQ(control->read32(reg::kHighestRegisterOffset + 4), kUnmappedRegisterValue);
}

TEST_F(RegisterWindow, WindowIsReleasedExactlyOnceWhateverHappensToItsDevice) {
  const int descriptorsBefore = openDescriptorCount();
  {
    PciDevice device = deviceWithRegion(kRegion, kWindow);
    ASSERT_NE(mapBar0(device), nullptr);
    // Rebuilding the record from its path gives the earlier window back first.
    initPciDevice(device, FakeSysfs::devicePath(kBdf));
    EXPECT_EQ(device.fd(), -1);
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);

    ASSERT_NE(mapBar0(device), nullptr);
    PciDevice moved = std::move(device);  // the window goes with the move
    EXPECT_EQ(device.fd(), -1);
    EXPECT_EQ(device.mapping(), nullptr);
    const std::unique_ptr<VoRegControlInterface> control = openRegisterControl(moved);
    control->write32(0x10, 0x01020304);
    EXPECT_EQ(control->read32(0x10), 0x01020304u);

    // A record that is given another one's window gives its own back first.
    PciDevice replaced;
    initPciDevice(replaced, FakeSysfs::devicePath(kBdf));
    ASSERT_NE(mapBar0(replaced), nullptr);
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore + 2);
    void* const kept = moved.mapping();
    replaced = std::move(moved);
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore + 1);
    EXPECT_EQ(replaced.mapping(), kept);
    EXPECT_EQ(moved.mapping(), nullptr);
  }  // the moved-to record releases it, the moved-from ones nothing
  EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

struct UnmappableCase {
  const char* name;
  test::FakePciRegion region;
  std::function<void(const std::string& registerFile)> alter;
  int error;  // why, as the device records it for the operator's explanation
};

void PrintTo(const UnmappableCase& c, std::ostream* os) {
  *os << c.name;
}

class UnmappableWindow : public RegisterWindow,
                         public ::testing::WithParamInterface<UnmappableCase> {};

TEST_P(UnmappableWindow, GivesNoMappingAndLeavesNoDescriptorOpen) {
  const UnmappableCase& c = GetParam();
  PciDevice device = deviceWithRegion(c.region, kWindow);
  if (c.alter) c.alter(registerFile());
  const int descriptorsBefore = openDescriptorCount();

  EXPECT_EQ(mapBar0(device), nullptr);
  EXPECT_EQ(device.fd(), -1);
  EXPECT_EQ(device.mapping(), nullptr);
  EXPECT_EQ(device.mapError, c.error);
  EXPECT_EQ(openDescriptorCount(), descriptorsBefore);

  const std::unique_ptr<VoRegControlInterface> control = openRegisterControl(device);
  EXPECT_EQ(control->read32(0), kUnmappedRegisterValue);
  control->write32(0, 0);
  releasePciDevice(device);
  EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Regions, UnmappableWindow,
    ::testing::Values(
        UnmappableCase{"RegionStartsAtZero", {0, kWindow - 1, 0x140204}, nullptr, ENXIO},
        UnmappableCase{"RegionHasSizeZero", {0xFB000000, 0xFB000000, 0x140204}, nullptr, ENXIO},
        // A region that stops short of the highest register is not even opened: every access
        // past its end would be lost while the sequences seemed to run.
        UnmappableCase{"RegionOfOnePage",
                       {0xFB000000, 0xFB000FFF, 0x140204},
                       nullptr,
                       platform::kWindowTooSmallError},
        UnmappableCase{"RegionOneWordShortOfTheHighestRegister",
                       {0xFB000000, 0xFB000000 + reg::kRegisterWindowNeeded - 5, 0x140204},
                       nullptr,
                       platform::kWindowTooSmallError},
        UnmappableCase{"NoRegisterFile", kRegion,
                       [](const std::string& file) { std::filesystem::remove(file); }, ENOENT},
        // Opens read-write, but cannot be mapped: the descriptor must be closed again.
        UnmappableCase{"RegisterFileCannotBeMapped", kRegion,
                       [](const std::string& file) {
                         std::filesystem::remove(file);
                         ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
                       },
                       ENODEV}),
    [](const ::testing::TestParamInfo<UnmappableCase>& info) { return info.param.name; });

// Registers as a model keeps them, recording every access that reaches it.
class RecordingRegisters : public VoRegControlInterface {
 public:
  uint32_t read32(uint32_t offset) override {
    accesses.push_back(offset);
    return values[offset];
  }
  void write32(uint32_t offset, uint32_t value) override {
    accesses.push_back(offset);
    values[offset] = value;
  }
  std::map<uint32_t, uint32_t> values;
  std::vector<uint32_t> accesses;
};

// A platform that emulates every register window instead of mapping the file.
class EmulatingPlatform : public platform::RootedPlatform {
 public:
  using RootedPlatform::RootedPlatform;
  platform::RegisterWindow mapRegisterWindow(const std::string& resourcePath,
                                             uint64_t length) override {
    mappedPath = resourcePath;
    mappedLength = length;
    return {-1, &token_};
  }
  void unmapRegisterWindow(const platform::RegisterWindow& window, uint64_t length) override {
    EXPECT_EQ(window.mapping, &token_);
    unmappedLength = length;
    ++unmaps;
  }
  VoRegControlInterface* emulatedRegisters(const void* mapping) override {
    return mapping == &token_ ? &registers : nullptr;
  }

  RecordingRegisters registers;
  std::string mappedPath;
  uint64_t mappedLength = 0;
  uint64_t unmappedLength = 0;
  int unmaps = 0;

 private:
  int token_ = 0;
};

TEST(EmulatedWindow, AccessesReachTheEmulatedRegistersWithinTheRegionOnly) {
  test::TempDir dir;
  FakeSysfs sysfs(dir.path());
  sysfs.addFunction(FakePciFunction{});  // region 0 of 4 MiB, no register file
  EmulatingPlatform emulating(dir.path());
  platform::ScopedPlatform installed(emulating);
  {
    PciDevice device;
    initPciDevice(device, FakeSysfs::devicePath(kBdf));
    const std::unique_ptr<VoRegControlInterface> control = openRegisterControl(device);
    EXPECT_EQ(emulating.mappedPath, sysfs.hostPath(FakeSysfs::devicePath(kBdf) + "/resource0"));
    EXPECT_EQ(emulating.mappedLength, 0x400000u);

    emulating.registers.values[reg::kChipRevision] = 0x10A;
    EXPECT_EQ(control->read32(reg::kChipRevision), 0x10Au);
    control->write32(reg::kControlWord, 1);
    EXPECT_EQ(emulating.registers.values[reg::kControlWord], 1u);

    EXPECT_EQ(control->read32(0x400000), kUnmappedRegisterValue);
    control->write32(0x400000, 1);
    EXPECT_EQ(control->read32(reg::kFlashCommand + 2), kUnmappedRegisterValue);
    EXPECT_EQ(emulating.registers.accesses,
              (std::vector<uint32_t>{reg::kChipRevision, reg::kControlWord}));
  }
  EXPECT_EQ(emulating.unmaps, 1);
  EXPECT_EQ(emulating.unmappedLength, 0x400000u);
}

}  // namespace
}  // namespace hlv
