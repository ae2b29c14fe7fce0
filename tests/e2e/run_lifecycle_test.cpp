// A run's life beyond the confirmation: its trace file, the single-instance lock and the
// operator's interrupt.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <regex>
#include <string>

#include "tests/support/expected_output.h"
#include "tests/e2e/tool_copy.h"
#include "tests/support/files.h"
#include "tests/support/subprocess.h"

namespace hlv::test {
namespace {

constexpr const char* kNeedsRoot = "the tool goes past its privilege check only as root";
constexpr unsigned kPatience = 30;  // seconds; generous for the sanitizer build

TEST(RunLifecycle, LeavesADecodableTraceInATimeStampedDirectoryBesideTheTool) {
  if (geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  ToolCopy tool;
  const ProcessResult result = tool.run({"-a", "eth7"}, "y\n");
  ASSERT_EQ(result.exitStatus, 9) << result.out;

  const std::vector<std::string> directories = tool.logDirectories();
  ASSERT_EQ(directories.size(), 1u);
  const std::string name = directories[0].substr(directories[0].rfind('/') + 1);
  EXPECT_TRUE(std::regex_match(name, std::regex(R"(\d{8}_\d{2}-\d{2}-\d{2})"))) << name;
  const std::string trace = directories[0] + "/voflashupdatelog.etl";
  ASSERT_TRUE(fileExists(trace));

  const ProcessResult decoded = runProcess(builtProgram("hlvtrace"), {trace});
  EXPECT_EQ(decoded.exitStatus, 0) << decoded.err;
  // The options as the session saw them, and the teardown that ran among the exit-time
  // destructors, after main had returned.
  EXPECT_NE(decoded.out.find("adapter name \"eth7\""), std::string::npos) << decoded.out;
  EXPECT_NE(decoded.out.find("update_session.kTeardown"), std::string::npos) << decoded.out;
  EXPECT_NE(decoded.out.find("instance_lock.kSemaphoreRemoved"), std::string::npos) << decoded.out;
  // What became of the lock, taken before the trace began, is told once it has.
  EXPECT_NE(decoded.out.find("instance_lock.kMachineLockTaken"), std::string::npos) << decoded.out;
  EXPECT_NE(decoded.out.find("instance_lock.kSemaphoreCreated"), std::string::npos) << decoded.out;
}

TEST(RunLifecycle, InterruptAfterTheConfirmationEndsWith41AndRemovesTheSemaphore) {
  if (geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  ToolCopy tool;
  // The run holds its semaphore and then waits in the open of its database.
  tool.blockDatabaseOpen();
  BackgroundRun run(tool.program(), {}, "y\n", tool.workDirectory());
  ASSERT_TRUE(waitUntil([&] { return tool.semaphoreExists(); }, kPatience));
  ASSERT_TRUE(run.running());

  kill(run.pid(), SIGINT);
  const bool endedByInterrupt = run.wait(kPatience);
  if (!endedByInterrupt) tool.releaseDatabase();
  ASSERT_TRUE(endedByInterrupt) << "the interrupt did not end the waiting run";
  EXPECT_EQ(run.exitStatus(), 41) << "signal " << run.signal();
  EXPECT_FALSE(tool.semaphoreExists());
  // The open gave way to the interrupt, and the database counted as unreadable before the next
  // checkpoint ended the run; or the interrupt came just before the open, at a checkpoint.
  const std::string output = run.output();
  EXPECT_TRUE(output == kBanner + kNotice + kPrompt + kNoDatabase ||
              output == kBanner + kNotice + kPrompt)
      << output;
}

TEST(RunLifecycle, InterruptBeforeTheConfirmationEndsTheProcessAtOnce) {
  if (geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  ToolCopy tool;
  BackgroundRun run(tool.program(), {}, "", tool.workDirectory(), /*keepInputOpen=*/true);
  ASSERT_TRUE(
      waitUntil([&] { return run.output().find(kPrompt) != std::string::npos; }, kPatience));
  kill(run.pid(), SIGINT);
  ASSERT_TRUE(run.wait(kPatience));
  EXPECT_EQ(run.signal(), SIGINT);
  EXPECT_TRUE(tool.logDirectories().empty());
  EXPECT_FALSE(tool.semaphoreExists());
}

TEST(RunLifecycle, ASecondInstanceIsRefusedWithStatus1AndTheFirstGoesOnUndisturbed) {
  if (geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  ToolCopy tool;
  tool.blockDatabaseOpen();
  BackgroundRun first(tool.program(), {}, "y\n", tool.workDirectory());
  ASSERT_TRUE(waitUntil([&] { return tool.semaphoreExists(); }, kPatience));

  const ProcessResult second = tool.run({}, "y\n");
  EXPECT_EQ(second.out, kBanner + kNotice + kPrompt + kAnotherInstance + kPressAnyKey);
  EXPECT_EQ(second.exitStatus, 1);
  const ProcessResult silent = tool.run({"-s"}, "");
  EXPECT_EQ(silent.out, kBanner + kNotice + kAnotherInstance);
  EXPECT_EQ(silent.exitStatus, 1);

  EXPECT_TRUE(first.running());
  EXPECT_TRUE(tool.semaphoreExists()) << "the refused instances removed the first one's semaphore";

  tool.releaseDatabase();
  ASSERT_TRUE(first.wait(kPatience));
  EXPECT_EQ(first.exitStatus(), 9);
  EXPECT_EQ(first.output(), kBanner + kNotice + kPrompt + kNoDatabase + kPressAnyKey);
  EXPECT_FALSE(tool.semaphoreExists());
}

TEST(RunLifecycle, AMarkerLeftByAKilledRunIsTakenOverAndRemovedByTheNextRun) {
  if (geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  ToolCopy tool;
  tool.blockDatabaseOpen();
  {
    BackgroundRun killed(tool.program(), {}, "y\n", tool.workDirectory());
    ASSERT_TRUE(waitUntil([&] { return tool.semaphoreHeld(); }, kPatience));
    kill(killed.pid(), SIGKILL);
    ASSERT_TRUE(killed.wait(kPatience));
    EXPECT_EQ(killed.signal(), SIGKILL);
  }
  tool.releaseDatabase();
  ASSERT_TRUE(tool.semaphoreExists()) << "a killed run has no teardown: its marker stays";
  EXPECT_FALSE(tool.semaphoreHeld()) << "but the kernel has undone its hold";

  // Twice: the run that took the marker over removes it as its own.
  for (int run = 0; run < 2; ++run) {
    const ProcessResult next = tool.run({"-s"}, "");
    EXPECT_EQ(next.out, kBanner + kNotice + kNoDatabase) << "run " << run;
    EXPECT_EQ(next.exitStatus, 9) << "run " << run;
    EXPECT_FALSE(tool.semaphoreExists()) << "run " << run;
  }
}

}  // namespace
}  // namespace hlv::test
