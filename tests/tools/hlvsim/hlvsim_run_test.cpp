// "hlvsim run": the whole tool program on a lab, and the stats it leaves on every way out.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"
#include "tests/support/hlvsim_lab.h"

namespace hlv::test {
namespace {

const char* const kBanner = "Vostrel Tessarin Firmware Update Tool [Version 1.8.0]\n";

std::string initLab(const TempDir& directory) {
  const std::string lab = directory / "lab";
  const ProcessResult init =
      runProcess(builtProgram("hlvsim"), {"lab", "init", lab, "--adapters", "2"});
  EXPECT_EQ(init.exitStatus, 0) << init.err;
  return lab;
}

bool procLinksGone(const std::string& lab) {
  const ProcessResult list = runProcess("/bin/ls", {"-A", lab + "/proc"});
  return list.out.empty();
}

TEST(HlvsimRun, RunsTheToolOnTheLabAndWritesStatsForEveryAdapter) {
  TempDir directory;
  const std::string lab = initLab(directory);
  const ProcessResult result =
      runProcess(builtProgram("hlvsim"), {"run", lab, "--", "-s"}, inDirectory(directory.path()));
  EXPECT_EQ(result.out.rfind(kBanner, 0), 0u) << result.out;
  EXPECT_NE(result.out.find("*** Important notice *** \n"), std::string::npos) << result.out;
  // The tool found its directory in the lab: its logs are there.
  EXPECT_TRUE(fileExists(lab + "/tool/logs")) << result.out << result.err;
  for (const char* bdf : {"0000:01:00.0", "0000:02:00.0"}) {
    const std::string stats = readFile(lab + "/adapters/" + bdf + "/stats");
    EXPECT_EQ(statValue(stats, "violations"), 0) << bdf << stats;
  }
  EXPECT_TRUE(procLinksGone(lab));
}

TEST(HlvsimRun, RunsAsAnotherUserWhenAsked) {
  TempDir directory;
  const std::string lab = initLab(directory);
  const ProcessResult result =
      runProcess(builtProgram("hlvsim"), {"run", lab, "--uid", "65534", "--", "-s"},
                 inDirectory(directory.path()));
  EXPECT_EQ(result.exitStatus, 255);
  EXPECT_EQ(result.out, std::string(kBanner) + " \n" +
                            "[*] Administrator privileges are needed to run application. \n");
  EXPECT_TRUE(fileExists(lab + "/adapters/0000:01:00.0/stats"));
}

TEST(HlvsimRun, UsageErrorsAreOurs) {
  TempDir directory;
  const ProcessResult result =
      runProcess(builtProgram("hlvsim"), {"run", directory / "lab", "--uid", "x"});
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_NE(result.err.find("--uid needs a user number"), std::string::npos) << result.err;
  EXPECT_TRUE(result.out.empty());
}

// The tool's single-instance semaphore: its key is ftok of a name no directory here holds.
bool instanceSemaphoreExists() {
  return semget(ftok("5F3A9C12-7B44-4E0D-A1C6-93D2E8B047F1", 0), 0, 0) != -1;
}

TEST(HlvsimRun, StatsAreWrittenWhenAnInterruptEndsTheToolThroughExit) {
  if (geteuid() != 0) GTEST_SKIP() << "the lab's tool runs as root only when we are root";
  TempDir directory;
  const std::string lab = initLab(directory);
  ASSERT_FALSE(instanceSemaphoreExists()) << "a stale instance semaphore is in the way";
  // The run waits in the open of its update database, a FIFO no one writes, after the
  // confirmation, holding its single-instance semaphore, until it is interrupted.
  constexpr int kPatienceSeconds = 30;
  const std::string database = lab + "/tool/updatedata.xml";
  unlink(database.c_str());
  ASSERT_EQ(mkfifo(database.c_str(), 0600), 0);
  BackgroundRun run(builtProgram("hlvsim"), {"run", lab}, "y\n", directory.path());
  const bool waiting = waitUntil(instanceSemaphoreExists, kPatienceSeconds);
  if (waiting) kill(run.pid(), SIGINT);
  const bool ended = run.wait(kPatienceSeconds);
  ASSERT_TRUE(waiting) << run.output() << run.errors();
  ASSERT_TRUE(ended) << run.output() << run.errors();
  ASSERT_EQ(run.signal(), 0) << "signal " << run.signal();
  EXPECT_EQ(run.exitStatus(), 41) << run.output() << run.errors();
  EXPECT_FALSE(instanceSemaphoreExists());
  for (const char* bdf : {"0000:01:00.0", "0000:02:00.0"}) {
    EXPECT_TRUE(fileExists(lab + "/adapters/" + bdf + "/stats")) << bdf;
  }
  EXPECT_TRUE(procLinksGone(lab));
}

}  // namespace
}  // namespace hlv::test
