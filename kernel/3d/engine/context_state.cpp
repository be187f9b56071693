// A context state's defaults and its emission as register-group packets.
#include <string.h>

#include <type_traits>

#include "core/common_data.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/engine/packets.h"
#include "kernel/3d/render/context_state.h"
#include "kernel/3d/tnl/vec_const_shadow.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/dma_streams.h"
#include "kernel/sync_tags.h"

namespace {

constexpr uint32_t kOpDefaultCode = 0x360004;
constexpr uint32_t kUnitRecordDefault = 0x32020000;  // bit 1 of byte 2; 50 in byte 3
constexpr uint32_t kUploadCommand = 0x41000000;
constexpr uint32_t kFencePendingWord = 0x80000028;

// Copies a prebuilt image (a length word, then that many stream words) as
// it stands; the length is bounded by the image's room.
void CopyImage(BmBufferPool* stream, const uint32_t* image, uint32_t room) {
  const uint32_t n = image[0] < room ? image[0] : room;
  if (n == 0) return;
  if (uint32_t* at = stream->Reserve(n)) memcpy(at, image + 1, 4u * n);
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
  rasterBlock[8] = 0x18004014;  // 0xBF
  rasterBlock[9] = 0x02800000;  // 0xBE
}

void ContextState3d::LoadDepthStencilDefaults() {
  memset(depthStencilBlock, 0, sizeof depthStencilBlock);
  depthStencilBlock[2] = 0x80000000;  // 0xB0
  depthStencilBlock[3] = 0x7FFFFFFF;  // 0xB1
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

// The most words each writer puts out with everything dirty.
constexpr uint32_t kRasterWords = 2 * 5;
constexpr uint32_t kDepthStencilWords = 7;
constexpr uint32_t kFogWords = 4 + 81;
constexpr uint32_t kCoordinateWords = 5 + 16 + 4;
constexpr uint32_t kOperationGroupWords = 1 + 5 + 3 + 3 + 3 + 4 + 2 + 2 + 5;
constexpr uint32_t kFrontWords = kRasterWords + kDepthStencilWords + kFogWords;
constexpr uint32_t kBackWords = kCoordinateWords + kOperationGroupWords + kTuMaxEmitWords;

template <class Sink>
void PutRaster(ContextState3d& s, Sink& sink) {
  uint32_t& d = s.dirty.words[0];
  const uint32_t* w = s.rasterBlock;
  if ((d & kCsDirtyRasterA) != 0) PutPacket(sink, PacketHeader(0xCA, 0xCB, 0xBF, 0xBE), w[2], w[3], w[8], w[9]);
  if ((d & kCsDirtyRasterB) != 0) PutPacket(sink, PacketHeader(0xBA, 0xB9, 0xBC, 0xBB), w[4], w[7], w[6], w[5]);
  d &= ~(kCsDirtyRasterA | kCsDirtyRasterB);
}

template <class Sink>
void PutDepthStencil(ContextState3d& s, Sink& sink) {
  uint32_t& d = s.dirty.words[0];
  const uint32_t* w = s.depthStencilBlock;
  constexpr uint32_t depth = PacketHeader(0xB2, 0xB3, 0xB4), stencil = PacketHeader(0xB0, 0xB1);
  switch (d & (kCsDirtyDepth | kCsDirtyStencil)) {
    case kCsDirtyDepth | kCsDirtyStencil:
      PutPacket(sink, depth, w[4], w[5], w[6], stencil, w[2], w[3]);
      break;
    case kCsDirtyDepth:
      PutPacket(sink, depth, w[4], w[5], w[6]);
      break;
    case kCsDirtyStencil:
      PutPacket(sink, stencil, w[2], w[3]);
      break;
  }
  d &= ~(kCsDirtyDepth | kCsDirtyStencil);
}

template <class Sink>
void PutFog(ContextState3d& s, Sink& sink) {
  uint32_t& d = s.dirty.words[0];
  const uint32_t* fog = s.fogBlock;
  if ((d & kCsDirtyFog) != 0) {
    PutPacket(sink, PacketHeader(0xB5, 0xB6, 0xB7), fog[0], fog[1], fog[2]);
    // The table only goes out with the registers, and only for a fog mode
    // that reads it.
    if ((d & kCsDirtyFogTable) != 0 && (fog[0] & 1) != 0 && (fog[0] & 6) != 0) {
      if (uint32_t* at = sink.Take(81)) {
        at[0] = 79;
        for (uint32_t g = 0; g < 16; ++g) {
          at[1 + 5 * g] = 0xB8B8B8B8;
          memcpy(&at[2 + 5 * g], &fog[3 + 4 * g], 16);
        }
      }
    }
  }
  d &= ~(kCsDirtyFog | kCsDirtyFogTable);
}

template <class Sink>
void PutCoordinates(ContextState3d& s, Sink& sink) {
  uint32_t& d = s.dirty.words[0];
  const uint32_t* w = s.coordinateBlock;
  if ((d & kCsDirtyCoordA) != 0) PutPacket(sink, PacketHeader(0x00, 0x10, 0x2C), w[0], w[8], w[14]);
  if ((d & kCsDirtyCoordB) != 0) {
    PutPacket(sink, PacketHeader(0x01, 0x02, 0x03, 0x04), w[1], w[2], w[3], w[4],
              PacketHeader(0x05, 0x06, 0x07, 0x11), w[5], w[6], w[7], w[9], PacketHeader(0x12, 0x13, 0x18, 0x19),
              w[10], w[11], w[12], w[13]);
  }
  if ((d & kCsDirtyCoordC) != 0) PutPacket(sink, PacketHeader(0x2D, 0x2E), w[15], w[16]);
  d &= ~(kCsDirtyCoordA | kCsDirtyCoordB | kCsDirtyCoordC);
}

// The operation block's groups, as many as are dirty, in one packet.
template <class Sink>
void PutOperationGroups(ContextState3d& s, Sink& sink) {
  uint32_t& d = s.dirty.words[0];
  const uint32_t* w = s.operationBlock;
  const uint32_t bits = d & 0xFF;
  if (bits == 0) return;
  // Straight at the cursor when the room is known; else built aside and
  // copied in one reservation.
  uint32_t aside[kOperationGroupWords];
  uint32_t* p = aside;
  if constexpr (std::is_same_v<Sink, DirectSink>) p = sink.at + 1;
  uint32_t n = 0;
  auto put = [&](uint32_t header, auto... values) {
    p[n++] = header;
    ((p[n++] = values), ...);
  };
  if ((bits & kCsDirtySurfacesA) != 0) put(PacketHeader(0x88, 0x89, 0x8C, 0x8D), w[10], w[14], w[12], w[16]);
  if ((bits & kCsDirtySurfacesB) != 0) put(PacketHeader(0x8A, 0x8B), w[11], w[15]);
  if ((bits & kCsDirtySurfacesC) != 0) put(PacketHeader(0x8E, 0x8F), w[13], w[17]);
  if ((bits & kCsDirtyColours) != 0) put(PacketHeader(0xC5, 0xC6), w[kOpForeground], w[kOpBackground]);
  if ((bits & kCsDirtyPlacement) != 0) put(PacketHeader(0xC1, 0xC2, 0xC3), w[kOpStart], w[kOpOrigin], w[kOpSize]);
  if ((bits & kCsDirtyPlaneMask) != 0) put(PacketHeader(0xC9), w[kOpPlaneMask]);
  if ((bits & kCsDirtyControlWord) != 0) put(PacketHeader(0xC0), s.controlWord);
  EngineOwner3d* owner = s.owner;
  if ((bits & kCsDirtySync) != 0 && owner != nullptr && owner->common != nullptr &&
      owner->common->sharedLocked != nullptr) {
    // The synchronisation group reaches a fresh tag of the board's counter;
    // 0xC0 ends with the state's control word.
    const uint32_t tag = TakeNextTag(owner->common->sharedLocked);
    put(PacketHeader(0xC0, 0xAF, 0xAF, 0xAC), s.controlWord, tag, tag | 1, w[kOpTagWord]);
  }
  if constexpr (std::is_same_v<Sink, DirectSink>) {
    if (n != 0) {
      sink.at[0] = n - 1;
      sink.at += n + 1;
    }
  } else {
    PutWords(sink, aside, n);
  }
  d &= ~0xFFu;
}

}  // namespace

void ContextState3d::EmitRaster(BmBufferPool* stream) {
  StreamSink sink{stream};
  PutRaster(*this, sink);
}

void ContextState3d::EmitDepthStencil(BmBufferPool* stream) {
  StreamSink sink{stream};
  PutDepthStencil(*this, sink);
}

void ContextState3d::EmitFog(BmBufferPool* stream) {
  StreamSink sink{stream};
  PutFog(*this, sink);
}

void ContextState3d::EmitCoordinates(BmBufferPool* stream) {
  StreamSink sink{stream};
  PutCoordinates(*this, sink);
}

void ContextState3d::EmitOperationGroups(BmBufferPool* stream) {
  StreamSink sink{stream};
  PutOperationGroups(*this, sink);
}

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
    GroupPacket p;
    const bool first = owner->firstUse != 0;
    if (first) {
      p.G({0x00, 0x10, 0x2C}, {0, 4, 0x2305C});
      owner->firstUse = 0;
    } else {
      p.G({0x00, 0x10}, {0, 4});
    }
    p.WriteTo(stream);
    GroupPacket q;
    q.G({0x2D, 0x2E}, {0, 0x83C00000});
    q.WriteTo(stream);
    owner->resync = 0;
    d |= kCsDirtyCoordA | kCsDirtyCoordC;
    if (constants && first) d |= kCsDirtyPrimitiveType;
  }
  const uint32_t start = builder->MakeResident(u.program, true, 8, owner->common);
  if (start == 0 && builder->LastPlacementFailed()) return;
  const uint32_t engine = vertexEngine.engineWord;
  {
    GroupPacket p;
    // The start register's data word carries no value: 0.
    if (slot == 3) {
      p.G({0x4C, 0xDD, 0x3C, 0x3C}, {engine | 0x7000000, 0, kFenceWord, kFenceWord}).G({0x40}, {start});
    } else {
      p.G({0xDD, 0x3C, 0x3C, 0x40}, {0, kFenceWord, kFenceWord, start});
    }
    p.WriteTo(stream);
  }
  if (builder->memoryChanged != 0) {
    GroupPacket p;
    p.G({0x3C}, {kFencePendingWord});
    p.WriteTo(stream);
    builder->memoryChanged = 0;
  }
  if (!constants) {
    const uint32_t n = u.count;
    if (uint32_t* at = stream->Reserve(n + 1)) {
      at[0] = kUploadCommand | ((n - 1) & 0xFFFF) | ((((n / 4) - 1) << 17) & 0x7E0000);
      memcpy(at + 1, u.words, 4u * n);
    }
  } else if (constShadow != nullptr && constShadow->dirtySummary != 0) {
    // What went out counts as loaded and sent, so it goes out once.
    if (constShadow->CopyDirty(stream)) constShadow->FoldSent();
  }
  if (builder->slotMode != 0) static_cast<BmSecondaryInt*>(stream)->ExecutePending();
  d |= kCsDirtyProgramFence;
  if (slot == 3) {
    GroupPacket p;
    p.G({0xDD, 0x3C, 0x3C, 0x4C}, {0, kFenceWord, kFenceWord, engine});
    p.WriteTo(stream);
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
  VertexEngineBlock& v = vertexEngine;
  const bool agrees = (v.flags & kVeFlagEngineCapable) != 0;
  if (v.rangeFlag != 0) {
    if (agrees && v.rangeCount != 0) {
      const uint32_t last = (v.rangeCount < kVeRangeImages ? v.rangeCount : kVeRangeImages) - 1;
      CopyImage(stream, v.headerImage, kVeHeaderImageWords);
      CopyImage(stream, v.rangeImages[last], kVeRangeImageWords - 1);
    }
    v.rangeFlag = 0;
  }
  if (v.dirtyR1 != 0 || v.dirtyR2 != 0) {
    if (agrees) {
      const uint32_t s = v.bindingSelectors[0] | v.bindingSelectors[1] | v.bindingSelectors[2];
      if (s != 0) CopyImage(stream, v.headerImage, kVeHeaderImageWords);
      for (uint32_t i = 0; i < 3; ++i)
        if (v.bindingSelectors[i] != 0) CopyImage(stream, v.bindingImages[i], kVeBindingImageWords);
    }
    v.dirtyR1 = v.dirtyR2 = 0;
  }
  uint32_t& d = dirty.words[0];
  if ((d & kCsDirtyFence) != 0) {
    if (v.fenceCount != 0) {
      const uint32_t last = (v.fenceCount < kVeRangeImages ? v.fenceCount : kVeRangeImages) - 1;
      CopyImage(stream, v.headerImage, kVeHeaderImageWords);
      CopyImage(stream, v.fenceImages[last], kVeRangeImageWords - 1);
    }
    d &= ~kCsDirtyFence;
  }
}

void ContextState3d::Emit(BmBufferPool* stream) {
  if (stream == nullptr) return;
  const bool capable = owner != nullptr && owner->Capable();
  WriteBounded(stream, kFrontWords, [this](auto& sink) {
    PutRaster(*this, sink);
    PutDepthStencil(*this, sink);
    PutFog(*this, sink);
  });
  EmitVertexUploads(stream);
  WriteBounded(stream, kBackWords, [this, capable](auto& sink) {
    PutCoordinates(*this, sink);
    PutOperationGroups(*this, sink);
    textureUnits.EmitTo(sink, capable, true);
  });
  EmitVertexWriters(stream);
}
