// The layout from a configuration file, Device sections matched to boards,
// entities with their instances, sharing and private slots, resources and
// access callbacks, and mappings of PCI memory.
#include <string>

#include <gtest/gtest.h>

#include "platform/board/simulation.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/server.h"

namespace {

constexpr int kVendor = 0x1E7A;
SymTabRec kChips[] = {{0x5D63, "fixture chip"}, {-1, nullptr}};
PciChipsets kPciChips[] = {{0x5D63, 0x5D63, nullptr}, {-1, -1, nullptr}};

class XserverConfig : public testing::Test {
 protected:
  orvsim::Board& AddBoard(int device) {
    orvsim::BoardConfig config;
    config.device_id = orvsim::kDeviceKestrionNext3;
    config.location = orvsim::PciLocation{1, static_cast<unsigned>(device), 0};
    return sim.AddBoard(config);
  }

  // Matches the "fixture" Device sections and claims each instance with a
  // screen, as a driver's probe does.
  int MatchAndClaim(std::vector<ScrnInfoPtr>* screens = nullptr) {
    GDevPtr* sections = nullptr;
    const int n = xf86MatchDevice("fixture", &sections);
    int* entities = nullptr;
    const int found = xf86MatchPciInstances("FIXTURE", kVendor, kChips, kPciChips, sections, n,
                                            &driver, &entities);
    for (int i = 0; i < found; ++i) {
      ScrnInfoPtr screen =
          xf86ConfigPciEntity(nullptr, 0, entities[i], kPciChips, nullptr, nullptr, nullptr,
                              nullptr, nullptr);
      xf86SetEntitySharable(entities[i]);
      xf86SetEntityInstanceForScreen(screen, entities[i], i);
      if (screens != nullptr) screens->push_back(screen);
    }
    xfree(sections);
    xfree(entities);
    return found;
  }

  orvsim::Simulation sim;
  xstub::Sandbox box;
  xstub::XServer server;
  DriverRec driver{1, "fixture", nullptr, nullptr, nullptr, nullptr, 0};
};

constexpr char kTwoHeads[] = R"(
Section "ServerLayout"
  Identifier "Layout"
  Screen 0 "Left"
  Screen 1 "Right" RightOf "Left"
EndSection
Section "Device"
  Identifier "Head1"
  Driver "fixture"
  BusID "PCI:1:4:0"
  Screen 1
  Option "HWCursor" "off"
EndSection
Section "Device"
  Identifier "Head0"
  Driver "fixture"
  BusID "PCI:1:4:0"
  Screen 0
EndSection
Section "Monitor"
  Identifier "Panel"
  HorizSync 30-80
  VertRefresh 50-75
EndSection
Section "Screen"
  Identifier "Left"
  Device "Head0"
  Monitor "Panel"
  DefaultDepth 16
  SubSection "Display"
    Depth 16
    Modes "1024x768" "800x600"
  EndSubSection
EndSection
Section "Screen"
  Identifier "Right"
  Device "Head1"
EndSection
)";

TEST_F(XserverConfig, SectionsSharingABusIdAreHeadsOfOneEntityByScreenNumber) {
  AddBoard(4);
  ASSERT_TRUE(server.ReadConfig(kTwoHeads));
  std::vector<ScrnInfoPtr> screens;
  ASSERT_EQ(MatchAndClaim(&screens), 2);
  ASSERT_EQ(server.NumEntities(), 1);
  EXPECT_TRUE(server.EntityClaimed(0));
  EXPECT_EQ(xf86GetNumEntityInstances(0), 2);
  EXPECT_STREQ(xf86GetDevFromEntity(0, 0)->identifier, "Head0");
  EXPECT_STREQ(xf86GetDevFromEntity(0, 1)->identifier, "Head1");
  EXPECT_TRUE(xf86IsEntityShared(0));
  EXPECT_EQ(screens[1]->entityInstanceList[0], 1);

  // Each screen gets the Screen section of its Device section.
  server.Probe();
  ASSERT_NE(screens[0]->confScreen, nullptr);
  EXPECT_STREQ(screens[0]->confScreen->id, "Left");
  EXPECT_STREQ(screens[0]->monitor->id, "Panel");
  EXPECT_STREQ(screens[1]->confScreen->id, "Right");
  EXPECT_STREQ(screens[1]->monitor->id, "<default monitor>");
  EXPECT_EQ(screens[0]->monitor->nHsync, 1);
  EXPECT_FLOAT_EQ(screens[0]->monitor->hsync[0].hi, 80.0f);
}

TEST_F(XserverConfig, ASectionWithoutBusIdClaimsOnlyTheOnlyBoard) {
  constexpr char kNoBusId[] = R"(
Section "Device"
  Identifier "Card"
  Driver "fixture"
EndSection
Section "Screen"
  Identifier "S"
  Device "Card"
EndSection
)";
  AddBoard(4);
  ASSERT_TRUE(server.ReadConfig(kNoBusId));
  EXPECT_EQ(MatchAndClaim(), 1);
  EXPECT_FALSE(xf86IsEntityShared(0));
}

TEST_F(XserverConfig, ASectionWithoutBusIdClaimsNothingAmongTwoBoards) {
  constexpr char kNoBusId[] = R"(
Section "Device"
  Identifier "Card"
  Driver "fixture"
EndSection
Section "Screen"
  Identifier "S"
  Device "Card"
EndSection
)";
  AddBoard(4);
  AddBoard(5);
  ASSERT_TRUE(server.ReadConfig(kNoBusId));
  EXPECT_EQ(MatchAndClaim(), 0);
  EXPECT_TRUE(box.Logged("more than one board is present", X_WARNING));
}

TEST_F(XserverConfig, TwoSectionsForOneHeadKeepTheFirst) {
  constexpr char kDuplicate[] = R"(
Section "ServerLayout"
  Identifier "L"
  Screen "A"
  Screen "B"
EndSection
Section "Device"
  Identifier "One"
  Driver "fixture"
  BusID "1:4:0"
EndSection
Section "Device"
  Identifier "Two"
  Driver "fixture"
  BusID "PCI:1:4:0"
EndSection
Section "Screen"
  Identifier "A"
  Device "One"
EndSection
Section "Screen"
  Identifier "B"
  Device "Two"
EndSection
)";
  AddBoard(4);
  ASSERT_TRUE(server.ReadConfig(kDuplicate));
  EXPECT_EQ(MatchAndClaim(), 1);
  EXPECT_STREQ(xf86GetDevFromEntity(0, 0)->identifier, "One");
  EXPECT_TRUE(box.Logged("More than one Device section for Screen 0", X_ERROR));
}

TEST_F(XserverConfig, OnlyTheActiveLayoutsDevicesMatch) {
  constexpr char kNoLayout[] = R"(
Section "Device"
  Identifier "Used"
  Driver "fixture"
EndSection
Section "Device"
  Identifier "Unused"
  Driver "fixture"
EndSection
Section "Screen"
  Identifier "First"
  Device "Used"
EndSection
Section "Screen"
  Identifier "Second"
  Device "Unused"
EndSection
)";
  ASSERT_TRUE(server.ReadConfig(kNoLayout));
  GDevPtr* sections = nullptr;
  ASSERT_EQ(xf86MatchDevice("FIXTURE", &sections), 1);
  EXPECT_STREQ(sections[0]->identifier, "Used");
  EXPECT_EQ(sections[1], nullptr);
  xfree(sections);
  EXPECT_EQ(xf86MatchDevice("other", &sections), 0);
  EXPECT_EQ(sections, nullptr);
}

TEST_F(XserverConfig, AFileTheParserRefusesIsNotTaken) {
  EXPECT_FALSE(server.ReadConfig("Section \"Device\"\n  Identifier\nEndSection\n"));
  EXPECT_FALSE(server.ReadConfig("Section \"Nonsense\"\nEndSection\n"));
}

TEST_F(XserverConfig, ConfigFileIsReadFromTheSandbox) {
  box.MakeDirectories("/etc/X11");
  box.WriteFile("/etc/X11/xorg.conf", kTwoHeads);
  EXPECT_TRUE(server.ReadConfigFile("/etc/X11/xorg.conf"));
  EXPECT_FALSE(server.ReadConfigFile("/etc/X11/missing.conf"));
}

TEST_F(XserverConfig, EntityPrivatesInfoAndPrimary) {
  orvsim::Board& board = AddBoard(4);
  ASSERT_TRUE(server.ReadConfig(kTwoHeads));
  ASSERT_EQ(MatchAndClaim(), 2);
  const int slot = xf86AllocateEntityPrivateIndex();
  ASSERT_GE(slot, 0);
  DevUnion* priv = xf86GetEntityPrivate(0, slot);
  ASSERT_NE(priv, nullptr);
  EXPECT_EQ(priv->ptr, nullptr);
  EXPECT_EQ(xf86GetEntityPrivate(1, slot), nullptr);
  EXPECT_EQ(xf86GetEntityPrivate(0, xstub::kPrivateSlots), nullptr);

  EntityInfoPtr info = xf86GetEntityInfo(0);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->location.type, BUS_PCI);
  EXPECT_EQ(info->location.id.pci.bus, 1);
  EXPECT_EQ(info->location.id.pci.device, 4);
  EXPECT_EQ(info->chipset, 0x5D63);
  xfree(info);

  pciVideoPtr pci = xf86GetPciInfoForEntity(0);
  ASSERT_NE(pci, nullptr);
  EXPECT_EQ(pci->chipType, 0x5D63);
  const auto fb = board.Bar(orvsim::ResourceKind::kMemory);
  ASSERT_TRUE(fb.has_value());
  EXPECT_EQ(pci->memBase[0], fb->base);
  EXPECT_EQ(1ull << pci->size[0], fb->size);
  EXPECT_TRUE(xf86IsPrimaryPci(pci));
  server.SetPrimaryPci({0, 0, 0});
  EXPECT_FALSE(xf86IsPrimaryPci(pci));
}

TEST_F(XserverConfig, SixtyFourBitFrameBufferIsOneRangeAndTheRegistersFollow) {
  orvsim::BoardConfig config;
  config.device_id = orvsim::kDeviceKestrionNext3;
  config.frame_buffer_64bit = true;
  config.frame_buffer_base = 0x123400000000ull;
  orvsim::Board& board = sim.AddBoard(config);
  pciVideoPtr* list = xf86GetPciVideoInfo();
  ASSERT_NE(list, nullptr);
  ASSERT_NE(list[0], nullptr);
  EXPECT_EQ(list[1], nullptr);
  EXPECT_EQ(list[0]->memBase[0], 0x123400000000ul);
  EXPECT_EQ(list[0]->memBase[1], 0ul);
  EXPECT_EQ(list[0]->memBase[2], board.Bar(orvsim::ResourceKind::kRegisters)->base);
}

TEST_F(XserverConfig, ResourcesAndOperatingStatesAreRecordedAndAConflictCanBeForced) {
  AddBoard(4);
  AddBoard(5);
  constexpr char kTwoBoards[] = R"(
Section "ServerLayout"
  Identifier "L"
  Screen "A"
  Screen "B"
EndSection
Section "Device"
  Identifier "One"
  Driver "fixture"
  BusID "PCI:1:4:0"
EndSection
Section "Device"
  Identifier "Two"
  Driver "fixture"
  BusID "PCI:1:5:0"
EndSection
Section "Screen"
  Identifier "A"
  Device "One"
EndSection
Section "Screen"
  Identifier "B"
  Device "Two"
EndSection
)";
  ASSERT_TRUE(server.ReadConfig(kTwoBoards));
  server.ForceResourceConflict({1, 5, 0});
  ASSERT_EQ(MatchAndClaim(), 2);
  EXPECT_EQ(xf86RegisterResources(0, nullptr, ResExclusive), nullptr);
  EXPECT_TRUE(server.ResourcesRegistered(0));
  EXPECT_NE(xf86RegisterResources(1, nullptr, ResExclusive), nullptr);
  EXPECT_FALSE(server.ResourcesRegistered(1));

  ASSERT_TRUE(xf86SetOperatingState(resVgaIo, 0, ResUnusedOpr));
  ASSERT_TRUE(xf86SetOperatingState(resVgaMem, 0, ResDisableOpr));
  const auto& states = server.OperatingStates(0);
  ASSERT_EQ(states.size(), 2u);
  EXPECT_EQ(states[0].mask, ResUnusedOpr);
  ASSERT_EQ(states[0].ranges.size(), 2u);
  EXPECT_EQ(states[0].ranges[1].rBegin, 0x3C0ul);
  EXPECT_EQ(states[0].ranges[1].rEnd, 0x3DFul);
  EXPECT_EQ(states[1].ranges.size(), 3u);
}

int g_enabled = 0;
void Enable(void* arg) { g_enabled += *static_cast<int*>(arg); }

TEST_F(XserverConfig, AccessCallbacksRunByKind) {
  AddBoard(4);
  ASSERT_TRUE(server.ReadConfig(kTwoHeads));
  ASSERT_EQ(MatchAndClaim(), 2);
  EXPECT_FALSE(server.RunAccessEnable(0, xstub::AccessKind::kMem));
  int one = 1, ten = 10;
  xf86AccessRec mem{nullptr, Enable, &one}, io{nullptr, Enable, &ten}, both{nullptr, nullptr, &one};
  xf86SetAccessFuncRec funcs{&mem, &io, &both};
  EntityInfoPtr info = xf86GetEntityInfo(0);
  xf86SetAccessFuncs(info, &funcs, nullptr);
  xfree(info);
  g_enabled = 0;
  EXPECT_TRUE(server.RunAccessEnable(0, xstub::AccessKind::kMem));
  EXPECT_TRUE(server.RunAccessEnable(0, xstub::AccessKind::kIo));
  EXPECT_FALSE(server.RunAccessEnable(0, xstub::AccessKind::kIoMem));
  EXPECT_EQ(g_enabled, 11);
}

TEST_F(XserverConfig, PciMemoryMapsOntoTheBoard) {
  orvsim::Board& board = AddBoard(4);
  const auto fb = board.Bar(orvsim::ResourceKind::kMemory);
  const auto regs = board.Bar(orvsim::ResourceKind::kRegisters);
  ASSERT_TRUE(fb && regs);
  // An offset inside a page comes back as the same offset.
  auto* frame = static_cast<uint8_t*>(
      xf86MapPciMem(0, VIDMEM_FRAMEBUFFER, pciTag(1, 4, 0), fb->base + 0x1010, 0x100));
  ASSERT_NE(frame, nullptr);
  frame[0] = 0x5A;
  EXPECT_EQ(board.Memory()[0x1010], 0x5A);
  auto* mmio = static_cast<uint8_t*>(
      xf86MapPciMem(0, VIDMEM_MMIO, pciTag(1, 4, 0), regs->base, 8192));
  ASSERT_NE(mmio, nullptr);
  xf86WriteMmio32(mmio, 0x1324, 0xFFFFFFFF);
  ASSERT_FALSE(board.LoggedWrites().empty());
  EXPECT_EQ(board.LoggedWrites().back().offset, 0x1324u);
  EXPECT_EQ(server.VideoMappingCount(), 2u);
  xf86UnMapVidMem(0, frame, 0x100);
  EXPECT_EQ(server.VideoMappingCount(), 1u);
  xf86UnMapVidMem(0, frame, 0x100);
  EXPECT_TRUE(box.Logged("was not mapped", X_WARNING));
}

}  // namespace
