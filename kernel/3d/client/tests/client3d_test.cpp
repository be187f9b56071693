// The 3D clients' requests end to end: a client process (the 3D client
// stand-in) creates its context, buffers and 3D contexts through the device
// node, runs token streams and requests; the board executes what the kernel
// started. Render contexts and their render state are the real ones; the
// emitters and the surface list are the recording stand-ins.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "core/driver_switches.h"
#include "core/orv_ioctl.h"
#include "core/regs/engine2d.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/client/client_request.h"
#include "kernel/3d/client/client_surfaces.h"
#include "kernel/3d/client/tests/surface_list_probe.h"
#include "kernel/3d/client/token_interpreter.h"
#include "kernel/3d/engine/tests/register_image.h"
#include "kernel/3d/surfaces/blit_engine.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/buffer_ring.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/surfaces/surface_fill.h"
#include "kernel/3d/targets/clear_values.h"
#include "kernel/3d/targets/render_target_state.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/3d/engine/vec_const_shadow.h"
#include "kernel/3d/tnl/vertex_program.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/client_blocks.h"
#include "kernel/flip_controller.h"
#include "kernel/fpu_bracket.h"
#include "kernel/vidmem/surface_mapper.h"
#include "kernel/range_map.h"
#include "kernel/tests/stream_fixture.h"
#include "platform/board/chip_2d.h"
#include "platform/board/chip_3d.h"
#include "platform/client3d/client3d.h"

namespace {

using client3d::Buffer;
using client3d::TokenWriter;

class Client3dTest : public ktest::StartedBoard {
 protected:
  void SetUp() override {
    StartedBoard::SetUp();
    // The X driver declared its primary surface: only its presence counts.
    pdev->primarySurface = reinterpret_cast<MmSurface*>(&primaryStandIn);
    {
      // The unit's list of resource tables keeps its arrays once it grew.
      client3d::Client warmUp(glue, device, 1999);
      ASSERT_EQ(warmUp.CreateContext(reinterpret_cast<uintptr_t>(pdev)), 0);
    }
    baseline = Holdings();
    client = std::make_unique<client3d::Client>(glue, device, 2000);
    ASSERT_EQ(client->CreateContext(reinterpret_cast<uintptr_t>(pdev), &info), 0);
    ASSERT_TRUE(client->CreateBuffer(16384, kClientBufferPages, &commands));
    context3d = client->CreateContext3d(5, commands);
    ASSERT_NE(context3d, 0u);
  }
  void TearDown() override {
    // The surfaces the list handed out go before their memory; the display
    // forgets them first.
    client.reset();
    if (primary != nullptr) {
      pdev->primarySurface = nullptr;
      delete primary;
    }
    StartedBoard::TearDown();
  }

  // A display of 64 x 48 whose primary surface the X driver declared.
  Surface3d* MakePrimary() {
    pdev->mode.virtualWidth = 64;
    pdev->mode.virtualHeight = 48;
    SurfaceCreateRequest request;
    request.placement = kPlaceLocal;
    request.format = pdev->formatCatalogue->Find(BlitEngineOf(pdev)->formatCode);
    request.surfaceType = kUsageIndexDisplay;
    request.width = 64;
    request.height = 48;
    request.levels = 1;
    request.depth = 1;
    primary = Surface3d::CreatePlaced(pdev, &request);
    pdev->primarySurface = primary;
    return primary;
  }
  Surface3d* primary = nullptr;

  // The X driver's way to a primary surface of 64 x 48: a surface block and
  // a window block (ioctl 24), then ioctl 28.
  int XRequest(uint32_t code, void* record) { return glue.Ioctl(file, code, reinterpret_cast<unsigned long>(record)); }
  // The X driver's surface has rows of `pitch` pixels in `layout`.
  void DeclarePrimary(uint32_t pitch = 64, uint32_t layout = kLayoutPitchLinear) {
    pdev->mode.virtualWidth = 64;
    pdev->mode.virtualHeight = 48;
    if (declare.surfaceBlock == 0) {
      OrvBlockRequest block = {};
      block.kind = kBlockKindSurface;
      MmSurfAllocOpt options;
      options.requestedKind = 0;
      options.heapSelector = 1;
      options.desc.word1 = MmSurfDesc::MakeWord1(pitch, layout, 0x30);
      options.desc.word2 = MmSurfDesc::MakeWord2(48, 1);
      options.physicalSize = options.desc.GetPhysicalMemSize(true);
      options.alignment = options.desc.GetRequiredAlignment(true);
      memcpy(block.surfaceOptions, &options, sizeof(options));
      ASSERT_EQ(XRequest(ORV_IOCTL_ALLOC_BLOCK, &block), 0);
      OrvBlockRequest window = {};
      window.kind = kBlockKindAperture;
      MmHostApertureDesc d = {};
      d.options = kApertureExplicitSize;
      d.releasable = 1;
      d.explicitSize = 0x40000;
      d.desc.word1 = MmSurfDesc::MakeWord1(1, kLayoutPlain, 0x10);
      d.desc.size = 0x40000;
      memcpy(window.apertureOptions, &d, sizeof(d));
      ASSERT_EQ(XRequest(ORV_IOCTL_ALLOC_BLOCK, &window), 0);
      declare = {block.handle, window.handle, reinterpret_cast<uintptr_t>(pdev)};
    }
    ASSERT_EQ(XRequest(ORV_IOCTL_DECLARE_PRIMARY, &declare), 0);
  }
  // A lost device as the X driver's VT switch makes it: stop (23), start
  // (22) and the primary surface declared again (28). Until then request 3
  // answers -3; then its answer comes back.
  int32_t LoseAndReattach(const std::function<void()>& whileAway = nullptr) {
    EXPECT_EQ(glue.IoctlWithValue(file, ORV_IOCTL_STOP_DEVICE, 0), 0);
    EXPECT_TRUE(Context()->lost);
    if (whileAway) whileAway();
    EXPECT_EQ(client->Run(kRequestReattach), kRequestNotRunning);
    EXPECT_EQ(glue.IoctlWithValue(file, ORV_IOCTL_START_DEVICE, reinterpret_cast<uintptr_t>(pdev)), 0);
    EXPECT_EQ(client->Run(kRequestReattach), kRequestNotRunning);  // no primary surface yet
    DeclarePrimary();
    return client->Run(kRequestReattach);
  }
  OrvDeclarePrimaryRequest declare = {};

  ClientContext* Context() { return glue.ClientOf(client->File())->context3d; }
  RenderContext3d* Current() { return Context()->Context(context3d)->current; }
  // The current render context draws into its own auxiliary surfaces: the
  // polygon image as colour target, the constant image as depth target,
  // both in local video memory (memory kind 4).
  void Targets(bool colour, bool depth) {
    RenderContext3d* current = Current();
    current->colourTarget = colour ? current->aux.polygon : nullptr;
    current->depthTarget = depth ? current->aux.constant : nullptr;
    for (Surface3d* s : {current->aux.polygon, current->aux.constant}) {
      EXPECT_EQ(Surface3dMemoryKind(s), 4u);
      s->lastWriteTag = 0;
    }
  }
  // Request 30 for drawable `key`: its rectangle and one clip rectangle,
  // both (left, top)-(right, bottom); the request's answer.
  int32_t SetDrawable(uint64_t key, uint32_t left, uint32_t top, uint32_t right, uint32_t bottom) {
    client->Put64(16, key);
    client->Put32(24, left), client->Put32(28, top), client->Put32(32, right), client->Put32(36, bottom);
    client->Put32(40, 1);
    client->Put32(48, left), client->Put32(52, top), client->Put32(56, right), client->Put32(60, bottom);
    return client->Run(kRequestSetDrawableRects);
  }
  // What the glue holds: blocks, regions, locked pages, user and kernel
  // mappings.
  std::vector<size_t> Holdings() {
    return {glue.LiveBlocks().size(), glue.LiveRegions(), glue.LiveLockedPages(), glue.LiveUserMappings(),
            glue.LiveKernelMappings()};
  }
  std::vector<size_t> baseline;
  uint32_t TagCounter() { return SharedLocked()->syncTagCounter; }
  // A register write left in the render context's command stream (the
  // device's secondary stream), not yet handed to the primary stream.
  static constexpr uint32_t kMarkerRegister = 0x7E;
  void LeaveMarker(uint32_t value) {
    uint32_t* at = Secondary()->Reserve(3);
    ASSERT_NE(at, nullptr);
    at[0] = 1;
    at[1] = 0x21212100 | kMarkerRegister;
    at[2] = value;
  }
  bool MarkerRan(uint32_t value) {
    for (const auto& write : dma.Writes())
      if (write.reg == 0x1000 + 4 * kMarkerRegister && write.value == value) return true;
    return false;
  }
  int32_t Stream(const TokenWriter& tokens, uint32_t offset = 0) {
    EXPECT_TRUE(tokens.WriteTo(commands, offset));
    return client->RunTokens(context3d, offset, static_cast<uint32_t>(tokens.Size()));
  }

  // Request 12 through the node: the handle, or 0 (the description as the
  // kernel wrote it back stays in `description`).
  uint64_t MakeSurface(uint32_t flags, uint32_t kind, uint32_t format, uint32_t width, uint32_t height,
                       uint32_t depth = 0, uint32_t levels = 0) {
    description = {flags, kind, format, width, height, depth, levels};
    glue.DeclareUserMemory(2000, &description, sizeof(description));
    client->Put64(16, reinterpret_cast<uintptr_t>(&description));
    client->Put64(24, 0);
    if (client->Run(kRequestCreateSurface) != 0) return 0;
    return client->Get64(24);
  }
  Surface3d* SurfaceOf(uint64_t handle) { return Context()->surfaces->Surface(handle); }
  // Request 31's words: the surface, its box, the client's row pitch and
  // where the rows go.
  void ReadRectRequest(uint64_t handle, const void* box, uint32_t pitch, void* rows) {
    client->Put64(16, handle);
    client->Put64(24, reinterpret_cast<uintptr_t>(box));
    client->Put32(32, pitch);
    client->Put64(40, reinterpret_cast<uintptr_t>(rows));
  }

  alignas(8) uint8_t primaryStandIn[64] = {};
  alignas(8) ClientSurfaceDescription description = {};
  std::unique_ptr<client3d::Client> client;
  client3d::ContextInfo info = {};
  Buffer commands;
  uint32_t context3d = 0;
};

TEST_F(Client3dTest, CreatingAnswersTheBlockAndTheFixedValues) {
  EXPECT_EQ(info.requestBlock, Context()->requestBlockBus);
  EXPECT_EQ(info.values[1], 1);
  EXPECT_EQ(info.eight, 8u);
  EXPECT_EQ(info.maxIndex, 65535u);
  // The answer holds no kernel address.
  EXPECT_NE(info.requestBlock, reinterpret_cast<uintptr_t>(Context()->requestBlock));
  // One context per open file.
  client3d::ContextInfo second = {};
  second.deviceHandle = reinterpret_cast<uintptr_t>(pdev);
  EXPECT_EQ(glue.Ioctl(client->File(), ORV_IOCTL_CREATE_3D_CONTEXT, reinterpret_cast<unsigned long>(&second)), -16);
  // A handle that names no device object.
  client3d::Client other(glue, device, 3000);
  EXPECT_EQ(other.CreateContext(0x1234), -22);
  EXPECT_EQ(other.Execute(), -22);
}

TEST_F(Client3dTest, TheGuardBandFollowsItsSwitch) {
  DriverSwitchesCommon* switches = Common()->driverSwitches;
  for (uint32_t guard : {0u, 1u}) {
    switches->GuardBandClipping->current = guard;
    switches->VertexShader->current = static_cast<uint8_t>(guard);
    client3d::Client other(glue, device, 3000 + guard);
    client3d::ContextInfo answer = {};
    ASSERT_EQ(other.CreateContext(reinterpret_cast<uintptr_t>(pdev), &answer), 0);
    const float band = guard != 0 ? 8160.0f : 0.0f;
    EXPECT_EQ(std::vector<float>(answer.guardBand, answer.guardBand + 4),
              (std::vector<float>{-band, -band, band, band}));
    EXPECT_EQ(answer.values[2], guard);
  }
}

TEST_F(Client3dTest, DispatcherAnswersByCode) {
  struct Case {
    uint32_t code;
    int32_t result;
  };
  const Case cases[] = {{9, 0},  {0, -1},  {2, -1},  {7, -1},  {8, -1},  {19, -1}, {23, -1}, {24, -1},
                        {25, -1}, {26, -1}, {27, -1}, {32, -1}, {0xFFFFFFFF, -1}, {3, 0}, {4, 0}};
  for (const Case& c : cases) EXPECT_EQ(client->Run(c.code), c.result) << c.code;
}

TEST_F(Client3dTest, HandlesThatNameNothingOfTheClientAreRefused) {
  // Code 1 with a handle beyond the table, or freed: nothing runs.
  const uint32_t before = TagCounter();
  EXPECT_EQ(client->RunTokens(999, 0, 0), -1);
  EXPECT_EQ(client->RunTokens(0x7FFFFFFF, 0, 0), -1);
  client->Put32(16, context3d);
  EXPECT_EQ(client->Run(kRequestDestroyContext3d), 0);
  EXPECT_EQ(client->RunTokens(context3d, 0, 0), -1);
  EXPECT_EQ(TagCounter(), before);
  // Code 11 on the freed handle, and code 6 on a foreign handle.
  client->Put32(16, context3d);
  EXPECT_EQ(client->Run(kRequestDestroyContext3d), -1);
  client->Put64(16, 0);
  EXPECT_EQ(client->Run(kRequestDestroyBuffer), -1);
  client->Put64(16, 77);
  EXPECT_EQ(client->Run(kRequestDestroyBuffer), 0);
}

TEST_F(Client3dTest, BufferSizesAreRoundedAndZeroOrWrappingSizesRefused) {
  Buffer buffer;
  ASSERT_TRUE(client->CreateBuffer(5000, kClientBufferPages, &buffer));
  EXPECT_EQ(buffer.size, 8192u);
  EXPECT_NE(buffer.bus, 0u);
  EXPECT_FALSE(client->CreateBuffer(0, kClientBufferPages, nullptr));
  EXPECT_FALSE(client->CreateBuffer(0xFFFFFFFF, kClientBufferPages, nullptr));
  EXPECT_FALSE(client->CreateBuffer(4096, 3, nullptr));
  // The test board has no AGP.
  EXPECT_FALSE(client->CreateBuffer(4096, kClientBufferAgp, nullptr));
  // The command buffer of a live 3D context stays.
  client->Put64(16, commands.handle);
  EXPECT_EQ(client->Run(kRequestDestroyBuffer), -1);
  client->Put64(16, buffer.handle);
  EXPECT_EQ(client->Run(kRequestDestroyBuffer), 0);
}

TEST_F(Client3dTest, ALostContextAnswersOnlyReattachWithoutTakingTheLock) {
  const uint64_t saved = MakeSurface(kDescVideoOnly, kDescKindPlain, 21, 16, 16);
  ASSERT_NE(saved, 0u);
  ASSERT_EQ(glue.IoctlWithValue(file, ORV_IOCTL_STOP_DEVICE, 0), 0);
  EXPECT_TRUE(Context()->lost);
  // The surface list saved and released its video-only surface.
  EXPECT_EQ(SurfaceList3dProbe::SavedRecordCount(*Context()->surfaces), 1u);
  EXPECT_EQ(Context()->surfaces->Object(saved), nullptr);
  // User space holds the command lock: the answer comes all the same.
  SharedLocked()->commandLock = 1;
  client->Put32(16, 4096);
  client->Put32(24, kClientBufferPages);
  EXPECT_EQ(client->Run(kRequestCreateBuffer), -3);
  EXPECT_EQ(client->Run(kRequestNop), -3);
  SharedLocked()->commandLock = 0;
  // Re-attaching needs the device running again.
  EXPECT_EQ(client->Run(kRequestReattach), -3);
  ASSERT_EQ(glue.IoctlWithValue(file, ORV_IOCTL_START_DEVICE, reinterpret_cast<uintptr_t>(pdev)), 0);
  pdev->primarySurface = reinterpret_cast<MmSurface*>(&primaryStandIn);
  EXPECT_EQ(client->Run(kRequestReattach), 0);
  EXPECT_FALSE(Context()->lost);
  EXPECT_EQ(client->Run(kRequestNop), 0);
}

TEST_F(Client3dTest, AReattachedContextReemitsItsSavedTargets) {
  Context3d* context = Context()->Context(context3d);
  const uint64_t handle = MakeSurface(0, kDescKindPlain, 21, 16, 16);
  ASSERT_NE(handle, 0u);
  Surface3d* depth = SurfaceOf(handle);
  context->savedTargets = SavedTargets3d{handle, kTargetDepth};
  SharedLocked()->last1300Value = 0x4321;
  ASSERT_EQ(glue.IoctlWithValue(file, ORV_IOCTL_STOP_DEVICE, 0), 0);
  ASSERT_EQ(glue.IoctlWithValue(file, ORV_IOCTL_START_DEVICE, reinterpret_cast<uintptr_t>(pdev)), 0);
  pdev->primarySurface = reinterpret_cast<MmSurface*>(&primaryStandIn);
  dma.RunPending();
  dma.ClearWrites();
  const uint32_t before = TagCounter();
  EXPECT_EQ(client->Run(kRequestReattach), 0);
  const uint32_t tag = TagCounter();
  ASSERT_NE(tag, before);
  // The saved surface took the tag, and its packet went to the engine.
  EXPECT_EQ(depth->lastWriteTag, tag);
  const uint32_t* packet = Secondary()->cursor - kTargetTagWords;
  EXPECT_EQ(std::vector<uint32_t>(packet, packet + kTargetTagWords),
            (std::vector<uint32_t>{4, 0xC0AFAFC0, 0x207, tag | 1, tag, 0x4321}));
  EXPECT_EQ(Secondary()->start, Secondary()->cursor);
  EXPECT_EQ(client->Run(kRequestWaitIdle), 0);
  EXPECT_EQ(SharedLocked()->completedTag & ~7u, tag);
  bool sawMask = false;
  for (const auto& write : dma.Writes()) sawMask = sawMask || (write.reg == 0x1000 + 4 * 0xC0 && write.value == 0x207);
  EXPECT_TRUE(sawMask);

  // Nothing saved, or a saved surface the client no longer has: a
  // re-attach takes no tag and writes nothing.
  for (const SavedTargets3d saved : {SavedTargets3d{6, 0}, SavedTargets3d{handle + 100, kTargetColour}}) {
    context->savedTargets = saved;
    ASSERT_EQ(glue.IoctlWithValue(file, ORV_IOCTL_STOP_DEVICE, 0), 0);
    ASSERT_EQ(glue.IoctlWithValue(file, ORV_IOCTL_START_DEVICE, reinterpret_cast<uintptr_t>(pdev)), 0);
    pdev->primarySurface = reinterpret_cast<MmSurface*>(&primaryStandIn);
    const uint32_t quiet = TagCounter();
    uint32_t* cursor = Secondary()->cursor;
    EXPECT_EQ(client->Run(kRequestReattach), 0);
    EXPECT_EQ(TagCounter(), quiet);
    EXPECT_EQ(Secondary()->cursor, cursor);
  }
}

TEST_F(Client3dTest, AHeldCommandLockEndsTheRequestWithoutDispatch) {
  SharedLocked()->commandLock = 1;
  client->Put32(0, kRequestNop);
  EXPECT_EQ(client->Execute(), -16);
  EXPECT_EQ(client->Result(), -4);
  SharedLocked()->commandLock = 0;
  expectErrors = true;
}

TEST_F(Client3dTest, AnEmptyStreamSealsABatchAndTheBoardReportsProgress) {
  Targets(true, true);
  const uint32_t before = TagCounter();
  EXPECT_EQ(client->RunTokens(context3d, 0, 0), 0);
  const uint32_t tag = TagCounter();
  EXPECT_NE(tag, before);
  EXPECT_EQ(Current()->colourTarget->lastWriteTag, tag);
  EXPECT_EQ(Current()->depthTarget->lastWriteTag, tag);
  // The engine ran the batch: counter 1 of render context 0 in the status page.
  EXPECT_EQ(client->Run(kRequestWaitIdle), 0);
  const auto* status = static_cast<const uint32_t*>(Context()->Context(context3d)->statusPage);
  EXPECT_EQ(status[2], 1u);
  EXPECT_EQ(status[0], 0u);
  EXPECT_EQ(SharedLocked()->completedTag & ~7u, tag);
}

TEST_F(Client3dTest, TheEndOfAStreamHandsTheContextsCommandsToTheEngine) {
  // Without targets no tag packet goes out: only the hand-over of the
  // render context's stream starts what was left in it.
  Targets(false, false);
  LeaveMarker(0x5EA1ED01);
  EXPECT_EQ(client->RunTokens(context3d, 0, 0), 0);
  EXPECT_EQ(Secondary()->start, Secondary()->cursor);
  EXPECT_EQ(client->Run(kRequestWaitIdle), 0);
  EXPECT_TRUE(MarkerRan(0x5EA1ED01));
  // A stream that stops at an unhandled opcode hands nothing over.
  LeaveMarker(0x5EA1ED02);
  TokenWriter tokens;
  tokens.Token(1, 0);
  EXPECT_EQ(Stream(tokens), -1);
  EXPECT_NE(Secondary()->start, Secondary()->cursor);
  EXPECT_EQ(client->Run(kRequestWaitIdle), 0);
  EXPECT_FALSE(MarkerRan(0x5EA1ED02));
  // The next batch takes it along.
  EXPECT_EQ(client->RunTokens(context3d, 0, 0), 0);
  EXPECT_EQ(client->Run(kRequestWaitIdle), 0);
  EXPECT_TRUE(MarkerRan(0x5EA1ED02));
  EXPECT_TRUE(dma.DecodeErrors().empty());
}

TEST_F(Client3dTest, TheVertexProgramsABatchUsedTakeItsTag) {
  VertexProgramBuilder* builder = Common()->vertexProgramBuilder;
  ASSERT_NE(builder, nullptr);
  VertexProgram program;
  program.inBatch = 1;
  builder->batchPrograms = &program;
  EXPECT_EQ(client->RunTokens(context3d, 0, 0), 0);
  EXPECT_EQ(program.tag, TagCounter());
  EXPECT_EQ(program.inBatch, 0);
  EXPECT_EQ(builder->batchPrograms, nullptr);
}

TEST_F(Client3dTest, TheTargetTagPacketGoesThroughTheSecondaryStream) {
  Targets(true, false);
  SharedLocked()->last1300Value = 0x1234;
  EXPECT_EQ(client->RunTokens(context3d, 0, 0), 0);
  const uint32_t tag = TagCounter();
  const uint32_t* packet = Secondary()->cursor - kTargetTagWords;
  EXPECT_EQ(std::vector<uint32_t>(packet, packet + kTargetTagWords),
            (std::vector<uint32_t>{4, 0xC0AFAFC0, 0x107, tag | 1, tag, 0x1234}));
  // Without a saved value the header's last index writes nothing.
  SharedLocked()->last1300Value = 0xFFFFFFFF;
  EXPECT_EQ(client->RunTokens(context3d, 0, 0), 0);
  EXPECT_EQ(*(Secondary()->cursor - kTargetTagWords + 1), 0x20AFAFC0u);
  // Without targets no packet is written.
  uint32_t* before = Secondary()->cursor;
  Targets(false, false);
  EXPECT_EQ(client->RunTokens(context3d, 0, 0), 0);
  EXPECT_EQ(Secondary()->cursor, before);
  EXPECT_EQ(client->Run(kRequestWaitIdle), 0);
  EXPECT_TRUE(dma.DecodeErrors().empty());
  bool sawMask = false;
  for (const auto& write : dma.Writes()) sawMask = sawMask || write.value == 0x107;
  EXPECT_TRUE(sawMask);
}

TEST_F(Client3dTest, TheStartWritesRegister900FirstAfterAGuardedRegister) {
  SharedLocked()->regGuardEnable = 1;
  SharedLocked()->lastRegWritten = 950;
  board.SetLogging(false, true);
  board.ClearLog();
  EXPECT_EQ(client->RunTokens(context3d, 0, 0), 0);
  std::vector<uint32_t> order;
  for (const auto& write : board.LoggedWrites()) {
    if (write.offset == 900 || write.offset == 1032) order.push_back(write.offset);
  }
  ASSERT_GE(order.size(), 2u);
  EXPECT_EQ(order[0], 900u);
  EXPECT_EQ(order.back(), 1032u);
  EXPECT_EQ(SharedLocked()->lastRegWritten, 1032u);
}

TEST_F(Client3dTest, AStreamEndingInAnUnhandledOpcodeSealsNothing) {
  const uint32_t before = TagCounter();
  TokenWriter tokens;
  tokens.Token(12, 1, {7, 1}).Token(1, 0);
  EXPECT_EQ(Stream(tokens), -1);
  EXPECT_EQ(Current()->state.values[7], 1u);
  // Both render contexts have their defaults.
  for (RenderContext3d* render : Context()->Context(context3d)->renderContexts)
    EXPECT_EQ(render->state.values[166], 0x45000000u);
  EXPECT_EQ(TagCounter(), before);
}

TEST_F(Client3dTest, OpcodesAreMatchedWholeNotByTheirLowBits) {
  // Opcodes whose low bits name handled tokens (skip, render states, a
  // token with trailing bytes, select), and the unhandled rows around the
  // last opcode: each stops the walk after the tokens before it.
  const uint32_t opcodes[] = {128, 128 + 12, 256 + 12, 0x10000000 | 67, 0x80000000 | 81, 82, 127, 0xFFFFFFFF};
  uint32_t value = 1;
  for (const uint32_t opcode : opcodes) {
    for (const uint32_t count : {0u, 1u, 2u}) {
      SCOPED_TRACE(testing::Message() << "opcode " << opcode << " count " << count);
      const uint32_t before = TagCounter();
      ++value;
      TokenWriter tokens;
      tokens.Token(12, 1, {7, value}).Token(opcode, count, std::vector<uint32_t>(count * 2, 0));
      EXPECT_EQ(Stream(tokens), -1);
      EXPECT_EQ(Current()->state.values[7], value);
      EXPECT_EQ(TagCounter(), before);
    }
  }
}

TEST_F(Client3dTest, OneEntryTokensRunUpToAHeaderCutShort) {
  // One-entry tokens back to back, then four bytes: the tokens take
  // effect, the stream is refused and nothing is sealed.
  const uint32_t before = TagCounter();
  TokenWriter tokens;
  tokens.Token(12, 1, {7, 1}).Token(0, 1, {5, 5}).Token(12, 1, {14, 1}).Word(12);
  EXPECT_EQ(Stream(tokens), -1);
  EXPECT_EQ(Current()->state.values[7], 1u);
  EXPECT_EQ(Current()->state.values[14], 1u);
  EXPECT_EQ(TagCounter(), before);
  // The same tokens ending on the stream's end run and seal.
  TokenWriter whole;
  whole.Token(12, 1, {7, 0}).Token(0, 1, {5, 5}).Token(12, 1, {14, 0});
  EXPECT_EQ(Stream(whole), 0);
  EXPECT_EQ(Current()->state.values[7], 0u);
  EXPECT_EQ(Current()->state.values[14], 0u);
  EXPECT_NE(TagCounter(), before);
}

TEST_F(Client3dTest, IndexedDrawWordsCountedPastTheStreamAreRefused) {
  // Words counted past the stream's end: refused, the batch not sealed.
  const uint32_t before = TagCounter();
  TokenWriter cut;
  cut.Token(kTokenDrawIndexed, 1, std::vector<uint32_t>{0x0C000000, 3, 0, 0, 0, 0, 0, 0, 1, 2});
  EXPECT_EQ(Stream(cut), -1);
  EXPECT_EQ(TagCounter(), before);
}

TEST_F(Client3dTest, StreamsOutsideTheBufferOrCrossingItsEndAreRefused) {
  const uint32_t before = TagCounter();
  EXPECT_EQ(client->RunTokens(context3d, 16384, 1), -1);
  EXPECT_EQ(client->RunTokens(context3d, 0xFFFFFFFF, 0xFFFFFFFF), -1);
  // A payload crossing the stream's end in the buffer's last bytes.
  TokenWriter tokens;
  tokens.Token(12, 100);
  ASSERT_TRUE(tokens.WriteTo(commands, 16384 - 8));
  EXPECT_EQ(client->RunTokens(context3d, 16384 - 8, 8), -1);
  // A header cut short.
  EXPECT_EQ(client->RunTokens(context3d, 16384 - 4, 4), -1);
  EXPECT_EQ(TagCounter(), before);
}

TEST_F(Client3dTest, ALengthRewrittenDuringTheRequestChangesNothing) {
  TokenWriter tokens;
  tokens.Token(12, 1, {7, 1});
  ASSERT_TRUE(tokens.WriteTo(commands, 0));
  client3d::Client* c = client.get();
  glue.SetUserMemoryMutator([c] {
    c->Put32(kRequestLengthAt, 0xFFFF0000);
    c->Put32(kRequestHandleAt, 0x7777);
  });
  client->Put32(8, context3d);
  client->Put32(16, 0);
  client->Put32(kRequestLengthAt, static_cast<uint32_t>(tokens.Size()));
  client->Put32(0, kRequestRunTokens);
  EXPECT_EQ(client->Execute(), 0);
  glue.SetUserMemoryMutator(nullptr);
  EXPECT_EQ(client->Result(), 0);
  EXPECT_EQ(Current()->state.values[7], 1u);
}

TEST_F(Client3dTest, PointersAndSizesRewrittenDuringARequestChangeNothing) {
  std::vector<uint8_t> data(100, 0x5A);
  glue.DeclareUserMemory(2000, data.data(), data.size());
  client3d::Client* c = client.get();
  glue.SetUserMemoryMutator([c] {
    c->Put64(16, 0x1000);
    c->Put32(24, 0x7FFFFFFF);
    c->Put32(32, 77);
  });
  client->Put64(16, reinterpret_cast<uintptr_t>(data.data()));
  client->Put32(24, 100);
  client->Put32(32, 0);
  client->Put32(0, kRequestCreateDataBuffer);
  EXPECT_EQ(client->Execute(), 0);
  glue.SetUserMemoryMutator(nullptr);
  EXPECT_EQ(client->Result(), 0);
  // The ring has the size asked before the rewrite, under id 1, with the data.
  ASSERT_NE(Context()->DataBuffer(1), nullptr);
  EXPECT_EQ(Context()->DataBuffer(1)->ring->Size(), 4096u);
  EXPECT_EQ(Context()->DataBuffer(77), nullptr);
  const auto* ring = static_cast<const uint8_t*>(Context()->DataBuffer(1)->ring->Lock(false, false));
  EXPECT_EQ(std::vector<uint8_t>(ring, ring + 100), data);
}

TEST_F(Client3dTest, VertexConstantRangesAreClampedToTheClientConstants) {
  // The client constants go to the render context's shader image.
  VecConstShadow* shadow = RenderContext3dVecConstShadow(Current());
  ASSERT_NE(shadow, nullptr);
  std::vector<uint32_t> payload = {300, 2};
  for (uint32_t i = 0; i < 8; ++i) payload.push_back(0x100 + i);
  TokenWriter tokens;
  tokens.Token(kTokenSetVertexConstRange, 1, payload);
  EXPECT_EQ(Stream(tokens), 0);
  EXPECT_EQ(shadow->image[255].w[0], 0x100u);
  EXPECT_EQ(shadow->image[255].w[3], 0x103u);
  EXPECT_TRUE(shadow->Dirty(255));
  EXPECT_FALSE(shadow->Dirty(254));
  // The render state's constant ring was flushed.
  EXPECT_EQ(Current()->state.constPending, 2u);
}

TEST_F(Client3dTest, SelectingAForeignRenderContextKeepsTheCurrentOne) {
  Context3d* context = Context()->Context(context3d);
  RenderContext3d* first = context->current;
  TokenWriter tokens;
  tokens.Token(kTokenSelectRenderContext, 1, {9999, 0});
  EXPECT_EQ(Stream(tokens), 0);
  EXPECT_EQ(context->current, first);
  TokenWriter select;
  select.Token(kTokenSelectRenderContext, 2, {9999, 0, context->renderContextHandles[1], 0});
  EXPECT_EQ(Stream(select), 0);
  EXPECT_EQ(context->current, context->renderContexts[1]);
}

TEST_F(Client3dTest, TokensWithTrailingBytesHandTheirCopiesOn) {
  // Texture stages from 10 on are dropped; transforms are transposed in the
  // kernel's copy only.
  std::vector<uint32_t> transform = {2};
  for (uint32_t i = 0; i < 16; ++i) transform.push_back(i);
  TokenWriter tokens;
  tokens.Token(kTokenSetTextureStages, 3, {10, 5, 0x00010001, 6, 0x000F0002, 7})
      .Token(kTokenSetTransforms, 1, transform)
      // Each entry followed by its n words: 2 words, then none.
      .Token(kTokenDrawIndexed, 2, std::vector<uint32_t>{0x0C000000, 2, 0, 0, 0, 0, 0, 0, 1, 2,
                                                         0x0C000000, 0, 0, 0, 0, 0, 0, 0})
      .Token(kTokenDrawUserPrimitives, 2,
             std::vector<uint32_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0xAAAAAAAA, 0xBBBBBBBB})
      .Token(kTokenSkip, 0);
  const std::vector<uint8_t> before(commands.mapped, commands.mapped + tokens.Size());
  ASSERT_TRUE(tokens.WriteTo(commands, 0));
  const std::vector<uint8_t> written(commands.mapped, commands.mapped + tokens.Size());
  EXPECT_EQ(client->RunTokens(context3d, 0, static_cast<uint32_t>(tokens.Size())), 0);
  EXPECT_EQ(std::vector<uint8_t>(commands.mapped, commands.mapped + tokens.Size()), written);
  // Stage 10 dropped; stages 1 and 2 take the textures of handles 1 and 15.
  const RenderState3d& state = Current()->state;
  EXPECT_EQ(state.stages[1].texture, 1u);
  EXPECT_EQ(state.stages[1].textureKind, kStageTextureHandle);
  EXPECT_EQ(state.stages[2].texture, 15u);
  EXPECT_EQ(state.stages[0].texture, 0u);
  // The view matrix arrived transposed.
  EXPECT_EQ(state.vertex.view.m[1], 4u);
  EXPECT_EQ(state.vertex.view.m[4], 1u);
  // The trailing bytes of tokens 24 (two words) and 28 (3 + 5 rounded up
  // to 8) were measured right: the skip token after them ran and the
  // stream ended where it should (result 0).
}

TEST_F(Client3dTest, StreamSourcesBindClientBuffersAndDataBuffersOnlyWhenTheyChange) {
  Buffer vertices;
  ASSERT_TRUE(client->CreateBuffer(4096, kClientBufferPages, &vertices));
  std::vector<uint8_t> data(64, 0x5A);
  glue.DeclareUserMemory(2000, data.data(), data.size());
  client->Put64(16, reinterpret_cast<uintptr_t>(data.data()));
  client->Put32(24, static_cast<uint32_t>(data.size()));
  client->Put32(32, 0);
  client->Put32(0, kRequestCreateDataBuffer);
  ASSERT_EQ(client->Execute(), 0);
  ASSERT_EQ(client->Result(), 0);
  DataBuffer3d* dataBuffer = Context()->DataBuffer(1);
  ASSERT_NE(dataBuffer, nullptr);
  auto entry = [](uint32_t stream, uint64_t id, uint32_t stride, uint32_t kind) {
    return std::vector<uint32_t>{stream, 0, static_cast<uint32_t>(id), static_cast<uint32_t>(id >> 32),
                                 stride, 0, kind, 0};
  };
  std::vector<uint32_t> words;
  for (const auto& e : {entry(1, vertices.handle, 32, ~0u),   // the client buffer
                        entry(2, 1, ~0u, 0),                  // data buffer 1, no stride
                        entry(3, 1, 100000, 0),               // a stride past the cap
                        entry(9, vertices.handle, 16, ~0u),   // no stream 9
                        entry(4, 77, 16, 0),                  // no data buffer 77
                        entry(5, 99, 16, ~0u)})               // no client buffer 99
    words.insert(words.end(), e.begin(), e.end());
  TokenWriter tokens;
  tokens.Token(8, 6, words).Token(kTokenSkip, 0);
  RenderState3d& state = Current()->state;
  state.streams.changedMask = 0;
  EXPECT_EQ(Stream(tokens), 0);
  const StreamBinding client1{kBindingAddress, static_cast<uint32_t>(vertices.bus), 32,
                              static_cast<uint32_t>(vertices.size), 0};
  EXPECT_EQ(memcmp(&state.streams.bindings[1], &client1, sizeof client1), 0);
  const uint32_t handle = Surface3dResourceHandle(dataBuffer->surface);
  const StreamBinding data2{kBindingBuffer, handle, 0, 1, 0};
  const StreamBinding data3{kBindingBuffer, handle, 65534, 0, 0};
  EXPECT_EQ(memcmp(&state.streams.bindings[2], &data2, sizeof data2), 0);
  EXPECT_EQ(memcmp(&state.streams.bindings[3], &data3, sizeof data3), 0);
  EXPECT_EQ(state.streams.changedMask, 0x0Eu);
  // The client buffer is the ranged draws' vertex source; the last
  // entry's stride is the context's.
  Context3d* context = Context()->Context(context3d);
  EXPECT_EQ(context->vertexBufferHandle, vertices.handle);
  EXPECT_EQ(context->vertexStride, 16u);
  // The same sources again change nothing; a token naming no client
  // buffer leaves the ranged draws without one.
  state.streams.changedMask = 0;
  EXPECT_EQ(Stream(tokens), 0);
  EXPECT_EQ(state.streams.changedMask, 0u);
  TokenWriter dataOnly;
  dataOnly.Token(8, 1, entry(2, 1, ~0u, 0)).Token(kTokenSkip, 0);
  EXPECT_EQ(Stream(dataOnly), 0);
  EXPECT_EQ(context->vertexBufferHandle, 0u);
}

TEST_F(Client3dTest, ClientRangesRunFromTheClientsBuffersOnly) {
  Buffer ranges;
  ASSERT_TRUE(client->CreateBuffer(4096, kClientBufferPciLocked, &ranges));
  // Registers 0x30 := A, then a 16-byte trailer 0x31 := B, 0x32 := C.
  const std::vector<uint32_t> words = {1, 0x21212130, 0xA0A0A0A0, 2, 0x21213231, 0xB0B0B0B0, 0xC0C0C0C0};
  memcpy(ranges.mapped + 64, words.data(), words.size() * 4);
  // Words that must never run.
  const std::vector<uint32_t> poison = {1, 0x21212133, 0xDEADBEEF, 1, 0x21212133, 0xDEADBEEF, 0, 0};
  memcpy(ranges.mapped + 4096 - 32, poison.data(), poison.size() * 4);
  auto entry = [](uint64_t start, uint64_t end) {
    return std::vector<uint32_t>{0, 0, static_cast<uint32_t>(start), static_cast<uint32_t>(start >> 32),
                                 static_cast<uint32_t>(end), static_cast<uint32_t>(end >> 32)};
  };
  const uint64_t at = ranges.bus + 64;
  std::vector<uint32_t> entries;
  for (const auto& e : {entry(at, at + 28),                                   // runs
                        entry(ranges.bus + 4096 - 32, ranges.bus + 4096 + 8),  // past the buffer
                        entry(at + 2, at + 30),                               // not word-aligned
                        entry(at + 12, at + 24),                              // shorter than a trailer
                        entry(commands.bus, commands.bus + 32),               // pages only the processor reads
                        entry(0x100000000ull, 0x100000020ull)})              // no buffer of the client
    entries.insert(entries.end(), e.begin(), e.end());
  TokenWriter tokens;
  tokens.Token(26, 6, entries).Token(kTokenSkip, 0);
  dma.ClearWrites();
  // With both targets bound, as a client's ranges draw.
  Targets(true, true);
  EXPECT_EQ(Stream(tokens), 0);
  EXPECT_EQ(client->Run(kRequestWaitIdle), 0);
  EXPECT_TRUE(dma.DecodeErrors().empty());
  std::vector<std::pair<uint32_t, uint32_t>> seen;
  for (const auto& write : dma.Writes())
    if (write.reg >= 0x1000 + 4 * 0x30 && write.reg <= 0x1000 + 4 * 0x33) seen.push_back({write.reg, write.value});
  EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, uint32_t>>{
                      {0x1000 + 4 * 0x30, 0xA0A0A0A0}, {0x1000 + 4 * 0x31, 0xB0B0B0B0}, {0x1000 + 4 * 0x32, 0xC0C0C0C0}}));
  // The context goes with its own auxiliary images bound as its targets
  // (TearDown): nothing may read them once they are freed.
}

TEST_F(Client3dTest, BufferDataIsWrittenInsideTheDataBufferOnly) {
  std::vector<uint8_t> initial(64, 0);
  glue.DeclareUserMemory(2000, initial.data(), initial.size());
  client->Put64(16, reinterpret_cast<uintptr_t>(initial.data()));
  client->Put32(24, static_cast<uint32_t>(initial.size()));
  client->Put32(32, 0);
  client->Put32(0, kRequestCreateDataBuffer);
  ASSERT_EQ(client->Execute(), 0);
  ASSERT_EQ(client->Result(), 0);
  DataBuffer3d* buffer = Context()->DataBuffer(1);
  ASSERT_NE(buffer, nullptr);
  const uint32_t size = buffer->ring->Size();
  // Eight bytes at 8; eight at size - 4, of which four fit; four for a
  // buffer that does not exist; four at the very end, dropped.
  TokenWriter tokens;
  tokens.Token(kTokenWriteBufferData, 4,
               std::vector<uint32_t>{1, 8, 0, 8, 1, size - 4, 0, 8, 9, 0, 0, 4, 1, size, 0, 4,
                                     0x11111111, 0x22222222, 0x33333333, 0x44444444, 0x55555555, 0x66666666})
      .Token(kTokenSkip, 0);
  EXPECT_EQ(Stream(tokens), 0);
  const auto* at = static_cast<const uint8_t*>(buffer->ring->Lock(false, false));
  ASSERT_NE(at, nullptr);
  std::vector<uint32_t> words(size / 4);
  memcpy(words.data(), at, size);
  buffer->ring->Unlock();
  std::vector<uint32_t> expected(size / 4, 0);
  expected[2] = 0x11111111, expected[3] = 0x22222222, expected[size / 4 - 1] = 0x33333333;
  EXPECT_EQ(words, expected);

  // Called with fewer trailing bytes than an entry claims, the handler
  // stops at that entry.
  TokenContext3d token{Context()->Context(context3d), pdev, Common(), nullptr, Current(), 0};
  const std::vector<uint32_t> cut = {1, 0, 0, 8, 0x77777777};
  tokens::WriteBufferData(&token, reinterpret_cast<const uint8_t*>(cut.data()), 1, 4);
  at = static_cast<const uint8_t*>(buffer->ring->Lock(false, false));
  ASSERT_NE(at, nullptr);
  uint32_t first = 0;
  memcpy(&first, at, 4);
  buffer->ring->Unlock();
  EXPECT_EQ(first, 0u);
}

TEST_F(Client3dTest, LightRecordsFollowTheirEntriesAndStayInsideTheToken) {
  // Light 2 gets a whole record; light 3's record is too short and is
  // skipped.
  std::vector<uint32_t> record(sizeof(LightRecord) / 4);
  for (size_t i = 0; i < record.size(); ++i) record[i] = 0x100 + static_cast<uint32_t>(i);
  TokenWriter two;
  std::vector<uint32_t> first = {2, sizeof(LightRecord), 3, 8};
  first.insert(first.end(), record.begin(), record.end());
  first.insert(first.end(), {7, 7});
  two.Token(kTokenSetLights, 2, first).Token(kTokenSkip, 0);
  EXPECT_EQ(Stream(two), 0);
  const RenderState3d& state = Current()->state;
  ASSERT_NE(state.lights[2], nullptr);
  EXPECT_EQ(memcmp(state.lights[2], record.data(), sizeof(LightRecord)), 0);
  EXPECT_EQ(state.lights[3], nullptr);

  // Called with fewer trailing bytes than an entry claims, the handler
  // stops at that entry.
  TokenContext3d token{nullptr, nullptr, nullptr, nullptr, Current(), 0};
  std::vector<uint32_t> cut = {5, sizeof(LightRecord)};
  cut.insert(cut.end(), record.begin(), record.end() - 1);
  tokens::SetLights(&token, reinterpret_cast<const uint8_t*>(cut.data()), 1, sizeof(LightRecord) - 4);
  EXPECT_EQ(state.lights[5], nullptr);
}

TEST_F(Client3dTest, VertexConstantMatricesAreStoredOnlyWhenTheyChange) {
  VecConstShadow* shadow = RenderContext3dVecConstShadow(Current());
  ASSERT_NE(shadow, nullptr);
  std::vector<uint32_t> entry = {3};
  for (uint32_t i = 0; i < 16; ++i) entry.push_back(0x40 + i);
  entry.push_back(0xE);  // replaces word 11
  std::vector<uint32_t> words = entry;
  words.insert(words.end(), {9});  // an unknown kind is skipped
  words.insert(words.end(), 17, 0xFFFFFFFF);
  TokenWriter tokens;
  tokens.Token(34, 2, words).Token(kTokenSkip, 0);
  shadow->FoldSent();
  memset(shadow->dirty, 0, sizeof shadow->dirty);
  EXPECT_EQ(Stream(tokens), 0);
  for (uint32_t first : {308u, 342u}) {
    for (uint32_t c = 0; c < 4; ++c) {
      EXPECT_TRUE(shadow->Dirty(first + c)) << first + c;
      for (uint32_t w = 0; w < 4; ++w)
        EXPECT_EQ(shadow->image[first + c].w[w], c * 4 + w == 11 ? 0xEu : 0x40 + c * 4 + w) << first + c;
    }
  }
  EXPECT_FALSE(shadow->Dirty(307));
  EXPECT_FALSE(shadow->Dirty(312));
  // The same matrix again marks nothing.
  memset(shadow->dirty, 0, sizeof shadow->dirty);
  EXPECT_EQ(Stream(tokens), 0);
  EXPECT_FALSE(shadow->Dirty(308));
  EXPECT_FALSE(shadow->Dirty(342));
}

// Element records of request 17 in the client's memory.
struct LayoutInput {
  struct Record {
    uint64_t reserved;
    uint32_t type;
    uint32_t pad;
    uint32_t wordCount;
    uint32_t pad2;
    uint64_t words;
  };
  std::vector<std::vector<uint32_t>> words;
  std::vector<Record> records;
  std::vector<uint64_t> pointers;
  void Add(uint32_t type, std::vector<uint32_t> data) {
    words.push_back(std::move(data));
    records.push_back(Record{0, type, 0, static_cast<uint32_t>(words.back().size()), 0, 0});
  }
  void Declare(kglue::Glue& glue, uint32_t process) {
    pointers.clear();
    for (size_t i = 0; i < records.size(); ++i) {
      records[i].words = reinterpret_cast<uintptr_t>(words[i].data());
      glue.DeclareUserMemory(process, words[i].data(), words[i].size() * 4);
    }
    for (Record& r : records) pointers.push_back(reinterpret_cast<uintptr_t>(&r));
    glue.DeclareUserMemory(process, records.data(), records.size() * sizeof(Record));
    glue.DeclareUserMemory(process, pointers.data(), pointers.size() * 8);
  }
};
static_assert(sizeof(LayoutInput::Record) == 32);

TEST_F(Client3dTest, VertexLayoutsBuildTheirProgramFromTheElementRecords) {
  LayoutInput input;
  input.Add(5, {1, 2, 3});
  input.Add(6, {4, 5});
  input.Add(2, {6});
  input.Declare(glue, 2000);
  std::vector<uint8_t> vertices(3 * 16, 0x33);
  glue.DeclareUserMemory(2000, vertices.data(), vertices.size());
  client->Put32(16, 3);
  client->Put64(24, reinterpret_cast<uintptr_t>(input.pointers.data()));
  client->Put32(32, 16);
  client->Put32(40, 3);
  client->Put64(56, reinterpret_cast<uintptr_t>(vertices.data()));
  ASSERT_EQ(client->Run(kRequestCreateVertexLayout), 0);
  const uint64_t handle = client->Get64(64);
  ASSERT_NE(handle, 0u);
  const VertexLayout3d* layout = Context()->layouts.Get(static_cast<uint32_t>(handle));
  ASSERT_NE(layout, nullptr);
  EXPECT_EQ(layout->programSize, 12u + 4 * 4 + 4 * 3 + 4 * 2);
  ASSERT_EQ(layout->rangeCount, 2u);
  EXPECT_EQ(layout->ranges[0].primitiveType, 5u);
  EXPECT_EQ(layout->ranges[1].primitiveType, 2u);
  EXPECT_EQ(layout->ranges[0].stateFlag, 1u);
  const uint32_t* program = layout->programBuffer->Begin();
  EXPECT_EQ(std::vector<uint32_t>(program, program + 8),
            (std::vector<uint32_t>{0x8B000002, 1, 2, 3, 1, 0x2121212C, 0x4505C, 0x0B000001}));
  EXPECT_EQ(program[10], 0x0B000000u);
  EXPECT_EQ(layout->ranges[0].end, layout->ranges[1].start);
  EXPECT_EQ(layout->ranges[1].end - layout->ranges[0].start, layout->programSize);
  EXPECT_EQ(memcmp(layout->vertexBuffer->Begin(), vertices.data(), vertices.size()), 0);
  // The kernel's address never reaches the client.
  for (size_t at = 0; at + 8 <= kClientRequestSize; at += 4)
    EXPECT_NE(client->Get64(at), reinterpret_cast<uintptr_t>(layout)) << at;
  client->Put64(16, handle);
  EXPECT_EQ(client->Run(kRequestDestroyVertexLayout), 0);
  EXPECT_EQ(Context()->layouts.Get(static_cast<uint32_t>(handle)), nullptr);
  EXPECT_EQ(client->Run(kRequestDestroyVertexLayout), 0);
  client->Put64(16, 0);
  EXPECT_EQ(client->Run(kRequestDestroyVertexLayout), -1);
}

TEST_F(Client3dTest, VertexLayoutRequestsOutsideTheirBoundsAreRefused) {
  struct Case {
    uint32_t type;
    size_t words;
    int32_t result;
  };
  const Case cases[] = {{13, 1, -1}, {0xFFFFFFFF, 1, -1}, {0, 0, -1}, {12, 1, 0}};
  for (const Case& c : cases) {
    LayoutInput input;
    input.Add(c.type, std::vector<uint32_t>(c.words, 7));
    input.Declare(glue, 2000);
    client->Put32(16, 1);
    client->Put64(24, reinterpret_cast<uintptr_t>(input.pointers.data()));
    client->Put32(32, 0);
    client->Put32(40, 0);
    client->Put64(56, 0);
    EXPECT_EQ(client->Run(kRequestCreateVertexLayout), c.result) << c.type;
    glue.ClearUserMemory();
  }
  // A zero count copies only the vertex data; no layout is made.
  std::vector<uint8_t> vertices(64, 1);
  glue.DeclareUserMemory(2000, vertices.data(), vertices.size());
  client->Put32(16, 0);
  client->Put32(32, 16);
  client->Put32(40, 4);
  client->Put64(56, reinterpret_cast<uintptr_t>(vertices.data()));
  EXPECT_EQ(client->Run(kRequestCreateVertexLayout), 0);
  EXPECT_EQ(client->Get64(64), 0u);
  // Vertex data beyond the bound is refused before anything is copied.
  client->Put32(32, 0x10000);
  client->Put32(40, 0x10000);
  EXPECT_EQ(client->Run(kRequestCreateVertexLayout), -1);
  // Records at memory the process does not have fail the copy.
  client->Put32(16, 2);
  client->Put64(24, 0x1000);
  client->Put32(32, 0);
  client->Put32(0, kRequestCreateVertexLayout);
  EXPECT_EQ(client->Execute(), -14);
}

TEST_F(Client3dTest, AClientsTablesAndTheBoardsDrawablesHaveLimits) {
  // 3D contexts: the fixture's is the first.
  uint32_t made = 1;
  while (made < kClientMaxContexts3d + 5 && client->CreateContext3d(5, commands) != 0) ++made;
  EXPECT_EQ(made, kClientMaxContexts3d);
  EXPECT_EQ(Common()->rangeMap->Find(5)->users, kClientMaxContexts3d);
  // Drawables of the board: key 5 and 255 more.
  uint32_t keys = 1;
  for (uint64_t key = 1000; key < 2000; ++key) {
    client->Put64(16, key);
    client->Put32(40, 0);
    if (client->Run(kRequestSetDrawableRects) != 0) break;
    ++keys;
  }
  EXPECT_EQ(keys, kRangeMapMaxEntries);
  // Data buffers.
  uint32_t buffers = 0;
  for (;;) {
    client->Put64(16, 0);
    client->Put32(24, 16);
    client->Put32(32, 0);
    if (client->Run(kRequestCreateDataBuffer) != 0) break;
    ++buffers;
  }
  EXPECT_EQ(buffers, kClientMaxDataBuffers);
}

TEST_F(Client3dTest, DrawableRectanglesAreSetAndBoundedAt32) {
  EXPECT_EQ(SetDrawable(5, 0, 0, 100, 100), 0);
  RangeMap* map = Common()->rangeMap;
  ASSERT_NE(map->Find(5), nullptr);
  EXPECT_EQ(map->Find(5)->visible->count, 1u);
  client->Put32(40, 33);
  EXPECT_EQ(client->Run(kRequestSetDrawableRects), -1);
  EXPECT_EQ(map->Find(5)->clip->count, 1u);
}

// A drawable a client's request 29 added goes with the client when no 3D
// context uses it, and only one it added: left in the board's map it kept
// a place for good and cut into the visible rectangles of the others.
TEST_F(Client3dTest, DrawablesAClientAddedGoWithItUnlessInUse) {
  RangeMap* map = Common()->rangeMap;
  ASSERT_EQ(SetDrawable(50, 0, 0, 10, 10), 0);  // the fixture client's
  const size_t before = map->Count();
  {
    client3d::Client other(glue, device, 2001);
    ASSERT_EQ(other.CreateContext(reinterpret_cast<uintptr_t>(pdev)), 0);
    for (uint64_t key : {40, 41, 5, 50}) {
      other.Put64(16, key);
      other.Put32(40, 0);
      ASSERT_EQ(other.Run(kRequestSetDrawableRects), 0) << key;
    }
    // Drawable 41 is in use by a context of the client when it goes.
    ASSERT_TRUE(other.CreateBuffer(4096, kClientBufferPages, &commands));
    ASSERT_NE(other.CreateContext3d(41, commands), 0u);
    EXPECT_EQ(map->Count(), before + 2);
  }
  EXPECT_EQ(map->Find(40), nullptr);
  EXPECT_EQ(map->Find(41), nullptr);
  EXPECT_NE(map->Find(5), nullptr);   // the fixture's context uses it
  EXPECT_NE(map->Find(50), nullptr);  // the fixture client added it
  EXPECT_EQ(map->Count(), before);
  // The client that added 50 goes: so does 50.
  client.reset();
  EXPECT_EQ(map->Find(50), nullptr);
}

TEST_F(Client3dTest, ClearsAreMovedByTheDrawableAndCutToItsVisibleRectanglesAndViewport) {
  // Drawable 5 at (2, 3) on a 640 x 480 screen; the colour target is the
  // 32 x 32 polygon image, which the board's 2D engine fills.
  orvsim::Engine2d engine2d{board, dma};
  pdev->mode.virtualWidth = 640;
  pdev->mode.virtualHeight = 480;
  ASSERT_EQ(SetDrawable(5, 2, 3, 30, 30), 0);
  Targets(true, false);
  // The client's write mask lets every channel through (render state 168).
  Current()->state.raster.colourWriteMask = 0xF;
  Current()->state.raster.dirty |= kRsColourWriteMask;
  constexpr uint32_t kTokenViewport = 7;
  // The client's viewport is the drawable's (window coordinates, token 7);
  // clears are cut to it where the draws map it, at the drawable's origin.
  const float near = 0.0f, far = 1.0f;
  uint32_t depths[2];
  memcpy(&depths[0], &near, 4);
  memcpy(&depths[1], &far, 4);
  // A colour clear of (1, 1)-(10, 40) within the drawable, and one that
  // lies outside it.
  const std::vector<uint32_t> entries = {kClearColour, 0xFF00FF00, 0, 0, 0, 1, 1, 10, 40,
                                         kClearColour, 0xFF00FF00, 0, 0, 0, 200, 200, 300, 300};
  TokenWriter tokens;
  tokens.Token(kTokenViewport, 1, std::vector<uint32_t>{0, 0, 28, 27, depths[0], depths[1]});
  tokens.Token(kTokenClearBatch, 2, entries);
  Surface3d* image = Current()->aux.polygon;
  // The image's processor view, once the engine is done (the look is no
  // access).
  auto pixels = [&] {
    dma.RunPending();
    image->inSync = 1;
    const uint64_t at = image->Lock();
    std::vector<uint32_t> out;
    for (uint32_t y = 0; at != 0 && y < image->height; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(at + uint64_t{y} * image->pitch));
      out.insert(out.end(), row, row + image->width);
    }
    image->Unlock();
    image->inSync = 0;
    return out;
  };
  EXPECT_EQ(Stream(tokens), 0);
  // Only (3, 4)-(12, 30) took the colour.
  const std::vector<uint32_t> after = pixels();
  ASSERT_EQ(after.size(), 32u * 32);
  for (uint32_t y = 0; y < 32; ++y)
    for (uint32_t x = 0; x < 32; ++x)
      ASSERT_EQ(after[y * 32 + x] == 0xFF00FF00, x >= 3 && x < 12 && y >= 4 && y < 30) << x << "," << y;
  EXPECT_TRUE(engine2d.Faults().empty());
  // The client's token is unchanged (behind the viewport token's header and
  // entry and its own header).
  EXPECT_EQ(memcmp(commands.mapped + 40, entries.data(), entries.size() * 4), 0);
  // A viewport of 6 x 5 at (4, 2) of the window: a clear of the whole
  // drawable fills (6, 5)-(12, 10) of the target, nothing else.
  TokenWriter narrow;
  narrow.Token(kTokenViewport, 1, std::vector<uint32_t>{4, 2, 6, 5, depths[0], depths[1]});
  narrow.Token(kTokenClearBatch, 1, std::vector<uint32_t>{kClearColour, 0xFFFF0000, 0, 0, 0, 0, 0, 28, 27});
  EXPECT_EQ(Stream(narrow), 0);
  const std::vector<uint32_t> cut = pixels();
  ASSERT_EQ(cut.size(), 32u * 32);
  for (uint32_t y = 0; y < 32; ++y)
    for (uint32_t x = 0; x < 32; ++x)
      ASSERT_EQ(cut[y * 32 + x] == 0xFFFF0000, x >= 6 && x < 12 && y >= 5 && y < 10) << x << "," << y;
  // The context goes with its polygon image bound as colour target
  // (TearDown): nothing may read it once it is freed.
}

// A 3D context on drawable 6 at the screen's origin, 40 x 8, drawing into
// a video-only 5:6:5 colour target of that size (no depth target), with
// the board's 2D engine and 3D rasteriser; and the stream of one white
// pre-transformed triangle covering the whole target.
class TargetDraws : public Client3dTest {
 protected:
  void SetUp() override {
    Client3dTest::SetUp();
    pdev->mode.virtualWidth = 640;
    pdev->mode.virtualHeight = 480;
    ASSERT_EQ(SetDrawable(6, 0, 0, 40, 8), 0);
    constexpr uint32_t kClientRgb565 = 23;
    colour = MakeSurface(kDescVideoOnly, kDescKindPlain, kClientRgb565, 40, 8);
    ASSERT_NE(colour, 0u);
    target = SurfaceOf(colour);
    context = client->CreateContext3d(6, commands, static_cast<uint32_t>(colour), 0);
    ASSERT_NE(context, 0u);
  }
  void TearDown() override {
    client->Put32(16, context);
    EXPECT_EQ(client->Run(kRequestDestroyContext3d), 0);
    Client3dTest::TearDown();
  }
  static uint32_t Bits(float f) {
    uint32_t u;
    memcpy(&u, &f, 4);
    return u;
  }
  // Viewport, depth test off, no culling, no lighting, every channel
  // written (`writeMask`), the pre-transformed layout, the triangle.
  void DrawWholeTarget(uint32_t writeMask = 0xF) {
    constexpr uint32_t kTokenViewport = 7, kTokenRenderStates = 12, kTokenVertexShaderSelect = 66;
    constexpr uint32_t kLayoutScreen = 0x44, kScreenStride = 20;
    TokenWriter tokens;
    tokens.Token(kTokenViewport, 1, std::vector<uint32_t>{0, 0, 40, 8, Bits(0.0f), Bits(1.0f)});
    tokens.Token(kTokenRenderStates, 4, std::vector<uint32_t>{7, 0, 22, 1, 137, 0, 168, writeMask});
    tokens.Token(kTokenVertexShaderSelect, 1, std::vector<uint32_t>{kLayoutScreen});
    std::vector<uint32_t> words = {5, 3, kScreenStride, 0, 0, 40, 8, Bits(0.0f), Bits(1.0f), 3 * kScreenStride};
    const float xy[3][2] = {{0, 0}, {80, 0}, {0, 16}};
    for (const auto& v : xy)
      for (uint32_t w : {Bits(v[0]), Bits(v[1]), Bits(0.5f), Bits(1.0f), 0xFFFFFFFFu}) words.push_back(w);
    tokens.Token(kTokenDrawUserPrimitives, 1, words);
    ASSERT_TRUE(tokens.WriteTo(commands, 0));
    ASSERT_EQ(client->RunTokens(context, 0, static_cast<uint32_t>(tokens.Size())), 0);
    dma.RunPending();
  }
  // The target's pixels that do not hold white, read by the processor.
  uint32_t Unwritten() {
    target->inSync = 1;
    const uint64_t at = target->Lock();
    EXPECT_NE(at, 0u);
    uint32_t unwritten = 0;
    for (uint32_t y = 0; at != 0 && y < 8; ++y)
      for (uint32_t x = 0; x < 40; ++x) {
        uint16_t pixel = 0;
        memcpy(&pixel,
               reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(at + uint64_t{y} * target->pitch)) + 2 * x, 2);
        unwritten += pixel != 0xFFFF ? 1 : 0;
      }
    target->Unlock();
    target->inSync = 0;
    return unwritten;
  }

  orvsim::Engine2d engine2d{board, dma};
  orvsim::Engine3d engine3d{board, dma};
  uint64_t colour = 0;
  Surface3d* target = nullptr;
  uint32_t context = 0;
};

// A draw binds its colour target with the rows its fills, copies and the
// processor use: a target 40 pixels wide has rows of 64 (its processor
// view's pitch), and a triangle over the whole target must reach every
// one of its pixels there.
TEST_F(TargetDraws, ADrawWritesTheRowsItsTargetIsLaidOutIn) {
  ASSERT_EQ(target->bytesPerPixel, 2u);
  ASSERT_GT(target->pitch, 40u * 2);  // rows wider than the width
  DrawWholeTarget();
  EXPECT_TRUE(engine3d.Faults().empty());
  ASSERT_GT(engine3d.PixelsWritten(), 0u);
  EXPECT_EQ(Unwritten(), 0u);
}

// The render-target set-up writes the work buffer's words into registers
// 0x88-0x8D, where a draw's targets go too: the draw after it binds its
// colour target again before the engine draws.
TEST_F(TargetDraws, TheDrawAfterTheTargetSetUpBindsItsColourTargetAgain) {
  DrawWholeTarget();
  RenderTargetState* ts = Context()->Context(context)->current->targetState;
  // A set-up pending for a buffer going out of use: the next application
  // runs it (no buffer is behind the words; the engine only holds them).
  ts->kind = kWorkBufferOwn;
  ts->pendingSwitch = 1;
  for (uint32_t i = 0; i < 6; ++i) ts->addressWords[i] = 0x100 * (i + 1);
  dma.ClearWrites();
  const uint64_t before = engine3d.PixelsWritten();
  DrawWholeTarget(0x7);  // a changed write mask: the targets are validated again
  ts->kind = kWorkBufferNone;
  EXPECT_EQ(ts->pendingSwitch, 0u);
  bool setUp = false;
  for (const auto& w : dma.Writes()) setUp = setUp || (w.reg == 0x1000 + 4 * 0x89 && w.value == 0x200);
  EXPECT_TRUE(setUp);
  ASSERT_FALSE(engine3d.Primitives().empty());
  EXPECT_EQ(engine3d.Primitives().back().outcome, orvsim::Engine3d::Outcome::kDrawn);
  EXPECT_GT(engine3d.PixelsWritten(), before);
}

TEST_F(Client3dTest, TwoContextsShareADrawableUntilTheSecondGoes) {
  const uint32_t second = client->CreateContext3d(5, commands);
  ASSERT_NE(second, 0u);
  RangeMap* map = Common()->rangeMap;
  EXPECT_EQ(map->Find(5)->users, 2u);
  client->Put32(16, context3d);
  EXPECT_EQ(client->Run(kRequestDestroyContext3d), 0);
  EXPECT_NE(map->Find(5), nullptr);
  client->Put32(16, second);
  EXPECT_EQ(client->Run(kRequestDestroyContext3d), 0);
  EXPECT_EQ(map->Find(5), nullptr);
  // Binding moves the use.
  const uint32_t third = client->CreateContext3d(6, commands);
  client->Put32(16, third);
  client->Put64(24, 7);
  EXPECT_EQ(client->Run(kRequestBindDrawable), 0);
  EXPECT_EQ(map->Find(6), nullptr);
  EXPECT_EQ(map->Find(7)->users, 1u);
  client->Put32(16, 4242);
  EXPECT_EQ(client->Run(kRequestBindDrawable), -1);
}

TEST_F(Client3dTest, DataBuffersTakeIdsInOrderAndWritesStayInsideTheRing) {
  std::vector<uint8_t> data(100, 0x5A);
  glue.DeclareUserMemory(2000, data.data(), data.size());
  std::vector<uint32_t> handles;
  for (int i = 0; i < 3; ++i) {
    client->Put64(16, reinterpret_cast<uintptr_t>(data.data()));
    client->Put32(24, 100);
    client->Put32(32, 0);
    EXPECT_EQ(client->Run(kRequestCreateDataBuffer), 0);
    handles.push_back(client->Get32(32));
  }
  EXPECT_NE(Context()->DataBuffer(1), nullptr);
  EXPECT_NE(Context()->DataBuffer(2), nullptr);
  EXPECT_NE(Context()->DataBuffer(3), nullptr);
  EXPECT_EQ(Context()->DataBuffer(4), nullptr);
  // A write past the ring copies nothing and answers 0.
  client->Put32(16, 2);
  client->Put32(24, 5000);
  client->Put32(32, 100);
  client->Put64(48, reinterpret_cast<uintptr_t>(data.data()));
  EXPECT_EQ(client->Run(kRequestWriteDataBuffer), 0);
  client->Put32(16, 9);
  EXPECT_EQ(client->Run(kRequestWriteDataBuffer), -1);
  EXPECT_EQ(client->Run(kRequestDestroyDataBuffer), -1);
  client->Put32(16, 2);
  EXPECT_EQ(client->Run(kRequestDestroyDataBuffer), 0);
  EXPECT_EQ(Context()->DataBuffer(2), nullptr);
}

TEST_F(Client3dTest, ASurfaceRecordWhoseCopyOutFailsAnswersFaultAndKeepsThePointer) {
  // A primary-kind description: the kernel writes the display's format and
  // size back.
  Surface3d* primary = MakePrimary();
  ASSERT_NE(primary, nullptr);
  alignas(8) uint32_t record[8] = {kDescPrimary, 1, 0, 0, 0, 0, 0};
  glue.DeclareUserMemory(2000, record, sizeof(record));
  glue.MarkReadOnly(record, sizeof(record));
  client->Put64(16, reinterpret_cast<uintptr_t>(record));
  client->Put32(0, kRequestCreateSurface);
  EXPECT_EQ(client->Execute(), -14);
  EXPECT_EQ(client->Get64(16), reinterpret_cast<uintptr_t>(record));
  glue.ClearUserMemory();
  glue.DeclareUserMemory(2000, record, sizeof(record));
  EXPECT_EQ(client->Execute(), 0);
  EXPECT_EQ(client->Result(), 0);
  EXPECT_EQ(record[3], pdev->mode.virtualWidth);  // the list's answer came back
  EXPECT_EQ(record[6], 1u);
}

TEST_F(Client3dTest, DisplayablePresentsTakeATagAndCopyPerVisibleRectangle) {
  alignas(8) uint32_t boxes[2][6] = {{0, 0, 0, 50, 50, 1}, {0, 0, 0, 50, 50, 1}};
  glue.DeclareUserMemory(2000, boxes, sizeof(boxes));
  pdev->mode.virtualWidth = 640;
  pdev->mode.virtualHeight = 480;
  // The source is displayable; the copy goes into a second surface.
  const uint64_t sourceHandle = MakeSurface(0, kDescKindPlain, 21, 64, 64);
  const uint64_t targetHandle = MakeSurface(0, kDescKindPlain, 21, 64, 64);
  ASSERT_NE(sourceHandle, 0u);
  ASSERT_NE(targetHandle, 0u);
  SurfaceOf(sourceHandle)->flagsWord |= 0x2;
  orvsim::Engine2d engine2d{board, dma};
  ASSERT_EQ(SetDrawable(5, 0, 0, 100, 100), 0);
  auto present = [&] {
    client->Put32(16, 1);
    client->Put32(24, context3d);
    client->Put64(32, targetHandle);
    client->Put64(40, sourceHandle);
    client->Put64(64, 0);
    client->Put64(72, 0);
    client->Put32(80, 0xFFFFFFFF);
    client->Put64(48, reinterpret_cast<uintptr_t>(boxes[0]));
    client->Put64(56, reinterpret_cast<uintptr_t>(boxes[1]));
    return client->Run(kRequestPresentSurface);
  };
  for (int i = 0; i < 6; ++i) {
    const uint32_t before = TagCounter();
    EXPECT_EQ(present(), 0);
    EXPECT_NE(TagCounter(), before);
    // The present's tag comes first; the copy takes its own after it.
    EXPECT_EQ(Context()->presentTags[i], before + 8);
  }
  // One engine copy per present and visible rectangle.
  auto copies = [&] {
    size_t n = 0;
    for (const auto& start : engine2d.OperationStarts()) n += (start.control & 0xF) == orvsim::k2dOpCopy ? 1 : 0;
    return n;
  };
  EXPECT_EQ(copies(), 6u);
  // Boxes are clipped to their 64 x 64 surfaces first: one reaching past
  // them still copies, one clipped to nothing copies nothing.
  boxes[0][3] = boxes[1][3] = 100;
  EXPECT_EQ(present(), 0);
  EXPECT_EQ(copies(), 7u);
  boxes[0][0] = boxes[1][0] = 70;
  EXPECT_EQ(present(), 0);
  EXPECT_EQ(copies(), 7u);
  boxes[0][0] = boxes[1][0] = 0;
  boxes[0][3] = boxes[1][3] = 50;
  // The engine has not passed the tag taken six presents before: busy, and
  // no tag is taken.
  const uint32_t completed = SharedLocked()->completedTag;
  SharedLocked()->completedTag = Context()->presentTags[Context()->presentIndex] - 8;
  const uint32_t before = TagCounter();
  EXPECT_EQ(present(), -4);
  EXPECT_EQ(TagCounter(), before);
  EXPECT_EQ(copies(), 7u);
  SharedLocked()->completedTag = completed;
  // An unknown context or source is refused.
  client->Put32(24, 999);
  EXPECT_EQ(client->Run(kRequestPresentSurface), -1);
  client->Put32(24, context3d);
  client->Put64(40, 99);
  EXPECT_EQ(client->Run(kRequestPresentSurface), -1);
}

TEST_F(Client3dTest, ReadRectSendsRowsBottomUpThroughAlternatingStagingPages) {
  // A 32 x 32 surface of 32-bit pixels in video memory: pixel (x, y) holds
  // y << 16 | x.
  orvsim::Engine2d engine2d{board, dma};
  const uint64_t h = MakeSurface(0, kDescKindPlain, 21, 32, 32);
  ASSERT_NE(h, 0u);
  Surface3d* surface = SurfaceOf(h);
  ASSERT_NE(surface, nullptr);
  auto* pixels = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(surface->Lock()));
  ASSERT_NE(pixels, nullptr);
  for (uint32_t y = 0; y < 32; ++y)
    for (uint32_t x = 0; x < 32; ++x) {
      const uint32_t value = y << 16 | x;
      memcpy(pixels + y * surface->pitch + x * 4, &value, 4);
    }
  surface->Unlock();
  alignas(8) int32_t box[6] = {10, 20, 0, 14, 23, 1};
  std::vector<uint8_t> rows(4 * 16, 0xEE);
  glue.DeclareUserMemory(2000, box, sizeof(box));
  glue.DeclareUserMemory(2000, rows.data(), rows.size());
  ReadRectRequest(h, box, 16, rows.data());
  dma.ClearWrites();
  const size_t copiesBefore = engine2d.Operations();
  ASSERT_EQ(client->Run(kRequestReadRect), 0);
  // The engine copied three rows, each into the staging page of its
  // parity: 22 into page 0, 21 into page 1, 20 into page 0.
  EXPECT_EQ(engine2d.Operations() - copiesBefore, 3u);
  const ClientContext* context = Context();
  // The first copy also brings the copy state's own groups: a register
  // written twice in a row counts once.
  std::vector<uint32_t> destinations, starts;
  auto add = [](std::vector<uint32_t>& to, uint32_t value) {
    if (to.empty() || to.back() != value) to.push_back(value);
  };
  for (const auto& write : dma.Writes()) {
    if (write.reg == 0x1000 + 4 * 0x88) add(destinations, write.value);
    if (write.reg == 0x1000 + 4 * 0xC1) add(starts, write.value);
  }
  const uint32_t page0 = static_cast<uint32_t>(context->stagingBus[0]) | 3;
  const uint32_t page1 = static_cast<uint32_t>(context->stagingBus[1]) | 3;
  EXPECT_EQ(destinations, (std::vector<uint32_t>{page0, page1, page0}));
  EXPECT_EQ(starts, (std::vector<uint32_t>{22u << 16 | 10, 21u << 16 | 10, 20u << 16 | 10}));
  // The staging page's descriptor: 32-bit pixels, layout 1, four wide.
  EXPECT_EQ(board.Peek(0x1224, 4), 0x30000000u | 0x10000 | 4);
  // The client got rows 22, 21 and 20 (columns 10 to 13), bottom-up; the
  // fourth row is untouched.
  for (uint32_t i = 0; i < 3; ++i)
    for (uint32_t x = 0; x < 4; ++x) {
      uint32_t value = 0;
      memcpy(&value, rows.data() + i * 16 + x * 4, 4);
      EXPECT_EQ(value, (22 - i) << 16 | (10 + x)) << i << " " << x;
    }
  EXPECT_EQ(rows[48], 0xEE);
  const uint32_t tag = TagCounter();
  // The last packet before the stream's padding.
  const uint32_t* packet = Primary()->cursor - 5;
  while (*packet != 0xC0AFDDC0 && packet > Primary()->cursor - 32) --packet;
  EXPECT_EQ(std::vector<uint32_t>(packet, packet + 5), (std::vector<uint32_t>{0xC0AFDDC0, 1799, 0, tag | 1, 706}));
  EXPECT_TRUE(dma.DecodeErrors().empty());
  EXPECT_TRUE(engine2d.Faults().empty());
}

TEST_F(Client3dTest, ReadRectFormatsTheStagingPageByBitsPerPixel) {
  orvsim::Engine2d engine2d{board, dma};
  const uint64_t h = MakeSurface(0, kDescKindPlain, 21, 16, 16);
  ASSERT_NE(h, 0u);
  Surface3d* surface = SurfaceOf(h);
  alignas(8) int32_t box[6] = {0, 0, 0, 2, 2, 1};
  std::vector<uint8_t> rows(64);
  glue.DeclareUserMemory(2000, box, sizeof(box));
  glue.DeclareUserMemory(2000, rows.data(), rows.size());
  ReadRectRequest(h, box, 16, rows.data());
  // Only the descriptor's format follows the bits the surface reports (the
  // engine copies the surface's own 32-bit pixels).
  const uint32_t formats[][2] = {{32, 0x30000000}, {30, 0x34000000}, {24, 0x30000000}};
  for (const auto& f : formats) {
    surface->bitsPerPixel = f[0];
    dma.ClearWrites();
    ASSERT_EQ(client->Run(kRequestReadRect), 0) << f[0];
    size_t modes = 0;
    for (const auto& write : dma.Writes()) {
      if (write.reg != 0x1000 + 4 * 0x89) continue;
      EXPECT_EQ(write.value, f[1] | 0x10000 | 2) << f[0];
      ++modes;
    }
    EXPECT_GE(modes, 2u) << f[0];
  }
}

TEST_F(Client3dTest, ReadRectRefusesWhatItCannotCopy) {
  orvsim::Engine2d engine2d{board, dma};
  const uint64_t h = MakeSurface(0, kDescKindPlain, 21, 640, 480);
  ASSERT_NE(h, 0u);
  Surface3d* surface = SurfaceOf(h);
  alignas(8) int32_t box[6] = {0, 0, 0, 1025, 1, 1};
  std::vector<uint8_t> row(8192);
  glue.DeclareUserMemory(2000, box, sizeof(box));
  glue.DeclareUserMemory(2000, row.data(), row.size());
  ReadRectRequest(h, box, 0, row.data());
  struct Case {
    int32_t left, top, right, bottom;
    uint32_t bits;
  };
  const Case cases[] = {
      {0, 0, 1025, 1, 8},      // wider than 1,024
      {0, 0, 1024, 1, 64},     // a row longer than a staging page
      {5, 5, 5, 9, 32},        // empty
      {700, 0, 800, 1, 32},    // clamped to the surface: empty
  };
  for (const Case& c : cases) {
    box[0] = c.left, box[1] = c.top, box[3] = c.right, box[4] = c.bottom;
    surface->bitsPerPixel = c.bits;  // the row size follows the surface's pixel size
    EXPECT_EQ(client->Run(kRequestReadRect), -1) << c.left << " " << c.right;
  }
  // Nothing was copied.
  EXPECT_EQ(engine2d.Operations(), 0u);
  // An unknown surface, and a destination the client cannot write.
  box[0] = 0, box[3] = 4, box[4] = 2;
  surface->bitsPerPixel = 32;
  client->Put64(16, h + 1);
  EXPECT_EQ(client->Run(kRequestReadRect), -1);
  client->Put64(16, h);
  glue.MarkReadOnly(row.data(), row.size());
  EXPECT_EQ(client->Run(kRequestReadRect), -1);
  // A box the client does not have faults the request.
  client->Put64(24, 0x1000);
  client->Put32(0, kRequestReadRect);
  EXPECT_EQ(client->Execute(), -14);
}

TEST_F(Client3dTest, FlipsShowTheSurfaceThroughABufferSlot) {
  const uint64_t shown = MakeSurface(0, kDescKindPlain, 21, 16, 16);
  ASSERT_NE(shown, 0u);
  SurfaceOf(shown)->flipStart[0] = 0x00200000;
  Common()->driverSwitches->FlipOnVBlank->current = 1;
  const uint32_t mask = pdev->displayMask;
  ASSERT_NE(mask, 0u);
  const int display = __builtin_ctz(mask);
  // Value 0 with the switch at 1: value 1, shown at once.
  client->Put64(16, shown);
  client->Put32(24, 0);
  EXPECT_EQ(client->Run(kRequestFlipSurface), 0);
  ASSERT_GE(Context()->flipSlots[1], 1);
  const int32_t first = Context()->flipSlots[1];
  EXPECT_EQ(Flips()->slots[display][first], kFlipSlotTaken);
  EXPECT_EQ(flips.Current(display), static_cast<unsigned>(first));
  EXPECT_EQ(BlitEngineOf(pdev)->displayed, SurfaceOf(shown));
  // Three more flips: the client never holds more than two slots.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(client->Run(kRequestFlipSurface), 0);
    uint32_t taken = 0;
    for (uint32_t slot = 1; slot < kFlipSlotsPerDisplay; ++slot) taken += Flips()->slots[display][slot] != kFlipSlotFree;
    EXPECT_LE(taken, 2u);
  }
  // An index that names nothing of the client.
  client->Put64(16, shown + 1);
  EXPECT_EQ(client->Run(kRequestFlipSurface), -1);
  // Its destruction frees the slots (the display forgets the surface
  // first: the test owns it).
  BlitEngineOf(pdev)->displayed = nullptr;
  EXPECT_EQ(client->DestroyContext(), 0);
  for (uint32_t slot = 1; slot < kFlipSlotsPerDisplay; ++slot)
    EXPECT_EQ(Flips()->slots[display][slot], kFlipSlotFree) << slot;
}

TEST_F(Client3dTest, MemoryTheEngineMayStillReachIsKeptAfterAWaitRanOut) {
  Buffer extra;
  ASSERT_TRUE(client->CreateBuffer(4096, kClientBufferPages, &extra));
  EXPECT_EQ(client->RunTokens(context3d, 0, 0), 0);
  EXPECT_EQ(client->Run(kRequestWaitIdle), 0);
  const size_t pages = glue.LiveLockedPages();
  // A submission that never completes: the engine never goes idle.
  SharedLocked()->pendingSubmissions = 1;
  expectErrors = true;
  EXPECT_EQ(client->Run(kRequestWaitIdle), -4);
  client->Put64(16, extra.handle);
  EXPECT_EQ(client->Run(kRequestDestroyBuffer), -4);
  EXPECT_EQ(client->DestroyContext(), 0);
  EXPECT_TRUE(glue.Logged("*ERROR*"));
  // Status page, command buffer, the extra buffer and the staging pages
  // stay; only the request block went.
  EXPECT_EQ(glue.LiveLockedPages(), pages - 1);
  SharedLocked()->pendingSubmissions = 0;
}

TEST_F(Client3dTest, ADestroyRightAfterCreationDoesNotWait) {
  client3d::Client other(glue, device, 3000);
  ASSERT_EQ(other.CreateContext(reinterpret_cast<uintptr_t>(pdev)), 0);
  const uint64_t yields = glue.ScheduleCount();
  EXPECT_EQ(other.DestroyContext(), 0);
  EXPECT_EQ(glue.ScheduleCount(), yields);
}

TEST_F(Client3dTest, AMutatorThreadRewritingTheBlockNeverReachesTheKernel) {
  TokenWriter tokens;
  tokens.Token(12, 1, {7, 1});
  ASSERT_TRUE(tokens.WriteTo(commands, 0));
  uint8_t* block = client->Block();
  glue.StartUserMemoryMutatorThread([block] {
    const uint32_t lengths[] = {0xFFFFFFFF, 8, 16, 0x10000};
    static uint32_t i = 0;
    __atomic_store_n(reinterpret_cast<uint32_t*>(block + kRequestLengthAt), lengths[i++ % 4], __ATOMIC_RELAXED);
  });
  for (int i = 0; i < 20; ++i) {
    client->Put32(8, context3d);
    client->Put32(16, 0);
    client->Put32(0, kRequestRunTokens);
    EXPECT_EQ(client->Execute(), 0);
    const int32_t result = static_cast<int32_t>(__atomic_load_n(reinterpret_cast<uint32_t*>(block + kRequestResultAt), __ATOMIC_RELAXED));
    EXPECT_TRUE(result == 0 || result == -1) << result;
  }
  glue.StopUserMemoryMutator();
}

// The X server stops the device (request 23) from its own thread while
// the client's request runs: the stop waits for the command lock, so the
// request ends on a running device (its result is in the block before the
// stop answers), and the client is lost afterwards.
TEST_F(Client3dTest, AStopWaitsForTheRunningRequest) {
  TokenWriter tokens;
  std::vector<uint32_t> states;
  for (uint32_t i = 0; i < 64; ++i) states.insert(states.end(), {7, i & 1});
  tokens.Token(12, 64, states);
  ASSERT_TRUE(tokens.WriteTo(commands, 0));
  const uint8_t* block = client->Block();
  // Register accesses of the two threads take turns.
  glue.StartInterruptThread();
  std::atomic<bool> stopped{false};
  std::atomic<int> stopAnswer{1};
  std::atomic<uint32_t> resultAtStop{0};
  std::thread stopper;
  const std::thread::id requestThread = std::this_thread::get_id();
  // At the request's first call of the glue, the X server's thread asks for
  // the stop; the request goes on once the stop waits (it yields) or is
  // done.
  glue.SetUserMemoryMutator([&] {
    if (std::this_thread::get_id() != requestThread || stopper.joinable()) return;
    const uint64_t yields = glue.ScheduleCount();
    stopper = std::thread([&] {
      stopAnswer = glue.IoctlWithValue(file, ORV_IOCTL_STOP_DEVICE, 0);
      resultAtStop = __atomic_load_n(reinterpret_cast<const uint32_t*>(block + kRequestResultAt), __ATOMIC_SEQ_CST);
      stopped = true;
    });
    for (int i = 0; i < 5000 && !stopped.load() && glue.ScheduleCount() < yields + 100; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  EXPECT_EQ(client->RunTokens(context3d, 0, static_cast<uint32_t>(tokens.Size())), 0);
  ASSERT_TRUE(stopper.joinable());
  stopper.join();
  glue.SetUserMemoryMutator(nullptr);
  glue.StopInterruptThread();
  EXPECT_EQ(stopAnswer.load(), 0);
  EXPECT_EQ(resultAtStop.load(), 0u) << "the stop answered while the request ran";
  EXPECT_TRUE(Context()->lost);
  EXPECT_EQ(SharedLocked()->commandLock, 0);
  EXPECT_EQ(client->Run(kRequestNop), kRequestNotRunning);
}

// A stop that cannot get the command lock (user space holds it) stops
// nothing.
TEST_F(Client3dTest, AStopWithoutTheCommandLockStopsNothing) {
  SharedLocked()->commandLock = 1;
  EXPECT_EQ(glue.IoctlWithValue(file, ORV_IOCTL_STOP_DEVICE, 0), -16);
  EXPECT_TRUE(glue.Logged("*ERROR*"));
  EXPECT_FALSE(Context()->lost);
  EXPECT_EQ(pdev->active, 1);
  SharedLocked()->commandLock = 0;
  EXPECT_EQ(client->Run(kRequestNop), 0);
  expectErrors = true;
}

TEST_F(Client3dTest, DestroyingAndReleasingLeaveNothing) {
  Buffer extra;
  ASSERT_TRUE(client->CreateBuffer(8192, kClientBufferPciLocked, &extra));
  EXPECT_EQ(client->RunTokens(context3d, 0, 0), 0);
  EXPECT_EQ(client->DestroyContext(), 0);
  EXPECT_EQ(glue.ClientOf(client->File())->context3d, nullptr);
  EXPECT_EQ(client->DestroyContext(), -22);
  client.reset();
  EXPECT_EQ(Holdings(), baseline);
  // A client that never destroys its context: its release does.
  {
    client3d::Client other(glue, device, 3000);
    ASSERT_EQ(other.CreateContext(reinterpret_cast<uintptr_t>(pdev)), 0);
    Buffer buffer;
    ASSERT_TRUE(other.CreateBuffer(4096, kClientBufferPages, &buffer));
    EXPECT_NE(other.CreateContext3d(9, buffer), 0u);
  }
  EXPECT_EQ(Holdings(), baseline);
  // One whose device goes under it: the device's destruction does.
  client3d::Client last(glue, device, 4000);
  ASSERT_EQ(last.CreateContext(reinterpret_cast<uintptr_t>(pdev)), 0);
  Buffer buffer;
  ASSERT_TRUE(last.CreateBuffer(4096, kClientBufferPages, &buffer));
  ASSERT_NE(last.CreateContext3d(9, buffer), 0u);
  KernelClient* lastClient = glue.ClientOf(last.File());
  DestroyPdev(kdev, pdev);
  EXPECT_EQ(lastClient->context3d, nullptr);
}

}  // namespace

// ---- Client surfaces ----------------------------------------------------------------------------

TEST_F(Client3dTest, SurfacesGoToTheListOfTheirKind) {
  SurfaceList3d* list = Context()->surfaces;
  const uint64_t plain = MakeSurface(0, kDescKindPlain, 21, 256, 256);
  const uint64_t saved = MakeSurface(kDescVideoOnly, kDescKindPlain, 21, 256, 256);
  ASSERT_NE(plain, 0u);
  ASSERT_NE(saved, 0u);
  EXPECT_TRUE(SurfaceList3dProbe::InPlainList(*list, plain));
  EXPECT_FALSE(SurfaceList3dProbe::InSavedList(*list, plain));
  EXPECT_TRUE(SurfaceList3dProbe::InSavedList(*list, saved));
  // The client's handle is the surface's handle in its resource table.
  EXPECT_EQ(Context()->resources->Get(1, static_cast<uint32_t>(plain)), SurfaceOf(plain));
  // Descriptions this device cannot make are refused.
  EXPECT_EQ(MakeSurface(0, kDescKindPlain, 9999, 16, 16), 0u);                 // no such format
  EXPECT_EQ(MakeSurface(0, kDescKindPlain, 21, 0, 16), 0u);                    // no width
  EXPECT_EQ(MakeSurface(0, kDescKindTexture, 21, 16, 16, 0, 12), 0u);          // 13 levels
  EXPECT_EQ(MakeSurface(kDescSharedOne, kDescKindTexture, 21, 16, 16), 0u);    // a shared texture
  EXPECT_EQ(MakeSurface(kDescSharedOne | kDescSharedTwo, 1, 21, 16, 16), 0u);  // two kinds
  client->Put64(16, plain);
  EXPECT_EQ(client->Run(kRequestDestroySurface), 0);
  EXPECT_FALSE(SurfaceList3dProbe::InPlainList(*list, plain));
  EXPECT_EQ(client->Run(kRequestDestroySurface), -1);
  EXPECT_EQ(Context()->resources->Get(1, static_cast<uint32_t>(plain)), nullptr);
}

TEST_F(Client3dTest, PrimarySurfacesOfTwoClientsShareOneMaster) {
  ASSERT_NE(MakePrimary(), nullptr);
  SharedSurfaces3d* shared = pdev->sharedSurfaces3d;
  ASSERT_NE(shared, nullptr);
  const uint64_t mine = MakeSurface(kDescPrimary, kDescKindPlain, 0, 0, 0);
  ASSERT_NE(mine, 0u);
  // The display's format, width and height, one level.
  EXPECT_EQ(description.width, 64u);
  EXPECT_EQ(description.height, 48u);
  EXPECT_EQ(description.levels, 1u);
  EXPECT_EQ(description.format, FormatCatalogue::ToClientFormat(BlitEngineOf(pdev)->formatCode));
  Surface3d* master = shared->masters[kSharedPrimary];
  ASSERT_NE(master, nullptr);
  EXPECT_EQ(shared->primaryState, 0);
  EXPECT_TRUE(SurfaceList3dProbe::InSavedList(*Context()->surfaces, mine));
  // A second client's primary surface is a clone of the same master.
  client3d::Client other(glue, device, 3000);
  ASSERT_EQ(other.CreateContext(reinterpret_cast<uintptr_t>(pdev)), 0);
  alignas(8) ClientSurfaceDescription theirs = {kDescPrimary, 1, 0, 0, 0, 0, 0};
  glue.DeclareUserMemory(3000, &theirs, sizeof(theirs));
  other.Put64(16, reinterpret_cast<uintptr_t>(&theirs));
  ASSERT_EQ(other.Run(kRequestCreateSurface), 0);
  EXPECT_EQ(shared->masters[kSharedPrimary], master);
  EXPECT_EQ(shared->counts[kSharedPrimary], 2u);
  EXPECT_EQ(SurfaceOf(mine)->master, master);
  client->Put64(16, mine);
  EXPECT_EQ(client->Run(kRequestDestroySurface), 0);
  EXPECT_EQ(shared->masters[kSharedPrimary], master);
  EXPECT_EQ(other.DestroyContext(), 0);
  EXPECT_EQ(shared->masters[kSharedPrimary], nullptr);
  EXPECT_EQ(shared->primaryState, -1);
  EXPECT_EQ(shared->counts[kSharedPrimary], 0u);
}

// The device-wide masters' table is the device object's own: a process
// whose id equals the low 32 bits of the device object's address is a
// client like any other. The table used to be entered in the unit's list
// of the processes' tables under those bits, and that process's context
// was refused.
TEST_F(Client3dTest, AProcessWhoseIdEqualsTheDeviceObjectsLowBitsMakesItsContext) {
  DeclarePrimary();
  const auto process = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pdev));
  ASSERT_NE(process, 0u);
  client3d::Client other(glue, device, process);
  ASSERT_EQ(other.CreateContext(reinterpret_cast<uintptr_t>(pdev)), 0);
  // Its surfaces are its own, and a clone of the display still comes from
  // the device-wide master.
  alignas(8) ClientSurfaceDescription d = {kDescPrimary, kDescKindPlain, 0, 0, 0, 0, 0};
  glue.DeclareUserMemory(process, &d, sizeof(d));
  other.Put64(16, reinterpret_cast<uintptr_t>(&d));
  ASSERT_EQ(other.Run(kRequestCreateSurface), 0);
  ClientContext* context = glue.ClientOf(other.File())->context3d;
  ASSERT_NE(context, nullptr);
  EXPECT_NE(context->resources, pdev->sharedSurfaces3d->table);
  Surface3d* clone = context->surfaces->Surface(other.Get64(24));
  ASSERT_NE(clone, nullptr);
  EXPECT_EQ(clone->master, pdev->sharedSurfaces3d->masters[kSharedPrimary]);
  EXPECT_EQ(pdev->sharedSurfaces3d->counts[kSharedPrimary], 1u);
}

// The X driver lays its frame buffer out at its surface's pitch (rows of
// 80 pixels for a 64-pixel display here, in the layout of its device
// bitmaps); a client's primary-kind surface shares those rows. A present's
// fill of the display lands on them, not on the rows of a power of two
// that the surface's own description would give.
TEST_F(Client3dTest, APrimarySurfaceSharesTheRowsTheXDriverLaidOut) {
  orvsim::Engine2d engine2d{board, dma};
  constexpr uint32_t kScreenPitch = 80;
  DeclarePrimary(kScreenPitch, k2dLayoutBitmap);
  const uint64_t display = MakeSurface(kDescPrimary, kDescKindPlain, 0, 0, 0);
  ASSERT_NE(display, 0u);
  const uint32_t bytes = SurfaceOf(display)->bytesPerPixel;
  ASSERT_GT(bytes, 0u);
  EXPECT_EQ(SurfaceOf(display)->pitch, kScreenPitch * bytes);
  ASSERT_EQ(SetDrawable(5, 0, 0, 64, 48), 0);
  // Flag bit 1: the display fills its own box (2, 1)-(10, 4).
  alignas(8) uint32_t boxes[2][6] = {{2, 1, 0, 10, 4, 1}, {2, 1, 0, 10, 4, 1}};
  glue.DeclareUserMemory(2000, boxes, sizeof(boxes));
  constexpr uint32_t kValue = 0xA5A5A5A5;
  client->Put32(16, 2);
  client->Put32(24, context3d);
  client->Put64(32, 0);
  client->Put64(40, display);
  client->Put64(48, reinterpret_cast<uintptr_t>(boxes[0]));
  client->Put64(56, reinterpret_cast<uintptr_t>(boxes[1]));
  client->Put64(64, 0);
  client->Put64(72, 0);
  client->Put32(80, 0xFFFFFFFF);
  client->Put32(96, kValue);
  ASSERT_EQ(client->Run(kRequestPresentSurface), 0);
  dma.RunPending();
  EXPECT_TRUE(engine2d.Faults().empty());
  MmSurface* screen = pdev->primarySurface;
  ASSERT_NE(screen->block, nullptr);
  const uint8_t* rows = board.LocalMemory() + screen->block->busAddress;
  for (uint32_t y = 0; y < 48; ++y)
    for (uint32_t x = 0; x < 64; ++x) {
      uint32_t pixel = 0;
      memcpy(&pixel, rows + (uint64_t{y} * kScreenPitch + x) * bytes, bytes);
      const uint32_t filled = bytes >= 4 ? kValue : kValue & ((1u << (8 * bytes)) - 1);
      ASSERT_EQ(pixel == filled, x >= 2 && x < 10 && y >= 1 && y < 4) << x << "," << y;
    }
}

TEST_F(Client3dTest, ABackBufferWithoutAFreeFlipSlotStoresSlotZeroAndNeverFreesIt) {
  SharedSurfaces3d* shared = pdev->sharedSurfaces3d;
  const uint32_t mask = pdev->displayMask;
  const int display = __builtin_ctz(mask);
  for (uint32_t slot = 0; slot < kFlipSlotsPerDisplay; ++slot) Flips()->slots[display][slot] = kFlipSlotTaken;
  pdev->mode.virtualWidth = 32;
  pdev->mode.virtualHeight = 16;
  const uint64_t back = MakeSurface(kDescBackBuffer, kDescKindPlain, 0, 0, 0);
  ASSERT_NE(back, 0u);
  EXPECT_EQ(shared->flipSlot, 0);
  ASSERT_NE(shared->masters[kSharedBackBuffer], nullptr);
  client->Put64(16, back);
  EXPECT_EQ(client->Run(kRequestDestroySurface), 0);
  EXPECT_EQ(shared->masters[kSharedBackBuffer], nullptr);
  EXPECT_EQ(shared->flipSlot, -1);
  // Slot 0 stays the primary surface's.
  EXPECT_EQ(Flips()->slots[display][0], kFlipSlotTaken);
  for (uint32_t slot = 1; slot < kFlipSlotsPerDisplay; ++slot) Flips()->slots[display][slot] = kFlipSlotFree;
  // With a free slot the master takes it and gives it back.
  const uint64_t second = MakeSurface(kDescBackBuffer, kDescKindPlain, 0, 0, 0);
  ASSERT_NE(second, 0u);
  const int32_t slot = shared->flipSlot;
  EXPECT_GE(slot, 1);
  client->Put64(16, second);
  EXPECT_EQ(client->Run(kRequestDestroySurface), 0);
  EXPECT_EQ(Flips()->slots[display][slot], kFlipSlotFree);
}

TEST_F(Client3dTest, SurfaceValuesReachOnlyTheNamedSurfaces) {
  const uint64_t argb = MakeSurface(0, kDescKindPlain, 21, 16, 16);
  // V8 U8 (client format 60) has no ARGB conversion.
  const uint64_t bump = MakeSurface(0, kDescKindPlain, 60, 16, 16);
  ASSERT_NE(argb, 0u);
  ASSERT_NE(bump, 0u);
  Surface3d* a = SurfaceOf(argb);
  Surface3d* d = SurfaceOf(bump);
  uint32_t ignored = 0;
  ASSERT_FALSE(d->format->ExpandToArgb(&ignored, 0x1234, kUsageTexture));
  for (Surface3d* s : {a, d}) {
    s->expandedKey = 0x5A5A5A5A;
    s->expandedKeyValid = 7;
  }
  // Index 0 and an index that names nothing change nothing.
  TokenWriter nothing;
  const uint64_t none[][2] = {{0, 0x12345678}, {999, 1}};
  nothing.Token(55, 2, none, sizeof(none));
  ASSERT_EQ(Stream(nothing), 0);
  for (Surface3d* s : {a, d}) {
    EXPECT_EQ(s->expandedKey, 0x5A5A5A5Au);
    EXPECT_EQ(s->expandedKeyValid, 7u);
  }
  EXPECT_EQ(Context()->surfaces->Object(argb)->info.flagsB & kInfoValueSet, 0u);
  TokenWriter tokens;
  const uint64_t entries[][2] = {{argb, 0xFF00FF00}, {bump, 0x1234}};
  tokens.Token(55, 2, entries, sizeof(entries));
  ASSERT_EQ(Stream(tokens), 0);
  uint32_t expected = 0;
  ASSERT_TRUE(a->format->ExpandToArgb(&expected, 0xFF00FF00, kUsageTexture));
  EXPECT_EQ(a->expandedKey, expected);
  EXPECT_EQ(a->expandedKeyValid, 0xFFFFFFFFu);
  EXPECT_EQ(Context()->surfaces->Object(argb)->info.surfaceValue, 0xFF00FF00u);
  // A format without the conversion: -1 with valid word 0; the value is
  // kept all the same.
  EXPECT_EQ(d->expandedKey, 0xFFFFFFFFu);
  EXPECT_EQ(d->expandedKeyValid, 0u);
  EXPECT_EQ(Context()->surfaces->Object(bump)->info.surfaceValue, 0x1234u);
}

TEST_F(Client3dTest, LocksRefuseFacesAndLevelsTheSurfaceDoesNotHave) {
  const uint64_t cube = MakeSurface(kDescMipmapped, kDescKindCube, 21, 16, 16, 0, 1);
  const uint64_t plain = MakeSurface(0, kDescKindPlain, 21, 16, 16);
  ASSERT_NE(cube, 0u);
  ASSERT_NE(plain, 0u);
  alignas(8) ClientSurfaceLock lock = {};
  glue.DeclareUserMemory(2000, &lock, sizeof(lock));
  auto tryLock = [&](uint64_t handle, uint32_t level, uint32_t face) {
    lock = {};
    lock.level = level;
    lock.face = face;
    client->Put64(16, handle);
    client->Put64(24, reinterpret_cast<uintptr_t>(&lock));
    const int32_t result = client->Run(kRequestLockSurface);
    client->Put64(16, handle);
    if (result == 0) {
      EXPECT_EQ(client->Run(kRequestUnlockSurface), 0);
    }
    return result;
  };
  EXPECT_EQ(tryLock(cube, 1, 5), 0);
  EXPECT_EQ(lock.pitch, SurfaceOf(cube)->set->Level(5, SurfaceOf(cube)->set->largest - 1)->pitch);
  EXPECT_NE(lock.slicePitch, 0u);
  EXPECT_EQ(tryLock(cube, 0, 6), -1);
  EXPECT_EQ(tryLock(cube, 2, 0), -1);
  EXPECT_EQ(tryLock(plain, 0, 1), -1);
  EXPECT_EQ(tryLock(plain, 0, 0), 0);
  EXPECT_EQ(lock.slicePitch, 0u);
  EXPECT_EQ(tryLock(plain + 100, 0, 0), -1);
}

// Writes a pattern into every level and face of a surface (its bytes
// from the level's processor address), or reads them back.
std::vector<uint8_t> LevelBytes(ClientObject* object, bool write, uint8_t seed) {
  std::vector<uint8_t> all;
  for (uint32_t face = 0; face < object->info.Faces(); ++face) {
    for (uint32_t level = 0; level < object->LevelCount(); ++level) {
      Surface3d* s = object->LevelSurface(level, face);
      if (s == nullptr) continue;
      auto* at = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(s->Lock()));
      EXPECT_NE(at, nullptr);
      if (at == nullptr) return all;
      const uint64_t rowBytes = uint64_t{s->width} * s->bitsPerPixel / 8;
      for (uint32_t z = 0; z < s->depth; ++z)
        for (uint32_t y = 0; y < s->height; ++y)
          for (uint64_t x = 0; x < rowBytes; ++x) {
            uint8_t* p = at + uint64_t{z} * s->pitch * s->height + uint64_t{y} * s->pitch + x;
            if (write) *p = static_cast<uint8_t>(seed + face * 37 + level * 11 + z * 5 + y * 3 + x);
            all.push_back(*p);
          }
      if (write) {
        s->Unlock();
      } else {
        s->UnlockRead();
      }
    }
  }
  return all;
}

TEST_F(Client3dTest, SavedSurfacesComeBackAtTheirHandlesAndIdsWithTheirContents) {
  DeclarePrimary();
  SurfaceList3d* list = Context()->surfaces;
  SharedSurfaces3d* shared = pdev->sharedSurfaces3d;
  struct Made {
    uint64_t handle;
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> ids;
  };
  std::vector<Made> made;
  const uint32_t kinds[][5] = {
      {kDescVideoOnly | kDescMipmapped, kDescKindTexture, 1024, 1, 10},  // 11 levels of 1024 x 1
      {kDescVideoOnly | kDescMipmapped, kDescKindCube, 16, 16, 1},
      {kDescVideoOnly | kDescMipmapped, kDescKindVolume, 8, 8, 1},
      {kDescVideoOnly, kDescKindPlain, 40, 20, 0},
  };
  uint8_t seed = 1;
  for (const auto& k : kinds) {
    const uint64_t handle = MakeSurface(k[0], k[1], 21, k[2], k[3], k[1] == kDescKindVolume ? 4 : 0, k[4]);
    ASSERT_NE(handle, 0u) << k[1];
    Made m{handle, LevelBytes(list->Object(handle), true, seed += 17), {}};
    uint32_t ids[80];
    m.ids.assign(ids, ids + SurfaceList3dProbe::LevelIdsOf(*list, handle, ids, 80));
    EXPECT_FALSE(m.ids.empty());
    made.push_back(m);
  }
  // What the levels hold now is what must come back.
  for (Made& m : made) m.bytes = LevelBytes(list->Object(m.handle), false, 0);
  // A mipmapped 1024 x 1 saves every level's row, no more.
  EXPECT_EQ(list->Object(made[0].handle)->DataSize(), uint64_t{2047} * 4);
  // Clones of the display and of the shared-one master come back as clones
  // of the masters of the restarted device; the display's contents are the
  // X driver's primary surface's, which the loss leaves where they are.
  const uint64_t display = MakeSurface(kDescPrimary, kDescKindPlain, 0, 0, 0);
  const uint64_t sharedOne = MakeSurface(kDescSharedOne, kDescKindPlain, 21, 16, 16);
  ASSERT_NE(display, 0u);
  ASSERT_NE(sharedOne, 0u);
  MmSurface* xPrimary = pdev->primarySurface;
  const std::vector<uint8_t> drawn = LevelBytes(list->Object(display), true, 3);
  const uint32_t ids = SurfaceList3dProbe::LevelIdCount(*list);
  for (int cycle = 0; cycle < 2; ++cycle) {
    const int32_t answer = LoseAndReattach([&] {
      for (const Made& m : made) EXPECT_EQ(list->Object(m.handle), nullptr);
      EXPECT_EQ(list->Object(display), nullptr);
      EXPECT_EQ(shared->masters[kSharedPrimary], nullptr);
      EXPECT_EQ(SurfaceList3dProbe::LevelIdCount(*list), ids);  // reserved while away
    });
    ASSERT_EQ(answer, 0) << cycle;
    EXPECT_EQ(SurfaceList3dProbe::SavedRecordCount(*list), 0u);
    for (const Made& m : made) {
      ClientObject* object = list->Object(m.handle);
      ASSERT_NE(object, nullptr);
      EXPECT_EQ(Context()->resources->Get(1, static_cast<uint32_t>(m.handle)), object->surface);
      uint32_t now[80];
      EXPECT_EQ(std::vector<uint32_t>(now, now + SurfaceList3dProbe::LevelIdsOf(*list, m.handle, now, 80)), m.ids);
      EXPECT_EQ(LevelBytes(object, false, 0), m.bytes) << m.handle;
    }
    ASSERT_NE(SurfaceOf(display), nullptr);
    ASSERT_NE(SurfaceOf(sharedOne), nullptr);
    EXPECT_EQ(SurfaceOf(display)->master, shared->masters[kSharedPrimary]);
    EXPECT_EQ(shared->masters[kSharedPrimary]->master, xPrimary);
    EXPECT_EQ(SurfaceOf(sharedOne)->master, shared->masters[kSharedOne]);
    EXPECT_EQ(shared->counts[kSharedPrimary], 1u);
    EXPECT_EQ(shared->counts[kSharedOne], 1u);
    EXPECT_EQ(LevelBytes(list->Object(display), false, 0), drawn);
  }
  // Destroying them frees every id and master.
  for (const Made& m : made) {
    client->Put64(16, m.handle);
    EXPECT_EQ(client->Run(kRequestDestroySurface), 0);
  }
  for (uint64_t handle : {display, sharedOne}) {
    client->Put64(16, handle);
    EXPECT_EQ(client->Run(kRequestDestroySurface), 0);
  }
  EXPECT_EQ(SurfaceList3dProbe::LevelIdCount(*list), 0u);
  EXPECT_EQ(shared->masters[kSharedPrimary], nullptr);
  EXPECT_EQ(shared->masters[kSharedOne], nullptr);
}

// A kind this board places in AGP memory only (shared-one) comes back there
// after a loss: re-created in local memory alone it could never come back,
// and request 3 would refuse the client for good.
// A client killed while the device is stopped under it: the stop waited
// for its closing tag, so the engine holds none of the client's work, and
// the engine need not run for this desktop again (here it never reports
// idle). The release frees the saved records and every page the client
// had without waiting on it; it used to wait out every bound and then keep
// the pages the engine "may still read".
TEST_F(Client3dTest, AClientReleasedWhileLostFreesItsSavedRecordsWithoutWaiting) {
  DeclarePrimary();
  const std::vector<size_t> before = Holdings();
  auto other = std::make_unique<client3d::Client>(glue, device, 3000);
  ASSERT_EQ(other->CreateContext(reinterpret_cast<uintptr_t>(pdev)), 0);
  Buffer buffer;
  ASSERT_TRUE(other->CreateBuffer(4096, kClientBufferPages, &buffer));
  const uint32_t context = other->CreateContext3d(9, buffer);
  ASSERT_NE(context, 0u);
  alignas(8) ClientSurfaceDescription d = {kDescVideoOnly, kDescKindPlain, 21, 40, 20, 0, 0};
  glue.DeclareUserMemory(3000, &d, sizeof(d));
  other->Put64(16, reinterpret_cast<uintptr_t>(&d));
  ASSERT_EQ(other->Run(kRequestCreateSurface), 0);
  EXPECT_EQ(other->RunTokens(context, 0, 0), 0);
  EXPECT_EQ(other->Run(kRequestWaitIdle), 0);
  ASSERT_EQ(glue.IoctlWithValue(file, ORV_IOCTL_STOP_DEVICE, 0), 0);
  ClientContext* lost = glue.ClientOf(other->File())->context3d;
  ASSERT_TRUE(lost->lost);
  EXPECT_EQ(SurfaceList3dProbe::SavedRecordCount(*lost->surfaces), 1u);
  SharedLocked()->pendingSubmissions = 1;
  dma.HoldFifoRoomClear(true);
  const uint64_t yields = glue.ScheduleCount();
  other.reset();
  EXPECT_EQ(glue.ScheduleCount(), yields);
  EXPECT_FALSE(glue.Logged("*ERROR*")) << glue.LogText();
  // Regions, locked pages and mappings as before the client came; blocks
  // no more (the stop itself freed some of the device's).
  const std::vector<size_t> after = Holdings();
  EXPECT_LE(after[0], before[0]);
  EXPECT_EQ(std::vector<size_t>(after.begin() + 1, after.end()), std::vector<size_t>(before.begin() + 1, before.end()));
  SharedLocked()->pendingSubmissions = 0;
  dma.HoldFifoRoomClear(false);
}

// While the engine had not reached every tag at the stop, a lost client's
// release still waits, and keeps what the engine may read when the wait
// runs out.
TEST_F(Client3dTest, AClientLostBeforeTheEngineWasDoneStillWaits) {
  DeclarePrimary();
  EXPECT_EQ(client->RunTokens(context3d, 0, 0), 0);
  EXPECT_EQ(client->Run(kRequestWaitIdle), 0);
  ASSERT_EQ(glue.IoctlWithValue(file, ORV_IOCTL_STOP_DEVICE, 0), 0);
  ASSERT_TRUE(Context()->lost);
  EXPECT_TRUE(Context()->idleAtLoss);
  // As if the stop's closing tag had not been reached.
  Context()->idleAtLoss = false;
  SharedLocked()->pendingSubmissions = 1;
  expectErrors = true;
  const size_t pages = glue.LiveLockedPages();
  client.reset();
  EXPECT_TRUE(glue.Logged("*ERROR*"));
  EXPECT_GT(glue.LiveLockedPages(), pages - 5);
  SharedLocked()->pendingSubmissions = 0;
}

// A 3D context made on two video-only targets: at the loss both render
// contexts let go of them (they are released); the re-attach binds the
// surfaces re-created at the same handles to both again.
TEST_F(Client3dTest, AReattachBindsTheContextsTargetsAgain) {
  DeclarePrimary();
  const uint64_t colour = MakeSurface(kDescVideoOnly, kDescKindPlain, 21, 16, 16);
  const uint64_t depth = MakeSurface(kDescVideoOnly, kDescKindPlain, 80, 16, 16);
  ASSERT_NE(colour, 0u);
  ASSERT_NE(depth, 0u);
  const uint32_t handle =
      client->CreateContext3d(7, commands, static_cast<uint32_t>(colour), static_cast<uint32_t>(depth));
  ASSERT_NE(handle, 0u);
  Context3d* context = Context()->Context(handle);
  for (RenderContext3d* render : context->renderContexts) {
    EXPECT_EQ(render->colourTarget, SurfaceOf(colour));
    EXPECT_EQ(render->depthTarget, SurfaceOf(depth));
  }
  ASSERT_EQ(LoseAndReattach([&] {
              for (RenderContext3d* render : context->renderContexts) {
                EXPECT_EQ(render->colourTarget, nullptr);
                EXPECT_EQ(render->depthTarget, nullptr);
              }
            }),
            0);
  ASSERT_NE(SurfaceOf(colour), nullptr);
  ASSERT_NE(SurfaceOf(depth), nullptr);
  for (RenderContext3d* render : context->renderContexts) {
    EXPECT_EQ(render->colourTarget, SurfaceOf(colour));
    EXPECT_EQ(render->depthTarget, SurfaceOf(depth));
    EXPECT_EQ(render->targetFlags & (kTargetColourBound | kTargetDepthBound), kTargetColourBound | kTargetDepthBound);
  }
}

TEST_F(Client3dTest, ASurfaceMadeInAgpMemoryComesBackAfterALoss) {
  DeclarePrimary();
  const uint64_t handle = MakeSurface(kDescSharedOne, kDescKindPlain, 21, 64, 64);
  ASSERT_NE(handle, 0u);
  ASSERT_EQ(pdev->sharedSurfaces3d->masters[kSharedOne]->Placement(), kNibbleAgp);
  ASSERT_EQ(LoseAndReattach(), 0);
  ASSERT_NE(SurfaceOf(handle), nullptr);
  EXPECT_EQ(SurfaceOf(handle)->master, pdev->sharedSurfaces3d->masters[kSharedOne]);
  EXPECT_EQ(pdev->sharedSurfaces3d->masters[kSharedOne]->Placement(), kNibbleAgp);
}

// The loss as the kernel core marks it (MarkLost). The third surface's
// record cannot be had: request 3 re-creates the first two, meets the
// empty entry, answers -1 and releases them again; the records stay.
TEST_F(Client3dTest, AFailedSaveMakesReattachRefuseAndReleaseWhatItMade) {
  SurfaceList3d* list = Context()->surfaces;
  uint64_t handles[3];
  for (int i = 0; i < 2; ++i) {
    handles[i] = MakeSurface(kDescVideoOnly, kDescKindPlain, 21, 32, 32);
    ASSERT_NE(handles[i], 0u);
  }
  // Losses with the first two alone count their saves' allocations (the
  // first loss also makes what later ones reuse).
  uint64_t firstTwo = 0;
  for (int cycle = 0; cycle < 2; ++cycle) {
    const uint64_t before = glue.AllocationCount(kglue::AllocKind::kMemory);
    Context()->MarkLost();
    firstTwo = glue.AllocationCount(kglue::AllocKind::kMemory) - before;
    ASSERT_EQ(client->Run(kRequestReattach), 0);
  }
  handles[2] = MakeSurface(kDescVideoOnly, kDescKindPlain, 21, 32, 32);
  ASSERT_NE(handles[2], 0u);
  const uint32_t ids = SurfaceList3dProbe::LevelIdCount(*list);
  const size_t surfaces = Context()->resources->TableOf(1)->Count();

  // The next allocation after theirs is the third surface's record.
  glue.FailAllocation(firstTwo + 1, kglue::AllocKind::kMemory);
  Context()->MarkLost();
  glue.FailAllocation(0);
  EXPECT_EQ(glue.FailedAllocations(), 1u);
  EXPECT_EQ(SurfaceList3dProbe::SavedRecordCount(*list), 3u);
  EXPECT_EQ(Context()->resources->TableOf(1)->Count(), surfaces - 3);
  const size_t blocks = glue.LiveBlocks().size();
  for (int attempt = 0; attempt < 2; ++attempt) {
    const uint64_t allocations = glue.AllocationCount(kglue::AllocKind::kMemory);
    EXPECT_EQ(client->Run(kRequestReattach), -1);
    // The first two were made again, and went again.
    EXPECT_GT(glue.AllocationCount(kglue::AllocKind::kMemory), allocations);
    EXPECT_EQ(glue.LiveBlocks().size(), blocks);
    for (uint64_t h : handles) EXPECT_EQ(list->Object(h), nullptr);
    EXPECT_EQ(Context()->resources->TableOf(1)->Count(), surfaces - 3);
    EXPECT_EQ(SurfaceList3dProbe::SavedRecordCount(*list), 3u);
    EXPECT_EQ(SurfaceList3dProbe::LevelIdCount(*list), ids);
  }
}

// Without room for a saved surface's list entry the surface is not
// dropped unnoticed: request 3 refuses as at an empty entry.
TEST_F(Client3dTest, ASaveWithoutRoomForItsEntryAlsoMakesReattachRefuse) {
  SurfaceList3d* list = Context()->surfaces;
  const uint64_t first = MakeSurface(kDescVideoOnly, kDescKindPlain, 21, 32, 32);
  const uint64_t second = MakeSurface(kDescVideoOnly, kDescKindPlain, 21, 32, 32);
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  uint64_t saves = 0;
  for (int cycle = 0; cycle < 2; ++cycle) {
    const uint64_t before = glue.AllocationCount(kglue::AllocKind::kMemory);
    Context()->MarkLost();
    saves = glue.AllocationCount(kglue::AllocKind::kMemory) - before;
    ASSERT_EQ(client->Run(kRequestReattach), 0);
  }
  // The last allocation of the loss is the second surface's entry.
  glue.FailAllocation(saves, kglue::AllocKind::kMemory);
  Context()->MarkLost();
  glue.FailAllocation(0);
  EXPECT_EQ(glue.FailedAllocations(), 1u);
  EXPECT_EQ(SurfaceList3dProbe::SavedRecordCount(*list), 1u);
  EXPECT_EQ(client->Run(kRequestReattach), -1);
  EXPECT_EQ(list->Object(first), nullptr);
  EXPECT_EQ(list->Object(second), nullptr);
}

// ---- Level copies ------------------------------------------------------------------------------

namespace {

// What the engines were given: copies the 2D engine started, and register
// writes of the packets the 3D engine ran.
size_t CopyStarts(const orvsim::Engine2d& engine) {
  size_t n = 0;
  for (const auto& start : engine.OperationStarts()) n += (start.control & 0xF) == orvsim::k2dOpCopy ? 1 : 0;
  return n;
}

std::vector<uint32_t> WritesTo(const orvsim::DmaEngine& dma, uint32_t index) {
  std::vector<uint32_t> out;
  for (const auto& w : dma.Writes())
    if (w.reg == 0x1000 + 4 * index) out.push_back(w.value);
  return out;
}

float AsFloat(uint32_t bits) {
  float f;
  memcpy(&f, &bits, 4);
  return f;
}

// Every byte of one level surface (rows of its width), or each set to a
// value.
std::vector<uint8_t> Pixels(Surface3d* s, const uint8_t* set = nullptr) {
  std::vector<uint8_t> all;
  auto* at = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(s->Lock()));
  EXPECT_NE(at, nullptr);
  if (at == nullptr) return all;
  const uint32_t rowBytes = s->width * s->bitsPerPixel / 8;
  for (uint32_t y = 0; y < s->height; ++y)
    for (uint32_t x = 0; x < rowBytes; ++x) {
      if (set != nullptr) at[uint64_t{y} * s->pitch + x] = *set;
      all.push_back(at[uint64_t{y} * s->pitch + x]);
    }
  if (set != nullptr) {
    s->Unlock();
  } else {
    s->UnlockRead();
  }
  return all;
}

}  // namespace

TEST_F(Client3dTest, CopyLevelsHalvesTheRectangleOfEveryLevel) {
  orvsim::Engine2d engine2d{board, dma};
  Common()->driverSwitches->UseTextiled->current = 0;
  SurfaceList3d* list = Context()->surfaces;
  // Levels of 256 down to 32: none shares the packed area of small levels.
  const uint64_t from = MakeSurface(kDescMipmapped, kDescKindTexture, 21, 256, 256, 0, 3);
  const uint64_t to = MakeSurface(kDescMipmapped, kDescKindTexture, 21, 256, 256, 0, 3);
  ASSERT_NE(from, 0u);
  ASSERT_NE(to, 0u);
  ClientObject* source = list->Object(from);
  ClientObject* destination = list->Object(to);
  (void)LevelBytes(source, true, 5);
  const uint8_t zero = 0;
  for (uint32_t level = 0; level < 4; ++level) (void)Pixels(destination->LevelSurface(level, 0), &zero);
  // A 7 x 5 rectangle, then each edge halved and kept a unit from its
  // opposite: 4 x 3, 2 x 2, 1 x 1.
  const uint32_t box[6] = {0, 0, 0, 7, 5, 1};
  ASSERT_TRUE(destination->CopyLevels(source, box, box));
  dma.RunPending();
  EXPECT_EQ(CopyStarts(engine2d), 4u);
  const uint32_t sizes[4][2] = {{7, 5}, {4, 3}, {2, 2}, {1, 1}};
  for (uint32_t level = 0; level < 4; ++level) {
    Surface3d* d = destination->LevelSurface(level, 0);
    Surface3d* s = source->LevelSurface(level, 0);
    ASSERT_NE(d, nullptr);
    const std::vector<uint8_t> got = Pixels(d), was = Pixels(s);
    const uint32_t rowBytes = d->width * 4;
    uint32_t copied = 0, wrong = 0;
    for (uint32_t y = 0; y < d->height; ++y) {
      for (uint32_t x = 0; x < d->width; ++x) {
        const bool inside = x < sizes[level][0] && y < sizes[level][1];
        for (uint32_t b = 0; b < 4; ++b) {
          const size_t at = size_t{y} * rowBytes + x * 4 + b;
          wrong += got[at] != (inside ? was[at] : 0) ? 1 : 0;
        }
        copied += inside ? 1 : 0;
      }
    }
    EXPECT_EQ(copied, sizes[level][0] * sizes[level][1]) << level;
    EXPECT_EQ(wrong, 0u) << level;
  }
}

namespace {

// A 32 x 32 surface of a format code in the client's resource table, entered
// into its surface list.
ClientObject* MakeCoded(PDEV* pdev, ClientContext* context, uint32_t code) {
  SurfaceCreateRequest request;
  request.placement = kPlaceLocal;
  request.format = pdev->formatCatalogue->Find(code);
  request.surfaceType = kUsageIndexPlain;
  request.width = 32;
  request.height = 32;
  request.levels = 1;
  request.depth = 1;
  Surface3d* s = context->resources->CreateSurface(1, &request);
  EXPECT_NE(s, nullptr) << code;
  if (s == nullptr) return nullptr;
  const uint64_t handle = context->surfaces->AddSurface(s);
  EXPECT_NE(handle, 0u);
  return context->surfaces->Object(handle);
}

}  // namespace

// Equal formats, no mirror and no stretch go to the 2D engine's copy;
// anything else, and formats 13 and 14 always, to the 3D engine's blit.
TEST_F(Client3dTest, LevelCopiesChooseTheEngineCopyOrTheBlit) {
  orvsim::Engine2d engine2d{board, dma};
  struct Case {
    uint32_t sourceCode, destinationCode;
    int32_t destination[4];
    bool blit;
    bool mirrored;
  } cases[] = {
      {11, 11, {0, 0, 16, 16}, false, false},
      {11, 11, {15, 0, -1, 16}, true, true},   // right below left: mirrored in x
      {11, 11, {0, 0, 32, 32}, true, false},   // stretched
      {13, 13, {0, 0, 16, 16}, true, false},
      {14, 14, {0, 0, 16, 16}, true, false},
      {11, 13, {0, 0, 16, 16}, true, false},
  };
  for (const Case& c : cases) {
    ClientObject* source = MakeCoded(pdev, Context(), c.sourceCode);
    ClientObject* destination = MakeCoded(pdev, Context(), c.destinationCode);
    ASSERT_NE(source, nullptr);
    ASSERT_NE(destination, nullptr);
    LevelCopyRequest request;
    const int32_t rect[4] = {0, 0, 16, 16};
    memcpy(request.source, rect, sizeof(rect));
    memcpy(request.destination, c.destination, sizeof(c.destination));
    dma.RunPending();
    dma.ClearWrites();
    engine2d.ClearOperationStarts();
    EXPECT_TRUE(destination->CopyLevel(source, &request, 0, 0, 0xFFFFFFFF)) << c.sourceCode;
    dma.RunPending();
    EXPECT_EQ(CopyStarts(engine2d), c.blit ? 0u : 1u) << c.sourceCode << " " << c.destination[2];
    // A blit draws its rectangle with stage 0's texture coordinates: s of
    // the left corners at 0x63 before that of the right one.
    const std::vector<uint32_t> s = WritesTo(dma, 0x63);
    ASSERT_EQ(s.size() >= 2, c.blit) << c.sourceCode << " " << c.destination[2];
    if (c.blit) {
      EXPECT_EQ(AsFloat(s[0]) > AsFloat(s[1]), c.mirrored) << c.sourceCode << " " << c.destination[2];
    }
  }
}

// Levels are a texture's: a clone of a device-wide master stays a clone of
// its one surface whatever the description's mipmapped flag says, and a
// plain surface stays one surface.
TEST_F(Client3dTest, TheMipmappedFlagMakesNoLevelsOutsideATexture) {
  DeclarePrimary();
  SharedSurfaces3d* shared = pdev->sharedSurfaces3d;
  const struct {
    uint32_t flags;
    SharedKind3d kind;
  } cases[] = {{kDescPrimary, kSharedPrimary},
               {kDescBackBuffer, kSharedBackBuffer},
               {kDescSharedOne, kSharedOne},
               {kDescSharedTwo, kSharedTwo},
               {0, kSharedNone}};
  auto round = [&] {
    for (const auto& c : cases) {
      const uint64_t handle = MakeSurface(c.flags | kDescMipmapped | kDescBordered, kDescKindPlain, 21, 16, 16, 0, 3);
      ASSERT_NE(handle, 0u) << c.flags;
      Surface3d* s = SurfaceOf(handle);
      if (c.kind != kSharedNone) {
        EXPECT_EQ(s->master, shared->masters[c.kind]) << c.flags;
        EXPECT_EQ(shared->counts[c.kind], 1u) << c.flags;
      }
      EXPECT_EQ(s->set, nullptr) << c.flags;
      client->Put64(16, handle);
      EXPECT_EQ(client->Run(kRequestDestroySurface), 0);
      if (c.kind != kSharedNone) {
        EXPECT_EQ(shared->masters[c.kind], nullptr) << c.flags;
      }
    }
  };
  // The second round holds what the first left: the tables the first
  // grew, nothing of its surfaces.
  round();
  const size_t blocks = glue.LiveBlocks().size();
  round();
  EXPECT_EQ(glue.LiveBlocks().size(), blocks);
}

// Register 0xC0 holds the current engine state's control word; the tag and
// event packets of presents, flips and read-backs write it too. After each
// the state either finds its word in the register or knows to write it
// again: every group it does not mark dirty is what the board holds.
TEST_F(Client3dTest, RequestsWritingRegisterC0LeaveTheEngineStateTrue) {
  alignas(8) uint32_t boxes[2][6] = {{0, 0, 0, 8, 8, 1}, {4, 4, 0, 12, 12, 1}};
  alignas(8) int32_t box[6] = {0, 0, 0, 4, 2, 1};
  std::vector<uint8_t> rows(4 * 16);
  glue.DeclareUserMemory(2000, boxes, sizeof(boxes));
  glue.DeclareUserMemory(2000, box, sizeof(box));
  glue.DeclareUserMemory(2000, rows.data(), rows.size());
  const uint64_t source = MakeSurface(0, kDescKindPlain, 21, 16, 16);
  const uint64_t target = MakeSurface(0, kDescKindPlain, 21, 16, 16);
  ASSERT_NE(target, 0u);
  ASSERT_EQ(SetDrawable(5, 0, 0, 100, 100), 0);
  auto present = [&](uint32_t flags) {
    client->Put32(16, flags);
    client->Put32(24, context3d);
    client->Put64(32, target);
    client->Put64(40, source);
    client->Put64(48, reinterpret_cast<uintptr_t>(boxes[0]));
    client->Put64(56, reinterpret_cast<uintptr_t>(boxes[1]));
    client->Put64(64, 0);
    client->Put64(72, 0);
    client->Put32(80, 0xFFFFFFFF);
    client->Put32(96, 0x12345678);
    return client->Run(kRequestPresentSurface);
  };
  const struct {
    const char* name;
    std::function<int32_t()> request;
  } writers[] = {
      {"present copy", [&] { return present(1); }},
      {"present fill", [&] { return present(2); }},
      {"displayable present", [&] {
         SurfaceOf(source)->flagsWord |= 0x2;  // displayable
         const int32_t result = present(1);
         SurfaceOf(source)->flagsWord &= ~0x2u;
         return result;
       }},
      {"flip", [&] {
         client->Put64(16, target);
         client->Put32(24, 1);
         return client->Run(kRequestFlipSurface);
       }},
      {"target synchronisation", [&] {
         // Token 13 naming the source (colour) and target (depth): its tag
         // packet's mask word goes to 0xC0.
         TokenWriter tokens;
         const uint32_t s = static_cast<uint32_t>(source), t = static_cast<uint32_t>(target);
         tokens.Token(13, 1, std::vector<uint32_t>{s, 0, t, 0, 0, 0, 0, 0});
         return Stream(tokens);
       }},
      {"read-back", [&] {
         ReadRectRequest(source, box, 16, rows.data());
         return client->Run(kRequestReadRect);
       }},
  };
  auto mismatch = [&] {
    RenderContext3d* render = Current();
    (void)render->state.Apply();
    render->PrepareTargets();
    dma.RunPending();
    return ktest::FirstImageMismatch(*render->contextState, [&](uint8_t reg) { return board.Peek(0x1000 + 4u * reg, 4); });
  };
  for (const auto& w : writers) {
    ASSERT_EQ(client->RunTokens(context3d, 0, 0), 0) << w.name;
    ASSERT_EQ(mismatch(), 0) << w.name;
    EXPECT_EQ(w.request(), 0) << w.name;
    dma.RunPending();
    EXPECT_EQ(mismatch(), 0) << w.name;
  }
}


// A colour source blitted into code 31 or into another class-4 format
// takes a level-copy state for its units: the blit runs with no colour
// transform in its operation word (bit 0x40000). Into code 31 the device's
// own transform refuses the pair and draws nothing.
TEST_F(Client3dTest, ColourIntoClassFourBlitsWithALevelCopyState) {
  const uint32_t codes[] = {31, 29, 32};
  for (uint32_t code : codes) {
    ClientObject* source = MakeCoded(pdev, Context(), 11);
    ClientObject* destination = MakeCoded(pdev, Context(), code);
    ASSERT_NE(source, nullptr);
    ASSERT_NE(destination, nullptr);
    const int32_t from[4] = {0, 0, 16, 16}, to[4] = {0, 0, 32, 32};  // stretched: a blit
    LevelCopyRequest request;
    memcpy(request.source, from, sizeof(from));
    memcpy(request.destination, to, sizeof(to));
    dma.RunPending();
    dma.ClearWrites();
    EXPECT_TRUE(destination->CopyLevel(source, &request, 0, 0, 0xFFFFFFFF)) << code;
    dma.RunPending();
    EXPECT_GE(WritesTo(dma, 0x63).size(), 2u) << code;
    uint32_t operation = 0;
    for (uint32_t w : WritesTo(dma, 0xC0))
      if ((w & 0x1000CCu) == 0x1000CCu) operation = w;
    EXPECT_NE(operation, 0u) << code;
    EXPECT_EQ(operation & 0x40000u, 0u) << code;
  }
  ClientObject* source = MakeCoded(pdev, Context(), 11);
  ClientObject* destination = MakeCoded(pdev, Context(), 31);
  ASSERT_NE(destination, nullptr);
  SurfaceBlitRequest plain;
  const int32_t from[4] = {0, 0, 16, 16}, to[4] = {0, 0, 32, 32};
  memcpy(plain.source, from, sizeof(from));
  memcpy(plain.full, to, sizeof(to));
  memcpy(plain.clipped, to, sizeof(to));
  dma.RunPending();
  dma.ClearWrites();
  EXPECT_FALSE(Surface3d::Blit(destination->surface, source->surface, plain));
  dma.RunPending();
  EXPECT_TRUE(WritesTo(dma, 0x63).empty());
}

// The blit's request and its two level-copy states: when any cannot be had
// nothing is copied, nothing reaches the engine and nothing stays.
TEST_F(Client3dTest, ALevelCopyWithoutItsAllocationsCopiesNothing) {
  ClientObject* source = MakeCoded(pdev, Context(), 11);
  ClientObject* destination = MakeCoded(pdev, Context(), 31);
  ASSERT_NE(source, nullptr);
  ASSERT_NE(destination, nullptr);
  LevelCopyRequest request;
  const int32_t rect[4] = {0, 0, 16, 16};
  memcpy(request.source, rect, sizeof(rect));
  memcpy(request.destination, rect, sizeof(rect));
  for (uint64_t nth = 1; nth <= 3; ++nth) {
    dma.RunPending();
    dma.ClearWrites();
    const size_t blocks = glue.LiveBlocks().size();
    const uint32_t* cursor = Secondary()->cursor;
    glue.FailAllocation(nth, kglue::AllocKind::kMemory);
    EXPECT_FALSE(destination->CopyLevel(source, &request, 0, 0, 0xFFFFFFFF)) << nth;
    glue.FailAllocation(0);
    EXPECT_EQ(glue.FailedAllocations(), nth) << nth;
    EXPECT_EQ(Secondary()->cursor, cursor) << nth;
    dma.RunPending();
    EXPECT_TRUE(dma.Writes().empty()) << nth;
    EXPECT_EQ(glue.LiveBlocks().size(), blocks) << nth;
  }
  // With them, the blit runs.
  EXPECT_TRUE(destination->CopyLevel(source, &request, 0, 0, 0xFFFFFFFF));
  dma.RunPending();
  EXPECT_FALSE(WritesTo(dma, 0x63).empty());
}

// With local memory full a plain surface gets a second attempt in AGP
// memory; a video-only one does not, and is refused while AGP memory still
// has room.
TEST_F(Client3dTest, AVideoOnlySurfaceNeverGoesToAgpMemory) {
  SurfaceList3d* list = Context()->surfaces;
  // Plain surfaces until they land in AGP memory: local memory is full for
  // 256 x 256 then.
  uint32_t local = 0;
  std::vector<uint64_t> fill;
  for (uint32_t side : {1024u, 256u}) {
    for (int i = 0; i < 512; ++i) {
      const uint64_t h = MakeSurface(0, kDescKindPlain, 21, side, side);
      ASSERT_NE(h, 0u);
      fill.push_back(h);
      if (SurfaceOf(h)->Placement() == kNibbleAgp) break;
      ++local;
    }
  }
  ASSERT_GT(local, 0u);
  ASSERT_EQ(SurfaceOf(fill.back())->Placement(), kNibbleAgp);
  const size_t surfaces = Context()->resources->TableOf(1)->Count();
  EXPECT_EQ(MakeSurface(kDescVideoOnly, kDescKindPlain, 21, 256, 256), 0u);
  EXPECT_EQ(Context()->resources->TableOf(1)->Count(), surfaces);
  EXPECT_EQ(SurfaceList3dProbe::SavedCount(*list), 0u);
  // AGP memory had room: a plain one of the same size goes there.
  const uint64_t plain = MakeSurface(0, kDescKindPlain, 21, 256, 256);
  ASSERT_NE(plain, 0u);
  EXPECT_EQ(SurfaceOf(plain)->Placement(), kNibbleAgp);
  EXPECT_TRUE(SurfaceList3dProbe::InPlainList(*list, plain));
}

// A saved texture re-created after handles below its own came free: its
// levels take those first, then go back under their level ids; a surface
// made afterwards takes no id of theirs, and destroying both frees every id.
TEST_F(Client3dTest, ReCreatedLevelsGoBackUnderTheirIdsWhateverHandlesAreFree) {
  DeclarePrimary();
  SurfaceList3d* list = Context()->surfaces;
  const uint64_t first = MakeSurface(kDescMipmapped, kDescKindTexture, 21, 32, 8, 0, 3);
  const uint64_t cube = MakeSurface(kDescVideoOnly | kDescMipmapped, kDescKindCube, 21, 16, 16, 0, 3);
  const uint64_t plain = MakeSurface(kDescVideoOnly, kDescKindPlain, 21, 16, 16);
  ASSERT_NE(first, 0u);
  ASSERT_NE(cube, 0u);
  ASSERT_NE(plain, 0u);
  uint32_t ids[80];
  const std::vector<uint32_t> cubeIds(ids, ids + SurfaceList3dProbe::LevelIdsOf(*list, cube, ids, 80));
  ASSERT_EQ(cubeIds.size(), 24u);
  client->Put64(16, first);
  ASSERT_EQ(client->Run(kRequestDestroySurface), 0);
  ASSERT_EQ(LoseAndReattach(), 0);
  for (uint64_t h : {cube, plain}) {
    ASSERT_NE(list->Object(h), nullptr);
    EXPECT_EQ(Context()->resources->Get(1, static_cast<uint32_t>(h)), SurfaceOf(h)) << h;
  }
  EXPECT_EQ(std::vector<uint32_t>(ids, ids + SurfaceList3dProbe::LevelIdsOf(*list, cube, ids, 80)), cubeIds);
  // Every level of the cube stands under its id.
  ClientObject* object = list->Object(cube);
  size_t at = 0;
  for (uint32_t level = 0; level < object->LevelCount(); ++level)
    for (uint32_t face = 0; face < 6; ++face) {
      Surface3d* s = object->LevelSurface(level, face);
      ASSERT_NE(s, nullptr);
      EXPECT_EQ(s->resourceHandle, cubeIds[at]);
      EXPECT_EQ(Context()->resources->Get(1, cubeIds[at]), s);
      ++at;
    }
  const uint64_t later = MakeSurface(0, kDescKindPlain, 21, 16, 16);
  ASSERT_NE(later, 0u);
  for (uint64_t h : {cube, plain, later}) {
    client->Put64(16, h);
    EXPECT_EQ(client->Run(kRequestDestroySurface), 0);
  }
  EXPECT_EQ(SurfaceList3dProbe::LevelIdCount(*list), 0u);
  EXPECT_EQ(Context()->resources->TableOf(1)->Count(), 0u);
}

// The small levels of a mip chain share one packed area, each at its own
// place: what the processor writes into one level leaves the others be.
TEST_F(Client3dTest, PackedSmallLevelsDoNotOverlap) {
  Common()->driverSwitches->UseTextiled->current = 0;
  SurfaceList3d* list = Context()->surfaces;
  const uint64_t h = MakeSurface(kDescMipmapped, kDescKindTexture, 21, 64, 64, 0, 6);  // 64 down to 1
  ASSERT_NE(h, 0u);
  ClientObject* object = list->Object(h);
  ASSERT_EQ(object->LevelCount(), 7u);
  std::vector<std::vector<uint8_t>> written;
  for (uint32_t level = 0; level < 7; ++level) {
    const uint8_t value = static_cast<uint8_t>(0x10 + level);
    written.push_back(Pixels(object->LevelSurface(level, 0), &value));
  }
  for (uint32_t level = 0; level < 7; ++level)
    EXPECT_EQ(Pixels(object->LevelSurface(level, 0)), written[level]) << level;
}

// A flip request that finds the previous flip still pending waits for the
// vertical blank, yielding between tries; the kernel gives the processor
// away only with its floating-point bracket closed (the glue ends the test
// on a yield inside it), and the request goes on in its bracket after.
TEST_F(Client3dTest, ARequestThatWaitsForAFlipYieldsOutsideItsFloatingPointBracket) {
  const uint64_t shown = MakeSurface(0, kDescKindPlain, 21, 16, 16);
  ASSERT_NE(shown, 0u);
  SurfaceOf(shown)->flipStart[0] = 0x00200000;
  Common()->driverSwitches->FlipOnVBlank->current = 1;
  client->Put64(16, shown);
  client->Put32(24, 2);  // shown at the vertical blank
  ASSERT_EQ(client->Run(kRequestFlipSurface), 0);
  ASSERT_NE(Flips()->IsFlipPending(pdev->displayMask, false), 0u) << "the first flip waits for its blank";
  const uint64_t yields = glue.ScheduleCount();
  EXPECT_EQ(client->Run(kRequestFlipSurface), 0);
  EXPECT_GT(glue.ScheduleCount(), yields) << "the second flip waited";
  EXPECT_EQ(glue.FpuDepth(), 0);
  EXPECT_EQ(OpenFpuBrackets(), 0u);
  BlitEngineOf(pdev)->displayed = nullptr;
}

// The request block goes with its context while the client may still map
// it: the page stays the client's until it unmaps it (the glue's mapping
// holds it), and no allocation made meanwhile receives it.
TEST_F(Client3dTest, ARequestBlockMappedWhenItsContextGoesIsGivenToNoOneElse) {
  const uint64_t bus = info.requestBlock;
  uint8_t* block = client->Block();
  ASSERT_NE(block, nullptr);
  ASSERT_EQ(glue.IoctlWithValue(client->File(), ORV_IOCTL_DESTROY_3D_CONTEXT, 0), 0);
  EXPECT_EQ(glue.ResolveBus(bus, 4), nullptr) << "the engine no longer reaches it";
  memset(block, 0xA5, kglue::kPageSize);
  // Another client's context, its buffers, and this client's next context.
  client3d::Client other(glue, device, 2001);
  client3d::ContextInfo otherInfo = {};
  ASSERT_EQ(other.CreateContext(reinterpret_cast<uintptr_t>(pdev), &otherInfo), 0);
  EXPECT_NE(otherInfo.requestBlock, bus);
  EXPECT_EQ(other.Block()[kglue::kPageSize - 1], 0);
  for (int i = 0; i < 4; ++i) {
    Buffer buffer;
    ASSERT_TRUE(other.CreateBuffer(4096, kClientBufferPages, &buffer)) << i;
    EXPECT_NE(buffer.bus, bus) << i;
  }
  client3d::ContextInfo again = {};
  again.deviceHandle = reinterpret_cast<uintptr_t>(pdev);
  ASSERT_EQ(glue.Ioctl(client->File(), ORV_IOCTL_CREATE_3D_CONTEXT, reinterpret_cast<unsigned long>(&again)), 0);
  EXPECT_NE(again.requestBlock, bus);
  for (size_t i = 0; i < kglue::kPageSize; ++i) ASSERT_EQ(block[i], 0xA5) << i;
  EXPECT_GE(glue.FreedWhileMapped(), 1u);
}
