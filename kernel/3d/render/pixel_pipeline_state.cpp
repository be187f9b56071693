// The pixel-pipeline state record: its reset values and the two ways a
// program's copy catches up with the live record.
#include "kernel/3d/render/pixel_pipeline_state.h"

#include <string.h>

#include "core/same_bytes.h"
#include "core/utils.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/surface3d.h"

namespace {

uint32_t SamplingWord(const PipelineStageEntry& e) {
  uint32_t w;
  memcpy(&w, e.sampling, 4);
  return w;
}

uint32_t Bounded(uint32_t count) { return count < kPipelineEntries ? count : kPipelineEntries; }

// An entry's reset values (its dirty word and the kept sampling bits
// aside): copied whole, which is cheaper than clearing and filling.
constexpr PipelineStageEntry kResetEntry = {
    0,                              // dirty
    0xFFFFFFFF,                     // compareMask
    1,                              // textureA
    0,                              // textureB
    {0x20, 0x49, 2, 0},             // sampling
    0,                              // border
    0,                              // lodBias
    0,                              // maxMipLevel
    1000,                           // lodLevels
    {-1000.0f, 1000.0f},            // lodRange
    1,                              // colourOp
    {},                             // colourArgs
    1,                              // alphaOp
    {},                             // alphaArgs
    1,                              // resultArg
    {},                             // textureFactor
    {1.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f},  // bumpEnvironment
    0,                              // transformFlags
    {},                             // enables
    {},                             // tail
};

// The whole record's reset values (entries without their kept parts).
constexpr PixelPipelineState MakeResetState() {
  PixelPipelineState s{};
  s.compareMask = 0xFFFFFFFF;
  s.constantMask = 0xFFFFFFFF;
  s.stageDirtyMask = 0xFFFFFFFF;
  for (PipelineStageEntry& e : s.entries) e = kResetEntry;
  s.stageMask = 0x1FFFF;
  s.mask = 0xFFFFFF;
  return s;
}
constinit const PixelPipelineState kResetState = MakeResetState();

}  // namespace

void PixelPipelineState::ResetStage(PipelineStageEntry& e) {
  // Everything the table does not name is cleared; byte 16 keeps bits 3-4
  // (coordinate generation) and byte 19 bits 4-7.
  const uint8_t keep16 = e.sampling[0] & 0x18;
  const uint8_t keep19 = e.sampling[3] & 0xF0;
  const uint32_t dirty = e.dirty;
  e = kResetEntry;
  e.dirty = dirty;
  e.sampling[0] = static_cast<uint8_t>(0x20 | keep16);
  e.sampling[3] = keep19;
}

void PixelPipelineState::Reset(RenderContext3d* context) {
  // One copy of the reset record, then what the reset keeps: the
  // description and each entry's dirty word and kept sampling bits.
  const PipelineRecord* const kept = description;
  uint32_t entryDirty[kPipelineEntries];
  uint8_t keep16[kPipelineEntries];
  uint8_t keep19[kPipelineEntries];
  for (uint32_t i = 0; i < kPipelineEntries; ++i) {
    entryDirty[i] = entries[i].dirty;
    keep16[i] = entries[i].sampling[0] & 0x18;
    keep19[i] = entries[i].sampling[3] & 0xF0;
  }
  memcpy(static_cast<void*>(this), &kResetState, sizeof *this);
  description = kept;
  for (uint32_t i = 0; i < kPipelineEntries; ++i) {
    entries[i].dirty = entryDirty[i];
    entries[i].sampling[0] = static_cast<uint8_t>(0x20 | keep16[i]);
    entries[i].sampling[3] = keep19[i];
  }
  if (context != nullptr) {
    for (uint32_t i = 0; i < 2; ++i) {
      Surface3d* surface = context->aux.selected[i];
      entries[kPipelineAuxFirst + i].textureA = 0;
      entries[kPipelineAuxFirst + i].textureB = surface != nullptr ? Surface3dResourceHandle(surface) : 0;
    }
  }
}

uint32_t PixelPipelineState::FirstLinkedNow() const {
  return firstLinked != nullptr ? firstLinked[5] : firstLinkedValue;
}

uint32_t PixelPipelineState::SecondLinkedNow() const {
  return secondLinked != nullptr ? secondLinked[4] : secondLinkedValue;
}

void PixelPipelineState::CopyFrom(const PixelPipelineState& live) {
  if (&live != this) memcpy(static_cast<void*>(this), &live, sizeof *this);
  firstLinkedValue = FirstLinkedNow();
  secondLinkedValue = SecondLinkedNow();
}

void TakeChanges(PixelPipelineState& copy, const PixelPipelineState& live, uint32_t count) {
  copy.dirty = 0;
  copy.dirtyConstants = 0;
  for (uint32_t i = 0, n = Bounded(count); i < n; ++i) {
    PipelineStageEntry& c = copy.entries[i];
    const PipelineStageEntry& l = live.entries[i];
    const uint32_t selected = c.compareMask;
    uint32_t d = 0;
    if ((selected & kPeTextureGroup) != 0) {
      c.textureA = l.textureA;
      c.textureB = l.textureB;
      d |= kPeTexture;
      const uint32_t diff = SamplingWord(c) ^ SamplingWord(l);
      if ((diff & kSampleAddressU) != 0) d |= kPeTexture | kPeAddressU;
      if ((diff & (kSampleAddressV | kSampleCoordIndex)) != 0) d |= kPeAddressVOrCoord;
      if ((diff & kSampleFilterBits) != 0) d |= kPeFilters;
      if ((diff & (kSampleTexGen | kSampleAddressW)) != 0) d |= kPeTexGen;
      memcpy(c.sampling, l.sampling, 4);
      if (c.border != l.border) {
        c.border = l.border;
        d |= kPeBorder;
      }
      if (c.lodBias != l.lodBias || c.maxMipLevel != l.maxMipLevel) {
        c.lodBias = l.lodBias;
        c.maxMipLevel = l.maxMipLevel;
        d |= kPeLod;
      }
    }
    if ((selected & kPeMatrixGroup) != 0) {
      if (!SameBytes(c.textureFactor, l.textureFactor, sizeof c.textureFactor)) {
        memcpy(c.textureFactor, l.textureFactor, sizeof c.textureFactor);
        d |= kPeTextureFactor;
      }
      if (!SameBytes(c.bumpEnvironment, l.bumpEnvironment, sizeof c.bumpEnvironment)) {
        memcpy(c.bumpEnvironment, l.bumpEnvironment, sizeof c.bumpEnvironment);
        d |= kPeBumpEnvironment;
      }
    }
    if ((selected & kPeLodGroup) != 0) {
      // The transform flags are taken too, so that one change is reported
      // once.
      if (c.transformFlags != l.transformFlags) {
        c.transformFlags = l.transformFlags;
        d |= kPeTexGen;
      }
      if (!SameBytes(&c.lodLevels, &l.lodLevels, 12)) {
        memcpy(&c.lodLevels, &l.lodLevels, 12);
        d |= kPeLod;
      }
      if (c.enables[0] != l.enables[0] || c.enables[1] != l.enables[1]) {
        c.enables[0] = l.enables[0];
        c.enables[1] = l.enables[1];
        d |= kPeEnables;
      }
    }
    c.dirty = d;
    copy.stageDirty |= d;
  }

  const uint32_t optionDiff = copy.options ^ live.options;
  if ((optionDiff & kPpsOptionMode) != 0) copy.dirty |= kPpsOptionBit0;
  if ((optionDiff & kPpsOptionPair) != 0) copy.dirty |= kPpsOptionBits12;
  if ((optionDiff & kPpsOptionWide) != 0) copy.dirty |= kPpsOptionField;
  copy.options = live.options;

  const uint32_t compare = copy.compareMask;
  if ((compare & kPpsStageMask) != 0 && copy.stageMask != live.stageMask) {
    copy.stageMask = live.stageMask;
    copy.dirty |= kPpsStageMask;
  }
  if ((compare & kPpsConstantBlock) != 0 &&
      !SameBytes(copy.constants, live.constants, 16 * kPipelineBlockConstants)) {
    memcpy(copy.constants, live.constants, 16 * kPipelineBlockConstants);
    copy.dirty |= kPpsConstantBlock;
    copy.dirtyConstants = 0xFFFFFFFF;
  }
  if ((compare & kPpsConstants) != 0) {
    // Only the slots the constant mask selects; when the block was taken
    // above, its slots are equal now.
    static_assert(kPipelineConstants < 32);
    uint32_t slots = copy.constantMask & ((1u << kPipelineConstants) - 1);
    if ((compare & kPpsConstantBlock) != 0) slots &= ~((1u << kPipelineBlockConstants) - 1);
    // Slots from the first selected one on that are all equal need no
    // look one by one.
    if (slots != 0) {
      const uint32_t first = static_cast<uint32_t>(__builtin_ctz(slots));
      if (SameBytes(copy.constants[first], live.constants[first], 16 * (kPipelineConstants - first))) slots = 0;
    }
    for (uint32_t m = slots; m != 0; m &= m - 1) {
      const uint32_t i = static_cast<uint32_t>(__builtin_ctz(m));
      if (SameBytes(copy.constants[i], live.constants[i], 16)) continue;
      memcpy(copy.constants[i], live.constants[i], 16);
      copy.dirtyConstants |= 1u << i;
      copy.dirty |= kPpsConstants;
    }
  }
  if ((compare & kPpsLinkedFirst) != 0) {
    const uint32_t now = live.FirstLinkedNow();
    if (copy.firstLinkedValue != now) {
      copy.firstLinkedValue = now;
      copy.dirty |= kPpsLinkedFirst;
    }
  }
  if ((compare & kPpsLinkedSecond) != 0) {
    const uint32_t now = live.SecondLinkedNow();
    if (copy.secondLinkedValue != now) {
      copy.secondLinkedValue = now;
      copy.dirty |= kPpsLinkedSecond;
    }
  }

  copy.dirty &= copy.compareMask;
  copy.stageDirty &= copy.stageDirtyMask;
  copy.dirty = copy.stageDirty != 0 ? copy.dirty | kPpsStages : copy.dirty & ~kPpsStages;
}

void TakeMarked(PixelPipelineState& copy, const PixelPipelineState& live, uint32_t count) {
  for (uint32_t i = 0, n = Bounded(count); i < n; ++i) {
    PipelineStageEntry& c = copy.entries[i];
    const PipelineStageEntry& l = live.entries[i];
    const uint32_t d = l.dirty;
    c.textureB = l.textureB;
    if ((d & kPeTexture) != 0) c.textureA = l.textureA;
    if ((d & (kPeAddressU | kPeAddressVOrCoord | kPeFilters | kPeTexGen)) != 0) memcpy(c.sampling, l.sampling, 4);
    if ((d & kPeBorder) != 0) c.border = l.border;
    if ((d & kPeLod) != 0) {
      c.lodBias = l.lodBias;
      c.maxMipLevel = l.maxMipLevel;
      memcpy(&c.lodLevels, &l.lodLevels, 12);
    }
    if ((d & kPeTextureFactor) != 0) memcpy(c.textureFactor, l.textureFactor, sizeof c.textureFactor);
    if ((d & kPeBumpEnvironment) != 0) memcpy(c.bumpEnvironment, l.bumpEnvironment, sizeof c.bumpEnvironment);
    if ((d & kPeTexGen) != 0) c.transformFlags = l.transformFlags;
    if ((d & kPeEnables) != 0) {
      c.enables[0] = l.enables[0];
      c.enables[1] = l.enables[1];
    }
    c.dirty = d;
  }
  const uint32_t dirty = live.dirty;
  if ((dirty & (kPpsOptionBit0 | kPpsOptionField | kPpsOptionBits12)) != 0) copy.options = live.options;
  if ((dirty & kPpsStageMask) != 0) copy.stageMask = live.stageMask;
  if ((dirty & kPpsConstantBlock) != 0) memcpy(copy.constants, live.constants, 16 * kPipelineBlockConstants);
  if ((dirty & kPpsConstants) != 0) {
    for (uint32_t i = 0; i < kPipelineConstants; ++i)
      if ((live.dirtyConstants >> i & 1) != 0) memcpy(copy.constants[i], live.constants[i], 16);
  }
  if ((dirty & kPpsLinkedFirst) != 0) copy.firstLinkedValue = live.FirstLinkedNow();
  if ((dirty & kPpsLinkedSecond) != 0) copy.secondLinkedValue = live.SecondLinkedNow();
  copy.dirty = live.dirty;
  copy.dirtyConstants = live.dirtyConstants;
  copy.stageDirty = live.stageDirty;
}

void ClearUnitRecord(uint8_t* record) {
  memset(record, 0, kUnitBindingBytes);
  record[kUnitBindingControl] |= kUnitBindingKind2;
}
