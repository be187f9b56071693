// Program assembly: the lists of fragments, patches and fix-ups a vertex
// program is made of, the padding to whole 32-instruction blocks, the
// programs of kinds 0 and 2-6, and the order in which fixed-function state
// selects fragments of the catalogue.
#include "core/os.h"
#include "kernel/3d/tnl/vertex_program_builder.h"

namespace {

constexpr uint32_t kBlockInstructions = 32;
constexpr uint32_t kCountedFirst = 191;
constexpr uint32_t kMaxLightsPerKind = 12;
constexpr uint32_t kElementWords = 5;
// Kind-24 values by an element's T&L word.
constexpr uint32_t kElementWordValues[kElementWords] = {0, 0x928, 0x948, 0xA88, 0x688};

constexpr uint32_t Bit(uint32_t value, unsigned bit) { return value >> bit & 1; }
constexpr uint32_t Min(uint32_t a, uint32_t b) { return a < b ? a : b; }

// The inputs the kind programs derive from the state.
struct KindInputs {
  uint32_t k5, a, s, m, base, c, t, count;
};

KindInputs DeriveKindInputs(uint32_t kind, const TnlProgramInputs& render, const TnlStateKey& tnl) {
  KindInputs in{};
  in.k5 = kind <= 2 ? 0 : Min(kind - 2, 4);
  in.a = tnl.ModePair() == 1 ? 0 : 1;
  in.s = render.selector == 2 ? 1 : render.selector == 3 ? 2 : 0;
  in.m = tnl.Class();
  in.base = in.m == 2 ? 0 : 2;
  in.c = 2;
  if (in.m == 2) {
    in.c = Bit(render.firstFlags, 1) ? 0 : 1;
  } else if (in.m == 1 || in.m == 3 || in.m == 4 || in.m == 5) {
    const uint32_t clip = render.secondFlags >> 4 & 3;
    if (clip == 1) in.c = 0;
    if (clip == 2) in.c = 1;
  }
  in.count = tnl.ClipCount();
  in.t = (render.thirdFlags & 0x7E) == 0 ? 0 : in.count < 5 ? 1 : 2;
  return in;
}

uint32_t FogPatchValue(uint32_t count) { return 1u << (count + 15); }

}  // namespace

// ---- Primitives ----------------------------------------------------------------------------

void VertexProgramBuilder::ResetAssembly() {
  fragments.erase(fragments.begin(), fragments.end());
  patches.erase(patches.begin(), patches.end());
  fixups.erase(fixups.begin(), fixups.end());
  assembledSize = 0;
  assemblyFailed_ = false;
}

bool VertexProgramBuilder::AppendFragment(uint32_t entry) {
  if (entry == 0 || entry >= kFragmentEntries) {
    assemblyFailed_ = true;
    return false;
  }
  if (!fragments.Insert(fragments.end(), 1, FragmentRef{entry, 0, 0})) {
    assemblyFailed_ = true;
    return false;
  }
  assembledSize += catalogue.directory[entry].size;
  return true;
}

bool VertexProgramBuilder::PrependFragment(uint32_t entry) {
  if (entry == 0 || entry >= kFragmentEntries ||
      !fragments.Insert(fragments.begin(), 1, FragmentRef{entry, 0, 0})) {
    assemblyFailed_ = true;
    return false;
  }
  assembledSize += catalogue.directory[entry].size;
  return true;
}

bool VertexProgramBuilder::AddPatchRecord(uint32_t kind, uint32_t value, uint32_t instruction) {
  if (fragments.empty()) return false;
  FragmentRef& last = fragments[fragments.size() - 1];
  // A record past its fragment would make the linker refuse the program:
  // it is not recorded.
  if (instruction >= catalogue.directory[last.entry].size / kInstructionBytes) {
    ++droppedRecords;
    return false;
  }
  if (!patches.Insert(patches.end(), 1, PatchRecord{instruction, kind, value})) {
    assemblyFailed_ = true;
    return false;
  }
  ++last.patchCount;
  return true;
}

bool VertexProgramBuilder::AddPackedPatchRecord(uint64_t instructionAndKind, uint32_t value) {
  return AddPatchRecord(static_cast<uint32_t>(instructionAndKind >> 32), value,
                        static_cast<uint32_t>(instructionAndKind));
}

bool VertexProgramBuilder::AddFixup(uint32_t instruction, uint32_t kind, uint32_t block) {
  if (fragments.empty()) return false;
  FragmentRef& last = fragments[fragments.size() - 1];
  if (instruction >= catalogue.directory[last.entry].size / kInstructionBytes) {
    ++droppedRecords;
    return false;
  }
  if (!fixups.Insert(fixups.end(), 1, FixupRecord{instruction, kind, block})) {
    assemblyFailed_ = true;
    return false;
  }
  ++last.fixupCount;
  return true;
}

uint32_t VertexProgramBuilder::PadFrontToBlock(uint32_t size) {
  const uint32_t k = (size / kInstructionBytes) % kBlockInstructions;
  if (k == 0) return 0;
  const uint32_t n = kBlockInstructions - k;
  if (!fragments.Insert(fragments.begin(), n, FragmentRef{kFragmentPadding, 0, 0})) {
    assemblyFailed_ = true;
    return 0;
  }
  assembledSize += n * catalogue.directory[kFragmentPadding].size;
  return n;
}

uint32_t VertexProgramBuilder::PadToBlock(uint32_t* counter, uint32_t extra) {
  const uint32_t k = (*counter + extra) % kBlockInstructions;
  if (k == 0) return 0;
  const uint32_t n = kBlockInstructions - k;
  for (uint32_t i = 0; i < n; ++i) AppendFragment(kFragmentPadding);
  *counter += n;
  return n;
}

uint32_t VertexProgramBuilder::PadAfterFragment(uint32_t entry) {
  if (entry >= kFragmentEntries) return 0;
  const uint32_t k = (catalogue.directory[entry].size / kInstructionBytes) % kBlockInstructions;
  if (k == 0) return 0;
  const uint32_t n = kBlockInstructions - k;
  for (uint32_t i = 0; i < n; ++i) AppendFragment(kFragmentPadding);
  return n;
}

uint32_t VertexProgramBuilder::PadProgramToBlock() {
  uint32_t bytes = 0;
  for (const FragmentRef& f : fragments) bytes += catalogue.directory[f.entry].size;
  const uint32_t k = (bytes / kInstructionBytes) % kBlockInstructions;
  if (k == 0) return 0;
  const uint32_t n = kBlockInstructions - k;
  for (uint32_t i = 0; i < n; ++i) AppendFragment(kFragmentPadding);
  return n;
}

void VertexProgramBuilder::ApplyPatchRecipe(const PatchRecipe& recipe, bool withValue, uint32_t value) {
  for (uint32_t r = 0; r < recipe.count; ++r) {
    const PatchRecipeRecord& rec = recipe.records[r];
    AddPatchRecord(rec.kind, withValue ? value : rec.value, rec.instruction);
  }
}

bool VertexProgramBuilder::AppendCountedFragment(const TnlStateKey&, const TnlProgramInputs& render) {
  const uint32_t n = Min(render.entryCount, kMaxCountedEntries);
  if (!AppendFragment(kCountedFirst + n)) return false;
  uint32_t k = 0;
  for (uint32_t e = 0; e < n; ++e) {
    const uint32_t selector = render.entrySelectors[e];
    if (selector == 0) continue;
    ApplyPatchRecipe(catalogue.countedA[k], true, selector & 15);
    ApplyPatchRecipe(catalogue.countedB[k], true, e + 3);
    ++k;
  }
  return !assemblyFailed_;
}

bool VertexProgramBuilder::LinkInto(VertexProgram* program) {
  if (assemblyFailed_ || assembledSize == 0) return false;
  auto* buffer = static_cast<uint8_t*>(memAlloc(assembledSize));
  if (buffer == nullptr) return false;
  const ProgramLists lists = {fragments.begin(), fragments.size(), patches.begin(),
                              patches.size(),    fixups.begin(),    fixups.size()};
  if (!LinkVertexProgram(lists, catalogue.directory, kFragmentEntries, buffer, assembledSize)) {
    ++refusedLinks;
    memFree(buffer);
    return false;
  }
  program->SetCode(buffer, assembledSize, true);
  return true;
}

// ---- Programs of kinds 2-6 -----------------------------------------------------------------

bool VertexProgramBuilder::AssembleKindProgram(uint32_t kind, const TnlProgramInputs& render,
                                               const TnlStateKey& tnl, VertexProgram* program, uint32_t* entry) {
  if (kind < 2 || kind > 6) return false;
  const KindInputs in = DeriveKindInputs(kind, render, tnl);
  const uint32_t main = catalogue.kind[in.t][in.s][in.a][in.base + in.c][in.k5];
  const bool counted = in.a == 1 && Bit(tnl.coordGeneration, 0);
  const bool flag2 = Bit(tnl.flags4, 2);
  *entry = 0;

  if (in.c == 2 && in.m != 2) {
    // The full transform path.
    if (kind <= 5) {
      AppendFragment(main);
      AppendFragment(315);
      AppendFragment(316);
      if (counted) AppendCountedFragment(tnl, render);
      const uint32_t before = assembledSize;
      AppendFragment(305);
      const uint32_t pad = PadFrontToBlock(before);
      const FragmentDirEntry& d = catalogue.directory[main];
      const uint32_t sub1 = d.entryPoints != nullptr && d.entryCount > 1 ? d.entryPoints[1] : 0;
      const uint32_t sub2 = d.entryPoints != nullptr && d.entryCount > 2 ? d.entryPoints[2] : 0;
      program->hasEntryTable = 1;
      program->entryOffsets[2] = program->entryOffsets[4] = pad + sub1;
      program->entryOffsets[3] = program->entryOffsets[5] = pad + sub2;
      *entry = program->entryOffsets[kind];
    } else {
      program->SetLoadPending(1);
      if (clipFragments) {
        AppendFragment(315);
        if (counted) AppendCountedFragment(tnl, render);
        AppendFragment(317);
        AppendFragment(318);
        AppendFragment(main);
        if (in.t > 0) {
          AddPatchRecord(35, FogPatchValue(in.count), 0);
          AppendFragment(310);
        }
        const uint32_t before = assembledSize;
        AppendFragment(flag2 ? 313 : 312);
        *entry = PadFrontToBlock(before);
      } else {
        AppendFragment(315);
        if (counted) AppendCountedFragment(tnl, render);
        AppendFragment(main);
        if (in.t > 0) {
          AddPatchRecord(35, FogPatchValue(in.count), 0);
          AppendFragment(in.t == 1 ? 308 : 309);
        }
        AppendFragment(311);
      }
    }
  } else if (flag2 && in.c != 0) {
    // Polygon offset without the full path: one fragment for kind 6,
    // none for kinds 2-5.
    if (kind <= 5) return false;
    static constexpr uint32_t kByS[3][3] = {{348, 349, 350}, {353, 354, 355}, {358, 359, 360}};
    static constexpr uint32_t kNotMode3[3] = {347, 352, 357};
    static constexpr uint32_t kFull[3] = {346, 351, 356};
    static constexpr uint32_t kClip[3] = {361, 362, 362};
    uint32_t f;
    if (tnl.pointLineMode != 3) {
      f = kNotMode3[in.t];
    } else if (in.c == 2) {
      f = kFull[in.t];
    } else if (clipFragments) {
      f = kClip[in.t];
    } else {
      f = kByS[in.t][in.s];
    }
    AppendFragment(f);
    if (clipFragments && (f == 361 || f == 362) && in.s >= 1) {
      AddPatchRecord(29, 1, f == 361 ? 203 : 280);
      if (in.s == 2) AddPatchRecord(29, 6, f == 361 ? 229 : 306);
    }
    if (in.t > 0) AddPatchRecord(35, FogPatchValue(in.count), 0);
  } else {
    // The main fragment, then for kinds 2-3 its second half.
    AppendFragment(main);
    if (kind == 6 && in.t > 0) AddPatchRecord(35, FogPatchValue(in.count), 0);
    if (in.k5 < 2 && (in.c != 0 || in.m == 2)) {
      PadAfterFragment(main);
      AppendFragment(catalogue.kind[in.t][in.s][in.a][in.base + in.c][4]);
      if (in.t > 0) AddPatchRecord(35, FogPatchValue(in.count), 0);
    }
  }
  return !assemblyFailed_;
}

// ---- Programs of kind 0 --------------------------------------------------------------------

bool VertexProgramBuilder::AssembleKind0Program(const TnlProgramInputs& render, const TnlStateKey& tnl) {
  const KindInputs in = DeriveKindInputs(0, render, tnl);
  const uint32_t n = render.Elements();
  const bool counted = render.elementCount != 1;
  const uint32_t value = n + 2;
  if (in.m != 2) {
    AppendFragment(catalogue.kind0[in.t][in.s][in.a]);
  } else if (Bit(tnl.flags6, 4)) {
    AppendFragment(339);
    uint32_t count = catalogue.directory[339].size / kInstructionBytes;
    if (counted) {
      AddPatchRecord(6, value, 31);
      AddPatchRecord(1, value, 43);
      AddPatchRecord(1, value, 44);
    }
    if (in.t > 0) {
      AppendFragment(340);
      count += catalogue.directory[340].size / kInstructionBytes;
    }
    PadToBlock(&count, 0);
    const bool bit6 = Bit(tnl.flags6, 6);
    AppendFragment(bit6 ? 341 : 342);
    if (Bit(tnl.flags6, 5)) AddPatchRecord(29, 1, 12);
    if (counted) {
      if (bit6) {
        AddPatchRecord(4, value, 412);
        AddPatchRecord(4, value, 413);
        AddPatchRecord(12, value, 440);
        AddPatchRecord(12, value, 446);
        static constexpr uint32_t kBoth[4] = {465, 466, 473, 474};
        for (uint32_t at : kBoth) {
          AddPatchRecord(4, value, at);
          AddPatchRecord(12, value, at);
        }
      } else {
        AddPatchRecord(4, value, 132);
        AddPatchRecord(4, value, 133);
      }
    }
    if (in.t > 0) {
      AppendFragment(344);
      AddPatchRecord(35, FogPatchValue(in.count), 0);
    } else {
      AppendFragment(343);
    }
  } else if (in.t > 0) {
    AppendFragment(338);
    AddPatchRecord(35, FogPatchValue(in.count), 0);
  } else {
    AppendFragment(337);
  }
  return !assemblyFailed_;
}

// ---- Fixed-function programs ---------------------------------------------------------------

void VertexProgramBuilder::SelectTransformPart(const TnlStateKey& tnl, const TnlProgramInputs& render,
                                               bool lightingForm) {
  const uint32_t t = Min(tnl.blendCount, 5);
  const bool bit7 = lightingForm || Bit(tnl.flags4, 7);
  const uint32_t f5 = tnl.flags5;
  switch (t) {
    case 1:
      if (bit7) {
        AppendFragment(6);
        if (Bit(f5, 0)) {
          AppendFragment(67);
        } else {
          for (uint32_t at = 3; at <= 6; ++at) AddPatchRecord(4, 2, at);
        }
      } else {
        AppendFragment(80);
        if (Bit(f5, 0)) {
          AppendFragment(67);
        } else {
          for (uint32_t at = 1; at <= 4; ++at) AddPatchRecord(4, 2, at);
        }
      }
      break;
    case 2:
    case 3:
    case 4:
      AppendFragment((bit7 ? 7 : 81) + (t - 2));
      AppendFragment(66);
      break;
    case 5:
      if (bit7) {
        AppendFragment(Bit(f5, 1) ? 10 : 11);
        AppendFragment(Bit(f5, 2) ? 12 : 13);
        AppendFragment(14);
      } else {
        AppendFragment(Bit(f5, 2) ? 12 : 13);
        AppendFragment(15);
      }
      AppendFragment(66);
      break;
    default:
      break;
  }
  if (t >= 1 && bit7 && (Bit(render.firstFlags, 5) || Bit(render.nextFlags, 2))) AppendFragment(106);
}

void VertexProgramBuilder::SelectTransformTail(const TnlStateKey& tnl, const TnlProgramInputs& render) {
  const uint32_t m = tnl.Class();
  const bool flag3 = Bit(tnl.flags4, 3);
  // The stage-argument fragment, in eye space or not.
  if (Bit(tnl.flags5, 3)) AppendFragment(Bit(tnl.flags5, 0) ? 105 : 104);
  if (((m == 4 || flag3) && Bit(render.nextFlags, 1)) || (render.aux.first && render.aux.third)) AppendFragment(68);
  // Neither points nor the point program: the tail ends here.
  if (m != 4 && !flag3) {
    if (Bit(tnl.flags4, 4) && (m == 3 || m == 5)) {
      AppendFragment(78);
    } else {
      AppendFragment(Bit(tnl.flags4, 2) ? 78 : 77);
    }
    return;
  }
  // Points: the point-size fragments.
  AppendFragment(78);
  if (Bit(render.nextFlags, 1)) {
    AppendFragment(Bit(tnl.flags4, 6) ? 70 : 69);
  } else if (Bit(tnl.flags4, 6)) {
    AppendFragment(72);
  } else {
    AppendFragment(Bit(tnl.flags6, 1) ? 75 : 74);
  }
}

void VertexProgramBuilder::SelectTransformFragments(const TnlStateKey& tnl, const TnlProgramInputs& render) {
  SelectTransformPart(tnl, render, false);
  // The lighting fragment by the selector word, or none.
  if (Bit(render.firstFlags, 3)) {
    static constexpr uint32_t kBySelector[3] = {85, 86, 87};
    AppendFragment(kBySelector[Min(render.selectorWord, 2)]);
  } else {
    AppendFragment(84);
  }
  SelectTransformTail(tnl, render);
}

// The lighting members: the transform part in its lighting form
// (fragments 6-14), one lighting fragment, then the transform's tail. The lighting
// fragment is 31 + i (first light count 0) or 40 + i, i = second-flag bit 4
// + 2 x second-flag bit 5 + 4 x render first-flag bit 4. The front diffuse,
// specular and ambient colour sources (0-2) go into the fields of patch
// kinds 0, 1 and 2 of its first instruction; with one world matrix and
// render first-flag bit 7 clear, kinds 12 and 14 there take 0.
void VertexProgramBuilder::SelectLightingFragments(const TnlStateKey& tnl, const TnlProgramInputs& render,
                                                   bool thirdKind) {
  SelectTransformPart(tnl, render, true);
  const uint32_t i = Bit(tnl.flags5, 4) | Bit(tnl.flags5, 5) << 1 | Bit(render.firstFlags, 4) << 2;
  const bool firstCount = tnl.spotLights != 0 && !thirdKind;
  AppendFragment((firstCount ? 40 : 31) + i);
  if (!thirdKind) {
    AddPatchRecord(0, Min(tnl.colourSources[0], 2), 0);
    AddPatchRecord(1, Min(tnl.colourSources[2], 2), 0);
    AddPatchRecord(2, Min(tnl.colourSources[4], 2), 0);
  }
  if (Min(tnl.blendCount, 5) == 1 && !Bit(render.firstFlags, 7)) {
    AddPatchRecord(12, 0, 0);
    AddPatchRecord(14, 0, 0);
  }
  SelectTransformTail(tnl, render);
}

void VertexProgramBuilder::SelectTextureFragments(const TnlStateKey& tnl, const TnlProgramInputs& render) {
  const uint32_t t = tnl.blendCount;
  const uint32_t n = render.Elements();
  const bool e = Bit(render.elementFlags, 3) || Bit(render.elementFlags, 4);
  // The stage operation class's fragment.
  if (t != 0 && (Bit(tnl.flags6, 2) || Bit(tnl.flags6, 3))) AppendFragment(Bit(tnl.flags6, 2) ? 109 : 110);
  // Each element: its write mask, then its components by source.
  for (uint32_t i = 0; i < n; ++i) {
    const TnlElement& el = render.elements[i];
    const uint32_t bits = el.flags >> 1 & 7;
    const uint32_t c = bits == 0 ? 4 : bits;
    const uint32_t g = t != 0 && bits != 0 ? 1 : 0;
    const bool projected = Bit(el.flags, 4);
    const bool pass = Bit(el.flags, 7);
    uint32_t source[4] = {el.sources[0] & 15u, el.sources[0] >> 4 & 15u, el.sources[1] & 15u,
                          el.sources[1] >> 4 & 15u};
    if (g == 0) source[0] = source[1] = source[2] = source[3] = 0;
    bool appended = false;
    if (c != 4) {
      AppendFragment(167);
      appended = true;
      if (e) {
        AddPatchRecord(1, i + 6, 0);
        AddPatchRecord(2, 1, 0);
      } else if (pass) {
        AddPatchRecord(1, 1, 0);
        AddPatchRecord(2, 0, 0);
      } else {
        uint32_t mask = 0;
        if (c == 1) mask = projected ? 15 : 14;
        if (c == 2) mask = projected ? 14 : 12;
        if (c == 3) mask = projected ? 12 : 8;
        AddPatchRecord(1, i + 3, 0);
        AddPatchRecord(0, mask, 0);
      }
    }
    for (uint32_t k = 0; k < Min(c, 4); ++k) {
      const uint32_t p = k == c - 1 && projected ? 1 : 0;
      const uint32_t f = catalogue.texture[k >> 1][p + (source[k] * 2 + g) * 2];
      if (f == 0) continue;
      AppendFragment(f);
      appended = true;
      if (e) {
        AddPatchRecord(4, i + 6, 0);
        AddPatchRecord(5, 1, 0);
      } else if (!pass) {
        AddPatchRecord(4, i + 3, 0);
      } else {
        AddPatchRecord(4, 1, 0);
        AddPatchRecord(5, 0, 0);
      }
      if (source[k] == 0) AddPatchRecord(12, i + 7, 0);
      if (g == 1) {
        const uint32_t r = 89 + 4 * i + k;
        AddPatchRecord(9, r & 15, 0);
        AddPatchRecord(17, r >> 4 & 7, 0);
      }
      if (tnl.ModePair() == 2 && source[k] == 0)
        AddPatchRecord(24, kElementWordValues[Min(render.elementWords[i], kElementWords - 1)], 0);
    }
    if (pass) {
      if (!appended) {
        AppendFragment(168);
        AddPatchRecord(6, i + 7, 0);
      }
      AppendFragment(174);
      AppendFragment(171);
      AddPatchRecord(1, i + 3, 0);
    } else if (e && !appended && i > 0) {
      AppendFragment(169);
      AddPatchRecord(9, i + 7, 0);
      AddPatchRecord(1, i + 6, 0);
    }
  }
  // The closing fragments of the elements' flags.
  if (e) {
    if (Bit(render.elementFlags, 3)) {
      AppendFragment(172);
      AppendFragment(174);
    }
    if (Bit(render.elementFlags, 4)) AppendFragment(175);
    if (Bit(render.elementFlags, 3)) AppendFragment(173);
    AppendFragment(170);
  }
  // A projected last element of transformed polygons.
  const uint32_t m = tnl.Class();
  if (Bit(tnl.flags4, 4) && (m == 3 || m == 5) && t != 0 && n > 0 && Bit(render.elements[n - 1].flags, 5)) {
    AppendFragment(65);
    AddPatchRecord(4, n + 2, 2);
  }
}

// The light steps: the pairing rule over the three light counts. The second
// loop walks the same steps again and applies, to the last light fragment,
// the second and third extra recipes of [code][j], j the step (3 from the
// fourth step on).
bool VertexProgramBuilder::NextLightStep(uint32_t counts[3], uint32_t* pairBits, uint32_t* kindIndex) {
  struct Row {
    uint32_t take[3];
    uint32_t bits, kind;
  };
  Row row;
  if (counts[0] >= 2) {
    row = {{2, 0, 0}, 10, 1};
  } else if (counts[0] == 1 && counts[1] >= 1) {
    row = {{1, 1, 0}, 8, 1};
  } else if (counts[0] == 1 && counts[2] >= 1) {
    row = {{1, 0, 1}, 12, 1};
  } else if (counts[0] == 1) {
    row = {{1, 0, 0}, 2, 1};
  } else if (counts[1] >= 2) {
    row = {{0, 2, 0}, 8, 0};
  } else if (counts[1] == 1 && counts[2] >= 1) {
    row = {{0, 1, 1}, 12, 0};
  } else if (counts[1] == 1) {
    row = {{0, 1, 0}, 0, 0};
  } else if (counts[2] >= 2) {
    row = {{0, 0, 2}, 12, 2};
  } else if (counts[2] == 1) {
    row = {{0, 0, 1}, 4, 2};
  } else {
    return false;
  }
  for (int k = 0; k < 3; ++k) counts[k] -= row.take[k];
  *pairBits = row.bits;
  *kindIndex = row.kind;
  return true;
}

void VertexProgramBuilder::SelectLightFragments(const TnlStateKey& tnl, const TnlProgramInputs& render) {
  auto startCounts = [&](uint32_t counts[3]) {
    counts[0] = Min(tnl.spotLights, kMaxLightsPerKind);
    counts[1] = Min(tnl.pointLights, kMaxLightsPerKind);
    counts[2] = Min(tnl.directionalLights, kMaxLightsPerKind);
    for (int k = 0; k < 3; ++k) {
      if (counts[k] == 0) continue;
      --counts[k];
      break;
    }
  };
  const uint32_t options = (Bit(tnl.flags5, 4) ? 0 : 16) + Bit(render.firstFlags, 4) + (Bit(tnl.flags5, 5) ? 32 : 0);
  const uint32_t a = Min(render.indexWords[0], 2);
  const uint32_t b = Min(render.indexWords[1], 2);
  const uint32_t d = Min(render.indexWords[2], 3);
  uint32_t counts[3];
  startCounts(counts);
  uint32_t light = 1;
  uint32_t pairBits = 0, kindIndex = 0;
  bool anyLight = false;
  while (NextLightStep(counts, &pairBits, &kindIndex)) {
    const uint32_t code = pairBits + options;
    const uint32_t key = LightPairKey(code, kindIndex, a, b, d);
    const uint32_t fragment = catalogue.lightPair[key];
    if (fragment != 0 && AppendFragment(fragment)) {
      anyLight = true;
      const FixupRecipe& fix = catalogue.fixupRecipes[key];
      for (uint32_t r = 0; r < fix.count; ++r) AddFixup(fix.records[r].instruction, fix.records[r].selector, light);
      for (int t = 0; t < 3; ++t) ApplyPatchRecipe(catalogue.patchRecipes[t][key], false, 0);
      if (light < 32 && Bit(render.lightMask, light)) ApplyPatchRecipe(catalogue.extraRecipes[0][code * 4 + kindIndex], false, 0);
    }
    light += code & 8 ? 2 : 1;
  }
  if (!anyLight) return;
  startCounts(counts);
  for (uint32_t step = 0; NextLightStep(counts, &pairBits, &kindIndex); ++step) {
    const uint32_t index = (pairBits + options) * 4 + Min(step, 3);
    ApplyPatchRecipe(catalogue.extraRecipes[1][index], false, 0);
    ApplyPatchRecipe(catalogue.extraRecipes[2][index], false, 0);
  }
}

VertexProgram* VertexProgramBuilder::SelectFixedFunctionFragments(const TnlStateKey& tnl,
                                                                  const TnlProgramInputs& render) {
  VertexProgram* program = new VertexProgram;
  if (program == nullptr) return nullptr;
  const uint32_t t = tnl.blendCount;
  const uint32_t m = tnl.Class();
  const uint8_t f4 = tnl.flags4;
  const bool lighting = Bit(render.firstFlags, 3);
  const bool anyLights = tnl.spotLights != 0 || tnl.pointLights != 0 || tnl.directionalLights != 0;
  // The transform, with its lighting form when lit, or pre-transformed
  // vertices.
  if (t != 0) {
    if (Bit(f4, 1)) AppendFragment(5);
    if (!(lighting && anyLights)) {
      SelectTransformFragments(tnl, render);
    } else {
      SelectLightingFragments(tnl, render, tnl.spotLights == 0 && tnl.pointLights == 0);
    }
  } else {
    AppendFragment(1);
    bool threeOrFour = false;
    if (m != 4 && !Bit(f4, 3)) {
      if (Bit(f4, 0)) {
        AppendFragment(Bit(f4, 2) ? 4 : 3);
        threeOrFour = true;
      }
    } else {
      if (Bit(f4, 0)) AppendFragment(4);
      if (Bit(f4, 6)) {
        AppendFragment(72);
      } else {
        AppendFragment(Bit(tnl.flags6, 1) ? 75 : 74);
      }
    }
    if (render.aux.second) {
      AppendFragment(190);
    } else if (!threeOrFour) {
      AppendFragment(2);
    }
  }
  // The first auxiliary byte's fragment by its mode.
  if (render.aux.first && t != 0) {
    switch (render.aux.mode) {
      case 1: AppendFragment(render.aux.flag ? 95 : 94); break;
      case 2: AppendFragment(render.aux.flag ? 99 : 98); break;
      case 3: AppendFragment(render.aux.flag ? 91 : 90); break;
      case 0: AppendFragment(100); break;
      default: break;
    }
  }
  SelectTextureFragments(tnl, render);
  // Stippled lines.
  if ((tnl.flags6 >> 4 & 3) == 1 && m == 2) {
    AppendFragment(345);
    if (render.elementCount != 1) AddPatchRecord(1, render.Elements() + 2, 5);
  }
  // Polygon offset, and the fragment that follows it or a projected last
  // element.
  if (Bit(f4, 2)) AppendFragment(tnl.pointLineMode == 3 ? 196 : 197);
  if (m != 4 && !Bit(f4, 3) && (Bit(f4, 2) || (Bit(f4, 4) && t != 0 && (m == 3 || m == 5)))) AppendFragment(79);
  // One fragment per element when the element flags ask for it.
  if (Bit(render.elementFlags, 2))
    for (uint32_t i = 0; i < render.Elements(); ++i) AppendFragment(101 + i);
  // The clip planes, then the lights.
  if (t != 0) {
    const uint32_t count = tnl.ClipCount();
    if (count >= 1) {
      if (count <= 6) AppendFragment(175 + count);
      AppendFragment(182);
    }
    if (lighting) SelectLightFragments(tnl, render);
  }
  // The second auxiliary byte's fragment.
  if (render.aux.second && t != 0) {
    AppendFragment(191);
    if (tnl.ModePair() == 1) AddPatchRecord(24, 3904, 0);
  }
  // The closing fragment, and the key the program is found by.
  AppendFragment(Bit(f4, 5) ? 203 : 200);
  program->SetFixedFunctionKey(render, tnl);
  if (assemblyFailed_) {
    delete program;
    return nullptr;
  }
  return program;
}
