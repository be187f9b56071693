// Bring-up: the X driver enables, starts and declares the primary surface
// of each display unit through the device node, in its order; the driver's
// and the kernel's messages say so; both monitors show their screen's
// desktop.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/desktop_fixture.h"

namespace e2e {
namespace {

using E2eBringUp = Desktop;

// The position of the first line from `from` on that equals `line`, or
// npos.
size_t Find(const std::vector<std::string>& lines, const std::string& line, size_t from = 0) {
  for (size_t i = from; i < lines.size(); ++i)
    if (lines[i] == line) return i;
  return std::string::npos;
}

TEST_F(E2eBringUp, EachUnitIsEnabledStartedAndDeclaredInTheDriversOrder) {
  EXPECT_EQ(Node().Sequence({20, 22, 28}),
            (std::vector<std::string>{"20:0", "22:0", "28:0", "20:1", "22:1", "28:1"}));
  for (const NodeRequest& r : Node().Requests()) {
    if (r.number == 20) {
      EXPECT_EQ(r.answer, 1) << "enable of unit " << r.unit;
    }
    if (r.number == 22 || r.number == 28) {
      EXPECT_EQ(r.answer, 0) << "request " << r.number << " of unit " << r.unit;
    }
  }
}

TEST_F(E2eBringUp, TheDriversAndTheKernelsKeyMessagesComeInOrder) {
  const std::vector<std::string> driver = DriverMessages();
  // Each screen: the board found, the mode, bus mastering through the
  // kernel module; then each screen's device started, in screen order.
  size_t at = 0;
  for (const char* screen : {"screen 0", "screen 1"}) {
    for (const std::string& line :
         {std::string("(II) ") + screen + ": Device Name [Kestrion KB-500 Quad]",
          std::string("(--) ") + screen + ": Virtual size is 1280x1024 (pitch 1280)",
          std::string("(--) ") + screen + ": Mode \"1280x1024\": 108.0 MHz, 64.0 kHz, 60.0 Hz",
          std::string("(II) ") + screen + ": Busmastering is enabled"}) {
      const size_t found = Find(driver, line, at);
      ASSERT_NE(found, std::string::npos) << "no \"" << line << "\" after message " << at;
      at = found + 1;
    }
  }
  std::vector<size_t> started;
  for (const char* screen : {"screen 0", "screen 1"}) {
    const std::string line = std::string("(II) ") + screen + ": Kestrion device started.";
    const size_t found = Find(driver, line, at);
    ASSERT_NE(found, std::string::npos) << "no \"" << line << "\" after message " << at;
    started.push_back(found);
    at = found + 1;
  }
  // A unit's device is reported started after the kernel started it.
  for (const NodeRequest& r : Node().Requests()) {
    if (r.number == 22 && r.unit >= 0 && static_cast<size_t>(r.unit) < started.size()) {
      EXPECT_GE(started[static_cast<size_t>(r.unit)], r.driverLog) << "unit " << r.unit;
    }
  }
  for (const std::string& line : driver) EXPECT_NE(line.rfind("(EE)", 0), 0u) << line;

  // The kernel module: its chipset patches when it was loaded, before the
  // driver's first request; nothing after it is an error.
  const std::vector<std::string> kernel = KernelMessages();
  ASSERT_FALSE(kernel.empty());
  EXPECT_EQ(kernel[0].rfind("[orv] Kestrion patches applied:", 0), 0u) << kernel[0];
  ASSERT_FALSE(Node().Requests().empty());
  EXPECT_GE(Node().Requests()[0].kernelLog, 1u);
  for (const std::string& line : kernel) EXPECT_EQ(line.find("ERROR"), std::string::npos) << line;
}

TEST_F(E2eBringUp, BothMonitorsShowTheirScreensDesktopAndTheUnloadLeavesNothing) {
  std::vector<std::vector<uint8_t>> desktops;
  for (const maindraw::ScreenState& s : Screens()) {
    desktops.push_back(maindraw::FramebufferPixels(Board(), s));
    ASSERT_FALSE(desktops.back().empty());
  }
  const std::vector<Picture>& pictures = Finish();
  EXPECT_EQ(Left(), "");
  ASSERT_EQ(pictures.size(), 2u);
  for (size_t n = 0; n < pictures.size(); ++n) {
    const maindraw::Monitor& m = pictures[n].monitor;
    EXPECT_EQ(m.screen, static_cast<int>(n)) << m.output;
    EXPECT_EQ(m.picture.width, 1280u);
    EXPECT_EQ(m.picture.height, 1024u);
    ASSERT_GE(m.screen, 0);
    const maindraw::Comparison c =
        maindraw::CompareWithPixels(Board(), m, Screens(), desktops[static_cast<size_t>(m.screen)]);
    EXPECT_TRUE(c.equal) << m.output << " " << c.unusable << ": " << c.differing << " pixels differ, first at ("
                         << c.firstX << ", " << c.firstY << ")";
  }
}

}  // namespace
}  // namespace e2e
