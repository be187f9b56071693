// The video hardware layer in bus-mastering mode 0: the frame's packet
// stream against the one assembled here from the register programme, the
// colour stages against a reference conversion, system memory pages, the
// upload from system memory as the board's engine carries it out, video
// surfaces, the tag wait, and the overlay's scaler with its VSync requests.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/bm_transform.h"
#include "core/mm_surface_manager.h"
#include "xdriver/context2d.h"
#include "xdriver/surface2d.h"
#include "xdriver/tests/video_fixture.h"
#include "xdriver/video_layer.h"

namespace {

using videotest::KernelVideoTest;

uint32_t NextTag(uint32_t t) {
  t += 8;
  return t == 0 ? 8 : t;
}
uint32_t Float(float f) {
  uint32_t w;
  std::memcpy(&w, &f, 4);
  return w;
}

// The frame's programme as the register description gives it, word by word.
struct FrameArgs {
  bool later;
  uint32_t fourcc, y, p1, p2, srcW, srcH, dst;
  int32_t kind;
  uint32_t dstW, dstH, format;
  uint32_t constants[3][4];  // of the three stages
};

std::vector<uint32_t> GoldenFrame(const FrameArgs& a, uint32_t counter, uint32_t streamBit,
                                  uint32_t* lastTag) {
  std::vector<uint32_t> w;
  auto add = [&w](std::initializer_list<uint32_t> l) { w.insert(w.end(), l); };
  const uint32_t t1 = NextTag(counter), t2 = NextTag(t1), t3 = NextTag(t2);
  const bool planar = a.fourcc == kFourccYV12 || a.fourcc == kFourccI420;
  add({0xafafddc0, 0x707, 0, t1 | streamBit, t1});
  add({0x21218988, a.dst, a.dstW | a.format << 24 | (a.kind == -1 ? 0x40000u : 0x30000u)});
  add({0x2121bac0, a.later ? 0x410CCu : 0x2410CCu, 0});
  auto unit = [&](uint32_t u, uint32_t plane, uint32_t width, uint32_t height) {
    add({0x212121dd, 0});
    add({0x79787780 + u, (1u << u) | 0x40100, plane, width, height | 0x10000});
    add({0x74737170, 0x1010, 0x49, 0xFFFFFFFF, 0});
    add({0x21767572, 0, 0, 0});
    if (a.later && u < 2) add({0x2121217a, planar ? 0x1200000u : 0u});
  };
  auto off = [&](uint32_t u) {
    add({0x212121dd, 0});
    add({0x79787780 + u, (1u << u) | 0x10000, 0, 0, 0});
  };
  if (planar) {
    const uint32_t cr = a.fourcc == kFourccYV12 ? a.p2 : a.p1;
    const uint32_t cb = a.fourcc == kFourccYV12 ? a.p1 : a.p2;
    unit(0, a.y, a.srcW | 0x12020000, a.srcH);
    unit(1, cr, (a.srcW >> 1) | 0x12020000, a.srcH >> 1);
    unit(2, cb, (a.srcW >> 1) | 0x12020000, a.srcH >> 1);
  } else {
    unit(0, a.y, a.srcW | 0x2e020000, a.srcH);
    off(1);
    off(2);
  }
  off(3);
  const uint32_t controls[3] = {0x703C000, planar ? 0x7010040u : 0x7010000u,
                                planar ? 0x7010020u : 0x7010000u};
  const uint32_t seconds[3] = {planar ? 0x400804u : 0x400803u, planar ? 0x400804u : 0x400802u,
                               planar ? 0x440804u : 0x440801u};
  const uint32_t numbers[3] = {0, 2, 4};
  for (int i = 0; i < 3; ++i) {
    add({0x20209b99, controls[i] | numbers[i], seconds[i], 0, 0});
    add({0xa1a09f9e, a.constants[i][0], a.constants[i][1], a.constants[i][2], a.constants[i][3]});
  }
  const uint32_t one = Float(1.0f), fw = Float(static_cast<float>(a.dstW)),
                 fh = Float(static_cast<float>(a.dstH));
  add({0x635e5d58, 0, 0, 0, 0, 0x645e5d58, 0, 0, 0, 0, 0x655e5d58, 0, 0, 0, 0});
  add({0x605e5d58, one, 0, 0, 0});
  add({0x635e5d59, 0, 0, 0, one, 0x645e5d59, 0, 0, 0, one, 0x655e5d59, 0, 0, 0, one});
  add({0x605e5d59, one, 0, 0, fw});
  add({0x635e5d5a, 0, 0, one, 0, 0x645e5d5a, 0, 0, one, 0, 0x655e5d5a, 0, 0, one, 0});
  add({0x605f5d5a, one, 0, fh, 0});
  for (uint32_t u = 0; u < 4; ++u) {
    add({0x72717080 + u, 0x40100 | (1u << u), 0, 585, 0});
    add({0x76757473, 0xFFFFFFFF, 0, 0, 0});
    if (a.later) add({0x2121217a, 0});
  }
  add({0x212121dd, 0});
  add({0x83828180, 0x1000F, 0, 0, 0});
  add({0x212121c0, 0x2010CC});
  for (uint32_t n : {0u, 2u, 4u, 8u, 10u}) add({0x9a989b99, 128 | n, 0x400400, 128, 0x400400});
  add({0x212121dd, 0});
  add({0xafafddc0, 0x707, 0, t2 | streamBit, t2});
  add({0x212121af, t3});
  *lastTag = t3;
  return w;
}

// ---- The reference conversion ----------------------------------------------------------
// What the colour controls mean: Y' = contrast (Y - 1/16) + brightness,
// (Cb', Cr') the hue rotation and the saturation of (Cb - 1/2, Cr - 1/2),
// then BT.601 studio range to RGB.
struct Controls {
  double brightness = 0, contrast = 1, saturation = 1, hue = 0;
};
void Convert(const Controls& c, const double in[3], double out[3]) {
  const double y = c.contrast * (in[0] - 0.0625) + c.brightness;
  const double cb0 = in[1] - 0.5, cr0 = in[2] - 0.5;
  const double cb = c.saturation * (cb0 * std::cos(c.hue) - cr0 * std::sin(c.hue));
  const double cr = c.saturation * (cb0 * std::sin(c.hue) + cr0 * std::cos(c.hue));
  out[0] = 1.164 * y + 1.596 * cr;
  out[1] = 1.164 * y - 0.392 * cb - 0.813 * cr;
  out[2] = 1.164 * y + 2.017 * cb;
}
uint32_t RefField(double v) { return static_cast<uint32_t>(static_cast<int32_t>(v * 1024)) & 0x7FF; }
// The stage constants of the reference: coefficient of input i to R, to B
// and G, and the offsets.
void ReferenceConstants(const Controls& c, uint32_t out[3][4]) {
  const double zero[3] = {0, 0, 0};
  double o[3];
  Convert(c, zero, o);
  for (int i = 0; i < 3; ++i) {
    double unit[3] = {0, 0, 0}, v[3];
    unit[i] = 1;
    Convert(c, unit, v);
    const double r = (v[0] - o[0]) * 0.2490234375, g = (v[1] - o[1]) * 0.2490234375,
                 b = (v[2] - o[2]) * 0.2490234375;
    out[i][0] = RefField(r);
    out[i][1] = RefField(b) | RefField(g) << 16;
    out[i][2] = RefField(o[0] * 0.25);
    out[i][3] = RefField(o[2] * 0.25) | RefField(o[1] * 0.25) << 16;
  }
}
// Two fields of 11 bits, each within one of the reference's.
bool FieldsClose(uint32_t a, uint32_t b) {
  auto field = [](uint32_t w, int shift) {
    int32_t v = static_cast<int32_t>((w >> shift) & 0x7FF);
    return v >= 0x400 ? v - 0x800 : v;
  };
  return std::abs(field(a, 0) - field(b, 0)) <= 1 && std::abs(field(a, 16) - field(b, 16)) <= 1 &&
         (a & ~0x7FF07FFu) == 0;
}

// The stage constants a frame carried: the data of the three 0xa1a09f9e headers.
std::vector<std::vector<uint32_t>> StageConstants(const std::vector<uint32_t>& words) {
  std::vector<std::vector<uint32_t>> out;
  for (size_t i = 0; i + 4 < words.size(); ++i) {
    if (words[i] == 0xa1a09f9e) out.push_back({words[i + 1], words[i + 2], words[i + 3], words[i + 4]});
  }
  return out;
}

class VideoLayer : public KernelVideoTest {
 protected:
  void SetUp() override {
    KernelVideoTest::SetUp();
    ORVVideoInit(pdev_, &port_);
    ASSERT_NE(port_, nullptr);
  }
  void TearDown() override {
    ORVVideoCleanup(port_);
    KernelVideoTest::TearDown();
  }

  // One frame; answers the words it wrote.
  std::vector<uint32_t> Display(uint32_t fourcc, int32_t kind = -1, uint32_t index = 0) {
    BmPrimInt* prim = pdev_->primInt;
    const uint32_t* from = prim->cursor;
    ORVVideoDisplay(port_, fourcc, 0x300000, 0x340000, 0x350000, 128, 64, 0x400000, index, kind,
                    200, 100, 50);
    return WordsSince(prim, from);
  }

  ORVVideoPortPtr port_ = nullptr;
};

struct FrameCase {
  const char* name;
  uint16_t device;
  uint32_t fourcc;
  int32_t kind;
};

void PrintTo(const FrameCase& c, std::ostream* out) { *out << c.name; }

class VideoFrame : public VideoLayer, public testing::WithParamInterface<FrameCase> {
 protected:
  VideoFrame() { device_id_ = GetParam().device; }
};

TEST_P(VideoFrame, TheFrameIsTheRegisterProgrammeWordForWord) {
  const FrameCase& c = GetParam();
  const uint32_t counter = pdev_->sharedLocked->syncTagCounter;
  const uint32_t streamBit = pdev_->primInt->postingFlags & 1;
  kernel_->ClearCalls();
  const auto words = Display(c.fourcc, c.kind, 1);

  FrameArgs a{c.device >= 0x5D61, c.fourcc, 0x300000, 0x340000, 0x350000, 128, 64, 0x400000,
              c.kind, 200, 100, 50, {}};
  ReferenceConstants(Controls{}, a.constants);
  uint32_t tag = 0;
  EXPECT_EQ(words, GoldenFrame(a, counter, streamBit, &tag));
  EXPECT_EQ(port_->tags[1], tag);
  EXPECT_EQ(port_->tags[0], 0u);

  // Posted as the kind asks: the primary buffer, or a video buffer of the
  // buffer index with 5 and the head's word.
  auto posts = kernel_->CallsTo(0x1b);
  ASSERT_EQ(posts.size(), 1u);
  OrvDmaPostRequest request;
  std::memcpy(&request, posts[0].record.data(), sizeof request);
  if (c.kind == -1) {
    EXPECT_EQ(request.kind, kDmaPostPrimary);
  } else {
    EXPECT_EQ(request.kind, kDmaPostVideo);
    EXPECT_EQ(request.video[0], 1u);
    EXPECT_EQ(request.video[1], 5u);
    EXPECT_EQ(request.video[2], c.kind == 2 ? 12u : c.kind == 1 ? 8u : 4u);
  }
  // The engine ran it: the buffer's tag has passed.
  EXPECT_TRUE(ORVVideoWait(port_, 1));
  EXPECT_TRUE(engine2d_->Faults().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Frames, VideoFrame,
    testing::Values(FrameCase{"Yuy2Primary", 0x0A41, kFourccYUY2, -1},
                    FrameCase{"UyvyHead1LaterBoard", 0x5D63, kFourccUYVY, 1},
                    FrameCase{"Yv12Head0", 0x0A41, kFourccYV12, 0},
                    FrameCase{"I420MergedLaterBoard", 0x5D62, kFourccI420, 2}),
    [](const testing::TestParamInfo<FrameCase>& i) { return std::string(i.param.name); });

TEST_F(VideoLayer, ColourStagesFollowTheControls) {
  // Brightness, contrast, saturation and hue as the Xv attributes hand them
  // over: 40 / 256, 1 + 60 / 128, 1 - 100 / 128, -128 / 128 x 3.1415.
  const Controls c{40.0 / 256, 1 + 60.0 / 128, 1 - 100.0 / 128, -3.1415};
  ORVVideoSetBrightness(port_, static_cast<float>(c.brightness));
  ORVVideoSetContrast(port_, static_cast<float>(c.contrast));
  ORVVideoSetSaturation(port_, static_cast<float>(c.saturation));
  ORVVideoSetHue(port_, static_cast<float>(c.hue));
  const auto stages = StageConstants(Display(kFourccYV12));
  ASSERT_EQ(stages.size(), 3u);
  uint32_t reference[3][4];
  ReferenceConstants(c, reference);
  for (int i = 0; i < 3; ++i) {
    for (int k = 0; k < 4; ++k) {
      EXPECT_TRUE(FieldsClose(stages[i][k], reference[i][k]))
          << "stage " << i << " constant " << k << ": " << std::hex << stages[i][k] << " against "
          << reference[i][k];
    }
  }
}

TEST_F(VideoLayer, TheSameFourccTwiceSendsTheStoredStagesAgain) {
  const auto first = StageConstants(Display(kFourccYUY2));
  ASSERT_EQ(first.size(), 3u);
  // A control changed behind the layer's back is not seen until a setter
  // or an invalidation marks the port.
  port_->contrast.e[0] = 0.25f;
  EXPECT_EQ(StageConstants(Display(kFourccYUY2)), first);
  ORVVideoInvalidate(port_);
  const auto rebuilt = StageConstants(Display(kFourccYUY2));
  EXPECT_NE(rebuilt, first);
  // Another FOURCC rebuilds too: the stored contrast is now part of it.
  port_->contrast.e[0] = 1.0f;
  EXPECT_NE(StageConstants(Display(kFourccUYVY)), rebuilt);
  EXPECT_EQ(port_->lastFourcc, kFourccUYVY);
}

TEST_F(VideoLayer, SystemMemoryComesInPagesOf4000BytesAgpFirst) {
  kernel_->ClearCalls();
  void* cpu = nullptr;
  uint64_t bus = 0;
  ASSERT_EQ(ORVVideoAllocSystemMem(port_, 4001, &cpu, &bus), kVideoMemAgp);
  auto asks = kernel_->CallsTo(0x01);
  ASSERT_EQ(asks.size(), 1u);
  xstub::BufferRecord record;
  std::memcpy(&record, asks[0].record.data(), sizeof record);
  EXPECT_EQ(record.kind, 2u);
  EXPECT_EQ(record.size, 2u * 4096) << "4,001 bytes are two pages";
  ASSERT_NE(kernel_->FindBuffer(bus), nullptr) << "the bus address is the buffer's offset";
  EXPECT_EQ(kernel_->FindBuffer(bus)->kind, 2u);
  ORVVideoFreeSystemMem(port_, cpu, kVideoMemAgp);
  EXPECT_EQ(kernel_->FindBuffer(bus), nullptr);

  kernel_->RefuseAgpBuffers(true);
  ASSERT_EQ(ORVVideoAllocSystemMem(port_, 8000, &cpu, &bus), kVideoMemPciLocked);
  ASSERT_NE(kernel_->FindBuffer(bus), nullptr);
  EXPECT_EQ(kernel_->FindBuffer(bus)->kind, 1u);
  EXPECT_EQ(kernel_->FindBuffer(bus)->size, 2u * 4096);
  ORVVideoFreeSystemMem(port_, cpu, kVideoMemPciLocked);
  EXPECT_EQ(kernel_->FindBuffer(bus), nullptr);

  kernel_->SetAnswer(0x01, -12);
  EXPECT_EQ(ORVVideoAllocSystemMem(port_, 100, &cpu, &bus), kVideoMemNone);
  EXPECT_EQ(cpu, nullptr);
  EXPECT_EQ(ORVVideoAllocSystemMem(port_, 0, &cpu, &bus), kVideoMemNone);
}

TEST_F(VideoLayer, AnUploadCopiesSystemMemoryIntoVideoMemory) {
  kernel_->RefuseAgpBuffers(true);
  void* cpu = nullptr;
  uint64_t bus = 0;
  ASSERT_EQ(ORVVideoAllocSystemMem(port_, 64 * 8 * 2, &cpu, &bus), kVideoMemPciLocked);
  auto* bytes = static_cast<uint8_t*>(cpu);
  for (int i = 0; i < 64 * 8 * 2; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  const uint32_t dst = ORVVideoAllocLocalSurface(port_, 64 * 8 * 2, 1);
  ASSERT_NE(dst, 0u);

  BmPrimInt* prim = pdev_->primInt;
  const uint32_t* from = prim->cursor;
  ORVVideoSystem2Local(port_, kFourccYUY2, bus, dst, 64, 8, kVideoMemPciLocked);
  const std::vector<uint32_t> expected = {
      0x212121ba, 0,
      0x8a8b8889, 0x2e810000 | 64, static_cast<uint32_t>(bus) | 3, 0x2e030000 | 64, dst,
      0xc3c2c1c0, 0x2004C2, 0, 0, 64 | 8 << 16,
      0xc3e9c2c1, 0, 0, 0xFFFFFFFF, 0};
  EXPECT_EQ(WordsSince(prim, from), expected);
  EXPECT_EQ(std::memcmp(board_->LocalMemory() + dst, bytes, 64 * 8 * 2), 0)
      << "the rows landed in video memory";
  EXPECT_TRUE(engine2d_->Faults().empty());
  ORVVideoFreeSystemMem(port_, cpu, kVideoMemPciLocked);
}

TEST_F(VideoLayer, ABlitIsOnePacketFromSurfaceToSurface) {
  BmPrimInt* prim = pdev_->primInt;
  const uint32_t* from = prim->cursor;
  ORVVideoBlit(port_, 0x200000, 1024, 50, 10, 20, 0x300000, 320, 3, 4, 30, 40);
  const std::vector<uint32_t> expected = {0x212121ba, 0,
                                          0x8a8b8889, 320 | 50u << 24 | 0x40000, 0x300000,
                                          1024 | 50u << 24 | 0x30000, 0x200000,
                                          0xe3c2c1c0, 0x4C2, 3 | 4 << 16, 10 | 20 << 16,
                                          30 | 40 << 16};
  EXPECT_EQ(WordsSince(prim, from), expected);
}

TEST_F(VideoLayer, SurfacesArePlacedByTheirSlotsMemoryTypeAndGoneWhenFreed) {
  TakeBlocks();
  const uint32_t a = ORVVideoAllocLocalSurface(port_, 10000, 0);
  const uint32_t b = ORVVideoAllocLocalSurfaceByDim(port_, 100, 50, 16, 1);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  auto blocks = TakeBlocks();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].memoryType, 19u);
  EXPECT_EQ(blocks[0].bus, a);
  EXPECT_GE(blocks[0].size, 10000u);
  EXPECT_EQ(blocks[1].memoryType, 21u);
  EXPECT_EQ(blocks[1].bus, b);
  // By dimensions: pitch 128 (100 aligned to 32), layout 4, format 32 at 16 bits.
  const Surface2d* s = port_->surfaces[1];
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->ModeWord(), 128u | 4u << 16 | 32u << 24);
  EXPECT_EQ(s->DimensionsWord() & 0x3FFF, 50u);

  kernel_->ClearCalls();
  ORVVideoFreeLocalSurface(port_, 0);
  EXPECT_EQ(port_->surfaces[0], nullptr);
  ASSERT_EQ(kernel_->CallsTo(0x19).size(), 1u) << "the block goes back to the module";
  ORVVideoFreeLocalSurface(port_, 0);  // an empty slot
  EXPECT_EQ(kernel_->CallsTo(0x19).size(), 1u);

  // A refused placement answers 0 and leaves the slot empty.
  machine_->refuseBlocks = 1;
  EXPECT_EQ(ORVVideoAllocLocalSurfaceByDim(port_, 640, 480, 32, 0), 0u);
  EXPECT_EQ(port_->surfaces[0], nullptr);
}

TEST_F(VideoLayer, TheWaitGivesUpOnATagTheEngineNeverReachesAndSaysSo) {
  EXPECT_TRUE(ORVVideoWait(port_, 0)) << "no frame yet";
  kernel_->SetAnswer(0x1b, 0);  // posts accepted, never run
  Display(kFourccYUY2, -1, 0);
  EXPECT_FALSE(ORVVideoWait(port_, 0));
  EXPECT_TRUE(box_->Logged("[orv] *ERROR* sync tag 0x"));
}

// Memory just placed that the engine may still read for its previous owner
// is not used, and not given back either (the module would place it
// again): the scaler interface's command buffer, then the scaler surface,
// stay set aside until the device goes.
TEST_F(VideoLayer, ScalerMemoryTheEngineStillReadsIsSetAsideNotFreed) {
  SharedLockedData_t* shared = pdev_->sharedLocked;
  MmSurfaceManager* manager = pdev_->surfaceManager;
  const uint32_t counter = shared->bufferCounter;
  // The engine reports a buffer the driver has not counted yet: every block
  // counts as one the engine still reads.
  auto stall = [&](bool on) {
    shared->completedBufferCounter = on ? counter + 1 : counter;
    shared->notBusyOverride = 0;
  };
  struct Step {
    const char* line;  // the wait that runs out
  };
  const Step steps[] = {{"[orv] *ERROR* command buffer memory: DMA"}, {"[orv] *ERROR* video surface: DMA"}};
  size_t setAside = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.line);
    box_->ClearMessages();
    stall(true);
    const size_t before = machine_->blocks.size();
    void* cpu = nullptr;
    uint32_t pitch = 0;
    EXPECT_EQ(ORVVideoAllocHWScalerSurface(port_, kFourccYUY2, 100, 40, 0, &cpu, &pitch), 0u);
    EXPECT_TRUE(box_->Logged(step.line)) << box_->LogText();
    EXPECT_EQ(cpu, nullptr);
    EXPECT_EQ(port_->surfaces[0], nullptr);
    ASSERT_GT(machine_->blocks.size(), before);
    EXPECT_FALSE(machine_->blocks.back().freed) << "given back while the engine may read it";
    EXPECT_EQ(manager->SetAsideCount(), ++setAside);
    // The engine catches up; the interface is placed, the surface not yet.
    stall(false);
    if (&step == &steps[0]) {
      ASSERT_NE(ORVVideoAllocHWScalerSurface(port_, kFourccYUY2, 100, 40, 0, &cpu, &pitch), 0u);
      ORVVideoFreeLocalSurface(port_, 0);
      ASSERT_NE(port_->scalerInterface, nullptr);
    }
  }
}

// A slot's surface replaced while a frame the engine never finishes may
// still use it: the old memory is set aside, not given back to the module
// for another owner; once the frame has ended, a replaced surface goes back.
TEST_F(VideoLayer, ASurfaceAFrameMayStillUseIsSetAsideWhenReplaced) {
  MmSurfaceManager* manager = pdev_->surfaceManager;
  ASSERT_NE(ORVVideoAllocLocalSurface(port_, 10000, 0), 0u);
  kernel_->SetAnswer(0x1b, 0);  // posts accepted, never run
  Display(kFourccYUY2, -1, 0);
  kernel_->ClearCalls();
  ASSERT_NE(ORVVideoAllocLocalSurface(port_, 20000, 0), 0u);
  EXPECT_TRUE(kernel_->CallsTo(0x19).empty()) << "given back while the engine may use it";
  EXPECT_EQ(manager->SetAsideCount(), 1u);
  EXPECT_TRUE(box_->Logged("[orv] *ERROR* sync tag 0x"));

  port_->tags[0] = port_->tags[1] = 0;  // no frame outstanding
  kernel_->ClearCalls();
  ASSERT_NE(ORVVideoAllocLocalSurface(port_, 30000, 0), 0u);
  EXPECT_EQ(kernel_->CallsTo(0x19).size(), 1u) << "the old block goes back to the module";
  EXPECT_EQ(manager->SetAsideCount(), 1u);
}

TEST_F(VideoLayer, TheScalerProgramsItsSequenceAndSwitchesTheVSyncInterrupt) {
  EXPECT_EQ(ORVVideoSetVSyncInterrupt(port_, 1), 0u) << "no scaler interface";
  EXPECT_TRUE(kernel_->CallsTo(0x1d).empty());

  kernel_->ClearCalls();
  board_->ClearLog();
  void* cpu = nullptr;
  uint32_t pitch = 0;
  const uint32_t offset = ORVVideoAllocHWScalerSurface(port_, kFourccYUY2, 100, 40, 0, &cpu, &pitch);
  ASSERT_NE(offset, 0u);
  ASSERT_NE(port_->scalerInterface, nullptr);
  const uint32_t slot = port_->scalerInterface->slotIndex;
  EXPECT_EQ(pdev_->sharedLocked->pendingSlots[slot].postType, 4u);
  EXPECT_EQ(cpu, board_->Memory() + offset) << "the plain view of the surface";
  EXPECT_EQ(pitch, 128u * 2);
  const Surface2d* s = port_->surfaces[0];
  EXPECT_EQ(s->ModeWord(), 128u | 3u << 16 | 1u << 23 | 0x2eu << 24) << "YUY2 swaps its bytes";
  // The engine's pending writes are flushed before the surface is handed out.
  bool flushed = false;
  for (const auto& a : board_->LoggedWrites()) flushed |= a.offset == 0x314 && a.value == 1;
  EXPECT_TRUE(flushed);

  BmXformInt* xform = port_->scalerInterface;
  const ORVVideoBox boxes[2] = {{10, 20, 0, 0, 50, 30}, {70, 20, 60, 0, 20, 30}};
  ORVVideoHWScalerDisplay(port_, kFourccYUY2, offset, 0, 0, 100, 40, 0x500000, 0, -1, 160, 60, 50,
                          0x1000, 1024, 2, boxes);
  EXPECT_TRUE(kernel_->CallsTo(0x1b).empty()) << "the module runs it at vertical sync";
  EXPECT_NE(pdev_->primInt, xform) << "the device's buffer is back";
  const SharedPendingSlot& pending = pdev_->sharedLocked->pendingSlots[slot];
  const uint32_t* words = xform->head->Begin();
  const size_t count = ((pending.busEnd & ~3u) - pending.busStart) / 4;
  ASSERT_GT(count, 20u);
  const std::vector<uint32_t> tail(words + count - 24, words + count);
  const std::vector<uint32_t> blits = {
      0x212121ba, 0, 0x8a8b8889, 160 | 50u << 24 | 0x40000, 0x500000, 1024 | 50u << 24 | 0x30000,
      0x1000,     0xe3c2c1c0, 0x4C2, 0, 10 | 20 << 16, 50 | 30 << 16,
      0x212121ba, 0, 0x8a8b8889, 160 | 50u << 24 | 0x40000, 0x500000, 1024 | 50u << 24 | 0x30000,
      0x1000,     0xe3c2c1c0, 0x4C2, 60, 70 | 20 << 16, 20 | 30 << 16};
  EXPECT_EQ(tail, blits) << "the frame, then one blit per box";
  EXPECT_EQ(words[0], 0xafafddc0u);

  auto requests = kernel_->CallsTo(0x1d);
  ASSERT_EQ(requests.size(), 1u);
  OrvVSyncStateRequest r;
  std::memcpy(&r, requests[0].record.data(), sizeof r);
  EXPECT_EQ(r.word[0], 0x20000000u);
  EXPECT_EQ(r.word[1], 0u);
  EXPECT_EQ(r.word[2], 1u);
  EXPECT_EQ(r.word[3], slot);
  EXPECT_EQ(pdev_->data2d.bracket.lockDrawing, 1);
  EXPECT_EQ(ORVVideoSetVSyncInterrupt(port_, 1), 1u);
  EXPECT_EQ(kernel_->CallsTo(0x1d).size(), 1u) << "the granted state is not asked again";

  // From now on the drawing brackets hold the command lock while they post.
  std::vector<int32_t> lockAtPost;
  kernel_->SetHandler(0x1b, [&](uint32_t, void*) {
    lockAtPost.push_back(pdev_->sharedLocked->commandLock);
    return 0;
  });
  ORVVideoBlit(port_, 0x200000, 1024, 50, 0, 0, 0x300000, 64, 0, 0, 8, 8);
  ASSERT_EQ(lockAtPost.size(), 1u);
  EXPECT_EQ(lockAtPost[0], 1);
  EXPECT_EQ(pdev_->sharedLocked->commandLock, 0);
  kernel_->SetHandler(0x1b, nullptr);

  // Stopping switches the interrupt off and waits for a sync tag.
  ORVVideoStopHWScaler(port_, 0);
  requests = kernel_->CallsTo(0x1d);
  ASSERT_EQ(requests.size(), 2u);
  std::memcpy(&r, requests[1].record.data(), sizeof r);
  EXPECT_EQ(r.word[2], 0u);
  EXPECT_EQ(port_->vsyncState, 0u);
  EXPECT_EQ(pdev_->sharedLocked->commandLock, 0);

  ORVVideoFreeHWScalerSurface(port_, 0);
  EXPECT_EQ(port_->scalerInterface, nullptr);
  EXPECT_EQ(pdev_->sharedLocked->pendingSlots[slot].postType, kPendingSlotFree);
  EXPECT_EQ(port_->surfaces[0], nullptr);
}

TEST_F(VideoLayer, AScalerSurfaceThatCannotBePlacedLeavesNothingBehind) {
  machine_->refuseBlocks = 1;
  void* cpu = nullptr;
  uint32_t pitch = 0;
  EXPECT_EQ(ORVVideoAllocHWScalerSurface(port_, kFourccUYVY, 100, 40, 0, &cpu, &pitch), 0u);
  EXPECT_EQ(port_->scalerInterface, nullptr);
  EXPECT_EQ(port_->surfaces[0], nullptr);
  for (const SharedPendingSlot& s : pdev_->sharedLocked->pendingSlots)
    EXPECT_EQ(s.postType, kPendingSlotFree);
}

}  // namespace
