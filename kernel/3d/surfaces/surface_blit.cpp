// The dispatch of fills, copies and blits between the 2D engine, the 3D
// engine and the processor, the scratch path of overlapping engine copies,
// and the 3D engine's textured and planar blits.
#include <string.h>

#include "core/common_data.h"
#include "core/driver_switches.h"
#include "core/float_bits.h"
#include "core/pdev.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/engine/packets.h"
#include "kernel/3d/surfaces/blit_engine.h"
#include "kernel/3d/surfaces/blit_setup.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/surfaces/surface_fill.h"
#include "kernel/dma_streams.h"
#include "kernel/sync_tags.h"

namespace {

uint32_t RoundUp(uint32_t v, uint32_t unit) { return unit == 0 ? v : (v + unit - 1) / unit * unit; }

CommonData* CommonOf(const Surface3d* s) { return s->owner != nullptr ? s->owner->common : nullptr; }

bool BlitSoftSwitch(const Surface3d* s) {
  CommonData* common = CommonOf(s);
  DriverSwitchesCommon* switches = common != nullptr ? common->driverSwitches : nullptr;
  return switches != nullptr && switches->BlitSoft != nullptr && switches->BlitSoft->GetValue() != 0;
}

bool EngineLaidOut(const Surface3d* s) {
  return s->layoutType == kLayoutTypeTiled || s->layoutType == kLayoutTypeBlocks;
}

bool WholeOf(const Surface3d* s, const uint32_t* r) {
  return !s->view.active && r[0] == 0 && r[1] == 0 && r[2] == s->width && r[3] == s->height;
}

}  // namespace

// ---- Members ---------------------------------------------------------------------------------

bool Surface3d::Fill(const SurfaceFillRequest& request) { return SurfaceFill(this, request); }

bool Surface3d::FillRect(uint32_t value, const uint32_t* rect, uint32_t mask, uint32_t rop) {
  if (rect == nullptr) return false;
  SurfaceFillRequest r;
  r.flags = kFillRop;
  memcpy(r.rect, rect, sizeof(r.rect));
  r.value = value;
  r.mask = mask;
  r.rop = rop;
  return Fill(r);
}

bool Surface3d::FillCpu(const SurfaceFillRequest& request) { return SurfaceFillCpu(this, request); }
bool Surface3d::FillEngine(const SurfaceFillRequest& request) { return SurfaceFillEngine(this, request); }

bool Surface3d::CopyCpu(Surface3d* destination, Surface3d* source, const SurfaceCopyRequest& request) {
  return SurfaceCopyCpu(destination, source, request);
}
bool Surface3d::CopyEngine(Surface3d* destination, Surface3d* source, const SurfaceCopyRequest& request) {
  return SurfaceCopyEngine(destination, source, request);
}
bool Surface3d::CopyOverlapping(Surface3d* destination, Surface3d* source, const SurfaceCopyRequest& request) {
  return SurfaceCopyOverlapping(destination, source, request);
}
bool Surface3d::BlitSoftware(Surface3d* destination, Surface3d* source, const SurfaceBlitRequest& request) {
  return SurfaceBlitSoftware(destination, source, request);
}

// ---- Copies ------------------------------------------------------------------------------------

bool Surface3d::CopyRect(Surface3d* destination, Surface3d* source, const SurfaceCopyRequest& request) {
  if (destination == nullptr || source == nullptr) return false;
  if (destination->MemoryKind() == kBlockKindTiled) return CopyCpu(destination, source, request);
  const uint32_t* dr = request.destination;
  if (EngineLaidOut(destination)) {
    if (EngineLaidOut(source) && WholeOf(destination, dr) && source->width == destination->width &&
        source->height == destination->height && !source->view.active)
      return SurfaceCopyWholeMemory(destination, source, request, !BlitSoftSwitch(destination));
    return CopyCpu(destination, source, request);
  }
  if (source->layoutType == kLayoutTypeTiled || source->layoutType == kLayoutTypeTiledMemory) {
    SurfaceBlitRequest b;
    for (int i = 0; i < 4; ++i) {
      if (request.source[i] > 0x7FFFFFFF || dr[i] > 0x7FFFFFFF) return false;
      b.source[i] = static_cast<int32_t>(request.source[i]);
      b.clipped[i] = b.full[i] = static_cast<int32_t>(dr[i]);
    }
    b.mask = request.mask;
    if ((request.flags & kCopyKey) != 0) {
      b.flags |= kBlitKey;
      b.key = request.key;
    }
    if ((request.flags & kCopyNoTag) != 0) b.flags |= kBlitNoTag;
    return Blit(destination, source, b);
  }
  if (BlitSoftSwitch(destination)) return CopyCpu(destination, source, request);
  return CopyEngine(destination, source, request);
}

bool SurfaceCopyOverlapping(Surface3d* destination, Surface3d* source, const SurfaceCopyRequest& request) {
  if (destination == nullptr || source == nullptr) return false;
  const uint32_t* sr = request.source;
  const uint32_t* dr = request.destination;
  if (sr[0] > sr[2] || sr[1] > sr[3] || dr[0] > dr[2] || dr[1] > dr[3]) return false;
  uint32_t w = sr[2] - sr[0], h = sr[3] - sr[1];
  if (dr[2] - dr[0] < w) w = dr[2] - dr[0];
  if (dr[3] - dr[1] < h) h = dr[3] - dr[1];
  if (w == 0 || h == 0) return true;

  // The scratch: the rectangle rounded up to even sides, its larger side
  // halved while it cannot be had.
  SurfaceCreateRequest create;
  create.placement = kPlaceLocal | kRequestNoCompanion;
  create.format = source->format;
  create.surfaceType = source->options.heapSelector == kMmTypeCompanion ? 0 : source->options.heapSelector;
  create.levels = 1;
  create.depth = 1;
  uint32_t tw = RoundUp(w, 2), th = RoundUp(h, 2);
  ResourceTable* table = source->resourceTable;
  Surface3d* scratch = nullptr;
  for (;;) {
    create.width = tw;
    create.height = th;
    create.fixedHandle = 0;
    scratch = table != nullptr ? table->CreateSurface(kScratchResourceType, &create)
                               : Surface3d::CreatePlaced(source->owner, &create);
    if (scratch != nullptr) break;
    uint32_t& larger = tw >= th ? tw : th;
    if (larger <= kScratchSmallestSide) return false;
    larger /= 2;
  }

  destination->SuspendSync();
  if (source != destination) source->SuspendSync();
  // Rows of tiles from the bottom when the destination does not start
  // above the source, tiles of a row from the right when it does not
  // start left of it: every tile is read before a later one overwrites it.
  const bool fromBottom = dr[1] >= sr[1];
  const bool fromRight = dr[0] >= sr[0];
  const uint32_t rows = (h + th - 1) / th, columns = (w + tw - 1) / tw;
  bool ok = true;
  for (uint32_t i = 0; i < rows && ok; ++i) {
    const uint32_t row = fromBottom ? rows - 1 - i : i;
    const uint32_t y = row * th, ch = h - y < th ? h - y : th;
    for (uint32_t j = 0; j < columns && ok; ++j) {
      const uint32_t column = fromRight ? columns - 1 - j : j;
      const uint32_t x = column * tw, cw = w - x < tw ? w - x : tw;
      SurfaceCopyRequest in;
      in.flags = kCopyNoTag;
      const uint32_t from[4] = {sr[0] + x, sr[1] + y, sr[0] + x + cw, sr[1] + y + ch};
      const uint32_t scratchRect[4] = {0, 0, cw, ch};
      memcpy(in.source, from, sizeof(from));
      memcpy(in.destination, scratchRect, sizeof(scratchRect));
      SurfaceCopyRequest out = request;
      const uint32_t to[4] = {dr[0] + x, dr[1] + y, dr[0] + x + cw, dr[1] + y + ch};
      memcpy(out.source, scratchRect, sizeof(scratchRect));
      memcpy(out.destination, to, sizeof(to));
      // The key and raster operation apply where the tile lands.
      ok = SurfaceCopyEngine(scratch, source, in) && SurfaceCopyEngine(destination, scratch, out);
    }
  }
  if (source != destination) source->ResumeSync();
  destination->ResumeSync();
  // The engine may still read the scratch: it goes once the engine passed
  // its tag, and is kept (with its table) when that does not come in time.
  if (scratch->AwaitEngine()) {
    if (table != nullptr)
      table->DestroyResource(kScratchResourceType, scratch->resourceHandle);
    else
      delete scratch;
  }
  return ok;
}

// ---- Blits -------------------------------------------------------------------------------------

namespace {

constexpr int32_t kTallestTexturedSource = 2048;
constexpr uint32_t kBlitOpBase = 0x1000CC;
constexpr uint32_t kBlitOpWideUnits = 0x80000;
constexpr uint32_t kBlitOpTransform = 0x40000;
constexpr uint32_t kBlitOpLimit31 = 0x200000;
constexpr uint32_t kUsageLaterChips = 0x7FC00;

struct BlitSet {
  TransformState* transform;
  TextureStageSetup* stages;
};

BlitSet DeviceBlitSet(const Surface3d* s) {
  BlitEngine3d* engine = BlitEngineOf(s->owner);
  if (engine == nullptr) return {nullptr, nullptr};
  return {reinterpret_cast<TransformState*>(engine->transformState),
          reinterpret_cast<TextureStageSetup*>(engine->stageSetup)};
}


bool SameExtent(const int32_t* a, const int32_t* b) {
  return int64_t{a[2]} - a[0] == int64_t{b[2]} - b[0] && int64_t{a[3]} - a[1] == int64_t{b[3]} - b[1];
}

// The transform for the pair: the caller's, or the device's set up for it.
// A caller's state may be any unit state block (a level copy's).
HwStateBlock* TransformFor(Surface3d* destination, Surface3d* source, const SurfaceBlitRequest& request) {
  if ((request.flags & kBlitCallerTransform) != 0) return static_cast<HwStateBlock*>(request.transform);
  TransformState* t = DeviceBlitSet(destination).transform;
  if (t == nullptr || !t->SetupBlit(source, destination, nullptr)) return nullptr;
  return t;
}

// Where the texture coordinates come from: the source rectangle of a
// texture of width x height texels, the option words (rotation, mirror).
struct TexSource {
  const int32_t* rect;
  uint32_t width;
  uint32_t height;
  uint32_t rotation;
  uint32_t mirror;
};

TexSource TexSourceOf(const Surface3d* source, const SurfaceBlitRequest& request) {
  return {request.source, source->width, source->height, request.options[0], request.options[1]};
}

// Draws one destination rectangle (already clipped) with the loaded set-up.
bool DrawTextured(Surface3d* destination, const int32_t* full, const int32_t* rect, uint32_t flags,
                  HwStateBlock* transform, TextureStageSetup* stages, const TexSource& tex) {
  if (full[2] <= full[0] || full[3] <= full[1]) return false;
  if (rect[0] < 0 || rect[1] < 0 || rect[0] > rect[2] || rect[1] > rect[3]) return false;
  if (transform == nullptr || stages == nullptr) return false;
  if (!transform->Flush() || !stages->FlushPending()) return false;
  CommonData* common = CommonOf(destination);
  EngineOwner3d* owner = common != nullptr ? common->engineOwner3d : nullptr;
  BlitEngine3d* engine = BlitEngineOf(destination->owner);
  ContextState3d* state = engine != nullptr ? engine->states[0] : nullptr;
  BmSecondaryInt* secondary = common != nullptr ? common->secondaryStream : nullptr;
  if (owner == nullptr || state == nullptr || secondary == nullptr) return false;
  stages->FlushSources();
  destination->PrepareAccess(0);
  int64_t left = rect[0], top = rect[1], right = rect[2], bottom = rect[3];
  if (destination->view.active) {
    left += destination->view.x, right += destination->view.x;
    top += destination->view.y, bottom += destination->view.y;
  }
  uint32_t op = kBlitOpBase | stages->StageMask();
  if (transform->unitCount >= 6) op |= kBlitOpWideUnits;
  if (transform->ConvertsColour()) op |= kBlitOpTransform;
  const uint32_t usage = common->revisionBits;
  if (!((usage & kUsageLaterChips) != 0 && stages->stageCount > 2)) op |= kBlitOpLimit31;
  uint32_t word0 = 0, word1 = 0;
  if (!SurfaceEngineDescriptor(destination, &word0, &word1)) return false;
  // The operation word goes to the engine as the state's control word,
  // beside the destination's descriptor and the plane mask.
  uint32_t* block = state->operationBlock;
  state->controlWord = op;
  block[kOpCode] = op;
  block[kOpPlaneMask] = 0xFFFFFFFF;
  block[kOpSurface88] = word0;
  block[kOpSurface89] = word1;
  state->dirty.words[0] |= kCsDirtyControlWord | kCsDirtyPlaneMask | kCsDirtySurfacesA;
  owner->Execute(state, 0, false);
  secondary->startFlags = 2;
  // Each enabled stage's texture coordinates for the three corners.
  const BlitRect source{tex.rect[0], tex.rect[1], tex.rect[2], tex.rect[3]};
  const BlitRect outer{full[0], full[1], full[2], full[3]};
  const BlitRect inner{rect[0], rect[1], rect[2], rect[3]};
  const uint32_t mode = (flags & kBlitFilterModeMask) >> kBlitFilterModeShift;
  if (!ComputeBlitTexCoords(*stages, secondary, source, outer, inner, tex.width, tex.height, tex.rotation,
                            tex.mirror, mode, (flags & kBlitOptionBit4) != 0))
    return false;
  const uint32_t l = FloatBits(static_cast<float>(left)), r = FloatBits(static_cast<float>(right));
  const uint32_t t = FloatBits(static_cast<float>(top)), b = FloatBits(static_cast<float>(bottom));
  const uint32_t corners[3][2] = {{t, l}, {t, r}, {b, l}};
  StreamSink sink{secondary};
  if (!PutQuad(sink, 0, corners)) return false;
  if (!secondary->ExecutePending()) return false;
  if ((flags & kBlitNoTag) == 0) (void)PostCompletionTag(common, destination, nullptr, false);
  destination->MarkWritten();
  return true;
}

}  // namespace

bool Surface3d::Blit(Surface3d* destination, Surface3d* source, const SurfaceBlitRequest& request) {
  if (destination == nullptr || source == nullptr || source->format == nullptr) return false;
  if (destination->layoutType == kLayoutTypeTiled || destination->layoutType == kLayoutTypeTiledMemory)
    return BlitSoftware(destination, source, request);
  if ((request.flags & kBlitCallerStages) == 0 && source->height > static_cast<uint32_t>(kTallestTexturedSource))
    return BlitSoftware(destination, source, request);
  // The engine's textured path has no key: keyed blits are the processor's.
  if ((request.flags & kBlitKey) != 0) return BlitSoftware(destination, source, request);
  if (source->format->code == 39) return BlitPlanar3(destination, source, request);
  if (source->format->code == 40) return BlitPlanar2(destination, source, request);
  if (TransformFor(destination, source, request) == nullptr) return false;
  TextureStageSetup* stages = DeviceBlitSet(destination).stages;
  if (stages == nullptr) return false;
  BlitSource main;
  if ((request.flags & kBlitCallerStages) != 0) {
    if (request.stageSource == nullptr) return false;
    main = *static_cast<const BlitSource*>(request.stageSource);
  } else {
    main.surface = source;
    main.left = 0;
    main.top = 0;
    main.right = static_cast<int32_t>(source->width);
    main.bottom = static_cast<int32_t>(source->height);
    main.filter = SameExtent(request.source, request.full) ? 0 : request.filter;
  }
  if (!stages->SetSources(&main, nullptr, nullptr, nullptr)) return false;
  return BlitTextured(destination, source, request);
}

bool Surface3d::BlitTextured(Surface3d* destination, Surface3d* source, const SurfaceBlitRequest& request) {
  if (destination == nullptr || source == nullptr) return false;
  HwStateBlock* transform = (request.flags & kBlitCallerTransform) != 0
                                ? static_cast<HwStateBlock*>(request.transform)
                                : static_cast<HwStateBlock*>(DeviceBlitSet(destination).transform);
  return DrawTextured(destination, request.full, request.clipped, request.flags, transform,
                      DeviceBlitSet(destination).stages, TexSourceOf(source, request));
}

namespace {

bool BlitPlanar(Surface3d* destination, Surface3d* source, const SurfaceBlitRequest& request, bool three) {
  if (destination == nullptr || source == nullptr) return false;
  const Surface3d::ViewWindow::ChromaPlane& plane = source->view.chroma;
  if (!plane.active || plane.plane == nullptr) return false;
  HwStateBlock* transform = TransformFor(destination, source, request);
  TextureStageSetup* stages = DeviceBlitSet(destination).stages;
  if (transform == nullptr || stages == nullptr) return false;
  BlitSource luma;
  luma.surface = source;
  luma.top = static_cast<int32_t>(plane.offset);
  luma.right = static_cast<int32_t>(plane.width);
  luma.bottom = static_cast<int32_t>(plane.offset + plane.height);
  luma.filter = request.filter;
  BlitSource chroma;
  chroma.surface = plane.plane;
  chroma.right = static_cast<int32_t>(plane.width / 2);
  chroma.bottom = static_cast<int32_t>(plane.plane->height);
  chroma.filter = request.filter;
  // Three planes: the second chroma plane follows the first in the plane
  // surface, half its height down.
  BlitSource third = chroma;
  third.top = static_cast<int32_t>(plane.plane->height / 2);
  if (three) chroma.bottom = third.top;
  if (!stages->SetSources(&luma, &chroma, three ? &third : nullptr, nullptr)) return false;

  const int32_t* full = request.full;
  const int64_t sourceHeight = int64_t{request.source[3]} - request.source[1];
  const int64_t fullHeight = int64_t{full[3]} - full[1];
  const uint32_t filterMode = (request.flags & kBlitFilterModeMask) >> kBlitFilterModeShift;
  if (request.source[1] == 0 && sourceHeight > 0 && sourceHeight < fullHeight && filterMode < 2) {
    const double ratio = static_cast<double>(fullHeight) / static_cast<double>(sourceHeight);
    const double rows = (request.flags & kBlitOptionBit4) != 0 ? ratio - 0.5 : ratio * 0.5 - 0.5;
    const int64_t cut = full[1] + static_cast<int64_t>(rows);
    const int32_t* c = request.clipped;
    const int32_t bands[2][4] = {{c[0], c[1], c[2], static_cast<int32_t>(cut < c[3] ? cut : c[3])},
                                 {c[0], static_cast<int32_t>(cut > c[1] ? cut : c[1]), c[2], c[3]}};
    const uint32_t flags[2] = {request.flags | 2u << kBlitFilterModeShift, request.flags};
    for (int i = 0; i < 2; ++i) {
      if (bands[i][3] <= bands[i][1]) continue;
      if (!DrawTextured(destination, full, bands[i], flags[i], transform, stages, TexSourceOf(source, request)))
        return false;
      // The set-up is drawn again for the second band.
      stages->pending = 1;
      transform->pending = 1;
    }
    return true;
  }
  return DrawTextured(destination, full, request.clipped, request.flags, transform, stages,
                      TexSourceOf(source, request));
}

}  // namespace

bool Surface3d::BlitPlanar2(Surface3d* destination, Surface3d* source, const SurfaceBlitRequest& request) {
  return BlitPlanar(destination, source, request, false);
}

bool Surface3d::BlitPlanar3(Surface3d* destination, Surface3d* source, const SurfaceBlitRequest& request) {
  return BlitPlanar(destination, source, request, true);
}

// ---- Shadow round trip -------------------------------------------------------------------------

namespace {

constexpr uint32_t kShadowFilter = 1;

int32_t Scaled(uint32_t v, float factor) {
  const double s = static_cast<double>(v) * static_cast<double>(factor);
  if (!(s >= 0.0)) return 0;  // NaN and negatives
  return s >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(s);
}

// The blit between the owner's rectangle and the shadow's, in either
// direction, then the wait until both are idle.
bool ShadowTrip(SurfaceShadowLink* link, const uint32_t* box, bool enter) {
  Surface3d* owner = link->owner;
  Surface3d* shadow = link->shadow;
  if (owner == nullptr || shadow == nullptr) return false;
  int32_t ownerRect[4], shadowRect[4];
  if (box != nullptr) {
    const uint32_t r[4] = {box[0], box[1], box[3], box[4]};
    for (int i = 0; i < 4; ++i) {
      if (r[i] > 0x7FFFFFFF) return false;
      ownerRect[i] = static_cast<int32_t>(r[i]);
      shadowRect[i] = Scaled(r[i], (i & 1) == 0 ? link->scaleX : link->scaleY);
    }
  } else {
    const int32_t o[4] = {0, 0, static_cast<int32_t>(owner->width), static_cast<int32_t>(owner->height)};
    const int32_t s[4] = {0, 0, static_cast<int32_t>(shadow->width), static_cast<int32_t>(shadow->height)};
    memcpy(ownerRect, o, sizeof(o));
    memcpy(shadowRect, s, sizeof(s));
  }
  SurfaceBlitRequest q;
  memcpy(q.source, enter ? ownerRect : shadowRect, sizeof(q.source));
  memcpy(q.clipped, enter ? shadowRect : ownerRect, sizeof(q.clipped));
  memcpy(q.full, q.clipped, sizeof(q.full));
  q.mask = 0xFFFFFFFF;
  if (!enter)
    q.filter = owner->format != nullptr && owner->format->formatClass == kClassDepth ? 0 : kShadowFilter;
  Surface3d* to = enter ? shadow : owner;
  Surface3d* from = enter ? owner : shadow;
  if (!Surface3d::Blit(to, from, q)) return false;
  // Bounded waits: false when the engine does not pass either in time.
  if (!to->AwaitEngine() || !from->AwaitEngine()) return false;
  to->changed = 1;
  if (to->resourceTable != nullptr) to->resourceTable->InvalidateBindings(to->resourceType, to->resourceHandle);
  return true;
}

}  // namespace

bool SurfaceShadowLink::Enter(bool skipIfCurrentTarget, const uint32_t* box) {
  if (active) return true;
  if (skipIfCurrentTarget && owner != nullptr) {
    CommonData* common = owner->owner != nullptr ? owner->owner->common : nullptr;
    if (common != nullptr && common->openRenderTarget == owner) return true;
  }
  if (!ShadowTrip(this, box, true)) return false;
  active = 1;
  return true;
}

bool SurfaceShadowLink::Leave(const uint32_t* box) {
  if (!active) return true;
  if (!ShadowTrip(this, box, false)) return false;
  active = 0;
  return true;
}
