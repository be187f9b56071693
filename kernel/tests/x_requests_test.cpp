// Requests 20 to 23 of the X driver as a client sends them through the glue:
// what they answer and which device objects they act on.
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/targets/render_target_state.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/tests/kernel_fixture.h"

namespace {

using ktest::KernelTest;

class XRequests : public KernelTest {
 protected:
  XRequests() {
    MakeDevice();
    file = glue.Open(device);
    other = glue.Open(device);
  }
  int Request(kglue::File* f, uint32_t code, unsigned long argument) {
    return glue.Ioctl(f, code, argument);
  }
  static unsigned long Handle(PDEV* pdev) { return reinterpret_cast<unsigned long>(pdev); }

  kglue::File* file = nullptr;
  kglue::File* other = nullptr;
};

TEST_F(XRequests, EnableAnswersOneOrZeroAndNeverAnErrno) {
  OrvEnableRequest request = ktest::EnableRecord(0);
  const unsigned long argument = reinterpret_cast<unsigned long>(&request);
  glue.MarkFaulty(&request, 1);
  EXPECT_EQ(Request(file, ORV_IOCTL_ENABLE_DEVICE, argument), 0);  // copy fault
  glue.ClearUserMemory();
  request.mode.unit = 7;
  EXPECT_EQ(Request(file, ORV_IOCTL_ENABLE_DEVICE, argument), 0);  // no such unit
  EXPECT_EQ(request.kernelHandle, 0u);
  glue.FailAllocation(1);
  request.mode.unit = 0;
  EXPECT_EQ(Request(file, ORV_IOCTL_ENABLE_DEVICE, argument), 0);  // construction fails
  glue.FailAllocation(0);
  EXPECT_EQ(Request(file, ORV_IOCTL_ENABLE_DEVICE, argument), 1);
  auto* pdev = reinterpret_cast<PDEV*>(static_cast<uintptr_t>(request.kernelHandle));
  EXPECT_EQ(Common()->ringHead, pdev);
  EXPECT_EQ(pdev->owner, glue.ContextOf(file));
}

TEST_F(XRequests, DisableActsOnlyOnAnObjectTheClientEnabled) {
  PDEV* mine = Enable(file, 0);
  PDEV* theirs = Enable(other, 1);
  ASSERT_TRUE(mine && theirs);
  int unrelated = 0;
  EXPECT_EQ(Request(file, ORV_IOCTL_DISABLE_DEVICE, reinterpret_cast<unsigned long>(&unrelated)),
            -22);
  EXPECT_EQ(Request(file, ORV_IOCTL_DISABLE_DEVICE, 0), -22);
  EXPECT_EQ(Request(file, ORV_IOCTL_DISABLE_DEVICE, Handle(theirs)), -22);
  EXPECT_EQ(Common()->ringHead->next->next, Common()->ringHead);  // both still there
  EXPECT_EQ(Request(file, ORV_IOCTL_DISABLE_DEVICE, Handle(mine)), 0);
  EXPECT_EQ(Common()->ringHead, theirs);
  EXPECT_EQ(theirs->next, theirs);
  EXPECT_EQ(Request(file, ORV_IOCTL_DISABLE_DEVICE, Handle(mine)), -22);  // gone now
}

TEST_F(XRequests, StartAndStopOfAUnitsObject) {
  PDEV* pdev = Enable(file, 1);
  ASSERT_NE(pdev, nullptr);
  EXPECT_EQ(Request(file, ORV_IOCTL_STOP_DEVICE, 1), -22);  // not started
  EXPECT_EQ(Request(other, ORV_IOCTL_START_DEVICE, Handle(pdev)), -22);
  EXPECT_EQ(pdev->active, 0);
  // Starting reloads the board's resident vertex programs behind the ring.
  VertexProgramBuilder* builder = Common()->vertexProgramBuilder;
  ASSERT_NE(builder, nullptr);
  builder->ResetSlots(true);
  EngineOwner3d* owner = Common()->engineOwner3d;
  ASSERT_NE(owner, nullptr);
  owner->deviceStarted = 0;
  EXPECT_EQ(Request(file, ORV_IOCTL_START_DEVICE, Handle(pdev)), 0);
  EXPECT_EQ(pdev->active, 1);
  EXPECT_EQ(builder->ringStart, 11u);
  // The device's initial engine state went out.
  EXPECT_EQ(owner->deviceStarted, 1);
  EXPECT_EQ(PDEV::GetActive(Common(), 1), pdev);
  EXPECT_EQ(PDEV::GetActive(Common(), kAnyUnit), pdev);
  EXPECT_EQ(PDEV::GetActive(Common(), 0), nullptr);

  EXPECT_EQ(Request(file, ORV_IOCTL_STOP_DEVICE, 0), -22);      // another unit
  EXPECT_EQ(Request(other, ORV_IOCTL_STOP_DEVICE, 1), -22);     // another client
  ASSERT_NE(TargetBoard(Common()), nullptr);
  EXPECT_EQ(Request(file, ORV_IOCTL_STOP_DEVICE, 1), 0);
  EXPECT_EQ(pdev->active, 0);
  EXPECT_EQ(Common()->targetBoard3d, nullptr);  // the render targets' record went with it
  EXPECT_EQ(Request(file, ORV_IOCTL_STOP_DEVICE, 1), -22);
}

}  // namespace
