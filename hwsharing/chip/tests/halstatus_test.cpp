#include <gtest/gtest.h>

#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"

namespace {

struct MergeRow {
  const char* name;
  HALSTATUS current;
  HALSTATUS next;
  HALSTATUS merged;
};

const MergeRow kMergeRows[] = {
    {"ok takes ok", 0x00000000, 0x00000005, 0x00000005},
    {"ok takes warning", 0x00000000, 0x40000001, 0x40000001},
    {"ok takes error", 0x00000000, 0xb0302060, 0xb0302060},
    {"ok takes fatal", 0x00000000, 0xc0000000, 0xc0000000},
    {"warning keeps itself over ok", 0x40000001, 0x00000000, 0x40000001},
    {"second warning never replaces the first", 0x40000001, 0x40000002, 0x40000001},
    {"warning gives way to error", 0x40000001, 0x80701180, 0x80701180},
    {"warning gives way to fatal", 0x40000001, 0xc0000007, 0xc0000007},
    {"error keeps itself over ok", 0xb0303065, 0x00000000, 0xb0303065},
    {"error keeps itself over warning", 0xb0303065, 0x40000001, 0xb0303065},
    {"second error never replaces the first", 0xb0303065, 0xb0302060, 0xb0303065},
    {"fatal never replaces an error", 0xb0303065, 0xc0000000, 0xb0303065},
    {"fatal keeps itself over error", 0xc0000001, 0x80701060, 0xc0000001},
    {"fatal keeps itself over fatal", 0xc0000001, 0xc0000002, 0xc0000001},
};

TEST(StatusWord, MergeKeepsTheWorstFirstCode) {
  for (const MergeRow& row : kMergeRows)
    EXPECT_EQ(ReturnCorrectError(row.current, row.next), row.merged) << row.name;
}

TEST(StatusWord, SetErrorStoresAndReturnsTheMerge) {
  auto h = std::make_unique<BOARDHANDLE>();
  h->status = 0;
  EXPECT_EQ(SetError(h.get(), 0x40000001), 0x40000001u);
  EXPECT_EQ(SetError(h.get(), 0x40000002), 0x40000001u);
  EXPECT_EQ(SetError(h.get(), 0xb0303065), 0xb0303065u);
  EXPECT_EQ(SetError(h.get(), 0xc0000000), 0xb0303065u);
  EXPECT_EQ(h->status, 0xb0303065u);
}

TEST(StatusWord, FailedMeansErrorOrFatal) {
  EXPECT_FALSE(HalFailed(0x00000000));
  EXPECT_FALSE(HalFailed(0x7FFFFFFF));
  EXPECT_TRUE(HalFailed(0x80000000));
  EXPECT_TRUE(HalFailed(0xC0000000));
}

}  // namespace
