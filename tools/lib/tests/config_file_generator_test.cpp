// The update engine on whole files: every layout a board allows, reached
// from every other one without --overwrite, reads back as asked.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "tools/lib/ConfigFileGenerator.h"
#include "tools/lib/ErrorCodes.h"
#include "tools/lib/Probe.h"
#include "tools/lib/carddb.h"
#include "tools/lib/parser/scan.h"
#include "tools/lib/tests/probe_fixture.h"
#include "tools/lib/tests/test_util.h"
#include "tools/testsupport/fixture_root.h"

namespace {

using toolcfg_test::SourceDir;
using tools_test::WriteFile;

// One arrangement: number of outputs, layout, multi-display mode.
struct Arrangement {
  int outputs;
  int layout;
  int mode;
  bool operator==(const Arrangement&) const = default;
};

std::string Describe(const Arrangement& a) {
  const char* layouts[] = {"?", "horizontal", "vertical", "square"};
  const char* modes[] = {"?", "merge", "independent", "xinerama"};
  return std::to_string(a.outputs) + " " + layouts[a.layout] + " " + modes[a.mode];
}

class UpdateEngineFile : public ProbeRootTest {
 protected:
  void SetUp() override {
    ProbeRootTest::SetUp();
    conf_ = tree_.Path("etc/X11/xorg.conf");
    seed_ = ReadFile(SourceDir() + "/data/xorg.conf.seed");
    ASSERT_FALSE(seed_.empty());
    // The probe of the current configuration finds the file through the
    // environment, as the tools' search path allows.
    setenv("XORGCONFIG", conf_.c_str(), 1);
    xconf::ForgetEnvironment();
  }
  void TearDown() override {
    unsetenv("XORGCONFIG");
    xconf::ForgetEnvironment();
    ProbeRootTest::TearDown();
  }

  void UseBoard(uint16_t subsysId) {
    tools_test::WriteFixtureBoard(tree_.Root(), subsysId);
    database_ = SourceDir() + "/data";
    SetDatabaseCardFile(database_.c_str());
    testing::internal::CaptureStdout();  // the extension's notice
    InitCoreModule();
    testing::internal::GetCapturedStdout();
  }

  // What the board's record allows, independent layouts also as Xinerama.
  std::vector<Arrangement> Allowed() {
    CardInfo card{};
    testing::internal::CaptureStdout();
    EXPECT_EQ(ProbeCardInfoStruct(&card), kErrNone);
    testing::internal::GetCapturedStdout();
    std::vector<Arrangement> out;
    for (PrivateList* n = card.layouts; n != nullptr; n = n->next) {
      const auto* l = static_cast<const CardLayout*>(n->Payload());
      out.push_back({l->outputsMinusOne + 1, l->layout, l->mode});
      if (l->mode == kDisplayIndependent) out.push_back({l->outputsMinusOne + 1, l->layout, 3});
    }
    FreeCardInfo(&card);
    return out;
  }

  int Apply(const Arrangement& a, bool overwrite) {
    UserSelection sel{};
    sel.outputFile = conf_.c_str();
    sel.outputs = a.outputs;
    sel.family = 1;
    sel.mode = a.mode;
    sel.layout = a.layout;
    sel.overwrite = overwrite ? 1 : 0;
    sel.useCapabilities = 1;
    sel.presentFlags = kSelOutputFile | kSelOutputs | kSelMode | kSelLayout;
    testing::internal::CaptureStdout();
    const int result = UpdateConfigFile(&sel);
    testing::internal::GetCapturedStdout();
    return result;
  }

  Arrangement ReadBack() {
    XConfigInfo info{};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int result = ProbeXConfig(&info);
    testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, kErrNone) << err;
    Arrangement a{info.outputs, info.layout, info.xinerama ? 3 : info.mode};
    FreeXConfigInfo(&info);
    return a;
  }

  std::string conf_;
  std::string seed_;
  std::string database_;
};

struct BoardCase {
  const char* name;
  uint16_t subsysId;
  size_t arrangements;  // how many the board allows
};
void PrintTo(const BoardCase& c, std::ostream* os) { *os << c.name; }

// Screen sections the tools generated that no layout line names any more.
int UnusedGeneratedScreens(const std::string& path) {
  toolcfg_test::Parsed parsed = toolcfg_test::ParsePath(path);
  if (parsed.file == nullptr) return -1;
  int unused = 0;
  for (XConfScreen* s = parsed.file->screens; s != nullptr; s = s->next) {
    bool named = false;
    for (XConfAdjacency* a = parsed.file->layouts->adjacencies; a != nullptr; a = a->next)
      named = named || xf86nameCompare(a->screen_name, s->identifier) == 0;
    if (!named) ++unused;
  }
  return unused;
}

class LayoutTransitions : public UpdateEngineFile,
                          public ::testing::WithParamInterface<BoardCase> {};

TEST_P(LayoutTransitions, EveryAllowedLayoutReadsBackAfterAnyOther) {
  UseBoard(GetParam().subsysId);
  const std::vector<Arrangement> allowed = Allowed();
  ASSERT_EQ(allowed.size(), GetParam().arrangements);
  for (const Arrangement& from : allowed) {
    WriteFile(conf_, seed_);
    ASSERT_EQ(Apply(from, true), kErrNone) << Describe(from);
    ASSERT_EQ(ReadBack(), from) << Describe(from);
    const std::string fromText = ReadFile(conf_);
    for (const Arrangement& to : allowed) {
      SCOPED_TRACE(Describe(from) + " -> " + Describe(to));
      WriteFile(conf_, fromText);
      for (int run = 0; run < 2; ++run) {
        const std::string before = ReadFile(conf_);
        const int result = Apply(to, false);
        if (result != kErrNone) {
          EXPECT_EQ(ReadFile(conf_), before) << "failed with " << result;
          continue;
        }
        const Arrangement got = ReadBack();
        EXPECT_EQ(got, to) << "run " << run << " read back " << Describe(got);
        EXPECT_EQ(UnusedGeneratedScreens(conf_), 0) << "run " << run;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Boards, LayoutTransitions,
    ::testing::Values(BoardCase{"Dual", 0x0201, 7}, BoardCase{"Quad", 0x0202, 13},
                      BoardCase{"QuadOfTheFirstGeneration", 0x00C0, 10},
                      BoardCase{"QuadDisplaySeries", 0x0302, 7},
                      BoardCase{"DualDisplaySeries", 0x0301, 1}),
    [](const ::testing::TestParamInfo<BoardCase>& info) { return std::string(info.param.name); });

TEST_F(UpdateEngineFile, CommentsOfRewrittenEntriesStay) {
  UseBoard(0x0302);  // quad-display series: the KVD option is written again
  WriteFile(conf_,
            "Section \"ServerLayout\"\n\tIdentifier \"L\"\n\tScreen \"S\"\n"
            "\tInputDevice \"K\" \"CoreKeyboard\"\n"
            "\tOption \"Xinerama\" \"off\" # one screen after all\nEndSection\n"
            "Section \"Module\"\n\tLoad \"glx\" # for the 3D desktop\nEndSection\n"
            "Section \"InputDevice\"\n\tIdentifier \"K\"\n\tDriver \"kbd\"\nEndSection\n"
            "Section \"Device\"\n\tIdentifier \"D\"\n\tDriver \"orv\"\n"
            "\tOption \"KVD\" \"on\" # the quad board\nEndSection\n"
            "Section \"Monitor\"\n\tIdentifier \"M\"\nEndSection\n"
            "Section \"Screen\"\n\tIdentifier \"S\"\n\tDevice \"D\"\n\tMonitor \"M\"\n"
            "\tDefaultDepth 16\n\tOption \"MergedFB\" \"on\" # both heads\n"
            "\tOption \"Monitor2Position\" \"RightOf\"\nEndSection\n");
  UserSelection sel{};
  sel.outputFile = conf_.c_str();
  sel.depth[0] = 24;
  sel.useCapabilities = 1;
  sel.presentFlags = kSelOutputFile | kSelDepth;
  testing::internal::CaptureStdout();
  ASSERT_EQ(UpdateConfigFile(&sel), kErrNone);
  testing::internal::GetCapturedStdout();
  const std::string text = ReadFile(conf_);
  for (const char* kept : {"\tLoad  \"glx\" # for the 3D desktop\n",
                           "\"KVD\" \"on\" # the quad board\n",
                           "\"MergedFB\" \"on\" # both heads\n"})
    EXPECT_NE(text.find(kept), std::string::npos) << kept << "\n" << text;
  // A merged desktop never gets an empty mode list.
  EXPECT_EQ(text.find("\"MetaModes\" \"\""), std::string::npos) << text;
  // An entry that is not written again leaves its comment in its section.
  const size_t layout = text.find("Section \"ServerLayout\"");
  const size_t kept = text.find("\t# one screen after all\n");
  ASSERT_NE(kept, std::string::npos) << text;
  EXPECT_LT(layout, kept) << text;
  EXPECT_LT(kept, text.find("EndSection", layout)) << text;
  EXPECT_EQ(text.find("Xinerama"), std::string::npos) << text;
}

TEST_F(UpdateEngineFile, ACommentBehindAnOptionThatIsNotWrittenAgainStaysInItsSection) {
  UseBoard(0x0201);  // dual board without KVD: "KVD" "off" is never written again
  WriteFile(conf_,
            "Section \"ServerLayout\"\n\tIdentifier \"L\"\n\tScreen \"S\"\n"
            "\tInputDevice \"K\" \"CoreKeyboard\"\nEndSection\n"
            "Section \"Module\"\n\tLoad \"glx\"\nEndSection\n"
            "Section \"InputDevice\"\n\tIdentifier \"K\"\n\tDriver \"kbd\"\nEndSection\n"
            "Section \"Device\"\n\tIdentifier \"D\"\n\tDriver \"orv\"\n"
            "\tOption \"KVD\" \"off\" # no splitter on this desk\nEndSection\n"
            "Section \"Monitor\"\n\tIdentifier \"M\"\nEndSection\n"
            "Section \"Screen\"\n\tIdentifier \"S\"\n\tDevice \"D\"\n\tMonitor \"M\"\n"
            "\tDefaultDepth 16\n\tOption \"Rotate\" \"cw\" # the tall monitor\n"
            "\t# turned by hand\nEndSection\n");
  for (int update = 0; update < 2; ++update) {
    UserSelection sel{};
    sel.outputFile = conf_.c_str();
    sel.depth[0] = update == 0 ? 24 : 16;
    sel.rotation[0] = kRotateNone;
    sel.useCapabilities = 1;
    sel.presentFlags = kSelOutputFile | kSelDepth | kSelRotation;
    testing::internal::CaptureStdout();
    const int result = UpdateConfigFile(&sel);
    const std::string said = testing::internal::GetCapturedStdout();
    ASSERT_EQ(result, kErrNone) << update << ": " << said;
    const std::string text = ReadFile(conf_);
    struct Kept {
      const char* section;
      const char* comment;
    };
    for (const Kept& k : {Kept{"Section \"Device\"", "\t# no splitter on this desk\n"},
                          Kept{"Section \"Screen\"", "\t# the tall monitor\n"},
                          Kept{"Section \"Screen\"", "\t# turned by hand\n"}}) {
      const size_t section = text.find(k.section);
      const size_t at = text.find(k.comment);
      ASSERT_NE(at, std::string::npos) << update << ": " << k.comment << "\n" << text;
      EXPECT_LT(section, at) << text;
      EXPECT_LT(at, text.find("EndSection", section)) << text;
      // Kept once, not again on every update.
      EXPECT_EQ(text.find(k.comment, at + 1), std::string::npos) << text;
    }
    EXPECT_EQ(text.find("\"KVD\""), std::string::npos) << text;
    EXPECT_EQ(text.find("\"Rotate\""), std::string::npos) << text;
  }
}

}  // namespace
