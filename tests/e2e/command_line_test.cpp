// The command line as the operator types it: every option, its prefixes and its combinations,
// what is refused and the exit status, run on the built program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/e2e/tool_copy.h"
#include "tests/support/expected_output.h"
#include "tests/support/subprocess.h"

namespace hlv::test {
namespace {

constexpr const char* kNeedsRoot = "the tool goes past its privilege check only as root";

struct CommandLineCase {
  const char* what;
  std::vector<std::string> args;
  std::string output;
  int status;
};

// None of these reaches the session: each ends at the usage text or at the confirmation, which
// sees the end of its (empty) input.
TEST(CommandLine, AcceptsRejectsAndExplainsArgumentsExactly) {
  if (geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  const std::string help = kBanner + kUsage;
  const std::string confirmation = kBanner + kNotice + kPrompt;
  const std::string combination = "Unsupported combination of command line parameters. \n";
  const CommandLineCase cases[] = {
      {"-h prints the usage", {"-h"}, help, 0},
      {"-? is -h", {"-?"}, help, 0},
      {"/h is -h", {"/h"}, help, 0},
      {"-h after usable options", {"-s", "-a", "eth0", "-h"}, help, 0},
      {"-h wins over a bad argument after it", {"-h", "--bogus"}, help, 0},
      {"-h ends the parsing before the -r/-s check", {"-r", "-s", "-h"}, help, 0},
      {"a bad argument before -h",
       {"bogus", "-h"},
       kBanner + "unknown argument: 'bogus' \n" + kUsage,
       255},
      {"a long option before -h",
       {"--help", "-h"},
       kBanner + "unknown option: '--help' \n" + kUsage,
       255},
      {"two letters", {"-sa"}, kBanner + "unknown option: '-sa' \n" + kUsage, 255},
      {"a bare dash", {"-"}, kBanner + "[!] unknown option: '-' \n" + kUsage, 255},
      {"a bare slash", {"/"}, kBanner + "[!] unknown option: '/' \n" + kUsage, 255},
      {"letters are case-sensitive", {"-S"}, kBanner + "[!] unknown option: '-S' \n" + kUsage, 255},
      {"an unknown letter after /", {"/x"}, kBanner + "[!] unknown option: '/x' \n" + kUsage, 255},
      {"an empty argument", {""}, kBanner + "unknown argument: '' \n" + kUsage, 255},
      {"-a as the last argument",
       {"-s", "-a"},
       kBanner + "[!] argument missing for '-a' parameter \n" + kUsage,
       255},
      {"-s -r", {"-s", "-r"}, kBanner + combination + kUsage, 255},
      {"-r -s", {"-r", "-s"}, kBanner + combination + kUsage, 255},
      {"/r /s", {"/r", "/s"}, kBanner + combination + kUsage, 255},
      {"-r alone is accepted", {"-r"}, confirmation, 255},
      {"-a takes -s as the name, so the run is not silent", {"-a", "-s"}, confirmation, 255},
      {"-a takes -h as the name, so no help", {"-a", "-h"}, confirmation, 255},
      {"options may repeat", {"-a", "x", "-a", "y", "-r", "/r"}, confirmation, 255},
  };
  for (const CommandLineCase& c : cases) {
    const ProcessResult result = runProcess(builtProgram("hlvflashupdate"), c.args);
    EXPECT_EQ(result.out, c.output) << c.what;
    EXPECT_EQ(result.exitStatus, c.status) << c.what;
  }
}

}  // namespace
}  // namespace hlv::test
