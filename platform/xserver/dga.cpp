// DGA: the screens' functions and modes, and the test client that drives
// them as the server's DGA code does for a client process.
#include "platform/xserver/dga.h"

#include <fcntl.h>
#include <sys/mman.h>

#include "platform/xserver/server_state.h"
#include "platform/xserver/xservices.h"

using xstub::detail::CurrentServer;
using xstub::detail::LayerScreen;

extern "C" {

Bool DGAInit(ScreenPtr pScreen, DGAFunctionPtr funcs, DGAModePtr modes, int num) {
  auto* s = CurrentServer();
  if (s == nullptr || pScreen == nullptr || funcs == nullptr || modes == nullptr || num <= 0)
    return FALSE;
  LayerScreen& layer = s->Layer(pScreen);
  layer.dga_funcs = funcs;
  layer.dga_modes = modes;
  layer.dga_num = num;
  for (int i = 0; i < num; ++i) modes[i].num = i + 1;
  s->Record("DGAInit", pScreen);
  return TRUE;
}

}  // extern "C"

namespace xstub {
namespace {

LayerScreen* LayerOf(int scrnIndex) {
  auto* s = CurrentServer();
  if (s == nullptr || scrnIndex < 0 || scrnIndex >= xf86NumScreens) return nullptr;
  ScrnInfoPtr info = xf86Screens[scrnIndex];
  if (info == nullptr || info->pScreen == nullptr) return nullptr;
  return &s->Layer(info->pScreen);
}

const DGAFunctionRec* FunctionsOf(int scrnIndex) {
  LayerScreen* layer = LayerOf(scrnIndex);
  return layer != nullptr ? layer->dga_funcs : nullptr;
}

}  // namespace

DgaClient::DgaClient(int scrnIndex) : scrn_(scrnIndex) {}

DgaClient::~DgaClient() { CloseFramebuffer(); }

ScrnInfoPtr DgaClient::Screen() const { return xf86Screens[scrn_]; }

bool DgaClient::Available() const { return FunctionsOf(scrn_) != nullptr; }

int DgaClient::ModeCount() const {
  LayerScreen* layer = LayerOf(scrn_);
  return layer != nullptr ? layer->dga_num : 0;
}

const DGAModeRec* DgaClient::Mode(int num) const {
  LayerScreen* layer = LayerOf(scrn_);
  if (layer == nullptr || num < 1 || num > layer->dga_num) return nullptr;
  return &layer->dga_modes[num - 1];
}

bool DgaClient::OpenFramebuffer() {
  const DGAFunctionRec* f = FunctionsOf(scrn_);
  if (f == nullptr || f->OpenFramebuffer == nullptr || mapped_ != nullptr) return false;
  char* name = nullptr;
  unsigned char* mem = nullptr;
  int size = 0, offset = 0, flags = 0;
  if (!f->OpenFramebuffer(Screen(), &name, &mem, &size, &offset, &flags) || size <= 0) return false;
  named_ = name != nullptr;
  bus_ = reinterpret_cast<unsigned long>(mem);
  size_ = size;
  open_flags_ = flags;
  // The client maps the bus address through the device the driver named
  // (/dev/mem without a name), page by page as mmap wants it.
  fd_ = xf86open(named_ ? name : "/dev/mem", O_RDWR);
  if (fd_ < 0) return false;
  const unsigned long page = static_cast<unsigned long>(xf86getpagesize());
  const unsigned long start = bus_ & ~(page - 1);
  map_length_ = ((bus_ - start) + static_cast<unsigned long>(size) + page - 1) & ~(page - 1);
  map_base_ = xf86mmap(nullptr, map_length_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_,
                       static_cast<off_t>(start));
  if (map_base_ == MAP_FAILED || map_base_ == nullptr) {
    map_base_ = nullptr;
    xf86close(fd_);
    fd_ = -1;
    return false;
  }
  mapped_ = static_cast<uint8_t*>(map_base_) + (bus_ - start) + offset;
  return true;
}

void DgaClient::CloseFramebuffer() {
  if (mapped_ == nullptr) return;
  xf86munmap(map_base_, map_length_);
  xf86close(fd_);
  fd_ = -1;
  map_base_ = nullptr;
  mapped_ = nullptr;
  const DGAFunctionRec* f = FunctionsOf(scrn_);
  if (f != nullptr && f->CloseFramebuffer != nullptr) f->CloseFramebuffer(Screen());
}

bool DgaClient::SetMode(int num) {
  const DGAFunctionRec* f = FunctionsOf(scrn_);
  if (f == nullptr || f->SetMode == nullptr) return false;
  if (num == 0) return f->SetMode(Screen(), nullptr) != FALSE;
  const DGAModeRec* mode = Mode(num);
  if (mode == nullptr) return false;
  return f->SetMode(Screen(), const_cast<DGAModePtr>(mode)) != FALSE;
}

void DgaClient::SetViewport(int x, int y, int flags) {
  const DGAFunctionRec* f = FunctionsOf(scrn_);
  if (f != nullptr && f->SetViewport != nullptr) f->SetViewport(Screen(), x, y, flags);
}

int DgaClient::GetViewport() {
  const DGAFunctionRec* f = FunctionsOf(scrn_);
  return f != nullptr && f->GetViewport != nullptr ? f->GetViewport(Screen()) : 0;
}

void DgaClient::Sync() {
  const DGAFunctionRec* f = FunctionsOf(scrn_);
  if (f != nullptr && f->Sync != nullptr) f->Sync(Screen());
}

void DgaClient::FillRect(int x, int y, int w, int h, unsigned long color) {
  const DGAFunctionRec* f = FunctionsOf(scrn_);
  if (f != nullptr && f->FillRect != nullptr) f->FillRect(Screen(), x, y, w, h, color);
}

void DgaClient::BlitRect(int srcx, int srcy, int w, int h, int dstx, int dsty) {
  const DGAFunctionRec* f = FunctionsOf(scrn_);
  if (f != nullptr && f->BlitRect != nullptr) f->BlitRect(Screen(), srcx, srcy, w, h, dstx, dsty);
}

void DgaClient::BlitTransRect(int srcx, int srcy, int w, int h, int dstx, int dsty,
                              unsigned long color) {
  const DGAFunctionRec* f = FunctionsOf(scrn_);
  if (f != nullptr && f->BlitTransRect != nullptr)
    f->BlitTransRect(Screen(), srcx, srcy, w, h, dstx, dsty, color);
}

}  // namespace xstub
