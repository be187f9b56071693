// The device start places the board's cursor buffer and hands over where
// the processor writes cursor images and where the engines read them; the
// stop gives the buffer back.
#include <gtest/gtest.h>

#include "core/pdev.h"
#include "xdriver/kstrn_device.h"
#include "xdriver/pointer.h"
#include "xdriver/tests/twod_fixture.h"

namespace {

class DeviceCursorTest : public twodtest::Local2dTest {};

TEST_F(DeviceCursorTest, StartPlacesTheCursorBufferAndStopGivesItBack) {
  PDEV* first = Head(0);
  KstrnStartResult result{};
  ASSERT_EQ(KstrnStartDevice(first, &result), kKstrnSuccess);
  HardPointerBuffer* buffer = first->pointer.twoColour[0];
  ASSERT_TRUE(buffer->enabled);
  ASSERT_NE(buffer->block, nullptr);
  EXPECT_EQ(result.cursorOffset, buffer->block->busAddress);
  // A byte the processor writes at the aperture offset of the frame-buffer
  // mapping is the byte the engines read at the local address.
  volatile uint8_t* frameBuffer = first->common->frameBuffer;
  frameBuffer[result.cursorAperture + 100] = 0x5A;
  EXPECT_EQ(board_->LocalMemory()[result.cursorOffset + 100], 0x5A);

  // A second head finds the buffer placed and gets the same addresses.
  PDEV* second = Head(1);
  KstrnStartResult again{};
  ASSERT_EQ(KstrnStartDevice(second, &again), kKstrnSuccess);
  EXPECT_EQ(again.cursorOffset, result.cursorOffset);
  EXPECT_EQ(again.cursorAperture, result.cursorAperture);

  EXPECT_EQ(KstrnStopDevice(second), kKstrnSuccess);
  EXPECT_EQ(KstrnStopDevice(first), kKstrnSuccess);
  EXPECT_EQ(buffer->block, nullptr);
  EXPECT_FALSE(buffer->enabled);
}

}  // namespace
