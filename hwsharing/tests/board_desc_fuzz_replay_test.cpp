// Replays the board description fuzzer's corpus and the inputs it once
// failed on, under the normal build.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

TEST(BoardDescFuzzReplay, CorpusReadsCleanly) {
  const char* source = std::getenv("ORV_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  std::filesystem::path dir = std::filesystem::path(source) / "tests/data/board_desc_fuzz";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().filename() == "README.md") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0) << entry.path();
    ++files;
  }
  EXPECT_GT(files, 0);
}
