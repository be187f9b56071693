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
// read as 0. See tests/data/kernel_client3d_fuzz/README.md. The programs
// are decoded and sent through the node in client3d_program.cpp; this
// target is their host, which reaches into the kernel. One operation
// writes a stream of well-formed render-state tokens whose ids, stages,
// states and counts run past every bound, runs it on a 3D context, and
// then applies the render state as a draw would (a step only this test
// takes): the render context must come out whole. Another runs a draw
// step and then a clear of the context's targets: depth targets of every
// depth format and colour targets of classes 2 and 4, bound and validated
// as the context's own targets when the input says so. The pixel-program
// tokens (69-73) mix with the state tokens; after every draw step the
// committed fixed-function program's unit and stage images must equal
// those of a fresh program built and committed for the same state.
// The draw tokens that change the render context's state for later draws
// mix with them too, every field taken from the input: stream sources (8),
// clears over the drawable's visible rectangles (21), client command
// ranges inside, across and outside the client's own buffers (26), lights
// (33), the vertex engine's stored matrices (34) and data written into
// data buffers (80); and the draws themselves: ranged draws (24), strips
// (25), client packets and ranges (27), user vertices (28), target
// synchronisations (13) and batches (68), with element lists, primitive
// types 0 to 15, counts, offsets and pairs inside, across and past the
// client's plain-page and page-locked buffers.
// The client's surfaces mix with all of it: creations of any description
// (13-16 and 28 name what they made, or any handle), destructions, locks
// of any level and face, unlocks, presents of any flags, boxes, level,
// face and mask, flips, token 55 of any handle and value, and request 3
// with the device stopped, started and its primary surface declared again
// (or not) before it. The device-wide masters must match the clones the
// client holds after every operation; once every surface is destroyed no
// surface, level id or master may remain, and none once the client goes.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "core/orv_ioctl.h"
#include "core/pdev.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/client/client_request.h"
#include "kernel/3d/client/client_surfaces.h"
#include "kernel/3d/client/tests/surface_list_probe.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/engine/tests/register_image.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/render/pixel_program_cache.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/targets/render_target_state.h"
#include "kernel/3d/targets/target_clears.h"
#include "kernel/range_map.h"
#include "kernel/tests/fuzz_books.h"
#include "kernel/tests/fuzz_machine.h"
#include "kernel/tests/fuzz_reader.h"
#include "kernel/tests/kernel_fixture.h"
#include "kernel/vidmem/surface_mapper.h"
#include "kernel/3d/client/tests/client3d_program.h"
#include "platform/client3d/client3d.h"

extern "C" const OrvKstrnDriver orv_kstrn_driver;

namespace {

using orvfuzz::Reader;
using client3dfuzz::DrawSetUp;

// The program's client-side records are the kernel's.
static_assert(sizeof(client3dfuzz::Description) == sizeof(ClientSurfaceDescription));
static_assert(sizeof(client3dfuzz::LockRecord) == sizeof(ClientSurfaceLock));
static_assert(client3dfuzz::kLightRecordBytes == sizeof(LightRecord));
static_assert(client3dfuzz::kLockedBufferKind == kClientBufferPciLocked);

// The committed fixed-function program against a fresh one built and
// committed for the same state into a context state of its own.
void CheckPixelProgram(RenderContext3d* context) {
  PixelProgramCache* cache = context->programCache;
  if (cache == nullptr || cache->committed == 0 || cache->current == nullptr) return;
  PixelProgram* current = cache->current;
  if (current->mode != kProgramModeFixed || current->source == nullptr) return;
  auto fresh = std::make_unique<PixelProgram>();
  std::unique_ptr<ContextState3d> target(NewContextState3d(nullptr));
  if (!fresh || !target) return;
  PixelPipelineState& live = context->state.pipelineState;
  cache->state = &live;
  const bool built = fresh->Build(cache, current->source, kProgramModeFixed);
  cache->state = nullptr;
  if (!built || !fresh->Commit(0, live, target.get(), cache->caps)) __builtin_trap();
  if (fresh->unitCount != current->unitCount || fresh->imageCount != current->imageCount) __builtin_trap();
  for (uint32_t u = 0; u < current->unitCount; ++u)
    if (memcmp(fresh->units[u].image, current->units[u].image, sizeof fresh->units[u].image) != 0) __builtin_trap();
  // The images' flag words mark what one emission changed; the rest is
  // state. A stage without constants leaves the image's constant words as
  // an earlier stage in that place wrote them (the flag word says they are
  // not the stage's), so they are compared only where the stage has them.
  for (uint32_t i = 0; i < current->imageCount; ++i) {
    const CombinerStageImage& f = fresh->images[i];
    const CombinerStageImage& c = current->images[i];
    if (f.register15 != c.register15 || memcmp(f.colour, c.colour, sizeof f.colour) != 0 ||
        memcmp(f.alpha, c.alpha, sizeof f.alpha) != 0)
      __builtin_trap();
    if ((f.flags & kImageConstantsPresent) != 0 && memcmp(f.constants, c.constants, sizeof f.constants) != 0)
      __builtin_trap();
  }
  // The binding flags in force in the render context are the program's.
  uint32_t flags;
  memcpy(&flags, fresh->unitBinding + kUbFlags, sizeof flags);
  if (context->state.pipelineSub.bindingFlags != flags) __builtin_trap();
}

// What a draw does with the render state, and what must still hold after:
// the context's state is the engine's, and every group it does not mark
// dirty is what the board's registers hold once the engine ran the stream.
void DrawStep(RenderContext3d* context, orvmachine::MachineBoard& parts) {
  if (context == nullptr) return;
  if (context->state.Apply()) CheckPixelProgram(context);
  context->PrepareTargets();
  const RenderState3d& state = context->state;
  bool whole = state.owner == context && context->aux.owner == context && context->contextState != nullptr &&
               state.drawEmitter != nullptr && state.indexEmitter != nullptr;
  for (uint32_t i = 0; i < kConstRingRecords; ++i) whole = whole && state.constRing[i] == &state.constHomes[i];
  if (!whole) __builtin_trap();
  EngineOwner3d* owner = context->engineOwner;
  if (owner == nullptr || owner->Current() != context->contextState) __builtin_trap();
  parts.dma->RunPending();
  orvsim::Board& board = parts.board;
  const int mismatch = ktest::FirstImageMismatch(*context->contextState,
                                                 [&](uint8_t reg) { return board.Peek(0x1000 + 4u * reg, 4); });
  if (mismatch != 0) {
    // Which register, so that a finding says where to look.
    fprintf(stderr, "register 0x%02X differs from the state's image\n", mismatch & 0xFF);
    __builtin_trap();
  }
}

// No kernel address of the client's state may reach its request block.
// It runs after every request: the addresses (a few, or hundreds for an
// input of many 3D contexts) are sorted in a list the run keeps, and each
// of the block's words at every 4-byte step is looked up only when it lies
// between the lowest and the highest of them.
void CheckNoKernelAddress(kglue::Glue& glue, kglue::File* file, const uint8_t* block) {
  KernelClient* kernelClient = glue.ClientOf(file);
  ClientContext* context = kernelClient != nullptr ? kernelClient->context3d : nullptr;
  if (context == nullptr || block == nullptr) return;
  static std::vector<uint64_t> addresses;
  addresses.clear();
  const auto add = [](const void* address) {
    if (address != nullptr) addresses.push_back(reinterpret_cast<uintptr_t>(address));
  };
  add(context);
  add(context->requestBlock);
  add(context->staging[0]);
  add(context->staging[1]);
  for (uint32_t handle = 1; handle < context->contexts.Capacity(); ++handle) {
    if (Context3d* c = context->contexts.Get(handle)) {
      add(c);
      add(c->statusPage);
      add(c->scratch);
    }
  }
  std::sort(addresses.begin(), addresses.end());
  const uint64_t lowest = addresses.front();
  const uint64_t span = addresses.back() - lowest;
  for (size_t at = 0; at + 8 <= 568; at += 4) {
    uint64_t word;
    memcpy(&word, block + at, 8);
    if (word - lowest <= span && std::binary_search(addresses.begin(), addresses.end(), word)) __builtin_trap();
  }
}

// A clear on a render context's targets: a depth target of any depth
// format (17 to 28) and a colour target of class 2 or 4, placed in the
// board's local memory with any size up to 512 x 512, with any flags,
// colour, depth, stencil, viewport, clip and rectangles, by fill or by the
// engine's fast depth clear. With bit 3 of `which` the targets are first
// bound as the context's own and a draw step validates them (bit 4: the
// board's switch grants work buffers, bits 5 and 6 of a size below the
// switch's default of 8 MiB, or with bit 7 too the default: a work buffer
// is cleared whole when it is placed, which at the default costs more than
// ten other inputs). The targets are this step's own and go after it, once
// the engine is done with them.
//
// A bound clear places, maps, clears and frees a work buffer, and each of
// those moves the board's aperture windows: an input of many of them costs
// a hundred of the others. Past its first kBoundClearsPerInput bound
// clears an input's clears run on unbound targets, and past its first
// default-sized work buffer it gets the smallest size: what a size or a
// binding reaches, the first ones reach, and the fuzzer varies them
// between inputs. Below the default every size takes the same path (no
// clamp, no smaller retry), so those sizes are small, and the default
// asks for two bits: size 3 without bit 7 is the smallest.
struct ClearBudget {
  uint32_t bound = 0;
  uint32_t defaultBuffers = 0;
};
constexpr float kWorkBufferMiB[4] = {1.0f / 16, 1.0f / 8, 1.0f / 4, 8.0f};
constexpr uint32_t kBoundClearsPerInput = 8;
constexpr uint32_t kDefaultBuffersPerInput = 1;
uint32_t WorkBufferSize(uint8_t which, ClearBudget& budget) {
  const uint32_t size = (which >> 5) & 3;
  if (size != 3) return size;
  if ((which & 0x80) == 0 || (which & 16) == 0) return 0;
  return budget.defaultBuffers++ < kDefaultBuffersPerInput ? 3 : 0;
}
Surface3d* PlaceTarget(PDEV* device, uint32_t code, uint32_t width, uint32_t height) {
  if (device == nullptr || device->formatCatalogue == nullptr) return nullptr;
  SurfaceCreateRequest r;
  r.placement = kPlaceLocal;
  r.format = device->formatCatalogue->Find(code);
  r.surfaceType = 3;
  r.width = width;
  r.height = height;
  r.levels = 1;
  r.depth = 1;
  return r.format != nullptr ? Surface3d::CreatePlaced(device, &r) : nullptr;
}

void ClearStep(RenderContext3d* context, Reader& in, orvmachine::MachineBoard& parts, ClearBudget& budget) {
  if (context == nullptr || context->targetState == nullptr) return;
  RenderTargetState* state = context->targetState;
  static const uint32_t kColourCodes[4] = {10, 29, 30, 32};
  const uint32_t colourCode = kColourCodes[in.Byte() % 4];
  const uint32_t depthCode = 17 + in.Byte() % 12;
  uint32_t sides[4];
  for (int i = 0; i < 2; ++i) {
    sides[2 * i] = 1 + in.Word() % 512;
    sides[2 * i + 1] = 1 + in.Word() % 512;
    (void)in.Byte();  // the pixel size comes from the format
  }
  Surface3d* depth = PlaceTarget(context->device, depthCode, sides[0], sides[1]);
  Surface3d* colour = PlaceTarget(context->device, colourCode, sides[2], sides[3]);
  const uint8_t which = in.Byte();
  TargetBoard3d* board = state->common != nullptr ? TargetBoard(state->common) : nullptr;
  const bool bind = (which & 8) != 0 && budget.bound < kBoundClearsPerInput;
  if (bind) {
    ++budget.bound;
    if (board != nullptr) {
      board->switches.memoryBits = (which & 16) != 0 ? 3 : 0;
      board->switches.sizeMiB = kWorkBufferMiB[WorkBufferSize(which, budget)];
    }
    if (depth != nullptr) depth->flagsWord |= 0x8;
    BoundSurfaceRecord r{};
    r.colour.flags = 0x1;
    r.colour.surface = (which & 2) != 0 ? colour : nullptr;
    r.depth.flags = 0x4;
    r.depth.surface = (which & 1) != 0 ? depth : nullptr;
    context->SetTargets(r);
    DrawStep(context, parts);
  }
  Surface3d* const oldDepth = state->depthCurrent;
  Surface3d* const oldColour = state->colourCurrent;
  state->depthCurrent = (which & 1) != 0 ? depth : nullptr;
  state->colourCurrent = (which & 2) != 0 ? colour : nullptr;
  state->colourDepthMode = in.Byte() % 4;
  for (int32_t& v : state->viewport) v = static_cast<int32_t>(in.Word());
  for (int32_t& v : state->clip) v = static_cast<int32_t>(in.Word());
  if (board != nullptr) board->switches.fastClear = (which & 4) != 0 ? 1 : 0;
  ClearRecord record;
  record.flags = in.Byte();
  record.colour = in.Word();
  const uint32_t z = in.Word();
  memcpy(&record.depth, &z, sizeof z);
  record.stencil = in.Word();
  ClearRect rects[4];
  const uint32_t count = in.Byte() % 5;
  for (uint32_t i = 0; i < count; ++i) {
    rects[i].left = static_cast<int32_t>(in.Word());
    rects[i].top = static_cast<int32_t>(in.Word());
    rects[i].right = static_cast<int32_t>(in.Word());
    rects[i].bottom = static_cast<int32_t>(in.Word());
  }
  ClearTargetRects(state, record, rects, count);
  state->depthCurrent = oldDepth;
  state->colourCurrent = oldColour;
  for (Surface3d* s : {depth, colour}) {
    if (s == nullptr) continue;
    if (board != nullptr && board->fastClearedDepth == s) board->fastClearedDepth = nullptr;
    if (state->common != nullptr && state->common->openRenderTarget == s) state->common->openRenderTarget = nullptr;
  }
  if (bind) {
    // The surfaces go: every reference to them with them.
    for (Surface3d* s : {depth, colour})
      if (s != nullptr) UnbindSurfaceReferences(context, s);
    if ((depth != nullptr && state->UsesSurface(depth)) || (colour != nullptr && state->UsesColourSurface(colour)))
      __builtin_trap();
    DrawStep(context, parts);
    if (board != nullptr) {
      board->switches.memoryBits = 0;
      board->switches.sizeMiB = TargetSwitches3d().sizeMiB;
    }
  }
  // Memory the engine may still write is kept.
  for (Surface3d* s : {depth, colour})
    if (s != nullptr && s->AwaitEngine()) delete s;
}

// An element list of one to four elements of any bytes on the 3D
// context's render context, as a vertex declaration would store it.
void StoreElements(kglue::Glue& glue, client3d::Client& client, uint32_t context3d, const DrawSetUp& setUp) {
  ClientContext* context = glue.ClientOf(client.File())->context3d;
  Context3d* context3d_ = context != nullptr ? context->Context(context3d) : nullptr;
  if (context3d_ == nullptr || context3d_->current == nullptr) return;
  uint8_t list[4 + 16] = {static_cast<uint8_t>(setUp.elementCount)};
  memcpy(list + 4, setUp.elements, 4u * setUp.elementCount);
  RenderContext3d* current = context3d_->current;
  if (current->streamSetup.StoreElementList(list, 4 + 4u * setUp.elementCount))
    current->state.vertexSub.bytes[4] |= kVsubLayoutElements;
}

// ---- Client surfaces -----------------------------------------------------------------------------

// The X driver's primary surface of the 640 x 480 screen: a 32-bit surface
// block and a window block (ioctl 24), declared by ioctl 28.
struct DeclaredPrimary {
  uint64_t surface = 0;
  uint64_t window = 0;
};

// The 32-bit surface block of the primary surface; 0 when refused.
uint64_t AllocatePrimarySurface(kglue::Glue& glue, kglue::File* owner) {
  OrvBlockRequest block = {};
  block.kind = kBlockKindSurface;
  MmSurfAllocOpt options;
  options.requestedKind = 0;
  options.heapSelector = 1;
  options.desc.word1 = MmSurfDesc::MakeWord1(640, kLayoutPitchLinear, 0x30);
  options.desc.word2 = MmSurfDesc::MakeWord2(480, 1);
  options.physicalSize = options.desc.GetPhysicalMemSize(true);
  options.alignment = options.desc.GetRequiredAlignment(true);
  memcpy(block.surfaceOptions, &options, sizeof(options));
  if (glue.Ioctl(owner, ORV_IOCTL_ALLOC_BLOCK, reinterpret_cast<unsigned long>(&block)) != 0) return 0;
  return block.handle;
}

DeclaredPrimary AllocatePrimary(kglue::Glue& glue, kglue::File* owner) {
  DeclaredPrimary primary;
  const uint64_t surface = AllocatePrimarySurface(glue, owner);
  if (surface == 0) return primary;
  OrvBlockRequest window = {};
  window.kind = kBlockKindAperture;
  MmHostApertureDesc d = {};
  d.options = kApertureExplicitSize;
  d.releasable = 1;
  d.explicitSize = 0x40000;
  d.desc.word1 = MmSurfDesc::MakeWord1(1, kLayoutPlain, 0x10);
  d.desc.size = 0x40000;
  memcpy(window.apertureOptions, &d, sizeof(d));
  if (glue.Ioctl(owner, ORV_IOCTL_ALLOC_BLOCK, reinterpret_cast<unsigned long>(&window)) != 0) return primary;
  primary.surface = surface;
  primary.window = window.handle;
  return primary;
}

void DeclarePrimary(kglue::Glue& glue, kglue::File* owner, const DeclaredPrimary& primary, PDEV* pdev) {
  OrvDeclarePrimaryRequest declare = {primary.surface, primary.window, reinterpret_cast<uintptr_t>(pdev)};
  (void)glue.Ioctl(owner, ORV_IOCTL_DECLARE_PRIMARY, reinterpret_cast<unsigned long>(&declare));
}

// The device-wide masters against the clones the client holds: a master
// exists exactly while clones of its kind do, and counts them.
void CheckMasters(PDEV* pdev, ClientContext* context) {
  SharedSurfaces3d* shared = pdev != nullptr ? pdev->sharedSurfaces3d : nullptr;
  if (shared == nullptr) return;
  uint32_t clones[kSharedKinds] = {};
  SurfaceList3d* list = context != nullptr ? context->surfaces : nullptr;
  HandleTable<SurfaceObject>* table =
      context != nullptr && context->resources != nullptr ? context->resources->TableOf(1) : nullptr;
  if (list != nullptr && table != nullptr) {
    for (uint32_t handle = 1; handle < table->Capacity(); ++handle) {
      ClientObject* object = list->Object(handle);
      if (object == nullptr || object->surface == nullptr) continue;
      const SharedKind3d kind = object->info.SharedKind();
      if (kind == kSharedNone) continue;
      ++clones[kind];
      if (object->surface->master != shared->masters[kind]) __builtin_trap();
    }
  }
  for (uint32_t kind = 0; kind < kSharedKinds; ++kind) {
    if (shared->counts[kind] != clones[kind]) __builtin_trap();
    if ((shared->masters[kind] != nullptr) != (clones[kind] != 0)) __builtin_trap();
  }
}

// No surface, level id or master is left: the list is empty and the
// device-wide table holds nothing.
void CheckNothingLeft(PDEV* pdev, ClientContext* context) {
  if (context != nullptr && context->surfaces != nullptr) {
    SurfaceList3d* list = context->surfaces;
    if (SurfaceList3dProbe::PlainCount(*list) != 0 || SurfaceList3dProbe::SavedCount(*list) != 0 ||
        SurfaceList3dProbe::SavedRecordCount(*list) != 0 || SurfaceList3dProbe::LevelIdCount(*list) != 0)
      __builtin_trap();
    HandleTable<SurfaceObject>* table = context->resources != nullptr ? context->resources->TableOf(1) : nullptr;
    if (table != nullptr && table->Count() != 0) __builtin_trap();
  }
  SharedSurfaces3d* shared = pdev != nullptr ? pdev->sharedSurfaces3d : nullptr;
  if (shared == nullptr) return;
  for (uint32_t kind = 0; kind < kSharedKinds; ++kind)
    if (shared->masters[kind] != nullptr || shared->counts[kind] != 0) __builtin_trap();
  HandleTable<SurfaceObject>* table = shared->table != nullptr ? shared->table->TableOf(1) : nullptr;
  if (table != nullptr && table->Count() != 0) __builtin_trap();
}

// The program's host: the device object stopped, started and its primary
// surface declared by the X driver's file, the kernel's state checked,
// draw and clear steps on the render context.
class FuzzHost : public client3dfuzz::Host {
 public:
  FuzzHost(kglue::Glue& glue, kglue::File* owner, client3d::Client& client, PDEV* pdev, const DeclaredPrimary& primary,
           orvmachine::MachineBoard& parts)
      : glue_(glue), owner_(owner), client_(client), pdev_(pdev), primary_(primary), parts_(parts) {}

  bool Running() const override { return running_; }
  bool Lost() const override { return Context() != nullptr && Context()->lost; }
  // Past its first kStopsPerInput stops an input's device keeps running:
  // a stop saves and frees every surface of the client and clears the
  // board's aperture windows, and the start after it places and fills them
  // again, so an input of stops costs a hundred of the others; what a stop
  // between two requests reaches, the first ones reach.
  static constexpr uint32_t kStopsPerInput = 4;
  void StopAndStart(uint8_t how) override {
    if ((how & 1) != 0 && running_ && stops_ < kStopsPerInput) {
      glue_.IoctlWithValue(owner_, ORV_IOCTL_STOP_DEVICE, 0);
      running_ = false;
      ++stops_;
    }
    if ((how & 2) != 0 && !running_) {
      glue_.IoctlWithValue(owner_, ORV_IOCTL_START_DEVICE, reinterpret_cast<uintptr_t>(pdev_));
      running_ = true;
    }
    if ((how & 4) != 0 && running_) DeclarePrimary(glue_, owner_, primary_, pdev_);
  }
  void AfterRequest() override { CheckNoKernelAddress(glue_, client_.File(), client_.Block()); }
  void AfterSurfaceRequest() override {
    AfterRequest();
    CheckMasters(pdev_, surfaceClient_);
  }
  void StoreElements(uint32_t context3d, const DrawSetUp& setUp) override {
    ::StoreElements(glue_, client_, context3d, setUp);
  }
  void DrawStep(uint32_t context3d) override {
    if (Context3d* context = Of(context3d)) ::DrawStep(context->current, parts_);
  }
  void ClearStep(uint32_t context3d, Reader& in) override {
    Context3d* context = Of(context3d);
    if (context == nullptr) return;
    ::DrawStep(context->current, parts_);
    ::ClearStep(context->current, in, parts_, clears_);
  }

 private:
  ClientContext* Context() const {
    KernelClient* kernelClient = glue_.ClientOf(client_.File());
    return kernelClient != nullptr ? kernelClient->context3d : nullptr;
  }
  Context3d* Of(uint32_t context3d) const {
    ClientContext* context = Context();
    return context != nullptr ? context->Context(context3d) : nullptr;
  }

  kglue::Glue& glue_;
  kglue::File* owner_;
  client3d::Client& client_;
  PDEV* pdev_;
  DeclaredPrimary primary_;
  orvmachine::MachineBoard& parts_;
  // The client context the surface checks follow: the one the program
  // started with.
  ClientContext* surfaceClient_ = Context();
  bool running_ = true;
  uint32_t stops_ = 0;
  ClearBudget clears_;
};

// The machine for the whole run: the board with its engines, the glue,
// the module loaded, the board's device made, the X driver's file with its
// device object enabled and started and its 640 x 480 primary surface
// declared. An input is one client process: it opens its file, runs its
// program and goes (its file closed, everything it made with it); the
// device runs with its primary surface declared again at the end. What
// the input may leave that the client's going does not take (the
// module-wide render-context table, the board's programs and ranges, the
// engines' state) is checked against a fresh start after every input
// (kernel/tests/fuzz_books.h).
struct Fixture {
  orvmachine::Machine machine;
  orvmachine::MachineBoard& parts;
  orvmachine::KernelModule& module;
  kglue::Glue& glue;
  OrvDevice* device;
  kglue::File* owner = nullptr;
  PDEV* pdev = nullptr;
  DeclaredPrimary primary;
  orvfuzz::ApertureSlots slots;
  SharedSurfaces3d freshShared;
  orvfuzz::FreshBooks books;

  Fixture()
      : parts(machine.AddBoard(ktest::KernelBoard(orvsim::BoardConfig()))),
        module(orvfuzz::LoadModule(machine, parts)),
        glue(module.glue),
        device(module.device),
        books(glue, parts.board, [this](orvfuzz::Tables& t) { Tables(t); }, orvfuzz::WithDisplayedBuffers(),
              "kernel client3d fuzz") {
    parts.board.SetLogging(false, false);
    if (glue.CreateDevice(device) == nullptr) __builtin_trap();
    owner = glue.Open(device);
    OrvEnableRequest enable = ktest::EnableRecord(0);
    if (glue.Ioctl(owner, ORV_IOCTL_ENABLE_DEVICE, reinterpret_cast<unsigned long>(&enable)) != 1) __builtin_trap();
    pdev = reinterpret_cast<PDEV*>(static_cast<uintptr_t>(enable.kernelHandle));
    glue.IoctlWithValue(owner, ORV_IOCTL_START_DEVICE, reinterpret_cast<uintptr_t>(pdev));
    // A 640 x 480 screen: drawables' visible rectangles lie on it, and the
    // primary surface covers it.
    pdev->mode.virtualWidth = 640;
    pdev->mode.virtualHeight = 480;
    primary = AllocatePrimary(glue, owner);
    DeclarePrimary(glue, owner, primary, pdev);
    if (pdev->primarySurface == nullptr) __builtin_trap();
    slots.Take(pdev->surfaceMapper);
    freshShared = *pdev->sharedSurfaces3d;
    books.Take();
  }

  // The X driver's primary surface made and declared again (with the
  // window it had): a client's surfaces in video memory are clones of it,
  // and the first one gives it a list of clones that it keeps.
  void RenewPrimary() {
    OrvBlockRequest free = {};
    free.handle = primary.surface;
    free.kind = kBlockKindSurface;
    if (glue.Ioctl(owner, ORV_IOCTL_FREE_BLOCK, reinterpret_cast<unsigned long>(&free)) != 0) __builtin_trap();
    primary.surface = AllocatePrimarySurface(glue, owner);
    DeclarePrimary(glue, owner, primary, pdev);
    if (pdev->primarySurface == nullptr) __builtin_trap();
  }

  // The board's map keeps drawable 0 once a 3D context used it, whatever
  // uses it later: it goes again when nothing uses it.
  void RemoveDrawableZero() {
    RangeMap* map = pdev->common->rangeMap;
    const RangeMapEntry* zero = map != nullptr ? map->Find(0) : nullptr;
    if (zero != nullptr && zero->users == 0) map->Remove(0);
  }

  // The device's shared surfaces made again as the device object made
  // them (component entry 20): their table's handles grow with the masters
  // an input makes, and it keeps its room. Whatever else they keep must be
  // as at the start once the client is gone.
  void RenewSharedSurfaces() {
    const SharedSurfaces3d* shared = pdev->sharedSurfaces3d;
    if (shared == nullptr || shared->flipSlot != freshShared.flipSlot ||
        shared->primaryState != freshShared.primaryState || shared->flipSlotTaken != freshShared.flipSlotTaken) {
      fprintf(stderr, "kernel client3d fuzz: the shared surfaces' flip slot or primary state is not as at the start\n");
      __builtin_trap();
    }
    CleanupSharedSurfaces3d(pdev);
    if (!InitSharedSurfaces3d(pdev)) __builtin_trap();
  }

  // What an input may change of the module's tables besides memory.
  void Tables(orvfuzz::Tables& t) const {
    t.push_back({"render-context table", reinterpret_cast<uintptr_t>(RenderContextTable())});
    t.push_back({"device object running", pdev->active});
    // The primary surface is made again after every input: where it lies.
    const MmSurface* declared = pdev->primarySurface;
    t.push_back({"primary surface's memory", declared != nullptr && declared->block != nullptr
                                                  ? declared->block->busAddress
                                                  : 0});
    orvfuzz::AddHeaps(t, pdev->common);
    orvfuzz::AddEngine(t, *parts.dma);
  }

  // For the next input: the device's list of resource tables as the
  // device made it, the records of the client's released file, the
  // engine's record of what ran and the glue's log dropped; then the
  // books.
  void EndInput() {
    RemoveDrawableZero();
    RenewSharedSurfaces();
    if (!orvfuzz::RenewResourceTables(pdev)) __builtin_trap();
    RenewPrimary();
    if (!slots.Restore(pdev->surfaceMapper, parts.board, parts.windows.get())) {
      fprintf(stderr, "kernel client3d fuzz: the aperture slots hold other windows than at the start\n");
      __builtin_trap();
    }
    glue.ClearUserMemory();
    glue.DropReleasedFiles();
    orvfuzz::SettleEngine(*parts.dma);
    books.Check();
    glue.ClearLog();
  }
};

Fixture& TheFixture() { return orvfuzz::KeptFixture<Fixture>(); }

void Run(const uint8_t* data, size_t size) {
  Fixture& f = TheFixture();
  kglue::Glue& glue = f.glue;
  PDEV* pdev = f.pdev;
  static client3dfuzz::ProgramMemory memory;
  {
    client3d::Client client(glue, f.device, 2000);
    if (client.CreateContext(reinterpret_cast<uintptr_t>(pdev)) == 0) {
      FuzzHost host(glue, f.owner, client, pdev, f.primary, f.parts);
      client3dfuzz::RunProgram(data, size, glue, client, 2000, &memory, host);
      // Everything the client made goes again: once the device runs with
      // its primary surface and the client is back, every surface it holds
      // is destroyed, and nothing of them may stay.
      host.StopAndStart(6);
      ClientContext* const c = glue.ClientOf(client.File())->context3d;
      if (client.Run(kRequestReattach) == kRequestOk && c != nullptr && c->surfaces != nullptr) {
        HandleTable<SurfaceObject>* table = c->resources != nullptr ? c->resources->TableOf(1) : nullptr;
        for (uint32_t handle = 1; table != nullptr && handle < table->Capacity(); ++handle) {
          if (c->surfaces->Object(handle) == nullptr) continue;
          client.Put64(16, handle);
          if (client.Run(kRequestDestroySurface) != kRequestOk) __builtin_trap();
        }
        CheckNothingLeft(pdev, c);
      }
    }
  }
  // The client is gone: its clones with it, and every master.
  CheckNothingLeft(pdev, nullptr);
  if (!f.parts.dma->DecodeErrors().empty()) {
    fprintf(stderr, "decode error: %s\n", f.parts.dma->DecodeErrors()[0].c_str());
    __builtin_trap();
  }
  f.EndInput();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Run(data, size);
  return 0;
}
