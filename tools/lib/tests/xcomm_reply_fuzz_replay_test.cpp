// Replays the timing-record fuzzer's corpus and the inputs it once failed
// on, under the normal build.
#include <gtest/gtest.h>

#include <cstdint>

#include "core/orvcfg_records.h"
#include "tests/support/fuzz_replay.h"
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
