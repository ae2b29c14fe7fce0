// The operator's interrupt: counted, held while the flash must not be left half-written, traced,
// and ending the run with its status wherever the run stands.
#include "app/interrupt_handler.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/console.h"
#include "platform/interrupt_hold.h"
#include "platform/linux_platform.h"
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
    platform::setInterruptAction(nullptr);
    for (const int signalNumber : interruptSignals())
      signal(signalNumber, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
  }
};

// A termination request, a dropped session and SIGQUIT are taken like Ctrl-C: recorded only, and
// acted on at the end of a hold, never inside it.
TEST_F(CountingInterrupts, EverySignalTakenIsHeldLikeCtrlC) {
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    gActions = 0;
    {
      platform::InterruptHold hold;
      raise(signalNumber);
      EXPECT_EQ(gActions, 0) << strsignal(signalNumber);
      EXPECT_TRUE(platform::interruptPending()) << strsignal(signalNumber);
    }
    EXPECT_EQ(gActions, 1) << strsignal(signalNumber);
  }
}

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
  EXPECT_EQ(gActions, 1) << "the handler itself runs nothing";
  EXPECT_TRUE(platform::interruptPending());
  platform::interruptCheckpoint();
  EXPECT_EQ(gActions, 2) << "without a hold the next checkpoint runs it";
  EXPECT_FALSE(platform::interruptPending());
}

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Sends SIGINT to the calling thread after a delay, from a thread of its own.
class LateInterrupt {
 public:
  explicit LateInterrupt(milliseconds delay)
      : target_(pthread_self()), thread_([this, delay] {
          std::this_thread::sleep_for(delay);
          pthread_kill(target_, SIGINT);
        }) {}
  ~LateInterrupt() { thread_.join(); }

 private:
  pthread_t target_;
  std::thread thread_;
};

steady_clock::time_point gActionTime;
void recordActionTime() {
  ++gActions;
  gActionTime = steady_clock::now();
}

// A sleep an interrupt breaks off still lasts its whole time (a settle time or a reset pulse
// under a held interrupt must not be cut short), and is a checkpoint when nothing is held.
TEST_F(CountingInterrupts, ASleepLastsItsWholeTimeAndActsOnAnInterruptOnlyWhenNothingIsHeld) {
  platform::setInterruptAction(&recordActionTime);
  platform::LinuxPlatform machine;
  constexpr milliseconds kSleep{300};
  for (const bool held : {true, false}) {
    gActions = 0;
    const steady_clock::time_point start = steady_clock::now();
    {
      LateInterrupt interrupt(milliseconds(30));
      std::optional<platform::InterruptHold> hold;
      if (held) hold.emplace();
      machine.sleepMicroseconds(std::chrono::microseconds(kSleep).count());
      EXPECT_GE(steady_clock::now() - start, kSleep) << "held " << held;
      EXPECT_EQ(gActions, held ? 0 : 1) << "held " << held;
    }
    EXPECT_EQ(gActions, 1) << "held " << held;
    if (!held) {
      EXPECT_LT(gActionTime - start, kSleep) << "the action waited for the sleep's end";
    }
  }
}

std::vector<uint8_t> words(std::initializer_list<uint32_t> values) {
  std::vector<uint8_t> bytes;
  for (uint32_t value : values) {
    for (int i = 0; i < 4; ++i)
      bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
  return bytes;
}

class InterruptSignal : public ::testing::TestWithParam<int> {};

TEST_P(InterruptSignal, IsTracedAndExitsWith41ThroughTheNormalExitPathAtACheckpoint) {
  const int signalNumber = GetParam();
  // The child is forked (the default death test style), so it writes where this test reads.
  test::TempDir dir;
  const std::string traceFile = dir / "trace.etl";
  EXPECT_EXIT(
      {
        trace::traceEnable("test");
        trace::traceOpen(traceFile);
        installInterruptHandler();
        raise(signalNumber);
        // The handler only records the interrupt; the next checkpoint ends the process.
        if (!platform::interruptPending()) _exit(1);
        platform::interruptCheckpoint();
        _exit(2);
      },
      ::testing::ExitedWithCode(41), "");
  // The records reached the file only if the exit-time destructors closed the trace stream. The
  // second one carries the signal, a 4-byte argument.
  EXPECT_EQ(test::readBinaryFile(traceFile),
            words({9248, 15, 0, 9248, 15, 20, 4, static_cast<uint32_t>(signalNumber)}));
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptSignal,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(sigabbrev_np(info.param));
                         });

// The exit-time destructors may take a while (the session's teardown); a second interrupt then,
// of whatever kind, must neither end the process by its default action nor enter exit() again.
TEST(InterruptAction, SignalsArrivingWhileTheRunEndsAreIgnored) {
  EXPECT_EXIT(
      {
        // Runs among the exit-time destructors, as the session's teardown does; an interrupt
        // pending there would end the process again at the teardown's next checkpoint.
        std::atexit([] {
          for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
            raise(signalNumber);
            if (platform::interruptPending()) _exit(3);
          }
        });
        installInterruptHandler();
        raise(SIGTERM);
        platform::interruptCheckpoint();
        _exit(2);
      },
      ::testing::ExitedWithCode(41), "");
}

// A write to a standard stream nobody reads any more (the pipe the output went into was closed)
// fails instead of ending the process, wherever it happens.
TEST(InterruptAction, AWriteToAClosedPipeFailsInsteadOfEndingTheRun) {
  EXPECT_EXIT(
      {
        signal(SIGPIPE, SIG_DFL);
        int output[2];
        if (pipe(output) != 0) _exit(1);
        close(output[0]);
        installInterruptHandler();
        const char line[] = "|-- Updating... ";
        if (write(output[1], line, sizeof line) != -1 || errno != EPIPE) _exit(2);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

// The operator's answer is awaited without restarting the read, so an interrupt ends the wait.
TEST(InterruptAction, EndsARunWaitingForTheOperatorsAnswer) {
  EXPECT_EXIT(
      {
        int input[2];
        if (pipe(input) != 0) _exit(1);
        std::FILE* answers = fdopen(input[0], "r");  // the writing end stays open: no answer
        installInterruptHandler();
        LateInterrupt interrupt(milliseconds(50));
        readAnswer("Choice: ", false, answers, std::fopen("/dev/null", "w"));
        _exit(2);
      },
      ::testing::ExitedWithCode(41), "");
}

// An interrupt that arrived before the program began to wait (here a read of a pipe that never
// delivers) still breaks the wait off, so that the next checkpoint is reached.
TEST(InterruptAction, AWaitBegunAfterTheInterruptArrivedGivesWayToIt) {
  EXPECT_EXIT(
      {
        int input[2];
        if (pipe(input) != 0) _exit(1);
        installInterruptHandler();
        raise(SIGINT);
        char byte = 0;
        if (read(input[0], &byte, 1) != -1 || errno != EINTR) _exit(2);
        platform::interruptCheckpoint();
        _exit(3);
      },
      ::testing::ExitedWithCode(41), "");
}

}  // namespace
}  // namespace hlv
