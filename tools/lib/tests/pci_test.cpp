#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "tools/lib/File.h"
#include "tools/lib/Probe.h"
#include "tools/lib/carddb.h"
#include "tools/lib/pci.h"
#include "tools/lib/tests/probe_fixture.h"
#include "tests/support/test_ids.h"
#include "tools/testsupport/fixture_root.h"

namespace {

bool FileExistsOnHost(const char* path) { return std::filesystem::exists(path); }

struct Function {
  unsigned bus, device, function;
  uint16_t vendor, deviceId, classWord, subId;
};

class PciTest : public ProbeRootTest {
 protected:
  // Lists the functions in the kernel's order, with 17, 10 or 9 fields.
  void WriteBus(const std::vector<Function>& functions, int fields = 17) {
    std::string devices;
    for (const Function& f : functions) {
      char line[512];
      unsigned devfn = (f.device << 3) | f.function;
      unsigned long vd = (unsigned long)f.vendor << 16 | f.deviceId;
      int n = std::snprintf(line, sizeof line, "%02x%02x\t%08lx\t%x", f.bus, devfn, vd, 11u);
      int extra = fields - 3;
      for (int i = 0; i < extra; ++i)
        n += std::snprintf(line + n, sizeof line - size_t(n), "\t%16lx", 0xe0000000ul + unsigned(i));
      // Kernels that list all 17 fields add the driver's name after them.
      std::snprintf(line + n, sizeof line - size_t(n), "%s\n", fields == 17 ? "\tahci" : "");
      devices += line;
      char name[32];
      std::snprintf(name, sizeof name, "proc/bus/pci/%02x/%02x.%u", f.bus, f.device, f.function);
      tree_.Write(name, tools_test::PciConfigSpace(f.vendor, f.deviceId, f.classWord, kKestrionVendorId, f.subId));
    }
    tree_.Write("proc/bus/pci/devices", devices);
  }
  void UseDatabase(const std::string& text) {
    ProbeRootTest::UseDatabase(text);
    testing::internal::CaptureStdout();
    CardFillAttributes();
    testing::internal::GetCapturedStdout();
  }
};

const Function kHostBridge{0, 0, 0, kTestOtherVendorId, 0x1237, 0x0600, 0};
const Function kOtherVga{0, 2, 0, kTestOtherVendorId, 0x1111, 0x0300, 0};
const Function kBoardFirst{0x10, 0x1f, 1, 0x1E7A, 0x5D61, 0x0300, 0x0102};
const Function kBoardSecond{0x20, 0, 0, 0x1E7A, 0x0A41, 0x0300, 0x0080};
const Function kBoardAudio{0x10, 0x1f, 2, 0x1E7A, 0x5D61, 0x0403, 0x0102};

TEST_F(PciTest, ScanReadsEveryFunctionNewestFirst) {
  for (int fields : {17, 10, 9}) {
    WriteBus({kHostBridge, kBoardFirst}, fields);
    PciDeviceList* list = PciAlloc();
    PciScan(list);
    const PciDeviceRecord* rec = *list;
    ASSERT_NE(rec, nullptr) << fields;
    EXPECT_EQ(rec->bus, 0x10) << fields;
    EXPECT_EQ(rec->device, 0x1f);
    EXPECT_EQ(rec->function, 1);
    EXPECT_EQ(rec->vendorId, 0x1E7A);
    EXPECT_EQ(rec->vendorDevice, 0x1E7A5D61u);
    EXPECT_EQ(rec->classWord, 0x0300);
    EXPECT_EQ(rec->subsysVendorId, 0x1E7A);
    EXPECT_EQ(rec->subsysId, 0x0102);
    EXPECT_EQ(GetConfUINT16(rec, 2), 0x5D61);
    EXPECT_EQ(GetConfUINT16(rec, 63), 0) << "past the header";
    ASSERT_NE(rec->next, nullptr);
    EXPECT_EQ(rec->next->vendorId, kTestOtherVendorId);
    EXPECT_EQ(rec->next->next, nullptr);
    PciCleanup(list);
  }
}

TEST_F(PciTest, TwoBoardsTakeTheKernelsFirstAndWarn) {
  WriteBus({kHostBridge, kBoardFirst, kOtherVga, kBoardAudio, kBoardSecond});
  UseDatabase("Quad\n0102 orv yes 4 yes\nDual\n0080 orv no 2 yes\n");
  std::optional<CardAttribute> board;
  char busId[100] = "";
  EXPECT_EQ(ProbePciBusId(board, busId, sizeof busId, 0), 3);
  ASSERT_TRUE(board.has_value());
  EXPECT_STREQ(board->name, "Quad");
  EXPECT_STREQ(busId, "PCI:16:31:1");
}

TEST_F(PciTest, OneBoardAnswersZero) {
  WriteBus({kHostBridge, kOtherVga, kBoardSecond});
  UseDatabase("Dual\n0080 orv no 2 yes\n");
  std::optional<CardAttribute> board;
  char busId[100] = "";
  EXPECT_EQ(ProbePciBusId(board, busId, sizeof busId, 0), 0);
  ASSERT_TRUE(board.has_value());
  EXPECT_EQ(board->boardId, 0x80u);
  EXPECT_STREQ(busId, "PCI:32:0:0");
}

TEST_F(PciTest, GivenBusIdIsKeptUnlessForced) {
  WriteBus({kBoardSecond});
  UseDatabase("Dual\n0080 orv no 2 yes\n");
  std::optional<CardAttribute> board;
  char busId[100] = "PCI:1:0:0";
  ProbePciBusId(board, busId, sizeof busId, 0);
  EXPECT_STREQ(busId, "PCI:1:0:0");
  ProbePciBusId(board, busId, sizeof busId, 1);
  EXPECT_STREQ(busId, "PCI:32:0:0");
  char tiny[6] = "";
  ProbePciBusId(board, tiny, sizeof tiny, 1);
  EXPECT_STREQ(tiny, "PCI:3");
}

TEST_F(PciTest, NoBoardLeavesBoardUnset) {
  WriteBus({kHostBridge, kOtherVga, kBoardAudio});
  UseDatabase("Dual\n0080 orv no 2 yes\n");
  std::optional<CardAttribute> board;
  char busId[100] = "";
  EXPECT_EQ(ProbePciBusId(board, busId, sizeof busId, 1), 0);
  EXPECT_FALSE(board.has_value());
  EXPECT_STREQ(busId, "");
}

TEST_F(PciTest, UnknownSubsystemIdGivesUnknownBoard) {
  WriteBus({kBoardFirst});
  UseDatabase("Dual\n0080 orv no 2 yes\n");
  std::optional<CardAttribute> board;
  char busId[100] = "";
  ProbePciBusId(board, busId, sizeof busId, 0);
  ASSERT_TRUE(board.has_value());
  EXPECT_STREQ(board->name, "unknown");
}

TEST_F(PciTest, RealBusScansAndHoldsNoBoard) {
  SysRootSet("/");
  if (!FileExistsOnHost("/proc/bus/pci/devices")) GTEST_SKIP() << "no /proc/bus/pci here";
  UseDatabase("Dual\n0080 orv no 2 yes\n");
  SysRootSet("/");
  PciDeviceList* list = PciAlloc();
  PciScan(list);
  for (const PciDeviceRecord* rec = *list; rec; rec = rec->next)
    EXPECT_EQ(rec->vendorDevice >> 16, rec->vendorId);
  PciCleanup(list);
  std::optional<CardAttribute> board;
  char busId[100] = "";
  EXPECT_EQ(ProbePciBusId(board, busId, sizeof busId, 0), 0);
  EXPECT_FALSE(board.has_value());
}

class PciDeathTest : public PciTest {};

TEST_F(PciDeathTest, MissingDevicesFile) {
  std::string path = tree_.Path("proc/bus/pci/devices");
  EXPECT_EXIT(PciScan(PciAlloc()), ::testing::ExitedWithCode(1),
              "^PciScan:Cannot open " + path);
}

TEST_F(PciDeathTest, LineWithTooFewFields) {
  tree_.Write("proc/bus/pci/devices", "0010\t1e7a5d61\t0\t0\t0\n");
  EXPECT_EXIT(PciScan(PciAlloc()), ::testing::ExitedWithCode(1),
              "^PciScan: parse error \\(read only 5 items\\)");
}

TEST_F(PciDeathTest, MissingConfigurationFile) {
  WriteBus({kBoardSecond});
  std::filesystem::remove(tree_.Path("proc/bus/pci/20/00.0"));
  EXPECT_EXIT(PciScan(PciAlloc()), ::testing::ExitedWithCode(1),
              "^ProcSetup:Cannot open " + tree_.Path("proc/bus/pci/20/00.0"));
}

TEST_F(PciDeathTest, ShortConfigurationFile) {
  WriteBus({kBoardSecond});
  tree_.Write("proc/bus/pci/20/00.0", std::string(40, '\1'));
  EXPECT_EXIT(PciScan(PciAlloc()), ::testing::ExitedWithCode(1),
              "^Unable to read the standard configuration space header\n$");
}

}  // namespace
