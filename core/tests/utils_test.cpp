#include "core/utils.h"

#include <gtest/gtest.h>
#include <math.h>

#include <memory>
#include <string>
#include <vector>

#include "core/same_bytes.h"

namespace {

// Bitwise CRC-16/ARC, the reference the table-driven CRC is checked against.
uint16_t ReferenceCrc(const std::string& data) {
  uint16_t crc = 0;
  for (unsigned char byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

TEST(Crc, KnownValues) {
  struct Case {
    std::string data;
    uint16_t crc;
  };
  const Case cases[] = {{"123456789", 0xBB3D}, {"abc", 0x9738}, {"", 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(CalculateCRC(c.data.data(), static_cast<uint32_t>(c.data.size())), c.crc) << c.data;
  }
}

TEST(Crc, TableMatchesBitwiseCrcOnEveryByte) {
  uint16_t table[256];
  Init_Crc_Table(table);
  for (int i = 0; i < 256; ++i) {
    // One byte from crc 0 leaves exactly the table entry.
    EXPECT_EQ(table[i], ReferenceCrc(std::string(1, static_cast<char>(i)))) << "entry " << i;
  }
  std::string data;
  for (int i = 0; i < 1000; ++i) data.push_back(static_cast<char>((i * 37) ^ (i >> 3)));
  EXPECT_EQ(CalculateCRC(data.data(), static_cast<uint32_t>(data.size())), ReferenceCrc(data));
}

TEST(ToolLtow, Conversions) {
  struct Case {
    int32_t value;
    int radix;
    const char* text;
  };
  const Case cases[] = {
      {0, 10, "0"},          {-255, 16, "-FF"},     {255, 16, "FF"},
      {123456, 10, "123456"}, {5, 2, "101"},        {35, 36, "Z"},
      {INT32_MIN, 10, "-2147483648"}, {INT32_MAX, 16, "7FFFFFFF"},
      {10, 16, "A"},          {-0xABCDEF, 16, "-ABCDEF"}, {10, 11, "A"},
  };
  for (const Case& c : cases) {
    char out[40];
    EXPECT_STREQ(TOOL_ltow(c.value, out, c.radix), c.text) << c.value << " radix " << c.radix;
  }
}

TEST(ToolWtol, Conversions) {
  struct Case {
    const char* text;
    int32_t value;
  };
  const Case cases[] = {
      {"123", 123}, {" 12a", 0}, {"-42", -42}, {"4-2", -42}, {"  7 ", 7}, {"", 0}, {"x", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(TOOL_wtol(c.text), c.value) << '"' << c.text << '"';
}

TEST(Strings, CompareFamilies) {
  EXPECT_EQ(LocStriCmp("Hello", "hELLO"), 0);
  EXPECT_EQ(LocStriCmp("abc", "ABD"), 'c' - 'd');
  EXPECT_EQ(TOOL_stricmp("a[", "A{"), '[' - '{');  // only letters fold
  EXPECT_EQ(TOOL_strcmp("abc", "abd"), -1);
  EXPECT_EQ(TOOL_strcmp("abd", "abc"), 1);
  EXPECT_EQ(TOOL_strcmp("abc", "abc"), 0);
  EXPECT_EQ(TOOL_strcmp(nullptr, "abc"), -1);
  EXPECT_EQ(TOOL_wcscmp("b", nullptr), -1);
  EXPECT_EQ(TOOL_wcscmp("ab", "a"), 'b');
  const unsigned char a[] = {1, 0x80, 3};
  const unsigned char b[] = {1, 0x01, 3};
  EXPECT_EQ(LocMemCmp(a, b, 3), 0x80 - 0x01);  // unsigned bytes
  EXPECT_EQ(LocMemCmp(a, b, 1), 0);
}

TEST(Strings, CopyAppendAndNullArguments) {
  char buffer[32] = "ab";
  EXPECT_EQ(LocStrCat(buffer, "cd"), buffer);
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_EQ(TOOL_wcscat(nullptr, "x"), nullptr);
  EXPECT_EQ(TOOL_wcscat(buffer, nullptr), buffer);
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_EQ(TOOL_strcpy(buffer, nullptr), buffer);
  EXPECT_STREQ(TOOL_strcpy(buffer, "xyz"), "xyz");
  EXPECT_EQ(TOOL_strlen(nullptr), 0u);
  EXPECT_EQ(TOOL_wcslen("four"), 4u);
  const char* text = "hello";
  EXPECT_EQ(TOOL_wcschr(text, 'l'), text + 2);
  EXPECT_EQ(TOOL_wcschr(text, 'z'), nullptr);
  char mixed[] = "MiXeD 1!";
  EXPECT_STREQ(TOOL_strupr(mixed), "MIXED 1!");
  EXPECT_STREQ(TOOL_strlwr(mixed), "mixed 1!");
}

TEST(Strings, TokenizersKeepTheirOwnPositions) {
  char first[] = ",,one,two;;three";
  char second[] = "a b";
  EXPECT_STREQ(LocStrTok(first, ",;"), "one");
  EXPECT_STREQ(TOOL_strtok(second, " "), "a");
  EXPECT_STREQ(LocStrTok(nullptr, ",;"), "two");
  EXPECT_STREQ(TOOL_strtok(nullptr, " "), "b");
  EXPECT_STREQ(LocStrTok(nullptr, ",;"), "three");
  EXPECT_EQ(LocStrTok(nullptr, ",;"), nullptr);
  EXPECT_EQ(TOOL_strtok(nullptr, " "), nullptr);
  char only[] = ";;;";
  EXPECT_EQ(LocStrTok(only, ";"), nullptr);
}

TEST(Tools, AlignAndRectangles) {
  EXPECT_EQ(TOOL_AlignAddress(0x1001, 0x1000), 0x2000u);
  EXPECT_EQ(TOOL_AlignAddress(0x1000, 0x1000), 0x1000u);
  EXPECT_EQ(TOOL_AlignAddress(0, 32), 0u);
  const LRECT big = {0, 0, 100, 50};
  const LRECT moved = {10, 10, 110, 60};
  const LRECT tall = {0, 0, 10, 60};
  EXPECT_TRUE(TOOL_RectIsLargerOrEgual(&big, &moved));
  EXPECT_FALSE(TOOL_RectIsLargerOrEgual(&big, &tall));
  EXPECT_FALSE(TOOL_RectIsLargerOrEgual(&big, nullptr));
  EXPECT_FALSE(TOOL_RectIsEgual(&big, &moved));
  EXPECT_TRUE(TOOL_RectIsEgual(&big, &big));
  EXPECT_FALSE(TOOL_RectIsEgual(nullptr, &big));
}

TEST(Math, PowFloorAndExp) {
  EXPECT_EQ(LocPow(3.0, 0.0), 1.0);
  EXPECT_EQ(LocPow(2.0, 10.0), 1024.0);
  EXPECT_EQ(LocPow(1.1, 3.0), 1.1 * 1.1 * 1.1);  // the exact product
  EXPECT_DOUBLE_EQ(LocPow(2.0, 0.5), sqrt(2.0));
  EXPECT_DOUBLE_EQ(LocPow(4.0, -1.0), 0.25);
  struct Case {
    float value;
    float floor;
    int32_t integer;
  };
  const Case cases[] = {{2.7f, 2.0f, 2}, {-2.5f, -3.0f, -3}, {-3.0f, -3.0f, -3}, {0.0f, 0.0f, 0},
                        {3e9f, 3e9f, INT32_MAX}};
  for (const Case& c : cases) {
    int32_t integer = 12345;
    EXPECT_EQ(LocFloor(c.value, &integer), c.floor) << c.value;
    EXPECT_EQ(integer, c.integer) << c.value;
  }
  EXPECT_DOUBLE_EQ(LocExp(1.0), M_E);
  EXPECT_DOUBLE_EQ(LocExp(0.0), 1.0);
  EXPECT_DOUBLE_EQ(LocSqrt(9.0), 3.0);
  EXPECT_DOUBLE_EQ(LocFabs(-2.5), 2.5);
}


// SameBytes over blocks of every length from 0 to 40 bytes, each in a heap
// block of exactly its length (a read past the end stops the test): equal
// blocks compare equal, and a change of any one byte is seen.
TEST(SameBytesTest, SeesAChangeOfAnyByteAndReadsNoFurther) {
  for (size_t n = 0; n <= 40; ++n) {
    std::unique_ptr<uint8_t[]> a(new uint8_t[n]), b(new uint8_t[n]);
    for (size_t i = 0; i < n; ++i) a[i] = b[i] = static_cast<uint8_t>(i * 37 + 1);
    EXPECT_TRUE(SameBytes(a.get(), b.get(), n)) << n << " bytes";
    for (size_t i = 0; i < n; ++i) {
      b[i] ^= 0x10;
      EXPECT_FALSE(SameBytes(a.get(), b.get(), n)) << n << " bytes, byte " << i;
      b[i] ^= 0x10;
    }
  }
}

}  // namespace
