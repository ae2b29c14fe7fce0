// The rollback journal's text: what a rollback writes reads back the same, and nothing else is
// taken for a record.
#include "app/rollback_journal.h"

#include <gtest/gtest.h>

#include <string>

namespace hlv {
namespace {

RollbackJournal sampleJournal() {
  RollbackJournal journal;
  journal.sequence = 12;
  journal.pciAddress = "0000:01:00.0";
  journal.plan = {0xEF6015, 0x200000, 0x1000, 0x4000, 0x0, {1, 6, 2}, {1, 5, 86}};
  journal.backup = "20261211_05-00-00_2/image_enp1s0_rollback.bin";
  for (std::size_t i = 0; i < journal.backupDigest.size(); ++i)
    journal.backupDigest[i] = static_cast<uint8_t>(0xA0 + i);
  return journal;
}

const std::string kSampleText =
    "hlvflashupdate rollback journal 1\n"
    "sequence 12\n"
    "adapter 0000:01:00.0\n"
    "flash ef6015 200000 1000\n"
    "activate 4000\n"
    "deactivate 0\n"
    "current 1.6.2\n"
    "previous 1.5.86\n"
    "backup 20261211_05-00-00_2/image_enp1s0_rollback.bin\n"
    "sha256 a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf\n";

TEST(RollbackJournal, ReadsBackWhatItWrites) {
  EXPECT_EQ(formatRollbackJournal(sampleJournal()), kSampleText);
  const std::optional<RollbackJournal> parsed = parseRollbackJournal(kSampleText);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(formatRollbackJournal(*parsed), kSampleText);
  EXPECT_EQ(parsed->plan.previous, (FirmwareVersion{1, 5, 86}));
  EXPECT_EQ(parsed->plan.activateAddress, 0x4000u);
}

// Each text is the sample with one change; none is a record.
TEST(RollbackJournal, RefusesEveryTextThatIsNotExactlyARecord) {
  struct Case {
    const char* what;
    std::string from;
    std::string to;
  };
  const Case cases[] = {
      {"another format", "journal 1\n", "journal 2\n"},
      {"a line missing", "deactivate 0\n", ""},
      {"lines swapped", "current 1.6.2\nprevious 1.5.86\n", "previous 1.5.86\ncurrent 1.6.2\n"},
      {"a line after the last", "bebf\n", "bebf\nmore\n"},
      {"the last line not ended", "bebf\n", "bebf"},
      {"a carriage return", "sequence 12\n", "sequence 12\r\n"},
      {"a sequence with a sign", "sequence 12", "sequence +12"},
      {"a sequence with a leading zero", "sequence 12", "sequence 012"},
      {"a sequence beyond 64 bits", "sequence 12", "sequence 18446744073709551616"},
      {"two blanks", "activate 4000", "activate  4000"},
      {"an address beyond 32 bits", "activate 4000", "activate 100004000"},
      {"hexadecimal in capitals", "flash ef6015", "flash EF6015"},
      {"a flash line with two numbers", "flash ef6015 200000 1000", "flash ef6015 200000"},
      {"a version of two parts", "current 1.6.2", "current 1.6"},
      {"a version with a blank", "current 1.6.2", "current 1.6. 2"},
      {"an adapter of two words", "adapter 0000:01:00.0", "adapter 0000:01 00.0"},
      {"a backup without its directory", "backup 20261211_05-00-00_2/", "backup "},
      {"a backup up from the logs", "backup 20261211_05-00-00_2/", "backup ../"},
      {"a backup in a directory's directory", "backup 20261211_05-00-00_2/",
       "backup 20261211_05-00-00_2/x/"},
      {"an absolute backup", "backup 20261211_05-00-00_2/", "backup /"},
      {"a backup that is the directory itself", "image_enp1s0_rollback.bin\n", ".\n"},
      {"a digest one digit short", "bebf\n", "beb\n"},
      {"a digest in capitals", "sha256 a0a1", "sha256 A0A1"},
      {"a digest with a blank", "sha256 a0a1", "sha256 a0 1"},
  };
  for (const Case& c : cases) {
    std::string text = kSampleText;
    const std::size_t at = text.find(c.from);
    ASSERT_NE(at, std::string::npos) << c.what;
    text.replace(at, c.from.size(), c.to);
    EXPECT_FALSE(parseRollbackJournal(text)) << c.what << ":\n" << text;
  }
  EXPECT_FALSE(parseRollbackJournal(""));
  EXPECT_FALSE(parseRollbackJournal(kSampleText.substr(0, kSampleText.size() / 2)));
}

}  // namespace
}  // namespace hlv
