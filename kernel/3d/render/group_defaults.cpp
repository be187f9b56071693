// The render-state group defaults, and the render state's LoadDefaults
// that runs them.
#include "kernel/3d/render/group_defaults.h"

#include <string.h>

#include <initializer_list>

#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/tnl/tnl_setup.h"

namespace {

// Byte-wise stores: the positions of the packed records are not aligned.
void Put32(uint8_t* record, size_t at, uint32_t value) { memcpy(record + at, &value, 4); }
void PutFloat(uint8_t* record, size_t at, float value) { memcpy(record + at, &value, 4); }

uint32_t Ask(StateQuery3d* query, RenderContext3d* context, uint32_t argument) {
  return query != nullptr ? query->Answer(context, argument) : 0;
}

uint32_t FourthAnswer(const StateQueries3d& q, RenderContext3d* context, uint32_t argument) {
  uint32_t value = Ask(q.raster[3], context, argument);
  if (q.featureFlag == 0) value &= ~1u;
  return value;
}

// The render-context flag bits that make the raster loader ask its third
// query.
constexpr uint32_t kThirdQueryFlags = 0x3C0;

}  // namespace

void LoadRasterDefaults(uint8_t* r, RenderContext3d* context, uint32_t argument, const StateQueries3d& q,
                        RasterDefaultsOut* out) {
  r[28] = 1;
  r[45] = 0;
  r[54] = 0;
  for (size_t at : {75u, 79u, 83u, 87u}) PutFloat(r, at, 1.0f);
  Put32(r, 16, 1);
  Put32(r, 20, 1);
  r[29] = 15;
  Put32(r, 33, 0xFFFFFFFF);
  Put32(r, 37, 12);
  Put32(r, 41, 0);
  r[46] = 0;
  Put32(r, 50, 8);
  r[55] = 1;
  Put32(r, 59, 2);
  Put32(r, 63, 2);
  Put32(r, 67, 1);
  Put32(r, 71, 1);
  Put32(r, 8, Ask(q.raster[0], context, argument));
  if (out != nullptr) {
    out->word132 = Ask(q.raster[1], context, argument);
    if ((out->contextFlags & kThirdQueryFlags) != 0)
      out->byte128 = static_cast<uint8_t>((out->byte128 & ~0x60) | (Ask(q.raster[2], context, argument) & 3) << 5);
  }
  Put32(r, 12, FourthAnswer(q, context, argument));
}

void LoadViewDefaults(uint8_t* r, RenderContext3d* context, const StateQueries3d& q) {
  r[24] = 1;
  Put32(r, 12, 0);
  r[29] = 0;
  PutFloat(r, 16, 1.0f);
  Put32(r, 4, 1);
  Put32(r, 8, 0);
  Put32(r, 82, 0);
  Put32(r, 86, 0);
  Put32(r, 90, 640);
  Put32(r, 94, 480);
  Put32(r, 106, 640);
  Put32(r, 110, 480);
  Put32(r, 20, 0);
  r[25] = 4;
  memset(r + 58, 0, 16);
  Put32(r, 30, 1);
  Put32(r, 34, 1);
  Put32(r, 38, 1);
  Put32(r, 42, 8);
  Put32(r, 46, 0);
  memset(r + 50, 0xFF, 8);
  memset(r + 98, 0, 8);
  Put32(r, 114, FourthAnswer(q, context, 0));
  Put32(r, 118, 0);
}

void LoadFactorDefaults(uint8_t* r) {
  memset(r, 0, kFactorDefaultsBytes);
  Put32(r, 12, 4);
  Put32(r, 16, 0);
  r[25] = 0;
  r[20] = 1;
  PutFloat(r, 29, 1.0f);
  PutFloat(r, 57, 1.0f);
  PutFloat(r, 61, 1.0f);
  r[81] = 1;
  r[21] = 0x80;
  r[22] = 0x00;
  r[23] = 0x80;
  r[24] = 0x37;
  r[82] = 0;
}

void LoadScaleDefaults(uint8_t* r) {
  Put32(r, 0, 0);
  Put32(r, 4, 0);
  Put32(r, 8, 0);
  memset(r + 28, 0, 12);
  Put32(r, 24, 0);
  PutFloat(r, 40, 1.0f);
  PutFloat(r, 44, 1.0f);
  Put32(r, 48, 0);
  Put32(r, 52, 0);
  r[20] &= ~3;
}

void LoadVertexGroupDefaults(uint8_t* r, const VertexGroupLinks& links) {
  r[8] = 0x5C;
  r[9] = 0;
  r[10] &= ~3;
  r[12] = 0xB0;
  r[13] = static_cast<uint8_t>((r[13] | 0x03) & ~0xC0);
  r[14] = 0x52;
  r[15] &= 0x80;
  r[16] = static_cast<uint8_t>((r[16] & 0x08) | 0x01 | 0x20 | 0x80);
  r[17] = static_cast<uint8_t>((r[17] & 0x80) | 0x04 | 0x10);
  memset(r + 20, 0, 16);
  Put32(r, 40, 0);
  PutFloat(r, 36, 1.0f);
  memset(r + 72, 0, 48);
  memset(r + 120, 0, 336);
  memset(r + 456, 0, 96);
  memset(r + 552, 0, 16);
  memset(r + 580, 0, 16);
  for (size_t at : {568u, 572u, 576u}) Put32(r, at, 0xFFFFFFFF);
  for (size_t at : {596u, 600u, 604u, 608u, 612u, 632u}) PutFloat(r, at, 1.0f);
  for (size_t at : {616u, 620u, 624u, 628u}) Put32(r, at, 0);
  memset(r + 672, 0, 16);

  for (uint8_t* record : links.records)
    if (record != nullptr) memset(record, 0, 64);
  if (links.lightMask != nullptr && links.lightState != nullptr) {
    const uint32_t mask = *links.lightMask;
    for (uint32_t i = 0; i < kMergedLights; ++i)
      if ((mask >> i & 1) != 0) links.lightState[i + 1] |= links.lightState[i + 15];
    links.lightState[0] |= mask;
  }
  if (links.lightTable != nullptr) memset(links.lightTable, 0, kLightTableBytes);
}

void LoadTargetDefaults(uint8_t* r, RenderContext3d* context, const StateQueries3d& q) {
  memset(r, 0, kTargetDefaultsBytes);
  r[258] = 1;
  Put32(r, 13, Ask(q.target, context, 0));
}

static_assert(sizeof(RasterSubBlock) == 28);
void ClearRecord28(RasterSubBlock* record) { *record = RasterSubBlock{}; }
void ClearRecord35(FogValues* record) { *record = FogValues{}; }
void ClearRecord92(VertexSubBlock* record) { *record = VertexSubBlock{}; }
void ClearRecord4(uint32_t* record) { *record = 0; }

void ClearRegisterList(uint32_t* list) { memset(list, 0, 4 * kRegisterListWords); }

void EmptyStateHook() {}

// ---- The device's queries -------------------------------------------------------------------

namespace {

// The target-mode word the render state read from the device's 3D state
// owner when it was initialised.
class TargetModeQuery final : public StateQuery3d {
 public:
  constexpr TargetModeQuery() = default;
  uint32_t Answer(RenderContext3d* context, uint32_t) override {
    return context != nullptr ? context->state.deviceTargetMode : 0;
  }
};

class NoValueQuery final : public StateQuery3d {
 public:
  constexpr NoValueQuery() = default;
  uint32_t Answer(RenderContext3d*, uint32_t) override { return 0; }
};

constinit TargetModeQuery g_targetModeQuery;
constinit NoValueQuery g_noValueQuery;
constinit StateQueries3d g_deviceQueries = {
    {&g_noValueQuery, &g_noValueQuery, &g_noValueQuery, &g_targetModeQuery}, &g_noValueQuery};

uint32_t Get32(const uint8_t* record, size_t at) {
  uint32_t value;
  memcpy(&value, record + at, 4);
  return value;
}

}  // namespace

const StateQueries3d& DeviceStateQueries3d() { return g_deviceQueries; }

// ---- The render state's defaults --------------------------------------------------------------

void ApplyRasterDefaults(RenderState3d* state, const uint8_t* r) {
  RasterGroup& g = state->raster;
  g.dither = r[28];
  g.colourWriteMask = r[29];
  g.planeMask = Get32(r, 33);
  g.rasterOp = Get32(r, 37);
  g.antialias = Get32(r, 41);
  g.alphaTestEnable = r[45];
  g.alphaRef = r[46];
  g.alphaFunc = Get32(r, 50);
  g.blendEnable = r[54];
  g.blendOp = r[55];
  g.srcBlend[0] = Get32(r, 59);
  g.srcBlend[1] = Get32(r, 63);
  g.dstBlend[0] = Get32(r, 67);
  g.dstBlend[1] = Get32(r, 71);
  for (uint32_t i = 0; i < 4; ++i) g.blendConstants[i] = Get32(r, 75 + 4 * i);
}

void ApplyDepthStencilDefaults(RenderState3d* state, const uint8_t* v) {
  DepthStencilGroup& g = state->depthStencil;
  g.depthEnable = Get32(v, 20);
  g.depthWrite = v[24];
  g.depthFunc = v[25];
  g.stencil[0] = v[29];
  g.stencil[1] = Get32(v, 30);
  g.stencil[2] = Get32(v, 34);
  g.stencil[3] = Get32(v, 38);
  g.stencil[4] = Get32(v, 42);
  g.stencil[5] = Get32(v, 46);
  g.stencil[6] = Get32(v, 50);
  g.stencil[7] = Get32(v, 54);
}

void ApplyFogDefaults(RenderState3d* state, const uint8_t* s) {
  FogGroup& g = state->fog;
  g.colour = Get32(s, 8);
  g.enables = static_cast<uint8_t>((g.enables & ~3) | (Get32(s, 20) & 3));
  g.tableMode = Get32(s, 24);
  g.start = Get32(s, 28);
  g.end = Get32(s, 40);
  g.density = Get32(s, 44);
  g.vertexMode = Get32(s, 48);
  g.driverWord = Get32(s, 52);
}

namespace {

// The client's render states whose values the defaults set, so that a
// client value equal to the default is the unchanged value it is, and one
// that differs takes effect (a default of 15 with a stored 0 would skip a
// client's 0).
void SyncClientValues(RenderState3d* state) {
  const RasterGroup& r = state->raster;
  const DepthStencilGroup& d = state->depthStencil;
  const FogGroup& f = state->fog;
  const struct {
    uint32_t id;
    uint32_t value;
  } kept[] = {
      {26, r.dither},        {168, r.colourWriteMask}, {13, r.planeMask},       {12, r.rasterOp},
      {15, r.alphaTestEnable}, {24, r.alphaRef},       {25, r.alphaFunc},       {27, r.blendEnable},
      {171, r.blendOp},      {19, r.srcBlend[0]},      {20, r.dstBlend[0]},     {7, d.depthEnable},
      {14, d.depthWrite},    {23, d.depthFunc},        {34, f.colour},          {35, f.tableMode},
      {36, f.start},         {37, f.end},              {38, f.density},         {140, f.vertexMode},
      {28, f.enables & 1u},  {48, f.enables >> 1 & 1u},
  };
  for (const auto& k : kept) state->values[k.id] = k.value;
  for (uint32_t i = 0; i < 8; ++i) state->values[52 + i] = d.stencil[i];
  for (uint32_t i = 0; i < 4; ++i) state->driverValues[9 + i] = r.blendConstants[i];
  state->driverValues[26] = f.driverWord;
}

}  // namespace

// The groups of the render state take their start values: the raster,
// depth-stencil and fog groups from their packed records, the pipeline
// record (with the context's auxiliary samplers) and its unit record, the
// transform-and-lighting set-up's light records through the vertex-group
// loader, and the sub-blocks, the scratch words and the target record
// cleared. The factor record (the depth-stencil sub-block's: its flag and
// clip words are 0) and the packed records' remaining fields have no
// counterpart here: the depth scale it starts with is the target state's
// scale without a depth surface, which the target state keeps itself.
void LoadRenderStateDefaults3d(RenderState3d* state) {
  if (state == nullptr) return;
  RenderContext3d* context = state->owner;
  const StateQueries3d& queries = DeviceStateQueries3d();
  // One scratch record for every packed record in turn, the largest.
  static_assert(kVertexGroupBytes >= kRasterDefaultsBytes && kVertexGroupBytes >= kViewDefaultsBytes &&
                kVertexGroupBytes >= kScaleDefaultsBytes);
  uint8_t record[kVertexGroupBytes];

  memset(record, 0, kRasterDefaultsBytes);
  LoadRasterDefaults(record, context, 0, queries, nullptr);
  ApplyRasterDefaults(state, record);
  ClearRecord28(&state->rasterSub);

  memset(record, 0, kViewDefaultsBytes);
  LoadViewDefaults(record, context, queries);
  ApplyDepthStencilDefaults(state, record);
  static_assert(sizeof state->depthStencilSub >= kFactorDefaultsBytes);
  state->depthStencilSub = DepthStencilSubBlock{};
  LoadFactorDefaults(reinterpret_cast<uint8_t*>(&state->depthStencilSub));

  memset(record, 0, kScaleDefaultsBytes);
  LoadScaleDefaults(record);
  ApplyFogDefaults(state, record);
  ClearRecord35(&state->fogValues);

  state->pipelineState.Reset(context);
  state->pipelineSub = PipelineSubBlock{};
  state->pipelineSub.control = kPsubTargetKind2;
  state->extraWord = 0;

  if (TnlSetup* setup = context != nullptr ? context->tnl : nullptr) {
    static_assert(sizeof setup->lightStateWords == 4 * kLightStateWords);
    static_assert(sizeof setup->lightTable == kLightTableBytes);
    static_assert(sizeof setup->loaderRecords[0] == 64);
    memset(record, 0, kVertexGroupBytes);
    const VertexGroupLinks links = {&setup->lightEnableMask, setup->lightStateWords, setup->lightTable,
                                    {setup->loaderRecords[0], setup->loaderRecords[1]}};
    LoadVertexGroupDefaults(record, links);
  }
  ClearRecord92(&state->vertexSub);
  // The vertex engine transforms the vertices until a pre-transformed
  // layout is selected.
  state->vertexSub.vertexProgram = 1;
  memset(state->targetRecord, 0, sizeof state->targetRecord);
  ClearRecord4(&state->streams.scratch);
  SyncClientValues(state);
}
