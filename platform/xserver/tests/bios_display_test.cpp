// The EDID reader (against edid-decode on real monitors' dumps), int10 with
// the VBE model, depth and frame-buffer format, weight, visual and gamma.
#include <stdio.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/board/simulation.h"
#include "platform/xserver/int10.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/server.h"
#include "platform/xserver/xf86_edid.h"

namespace {

std::vector<uint8_t> ReadDump(const std::string& name) {
  const char* root = getenv("ORV_SOURCE_DIR");
  std::string path = std::string(root ? root : ".") + "/platform/board/tests/data/edid/" + name;
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

class XserverEdid : public testing::TestWithParam<const char*> {};

TEST_P(XserverEdid, RangesAndFirstTimingAgreeWithEdidDecode) {
  if (system("command -v edid-decode >/dev/null 2>&1") != 0) GTEST_SKIP() << "no edid-decode";
  const char* root = getenv("ORV_SOURCE_DIR");
  const std::string path =
      std::string(root ? root : ".") + "/platform/board/tests/data/edid/" + GetParam();
  const std::string decoded = RunCommand("edid-decode '" + path + "' 2>/dev/null");
  std::smatch ranges, dtd, maker;
  ASSERT_TRUE(std::regex_search(decoded, ranges,
                                std::regex(R"((\d+)-(\d+) Hz V, (\d+)-(\d+) kHz H, max dotclock (\d+) MHz)")));
  ASSERT_TRUE(std::regex_search(decoded, dtd,
                                std::regex(R"(DTD 1:\s+(\d+)x(\d+)\s+\S+ Hz.*?([\d.]+) MHz)")));
  ASSERT_TRUE(std::regex_search(decoded, maker, std::regex(R"(Manufacturer: (\w\w\w))")));

  std::vector<uint8_t> block = ReadDump(GetParam());
  ASSERT_GE(block.size(), 128u);
  xstub::Sandbox box;
  xstub::XServer server;
  xf86MonPtr m = xf86InterpretEDID(2, block.data());
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->scrnIndex, 2);
  EXPECT_STREQ(m->vendor.name, maker[1].str().c_str());
  const monitor_ranges* r = nullptr;
  for (const auto& d : m->det_mon) {
    if (d.type == DS_RANGES) r = &d.section.ranges;
  }
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->min_v, std::stoi(ranges[1]));
  EXPECT_EQ(r->max_v, std::stoi(ranges[2]));
  EXPECT_EQ(r->min_h, std::stoi(ranges[3]));
  EXPECT_EQ(r->max_h, std::stoi(ranges[4]));
  EXPECT_EQ(r->max_clock, std::stoi(ranges[5]));
  ASSERT_EQ(m->det_mon[0].type, DT);
  const detailed_timings& t = m->det_mon[0].section.d_timings;
  EXPECT_EQ(t.h_active, std::stoi(dtd[1]));
  EXPECT_EQ(t.v_active, std::stoi(dtd[2]));
  EXPECT_EQ(t.clock, static_cast<int>(std::stod(dtd[3]) * 1e6 + 0.5));
  xfree(m);
}

INSTANTIATE_TEST_SUITE_P(Dumps, XserverEdid, testing::Values("00007.bin", "00607.bin", "00627.bin"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param).substr(0, 5);
                         });

TEST(XserverEdidBlock, AWrongHeaderOrChecksumIsRefused) {
  std::vector<uint8_t> block = ReadDump("00007.bin");
  ASSERT_GE(block.size(), 128u);
  xstub::Sandbox box;
  block[127] ^= 1;
  EXPECT_EQ(xf86InterpretEDID(0, block.data()), nullptr);
  block[127] ^= 1;
  block[0] = 1;
  block[127] -= 1;  // keeps the sum, spoils the header
  EXPECT_EQ(xf86InterpretEDID(0, block.data()), nullptr);
  EXPECT_EQ(xf86InterpretEDID(0, nullptr), nullptr);
}

TEST(XserverEdidBlock, TextDescriptorsEndAtTheLineFeed) {
  std::vector<uint8_t> block = ReadDump("00607.bin");
  xstub::Sandbox box;
  xstub::XServer server;
  xf86MonPtr m = xf86InterpretEDID(0, block.data());
  ASSERT_NE(m, nullptr);
  bool named = false;
  for (const auto& d : m->det_mon) {
    if (d.type == DS_NAME) {
      EXPECT_STREQ(reinterpret_cast<const char*>(d.section.name), "X2210WAS");
      named = true;
    }
  }
  EXPECT_TRUE(named);
  ScrnInfoPtr s = server.NewScrnInfo();
  EXPECT_TRUE(xf86SetDDCproperties(s, m));
  EXPECT_EQ(server.DdcPropertyScreens(), std::vector<int>{0});
  EXPECT_EQ(s->widthmm, m->features.hsize * 10);
  xf86PrintEDID(m);
  EXPECT_TRUE(box.Logged("Monitor name: X2210WAS", X_INFO));
  xfree(m);
}

class XserverInt10 : public testing::Test {
 protected:
  XserverInt10() {
    orvsim::BoardConfig config;
    config.device_id = orvsim::kDeviceKestrionNext3;
    config.location = orvsim::PciLocation{0, 3, 0};
    sim.AddBoard(config);
  }
  // Claims the board as entity 0.
  void Claim() {
    ASSERT_TRUE(server.ReadConfig(
        "Section \"Device\"\n Identifier \"D\"\n Driver \"fixture\"\nEndSection\n"
        "Section \"Screen\"\n Identifier \"S\"\n Device \"D\"\nEndSection\n"));
    GDevPtr* sections = nullptr;
    int n = xf86MatchDevice("fixture", &sections);
    int* entities = nullptr;
    SymTabRec chips[] = {{0x5D63, "c"}, {-1, nullptr}};
    PciChipsets pci[] = {{0x5D63, 0x5D63, nullptr}, {-1, -1, nullptr}};
    ASSERT_EQ(xf86MatchPciInstances("F", 0x1E7A, chips, pci, sections, n, nullptr, &entities), 1);
    xfree(sections);
    xfree(entities);
  }
  orvsim::Simulation sim;
  xstub::Sandbox box;
  xstub::XServer server;
};

TEST_F(XserverInt10, VbeGetAndSetModeThroughTheModel) {
  xstub::VbeModel vbe;
  vbe.current_mode = 0x4103;
  server.SetVbe({0, 3, 0}, &vbe);
  Claim();
  xf86Int10InfoPtr pInt = xf86InitInt10(0);
  ASSERT_NE(pInt, nullptr);
  pInt->num = 0x10;
  pInt->ax = 0x4F03;
  xf86ExecX86int10(pInt);
  EXPECT_EQ(pInt->ax, 0x004F);
  EXPECT_EQ(pInt->bx, 0x4103);
  pInt->ax = 0x4F02;
  pInt->bx = 3;
  xf86ExecX86int10(pInt);
  EXPECT_EQ(pInt->ax, 0x004F);
  EXPECT_EQ(vbe.current_mode, 3);
  pInt->ax = 0x0003;  // not a VBE call
  xf86ExecX86int10(pInt);
  EXPECT_EQ(pInt->ax, 0x014F);
  vbe.fail = true;
  pInt->ax = 0x4F03;
  xf86ExecX86int10(pInt);
  EXPECT_EQ(pInt->ax, 0x014F);
  ASSERT_EQ(vbe.calls.size(), 4u);
  EXPECT_EQ(vbe.calls[1].ax, 0x4F02);
  EXPECT_EQ(vbe.calls[1].bx, 3);
  xf86FreeInt10(pInt);
}

TEST_F(XserverInt10, NoBiosNoInt10) {
  Claim();
  EXPECT_EQ(xf86InitInt10(0), nullptr);
  EXPECT_EQ(xf86InitInt10(5), nullptr);
}

struct DepthCase {
  const char* name;
  int conf_depth;
  int conf_fbbpp;
  int flags;
  bool ok;
  int depth;
  int bpp;
};

void PrintTo(const DepthCase& c, std::ostream* out) { *out << c.name; }

class XserverDepth : public testing::TestWithParam<DepthCase> {};

TEST_P(XserverDepth, DepthAndFormatFromDefaultsAndConfiguration) {
  const DepthCase& c = GetParam();
  xstub::Sandbox box;
  xstub::XServer server;
  std::string text = "Section \"Device\"\n Identifier \"D\"\n Driver \"f\"\nEndSection\n"
                     "Section \"Screen\"\n Identifier \"S\"\n Device \"D\"\n";
  if (c.conf_depth) text += " DefaultDepth " + std::to_string(c.conf_depth) + "\n";
  if (c.conf_fbbpp) text += " DefaultFbBpp " + std::to_string(c.conf_fbbpp) + "\n";
  text += " SubSection \"Display\"\n  Depth 16\n  Modes \"800x600\"\n EndSubSection\nEndSection\n";
  ASSERT_TRUE(server.ReadConfig(text));
  ScrnInfoPtr s = server.NewScrnInfo();
  GDevPtr* sections = nullptr;
  ASSERT_EQ(xf86MatchDevice("f", &sections), 1);
  s->confScreen = sections[0]->myScreenSection;
  xfree(sections);
  EXPECT_EQ(xf86SetDepthBpp(s, 8, 8, 8, c.flags) != 0, c.ok);
  if (!c.ok) return;
  EXPECT_EQ(s->depth, c.depth);
  EXPECT_EQ(s->bitsPerPixel, c.bpp);
  ASSERT_NE(s->display, nullptr);
  EXPECT_EQ(s->display->depth, c.depth);
  if (c.depth == 16) {
    EXPECT_STREQ(s->display->modes[0], "800x600");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, XserverDepth,
    testing::Values(DepthCase{"DriverDefault", 0, 0, Support32bppFb, true, 8, 8},
                    DepthCase{"Depth16", 16, 0, Support32bppFb, true, 16, 16},
                    DepthCase{"Depth24In32", 24, 0, Support32bppFb, true, 24, 32},
                    DepthCase{"Depth24Packed", 24, 0, Support24bppFb, true, 24, 24},
                    DepthCase{"Depth24Unsupported", 24, 0, 0, false, 0, 0},
                    DepthCase{"Depth30", 30, 0, Support32bppFb, true, 30, 32},
                    DepthCase{"Bpp32Only", 0, 32, Support32bppFb, true, 24, 32},
                    DepthCase{"Depth24Bpp16", 24, 16, Support32bppFb, false, 0, 0}),
    [](const testing::TestParamInfo<DepthCase>& info) { return info.param.name; });

TEST(XserverColour, WeightMasksOffsetsVisualAndGamma) {
  xstub::Sandbox box;
  xstub::XServer server;
  ScrnInfoPtr s = server.NewScrnInfo();
  MonRec monitor{};
  s->monitor = &monitor;
  s->depth = 16;
  s->bitsPerPixel = 16;
  ASSERT_TRUE(xf86SetWeight(s, rgb{0, 0, 0}, rgb{0, 0, 0}));
  EXPECT_EQ(s->weight.green, 6u);
  EXPECT_EQ(s->mask.red, 0xF800u);
  EXPECT_EQ(s->offset.green, 5u);
  s->depth = 30;
  s->bitsPerPixel = 32;
  ASSERT_TRUE(xf86SetWeight(s, rgb{0, 0, 0}, rgb{0, 0, 0}));
  EXPECT_EQ(s->mask.red, 0x3FF00000u);
  EXPECT_EQ(s->offset.red, 20u);
  ASSERT_TRUE(xf86SetDefaultVisual(s, -1));
  EXPECT_EQ(s->defaultVisual, TrueColor);
  EXPECT_FALSE(xf86SetDefaultVisual(s, PseudoColor));
  s->depth = 8;
  ASSERT_TRUE(xf86SetDefaultVisual(s, -1));
  EXPECT_EQ(s->defaultVisual, PseudoColor);

  ASSERT_TRUE(xf86SetGamma(s, Gamma{0, 0, 0}));
  EXPECT_FLOAT_EQ(s->gamma.red, 1.0f);
  ASSERT_TRUE(xf86SetGamma(s, Gamma{1.2f, 1.2f, 1.2f}));
  EXPECT_FLOAT_EQ(s->gamma.blue, 1.2f);
  monitor.gamma = {2.0f, 2.0f, 2.0f};  // the monitor's configured gamma wins
  ASSERT_TRUE(xf86SetGamma(s, Gamma{1.2f, 1.2f, 1.2f}));
  EXPECT_FLOAT_EQ(s->gamma.green, 2.0f);
  monitor.gamma = {20.0f, 1.0f, 1.0f};
  EXPECT_FALSE(xf86SetGamma(s, Gamma{0, 0, 0}));
}

}  // namespace
