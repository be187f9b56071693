// The merged framebuffer: the second monitor's sync ranges, the merged mode
// list from the MetaModes text with its refusals, and panning both heads.
#include <cctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/xserver/sandbox.h"
#include "platform/xserver/server.h"
#include "xdriver/orv_multihead.h"

namespace {

struct RangeCase {
  const char* text;
  int count;
  float lo, hi;
};

void PrintTo(const RangeCase& c, std::ostream* out) { *out << '"' << c.text << '"'; }

// The text as a test name: "31.5-64.3" gives "Text_31p5To64p3", spaces
// become underscores, the empty text "Text_Empty".
std::string RangeTextName(const testing::TestParamInfo<RangeCase>& info) {
  std::string name = "Text_";
  if (*info.param.text == '\0') return name + "Empty";
  for (const char* at = info.param.text; *at != '\0'; ++at) {
    switch (*at) {
      case '.': name += "p"; break;
      case '-': name += "To"; break;
      case ',': name += "Comma"; break;
      case ':': name += "Colon"; break;
      case ' ': name += "_"; break;
      default: name += std::isalnum(static_cast<unsigned char>(*at)) ? std::string(1, *at) : "_"; break;
    }
  }
  return name;
}

class OrvRanges : public testing::TestWithParam<RangeCase> {};

TEST_P(OrvRanges, OneRangeFromTheNumbers) {
  const RangeCase& c = GetParam();
  range r[MAX_HSYNC] = {};
  ASSERT_EQ(ORVMergeStrToRanges(r, c.text), c.count) << c.text;
  if (c.count == 1) {
    EXPECT_FLOAT_EQ(r[0].lo, c.lo) << c.text;
    EXPECT_FLOAT_EQ(r[0].hi, c.hi) << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(Texts, OrvRanges,
                         testing::Values(RangeCase{"31.5-64.3", 1, 31.5f, 64.3f},
                                         RangeCase{"31.5,64.3", 0, 0, 0},
                                         RangeCase{"30 - 90", 1, 30, 90},
                                         RangeCase{"30 90", 1, 30, 90},
                                         RangeCase{"30-60-90", 1, 30, 90},
                                         RangeCase{"50", 1, 50, 50},
                                         RangeCase{"", 0, 0, 0},
                                         RangeCase{"30-9a", 0, 0, 0},
                                         RangeCase{"30:90", 0, 0, 0}),
                         RangeTextName);

// Two heads of one screen and their mode lists.
class OrvMergeList : public testing::Test {
 protected:
  OrvMergeList() {
    screen = server.NewScrnInfo();
    second = server.NewScrnInfo();
    screen->driverPrivate = &rec;
    second->driverPrivate = &rec2;
    rec.aux[0] = second;
    rec.merged = 1;
    rec2.merged = 1;
    rec2.head2 = 1;
  }
  ~OrvMergeList() override { FreeBuilt(); }

  // Frees the merged modes built so far.
  void FreeBuilt() {
    for (DisplayModePtr m = screen->modes; m != nullptr;) {
      DisplayModePtr next = m->next;
      xfree(OrvModePriv(m)->source);
      xfree(m->Private);
      xfree(m->name);
      xfree(m);
      if (next == screen->modes) break;
      m = next;
    }
    screen->modes = nullptr;
  }

  // A circular list of the sizes, named "<w>x<h>".
  static std::vector<DisplayModeRec> List(std::vector<std::pair<int, int>> sizes,
                                          std::vector<std::string>* names) {
    std::vector<DisplayModeRec> modes(sizes.size());
    names->clear();
    for (const auto& s : sizes) names->push_back(std::to_string(s.first) + "x" + std::to_string(s.second));
    for (size_t i = 0; i < sizes.size(); ++i) {
      modes[i].name = (*names)[i].data();
      modes[i].HDisplay = sizes[i].first;
      modes[i].VDisplay = sizes[i].second;
    }
    for (size_t i = 0; i < modes.size(); ++i) {
      modes[i].next = &modes[(i + 1) % modes.size()];
      modes[i].prev = &modes[(i + modes.size() - 1) % modes.size()];
    }
    return modes;
  }

  std::vector<std::pair<int, int>> Built() const {
    std::vector<std::pair<int, int>> out;
    for (DisplayModePtr m = screen->modes; m != nullptr;) {
      out.push_back({m->HDisplay, m->VDisplay});
      m = m->next;
      if (m == screen->modes) break;
    }
    return out;
  }

  xstub::Sandbox box;
  xstub::XServer server;
  ScrnInfoPtr screen;
  ScrnInfoPtr second;
  ORVRec rec{};
  ORVRec rec2{};
  std::vector<std::string> names1, names2;
};

TEST_F(OrvMergeList, APairAndAClone) {
  auto list1 = List({{1024, 768}, {800, 600}, {1280, 1024}}, &names1);
  auto list2 = List({{1024, 768}, {800, 600}, {1280, 1024}}, &names2);
  DisplayModePtr last = ORVMergeGenerateModeList(screen, "1024x768-800x600 1280x1024", list1.data(),
                                                 list2.data(), kPositionRightOf);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(Built(), (std::vector<std::pair<int, int>>{{1824, 768}, {1280, 1024}}));
  EXPECT_EQ(screen->currentMode, screen->modes);
  EXPECT_EQ(rec.savedModes, nullptr);  // the screen had no list before
  OrvMergedPair* pair = OrvMergedPairOf(screen->modes);
  ASSERT_NE(pair, nullptr);
  EXPECT_EQ(pair->mode1, &list1[0]);
  EXPECT_EQ(pair->mode2, &list2[1]);
  EXPECT_EQ(pair->position, kPositionRightOf);
  EXPECT_EQ(OrvMergedPairOf(last)->position, kPositionClone);
  EXPECT_STREQ(screen->modes->name, "1024x768");
  // The second head follows the screen's virtual size.
  EXPECT_EQ(second->virtualY, 1024);
  EXPECT_EQ(second->virtualFrom, X_PROBED);
}

TEST_F(OrvMergeList, UnknownNamesAreSkippedWithTheirMessages) {
  auto list1 = List({{1024, 768}, {800, 600}, {1600, 1200}}, &names1);
  auto list2 = List({{800, 600}, {640, 480}}, &names2);
  DisplayModePtr last = ORVMergeGenerateModeList(
      screen, "1024x768-999x999 2048x1536 - 800x600 1600x1200 800x600", list1.data(), list2.data(),
      kPositionRightOf);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(Built(), (std::vector<std::pair<int, int>>{{800, 600}}));
  EXPECT_TRUE(box.Logged("Mode: \"999x999\" is not a supported mode for monitor 2\n", X_CONFIG));
  EXPECT_TRUE(box.Logged("Skipping metamode \"1024x768-999x999\".\n", X_CONFIG));
  EXPECT_TRUE(box.Logged("Mode: \"2048x1536\" is not a supported mode for monitor 1\n", X_CONFIG));
  EXPECT_TRUE(box.Logged("Skipping metamode \"2048x1536-800x600\".\n", X_CONFIG));
  EXPECT_TRUE(box.Logged("Mode: \"1600x1200\" is not a supported mode for monitor 2\n", X_CONFIG));
  EXPECT_TRUE(box.Logged("Skipping clone mode.\n", X_CONFIG));
}

TEST_F(OrvMergeList, ASecondNameWithoutAFirstRefusesTheWholeList) {
  auto list1 = List({{1024, 768}, {800, 600}}, &names1);
  auto list2 = List({{1024, 768}, {800, 600}}, &names2);
  // Each text has a dash with no first mode before it, at its start or
  // after entries that would build on their own.
  const char* const kTexts[] = {"-800x600", "1024x768 -800x600",
                                "1024x768 1024x768-999x999-800x600", "800x600-800x600 - -1024x768"};
  for (const char* text : kTexts) {
    EXPECT_EQ(ORVMergeGenerateModeList(screen, text, list1.data(), list2.data(), kPositionRightOf),
              nullptr)
        << text;
    FreeBuilt();
  }
}

TEST_F(OrvMergeList, ANameBeyond255CharactersIsRefused) {
  auto list1 = List({{800, 600}}, &names1);
  auto list2 = List({{800, 600}}, &names2);
  const std::string longName(300, '8');
  EXPECT_EQ(ORVMergeGenerateModeList(screen, (longName + "-800x600").c_str(), list1.data(),
                                     list2.data(), kPositionRightOf),
            nullptr);
  EXPECT_TRUE(box.Logged("Skipping metamode \"" + longName + "-800x600\".\n", X_CONFIG));
}

TEST_F(OrvMergeList, APairWiderThan4096IsRefusedAndLeavesTheVirtualWidth) {
  struct WidthCase {
    int w1, w2;
    bool accepted;
  };
  const WidthCase kCases[] = {{2560, 2560, false}, {2048, 2048, true}, {2048, 2049, false},
                              {4096, 0, true}};
  for (const WidthCase& c : kCases) {
    const int total = c.w1 + c.w2;
    SCOPED_TRACE(total);
    FreeBuilt();
    auto list1 = List({{c.w1, 1600}}, &names1);
    auto list2 = List({{c.w2 == 0 ? c.w1 : c.w2, 1600}}, &names2);
    // A width of 0 for head 2 makes a clone of the first head's mode.
    const std::string text = names1[0] + (c.w2 == 0 ? "" : "-" + names2[0]);
    screen->virtualX = 1234;
    DisplayModePtr built = ORVMergeGenerateModeList(screen, text.c_str(), list1.data(), list2.data(),
                                                    kPositionRightOf);
    const std::string refusal = "Mode: " + std::to_string(total) + "x1600 is larger than 4096.\n";
    if (c.accepted) {
      ASSERT_NE(built, nullptr);
      EXPECT_EQ(built->HDisplay, total);
      EXPECT_EQ(screen->virtualX, total);
      EXPECT_FALSE(box.Logged(refusal, X_ERROR));
    } else {
      EXPECT_EQ(built, nullptr);
      EXPECT_TRUE(box.Logged(refusal, X_ERROR));
      EXPECT_EQ(screen->virtualX, 1234);
    }
  }
}

struct SizeCase {
  int position;
  int w, h;
};

TEST_F(OrvMergeList, MergedSizeByPositionAndRotation) {
  DisplayModeRec a{}, b{};
  a.name = const_cast<char*>("a");
  a.HDisplay = 1024;
  a.VDisplay = 768;
  b.HDisplay = 1280;
  b.VDisplay = 1024;
  const SizeCase kCases[] = {{kPositionLeftOf, 2304, 1024}, {kPositionRightOf, 2304, 1024},
                             {kPositionAbove, 1280, 1792}, {kPositionBelow, 1280, 1792},
                             {kPositionClone, 1280, 1024}};
  for (const SizeCase& c : kCases) {
    DisplayModePtr m = ORVMergeCopyModeNLink(screen, &a, &b, c.position);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->HDisplay, c.w) << c.position;
    EXPECT_EQ(m->VDisplay, c.h) << c.position;
  }
  rec.hwRotate = kRotateCW;  // heads are 768 x 1024 and 1024 x 1280
  DisplayModePtr m = ORVMergeCopyModeNLink(screen, &a, &b, kPositionRightOf);
  EXPECT_EQ(m->HDisplay, 1792);
  EXPECT_EQ(m->VDisplay, 1280);
}

TEST_F(OrvMergeList, PanningPastTheRightEdgeMovesBothHeadsAndTheFrame) {
  DisplayModeRec a{}, b{};
  a.HDisplay = b.HDisplay = 1024;
  a.VDisplay = b.VDisplay = 768;
  OrvMergedPair pair{&a, &b, kPositionRightOf};
  OrvModePrivate priv{kModeMergedPair, &pair};
  DisplayModeRec merged{};
  merged.HDisplay = 2048;
  merged.VDisplay = 768;
  merged.Private = reinterpret_cast<INT32*>(&priv);
  screen->currentMode = &merged;
  screen->virtualX = second->virtualX = 2560;
  screen->virtualY = second->virtualY = 768;
  screen->frameX0 = 0;
  screen->frameX1 = 2047;
  screen->frameY1 = 767;
  rec.head1Frame[0] = 0;
  rec.head1Frame[2] = 1023;
  rec.head1Frame[3] = 767;
  second->frameX0 = 1024;
  second->frameX1 = 2047;
  second->frameY1 = 767;
  // 52 pixels past the right edge; origins round down to 16 pixels.
  ORVMergePointerMoved(screen->scrnIndex, 2048 + 52, 300);
  EXPECT_EQ(screen->frameX0, 48);
  EXPECT_EQ(screen->frameX1, 48 + 2047);
  EXPECT_EQ(rec.head1Frame[0], 48);
  EXPECT_EQ(rec.head1Frame[2], 48 + 1023);
  EXPECT_EQ(second->frameX0, 1024 + 48);
  EXPECT_EQ(second->frameX1, 1024 + 48 + 1023);
  // Inside the frame nothing moves.
  ORVMergePointerMoved(screen->scrnIndex, 100, 100);
  EXPECT_EQ(screen->frameX0, 48);
}

TEST(OrvInRegion, ExclusiveUpperBounds) {
  const range xr = {100.0f, 10.0f}, yr = {50.0f, 0.0f};
  EXPECT_TRUE(ORVInRegion(10, 0, xr, yr));
  EXPECT_FALSE(ORVInRegion(100, 0, xr, yr));
  EXPECT_FALSE(ORVInRegion(9, 49, xr, yr));
  EXPECT_FALSE(ORVInRegion(50, 50, xr, yr));
}

}  // namespace
