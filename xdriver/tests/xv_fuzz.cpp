// Fuzz target for the Xv requests of a client: any request bytes, in
// either byte order, through the X server stand-in's Xv decoder to the
// driver's overlay adaptor (screen 0) or blitting adaptor (screen 1) on a
// simulated board in bus-mastering mode 0. The machine is made once; each
// input starts from freshly registered adaptors.
//
// Input: byte 0 bit 0 the client's byte order (set: swapped), bit 1 the
// screen; then requests one after the other, each as long as its length
// field says (the rest of the input when that runs past it, four bytes for
// a length of 0). The request number, the port, the attribute atom, the
// drawable and the image id are steered onto the ones that exist by the
// value the input gives them, leaving some values as they are.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <vector>

#include "platform/xserver/server.h"
#include "platform/xserver/xv_server.h"
#include "xdriver/orv_rec.h"
#include "xdriver/orv_xv.h"
#include "xdriver/tests/video_machine.h"

namespace {

constexpr int kScreens = 2;
constexpr int kWidth = 320, kHeight = 240;
constexpr XID kWindows[kScreens] = {0x900, 0x901};
constexpr uint8_t kRequests[] = {xstub::kXvStopVideo,        xstub::kXvQueryBestSize,
                                 xstub::kXvSetPortAttribute, xstub::kXvGetPortAttribute,
                                 xstub::kXvQueryImageAttributes, xstub::kXvPutImage};
constexpr uint32_t kFourccs[] = {FOURCC_YUY2, FOURCC_YV12, FOURCC_I420, FOURCC_UYVY};
const char* const kAttributes[] = {"XV_BRIGHTNESS", "XV_CONTRAST", "XV_HUE", "XV_SATURATION"};

class Harness {
 public:
  Harness() : server_(std::make_unique<xstub::XServer>()) {
    for (int s = 0; s < kScreens; ++s) {
      // Screen 0 at depth 24 shows the overlay, screen 1 at depth 16 blits.
      screens_[s] = std::make_unique<videotest::VideoScreen>(machine_, *server_, kWidth, kHeight,
                                                             s == 0 ? 24 : 16);
      screens_[s]->rec->xfb = s;
      xstub::AddXvWindow({kWindows[s], s, 10, 10, kWidth - 20, kHeight - 20,
                          {{10, 10, 100, 200}, {120, 10, 300, 200}}});
      ORVInitXV(screens_[s]->screen);
    }
  }

  bool ok() const { return machine_.ok != 0; }

  // Fresh adaptors and logs, as after a new server generation.
  void Reset() {
    for (int s = 0; s < kScreens; ++s) {
      ScreenPtr screen = screens_[s]->screen;
      ORVCloseXV(screens_[s]->info);
      screen->CloseScreen(s, screen);
      ORVInitXV(screen);
    }
    machine_.kernel.ClearCalls();
    // Everything the simulation records is emptied, so a long run keeps
    // the same memory.
    machine_.dma->ClearWrites();
    machine_.dma->ClearTrace();
    machine_.board->ClearLog();
    machine_.engine2d->ClearFaults();
    machine_.box.ClearMessages();
    machine_.TakeBlocks();
  }

  void Run(const uint8_t* data, size_t size) {
    if (size == 0) return;
    const bool swapped = (data[0] & 1) != 0;
    const int screen = (data[0] >> 1) & 1;
    std::vector<XID> ports;
    for (const xstub::XvAdaptorView& a : xstub::XvAdaptors(screen)) ports = a.ports;
    size_t at = 1;
    while (at + 4 <= size) {
      Wire w{swapped};
      const uint16_t words = w.Get16(data + at + 2);
      size_t length = words == 0 ? 4 : static_cast<size_t>(words) * 4;
      if (length > size - at) length = size - at;
      std::vector<uint8_t> request(data + at, data + at + length);
      Steer(request, w, ports, screen);
      xstub::XvRequest(request.data(), request.size(), swapped);
      at += length;
    }
  }

 private:
  struct Wire {
    bool swapped;
    uint16_t Get16(const uint8_t* p) const {
      uint16_t v;
      memcpy(&v, p, 2);
      return swapped ? __builtin_bswap16(v) : v;
    }
    uint32_t Get32(const uint8_t* p) const {
      uint32_t v;
      memcpy(&v, p, 4);
      return swapped ? __builtin_bswap32(v) : v;
    }
    void Put32(uint8_t* p, uint32_t v) const {
      if (swapped) v = __builtin_bswap32(v);
      memcpy(p, &v, 4);
    }
  };

  // Onto one of `count` choices by the value, or left as it is.
  template <typename T>
  static bool Pick(uint32_t value, const T* choices, size_t count, T* out) {
    const size_t i = value % (count + 1);
    if (i == count) return false;
    *out = choices[i];
    return true;
  }

  void Steer(std::vector<uint8_t>& r, const Wire& w, const std::vector<XID>& ports, int screen) {
    if (r.size() < 2) return;
    uint8_t minor = r[1];
    if (Pick<uint8_t>(r[1], kRequests, sizeof kRequests, &minor)) r[1] = minor;
    if (r.size() >= 8 && !ports.empty()) {
      XID port;
      if (Pick<XID>(w.Get32(&r[4]), ports.data(), ports.size(), &port)) w.Put32(&r[4], port);
    }
    if ((minor == xstub::kXvSetPortAttribute || minor == xstub::kXvGetPortAttribute) && r.size() >= 12) {
      const uint32_t i = w.Get32(&r[8]) % 5;
      if (i < 4) w.Put32(&r[8], MakeAtom(kAttributes[i], static_cast<unsigned>(strlen(kAttributes[i])), TRUE));
    }
    if ((minor == xstub::kXvPutImage || minor == xstub::kXvStopVideo) && r.size() >= 12) {
      XID window;
      const XID mine[2] = {kWindows[screen], kWindows[1 - screen]};
      if (Pick<XID>(w.Get32(&r[8]), mine, 2, &window)) w.Put32(&r[8], window);
    }
    if ((minor == xstub::kXvPutImage || minor == xstub::kXvQueryImageAttributes) &&
        r.size() >= (minor == xstub::kXvPutImage ? 20u : 12u)) {
      const size_t field = minor == xstub::kXvPutImage ? 16 : 8;
      uint32_t id;
      if (Pick<uint32_t>(w.Get32(&r[field]), kFourccs, 4, &id)) w.Put32(&r[field], id);
    }
  }

  videotest::VideoMachine machine_;
  std::unique_ptr<xstub::XServer> server_;
  std::unique_ptr<videotest::VideoScreen> screens_[kScreens];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness* harness = new Harness();  // made once, never torn down
  if (!harness->ok()) __builtin_trap();
  harness->Reset();
  harness->Run(data, size);
  return 0;
}
