#include "platform/board/chip_3d.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace orvsim {

namespace {

float FloatOf(uint32_t word) {
  float f;
  std::memcpy(&f, &word, sizeof f);
  return f;
}

// A component in [0, 1] as an integer 0..max, rounded half up; NaN counts
// as 0.
uint32_t Quantise(float value, uint32_t max) {
  if (!(value > 0.0f)) return 0;
  if (value >= 1.0f) return max;
  return static_cast<uint32_t>(std::floor(static_cast<double>(value) * max + 0.5));
}

// floor(a / b) for b > 0.
int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && a < 0) ? q - 1 : q;
}

// The value at a pixel: (e0 c0 + e1 c1 + e2 c2) / area, rounded half up.
// The edge values of a covered pixel are at least 0 and sum to the area.
uint32_t Interpolate(const int64_t e[3], const uint32_t c[3], int64_t area, bool wide) {
  if (!wide) {
    const int64_t num = e[0] * c[0] + e[1] * c[1] + e[2] * c[2];
    return static_cast<uint32_t>((2 * num + area) / (2 * area));
  }
  const __int128 num = static_cast<__int128>(e[0]) * c[0] + static_cast<__int128>(e[1]) * c[1] +
                       static_cast<__int128>(e[2]) * c[2];
  return static_cast<uint32_t>((2 * num + area) / (static_cast<__int128>(2) * area));
}

bool DepthPasses(uint32_t code, uint32_t incoming, uint32_t stored) {
  if (incoming < stored) return (code & 2) != 0;
  if (incoming > stored) return (code & 4) != 0;
  return (code & 1) != 0;
}

}  // namespace

// A colour or depth target as its descriptor words give it.
struct Engine3d::Target {
  unsigned space = 0;  // bits 0-1 of the address word
  uint32_t base = 0;
  uint32_t pitch = 0;  // pixels
  uint32_t format = 0;
  uint32_t bytes = 0;  // per pixel; 0 for a format not drawn
  int rows = 0;        // rows that may lie in memory

  Target(const Board& board, uint32_t address, uint32_t mode, bool depth) {
    space = address & 3u;
    base = address & ~3u;
    pitch = mode & 0x3FFF;
    format = (mode >> 24) & 0x3F;
    if (depth) {
      bytes = format == k3dFormatDepth16 || format == k3dFormatDepth15Stencil1 ? 2
              : format == k3dFormatDepth24Stencil8                             ? 4
                                                                                : 0;
    } else {
      bytes = format == k3dFormatArgb8888 ? 4 : format == k3dFormatRgb565 ? 2 : 0;
    }
    if (bytes == 0 || pitch == 0 || space == 1) return;
    rows = k3dRasterLimit;
    if (space == kBusLocal) {
      const uint64_t size = board.LocalMemorySize();
      const uint64_t fit = base < size ? (size - base) / (uint64_t{pitch} * bytes) : 0;
      if (fit < static_cast<uint64_t>(rows)) rows = static_cast<int>(fit);
    }
  }
  bool Drawn() const { return bytes != 0 && pitch != 0 && space != 1; }
};

Engine3d::Engine3d(Board& board, DmaEngine& dma) : board_(board), dma_(dma) {
  sink_ = dma_.AddPacketWriteSink([this](uint32_t reg, uint32_t value) { Write(reg, value); });
  for (unsigned type = 0; type < 256; ++type) {
    if ((type << 24 & kDmaPrimitiveCommand) != kDmaPrimitiveCommand) continue;
    dma_.SetCommandDecoder(static_cast<uint8_t>(type), [this](uint32_t word, const std::vector<uint32_t>& body) {
      Command(word, body);
      return std::string();
    });
  }
}

Engine3d::~Engine3d() {
  dma_.RemovePacketWriteSink(sink_);
  for (unsigned type = 0; type < 256; ++type)
    if ((type << 24 & kDmaPrimitiveCommand) == kDmaPrimitiveCommand)
      dma_.SetCommandDecoder(static_cast<uint8_t>(type), nullptr);
}

uint32_t Engine3d::Reg(uint8_t index) const { return board_.Peek(kDmaRegWindow + 4u * index, 4); }

void Engine3d::Write(uint32_t reg, uint32_t value) {
  if (path_.Write(reg, value)) Drew(path_.Last());
}

void Engine3d::Record(Primitive primitive) {
  if (limit_ == 0) {
    ++dropped_;
    return;
  }
  while (primitives_.size() >= limit_) {
    primitives_.pop_front();
    ++dropped_;
  }
  primitives_.push_back(std::move(primitive));
}

void Engine3d::Command(uint32_t word, const std::vector<uint32_t>& body) {
  Primitive p;
  p.kind = Kind::kCommand;
  p.outcome = Outcome::kRecorded;
  p.control = Reg(k3dIndexPrimitiveControl);
  p.engineControl = Reg(k3dIndexEngineControl);
  p.command = word;
  p.body = body;
  const uint32_t control = p.control;
  Record(std::move(p));
  if (CommandIndices(word, body, &indices_)) Assemble(word, control, body, indices_);
}

const uint8_t* Engine3d::BusBytes(uint32_t address, unsigned space, uint64_t length) {
  if (uint64_t{address} + length > (uint64_t{1} << 32)) return nullptr;
  if (space == kBusLocal)
    return uint64_t{address} + length <= board_.LocalMemorySize() ? board_.LocalMemory() + address : nullptr;
  if (space == 1 || length > UINT32_MAX) return nullptr;
  return dma_.SystemMemoryAt(address, static_cast<uint32_t>(length));
}

bool Engine3d::CommandIndices(uint32_t word, const std::vector<uint32_t>& body, std::vector<uint32_t>* out) {
  out->clear();
  const uint32_t kind = (word >> 26) & 7;
  const uint32_t n = (word & kDmaCommandLengthMask) + 1;
  auto halves = [&](const uint8_t* at, uint64_t count, uint64_t skip, uint64_t drop) {
    for (uint64_t i = skip; i + drop < count && out->size() < k3dMaxCommandVertices; ++i) {
      uint16_t v;
      std::memcpy(&v, at + 2 * i, 2);
      out->push_back(v);
    }
  };
  switch (kind) {
    case 1:  // n inline 16-bit indices, two to a word, the low half first
      halves(reinterpret_cast<const uint8_t*>(body.data()), std::min<uint64_t>(n, 2 * body.size()), 0, 0);
      return true;
    case 2:  // n inline 32-bit indices
      out->assign(body.begin(), body.begin() + std::min<size_t>(n, body.size()));
      return true;
    case 3: {  // {first, count} from the streams
      if (body.size() < 2) return false;
      const uint64_t count = std::min<uint64_t>(body[1], k3dMaxCommandVertices);
      for (uint64_t i = 0; i < count; ++i) out->push_back(static_cast<uint32_t>(body[0] + i));
      return true;
    }
    case 5: {  // {start, end} of vertices copied into the stream: indices count them
      if (body.size() < 2) return false;
      const uint64_t bytes = 4ull * (((word >> 17) & 0x3F) + 1);
      const uint32_t start = body[0] & ~3u, end = body[1] & ~3u;
      const uint64_t count = end > start ? std::min<uint64_t>((end - start) / bytes, k3dMaxCommandVertices) : 0;
      for (uint64_t i = 0; i < count; ++i) out->push_back(static_cast<uint32_t>(i));
      return true;
    }
    case 6:
    case 7: {  // {start, end} of indices fetched in whole words
      if (body.size() < 2) return false;
      const uint32_t start = body[0] & ~3u, end = body[1] & ~3u;
      if (end <= start) return true;
      const uint64_t bytes = std::min<uint64_t>(end - start, 4ull * k3dMaxCommandVertices);
      const uint8_t* at = BusBytes(start, body[1] & 3u, bytes);
      if (at == nullptr) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "3D engine: indices of command 0x%08" PRIX32 " at bus 0x%08" PRIX32 " (space %u) reach no memory",
                      word, start, body[1] & 3u);
        faults_.emplace_back(text);
        return false;
      }
      if (kind == 7) {
        for (uint64_t i = 0; i < bytes / 4; ++i) {
          uint32_t v;
          std::memcpy(&v, at + 4 * i, 4);
          out->push_back(v);
        }
      } else {
        // 16-bit: start bit 1 skips the first index, bit 0 drops the last.
        halves(at, bytes / 2, (body[0] & 2u) ? 1 : 0, (body[0] & 1u) ? 1 : 0);
      }
      return true;
    }
    default:
      return false;
  }
}

void Engine3d::Assemble(uint32_t word, uint32_t control, const std::vector<uint32_t>& body,
                        const std::vector<uint32_t>& v) {
  const uint32_t code = (control >> k3dPrimitiveCodeShift) & 7;
  const bool copied = ((word >> 26) & 7) == 5;
  // Where vertex i lies: stream 0, or the copied vertices of the body.
  uint32_t base, stride;
  unsigned space;
  if (copied) {
    // The vertices were copied into the stream: they lie in the memory
    // the command was read from.
    base = body[0] & ~3u;  // CommandIndices saw two words
    space = dma_.CommandBus() & 3u;
    stride = 4u * (((word >> 17) & 0x3F) + 1);
  } else {
    const uint32_t address = Reg(k3dIndexStream0Address);
    base = address & ~3u;
    space = address & 3u;
    stride = Reg(k3dIndexStream01Stride) & 0xFFFF;
  }
  const unsigned words = std::min<unsigned>(stride / 4, k3dRecordedVertexWords);
  auto emit = [&](Kind kind, std::initializer_list<uint32_t> which) {
    Primitive p;
    p.kind = kind;
    p.outcome = Outcome::kRecorded;
    p.control = control;
    p.command = word;
    p.assembled = true;
    p.vertexCount = static_cast<unsigned>(which.size());
    p.vertexWords = words;
    unsigned k = 0;
    for (uint32_t index : which) {
      p.indices[k] = index;
      const uint64_t at = uint64_t{base} + uint64_t{index} * stride;
      const uint8_t* bytes = at < (uint64_t{1} << 32) ? BusBytes(static_cast<uint32_t>(at), space, 4u * words) : nullptr;
      p.fetched[k] = bytes != nullptr;
      if (bytes != nullptr) std::memcpy(p.words[k], bytes, 4u * words);
      ++k;
    }
    Record(std::move(p));
  };
  const size_t n = v.size();
  switch (code) {
    case 0:
      for (size_t i = 0; i < n; ++i) emit(Kind::kPoint, {v[i]});
      break;
    case 1:
      for (size_t i = 0; i + 1 < n; i += 2) emit(Kind::kLine, {v[i], v[i + 1]});
      break;
    case 2:
      for (size_t i = 1; i < n; ++i) emit(Kind::kLine, {v[i - 1], v[i]});
      break;
    case 3:
      for (size_t i = 0; i + 2 < n; i += 3) emit(Kind::kTriangle, {v[i], v[i + 1], v[i + 2]});
      break;
    case 4:
      for (size_t i = 2; i < n; ++i) {
        if (i % 2 == 0) emit(Kind::kTriangle, {v[i - 2], v[i - 1], v[i]});
        else emit(Kind::kTriangle, {v[i - 1], v[i - 2], v[i]});
      }
      break;
    case 5:
      for (size_t i = 2; i < n; ++i) emit(Kind::kTriangle, {v[0], v[i - 1], v[i]});
      break;
    case 6:
      for (size_t i = 0; i + 3 < n; i += 4) {
        emit(Kind::kTriangle, {v[i], v[i + 1], v[i + 3]});
        emit(Kind::kTriangle, {v[i + 3], v[i + 1], v[i + 2]});
      }
      break;
    default:  // 7: quad strips
      for (size_t i = 0; i + 3 < n; i += 2) {
        emit(Kind::kTriangle, {v[i], v[i + 1], v[i + 3]});
        emit(Kind::kTriangle, {v[i], v[i + 3], v[i + 2]});
      }
      break;
  }
}

void Engine3d::Drew(const AttributePath::Draw& draw) {
  Primitive p;
  p.control = Reg(k3dIndexPrimitiveControl);
  p.engineControl = Reg(k3dIndexEngineControl);
  const uint32_t code = (p.control >> k3dPrimitiveCodeShift) & 7;
  static constexpr unsigned kPointPlace = 3;
  static constexpr unsigned kDiffuseSlot = 1;
  auto take = [&](unsigned place, Vertex* v) {
    std::memcpy(v->position, draw.slots[place][0], sizeof v->position);
    std::memcpy(v->diffuse, draw.slots[place][kDiffuseSlot], sizeof v->diffuse);
  };
  if (code == 0) {
    p.kind = Kind::kPoint;
    p.vertexCount = 1;
    take(kPointPlace, &p.vertices[0]);
  } else if (code <= 2) {
    p.kind = Kind::kLine;
    p.vertexCount = 2;
    take(0, &p.vertices[0]);
    take(1, &p.vertices[1]);
  } else {
    p.kind = Kind::kTriangle;
    p.vertexCount = 3;
    for (unsigned k = 0; k < 3; ++k) take(k, &p.vertices[k]);
    p.flat = (draw.written[kPointPlace] & (1u << kDiffuseSlot)) != 0;
    std::memcpy(p.flatColour, draw.slots[kPointPlace][kDiffuseSlot], sizeof p.flatColour);
    if ((p.engineControl & k3dEngineDrawForm) == k3dEngineDrawForm) Rasterise(p);
    else p.outcome = Outcome::kOperation;
  }
  Record(std::move(p));
}

void Engine3d::Rasterise(Primitive& p) {
  const Target colour(board_, Reg(k3dIndexColourAddress), Reg(k3dIndexColourMode), false);
  if (!colour.Drawn()) {
    p.outcome = Outcome::kNoTarget;
    return;
  }
  // Positions snapped to 1/16 pixel.
  int64_t x[3], y[3];
  uint32_t depth[3], channel[4][3];
  for (unsigned k = 0; k < 3; ++k) {
    const double fx = FloatOf(p.vertices[k].position[0]);
    const double fy = FloatOf(p.vertices[k].position[1]);
    if (!std::isfinite(fx) || !std::isfinite(fy) || std::fabs(fx) > k3dCoordinateLimit ||
        std::fabs(fy) > k3dCoordinateLimit) {
      p.outcome = Outcome::kBadPosition;
      return;
    }
    x[k] = std::llround(fx * 16.0);
    y[k] = std::llround(fy * 16.0);
  }
  int64_t area = (x[1] - x[0]) * (y[2] - y[0]) - (y[1] - y[0]) * (x[2] - x[0]);
  if (area == 0) {
    p.outcome = Outcome::kDegenerate;
    return;
  }
  p.outcome = Outcome::kDrawn;
  ++triangles_;

  const uint32_t depthControl = Reg(k3dIndexDepthControl);
  const Target depthTarget(board_, Reg(k3dIndexDepthAddress), Reg(k3dIndexDepthMode), true);
  const bool depthTest = (depthControl & k3dDepthTestOn) != 0 && depthTarget.Drawn();
  const bool depthWrite = depthTest && (depthControl & k3dDepthWrite) != 0;
  const uint32_t compare = (depthControl >> k3dDepthCompareShift) & 7;
  const uint32_t depthMax = depthTarget.format == k3dFormatDepth16          ? 0xFFFFu
                            : depthTarget.format == k3dFormatDepth15Stencil1 ? 0x7FFFu
                                                                              : 0xFFFFFFu;
  for (unsigned k = 0; k < 3; ++k) {
    depth[k] = Quantise(FloatOf(p.vertices[k].position[2]), depthMax);
    const uint32_t* c = p.flat ? p.flatColour : p.vertices[k].diffuse;
    for (unsigned ch = 0; ch < 4; ++ch) channel[ch][k] = Quantise(FloatOf(c[ch]), 255);
  }
  // Counter-clockwise on the screen (y down) becomes clockwise: vertices 1
  // and 2 change places so that the area is positive.
  auto swap12 = [&](auto& a) { std::swap(a[1], a[2]); };
  if (area < 0) {
    swap12(x);
    swap12(y);
    swap12(depth);
    for (auto& c : channel) swap12(c);
    area = -area;
  }

  // Edge k runs from vertex k + 1 to vertex k + 2 and weighs vertex k:
  // e = (xb - xa)(py - ya) - (yb - ya)(px - xa) at the pixel centre p.
  struct Edge {
    int64_t ax, ay, dx, dy;
    int64_t bias;  // 1 on a top or left edge, whose centres are covered
  } edges[3];
  for (unsigned k = 0; k < 3; ++k) {
    const unsigned a = (k + 1) % 3, b = (k + 2) % 3;
    Edge& e = edges[k];
    e.ax = x[a];
    e.ay = y[a];
    e.dx = x[b] - x[a];
    e.dy = y[b] - y[a];
    e.bias = (e.dy < 0 || (e.dy == 0 && e.dx > 0)) ? 1 : 0;
  }

  // Pixels whose centre (16 px + 8) lies inside the bounding box, within
  // the target.
  const int64_t minX = std::min({x[0], x[1], x[2]}), maxX = std::max({x[0], x[1], x[2]});
  const int64_t minY = std::min({y[0], y[1], y[2]}), maxY = std::max({y[0], y[1], y[2]});
  const int64_t width = std::min<int64_t>(colour.pitch, k3dRasterLimit);
  const int64_t px0 = std::max<int64_t>(0, -FloorDiv(-(minX - 8), 16));
  const int64_t px1 = std::min<int64_t>(width - 1, FloorDiv(maxX - 8, 16));
  const int64_t py0 = std::max<int64_t>(0, -FloorDiv(-(minY - 8), 16));
  const int64_t py1 = std::min<int64_t>(colour.rows - 1, FloorDiv(maxY - 8, 16));
  if (px0 > px1 || py0 > py1) return;

  // Interpolation fits 64 bits while area x 2^24 x 2 does.
  const bool wide = area >= (int64_t{1} << 37);
  uint64_t colourFaults = 0, depthFaults = 0;
  uint32_t firstColour = 0, firstDepth = 0;
  auto bytesAt = [&](const Target& t, int64_t px, int64_t py, uint32_t length) -> uint8_t* {
    const uint64_t offset = (static_cast<uint64_t>(py) * t.pitch + static_cast<uint64_t>(px)) * t.bytes;
    const uint64_t bus = uint64_t{t.base} + offset;
    if (bus + length > (uint64_t{1} << 32)) return nullptr;
    if (t.space == kBusLocal)
      return bus + length <= board_.LocalMemorySize() ? board_.LocalMemory() + bus : nullptr;
    return dma_.SystemMemoryAt(static_cast<uint32_t>(bus), length);
  };
  const uint32_t span = static_cast<uint32_t>(px1 - px0 + 1);
  for (int64_t py = py0; py <= py1; ++py) {
    uint8_t* colourRow = bytesAt(colour, px0, py, span * colour.bytes);
    uint8_t* depthRow = depthTest ? bytesAt(depthTarget, px0, py, span * depthTarget.bytes) : nullptr;
    const int64_t cy = 16 * py + 8;
    int64_t e[3];
    for (unsigned k = 0; k < 3; ++k) {
      const Edge& g = edges[k];
      e[k] = g.dx * (cy - g.ay) - g.dy * (16 * px0 + 8 - g.ax);
    }
    for (int64_t px = px0; px <= px1; ++px) {
      if (px != px0)
        for (unsigned k = 0; k < 3; ++k) e[k] -= 16 * edges[k].dy;
      if (e[0] + edges[0].bias <= 0 || e[1] + edges[1].bias <= 0 || e[2] + edges[2].bias <= 0) continue;
      const uint32_t i = static_cast<uint32_t>(px - px0);
      if (depthTest) {
        uint8_t* d = depthRow != nullptr ? depthRow + i * depthTarget.bytes : bytesAt(depthTarget, px, py, depthTarget.bytes);
        if (d == nullptr) {
          if (depthFaults++ == 0)
            firstDepth = static_cast<uint32_t>(depthTarget.base + (py * depthTarget.pitch + px) * depthTarget.bytes);
          continue;
        }
        const uint32_t incoming = Interpolate(e, depth, area, wide);
        uint32_t word = 0;
        std::memcpy(&word, d, depthTarget.bytes);
        const uint32_t stored = depthTarget.format == k3dFormatDepth16          ? word
                                : depthTarget.format == k3dFormatDepth15Stencil1 ? (word & 0xFFFF) >> 1
                                                                                  : word & 0xFFFFFF;
        if (!DepthPasses(compare, incoming, stored)) continue;
        if (depthWrite) {
          const uint32_t out = depthTarget.format == k3dFormatDepth16          ? incoming
                               : depthTarget.format == k3dFormatDepth15Stencil1 ? (incoming << 1) | (word & 1)
                                                                                 : (word & 0xFF000000u) | incoming;
          std::memcpy(d, &out, depthTarget.bytes);
        }
      }
      uint8_t* c = colourRow != nullptr ? colourRow + i * colour.bytes : bytesAt(colour, px, py, colour.bytes);
      if (c == nullptr) {
        if (colourFaults++ == 0)
          firstColour = static_cast<uint32_t>(colour.base + (py * colour.pitch + px) * colour.bytes);
        continue;
      }
      uint32_t v[4];
      for (unsigned ch = 0; ch < 4; ++ch)
        v[ch] = p.flat ? channel[ch][0] : Interpolate(e, channel[ch], area, wide);
      if (colour.format == k3dFormatArgb8888) {
        const uint32_t out = v[3] << 24 | v[0] << 16 | v[1] << 8 | v[2];
        std::memcpy(c, &out, 4);
      } else {
        const uint16_t out = static_cast<uint16_t>((v[0] >> 3) << 11 | (v[1] >> 2) << 5 | (v[2] >> 3));
        std::memcpy(c, &out, 2);
      }
      ++p.pixels;
    }
  }
  pixels_ += p.pixels;
  auto fault = [&](const char* what, const Target& t, uint32_t first, uint64_t count) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "3D engine: %s target: %" PRIu64 " pixels outside every memory, the first at bus 0x%08" PRIX32
                  " (space %u)",
                  what, count, first, t.space);
    faults_.emplace_back(text);
  };
  if (colourFaults != 0) fault("colour", colour, firstColour, colourFaults);
  if (depthFaults != 0) fault("depth", depthTarget, firstDepth, depthFaults);
}

}  // namespace orvsim
