// Finding the tool's own directory from its executable link.
#include "app/tool_directory.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/linux_platform.h"
#include "platform/platform.h"
#include "tests/support/temp_dir.h"

namespace hlv {
namespace {

struct LinkCase {
  const char* what;
  std::string target;  // empty: no link at all
  std::string directory;
  std::string output;
};

TEST(FindToolDirectory, IsTheWholeDirectoryOfTheExecutableLinkOrEmpty) {
  const std::string longDirectory = "/" + std::string(300, 'd') + "/";
  // The longest text a link can hold: PATH_MAX less the terminator.
  const std::string longestDirectory = "/" + std::string(PATH_MAX - 17, 'e') + "/";
  const LinkCase cases[] = {
      {"an ordinary path", "/opt/hlv/hlvflashupdate", "/opt/hlv/", ""},
      {"the root directory", "/hlvflashupdate", "/", ""},
      {"a deleted executable", "/opt/hlv/hlvflashupdate (deleted)", "/opt/hlv/", ""},
      {"a path longer than 256 bytes", longDirectory + "hlvflashupdate", longDirectory, ""},
      {"the longest link text", longestDirectory + "hlvflashupdate", longestDirectory, ""},
      {"a path without any separator", "hlvflashupdate", "", "Couldn't convert file path \n"},
      {"no link", "", "", ""},
  };
  ASSERT_EQ(cases[4].target.size(), static_cast<std::size_t>(PATH_MAX - 1));
  for (const LinkCase& c : cases) {
    test::TempDir root;
    const std::string procDirectory = root / ("proc/" + std::to_string(getpid()));
    std::filesystem::create_directories(procDirectory);
    if (!c.target.empty()) {
      ASSERT_EQ(symlink(c.target.c_str(), (procDirectory + "/exe").c_str()), 0) << c.what;
    }
    platform::RootedPlatform rooted(root.path());
    platform::ScopedPlatform installed(rooted);

    ::testing::internal::CaptureStdout();
    const std::string directory = findToolDirectory();
    std::fflush(stdout);
    EXPECT_EQ(directory, c.directory) << c.what;
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.output) << c.what;
  }
}

TEST(ReadLinkText, RefusesATextThatFillsTheBufferSinceItMayBeCutShort) {
  test::TempDir dir;
  const std::string link = dir / "link";
  ASSERT_EQ(symlink("/0123456789abcd/x", link.c_str()), 0);  // 17 bytes
  EXPECT_EQ(readLinkText(link, 18), "/0123456789abcd/x");
  EXPECT_EQ(readLinkText(link, 17), std::nullopt);
  EXPECT_EQ(readLinkText(link, 8), std::nullopt);
  EXPECT_EQ(readLinkText(dir / "missing", 64), std::nullopt);
}

}  // namespace
}  // namespace hlv
