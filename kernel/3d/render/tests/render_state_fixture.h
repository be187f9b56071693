// The render state of a render context that was never initialised, with
// its owner link and no dirty bits: the setters and the state blocks need
// nothing else.
#pragma once

#include <gtest/gtest.h>

#include <stdint.h>

#include "core/heap_object.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/tests/kernel_fixture.h"

namespace rtest {

class RenderStateTest : public ktest::KernelTest {
 protected:
  void SetUp() override {
    context = OsNew<RenderContext3d>();
    ASSERT_NE(context, nullptr);
    state = &context->state;
    state->owner = context;
    state->ClearDirty();
  }
  void TearDown() override { OsDelete(context); }

  // One render state, by its client id.
  void Set(uint32_t id, uint32_t value) {
    const uint32_t pair[2] = {id, value};
    state->SetRenderStates(pair, 1);
  }

  RenderContext3d* context = nullptr;
  RenderState3d* state = nullptr;
};

}  // namespace rtest
