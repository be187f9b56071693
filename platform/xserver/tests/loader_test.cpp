// The loader: the version record check before set-up, sub-modules a test
// withholds, symbol lists, extensions and offered symbols.
#include <string>

#include <gtest/gtest.h>

#include "platform/xserver/sandbox.h"
#include "platform/xserver/server.h"

namespace {

int g_setups = 0;
pointer CountingSetup(pointer module, pointer, int*, int*) {
  ++g_setups;
  return module;
}
pointer RefusingSetup(pointer, pointer, int* errmaj, int* errmin) {
  *errmaj = LDR_ONCEONLY;
  *errmin = 3;
  return nullptr;
}

XF86ModuleVersionInfo GoodVersion() {
  return {"fixture", "Fixture Maker", MODINFOSTRING1, MODINFOSTRING2, xstub::kServerVersion,
          1, 0, 0, ABI_CLASS_VIDEODRV, 0x00010001, MOD_CLASS_VIDEODRV, {0, 0, 0, 0}};
}

struct VersionCase {
  const char* name;
  void (*spoil)(XF86ModuleVersionInfo&);
  bool accepted;
};

void PrintTo(const VersionCase& c, std::ostream* out) { *out << c.name; }

class XserverLoaderVersion : public testing::TestWithParam<VersionCase> {};

TEST_P(XserverLoaderVersion, SetUpRunsOnlyForAnAcceptableRecord) {
  const VersionCase& c = GetParam();
  xstub::Sandbox box;
  xstub::XServer server;
  XF86ModuleVersionInfo version = GoodVersion();
  c.spoil(version);
  XF86ModuleData data{&version, CountingSetup, nullptr};
  g_setups = 0;
  xstub::XServer::LoadResult r = server.LoadModuleData("fixture", &data);
  EXPECT_EQ(r.ok, c.accepted) << r.error;
  EXPECT_EQ(g_setups, c.accepted ? 1 : 0);
  if (!c.accepted) {
    EXPECT_EQ(r.errmaj, LDR_MISMATCH);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Records, XserverLoaderVersion,
    testing::Values(
        VersionCase{"Good", [](XF86ModuleVersionInfo&) {}, true},
        VersionCase{"OlderMinor", [](XF86ModuleVersionInfo& v) { v.abiversion = 0x00010000; },
                    true},
        VersionCase{"FirstMagic", [](XF86ModuleVersionInfo& v) { v._modinfo1_ ^= 1; }, false},
        VersionCase{"SecondMagic", [](XF86ModuleVersionInfo& v) { v._modinfo2_ = 0; }, false},
        VersionCase{"AbiClass", [](XF86ModuleVersionInfo& v) { v.abiclass = "X.Org XInput driver"; },
                    false},
        VersionCase{"NoAbiClass", [](XF86ModuleVersionInfo& v) { v.abiclass = nullptr; }, false},
        VersionCase{"AbiMajor", [](XF86ModuleVersionInfo& v) { v.abiversion = 0x00020000; },
                    false},
        VersionCase{"NewerMinor", [](XF86ModuleVersionInfo& v) { v.abiversion = 0x00010002; },
                    false}),
    [](const testing::TestParamInfo<VersionCase>& info) { return info.param.name; });

TEST(XserverLoader, ARefusedSetUpReportsItsErrorAndLoadsNothing) {
  xstub::Sandbox box;
  xstub::XServer server;
  XF86ModuleVersionInfo version = GoodVersion();
  XF86ModuleData data{&version, RefusingSetup, nullptr};
  xstub::XServer::LoadResult r = server.LoadModuleData("fixture", &data);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.errmaj, LDR_ONCEONLY);
  EXPECT_EQ(r.errmin, 3);
}

TEST(XserverLoader, AMissingFileFailsWithTheLoadersWords) {
  xstub::Sandbox box;
  xstub::XServer server;
  xstub::XServer::LoadResult r = server.LoadModule("/nonexistent/orv_drv.so");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.errmaj, LDR_NOLOAD);
  EXPECT_FALSE(r.error.empty());
}

TEST(XserverLoader, WithheldAndUnknownSubModulesAnswerNull) {
  xstub::Sandbox box;
  xstub::XServer server;
  server.WithholdSubModule("int10");
  ScrnInfoPtr screen = server.NewScrnInfo();
  EXPECT_NE(xf86LoadSubModule(screen, "vgahw"), nullptr);
  EXPECT_NE(xf86LoadSubModule(screen, "fb"), xf86LoadSubModule(screen, "vgahw"));
  EXPECT_EQ(xf86LoadSubModule(screen, "int10"), nullptr);
  EXPECT_EQ(xf86LoadSubModule(screen, "nosuchmodule"), nullptr);
  EXPECT_TRUE(server.SubModuleLoaded("vgahw"));
  EXPECT_FALSE(server.SubModuleLoaded("int10"));
  ASSERT_EQ(server.SubModuleLoads().size(), 5u);
  EXPECT_EQ(server.SubModuleLoads()[3].name, "int10");
  EXPECT_EQ(server.SubModuleLoads()[3].screen, screen->scrnIndex);
  EXPECT_TRUE(box.Logged("Module int10 does not exist", X_ERROR));
}

TEST(XserverLoader, SymbolListsAreRecordedInOrder) {
  xstub::Sandbox box;
  xstub::XServer server;
  const char* first[] = {"vgaHWSave", "vgaHWRestore", nullptr};
  const char* empty[] = {nullptr};
  const char* second[] = {"fbScreenInit", nullptr};
  LoaderRefSymLists(first, empty, second, nullptr);
  xf86LoaderReqSymLists(second, nullptr);
  xf86LoaderReqSymbols("xf86InitInt10", "xf86FreeInt10", nullptr);
  EXPECT_EQ(server.ReferencedSymbols(),
            (std::vector<std::string>{"vgaHWSave", "vgaHWRestore", "fbScreenInit"}));
  EXPECT_EQ(server.RequiredSymbols(),
            (std::vector<std::string>{"fbScreenInit", "xf86InitInt10", "xf86FreeInt10"}));
}

TEST(XserverLoader, OnlyOfferedSymbolsAreFound) {
  xstub::Sandbox box;
  xstub::XServer server;
  EXPECT_FALSE(xf86LoaderCheckSymbol("ORVCFGRegisterBoard"));
  int marker = 0;
  server.OfferSymbol("ORVCFGRegisterBoard", &marker);
  EXPECT_TRUE(xf86LoaderCheckSymbol("ORVCFGRegisterBoard"));
  EXPECT_EQ(LoaderSymbol("ORVCFGRegisterBoard"), &marker);
  server.OfferSymbol("ORVCFGRegisterBoard", nullptr);
  EXPECT_EQ(LoaderSymbol("ORVCFGRegisterBoard"), nullptr);
}

void NoInit() {}

TEST(XserverLoader, ExtensionsAndDriversAreKept) {
  xstub::Sandbox box;
  xstub::XServer server;
  ExtensionModule extension{NoInit, "ORVGamma", nullptr, nullptr, nullptr};
  LoadExtension(&extension, FALSE);
  ExtensionModule unnamed{NoInit, nullptr, nullptr, nullptr, nullptr};
  LoadExtension(&unnamed, FALSE);
  ASSERT_EQ(server.Extensions().size(), 1u);
  EXPECT_STREQ(server.Extensions()[0].name, "ORVGamma");
  DriverRec driver{4000, "fixture", nullptr, nullptr, nullptr, nullptr, 0};
  int module = 0;
  xf86AddDriver(&driver, &module, 0);
  ASSERT_EQ(server.Drivers().size(), 1u);
  EXPECT_EQ(driver.module, &module);
}

}  // namespace
