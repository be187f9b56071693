// The product's road on one simulated machine: the wizard's two-display
// configuration (written by the main job's first steps), the X server
// stand-in loading the X driver module orv_drv.so on it, and the kernel
// module's file loaded behind the device node with its glue. Every request
// the driver makes of the node is recorded on the way.
//
// The desktop comes up in SetUp. Finish() takes the monitors' pictures,
// closes the screens, unloads the module and compares each picture with
// what the test drew, done in software; a test that does not call it gets
// the closing and the unload in TearDown. Either way the unload must leave
// nothing, and no engine of the board may have found an error.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/board/chip_dma.h"
#include "platform/client3d/scene.h"
#include "platform/kglue/glue.h"
#include "platform/machine/kernel_module.h"
#include "platform/machine/machine.h"
#include "platform/xserver/endpoint.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/server.h"
#include "tests/maindraw/desktop.h"
#include "tests/maindraw/scene.h"

namespace e2e {

// One request of the device node, as the driver made it.
struct NodeRequest {
  uint32_t number;  // the request's number (bits 0-7 of the code)
  int unit;         // the display unit it names; -1 when it names none
  int answer;
  size_t kernelLog;     // lines in the kernel's log before it
  size_t driverLog;     // driver messages before it
};

// The device node as the driver reaches it: every call goes on to the
// kernel glue's bridge; requests are recorded.
class RecordingNode : public xstub::Endpoint {
 public:
  RecordingNode(kglue::NodeBridge& bridge, const kglue::Glue& glue, const xstub::Sandbox& box)
      : bridge_(bridge), glue_(glue), box_(box) {}

  int Ioctl(uint32_t minor, unsigned long code, void* arg) override { return bridge_.Ioctl(minor, code, arg); }
  int OpenFile(uint32_t minor, uint64_t file) override { return bridge_.OpenFile(minor, file); }
  void CloseFile(uint32_t minor, uint64_t file) override { bridge_.CloseFile(minor, file); }
  int FileIoctl(uint32_t minor, uint64_t file, unsigned long code, void* arg) override;
  void* FileMmap(uint32_t minor, uint64_t file, uint64_t offset, size_t length) override {
    return bridge_.FileMmap(minor, file, offset, length);
  }
  void FileUnmap(uint32_t minor, uint64_t file, void* address, size_t length) override {
    bridge_.FileUnmap(minor, file, address, length);
  }

  const std::vector<NodeRequest>& Requests() const { return requests_; }
  // The numbers of the recorded requests among `numbers`, in order, each
  // with its unit ("20:0").
  std::vector<std::string> Sequence(const std::vector<uint32_t>& numbers) const;
  size_t Count(uint32_t number) const;

 private:
  kglue::NodeBridge& bridge_;
  const kglue::Glue& glue_;
  const xstub::Sandbox& box_;
  std::vector<NodeRequest> requests_;
  std::map<uint64_t, int> units_;  // device-object handle -> unit
};

// The kernel module the tests load behind the node (set in CMakeLists.txt).
inline constexpr const char* kKernelModuleFile = ORV_E2E_KERNEL_MODULE;

class Desktop : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  orvmachine::MachineBoard& Board() { return *board_; }
  orvmachine::KernelModule& Module() { return *module_; }
  kglue::Glue& Glue() { return module_->glue; }
  orvsim::DmaEngine& Dma() { return *board_->dma; }
  xstub::XServer& Server() { return *server_; }
  xstub::Sandbox& Box() { return *box_; }
  const RecordingNode& Node() const { return *node_; }
  const std::vector<maindraw::ScreenState>& Screens() const { return screens_; }
  ScreenPtr Screen(int index) const;

  // Draws on every screen through the driver's hooks, and remembers the
  // drawing for the reference.
  void DrawOnEveryScreen(const maindraw::Drawing& drawing);
  // Word 16 of the shared locked block the engine writes every tag it
  // reaches into.
  uint32_t SharedTagWord();
  // Everything the board's engines found wrong: decode errors and faults.
  std::vector<std::string> EngineErrors() const;
  // The driver's messages and the kernel's log, each one a line.
  std::vector<std::string> DriverMessages() const;
  std::vector<std::string> KernelMessages() const;

  // The monitors' pictures, the screens closed and the module unloaded
  // (nothing may be left), then each picture against the drawings done in
  // software. Runs once; the results stay.
  struct Picture {
    maindraw::Monitor monitor;
    maindraw::Comparison comparison;
  };
  const std::vector<Picture>& Finish();
  // What the unload left (empty: nothing).
  const std::string& Left() const { return left_; }
  // Finish(), then every monitor's picture equals the drawings done in
  // software and the unload left nothing.
  void ExpectFinishedPicturesEqual(size_t monitors);

  // A 3D client process on screen 0 running the scene of
  // platform/client3d: its device from the driver's direct-client hook
  // (looked up by name in the loaded orv_drv.so), its context, command
  // buffer, with `surfaces` its targets and primary surface, the drawable's
  // rectangles and its 3D context; the device and what the hook answered
  // go to `device` and `direct` when given. Check with
  // ASSERT_NO_FATAL_FAILURE.
  void StartClientScene(uint32_t process, bool surfaces, std::unique_ptr<client3d::Scene>* scene,
                        OrvDevice** device = nullptr, client3d::DirectClient* direct = nullptr);
  // The X server stand-in's live allocations before it read its
  // configuration and loaded the driver.
  size_t XAllocationsBeforeDriver() const { return xAllocationsBeforeDriver_; }

 private:
  std::unique_ptr<orvmachine::Machine> machine_;
  orvmachine::MachineBoard* board_ = nullptr;
  orvmachine::KernelModule* module_ = nullptr;
  std::unique_ptr<xstub::Sandbox> box_;
  std::unique_ptr<xstub::XServer> server_;
  std::unique_ptr<xstub::VbeModel> bios_;
  std::unique_ptr<RecordingNode> node_;
  std::vector<maindraw::ScreenState> screens_;
  std::vector<maindraw::Drawing> drawings_;
  std::vector<Picture> pictures_;
  bool finished_ = false;
  std::string left_;
  size_t xAllocationsBeforeDriver_ = 0;
};

}  // namespace e2e
