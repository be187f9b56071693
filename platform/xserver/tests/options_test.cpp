// Driver options: name matching, value parsing by type, "No" inversion,
// the gathering order of a screen's sections and the unused-option list.
#include <string>

#include <gtest/gtest.h>

#include "platform/xserver/sandbox.h"
#include "platform/xserver/server.h"
#include "tools/lib/parser/xconfig.h"

namespace {

enum { kCursor, kAccel, kDepth, kName, kAny, kRatio, kClock, kLevel };

// A table as a driver keeps it.
struct Table {
  OptionInfoRec rows[9] = {
      {kCursor, "HWcursor", OPTV_BOOLEAN, {0}, FALSE},
      {kAccel, "Accel", OPTV_BOOLEAN, {0}, FALSE},
      {kDepth, "Depth", OPTV_INTEGER, {0}, FALSE},
      {kName, "Rotate", OPTV_STRING, {0}, FALSE},
      {kAny, "MetaModes", OPTV_ANYSTR, {0}, FALSE},
      {kRatio, "Ratio", OPTV_REAL, {0}, FALSE},
      {kClock, "Clock", OPTV_FREQ, {0}, FALSE},
      {kLevel, "Level", OPTV_PERCENT, {0}, FALSE},
      {-1, nullptr, OPTV_NONE, {0}, FALSE},
  };
};

// An option list of name/value pairs (value null for none).
XConfOption* List(std::initializer_list<std::pair<const char*, const char*>> pairs) {
  XConfOption* list = nullptr;
  for (const auto& p : pairs)
    list = xf86addNewOption(list, xf86configStrdup(p.first), xf86configStrdup(p.second));
  return list;
}

TEST(XserverOptions, NamesMatchIgnoringCaseBlanksAndUnderscores) {
  EXPECT_EQ(xf86NameCmp("HWcursor", "hw_Cursor"), 0);
  EXPECT_EQ(xf86NameCmp("Pseudo Xinerama", "pseudoxinerama"), 0);
  EXPECT_EQ(xf86NameCmp("_CW", "cw"), 0);
  EXPECT_NE(xf86NameCmp("CW", "CCW"), 0);
  EXPECT_NE(xf86NameCmp("DigitalScreen", "DigitalScreen1"), 0);
}

struct ValueCase {
  const char* name;
  const char* value;
  int token;
  bool found;
  long number;      // booleans: 0/1; integers: the value
  const char* text; // strings
};

// The option as a configuration line gives it: HWcursor "Off", or the name
// alone when the option comes without a value.
void PrintTo(const ValueCase& c, std::ostream* out) {
  *out << c.name;
  if (c.value != nullptr) *out << " \"" << c.value << '"';
}

class XserverOptionValues : public testing::TestWithParam<ValueCase> {};

TEST_P(XserverOptionValues, ParsedAsTheRowsTypeSays) {
  const ValueCase& c = GetParam();
  xstub::Sandbox box;
  Table t;
  XConfOption* list = List({{c.name, c.value}});
  xf86ProcessOptions(0, list, t.rows);
  const OptionInfoRec* row = xf86TokenToOptinfo(t.rows, c.token);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->found != 0, c.found);
  if (c.found) {
    switch (row->type) {
      case OPTV_BOOLEAN: EXPECT_EQ(row->value.boolean, c.number); break;
      case OPTV_INTEGER: EXPECT_EQ(static_cast<long>(row->value.num), c.number); break;
      case OPTV_STRING:
      case OPTV_ANYSTR: EXPECT_STREQ(row->value.str, c.text); break;
      default: break;
    }
  }
  // Every option a row matched by name is used, parsed or not.
  EXPECT_EQ(list->used, 1);
  xf86optionListFree(list);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, XserverOptionValues,
    testing::Values(ValueCase{"hw_cursor", nullptr, kCursor, true, 1, nullptr},
                    ValueCase{"HWcursor", "Off", kCursor, true, 0, nullptr},
                    ValueCase{"HWcursor", "YES", kCursor, true, 1, nullptr},
                    ValueCase{"HWcursor", "maybe", kCursor, false, 0, nullptr},
                    ValueCase{"NoAccel", nullptr, kAccel, true, 0, nullptr},
                    ValueCase{"No_Accel", "false", kAccel, true, 1, nullptr},
                    ValueCase{"Depth", "0x10", kDepth, true, 16, nullptr},
                    ValueCase{"Depth", "-3", kDepth, true, -3, nullptr},
                    ValueCase{"Depth", "12abc", kDepth, false, 0, nullptr},
                    ValueCase{"Depth", "", kDepth, false, 0, nullptr},
                    ValueCase{"Rotate", "CW", kName, true, 0, "CW"},
                    ValueCase{"Rotate", "", kName, false, 0, nullptr},
                    ValueCase{"MetaModes", "", kAny, true, 0, ""}),
    [](const testing::TestParamInfo<ValueCase>& info) {
      std::string n = info.param.name;
      n += info.param.value != nullptr ? info.param.value : "None";
      std::string out;
      for (char ch : n) out += isalnum(static_cast<unsigned char>(ch)) ? ch : 'X';
      return out + std::to_string(info.index);
    });

TEST(XserverOptions, RealFrequencyAndPercentValues) {
  xstub::Sandbox box;
  Table t;
  XConfOption* list = List({{"Ratio", "1.5"}, {"Clock", "135 MHz"}, {"Level", "40%"}});
  xf86ProcessOptions(0, list, t.rows);
  double ratio = 0;
  ASSERT_TRUE(xf86GetOptValReal(t.rows, kRatio, &ratio));
  EXPECT_DOUBLE_EQ(ratio, 1.5);
  EXPECT_DOUBLE_EQ(t.rows[kClock].value.freq.freq, 135.0);
  EXPECT_EQ(t.rows[kClock].value.freq.units, OPTUNITS_MHZ);
  EXPECT_DOUBLE_EQ(t.rows[kLevel].value.realnum, 40.0);
  xf86optionListFree(list);
}

TEST(XserverOptions, GettersAnswerByTokenAndDefault) {
  xstub::Sandbox box;
  Table t;
  XConfOption* list = List({{"Depth", "24"}, {"HWcursor", "off"}});
  xf86ProcessOptions(0, list, t.rows);
  int depth = 0;
  EXPECT_TRUE(xf86GetOptValInteger(t.rows, kDepth, &depth));
  EXPECT_EQ(depth, 24);
  Bool on = TRUE;
  EXPECT_TRUE(xf86GetOptValBool(t.rows, kCursor, &on));
  EXPECT_FALSE(on);
  EXPECT_FALSE(xf86ReturnOptValBool(t.rows, kCursor, TRUE));
  EXPECT_TRUE(xf86ReturnOptValBool(t.rows, kAccel, TRUE));
  EXPECT_FALSE(xf86IsOptionSet(t.rows, kAccel));
  EXPECT_EQ(xf86GetOptValString(t.rows, kName), nullptr);
  EXPECT_EQ(xf86TokenToOptinfo(t.rows, 19), nullptr);
  EXPECT_STREQ(xf86TokenToOptName(t.rows, kDepth), "Depth");
  xf86optionListFree(list);
}

TEST(XserverOptions, UnusedOptionsAreListed) {
  xstub::Sandbox box;
  Table t;
  XConfOption* list = List({{"Depth", "24"}, {"Mystery", "1"}});
  xf86ProcessOptions(3, list, t.rows);
  xf86ShowUnusedOptions(3, list);
  EXPECT_TRUE(box.Logged("Option \"Mystery\" is not used", X_WARNING));
  EXPECT_FALSE(box.Logged("Option \"Depth\" is not used"));
  EXPECT_EQ(box.Messages().back().screen, 3);
  xf86optionListFree(list);
}

TEST(XserverOptions, LaterSectionsWinWhenGathered) {
  xstub::Sandbox box;
  xstub::XServer server;
  ASSERT_TRUE(server.ReadConfig(R"(
Section "Device"
  Identifier "D"
  Driver "fixture"
  Option "Depth" "8"
  Option "Rotate" "CW"
EndSection
Section "Monitor"
  Identifier "M"
  Option "Depth" "4"
  Option "Ratio" "2.0"
EndSection
Section "Screen"
  Identifier "S"
  Device "D"
  Monitor "M"
  Option "Ratio" "1.0"
  Option "Rotate" "CCW"
  SubSection "Display"
    Depth 24
    Option "Depth" "30"
  EndSubSection
EndSection
)"));
  // A bare screen tied to the configured sections, as probing leaves it.
  ScrnInfoPtr screen = server.NewScrnInfo();
  screen->confScreen = nullptr;
  GDevPtr* sections = nullptr;
  ASSERT_EQ(xf86MatchDevice("fixture", &sections), 1);
  screen->confScreen = sections[0]->myScreenSection;
  xfree(sections);
  screen->monitor = screen->confScreen->monitor;
  screen->display = &screen->confScreen->displays[0];
  xf86CollectOptions(screen, nullptr);
  // Screen, then Monitor, then (no entity) Display: the monitor overrides
  // the screen, the display overrides both.
  EXPECT_STREQ(xf86FindOptionValue(screen->options, "Ratio"), "2.0");
  EXPECT_STREQ(xf86FindOptionValue(screen->options, "Depth"), "30");
  EXPECT_STREQ(xf86FindOptionValue(screen->options, "Rotate"), "CCW");
  EXPECT_EQ(xf86FindOption(screen->options, "Absent"), nullptr);
}

}  // namespace
