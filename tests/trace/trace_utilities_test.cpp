// The trace's utilities: formatted strings, the per-run log directory and starting the trace
// file in it.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "trace/format_string.h"
#include "trace/log_directory.h"
#include "trace/trace_control.h"
#include "trace/trace_sink.h"

namespace hlv {
namespace {

TEST(FormatString, KeepsTheTerminatingNulInItsLength) {
  const std::string empty = formatString("%s", "");
  EXPECT_EQ(empty, std::string(1, '\0'));

  const std::string status = formatString("%s: %u.%u.%u", "Available", 1u, 2u, 3u);
  EXPECT_EQ(status.size(), 17u);
  EXPECT_EQ(status, std::string("Available: 1.2.3") + '\0');
}

mode_t modeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

TEST(MakeLogDirectory, MakesTheTimestampedRunDirectoryPrivateAndHoldsItOpen) {
  test::TempDir base;
  platform::FileProblem problem;
  const trace::LogDirectory made = trace::makeLogDirectory(base.path() + "/", problem);
  ASSERT_TRUE(made.isOpen()) << problem.path << " " << problem.reason;
  EXPECT_TRUE(std::regex_match(made.path().substr(base.path().size() + 1),
                               std::regex(R"(logs/\d{8}_\d{2}-\d{2}-\d{2}/)")))
      << made.path();
  EXPECT_EQ(made.run().path(), made.path());
  EXPECT_EQ(modeOf(base / "logs"), 0700u);
  EXPECT_EQ(modeOf(made.path()), 0700u);
  EXPECT_TRUE(made.syncEntries());

  // Files of the run are made through the directory it holds, even once its name is gone.
  std::filesystem::rename(made.path(), base / "moved");
  int error = 0;
  EXPECT_TRUE(made.run().createFile("image.bin", error).isOpen()) << error;
  EXPECT_TRUE(test::fileExists(base / "moved/image.bin"));
}

// Runs started in the same second, or a name someone planted in advance: a run's directory is
// always one it made itself, under the first free numbered name.
TEST(MakeLogDirectory, NeverUsesARunDirectoryThatExists) {
  test::TempDir base;
  const std::string stamp = "20261206_10-51-43";
  std::filesystem::create_directories(base / "elsewhere");
  std::filesystem::create_directories(base / "logs");
  std::filesystem::create_directory_symlink(base / "elsewhere", base / ("logs/" + stamp + "_2"));
  test::writeFile(base / ("logs/" + stamp + "_3"), "a file");

  std::vector<std::string> paths;
  for (int run = 0; run < 3; ++run) {
    platform::FileProblem problem;
    const trace::LogDirectory made = trace::makeLogDirectory(base.path() + "/", stamp, problem);
    ASSERT_TRUE(made.isOpen()) << problem.reason;
    paths.push_back(made.path().substr(base.path().size() + 1));
  }
  EXPECT_EQ(paths, (std::vector<std::string>{"logs/" + stamp + "/", "logs/" + stamp + "_4/",
                                             "logs/" + stamp + "_5/"}));
  EXPECT_TRUE(std::filesystem::is_empty(base / "elsewhere"));
}

TEST(MakeLogDirectory, GivesUpAfterAHundredTakenNames) {
  test::TempDir base;
  const std::string stamp = "20261206_10-51-43";
  std::filesystem::create_directories(base / ("logs/" + stamp));
  for (int attempt = 2; attempt <= 100; ++attempt)
    std::filesystem::create_directories(base / ("logs/" + stamp + "_" + std::to_string(attempt)));
  platform::FileProblem problem;
  EXPECT_FALSE(trace::makeLogDirectory(base.path() + "/", stamp, problem).isOpen());
  EXPECT_EQ(problem.error, EEXIST);
  EXPECT_EQ(problem.path, base / ("logs/" + stamp + "/"));
}

struct LogsCase {
  const char* what;
  std::function<void(const test::TempDir& base)> plant;
  int error;
  std::string path;    // under the base directory
  std::string reason;  // the reason's start
};

void PrintTo(const LogsCase& c, std::ostream* os) {
  *os << c.what;
}

const LogsCase kLogsCases[] = {
    {"logs is a link to a directory",
     [](const test::TempDir& base) {
       std::filesystem::create_directories(base / "elsewhere");
       std::filesystem::create_directory_symlink(base / "elsewhere", base / "logs");
     },
     ELOOP, "logs/", "is a symbolic link"},
    {"logs belongs to another user",
     [](const test::TempDir& base) {
       std::filesystem::create_directories(base / "logs");
       ASSERT_EQ(chown((base / "logs").c_str(), 1, 1), 0);
     },
     EPERM, "logs/", "belongs to user 1"},
    {"logs is writable by everyone",
     [](const test::TempDir& base) {
       std::filesystem::create_directories(base / "logs");
       ASSERT_EQ(chmod((base / "logs").c_str(), 0777), 0);
     },
     EPERM, "logs/", "is writable by group or others (mode 0777)"},
    {"the base is a file", [](const test::TempDir& base) { test::writeFile(base / "file", ""); },
     ENOTDIR, "file/", "is not a directory"},
};

class LogsRefused : public ::testing::TestWithParam<LogsCase> {};

TEST_P(LogsRefused, SaysWhichPathAndWhyAndMakesNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "planting a directory of another user needs root";
  const LogsCase& c = GetParam();
  test::TempDir base;
  c.plant(base);
  const std::string baseDirectory = c.path == "file/" ? base / "file/" : base.path() + "/";
  platform::FileProblem problem;
  EXPECT_FALSE(trace::makeLogDirectory(baseDirectory, "run", problem).isOpen());
  EXPECT_EQ(problem.error, c.error);
  EXPECT_EQ(problem.path, base / c.path);
  EXPECT_TRUE(problem.reason.starts_with(c.reason)) << problem.reason;
  EXPECT_FALSE(test::fileExists(base / "logs/run"));
  EXPECT_FALSE(test::fileExists(base / "elsewhere/run"));
}

INSTANTIATE_TEST_SUITE_P(Cases, LogsRefused, ::testing::ValuesIn(kLogsCases));

TEST(TraceControl, StartCreatesTheTraceFileNewInTheLogDirectoryAndAlwaysSucceeds) {
  test::TempDir dir;
  platform::FileProblem problem;
  const platform::Directory directory = platform::Directory::openAsNamed(dir.path(), problem);
  trace::traceEnable("test");
  auto control = trace::createTraceControl();
  EXPECT_EQ(control->name, "VoFlashUpdateTrace");
  EXPECT_TRUE(control->start(directory));
  EXPECT_TRUE(trace::traceSink().isOpen());
  EXPECT_TRUE(test::fileExists(dir / "voflashupdatelog.etl"));
  EXPECT_EQ(modeOf(dir / "voflashupdatelog.etl"), 0600u);
  control->stop();
  EXPECT_FALSE(trace::traceSink().isOpen());

  // The file exists now: a second start does not open it, and says so on standard error.
  test::writeFile(dir / "voflashupdatelog.etl", "an earlier run's trace");
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(control->start(directory));
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(trace::traceSink().isOpen());
  EXPECT_EQ(test::readFile(dir / "voflashupdatelog.etl"), "an earlier run's trace");
  EXPECT_EQ(errors, "/!\\ The trace could not be written to '" + dir.path() +
                        "/voflashupdatelog.etl': File exists \n");
}

}  // namespace
}  // namespace hlv
