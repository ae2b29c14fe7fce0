#include "engine/flash_state.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "tests/engine/flash_doubles.h"
#include "tests/engine/update_harness.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv {
namespace {

using Kind = test::FlashCall::Kind;

struct StateCase {
  const char* what;
  image::ImageSpec spec;
  FlashUpdateStatus status;
  std::optional<uint32_t> activeNcb;
  std::optional<FirmwareVersion> running;
  std::optional<bool> componentsOk;
  bool rollbackPossible;
};

std::vector<StateCase> stateCases() {
  std::vector<StateCase> cases;
  cases.push_back({"after an update: intact, and the earlier firmware a rollback target",
                   test::updatedSpec(), kStatusSuccess, 0u, test::kOldVersion, true, true});
  image::ImageSpec damaged = test::updatedSpec();
  damaged.ncbs[0].romCrc.kind = image::CrcSpec::Kind::kBad;
  cases.push_back({"the running option ROM fails its CRC", damaged, kStatusSuccess, 0u,
                   test::kOldVersion, false, true});
  image::ImageSpec fresh = test::updatedSpec();
  fresh.ncbs[1].erased = true;
  cases.push_back({"never updated: no rollback target", fresh, kStatusSuccess, 0u,
                   test::kOldVersion, true, false});
  image::ImageSpec blank = test::updatedSpec();
  blank.ncbs[0].erased = true;
  blank.ncbs[1].erased = true;
  cases.push_back({"nothing active", blank, kStatusNoValidActiveNcb, std::nullopt, std::nullopt,
                   std::nullopt, false});
  return cases;
}

// The state as the engine's own readers see it, and not one byte written.
TEST(ReadFlashState, TellsTheActiveFirmwareItsIntegrityAndTheRollbackAnswerWritingNothing) {
  for (const StateCase& c : stateCases()) {
    SCOPED_TRACE(c.what);
    test::NorMemoryFlash part;
    const std::vector<uint8_t> flash = image::buildImage(c.spec);
    std::copy(flash.begin(), flash.begin() + std::min(flash.size(), part.contents.size()),
              part.contents.begin());
    test::FlashDecorator recorder(part);
    FlashState state;
    EXPECT_EQ(readFlashState(recorder, state), c.status);
    EXPECT_EQ(state.activeNcb, c.activeNcb);
    EXPECT_EQ(state.running, c.running);
    EXPECT_EQ(state.componentsOk, c.componentsOk);
    EXPECT_EQ(state.rollbackStatus == 0, c.rollbackPossible) << state.rollbackStatus;
    if (c.rollbackPossible) {
      EXPECT_EQ(state.previous, (FirmwareVersion{1, 4, 0}));
    }
    for (const test::FlashCall& call : recorder.calls)
      EXPECT_EQ(call.kind, Kind::kRead);
  }
}

}  // namespace
}  // namespace hlv
