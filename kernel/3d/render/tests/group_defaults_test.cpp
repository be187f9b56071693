// The render-state group defaults: golden byte images of the packed
// records from device-query doubles, the light-enable merge of the vertex
// group, and what the render state's LoadDefaults leaves.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "kernel/3d/render/group_defaults.h"
#include "core/heap_object.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/tests/kernel_fixture.h"

namespace {

class Fixed : public StateQuery3d {
 public:
  explicit Fixed(uint32_t v) : value(v) {}
  uint32_t Answer(RenderContext3d*, uint32_t argument) override {
    lastArgument = argument;
    ++calls;
    return value;
  }
  uint32_t value;
  uint32_t lastArgument = 0;
  int calls = 0;
};

void Expect32(const std::vector<uint8_t>& r, size_t at, uint32_t value) {
  uint32_t v;
  memcpy(&v, r.data() + at, 4);
  EXPECT_EQ(v, value) << "at " << at;
}
void ExpectFloat(const std::vector<uint8_t>& r, size_t at, float value) {
  float v;
  memcpy(&v, r.data() + at, 4);
  EXPECT_EQ(v, value) << "at " << at;
}

// Byte images start filled with 0xAA so that what a loader leaves shows.
std::vector<uint8_t> Filled(size_t n) { return std::vector<uint8_t>(n, 0xAA); }

TEST(GroupDefaults, RasterRecord) {
  Fixed first(0x11111111), second(0x22), third(0x7), fourth(0x45);
  StateQueries3d q{{&first, &second, &third, &fourth}, nullptr};
  std::vector<uint8_t> r = Filled(kRasterDefaultsBytes);
  RasterDefaultsOut out{0, 0xFF, 0x40};
  LoadRasterDefaults(r.data(), nullptr, 9, q, &out);
  EXPECT_EQ(r[28], 1);
  EXPECT_EQ(r[29], 15);
  EXPECT_EQ(r[45], 0);
  EXPECT_EQ(r[46], 0);
  EXPECT_EQ(r[54], 0);
  EXPECT_EQ(r[55], 1);
  Expect32(r, 8, 0x11111111);
  Expect32(r, 12, 0x45);
  Expect32(r, 16, 1);
  Expect32(r, 20, 1);
  Expect32(r, 33, 0xFFFFFFFF);
  Expect32(r, 37, 12);
  Expect32(r, 41, 0);
  Expect32(r, 50, 8);
  Expect32(r, 59, 2);
  Expect32(r, 63, 2);
  Expect32(r, 67, 1);
  Expect32(r, 71, 1);
  for (size_t at : {75u, 79u, 83u, 87u}) ExpectFloat(r, at, 1.0f);
  EXPECT_EQ(r[0], 0xAA);  // the dirty word is not the loader's
  EXPECT_EQ(r[24], 0xAA);
  EXPECT_EQ(first.lastArgument, 9u);
  EXPECT_EQ(out.word132, 0x22u);
  EXPECT_EQ(out.byte128, 0xFF);  // 7 & 3 = 3 into bits 5-6, which were set
  out = RasterDefaultsOut{0, 0, 0x40};
  LoadRasterDefaults(r.data(), nullptr, 0, q, &out);
  EXPECT_EQ(out.byte128, 0x60);
  out = RasterDefaultsOut{0, 0, 0x20};  // no bit of 6-9: the third query is not asked
  third.calls = 0;
  LoadRasterDefaults(r.data(), nullptr, 0, q, &out);
  EXPECT_EQ(out.byte128, 0);
  EXPECT_EQ(third.calls, 0);
  // While the feature flag is 0, bit 0 of the fourth answer is cleared.
  q.featureFlag = 0;
  LoadRasterDefaults(r.data(), nullptr, 0, q, nullptr);
  Expect32(r, 12, 0x44);
}

TEST(GroupDefaults, ViewRecord) {
  Fixed fourth(0x81);
  StateQueries3d q{{nullptr, nullptr, nullptr, &fourth}, nullptr};
  std::vector<uint8_t> r = Filled(kViewDefaultsBytes);
  LoadViewDefaults(r.data(), nullptr, q);
  EXPECT_EQ(r[24], 1);
  EXPECT_EQ(r[25], 4);
  EXPECT_EQ(r[29], 0);
  Expect32(r, 4, 1);
  Expect32(r, 8, 0);
  Expect32(r, 12, 0);
  ExpectFloat(r, 16, 1.0f);
  Expect32(r, 20, 0);
  Expect32(r, 30, 1);
  Expect32(r, 34, 1);
  Expect32(r, 38, 1);
  Expect32(r, 42, 8);
  Expect32(r, 46, 0);
  for (size_t at = 50; at < 58; ++at) EXPECT_EQ(r[at], 0xFF) << at;
  for (size_t at = 58; at < 74; ++at) EXPECT_EQ(r[at], 0) << at;
  Expect32(r, 82, 0);
  Expect32(r, 86, 0);
  Expect32(r, 90, 640);
  Expect32(r, 94, 480);
  for (size_t at = 98; at < 106; ++at) EXPECT_EQ(r[at], 0) << at;
  Expect32(r, 106, 640);
  Expect32(r, 110, 480);
  Expect32(r, 114, 0x81);
  Expect32(r, 118, 0);
  EXPECT_EQ(r[74], 0xAA);
}

TEST(GroupDefaults, FactorAndScaleRecords) {
  std::vector<uint8_t> f = Filled(kFactorDefaultsBytes);
  LoadFactorDefaults(f.data());
  std::vector<uint8_t> golden(kFactorDefaultsBytes, 0);
  auto put = [&](size_t at, uint32_t v) { memcpy(golden.data() + at, &v, 4); };
  auto putf = [&](size_t at, float v) { memcpy(golden.data() + at, &v, 4); };
  put(12, 4);
  golden[20] = 1;
  golden[21] = 0x80;
  golden[22] = 0x00;
  golden[23] = 0x80;
  golden[24] = 0x37;
  putf(29, 1.0f);
  putf(57, 1.0f);
  putf(61, 1.0f);
  golden[81] = 1;
  EXPECT_EQ(f, golden);

  std::vector<uint8_t> s = Filled(kScaleDefaultsBytes);
  LoadScaleDefaults(s.data());
  for (size_t at : {0u, 4u, 8u, 24u, 28u, 32u, 36u, 48u, 52u}) Expect32(s, at, 0);
  ExpectFloat(s, 40, 1.0f);
  ExpectFloat(s, 44, 1.0f);
  EXPECT_EQ(s[20], 0xA8);  // bits 0-1 cleared, the rest kept
  EXPECT_EQ(s[12], 0xAA);
}

TEST(GroupDefaults, VertexGroupAndItsLights) {
  std::vector<uint8_t> r = Filled(kVertexGroupBytes);
  uint32_t mask = (1u << 0) | (1u << 3) | (1u << 20);
  uint32_t lightState[kLightStateWords];
  for (uint32_t i = 0; i < kLightStateWords; ++i) lightState[i] = 1u << i;
  std::vector<uint8_t> table(kLightTableBytes, 0x5A);
  uint8_t records[2][64];
  memset(records, 0x77, sizeof records);
  VertexGroupLinks links{&mask, lightState, table.data(), {records[0], records[1]}};
  LoadVertexGroupDefaults(r.data(), links);
  EXPECT_EQ(r[8], 0x5C);
  EXPECT_EQ(r[9], 0);
  EXPECT_EQ(r[10], 0xA8);
  EXPECT_EQ(r[12], 0xB0);
  EXPECT_EQ(r[13], 0x2B);
  EXPECT_EQ(r[14], 0x52);
  EXPECT_EQ(r[15], 0x80);
  EXPECT_EQ(r[16], 0xA9);
  EXPECT_EQ(r[17], 0x94);
  for (size_t at = 20; at < 36; ++at) EXPECT_EQ(r[at], 0) << at;
  ExpectFloat(r, 36, 1.0f);
  Expect32(r, 40, 0);
  for (size_t at : {72u, 119u, 120u, 455u, 456u, 551u, 552u, 567u, 580u, 595u}) EXPECT_EQ(r[at], 0) << at;
  for (size_t at : {568u, 572u, 576u}) Expect32(r, at, 0xFFFFFFFF);
  for (size_t at : {596u, 600u, 604u, 608u, 612u, 632u}) ExpectFloat(r, at, 1.0f);
  for (size_t at : {616u, 620u, 624u, 628u}) Expect32(r, at, 0);
  for (size_t at = 672; at < 688; ++at) EXPECT_EQ(r[at], 0) << at;
  EXPECT_EQ(r[44], 0xAA);
  // Word i + 1 |= word i + 15 for each enabled light; word 0 |= mask; a
  // mask bit past the block's lights merges nothing.
  EXPECT_EQ(lightState[0], 1u | mask);
  EXPECT_EQ(lightState[1], (1u << 1) | (1u << 15));
  EXPECT_EQ(lightState[4], (1u << 4) | (1u << 18));
  EXPECT_EQ(lightState[2], 1u << 2);
  EXPECT_EQ(lightState[21], 1u << 21);
  for (uint8_t b : table) ASSERT_EQ(b, 0);
  for (auto& rec : records)
    for (uint8_t b : rec) ASSERT_EQ(b, 0);
}

TEST(GroupDefaults, TargetRecordAndClears) {
  Fixed target(0xCAFE0001);
  StateQueries3d q{{nullptr, nullptr, nullptr, nullptr}, &target};
  std::vector<uint8_t> r = Filled(kTargetDefaultsBytes);
  LoadTargetDefaults(r.data(), nullptr, q);
  std::vector<uint8_t> golden(kTargetDefaultsBytes, 0);
  golden[258] = 1;
  const uint32_t v = 0xCAFE0001;
  memcpy(golden.data() + 13, &v, 4);
  EXPECT_EQ(r, golden);
  uint32_t list[kRegisterListWords];
  memset(list, 0xFF, sizeof list);
  ClearRegisterList(list);
  for (uint32_t w : list) EXPECT_EQ(w, 0u);
  EmptyStateHook();
}

class StateDefaults : public ktest::KernelTest {};

TEST_F(StateDefaults, TheRenderStatesGroupsStartOver) {
  RenderContext3d* context = OsNew<RenderContext3d>();
  ASSERT_NE(context, nullptr);
  RenderState3d& state = context->state;
  state.owner = nullptr;
  state.rasterSub.flags = 7;
  state.pipelineSub.first = 3;
  state.targetRecord[8] = 9;
  state.pipelineState.stageMask = 0;
  state.LoadDefaults();
  EXPECT_EQ(state.rasterSub.flags, 0u);
  EXPECT_EQ(state.pipelineSub.first, 0u);
  EXPECT_EQ(state.pipelineSub.control, kPsubTargetKind2);
  EXPECT_EQ(state.targetRecord[8], 0u);
  EXPECT_EQ(state.pipelineState.stageMask, 0x1FFFFu);
  OsDelete(context);
}

float FloatOf(uint32_t w) {
  float f;
  memcpy(&f, &w, sizeof f);
  return f;
}

TEST_F(StateDefaults, TheGroupsTakeThePackedRecordsValues) {
  RenderContext3d* context = OsNew<RenderContext3d>();
  ASSERT_NE(context, nullptr);
  context->tnl = new TnlSetup;
  ASSERT_NE(context->tnl, nullptr);
  RenderState3d& state = context->state;
  state.owner = context;
  state.deviceTargetMode = 0x35;
  // What the vertex-group loader finds in the set-up.
  TnlSetup& tnl = *context->tnl;
  tnl.lightEnableMask = 0x5;
  tnl.lightStateWords[15] = 0x100;
  tnl.lightStateWords[17] = 0x200;
  tnl.lightStateWords[16] = 0x400;  // light 1 is off: not merged
  tnl.lightTable[4095] = 1;
  tnl.loaderRecords[1][63] = 1;
  state.fog.enables = 0x7;
  state.LoadDefaults();

  const RasterGroup& r = state.raster;
  EXPECT_EQ(r.dither, 1u);
  EXPECT_EQ(r.colourWriteMask, 15u);
  EXPECT_EQ(r.planeMask, 0xFFFFFFFFu);
  EXPECT_EQ(r.rasterOp, 12u);
  EXPECT_EQ(r.alphaFunc, 8u);
  EXPECT_EQ(r.srcBlend[0], 2u);
  EXPECT_EQ(r.srcBlend[1], 2u);
  EXPECT_EQ(r.dstBlend[0], 1u);
  EXPECT_EQ(r.dstBlend[1], 1u);
  EXPECT_EQ(r.blendOp, 1u);
  EXPECT_EQ(r.blendEnable, 0u);
  for (uint32_t w : r.blendConstants) EXPECT_EQ(FloatOf(w), 1.0f);
  EXPECT_EQ(r.targetMode, 0u);  // off until the client switches it on
  const DepthStencilGroup& d = state.depthStencil;
  EXPECT_EQ(d.depthEnable, 0u);
  EXPECT_EQ(d.depthWrite, 1u);
  EXPECT_EQ(d.depthFunc, 4u);
  const uint32_t stencil[8] = {0, 1, 1, 1, 8, 0, 0xFFFFFFFF, 0xFFFFFFFF};
  for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(d.stencil[i], stencil[i]) << i;
  EXPECT_EQ(d.targetMode, 0u);
  EXPECT_EQ(state.fog.enables, 0x4);  // fog and range fog off, the rest kept
  EXPECT_EQ(FloatOf(state.fog.end), 1.0f);
  EXPECT_EQ(FloatOf(state.fog.density), 1.0f);
  EXPECT_EQ(state.fog.start, 0u);
  // The vertex fog follows the fog group.
  EXPECT_EQ(FloatOf(state.vertex.fog.startEnd[1][1]), 1.0f);
  EXPECT_EQ(FloatOf(state.vertex.fog.density), 1.0f);
  // The client values of those states are the defaults.
  struct Value {
    uint32_t id, value;
  };
  for (const Value v : {Value{26, 1}, Value{168, 15}, Value{13, 0xFFFFFFFF}, Value{12, 12}, Value{25, 8},
                        Value{19, 2}, Value{20, 1}, Value{171, 1}, Value{14, 1}, Value{23, 4}, Value{56, 8},
                        Value{58, 0xFFFFFFFF}, Value{37, 0x3F800000}, Value{38, 0x3F800000}, Value{28, 0}})
    EXPECT_EQ(state.values[v.id], v.value) << v.id;
  EXPECT_EQ(state.driverValues[9], 0x3F800000u);
  // The set-up's light words: word i + 1 takes word i + 15 for each light
  // on, word 0 the mask; its table and records cleared.
  EXPECT_EQ(tnl.lightStateWords[1], 0x100u);
  EXPECT_EQ(tnl.lightStateWords[2], 0u);
  EXPECT_EQ(tnl.lightStateWords[3], 0x200u);
  EXPECT_EQ(tnl.lightStateWords[0], 0x5u);
  EXPECT_EQ(tnl.lightTable[4095], 0);
  EXPECT_EQ(tnl.loaderRecords[1][63], 0);
  OsDelete(context);
}

TEST_F(StateDefaults, TheDeviceQueries) {
  // The fourth query is the target-mode word the render state read; the
  // others have no value on these boards.
  RenderContext3d* context = OsNew<RenderContext3d>();
  ASSERT_NE(context, nullptr);
  context->state.deviceTargetMode = 0x9;
  const StateQueries3d& q = DeviceStateQueries3d();
  EXPECT_EQ(q.raster[3]->Answer(context, 0), 0x9u);
  EXPECT_EQ(q.raster[3]->Answer(nullptr, 0), 0u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(q.raster[i]->Answer(context, 5), 0u) << i;
  EXPECT_EQ(q.target->Answer(context, 0), 0u);
  // The feature flag clears bit 0 of the fourth answer in the records.
  std::vector<uint8_t> view = Filled(kViewDefaultsBytes);
  StateQueries3d flagOff = q;
  flagOff.featureFlag = 0;
  LoadViewDefaults(view.data(), context, flagOff);
  Expect32(view, 114, 0x8);
  OsDelete(context);
}

TEST_F(StateDefaults, TheDepthStencilSubBlockIsTheFactorRecord) {
  // A render state starts its depth-stencil sub-block from the factor
  // record: the golden 83 bytes, written over whatever was there.
  RenderContext3d* context = OsNew<RenderContext3d>();
  ASSERT_NE(context, nullptr);
  RenderState3d& state = context->state;
  state.owner = nullptr;
  memset(&state.depthStencilSub, 0xAA, sizeof state.depthStencilSub);
  state.LoadDefaults();
  std::vector<uint8_t> golden(kFactorDefaultsBytes, 0);
  const uint32_t four = 4;
  const float one = 1.0f;
  memcpy(golden.data() + 12, &four, 4);
  golden[20] = 1;
  golden[21] = 0x80;
  golden[23] = 0x80;
  golden[24] = 0x37;
  for (size_t at : {29, 57, 61}) memcpy(golden.data() + at, &one, 4);
  golden[81] = 1;
  const auto* bytes = reinterpret_cast<const uint8_t*>(&state.depthStencilSub);
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + kFactorDefaultsBytes), golden);
  EXPECT_EQ(state.depthStencilSub.flags, 0u);
  EXPECT_EQ(state.depthStencilSub.clip[0], 0u);
  EXPECT_EQ(state.depthStencilSub.clip[1], 0u);
  OsDelete(context);
}

}  // namespace
