// The kernel module loaded into the test process with its glue, behind the
// X server stand-in's device node, and the X driver's own device-node code
// (its build of the driver core) talking to it. The two builds' classes of
// one name stay apart: the module exports only its entry table and needs
// from the process only the glue's services.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/mman.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/lnx_device.h"
#include "core/orv_abi.h"
#include "core/os.h"
#include "core/phys_mem_mapper.h"
#include "core/shared_blocks.h"
#include "platform/board/chip_dma.h"
#include "platform/board/chip_interrupts.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"
#include "platform/kglue/node_bridge.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/xservices.h"
#include "kernel/tests/node_fixture.h"
#include "tests/support/module_symbols.h"

namespace {

constexpr uint32_t kMinor = ktest::kNodeMinor;

class KernelNode : public ktest::NodeFixture {};

TEST_F(KernelNode, TheXDriversCommonBuffersMapTheKernelsSharedBlocks) {
  CommonBufferRequest request = {
      {kCommonDataSize, kCommonLockedSize, kSharedDataSize, kSharedLockedSize}, {}};
  ASSERT_TRUE(OsGetCommonBuffers(node.get(), &request));
  auto* shared = static_cast<SharedLockedData_t*>(request.address[kCommonBufferSharedLocked]);
  auto* data = static_cast<SharedData_t*>(request.address[kCommonBufferShared]);
  ASSERT_NE(shared, nullptr);
  ASSERT_NE(data, nullptr);
  // What the kernel wrote at create, read through the process's mapping.
  EXPECT_EQ(shared->blockSize, 2784u);
  EXPECT_EQ(shared->revisionBits, 0x2u);
  EXPECT_EQ(shared->regGuardEnable, 1u);
  EXPECT_EQ(data->pciId, 0x0A411E7Au);
  const uint64_t bus = shared->blockPhysAddr64;
  EXPECT_EQ(node->buffers[kCommonBufferSharedLocked].offset, bus);
  // What the process writes, the kernel's memory holds.
  shared->commandLock = 1;
  shared->pendingSlots[3].busStart = 0x1234;
  const uint8_t* kernel = glue.ResolveBus(bus, sizeof(SharedLockedData_t));
  ASSERT_NE(kernel, nullptr);
  EXPECT_EQ(reinterpret_cast<const SharedLockedData_t*>(kernel)->commandLock, 1);
  EXPECT_EQ(reinterpret_cast<const SharedLockedData_t*>(kernel)->pendingSlots[3].busStart,
            0x1234u);
  EXPECT_EQ(glue.LiveUserMappings(), 2u);

  EXPECT_TRUE(OsReleaseCommonBuffers(node.get()));
  EXPECT_EQ(glue.LiveUserMappings(), 0u);
  EXPECT_EQ(glue.LiveRegions(), 2u);  // the blocks stay with the kernel's device
  EXPECT_EQ(glue.FreedWhileMapped(), 0u);
}

TEST_F(KernelNode, NamedParametersAreTheModulesParameters) {
  glue.SetParameter("regSysMmFlags", 5);
  uint32_t value = 0;
  ASSERT_TRUE(OsReadRegistryValue(node.get(), "System", "MmFlags", &value, 4));
  EXPECT_EQ(value, 5u);
  const uint32_t written = 0x1234;
  ASSERT_TRUE(OsWriteRegistryValue(node.get(), "OGL", "Spanthree", &written, 4));
  ASSERT_TRUE(glue.ReadParameter("reg3DSpanthree", &value));
  EXPECT_EQ(value, 0x1234u);
  EXPECT_FALSE(OsReadRegistryValue(node.get(), "3D", "AAMode", &value, 4));  // not given
}

TEST_F(KernelNode, Request6AnswersTheMinorOfTheBoardsLocation) {
  const orvsim::PciLocation at = board.Location();
  OrvMinorRequest request = {at.bus, at.device, at.function, kMinorUnknown};
  ASSERT_EQ(node->Ioctl(ORV_IOCTL_GET_MINOR, &request, sizeof(request)), 0);
  EXPECT_EQ(request.minor, kMinor);
  request = {at.bus, at.device + 3, at.function, kMinorUnknown};
  ASSERT_EQ(node->Ioctl(ORV_IOCTL_GET_MINOR, &request, sizeof(request)), 0);
  EXPECT_EQ(request.minor, kMinorUnknown);
}

TEST_F(KernelNode, BadRequestsAndMappingsFailCleanly) {
  orv_ioctl_buffer buffer = {kOrvBufferSharedLocked, kOrvBufferFlagLocked, 0, 4096, 0};
  // A size field that is not the record's, and a type that is not 'F'.
  EXPECT_EQ(xf86ioctl(node->fd, OrvIocCode(kIocRW, 0x01, 28), &buffer), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(xf86ioctl(node->fd, (ORV_IOCTL_ALLOC_BUFFER & ~0xFF00u) | ('Q' << 8), &buffer), -1);
  EXPECT_EQ(errno, ENOTTY);
  // A record the process cannot hand over.
  glue.MarkFaulty(&buffer, sizeof(buffer));
  EXPECT_EQ(xf86ioctl(node->fd, ORV_IOCTL_ALLOC_BUFFER, &buffer), -1);
  EXPECT_EQ(errno, EFAULT);
  glue.ClearUserMemory();
  EXPECT_EQ(glue.LiveLockedPages(), 0u);
  // Offsets the glue does not know.
  EXPECT_EQ(xf86mmap(nullptr, 4096, PROT_READ, MAP_SHARED, node->fd, 0x7000000), MAP_FAILED);
  EXPECT_EQ(xf86mmap(nullptr, 4096, PROT_READ, MAP_SHARED, node->fd,
                     static_cast<off_t>(kglue::kArenaBusBase + (64u << 20))),
            MAP_FAILED);
  EXPECT_EQ(glue.LiveUserMappings(), 0u);
}

TEST_F(KernelNode, TheTwoBuildsKeepTheirOwnNilNodes) {
  // A map of the mapper's type in the X driver's build.
  using XMap = Otl::Map<uint64_t, tagSurfaceBuffer*>;
  XMap mine;
  XMap::_Node* nil = XMap::_Nil;
  const uint64_t refs = XMap::_Nilrefs;
  mine.insert({1, nullptr});

  // The kernel builds and destroys its own mapper, with maps of that type.
  OrvEnableRequest request = {};
  request.mode.unit = 0;
  ASSERT_EQ(node->Ioctl(ORV_IOCTL_ENABLE_DEVICE, &request, sizeof(request)), 1);
  EXPECT_EQ(XMap::_Nilrefs, refs);
  const uint64_t handle = request.kernelHandle;
  ASSERT_EQ(node->Ioctl(ORV_IOCTL_DISABLE_DEVICE, reinterpret_cast<void*>(handle), 8), 0);
  EXPECT_EQ(XMap::_Nil, nil);
  EXPECT_EQ(XMap::_Nilrefs, refs);
  EXPECT_EQ(mine.find(1)->first, 1u);
}

// What the module leaves undefined beyond the runtime.
std::set<std::string> UndefinedBeyondRuntime(const char* module) {
  std::set<std::string> left;
  for (const std::string& name : testsupport::UndefinedIn(module)) {
    if (!testsupport::InRuntime(name)) left.insert(name);
  }
  return left;
}

TEST(KernelModule, ExportsOnlyTheEntryTable) {
  std::set<std::string> exports = testsupport::ExportedBy(ORV_MODULE_FILE);
  exports.erase("_init");
  exports.erase("_fini");
  EXPECT_EQ(exports, std::set<std::string>{"orv_kstrn_driver"});
}

TEST(KernelModule, LeavesUndefinedOnlyTheGluesServices) {
  const std::vector<std::string> named = kglue::Glue::ServiceNames();
  const std::set<std::string> services(named.begin(), named.end());
  ASSERT_GE(services.size(), 40u);
  std::set<std::string> used;
  for (const std::string& name : UndefinedBeyondRuntime(ORV_MODULE_FILE)) {
    EXPECT_TRUE(services.count(name)) << "the module needs " << name;
    if (services.count(name)) used.insert(name);
  }
  // It does call the glue: its memory, registers and ioctl table.
  for (const char* service : {"_Z8memAllocm", "_Z7memFreePv", "_Z17OrvIoctl_RegisterjPFiP12KernelClientjmEiii"}) {
    EXPECT_TRUE(used.count(service)) << service;
  }
}

TEST(KernelModule, TheShippedModuleLoadsAndUnloads) {
  orvsim::Simulation sim;
  kglue::Glue glue;
  EXPECT_EQ(glue.OpenModule(ORV_MODULE_FILE), "");
  EXPECT_EQ(glue.Load(), 0);
  EXPECT_TRUE(glue.Loaded());
  EXPECT_EQ(glue.Unload(), 0);
  EXPECT_FALSE(glue.Loaded());
}

TEST(KernelModule, TheGlueRefusesAFileWithoutAnEntryTable) {
  orvsim::Simulation sim;
  kglue::Glue glue;
  EXPECT_NE(glue.OpenModule("/nonexistent/orv.so"), "");
  // A shared object of the machine, but no module.
  EXPECT_NE(glue.OpenModule(ORV_KGLUE_FILE).find("no entry table"), std::string::npos);
  EXPECT_EQ(glue.OpenModule(ORV_MODULE_FILE), "");
  EXPECT_EQ(glue.OpenModule(ORV_MODULE_FILE), "a module file is open already");
}

}  // namespace
