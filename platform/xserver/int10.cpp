// Real-mode BIOS calls: each board's video BIOS is a VBE model the test
// supplies (the console's mode, a failure switch, a log of calls).
#include "platform/xserver/server_state.h"

namespace xstub {

void XServer::SetVbe(PciLocationId at, VbeModel* model) {
  for (detail::VbeBoard& b : state_->vbe) {
    if (b.at == at) {
      b.model = model;
      return;
    }
  }
  state_->vbe.push_back({at, model});
}

namespace detail {

VbeModel* ServerState::VbeFor(int entityIndex) {
  Entity* e = EntityAt(entityIndex);
  if (e == nullptr || e->pci == nullptr) return nullptr;
  for (const VbeBoard& b : vbe) {
    if (b.at == LocationOf(*e->pci)) return b.model;
  }
  return nullptr;
}

}  // namespace detail
}  // namespace xstub

namespace {

constexpr int kVideoInterrupt = 0x10;
constexpr int kVbeGetMode = 0x4F03;
constexpr int kVbeSetMode = 0x4F02;
constexpr int kVbeSuccess = 0x004F;
constexpr int kVbeFailed = 0x014F;

}  // namespace

extern "C" {

xf86Int10InfoPtr xf86InitInt10(int entityIndex) {
  xstub::detail::ServerState* s = xstub::detail::CurrentServer();
  if (s == nullptr || s->VbeFor(entityIndex) == nullptr) {
    xf86Msg(X_ERROR, "int10: no video BIOS for entity %d\n", entityIndex);
    return nullptr;
  }
  auto info = std::make_unique<xf86Int10InfoRec>();
  info->entityIndex = entityIndex;
  info->scrnIndex = -1;
  info->BIOSseg = 0xC000;
  s->int10_records.push_back(std::move(info));
  return s->int10_records.back().get();
}

void xf86FreeInt10(xf86Int10InfoPtr info) {
  xstub::detail::ServerState* s = xstub::detail::CurrentServer();
  if (s == nullptr || info == nullptr) return;
  std::erase_if(s->int10_records, [info](const auto& r) { return r.get() == info; });
}

void xf86ExecX86int10(xf86Int10InfoPtr info) {
  xstub::detail::ServerState* s = xstub::detail::CurrentServer();
  if (s == nullptr || info == nullptr) return;
  xstub::VbeModel* model = s->VbeFor(info->entityIndex);
  if (model == nullptr || info->num != kVideoInterrupt) return;
  xstub::VbeModel::Call call{info->ax, info->bx, 0, 0};
  if (model->fail) {
    info->ax = kVbeFailed;
  } else if (info->ax == kVbeGetMode) {
    info->ax = kVbeSuccess;
    info->bx = model->current_mode;
  } else if (info->ax == kVbeSetMode) {
    model->current_mode = static_cast<uint16_t>(info->bx);
    info->ax = kVbeSuccess;
  } else {
    info->ax = kVbeFailed;
  }
  call.ax_out = info->ax;
  call.bx_out = info->bx;
  model->calls.push_back(call);
}

}  // extern "C"
