#include <gtest/gtest.h>

#include <vector>

#include "flashctl/voapiflashcontrol.h"
#include "sim/emulated_adapter.h"

namespace hlv {
namespace {

TEST(Smoke, ReadWriteErase) {
  for (uint32_t id : {0xEF6015u, 0x1F2400u, 0x1F240001u, 0x1F2700u, 0xC22016u, 0xEF4016u, 0x014016u,
                      0xEF7017u, 0x1F4400u}) {
    SCOPED_TRACE(id);
    sim::VirtualClock clock;
    sim::AdapterConfig config;
    config.jedecId = id;
    config.sfdp = true;
    sim::EmulatedAdapter adapter(config, clock);
    VoApiFlashControl flash(&adapter);
    ASSERT_TRUE(flash.init());
    std::vector<uint8_t> data(1000);
    for (size_t i = 0; i < data.size(); ++i)
      data[i] = static_cast<uint8_t>(i * 7);
    uint32_t done = 0;
    ASSERT_TRUE(flash.write(0x1002, data.data(), 1000, done));
    std::vector<uint8_t> back(1000);
    ASSERT_TRUE(flash.read(0x1002, back.data(), 1000, done));
    EXPECT_EQ(back, data);
    ASSERT_TRUE(flash.eraseBlock(0));
    ASSERT_TRUE(flash.read(0x1002, back.data(), 1000, done));
    EXPECT_EQ(back, std::vector<uint8_t>(1000, 0xFF));
    EXPECT_EQ(adapter.violations(), 0u);
    printf("%x type %u page %u sector %u block %u size %u\n", id, flash.flashType(), flash.pageSize,
           flash.sectorSize, flash.blockSize, flash.flashSize);
  }
}

}  // namespace
}  // namespace hlv
