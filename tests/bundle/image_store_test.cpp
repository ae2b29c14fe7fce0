// The store of image files: each loaded and checked once and shared, failures tried again, and
// names that leave the bundle never read.
#include "bundle/image_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/trace_capture.h"
#include "tests/support/fake_updater.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace hlv {
namespace {

using test::FakeUpdater;

// A store over a temporary bundle whose checker is a fake the test can set and inspect.
class ImageStoreTest : public ::testing::Test {
 protected:
  ImageStoreTest() {
    auto checker = std::make_unique<FakeUpdater>();
    checker_ = checker.get();
    checker_->imageVersion = {3, 1, 121};
    checker_->imageType = 1;
    store_ = std::make_unique<ImageStore>(bundle_.path(), std::move(checker));
  }

  // getImage with everything it printed.
  std::shared_ptr<VoImageFile> get(const std::string& name, std::string* printed = nullptr) {
    ::testing::internal::CaptureStdout();
    std::shared_ptr<VoImageFile> image = store_->getImage(name);
    std::fflush(stdout);
    const std::string output = ::testing::internal::GetCapturedStdout();
    if (printed != nullptr) *printed = output;
    return image;
  }

  test::TempDir bundle_;
  FakeUpdater* checker_ = nullptr;
  std::unique_ptr<ImageStore> store_;
};

struct LoadCase {
  const char* what;
  std::function<void(const test::TempDir& bundle)> prepare;
  std::string name;
  uint32_t checkResult;
  bool loaded;
  std::string printed;
  int checks;  // times the image check ran
  // The record that says why the file was not taken, and what it carries; empty when taken.
  std::string refusal = "";
  std::string refusalSays = "";
};

void PrintTo(const LoadCase& c, std::ostream* os) {
  *os << c.what;
}

const std::vector<uint8_t> kTwoMegabytes(0x200000, 0xA5);

// A file of the given length that begins with a good image and holds nothing after it (sparse:
// it takes no room on the disk).
void writeLongFile(const std::string& path, uint64_t length) {
  test::writeBinaryFile(path, kTwoMegabytes);
  std::filesystem::resize_file(path, length);
}

constexpr uint64_t kFourGiBAndTwoMiB = (uint64_t{1} << 32) + 0x200000;

const LoadCase kLoadCases[] = {
    {"an accepted file is loaded whole with its version and type",
     [](const test::TempDir& b) { test::writeBinaryFile(b / "fw.bin", kTwoMegabytes); }, "fw.bin",
     0, true, "", 1},
    {"a missing file is reported by the name asked for", [](const test::TempDir&) {}, "none.bin", 0,
     false, "[!] Couldn't read file 'none.bin' \n", 0, "9248:2:1 ", "cannot be opened"},
    {"an empty file is reported", [](const test::TempDir& b) { test::writeFile(b / "e.bin", ""); },
     "e.bin", 0, false, "[!] Couldn't read file 'e.bin' \n", 0, "9248:2:2 ", "empty: 0 bytes"},
    {"a directory is no image file",
     [](const test::TempDir& b) { std::filesystem::create_directories(b / "dir"); }, "dir", 0,
     false, "[!] Couldn't read file 'dir' \n", 0, "9248:2:11 ", "not a regular file"},
    {"an empty name names the bundle directory, which is no image file",
     [](const test::TempDir&) {}, "", 0, false, "[!] Couldn't read file '' \n", 0, "9248:2:11 ",
     "not a regular file"},
    // Opening a pipe for reading would wait for a writer that never comes.
    {"a named pipe is no image file and is not waited on",
     [](const test::TempDir& b) { ASSERT_EQ(mkfifo((b / "pipe.bin").c_str(), 0600), 0); },
     "pipe.bin", 0, false, "[!] Couldn't read file 'pipe.bin' \n", 0, "9248:2:11 ",
     "not a regular file"},
    // Read modulo 2^32, its length would be that of the good image it begins with.
    {"a file of 4 GiB and 2 MiB is refused unread, not taken for its first 2 MiB",
     [](const test::TempDir& b) { writeLongFile(b / "huge.bin", kFourGiBAndTwoMiB); }, "huge.bin",
     0, false, "[!] Couldn't read file 'huge.bin' \n", 0, "9248:2:12 ",
     "image file of 4297064448 bytes is longer than the largest flash (16777216 bytes)"},
    {"a file one byte longer than the largest flash is refused unread",
     [](const test::TempDir& b) { writeLongFile(b / "long.bin", 0x1000001); }, "long.bin", 0, false,
     "[!] Couldn't read file 'long.bin' \n", 0, "9248:2:12 ", "16777217 bytes"},
    {"a file the check rejects is dropped without a word",
     [](const test::TempDir& b) {
       test::writeBinaryFile(b / "small.bin", std::vector<uint8_t>(0x100000, 1));
     },
     "small.bin", 8, false, "", 1, "9248:2:10 ",
     "image \"small.bin\" rejected by the image check: 8"},
};

class ImageStoreLoad : public ImageStoreTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(ImageStoreLoad, GivesOnlyReadableFilesTheCheckAccepts) {
  const LoadCase& c = GetParam();
  c.prepare(bundle_);
  checker_->inspectResult = c.checkResult;
  std::string printed;
  test::TraceCapture capture;
  const std::shared_ptr<VoImageFile> image = get(c.name, &printed);
  const std::vector<std::string> lines = capture.lines();
  EXPECT_EQ(printed, c.printed);
  EXPECT_EQ(checker_->calls.inspectImage, c.checks);
  if (!c.refusal.empty()) {
    const std::vector<std::string> refusals = test::linesOf(lines, c.refusal);
    ASSERT_EQ(refusals.size(), 1u) << c.refusal;
    EXPECT_NE(refusals[0].find(c.refusalSays), std::string::npos) << refusals[0];
  }
  // A file refused before it was read was neither held nor read.
  if (c.checks == 0) {
    for (const char* point : {"9248:2:3 ", "9248:2:4 ", "9248:2:5 "})
      EXPECT_TRUE(test::linesOf(lines, point).empty()) << point;
  }
  ASSERT_EQ(image != nullptr, c.loaded);
  if (!image) return;
  ASSERT_EQ(image->size(), kTwoMegabytes.size());
  EXPECT_EQ(std::vector<uint8_t>(image->data(), image->data() + image->size()), kTwoMegabytes);
  EXPECT_EQ(image->version(), (FirmwareVersion{3, 1, 121}));
  EXPECT_EQ(image->type(), 1u);
  EXPECT_EQ(image->fileName(), c.name);
}

INSTANTIATE_TEST_SUITE_P(Files, ImageStoreLoad, ::testing::ValuesIn(kLoadCases));

TEST_F(ImageStoreTest, AFileAsLongAsTheLargestFlashIsReadWhole) {
  test::writeBinaryFile(bundle_ / "16m.bin", std::vector<uint8_t>(0x1000000, 0x5A));
  const std::shared_ptr<VoImageFile> image = get("16m.bin");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->size(), 0x1000000u);
  EXPECT_EQ(image->data()[0xFFFFFF], 0x5A);
}

TEST_F(ImageStoreTest, AnImageAskedForTwiceIsLoadedAndCheckedOnceAndShared) {
  test::writeBinaryFile(bundle_ / "fw.bin", kTwoMegabytes);
  test::TraceCapture capture;
  const std::shared_ptr<VoImageFile> first = get("fw.bin");
  test::writeFile(bundle_ / "fw.bin", "changed on disk");
  const std::shared_ptr<VoImageFile> second = get("fw.bin");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(second, first);
  EXPECT_EQ(second->size(), kTwoMegabytes.size());
  EXPECT_EQ(checker_->calls.inspectImage, 1);

  const std::vector<std::string> lines = capture.lines();
  EXPECT_EQ(test::linesOf(lines, "9248:2:7 ").size(), 1u);
  EXPECT_EQ(test::linesOf(lines, "9248:2:0 ").size(), 1u) << "the file was read twice";
  const std::vector<std::string> loaded = test::linesOf(lines, "9248:2:8 ");
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_NE(loaded[0].find("\"fw.bin\" loaded: version 3.1.121, type 1"), std::string::npos)
      << loaded[0];
  EXPECT_EQ(test::linesOf(lines, "9248:2:6 ").size(), 1u);
}

TEST_F(ImageStoreTest, AFailedFileIsTriedAgainAndReportedAgain) {
  std::string printed;
  EXPECT_EQ(get("late.bin", &printed), nullptr);
  EXPECT_EQ(printed, "[!] Couldn't read file 'late.bin' \n");
  EXPECT_EQ(get("late.bin", &printed), nullptr);
  EXPECT_EQ(printed, "[!] Couldn't read file 'late.bin' \n");

  test::writeBinaryFile(bundle_ / "late.bin", kTwoMegabytes);
  EXPECT_NE(get("late.bin", &printed), nullptr);
  EXPECT_EQ(printed, "");
}

TEST_F(ImageStoreTest, FilesWithTheSameNameInDifferentFoldersAreDifferentImages) {
  test::writeBinaryFile(bundle_ / "fw.bin", std::vector<uint8_t>(0x200000, 0x11));
  test::writeBinaryFile(bundle_ / "sub/fw.bin", std::vector<uint8_t>(0x200000, 0x22));
  const std::shared_ptr<VoImageFile> inSub = get("sub/fw.bin");
  const std::shared_ptr<VoImageFile> atTop = get("fw.bin");
  ASSERT_NE(inSub, nullptr);
  ASSERT_NE(atTop, nullptr);
  EXPECT_NE(inSub, atTop);
  EXPECT_EQ(inSub->data()[0], 0x22);
  EXPECT_EQ(atTop->data()[0], 0x11);
  EXPECT_EQ(get("sub/fw.bin"), inSub);
  EXPECT_EQ(checker_->calls.inspectImage, 2);
}

// The operator's line stays that of a file that cannot be read; standard error and the trace
// say that the name itself was refused, and why.
TEST_F(ImageStoreTest, ANameThatClimbsOutOfTheBundleIsRefusedUnread) {
  test::TempDir outside;
  test::writeBinaryFile(outside / "fw.bin", kTwoMegabytes);
  test::writeBinaryFile(bundle_ / "fw.bin", kTwoMegabytes);
  const std::string outsideName = std::filesystem::path(outside.path()).filename().string();
  const std::vector<std::string> names = {"../" + outsideName + "/fw.bin", "sub/../fw.bin", "..",
                                          "./../x", "/../" + outsideName + "/fw.bin"};
  for (const std::string& name : names) {
    std::string printed;
    test::TraceCapture capture;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(get(name, &printed), nullptr) << name;
    const std::string errors = ::testing::internal::GetCapturedStderr();
    const std::vector<std::string> lines = capture.lines();
    EXPECT_EQ(printed, "[!] Couldn't read file '" + name + "' \n");
    EXPECT_EQ(errors, "[!] Image file name '" + name +
                          "' refused: it has a \"..\" component, which could lead out of the "
                          "bundle \n");
    const std::vector<std::string> refused = test::linesOf(lines, "9248:2:13 ");
    ASSERT_EQ(refused.size(), 1u) << name;
    EXPECT_NE(
        refused[0].find("image name \"" + name + "\" refused: \"it has a \\\"..\\\" component"),
        std::string::npos)
        << refused[0];
    EXPECT_TRUE(test::linesOf(lines, "9248:2:0 ").empty()) << "no file was opened for " << name;
    EXPECT_TRUE(test::linesOf(lines, "9248:2:9 ").empty()) << "not a file that cannot be read";
  }
  EXPECT_EQ(checker_->calls.inspectImage, 0);
  EXPECT_NE(get("./fw.bin"), nullptr) << "a name that stays inside is read";
  test::writeBinaryFile(bundle_ / "v1..2/fw.bin", kTwoMegabytes);
  EXPECT_NE(get("v1..2/fw.bin"), nullptr) << "only a whole \"..\" component climbs out";
}

// A name that begins with "/" is joined to the bundle directory like any other: it names a file
// in the bundle, never the file of that absolute path.
TEST_F(ImageStoreTest, ANameBeginningWithASlashNamesAFileInTheBundle) {
  test::TempDir outside;
  test::writeBinaryFile(outside / "fw.bin", std::vector<uint8_t>(0x200000, 0x11));
  test::writeBinaryFile(bundle_ / "fw.bin", kTwoMegabytes);
  test::TraceCapture capture;
  std::string printed;
  const std::shared_ptr<VoImageFile> image = get("/fw.bin", &printed);
  ASSERT_NE(image, nullptr) << printed;
  EXPECT_EQ(image->data()[0], 0xA5);
  EXPECT_EQ(image->fileName(), "fw.bin");
  std::string outsidePrinted;
  EXPECT_EQ(get(outside / "fw.bin", &outsidePrinted), nullptr);
  EXPECT_EQ(outsidePrinted, "[!] Couldn't read file '" + (outside / "fw.bin") + "' \n");
  const std::vector<std::string> reading = test::linesOf(capture.lines(), "9248:2:0 ");
  ASSERT_EQ(reading.size(), 2u);
  EXPECT_NE(reading[0].find("\"" + bundle_.path() + "//fw.bin\""), std::string::npos) << reading[0];
  EXPECT_NE(reading[1].find("\"" + bundle_.path() + "/" + (outside / "fw.bin") + "\""),
            std::string::npos)
      << reading[1];
}

TEST(ImageStore, TheBundlePathMayEndWithOrWithoutASlash) {
  test::TempDir bundle;
  test::writeBinaryFile(bundle / "fw.bin", kTwoMegabytes);
  for (const std::string& path : {bundle.path(), bundle.path() + "/"}) {
    ImageStore store(path, std::make_unique<FakeUpdater>());
    test::TraceCapture capture;
    EXPECT_NE(store.getImage("fw.bin"), nullptr) << path;
    const std::vector<std::string> reading = test::linesOf(capture.lines(), "9248:2:0 ");
    ASSERT_EQ(reading.size(), 1u);
    EXPECT_NE(reading[0].find("\"" + bundle.path() + "/fw.bin\""), std::string::npos) << reading[0];
  }
}

}  // namespace
}  // namespace hlv
