// A context state's defaults and its emission as register-group packets.
#include <string.h>

#include <type_traits>

#include "core/common_data.h"
#include "core/hot_inline.h"
#include "core/regs/vertex_engine.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/engine/packets.h"
#include "kernel/3d/engine/texture_units_emit.h"
#include "kernel/3d/engine/vec_const_shadow.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/dma_streams.h"
#include "kernel/sync_tags.h"

namespace {

constexpr uint32_t kOpDefaultCode = 0x360004;
// A descriptor's mode word: format 50, laid out linearly.
constexpr uint32_t kUnitRecordDefault = Mode2dFormat::Word(50) | Mode2dLayout::Word(k2dLayoutLinear);
static_assert(kUnitRecordDefault == 0x32020000);
// The fourth program's vertex engine word carries these bits while it
// goes up.
constexpr uint32_t kUploadEngineBits = 0x7000000;

// Copies a prebuilt image (a length word, then that many stream words) as
// it stands; the length is bounded by the image's room.
void CopyImage(BmBatch& batch, const uint32_t* image, uint32_t room) {
  const uint32_t n = image[0] < room ? image[0] : room;
  if (n == 0) return;
  if (PacketWords p{batch.Put(n)}) p.Copy(image + 1, n);
}

}  // namespace

ContextState3d::ContextState3d(EngineOwner3d* o) : owner(o), previous(nullptr), next(nullptr) {
  memset(&dirty, 0, sizeof dirty);
  memset(&emitMask, 0, sizeof emitMask);
  memset(&changedByOthers, 0, sizeof changedByOthers);
  flags = 0;
  renderContext = nullptr;
  pending = ContextStatePending{};
  driverSwitchValue = 0;
  lodControl = 0;
  flushRequest = 0;
  stageWord = 0;
  memset(uploads, 0, sizeof uploads);
  constShadow = nullptr;
  vertexEngine.owner = nullptr;
  LoadRasterDefaults();
  LoadDepthStencilDefaults();
  LoadFogDefaults();
  LoadVertexEngineDefaults();
  textureUnits.dirty = &dirty;
  textureUnits.LoadDefaults();
  LoadCoordinateDefaults();
  LoadOperationDefaults();
  if (owner != nullptr) owner->Register(this);
}

ContextState3d::~ContextState3d() {
  if (owner != nullptr) owner->Unregister(this);
}

void ContextState3d::LoadRasterDefaults() {
  memset(rasterBlock, 0, sizeof rasterBlock);
  rasterBlock[8] = 0x18004014;  // word FC
  rasterBlock[9] = 0x02800000;  // word F8
}

void ContextState3d::LoadDepthStencilDefaults() {
  memset(depthStencilBlock, 0, sizeof depthStencilBlock);
  depthStencilBlock[2] = 0x80000000;  // word C0
  depthStencilBlock[3] = 0x7FFFFFFF;  // word C4
}

void ContextState3d::LoadFogDefaults() {
  memset(fogBlock, 0, sizeof fogBlock);
  fogBlock[69] = 0xFFFFFF;
}

void ContextState3d::LoadCoordinateDefaults() {
  memset(coordinateBlock, 0, sizeof coordinateBlock);
  coordinateBlock[31] = 0xFFFFFFFF;
  coordinateBlock[33] = 96;
}

void ContextState3d::LoadOperationDefaults() {
  memset(operationBlock, 0, sizeof operationBlock);
  operationBlock[kOpCode] = kOpDefaultCode;
  operationBlock[kOpScale] = kFloat32;
  for (uint32_t i = 0; i < 4; ++i) operationBlock[kOpSurface89 + i] = kUnitRecordDefault;
  controlWord = kOpDefaultCode;
}

// The vertex engine's images stay empty until its writer fills them; the
// block's other fields are the transform set-up's.
void ContextState3d::LoadVertexEngineDefaults() {
  PDEV* device = vertexEngine.owner;
  memset(&vertexEngine, 0, sizeof vertexEngine);
  vertexEngine.owner = device;
}

// ---- Emission ----------------------------------------------------------------------------------
// The groups of the first dirty word are written by one writer per block
// into a sink (packets.h): Emit hands them the stream's cursor directly
// when its buffer holds the most they can write, the single-block entry
// points the stream's reservations.

namespace {

// The most words each writer puts out with everything dirty, count words
// included: a buffer that holds these never sees a write past its limit.
constexpr uint32_t kRasterWords = 2 * 6;
constexpr uint32_t kDepthStencilWords = 1 + 4 + 3;
constexpr uint32_t kFogWords = 5 + 81;
constexpr uint32_t kCoordinateWords = 5 + 16 + 4;
constexpr uint32_t kOperationGroupWords = 1 + 5 + 3 + 3 + 3 + 4 + 2 + 2 + 5;
constexpr uint32_t kFrontWords = kRasterWords + kDepthStencilWords + kFogWords;
constexpr uint32_t kBackWords = kCoordinateWords + kOperationGroupWords + kTuMaxEmitWords;

// Each writer takes the first dirty word as d (Emit keeps it in a local
// for the whole emission) and writes a packet's words in order, pairs of
// words as one store and runs of neighbouring image words as one copy.
template <class Sink>
ORV_HOT_INLINE void PutRaster(const ContextState3d& s, uint32_t& d, Sink& sink) {
  const uint32_t* w = s.rasterBlock;
  if ((d & kCsDirtyRasterA) != 0) {
    if (PacketWords p =
            OpenPacket(sink, 5, PacketHeader(k2dIdxClipTopLeft, k2dIdxClipBottomRight, k3dIdxWordFC, k3dIdxWordF8)))
      p.Copy<2>(&w[2]).Copy<2>(&w[8]);  // the clip, words FC and F8
  }
  if ((d & kCsDirtyRasterB) != 0) {
    if (PacketWords p = OpenPacket(sink, 5, PacketHeader(k3dIdxWordE8, k3dIdxWordE4, k3dIdxWordF0, k3dIdxWordEC)))
      p.Pair(w[4], w[7]).Pair(w[6], w[5]);
  }
  d &= ~(kCsDirtyRasterA | kCsDirtyRasterB);
}

template <class Sink>
ORV_HOT_INLINE void PutDepthStencil(const ContextState3d& s, uint32_t& d, Sink& sink) {
  const uint32_t* w = s.depthStencilBlock;
  constexpr uint32_t depth = PacketHeader(k3dIdxWordC8, k3dIdxWordCC, k3dIdxWordD0);
  constexpr uint32_t stencil = PacketHeader(k3dIdxWordC0, k3dIdxWordC4);
  switch (d & (kCsDirtyDepth | kCsDirtyStencil)) {
    case kCsDirtyDepth | kCsDirtyStencil:
      if (PacketWords p = OpenPacket(sink, 7, depth))
        p.Copy<2>(&w[4]).Pair(w[6], stencil).Copy<2>(&w[2]);  // C8, CC, D0; C0, C4
      break;
    case kCsDirtyDepth:
      if (PacketWords p = OpenPacket(sink, 4, depth)) p.Copy<3>(&w[4]);
      break;
    case kCsDirtyStencil:
      if (PacketWords p = OpenPacket(sink, 3, stencil)) p.Copy<2>(&w[2]);
      break;
  }
  d &= ~(kCsDirtyDepth | kCsDirtyStencil);
}

template <class Sink>
ORV_HOT_INLINE void PutFog(const ContextState3d& s, uint32_t& d, Sink& sink) {
  const uint32_t* fog = s.fogBlock;
  if ((d & kCsDirtyFog) != 0) {
    if (PacketWords p = OpenPacket(sink, 4, PacketHeader(k3dIdxWordD4, k3dIdxWordD8, k3dIdxWordDC)))
      p.Copy<3>(fog);
    // The table only goes out with the registers, and only for a fog mode
    // that reads it.
    if ((d & kCsDirtyFogTable) != 0 && (fog[0] & 1) != 0 && (fog[0] & 6) != 0) {
      constexpr uint32_t table = PacketHeader(k3dIdxFogTable, k3dIdxFogTable, k3dIdxFogTable, k3dIdxFogTable);
      // Sixteen groups of four table words.
      if (PacketWords p = OpenPacket(sink, 80, table)) {
        p.Copy<4>(&fog[3]);
        for (uint32_t g = 1; g < 16; ++g) p.Word(table).Copy<4>(&fog[3 + 4 * g]);
      }
    }
  }
  d &= ~(kCsDirtyFog | kCsDirtyFogTable);
}

template <class Sink>
ORV_HOT_INLINE void PutCoordinates(const ContextState3d& s, uint32_t& d, Sink& sink) {
  const uint32_t* w = s.coordinateBlock;
  if ((d & kCsDirtyCoordA) != 0) {
    if (PacketWords p =
            OpenPacket(sink, 4, PacketHeader(k3dIdxStreamAddress0, k3dIdxStreamStrides0, k3dIdxPrimitiveControl)))
      p.Pair(w[0], w[8]).Word(w[14]);
  }
  if ((d & kCsDirtyCoordB) != 0) {
    const PacketIndex address = k3dIdxStreamAddress0, strides = k3dIdxStreamStrides0;
    if (PacketWords p = OpenPacket(sink, 15, PacketHeader(address + 1, address + 2, address + 3, address + 4))) {
      p.Copy<4>(&w[1]);  // streams 1-4
      p.Pair(PacketHeader(address + 5, address + 6, address + 7, strides + 1), w[5]).Copy<2>(&w[6]);
      p.Pair(w[9], PacketHeader(strides + 2, strides + 3, k3dIdxIndexMin, k3dIdxIndexLimit));
      p.Copy<4>(&w[10]);  // strides 4-7, the index window
    }
  }
  if ((d & kCsDirtyCoordC) != 0) {
    if (PacketWords p = OpenPacket(sink, 3, PacketHeader(k3dIdxElementIndex, k3dIdxElementData)))
      p.Copy<2>(&w[15]);
  }
  d &= ~(kCsDirtyCoordA | kCsDirtyCoordB | kCsDirtyCoordC);
}

// The operation block's groups, as many as are dirty, in one packet.
template <class Sink>
ORV_HOT_INLINE void PutOperationGroups(ContextState3d& s, uint32_t& d, Sink& sink) {
  const uint32_t* w = s.operationBlock;
  const uint32_t bits = d & 0xFF;
  if (bits == 0) return;
  // Straight at the cursor when the room is known; else built aside and
  // copied in one reservation.
  uint32_t aside[kOperationGroupWords];
  uint32_t* first = aside;
  if constexpr (std::is_same_v<Sink, DirectSink>) first = sink.at + 1;
  PacketWords p{first};
  if ((bits & kCsDirtySurfacesA) != 0) {
    p.Pair(PacketHeader(k2dIdxDescAddress0, k2dIdxDescMode0, k2dIdxDescAddress2, k2dIdxDescMode2), w[10]);
    p.Pair(w[14], w[12]).Word(w[16]);
  }
  if ((bits & kCsDirtySurfacesB) != 0)
    p.Pair(PacketHeader(k2dIdxDescAddress1, k2dIdxDescMode1), w[11]).Word(w[15]);
  if ((bits & kCsDirtySurfacesC) != 0)
    p.Pair(PacketHeader(k2dIdxDescAddress3, k2dIdxDescMode3), w[13]).Word(w[17]);
  if ((bits & kCsDirtyColours) != 0)
    p.Pair(PacketHeader(k2dIdxForeground, k2dIdxBackground), w[kOpForeground]).Word(w[kOpBackground]);
  if ((bits & kCsDirtyPlacement) != 0)
    p.Pair(PacketHeader(k2dIdxStart, k2dIdxOrigin, k2dIdxSize), w[kOpStart]).Pair(w[kOpOrigin], w[kOpSize]);
  if ((bits & kCsDirtyPlaneMask) != 0) p.Pair(PacketHeader(k2dIdxPlaneMask), w[kOpPlaneMask]);
  if ((bits & kCsDirtyControlWord) != 0) p.Pair(PacketHeader(k2dIdxControl), s.controlWord);
  EngineOwner3d* owner = s.owner;
  if ((bits & kCsDirtySync) != 0 && owner != nullptr && owner->common != nullptr &&
      owner->common->sharedLocked != nullptr) {
    // The synchronisation group reaches a fresh tag of the board's counter;
    // 0xC0 ends with the state's control word.
    const uint32_t tag = TakeNextTag(owner->common->sharedLocked);
    p.Pair(PacketHeader(k2dIdxControl, k2dIdxSyncTag, k2dIdxSyncTag, k3dIdxWordB0), s.controlWord);
    p.Pair(tag, tag | 1).Word(w[kOpTagWord]);
  }
  const uint32_t n = static_cast<uint32_t>(p.End() - first);
  if constexpr (std::is_same_v<Sink, DirectSink>) {
    // The words are in place behind the count word's room.
    if (n != 0) {
      OpenPacketAt(sink.at, n);
      sink.at += n + 1;
    }
  } else {
    PutWords(sink, aside, n);
  }
  d &= ~0xFFu;
}

}  // namespace

void ContextState3d::EmitUpload(BmBufferPool* stream, uint32_t slot) {
  if (slot >= 4) return;
  const VertexUploadSlot& u = uploads[slot];
  const bool constants = slot == 2;
  if (u.program == nullptr || (!constants && (u.words == nullptr || u.count == 0))) return;
  if (owner == nullptr || owner->common == nullptr) return;
  VertexProgramBuilder* builder = owner->common->vertexProgramBuilder;
  if (builder == nullptr) return;
  uint32_t& d = dirty.words[0];
  if (owner->resync != 0) {
    // Stream 0 at 0 with the stride 4 (the primitive control word too on
    // the first use), then element 0.
    BmBatch batch(stream);
    BatchSink sink{&batch};
    const bool first = owner->firstUse != 0;
    if (first) {
      PutPacket(sink, PacketHeader(k3dIdxStreamAddress0, k3dIdxStreamStrides0, k3dIdxPrimitiveControl), 0, 4,
                0x2305C);
      owner->firstUse = 0;
    } else {
      PutPacket(sink, PacketHeader(k3dIdxStreamAddress0, k3dIdxStreamStrides0), 0, 4);
    }
    PutPacket(sink, PacketHeader(k3dIdxElementIndex, k3dIdxElementData), 0, 0x83C00000);
    owner->resync = 0;
    d |= kCsDirtyCoordA | kCsDirtyCoordC;
    if (constants && first) d |= kCsDirtyPrimitiveType;
  }
  const uint32_t start = builder->MakeResident(u.program, true, 8, owner->common);
  if (start == 0 && builder->LastPlacementFailed()) return;
  const uint32_t engine = vertexEngine.engineWord;
  // The upload opens the program fence and names the program's start. The
  // start register's data word carries no value: 0. Its packets go out as
  // one batch (the program was made resident first: it may write to the
  // stream), committed before the constants are copied.
  {
    BmBatch batch(stream);
    BatchSink sink{&batch};
    if (slot == 3) {
      PutPacket(sink,
                PacketHeader(k3dIdxVertexEngineWord, k2dIdxSyncZero, k3dIdxProgramControl, k3dIdxProgramControl),
                engine | kUploadEngineBits, 0, k3dProgramOpen, k3dProgramOpen, PacketHeader(k3dIdxProgramStart),
                start);
    } else {
      PutPacket(sink, PacketHeader(k2dIdxSyncZero, k3dIdxProgramControl, k3dIdxProgramControl, k3dIdxProgramStart),
                0, k3dProgramOpen, k3dProgramOpen, start);
    }
    if (builder->memoryChanged != 0) {
      PutPacket(sink, PacketHeader(k3dIdxProgramControl), k3dProgramMemoryChanged);
      builder->memoryChanged = 0;
    }
    if (!constants) {
      const uint32_t n = u.count;
      if (PacketWords p{batch.Put(n + 1)}) {
        p.Word(kVertexConstantsType | ((n - 1) & kVertexConstantsLengthMask) |
               (((n / 4) - 1) << kVertexConstantsCountShift & kVertexConstantsCountMask));
        p.Copy(u.words, n);
      }
    }
  }
  if (constants && constShadow != nullptr && constShadow->dirtySummary != 0) {
    // What went out counts as loaded and sent, so it goes out once.
    if (constShadow->CopyDirty(stream)) constShadow->FoldSent();
  }
  if (builder->slotMode != 0) static_cast<BmSecondaryInt*>(stream)->ExecutePending();
  d |= kCsDirtyProgramFence;
  if (slot == 3) {
    WritePacket(stream,
                PacketHeader(k2dIdxSyncZero, k3dIdxProgramControl, k3dIdxProgramControl, k3dIdxVertexEngineWord), 0,
                k3dProgramOpen, k3dProgramOpen, engine);
  }
}

void ContextState3d::EmitVertexUploads(BmBufferPool* stream) {
  uint32_t& d = dirty.words[0];
  const uint32_t bits = d & (kCsDirtyUpload1 | kCsDirtyUpload2 | kCsDirtyUpload3 | kCsDirtyUpload4 |
                             kCsDirtyUpload3Fold);
  if (bits == 0) return;
  d &= ~bits;
  if ((bits & kCsDirtyUpload1) != 0) EmitUpload(stream, 0);
  if ((bits & kCsDirtyUpload2) != 0) EmitUpload(stream, 1);
  if ((bits & (kCsDirtyUpload3 | kCsDirtyUpload3Fold)) != 0) {
    if ((bits & kCsDirtyUpload3Fold) != 0 && constShadow != nullptr) constShadow->RetireAll();
    EmitUpload(stream, 2);
  }
  if ((bits & kCsDirtyUpload4) != 0) EmitUpload(stream, 3);
}

void ContextState3d::EmitVertexWriters(BmBufferPool* stream) {
  // The images go out as one batch.
  BmBatch batch(stream);
  VertexEngineBlock& v = vertexEngine;
  const bool agrees = (v.flags & kVeFlagEngineCapable) != 0;
  if (v.rangeFlag != 0) {
    if (agrees && v.rangeCount != 0) {
      const uint32_t last = (v.rangeCount < kVeRangeImages ? v.rangeCount : kVeRangeImages) - 1;
      CopyImage(batch, v.headerImage, kVeHeaderImageWords);
      CopyImage(batch, v.rangeImages[last], kVeRangeImageWords - 1);
    }
    v.rangeFlag = 0;
  }
  if (v.dirtyR1 != 0 || v.dirtyR2 != 0) {
    if (agrees) {
      const uint32_t s = v.bindingSelectors[0] | v.bindingSelectors[1] | v.bindingSelectors[2];
      if (s != 0) CopyImage(batch, v.headerImage, kVeHeaderImageWords);
      for (uint32_t i = 0; i < 3; ++i)
        if (v.bindingSelectors[i] != 0) CopyImage(batch, v.bindingImages[i], kVeBindingImageWords);
    }
    v.dirtyR1 = v.dirtyR2 = 0;
  }
  uint32_t& d = dirty.words[0];
  if ((d & kCsDirtyFence) != 0) {
    if (v.fenceCount != 0) {
      const uint32_t last = (v.fenceCount < kVeRangeImages ? v.fenceCount : kVeRangeImages) - 1;
      CopyImage(batch, v.headerImage, kVeHeaderImageWords);
      CopyImage(batch, v.fenceImages[last], kVeRangeImageWords - 1);
    }
    d &= ~kCsDirtyFence;
  }
}

void ContextState3d::Emit(BmBufferPool* stream) {
  if (stream == nullptr) return;
  const bool capable = owner != nullptr && owner->Capable();
  constexpr uint32_t uploads =
      kCsDirtyUpload1 | kCsDirtyUpload2 | kCsDirtyUpload3 | kCsDirtyUpload4 | kCsDirtyUpload3Fold;
  if ((dirty.words[0] & uploads) == 0 && stream->Fits(kFrontWords + kBackWords)) {
    // No upload goes between the blocks and the buffer holds them all:
    // one run straight at the cursor, the first dirty word in a register
    // (the stores into the stream cannot then force it back to memory).
    uint32_t d = dirty.words[0];
    DirectSink sink{stream->cursor};
    PutRaster(*this, d, sink);
    PutDepthStencil(*this, d, sink);
    PutFog(*this, d, sink);
    PutCoordinates(*this, d, sink);
    PutOperationGroups(*this, d, sink);
    dirty.words[0] = d;
    textureUnits.EmitTo(sink, capable, true);
    stream->cursor = sink.at;
  } else {
    // Where the buffer would hold each run (before and after the uploads)
    // the words land as the reservations of one packet at a time would
    // place them, so both ways write the same stream.
    WriteBounded(stream, kFrontWords, [this](auto& sink) {
      PutRaster(*this, dirty.words[0], sink);
      PutDepthStencil(*this, dirty.words[0], sink);
      PutFog(*this, dirty.words[0], sink);
    });
    EmitVertexUploads(stream);
    WriteBounded(stream, kBackWords, [this, capable](auto& sink) {
      PutCoordinates(*this, dirty.words[0], sink);
      PutOperationGroups(*this, dirty.words[0], sink);
      textureUnits.EmitTo(sink, capable, true);
    });
  }
  const VertexEngineBlock& v = vertexEngine;
  if (v.rangeFlag != 0 || v.dirtyR1 != 0 || v.dirtyR2 != 0 || (dirty.words[0] & kCsDirtyFence) != 0)
    EmitVertexWriters(stream);
}
