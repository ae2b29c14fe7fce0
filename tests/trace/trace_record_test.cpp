// The trace file: the record format, buffering, and what a failed write does.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/file_size_limit.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "trace/log_directory_trace.h"
#include "trace/trace_point.h"
#include "trace/trace_sink.h"

#define HLV_TEST_POINTS(X)                           \
  X(kNoArgs, 0, "no arguments")                      \
  X(kTextThenWord, 1, "text {} then {x}", Text, U32) \
  X(kEveryWidth, 2, "widths", Bool, U8, U16, U32, I32, U64, I64)
HLV_TRACE_TABLE(record_test, 1, 2, HLV_TEST_POINTS)
#undef HLV_TEST_POINTS

namespace hlv::trace {
namespace {

namespace tp = trace_points::record_test;

// Opens a trace file for one test and reads back what was written.
class TraceFile : public ::testing::Test {
 protected:
  void SetUp() override {
    traceEnable("test");
    traceOpen(dir_ / "trace.etl");
    ASSERT_TRUE(traceSink().isOpen());
  }
  void TearDown() override { traceClose(); }
  std::vector<uint8_t> written() {
    traceClose();
    return test::readBinaryFile(dir_ / "trace.etl");
  }
  test::TempDir dir_;
};

TEST_F(TraceFile, LogDirectoryFailureIsTheDocumentedTwentyBytes) {
  emit(trace_points::log_directory::kRunDirectoryFailed, 13);
  const std::vector<uint8_t> expected = {0x20, 0x24, 0,    0, 0x0F, 0, 0,    0, 0x02, 0,
                                         0,    0,    0x04, 0, 0,    0, 0x0D, 0, 0,    0};
  EXPECT_EQ(written(), expected);
}

TEST_F(TraceFile, RecordWithoutArgumentsIsTwelveBytesAndEmptyTextIsASizeOfZero) {
  emit(tp::kNoArgs);
  emit(tp::kTextThenWord, "", 0x01020304u);
  const std::vector<uint8_t> expected = {
      1, 0, 0, 0, 2,    0,    0,    0,   0, 0, 0, 0,  // kNoArgs
      1, 0, 0, 0, 2,    0,    0,    0,   1, 0, 0, 0,  // kTextThenWord
      0, 0, 0, 0,                                     // empty text: size 0, no bytes
      4, 0, 0, 0, 0x04, 0x03, 0x02, 0x01};            // the word, little-endian
  EXPECT_EQ(written(), expected);
}

TEST_F(TraceFile, EveryIntegerKindTakesItsNaturalWidth) {
  emit(tp::kEveryWidth, true, 0xAB, 0xBEEF, 7u, -1, 0x1122334455667788ull, -2);
  const std::vector<uint8_t> data = written();
  ASSERT_EQ(data.size(), 12u + 7 * 4 + 1 + 1 + 2 + 4 + 4 + 8 + 8);
  const std::vector<uint8_t> tail(data.begin() + 12, data.end());
  const std::vector<uint8_t> expected = {1,    0,    0,    0,    1,                       // bool
                                         1,    0,    0,    0,    0xAB,                    // u8
                                         2,    0,    0,    0,    0xEF, 0xBE,              // u16
                                         4,    0,    0,    0,    7,    0,    0,    0,     // u32
                                         4,    0,    0,    0,    0xFF, 0xFF, 0xFF, 0xFF,  // i32
                                         8,    0,    0,    0,    0x88, 0x77, 0x66, 0x55,
                                         0x44, 0x33, 0x22, 0x11, 8,    0,    0,    0,
                                         0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(tail, expected);
}

// No record costs a system call of its own: they reach the file when it is closed.
TEST_F(TraceFile, RecordsWaitInTheBufferUntilTheFileIsClosed) {
  for (int i = 0; i < 100; ++i)
    emit(tp::kNoArgs);
  EXPECT_EQ(std::filesystem::file_size(dir_ / "trace.etl"), 0u);
  EXPECT_EQ(written().size(), 100u * 12);
}

// A full disk: standard error says once that the trace could not be written, with the path and
// the reason; the records that follow are dropped without another word.
TEST_F(TraceFile, AFailedWriteIsReportedOnceOnStandardErrorAndLaterRecordsAreDropped) {
  ::testing::internal::CaptureStderr();
  {
    const test::FileSizeLimit limit(100);
    for (int i = 0; i < 20000; ++i)
      emit(tp::kNoArgs);
  }
  for (int i = 0; i < 20000; ++i)
    emit(tp::kNoArgs);
  EXPECT_TRUE(traceSink().failed());
  const std::vector<uint8_t> data = written();
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(errors, "/!\\ The trace could not be written to '" + (dir_ / "trace.etl") +
                        "': File too large \n");
  EXPECT_EQ(data.size(), 100u);
}

TEST(TraceSinkLifecycle, NothingIsWrittenWithoutAnOpenFileAndOpenIsGatedByTheEnabledFlag) {
  test::TempDir dir;
  traceEnable("test");
  traceClose();
  emit(tp::kNoArgs);  // no file: nothing happens

  traceDisable();
  traceOpen(dir / "disabled.etl");
  EXPECT_FALSE(traceSink().isOpen());
  EXPECT_FALSE(test::fileExists(dir / "disabled.etl"));

  traceEnable("test");
  traceOpen(dir / "missing/dir/trace.etl");
  EXPECT_FALSE(traceSink().isOpen());
  EXPECT_TRUE(traceSink().failed());

  traceOpen(dir / "enabled.etl");
  ASSERT_TRUE(traceSink().isOpen());
  traceDisable();
  traceClose();  // disabled: an open file stays open
  EXPECT_TRUE(traceSink().isOpen());
  traceEnable("test");
  traceClose();
  EXPECT_FALSE(traceSink().isOpen());
}

}  // namespace
}  // namespace hlv::trace
