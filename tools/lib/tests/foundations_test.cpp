#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tools/lib/ErrorCodes.h"
#include "tools/lib/File.h"
#include "tools/lib/List.h"
#include "tools/lib/ModelineUtils.h"
#include "tools/lib/tests/test_util.h"

namespace {

int Value(PrivateList* node) {
  int v;
  std::memcpy(&v, node->Payload(), sizeof(v));
  return v;
}

PrivateList* Append(PrivateList* head, int v) {
  return PrivateListAppend(head, &v, sizeof(v), nullptr);
}

TEST(CfgPrivateList, AppendKeepsHeadAndLinksBothWays) {
  PrivateList* head = Append(nullptr, 1);
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(head->next, nullptr);
  EXPECT_EQ(head->prev, nullptr);
  EXPECT_EQ(Append(head, 2), head);
  EXPECT_EQ(Append(head, 3), head);
  EXPECT_EQ(Value(head->next), 2);
  EXPECT_EQ(head->next->next->prev, head->next);
  EXPECT_EQ(Value(head->next->next), 3);
  PrivateDeleteList(head);
}

TEST(CfgPrivateList, PayloadIsACopy) {
  int v = 7;
  PrivateList* head = PrivateListAppend(nullptr, &v, sizeof(v), nullptr);
  v = 8;
  EXPECT_EQ(Value(head), 7);
  PrivateDeleteList(head);
}

TEST(CfgPrivateList, InsertFirstBecomesHead) {
  PrivateList* head = Append(nullptr, 2);
  int one = 1;
  PrivateList* first = PrivateListInsertFirst(head, &one, sizeof(one), nullptr);
  EXPECT_EQ(Value(first), 1);
  EXPECT_EQ(first->next, head);
  EXPECT_EQ(head->prev, first);
  PrivateDeleteList(first);
}

int EqualsKey(const void* payload, const void* key, int) {
  return std::memcmp(payload, key, sizeof(int)) == 0;
}

TEST(CfgPrivateList, FindReturnsFirstMatchOrNull) {
  PrivateList* head = Append(Append(Append(nullptr, 1), 2), 2);
  int two = 2, nine = 9;
  EXPECT_EQ(PrivateListFind(head, &two, 1, EqualsKey), head->next);
  EXPECT_EQ(PrivateListFind(head, &nine, 1, EqualsKey), nullptr);
  PrivateDeleteList(head);
}

TEST(CfgPrivateList, RemoveRelinksNeighbours) {
  PrivateList* only = Append(nullptr, 1);
  EXPECT_EQ(PrivateRemoveElemList(only, only), nullptr);

  PrivateList* head = Append(Append(nullptr, 1), 2);
  PrivateList* second = head->next;
  EXPECT_EQ(PrivateRemoveElemList(head, head), second);
  EXPECT_EQ(second->prev, nullptr);
  PrivateDeleteList(second);

  head = Append(Append(Append(nullptr, 1), 2), 3);
  PrivateList* third = head->next->next;
  EXPECT_EQ(PrivateRemoveElemList(head, head->next), head);
  EXPECT_EQ(head->next, third);
  EXPECT_EQ(third->prev, head);
  PrivateDeleteList(head);
}

int g_destroyed = 0;
void CountingDestructor(PrivateList* node) {
  ++g_destroyed;
  DefaultDestructor(node);
}

TEST(CfgPrivateList, DeleteCallsEveryDestructor) {
  g_destroyed = 0;
  int v = 0;
  PrivateList* head = nullptr;
  for (int i = 0; i < 3; ++i) head = PrivateListAppend(head, &v, sizeof(v), CountingDestructor);
  PrivateDeleteList(head);
  EXPECT_EQ(g_destroyed, 3);
}

TEST(CfgErrorCodes, MessagesAreExact) {
  EXPECT_STREQ(ErrorCodeToString(0), "No error");
  EXPECT_STREQ(ErrorCodeToString(4), "You don't have enough permission for writing this file");
  EXPECT_STREQ(ErrorCodeToString(26), "Orvane card can't be found in system or in card database");
  std::string m25 = ErrorCodeToString(25);
  EXPECT_EQ(m25.substr(m25.size() - 19), "to fix the problem.");
  EXPECT_EQ(m25.rfind("The current configuration file contains at least 2 modes section.", 0), 0u);
  for (int code = 0; code < kErrorCodeCount; ++code)
    EXPECT_GT(std::strlen(ErrorCodeToString(code)), 0u) << code;
}

TEST(CfgModelineUtils, WordsToFlags) {
  struct Row {
    const char* h;
    const char* v;
    int flags;
  } rows[] = {
      {"+HSYNC", "-vsync", 9}, {"+hsync", "+vsync", 5}, {"-hsync", "-VSync", 10},
      {"-hsync", "what", 2},   {"foo", "bar", 0},       {nullptr, "+vsync", 4},
  };
  for (const Row& r : rows)
    EXPECT_EQ(ConvertModelineArgsToFlags(r.h, r.v), r.flags) << (r.h ? r.h : "null") << " " << r.v;
}

TEST(CfgModelineUtils, EnumsToFlags) {
  EXPECT_EQ(ConvertEnumModelineArgsToFlags(0, 1), 9);
  EXPECT_EQ(ConvertEnumModelineArgsToFlags(1, 0), 6);
  EXPECT_EQ(ConvertEnumModelineArgsToFlags(0, 0), 5);
  EXPECT_EQ(ConvertEnumModelineArgsToFlags(2, 2), 0);
}

TEST(CfgModelineUtils, ClockConversionsKeepTheFraction) {
  EXPECT_DOUBLE_EQ(ConvertKHzToMHz(65500), 65.5);
  EXPECT_DOUBLE_EQ(ConvertKHzToMHz(108500), 108.5);
  EXPECT_DOUBLE_EQ(ConvertKHzToMHz(65000), 65.0);
  EXPECT_EQ(ConvertDoubleMHzToKHz(65.5), 65500);
  EXPECT_EQ(ConvertDoubleMHzToKHz(268.0), 268000);
  // 74.175 * 1000 is 74174.999... in binary floating point.
  EXPECT_EQ(ConvertDoubleMHzToKHz(74.175), 74175);
  EXPECT_EQ(ConvertDoubleMHzToKHz(148.25), 148250);
  EXPECT_EQ(ConvertMHzToKHz("148.25"), 148250);
  EXPECT_EQ(ConvertMHzToKHz("  25.175"), 25175);
  EXPECT_EQ(ConvertMHzToKHz("65"), 65000);
  EXPECT_EQ(ConvertMHzToKHz("junk"), 0);
  // Every kHz value survives the trip to MHz and back.
  for (int khz : {1, 25175, 74176, 108500, 148250, 999999, 2147483})
    EXPECT_EQ(ConvertDoubleMHzToKHz(ConvertKHzToMHz(khz)), khz);
}

TEST(CfgFileUtils, DirectoriesAndReadableFiles) {
  toolcfg_test::TempDir dir;
  std::string file = dir.File("f");
  toolcfg_test::WriteFile(file, "x");
  EXPECT_TRUE(IsDir(dir.path().c_str()));
  EXPECT_FALSE(IsDir(file.c_str()));
  EXPECT_FALSE(IsDir(dir.File("missing").c_str()));
  EXPECT_EQ(FileExist(file.c_str()), 1);
  EXPECT_EQ(FileExist(dir.File("missing").c_str()), 0);
}

}  // namespace
