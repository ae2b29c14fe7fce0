// The program's entry as the operator meets it: privileges and confirmation. The command line:
// command_line_test.cpp.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/expected_output.h"
#include "tests/e2e/tool_copy.h"
#include "tests/support/subprocess.h"

namespace hlv::test {
namespace {

constexpr const char* kNeedsRoot = "the tool goes past its privilege check only as root";

TEST(ProgramEntry, RefusesToRunWithoutRootPrivileges) {
  if (geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  ProcessOptions options;
  options.userId = 65534;
  const ProcessResult result = runProcess(builtProgram("hlvflashupdate"), {"-h"}, options);
  EXPECT_EQ(result.out, kBanner + "[*] Administrator privileges are needed to run application. \n");
  EXPECT_EQ(result.exitStatus, 255);
}

struct AnswerCase {
  const char* what;
  std::vector<std::string> args;
  std::string input;
  std::string output;
  int status;
};

// A confirmed run reaches the session, which stops at the missing update database.
TEST(Confirmation, OnlyYOrYesInAnyCaseProceeds) {
  if (geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  const std::string asked = kBanner + kNotice + kPrompt;
  const std::string proceeded = asked + kNoDatabase + kPressAnyKey;
  const AnswerCase cases[] = {
      {"y", {}, "y\n", proceeded, 9},
      {"Y", {}, "Y\n", proceeded, 9},
      {"yes", {}, "yes\n", proceeded, 9},
      {"YES", {}, "YES\n", proceeded, 9},
      {"Yes", {}, "Yes\n", proceeded, 9},
      {"an empty line asks again",
       {},
       "\n\ny\n",
       asked + kPrompt + kPrompt + kNoDatabase + kPressAnyKey,
       9},
      {"n", {}, "n\n", asked, 255},
      {"anything after yes", {}, "yesno\n", asked, 255},
      {"a blank after y", {}, "y \n", asked, 255},
      {"only the first line counts", {}, "n\ny\n", asked, 255},
      {"end of input", {}, "", asked, 255},
      {"a last line without newline is end of input", {}, "yes", asked, 255},
      {"an empty line, then end of input", {}, "\n", asked + kPrompt, 255},
      {"-s asks nothing and has no closing line", {"-s"}, "", kBanner + kNotice + kNoDatabase, 9},
      {"/s is -s", {"/s"}, "", kBanner + kNotice + kNoDatabase, 9},
  };
  for (const AnswerCase& c : cases) {
    ToolCopy tool;
    const ProcessResult result = tool.run(c.args, c.input);
    EXPECT_EQ(result.out, c.output) << c.what;
    EXPECT_EQ(result.exitStatus, c.status) << c.what;
    // A refused run leaves nothing behind; a confirmed one removes its semaphore at exit.
    if (c.status == 255) {
      EXPECT_TRUE(tool.logDirectories().empty()) << c.what;
    }
    EXPECT_FALSE(tool.semaphoreExists()) << c.what;
  }
}

}  // namespace
}  // namespace hlv::test
