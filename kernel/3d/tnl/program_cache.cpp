// The program cache: built programs are found again by key in the lists of
// the context that built them, built on a miss, and evicted oldest first
// when a list grows past its limit.
#include <string.h>

#include "core/same_bytes.h"
#include "kernel/3d/tnl/vertex_program_builder.h"

namespace {

constexpr uint32_t Bit(uint32_t value, unsigned bit) { return value >> bit & 1; }

constexpr uint32_t kKinds = 7;
constexpr uint32_t kModes = 6;

// Rows of [kind][stored mode][current mode]; the row of stored mode 2 and
// the row of every other stored mode.
struct MaskRows {
  uint32_t others[kModes];
  uint32_t mode2[kModes];
};
constexpr MaskRows kKindRows[6] = {
    // kind 0
    {{0xFF0019E3, 0xFF0019E3, 0xFF0099E3, 0xFF0019E3, 0xFF0019E3, 0xFF0019E3},
     {0xFF0019E3, 0xFF0019E3, 0xFF0098E3, 0xFF0019E3, 0xFF0019E3, 0xFF0019E3}},
    // kind 1
    {{0xFF000100, 0xFF000100, 0xFF000100, 0xFF000100, 0xFF000100, 0xFF000100},
     {0xFF000100, 0xFF000100, 0xFF000100, 0xFF000100, 0xFF000100, 0xFF000100}},
    // kinds 2, 3
    {{0xFF001903, 0xFF001903, 0xFF00811F, 0xFF001903, 0xFF001903, 0xFF001903},
     {0xFF00011F, 0xFF00011F, 0xFF008503, 0xFF00011F, 0xFF00011F, 0xFF00011F}},
    {{0xFF001903, 0xFF001903, 0xFF00811F, 0xFF001903, 0xFF001903, 0xFF001903},
     {0xFF00011F, 0xFF00011F, 0xFF008503, 0xFF00011F, 0xFF00011F, 0xFF00011F}},
    // kinds 4, 5
    {{0xFF001900, 0xFF001900, 0xFF00811C, 0xFF001900, 0xFF001900, 0xFF001900},
     {0xFF001900, 0xFF001900, 0xFF008500, 0xFF001900, 0xFF001900, 0xFF001900}},
    {{0xFF001900, 0xFF001900, 0xFF00811C, 0xFF001900, 0xFF001900, 0xFF001900},
     {0xFF001900, 0xFF001900, 0xFF008500, 0xFF001900, 0xFF001900, 0xFF001900}},
};
// Kind 6 has a row per stored mode.
constexpr uint32_t kKind6Rows[kModes][kModes] = {
    {0xFF001BE3, 0xFF0003E3, 0xFF0083FF, 0xFF0003E3, 0xFF0003E3, 0xFF0003E3},
    {0xFF0003FF, 0xFF001BFF, 0xFF0083FF, 0xFF0003FF, 0xFF0003FF, 0xFF0003FF},
    {0xFF0003FF, 0xFF0003FF, 0xFF0083FF, 0xFF0003FF, 0xFF0003FF, 0xFF0003FF},
    {0xFF0003E3, 0xFF0003E3, 0xFF0083FF, 0xFF001BE3, 0xFF0003E3, 0xFF001BE3},
    {0xFF0003E3, 0xFF0003E3, 0xFF0083FF, 0xFF0003E3, 0xFF001BE3, 0xFF0003E3},
    {0xFF0003E3, 0xFF0003E3, 0xFF0083FF, 0xFF001BE3, 0xFF0003E3, 0xFF001BE3},
};

// The key masks by [kind][stored mode][current mode], spread out of the
// rows above.
struct ProgramKeyMaskTable {
  uint32_t masks[kKinds][kModes][kModes] = {};
  constexpr ProgramKeyMaskTable() {
    for (uint32_t stored = 0; stored < kModes; ++stored) {
      for (uint32_t current = 0; current < kModes; ++current) {
        for (uint32_t kind = 0; kind + 1 < kKinds; ++kind)
          masks[kind][stored][current] = stored == 2 ? kKindRows[kind].mode2[current] : kKindRows[kind].others[current];
        masks[6][stored][current] = kKind6Rows[stored][current];
      }
    }
  }
};
static_assert(sizeof(ProgramKeyMaskTable) == 252 * 4);
constexpr ProgramKeyMaskTable kProgramKeyMasks;

constexpr uint32_t ModeOf(uint32_t word) { return word >> kTnlClassShift & kTnlClassMask; }

// Modes 3 and 5 count alike for fragment 79.
constexpr uint8_t kPolygonClass[kModes] = {0, 0, 0, 1, 0, 1};
uint32_t PolygonClass(uint32_t mode) { return mode < kModes ? kPolygonClass[mode] : 0; }

bool SameElements(const FixedFunctionKey& k, const TnlProgramInputs& render, const TnlStateKey& tnl) {
  const uint32_t n = render.Elements();
  if (k.elementCount != n) return false;
  for (uint32_t i = 0; i < n; ++i) {
    if (k.elementFirstWords[i] != render.elements[i].firstWord) return false;
    if (tnl.ModePair() == 2 && k.elementWords[i] != render.elementWords[i]) return false;
  }
  return true;
}

}  // namespace

TnlStateKey::TnlStateKey() {
  memset(keyDirty, 0, sizeof keyDirty);
  flags4 = 128;
  flags5 = 1;
  flags6 = 2;
  modeClassClip = 1;
  coordGeneration = 0;
  previousClass = blendCount = previousBlendCount = 0;
  spotLights = pointLights = directionalLights = 0;
  lightLayout = 0;
  memset(colourSources, 0, sizeof colourSources);
  pointLineMode = 0;
  for (TnlCoordEntry& c : coords) c = TnlCoordEntry{4, 0, 0};
  stageSummary[0] = stageSummary[1] = 0;
  coordGenerationCount = 0;
  memset(mainProgramKey, 0, sizeof mainProgramKey);
  primitiveKind = fillMode = 0;
}

uint32_t ProgramKeyMask(uint32_t kind, uint32_t storedMode, uint32_t currentMode) {
  if (kind >= kKinds || storedMode >= kModes || currentMode >= kModes) return 0;
  return kProgramKeyMasks.masks[kind][storedMode][currentMode];
}

uint32_t ProgramStateWord(const TnlProgramInputs& render, const TnlStateKey& tnl) {
  const uint32_t byte1 = Bit(tnl.coordGeneration, 0) | Bit(tnl.flags4, 2) << 1 | Bit(render.firstFlags, 1) << 2 |
                         (render.secondFlags >> 4 & 3) << 3 | (render.selector & 3u) << 5 |
                         (render.pointSize >= 2.0f ? 1u : 0u) << 7;
  const uint32_t byte2 = Bit(tnl.flags6, 4) | Bit(tnl.flags6, 5) << 1 | (render.elementCount & 3) << 2;
  return uint32_t{tnl.modeClassClip} | byte1 << 8 | byte2 << 16;
}

void VertexProgram::SetKey(uint32_t kind, const TnlProgramInputs& render, const TnlStateKey& tnl) {
  const uint32_t word = ProgramStateWord(render, tnl) | (kind & 0xFF) << 24;
  for (int b = 0; b < 4; ++b) key[b] = static_cast<uint8_t>(word >> (8 * b));
}

uint32_t VertexProgram::Key() const {
  return uint32_t{key[0]} | uint32_t{key[1]} << 8 | uint32_t{key[2]} << 16 | uint32_t{key[3]} << 24;
}

bool ProgramKeyMatches(const VertexProgram* program, uint32_t stateWord, uint32_t kind,
                       const TnlProgramInputs& render, const TnlStateKey& tnl) {
  const uint32_t key = program->Key();
  const uint32_t stored = ModeOf(key);
  const uint32_t current = ModeOf(stateWord);
  if (kind >= kKinds || stored >= kModes || current >= kModes) return false;
  // The key under the mask of the kind and the two modes, the kind in the
  // state word's top byte.
  const uint32_t mask = ProgramKeyMask(kind, stored, current);
  stateWord = (stateWord & 0x00FFFFFF) | kind << 24;
  if ((key & mask) != (stateWord & mask)) return false;
  const uint32_t byte1 = key >> 8 & 0xFF;
  const uint32_t byte2 = key >> 16 & 0xFF;
  switch (kind) {
    case 2:
    case 3:
    case 6:
      // Unless bits 3 and 4 of the second key byte are both set, the
      // selector in its bits 5-6 must be the same.
      if (Bit(byte1, 3) && Bit(byte1, 4)) return true;
      return (byte1 >> 5 & 3) == (render.selector & 3u);
    case 0:
      // Lines: stipple, and while stippled kind 2 and the element count.
      // The count is compared whole: the two bits the key keeps cannot
      // tell 1 from 5 elements, whose programs differ.
      if (current != 2) return true;
      if (Bit(byte2, 0) != Bit(tnl.flags6, 4)) return false;
      if (!Bit(tnl.flags6, 4)) return true;
      return Bit(byte2, 1) == Bit(tnl.flags6, 5) && (byte2 >> 2 & 3) == render.elementCount;
    default:
      // Kinds 1, 4 and 5: the masked key alone.
      return true;
  }
}

void VertexProgram::SetFixedFunctionKey(const TnlProgramInputs& render, const TnlStateKey& tnl) {
  FixedFunctionKey& k = ffKey;
  k = FixedFunctionKey{};
  k.modePair = tnl.ModePair();
  k.transformWord = tnl.blendCount;
  k.vpMode = tnl.Class();
  k.flagWord = tnl.FlagWord();
  k.modeWord = tnl.pointLineMode;
  k.selectorWord = render.selectorWord;
  k.lightMask = render.lightMask;
  k.count = tnl.ClipCount();
  k.lightCounts[0] = tnl.spotLights;
  k.lightCounts[1] = tnl.pointLights;
  k.lightCounts[2] = tnl.directionalLights;
  k.lightWord = tnl.lightLayout;
  for (int i = 0; i < 3; ++i) k.indexWords[i] = render.indexWords[i];
  memcpy(k.colourSources, tnl.colourSources, sizeof k.colourSources);
  k.elementCount = render.Elements();
  for (uint32_t i = 0; i < k.elementCount; ++i) {
    k.elementFirstWords[i] = render.elements[i].firstWord;
    k.elementWords[i] = render.elementWords[i];
  }
  k.selector = render.selector & 3u;
  k.aux = render.aux;
  k.firstFlags = render.firstFlags;
  k.nextFlags = render.nextFlags;
  k.afterNextFlags = render.afterNextFlags;
  k.elementFlags = render.elementFlags;
  k.furtherWord = render.furtherWord;
}

bool VertexProgram::MatchesFixedFunctionKey(const TnlProgramInputs& render, const TnlStateKey& tnl) const {
  const FixedFunctionKey& k = ffKey;
  const uint32_t flags = tnl.FlagWord();
  const uint32_t mode = tnl.Class();
  const uint32_t first = render.firstFlags;
  const uint32_t elementFlags = render.elementFlags;
  // Pre-transformed vertices.
  if (tnl.blendCount == 0) {
    if (k.transformWord != 0 || render.aux.second != k.aux.second ||
        Bit(elementFlags, 2) != Bit(k.elementFlags, 2) || (flags & 0x9) != (k.flagWord & 0x9))
      return false;
    if (mode == 4 || k.vpMode == 4 || Bit(k.flagWord, 3)) {
      if (mode != k.vpMode || Bit(flags, 6) != Bit(k.flagWord, 6)) return false;
    }
    // The texture part and the polygon-offset fragment are built without a
    // transform too: their inputs must agree as well.
    if (Bit(flags, 2) != Bit(k.flagWord, 2) || (Bit(flags, 2) && tnl.pointLineMode != k.modeWord)) return false;
    if (((elementFlags ^ k.elementFlags) & 0x18) != 0 || !SameElements(k, render, tnl)) return false;
    return true;
  }
  // Transformed vertices: the flags, the element flags' bit 2, the
  // auxiliary bytes, lighting, the clip planes and the blend count.
  if ((flags & 0x90A) != (k.flagWord & 0x90A) || Bit(elementFlags, 2) != Bit(k.elementFlags, 2) ||
      render.aux.second != k.aux.second || Bit(first, 3) != Bit(k.firstFlags, 3) ||
      Bit(first, 4) != Bit(k.firstFlags, 4) || render.aux.first != k.aux.first || tnl.ClipCount() != k.count ||
      tnl.blendCount != k.transformWord)
    return false;
  // The second auxiliary byte's form follows the mode pair.
  if (render.aux.second && (tnl.ModePair() == 2) != (k.modePair == 2)) return false;
  // Positional lighting may differ only where lit vertices read the
  // further flags.
  if (Bit(flags, 7) != Bit(k.flagWord, 7)) {
    if (!Bit(first, 3) || ((render.nextFlags & 0xC0) == 0 && (render.afterNextFlags & 3) == 0)) return false;
  }
  // The first auxiliary byte's mode, third byte and flag.
  if (render.aux.first &&
      (render.aux.mode != k.aux.mode || render.aux.third != k.aux.third || render.aux.flag != k.aux.flag))
    return false;
  // Indexed blending's layout flags.
  if (tnl.blendCount == 5 && (flags & 0x600) != (k.flagWord & 0x600)) return false;
  // With lighting: the light counts and the words the light steps read.
  if (Bit(first, 3)) {
    if (tnl.spotLights != k.lightCounts[0] || tnl.pointLights != k.lightCounts[1] ||
        tnl.directionalLights != k.lightCounts[2] || tnl.lightLayout != k.lightWord ||
        render.selectorWord != k.selectorWord || render.lightMask != k.lightMask ||
        !SameBytes(render.indexWords, k.indexWords, sizeof k.indexWords) ||
        Bit(first, 4) != Bit(k.firstFlags, 4) ||
        (Bit(first, 5) | Bit(render.nextFlags, 2)) != (Bit(k.firstFlags, 5) | Bit(k.nextFlags, 2)) ||
        Bit(render.furtherWord, 0) != Bit(k.furtherWord, 0) || (flags & 0xF000) != (k.flagWord & 0xF000))
      return false;
    for (int w = 0; w < 8; w += 2)
      if (tnl.colourSources[w] != k.colourSources[w]) return false;
    if (tnl.ModePair() != 2)
      for (int w = 1; w < 8; w += 2)
        if (tnl.colourSources[w] != k.colourSources[w]) return false;
  }
  // Points.
  if (mode == 4 || k.vpMode == 4) {
    if (mode != k.vpMode || Bit(render.nextFlags, 1) != Bit(k.nextFlags, 1) || Bit(flags, 6) != Bit(k.flagWord, 6))
      return false;
  }
  // Polygon offset and its mode.
  if (Bit(flags, 2) || Bit(k.flagWord, 2)) {
    if (Bit(flags, 2) != Bit(k.flagWord, 2) || tnl.pointLineMode != k.modeWord) return false;
  }
  // A projected last element, and whether both draw polygons.
  if (!Bit(k.flagWord, 3) && k.vpMode != 4) {
    if (Bit(flags, 4) != Bit(k.flagWord, 4)) return false;
    if (Bit(flags, 4) && PolygonClass(k.vpMode) != PolygonClass(mode)) return false;
  }
  // The stage operation class and the elements.
  if ((flags & 0xC0000) != (k.flagWord & 0xC0000) || ((elementFlags ^ k.elementFlags) & 0x18) != 0 ||
      !SameElements(k, render, tnl))
    return false;
  // Lines: stipple, and while stippled kind 2.
  if (mode == 2) {
    if (Bit(tnl.flags6, 4) != Bit(k.flagWord, 20)) return false;
    if (Bit(tnl.flags6, 4) && Bit(tnl.flags6, 5) != Bit(k.flagWord, 21)) return false;
  }
  return true;
}

// ---- Lookups -------------------------------------------------------------------------------

VertexProgram* VertexProgramBuilder::FindCachedProgram(uint32_t stateWord, uint32_t kind,
                                                       const TnlProgramInputs& render, const TnlStateKey& tnl,
                                                       VertexProgramList* list) const {
  for (VertexProgramNode* n = list->Head(); n != nullptr; n = list->Next(n))
    if (ProgramKeyMatches(n->program, stateWord, kind, render, tnl)) return n->program;
  return nullptr;
}

void VertexProgramBuilder::EvictProgram(VertexProgramList* list, const RecentPrograms* exclusions) {
  for (VertexProgramNode* n = list->Head(); n != nullptr; n = list->Next(n)) {
    VertexProgram* p = n->program;
    bool excluded = false;
    if (exclusions != nullptr)
      for (VertexProgram* r : exclusions->programs) excluded = excluded || r == p;
    if (excluded || p->resident || p->permanent || !p->reclaimable || p->inBatch || p->references != 0 ||
        !TagPassed(p->tag))
      continue;
    list->Unlink(n);
    delete n;
    DetachProgram(p, nullptr);
    delete p;
    return;
  }
}

namespace {

VertexProgram* BuildKeyed(VertexProgramBuilder* builder, uint32_t kind, const TnlProgramInputs& render,
                          const TnlStateKey& tnl, VertexProgramList* list) {
  // A new program under the state's key, room made past the list's limit,
  // then the program assembled, linked and kept.
  VertexProgram* program = new VertexProgram;
  if (program == nullptr) return nullptr;
  program->SetKey(kind, render, tnl);
  if (list->Count() > kProgramListLimit) builder->EvictProgram(list, nullptr);
  builder->ResetAssembly();
  uint32_t entry = 0;
  const bool assembled = kind == 0 ? builder->AssembleKind0Program(render, tnl)
                                   : builder->AssembleKindProgram(kind, render, tnl, program, &entry);
  if (!assembled || !builder->LinkInto(program) || !list->Append(program)) {
    delete program;
    return nullptr;
  }
  if (kind < kProgramEntries) program->entryOffsets[kind] = entry;
  return program;
}

}  // namespace

VertexProgram* FindOrBuildVertexProgram(VertexProgramBuilder* builder, uint32_t stateWord, uint32_t kind,
                                        const TnlProgramInputs& render, const TnlStateKey& tnl,
                                        VertexProgramList* list) {
  if (kind != 0) return nullptr;
  if (VertexProgram* hit = builder->FindCachedProgram(stateWord, 0, render, tnl, list)) return hit;
  return BuildKeyed(builder, 0, render, tnl, list);
}

VertexProgram* FindOrBuildKindProgram(VertexProgramBuilder* builder, uint32_t stateWord, uint32_t kind,
                                      const TnlProgramInputs& render, const TnlStateKey& tnl,
                                      VertexProgramList* list) {
  if (kind < 2 || kind > 6) return nullptr;
  if (VertexProgram* hit = builder->FindCachedProgram(stateWord, kind, render, tnl, list)) {
    if (kind == 6) hit->SetLoadPending(1);
    return hit;
  }
  return BuildKeyed(builder, kind, render, tnl, list);
}

VertexProgram* FindOrBuildFixedFunctionProgram(VertexProgramBuilder* builder, VertexProgramList* list,
                                               RecentPrograms* recent, const TnlProgramInputs& render,
                                               const TnlStateKey& tnl) {
  // The recent programs first, then the list (a hit there becomes recent),
  // then a new build.
  for (VertexProgram* p : recent->programs)
    if (p != nullptr && p->MatchesFixedFunctionKey(render, tnl)) return p;
  for (VertexProgramNode* n = list->Head(); n != nullptr; n = list->Next(n)) {
    if (!n->program->MatchesFixedFunctionKey(render, tnl)) continue;
    recent->index = (recent->index + 1) % kRecentPrograms;
    recent->programs[recent->index] = n->program;
    return n->program;
  }
  builder->ResetAssembly();
  VertexProgram* program = builder->SelectFixedFunctionFragments(tnl, render);
  if (program == nullptr) return nullptr;
  if (!builder->LinkInto(program)) {
    delete program;
    return nullptr;
  }
  // Room made past the list's limit (the recent programs stay), then the
  // program is kept and made recent.
  if (list->Count() > kProgramListLimit) builder->EvictProgram(list, recent);
  if (!list->Append(program)) {
    delete program;
    return nullptr;
  }
  recent->index = (recent->index + 1) % kRecentPrograms;
  recent->programs[recent->index] = program;
  return program;
}
