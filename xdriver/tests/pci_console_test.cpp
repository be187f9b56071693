// The PCI access callbacks, the board's identity and name, and the
// console's video mode through the video BIOS.
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/lib/carddb.h"
#include "xdriver/orv_pci.h"
#include "xdriver/tests/frontend_fixture.h"

namespace {

using fetest::FrontEnd;

uint16_t Command(unsigned device) { return pciReadWord(pciTag(1, static_cast<int>(device), 0), 4); }

TEST_F(FrontEnd, TheFirstEnableOfEachKindWritesTheCommandWordOncePerBoard) {
  AddBoard(0x5D63, 4);
  AddBoard(0x5D63, 5);
  std::string text = Config(1, "", 16, "\"800x600\"", 4);
  // A second board with its own layout screen.
  text.replace(text.find("  Screen 0 \"S0\"\n"), 0, "");
  text += "Section \"Device\"\n  Identifier \"E\"\n  Driver \"orv\"\n  BusID \"PCI:1:5:0\"\nEndSection\n"
          "Section \"Screen\"\n  Identifier \"T\"\n  Device \"E\"\n  Monitor \"M\"\n  DefaultDepth 16\n"
          "EndSection\n";
  text.replace(text.find("EndSection\n"), 0, "  Screen 1 \"T\"\n");
  ASSERT_EQ(PreInit(text), 2);
  for (unsigned device : {4u, 5u}) {
    pciWriteWord(pciTag(1, static_cast<int>(device), 0), 4, 0);  // decoding off, to see writes
  }
  const int first = xf86Screens[0]->entityList[0];
  const int second = xf86Screens[1]->entityList[0];
  ASSERT_NE(first, second);
  // The command word read at PreInit (I/O and memory decoding) with the
  // memory and bus-master bits: the first enable of each board writes it.
  ASSERT_TRUE(server.RunAccessEnable(first, xstub::AccessKind::kMem));
  EXPECT_EQ(Command(4) & 0x7, 0x7);
  ASSERT_TRUE(server.RunAccessEnable(second, xstub::AccessKind::kMem));
  EXPECT_EQ(Command(5) & 0x7, 0x7);  // the second board is switched on too
  pciWriteWord(pciTag(1, 5, 0), 4, 0);
  ASSERT_TRUE(server.RunAccessEnable(second, xstub::AccessKind::kMem));
  EXPECT_EQ(Command(5), 0);  // a later enable of that kind writes nothing
  ASSERT_TRUE(server.RunAccessEnable(second, xstub::AccessKind::kIo));
  EXPECT_EQ(Command(5) & 0x7, 0x7);  // the first of another kind does
  // The screen's own access record enables I/O and memory.
  ASSERT_NE(xf86Screens[0]->access.AccessEnable, nullptr);
  EXPECT_EQ(xf86Screens[0]->access.AccessDisable != nullptr, true);
}

TEST_F(FrontEnd, AnUnknownBoardLogsItsIdsAndTheUnknownText) {
  AddBoard(0x5D63, 4, 64, 0x0abc);
  ASSERT_EQ(PreInit(Config(1, "")), 1);
  EXPECT_TRUE(box.Logged("Device Id [5d63] Subsys Id [0abc]\n", X_INFO));
  EXPECT_TRUE(box.Logged("Device Name [Device Name [Unknown Orvane Device]\n]\n", X_INFO));
}

TEST_F(FrontEnd, BoardNamesAreCutToTheBufferAndAlwaysTerminated) {
  AddBoard(0x5D63, 4, 64, 0x0302);
  ASSERT_EQ(PreInit(Config(1, "")), 1);
  char name[128];
  EXPECT_EQ(ORVGetDeviceNameStr(xf86Screens[0], name, sizeof(name)), 1);
  EXPECT_STREQ(name, "Kestrion KB-600 Quad Display");
  char small[9];
  memset(small, 'x', sizeof(small));
  EXPECT_EQ(ORVGetDeviceNameStr(xf86Screens[0], small, sizeof(small)), 1);
  EXPECT_STREQ(small, "Kestrion");
}

TEST(OrvBoardNames, TheTableIsTheToolsBoardDatabase) {
  const char* root = getenv("ORV_SOURCE_DIR");
  ASSERT_NE(root, nullptr);
  FILE* file = fopen((std::string(root) + "/data/orvcards").c_str(), "r");
  ASSERT_NE(file, nullptr);
  PrivateList* list = nullptr;
  ASSERT_EQ(CardReadDatabase(file, &list).error, CardDbError::kNone);
  fclose(file);
  size_t rows = 0;
  while (g_aOrvBoardNames[rows].deviceId != 0) ++rows;
  size_t records = 0;
  for (PrivateList* p = list; p != nullptr; p = p->next) {
    const auto* card = static_cast<const CardAttribute*>(p->Payload());
    ++records;
    bool found = false;
    for (size_t i = 0; i < rows; ++i) {
      if (g_aOrvBoardNames[i].subsystemId == static_cast<int32_t>(card->boardId)) {
        EXPECT_STREQ(g_aOrvBoardNames[i].name, card->name);
        found = true;
      }
    }
    EXPECT_TRUE(found) << card->name;
  }
  EXPECT_EQ(records, rows);
  PrivateDeleteList(list);
}

TEST_F(FrontEnd, AVesaConsoleIsSwitchedToTextAndRestoredOnExit) {
  AddBoard();
  xstub::VbeModel vbe;
  vbe.current_mode = 0x4103;
  server.SetVbe({1, 4, 0}, &vbe);
  ASSERT_EQ(PreInit(Config(1, "")), 1);
  EXPECT_TRUE(box.Logged("Initializing int10\n", X_INFO));
  EXPECT_TRUE(box.Logged("Fixing bios mode from 16643\n", X_INFO));
  ASSERT_GE(vbe.calls.size(), 2u);
  EXPECT_EQ(vbe.calls[0].ax, 0x4F03);
  EXPECT_EQ(vbe.calls[1].ax, 0x4F02);
  EXPECT_EQ(vbe.calls[1].bx, 3);
  EXPECT_EQ(Rec(0)->consoleMode, 0x4103u);
  EXPECT_TRUE(ORVSetConsoleMode(xf86Screens[0]));
  EXPECT_EQ(vbe.current_mode, 0x4103);
  EXPECT_EQ(vbe.calls.back().bx, 0x4103);
}

TEST_F(FrontEnd, AFailedConsoleQueryFallsBackToTheLibrarysVgaState) {
  AddBoard();
  xstub::VbeModel vbe;
  vbe.fail = true;
  server.SetVbe({1, 4, 0}, &vbe);
  ASSERT_EQ(PreInit(Config(1, "")), 1);
  EXPECT_TRUE(InOrder({"Initializing int10\n", "Unable to query console mode!\n",
                       "Disabling int10!\n", "Switching to backup query mode!\n"}));
  EXPECT_EQ(Rec(0)->backupQuery, 1);
  EXPECT_EQ(Rec(0)->pInt10, nullptr);
  EXPECT_EQ(Rec(0)->consoleMode, 0xFFFFu);
}

TEST_F(FrontEnd, MvgaLeavesTheConsoleAlone) {
  AddBoard();
  xstub::VbeModel vbe;
  vbe.current_mode = 0x103;
  server.SetVbe({1, 4, 0}, &vbe);
  ASSERT_EQ(PreInit(Config(1, "  Option \"MVGA\"\n")), 1);
  EXPECT_TRUE(vbe.calls.empty());
  EXPECT_EQ(Rec(0)->backupQuery, 1);
  EXPECT_EQ(Rec(0)->primaryVga, 1);
}

}  // namespace
