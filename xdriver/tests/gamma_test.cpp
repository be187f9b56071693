// Per-head gamma, the ORVGamma requests in both byte orders, and the DPMS
// hook: what the facade is handed and what the client gets back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/xserver/screen_layer.h"
#include "xdriver/orv_gamma.h"
#include "xdriver/tests/bare_screen_fixture.h"

namespace {

using baretest::Get16;
using baretest::Get32;

using baretest::LutCalls;
using baretest::PowerStates;

// A request of `words` 4-byte units with the given fields, in the client's
// byte order.
class Req {
 public:
  Req(int major, uint8_t minor, size_t words, bool swapped) : bytes_(words * 4), swapped_(swapped) {
    bytes_[0] = static_cast<uint8_t>(major);
    bytes_[1] = minor;
    Put16(2, static_cast<uint16_t>(words));
  }
  Req& Put16(size_t at, uint16_t v) {
    if (swapped_) v = static_cast<uint16_t>(v >> 8 | v << 8);
    std::memcpy(&bytes_[at], &v, 2);
    return *this;
  }
  Req& Put32(size_t at, uint32_t v) {
    if (swapped_) v = __builtin_bswap32(v);
    std::memcpy(&bytes_[at], &v, 4);
    return *this;
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  bool swapped_;
};

class GammaTest : public baretest::BareScreens, public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    BareScreens::SetUp();
    ORVGammaExtensionInit();
    major_ = server_.ExtensionMajor("ORVGamma");
    ASSERT_GE(major_, 128);
    client_ = server_.NewClient(GetParam());
  }
  bool Swapped() const { return GetParam(); }
  Req Make(uint8_t minor, size_t words) const { return Req(major_, minor, words, Swapped()); }
  int Send(const Req& r) { return server_.Request(client_, r.bytes()); }

  Req SetGamma(uint16_t screen, uint32_t r, uint32_t g, uint32_t b, uint32_t head) const {
    Req q = Make(0, 8);
    q.Put16(4, screen).Put32(8, r).Put32(12, g).Put32(16, b).Put32(20, head);
    return q;
  }
  Req GetGamma(uint16_t screen, uint16_t head) const {
    Req q = Make(1, 8);
    q.Put16(4, screen).Put16(8, head);
    return q;
  }
  Req Query(uint8_t minor, uint16_t screen) const {
    Req q = Make(minor, 2);
    q.Put16(4, screen);
    return q;
  }

  int major_ = -1;
  ClientPtr client_ = nullptr;
};

TEST_P(GammaTest, SetGammaLoadsTheHeadAndGetGammaReadsItBack) {
  AddScreen();
  ORVRec* rec = AddScreen();
  ASSERT_EQ(Send(SetGamma(1, 22000, 10000, 18000, 2)), Success);
  ASSERT_EQ(LutCalls().size(), 1u);
  const baretest::LutCall& call = LutCalls()[0];
  EXPECT_EQ(call.controller, 2u);
  EXPECT_EQ(call.first, 0u);
  EXPECT_EQ(call.count, 256u);
  EXPECT_EQ(call.zero, 0u);
  EXPECT_FLOAT_EQ(rec->gamma[2][0], 2.2f);
  // Green at 1.0 is the identity: the 8-bit index widened to 10 bits.
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(call.entries[256 + i], ((4 * i + i / 64) << 6)) << i;
  EXPECT_EQ(call.entries[256 + 255], 1023 << 6);
  // Red 2.2 against a reference computed here.
  for (int i : {1, 64, 128, 200}) {
    const double x = (4.0 * i + i / 64) / 1023.0;
    const uint32_t want = static_cast<uint32_t>(std::pow(x, 1.0 / 2.2f) * 1023.0) << 6;
    EXPECT_EQ(call.entries[i], want) << i;
  }

  server_.TakeOutput(client_);
  ASSERT_EQ(Send(GetGamma(1, 2)), Success);
  const std::vector<uint8_t> reply = server_.TakeOutput(client_);
  ASSERT_EQ(reply.size(), 32u);
  EXPECT_EQ(reply[0], X_Reply);
  EXPECT_EQ(Get16(reply, 2, Swapped()), 2);  // the second request
  EXPECT_EQ(Get32(reply, 4, Swapped()), 0u);
  const uint32_t red = Get32(reply, 8, Swapped());
  EXPECT_TRUE(red == 22000 || red == 21999) << red;
  EXPECT_EQ(Get32(reply, 12, Swapped()), 10000u);
  EXPECT_EQ(Get32(reply, 16, Swapped()), 18000u);
}

TEST_P(GammaTest, SetGammaRampLoadsTheRampsSixtyFourTimesAndKeptToSixteenBits) {
  AddScreen();
  Req q = Make(2, 386);
  q.Put16(4, 0).Put16(6, 3);
  for (int i = 0; i < 768; ++i) q.Put16(8 + 2 * i, static_cast<uint16_t>(i * 7));
  q.Put16(8 + 2 * 767, 0x0401);  // beyond 10 bits: the top is lost
  ASSERT_EQ(Send(q), Success);
  ASSERT_EQ(LutCalls().size(), 1u);
  EXPECT_EQ(LutCalls()[0].controller, 3u);
  EXPECT_EQ(LutCalls()[0].entries[5], 35 << 6);
  EXPECT_EQ(LutCalls()[0].entries[256 + 3], (259 * 7) << 6 & 0xFFFF);
  EXPECT_EQ(LutCalls()[0].entries[767], 0x0040);
}

TEST_P(GammaTest, RefusedRequests) {
  AddScreen();
  AddScreen(/*ours=*/false);
  struct Case {
    const char* name;
    Req request;
    int status;
  };
  Req ramp385 = Make(2, 385);
  Req ramp387 = Make(2, 387);
  Req shortSet = Make(0, 7);
  Req longQuery = Make(4, 3);
  const Case cases[] = {
      {"ramp of 385 words", ramp385, BadLength},
      {"ramp of 387 words", ramp387, BadLength},
      {"SetGamma of 7 words", shortSet, BadLength},
      {"QueryScreen of 3 words", longQuery, BadLength},
      {"minor 3", Make(3, 2), BadRequest},
      {"minor 6", Make(6, 2), BadRequest},
      {"SetGamma on screen 2 of 2", SetGamma(2, 10000, 10000, 10000, 0), BadValue},
      {"SetGamma on another driver's screen", SetGamma(1, 10000, 10000, 10000, 0), BadValue},
      {"SetGamma on head 4", SetGamma(0, 10000, 10000, 10000, 4), BadValue},
      {"GetGamma on head 4", GetGamma(0, 4), BadValue},
      {"QueryScreen on screen 2", Query(4, 2), BadValue},
      {"GetHeads on another driver's screen", Query(5, 1), BadRequest},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Send(c.request), c.status);
    const std::vector<uint8_t> out = server_.TakeOutput(client_);
    ASSERT_EQ(out.size(), 32u);
    EXPECT_EQ(out[0], X_Error);
    EXPECT_EQ(out[1], c.status);
  }
  Req ramp = Make(2, 386);
  ramp.Put16(4, 0).Put16(6, 4);
  EXPECT_EQ(Send(ramp), BadValue);  // head 4 has no slot
  EXPECT_TRUE(LutCalls().empty());
}

TEST_P(GammaTest, QueryScreenAndGetHeadsDescribeTheScreen) {
  ORVRec* rec = AddScreen();
  AddScreen(/*ours=*/false);
  rec->headCount = 2;
  const int32_t rects[2][4] = {{0, 0, 1280, 1024}, {1280, 0, 1024, 768}};
  std::memcpy(rec->headRects, rects, sizeof(rects));
  rec->shadowRotate = -1;
  rec->pseudoXineramaActive = 1;

  ASSERT_EQ(Send(Query(4, 0)), Success);
  std::vector<uint8_t> r = server_.TakeOutput(client_);
  ASSERT_EQ(r.size(), 32u);
  EXPECT_EQ(Get32(r, 8, Swapped()), 1u);
  EXPECT_EQ(Get32(r, 12, Swapped()), 2u);
  EXPECT_EQ(Get32(r, 16, Swapped()), 0xFFFFFFFFu);
  EXPECT_EQ(Get32(r, 20, Swapped()), 0u);
  EXPECT_EQ(Get32(r, 24, Swapped()), 1u);

  ASSERT_EQ(Send(Query(4, 1)), Success);  // another driver's screen
  r = server_.TakeOutput(client_);
  ASSERT_EQ(r.size(), 32u);
  EXPECT_EQ(std::vector<uint8_t>(r.begin() + 8, r.end()), std::vector<uint8_t>(24, 0));

  ASSERT_EQ(Send(Query(5, 0)), Success);
  r = server_.TakeOutput(client_);
  ASSERT_EQ(r.size(), 48u);
  EXPECT_EQ(Get32(r, 4, Swapped()), 4u);
  EXPECT_EQ(Get32(r, 8, Swapped()), 2u);
  EXPECT_EQ(Get16(r, 40, Swapped()), 1280);  // second head's x
  EXPECT_EQ(Get16(r, 44, Swapped()), 1024);  // its width
  EXPECT_EQ(Get16(r, 46, Swapped()), 768);
}

INSTANTIATE_TEST_SUITE_P(ByteOrder, GammaTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("Swapped") : std::string("Native");
                         });

class GammaHeadsTest : public baretest::BareScreens {};

// The heads the screen's gamma hook sets, by desktop kind; the screen
// drives head index 2, which comes last.
TEST_F(GammaHeadsTest, ChangeGammaSetsEveryHeadOfTheDesktop) {
  struct Case {
    const char* name;
    int32_t ORVRec::*flag;
    std::vector<uint32_t> heads;
  };
  const Case cases[] = {
      {"merged", &ORVRec::merged, {1, 2}},
      {"three heads", &ORVRec::spanthree, {0, 1, 2, 3, 2}},
      {"three single heads", &ORVRec::s3i, {0, 1, 2, 3, 2}},
      {"four heads", &ORVRec::spanfour, {0, 2, 1, 3, 2}},
      {"four single heads", &ORVRec::s4i, {0, 2, 1, 3, 2}},
      {"single", nullptr, {2}},
  };
  ORVRec* rec = AddScreen();
  rec->head = 2;
  rec->head3 = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LutCalls().clear();
    rec->merged = rec->spanthree = rec->s3i = rec->spanfour = rec->s4i = 0;
    if (c.flag != nullptr) rec->*(c.flag) = 1;
    EXPECT_EQ(ORVChangeGamma(0, Gamma{1.5f, 1.0f, 0.8f}), 0);
    std::vector<uint32_t> heads;
    for (const auto& call : LutCalls()) heads.push_back(call.controller);
    EXPECT_EQ(heads, c.heads);
    EXPECT_FLOAT_EQ(xf86Screens[0]->gamma.red, 1.5f);
  }
  Gamma got{};
  ORVGetGammaCrtc(0, &got, 1);
  EXPECT_FLOAT_EQ(got.blue, 0.8f);
}

TEST_F(GammaHeadsTest, PowerLevelsZeroToThreeSwitchTheBoardAndOthersAreIgnored) {
  AddScreen();
  ASSERT_TRUE(xf86DPMSInit(xf86Screens[0]->pScreen, ORVDisplayPowerManagementSet, 0));
  const char* const messages[] = {"DPMS Mode : On\n", "DPMS Mode : Standby\n",
                                  "DPMS Mode : Suspend\n", "DPMS Mode : Off\n"};
  const uint32_t states[] = {0, 1, 4, 8};
  for (int mode = 0; mode < 4; ++mode) {
    SCOPED_TRACE(mode);
    PowerStates().clear();
    ASSERT_TRUE(server_.SetDPMS(0, mode));
    EXPECT_TRUE(box_.Logged(messages[mode], X_INFO));
    EXPECT_EQ(PowerStates(), (std::vector<uint32_t>{0x20000000 + states[mode], 0x10000000 + states[mode]}));
  }
  PowerStates().clear();
  const size_t logged = box_.Messages().size();
  ASSERT_TRUE(server_.SetDPMS(0, 4));
  EXPECT_TRUE(PowerStates().empty());
  EXPECT_EQ(box_.Messages().size(), logged);
}

}  // namespace
