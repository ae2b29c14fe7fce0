// The directories the program writes into and the files it creates there: what is refused, what
// is made, and with which modes, against links, other owners and wide modes planted in advance.
#include "platform/directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/scoped_umask.h"
#include "tests/support/temp_dir.h"

namespace hlv::platform {
namespace {

namespace fs = std::filesystem;

const std::string kVictim = "a file root must not write\n";

mode_t modeOf(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

bool isLink(const std::string& path) {
  return fs::is_symlink(fs::symlink_status(path));
}

Directory openParent(const test::TempDir& dir) {
  FileProblem problem;
  Directory parent = Directory::openAsNamed(dir.path(), problem);
  EXPECT_TRUE(parent.isOpen()) << problem.reason;
  return parent;
}

struct DirectoryCase {
  const char* what;
  // Puts something at <test directory>/logs (or leaves it free); gets the test directory.
  std::function<void(const std::string& base)> plant;
  bool used = true;
  bool made = false;
  int error = 0;
  std::string reason = "";  // the start of the refusal's reason
};

void PrintTo(const DirectoryCase& c, std::ostream* os) {
  *os << c.what;
}

void makeDirectory(const std::string& path, mode_t mode, uid_t owner = 0) {
  ASSERT_EQ(mkdir(path.c_str(), 0700), 0) << path;
  ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
  ASSERT_EQ(chown(path.c_str(), owner, static_cast<gid_t>(-1)), 0) << path;
}

const DirectoryCase kDirectoryCases[] = {
    {.what = "a missing directory is made", .plant = [](const std::string&) {}, .made = true},
    {.what = "a private directory of ours is used",
     .plant = [](const std::string& base) { makeDirectory(base + "/logs", 0700); }},
    {.what = "others may read and enter it, only not write",
     .plant = [](const std::string& base) { makeDirectory(base + "/logs", 0755); }},
    {.what = "a link to a directory of ours is not followed",
     .plant =
         [](const std::string& base) {
           makeDirectory(base + "/elsewhere", 0700);
           fs::create_directory_symlink(base + "/elsewhere", base + "/logs");
         },
     .used = false,
     .error = ELOOP,
     .reason = "is a symbolic link"},
    {.what = "a link to nowhere is not followed and nothing is made at its target",
     .plant =
         [](const std::string& base) {
           fs::create_directory_symlink(base + "/nowhere", base + "/logs");
         },
     .used = false,
     .error = ELOOP,
     .reason = "is a symbolic link"},
    {.what = "a file is not a directory",
     .plant = [](const std::string& base) { test::writeFile(base + "/logs", kVictim); },
     .used = false,
     .error = ENOTDIR,
     .reason = "is not a directory"},
    {.what = "a directory of another user is not used",
     .plant = [](const std::string& base) { makeDirectory(base + "/logs", 0700, 1); },
     .used = false,
     .error = EPERM,
     .reason = "belongs to user 1, not to user 0"},
    {.what = "a group-writable directory is not used",
     .plant = [](const std::string& base) { makeDirectory(base + "/logs", 0770); },
     .used = false,
     .error = EPERM,
     .reason = "is writable by group or others (mode 0770)"},
    {.what = "a world-writable directory is not used",
     .plant = [](const std::string& base) { makeDirectory(base + "/logs", 0777); },
     .used = false,
     .error = EPERM,
     .reason = "is writable by group or others (mode 0777)"},
    {.what = "nor one with the sticky bit, as shared temporary directories have",
     .plant = [](const std::string& base) { makeDirectory(base + "/logs", 01777); },
     .used = false,
     .error = EPERM,
     .reason = "is writable by group or others (mode 1777)"},
};

class OpenOrMakePrivate : public ::testing::TestWithParam<DirectoryCase> {};

TEST_P(OpenOrMakePrivate, UsesOnlyADirectoryNoOneElseControls) {
  if (geteuid() != 0) GTEST_SKIP() << "planting a directory of another user needs root";
  const DirectoryCase& c = GetParam();
  test::TempDir dir;
  c.plant(dir.path());
  const Directory parent = openParent(dir);

  FileProblem problem;
  bool created = !c.made;
  const Directory logs = parent.openOrMakePrivate("logs", problem, &created);
  EXPECT_EQ(logs.isOpen(), c.used);
  EXPECT_EQ(created, c.made);
  if (c.used) {
    EXPECT_EQ(logs.path(), dir.path() + "/logs/");
    // Files made through it land in the directory at that path.
    int error = -1;
    EXPECT_TRUE(logs.createFile("probe", error).isOpen()) << error;
    EXPECT_TRUE(test::fileExists(dir / "logs/probe"));
  } else {
    EXPECT_EQ(problem.error, c.error);
    EXPECT_EQ(problem.path, dir.path() + "/logs/");
    EXPECT_TRUE(problem.reason.starts_with(c.reason)) << problem.reason;
  }
  EXPECT_FALSE(test::fileExists(dir / "nowhere"));
  if (test::fileExists(dir / "elsewhere")) {
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, OpenOrMakePrivate, ::testing::ValuesIn(kDirectoryCases));

TEST(MakePrivate, NeverUsesANameThatIsTaken) {
  test::TempDir dir;
  const Directory parent = openParent(dir);
  makeDirectory(dir / "ours", 0700);
  fs::create_directory_symlink(dir / "ours", dir / "link");
  for (const char* name : {"ours", "link"}) {
    FileProblem problem;
    EXPECT_FALSE(parent.makePrivate(name, problem).isOpen()) << name;
    EXPECT_EQ(problem.error, EEXIST) << name;
    EXPECT_EQ(problem.path, dir / (std::string(name) + "/"));
  }
  FileProblem problem;
  const Directory made = parent.makePrivate("new", problem);
  EXPECT_TRUE(made.isOpen()) << problem.reason;
  EXPECT_EQ(made.path(), dir / "new/");
}

TEST(OpenAsNamed, FollowsTheOperatorsPathButNeedsADirectory) {
  test::TempDir dir;
  makeDirectory(dir / "tool", 0755);
  fs::create_directory_symlink(dir / "tool", dir / "tool-link");
  test::writeFile(dir / "file", kVictim);
  FileProblem problem;
  EXPECT_EQ(Directory::openAsNamed(dir / "tool-link", problem).path(), dir / "tool-link/");
  EXPECT_FALSE(Directory::openAsNamed(dir / "file/", problem).isOpen());
  EXPECT_EQ(problem.error, ENOTDIR);
}

struct PlantedName {
  const char* what;
  std::function<void(const std::string& path, const std::string& victim)> plant;
};

void PrintTo(const PlantedName& c, std::ostream* os) {
  *os << c.what;
}

const PlantedName kPlantedNames[] = {
    {"a file", [](const std::string& path, const std::string&) { test::writeFile(path, kVictim); }},
    {"a link to a file",
     [](const std::string& path, const std::string& victim) { fs::create_symlink(victim, path); }},
    {"a link to nowhere",
     [](const std::string& path, const std::string& victim) {
       fs::create_symlink(victim + ".new", path);
     }},
    {"a FIFO, which would block an open",
     [](const std::string& path, const std::string&) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }},
    {"a directory", [](const std::string& path, const std::string&) { makeDirectory(path, 0700); }},
};

class CreateFile : public ::testing::TestWithParam<PlantedName> {};

TEST_P(CreateFile, NeverOpensANameThatExists) {
  test::TempDir dir;
  const Directory directory = openParent(dir);
  const std::string victim = dir / "victim";
  test::writeFile(victim, kVictim);
  GetParam().plant(dir / "trace.etl", victim);

  int error = 0;
  NewFile file = directory.createFile("trace.etl", error);
  EXPECT_FALSE(file.isOpen());
  EXPECT_EQ(error, EEXIST);
  EXPECT_EQ(test::readFile(victim), kVictim);
  EXPECT_FALSE(test::fileExists(victim + ".new"));
}

INSTANTIATE_TEST_SUITE_P(Cases, CreateFile, ::testing::ValuesIn(kPlantedNames));

TEST(CreateFile, RefusesNamesThatLeadOutOfTheDirectory) {
  test::TempDir dir;
  makeDirectory(dir / "inner", 0700);
  FileProblem problem;
  const Directory inner = openParent(dir).openOrMakePrivate("inner", problem);
  for (const char* name : {"../escaped", "sub/file", "..", ".", ""}) {
    int error = 0;
    EXPECT_FALSE(inner.createFile(name, error).isOpen()) << name;
    EXPECT_EQ(error, EINVAL) << name;
  }
  EXPECT_FALSE(test::fileExists(dir / "escaped"));
  EXPECT_FALSE(inner.removeFile("../victim"));
  EXPECT_FALSE(inner.renameFile("a", "../b"));
}

// Whatever the umask, directories are made 0700 and files 0600: a wide umask must not open the
// backups to everyone, a narrow one must not leave root with files it made unreadable.
class Modes : public ::testing::TestWithParam<mode_t> {};

TEST_P(Modes, AreExactlyPrivateWhateverTheUmask) {
  test::TempDir dir;
  const test::ScopedUmask mask(GetParam());
  const Directory parent = openParent(dir);
  FileProblem problem;
  bool created = false;
  const Directory logs = parent.openOrMakePrivate("logs", problem, &created);
  ASSERT_TRUE(logs.isOpen()) << problem.reason;
  EXPECT_TRUE(created);
  const Directory run = logs.makePrivate("run", problem);
  ASSERT_TRUE(run.isOpen()) << problem.reason;
  int error = 0;
  NewFile file = run.createFile("image.bin", error);
  ASSERT_TRUE(file.isOpen()) << error;
  EXPECT_TRUE(file.writeAll("backup", 6));
  EXPECT_TRUE(file.sync());
  EXPECT_TRUE(file.close());

  EXPECT_EQ(modeOf(dir / "logs"), 0700u);
  EXPECT_EQ(modeOf(dir / "logs/run"), 0700u);
  EXPECT_EQ(modeOf(dir / "logs/run/image.bin"), 0600u);
  EXPECT_EQ(test::readFile(dir / "logs/run/image.bin"), "backup");
}

INSTANTIATE_TEST_SUITE_P(Umasks, Modes, ::testing::Values(0000, 0022, 0077, 0777),
                         [](const ::testing::TestParamInfo<mode_t>& info) {
                           return "Umask" + std::to_string(info.param);
                         });

TEST(RenameFile, PutsAFlushedFileInPlaceOfAnother) {
  test::TempDir dir;
  const Directory directory = openParent(dir);
  test::writeFile(dir / "report.json", "old");
  int error = 0;
  NewFile file = directory.createFile("report.json.new", error);
  ASSERT_TRUE(file.writeAll("new", 3));
  ASSERT_TRUE(file.sync());
  ASSERT_TRUE(file.close());
  EXPECT_TRUE(directory.renameFile("report.json.new", "report.json"));
  EXPECT_TRUE(directory.sync());
  EXPECT_EQ(test::readFile(dir / "report.json"), "new");
  EXPECT_FALSE(test::fileExists(dir / "report.json.new"));
  EXPECT_TRUE(directory.removeFile("report.json"));
  EXPECT_FALSE(test::fileExists(dir / "report.json"));
  EXPECT_FALSE(isLink(dir / "report.json"));
}

// Every refusal of the directory check holds for a directory that is only opened, and nothing is
// ever made.
TEST_P(OpenOrMakePrivate, AnExistingDirectoryIsOpenedOnlyWhenItPassesTheSameCheck) {
  if (geteuid() != 0) GTEST_SKIP() << "planting a directory of another user needs root";
  const DirectoryCase& c = GetParam();
  test::TempDir dir;
  c.plant(dir.path());
  const Directory parent = openParent(dir);
  FileProblem problem;
  const Directory logs = parent.openExisting("logs", problem);
  EXPECT_EQ(logs.isOpen(), c.used && !c.made);
  if (c.made) {
    EXPECT_EQ(problem.error, ENOENT);
    EXPECT_FALSE(test::fileExists(dir / "logs"));
  } else if (!c.used) {
    EXPECT_EQ(problem.error, c.error);
  }
}

// A file found on disk is read back only when this program could have written it.
TEST(ReadOwnFile, ReadsOnlyAPrivateRegularFileOfOursWithinItsSize) {
  if (geteuid() != 0) GTEST_SKIP() << "planting a file of another user needs root";
  struct Case {
    const char* what;
    std::function<void(const std::string& base)> plant;  // makes <base>/record
    bool read;
    std::string reason = "";
  };
  const auto privateFile = [](const std::string& path, const std::string& text) {
    test::writeFile(path, text);
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  };
  const Case cases[] = {
      {"a private file of ours", [&](const std::string& b) { privateFile(b + "/record", "1234"); },
       true},
      {"one others may read",
       [&](const std::string& b) {
         privateFile(b + "/record", "1234");
         chmod((b + "/record").c_str(), 0644);
       },
       false, "has mode 0644"},
      {"one we may not write ourselves",
       [&](const std::string& b) {
         privateFile(b + "/record", "1234");
         chmod((b + "/record").c_str(), 0400);
       },
       false, "has mode 0400"},
      {"one of another user",
       [&](const std::string& b) {
         privateFile(b + "/record", "1234");
         ASSERT_EQ(chown((b + "/record").c_str(), 1, 1), 0);
       },
       false, "belongs to user 1"},
      {"a link to a private file of ours",
       [&](const std::string& b) {
         privateFile(b + "/target", "1234");
         fs::create_symlink("target", b + "/record");
       },
       false, "is a symbolic link"},
      {"a directory", [](const std::string& b) { makeDirectory(b + "/record", 0700); }, false,
       "is not a regular file"},
      {"one longer than a record may be",
       [&](const std::string& b) { privateFile(b + "/record", "12345"); }, false,
       "is longer than it may be"},
      {"none", [](const std::string&) {}, false, "could not be opened"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    c.plant(dir.path());
    const Directory directory = openParent(dir);
    std::vector<uint8_t> bytes = {9};
    FileProblem problem;
    EXPECT_EQ(directory.readOwnFile("record", 4, bytes, problem), c.read);
    if (c.read) {
      EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "1234");
    } else {
      EXPECT_TRUE(problem.reason.starts_with(c.reason)) << problem.reason;
      EXPECT_EQ(problem.path, dir.path() + "/record");
    }
  }
}

TEST(List, NamesEveryEntryButTheDirectoryAndItsParent) {
  test::TempDir dir;
  test::writeFile(dir / "a", "");
  fs::create_directory(dir / "b");
  fs::create_symlink("nowhere", dir / "c");
  const Directory directory = openParent(dir);
  std::vector<std::string> names;
  ASSERT_TRUE(directory.list(names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c"}));
}

}  // namespace
}  // namespace hlv::platform
