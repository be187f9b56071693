// A hostile client: while a first 3D client's scene shows in its window on
// the running desktop, a second process replays every program of the 3D
// requests' fuzz corpus (tests/data/kernel_client3d_fuzz) through the
// device node, one fresh process per program, each killed at its end:
// request blocks of any content, token streams anywhere, pointers at
// unmapped and faulty memory, blocks rewritten during requests, surfaces
// of any description, presents, flips, and the X driver's own ioctls (stop,
// start, primary surface) on the device it was given. What the fuzz target
// does beyond the node (the kernel's state checked, draw and clear steps
// on the render context) a process cannot, and is left out.
//
// Afterwards both screens hold what they held, so does the first client's
// colour target (read back by its own request 31), its requests answer as
// they did and its window shows the same picture, the X driver's ioctls
// were all refused, no engine found an error, and the teardown leaves
// nothing. The corpus is small (29 programs of at most 3 KB), so
// all of it is replayed.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/orv_abi.h"
#include "core/orv_ioctl.h"
#include "kernel/3d/client/tests/client3d_program.h"
#include "platform/board/chip_dma.h"
#include "platform/client3d/scene.h"
#include "tests/e2e/desktop_fixture.h"

namespace e2e {
namespace {

using client3d::Scene;

constexpr uint32_t kClientProcess = 2000;
constexpr uint32_t kHostileProcess = 3000;
constexpr uint32_t kRequestWaitIdle = 4;
constexpr uint32_t kRequestReadRect = 31;

// The hostile process's host: it cannot reach into the kernel. The X
// driver's ioctls it sends on its own file, for the device it was given;
// each answer is kept.
class HostileHost : public client3dfuzz::Host {
 public:
  HostileHost(kglue::Glue& glue, kglue::File* file, uint64_t deviceHandle)
      : glue_(glue), file_(file), deviceHandle_(deviceHandle) {}

  bool Running() const override { return true; }
  bool Lost() const override { return false; }
  void StopAndStart(uint8_t how) override {
    if ((how & 1) != 0) answers.push_back(glue_.IoctlWithValue(file_, ORV_IOCTL_STOP_DEVICE, 0));
    if ((how & 2) != 0) answers.push_back(glue_.IoctlWithValue(file_, ORV_IOCTL_START_DEVICE, deviceHandle_));
    if ((how & 4) != 0) {
      // Blocks it never allocated: the ids the X driver's might have.
      OrvDeclarePrimaryRequest declare = {1, 2, deviceHandle_};
      answers.push_back(glue_.Ioctl(file_, ORV_IOCTL_DECLARE_PRIMARY, reinterpret_cast<unsigned long>(&declare)));
    }
  }
  void AfterRequest() override {}
  void AfterSurfaceRequest() override {}
  void StoreElements(uint32_t, const client3dfuzz::DrawSetUp&) override {}
  void DrawStep(uint32_t) override {}
  void ClearStep(uint32_t, orvfuzz::Reader& in) override { client3dfuzz::SkipClearOperands(in); }

  std::vector<int> answers;

 private:
  kglue::Glue& glue_;
  kglue::File* file_;
  uint64_t deviceHandle_;
};

// The corpus's programs, by name.
std::vector<std::filesystem::path> CorpusPrograms() {
  const char* source = getenv("ORV_SOURCE_DIR");
  std::vector<std::filesystem::path> out;
  if (source == nullptr) return out;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(source) / "tests/data/kernel_client3d_fuzz")) {
    if (entry.is_regular_file() && entry.path().filename() != "README.md") out.push_back(entry.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

class E2eHostileClient : public Desktop {
 protected:
  void TearDown() override {
    scene.reset();
    Desktop::TearDown();
  }

  // The first client's scene on screen 0, run to its end and presented:
  // each request's answer.
  std::vector<int32_t> RunScene() {
    std::vector<int32_t> results;
    for (const client3d::TokenWriter& stream : {scene->StateStream(), scene->ClearStream(), scene->ScreenStream()}) {
      results.push_back(scene->Run(stream));
      results.push_back(scene->client().Run(kRequestWaitIdle));
    }
    results.push_back(scene->Present());
    results.push_back(scene->client().Run(kRequestWaitIdle));
    return results;
  }
  // The first client's colour target read back through its own request
  // 31, row by row: what its draws left there.
  std::vector<uint8_t> TargetRows() {
    box = {0, 0, 0, static_cast<int32_t>(scene->Width()), static_cast<int32_t>(scene->Height()), 1};
    const uint32_t pitch = scene->Width() * 2;  // 5:6:5
    rows.assign(static_cast<size_t>(pitch) * scene->Height(), 0xEE);
    Glue().DeclareUserMemory(kClientProcess, box.data(), sizeof(box));
    Glue().DeclareUserMemory(kClientProcess, rows.data(), rows.size());
    client3d::Client& c = scene->client();
    c.Put64(16, scene->ColourTarget());
    c.Put64(24, reinterpret_cast<uintptr_t>(box.data()));
    c.Put32(32, pitch);
    c.Put64(40, reinterpret_cast<uintptr_t>(rows.data()));
    EXPECT_EQ(c.Run(kRequestReadRect), 0);
    return rows;
  }
  std::vector<std::vector<uint8_t>> Desktops() {
    std::vector<std::vector<uint8_t>> out;
    for (const maindraw::ScreenState& s : Screens()) out.push_back(maindraw::FramebufferPixels(Board(), s));
    return out;
  }

  std::unique_ptr<Scene> scene;
  alignas(8) std::array<int32_t, 6> box = {};
  std::vector<uint8_t> rows;
};

TEST_F(E2eHostileClient, ReplayingTheFuzzCorpusLeavesTheDesktopAndTheFirstClientAsTheyWere) {
  OrvDevice* device = nullptr;
  client3d::DirectClient direct;
  ASSERT_NO_FATAL_FAILURE(StartClientScene(kClientProcess, true, &scene, &device, &direct));
  const std::vector<int32_t> results = RunScene();
  const std::vector<std::vector<uint8_t>> desktops = Desktops();
  const std::vector<uint8_t> target = TargetRows();
  ASSERT_NE(std::count(target.begin(), target.end(), uint8_t{0xEE}), static_cast<std::ptrdiff_t>(target.size()))
      << "request 31 wrote no row";
  const size_t posts = Node().Count(27);

  const std::vector<std::filesystem::path> programs = CorpusPrograms();
  ASSERT_FALSE(programs.empty()) << "the corpus was not found";
  static client3dfuzz::ProgramMemory memory;
  uint32_t process = kHostileProcess;
  size_t refused = 0;
  for (const std::filesystem::path& path : programs) {
    SCOPED_TRACE(path.filename().string());
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A fresh process for each program, killed at its end: its file
    // released with no request.
    client3d::Client hostile(Glue(), device, ++process);
    ASSERT_EQ(hostile.CreateContext(direct.deviceHandle), 0);
    HostileHost host(Glue(), hostile.File(), direct.deviceHandle);
    client3dfuzz::RunProgram(bytes.data(), bytes.size(), Glue(), hostile, process, &memory, host);
    Glue().SetUserMemoryMutator(nullptr);
    for (int answer : host.answers) EXPECT_NE(answer, 0) << "the X driver's ioctl was taken from a 3D client";
    refused += host.answers.size();
    EXPECT_EQ(EngineErrors(), std::vector<std::string>{});
  }
  EXPECT_EQ(Glue().OpenFileCount(), 2u);
  // The corpus stops, starts and declares: each was tried and refused.
  EXPECT_GT(refused, 0u);

  // The desktop as it was, and the X driver posted nothing meanwhile.
  EXPECT_EQ(Node().Count(27), posts);
  const std::vector<std::vector<uint8_t>> after = Desktops();
  for (size_t i = 0; i < desktops.size(); ++i) EXPECT_TRUE(after[i] == desktops[i]) << "screen " << i;
  // The first client's target holds what it held; the client answers as
  // it did, and its window shows the same.
  EXPECT_TRUE(TargetRows() == target);
  EXPECT_EQ(RunScene(), results);
  const std::vector<std::vector<uint8_t>> again = Desktops();
  for (size_t i = 0; i < desktops.size(); ++i) EXPECT_TRUE(again[i] == desktops[i]) << "screen " << i;
  // No wait ran out: the programs' flips (request 28) complete at the
  // vertical blank, and a display left on a dead program's flipped surface
  // went back to the desktop.
  for (const std::string& line : KernelMessages()) EXPECT_EQ(line.find("*ERROR*"), std::string::npos) << line;

  // The desktop draws on, and the teardown leaves nothing.
  scene.reset();
  DrawOnEveryScreen(maindraw::DrawScene);
  ExpectFinishedPicturesEqual(2);
}

}  // namespace
}  // namespace e2e
