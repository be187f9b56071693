// Every input of the configuration update fuzz corpus, and the real
// configuration files behind choices of every kind, replayed.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/support/fuzz_replay.h"

TEST(ConfigUpdateFuzzReplay, CorpusRunsCleanly) { orvtest::ReplayCorpus("config_update_fuzz"); }

TEST(ConfigUpdateFuzzReplay, RealFilesRunCleanly) {
  // Nothing given; everything given (two outputs, merged, vertical,
  // resolutions, rates and depths, rotations, overwrite with the board's
  // capabilities).
  const std::vector<std::vector<uint8_t>> choices = {
      std::vector<uint8_t>(16, 0),
      {0xFF, 0x7F, 1, 0, 0x1F, 0, 1, 0x9, 0, 1, 1, 2, 3, 2, 0, 0},
  };
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(orvtest::CorpusDir("xorg-conf"))) {
    if (entry.path().extension() != ".conf") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<uint8_t> text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const std::vector<uint8_t>& c : choices) {
      std::vector<uint8_t> input = c;
      input.insert(input.end(), text.begin(), text.end());
      EXPECT_EQ(LLVMFuzzerTestOneInput(input.data(), input.size()), 0) << entry.path();
    }
    ++files;
  }
  EXPECT_EQ(files, 60);
}
