#include "tests/e2e/desktop_fixture.h"

#include <stdlib.h>

#include <cstring>

#include "core/orv_abi.h"
#include "core/orv_ioctl.h"
#include "platform/board/chip_2d.h"
#include "platform/board/chip_display.h"
#include "platform/xserver/screen_layer.h"
#include "platform/xserver/xf86_server.h"
#include "tests/maindraw/machine.h"
#include "tests/maindraw/reference.h"

namespace e2e {

namespace {

// The machine of the main job (scripts/run-main-job.sh, step driver_draws):
// a four-output board of 128 MB, two analog outputs described, a monitor on
// connectors 0 and 1. The vertex engine's memories come along for the 3D
// clients.
maindraw::Options MainJobMachine(const std::string& source) {
  maindraw::Options o;
  o.chip = 0x5D62;
  o.subsystem = 0x0202;
  o.memoryMB = 128;
  o.outputs = 2;
  o.edids[0] = source + "/tests/data/edid/00017.bin";
  o.edids[1] = source + "/tests/data/edid/00027.bin";
  o.extraParts = orvmachine::kVertex | orvmachine::k3d;
  return o;
}

std::string Env(const char* name) {
  const char* v = getenv(name);
  return v != nullptr ? v : "";
}

}  // namespace

int RecordingNode::FileIoctl(uint32_t minor, uint64_t file, unsigned long code, void* arg) {
  NodeRequest r{static_cast<uint32_t>(code & 0xFF), -1, 0, glue_.Log().size(), box_.Messages().size()};
  auto unitOf = [&](uint64_t handle) {
    auto it = units_.find(handle);
    return it != units_.end() ? it->second : -1;
  };
  if (code == ORV_IOCTL_ENABLE_DEVICE && arg != nullptr)
    r.unit = static_cast<int>(static_cast<const OrvEnableRequest*>(arg)->mode.unit);
  if (code == ORV_IOCTL_START_DEVICE) r.unit = unitOf(reinterpret_cast<uintptr_t>(arg));
  if (code == ORV_IOCTL_DECLARE_PRIMARY && arg != nullptr)
    r.unit = unitOf(static_cast<const OrvDeclarePrimaryRequest*>(arg)->pdevHandle);
  r.answer = bridge_.FileIoctl(minor, file, code, arg);
  if (code == ORV_IOCTL_ENABLE_DEVICE && arg != nullptr && r.answer == 1)
    units_[static_cast<const OrvEnableRequest*>(arg)->kernelHandle] = r.unit;
  requests_.push_back(r);
  return r.answer;
}

std::vector<std::string> RecordingNode::Sequence(const std::vector<uint32_t>& numbers) const {
  std::vector<std::string> out;
  for (const NodeRequest& r : requests_) {
    for (uint32_t n : numbers)
      if (r.number == n) out.push_back(std::to_string(r.number) + ":" + std::to_string(r.unit));
  }
  return out;
}

size_t RecordingNode::Count(uint32_t number) const {
  size_t n = 0;
  for (const NodeRequest& r : requests_) n += r.number == number ? 1 : 0;
  return n;
}

void Desktop::SetUp() {
  const std::string config = Env("ORV_E2E_CONFIG");
  ASSERT_FALSE(config.empty()) << "ORV_E2E_CONFIG names no configuration";
  std::optional<std::string> text = maindraw::ReadFile(config);
  ASSERT_TRUE(text.has_value()) << "the wizard wrote no configuration: " << config;
  std::optional<orvsim::PciLocation> at = maindraw::BoardLocation(config);
  ASSERT_TRUE(at.has_value());

  machine_ = std::make_unique<orvmachine::Machine>();
  board_ = maindraw::BuildMachine(MainJobMachine(Env("ORV_SOURCE_DIR")), *at, machine_.get());
  ASSERT_NE(board_, nullptr);
  module_ = &machine_->LoadKernelModule(*board_, {.file = kKernelModuleFile});
  ASSERT_TRUE(module_->error.empty()) << module_->error;
  ASSERT_TRUE(module_->Ready());

  box_ = std::make_unique<xstub::Sandbox>();
  server_ = std::make_unique<xstub::XServer>();
  bios_ = std::make_unique<xstub::VbeModel>();
  server_->SetVbe(xstub::PciLocationId{static_cast<int>(at->bus), static_cast<int>(at->device),
                                       static_cast<int>(at->function)},
                  bios_.get());
  node_ = std::make_unique<RecordingNode>(module_->bridge, module_->glue, *box_);
  box_->ProvideKernelModule("orv", orvmachine::kNodeMajor, node_.get());
  xAllocationsBeforeDriver_ = box_->LiveAllocations();
  ASSERT_TRUE(server_->ReadConfig(*text));
  const xstub::XServer::LoadResult loaded = server_->LoadModule(ORV_E2E_X_DRIVER);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  ASSERT_TRUE(server_->Probe());
  ASSERT_EQ(server_->PreInitScreens(), 2);
  ASSERT_TRUE(server_->InitScreens());
  screens_ = maindraw::ScreensOf(*server_, *board_);
  drawings_.assign(screens_.size(), [](xstub::XaaFront&, const maindraw::ScreenShape&) {});
}

void Desktop::TearDown() {
  // A decode error or a fault of the board's engines anywhere fails the
  // run (a watchdog stop ends it).
  if (board_ != nullptr) {
    EXPECT_EQ(EngineErrors(), std::vector<std::string>{});
  }
  // The screens closed and the module unloaded as at the end of every
  // run: nothing may be left.
  if (server_ != nullptr && module_ != nullptr && !finished_) {
    finished_ = true;
    server_->CloseScreens();
    server_->FreeScreens();
    left_ = maindraw::UnloadKernelModule(*module_);
    EXPECT_EQ(left_, "");
  }
  server_.reset();
  // The server gone, its heap holds what it held before it loaded the
  // driver: the driver's allocations all went back.
  if (box_ != nullptr && finished_) {
    EXPECT_EQ(box_->LiveAllocations(), xAllocationsBeforeDriver_) << "allocations of the X server stand-in left";
  }
  node_.reset();
  box_.reset();
  bios_.reset();
  machine_.reset();
}

ScreenPtr Desktop::Screen(int index) const {
  return index >= 0 && index < xf86NumScreens && xf86Screens[index] != nullptr ? xf86Screens[index]->pScreen
                                                                               : nullptr;
}

void Desktop::DrawOnEveryScreen(const maindraw::Drawing& drawing) {
  for (size_t i = 0; i < screens_.size(); ++i) {
    xstub::XaaFront front(Screen(static_cast<int>(i)));
    drawing(front, screens_[i].shape);
    const maindraw::Drawing before = drawings_[i];
    drawings_[i] = [before, drawing](xstub::XaaFront& f, const maindraw::ScreenShape& s) {
      before(f, s);
      drawing(f, s);
    };
  }
}

uint32_t Desktop::SharedTagWord() {
  const uint32_t base = board_->board.Peek(orvsim::kDmaRegSharedBase, 4);
  const uint8_t* at = Glue().ResolveBus(base + orvsim::kDmaSharedTagOffset, 4);
  if (at == nullptr) return 0;
  uint32_t word;
  memcpy(&word, at, 4);
  return word;
}

std::vector<std::string> Desktop::EngineErrors() const { return maindraw::EngineErrors(*board_); }

std::vector<std::string> Desktop::DriverMessages() const {
  size_t taken = 0;
  return maindraw::TakeMessages(*box_, &taken);
}

std::vector<std::string> Desktop::KernelMessages() const {
  std::vector<std::string> lines;
  for (const kglue::LogLine& l : module_->glue.Log()) {
    std::string text = l.text;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    lines.push_back(text);
  }
  return lines;
}

const std::vector<Desktop::Picture>& Desktop::Finish() {
  if (finished_) return pictures_;
  finished_ = true;
  std::vector<maindraw::Monitor> monitors = maindraw::MonitorsOf(*board_, screens_);
  server_->CloseScreens();
  server_->FreeScreens();
  left_ = maindraw::UnloadKernelModule(*module_);
  for (maindraw::Monitor& m : monitors) {
    Picture p{std::move(m), {}};
    const maindraw::Drawing drawing =
        p.monitor.screen >= 0 && static_cast<size_t>(p.monitor.screen) < drawings_.size()
            ? drawings_[static_cast<size_t>(p.monitor.screen)]
            : maindraw::Drawing([](xstub::XaaFront&, const maindraw::ScreenShape&) {});
    p.comparison = maindraw::CompareWithReference(*server_, *board_, p.monitor, screens_, drawing);
    pictures_.push_back(std::move(p));
  }
  return pictures_;
}

void Desktop::ExpectFinishedPicturesEqual(size_t monitors) {
  const std::vector<Picture>& pictures = Finish();
  EXPECT_EQ(Left(), "");
  ASSERT_EQ(pictures.size(), monitors);
  for (const Picture& p : pictures) {
    const maindraw::Comparison& c = p.comparison;
    EXPECT_TRUE(c.equal) << p.monitor.output << " " << c.unusable << ": " << c.differing
                         << " pixels differ, first at (" << c.firstX << ", " << c.firstY << ")";
  }
}

void Desktop::StartClientScene(uint32_t process, bool surfaces, std::unique_ptr<client3d::Scene>* scene,
                               OrvDevice** device, client3d::DirectClient* hook) {
  client3d::DirectClient direct;
  ASSERT_EQ(client3d::EnableDirectClient(ORV_E2E_X_DRIVER, Screen(0), &direct), "");
  ASSERT_NE(direct.deviceHandle, 0u);
  OrvDevice* found = Glue().DeviceByMinor(direct.minor);
  ASSERT_NE(found, nullptr) << "minor " << unsigned{direct.minor};
  if (device != nullptr) *device = found;
  if (hook != nullptr) *hook = direct;
  *scene = std::make_unique<client3d::Scene>(Glue(), found, client3d::SceneLayout{}, process);
  client3d::Scene& s = **scene;
  ASSERT_EQ(s.Open(direct.deviceHandle), 0);
  ASSERT_TRUE(s.CreateCommandBuffer());
  if (surfaces) {
    ASSERT_TRUE(s.CreateSurfaces());
  }
  ASSERT_EQ(s.SetDrawableRects(), 0);
  ASSERT_NE(s.CreateContext3d(), 0u);
}

}  // namespace e2e
