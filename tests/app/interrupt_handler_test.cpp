#include "app/interrupt_handler.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdint>
#include <vector>

#include "platform/interrupt_hold.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "trace/trace_sink.h"

namespace hlv {
namespace {

int gActions = 0;
void countAction() {
  ++gActions;
}

// Installs the program's handler, then swaps in an action that only counts.
class CountingInterrupts : public ::testing::Test {
 protected:
  void SetUp() override {
    installInterruptHandler();
    platform::setInterruptAction(&countAction);
    gActions = 0;
  }
  void TearDown() override {
    signal(SIGINT, SIG_DFL);
    platform::setInterruptAction(nullptr);
  }
};

TEST_F(CountingInterrupts, AnInterruptDuringAHoldRunsWhenTheLastHoldIsReleasedAndNotBefore) {
  {
    platform::InterruptHold outer;
    {
      platform::InterruptHold inner;
      raise(SIGINT);
      EXPECT_EQ(gActions, 0);
      EXPECT_TRUE(platform::interruptPending());
    }
    EXPECT_EQ(gActions, 0) << "ran while a hold was still active";
  }
  EXPECT_EQ(gActions, 1);
  EXPECT_FALSE(platform::interruptPending());

  raise(SIGINT);
  EXPECT_EQ(gActions, 2) << "without a hold the action runs at once";
}

std::vector<uint8_t> words(std::initializer_list<uint32_t> values) {
  std::vector<uint8_t> bytes;
  for (uint32_t value : values) {
    for (int i = 0; i < 4; ++i)
      bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
  return bytes;
}

TEST(InterruptAction, TracesTheInterruptAndExitsWith41ThroughTheNormalExitPath) {
  // The child is forked (the default death test style), so it writes where this test reads.
  test::TempDir dir;
  const std::string traceFile = dir / "trace.etl";
  EXPECT_EXIT(
      {
        trace::traceEnable("test");
        trace::traceOpen(traceFile);
        installInterruptHandler();
        raise(SIGINT);
      },
      ::testing::ExitedWithCode(41), "");
  // The record reached the file only if the exit-time destructors closed the trace stream.
  EXPECT_EQ(test::readBinaryFile(traceFile), words({9248, 15, 0}));
}

}  // namespace
}  // namespace hlv
