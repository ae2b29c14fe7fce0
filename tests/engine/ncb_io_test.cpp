// Reading and writing the control blocks on the flash: the block readers take, and writes that
// no power cut leaves as an active block with a bad CRC.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "engine/flash_access.h"
#include "engine/ncb.h"
#include "tests/engine/flash_doubles.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv {
namespace {

using test::EmulatedFlash;
using test::FlashCall;
using test::FlashDecorator;
using Kind = test::FlashCall::Kind;

std::vector<uint8_t> blockOf(const std::vector<uint8_t>& image, uint32_t address) {
  return {image.begin() + address, image.begin() + address + kNcbBlockSize};
}

TEST(ReadActiveNcb, PrefersNcb0AndNeverFallsBackFromAnInvalidOne) {
  struct Case {
    const char* what;
    std::function<void(image::ImageSpec&)> change;
    std::optional<uint32_t> taken;
  };
  const Case cases[] = {
      {"NCB0 active", [](image::ImageSpec&) {}, kNcb0Address},
      {"both active", [](image::ImageSpec& s) { s.ncbs[1].erased = false; }, kNcb0Address},
      {"NCB0 active but invalid, NCB1 valid",
       [](image::ImageSpec& s) {
         s.ncbs[0].ncbCrc.kind = image::CrcSpec::Kind::kBad;
         s.ncbs[1].erased = false;
       },
       std::nullopt},
      {"NCB0 deactivated and invalid, NCB1 valid",
       [](image::ImageSpec& s) {
         s.ncbs[0].state = NcbState::kDeactivated;
         s.ncbs[0].ncbCrc.kind = image::CrcSpec::Kind::kBad;
         s.ncbs[1].erased = false;
       },
       kNcb1Address},
      {"NCB0 erased, NCB1 active as 0b01",
       [](image::ImageSpec& s) {
         s.ncbs[0].erased = true;
         s.ncbs[1].erased = false;
         s.ncbs[1].state = NcbState::kActiveAlternate;
       },
       kNcb1Address},
      {"none active", [](image::ImageSpec& s) { s.ncbs[0].state = NcbState::kDeactivated; },
       std::nullopt},
      {"blank flash", [](image::ImageSpec& s) { s.ncbs[0].erased = true; }, std::nullopt},
      {"NCB1 taken but marked unusable",
       [](image::ImageSpec& s) {
         s.ncbs[0].state = NcbState::kNotActive;
         s.ncbs[1].erased = false;
         s.ncbs[1].magic = true;
       },
       std::nullopt},
      {"active NCB0 with a bad structure",
       [](image::ImageSpec& s) { s.ncbs[0].offsets[4] = 0x7000; }, std::nullopt},
  };
  for (const Case& c : cases) {
    image::ImageSpec spec;
    c.change(spec);
    const std::vector<uint8_t> image = image::buildImage(spec);
    EmulatedFlash emulated;
    emulated.load(image);
    std::vector<uint8_t> buffers(2 * kNcbBlockSize);
    const HalvernNcb ncb0(buffers.data());
    const HalvernNcb ncb1(buffers.data() + kNcbBlockSize);
    const std::optional<HalvernNcb> taken = readActiveNcb(*emulated.flash, ncb0, ncb1);
    EXPECT_EQ(std::vector<uint8_t>(buffers.begin(), buffers.end()),
              std::vector<uint8_t>(image.begin(), image.begin() + 2 * kNcbBlockSize))
        << c.what << ": both blocks are read";
    if (c.taken) {
      ASSERT_TRUE(taken) << c.what;
      EXPECT_EQ(*taken, *c.taken == kNcb0Address ? ncb0 : ncb1) << c.what;
    } else {
      EXPECT_FALSE(taken) << c.what;
    }
    EXPECT_EQ(emulated.violations(), 0u) << c.what;
  }
}

TEST(ReadActiveNcb, AnUnreadableFlashGivesNone) {
  EmulatedFlash emulated;
  emulated.load(image::buildImage(image::ImageSpec()));
  FlashDecorator flaky(*emulated.flash);
  flaky.failCalls(Kind::kRead, 2, 2);  // both tries for NCB1
  std::vector<uint8_t> buffers(2 * kNcbBlockSize);
  EXPECT_FALSE(
      readActiveNcb(flaky, HalvernNcb(buffers.data()), HalvernNcb(buffers.data() + kNcbBlockSize)));
}

// A block to write: NCB1 of a flash after an update, i.e. active over bank B.
std::vector<uint8_t> newNcb1() {
  return blockOf(image::buildImage(image::updatedFlashSpec({1, 0, 0}, {2, 0, 0})), kNcb1Address);
}

TEST(WriteNcb, WritesTheBodyFirstThenTheTagThenTheCrcAndSetsTheStateAloneLast) {
  EmulatedFlash emulated;
  const std::vector<uint8_t> before = image::buildImage(image::ImageSpec());
  emulated.load(before);
  const std::vector<uint8_t> block = newNcb1();
  FlashDecorator recorder(*emulated.flash);

  ASSERT_EQ(writeNcb(recorder, ConstHalvernNcb(block.data()), kNcb1Address), kStatusSuccess);

  const std::vector<FlashCall> expected = {
      {Kind::kRead, 0x4000, 0x4000},  // what the block holds decides how it is written
      {Kind::kEraseSector, 0x4000, 0x1000},
      {Kind::kEraseSector, 0x5000, 0x1000},
      {Kind::kEraseSector, 0x6000, 0x1000},
      {Kind::kEraseSector, 0x7000, 0x1000},
      {Kind::kWrite, 0x4004, 0x3FFC},
      {Kind::kRead, 0x4004, 0x3FFC},
      {Kind::kWrite, 0x4002, 2},  // imageTag, the state bits left erased
      {Kind::kRead, 0x4002, 2},
      {Kind::kWrite, 0x4000, 2},  // CRC
      {Kind::kRead, 0x4000, 2},
      {Kind::kWrite, 0x4003, 1},  // the state
      {Kind::kRead, 0x4003, 1},
  };
  EXPECT_EQ(recorder.calls, expected);
  const std::vector<uint8_t> after = emulated.contents();
  EXPECT_EQ(blockOf(after, kNcb1Address), block);
  EXPECT_EQ(blockOf(after, kNcb0Address), blockOf(before, kNcb0Address));
  EXPECT_EQ(emulated.violations(), 0u);
}

TEST(WriteNcb, WorksOnEveryPartThatHoldsTheLayout) {
  for (uint32_t jedecId : {0xEF6015u, 0x1F2700u, 0xC22016u, 0xEF4016u, 0x014016u}) {
    EmulatedFlash emulated(jedecId);
    const std::vector<uint8_t> block = newNcb1();
    // Over a block that was there before: the erase must come first.
    emulated.load(image::buildImage(image::updatedFlashSpec({1, 0, 0}, {1, 5, 0})));
    ASSERT_EQ(writeNcb(*emulated.flash, ConstHalvernNcb(block.data()), kNcb1Address),
              kStatusSuccess)
        << std::hex << jedecId;
    EXPECT_EQ(blockOf(emulated.contents(), kNcb1Address), block) << std::hex << jedecId;
    EXPECT_EQ(emulated.violations(), 0u) << std::hex << jedecId;
  }
}

TEST(WriteNcb, APowerCutAnywhereNeverLeavesAnActiveBlockWithABadCrc) {
  const std::vector<uint8_t> block = newNcb1();
  // A flash where NCB0 is active and NCB1 holds an older, deactivated block.
  image::ImageSpec spec = image::updatedFlashSpec({1, 0, 0}, {0, 9, 0});
  spec.ncbs[0].state = NcbState::kActive;
  spec.ncbs[1].state = NcbState::kDeactivated;
  const std::vector<uint8_t> before = image::buildImage(spec);

  uint64_t transfers = 0;
  {
    EmulatedFlash emulated;
    emulated.load(before);
    const uint64_t start = emulated.adapter.stats().modifyingTransfers;
    ASSERT_EQ(writeNcb(*emulated.flash, ConstHalvernNcb(block.data()), kNcb1Address),
              kStatusSuccess);
    transfers = emulated.adapter.stats().modifyingTransfers - start;
  }
  ASSERT_GT(transfers, 5u);
  for (uint64_t cut = 1; cut <= transfers; ++cut) {
    EmulatedFlash emulated;
    emulated.load(before);
    emulated.adapter.cutPowerAfter(cut);
    const FlashUpdateStatus status =
        writeNcb(*emulated.flash, ConstHalvernNcb(block.data()), kNcb1Address);
    const std::vector<uint8_t> after = emulated.contents();
    const ConstHalvernNcb ncb1(after.data() + kNcb1Address);
    if (cut < transfers) {
      EXPECT_NE(status, kStatusSuccess) << "cut after transfer " << cut;
      EXPECT_FALSE(ncb1.active()) << "cut after transfer " << cut;
    } else {
      EXPECT_EQ(blockOf(after, kNcb1Address), block) << "the last transfer activates it";
    }
    if (ncb1.active()) {
      EXPECT_TRUE(checkNcbCrc(ncb1)) << "cut after transfer " << cut;
    }
    EXPECT_EQ(blockOf(after, kNcb0Address), blockOf(before, kNcb0Address))
        << "cut after transfer " << cut;
    EXPECT_EQ(emulated.violations(), 0u) << "cut after transfer " << cut;
  }
}

TEST(WriteNcb, FailuresReportTheirStatusAndLeaveTheBlockInactiveUntilActivation) {
  struct Case {
    const char* what;
    std::function<void(FlashDecorator&)> fault;
    FlashUpdateStatus status;
    bool leftInactive;
  };
  const Case cases[] = {
      {"second erase fails", [](FlashDecorator& f) { f.failCalls(Kind::kEraseSector, 2); },
       kStatusFlashEraseFailed, true},
      {"body program fails", [](FlashDecorator& f) { f.failCalls(Kind::kWrite, 1); },
       kStatusFlashWriteFailed, true},
      {"body programs wrong", [](FlashDecorator& f) { f.corruptWriteAt = 0x4100; },
       kStatusFlashWriteFailed, true},
      {"body reads back wrong", [](FlashDecorator& f) { f.corruptReadAt = 0x7FFF; },
       kStatusFlashWriteFailed, true},
      {"block cannot be read first", [](FlashDecorator& f) { f.failCalls(Kind::kRead, 1, 2); },
       kStatusFlashReadFailed, true},
      {"body read-back fails", [](FlashDecorator& f) { f.failCalls(Kind::kRead, 2, 2); },
       kStatusFlashReadFailed, true},
      {"tag program fails", [](FlashDecorator& f) { f.failCalls(Kind::kWrite, 2); },
       kStatusFlashWriteFailed, true},
      {"tag reads back wrong", [](FlashDecorator& f) { f.corruptReadAt = 0x4002; },
       kStatusFlashWriteFailed, true},
      {"tag read-back fails", [](FlashDecorator& f) { f.failCalls(Kind::kRead, 3, 2); },
       kStatusFlashReadFailed, true},
      {"CRC program fails", [](FlashDecorator& f) { f.failCalls(Kind::kWrite, 3); },
       kStatusFlashWriteFailed, true},
      {"CRC reads back wrong", [](FlashDecorator& f) { f.corruptReadAt = 0x4000; },
       kStatusFlashWriteFailed, true},
      {"CRC read-back fails", [](FlashDecorator& f) { f.failCalls(Kind::kRead, 4, 2); },
       kStatusFlashReadFailed, true},
      {"state program fails", [](FlashDecorator& f) { f.failCalls(Kind::kWrite, 4); },
       kStatusFlashWriteFailed, true},
      {"state read-back fails", [](FlashDecorator& f) { f.failCalls(Kind::kRead, 5, 2); },
       kStatusFlashReadFailed, false},
  };
  for (const Case& c : cases) {
    EmulatedFlash emulated;
    emulated.load(image::buildImage(image::ImageSpec()));
    const std::vector<uint8_t> block = newNcb1();
    FlashDecorator faulty(*emulated.flash);
    c.fault(faulty);
    EXPECT_EQ(writeNcb(faulty, ConstHalvernNcb(block.data()), kNcb1Address), c.status) << c.what;
    const std::vector<uint8_t> after = emulated.contents();
    if (c.leftInactive) {
      EXPECT_FALSE(ConstHalvernNcb(after.data() + kNcb1Address).active()) << c.what;
    }
    EXPECT_EQ(emulated.violations(), 0u) << c.what;
  }
}

// The block writes the engine makes, each over what it replaces.
struct BlockWrite {
  const char* what;
  image::ImageSpec before;
  uint32_t address;
  std::function<void(HalvernNcb)> change;  // the new block from the one on the flash
};

std::vector<BlockWrite> blockWrites() {
  const image::ImageSpec bothActive = image::bothActiveFlashSpec({1, 0, 0}, {2, 0, 0});
  image::ImageSpec withFreeArea = bothActive;
  withFreeArea.ncbs[0].freeArea = NcbRegion{0x104000, 0x1000};
  return {
      {"NCB1 activated over an older deactivated block", image::updatedFlashSpec({1, 0, 0}, {0, 9, 0}),
       kNcb1Address,
       [](HalvernNcb ncb) {
         ncb.setImageVersion(0x020000);
         ncb.setState(NcbState::kActive);
         updateNcbCrc(ncb);
       }},
      {"NCB0 deactivated, nothing else changing", bothActive, kNcb0Address,
       [](HalvernNcb ncb) { ncb.setState(NcbState::kDeactivated); }},
      {"NCB0 retired with CRC 0", withFreeArea, kNcb0Address,
       [](HalvernNcb ncb) {
         ncb.setState(NcbState::kDeactivated);
         ncb.setFreeArea({0, 0});
         ncb.setCrc(0);
       }},
      {"NCB0 deactivated with its free area dropped and a new CRC", withFreeArea, kNcb0Address,
       [](HalvernNcb ncb) {
         ncb.setState(NcbState::kDeactivated);
         ncb.setFreeArea({0, 0});
         updateNcbCrc(ncb);
       }},
  };
}

bool anActiveBlockFailsItsCrc(const std::vector<uint8_t>& flash) {
  for (uint32_t address : {kNcb0Address, kNcb1Address}) {
    const ConstHalvernNcb ncb(flash.data() + address);
    if (ncb.active() && !checkNcbCrc(ncb)) return true;
  }
  return false;
}

// The block at `address` passes its CRC, so a rollback could activate it, but its imageTag is
// neither the one written nor the one it had: a program of the head was cut while it wrote the
// tag, which the CRC does not cover.
bool aWholeBlockHasAStrayTag(const std::vector<uint8_t>& flash, uint32_t address,
                             uint16_t writtenTag, uint16_t earlierTag) {
  const ConstHalvernNcb ncb(flash.data() + address);
  return checkNcbCrc(ncb) && ncb.imageTag() != writtenTag && ncb.imageTag() != earlierTag;
}

// The torn contents of each cut drawn from several seeds; under the sanitizers, from two.
#ifdef HLV_SANITIZED_BUILD
constexpr uint64_t kTornSeeds = 2;
#else
constexpr uint64_t kTornSeeds = 8;
#endif

TEST(WriteNcb, APowerCutInTheMiddleOfAnyProgramOrEraseLeavesNoActiveBlockWithABadCrcNorAStrayTag) {
  for (const BlockWrite& write : blockWrites()) {
    const std::vector<uint8_t> before = image::buildImage(write.before);
    std::vector<uint8_t> block = blockOf(before, write.address);
    write.change(HalvernNcb(block.data()));
    uint64_t transfers = 0;
    {
      EmulatedFlash emulated;
      emulated.load(before);
      ASSERT_EQ(writeNcb(*emulated.flash, ConstHalvernNcb(block.data()), write.address),
                kStatusSuccess)
          << write.what;
      transfers = emulated.adapter.stats().modifyingTransfers;
      EXPECT_EQ(blockOf(emulated.contents(), write.address), block) << write.what;
    }
    for (uint64_t cut = 1; cut <= transfers; ++cut) {
      for (uint64_t seed = 1; seed <= kTornSeeds; ++seed) {
        EmulatedFlash emulated;
        emulated.load(before);
        emulated.adapter.cutPowerDuring(cut, seed);
        (void)writeNcb(*emulated.flash, ConstHalvernNcb(block.data()), write.address);
        const std::vector<uint8_t> after = emulated.contents();
        EXPECT_FALSE(anActiveBlockFailsItsCrc(after))
            << write.what << ": cut during command " << cut << " of " << transfers << ", seed "
            << seed;
        EXPECT_FALSE(aWholeBlockHasAStrayTag(after, write.address,
                                             ConstHalvernNcb(block.data()).imageTag(),
                                             ConstHalvernNcb(before.data() + write.address).imageTag()))
            << write.what << ": cut during command " << cut << " of " << transfers << ", seed "
            << seed;
      }
    }
  }
}

TEST(WriteNcb, AWholeBlockIsDeactivatedOrRetiredInPlaceStateFirst) {
  const std::vector<BlockWrite> writes = blockWrites();
  for (const BlockWrite* write : {&writes[1], &writes[2]}) {
    EmulatedFlash emulated;
    const std::vector<uint8_t> before = image::buildImage(write->before);
    emulated.load(before);
    std::vector<uint8_t> block = blockOf(before, write->address);
    write->change(HalvernNcb(block.data()));
    FlashDecorator recorder(*emulated.flash);
    ASSERT_EQ(writeNcb(recorder, ConstHalvernNcb(block.data()), write->address), kStatusSuccess);
    EXPECT_EQ(blockOf(emulated.contents(), write->address), block) << write->what;
    ASSERT_GE(recorder.calls.size(), 2u) << write->what;
    EXPECT_EQ(recorder.calls[1], (FlashCall{Kind::kWrite, write->address + 3, 1}))
        << write->what << ": the state is cleared before anything else";
    for (const FlashCall& call : recorder.calls)
      EXPECT_NE(call.kind, Kind::kEraseSector) << write->what << ": no erase";
  }
}

TEST(WriteNcb, AnActiveBlockIsDeactivatedInPlaceBeforeItIsErased) {
  const BlockWrite write = blockWrites()[3];
  EmulatedFlash emulated;
  const std::vector<uint8_t> before = image::buildImage(write.before);
  emulated.load(before);
  std::vector<uint8_t> block = blockOf(before, write.address);
  write.change(HalvernNcb(block.data()));
  FlashDecorator recorder(*emulated.flash);
  ASSERT_EQ(writeNcb(recorder, ConstHalvernNcb(block.data()), write.address), kStatusSuccess);
  EXPECT_EQ(blockOf(emulated.contents(), write.address), block);
  ASSERT_GE(recorder.calls.size(), 5u);
  EXPECT_EQ(recorder.calls[2], (FlashCall{Kind::kWrite, 3, 1}));
  EXPECT_EQ(recorder.calls[4].kind, Kind::kEraseSector);
}

TEST(WriteNcb, RefusesPartsThatCannotHoldTheLayout) {
  struct Case {
    const char* what;
    test::Geometry geometry;
  };
  const Case cases[] = {
      {"no erase sector", {256, 0, 0x10000, true, 0x200000}},
      {"sector larger than a block", {256, 0x8000, 0x10000, true, 0x200000}},
      {"sector not dividing a block", {256, 0x3000, 0x30000, true, 0x200000}},
      {"512 KiB part", {256, 0x1000, 0x10000, true, 0x80000}},
  };
  const std::vector<uint8_t> block = newNcb1();
  for (const Case& c : cases) {
    test::NorMemoryFlash part(c.geometry);
    FlashDecorator recorder(part);
    EXPECT_EQ(writeNcb(recorder, ConstHalvernNcb(block.data()), kNcb1Address),
              kStatusSectorSizeUnsuitable)
        << c.what;
    EXPECT_TRUE(recorder.calls.empty()) << c.what;
  }
}

}  // namespace
}  // namespace hlv
