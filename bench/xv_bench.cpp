// Playing video through the Xv adaptor in bus-mastering mode 0: 720x576
// YV12 and 1920x1080 YUY2 frames through the overlay and the blitting
// PutImage, in host time per frame, beside a memcpy of the frame's bytes
// (the one copy of the image the driver makes). The engine is taken to
// finish each range as it is posted, so the time is the driver's: the
// image copy, the upload and frame packets and the waits on their tags.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/xserver/server.h"
#include "platform/xserver/xv_server.h"
#include "xdriver/orv_rec.h"
#include "xdriver/orv_xv.h"
#include "xdriver/tests/video_machine.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

struct Player {
  explicit Player(bool blit) {
    machine.board->SetLogging(false, false);
    machine.dma->SetRecording(false);
    // An engine that is done with every range the moment it is posted: its
    // tag and its buffer are both complete, so buffers are reused.
    SharedLockedData_t* shared = machine.pdev->sharedLocked;
    machine.kernel.SetHandler(0x1b, [shared](uint32_t, void*) {
      shared->completedTag = shared->syncTagCounter;
      shared->completedBufferCounter = shared->bufferCounter;
      return 0;
    });
    server = std::make_unique<xstub::XServer>();
    view = std::make_unique<videotest::VideoScreen>(machine, *server, kWidth, kHeight, 24);
    info = view->info;
    rec = view->rec;
    rec->xfb = blit ? 1 : 0;
    rec->noAccel = 1;  // no XAA here: the key through the framebuffer layer
    ORVInitXV(view->screen);
    auto* adaptor = static_cast<XF86VideoAdaptorPtr>(rec->xvAdaptor);
    port = adaptor->pPortPrivates[0].ptr;
    putImage = adaptor->PutImage;
    BoxRec whole{0, 0, kWidth, kHeight};
    REGION_INIT(nullptr, &clip, &whole, 1);
  }
  ~Player() {
    REGION_UNINIT(nullptr, &clip);
    ORVCloseXV(info);
  }

  // One frame of w x h shown on the whole screen; answers its status.
  int Frame(int id, int w, int h, unsigned char* image) {
    return putImage(info, 0, 0, 0, 0, static_cast<short>(w), static_cast<short>(h),
                    static_cast<short>(kWidth), static_cast<short>(kHeight), id, image,
                    static_cast<short>(w), static_cast<short>(h), FALSE, &clip, port);
  }

  videotest::VideoMachine machine;
  std::unique_ptr<xstub::XServer> server;
  std::unique_ptr<videotest::VideoScreen> view;
  ScrnInfoPtr info = nullptr;
  ORVRec* rec = nullptr;
  pointer port = nullptr;
  PutImageFuncPtr putImage = nullptr;
  RegionRec clip;
};

// The bytes of a frame as the adaptor sizes it.
size_t FrameBytes(int id, int w, int h) {
  return static_cast<size_t>(ORVQueryImageSize(id, (w + 31) & ~31, h, nullptr, nullptr));
}

void PutImageFrames(benchmark::State& state, bool blit, int id, int w, int h) {
  Player player(blit);
  std::vector<unsigned char> image(FrameBytes(id, w, h), 0x80);
  for (auto _ : state) {
    if (player.Frame(id, w, h, image.data()) != Success) {
      state.SkipWithError("the frame was refused");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(image.size()));
  state.counters["frame_bytes"] = static_cast<double>(image.size());
}

void CopyFrames(benchmark::State& state, int id, int w, int h) {
  const size_t bytes = FrameBytes(id, w, h);
  std::vector<unsigned char> from(bytes, 0x80), to(bytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

void BM_OverlayYv12_720x576(benchmark::State& s) { PutImageFrames(s, false, FOURCC_YV12, 720, 576); }
void BM_BlitYv12_720x576(benchmark::State& s) { PutImageFrames(s, true, FOURCC_YV12, 720, 576); }
void BM_MemcpyYv12_720x576(benchmark::State& s) { CopyFrames(s, FOURCC_YV12, 720, 576); }
void BM_OverlayYuy2_1920x1080(benchmark::State& s) { PutImageFrames(s, false, FOURCC_YUY2, 1920, 1080); }
void BM_BlitYuy2_1920x1080(benchmark::State& s) { PutImageFrames(s, true, FOURCC_YUY2, 1920, 1080); }
void BM_MemcpyYuy2_1920x1080(benchmark::State& s) { CopyFrames(s, FOURCC_YUY2, 1920, 1080); }

BENCHMARK(BM_OverlayYv12_720x576);
BENCHMARK(BM_BlitYv12_720x576);
BENCHMARK(BM_MemcpyYv12_720x576);
BENCHMARK(BM_OverlayYuy2_1920x1080);
BENCHMARK(BM_BlitYuy2_1920x1080);
BENCHMARK(BM_MemcpyYuy2_1920x1080);

}  // namespace

BENCHMARK_MAIN();
