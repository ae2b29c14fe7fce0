#include "tests/soak/soak_plan.h"

#include <array>
#include <stdexcept>

#include "tests/engine/update_harness.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv::test::soak {
namespace {

constexpr uint32_t kMiB = 1024 * 1024;

// Components small enough for a run of the tool to take a fraction of a second; each version
// of the bundle scales them, so that banks and pages are filled differently from one update to
// the next.

std::array<uint32_t, 5> scaled(uint32_t factor) {
  std::array<uint32_t, 5> sizes = kSmallComponents;
  for (uint32_t& size : sizes)
    size *= factor;
  return sizes;
}

image::NcbSpec smallBlock(FirmwareVersion version, uint32_t seed, uint16_t deviceId) {
  image::NcbSpec spec = test::smallBlock(version, seed);
  spec.deviceId = deviceId;
  return spec;
}

// Component offsets packed from `start`, each on a 256-byte page.
std::array<std::optional<uint32_t>, 5> packedFrom(uint32_t start,
                                                  const std::array<uint32_t, 5>& sizes) {
  std::array<std::optional<uint32_t>, 5> offsets;
  uint32_t cursor = start;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    offsets[i] = cursor;
    cursor = (cursor + sizes[i] + 0xFF) & ~0xFFu;
  }
  return offsets;
}

image::ImageSpec startFlash(StartLayout layout, uint16_t deviceId, uint32_t capacity) {
  image::ImageSpec spec;
  spec.imageSize = capacity;
  image::NcbSpec current = smallBlock(kStartVersion, 1, deviceId);
  image::NcbSpec previous = smallBlock(kStartPrevious, 2, deviceId);
  previous.state = NcbState::kDeactivated;
  switch (layout) {
    case StartLayout::kFresh:
      spec.ncbs = {current, erasedBlock()};
      break;
    case StartLayout::kUpdated:
      spec.ncbs = {previous, current};
      break;
    case StartLayout::kNcb0Current:
      spec.ncbs = {current, previous};
      break;
    case StartLayout::kBothActive:
      previous.state = NcbState::kActive;
      spec.ncbs = {current, previous};
      break;
    case StartLayout::kTypeOneFreeA:
      current.bank = image::Bank::kB;
      current.freeAreaOtherBank = true;
      spec.ncbs = {current, erasedBlock()};
      break;
    case StartLayout::kTypeOneFreeB: {
      constexpr uint32_t kHighInB = 0x180000;
      current.offsets = packedFrom(kHighInB, current.sizes);
      current.freeArea = NcbRegion{0x104100, kHighInB - 0x104100 - 0x80};
      spec.ncbs = {current, erasedBlock()};
      break;
    }
    case StartLayout::kTypeOneNcb1FreeA: {
      constexpr uint32_t kHighInA = 0x80000;
      current.offsets = packedFrom(kHighInA, current.sizes);
      current.freeArea = NcbRegion{0x8000, kHighInA - 0x8000 - 0x80};
      current.areaEFlag = true;
      spec.ncbs = {erasedBlock(), current};
      break;
    }
    case StartLayout::kTypeOneNcb1FreeB:
      previous.bank = image::Bank::kB;
      current.bank = image::Bank::kA;
      current.freeArea = NcbRegion{0x104100, kFlashLayoutSize - 0x104100};
      spec.ncbs = {previous, current};
      break;
  }
  return spec;
}

bool keepsPrevious(StartLayout layout) {
  return layout == StartLayout::kUpdated || layout == StartLayout::kNcb0Current ||
         layout == StartLayout::kBothActive || layout == StartLayout::kTypeOneNcb1FreeB;
}

struct PartRow {
  const char* name;
  const char* conf;
  uint32_t capacity;
};

// Parts of at least 2 MiB: the table's own, generic parts described by their SFDP area, parts
// protected at power-on and a ready-bit part with 512-byte pages and a split first unit.
const std::vector<PartRow>& smallParts() {
  static const std::vector<PartRow> rows = {
      {"EF6015", "flash = EF6015\n", 2 * kMiB},
      {"EF6015 protected", "flash = EF6015\nprotected = yes\n", 2 * kMiB},
      {"C84015 SFDP 1.0", "flash = C84015\nsfdp = 1.0\n", 2 * kMiB},
      {"C84015 SFDP, status after 0x50", "flash = C84015\nsfdp = yes\nsfdp_volatile_status = yes\n",
       2 * kMiB},
  };
  return rows;
}
const std::vector<PartRow>& largeParts() {
  static const std::vector<PartRow> rows = {
      {"C22016", "flash = C22016\n", 4 * kMiB},
      {"EF4016 protected", "flash = EF4016\nprotected = yes\n", 4 * kMiB},
      {"014016", "flash = 014016\n", 4 * kMiB},
      {"1F2701 ready bit", "flash = 1F2701\n", 4 * kMiB},
      {"EF7016 SFDP", "flash = EF7016\nsfdp = yes\n", 4 * kMiB},
  };
  return rows;
}

std::string firmwareSide(SoakRandom& random, bool typeTwoModel) {
  std::string conf;
  const uint64_t kind = random.below(10);
  if (kind == 9 && !typeTwoModel) {
    conf += "firmware = none\n";
  } else if (kind >= 7) {
    conf += "firmware = 2\n";
  }
  if (random.percent(40)) {
    conf += "engine_jitter_us = " + std::to_string(random.between(1, 4)) +
            "\nengine_seed = " + std::to_string(random.between(1, 1000)) + "\n";
  }
  if (random.percent(40)) {
    conf += "firmware_reset_jitter_us = " + std::to_string(random.between(100, 20000)) +
            "\nfirmware_reset_seed = " + std::to_string(random.between(1, 1000)) + "\n";
  }
  const uint64_t mdioEvery[] = {0, 5000, 20000, 50000};
  conf += "firmware_mdio_every_us = " + std::to_string(mdioEvery[random.below(4)]) +
          "\nfirmware_mdio_seed = " + std::to_string(random.between(1, 1000)) + "\n";
  if (random.percent(30)) conf += "chip_revision = 0x10A\n";
  return conf;
}

}  // namespace

const char* layoutName(StartLayout layout) {
  switch (layout) {
    case StartLayout::kFresh:
      return "type 2, fresh";
    case StartLayout::kUpdated:
      return "type 2, NCB1 current";
    case StartLayout::kNcb0Current:
      return "type 2, NCB0 current";
    case StartLayout::kBothActive:
      return "type 2, both active";
    case StartLayout::kTypeOneFreeA:
      return "type 1, free area A";
    case StartLayout::kTypeOneFreeB:
      return "type 1, free area B";
    case StartLayout::kTypeOneNcb1FreeA:
      return "type 1, NCB1 current, free area A";
    case StartLayout::kTypeOneNcb1FreeB:
      return "type 1, NCB1 current, free area B";
  }
  return "?";
}

SoakLabPlan drawLab(SoakRandom& random, std::size_t count, bool withLargeParts) {
  std::vector<PartRow> parts = smallParts();
  if (withLargeParts) parts.insert(parts.end(), largeParts().begin(), largeParts().end());
  const std::vector<StartLayout> typeTwoLayouts = {StartLayout::kFresh, StartLayout::kUpdated,
                                                   StartLayout::kNcb0Current,
                                                   StartLayout::kBothActive};
  const std::vector<StartLayout> allLayouts = {StartLayout::kFresh,
                                               StartLayout::kUpdated,
                                               StartLayout::kNcb0Current,
                                               StartLayout::kBothActive,
                                               StartLayout::kTypeOneFreeA,
                                               StartLayout::kTypeOneFreeB,
                                               StartLayout::kTypeOneNcb1FreeA,
                                               StartLayout::kTypeOneNcb1FreeB};
  std::vector<AdapterPlan> adapters;
  for (std::size_t i = 0; i < count; ++i) {
    const PartRow& part = random.pick(parts);
    const bool typeTwoModel = random.percent(40);
    // The old type-1 layout is found on the models that take type-1 images.
    const StartLayout layout = random.pick(typeTwoModel ? typeTwoLayouts : allLayouts);
    adapters.push_back(
        adapterOn(part.name, typeTwoModel, layout, firmwareSide(random, typeTwoModel)));
  }
  return labOf(adapters);
}

AdapterPlan adapterOn(const std::string& part, bool typeTwoModel, StartLayout layout,
                      const std::string& firmwareConf) {
  AdapterPlan adapter;
  for (const std::vector<PartRow>* rows : {&smallParts(), &largeParts()}) {
    for (const PartRow& row : *rows) {
      if (row.name == part) {
        adapter.part = row.name;
        adapter.partConf = row.conf;
        adapter.capacity = row.capacity;
      }
    }
  }
  if (adapter.part.empty()) throw std::invalid_argument("no soak part named " + part);
  adapter.typeTwoModel = typeTwoModel;
  adapter.layout = layout;
  adapter.firmwareConf = firmwareConf;
  return adapter;
}

SoakLabPlan labOf(const std::vector<AdapterPlan>& adapters) {
  SoakLabPlan plan;
  plan.adapters = adapters;
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    const AdapterPlan& adapter = adapters[i];
    LabAdapter lab;
    lab.name = "enp" + std::to_string(i + 1) + "s0";
    lab.deviceId = adapter.typeTwoModel ? 0x21C3 : 0x20C3;
    lab.flash = startFlash(adapter.layout, lab.deviceId, adapter.capacity);
    lab.running = kStartVersion;
    if (keepsPrevious(adapter.layout)) lab.previous = kStartPrevious;
    lab.conf = adapter.partConf + adapter.firmwareConf;
    lab.image = bundleImageFile(adapter.typeTwoModel);
    plan.spec.adapters.push_back(lab);
  }
  plan.spec.database = database(boardEntry("t1", 0x20C3, 0x1F70, 0x1028, bundleImageFile(false)) +
                                boardEntry("t2", 0x21C3, 0x1F70, 0x1028, bundleImageFile(true)));
  return plan;
}

FirmwareVersion soakVersion(uint32_t n) {
  return {1, 6, n};
}

const char* bundleImageFile(bool typeTwoModel) {
  return typeTwoModel ? "fw_21c3.bin" : "fw_20c3.bin";
}

std::vector<uint8_t> bundleImageBytes(FirmwareVersion version, bool typeTwoModel) {
  image::ImageSpec spec;
  const uint16_t deviceId = typeTwoModel ? 0x21C3 : 0x20C3;
  spec.ncbs[0] = smallBlock(version, 100 + version.build * 2 + (typeTwoModel ? 1 : 0), deviceId);
  spec.ncbs[0].sizes = scaled(1 + version.build % 3);
  spec.ncbs[0].imageTag = static_cast<uint16_t>(0x1000 + version.build);
  spec.ncbs[1] = erasedBlock();
  return image::buildImage(spec);
}

const char* faultName(FaultKind kind) {
  switch (kind) {
    case FaultKind::kPowerCut:
      return "power cut after a command";
    case FaultKind::kTornCut:
      return "power cut during a command";
    case FaultKind::kTornCutBits:
      return "power cut during a command, erase torn at bit level";
    case FaultKind::kFlashIgnored:
      return "program or erase ignored";
    case FaultKind::kFlashWrongBit:
      return "program or erase with a bit wrong";
    case FaultKind::kFlashStuck:
      return "part stuck after a command";
    case FaultKind::kKill:
      return "tool killed";
    case FaultKind::kSignalAtTime:
      return "signal at a moment";
    case FaultKind::kSignalAtCommand:
      return "signal after an SPI command";
    case FaultKind::kSignalAtGrant:
      return "signal after a semaphore grant";
    case FaultKind::kEngineStuck:
      return "command engine stuck";
    case FaultKind::kPartStuck:
      return "part stuck";
    case FaultKind::kFirmwareStuck:
      return "firmware stuck";
    case FaultKind::kPhyStuck:
      return "PHY stuck";
    case FaultKind::kMdioHeld:
      return "MDIO semaphore held";
    case FaultKind::kFuseHeld:
      return "fuse semaphore held";
    case FaultKind::kMapRefused:
      return "mapping refused";
  }
  return "?";
}

std::string Fault::describe() const {
  std::string text = std::string(faultName(kind)) + " on adapter " + std::to_string(adapter + 1);
  std::string lines = conf;
  for (char& c : lines) {
    if (c == '\n') c = ';';
  }
  return text + " (" + lines + ")";
}

bool makesUnreadable(FaultKind kind) {
  return kind == FaultKind::kEngineStuck || kind == FaultKind::kPartStuck ||
         kind == FaultKind::kMapRefused;
}

bool hitsFlashCommands(FaultKind kind) {
  return kind == FaultKind::kPowerCut || kind == FaultKind::kTornCut ||
         kind == FaultKind::kTornCutBits || kind == FaultKind::kFlashIgnored ||
         kind == FaultKind::kFlashWrongBit || kind == FaultKind::kFlashStuck;
}

Fault drawFault(SoakRandom& random, std::size_t adapter, const RunExtent& extent,
                bool bitLevelTears) {
  // Cuts and flash faults mostly land among the commands a run of this kind sent before, some a
  // little past them; the rare kinds that only make the adapter unusable are drawn less often.
  struct Weighted {
    FaultKind kind;
    uint64_t weight;
  };
  const Weighted weights[] = {
      {FaultKind::kPowerCut, 14},
      {FaultKind::kTornCut, 12},
      {FaultKind::kTornCutBits, bitLevelTears ? 14u : 0u},
      {FaultKind::kFlashIgnored, 5},
      {FaultKind::kFlashWrongBit, 5},
      {FaultKind::kFlashStuck, 4},
      {FaultKind::kKill, 10},
      {FaultKind::kSignalAtTime, 6},
      {FaultKind::kSignalAtCommand, 5},
      {FaultKind::kSignalAtGrant, 3},
      {FaultKind::kEngineStuck, 1},
      {FaultKind::kPartStuck, 1},
      {FaultKind::kFirmwareStuck, 4},
      {FaultKind::kPhyStuck, 3},
      {FaultKind::kMdioHeld, 3},
      {FaultKind::kFuseHeld, 2},
      {FaultKind::kMapRefused, 1},
  };
  uint64_t total = 0;
  for (const Weighted& w : weights)
    total += w.weight;
  uint64_t draw = random.below(total);
  FaultKind kind = FaultKind::kPowerCut;
  for (const Weighted& w : weights) {
    if (draw < w.weight) {
      kind = w.kind;
      break;
    }
    draw -= w.weight;
  }

  Fault fault{.kind = kind, .adapter = adapter, .at = 0, .seed = 0, .conf = {}};
  const uint64_t commands = std::max<uint64_t>(extent.modifyingCommands, 4);
  const uint64_t spiCommands = std::max<uint64_t>(extent.commands, 100);
  const uint64_t microseconds = std::max<uint64_t>(extent.virtualUs, 1000);
  const std::string signals[] = {"int", "term", "hup", "quit"};
  const std::string signal = "signal = " + signals[random.below(4)] + "\n";
  switch (kind) {
    case FaultKind::kPowerCut:
    case FaultKind::kTornCut:
    case FaultKind::kTornCutBits:
      fault.at = random.between(1, commands + commands / 8);
      fault.seed = random.between(1, 1u << 20);
      fault.conf = "power_cut_after = " + std::to_string(fault.at) + "\n";
      if (kind != FaultKind::kPowerCut) {
        fault.conf += "power_cut_torn = yes\nseed = " + std::to_string(fault.seed) + "\n";
      }
      if (kind == FaultKind::kTornCutBits) fault.conf += "torn_erase = bits\n";
      break;
    case FaultKind::kFlashIgnored:
    case FaultKind::kFlashWrongBit:
    case FaultKind::kFlashStuck:
      fault.at = random.between(1, commands + commands / 8);
      fault.conf = "flash_fault_at = " + std::to_string(fault.at) + "\nflash_fault = " +
                   (kind == FaultKind::kFlashIgnored    ? "ignored"
                    : kind == FaultKind::kFlashWrongBit ? "wrong"
                                                        : "stuck") +
                   "\n";
      break;
    case FaultKind::kKill:
      fault.at = random.between(1, microseconds + microseconds / 8);
      fault.conf = "kill_at_us = " + std::to_string(fault.at) + "\n";
      break;
    case FaultKind::kSignalAtTime:
      fault.at = random.between(1, microseconds + microseconds / 8);
      fault.conf = signal + "signal_at_us = " + std::to_string(fault.at) + "\n";
      break;
    case FaultKind::kSignalAtCommand:
      fault.at = random.between(1, spiCommands + spiCommands / 8);
      fault.conf = signal + "signal_at_command = " + std::to_string(fault.at) + "\n";
      break;
    case FaultKind::kSignalAtGrant:
      fault.at = random.between(1, 4);
      fault.conf = signal + "interrupt_at_grant = " + std::to_string(fault.at) + "\n";
      break;
    case FaultKind::kEngineStuck:
      fault.conf = "engine_stuck = yes\n";
      break;
    case FaultKind::kPartStuck:
      fault.conf = "part_stuck = yes\n";
      break;
    case FaultKind::kFirmwareStuck:
      fault.conf = "firmware_stuck = yes\n";
      break;
    case FaultKind::kPhyStuck:
      fault.conf = "phy_stuck = yes\n";
      break;
    case FaultKind::kMdioHeld:
      fault.conf = "mdio_semaphore = held\n";
      break;
    case FaultKind::kFuseHeld:
      fault.conf = "fuse_semaphore = held\n";
      break;
    case FaultKind::kMapRefused:
      fault.conf = "map_refused = eperm\n";
      break;
  }
  return fault;
}

}  // namespace hlv::test::soak
