// The emulated chip revision, serial test port and fuse read port, driven register by register:
// the sequence that reads the fuses, and sequences derived from it by one change, each of which
// must be noticed (a violation counted, or fuse words that read 0).
#include <gtest/gtest.h>

#include <ostream>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/register_map.h"
#include "sim/emulated_adapter.h"
#include "tests/support/adapter_rig.h"

namespace hlv::sim {
namespace {

// An adapter with this firmware side; the tests count the violations themselves.
struct Rig : test::AdapterRig {
  explicit Rig(const FirmwareConfig& firmware = {})
      : AdapterRig(withFirmware(firmware), test::TrafficCheck::kCountedByTheTest) {}
};

constexpr uint64_t kMs = 1000000;
constexpr uint32_t kLanePatterns[] = {0xCCC5, 0xCC5C, 0xC5CC, 0x5CCC};

// A key digest fused, and a status word that says so; every word the check reads is non-zero.
FirmwareConfig fused() {
  FirmwareConfig firmware;
  firmware.chipRevision = 0x10A;
  firmware.fuseStatus = 0x1234;
  for (std::size_t i = 0; i < firmware.fuseDigest.size(); ++i)
    firmware.fuseDigest[i] = static_cast<uint8_t>(0xA0 + i);
  return firmware;
}

// One step a program takes: a register read or write, or a pause on the virtual clock.
struct Step {
  enum Kind : uint8_t { kRead, kWrite, kPause } kind;
  uint32_t offset = 0;
  uint32_t value = 0;  // written; for a pause, nanoseconds
};
using Steps = std::vector<Step>;

Step readOf(uint32_t offset) {
  return {Step::kRead, offset, 0};
}
Step writeOf(uint32_t offset, uint32_t value) {
  return {Step::kWrite, offset, value};
}
Step pauseOf(uint64_t ns) {
  return {Step::kPause, 0, static_cast<uint32_t>(ns)};
}

// The clocked sequence that opens the fuse read port, as the edges a program sends.
std::vector<uint32_t> openingLines() {
  const uint32_t m = reg::kTestPortModeSelect;
  const uint32_t d = reg::kTestPortDataIn;
  std::vector<uint32_t> lines = {m, m, m, m, m, 0, m, m, 0, 0};
  for (int bit = 0; bit < 32; ++bit)
    lines.push_back(((0xFFE7FC7Au >> bit) & 1 ? d : 0) | (bit == 31 ? m : 0));
  for (uint32_t l : {m, m, 0u, 0u, m | d, m, 0u})
    lines.push_back(l);
  return lines;
}

Steps openingSteps(const std::vector<uint32_t>& lines = openingLines()) {
  Steps steps = {writeOf(reg::kTestPortData, reg::kTestPortDataSetup),
                 writeOf(reg::kTestPortControl, 0),
                 writeOf(reg::kTestPortControl, reg::kTestPortEnable)};
  for (uint32_t l : lines) {
    steps.push_back(writeOf(reg::kTestPortControl, reg::kTestPortEnable | l));
    steps.push_back(writeOf(reg::kTestPortControl, reg::kTestPortEnable | reg::kTestPortClock | l));
    steps.push_back(readOf(reg::kTestPortData));
  }
  steps.push_back(writeOf(reg::kTestPortControl, reg::kTestPortEnable));
  return steps;
}

// One fuse word: idle, select, 1 ms, strobe, 1 ms, release, the result, idle.
enum WordStep : std::size_t { kSelect = 1, kFirstPause, kStrobe, kSecondPause, kRelease, kResult };

Steps fuseWordSteps(uint32_t lane, uint32_t index) {
  const uint32_t command = (lane * 0x400 + index) << 16 | kLanePatterns[lane];
  return {writeOf(reg::kFuseCommand, reg::kFuseCommandIdle),
          writeOf(reg::kFuseCommand, command),
          pauseOf(kMs),
          writeOf(reg::kFuseCommand, command | (0x2u << (4 * lane))),
          pauseOf(kMs),
          writeOf(reg::kFuseCommand, command),
          readOf(reg::kFuseResult),
          writeOf(reg::kFuseCommand, reg::kFuseCommandIdle)};
}

// The key check's register sequence, and where its parts begin.
struct KeyCheck {
  Steps steps;
  std::size_t grant = 0;
  std::size_t opening = 0;         // the first step of the port's opening
  std::vector<std::size_t> words;  // the first step of each fuse word: status, then digest
  std::size_t release = 0;
  std::size_t word(std::size_t n, WordStep step) const { return words[n] + step; }
};

KeyCheck keyCheck(bool openThePort = true) {
  KeyCheck check;
  Steps& s = check.steps;
  s.push_back(readOf(reg::kChipRevision));
  check.grant = s.size();
  s.push_back(readOf(reg::kFuseSemaphore));
  s.push_back(writeOf(reg::kFuseCommand, reg::kFuseCommandIdle));
  check.opening = s.size();
  if (openThePort) {
    const Steps opening = openingSteps();
    s.insert(s.end(), opening.begin(), opening.end());
  }
  const auto addWord = [&](uint32_t lane, uint32_t index) {
    check.words.push_back(s.size());
    const Steps word = fuseWordSteps(lane, index);
    s.insert(s.end(), word.begin(), word.end());
  };
  addWord(1, 0x1E);
  for (uint32_t index : {7, 8, 9, 25, 26, 27, 28, 29})
    addWord(3, index);
  check.release = s.size();
  s.push_back(writeOf(reg::kFuseSemaphore, reg::kSemaphoreRelease));
  return check;
}

// The status word and the digest words of fused(), in the order the check reads them.
std::vector<uint32_t> fusedWords() {
  std::vector<uint32_t> words = {0x1234};
  for (uint32_t i = 0; i < 8; ++i) {
    const uint32_t b = 0xA0 + 4 * i;
    words.push_back(b | (b + 1) << 8 | (b + 2) << 16 | (b + 3) << 24);
  }
  return words;
}

std::vector<uint32_t> fusedWordsTwice() {
  std::vector<uint32_t> words = fusedWords();
  const std::vector<uint32_t> again = fusedWords();
  words.insert(words.end(), again.begin(), again.end());
  return words;
}

// Runs the steps; what the result register gave, in order.
std::vector<uint32_t> run(Rig& rig, const Steps& steps) {
  std::vector<uint32_t> results;
  for (const Step& step : steps) {
    switch (step.kind) {
      case Step::kRead: {
        const uint32_t value = rig.read(step.offset);
        if (step.offset == reg::kFuseResult) results.push_back(value);
        break;
      }
      case Step::kWrite:
        rig.write(step.offset, step.value);
        break;
      case Step::kPause:
        rig.clock.advance(step.value);
        break;
    }
  }
  return results;
}

Steps without(Steps steps, std::size_t at) {
  steps.erase(steps.begin() + static_cast<std::ptrdiff_t>(at));
  return steps;
}
Steps swapped(Steps steps, std::size_t a, std::size_t b) {
  std::swap(steps[a], steps[b]);
  return steps;
}
// The step at `from` taken out and put back before the step now at `before`.
Steps moved(Steps steps, std::size_t from, std::size_t before) {
  const Step step = steps[from];
  steps.erase(steps.begin() + static_cast<std::ptrdiff_t>(from));
  if (before > from) --before;
  steps.insert(steps.begin() + static_cast<std::ptrdiff_t>(before), step);
  return steps;
}
Steps redirected(Steps steps, std::size_t at, uint32_t offset) {
  steps[at].offset = offset;
  return steps;
}
Steps concatenated(Steps first, const Steps& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// The firmware keeps the semaphore: the program polls it a few times and gives up.
Steps refusedCheck() {
  Steps steps = {readOf(reg::kChipRevision)};
  for (int poll = 0; poll < 5; ++poll)
    steps.push_back(readOf(reg::kFuseSemaphore));
  return steps;
}

struct SoundSequence {
  const char* name;
  Steps steps;
  bool semaphoreFree;  // the firmware lets the program have it
  std::vector<uint32_t> words;
};

void PrintTo(const SoundSequence& c, std::ostream* os) {
  *os << c.name;
}

class SoundFuseSequences : public testing::TestWithParam<SoundSequence> {};

TEST_P(SoundFuseSequences, EndCleanWithTheFusedWords) {
  const SoundSequence& c = GetParam();
  FirmwareConfig firmware = fused();
  firmware.fuseSemaphoreHeld = !c.semaphoreFree;
  Rig rig(firmware);
  EXPECT_EQ(run(rig, c.steps), c.words);
  EXPECT_EQ(rig.adapter.violations(), 0u);
  EXPECT_EQ(rig.adapter.stats().unclaimedAccesses, 0u);
  EXPECT_FALSE(rig.adapter.semaphores().heldByProgram(SemaphoreId::kFuse));
  EXPECT_FALSE(rig.adapter.chipFuses().fusePortOpen()) << "closed again by the release";
}

INSTANTIATE_TEST_SUITE_P(
    Fuses, SoundFuseSequences,
    testing::Values(SoundSequence{"TheKeyCheck", keyCheck().steps, true, fusedWords()},
                    SoundSequence{"TwoKeyChecksEachOpeningThePort",
                                  concatenated(keyCheck().steps, keyCheck().steps), true,
                                  fusedWordsTwice()},
                    SoundSequence{"ARefusedSemaphore", refusedCheck(), false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// A sequence derived from the key check by one change, and how it is noticed: the violation
// kind it counts (if any), and whether fuse words read wrong (0) because of it.
struct WrongSequence {
  const char* name;
  Steps steps;
  std::optional<Violation> counted;
  bool wordsWrong;
  std::vector<uint32_t> expectedWords = fusedWords();  // what the sound sequence reads
  bool semaphoreFree = true;
};

void PrintTo(const WrongSequence& c, std::ostream* os) {
  *os << c.name;
}

std::vector<WrongSequence> wrongSequences() {
  const KeyCheck k = keyCheck();
  const Steps twice = concatenated(k.steps, keyCheck(/*openThePort=*/false).steps);
  return {
      // The semaphore.
      {"SemaphoreNeverTaken", without(k.steps, k.grant), Violation::kFuseWithoutSemaphore, true},
      {"TestPortClockedBeforeTheSemaphoreIsTaken", moved(k.steps, k.grant, k.words[0]),
       Violation::kFuseWithoutSemaphore, true},
      {"SemaphoreReleasedBeforeTheDigestWords", moved(k.steps, k.release, k.words[1]),
       Violation::kFuseWithoutSemaphore, true},
      {"RefusedSemaphoreIgnored",
       concatenated(refusedCheck(), Steps(k.steps.begin() + 2, k.steps.end() - 1)),
       Violation::kFuseWithoutSemaphore, true, fusedWords(), /*semaphoreFree=*/false},
      // The port closes with the release: a second check must open it again.
      {"SecondCheckSkipsTheOpeningSequence", twice, Violation::kFusePortClosed, true,
       fusedWordsTwice()},
      // The pauses of a word read.
      {"PauseAfterTheSelectionLeftOut", without(k.steps, k.word(0, kFirstPause)),
       Violation::kFuseStepTooShort, true},
      {"PauseAfterTheStrobeLeftOut", without(k.steps, k.word(3, kSecondPause)),
       Violation::kFuseStepTooShort, true},
      {"PauseHalved",
       [&] {
         Steps s = k.steps;
         s[k.word(8, kFirstPause)].value = kMs / 2;
         return s;
       }(),
       Violation::kFuseStepTooShort, true},
      // The steps of a word read.
      {"StrobeLeftOut", without(k.steps, k.word(2, kStrobe)), std::nullopt, true},
      {"StrobeBeforeTheSelection", swapped(k.steps, k.word(1, kSelect), k.word(1, kStrobe)),
       std::nullopt, true},
      {"ResultReadBeforeTheStrobeIsReleased",
       swapped(k.steps, k.word(0, kRelease), k.word(0, kResult)), std::nullopt, true},
      {"StrobeReleaseLeftOut", without(k.steps, k.word(5, kRelease)), std::nullopt, true},
      {"SelectionWrittenToTheResultRegister",
       redirected(k.steps, k.word(4, kSelect), reg::kFuseResult), std::nullopt, true},
      // The opening sequence.
      {"DataSetupLeftOut", without(k.steps, k.opening), Violation::kTestPortSequence, true},
      {"ClosingControlWriteLeftOut", without(k.steps, k.words[0] - 1), Violation::kTestPortSequence,
       true},
      {"OpeningSequenceLeftOut", keyCheck(/*openThePort=*/false).steps, Violation::kFusePortClosed,
       true},
      {"TwoEdgesSwapped",
       // The edges of instruction bits 0 (clear) and 1 (set): each edge takes three steps.
       swapped(swapped(swapped(k.steps, k.opening + 3 + 3 * 10, k.opening + 3 + 3 * 11),
                       k.opening + 4 + 3 * 10, k.opening + 4 + 3 * 11),
               k.opening + 5 + 3 * 10, k.opening + 5 + 3 * 11),
       Violation::kTestPortSequence, true},
      {"TestPortWrittenAtTheFusePort", redirected(k.steps, k.opening + 1, reg::kFuseCommand),
       Violation::kTestPortSequence, true},
  };
}

class WrongFuseSequences : public testing::TestWithParam<WrongSequence> {};

TEST_P(WrongFuseSequences, AreNoticed) {
  const WrongSequence& c = GetParam();
  FirmwareConfig firmware = fused();
  firmware.fuseSemaphoreHeld = !c.semaphoreFree;
  Rig rig(firmware);
  const std::vector<uint32_t> words = run(rig, c.steps);
  if (c.counted) {
    EXPECT_GE(rig.violations(*c.counted), 1u) << violationName(*c.counted);
  } else {
    EXPECT_EQ(rig.adapter.violations(), 0u) << "noticed by what the words read";
  }
  EXPECT_EQ(words != c.expectedWords, c.wordsWrong);
  // A word read wrong reads 0: never another word's value.
  for (std::size_t i = 0; i < words.size() && i < c.expectedWords.size(); ++i)
    EXPECT_TRUE(words[i] == c.expectedWords[i] || words[i] == 0) << "word " << i;
}

INSTANTIATE_TEST_SUITE_P(Fuses, WrongFuseSequences, testing::ValuesIn(wrongSequences()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ChipFuses, TheRevisionWordIsReadWithoutTheSemaphore) {
  EXPECT_EQ(Rig(fused()).read(reg::kChipRevision), 0x10Au);
  Rig plain;
  EXPECT_EQ(plain.read(reg::kChipRevision), 0x109u) << "the default revision";
  EXPECT_EQ(plain.adapter.violations(), 0u);
}

TEST(ChipFuses, TheOpeningSequenceGivesEveryLaneAndIndexItsWord) {
  Rig rig(fused());
  rig.read(reg::kFuseSemaphore);
  EXPECT_EQ(run(rig, fuseWordSteps(1, 0x1E)), std::vector<uint32_t>{0u}) << "closed at first";
  EXPECT_EQ(rig.violations(Violation::kFusePortClosed), 1u);
  run(rig, openingSteps());
  EXPECT_TRUE(rig.adapter.chipFuses().fusePortOpen());
  EXPECT_EQ(run(rig, fuseWordSteps(1, 0x1E)), std::vector<uint32_t>{0x1234u});
  EXPECT_EQ(run(rig, fuseWordSteps(3, 7)), std::vector<uint32_t>{0xA3A2A1A0u})
      << "digest bytes 0-3, little-endian";
  EXPECT_EQ(run(rig, fuseWordSteps(3, 29)), std::vector<uint32_t>{0xBFBEBDBCu})
      << "digest bytes 28-31";
  EXPECT_EQ(run(rig, fuseWordSteps(2, 7)), std::vector<uint32_t>{0u}) << "nothing fused there";
  EXPECT_EQ(run(rig, fuseWordSteps(0, 31)), std::vector<uint32_t>{0u});
  EXPECT_EQ(rig.adapter.violations(), 1u) << "only the read before the opening";
  rig.write(reg::kFuseSemaphore, reg::kSemaphoreRelease);
  EXPECT_FALSE(rig.adapter.chipFuses().fusePortOpen());
}

TEST(ChipFuses, AnyWrongEdgeIsCountedAndLeavesThePortClosed) {
  const std::vector<uint32_t> good = openingLines();
  struct Case {
    const char* what;
    std::vector<uint32_t> lines;
  };
  std::vector<uint32_t> flipped = good;
  flipped[20] ^= reg::kTestPortDataIn;
  std::vector<uint32_t> noModeOnLast = good;
  noModeOnLast[41] &= ~reg::kTestPortModeSelect;
  std::vector<uint32_t> extra = good;
  extra.push_back(0);
  std::vector<uint32_t> shortOne = good;
  shortOne.pop_back();
  const Case cases[] = {{"one instruction bit flipped", flipped},
                        {"the last instruction bit without mode-select", noModeOnLast},
                        {"one edge too many", extra},
                        {"one edge short", shortOne}};
  for (const Case& c : cases) {
    Rig rig(fused());
    rig.read(reg::kFuseSemaphore);
    run(rig, openingSteps(c.lines));
    EXPECT_FALSE(rig.adapter.chipFuses().fusePortOpen()) << c.what;
    EXPECT_EQ(run(rig, fuseWordSteps(1, 0x1E)), std::vector<uint32_t>{0u}) << c.what;
    EXPECT_EQ(rig.violations(Violation::kTestPortSequence), 1u) << c.what;
  }
}

// Without the semaphore both ports are the firmware's: each access is counted once, a write
// changes nothing and a read gives 0.
TEST(ChipFuses, EveryPortAccessWithoutTheSemaphoreIsCountedAndHasNoEffect) {
  struct Case {
    const char* what;
    Step access;
  };
  const Case cases[] = {
      {"a test port control write", writeOf(reg::kTestPortControl, 0)},
      {"a test port data write", writeOf(reg::kTestPortData, reg::kTestPortDataSetup)},
      {"a test port control read", readOf(reg::kTestPortControl)},
      {"a test port data-out read", readOf(reg::kTestPortData)},
      {"a fuse command", writeOf(reg::kFuseCommand, 0x041ECC5C)},
      {"a fuse command read back", readOf(reg::kFuseCommand)},
      {"a fuse result read", readOf(reg::kFuseResult)},
  };
  for (const Case& c : cases) {
    Rig rig(fused());
    // The port opened and a word latched under the semaphore, which is then released and taken
    // by nobody.
    rig.read(reg::kFuseSemaphore);
    run(rig, openingSteps());
    Steps word = fuseWordSteps(1, 0x1E);
    word.pop_back();  // the result stays latched
    run(rig, word);
    rig.write(reg::kFuseSemaphore, reg::kSemaphoreRelease);
    ASSERT_EQ(rig.adapter.violations(), 0u) << c.what;
    run(rig, {c.access});
    EXPECT_EQ(rig.violations(Violation::kFuseWithoutSemaphore), 1u) << c.what;
    EXPECT_EQ(rig.adapter.violations(), 1u) << c.what;
  }
  Rig rig(fused());
  run(rig, openingSteps());
  rig.read(reg::kFuseSemaphore);
  EXPECT_FALSE(rig.adapter.chipFuses().fusePortOpen()) << "the opening clocked without it";
  EXPECT_EQ(run(rig, fuseWordSteps(1, 0x1E)), std::vector<uint32_t>{0u});
}

}  // namespace
}  // namespace hlv::sim
