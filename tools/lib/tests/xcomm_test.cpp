#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/orvcfg_proto.h"
#include "tools/lib/XCommChannel.h"
#include "tools/lib/XCommInterface.h"
#include "tools/lib/XValidationInterface.h"
#include "tools/testsupport/fake_extension.h"
#include "tools/testsupport/xvfb.h"

namespace {

constexpr uint8_t kMajor = FakeOrvCfgServer::kMajorOpcode;

using tools_test::Bytes;

// A request as the protocol lays it out: header word, screen 0, fields.
std::vector<uint8_t> Request(uint8_t minor, uint16_t length, std::vector<uint32_t> fields,
                             const std::vector<uint8_t>& tail = {}) {
  std::vector<uint32_t> words{uint32_t(kMajor) | uint32_t(minor) << 8 | uint32_t(length) << 16, 0};
  words.insert(words.end(), fields.begin(), fields.end());
  std::vector<uint8_t> out = Bytes(words.data(), words.size() * 4);
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

ORVCFGVideoMode SampleMode() {
  ORVCFGVideoMode m{};
  uint32_t* w = reinterpret_cast<uint32_t*>(&m);
  for (int i = 0; i < 18; ++i) w[i] = 0x01010101u * uint32_t(i + 1);
  return m;
}

UiModeLine Mode1024x768() {
  UiModeLine m{};
  std::strcpy(m.name, "1024x768");
  m.clock = 65.0;
  m.hdisplay = 1024;
  m.hsyncstart = 1048;
  m.hsyncend = 1184;
  m.htotal = 1344;
  m.vdisplay = 768;
  m.vsyncstart = 771;
  m.vsyncend = 777;
  m.vtotal = 806;
  m.hpolarity = kPolarityNegative;
  m.vpolarity = kPolarityPositive;
  return m;
}

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tools_test::ServeAsDisplay(server_));
    dpy_ = ORVCFGInitialize();
    ASSERT_NE(dpy_, nullptr);
  }
  void TearDown() override {
    ORVCFGShutdown(dpy_);
    unsetenv("DISPLAY");
  }

  FakeOrvCfgServer server_;
  Display* dpy_ = nullptr;
};

struct WireCase {
  const char* name;
  std::function<void(Display*)> call;
  std::vector<uint8_t> expected;
};

TEST_F(ChannelTest, RequestBytes) {
  const ORVCFGVideoMode mode = SampleMode();
  const std::vector<uint8_t> modeBytes = Bytes(&mode, sizeof mode);
  int i1, i2, i3;
  int32_t v;
  ORVCFGVideoMode m;
  auto cap = std::make_unique<ORVCFGGenericBoardCap>();
  auto state = std::make_unique<ORVCFGOutputState>();
  ORVCFGGenericBoardState boardState;
  const WireCase cases[] = {
      {"GetVersion", [&](Display* d) { ORVCFGGetVersion(d, &i1, &i2, &i3); },
       Request(1, 2, {})},
      {"GetNBBoard", [&](Display* d) { ORVCFGGetNBBoard(d, &i1); }, Request(2, 2, {})},
      {"GetBoardByAddress", [&](Display* d) { ORVCFGGetBoardByAddress(d, 1, 2, 3, &i1); },
       Request(3, 5, {1, 2, 3})},
      {"ValidateMode", [&](Display* d) { ORVCFGValidateMode(d, 1, 2, 2, &mode); },
       Request(4, 23, {1, 2, 2}, modeBytes)},
      {"GetGenericBoardCap", [&](Display* d) { ORVCFGGetGenericBoardCap(d, 1, cap.get()); },
       Request(5, 3, {1})},
      {"GetSpecificBoardCap", [&](Display* d) { ORVCFGGetSpecificBoardCap(d, 0, 7, &v); },
       Request(6, 4, {0, 7})},
      {"GetOutputState", [&](Display* d) { ORVCFGGetOutputState(d, 0, 3, state.get()); },
       Request(7, 4, {0, 3})},
      {"GetGenericBoardState", [&](Display* d) { ORVCFGGetGenericBoardState(d, 2, &boardState); },
       Request(8, 3, {2})},
      {"ValidateModeEDID", [&](Display* d) { ORVCFGValidateModeEDID(d, 1, 1, &mode); },
       Request(9, 23, {0, 1, 1}, modeBytes)},
      {"GetDetailledTiming", [&](Display* d) { ORVCFGGetDetailledTiming(d, 1280, 1024, 75, &m); },
       Request(10, 5, {1280, 1024, 75})},
  };
  for (const WireCase& c : cases) {
    size_t before = server_.Requests().size();
    c.call(dpy_);
    auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), before + 1) << c.name;
    EXPECT_EQ(requests.back().bytes, c.expected) << c.name;
  }
}

TEST_F(ChannelTest, DecodesReplies) {
  const uint32_t version[3] = {1, 2, 3};
  server_.SetReply(X_ORVCFGGetVersion, Bytes(version, sizeof version));
  int major = 0, minor = 0, patch = 0;
  EXPECT_EQ(ORVCFGGetVersion(dpy_, &major, &minor, &patch), 1);
  EXPECT_EQ(major * 10000 + minor * 100 + patch, 10203);

  const uint32_t count = 2, index = 1;
  server_.SetReply(X_ORVCFGGetNBBoard, Bytes(&count, 4));
  server_.SetReply(X_ORVCFGGetBoardByAddress, Bytes(&index, 4));
  int n = 0, board = 0;
  EXPECT_EQ(ORVCFGGetNBBoard(dpy_, &n), 1);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(ORVCFGGetBoardByAddress(dpy_, 1, 0, 0, &board), 1);
  EXPECT_EQ(board, 1);

  ORVCFGGenericBoardCap cap{};
  std::strcpy(cap.szName, "Kestrion KB-400 Quad Display");
  cap.ulDriverFamily = 1;
  cap.ulSubsystemId = 0x0102;
  cap.ulDeviceId = 0x5D61;
  cap.ulMaxOutputs = 4;
  cap.ulOpenGL = 1;
  cap.ulRotation = 1;
  server_.SetReply(X_ORVCFGGetGenericBoardCap, Bytes(&cap, sizeof cap));
  ORVCFGGenericBoardCap got{};
  EXPECT_EQ(ORVCFGGetGenericBoardCap(dpy_, 0, &got), 1);
  EXPECT_EQ(std::memcmp(&got, &cap, sizeof cap), 0);

  auto state = std::make_unique<ORVCFGOutputState>();
  uint8_t* raw = reinterpret_cast<uint8_t*>(state.get());
  for (size_t i = 0; i < sizeof *state; ++i) raw[i] = uint8_t(i * 7 + 3);
  server_.SetReply(X_ORVCFGGetOutputState, Bytes(state.get(), sizeof *state));
  auto gotState = std::make_unique<ORVCFGOutputState>();
  EXPECT_EQ(ORVCFGGetOutputState(dpy_, 0, 1, gotState.get()), 1);
  EXPECT_EQ(std::memcmp(gotState.get(), state.get(), sizeof *state), 0);

  const ORVCFGGenericBoardState boardState{{6, 5, 4, 3, 2, 1}};
  server_.SetReply(X_ORVCFGGetGenericBoardState, Bytes(&boardState, sizeof boardState));
  ORVCFGGenericBoardState gotBoardState{};
  EXPECT_EQ(ORVCFGGetGenericBoardState(dpy_, 0, &gotBoardState), 1);
  EXPECT_EQ(std::memcmp(&gotBoardState, &boardState, sizeof boardState), 0);

  const ORVCFGVideoMode mode = SampleMode();
  server_.SetReply(X_ORVCFGGetDetailledTiming, Bytes(&mode, sizeof mode));
  ORVCFGVideoMode gotMode{};
  EXPECT_EQ(ORVCFGGetDetailledTiming(dpy_, 1280, 1024, 60, &gotMode), 1);
  EXPECT_EQ(std::memcmp(&gotMode, &mode, sizeof mode), 0);

  const int32_t capValue = -5;
  server_.SetReply(X_ORVCFGGetSpecificBoardCap, Bytes(&capValue, 4));
  int32_t value = 0;
  EXPECT_EQ(ORVCFGGetSpecificBoardCap(dpy_, 0, 0, &value), 1);
  EXPECT_EQ(value, -5);

  const uint32_t status = 7;
  server_.SetReply(X_ORVCFGValidateMode, Bytes(&status, 4));
  server_.SetReply(X_ORVCFGValidateModeEDID, Bytes(&status, 4));
  EXPECT_EQ(ORVCFGValidateMode(dpy_, 0, 0, 1, &mode), 7u);
  EXPECT_EQ(ORVCFGValidateModeEDID(dpy_, 0, 1, &mode), 7u);
}

TEST_F(ChannelTest, ErrorMeansNoReplyAndLeavesOutputs) {
  int32_t value = 42;
  EXPECT_EQ(ORVCFGGetSpecificBoardCap(dpy_, 0, 0, &value), 0);
  EXPECT_EQ(value, 42);
  ORVCFGVideoMode mode = SampleMode();
  EXPECT_EQ(ORVCFGGetDetailledTiming(dpy_, 1, 1, 1, &mode), 0);
  EXPECT_EQ(mode.ulRefreshRate, SampleMode().ulRefreshRate);
  EXPECT_EQ(ORVCFGValidateMode(dpy_, 0, 0, 1, &mode), 0u);
  // The connection is still usable.
  const uint32_t count = 3;
  server_.SetReply(X_ORVCFGGetNBBoard, Bytes(&count, 4));
  int n = 0;
  EXPECT_EQ(ORVCFGGetNBBoard(dpy_, &n), 1);
  EXPECT_EQ(n, 3);
}

TEST_F(ChannelTest, ShortReplyIsRefusedAndLongReplyIsTrimmed) {
  auto state = std::make_unique<ORVCFGOutputState>();
  std::memset(state.get(), 0x5a, sizeof *state);
  server_.SetReply(X_ORVCFGGetOutputState, Bytes(state.get(), 600), 100);  // 489 needed
  auto got = std::make_unique<ORVCFGOutputState>();
  EXPECT_EQ(ORVCFGGetOutputState(dpy_, 0, 0, got.get()), 0);
  EXPECT_EQ(got->ulOutput, 0u);

  ORVCFGVideoMode mode = SampleMode();
  std::vector<uint8_t> longer = Bytes(&mode, sizeof mode);
  longer.resize(200, 0xee);
  server_.SetReply(X_ORVCFGGetDetailledTiming, longer);
  ORVCFGVideoMode gotMode{};
  EXPECT_EQ(ORVCFGGetDetailledTiming(dpy_, 1, 1, 1, &gotMode), 1);
  EXPECT_EQ(std::memcmp(&gotMode, &mode, sizeof mode), 0);

  // Both replies were consumed whole: the next request reads its own.
  const uint32_t count = 4;
  server_.SetReply(X_ORVCFGGetNBBoard, Bytes(&count, 4));
  int n = 0;
  EXPECT_EQ(ORVCFGGetNBBoard(dpy_, &n), 1);
  EXPECT_EQ(n, 4);
}

TEST(ModeConversion, UiModeLineToVideoMode) {
  UiModeLine line = Mode1024x768();
  ORVCFGVideoMode m;
  std::memset(&m, 0xff, sizeof m);
  ConvertUiModeLineToORVCFGVideoMode(&m, &line);
  const uint32_t expected[18] = {60, 48, 65000, 1024, 24, 136, 160, 0, 768, 3, 6, 29, 0,
                                 ORVCFG_MODE_VSYNC_POSITIVE, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(&m, expected, sizeof expected), 0);

  line.hpolarity = kPolarityPositive;
  line.vpolarity = kPolarityNegative;
  line.clock = 65.5;
  ConvertUiModeLineToORVCFGVideoMode(&m, &line);
  EXPECT_EQ(m.ulFlags, ORVCFG_MODE_HSYNC_POSITIVE);
  EXPECT_EQ(m.ulPixClock, 65500u);
}

TEST(ModeConversion, EmptyTotalsGiveZeroRates) {
  UiModeLine line{};
  line.clock = 100.0;
  ORVCFGVideoMode m;
  ConvertUiModeLineToORVCFGVideoMode(&m, &line);
  EXPECT_EQ(m.ulRefreshRate, 0u);
  EXPECT_EQ(m.ulLineRate, 0u);
  EXPECT_EQ(m.ulPixClock, 100000u);
  line.clock = -3.0;
  ConvertUiModeLineToORVCFGVideoMode(&m, &line);
  EXPECT_EQ(m.ulPixClock, 0u);
}

TEST(ModeConversion, VideoModeToUiModeLineKeepsNameAndFraction) {
  ORVCFGVideoMode m{};
  m.ulPixClock = 65500;
  m.ulHActive = 1024;
  m.ulHFrontPorch = 24;
  m.ulHSyncWidth = 136;
  m.ulHBackPorch = 160;
  m.ulVActive = 768;
  m.ulVFrontPorch = 3;
  m.ulVSyncWidth = 6;
  m.ulVBackPorch = 29;
  m.ulFlags = ORVCFG_MODE_HSYNC_POSITIVE;
  UiModeLine line{};
  std::strcpy(line.name, "kept");
  ConvertORVCFGValidateOutputToUiModeLine(&line, &m);
  EXPECT_STREQ(line.name, "kept");
  EXPECT_DOUBLE_EQ(line.clock, 65.5);
  const int32_t timings[8] = {line.hdisplay, line.hsyncstart, line.hsyncend, line.htotal,
                              line.vdisplay, line.vsyncstart, line.vsyncend, line.vtotal};
  const int32_t expected[8] = {1024, 1048, 1184, 1344, 768, 771, 777, 806};
  EXPECT_EQ(std::memcmp(timings, expected, sizeof expected), 0);
  EXPECT_EQ(line.hpolarity, kPolarityPositive);
  EXPECT_EQ(line.vpolarity, kPolarityNegative);
}

class FacadeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("DISPLAY");
    ORVCommResetForTesting();
  }
  void TearDown() override {
    ORVCommResetForTesting();
    unsetenv("DISPLAY");
  }
  void UseFake() {
    ASSERT_TRUE(tools_test::ServeAsDisplay(server_));
  }
  FakeOrvCfgServer server_;
  FakeOrvCfgServer bareServer_{false};
};

// Every facade call with the extension absent, checked for its answer.
void ExpectAbsentAnswers() {
  UiModeLine line = Mode1024x768();
  UiModeLine untouched = line;
  EXPECT_EQ(ORVCommIsORVCfgExtFound(), 0);
  EXPECT_EQ(ORVCommGetSpecificBoardCap(0, 0), 0);
  EXPECT_EQ(ORVCommGetBoardByAddress(1, 0, 0), 0);
  EXPECT_EQ(ORVCommGetNBBoard(), 0);
  int a = 9, b = 9, c = 9;
  EXPECT_EQ(ORVCommGetVersion(&a, &b, &c), 0);
  EXPECT_EQ(a + b + c, 27);
  ORVCFGGenericBoardCap cap{};
  EXPECT_EQ(ORVCommGetGenericBoardCap(0, &cap), 0);
  ORVCFGGenericBoardState boardState{};
  EXPECT_EQ(ORVCommGetGenericBoardState(0, &boardState), 0);
  auto state = std::make_unique<ORVCFGOutputState>();
  EXPECT_EQ(ORVCommGetOutputState(0, 0, state.get()), 0);
  EXPECT_EQ(ORVCommValidateMode(0, 0, 1, &line), 0);
  EXPECT_EQ(ORVCommValidateModeEDID(0, 0, 1, &line), 0);
  EXPECT_EQ(ORVCommGetDetailledTiming(1024, 768, 60, &line), 0);
  EXPECT_EQ(std::memcmp(&line, &untouched, sizeof line), 0);
  EXPECT_FALSE(ORVCommIsBoardDVIResolutionLimited(0));
  EXPECT_FALSE(ORVCommIsMonitorContainsEdid(0, 0));
  EXPECT_EQ(XValidGetOutputType(0), 0);
  EXPECT_EQ(XValidValidateModeLine(0, &line), 0);
  EXPECT_EQ(XValidFindModeLine(0, 1024, 768, 60, &line), 1);
}

TEST_F(FacadeTest, UnderXvfbNoticeOnceAndAbsentAnswers) {
  tools_test::XvfbServer xvfb;
  if (xvfb.Display().empty()) GTEST_SKIP() << "Xvfb cannot run here";
  setenv("DISPLAY", xvfb.Display().c_str(), 1);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  ExpectAbsentAnswers();
  ExpectAbsentAnswers();
  std::string out = testing::internal::GetCapturedStdout();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, "Extension ORVCFG cannot be found\n");
  EXPECT_NE(err.find("ORVCFG"), std::string::npos) << err;
}

TEST_F(FacadeTest, WithoutDisplayNoticeOnce) {
  testing::internal::CaptureStdout();
  ExpectAbsentAnswers();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Extension ORVCFG cannot be found\n");
}

TEST_F(FacadeTest, ServerWithoutExtensionIsAskedOnce) {
  FakeOrvCfgServer& bare = bareServer_;
  ASSERT_TRUE(tools_test::ServeAsDisplay(bare));
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  ExpectAbsentAnswers();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Extension ORVCFG cannot be found\n");
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(bare.QueryExtensionCount(), 1);
}

TEST_F(FacadeTest, FailedRequestsGiveTheirFailureValues) {
  UseFake();
  UiModeLine line = Mode1024x768();
  EXPECT_EQ(ORVCommIsORVCfgExtFound(), 1);
  EXPECT_EQ(ORVCommGetSpecificBoardCap(0, 0), -1);
  EXPECT_EQ(ORVCommGetBoardByAddress(1, 0, 0), -1);
  EXPECT_EQ(ORVCommGetNBBoard(), 0);
  int a = 9, b = 9, c = 9;
  EXPECT_EQ(ORVCommGetVersion(&a, &b, &c), 1);
  EXPECT_EQ(ORVCommValidateMode(0, 0, 1, &line), 1) << "no reply counts as valid";
  EXPECT_EQ(ORVCommValidateModeEDID(0, 0, 1, &line), 1);
  EXPECT_EQ(ORVCommGetDetailledTiming(1024, 768, 60, &line), 0);
  EXPECT_EQ(line.hdisplay, 0) << "all zero without reply";
  EXPECT_STREQ(line.name, "1024x768");
}

TEST_F(FacadeTest, ValidationVerdictsAndEdidQueries) {
  UseFake();
  const uint32_t bad = 3;
  server_.SetReply(X_ORVCFGValidateMode, Bytes(&bad, 4));
  auto state = std::make_unique<ORVCFGOutputState>();
  state->ulInputType = ORVCFG_INPUT_DIGITAL;
  std::memcpy(state->szVendor, "KST", 3);
  std::memcpy(state->szSerial, "0042", 4);
  server_.SetReply(X_ORVCFGGetOutputState, Bytes(state.get(), sizeof *state));
  UiModeLine line = Mode1024x768();
  EXPECT_EQ(XValidValidateModeLine(2, &line), 0);
  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].bytes, Request(7, 4, {0, 2}));
  ORVCFGVideoMode expected;
  ConvertUiModeLineToORVCFGVideoMode(&expected, &line);
  EXPECT_EQ(requests[1].bytes, Request(4, 23, {0, 2, ORVCFG_INPUT_DIGITAL},
                                       Bytes(&expected, sizeof expected)));
  const uint32_t good = 0;
  server_.SetReply(X_ORVCFGValidateMode, Bytes(&good, 4));
  EXPECT_EQ(XValidValidateModeLine(2, &line), 1);
  EXPECT_EQ(XValidGetOutputType(2), int(ORVCFG_INPUT_DIGITAL));
  EXPECT_TRUE(ORVCommIsMonitorContainsEdid(0, 2));
  std::memset(state->szSerial, 0, sizeof state->szSerial);
  server_.SetReply(X_ORVCFGGetOutputState, Bytes(state.get(), sizeof *state));
  EXPECT_FALSE(ORVCommIsMonitorContainsEdid(0, 2));

  // Out-of-order timings never reach the server.
  size_t sent = server_.Requests().size();
  UiModeLine flat = line;
  flat.hsyncstart = flat.hdisplay;
  EXPECT_EQ(XValidValidateModeLine(2, &flat), 0);
  flat = line;
  flat.vtotal = flat.vsyncend;
  EXPECT_EQ(XValidValidateModeLine(2, &flat), 0);
  EXPECT_EQ(server_.Requests().size(), sent);
}

TEST_F(FacadeTest, DviLimitFollowsTheChipId) {
  UseFake();
  struct {
    uint32_t deviceId;
    bool limited;
  } const rows[] = {{0x0A41, true}, {0x0A42, true}, {0x5D61, false}, {0x5D63, false}};
  for (const auto& row : rows) {
    ORVCFGGenericBoardCap cap{};
    cap.ulSubsystemId = 0x0A41;  // must not be mistaken for the chip
    cap.ulDeviceId = row.deviceId;
    server_.SetReply(X_ORVCFGGetGenericBoardCap, Bytes(&cap, sizeof cap));
    EXPECT_EQ(ORVCommIsBoardDVIResolutionLimited(0), row.limited) << std::hex << row.deviceId;
  }
}

TEST_F(FacadeTest, DetailedTimingComesBackAsModeLine) {
  UseFake();
  ORVCFGVideoMode m{};
  m.ulPixClock = 108000;
  m.ulHActive = 1280;
  m.ulHFrontPorch = 48;
  m.ulHSyncWidth = 112;
  m.ulHBackPorch = 248;
  m.ulVActive = 1024;
  m.ulVFrontPorch = 1;
  m.ulVSyncWidth = 3;
  m.ulVBackPorch = 38;
  m.ulFlags = ORVCFG_MODE_HSYNC_POSITIVE | ORVCFG_MODE_VSYNC_POSITIVE;
  server_.SetReply(X_ORVCFGGetDetailledTiming, Bytes(&m, sizeof m));
  UiModeLine line{};
  EXPECT_EQ(XValidFindModeLine(99, 1280, 1024, 60, &line), 1);
  EXPECT_EQ(server_.Requests().back().bytes, Request(10, 5, {1280, 1024, 60}));
  EXPECT_DOUBLE_EQ(line.clock, 108.0);
  EXPECT_EQ(line.htotal, 1688);
  EXPECT_EQ(line.vtotal, 1066);
  EXPECT_EQ(line.hpolarity, kPolarityPositive);
}

TEST_F(FacadeTest, ShutdownIsFinal) {
  UseFake();
  EXPECT_EQ(ORVCommIsORVCfgExtFound(), 1);
  ORVCommShutdown();
  EXPECT_EQ(ORVCommIsORVCfgExtFound(), 0);
  EXPECT_EQ(ORVCommGetSpecificBoardCap(0, 0), 0);
}

}  // namespace
