// The steps of the update pass that derive engine values from the client's
// state: matrices, vertex blending, texture stages, polygon offset, point
// size, fill, material sources, screen mapping, lighting flags, clip
// planes, guard band, lights and the choice of programs. Each compares what
// it computes with what the constant or field holds and writes, marks and
// flags only a difference.
#include <string.h>

#include <initializer_list>

#include "core/same_bytes.h"
#include "core/utils.h"
#include "kernel/3d/engine/vertex_engine_block.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/render/tnl_state_record.h"
#include "kernel/3d/render/vertex_processing_block.h"
#include "kernel/3d/tnl/tnl_internal.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/3d/tnl/vertex_format.h"
#include "kernel/3d/tnl/vertex_program_builder.h"

using namespace tnl_detail;

namespace {

// World matrices in use by blend count; 32 with indexed blending.
constexpr uint32_t kWorldsOfBlend[6] = {0, 1, 2, 3, 4, 1};
constexpr uint32_t kCoordOutputs[5] = {0, 0x100, 0x300, 0x700, 0xF00};
constexpr uint32_t kProjectionMasks[5] = {0, 0, 1, 3, 7};
constexpr uint8_t kArgSummaryA[7] = {0, 1, 0, 1, 0, 0, 1};
constexpr uint8_t kArgSummaryB[7] = {0, 0, 1, 1, 0, 1, 1};
constexpr uint8_t kArgFlag[7] = {0, 0, 0, 1, 0, 0, 1};

bool Polygon(uint32_t cls) { return cls == 3 || cls == 5; }

float Largest3(const float* v) {
  float m = v[0];
  if (v[1] > m) m = v[1];
  if (v[2] > m) m = v[2];
  return m;
}

// The colour scale of the largest component m.
float ColourScale(float m) {
  if (m < 0.25f) return 0.125f;
  if (m < 0.5f) return 0.25f;
  if (m < 1.0f) return 0.5f;
  if (m >= 8.0f) return 8.0f;
  return 1.0f;
}

// The transposed inverse; a matrix too close to singular for float (its
// inverse overflows) counts as singular, as a determinant of 0 does: the
// identity.
Matrix NormalMatrix(const Matrix& m) {
  const Matrix inverse = m.Inverse();
  for (float v : inverse.e)
    if (!Finite(v)) return Matrix();
  return inverse.Transpose();
}

}  // namespace

// ---- Vertex blending -----------------------------------------------------------------------

void TnlSetup::UpdateVertexBlend(const VertexProcessingBlock& b) {
  if (fixedFunction == 0) return;
  uint8_t* kd = key.keyDirty;
  const VertexFormat* format = currentLayout != nullptr ? currentLayout->format : nullptr;
  const bool indexed = (b.flags >> kVfIndexedBlendShift & 1) != 0;
  const uint32_t weights = format != nullptr ? format->blendWeightCount : 0;
  uint32_t count = 0;
  bool sufficient = false;
  if (format == nullptr || format->present.preTransformed == 0) {
    const uint32_t mode = b.tnlMode >> 14 & 7;
    switch (mode) {
      case 1: count = 2; sufficient = indexed ? weights > 1 : weights >= 1; break;
      case 2: count = 3; sufficient = indexed ? weights > 2 : weights >= 2; break;
      case 3: count = 4; sufficient = indexed ? weights > 3 : weights >= 3; break;
      case 4: {
        count = 5;
        const bool first = format != nullptr && format->present.blendIndices != 0;
        const bool second = format != nullptr && format->present.normal2 != 0;
        SetKeyBit(&key.flags5, 0x04, first, &kd[1], kKd1BlendIndices);
        SetKeyBit(&key.flags5, 0x02, second, &kd[1], kKd1SecondNormal);
        break;
      }
      case 5: count = 1; sufficient = true; break;
      default: count = 1; break;
    }
  }
  if (count != key.blendCount) {
    kd[0] |= kKd0BlendCount;
    key.previousBlendCount = key.blendCount;
    key.blendCount = count;
  } else {
    key.previousBlendCount = key.blendCount;
  }
  SetKeyBit(&key.flags4, 0x02, indexed && sufficient, &kd[0], kKd0IndexedBlend);
}

// ---- Matrices ----------------------------------------------------------------------------

void TnlSetup::WriteCombined(uint32_t block, const Matrix& m, bool withNormals) {
  worldViews[block] = m;
  if (withNormals) normals[block] = NormalMatrix(m);
  fixedImage.MarkDirty(7 * block, 7 * block + (withNormals ? 6 : 3));
}

void TnlSetup::UpdateMatrices(const VertexProcessingBlock& b, bool full) {
  const PassChanges& p = pass_;
  const uint8_t* kd = key.keyDirty;
  if ((p.transform & kVxViewport) != 0 && imageSelect == 0) full = true;
  // The view is compared, not trusted to a dirty bit: the matrix word's
  // kMxViewWorld stands for the view and every world matrix alike.
  const bool viewChanged = viewKnown_ == 0 || !SameBytes(lastView_, b.view.m, sizeof lastView_);
  if (viewChanged) {
    memcpy(lastView_, b.view.m, sizeof lastView_);
    viewKnown_ = 1;
  }
  const bool projectionChanged = full || (p.matrices & kMxProjection) != 0;
  const uint32_t worldMask = full ? 0xFFFFFFFF : p.worlds;
  const bool recompute = full || viewChanged || (kd[0] & (kKd0IndexedBlend | kKd0BlendCount)) != 0;
  bool wrote = false;

  // The clip planes go to clip space through the projection's normal
  // matrix.
  if (clipPlanesInUse != 0 && (projectionChanged || (p.transform & kVxClipPlaneEnable) != 0))
    clipMatrix = NormalMatrix(MatrixOf(b.projection.m));

  const bool indexed = (key.flags4 & 0x02) != 0;
  const bool eyeSpace = (key.flags5 & 0x01) != 0;
  if (key.blendCount == 1 && !indexed && !eyeSpace) {
    // One world matrix and nothing needs eye space: 0-3 hold world x view
    // x projection.
    if (recompute || projectionChanged || (worldMask & 1) != 0 || combined[0] == 0) {
      const Matrix wv = MatrixOf(b.world[0].m) * MatrixOf(b.view.m);
      worldViews[0] = wv * MatrixOf(b.projection.m);
      normals[0] = NormalMatrix(wv);
      fixedImage.MarkDirty(0, 6);
      combined[0] = 1;
      wrote = true;
    }
  } else if (key.blendCount == 1 && !indexed) {
    // One world matrix in eye space: 0-3 hold world x view, 329-332 world
    // x view x projection.
    const bool wvChanged = recompute || (worldMask & 1) != 0 || combined[0] != 0;
    if (wvChanged) {
      WriteCombined(0, MatrixOf(b.world[0].m) * MatrixOf(b.view.m), true);
      combined[0] = 0;
      wrote = true;
    }
    if (projectionChanged || wvChanged || combined[1] == 0) {
      const Matrix wv = MatrixOf(b.world[0].m) * MatrixOf(b.view.m);
      worldViews[36] = wv * MatrixOf(b.projection.m);
      fixedImage.MarkDirty(kCProjection, kCProjection + 3);
      combined[1] = 1;
      combined[2] = 0;
      wrote = true;
    }
  } else {
    // Several world matrices, indexed blending, or none (pre-transformed):
    // each block holds its world matrix x view, 329-332 the projection.
    const uint32_t count = indexed ? kWorldMatrices : kWorldsOfBlend[key.blendCount < 6 ? key.blendCount : 0];
    const bool all = recompute || (indexed && full);
    if (count != 0) {
      const Matrix view = MatrixOf(b.view.m);
      for (uint32_t i = 0; i < count; ++i) {
        if (!all && (worldMask >> i & 1) == 0) continue;
        WriteCombined(i, MatrixOf(b.world[i].m) * view, true);
        wrote = true;
      }
      combined[0] = 0;
    }
    if (projectionChanged || combined[2] == 0) {
      worldViews[36] = MatrixOf(b.projection.m);
      fixedImage.MarkDirty(kCProjection, kCProjection + 3);
      combined[2] = 1;
      combined[1] = 0;
      wrote = true;
    }
  }
  if (wrote) updateFlags |= kTnlUpdMatrices;
}

// ---- Texture stages ------------------------------------------------------------------------

void TnlSetup::AnalyseTextureStages(const VertexProcessingBlock& b, VertexEngineBlock* hw) {
  uint8_t* kd = key.keyDirty;
  const uint32_t sets = SetCount(b);
  bool summaryA = false, summaryB = false, argFlag = false, decided = false, anyGeneration = false;
  uint8_t opClass = 0;
  uint32_t generating = 0;
  for (uint32_t k = 0; k < sets; ++k) {
    const uint32_t control = b.texCoords.sets[k].control;
    key.coords[k].generation = control >> 6 & 7;
    key.coords[k].source = control >> 3 & 7;
    if (key.coords[k].generation != 0) {
      ++generating;
      anyGeneration = true;
    }
    for (uint32_t a = 0; a < 4; ++a) {
      const uint32_t arg = control >> (16 + 4 * a) & 0xF;
      if (arg > 6) continue;
      summaryA |= kArgSummaryA[arg] != 0;
      summaryB |= kArgSummaryB[arg] != 0;
      argFlag |= kArgFlag[arg] != 0;
    }
    if (!decided) {
      const uint32_t first = control >> 16 & 0xF, second = control >> 20 & 0xF;
      if (first == 6 || second == 6) opClass = 2, decided = true;
      else if (first == 3 || second == 3) opClass = 1, decided = true;
    }
  }
  const uint8_t a = summaryA ? 1 : 0, bb = summaryB ? 1 : 0;
  if (a != key.stageSummary[0]) kd[3] |= kKd3StageSummaryA;
  if (bb != key.stageSummary[1]) kd[3] |= kKd3StageSummaryB;
  key.stageSummary[0] = a;
  key.stageSummary[1] = bb;
  SetKeyBit(&key.flags5, 0x08, argFlag, &kd[1], kKd1StageArgument);
  key.flags6 = static_cast<uint8_t>((key.flags6 & ~0x0C) | opClass << 2);
  const bool projects = sets != 0 && (b.texCoords.sets[sets - 1].transformFlags & 0x100) != 0;
  SetKeyBit(&key.flags4, 0x10, projects, &kd[1], kKd1Projects);
  const uint8_t generation = anyGeneration ? 1 : 0;
  if (generation != key.coordGeneration) kd[3] |= kKd3CoordGeneration;
  key.coordGeneration = generation;
  key.coordGenerationCount = generating;
  hw->stageCount = sets;
}

// ---- Polygon offset, point size and fill ---------------------------------------------------

void TnlSetup::UpdateDepthOffset(const VertexProcessingBlock& b, VertexEngineBlock* hw) {
  uint8_t* kd = key.keyDirty;
  const uint32_t cls = key.Class();
  const uint32_t fill = key.fillMode;
  bool applies = false;
  if (Polygon(cls)) {
    applies = (fill == 3 && (b.flags & kVfDriver25) != 0) || (fill == 2 && (b.flags & kVfDriver24) != 0) ||
              (fill == 1 && (b.flags & kVfDriver23) != 0);
  }
  const uint8_t enable = applies ? 1 : 0;
  if (enable != hw->offsetEnable) {
    hw->offsetEnable = enable;
    hw->dirtyR2 |= kVeR2Registers;
  }
  SetKeyBit(&key.flags4, 0x04, applies, &kd[3], kKd3PointLineMode);
  if (applies) {
    if (hw->setupB != 6) {
      hw->setupB = 6;
      hw->dirtyR2 |= kVeR2Registers;
    }
    key.pointLineMode = 3;
    float y = BitsFloat(b.depthBiasWords[1]) * BitsFloat(b.viewportGroup.depth);
    if ((b.flags & kVfOffsetScaled) == 0) y *= zFactor;
    for (VecConstShadow* img : {&fixedImage, &shaderImage}) {
      float v[4];
      memcpy(v, img->image[kCRaster].w, sizeof v);
      v[0] = BitsFloat(b.depthBiasWords[0]);
      v[1] = y;
      SetConst(img, kCRaster, v);
    }
  } else {
    key.pointLineMode = 0;
    const uint32_t index = 2 * (cls < 5 ? cls : 5) +
                           (fill == 2 && (key.primitiveKind == 8 || key.primitiveKind == 12) ? 1 : 0);
    SetSetup(hw, kSetupA[index], kSetupB[index]);
  }
}

void TnlSetup::UpdatePointSize(const VertexProcessingBlock& b, VertexEngineBlock* hw) {
  uint8_t* kd = key.keyDirty;
  const uint32_t cls = key.Class();
  const float size = BitsFloat(b.pointSize);
  const bool perVertex = (b.flags & kVfPointPerVertex) != 0;
  const VertexFormat* format = currentLayout != nullptr ? currentLayout->format : nullptr;
  const bool layoutSize = format != nullptr && format->present.pointSize != 0;
  bool point = false, shadow = false;
  if (Polygon(cls) && key.fillMode == 1) {
    // Polygons drawn as points: the point program unless the size is a
    // plain 1.
    point = !(size == 1.0f && (b.flags & kVfPointScale) == 0 && !perVertex);
  } else if (cls == 2) {
    // Wide or stippled lines.
    point = BitsFloat(b.lineWidth) >= 2.0f || (key.flags6 & 0x10) != 0;
  } else {
    // The shadow-volume program, by the switch.
    const bool pixelShadow = b.pixelShadowMode != nullptr && *b.pixelShadowMode != 0;
    const bool fogOff = b.fog.vertexFog == 0 && b.fog.firstRange == 0;
    shadow = (volumetricShadow & 2) != 0 ||
             ((volumetricShadow & 1) != 0 && pixelShadow && fogOff && b.viewportGroup.shadow != 0 &&
              builderMode != 0 && Polygon(cls));
  }
  pointProgramWanted = point ? 1 : 0;
  shadowProgramWanted = shadow ? 1 : 0;
  if (hw->pointProgram != pointProgramWanted || hw->shadowProgram != shadowProgramWanted) {
    hw->pointProgram = pointProgramWanted;
    hw->shadowProgram = shadowProgramWanted;
    hw->dirtyR2 |= kVeR2Registers;
  }
  if (shadow) hw->lineStipple = 0;
  SetKeyBit(&key.flags4, 0x08, point, &kd[0], kKd0PointProgram);
  SetKeyBit(&key.flags4, 0x40, layoutSize, &kd[0], kKd0LayoutPointSize);
  // The size into 370 w: clamped to the range, and unless the layout
  // gives it, rounded (halved in the fixed-function image).
  float fixedSize = size, shaderSize = size;
  if (!perVertex) {
    float s = layoutSize ? size : size * BitsFloat(b.viewportGroup.scale[0]);
    const float* range = F(kCPointRange);
    if (s < range[0]) s = range[0];
    if (s > range[1]) s = range[1];
    fixedSize = shaderSize = s;
    if (!layoutSize) {
      // Rounded through LocFloor, which saturates what an integer cannot
      // hold and makes NaN 0.
      int32_t whole = 0;
      LocFloor(s + 0.5f, &whole);
      if (s + 0.5f < 0.0f) whole = 0;
      const float rounded = static_cast<float>(whole);
      const bool even = (whole & 1) == 0;
      key.flags6 = static_cast<uint8_t>((key.flags6 & ~0x02) | (even ? 0x02 : 0));
      fixedSize = rounded * 0.5f;
      shaderSize = rounded;
    }
  }
  float v[4];
  memcpy(v, F(kCPoint), sizeof v);
  v[3] = fixedSize;
  SetConst(&fixedImage, kCPoint, v);
  memcpy(v, S(kCPoint), sizeof v);
  v[3] = shaderSize;
  SetConst(&shaderImage, kCPoint, v);
}

void TnlSetup::UpdateFillMode(VertexEngineBlock* hw) {
  const uint32_t cls = key.Class();
  uint8_t fill = 0;
  if (Polygon(cls)) {
    if (key.fillMode == 2) {
      const bool edgeKind = key.primitiveKind == 8 || key.primitiveKind == 12;
      fill = edgeKind ? 0 : cls == 3 ? 1 : 3;
    } else if (key.fillMode == 1) {
      fill = 2;
    }
  }
  if (fill != hw->fill) {
    hw->fill = fill;
    hw->dirtyR2 |= kVeR2Registers;
  }
}

// ---- Material, screen mapping, transform enable, lighting flags ----------------------------

void TnlSetup::UpdateMaterialSources(const VertexProcessingBlock& b) {
  uint8_t* kd = key.keyDirty;
  const VertexFormat* format = currentLayout != nullptr ? currentLayout->format : nullptr;
  const bool first = format != nullptr && format->present.diffuse != 0;
  const bool second = format != nullptr && format->present.specular != 0;
  uint32_t sources[8] = {};
  if ((b.flags & kVfColourVertex) != 0) {
    auto source = [&](uint32_t selector) -> uint32_t {
      if (selector == 1) return first ? 1 : 0;
      if (selector == 2) return second ? 2 : 0;
      return 0;
    };
    // Diffuse, specular, ambient, emissive: two bits each, front and back.
    for (uint32_t i = 0; i < 4; ++i) {
      sources[2 * i] = source(b.materialSources >> (2 * i) & 3);
      sources[2 * i + 1] = source(b.materialSourcesB >> (2 * i) & 3);
    }
  }
  if (!SameBytes(sources, key.colourSources, sizeof sources)) {
    memcpy(key.colourSources, sources, sizeof sources);
    kd[2] |= kKd2ColourSources;
  }
  SetKeyBit(&key.flags5, 0x40, sources[6] != 0 || emissiveFlag != 0, &kd[2], kKd2Emissive);
  const bool used = globalAmbientFlag != 0 && (sources[4] != 0 || ambientFlag != 0);
  float v[4] = {};
  if (used) {
    const float* material = F(kCMaterialAmbient);
    for (int i = 0; i < 4; ++i) v[i] = sources[4] == 0 ? b.ambient[i] * material[i] : b.ambient[i];
  }
  SetConst(&fixedImage, kCGlobalAmbient, v);
  SetKeyBit(&key.flags5, 0x80, used, &kd[2], kKd2GlobalAmbient);
}

void TnlSetup::UpdateViewport(const VertexProcessingBlock& b) {
  uint8_t* kd = key.keyDirty;
  const VertexViewportGroup& g = b.viewportGroup;
  const float sx = BitsFloat(g.scale[0]), sy = BitsFloat(g.scale[1]);
  const float ox = static_cast<float>(static_cast<int32_t>(g.targetOrigin[0]));
  const float oy = static_cast<float>(static_cast<int32_t>(g.targetOrigin[1]));
  if (key.blendCount != 0) {
    const float w = static_cast<float>(g.size[0]), h = static_cast<float>(g.size[1]);
    const float x = static_cast<float>(static_cast<int32_t>(g.origin[0]));
    const float y = static_cast<float>(static_cast<int32_t>(g.origin[1]));
    const float shift = key.Class() == 1 ? 0.046875f : 0.0f;
    const float scale[4] = {w * 0.5f * sx, -h * 0.5f * sy, BitsFloat(b.depthRange[0]), 1.0f};
    const float offset[4] = {(ox + x) * sx + scale[0] - shift, (oy + y) * sy - scale[1] - shift,
                             BitsFloat(b.depthRange[1]), h};
    SetBoth(kCScale, scale);
    SetBoth(kCOffset, offset);
    SetKeyBit(&key.flags4, 0x01, false, &kd[0], kKd0BlendCount);
    return;
  }
  const bool identity = sx == 1.0f && sy == 1.0f && ox == 0.0f && oy == 0.0f;
  if (!identity) {
    float scale[4], offset[4];
    memcpy(scale, F(kCScale), sizeof scale);
    memcpy(offset, F(kCOffset), sizeof offset);
    scale[0] = sx;
    scale[1] = sy;
    offset[0] = ox * sx;
    offset[1] = oy * sy;
    SetBoth(kCScale, scale);
    SetBoth(kCOffset, offset);
  }
  SetKeyBit(&key.flags4, 0x01, !identity, &kd[0], kKd0BlendCount);
}

void TnlSetup::UpdateTransformEnable(VertexEngineBlock* hw) {
  const uint8_t enable = key.blendCount != 0 ? 1 : 0;
  if (enable == hw->transformEnable) return;
  hw->transformEnable = enable;
  hw->dirtyR2 |= kVeR2Registers;
}

void TnlSetup::UpdateLightingFlags(const VertexProcessingBlock& b) {
  uint8_t* kd = key.keyDirty;
  const bool lighting = (b.flags & kVfLighting) != 0;
  const bool positional = key.spotLights + key.pointLights != 0;
  const uint32_t cls = key.Class();
  bool eye = lighting && (positional || (key.directionalLights != 0 && (b.controlByte & 0x10) != 0));
  eye |= (cls == 4 || pointProgramWanted != 0) && (b.flags & kVfPointScale) != 0;
  eye |= b.fog.vertexFog != 0 && b.fog.firstRange == 0;
  eye |= clipPlanesInUse != 0;
  if (!eye) eye = key.stageSummary[1] != 0;
  SetKeyBit(&key.flags5, 0x01, eye, &kd[1], kKd1EyeSpace);
  const bool lit = (lighting && positional) || key.stageSummary[0] != 0;
  SetKeyBit(&key.flags4, 0x80, lit, &kd[1], kKd1LitPositional);
}

// ---- Clip planes and guard band ------------------------------------------------------------

void TnlSetup::UpdateClipPlanes(const VertexProcessingBlock& b) {
  uint32_t c = kCClipPlanes;
  for (uint32_t i = 0; i < kMaxClipPlanes; ++i) {
    if ((b.clipPlaneEnable >> i & 1) == 0) continue;
    float plane[4];
    for (int k = 0; k < 4; ++k) plane[k] = BitsFloat(b.clipPlanes[i][k]);
    float v[4];
    for (int r = 0; r < 4; ++r) {
      const float* e = clipMatrix.e;
      v[r] = e[r] * plane[0] + e[4 + r] * plane[1] + e[8 + r] * plane[2] + e[12 + r] * plane[3];
    }
    SetBoth(c++, v);
  }
}

void TnlSetup::UpdateGuardBand(VertexEngineBlock* hw) {
  hw->clipWord |= clipControlMask;
  static constexpr float kBand[4] = {8160.0f, -8160.0f, 8160.0f, -8160.0f};
  for (int axis = 0; axis < 2; ++axis) {
    const float high = kBand[2 * axis], low = kBand[2 * axis + 1];
    if (guardBand[2 * axis] == high && guardBand[2 * axis + 1] == low) continue;
    guardBand[2 * axis] = high;
    guardBand[2 * axis + 1] = low;
    hw->guardBand[2 * axis] = static_cast<uint16_t>(FloatBits(high) >> 16);
    hw->guardBand[2 * axis + 1] = static_cast<uint16_t>(FloatBits(low) >> 16);
    hw->dirtyR1 |= kVeR1GuardBand;
  }
  if (key.Class() == 4 || pointProgramWanted != 0) {
    hw->coordFields[0] = hw->coordFields[1] = 0;
    return;
  }
  const uint32_t sets = passSets_;
  uint32_t mask = kCoordOutputs[sets];
  const VertexFormat* format = currentLayout != nullptr ? currentLayout->format : nullptr;
  for (uint32_t k = 0; k < sets; ++k) {
    const uint32_t source = key.coords[k].source & 7;
    if (format != nullptr && format->present.texCoord[source] != 0) continue;
    mask &= ~(0x100u << k);
    hw->coordSets = k + 1;
    hw->dirtyR2 |= kVeR2CoordSets;
  }
  const uint32_t control = (hw->vertexControl & ~0xF00u) | mask;
  if (control != hw->vertexControl) {
    hw->vertexControl = control;
    hw->dirtyR1 |= kVeR1Controls;
  }
}

// ---- Lights --------------------------------------------------------------------------------

void TnlSetup::CollectLights(const VertexProcessingBlock& b) {
  uint8_t* kd = key.keyDirty;
  uint32_t spot = 0, point = 0, directional = 0, n = 0;
  for (uint32_t i = 0; i < enabledLights && i < kTnlLights; ++i) {
    const uint32_t index = b.enabledLights[i];
    if (index == 0 || b.lightTable == nullptr || index >= b.lightTableSize) continue;
    const LightRecord* light = b.lightTable[index];
    if (light == nullptr) continue;
    if (light->type == 2) ++spot;
    else if (light->type == 1) ++point;
    else if (light->type == 3) ++directional;
    else continue;
    lights[n++] = light;
  }
  for (uint32_t i = n; i < kTnlLights; ++i) lights[i] = nullptr;
  lightCount_ = n;
  if (spot != key.spotLights) kd[0] |= kKd0SpotLights;
  if (point != key.pointLights) kd[0] |= kKd0PointLights;
  if (directional != key.directionalLights) kd[0] |= kKd0DirectionalLights;
  key.spotLights = spot;
  key.pointLights = point;
  key.directionalLights = directional;
}

void TnlSetup::UpdateLights(const VertexProcessingBlock&) {
  uint8_t* kd = key.keyDirty;
  const bool twoSided = (key.flags5 & 0x20) != 0;
  const float* diffuseMaterial = F(kCMaterialDiffuse);
  const float* ambientMaterial = F(kCMaterialAmbient);
  const float* specularMaterial = F(kCMaterialSpecular);
  // The light-path flags: specular powers, many positional lights, a
  // single point light.
  uint32_t path = 0;
  if (specularMaterial[3] >= 128.0f) path |= kPathFrontPower;
  if (twoSided && F(kCBackMaterial + 2)[3] >= 128.0f) path |= kPathBackPower;
  if (key.spotLights + key.pointLights > 8) path |= kPathManyPositional;
  if (lightCount_ == 1 && lights[0] != nullptr && lights[0]->type == 1) path |= kPathSinglePoint;

  // The blocks in three runs (spot, point, directional lights), each
  // light's 28 words.
  uint32_t next[3] = {0, key.spotLights, key.spotLights + key.pointLights};
  float largestDiffuse = 0.0f, largestSpecular = 0.0f;
  uint32_t records[3] = {};
  lightRecordCount = 0;
  const uint32_t faces = twoSided ? 2 : 1;
  for (uint32_t i = 0; i < lightCount_; ++i) {
    const LightRecord* light = lights[i];
    const uint32_t run = light->type == 2 ? 0 : light->type == 1 ? 1 : 2;
    const uint32_t block = next[run]++;
    if (block >= kTnlLights) continue;
    float w[28] = {};
    auto colour = [&](const uint32_t* c, const float* material, uint32_t source, int first, int count) {
      for (int k = 0; k < count; ++k) {
        const float value = BitsFloat(c[k]);
        w[first + k] = source == 0 && !twoSided ? value * material[k] : value;
      }
    };
    colour(light->diffuse, diffuseMaterial, key.colourSources[0], 8, 4);
    colour(light->specular, specularMaterial, key.colourSources[2], 12, 3);
    w[15] = specularMaterial[3];
    colour(light->ambient, ambientMaterial, key.colourSources[4], 16, 3);
    const float d = Largest3(&w[8]), s = Largest3(&w[12]);
    if (d > largestDiffuse) largestDiffuse = d;
    if (s > largestSpecular) largestSpecular = s;
    if (run != 2) {
      for (int k = 0; k < 3; ++k) w[k] = BitsFloat(light->position[k]);
      w[3] = -1.0f;
      w[19] = BitsFloat(light->range);
      float sum = 0.0f;
      for (int k = 0; k < 3; ++k) {
        w[20 + k] = BitsFloat(light->attenuation[k]);
        sum += w[20 + k];
      }
      if (enabledLights == 1 && sum <= 0.5f) path |= kPathWeakAttenuation;
      uint32_t mask = 0x7F000000;
      memcpy(&w[25], &mask, sizeof mask);
    }
    if (run != 1) {
      // The direction towards the light, of unit length (a zero direction
      // stays zero).
      Vector direction = Normalize(Vector(-BitsFloat(light->direction[0]), -BitsFloat(light->direction[1]),
                                          -BitsFloat(light->direction[2])));
      // A direction too short to measure in float stays zero too.
      if (!Finite(direction.x) || !Finite(direction.y) || !Finite(direction.z)) direction = Vector();
      w[4] = direction.x;
      w[5] = direction.y;
      w[6] = direction.z;
    }
    if (run == 0) {
      const float falloff = BitsFloat(light->falloff), second = BitsFloat(light->theta);
      if (falloff == 0.0f) {
        w[23] = 1.0f;
        w[27] = SafeReciprocal(second);
      } else {
        w[23] = second;
        w[27] = 1.0f;
      }
      if (falloff != 0.0f && falloff != 1.0f) path |= kPathSpotFalloff;
    }
    const uint32_t c = kCLightBlocks + 7 * block;
    for (uint32_t k = 0; k < 7; ++k) SetConst(&fixedImage, c + k, &w[4 * k]);
    // One parameter record per light and face, in the run's table.
    for (uint32_t face = 0; face < faces; ++face) {
      if (records[run] >= kLightRecordsPerType) break;
      uint32_t* r = lightTableRecords_[run][records[run]++];
      r[0] = c;
      r[1] = light->type;
      r[2] = block;
      r[3] = face;
      r[4] = FloatBits(w[15]);
      r[5] = FloatBits(w[19]);
      r[6] = FloatBits(w[23]);
      r[7] = FloatBits(w[27]);
    }
  }
  const uint32_t total = records[0] + records[1] + records[2];
  if (total > kMaxLightCombination) path |= kPathTooManyRecords;
  // The program takes the records of the three tables one after another.
  uint32_t at = 0;
  for (uint32_t run = 0; run < 3; ++run)
    for (uint32_t i = 0; i < records[run] && at < 3 * kLightRecordsPerType; ++i)
      memcpy(lightRecords[at++], lightTableRecords_[run][i], sizeof lightRecords[0]);
  lightRecordCount = total;
  for (uint32_t run = 0; run < 3; ++run) lightRecordCounts[run] = records[run];
  const uint32_t layout = records[0] | records[1] << 8 | records[2] << 16;
  if (layout != key.lightLayout) kd[2] |= kKd2LightLayout;
  key.lightLayout = layout;
  lightPath = path;

  // The colour scales by the largest diffuse and specular components;
  // their reciprocals go into 334 z and w.
  float first = 1.0f, second = 1.0f;
  if (path == 0 && lightingType != 2) {
    first = ColourScale(largestDiffuse);
    second = ColourScale(largestSpecular);
  }
  float v[4];
  memcpy(v, F(kCFogLinear), sizeof v);
  v[2] = 1.0f / first;
  v[3] = 1.0f / second;
  SetConst(&fixedImage, kCFogLinear, v);
  SetKeyBit(&key.flags6, 0x01, first != 1.0f || second != 1.0f, &kd[3], kKd3ColourScale);
}

// ---- Programs ------------------------------------------------------------------------------

void TnlSetup::FillInputs(const VertexProcessingBlock& b) {
  TnlProgramInputs& in = inputs;
  in = TnlProgramInputs{};
  const uint32_t f = b.flags;
  const uint32_t selector = b.control >> 6 & 3;
  // The first flag byte: lighting (bit 3), specular (bit 4), local viewer
  // (bit 5), normalisation (bit 6), indexed blending (bit 7).
  in.firstFlags = static_cast<uint8_t>(((f & kVfLighting) != 0 ? 0x08 : 0) | (selector == 1 ? 0x10 : 0) |
                                       ((f & kVfLocalViewer) != 0 ? 0x20 : 0) |
                                       ((f & kVfNormalise) != 0 ? 0x40 : 0) |
                                       ((f >> kVfIndexedBlendShift & 1) != 0 ? 0x80 : 0));
  in.nextFlags = static_cast<uint8_t>(f >> 8);
  in.afterNextFlags = static_cast<uint8_t>(f >> 16);
  in.secondFlags = b.controlByte;
  in.thirdFlags = b.texCoords.flags;
  in.selector = static_cast<uint8_t>(selector);
  in.pointSize = BitsFloat(b.pointSize);
  const uint32_t sets = SetCount(b);
  in.elementCount = sets;
  for (uint32_t k = 0; k < sets; ++k) {
    const uint32_t control = b.texCoords.sets[k].control;
    const uint32_t dimension = key.coords[k].dimension & 7;
    in.elements[k].flags = static_cast<uint8_t>((dimension == 4 ? 0 : dimension) << 1 |
                                                ((b.texCoords.sets[k].transformFlags & 0x100) != 0 ? 0x10 : 0));
    in.elements[k].sources[0] = static_cast<uint8_t>(control >> 16);
    in.elements[k].sources[1] = static_cast<uint8_t>(control >> 24);
    in.elements[k].firstWord = b.texCoords.sets[k].transformFlags;
    in.elementWords[k] = control;
  }
  in.elementFlags = b.texCoords.flags;
  in.furtherWord = b.vertexFlags;
  in.selectorWord = b.fog.mode;
  in.lightMask = lightCount_ >= 32 ? 0xFFFFFFFF : (1u << lightCount_) - 1;
  in.indexWords[0] = key.spotLights;
  in.indexWords[1] = key.pointLights;
  in.indexWords[2] = key.directionalLights;
  in.entryCount = lightRecordCount < kMaxCountedEntries ? lightRecordCount : kMaxCountedEntries;
  for (uint32_t i = 0; i < in.entryCount; ++i) in.entrySelectors[i] = lightRecords[i][1];
}

bool TnlSetup::SelectPrograms(const VertexProcessingBlock& b, VertexEngineBlock* hw) {
  const bool lighting = (b.flags & kVfLighting) != 0;
  if ((updateFlags & kTnlUpdMainKey) != 0) {
    key.mainProgramKey[0] = key.modeClassClip;
    key.mainProgramKey[1] = static_cast<uint8_t>((key.coordGeneration & 1) | (key.flags4 & 0x02) |
                                                 (lighting ? 0x04 : 0) | (b.cullMode & 3) << 3 |
                                                 (BitsFloat(b.lineWidth) >= 2.0f ? 0x80 : 0));
  }
  if (builder == nullptr) return false;
  FillInputs(b);
  const uint32_t state = ProgramStateWord(inputs, key);
  auto main = [&](uint32_t kind) -> VertexProgram* {
    return kind == 0 ? FindOrBuildVertexProgram(builder, state, 0, inputs, key, &mainList)
                     : FindOrBuildKindProgram(builder, state, kind, inputs, key, &mainList);
  };
  VertexProgram* chosen[kVeMainPrograms] = {};
  if (pointProgramWanted != 0) {
    chosen[0] = main(0);
    if (chosen[0] == nullptr) return false;
  } else {
    if (builderMode != 0) {
      chosen[2] = main(2);
      if (chosen[2] == nullptr) return false;
      if (chosen[2]->hasEntryTable == 0) {
        for (uint32_t kind = 3; kind <= 5; ++kind) {
          chosen[kind] = main(kind);
          if (chosen[kind] == nullptr) return false;
        }
      }
    }
    chosen[6] = main(6);
    if (chosen[6] == nullptr) return false;
  }
  bool changed = false;
  for (uint32_t i = 0; i < kVeMainPrograms; ++i) {
    if (hw->mainPrograms[i].program == chosen[i]) continue;
    SetSlot(&hw->mainPrograms[i], chosen[i]);
    changed = true;
  }
  auto fixed = [&](int32_t id) { return builder->GetFixedProgram(id, 0); };
  auto set = [&](VertexEngineProgramSlot& slot, VertexProgram* program) {
    if (slot.program == program) return;
    SetSlot(&slot, program);
    changed = true;
  };
  if ((pass_.transform & kVxFillMode) != 0 && builderMode != 0 &&
      (hw->pointPrograms[0].program == nullptr || hw->pointPrograms[1].program == nullptr) && key.fillMode == 3) {
    set(hw->pointPrograms[0], fixed(8));
    set(hw->pointPrograms[1], fixed(11));
  }
  if ((key.keyDirty[3] & kKd3PointLineMode) != 0 || hw->transformPrograms[0].program == nullptr ||
      hw->clipProgram.program == nullptr) {
    const bool offset = (key.flags4 & 0x04) != 0;
    set(hw->transformPrograms[0], fixed(offset ? 7 : 6));
    set(hw->clipProgram, fixed(offset ? 10 : 9));
  }
  if (hw->transformPrograms[1].program == nullptr) set(hw->transformPrograms[1], fixed(12));
  if (changed) hw->dirtyR1 |= kVeR1Programs;
  hw_ = hw;
  return true;
}

bool TnlSetup::SelectLightingPrograms(const VertexProcessingBlock& b, VertexEngineBlock* hw) {
  hw_ = hw;
  VertexProgram* first = nullptr;
  VertexProgram* second = nullptr;
  const bool combination = lightingType == 1 && lightPath == 0;
  key.flags5 = static_cast<uint8_t>((key.flags5 & ~0x10) | (combination ? 0x10 : 0));
  if (!combination) {
    if (builder == nullptr) return false;
    FillInputs(b);
    first = FindOrBuildFixedFunctionProgram(builder, &fixedList, &recent, inputs, key);
    if (first == nullptr) return false;
    if (lightingType == 0 && lightPath == 0) {
      key.flags4 |= 0x20;
      second = FindOrBuildFixedFunctionProgram(builder, &fixedList, &recent, inputs, key);
      key.flags4 &= static_cast<uint8_t>(~0x20);
      if (second == nullptr) return false;
    }
  }
  if (hw->lightingPrograms[0].program != first || hw->lightingPrograms[1].program != second) {
    SetSlot(&hw->lightingPrograms[0], first);
    SetSlot(&hw->lightingPrograms[1], second);
    hw->dirtyR1 |= kVeR1Lighting;
  }
  return true;
}

void TnlSetup::UpdateFetchFlags(const VertexProcessingBlock& b, VertexEngineBlock* hw) {
  const uint32_t sets = SetCount(b);
  uint32_t projection = 0;
  for (uint32_t k = 0; k < sets; ++k)
    if ((b.texCoords.sets[k].transformFlags & 0x100) != 0) projection |= 1u << k;
  const uint32_t point = pointProgramWanted;
  if (sets != fetchCount || kProjectionMasks[sets] != fetchProjectionMask_ || point != fetchPoint_ ||
      projection != fetchProjection) {
    fetchCount = sets;
    fetchProjectionMask_ = kProjectionMasks[sets];
    fetchPoint_ = point;
    fetchProjection = projection;
    hw->dirtyR1 |= kVeR1Lighting;
  }
}
