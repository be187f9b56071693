// Replays a fuzz target's corpus (tests/data/<corpus>/: its seeds and the
// inputs it once failed on) through the target's entry point under the
// normal test build, so every kept input stays a regression test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace orvtest {

inline std::filesystem::path CorpusDir(const std::string& corpus) {
  const char* source = std::getenv("ORV_SOURCE_DIR");
  return std::filesystem::path(source != nullptr ? source : ".") / "tests/data" / corpus;
}

// Runs every input of the corpus; each must be answered 0. Call inside a
// test: failures name the input.
inline void ReplayCorpus(const std::string& corpus) {
  ASSERT_NE(std::getenv("ORV_SOURCE_DIR"), nullptr);
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(CorpusDir(corpus))) {
    if (!entry.is_regular_file() || entry.path().filename() == "README.md") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0) << entry.path();
    ++files;
  }
  EXPECT_GT(files, 0) << corpus;
}

}  // namespace orvtest
