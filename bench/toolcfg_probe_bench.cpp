// Speed of the tools' parsers of outside input: the board database and the
// module version reader (on a module built with the project).
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The version reader on a module file built with the project (the test
// build's fixture module, a shared object with a module data record).
std::vector<uint8_t> FixtureModule() {
  std::ifstream in(ORV_FIXTURE_ORV_SO, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Reading the version from the module's bytes in memory.
void BM_GetModuleVersionFromImage(benchmark::State& state) {
  const std::vector<uint8_t> image = FixtureModule();
  if (image.empty()) {
    state.SkipWithError("fixture module missing: " ORV_FIXTURE_ORV_SO);
    return;
  }
  int major = 0, minor = 0, patch = 0;
  for (auto _ : state) {
    int r = GetModuleVersionFromImage(image.data(), image.size(), "orv", &major, &minor, &patch);
    benchmark::DoNotOptimize(r);
  }
  if (major != 1 || minor != 4 || patch != 7) state.SkipWithError("wrong version read");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.size()));
}
BENCHMARK(BM_GetModuleVersionFromImage);

// The same from the file, as the probe reads it (open, read, close); the
// file takes the driver module's name, from which the reader takes the
// record's symbol.
void BM_GetModuleVersion(benchmark::State& state) {
  const std::vector<uint8_t> image = FixtureModule();
  const std::string dir = "/tmp/toolcfg_probe_bench_" + std::to_string(getpid());
  if (image.empty() || mkdir(dir.c_str(), 0700) != 0) {
    state.SkipWithError("fixture module missing or no scratch directory");
    return;
  }
  const std::string file = dir + "/orv_drv.so";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                               std::streamsize(image.size()));
  int major = 0, minor = 0, patch = 0;
  for (auto _ : state) {
    int r = GetModuleVersion(file.c_str(), &major, &minor, &patch);
    benchmark::DoNotOptimize(r);
  }
  if (major != 1 || minor != 4 || patch != 7) state.SkipWithError("wrong version read");
  std::remove(file.c_str());
  rmdir(dir.c_str());
}
BENCHMARK(BM_GetModuleVersion);

}  // namespace
