// The configuration tools on a long file: a change of colour depth and the
// probe of the configuration, over a file of 100,000 mode lines. Both must
// grow linearly with the file (lists are appended at a kept tail).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/lib/ConfigFileGenerator.h"
#include "tools/lib/File.h"
#include "tools/lib/Probe.h"
#include "tools/lib/carddb.h"
#include "tools/lib/parser/scan.h"

namespace {

constexpr int kModeLines = 100000;

std::string LongConfig(int modeLines) {
  std::string text =
      "Section \"ServerLayout\"\n\tIdentifier \"L\"\n\tScreen \"S\"\n"
      "\tInputDevice \"K\" \"CoreKeyboard\"\nEndSection\n"
      "Section \"InputDevice\"\n\tIdentifier \"K\"\n\tDriver \"kbd\"\nEndSection\n"
      "Section \"Device\"\n\tIdentifier \"D\"\n\tDriver \"orv\"\nEndSection\n"
      "Section \"Monitor\"\n\tIdentifier \"M\"\n\tUseModes \"Big\"\nEndSection\n"
      "Section \"Modes\"\n\tIdentifier \"Big\"\n";
  for (int i = 0; i < modeLines; ++i)
    text += "\tModeLine \"m" + std::to_string(i) +
            "\" 148.5 1920 2008 2052 2200 1080 1084 1089 1125 +hsync +vsync\n";
  text += "EndSection\nSection \"Screen\"\n\tIdentifier \"S\"\n\tDevice \"D\"\n\tMonitor \"M\"\n"
          "\tDefaultDepth 16\nEndSection\n";
  return text;
}

// The library's own lines on standard output ("Writing config file ...")
// are kept out of the benchmark's report.
class QuietStdout {
 public:
  QuietStdout() : saved_(dup(STDOUT_FILENO)) {
    std::fflush(stdout);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int saved_;
};

// A scratch system root without a board, the project's board database and
// the long file, found through XORGCONFIG.
class LongFile {
 public:
  LongFile() : dir_("/tmp/config_update_bench_" + std::to_string(getpid())) {
    std::filesystem::create_directories(dir_ + "/root/proc/bus/pci");
    std::ofstream(dir_ + "/root/proc/bus/pci/devices");
    SysRootSet(dir_ + "/root");
    unsetenv("DISPLAY");
    database_ = std::string(ORV_SOURCE_DIR) + "/data";
    SetDatabaseCardFile(database_.c_str());
    QuietStdout quiet;
    InitCoreModule();
    path_ = dir_ + "/xorg.conf";
    text_ = LongConfig(kModeLines);
    Restore();
    setenv("XORGCONFIG", path_.c_str(), 1);
    xconf::ForgetEnvironment();
  }
  ~LongFile() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  void Restore() { std::ofstream(path_, std::ios::binary) << text_; }
  const std::string& Path() const { return path_; }
  size_t Bytes() const { return text_.size(); }

 private:
  std::string dir_;
  std::string database_;
  std::string path_;
  std::string text_;
};

LongFile& Fixture() {
  static LongFile file;
  return file;
}

// orvwizard --bpp 24 on the file: read, merge, check, write with a backup.
void BM_UpdateDepthOfLongFile(benchmark::State& state) {
  LongFile& file = Fixture();
  QuietStdout quiet;
  for (auto _ : state) {
    state.PauseTiming();
    file.Restore();
    UserSelection sel{};
    sel.outputFile = file.Path().c_str();
    sel.depth[0] = 24;
    sel.useCapabilities = 1;
    sel.presentFlags = kSelOutputFile | kSelDepth;
    state.ResumeTiming();
    benchmark::DoNotOptimize(UpdateConfigFile(&sel));
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kModeLines);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.Bytes()));
}
BENCHMARK(BM_UpdateDepthOfLongFile)->Unit(benchmark::kMillisecond);

// orvwizard --probe all's summary of the file: every mode line read back.
void BM_ProbeLongFile(benchmark::State& state) {
  LongFile& file = Fixture();
  file.Restore();
  QuietStdout quiet;
  for (auto _ : state) {
    XConfigInfo info{};
    benchmark::DoNotOptimize(ProbeXConfig(&info));
    FreeXConfigInfo(&info);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kModeLines);
}
BENCHMARK(BM_ProbeLongFile)->Unit(benchmark::kMillisecond);

}  // namespace
