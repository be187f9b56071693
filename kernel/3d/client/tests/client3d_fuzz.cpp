// Fuzz target of the 3D clients' requests behind the device node: a board
// whose device object is started, one client context on it, then a
// program of operations: request codes with arbitrary block contents,
// token streams anywhere in the command buffer, words rewritten between
// requests and during them (the glue's user-memory mutator), pointers at
// mapped, unmapped and faulty memory, a device stop and start; then the
// file is closed, the device destroyed and the module unloaded. Nothing may
// be left in the glue, and the sanitizers end the run on any other fault.
//
// Program: operations of an opcode byte and its operands; missing bytes
// read as 0. See tests/data/kernel_client3d_fuzz/README.md.
#include <stdint.h>
#include <string.h>

#include <memory>

#include "core/orv_ioctl.h"
#include "kernel/tests/kernel_fixture.h"
#include "platform/client3d/client3d.h"

extern "C" const OrvKstrnDriver orv_kstrn_driver;

namespace {

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool More() const { return at_ < size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t Word() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= uint32_t{Byte()} << (8 * i);
    return value;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

void Run(const uint8_t* data, size_t size) {
  orvstandin::Reset();
  orvmachine::Machine machine;
  orvmachine::MachineBoard& parts = machine.AddBoard(ktest::KernelBoard(orvsim::BoardConfig()));
  orvmachine::KernelModule& module = machine.LoadKernelModule(
      parts, {.file = "", .table = &orv_kstrn_driver, .bmFlags = ktest::kTestBmFlags, .minor = 0, .makeDevice = false});
  kglue::Glue& glue = module.glue;
  OrvDevice* device = module.device;
  if (glue.CreateDevice(device) == nullptr) return;
  kglue::File* owner = glue.Open(device);
  OrvEnableRequest enable = ktest::EnableRecord(0);
  if (glue.Ioctl(owner, ORV_IOCTL_ENABLE_DEVICE, reinterpret_cast<unsigned long>(&enable)) != 1) return;
  auto* pdev = reinterpret_cast<PDEV*>(static_cast<uintptr_t>(enable.kernelHandle));
  glue.IoctlWithValue(owner, ORV_IOCTL_START_DEVICE, reinterpret_cast<uintptr_t>(pdev));
  alignas(8) static uint8_t primary[64];
  pdev->primarySurface = reinterpret_cast<MmSurface*>(primary);
  alignas(8) static uint8_t userMemory[256];
  {
    client3d::Client client(glue, device, 2000);
    if (client.CreateContext(reinterpret_cast<uintptr_t>(pdev)) == 0) {
      client3d::Buffer commands;
      const bool haveBuffer = client.CreateBuffer(8192, 4, &commands);
      glue.DeclareUserMemory(2000, userMemory, sizeof(userMemory));
      Reader in(data, size);
      for (int steps = 0; in.More() && steps < 256; ++steps) {
        switch (in.Byte() % 6) {
          case 0: {  // a word of the block
            const uint32_t at = (in.Byte() % 142) * 4;
            client.Put32(at, in.Word());
            break;
          }
          case 1:  // a request
            client.Execute();
            break;
          case 2:  // bytes of the command buffer
            if (haveBuffer) {
              const uint32_t at = (in.Word() % 8192) & ~3u;
              const uint32_t word = in.Word();
              memcpy(commands.mapped + at, &word, 4);
            }
            break;
          case 3: {  // a pointer at user memory, at nothing or at the buffer
            const uint32_t at = 16 + (in.Byte() % 6) * 8;
            const uint8_t kind = in.Byte() % 3;
            const uint64_t pointer = kind == 0   ? reinterpret_cast<uintptr_t>(userMemory) + in.Byte() % 128
                                     : kind == 1 ? 0x1000 + in.Word()
                                                 : reinterpret_cast<uintptr_t>(commands.mapped);
            client.Put64(at, pointer);
            break;
          }
          case 4: {  // a request during which the block changes
            const uint32_t at = (in.Byte() % 142) * 4;
            const uint32_t value = in.Word();
            client3d::Client* c = &client;
            glue.SetUserMemoryMutator([c, at, value] { c->Put32(at, value); });
            client.Execute();
            glue.SetUserMemoryMutator(nullptr);
            break;
          }
          case 5:  // the device stops and starts again
            glue.IoctlWithValue(owner, ORV_IOCTL_STOP_DEVICE, 0);
            glue.IoctlWithValue(owner, ORV_IOCTL_START_DEVICE, reinterpret_cast<uintptr_t>(pdev));
            pdev->primarySurface = reinterpret_cast<MmSurface*>(primary);
            break;
        }
      }
    }
  }
  glue.ClearUserMemory();
  glue.Close(owner);
  glue.DestroyDevice(device);
  glue.Unload();
  if (!glue.LiveBlocks().empty() || glue.LiveRegions() != 0 || glue.LiveLockedPages() != 0 ||
      glue.LiveKernelMappings() != 0 || glue.LiveUserMappings() != 0) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Run(data, size);
  return 0;
}
