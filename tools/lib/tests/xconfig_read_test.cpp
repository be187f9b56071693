#include <gtest/gtest.h>

#include <string>

#include "tools/lib/parser/xconfig.h"
#include "tools/lib/tests/broken_files.h"
#include "tools/lib/tests/test_util.h"

namespace {

using toolcfg_test::ParseText;
using toolcfg_test::Parsed;
using toolcfg_test::WriteText;

const char* const kDevice = "Section \"Device\"\n Identifier \"d\"\n Driver \"vesa\"\nEndSection\n";

TEST(CfgRead, BrokenFilesGiveTheExactMessageAndNoTree) {
  for (const auto& broken : toolcfg_test::kBrokenFiles) {
    Parsed p = ParseText(broken.text);
    EXPECT_EQ(p.file, nullptr) << broken.name;
    EXPECT_EQ(p.err, broken.message) << broken.name;
  }
}

TEST(CfgRead, SectionNamesCompareLoosely) {
  Parsed p = ParseText(
      "Section \"server_layout\"\n Identifier \"l\"\nEndSection\n"
      "Section \"VIDEO ADAPTOR\"\n Identifier \"v\"\nEndSection\n");
  ASSERT_NE(p.file, nullptr) << p.err;
  ASSERT_NE(p.file->layouts, nullptr);
  EXPECT_STREQ(p.file->layouts->identifier, "l");
  ASSERT_NE(p.file->videoadaptors, nullptr);
}

TEST(CfgRead, DeviceFields) {
  Parsed p = ParseText(
      "Section \"Device\"\n Identifier \"d\"\n Driver \"orv\"\n DacSpeed 220 250\n"
      " Option \"A\" \"1\"\n Option \"a\" \"2\"\n Option \"Flag\"\n VideoRam 0x4000\n"
      " MemBase 0xe0000000\n ChipID 010\n Clocks 25.175 28.322\n TextClockFreq 25.2\n"
      " BusID \"PCI:1:0:0\"\n Screen 1\n IRQ 0\nEndSection\n");
  ASSERT_NE(p.file, nullptr) << p.err;
  XConfDevice* d = p.file->devices;
  EXPECT_EQ(d->dacspeeds[0], 220000);
  EXPECT_EQ(d->dacspeeds[1], 250000);
  EXPECT_EQ(d->dacspeeds[2], 0);
  EXPECT_EQ(d->videoram, 0x4000);
  EXPECT_EQ(d->mem_base, 0xe0000000ul);
  EXPECT_EQ(d->chipid, 8);
  EXPECT_EQ(d->chiprev, -1);
  ASSERT_EQ(d->clocks, 2);
  EXPECT_EQ(d->clock[0], 25175);
  EXPECT_EQ(d->textclockfreq, 25200);
  EXPECT_EQ(d->screen, 1);
  EXPECT_EQ(d->irq, 0);
  // The first of two like-named options wins.
  EXPECT_STREQ(xf86findOptionValue(d->options, "a"), "1");
  EXPECT_STREQ(xf86findOptionValue(d->options, "flag"), "");
  EXPECT_EQ(xf86findOptionValue(d->options, "missing"), nullptr);
}

TEST(CfgRead, MonitorRangesGammaAndModeLines) {
  Parsed p = ParseText(std::string(kDevice) +
                       "Section \"Monitor\"\n Identifier \"m\"\n HorizSync 30-50, 60, 70 - 80,\n"
                       " VertRefresh 59.94\n Gamma 0.8\n"
                       " ModeLine \"1024x768\" 65.5 1024 1048 1184 1344 768 771 777 806 -hsync "
                       "-vsync hskew 3 vscan 2\n"
                       " Mode \"v\"\n  DotClock 148.25\n  HTimings 1920 2008 2052 2200\n"
                       "  VTimings 1080 1084 1089 1125\n  Flags \"+HSync\" \"Interlace\"\n"
                       " EndMode\nEndSection\n");
  ASSERT_NE(p.file, nullptr) << p.err;
  XConfMonitor* m = p.file->monitors;
  ASSERT_EQ(m->n_hsync, 3);
  EXPECT_FLOAT_EQ(m->hsync[0].lo, 30);
  EXPECT_FLOAT_EQ(m->hsync[0].hi, 50);
  EXPECT_FLOAT_EQ(m->hsync[1].lo, 60);
  EXPECT_FLOAT_EQ(m->hsync[1].hi, 60);
  EXPECT_FLOAT_EQ(m->hsync[2].hi, 80);
  ASSERT_EQ(m->n_vrefresh, 1);
  EXPECT_FLOAT_EQ(m->vrefresh[0].lo, 59.94f);
  EXPECT_FLOAT_EQ(m->gamma_blue, 0.8f);
  XConfModeLine* ml = m->modelines;
  ASSERT_NE(ml, nullptr);
  EXPECT_EQ(ml->clock, 65500);
  EXPECT_EQ(ml->vtotal, 806);
  EXPECT_EQ(ml->flags, kConfFlagNHSync | kConfFlagNVSync | kConfFlagHSkew | kConfFlagVScan);
  EXPECT_EQ(ml->hskew, 3);
  EXPECT_EQ(ml->vscan, 2);
  ASSERT_NE(ml->next, nullptr);
  EXPECT_EQ(ml->next->clock, 148250);
  EXPECT_EQ(ml->next->flags, kConfFlagPHSync | kConfFlagInterlace);
  EXPECT_EQ(ml->next->vtotal, 1125);
}

TEST(CfgRead, ScreenNamedByDriverTakesItAsIdentifier) {
  Parsed p = ParseText(std::string(kDevice) +
                       "Section \"Screen\"\n Driver \"accel\"\n Device \"d\"\n"
                       " SubSection \"Display\"\n  Depth 24\n  Modes \"1024x768\" \"800x600\"\n"
                       "  Black 0 0 0\n EndSubSection\nEndSection\n");
  ASSERT_NE(p.file, nullptr) << p.err;
  XConfScreen* s = p.file->screens;
  EXPECT_STREQ(s->identifier, "accel");
  EXPECT_EQ(s->device, p.file->devices);
  ASSERT_NE(s->displays, nullptr);
  EXPECT_EQ(s->displays->depth, 24);
  EXPECT_EQ(s->displays->viewport_x, -1);
  EXPECT_EQ(s->displays->black_red, 0);
  EXPECT_EQ(s->displays->white_red, -1);
  ASSERT_NE(s->displays->modes, nullptr);
  EXPECT_STREQ(s->displays->modes->next->name, "800x600");
  // Written back, the screen keeps its one Driver line and reads again.
  std::string text = WriteText(p.file);
  EXPECT_NE(text.find("\tDriver     \"accel\"\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("\tIdentifier \"accel\""), std::string::npos) << text;
  Parsed again = ParseText(text);
  EXPECT_NE(again.file, nullptr) << again.err;
}

TEST(CfgRead, LayoutPositions) {
  Parsed p = ParseText(
      std::string(kDevice) +
      "Section \"Screen\"\n Identifier \"a\"\n Device \"d\"\nEndSection\n"
      "Section \"Screen\"\n Identifier \"b\"\n Device \"d\"\nEndSection\n"
      "Section \"InputDevice\"\n Identifier \"mouse\"\n Driver \"mouse\"\nEndSection\n"
      "Section \"ServerLayout\"\n Identifier \"l\"\n Screen 0 \"a\" 0 0\n"
      " Screen 1 \"b\" RightOf \"a\"\n Screen \"a\" Relative \"b\" 10 20\n"
      " Screen \"b\" \"n\" \"s\" \"w\" \"e\"\n Screen \"a\"\n Inactive \"d\"\n"
      " InputDevice \"mouse\" \"CorePointer\" \"SendCoreEvents\"\nEndSection\n");
  ASSERT_NE(p.file, nullptr) << p.err;
  XConfAdjacency* a = p.file->layouts->adjacencies;
  EXPECT_EQ(a->screen_num, 0);
  EXPECT_EQ(a->where, kConfPosAbsolute);
  EXPECT_EQ(a->x, 0);
  EXPECT_EQ(a->y, 0);
  a = a->next;
  EXPECT_EQ(a->where, kConfPosRightOf);
  EXPECT_STREQ(a->refscreen, "a");
  a = a->next;
  EXPECT_EQ(a->where, kConfPosRelative);
  EXPECT_EQ(a->screen_num, -1);
  EXPECT_EQ(a->y, 20);
  a = a->next;
  EXPECT_EQ(a->where, kConfPosLegacy);
  EXPECT_STREQ(a->legacy[3], "e");
  a = a->next;
  EXPECT_EQ(a->where, kConfPosAbsolute);
  EXPECT_EQ(a->x, -1);
  XConfInputRef* in = p.file->layouts->inputs;
  EXPECT_EQ(in->input, p.file->inputs);
  EXPECT_NE(xf86findOption(in->options, "corepointer"), nullptr);
  EXPECT_NE(xf86findOption(in->options, "SendCoreEvents"), nullptr);
  EXPECT_EQ(p.file->layouts->inactives->device, p.file->devices);
}

TEST(CfgRead, LegacyKeyboardAndPointerBecomeInputDevices) {
  Parsed p = ParseText(
      "Section \"Keyboard\"\n Protocol \"Standard\"\n AutoRepeat 500 30\n XLeds 1 2 3\n"
      " XkbLayout \"de\"\n ServerNumLock\n VTInit \"x\"\nEndSection\n"
      "Section \"Pointer\"\n Protocol \"PS/2\"\n Port \"/dev/psaux\"\n Buttons 5\n"
      " ZAxisMapping 4 5\n Emulate3Buttons\n AlwaysCore\nEndSection\n");
  ASSERT_NE(p.file, nullptr) << p.err;
  EXPECT_EQ(p.err,
            "Parse warning on line 6 of section Keyboard in file FILE\n\tIgnoring obsolete keyword "
            "\"ServerNumLock\".\n"
            "Parse warning on line 7 of section Keyboard in file FILE\n\tKeyword \"VTInit\" is now "
            "an Option flag in the ServerFlags section.\n");
  XConfInput* k = p.file->inputs;
  EXPECT_STREQ(k->identifier, "Implicit Core Keyboard");
  EXPECT_STREQ(k->driver, "keyboard");
  EXPECT_STREQ(xf86findOptionValue(k->options, "XkbLayout"), "de");
  EXPECT_STREQ(xf86findOptionValue(k->options, "AutoRepeat"), "500 30");
  EXPECT_STREQ(xf86findOptionValue(k->options, "XLeds"), "1 2 3");
  EXPECT_NE(xf86findOption(k->options, "CoreKeyboard"), nullptr);
  XConfInput* m = k->next;
  EXPECT_STREQ(m->identifier, "Implicit Core Pointer");
  EXPECT_STREQ(m->driver, "mouse");
  EXPECT_STREQ(xf86findOptionValue(m->options, "Device"), "/dev/psaux");
  EXPECT_STREQ(xf86findOptionValue(m->options, "Buttons"), "5");
  EXPECT_STREQ(xf86findOptionValue(m->options, "ZAxisMapping"), "4 5");
  EXPECT_STREQ(xf86findOptionValue(m->options, "Emulate3Buttons"), "");
}

TEST(CfgRead, FilesModuleFlagsVendorDriExtensions) {
  Parsed p = ParseText(
      "Section \"Files\"\n ModulePath \"/a\"\n ModulePath \"/b\"\n FontPath \"x,\"\n"
      " FontPath \"y\"\n LogFile \"/l1\"\n LogFile \"/l2\"\nEndSection\n"
      "Section \"Module\"\n Load \"glx\" # GL\n LoadDriver \"orv\"\n SubSection \"extmod\"\n"
      "  Option \"omit xfree86-dga\"\n EndSubSection\nEndSection\n"
      "Section \"ServerFlags\"\n blanktime 10\n DontZap\n DefaultServerLayout \"l\"\nEndSection\n"
      "Section \"Vendor\"\n Identifier \"v\"\n SubSection \"Vendor\"\n  Identifier \"s\"\n"
      " EndSubSection\nEndSection\n"
      "Section \"DRI\"\n Group \"video\"\n Mode 0666\n Buffers 4 65536\nEndSection\n"
      "Section \"Extensions\"\n Option \"Composite\" \"Enable\"\nEndSection\n");
  ASSERT_NE(p.file, nullptr) << p.err;
  EXPECT_STREQ(p.file->files->modulepath, "/a,/b");
  EXPECT_STREQ(p.file->files->fontpath, "x,y");
  EXPECT_STREQ(p.file->files->logfile, "/l2");
  XConfLoad* l = p.file->modules->loads;
  EXPECT_EQ(l->kind, kConfLoadModule);
  EXPECT_STREQ(l->comment, " # GL\n");
  EXPECT_EQ(l->next->kind, kConfLoadDriver);
  EXPECT_NE(l->next->next->options, nullptr);
  EXPECT_STREQ(xf86findOptionValue(p.file->flags->options, "blanktime"), "10");
  EXPECT_STREQ(xf86findOptionValue(p.file->flags->options, "dontzap"), "");
  EXPECT_STREQ(xf86findOptionValue(p.file->flags->options, "defaultserverlayout"), "l");
  EXPECT_STREQ(p.file->vendors->subs->identifier, "s");
  EXPECT_EQ(p.file->dri->mode, 0666);
  EXPECT_EQ(p.file->dri->buffers->size, 65536);
  EXPECT_EQ(p.file->dri->group, -1);
}

TEST(CfgRead, OptionWithoutNameIsReportedAndSkipped) {
  Parsed p = ParseText(
      "Section \"Device\"\n Identifier \"d\"\n Driver \"vesa\"\n Option Foo\n Option \"X\"\n"
      "EndSection\n");
  ASSERT_NE(p.file, nullptr);
  EXPECT_EQ(p.err,
            "Parse error on line 4 of section Device in file FILE\n\tThe Option keyword requires 1 "
            "or 2 quoted strings to follow it.\n");
  EXPECT_STREQ(p.file->devices->options->name, "X");
}

TEST(CfgRead, SecondSingleSectionReplacesTheFirst) {
  Parsed p = ParseText(
      "Section \"Files\"\n LogFile \"/a\"\nEndSection\nSection \"Files\"\n RgbPath \"/r\"\n"
      "EndSection\n");
  ASSERT_NE(p.file, nullptr);
  EXPECT_EQ(p.file->files->logfile, nullptr);
  EXPECT_STREQ(p.file->files->rgbpath, "/r");
}

TEST(CfgRead, ClocksAboveTheLimitFail) {
  std::string clocks = " Clocks";
  for (int i = 0; i < 129; ++i) clocks += " 25";
  Parsed p = ParseText("Section \"Device\"\n Identifier \"d\"\n Driver \"v\"\n" + clocks +
                       "\nEndSection\n");
  EXPECT_EQ(p.file, nullptr);
  EXPECT_EQ(p.err,
            "Parse error on line 4 of section Device in file FILE\n\t\"25\" is not a valid keyword "
            "in this section.\n");
}

TEST(CfgOptions, ListOperations) {
  const char* pairs[] = {"a", "1", "b", "2", nullptr};
  XConfOption* list = xf86optionListCreate(pairs, -1, 1);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->used, 1);
  list = xf86addNewOption(list, strdup("A"), strdup("3"));
  EXPECT_STREQ(xf86findOptionValue(list, "a"), "3");
  EXPECT_EQ(list->used, 0);
  const char* tail_pairs[] = {"b", "20", "c", "30"};
  XConfOption* merged = xf86optionListMerge(list, xf86optionListCreate(tail_pairs, 4, 0));
  EXPECT_STREQ(merged->name, "A");
  EXPECT_STREQ(merged->next->value, "20");
  EXPECT_STREQ(merged->next->next->name, "c");
  XConfOption* dup = xf86optionListDup(merged);
  EXPECT_STREQ(xf86findOptionValue(dup, "c"), "30");
  EXPECT_EQ(xf86nextOption(nullptr), nullptr);
  xf86optionListFree(dup);
  xf86optionListFree(merged);
  const char* odd[] = {"a"};
  testing::internal::CaptureStderr();
  EXPECT_EQ(xf86optionListCreate(odd, 1, 0), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "xf86optionListCreate: count must be an even number.\n");
  char* text = xf86uLongToString(0);
  EXPECT_STREQ(text, "0");
  free(text);
}

}  // namespace
