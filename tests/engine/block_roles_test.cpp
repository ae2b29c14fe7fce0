// The rule that says which control block readers take and which one an update replaces or a
// rollback activates again, with the address and bank of each.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>

#include "engine/block_roles.h"

namespace hlv {
namespace {

struct RolesCase {
  const char* what;
  NcbState ncb0;
  NcbState ncb1;
  std::optional<uint8_t> active;  // the slot readers take; none when neither is active
};

const RolesCase kRolesCases[] = {
    {"both erased: nothing to take", NcbState::kNotActive, NcbState::kNotActive, std::nullopt},
    {"both deactivated: nothing to take", NcbState::kDeactivated, NcbState::kDeactivated,
     std::nullopt},
    {"NCB0 alone", NcbState::kActive, NcbState::kNotActive, 0},
    {"NCB1 alone", NcbState::kDeactivated, NcbState::kActive, 1},
    {"both active: NCB0 wins", NcbState::kActive, NcbState::kActive, 0},
    {"the other active state counts as active", NcbState::kActiveAlternate, NcbState::kActive, 0},
    {"NCB1 in the other active state", NcbState::kNotActive, NcbState::kActiveAlternate, 1},
};

TEST(ChooseBlocks, ReadersTakeNcb0WhenActiveElseNcb1AndTheOtherIsTheTarget) {
  for (const RolesCase& c : kRolesCases) {
    std::array<uint8_t, 2 * kNcbBlockSize> buffer{};
    const HalvernNcb ncb0(buffer.data());
    const HalvernNcb ncb1(buffer.data() + kNcbBlockSize);
    ncb0.setState(c.ncb0);
    ncb1.setState(c.ncb1);
    const std::optional<BlockRoles<HalvernNcb>> roles = chooseBlocks(ncb0, ncb1);
    ASSERT_EQ(roles.has_value(), c.active.has_value()) << c.what;
    if (!roles) continue;
    const bool activeIsNcb1 = *c.active == 1;
    EXPECT_EQ(roles->active, activeIsNcb1 ? ncb1 : ncb0) << c.what;
    EXPECT_EQ(roles->other, activeIsNcb1 ? ncb0 : ncb1) << c.what;
    EXPECT_EQ(roles->activeSlot.isNcb1(), activeIsNcb1) << c.what;
    EXPECT_EQ(roles->otherSlot, roles->activeSlot.other()) << c.what;
  }
}

TEST(NcbSlot, EachSlotHasItsAddressAndBank) {
  EXPECT_EQ(NcbSlot::ncb0().address(), 0x0u);
  EXPECT_EQ(NcbSlot::ncb1().address(), 0x4000u);
  EXPECT_EQ(NcbSlot::ncb0().bank().start, 0x8000u);
  EXPECT_EQ(NcbSlot::ncb0().bank().end, 0x104000u);
  EXPECT_EQ(NcbSlot::ncb1().bank().start, 0x104000u);
  EXPECT_EQ(NcbSlot::ncb1().bank().end, 0x200000u);
  EXPECT_EQ(NcbSlot::atAddress(0x4000), NcbSlot::ncb1());
  EXPECT_EQ(NcbSlot::ncb1().other(), NcbSlot::ncb0());
  EXPECT_EQ(NcbSlot::ncb1().index(), 1);
}

}  // namespace
}  // namespace hlv
