#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/orvcfg_proto.h"
#include "tools/lib/carddb.h"
#include "tools/lib/tests/probe_fixture.h"
#include "tools/testsupport/fake_extension.h"

namespace {

class CardDbTest : public ProbeRootTest {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ProbeRootTest::SetUp();
  }
  std::vector<CardAttribute> Records() {
    std::vector<CardAttribute> out;
    for (const PrivateList* n = CardAttributeList(); n; n = n->next) {
      CardAttribute c;
      std::memcpy(&c, n->Payload(), sizeof c);
      out.push_back(c);
    }
    return out;
  }

  FakeOrvCfgServer server_;  // outlives the connection the tests leave open
};

TEST_F(CardDbTest, ReadsRecordPastCommentsAndBlankLines) {
  UseDatabase("# boards of the test\n\n   \t\nKestrion Test Board   # trailing note\n"
              "1a2b orv no 2 yes\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(InitCoreModule(), 0);
  testing::internal::GetCapturedStdout();
  auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].boardId, 0x1a2bu);
  EXPECT_STREQ(records[0].name, "Kestrion Test Board");
  EXPECT_EQ(records[0].driver, kDriverOrv);
  EXPECT_EQ(records[0].kvd, 0);
  EXPECT_EQ(records[0].outputs, 2);
  EXPECT_EQ(records[0].openGL, 1);
}

TEST_F(CardDbTest, ShortDataLineIsSkippedAndNameStaysPending) {
  UseDatabase("Board A\n"
              "10 orv no 2\n"      // four fields
              "11 qlb YES 4 No\n"  // belongs to Board A
              "Board B\n"
              "12 ORV true 1 FALSE\n"
              "Board C\n");  // no data line: nothing
  testing::internal::CaptureStdout();
  CardFillAttributes();
  testing::internal::GetCapturedStdout();
  auto records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_STREQ(records[0].name, "Board A");
  EXPECT_EQ(records[0].boardId, 0x11u);
  EXPECT_EQ(records[0].driver, kDriverQlb);
  EXPECT_EQ(records[0].kvd, 1);
  EXPECT_EQ(records[0].outputs, 4);
  EXPECT_EQ(records[0].openGL, 0);
  EXPECT_STREQ(records[1].name, "Board B");
  EXPECT_EQ(records[1].driver, kDriverOrv);
  EXPECT_EQ(records[1].kvd, 1);
  EXPECT_EQ(records[1].openGL, 0);
}

TEST_F(CardDbTest, OverlongLineIsReadInPieces) {
  // A 150-character name line becomes a name (99 characters) and a data
  // line that does not parse, so the real data line still completes it.
  std::string name(150, 'n');
  UseDatabase(name + "\n20 orv no 2 no\n");
  testing::internal::CaptureStdout();
  CardFillAttributes();
  testing::internal::GetCapturedStdout();
  auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(std::string(records[0].name), std::string(99, 'n'));
  EXPECT_EQ(records[0].boardId, 0x20u);
}

TEST_F(CardDbTest, EachFillAppendsAgain) {
  UseDatabase("A\n1 orv no 2 no\n");
  testing::internal::CaptureStdout();
  CardFillAttributes();
  CardFillAttributes();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(Records().size(), 2u);
}

struct BadWordCase {
  const char* name;
  const char* data;
  const char* message;
};

void PrintTo(const BadWordCase& c, std::ostream* out) { *out << c.name; }

class CardDbBadWordTest : public CardDbTest,
                          public ::testing::WithParamInterface<BadWordCase> {};

TEST_P(CardDbBadWordTest, EndsWithMessageAndStatusOne) {
  UseDatabase(std::string("Board\n") + GetParam().data + "\n");
  EXPECT_EXIT(CardFillAttributes(), ::testing::ExitedWithCode(1),
              std::string("^") + GetParam().message + "$");
}

INSTANTIATE_TEST_SUITE_P(
    Words, CardDbBadWordTest,
    ::testing::Values(
        BadWordCase{"Driver", "1 nvx no 2 yes", "Invalid driver in database file.\n"},
        BadWordCase{"Kvd", "1 orv maybe 2 yes", "unrecognized boolean value in card db file: maybe\n"},
        BadWordCase{"OpenGL", "1 qlb no 2 1", "unrecognized boolean value in card db file: 1\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CardDbTest, MissingFileEndsWithMessageAndStatusOne) {
  dir_ = tree_.Path("nowhere");
  SetDatabaseCardFile(dir_.c_str());
  EXPECT_EXIT(CardFillAttributes(), ::testing::ExitedWithCode(1),
              "^can't open card files : /.*/nowhere/orvcards\n$");
}

TEST_F(CardDbTest, UnknownIdGivesDefaultRecord) {
  UseDatabase("A\n1 qlb yes 4 yes\n");
  testing::internal::CaptureStdout();
  CardFillAttributes();
  testing::internal::GetCapturedStdout();
  CardAttribute c = CardFindAttribute(0x77);
  EXPECT_EQ(c.boardId, 0u);
  EXPECT_STREQ(c.name, "unknown");
  EXPECT_EQ(c.driver, kDriverOrv);
  EXPECT_EQ(c.kvd, 0);
  EXPECT_EQ(c.outputs, 2);
  EXPECT_EQ(c.openGL, 0);
  EXPECT_EQ(CardFindAttribute(1).driver, kDriverQlb);
}

TEST_F(CardDbTest, OverlongDirectoryFallsBackToDefaultPath) {
  tree_.Write("usr/share/orvane/current/orvcards", "Default Board\n99 orv no 1 no\n");
  std::string dir = "/" + std::string(99, 'd');  // 100 characters
  SetDatabaseCardFile(dir.c_str());
  testing::internal::CaptureStdout();
  CardFillAttributes();
  testing::internal::GetCapturedStdout();
  EXPECT_STREQ(CardFindAttribute(0x99).name, "Default Board");

  std::string ok = tree_.Path("db");
  tree_.Write("db/orvcards", "Chosen Board\n99 orv no 1 no\n");
  ASSERT_LE(ok.size(), 99u);
  CardFreeAttributes();
  SetDatabaseCardFile(ok.c_str());
  testing::internal::CaptureStdout();
  CardFillAttributes();
  testing::internal::GetCapturedStdout();
  EXPECT_STREQ(CardFindAttribute(0x99).name, "Chosen Board");
}

using tools_test::Bytes;

TEST_F(CardDbTest, ExtensionBoardComesFirst) {
  FakeOrvCfgServer& server = server_;
  ASSERT_TRUE(tools_test::ServeAsDisplay(server));
  ORVCFGGenericBoardCap cap{};
  std::memset(cap.szName, 'x', sizeof cap.szName);  // no terminating zero
  std::memcpy(cap.szName, "Live", 4);
  cap.ulDriverFamily = 1;
  cap.ulSubsystemId = 0x1a2b;
  cap.ulDeviceId = 0x5d61;
  cap.ulMaxOutputs = 4;
  cap.ulOpenGL = 1;
  server.SetReply(X_ORVCFGGetGenericBoardCap, Bytes(&cap, sizeof cap));
  int32_t kvd = 1;
  server.SetReply(X_ORVCFGGetSpecificBoardCap, Bytes(&kvd, sizeof kvd));

  UseDatabase("From File\n1a2b orv no 2 no\n");
  CardFillAttributes();
  auto records = Records();
  ASSERT_EQ(records.size(), 2u);
  CardAttribute c = CardFindAttribute(0x1a2b);
  EXPECT_EQ(std::string(c.name, 4), "Live");
  EXPECT_EQ(std::strlen(c.name), 99u);
  EXPECT_EQ(c.kvd, 1);
  EXPECT_EQ(c.outputs, 4);
  EXPECT_EQ(c.openGL, 1);
  EXPECT_EQ(c.driver, kDriverOrv);
  EXPECT_STREQ(records[1].name, "From File");
}

// Requests the running driver does not answer add no made-up board: no
// description means no record, an unanswered KVD query means no KVD.
TEST_F(CardDbTest, UnansweredExtensionRequestsMakeUpNothing) {
  FakeOrvCfgServer& server = server_;
  ASSERT_TRUE(tools_test::ServeAsDisplay(server));
  server.SetError(X_ORVCFGGetGenericBoardCap);
  server.SetError(X_ORVCFGGetSpecificBoardCap);
  UseDatabase("From File\n1a2b orv no 2 no\n");
  CardFillAttributes();
  auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_STREQ(records[0].name, "From File");

  ORVCFGGenericBoardCap cap{};
  std::memcpy(cap.szName, "Live", 5);
  cap.ulDriverFamily = 1;
  cap.ulSubsystemId = 0x1a2b;
  cap.ulMaxOutputs = 2;
  server.SetReply(X_ORVCFGGetGenericBoardCap, Bytes(&cap, sizeof cap));
  CardFreeAttributes();
  CardFillAttributes();
  CardAttribute c = CardFindAttribute(0x1a2b);
  EXPECT_STREQ(c.name, "Live");
  EXPECT_EQ(c.kvd, 0);
}

TEST_F(CardDbTest, ShippedDatabaseReads) {
  const char* source = std::getenv("ORV_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  std::string dir = std::string(source) + "/data";
  if (dir.size() > 99) GTEST_SKIP() << "source tree path too long for --cardfile";
  SetDatabaseCardFile(dir.c_str());
  testing::internal::CaptureStdout();
  CardFillAttributes();
  testing::internal::GetCapturedStdout();
  auto records = Records();
  ASSERT_GE(records.size(), 5u);
  for (const CardAttribute& c : records) {
    EXPECT_GT(std::strlen(c.name), 0u);
    EXPECT_TRUE(c.driver == kDriverOrv || c.driver == kDriverQlb) << c.name;
    EXPECT_GE(c.outputs, 1) << c.name;
    EXPECT_LE(c.outputs, 4) << c.name;
    if (c.kvd) {
      EXPECT_EQ(c.outputs % 2, 0) << c.name;
    }
    EXPECT_EQ(CardFindAttribute(c.boardId).boardId, c.boardId);
  }
}

}  // namespace
