#include "platform/board/chip_controllers.h"

namespace orvsim {

namespace {

constexpr uint32_t kModuleStride = 0x200;
constexpr uint32_t kEarlyAddressMask = 0x7FFF800;
constexpr uint32_t kLaterAddressMask = 0xFFFFC00;
constexpr uint32_t kWindowMask = 0xFFF;

struct Layout {
  uint32_t control, pitch, address, x0, x1, y0, y1;
};
constexpr Layout kFirst = {0x1800, 0x1834, 0x1824, 0x1804, 0x1808, 0x1848, 0x184C};
constexpr Layout kSecond = {0x19A8, 0x19D8, 0x19C8, 0x19AC, 0x19B0, 0x19F0, 0x19F4};

uint32_t BytesPerPixel(uint32_t format) {
  switch (format) {
    case 16: return 1;
    case 38: case 40: case 46: return 2;
    case 50: case 52: case 59: return 4;
    default: return 0;
  }
}

}  // namespace

ControllerSurface ReadControllerSurface(const Board& board, unsigned controller) {
  const Layout& l = controller < 2 ? kFirst : kSecond;
  const uint32_t at = kModuleStride * (controller & 1);
  auto reg = [&](uint32_t r) { return board.Peek(r + at, 4); };
  const uint16_t device = board.Config().device_id;
  const uint32_t mask = device == 0x0A41 || device == 0x0A42 ? kEarlyAddressMask : kLaterAddressMask;
  ControllerSurface s{};
  s.on = (reg(l.control) & 1) != 0;
  s.pitch = reg(l.pitch) & 0x3FFF;
  s.format = (reg(l.pitch) >> 24) & 0x3F;
  s.bytes_per_pixel = BytesPerPixel(s.format);
  // The controller shows the buffer of the slot its control word's
  // current-slot field (bits 16-17) names; slot 0's start register is the
  // first field's address.
  const uint32_t slot = (reg(l.control) >> 16) & 3;
  s.address = reg(l.address + 4 * slot) & mask;
  s.window_x0 = reg(l.x0) & kWindowMask;
  s.window_x1 = reg(l.x1) & kWindowMask;
  s.window_y0 = reg(l.y0) & kWindowMask;
  s.window_y1 = reg(l.y1) & kWindowMask;
  return s;
}

}  // namespace orvsim
