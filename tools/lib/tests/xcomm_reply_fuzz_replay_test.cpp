// Replays the timing-record fuzzer's corpus and the inputs it once failed
// on, under the normal build.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/orvcfg/orvcfg_records.h"
#include "tools/lib/XCommInterface.h"
#include "tools/lib/tests/sysfixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

TEST(XCommReplyFuzzReplay, CorpusDecodesCleanly) {
  const char* source = std::getenv("ORV_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  std::filesystem::path dir = std::filesystem::path(source) / "tests/data/xcomm_reply_fuzz";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().filename() == "README.md") continue;
    std::string bytes = ReadFile(entry.path().string());
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    EXPECT_EQ(LLVMFuzzerTestOneInput(copy.data(), copy.size()), 0) << entry.path();
    ++files;
  }
  EXPECT_GT(files, 0);
}

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
