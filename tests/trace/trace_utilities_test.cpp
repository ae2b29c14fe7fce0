#include <sys/stat.h>

#include <gtest/gtest.h>

#include <regex>

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

TEST(MakeLogDirectory, CreatesTheTimestampedDirectoryAndAcceptsExistingOnes) {
  test::TempDir base;
  const std::string first = trace::makeLogDirectory(base.path() + "/");
  ASSERT_FALSE(first.empty());
  EXPECT_TRUE(std::regex_match(first.substr(base.path().size() + 1),
                               std::regex(R"(logs/\d{8}_\d{2}-\d{2}-\d{2}/)")));
  struct stat info {};
  ASSERT_EQ(stat(first.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));

  // The logs directory exists now; a second call in the same or a later second succeeds too.
  const std::string second = trace::makeLogDirectory(base.path() + "/");
  EXPECT_FALSE(second.empty());
}

TEST(MakeLogDirectory, FailsWithAnEmptyResultWhenTheBaseCannotHoldIt) {
  test::TempDir base;
  test::writeFile(base / "file", "not a directory");
  EXPECT_EQ(trace::makeLogDirectory(base / "file/"), "");
}

TEST(TraceControl, StartOpensTheTraceFileInTheLogDirectoryAndAlwaysSucceeds) {
  test::TempDir dir;
  trace::traceEnable("test");
  auto control = trace::createTraceControl();
  EXPECT_EQ(control->name, "VoFlashUpdateTrace");
  EXPECT_TRUE(control->start(dir.path() + "/"));
  EXPECT_TRUE(trace::traceSink().isOpen());
  EXPECT_TRUE(test::fileExists(dir / "voflashupdatelog.etl"));
  control->stop();
  EXPECT_FALSE(trace::traceSink().isOpen());

  EXPECT_TRUE(control->start(dir / "missing/"));
  EXPECT_FALSE(trace::traceSink().isOpen());
}

}  // namespace
}  // namespace hlv
