// The driver's own XINERAMA answers: when it registers and becomes active,
// and its six requests in both byte orders.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "xdriver/orv_xinerama.h"
#include "xdriver/tests/bare_screen_fixture.h"

namespace {

using baretest::Get16;
using baretest::Get32;

std::vector<uint8_t> Request(int major, uint8_t minor, uint16_t words, bool swapped,
                             std::vector<uint32_t> fields = {}) {
  std::vector<uint8_t> r(size_t{words} * 4 > 4 + 4 * fields.size() ? size_t{words} * 4
                                                                     : 4 + 4 * fields.size());
  r[0] = static_cast<uint8_t>(major);
  r[1] = minor;
  const uint16_t length = swapped ? static_cast<uint16_t>(words >> 8 | words << 8) : words;
  std::memcpy(&r[2], &length, 2);
  for (size_t i = 0; i < fields.size(); ++i) {
    const uint32_t v = swapped ? __builtin_bswap32(fields[i]) : fields[i];
    std::memcpy(&r[4 + 4 * i], &v, 4);
  }
  return r;
}

constexpr XID kWindow = 0x200001;

class XineramaTest : public baretest::BareScreens {
 protected:
  // A merged screen 0 of two 1280x1024 heads side by side.
  ORVRec* MergedScreen() {
    ORVRec* rec = AddScreen();
    rec->merged = 1;
    rec->headCount = 2;
    const int32_t rects[2][4] = {{0, 0, 1280, 1024}, {1280, 0, 1280, 1024}};
    std::memcpy(rec->headRects, rects, sizeof(rects));
    return rec;
  }
  // Registers in a new server generation; the messages it logged.
  std::vector<std::string> Init() {
    server_.ResetServer();
    const size_t before = box_.Messages().size();
    PSRAMAExtensionInit();
    std::vector<std::string> texts;
    for (size_t i = before; i < box_.Messages().size(); ++i) texts.push_back(box_.Messages()[i].text);
    return texts;
  }
};

TEST_F(XineramaTest, RegistrationAndActivation) {
  ORVRec* rec = MergedScreen();
  const std::string added = "Initialized Pseudo-Xinerama extension\n";
  struct Case {
    const char* name;
    void (*arrange)(ORVRec* rec);
    std::vector<std::string> messages;
    bool registered;
    bool active;
  };
  const Case cases[] = {
      {"merged", [](ORVRec*) {}, {added, "Pseudo-Xinerama: Enabled.\n"}, true, true},
      {"four-display series", [](ORVRec* r) { r->merged = 0; r->quadBoard = 1; },
       {added, "Pseudo-Xinerama: Enabled.\n"}, true, true},
      {"single", [](ORVRec* r) { r->merged = 0; }, {added, "Pseudo-Xinerama: Disabled.\n"}, true, false},
      {"head index 2", [](ORVRec* r) { r->head = 2; },
       {added, "Pseudo-Xinerama: Disabled. More than 1 screen detected : 2\n"}, true, false},
      {"rotated four-display series", [](ORVRec* r) { r->quadBoard = 1; r->shadowRotate = 1; },
       {added, "Pseudo-Xinerama: Disabled. KVD and Pivot combination is unsupported.\n"}, true, false},
      {"rotated three heads", [](ORVRec* r) { r->merged = 0; r->spanthree = 1; r->shadowRotate = -1; },
       {added, "Pseudo-Xinerama: Disabled. Spanthree and Pivot combination is unsupported.\n"}, true, false},
      {"rotated four heads", [](ORVRec* r) { r->merged = 0; r->spanfour = 1; r->shadowRotate = 1; },
       {added, "Pseudo-Xinerama: Disabled. Spanfour and Pivot combination is unsupported.\n"}, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ORVRec saved = *rec;
    c.arrange(rec);
    EXPECT_EQ(Init(), c.messages);
    EXPECT_EQ(server_.ExtensionMajor("XINERAMA") >= 128, c.registered);
    EXPECT_EQ(PSRAMAIsActive(), c.active);
    EXPECT_EQ(rec->pseudoXineramaActive, c.active ? 1 : 0);
    *rec = saved;
  }

  // Refusals: the extension stays out and inactive.
  EXPECT_EQ(Init().size(), 2u);  // merged: active
  EXPECT_EQ(std::vector<std::string>{"Failed to initialize Pseudo-Xinerama extension\n"},
            [&] {  // a second registration in the same generation
              const size_t before = box_.Messages().size();
              PSRAMAExtensionInit();
              return std::vector<std::string>{box_.Messages()[before].text};
            }());
  EXPECT_FALSE(PSRAMAIsActive());
  server_.ResetServer();
  server_.FailNextAddExtension();
  PSRAMAExtensionInit();
  EXPECT_TRUE(box_.Logged("Failed to initialize Pseudo-Xinerama extension\n", X_ERROR));
  EXPECT_EQ(server_.ExtensionMajor("XINERAMA"), -1);
  server_.SetXinerama(true);
  EXPECT_EQ(Init(), std::vector<std::string>{"Xinerama active, not initializing Pseudo-Xinerama\n"});
  EXPECT_EQ(server_.ExtensionMajor("XINERAMA"), -1);
  server_.SetXinerama(false);
  AddScreen();
  EXPECT_EQ(Init(), std::vector<std::string>{
                        "More than one screen detected, not initializing Pseudo-Xinerama\n"});
  EXPECT_FALSE(PSRAMAIsActive());
}

class XineramaRequests : public XineramaTest, public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    XineramaTest::SetUp();
    rec_ = MergedScreen();
    Init();
    ASSERT_TRUE(PSRAMAIsActive());
    major_ = server_.ExtensionMajor("XINERAMA");
    server_.AddWindow(kWindow);
    client_ = server_.NewClient(GetParam());
  }
  bool S() const { return GetParam(); }
  std::vector<uint8_t> Ask(uint8_t minor, uint16_t words, std::vector<uint32_t> fields, int* status) {
    *status = server_.Request(client_, Request(major_, minor, words, S(), fields));
    return server_.TakeOutput(client_);
  }
  ORVRec* rec_ = nullptr;
  int major_ = -1;
  ClientPtr client_ = nullptr;
};

TEST_P(XineramaRequests, AnswersFromTheHeadLayout) {
  int status = -1;
  std::vector<uint8_t> r = Ask(0, 2, {}, &status);
  ASSERT_EQ(status, Success);
  EXPECT_EQ(Get16(r, 8, S()), 1);
  EXPECT_EQ(Get16(r, 10, S()), 1);

  r = Ask(1, 2, {kWindow}, &status);
  EXPECT_EQ(r[1], 1);  // active
  r = Ask(2, 2, {kWindow}, &status);
  EXPECT_EQ(r[1], 2);  // heads
  r = Ask(3, 3, {kWindow, 1}, &status);
  ASSERT_EQ(status, Success);
  EXPECT_EQ(Get32(r, 8, S()), 1280u);
  EXPECT_EQ(Get32(r, 12, S()), 1024u);
  r = Ask(4, 1, {}, &status);
  EXPECT_EQ(Get32(r, 8, S()), 1u);

  r = Ask(5, 1, {}, &status);
  ASSERT_EQ(r.size(), 48u);
  EXPECT_EQ(Get16(r, 2, S()), 6);  // the sixth request
  EXPECT_EQ(Get32(r, 4, S()), 4u);
  EXPECT_EQ(Get32(r, 8, S()), 2u);
  EXPECT_EQ(Get16(r, 32, S()), 0);
  EXPECT_EQ(Get16(r, 40, S()), 1280);  // the second head starts at the first's width
  EXPECT_EQ(Get16(r, 44, S()), 1280);
  EXPECT_EQ(Get16(r, 46, S()), 1024);

  // Inactive: no rectangles, GetState and IsActive answer 0.
  rec_->merged = 0;
  Init();
  r = Ask(5, 1, {}, &status);
  EXPECT_EQ(r.size(), 32u);
  EXPECT_EQ(Get32(r, 8, S()), 0u);
  r = Ask(1, 2, {kWindow}, &status);
  EXPECT_EQ(r[1], 0);
}

TEST_P(XineramaRequests, Refusals) {
  struct Case {
    const char* name;
    uint8_t minor;
    uint16_t words;
    std::vector<uint32_t> fields;
    int status;
  };
  const Case cases[] = {
      {"QueryVersion of 1 word", 0, 1, {}, BadLength},
      {"GetScreenSize of 2 words", 3, 2, {kWindow}, BadLength},
      {"IsActive of 2 words", 4, 2, {}, BadLength},
      {"unknown window", 1, 2, {kWindow + 1}, BadWindow},
      {"GetScreenSize of head 2 of 2", 3, 3, {kWindow, 2}, BadValue},
      {"minor 6", 6, 1, {}, BadRequest},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int status = -1;
    const std::vector<uint8_t> r = Ask(c.minor, c.words, c.fields, &status);
    EXPECT_EQ(status, c.status);
    ASSERT_EQ(r.size(), 32u);
    EXPECT_EQ(r[0], X_Error);
  }
  // Screen 0 without this driver's record.
  xf86Screens[0]->PreInit = nullptr;
  int status = -1;
  Ask(2, 2, {kWindow}, &status);
  EXPECT_EQ(status, BadRequest);
  Ask(5, 1, {}, &status);
  EXPECT_EQ(status, BadRequest);
  xf86Screens[0]->PreInit = ORVPreInit;
}

INSTANTIATE_TEST_SUITE_P(ByteOrder, XineramaRequests, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("Swapped") : std::string("Native");
                         });

}  // namespace
