// Reading and writing X configuration files; writing is measured as the
// formatting of the text apart from the durable replacement on disk.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/lib/File.h"
#include "tools/lib/parser/write.h"
#include "tools/lib/parser/xconfig.h"

namespace {

// A file in the shape of a large multi-head configuration.
std::string MakeConfig(int screens) {
  std::string text = "# generated\n";
  text += "Section \"ServerLayout\"\n Identifier \"L\"\n";
  for (int i = 0; i < screens; ++i)
    text += " Screen " + std::to_string(i) + " \"S" + std::to_string(i) + "\" RightOf \"S0\"\n";
  text += "EndSection\n";
  for (int i = 0; i < screens; ++i) {
    std::string n = std::to_string(i);
    text += "Section \"Device\"\n Identifier \"D" + n + "\"\n Driver \"orv\"\n";
    text += " Option \"BusMastering\" \"on\" # dma\n Option \"OpenGL\"\n BusID \"PCI:1:0:0\"\n";
    text += "EndSection\n";
    text += "Section \"Monitor\"\n Identifier \"M" + n + "\"\n HorizSync 30-83.5, 90\n";
    text += " VertRefresh 56-76\n";
    for (int m = 0; m < 20; ++m)
      text += " ModeLine \"m" + std::to_string(m) +
              "\" 148.25 1920 2008 2052 2200 1080 1084 1089 1125 +hsync +vsync\n";
    text += "EndSection\n";
    text += "Section \"Screen\"\n Identifier \"S" + n + "\"\n Device \"D" + n + "\"\n Monitor \"M" +
            n + "\"\n SubSection \"Display\"\n  Depth 24\n  Modes \"1920x1080\" \"1024x768\"\n"
            " EndSubSection\nEndSection\n";
  }
  return text;
}

std::string TempPath(const char* name) {
  return std::string("/tmp/xconfig_bench_") + std::to_string(getpid()) + "_" + name;
}

void BM_ReadConfig(benchmark::State& state) {
  std::string path = TempPath("read.conf");
  std::string text = MakeConfig(static_cast<int>(state.range(0)));
  FILE* f = std::fopen(path.c_str(), "w");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  for (auto _ : state) {
    xf86openConfigFile("%A", path.c_str(), nullptr);
    XConfFile* file = xf86readConfigFile();
    xf86closeConfigFile();
    benchmark::DoNotOptimize(file);
    xf86freeConfig(file);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetLabel(std::to_string(text.size() / 1024) + " KiB");
  std::remove(path.c_str());
}
// 32 screens make a file of about 62 KB, 540 about 1 MB and 5,400 about
// 10 MB: reading must stay linear in the number of sections.
BENCHMARK(BM_ReadConfig)->Arg(1)->Arg(4)->Arg(32)->Arg(540)->Arg(5400)->Unit(benchmark::kMillisecond);

XConfFile* ReadText(const std::string& text) {
  std::string in = TempPath("in.conf");
  FILE* f = std::fopen(in.c_str(), "w");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  xf86openConfigFile("%A", in.c_str(), nullptr);
  XConfFile* file = xf86readConfigFile();
  xf86closeConfigFile();
  std::remove(in.c_str());
  return file;
}

// Formatting the tree into the file's text, in memory.
void BM_FormatConfig(benchmark::State& state) {
  XConfFile* file = ReadText(MakeConfig(static_cast<int>(state.range(0))));
  std::string text;
  for (auto _ : state) {
    text.clear();
    benchmark::DoNotOptimize(xconf::FormatConfigFile(file, &text));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  xf86freeConfig(file);
}
BENCHMARK(BM_FormatConfig)->Arg(1)->Arg(4)->Arg(32);

// The durable replacement of the file with a finished text: temporary file,
// write, sync, rename, directory sync. Its cost is the disk's, not ours.
void BM_ReplaceConfig(benchmark::State& state) {
  XConfFile* file = ReadText(MakeConfig(static_cast<int>(state.range(0))));
  std::string text;
  xconf::FormatConfigFile(file, &text);
  xf86freeConfig(file);
  std::string out = TempPath("out.conf");
  for (auto _ : state) benchmark::DoNotOptimize(ReplaceFile(out.c_str(), text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  std::remove(out.c_str());
}
BENCHMARK(BM_ReplaceConfig)->Arg(4);

// Both, as the tools write a file.
void BM_WriteConfig(benchmark::State& state) {
  XConfFile* file = ReadText(MakeConfig(static_cast<int>(state.range(0))));
  std::string out = TempPath("out.conf");
  for (auto _ : state) benchmark::DoNotOptimize(xf86writeConfigFile(out.c_str(), file));
  xf86freeConfig(file);
  std::remove(out.c_str());
}
BENCHMARK(BM_WriteConfig)->Arg(4);

}  // namespace
