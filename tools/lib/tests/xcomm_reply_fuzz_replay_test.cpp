// Replays the reply fuzzer's corpus and the inputs it once failed on,
// under the normal build.
#include <gtest/gtest.h>

#include <cstdint>

#include "core/orvcfg_proto.h"
#include "core/orvcfg_records.h"
#include "platform/orvcfg/fake_orvcfg_server.h"
#include "tests/support/fuzz_replay.h"
#include "tools/lib/XCommChannel.h"
#include "tools/lib/XCommInterface.h"

TEST(XCommReplyFuzzReplay, CorpusDecodesCleanly) { orvtest::ReplayCorpus("xcomm_reply_fuzz"); }

// Clocks that lie just under their kHz value as MHz doubles once went back
// to the server 1 kHz low.
TEST(XCommReplyFuzzReplay, PixelClockSurvivesTheRoundTrip) {
  const uint32_t clocks[] = {1001, 2010, 32010, 65000, 108000, 2127219402};
  for (uint32_t khz : clocks) {
    ORVCFGVideoMode reply{};
    reply.ulPixClock = khz;
    UiModeLine line{};
    ConvertORVCFGValidateOutputToUiModeLine(&line, &reply);
    ORVCFGVideoMode again;
    ConvertUiModeLineToORVCFGVideoMode(&again, &line);
    EXPECT_EQ(again.ulPixClock, khz) << khz;
  }
}

// The fuzz target's server answers millions of requests: it keeps no
// record of them when asked not to.
TEST(XCommReplyFuzzReplay, TheServerRecordsRequestsOnlyWhenAsked) {
  FakeOrvCfgServer server;
  ASSERT_TRUE(server.Start());
  setenv("DISPLAY", server.DisplayName().c_str(), 1);
  Display* dpy = ORVCFGInitialize();
  ASSERT_NE(dpy, nullptr);
  server.SetReply(X_ORVCFGGetNBBoard, {2, 0, 0, 0});
  int count = 0;
  EXPECT_EQ(ORVCFGGetNBBoard(dpy, &count), 1);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(server.Requests().size(), 1u);
  server.RecordRequests(false);
  EXPECT_EQ(ORVCFGGetNBBoard(dpy, &count), 1);
  EXPECT_EQ(server.Requests().size(), 1u);
  ORVCFGShutdown(dpy);
}
