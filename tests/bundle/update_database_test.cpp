// Loading the update database: entries in document order, refused documents, hex bytes.
#include "bundle/update_database.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/trace_capture.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace hlv {

bool operator==(const HwId& a, const HwId& b) {
  return a.vid == b.vid && a.did == b.did && a.sdid == b.sdid && a.svid == b.svid;
}
void PrintTo(const HwId& id, std::ostream* os) {
  *os << std::hex << "(" << id.vid << ", " << id.did << ", " << id.sdid << ", " << id.svid << ")";
}

namespace {

// Loads the text as "updatedata.xml" (or a file that does not exist) and keeps the trace.
struct Loaded {
  std::unique_ptr<UpdateDatabase> database;
  std::vector<std::string> trace;  // decoded records, the first ("loading ...") left out
};

Loaded load(const std::optional<std::string>& text) {
  test::TempDir dir;
  const std::string path = dir / "updatedata.xml";
  if (text) test::writeFile(path, *text);
  test::TraceCapture capture;
  Loaded loaded;
  loaded.database = loadUpdateDatabase(path);
  loaded.trace = capture.lines();
  if (!loaded.trace.empty()) loaded.trace.erase(loaded.trace.begin());
  return loaded;
}

std::string database(const std::string& body) {
  return "<?xml version=\"1.0\"?>\n<bdpDatabase>\n" + body + "</bdpDatabase>\n";
}

TEST(UpdateDatabase, EntriesAreLoadedInDocumentOrderAndDescribedInTheTrace) {
  const Loaded loaded = load(database(R"(<version>1.8</version>
<bdp id="b1">
  <hwids><hw vid="1E9C" did="20C3" sdid="0001" svid="1E9C"/><hw vid="1e9c" did="21c3"/></hwids>
  <mac>A1B2C3</mac>
  <phy>0a0B</phy>
  <image>fw_b1.bin</image>
  <note>ignored</note>
</bdp>
<comment/>
<alias id="a1">
  <hwids><x vid="1E9C" did="20C3" sdid="0002" svid="1E9C"/></hwids>
  <systemid>Board A</systemid>
  <bdpid>b1</bdpid>
  <systemid>
Board B
</systemid>
</alias>
<bdp id="b1"><image>second.bin</image></bdp>
)"));
  ASSERT_NE(loaded.database, nullptr);
  const UpdateDatabase& db = *loaded.database;

  ASSERT_EQ(db.bdps.size(), 2u);  // the same id twice: both kept, in order
  EXPECT_EQ(db.bdps[0].id, "b1");
  EXPECT_EQ(db.bdps[0].hwids,
            (std::vector<HwId>{{0x1E9C, 0x20C3, 0x0001, 0x1E9C}, {0x1E9C, 0x21C3, 0, 0}}));
  EXPECT_EQ(db.bdps[0].mac, (std::vector<uint8_t>{0xA1, 0xB2, 0xC3}));
  EXPECT_EQ(db.bdps[0].phy, (std::vector<uint8_t>{0x0A, 0x0B}));
  EXPECT_EQ(db.bdps[0].image, "fw_b1.bin");
  EXPECT_EQ(db.bdps[1].id, "b1");
  EXPECT_EQ(db.bdps[1].image, "second.bin");
  EXPECT_TRUE(db.bdps[1].hwids.empty());
  EXPECT_TRUE(db.bdps[1].mac.empty());

  ASSERT_EQ(db.aliases.size(), 1u);
  const AliasEntry& alias = db.aliases[0];
  EXPECT_EQ(alias.id, "a1");
  EXPECT_EQ(alias.bdpId, "b1");
  EXPECT_EQ(alias.hwids, (std::vector<HwId>{{0x1E9C, 0x20C3, 0x0002, 0x1E9C}}));
  ASSERT_EQ(alias.systemIds.size(), 2u);
  EXPECT_EQ(alias.systemIds[0].kind, kSystemIdBaseboard);
  EXPECT_EQ(alias.systemIds[0].value, "Board A");
  EXPECT_EQ(alias.systemIds[1].value, "\nBoard B\n");  // kept byte for byte

  EXPECT_EQ(
      loaded.trace,
      (std::vector<std::string>{
          R"(9248:9:6 update_database.kVersion: database version "1.8")",
          "9248:9:2 update_database.kSdidMissing: hwid without sdid",
          "9248:9:3 update_database.kSvidMissing: hwid without svid",
          R"(9248:1:0 database_entry.kBdpId: board entry "b1")",
          "9248:1:1 database_entry.kBdpHwId: board entry hwid 1: vid 0x1E9C did 0x20C3 sdid 0x1 "
          "svid 0x1E9C",
          "9248:1:1 database_entry.kBdpHwId: board entry hwid 2: vid 0x1E9C did 0x21C3 sdid 0x0 "
          "svid 0x0",
          R"(9248:1:2 database_entry.kBdpMac: board entry mac "a1b2c3")",
          R"(9248:1:3 database_entry.kBdpPhy: board entry phy "0a0b")",
          R"(9248:1:4 database_entry.kBdpImage: board entry image "fw_b1.bin")",
          R"(9248:9:10 update_database.kElementSkipped: database element "comment" skipped)",
          R"(9248:1:5 database_entry.kAliasId: alias "a1")",
          "9248:1:6 database_entry.kAliasHwId: alias hwid 1: vid 0x1E9C did 0x20C3 sdid 0x2 svid "
          "0x1E9C",
          R"(9248:1:7 database_entry.kAliasSystemId: alias system id 1: "baseboard" "Board A")",
          R"(9248:1:7 database_entry.kAliasSystemId: alias system id 2: "baseboard" "\nBoard B\n")",
          R"(9248:1:8 database_entry.kAliasBdpId: alias selects board entry "b1")",
          R"(9248:1:0 database_entry.kBdpId: board entry "b1")",
          R"(9248:1:2 database_entry.kBdpMac: board entry mac "<none>")",
          R"(9248:1:3 database_entry.kBdpPhy: board entry phy "<none>")",
          R"(9248:1:4 database_entry.kBdpImage: board entry image "second.bin")",
          "9248:9:9 update_database.kLoaded: database loaded: 2 board entries, 1 aliases",
      }));
}

struct RejectedCase {
  const char* name;
  std::optional<std::string> text;  // none: the file does not exist
  std::string record;               // the identifiers of the record that says why
  std::string reason;               // text the record carries
};

void PrintTo(const RejectedCase& c, std::ostream* os) {
  *os << c.name;
}

class RejectedDatabase : public ::testing::TestWithParam<RejectedCase> {};

TEST_P(RejectedDatabase, IsNotUsedAtAll) {
  const RejectedCase& c = GetParam();
  const Loaded loaded = load(c.text);
  EXPECT_EQ(loaded.database, nullptr);
  const std::vector<std::string> records = test::linesOf(loaded.trace, c.record);
  ASSERT_EQ(records.size(), 1u) << c.record;
  EXPECT_NE(records[0].find(c.reason), std::string::npos) << records[0];
  EXPECT_TRUE(test::linesOf(loaded.trace, "9248:9:9 ").empty());  // never reported as loaded
}

constexpr const char* kMissingText = "basic_string: construction from null is not valid";

INSTANTIATE_TEST_SUITE_P(
    Files, RejectedDatabase,
    ::testing::Values(
        RejectedCase{"MissingFile", std::nullopt, "9248:9:4 ", "updatedata.xml"},
        RejectedCase{"EmptyFile", "", "9248:9:4 ", "updatedata.xml"},
        RejectedCase{"NotWellFormed", "<bdpDatabase><bdp id=\"x\"></bdpDatabase>", "9248:9:4 ",
                     "updatedata.xml"},
        RejectedCase{"OddLengthMac", database("<bdp><mac>A1B</mac></bdp>"), "9248:9:7 ",
                     "Hex string length must be a multiple of 2"},
        RejectedCase{"NonHexPhy", database("<bdp><phy>A1G2</phy></bdp>"), "9248:9:7 ",
                     "Invalid HEX character provided!"},
        RejectedCase{"MacOnThreeLines", database("<bdp><mac>\nA1B2C3\n</mac></bdp>"), "9248:9:7 ",
                     "Invalid HEX character provided!"},
        RejectedCase{"MacWithPrefix", database("<bdp><mac>0xA1B2</mac></bdp>"), "9248:9:7 ",
                     "Invalid HEX character provided!"},
        RejectedCase{"MacWithABlank", database("<bdp><mac>A1 B2C</mac></bdp>"), "9248:9:7 ",
                     "Invalid HEX character provided!"},
        RejectedCase{"EmptyMac", database("<bdp><mac/></bdp>"), "9248:9:7 ", kMissingText},
        RejectedCase{"EmptyPhy", database("<bdp><phy></phy></bdp>"), "9248:9:7 ", kMissingText},
        RejectedCase{"MacHoldingOnlyAComment", database("<bdp><mac><!-- none --></mac></bdp>"),
                     "9248:9:7 ", kMissingText},
        RejectedCase{"EmptySystemId", database("<alias><systemid/></alias>"), "9248:9:7 ",
                     kMissingText},
        RejectedCase{"BadEntryAfterGoodOnes",
                     database("<bdp id=\"good\"><mac>A1</mac><image>a.bin</image></bdp>\n"
                              "<alias id=\"a\"><bdpid>good</bdpid></alias>\n"
                              "<bdp id=\"bad\"><phy>A</phy></bdp>\n"),
                     "9248:9:7 ", "Hex string length must be a multiple of 2"}),
    [](const ::testing::TestParamInfo<RejectedCase>& info) { return info.param.name; });

struct AcceptedCase {
  const char* name;
  std::string body;  // inside "bdpDatabase"
  std::function<void(const UpdateDatabase&)> check;
  std::vector<std::string> records;  // identifiers of records that must be there, in order
};

void PrintTo(const AcceptedCase& c, std::ostream* os) {
  *os << c.name;
}

class AcceptedDatabase : public ::testing::TestWithParam<AcceptedCase> {};

TEST_P(AcceptedDatabase, ReadsTheEntryAsWritten) {
  const AcceptedCase& c = GetParam();
  const Loaded loaded = load(database(c.body));
  ASSERT_NE(loaded.database, nullptr);
  c.check(*loaded.database);
  std::vector<std::string> identifiers;
  for (const std::string& line : loaded.trace)
    identifiers.push_back(line.substr(0, line.find(' ') + 1));
  std::erase_if(identifiers, [&](const std::string& id) {
    return std::find(c.records.begin(), c.records.end(), id) == c.records.end();
  });
  EXPECT_EQ(identifiers, c.records);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, AcceptedDatabase,
    ::testing::Values(
        AcceptedCase{"IdentifierForms",
                     R"(<bdp><hwids>
  <a vid="0x1e9c" did=" 20C3" sdid="12345" svid="FFFFFFFFFFFFFFFFFFFFFFFFFFFF"/>
  <b vid="zz" did="-1" sdid="1E9Cxyz" svid=""/>
  <c/>
</hwids></bdp>)",
                     [](const UpdateDatabase& db) {
                       ASSERT_EQ(db.bdps.size(), 1u);
                       EXPECT_EQ(db.bdps[0].hwids, (std::vector<HwId>{
                                                       {0x1E9C, 0x20C3, 0x2345, 0xFFFF},
                                                       {0, 0xFFFF, 0x1E9C, 0},
                                                       {0, 0, 0, 0},
                                                   }));
                     },
                     {"9248:9:0 ", "9248:9:1 ", "9248:9:2 ", "9248:9:3 "}},
        AcceptedCase{"UpperAndLowerCaseHexAlike",
                     "<bdp><mac>a1b2c3</mac><phy>A1B2C3</phy></bdp>",
                     [](const UpdateDatabase& db) {
                       ASSERT_EQ(db.bdps.size(), 1u);
                       EXPECT_EQ(db.bdps[0].mac, db.bdps[0].phy);
                       EXPECT_EQ(db.bdps[0].mac, (std::vector<uint8_t>{0xA1, 0xB2, 0xC3}));
                     },
                     {}},
        AcceptedCase{"LaterMacPhyAndImageReplaceEarlierOnes",
                     "<bdp><mac>01</mac><image>a.bin</image><phy>02</phy><mac>0304</mac>"
                     "<phy>05</phy><image>b.bin</image></bdp>",
                     [](const UpdateDatabase& db) {
                       ASSERT_EQ(db.bdps.size(), 1u);
                       EXPECT_EQ(db.bdps[0].mac, (std::vector<uint8_t>{0x03, 0x04}));
                       EXPECT_EQ(db.bdps[0].phy, (std::vector<uint8_t>{0x05}));
                       EXPECT_EQ(db.bdps[0].image, "b.bin");
                     },
                     {}},
        AcceptedCase{"FirstHwidsAndFirstBdpIdCount",
                     R"(<alias><bdpid>one</bdpid><hwids><h vid="1"/></hwids>
<hwids><h vid="2"/></hwids><bdpid>two</bdpid></alias>)",
                     [](const UpdateDatabase& db) {
                       ASSERT_EQ(db.aliases.size(), 1u);
                       ASSERT_EQ(db.aliases[0].hwids.size(), 1u);
                       EXPECT_EQ(db.aliases[0].hwids[0].vid, 1);
                       EXPECT_EQ(db.aliases[0].bdpId, "one");
                     },
                     {}},
        AcceptedCase{"EmptyTextsWhereTheyMayBeEmpty",
                     "<version/><bdp><image/></bdp><alias><bdpid></bdpid></alias><alias/>",
                     [](const UpdateDatabase& db) {
                       ASSERT_EQ(db.bdps.size(), 1u);
                       EXPECT_EQ(db.bdps[0].image, "");
                       EXPECT_EQ(db.bdps[0].id, "");
                       ASSERT_EQ(db.aliases.size(), 2u);
                       EXPECT_EQ(db.aliases[0].bdpId, "");
                       EXPECT_EQ(db.aliases[1].bdpId, "");
                       EXPECT_TRUE(db.aliases[1].systemIds.empty());
                     },
                     {"9248:9:6 "}},
        AcceptedCase{"SystemIdsAmongOtherChildren",
                     "<alias><systemid>A</systemid><bdpid>b</bdpid><systemid> B </systemid>"
                     "</alias>",
                     [](const UpdateDatabase& db) {
                       ASSERT_EQ(db.aliases.size(), 1u);
                       ASSERT_EQ(db.aliases[0].systemIds.size(), 2u);
                       EXPECT_EQ(db.aliases[0].systemIds[0].value, "A");
                       EXPECT_EQ(db.aliases[0].systemIds[1].value, " B ");
                     },
                     {"9248:1:7 ", "9248:1:7 "}},
        AcceptedCase{"EntitiesAreDecoded",
                     "<bdp id=\"x&amp;y\"><image>a&amp;b.bin</image></bdp>",
                     [](const UpdateDatabase& db) {
                       ASSERT_EQ(db.bdps.size(), 1u);
                       EXPECT_EQ(db.bdps[0].id, "x&y");
                       EXPECT_EQ(db.bdps[0].image, "a&b.bin");
                     },
                     {}}),
    [](const ::testing::TestParamInfo<AcceptedCase>& info) { return info.param.name; });

TEST(UpdateDatabase, OtherRootElementGivesAnEmptyDatabase) {
  for (const char* text : {"<database><bdp id=\"x\"><image>a.bin</image></bdp></database>",
                           "<outer><bdpDatabase><bdp/></bdpDatabase></outer>"}) {
    const Loaded loaded = load(std::string(text));
    ASSERT_NE(loaded.database, nullptr) << text;
    EXPECT_TRUE(loaded.database->bdps.empty()) << text;
    EXPECT_TRUE(loaded.database->aliases.empty()) << text;
    EXPECT_EQ(loaded.trace,
              (std::vector<std::string>{R"(9248:9:5 update_database.kNoRoot: database has no )"
                                        R"(bdpDatabase element: "XML_SUCCESS")"}))
        << text;
  }
}

TEST(DecodeHex, TakesPairsOfHexDigitsAndNothingElse) {
  EXPECT_EQ(decodeHex(""), std::vector<uint8_t>{});
  EXPECT_EQ(decodeHex("00fFa5"), (std::vector<uint8_t>{0x00, 0xFF, 0xA5}));
  struct Bad {
    const char* text;
    const char* message;
  };
  for (const Bad& bad :
       {Bad{"0", "Hex string length must be a multiple of 2"},
        Bad{"abc", "Hex string length must be a multiple of 2"},
        Bad{"0g", "Invalid HEX character provided!"}, Bad{"g0", "Invalid HEX character provided!"},
        Bad{"0x12", "Invalid HEX character provided!"},
        Bad{"12\n3", "Invalid HEX character provided!"},
        Bad{"-1", "Invalid HEX character provided!"}}) {
    try {
      decodeHex(bad.text);
      ADD_FAILURE() << bad.text << " was accepted";
    } catch (const std::invalid_argument& error) {
      EXPECT_STREQ(error.what(), bad.message) << bad.text;
    }
  }
}

}  // namespace
}  // namespace hlv
