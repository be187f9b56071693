// The module's record and set-up, the option table, and probing.
#include <string>

#include <gtest/gtest.h>

#include "tools/lib/elfloader.h"
#include "xdriver/orv_options.h"
#include "xdriver/tests/frontend_fixture.h"

namespace {

using fetest::FrontEnd;

TEST(OrvModule, VersionRecordAsTheLoaderChecksIt) {
  const XF86ModuleVersionInfo* v = orvModuleData.vers;
  ASSERT_NE(v, nullptr);
  EXPECT_STREQ(v->modname, "orv");
  EXPECT_EQ(v->_modinfo1_, 0xEF23FDC5u);
  EXPECT_EQ(v->_modinfo2_, 0x10DC023Au);
  EXPECT_EQ(v->xf86version, 70200000u);
  EXPECT_EQ(v->majorversion, 1);
  EXPECT_EQ(v->minorversion, 4);
  EXPECT_EQ(v->patchlevel, 7);
  EXPECT_STREQ(v->abiclass, "X.Org Video Driver");
  EXPECT_EQ(v->abiversion, 0x00010001u);
  EXPECT_STREQ(v->moduleclass, "X.Org Video Driver");
  EXPECT_EQ(orvModuleData.setup, ORVSetup);
  EXPECT_EQ(orvModuleData.teardown, nullptr);
  EXPECT_STREQ(orvExtensionModules[0].name, "ORVGamma");
  EXPECT_EQ(orvExtensionModules[0].initFunc, ORVGammaExtensionInit);
  EXPECT_EQ(orvExtensionModules[1].name, nullptr);
}

TEST(OrvModule, SetUpRegistersOnceThenAnswersOnceOnly) {
  xstub::Sandbox box;
  xstub::XServer server;
  int errmaj = 0, errmin = 0;
  // The first set-up of the process may have run in an earlier test.
  if (ORVSetup(reinterpret_cast<pointer>(5), nullptr, &errmaj, &errmin) != nullptr) {
    ASSERT_EQ(server.Drivers().size(), 1u);
    EXPECT_EQ(server.Drivers()[0], &ORV);
    EXPECT_EQ(ORV.module, reinterpret_cast<pointer>(5));
    ASSERT_EQ(server.Extensions().size(), 1u);
    EXPECT_STREQ(server.Extensions()[0].name, "ORVGamma");
    const auto& refs = server.ReferencedSymbols();
    EXPECT_EQ(refs.front(), "vgaHWGetHWRec");
    EXPECT_EQ(refs.back(), "xf86ExecX86int10");
    EXPECT_NE(std::find(refs.begin(), refs.end(), "XAAFillSolidRects"), refs.end());
  }
  const size_t drivers = server.Drivers().size();
  errmaj = 0;
  EXPECT_EQ(ORVSetup(nullptr, nullptr, &errmaj, &errmin), nullptr);
  EXPECT_EQ(errmaj, LDR_ONCEONLY);
  EXPECT_EQ(server.Drivers().size(), drivers);
  EXPECT_EQ(ORVSetup(nullptr, nullptr, nullptr, nullptr), nullptr);  // no errmaj given
}

TEST(OrvOptions, FortySevenRowsAsTabledAndNoToken19) {
  struct Row {
    int token;
    const char* name;
    OptionValueType type;
  };
  const Row kRows[] = {
      {0, "SWcursor", OPTV_BOOLEAN},      {1, "HWcursor", OPTV_BOOLEAN},
      {2, "PciRetry", OPTV_BOOLEAN},      {3, "noAccel", OPTV_BOOLEAN},
      {4, "ShadowFB", OPTV_BOOLEAN},      {5, "Rotate", OPTV_STRING},
      {25, "TvOut", OPTV_BOOLEAN},        {26, "TvStandard", OPTV_STRING},
      {27, "TvScaling", OPTV_STRING},     {28, "SelectedRegion", OPTV_STRING},
      {29, "OutputRegion", OPTV_STRING},  {30, "AntiFlickerLevel", OPTV_INTEGER},
      {31, "Brightness", OPTV_INTEGER},   {32, "ColorEnable", OPTV_INTEGER},
      {33, "Contrast", OPTV_INTEGER},     {34, "Gamma", OPTV_INTEGER},
      {35, "Hue", OPTV_INTEGER},          {36, "Saturation", OPTV_INTEGER},
      {6, "Crtc2Half", OPTV_BOOLEAN},     {8, "Busmastering", OPTV_BOOLEAN},
      {9, "DmaEmulated", OPTV_BOOLEAN},   {7, "Crtc2Ram", OPTV_INTEGER},
      {10, "MergedFB", OPTV_BOOLEAN},     {11, "Monitor2HSync", OPTV_ANYSTR},
      {12, "Monitor2VRefresh", OPTV_ANYSTR}, {13, "Monitor2Position", OPTV_ANYSTR},
      {14, "MetaModes", OPTV_ANYSTR},     {15, "DigitalScreen", OPTV_BOOLEAN},
      {16, "DigitalScreen1", OPTV_BOOLEAN}, {17, "DigitalScreen2", OPTV_BOOLEAN},
      {21, "Spanthree", OPTV_BOOLEAN},    {22, "Spanfour", OPTV_BOOLEAN},
      {23, "S3I", OPTV_BOOLEAN},          {24, "S4I", OPTV_BOOLEAN},
      {18, "DVIDL", OPTV_BOOLEAN},        {20, "NoLogo", OPTV_BOOLEAN},
      {37, "OffScreen", OPTV_INTEGER},    {42, "PackedPixel", OPTV_BOOLEAN},
      {43, "PackedPixelType", OPTV_INTEGER}, {38, "KVD", OPTV_BOOLEAN},
      {39, "KVDTV", OPTV_BOOLEAN},        {41, "XFB", OPTV_BOOLEAN},
      {40, "GNLK", OPTV_BOOLEAN},         {44, "MVGA", OPTV_BOOLEAN},
      {45, "OCC", OPTV_BOOLEAN},          {46, "PseudoXinerama", OPTV_BOOLEAN},
  };
  static_assert(sizeof(kRows) / sizeof(kRows[0]) == 46);
  ASSERT_EQ(kOrvOptionRows, 47);
  const OptionInfoRec* table = ORVAvailableOptions(0, 0);
  ASSERT_EQ(table, ORVOptions);
  for (int i = 0; i < 46; ++i) {
    SCOPED_TRACE(kRows[i].name);
    EXPECT_EQ(table[i].token, kRows[i].token);
    EXPECT_STREQ(table[i].name, kRows[i].name);
    EXPECT_EQ(table[i].type, kRows[i].type);
    EXPECT_EQ(table[i].value.num, 0ul);
    EXPECT_FALSE(table[i].found);
  }
  EXPECT_EQ(table[46].token, -1);
  EXPECT_EQ(table[46].name, nullptr);
  EXPECT_EQ(table[46].type, OPTV_NONE);
  EXPECT_EQ(xf86TokenToOptinfo(table, 19), nullptr);
}

TEST_F(FrontEnd, IdentifyListsTheChipsets) {
  ORVIdentify(0);
  EXPECT_TRUE(box.Logged("ORV: Driver for Orvane chipsets: Kestrion KA-100, Kestrion KA-200, "
                         "Kestrion KB-400, Kestrion KB-500, Kestrion KB-600",
                         X_INFO));
}

TEST_F(FrontEnd, TwoSectionsOnOneBoardShareOneEntityAsInstancesZeroAndOne) {
  AddBoard();
  ASSERT_TRUE(server.ReadConfig(Config(2, "")));
  LoadDriver();
  ASSERT_TRUE(server.Probe());
  ASSERT_EQ(server.NumScreens(), 2);
  EXPECT_EQ(server.NumEntities(), 1);
  for (int i = 0; i < 2; ++i) {
    ScrnInfoPtr s = xf86Screens[i];
    EXPECT_EQ(s->entityList[0], 0);
    EXPECT_EQ(s->entityInstanceList[0], i);
    EXPECT_EQ(s->driverVersion, 4000);
    EXPECT_STREQ(s->driverName, "orv");
    EXPECT_STREQ(s->name, "ORV");
    EXPECT_EQ(s->PreInit, ORVPreInit);
    EXPECT_EQ(s->ValidMode, ORVValidMode);
    EXPECT_EQ(s->FreeScreen, ORVFreeScreen);
  }
  ORVEntityRec* entity = ORVEntityOf(0);
  ASSERT_NE(entity, nullptr);
  EXPECT_EQ(entity->instanceCount, 1);
  EXPECT_TRUE(xf86IsEntityShared(0));
}

TEST_F(FrontEnd, DetectOnlyClaimsNothingAndAnswersTrue) {
  AddBoard();
  ASSERT_TRUE(server.ReadConfig(Config(1, "")));
  LoadDriver();
  EXPECT_TRUE(server.Probe(PROBE_DETECT));
  EXPECT_EQ(server.NumScreens(), 0);
  EXPECT_FALSE(server.EntityClaimed(0));
}

TEST_F(FrontEnd, NoDeviceSectionGivesTheMessageNoBoardNothing) {
  AddBoard();
  ASSERT_TRUE(server.ReadConfig(
      "Section \"Device\"\n  Identifier \"V\"\n  Driver \"vesa\"\nEndSection\n"
      "Section \"Screen\"\n  Identifier \"S\"\n  Device \"V\"\nEndSection\n"));
  LoadDriver();
  EXPECT_FALSE(server.Probe());
  EXPECT_EQ(box.Messages().back().text, "No matching device section in the config file\n");
  EXPECT_EQ(box.Messages().back().type, X_ERROR);

  box.ClearMessages();
  ASSERT_TRUE(server.ReadConfig(Config(1, "", 16, "\"800x600\"", 9)));  // no board at 1:9:0
  EXPECT_FALSE(server.Probe());
  EXPECT_TRUE(box.Messages().empty());
}

}  // namespace
