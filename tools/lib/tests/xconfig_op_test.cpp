// Reading the tools' own state back from a configuration.

#include <gtest/gtest.h>

#include <string>

#include "tools/lib/ConfigFileGenerator.h"
#include "tools/lib/ErrorCodes.h"
#include "tools/lib/XConfigOp.h"
#include "tools/lib/tests/test_util.h"

namespace {

const std::string kHead =
    "Section \"InputDevice\"\n\tIdentifier \"K\"\n\tDriver \"kbd\"\nEndSection\n"
    "Section \"Device\"\n\tIdentifier \"D0\"\n\tDriver \"orv\"\nEndSection\n"
    "Section \"Device\"\n\tIdentifier \"D1\"\n\tDriver \"orv\"\nEndSection\n";

std::string Screen(const char* id, const char* device, const std::string& body) {
  return std::string("Section \"Screen\"\n\tIdentifier \"") + id + "\"\n\tDevice \"" + device +
         "\"\n" + body + "EndSection\n";
}

std::string Layout(const std::string& lines) {
  return "Section \"ServerLayout\"\n\tIdentifier \"L\"\n" + lines +
         "\tInputDevice \"K\"\nEndSection\n";
}

struct ReadBackCase {
  const char* name;
  std::string text;
  int screens;
  int mode;
  int monitor2Position;
  int layout;  // read back with and without probing
};

TEST(ToolOptions, ReadBack) {
  const std::string two = Screen("S0", "D0", "\tDefaultDepth 16\n") +
                          Screen("S1", "D1", "\tDefaultDepth 16\n");
  const std::string twoLines = "\tScreen \"S0\"\n\tScreen \"S1\" Below \"S0\"\n";
  const ReadBackCase cases[] = {
      {"two screens", kHead + two + Layout(twoLines), 2, kModeIndependent, 1,
       kToolLayoutVertical},
      {"xinerama in flags",
       kHead + two + Layout(twoLines) +
           "Section \"ServerFlags\"\n\tOption \"Xinerama\" \"on\"\nEndSection\n",
       2, kModeXinerama, 1, kToolLayoutVertical},
      {"xinerama without value",
       kHead + two + Layout(twoLines) + "Section \"ServerFlags\"\n\tOption \"Xinerama\"\nEndSection\n",
       2, kModeIndependent, 1, kToolLayoutVertical},
      {"one screen", kHead + Screen("S0", "D0", "\tDefaultDepth 24\n") + Layout("\tScreen \"S0\"\n"),
       1, kModeMerge, 1, kToolLayoutHorizontal},
      {"merged below",
       kHead +
           Screen("S0", "D0",
                  "\tDefaultDepth 16\n\tOption \"MergedFB\" \"on\"\n"
                  "\tOption \"Monitor2Position\" \"below\"\n") +
           Layout("\tScreen \"S0\"\n"),
       2, kModeMerge, kToolBelow, kToolLayoutVertical},
      {"merged left of",
       kHead +
           Screen("S0", "D0",
                  "\tDefaultDepth 16\n\tOption \"MergedFB\" \"on\"\n"
                  "\tOption \"Monitor2Position\" \"leftof\"\n") +
           Layout("\tScreen \"S0\"\n"),
       2, kModeMerge, kToolLeftOf, kToolLayoutHorizontal},
      {"merged right of",
       kHead +
           Screen("S0", "D0",
                  "\tDefaultDepth 16\n\tOption \"MergedFB\" \"yes\"\n"
                  "\tOption \"Monitor2Position\" \"RightOf\"\n") +
           Layout("\tScreen \"S0\"\n"),
       2, kModeMerge, kToolRightOf, kToolLayoutHorizontal},
      {"span three",
       kHead + Screen("S0", "D0", "\tDefaultDepth 16\n\tOption \"Spanthree\" \"true\"\n") +
           Layout("\tScreen \"S0\"\n"),
       3, kModeMerge, 1, kToolLayoutHorizontal},
  };
  for (const ReadBackCase& c : cases) {
    for (int probe : {1, 0}) {
      SCOPED_TRACE(std::string(c.name) + (probe ? ", probe" : ", update"));
      toolcfg_test::Parsed parsed = toolcfg_test::ParseText(c.text);
      ASSERT_NE(parsed.file, nullptr) << parsed.err;
      ParsedOpt opt;
      InitParsedOpt(&opt);
      SetParsedOptFromConfig(&opt, parsed.file, 0, probe);
      EXPECT_EQ(opt.screens, c.screens);
      EXPECT_EQ(opt.mode, c.mode);
      EXPECT_EQ(opt.monitor2Position, c.monitor2Position);
      EXPECT_EQ(opt.layout, c.layout);
      FreeParsedOpt(&opt);
      // The tools' options are gone from the tree once read.
      for (XConfScreen* s = parsed.file->screens; s != nullptr; s = s->next) {
        EXPECT_EQ(xf86findOption(s->options, "MergedFB"), nullptr);
        EXPECT_EQ(xf86findOption(s->options, "Spanthree"), nullptr);
      }
      if (parsed.file->flags != nullptr) {
        EXPECT_EQ(xf86findOption(parsed.file->flags->options, "Xinerama"), nullptr);
      }
    }
  }
}

// A second Screen line placed absolutely says nothing about the layout: a
// probe stops on it, an update reads the default and goes on.
TEST(ToolOptions, UndecidedLayoutStopsOnlyAProbe) {
  const std::string text = kHead + Screen("S0", "D0", "\tDefaultDepth 16\n") +
                           Screen("S1", "D1", "\tDefaultDepth 16\n") +
                           Layout("\tScreen \"S0\"\n\tScreen \"S1\" 1024 0\n");
  {
    toolcfg_test::Parsed parsed = toolcfg_test::ParseText(text);
    ASSERT_NE(parsed.file, nullptr) << parsed.err;
    ParsedOpt opt;
    InitParsedOpt(&opt);
    SetParsedOptFromConfig(&opt, parsed.file, 0, 0);
    EXPECT_EQ(opt.layout, kToolLayoutHorizontal);
    EXPECT_EQ(opt.screens, 2);
    FreeParsedOpt(&opt);
  }
  toolcfg_test::Parsed parsed = toolcfg_test::ParseText(text);
  ASSERT_NE(parsed.file, nullptr);
  ParsedOpt opt;
  InitParsedOpt(&opt);
  testing::internal::CaptureStderr();
  EXPECT_EQ(SetParsedOptFromConfig(&opt, parsed.file, 0, 1), kErrConfigRefused);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Probe can't determine server layout.\nFix it or use --overwrite switch.\n");
  FreeParsedOpt(&opt);
}

TEST(ToolOptions, MissingDepthWarnsAndKeepsTheDefault) {
  toolcfg_test::Parsed parsed = toolcfg_test::ParseText(
      kHead + Screen("S0", "D0", "") + Layout("\tScreen \"S0\"\n"));
  ASSERT_NE(parsed.file, nullptr);
  ParsedOpt opt;
  InitParsedOpt(&opt);
  testing::internal::CaptureStderr();
  SetParsedOptFromConfig(&opt, parsed.file, 0, 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Invalid bpp value in config file.\nFix it or use --overwrite switch.\n");
  EXPECT_EQ(opt.depth[0], 16);
  FreeParsedOpt(&opt);
}

// A file the tools cannot work with is refused with its message and a
// status, in the calling process; the tools' options stay where they are,
// since nothing is written.
TEST(ToolOptions, RefusedFilesAnswerAStatus) {
  const std::string merged = "\tDefaultDepth 16\n\tOption \"MergedFB\" \"on\"\n";
  const struct {
    const char* name;
    std::string text;
    const char* err;
  } cases[] = {
      {"no layout", kHead + Screen("S0", "D0", merged),
       "You must have a server layout section filled with input devices.\n"},
      {"two layouts",
       kHead + Screen("S0", "D0", merged) + Layout("\tScreen \"S0\"\n") +
           "Section \"ServerLayout\"\n\tIdentifier \"L2\"\n\tScreen \"S0\"\n"
           "\tInputDevice \"K\"\nEndSection\n",
       "You can only have one server layout section with this tool.\n"
       "Fix it or use --overwrite switch.\n"},
      {"merged without position", kHead + Screen("S0", "D0", merged) + Layout("\tScreen \"S0\"\n"),
       "Invalid Monitor2Position in config file.\nFix it or use --overwrite switch.\n"},
      {"bad boolean on a later line",
       kHead + Screen("S0", "D0", merged + "\tOption \"Monitor2Position\" \"Above\"\n") +
           Screen("S1", "D1", "\tDefaultDepth 16\n\tOption \"KVD\" \"maybe\"\n") +
           Layout("\tScreen \"S0\"\n\tScreen \"S1\" RightOf \"S0\"\n"),
       "unrecognized value for option in config file\nFix it or use --overwrite switch.\n"},
      {"bad Xinerama word",
       kHead + Screen("S0", "D0", merged) + Layout("\tScreen \"S0\"\n") +
           "Section \"ServerFlags\"\n\tOption \"Xinerama\" \"sometimes\"\nEndSection\n",
       "unrecognized value for option in config file\nFix it or use --overwrite switch.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    toolcfg_test::Parsed parsed = toolcfg_test::ParseText(c.text);
    ASSERT_NE(parsed.file, nullptr) << parsed.err;
    ParsedOpt opt;
    InitParsedOpt(&opt);
    testing::internal::CaptureStderr();
    EXPECT_EQ(SetParsedOptFromConfig(&opt, parsed.file, 0, 0), kErrConfigRefused);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
    XConfScreen* first = xf86findScreen("S0", parsed.file->screens);
    ASSERT_NE(first, nullptr);
    EXPECT_NE(xf86findOption(first->options, "MergedFB"), nullptr);
    FreeParsedOpt(&opt);
  }
}

TEST(ToolOptions, GeneratedScreensTakeTheFirstFreeNumbers) {
  // "orvwizard_screen_0" is taken by the user's own screen.
  toolcfg_test::Parsed parsed = toolcfg_test::ParseText(
      kHead + Screen("orvwizard_screen_0", "D0", "\tDefaultDepth 16\n") +
      Layout("\tScreen \"orvwizard_screen_0\"\n"));
  ASSERT_NE(parsed.file, nullptr);
  ParsedOpt opt;
  InitParsedOpt(&opt);
  SetParsedOptFromConfig(&opt, parsed.file, 0, 0);
  XConfigOpt target{};
  target.family = 1;
  target.screens = 3;
  target.screenPosition = kToolBelow;
  target.depth[0] = target.depth[1] = 16;
  target.busMastering = target.edid = 1;
  SetConfigFromXConfigOpt(&target, parsed.file);
  FreeParsedOpt(&opt);

  const char* const names[] = {"orvwizard_screen_0", "orvwizard_screen_1", "orvwizard_screen_2"};
  XConfAdjacency* a = parsed.file->layouts->adjacencies;
  for (int i = 0; i < 3; ++i, a = a->next) {
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->screen_name, names[i]);
    EXPECT_EQ(a->where, i == 0 ? kConfPosAbsolute : kConfPosBelow);
    if (i > 0) {
      EXPECT_STREQ(a->refscreen, names[i - 1]);
    }
  }
  EXPECT_EQ(a, nullptr);
  XConfScreen* second = xf86findScreen("orvwizard_screen_1", parsed.file->screens);
  ASSERT_NE(second, nullptr);
  EXPECT_STREQ(second->device_name, "orvwizard_device_0");
  EXPECT_STREQ(second->monitor_name, "orvwizard_monitor_0");
  EXPECT_NE(xf86findDevice("orvwizard_device_1", parsed.file->devices), nullptr);
}

TEST(UpdateEngine, DisplayModeOptionsReplaceEachOther) {
  XConfigOpt target{};
  SetXConfigDispModeOption(&target, kModeMerge, 2);
  EXPECT_EQ(target.mergedFB, 1);
  SetXConfigDispModeOption(&target, kModeIndependent, 4);
  EXPECT_EQ(target.mergedFB, 0);
  EXPECT_EQ(target.s4i, 1);
  EXPECT_EQ(target.screens, 4);
  target.kvd = 1;
  SetXConfigDispModeOption(&target, kModeXinerama, 4);
  EXPECT_EQ(target.screens, 2);
  EXPECT_EQ(target.s4i, 0);
  EXPECT_EQ(target.xinerama, 1);
}

}  // namespace
