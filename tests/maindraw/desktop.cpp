#include "tests/maindraw/desktop.h"

#include <stdio.h>

#include <cstring>
#include <iterator>

#include "platform/board/chip_2d.h"
#include "platform/board/chip_3d.h"
#include "platform/board/chip_aperture.h"
#include "platform/board/chip_controllers.h"
#include "platform/board/chip_display.h"
#include "platform/board/chip_dma.h"
#include "platform/xserver/screen_layer.h"
#include "tests/maindraw/reference.h"
#include "tools/lib/parser/xconfig.h"

namespace maindraw {

namespace {

// Whether the local-memory byte `byte` starts a pixel of screen `s`; if so,
// the pixel's place in the screen.
bool PixelOfScreen(const ScreenState& s, uint64_t byte, int* x0, int* y0) {
  const uint64_t bytes = static_cast<uint64_t>(s.shape.bitsPerPixel / 8);
  if (bytes == 0 || s.pitch <= 0 || byte < s.fbLocal) return false;
  const uint64_t at = (byte - s.fbLocal) / bytes;
  if ((byte - s.fbLocal) % bytes != 0) return false;
  const uint64_t y = at / static_cast<uint64_t>(s.pitch), x = at % static_cast<uint64_t>(s.pitch);
  if (y >= static_cast<uint64_t>(s.shape.height) || x >= static_cast<uint64_t>(s.shape.width)) return false;
  *x0 = static_cast<int>(x);
  *y0 = static_cast<int>(y);
  return true;
}

}  // namespace

std::optional<orvsim::PciLocation> BoardLocation(const std::string& path) {
  FILE* stream = fopen(path.c_str(), "r");
  if (stream == nullptr) {
    fprintf(stderr, "orv_main_draw: cannot open %s\n", path.c_str());
    return std::nullopt;
  }
  xconf::SetConfigStream(stream, path.c_str());
  XConfFile* file = xf86readConfigFile();
  xf86closeConfigFile();
  if (file == nullptr) {
    fprintf(stderr, "orv_main_draw: the configuration library refused %s\n", path.c_str());
    return std::nullopt;
  }
  std::optional<orvsim::PciLocation> found;
  bool ok = true;
  for (XConfDevice* d = file->devices; d != nullptr && ok; d = d->next) {
    if (d->driver == nullptr || xf86nameCompare(d->driver, "orv") != 0 || d->busid == nullptr) continue;
    unsigned bus = 0, device = 0, function = 0;
    char tail = 0;
    if (sscanf(d->busid, "PCI:%u:%u:%u%c", &bus, &device, &function, &tail) != 3 || bus > 255 ||
        device > 31 || function > 7) {
      fprintf(stderr, "orv_main_draw: BusID \"%s\" of Device \"%s\" is not PCI:bus:device:function\n",
              d->busid, d->identifier != nullptr ? d->identifier : "");
      ok = false;
      break;
    }
    const orvsim::PciLocation at{static_cast<uint8_t>(bus), static_cast<uint8_t>(device),
                                 static_cast<uint8_t>(function)};
    if (found && (found->bus != at.bus || found->device != at.device || found->function != at.function)) {
      fprintf(stderr, "orv_main_draw: the Device sections name more than one board\n");
      ok = false;
    }
    found = at;
  }
  xf86freeConfig(file);
  if (!ok) return std::nullopt;
  return found.value_or(orvsim::PciLocation{1, 0, 0});
}

std::vector<ScreenState> ScreensOf(xstub::XServer& server, orvmachine::MachineBoard& board) {
  std::vector<ScreenState> screens;
  for (int i = 0; i < server.NumScreens(); ++i) {
    ScrnInfoPtr info = xf86Screens[i];
    ScreenState s;
    s.shape = ScreenShape{info->virtualX, info->virtualY, info->depth, info->bitsPerPixel};
    s.pitch = info->displayWidth;
    // The framebuffer's offset in the aperture reaches local memory
    // through the aperture window that covers it, if any.
    s.fbLocal = info->fbOffset;
    uint32_t local = 0;
    if (info->fbOffset <= UINT32_MAX &&
        orvsim::ApertureSlots(board.board).Resolve(static_cast<uint32_t>(info->fbOffset), &local))
      s.fbLocal = local;
    s.frameX0 = info->frameX0;
    s.frameY0 = info->frameY0;
    screens.push_back(s);
  }
  return screens;
}

std::vector<Monitor> MonitorsOf(orvmachine::MachineBoard& board, const std::vector<ScreenState>& screens,
                                bool spoil) {
  static constexpr struct {
    orvsim::BoardOutput output;
    const char* name;
  } kOutputs[] = {{orvsim::BoardOutput::kDac1, "DAC 1"},
                  {orvsim::BoardOutput::kDac2, "DAC 2"},
                  {orvsim::BoardOutput::kDvo1, "DVO 1"},
                  {orvsim::BoardOutput::kDvo2, "DVO 2"}};
  std::vector<Monitor> monitors;
  if (!board.display) return monitors;
  for (const auto& out : kOutputs) {
    const int controller = orvsim::OutputController(board.display->Outputs(), out.output);
    if (controller < 0) continue;
    Monitor m{out.name, controller, {}};
    const orvsim::ControllerSurface surface = orvsim::ReadControllerSurface(board.board, controller);
    for (size_t s = 0; s < screens.size() && m.screen < 0; ++s)
      if (PixelOfScreen(screens[s], surface.FirstPixelByte(), &m.x0, &m.y0)) m.screen = static_cast<int>(s);
    if (spoil && monitors.empty() && surface.bytes_per_pixel != 0) {
      // A pixel the driver would have got wrong, in the middle of the
      // first monitor's picture.
      const uint64_t byte = surface.FirstPixelByte() +
                            (uint64_t{(surface.window_y1 - surface.window_y0) / 2} * surface.pitch +
                             (surface.window_x1 - surface.window_x0) / 2) *
                                surface.bytes_per_pixel;
      if (byte < board.board.LocalMemorySize()) board.board.LocalMemory()[byte] ^= 0x55;
    }
    m.picture = orvsim::ControllerPicture(board.board, board.display->Lut(), controller);
    monitors.push_back(std::move(m));
  }
  return monitors;
}

namespace {

// Why the monitor's picture cannot be compared with its screen; empty when
// it can.
std::string Unusable(const Monitor& m, const std::vector<ScreenState>& screens) {
  if (m.picture.Empty()) return "shows nothing";
  if (m.screen < 0 || static_cast<size_t>(m.screen) >= screens.size()) return "shows no screen's framebuffer";
  const ScreenState& s = screens[static_cast<size_t>(m.screen)];
  if (m.x0 != s.frameX0 || m.y0 != s.frameY0)
    return "shows screen " + std::to_string(m.screen) + " from (" + std::to_string(m.x0) + ", " +
           std::to_string(m.y0) + "), its viewport starts at (" + std::to_string(s.frameX0) + ", " +
           std::to_string(s.frameY0) + ")";
  return "";
}

}  // namespace

Comparison CompareWithReference(xstub::XServer& server, orvmachine::MachineBoard& board, const Monitor& m,
                                const std::vector<ScreenState>& screens, const Drawing& drawing) {
  Comparison c;
  c.unusable = Unusable(m, screens);
  if (!c.unusable.empty()) return c;
  return CompareWithPixels(board, m, screens,
                           DrawReference(server, screens[static_cast<size_t>(m.screen)].shape, drawing));
}

Comparison CompareWithPixels(orvmachine::MachineBoard& board, const Monitor& m,
                             const std::vector<ScreenState>& screens, const std::vector<uint8_t>& pixels) {
  Comparison c;
  c.unusable = Unusable(m, screens);
  if (!c.unusable.empty()) return c;
  const ScreenState& s = screens[static_cast<size_t>(m.screen)];
  const orvsim::ChipLut& lut = board.display->Lut();
  const unsigned controller = static_cast<unsigned>(m.controller);
  c.expected = ReferencePicture(pixels, s.shape, m.x0, m.y0, m.picture.width, m.picture.height,
                                [&](uint32_t index) {
                                  const orvsim::LutEntry e = lut.At(controller, index);
                                  return (e.red >> 8 & 0xFF) << 16 | (e.green >> 8 & 0xFF) << 8 |
                                         (e.blue >> 8 & 0xFF);
                                });
  if (c.expected.Empty()) {
    c.unusable = "shows a window outside screen " + std::to_string(m.screen);
    return c;
  }
  for (uint32_t y = 0; y < c.expected.height; ++y)
    for (uint32_t x = 0; x < c.expected.width; ++x)
      if (c.expected.At(x, y) != m.picture.At(x, y) && c.differing++ == 0) {
        c.firstX = x;
        c.firstY = y;
        c.got = m.picture.At(x, y);
        c.wanted = c.expected.At(x, y);
      }
  c.equal = c.differing == 0;
  return c;
}

std::vector<uint8_t> FramebufferPixels(orvmachine::MachineBoard& board, const ScreenState& s) {
  const uint64_t bytes = static_cast<uint64_t>(s.shape.bitsPerPixel / 8);
  const uint64_t row = static_cast<uint64_t>(s.shape.width) * bytes;
  const uint64_t pitch = static_cast<uint64_t>(s.pitch) * bytes;
  if (bytes == 0 || s.shape.height <= 0 || pitch < row) return {};
  const uint64_t end = s.fbLocal + pitch * static_cast<uint64_t>(s.shape.height - 1) + row;
  if (end > board.board.LocalMemorySize()) return {};
  std::vector<uint8_t> pixels(row * static_cast<uint64_t>(s.shape.height));
  for (int y = 0; y < s.shape.height; ++y)
    memcpy(pixels.data() + row * static_cast<uint64_t>(y),
           board.board.LocalMemory() + s.fbLocal + pitch * static_cast<uint64_t>(y), row);
  return pixels;
}

bool FillOffscreenArea(ScreenPtr screen) {
  int w = 0, h = 0;
  if (!xf86QueryLargestOffscreenArea(screen, &w, &h, 0, 0, 0) || w <= 0 || h <= 0) return true;
  FBAreaPtr area = xf86AllocateOffscreenArea(screen, w, h, 0, nullptr, nullptr, nullptr);
  PixmapPtr pixmap = fbGetScreenPixmap(screen);
  if (area == nullptr || pixmap == nullptr || pixmap->devPrivate == nullptr) return false;
  const BoxRec box = area->box;
  printf("Screen %d: off-screen area (%d,%d)-(%d,%d) filled\n", screen->myNum, box.x1, box.y1, box.x2,
         box.y2);
  const size_t bytes = static_cast<size_t>(pixmap->bitsPerPixel / 8);
  uint8_t* base = static_cast<uint8_t*>(pixmap->devPrivate);
  for (int y = box.y1; y < box.y2; ++y)
    memset(base + static_cast<size_t>(y) * static_cast<size_t>(pixmap->devKind) + static_cast<size_t>(box.x1) * bytes,
           0xA5, static_cast<size_t>(box.x2 - box.x1) * bytes);
  xf86FreeOffscreenArea(area);
  return true;
}

std::vector<std::string> TakeMessages(const xstub::Sandbox& box, size_t* taken) {
  static constexpr const char* kTags[] = {"(--)", "(**)", "(==)", "(++)", "(!!)",
                                          "(EE)", "(WW)", "(II)", "",     "(NI)"};
  std::vector<std::string> lines;
  const std::vector<xstub::Message>& messages = box.Messages();
  for (; *taken < messages.size(); ++*taken) {
    const xstub::Message& m = messages[*taken];
    std::string text = m.text;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    const unsigned type = static_cast<unsigned>(m.type);
    const std::string tag = type < std::size(kTags) ? kTags[type] : "";
    if (m.screen >= 0)
      lines.push_back(tag + " screen " + std::to_string(m.screen) + ": " + text);
    else
      lines.push_back(tag + (tag.empty() ? "" : " ") + text);
  }
  return lines;
}

std::vector<std::string> EngineErrors(orvmachine::MachineBoard& board) {
  std::vector<std::string> errors;
  if (board.dma) {
    for (const std::string& e : board.dma->DecodeErrors()) errors.push_back("DMA decode: " + e);
    for (const std::string& e : board.dma->Faults()) errors.push_back("DMA fault: " + e);
  }
  if (board.engine2d) {
    for (const auto& f : board.engine2d->Faults())
      errors.push_back("2D fault: " + f.operation + (f.write ? " writes " : " reads ") + std::to_string(f.pixels) +
                       " pixels outside, first at bus " + std::to_string(f.address));
  }
  if (board.engine3d) {
    for (const std::string& e : board.engine3d->Faults()) errors.push_back("3D fault: " + e);
  }
  return errors;
}

std::string UnloadKernelModule(orvmachine::KernelModule& module) {
  const kglue::Glue& glue = module.glue;
  const size_t files = glue.OpenFileCount(), mappings = glue.LiveUserMappings();
  const int unloaded = module.DestroyAndUnload();
  const size_t regions = glue.LiveRegions(), pages = glue.LiveLockedPages();
  const size_t blocks = glue.LiveBlocks().size(), misuses = glue.Misuses().size();
  if (unloaded == 0 && files + mappings + regions + pages + blocks + misuses == 0) return "";
  std::string left = "the kernel module was left " + std::to_string(files) + " open files and " +
                     std::to_string(mappings) + " mappings; after its unload (answer " + std::to_string(unloaded) +
                     ") " + std::to_string(regions) + " regions, " + std::to_string(pages) + " locked pages and " +
                     std::to_string(blocks) + " blocks remain, " + std::to_string(misuses) + " misuses";
  for (const std::string& m : glue.Misuses()) left += "\n  " + m;
  return left;
}

}  // namespace maindraw
