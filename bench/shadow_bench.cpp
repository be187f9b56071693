// The shadow framebuffer's refresh on a 1920x1200 frame at 32 bits per
// pixel, side by side with fair baselines: the plain copy next to memcpy of
// the same bytes, the 90-degree turns (both ways) next to pixman's
// rotate-90 fast paths (SRC, nearest filter) at 32 and 16 bits per pixel,
// at 1920x1200 and 1280x1024. Reported without targets: the turn at 8 bits
// per pixel, and the 8-to-32 and 24-to-32 pixel converters of the uploads.
#include <benchmark/benchmark.h>

#include <pixman.h>

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "xdriver/orv_shadow.h"
#include "xdriver/pixel_convert.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1200;

std::vector<uint8_t> Filled(size_t bytes) {
  std::vector<uint8_t> v(bytes);
  for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
  return v;
}

void Report(benchmark::State& state, int64_t pixels, int bytesPerPixel) {
  state.SetItemsProcessed(state.iterations() * pixels);
  state.SetBytesProcessed(state.iterations() * pixels * bytesPerPixel);
}

// ---- Plain refresh ------------------------------------------------------------------------

// One shadow and one framebuffer for the refresh and its baseline alike: a
// copy's speed depends on where its two buffers lie.
struct Frame {
  static constexpr size_t kBytes = size_t{kWidth} * kHeight * 4;
  Frame()
      : shadow(static_cast<uint8_t*>(aligned_alloc(4096, kBytes))),
        fb(static_cast<uint8_t*>(aligned_alloc(4096, kBytes))) {
    std::vector<uint8_t> fill = Filled(kBytes);
    memcpy(shadow, fill.data(), kBytes);
    memset(fb, 0, kBytes);
  }
  ~Frame() {
    free(shadow);
    free(fb);
  }
  uint8_t* shadow;
  uint8_t* fb;
};
Frame& SharedFrame() {
  static Frame frame;
  return frame;
}

void BM_PlainRefresh32(benchmark::State& state) {
  Frame& frame = SharedFrame();
  ScrnInfoRec info = {};
  ORVRec record = {};
  info.driverPrivate = &record;
  info.bitsPerPixel = 32;
  info.virtualX = kWidth;
  info.virtualY = kHeight;
  info.displayWidth = kWidth;
  record.shadowPtr = frame.shadow;
  record.shadowPitch = kWidth * 4;
  record.fbBase = frame.fb;
  BoxRec whole = {0, 0, kWidth, kHeight};
  for (auto _ : state) {
    ORVRefreshArea(&info, 1, &whole);
    benchmark::DoNotOptimize(frame.fb);
    benchmark::ClobberMemory();
  }
  Report(state, int64_t{kWidth} * kHeight, 4);
}
BENCHMARK(BM_PlainRefresh32);

void BM_MemcpySameBytes(benchmark::State& state) {
  Frame& frame = SharedFrame();
  for (auto _ : state) {
    memcpy(frame.fb, frame.shadow, Frame::kBytes);
    benchmark::DoNotOptimize(frame.fb);
    benchmark::ClobberMemory();
  }
  Report(state, int64_t{kWidth} * kHeight, 4);
}
BENCHMARK(BM_MemcpySameBytes);

// ---- Rotation -----------------------------------------------------------------------------

// Arguments of the turns: clockwise (1) or not (0), then the shadow's width
// and height (1920x1200 and 1280x1024).
void RotationArgs(benchmark::internal::Benchmark* b) {
  for (int clockwise : {1, 0})
    for (auto size : {std::pair{1920, 1200}, std::pair{1280, 1024}}) b->Args({clockwise, size.first, size.second});
}

template <int Bytes>
void BM_Rotate(benchmark::State& state) {
  const bool clockwise = state.range(0) != 0;
  const int width = static_cast<int>(state.range(1)), height = static_cast<int>(state.range(2));
  const size_t fbPitch = (static_cast<size_t>(height) + 31) & ~size_t{31};  // pixels
  std::vector<uint8_t> shadow = Filled(size_t(width) * height * Bytes), fb(fbPitch * width * Bytes);
  const size_t shadowPitch = size_t(width) * Bytes;
  for (auto _ : state) {
    if (Bytes == 1) {
      OrvRotateBox8(fb.data(), fbPitch, shadow.data(), shadowPitch, width, height, 0, 0, width, height, clockwise);
    } else if (Bytes == 2) {
      OrvRotateBox16(fb.data(), fbPitch, shadow.data(), shadowPitch, width, height, 0, 0, width, height, clockwise);
    } else {
      OrvRotateBox32(fb.data(), fbPitch, shadow.data(), shadowPitch, width, height, 0, 0, width, height, clockwise);
    }
    benchmark::DoNotOptimize(fb.data());
    benchmark::ClobberMemory();
  }
  Report(state, int64_t{width} * height, Bytes);
  state.SetLabel(clockwise ? "clockwise" : "counter-clockwise");
}
BENCHMARK(BM_Rotate<4>)->Apply(RotationArgs);
BENCHMARK(BM_Rotate<2>)->Apply(RotationArgs);
BENCHMARK(BM_Rotate<1>)->Apply(RotationArgs);

// The baseline: pixman_image_composite32(PIXMAN_OP_SRC, ...) with a
// 90-degree transform and the nearest filter, which pixman's rotate-90 fast
// paths serve (x8r8g8b8 at 32 bits, r5g6b5 at 16): the source W x H into a
// destination H x W.
template <int Bytes>
void BM_PixmanRotate90(benchmark::State& state) {
  const bool clockwise = state.range(0) != 0;
  const int width = static_cast<int>(state.range(1)), height = static_cast<int>(state.range(2));
  const pixman_format_code_t format = Bytes == 4 ? PIXMAN_x8r8g8b8 : PIXMAN_r5g6b5;
  // Row strides in whole 32-bit words, as pixman takes them.
  const int srcStride = (width * Bytes + 3) & ~3, dstStride = (height * Bytes + 3) & ~3;
  std::vector<uint32_t> src(size_t(srcStride) * height / 4), dst(size_t(dstStride) * width / 4);
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint32_t>(i * 2654435761u);
  pixman_image_t* source = pixman_image_create_bits(format, width, height, src.data(), srcStride);
  pixman_image_t* target = pixman_image_create_bits(format, height, width, dst.data(), dstStride);
  // Destination (u, v) samples the source at (v, H - 1 - u) clockwise and
  // (W - 1 - v, u) counter-clockwise, pixel centres included.
  pixman_transform_t t;
  pixman_transform_init_identity(&t);
  if (clockwise) {
    t.matrix[0][0] = 0;
    t.matrix[0][1] = pixman_fixed_1;
    t.matrix[0][2] = 0;
    t.matrix[1][0] = -pixman_fixed_1;
    t.matrix[1][1] = 0;
    t.matrix[1][2] = pixman_int_to_fixed(height);
  } else {
    t.matrix[0][0] = 0;
    t.matrix[0][1] = -pixman_fixed_1;
    t.matrix[0][2] = pixman_int_to_fixed(width);
    t.matrix[1][0] = pixman_fixed_1;
    t.matrix[1][1] = 0;
    t.matrix[1][2] = 0;
  }
  pixman_image_set_transform(source, &t);
  pixman_image_set_filter(source, PIXMAN_FILTER_NEAREST, nullptr, 0);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, source, nullptr, target, 0, 0, 0, 0, 0, 0, height, width);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  pixman_image_unref(source);
  pixman_image_unref(target);
  Report(state, int64_t{width} * height, Bytes);
  state.SetLabel(clockwise ? "clockwise" : "counter-clockwise");
}
BENCHMARK(BM_PixmanRotate90<4>)->Apply(RotationArgs);
BENCHMARK(BM_PixmanRotate90<2>)->Apply(RotationArgs);

// ---- Converters ---------------------------------------------------------------------------

void BM_Convert8To32(benchmark::State& state) {
  std::vector<uint8_t> src = Filled(size_t{kWidth} * kHeight);
  std::vector<uint8_t> dst(size_t{kWidth} * kHeight * 4);
  uint32_t table[256];
  for (uint32_t i = 0; i < 256; ++i) table[i] = i * 0x010101u;
  const XferRowSplit split = XferSplitRow(8, 0, kWidth);
  for (auto _ : state) {
    Xfer8BppTo32Bpp(dst.data(), src.data(), kHeight, split.leading, split.groups, split.trailing, 0, table);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  Report(state, int64_t{kWidth} * kHeight, 4);
}
BENCHMARK(BM_Convert8To32);

void BM_Convert24To32(benchmark::State& state) {
  std::vector<uint8_t> src = Filled(size_t{kWidth} * kHeight * 3);
  std::vector<uint8_t> dst(size_t{kWidth} * kHeight * 4);
  const XferRowSplit split = XferSplitRow(24, 0, kWidth);
  for (auto _ : state) {
    Xfer24BppTo32Bpp(dst.data(), src.data(), kHeight, split.leading, split.groups, split.trailing, 0, nullptr);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  Report(state, int64_t{kWidth} * kHeight, 4);
}
BENCHMARK(BM_Convert24To32);

}  // namespace
