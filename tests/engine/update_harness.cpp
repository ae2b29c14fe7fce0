#include "tests/engine/update_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "engine/flash_layout.h"
#include "engine/ncb.h"
#include "shared/crc16.h"
#include "tests/engine/flash_doubles.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv::test {

namespace {

sim::AdapterConfig quickConfig(uint32_t jedecId) {
  sim::AdapterConfig config;
  config.jedecId = jedecId;
  config.timings = sim::quickTimings();
  return config;
}

// Explicit addresses for the components, packed on 256-byte steps from `start`.
std::array<std::optional<uint32_t>, 5> packedFrom(uint32_t start,
                                                  const std::array<uint32_t, 5>& sizes) {
  std::array<std::optional<uint32_t>, 5> offsets{};
  uint32_t cursor = start;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    offsets[i] = cursor;
    cursor = (cursor + sizes[i] + 0xFF) & ~0xFFu;
  }
  return offsets;
}

// A configuration stream of 32-bit words: one section, one group (argument 3) with one entry,
// and the zero word that a record appended to it replaces.
std::vector<uint8_t> sampleBlobD() {
  return {0x02, 0x00, 0x00, 0x00, 0x8C, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00,
          0xFF, 0x00, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
}
// The same in 16-bit words (section type 3, group argument 2).
std::vector<uint8_t> sampleBlobE() {
  return {0x03, 0x00, 0x88, 0x00, 0x07, 0x00, 0x0F, 0x00, 0x01, 0x00, 0x00, 0x00};
}

constexpr FirmwareVersion kEarlierVersion{1, 4, 0};

UpdateCase makeCase(std::string name, image::NcbSpec ncb0, image::NcbSpec ncb1) {
  image::ImageSpec flash;
  flash.ncbs = {std::move(ncb0), std::move(ncb1)};
  UpdateCase c;
  c.name = std::move(name);
  c.flash = image::buildImage(flash);
  c.image = image::buildImage(smallUpdateImageSpec());
  c.oldVersion = kOldVersion;
  c.newVersion = kNewVersion;
  c.blobD = sampleBlobD();
  c.blobE = sampleBlobE();
  return c;
}

}  // namespace

UpdateBench::UpdateBench(uint32_t jedecId)
    : adapter_(std::make_unique<sim::EmulatedAdapter>(quickConfig(jedecId), clock_)),
      flash_(std::make_unique<VoApiFlashControl>(adapter_.get())) {
  EXPECT_TRUE(flash_->init()) << "emulated part " << std::hex << jedecId;
}

UpdateBench::~UpdateBench() {
  flash_.reset();  // releases the flash interface before the adapter goes
  expectCleanRegisterTraffic(*adapter_, "the update bench");
}

void UpdateBench::load(const std::vector<uint8_t>& bytes) {
  ASSERT_LE(bytes.size(), adapter_->flash().size());
  std::copy(bytes.begin(), bytes.end(), adapter_->flash().begin());
}

std::vector<uint8_t> UpdateBench::contents() const {
  return {adapter_->flash().begin(), adapter_->flash().end()};
}

void UpdateBench::restart() {
  flash_.reset();
  adapter_->restorePower();
  flash_ = std::make_unique<VoApiFlashControl>(adapter_.get());
  EXPECT_TRUE(flash_->init()) << "after power came back";
}

FlashUpdateInput UpdateCase::input() const {
  FlashUpdateInput input;
  input.image = image;
  input.vendorId = 0x1E9C;
  input.deviceId = 0x20C3;
  input.subsystemVendorId = subsystemVendorId;
  input.subsystemDeviceId = subsystemDeviceId;
  input.blobD = blobD;
  input.blobE = blobE;
  return input;
}

image::NcbSpec smallBlock(FirmwareVersion version, uint32_t seed) {
  image::NcbSpec spec;
  spec.sizes = kSmallComponents;
  spec.firmware.version = version;
  spec.seed = seed;
  return spec;
}

image::NcbSpec erasedBlock() {
  image::NcbSpec spec;
  spec.erased = true;
  return spec;
}

image::ImageSpec smallUpdateImageSpec() {
  image::ImageSpec spec;
  spec.ncbs[0] = smallBlock(kNewVersion, 11);
  spec.ncbs[0].imageTag = 0x1234;
  spec.ncbs[1] = erasedBlock();
  return spec;
}

image::ImageSpec updatedSpec() {
  image::ImageSpec spec;
  spec.ncbs[0].sizes = kSmallComponents;
  spec.ncbs[0].firmware.version = kOldVersion;
  spec.ncbs[1] = spec.ncbs[0];
  spec.ncbs[1].seed = 2;
  spec.ncbs[1].firmware.version = {1, 4, 0};
  spec.ncbs[1].state = NcbState::kDeactivated;
  return spec;
}

std::vector<UpdateCase> sweepCases() {
  std::vector<UpdateCase> cases;

  // Type-2 layouts, each with the firmware before as the deactivated block.
  {
    image::NcbSpec current = smallBlock(kOldVersion, 1);
    image::NcbSpec earlier = smallBlock(kEarlierVersion, 2);
    earlier.state = NcbState::kDeactivated;
    cases.push_back(makeCase("type2_ncb0_active", current, earlier));
  }
  {
    image::NcbSpec earlier = smallBlock(kEarlierVersion, 1);
    earlier.state = NcbState::kDeactivated;
    image::NcbSpec current = smallBlock(kOldVersion, 2);
    current.areaDFlag = true;
    UpdateCase c = makeCase("type2_ncb1_active", earlier, current);
    c.subsystemVendorId = 0x1028;  // a board that takes the blobs as they are
    c.subsystemDeviceId = 0x1F70;
    cases.push_back(std::move(c));
  }

  // The transform's rows. The free areas of rows 1, 2 and 5 do not start or end on a sector.
  const uint32_t rowUpperB = 0x180000;  // components high in bank B, its lower part free
  const uint32_t rowUpperA = 0x80000;   // components high in bank A, its lower part free
  auto upperB = [&](FirmwareVersion version, uint32_t seed) {
    image::NcbSpec spec = smallBlock(version, seed);
    spec.offsets = packedFrom(rowUpperB, spec.sizes);
    spec.freeArea = NcbRegion{0x104100, rowUpperB - 0x104100 - 0x80};
    return spec;
  };
  auto componentsInBankB = [](FirmwareVersion version, uint32_t seed) {
    image::NcbSpec spec = smallBlock(version, seed);
    spec.bank = image::Bank::kB;
    spec.freeAreaOtherBank = true;
    return spec;
  };
  {
    image::NcbSpec target = smallBlock(kOldVersion, 3);  // over bank B, inside NCB0's free area
    cases.push_back(makeCase("row1_both_active_free_b", upperB(kOldVersion, 1), target));
  }
  cases.push_back(makeCase("row2_ncb0_active_free_b", upperB(kOldVersion, 1), erasedBlock()));
  cases.push_back(makeCase("row3_both_active_free_a", componentsInBankB(kOldVersion, 1),
                           componentsInBankB(kOldVersion, 1)));
  cases.push_back(
      makeCase("row4_ncb0_active_free_a", componentsInBankB(kOldVersion, 1), erasedBlock()));
  {
    image::NcbSpec source = smallBlock(kOldVersion, 2);
    source.offsets = packedFrom(rowUpperA, source.sizes);
    source.freeArea = NcbRegion{0x8000, rowUpperA - 0x8000 - 0x80};
    source.areaEFlag = true;
    cases.push_back(makeCase("row5_ncb1_active_free_a", erasedBlock(), source));
  }
  {
    image::NcbSpec earlier = smallBlock(kEarlierVersion, 1);
    earlier.state = NcbState::kDeactivated;
    earlier.bank = image::Bank::kB;
    image::NcbSpec source = smallBlock(kOldVersion, 2);
    source.bank = image::Bank::kA;
    source.freeArea = NcbRegion{0x104100, kFlashLayoutSize - 0x104100};
    cases.push_back(makeCase("row6_ncb1_active_free_b", earlier, source));
  }
  return cases;
}

UpdateCase sweepCase(const std::string& name) {
  for (UpdateCase& c : sweepCases()) {
    if (c.name == name) return std::move(c);
  }
  ADD_FAILURE() << "no sweep case " << name;
  return {};
}

}  // namespace hlv::test
