#include "platform/board/chip_picture.h"

#include <cstring>

#include "platform/board/chip_controllers.h"

namespace orvsim {

namespace {

constexpr unsigned kControllers = 4;
constexpr unsigned kDac2TvPath = 2;

uint8_t Widen5(uint32_t v) { return static_cast<uint8_t>(v << 3 | v >> 2); }
uint8_t Widen6(uint32_t v) { return static_cast<uint8_t>(v << 2 | v >> 4); }

// One pixel of the format as 0xRRGGBB; false for a format without RGB.
bool Rgb(uint32_t format, uint32_t pixel, const ChipLut& lut, unsigned controller, uint8_t* out) {
  switch (format) {
    case 16: {
      const LutEntry e = lut.At(controller, pixel & 0xFF);
      out[0] = static_cast<uint8_t>(e.red >> 8);
      out[1] = static_cast<uint8_t>(e.green >> 8);
      out[2] = static_cast<uint8_t>(e.blue >> 8);
      return true;
    }
    case 38:
      out[0] = Widen5(pixel >> 10 & 0x1F);
      out[1] = Widen5(pixel >> 5 & 0x1F);
      out[2] = Widen5(pixel & 0x1F);
      return true;
    case 40:
      out[0] = Widen5(pixel >> 11 & 0x1F);
      out[1] = Widen6(pixel >> 5 & 0x3F);
      out[2] = Widen5(pixel & 0x1F);
      return true;
    case 50:
      out[0] = static_cast<uint8_t>(pixel >> 16);
      out[1] = static_cast<uint8_t>(pixel >> 8);
      out[2] = static_cast<uint8_t>(pixel);
      return true;
    case 52:
      out[0] = static_cast<uint8_t>(pixel >> 22);
      out[1] = static_cast<uint8_t>(pixel >> 12);
      out[2] = static_cast<uint8_t>(pixel >> 2);
      return true;
    default:
      return false;
  }
}

}  // namespace

Picture ControllerPicture(const Board& board, const ChipLut& lut, unsigned controller) {
  Picture picture;
  if (controller >= kControllers) return picture;
  const ControllerSurface s = ReadControllerSurface(board, controller);
  const uint32_t bytes = s.bytes_per_pixel;
  uint8_t probe[3];
  if (!s.on || bytes == 0 || !Rgb(s.format, 0, lut, controller, probe)) return picture;
  if (s.window_x1 < s.window_x0 || s.window_y1 < s.window_y0) return picture;
  const uint32_t width = s.window_x1 - s.window_x0 + 1;
  const uint32_t height = s.window_y1 - s.window_y0 + 1;
  if (width > s.pitch) return picture;
  const uint64_t first = s.FirstPixelByte();
  const uint64_t last = first + (uint64_t{height - 1} * s.pitch + width) * bytes;
  if (last > board.LocalMemorySize()) return picture;
  picture.width = width;
  picture.height = height;
  picture.rgb.resize(size_t{width} * height * 3);
  const uint8_t* memory = board.LocalMemory();
  uint8_t* out = picture.rgb.data();
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* row = memory + first + uint64_t{y} * s.pitch * bytes;
    for (uint32_t x = 0; x < width; ++x, out += 3) {
      uint32_t pixel = 0;
      std::memcpy(&pixel, row + size_t{x} * bytes, bytes);
      Rgb(s.format, pixel, lut, controller, out);
    }
  }
  return picture;
}

int OutputController(const ChipOutputs& outputs, BoardOutput output) {
  switch (output) {
    case BoardOutput::kDac1: {
      const DacState d = outputs.Dac(0);
      return d.on && !d.blanked ? static_cast<int>(d.source & 1) : -1;
    }
    case BoardOutput::kDac2: {
      const DacState d = outputs.Dac(1);
      return d.on && !d.blanked && d.source != kDac2TvPath ? static_cast<int>(d.source & 3) : -1;
    }
    case BoardOutput::kDvo1:
    case BoardOutput::kDvo2: {
      const DvoState d = outputs.Dvo(output == BoardOutput::kDvo1 ? 0 : 1);
      return d.on ? d.source : -1;
    }
  }
  return -1;
}

}  // namespace orvsim
