// Speed of the tools' parsers of outside input: the board database and the
// module version reader.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/lib/carddb.h"
#include "tools/lib/elfloader.h"

namespace {

std::string Database(int boards) {
  std::string text = "# generated\n";
  for (int i = 0; i < boards; ++i) {
    char record[128];
    std::snprintf(record, sizeof record, "Kestrion Board %d  # note\n%x orv %s %d yes\n\n", i,
                  0x1000 + i, i % 3 ? "no" : "yes", i % 3 ? 2 : 4);
    text += record;
  }
  return text;
}

void BM_CardReadDatabase(benchmark::State& state) {
  std::string text = Database(int(state.range(0)));
  for (auto _ : state) {
    FILE* f = fmemopen(text.data(), text.size(), "r");
    PrivateList* list = nullptr;
    CardReadDatabase(f, &list);
    std::fclose(f);
    benchmark::DoNotOptimize(list);
    PrivateDeleteList(list);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_CardReadDatabase)->Arg(16)->Arg(1024);

void BM_GetModuleVersion(benchmark::State& state) {
  const char* path = "/usr/lib/xorg/modules/drivers/modesetting_drv.so";
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (image.empty()) {
    state.SkipWithError("no modesetting driver installed");
    return;
  }
  int major, minor, patch;
  for (auto _ : state) {
    int r = GetModuleVersionFromImage(image.data(), image.size(), "modesetting", &major, &minor,
                                      &patch);
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.size()));
}
BENCHMARK(BM_GetModuleVersion);

}  // namespace
