// The 3D rasteriser, driven as a driver drives it: count-prefixed ranges
// that program the targets and the depth-stencil group and send the
// vertices through the attribute places. Every picture is compared with a
// small software reference written here from the README's rules: pixel
// centres at +0.5, positions snapped to 1/16 pixel, the top-left rule,
// components rounded half up and interpolated with exact weights.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "platform/board/chip_2d.h"
#include "platform/board/chip_3d.h"
#include "platform/board/chip_dma.h"
#include "platform/board/simulation.h"

namespace orvsim {
namespace {

uint32_t Bits(float f) {
  uint32_t w;
  std::memcpy(&w, &f, sizeof w);
  return w;
}

struct V {
  float x = 0, y = 0, z = 0;
  float r = 0, g = 0, b = 0, a = 0;
};

// ---- The reference -------------------------------------------------------------------------

struct Picture {
  unsigned width = 0, height = 0;
  unsigned format = k3dFormatArgb8888;
  std::vector<uint32_t> pixels;  // as stored: 32-bit words or 16-bit values
  std::vector<uint32_t> depth;   // stored depth words
  unsigned depthFormat = 0;
};

struct RefState {
  bool flat = false;
  V flatColour{};
  bool test = false;
  unsigned compare = 7;
  bool write = false;
};

long long Snap(float v) { return std::llround(static_cast<double>(v) * 16.0); }

unsigned To8(float c) {
  if (std::isnan(c) || c <= 0.0f) return 0;
  if (c >= 1.0f) return 255;
  return static_cast<unsigned>(std::floor(static_cast<double>(c) * 255.0 + 0.5));
}

unsigned DepthBits(unsigned format) {
  return format == k3dFormatDepth16 ? 16 : format == k3dFormatDepth15Stencil1 ? 15 : 24;
}

unsigned ToDepth(float z, unsigned format) {
  const double max = std::ldexp(1.0, static_cast<int>(DepthBits(format))) - 1;
  if (std::isnan(z) || z <= 0.0f) return 0;
  if (z >= 1.0f) return static_cast<unsigned>(max);
  return static_cast<unsigned>(std::floor(static_cast<double>(z) * max + 0.5));
}

// Round-half-up of sum(w_i v_i) / total, the weights being non-negative.
unsigned Blend(const __int128 w[3], const unsigned v[3], __int128 total) {
  const __int128 sum = w[0] * v[0] + w[1] * v[1] + w[2] * v[2];
  return static_cast<unsigned>((sum * 2 + total) / (total * 2));
}

// Draws one triangle into the picture from the rules alone, visiting every
// pixel of the picture.
void RefTriangle(Picture& pic, V v0, V v1, V v2, const RefState& st) {
  const V* v[3] = {&v0, &v1, &v2};
  long long X[3], Y[3];
  for (int i = 0; i < 3; ++i) {
    X[i] = Snap(v[i]->x);
    Y[i] = Snap(v[i]->y);
  }
  // Twice the signed area; the winding on the screen decides the sign.
  const long long twice = (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]);
  if (twice == 0) return;
  const int order[3] = {0, twice > 0 ? 1 : 2, twice > 0 ? 2 : 1};
  for (unsigned py = 0; py < pic.height; ++py) {
    for (unsigned px = 0; px < pic.width; ++px) {
      const long long cx = 16LL * px + 8, cy = 16LL * py + 8;
      __int128 w[3];
      bool inside = true;
      for (int k = 0; k < 3; ++k) {
        // The edge opposite vertex k, walked in screen-clockwise order.
        const int a = order[(k + 1) % 3], b = order[(k + 2) % 3];
        const long long ex = X[b] - X[a], ey = Y[b] - Y[a];
        const long long side = ex * (cy - Y[a]) - ey * (cx - X[a]);
        // A centre on an edge belongs to the triangle when the edge is a
        // top edge (horizontal, going right) or a left edge (going up).
        const bool topLeft = (ey == 0 && ex > 0) || ey < 0;
        if (side < 0 || (side == 0 && !topLeft)) inside = false;
        w[order[k]] = side;
      }
      if (!inside) continue;
      const __int128 total = twice > 0 ? twice : -twice;
      if (st.test) {
        unsigned dz[3];
        for (int i = 0; i < 3; ++i) dz[i] = ToDepth(v[i]->z, pic.depthFormat);
        const unsigned z = Blend(w, dz, total);
        uint32_t& word = pic.depth[py * pic.width + px];
        unsigned stored = pic.depthFormat == k3dFormatDepth16          ? word & 0xFFFF
                          : pic.depthFormat == k3dFormatDepth15Stencil1 ? (word & 0xFFFF) >> 1
                                                                         : word & 0xFFFFFF;
        const bool pass = (z < stored && (st.compare & 2)) || (z == stored && (st.compare & 1)) ||
                          (z > stored && (st.compare & 4));
        if (!pass) continue;
        if (st.write) {
          if (pic.depthFormat == k3dFormatDepth16) word = z;
          else if (pic.depthFormat == k3dFormatDepth15Stencil1) word = (z << 1) | (word & 1);
          else word = (word & 0xFF000000u) | z;
        }
      }
      unsigned c[4];
      for (int ch = 0; ch < 4; ++ch) {
        auto comp = [&](const V& p) { return ch == 0 ? p.r : ch == 1 ? p.g : ch == 2 ? p.b : p.a; };
        if (st.flat) {
          c[ch] = To8(comp(st.flatColour));
        } else {
          const unsigned cv[3] = {To8(comp(v0)), To8(comp(v1)), To8(comp(v2))};
          c[ch] = Blend(w, cv, total);
        }
      }
      pic.pixels[py * pic.width + px] = pic.format == k3dFormatArgb8888
                                            ? (c[3] << 24 | c[0] << 16 | c[1] << 8 | c[2])
                                            : ((c[0] >> 3) << 11 | (c[1] >> 2) << 5 | (c[2] >> 3));
    }
  }
}

// ---- Driving the board ----------------------------------------------------------------------

// Count-prefixed packets of register groups, one group per packet unless
// Raw is used.
class Stream {
 public:
  Stream& Group(std::initializer_list<std::pair<uint8_t, uint32_t>> regs) {
    uint32_t header = 0x21212121;
    unsigned i = 0;
    for (const auto& r : regs) {
      header = (header & ~(0xFFu << (8 * i))) | uint32_t{r.first} << (8 * i);
      ++i;
    }
    words.push_back(static_cast<uint32_t>(regs.size()));
    words.push_back(header);
    for (const auto& r : regs) words.push_back(r.second);
    return *this;
  }
  // A group of 5-word vertex pieces {header, c3, c2, c1, c0}.
  Stream& Pieces(const std::vector<std::array<uint32_t, 5>>& pieces) {
    words.push_back(static_cast<uint32_t>(5 * pieces.size() - 1));
    for (const auto& p : pieces) words.insert(words.end(), p.begin(), p.end());
    return *this;
  }
  std::vector<uint32_t> words;
};

// The header of a piece: place register, 0x5D, 0x5E or 0x5F, slot register.
uint32_t PieceHeader(unsigned place, bool end, unsigned slot) {
  return (0x58u + place) | 0x5Du << 8 | (end ? 0x5Fu : 0x5Eu) << 16 | (0x60u + slot) << 24;
}
std::array<uint32_t, 5> Position(unsigned place, const V& v, bool end = false) {
  return {PieceHeader(place, end, 0), Bits(1.0f), Bits(v.z), Bits(v.y), Bits(v.x)};
}
std::array<uint32_t, 5> Diffuse(unsigned place, const V& v, bool end) {
  return {PieceHeader(place, end, 1), Bits(v.a), Bits(v.b), Bits(v.g), Bits(v.r)};
}

constexpr uint32_t kTarget = 0x100000;
constexpr uint32_t kDepth = 0x200000;
constexpr unsigned kW = 48, kH = 40;
constexpr uint32_t kTriangleList = 3u << k3dPrimitiveCodeShift | 0x20000 | 0x5C;
// An engine control word of the draw form, with a few other bits.
constexpr uint32_t kDrawControl = k3dEngineDrawForm | 0x3;

class Engine3dTest : public ::testing::Test {
 protected:
  void Run(const Stream& s) {
    const uint32_t inner = 0x10000, outer = 0x800;
    ASSERT_LT(s.words.size() * 4, 0x70000u);
    std::memcpy(board.LocalMemory() + inner, s.words.data(), s.words.size() * 4);
    const uint32_t end = inner + 4 * static_cast<uint32_t>(s.words.size());
    const uint32_t packet[] = {0x20292820, 0, inner | kDmaExecCounted, end | kBusLocal, 0};
    std::memcpy(board.LocalMemory() + outer, packet, sizeof packet);
    board.RegWrite(kDmaRegStart, 4, outer);
    board.RegWrite(kDmaRegEnd, 4, outer + sizeof packet);
    ASSERT_TRUE(dma.DecodeErrors().empty());
  }
  // The targets as a driver binds them, and the triangle-list code.
  Stream BoundTargets(unsigned format = k3dFormatArgb8888, unsigned pitch = kW) {
    Stream s;
    s.Group({{k3dIndexColourAddress, kTarget}, {k3dIndexColourMode, pitch | format << 24}});
    s.Group({{k3dIndexPrimitiveControl, kTriangleList}});
    s.Group({{0x44, 0x3}});
    s.Group({{k3dIndexEngineControl, kDrawControl}});
    return s;
  }
  void Depth(Stream& s, unsigned format, bool test, unsigned compare, bool write) {
    s.Group({{k3dIndexDepthAddress, kDepth}, {k3dIndexDepthMode, kW | format << 24}});
    s.Group({{k3dIndexDepthControl, (test ? 1u : 0u) | compare << 1 | (write ? 0x10u : 0u)}});
  }
  // A triangle as the processor's conversion sends it: the three positions,
  // then the flat colour at place 3 or each vertex's diffuse colour; the
  // last piece draws.
  static void Triangle(Stream& s, const V& a, const V& b, const V& c, const V* flat = nullptr) {
    if (flat != nullptr) {
      s.Pieces({Position(0, a), Position(1, b), Position(2, c)});
      s.Pieces({Diffuse(3, *flat, true)});
    } else {
      s.Pieces({Position(0, a), Position(1, b), Position(2, c)});
      s.Pieces({Diffuse(0, a, false)});
      s.Pieces({Diffuse(1, b, false)});
      s.Pieces({Diffuse(2, c, true)});
    }
  }
  // One new vertex at a place, joining the two the places already hold.
  static void Vertex(Stream& s, unsigned place, const V& v) {
    s.Pieces({Position(place, v)});
    s.Pieces({Diffuse(place, v, true)});
  }

  Picture Read(unsigned format = k3dFormatArgb8888, unsigned w = kW, unsigned h = kH) const {
    Picture p;
    p.width = w;
    p.height = h;
    p.format = format;
    const unsigned bytes = format == k3dFormatArgb8888 ? 4 : 2;
    for (unsigned i = 0; i < w * h; ++i) {
      uint32_t v = 0;
      std::memcpy(&v, board.LocalMemory() + kTarget + i * bytes, bytes);
      p.pixels.push_back(v);
    }
    return p;
  }
  Picture Blank(unsigned format = k3dFormatArgb8888) const {
    Picture p;
    p.width = kW;
    p.height = kH;
    p.format = format;
    p.pixels.assign(kW * kH, 0);
    return p;
  }
  static std::string Diff(const Picture& got, const Picture& want) {
    unsigned bad = 0;
    std::string first;
    for (unsigned i = 0; i < want.pixels.size(); ++i) {
      if (got.pixels[i] == want.pixels[i]) continue;
      if (bad++ == 0) {
        char text[96];
        std::snprintf(text, sizeof text, "first at (%u, %u): 0x%08X, want 0x%08X", i % want.width, i / want.width,
                      got.pixels[i], want.pixels[i]);
        first = text;
      }
    }
    return bad == 0 ? std::string() : std::to_string(bad) + " pixels differ, " + first;
  }

  Simulation sim;
  Board& board = sim.AddBoard(BoardConfig{});
  DmaEngine dma{board};
  Engine3d engine{board, dma};
};

TEST_F(Engine3dTest, FlatAndGouraudTrianglesEqualTheReference) {
  for (unsigned format : {k3dFormatArgb8888, k3dFormatRgb565}) {
    SCOPED_TRACE(format);
    std::memset(board.LocalMemory() + kTarget, 0, kW * kH * 4);
    const V a{3.3f, 2.1f, 0, 1.0f, 0.0f, 0.0f, 1.0f}, b{40.7f, 9.45f, 0, 0.0f, 1.0f, 0.0f, 0.5f},
        c{12.0f, 35.5f, 0, 0.0f, 0.0f, 1.0f, 0.0f};
    const V d{44.0f, 20.0f, 0, 0, 0, 0, 0}, e{47.9f, 39.9f, 0, 0, 0, 0, 0}, f{30.25f, 38.0f, 0, 0, 0, 0, 0};
    const V flat{0, 0, 0, 0.2f, 0.6f, 0.8f, 1.0f};
    Stream s = BoundTargets(format);
    Triangle(s, a, b, c);
    Triangle(s, d, e, f, &flat);
    Run(s);

    Picture want = Blank(format);
    RefTriangle(want, a, b, c, RefState{});
    RefState flatState;
    flatState.flat = true;
    flatState.flatColour = flat;
    RefTriangle(want, d, e, f, flatState);
    EXPECT_EQ(Diff(Read(format), want), "");
    ASSERT_EQ(engine.Primitives().size(), 2u);
    EXPECT_FALSE(engine.Primitives()[0].flat);
    EXPECT_TRUE(engine.Primitives()[1].flat);
    EXPECT_EQ(engine.Primitives()[0].outcome, Engine3d::Outcome::kDrawn);
    EXPECT_GT(engine.Primitives()[0].pixels, 300u);
    engine.ClearPrimitives();
  }
  EXPECT_TRUE(engine.Faults().empty());
}

TEST_F(Engine3dTest, ExactVertexColoursAndRoundingHalfUp) {
  // A right triangle whose corners sit on pixel centres: the corner pixels
  // take the vertex colours exactly, and a channel from 0 to 255 across 17
  // pixels steps by 255/16 rounded half up.
  const V a{0.5f, 0.5f, 0, 0, 0, 0, 1}, b{16.5f, 0.5f, 0, 1.0f, 0, 0, 1}, c{0.5f, 16.5f, 0, 0, 1.0f, 0, 1};
  Stream s = BoundTargets();
  Triangle(s, a, b, c);
  Run(s);
  const Picture got = Read();
  for (unsigned x = 0; x <= 15; ++x) {
    const unsigned red = (2 * 255 * x + 16) / 32;
    EXPECT_EQ(got.pixels[x], 0xFF000000u | red << 16) << x;
  }
  // The left edge's centres are covered; the corners on the sloping right
  // edge are not.
  EXPECT_EQ(got.pixels[15 * kW], 0xFF00EF00u) << "(0.5, 15.5): 15/16 of green, rounded";
  EXPECT_EQ(got.pixels[16 * kW], 0u) << "(0.5, 16.5) lies on the right edge";
  EXPECT_EQ(got.pixels[16], 0u) << "(16.5, 0.5) lies on the right edge";
}

TEST_F(Engine3dTest, SharedEdgesCoverEveryPixelOnce) {
  // A fan of triangles around a centre, edges through pixel centres and
  // between them, horizontal, vertical and diagonal: each triangle is drawn
  // alone and the covered pixels counted.
  const V centre{20.5f, 20.5f, 0, 1, 1, 1, 1};
  const V ring[] = {{0.5f, 0.5f}, {20.5f, 0.5f}, {41.3f, 0.5f}, {41.3f, 20.5f}, {41.3f, 37.75f},
                    {20.5f, 37.75f}, {2.0f, 37.75f}, {0.5f, 20.5f}};
  std::vector<unsigned> count(kW * kH, 0);
  const unsigned n = sizeof ring / sizeof ring[0];
  for (unsigned i = 0; i < n; ++i) {
    V p = ring[i], q = ring[(i + 1) % n];
    p.r = q.r = p.a = q.a = 1;
    std::memset(board.LocalMemory() + kTarget, 0, kW * kH * 4);
    Stream s = BoundTargets();
    // Alternate windings: the rule does not depend on the order.
    if (i % 2 == 0) Triangle(s, centre, p, q);
    else Triangle(s, q, p, centre);
    Run(s);
    const Picture got = Read();
    for (unsigned k = 0; k < kW * kH; ++k) count[k] += got.pixels[k] != 0 ? 1 : 0;
    Picture want = Blank();
    RefTriangle(want, centre, p, q, RefState{});
    EXPECT_EQ(Diff(got, want), "") << "triangle " << i;
  }
  // No pixel twice, and every centre strictly inside the octagon once (a
  // centre on its outer edge belongs to it only on a top or left edge).
  for (unsigned k = 0; k < kW * kH; ++k) {
    EXPECT_LE(count[k], 1u) << "pixel (" << k % kW << ", " << k / kW << ") drawn twice";
    const double cx = k % kW + 0.5, cy = k / kW + 0.5;
    bool strictlyInside = true;
    for (unsigned i = 0; i < n; ++i) {
      const V& a = ring[i];
      const V& b = ring[(i + 1) % n];
      const double side = (b.x - a.x) * (cy - a.y) - (b.y - a.y) * (cx - a.x);
      if (side <= 0) strictlyInside = false;
    }
    if (strictlyInside) {
      EXPECT_EQ(count[k], 1u) << "pixel (" << k % kW << ", " << k / kW << ") missing";
    }
  }
}

TEST_F(Engine3dTest, DepthCompareFunctionsAndWriteEnable) {
  // Stored depth 0x8000 in 16 bits; a triangle at z = 0.5 (0x8000 once
  // rounded), one nearer and one further, for every compare code.
  struct Case {
    float z;
    unsigned storedRel;  // 0: the triangle is equal, 1 nearer, 2 further
  };
  const Case zs[] = {{32768.0f / 65535.0f, 0}, {0.25f, 1}, {0.75f, 2}};
  for (unsigned code = 0; code < 8; ++code) {
    for (const Case& zc : zs) {
      for (bool write : {false, true}) {
        SCOPED_TRACE(testing::Message() << "code " << code << " z " << zc.z << " write " << write);
        std::memset(board.LocalMemory() + kTarget, 0, kW * kH * 4);
        for (unsigned i = 0; i < kW * kH; ++i) {
          const uint16_t d = 0x8000;
          std::memcpy(board.LocalMemory() + kDepth + 2 * i, &d, 2);
        }
        Stream s = BoundTargets();
        Depth(s, k3dFormatDepth16, true, code, write);
        const V a{1, 1, zc.z, 1, 1, 1, 1}, b{30, 2, zc.z, 1, 1, 1, 1}, c{4, 30, zc.z, 1, 1, 1, 1};
        Triangle(s, a, b, c);
        Run(s);
        const bool pass = zc.storedRel == 0 ? (code & 1) : zc.storedRel == 1 ? (code & 2) : (code & 4);
        const uint32_t pixel = Read().pixels[5 * kW + 5];
        uint16_t depth = 0;
        std::memcpy(&depth, board.LocalMemory() + kDepth + 2 * (5 * kW + 5), 2);
        EXPECT_EQ(pixel != 0, pass != 0);
        const uint16_t written = static_cast<uint16_t>(ToDepth(zc.z, k3dFormatDepth16));
        EXPECT_EQ(depth, pass && write ? written : 0x8000);
        // Outside the triangle nothing moves.
        std::memcpy(&depth, board.LocalMemory() + kDepth + 2 * (35 * kW + 40), 2);
        EXPECT_EQ(depth, 0x8000);
      }
    }
  }
}

TEST_F(Engine3dTest, DepthFormatsKeepTheirStencilBits) {
  struct Case {
    unsigned format;
    unsigned bytes;
    uint32_t before, after;  // at z = 0.25, stored depth all ones in the depth bits
  };
  const Case cases[] = {
      {k3dFormatDepth16, 2, 0xFFFF, 0x4000},               // round(0.25 x 65535) = 16384
      {k3dFormatDepth15Stencil1, 2, 0xFFFF, 0x4001},       // 8192 << 1, stencil bit kept
      {k3dFormatDepth24Stencil8, 4, 0xA5FFFFFF, 0xA5400000},  // round(0.25 x 0xFFFFFF) = 0x400000
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    for (unsigned i = 0; i < kW * kH; ++i) std::memcpy(board.LocalMemory() + kDepth + c.bytes * i, &c.before, c.bytes);
    Stream s = BoundTargets();
    Depth(s, c.format, true, 3, true);  // less or equal
    const V a{0, 0, 0.25f, 1, 0, 0, 1}, b{20, 0, 0.25f, 1, 0, 0, 1}, d{0, 20, 0.25f, 1, 0, 0, 1};
    Triangle(s, a, b, d);
    Run(s);
    uint32_t got = 0;
    std::memcpy(&got, board.LocalMemory() + kDepth + c.bytes * (2 * kW + 2), c.bytes);
    EXPECT_EQ(got, c.after);
  }
}

TEST_F(Engine3dTest, NearerTriangleWinsInEitherOrderAndInterpolatedDepth) {
  // Two triangles crossing in depth: each is nearer over part of the
  // overlap; drawn in both orders with less-equal and writes on, the
  // pictures equal the reference and each other.
  const V a{2, 3, 0.1f, 1, 0, 0, 1}, b{45, 8, 0.9f, 1, 0.5f, 0, 1}, c{6, 38, 0.5f, 1, 0, 0.5f, 1};
  const V d{44, 2, 0.2f, 0, 0, 1, 1}, e{40, 37, 0.2f, 0, 1, 1, 1}, f{1, 20, 0.8f, 0.3f, 0.3f, 1, 1};
  for (bool swapOrder : {false, true}) {
    for (unsigned i = 0; i < kW * kH; ++i) {
      const uint32_t far = 0xFFFFFF;
      std::memcpy(board.LocalMemory() + kDepth + 4 * i, &far, 4);
    }
    std::memset(board.LocalMemory() + kTarget, 0, kW * kH * 4);
    Stream s = BoundTargets();
    Depth(s, k3dFormatDepth24Stencil8, true, 3, true);
    if (swapOrder) {
      Triangle(s, d, e, f);
      Triangle(s, a, b, c);
    } else {
      Triangle(s, a, b, c);
      Triangle(s, d, e, f);
    }
    Run(s);
    Picture want = Blank();
    want.depthFormat = k3dFormatDepth24Stencil8;
    want.depth.assign(kW * kH, 0xFFFFFF);
    RefState st;
    st.test = true;
    st.compare = 3;
    st.write = true;
    if (swapOrder) {
      RefTriangle(want, d, e, f, st);
      RefTriangle(want, a, b, c, st);
    } else {
      RefTriangle(want, a, b, c, st);
      RefTriangle(want, d, e, f, st);
    }
    EXPECT_EQ(Diff(Read(), want), "") << "swapped " << swapOrder;
    // Where they overlap, each triangle shows somewhere: the depth decides.
    unsigned red = 0, blue = 0;
    for (uint32_t p : want.pixels) {
      red += (p >> 16 & 0xFF) == 0xFF && (p & 0xFF) < 0xFF ? 1 : 0;
      blue += (p & 0xFF) == 0xFF ? 1 : 0;
    }
    EXPECT_GT(red, 100u);
    EXPECT_GT(blue, 100u);
  }
}

TEST_F(Engine3dTest, DepthTestOffLeavesTheDepthTargetAlone) {
  const uint16_t stored = 0x1234;
  for (unsigned i = 0; i < kW * kH; ++i) std::memcpy(board.LocalMemory() + kDepth + 2 * i, &stored, 2);
  Stream s = BoundTargets();
  Depth(s, k3dFormatDepth16, false, 0 /* never */, true);
  Triangle(s, {0, 0, 0.9f, 1, 1, 1, 1}, {20, 0, 0.9f, 1, 1, 1, 1}, {0, 20, 0.9f, 1, 1, 1, 1});
  Run(s);
  EXPECT_EQ(Read().pixels[kW + 1], 0xFFFFFFFFu) << "drawn although the function is never";
  uint16_t got = 0;
  std::memcpy(&got, board.LocalMemory() + kDepth + 2 * (kW + 1), 2);
  EXPECT_EQ(got, stored);

  // The test on with no depth target the engine draws (format 0): drawn.
  Stream t = BoundTargets();
  t.Group({{k3dIndexDepthAddress, 0}, {k3dIndexDepthMode, 0}});
  t.Group({{k3dIndexDepthControl, 1u | 0u << 1}});
  Triangle(t, {30, 0, 0.5f, 0, 1, 0, 1}, {47, 0, 0.5f, 0, 1, 0, 1}, {30, 20, 0.5f, 0, 1, 0, 1});
  Run(t);
  EXPECT_EQ(Read().pixels[kW + 31], 0xFF00FF00u);
}

TEST_F(Engine3dTest, StripsAndFansAsThePlacesDeliverThem) {
  // A strip: vertices 0-2 in full, then each new vertex alone at place
  // i mod 3; a fan keeps vertex 0 at place 0 and alternates places 1, 2.
  std::vector<V> strip = {{2, 2, 0, 1, 0, 0, 1}, {2, 18, 0, 0, 1, 0, 1}, {14, 3, 0, 0, 0, 1, 1},
                          {15, 19, 0, 1, 1, 0, 1}, {27, 2.5f, 0, 0, 1, 1, 1}};
  std::vector<V> fan = {{36, 28, 0, 1, 1, 1, 1}, {46, 22, 0, 1, 0, 0, 1}, {46, 36, 0, 0, 1, 0, 1},
                        {36, 39, 0, 0, 0, 1, 1}, {26, 36, 0, 1, 0, 1, 1}};
  Stream s = BoundTargets();
  s.Group({{k3dIndexPrimitiveControl, 4u << k3dPrimitiveCodeShift | 0x20000 | 0x5C}});
  Triangle(s, strip[0], strip[1], strip[2]);
  for (unsigned i = 3; i < strip.size(); ++i) Vertex(s, i % 3, strip[i]);
  s.Group({{k3dIndexPrimitiveControl, 5u << k3dPrimitiveCodeShift | 0x20000 | 0x5C}});
  Triangle(s, fan[0], fan[1], fan[2]);
  for (unsigned i = 3; i < fan.size(); ++i) Vertex(s, i % 2 == 1 ? 1 : 2, fan[i]);
  Run(s);

  Picture want = Blank();
  for (unsigned i = 2; i < strip.size(); ++i) RefTriangle(want, strip[i - 2], strip[i - 1], strip[i], RefState{});
  for (unsigned i = 2; i < fan.size(); ++i) RefTriangle(want, fan[0], fan[i - 1], fan[i], RefState{});
  EXPECT_EQ(Diff(Read(), want), "");
  EXPECT_EQ(engine.TrianglesDrawn(), 6u);
}

TEST_F(Engine3dTest, ClippedToTheTargetAndToMemory) {
  // A triangle reaching past every side of a 20-pixel-wide target: pixels
  // at x >= 20 or below 0 are not drawn, and the bytes around the target
  // keep their guard pattern.
  constexpr unsigned pitch = 20;
  std::memset(board.LocalMemory() + kTarget - 64, 0xEE, 64);
  std::memset(board.LocalMemory() + kTarget, 0, pitch * kH * 4);
  Stream s = BoundTargets(k3dFormatArgb8888, pitch);
  Triangle(s, {-30, -10, 0, 1, 1, 1, 1}, {60, 5, 0, 1, 1, 1, 1}, {5, 60, 0, 1, 1, 1, 1});
  Run(s);
  for (unsigned i = 0; i < 64; ++i) ASSERT_EQ(board.LocalMemory()[kTarget - 64 + i], 0xEE) << i;
  Picture want;
  want.width = pitch;
  want.height = kH;
  want.pixels.assign(pitch * kH, 0);
  RefTriangle(want, {-30, -10, 0, 1, 1, 1, 1}, {60, 5, 0, 1, 1, 1, 1}, {5, 60, 0, 1, 1, 1, 1}, RefState{});
  EXPECT_EQ(Diff(Read(k3dFormatArgb8888, pitch, kH), want), "");

  // A target whose last rows lie past the end of local memory: drawn up to
  // the last whole row, nothing written past the end, no fault.
  const uint64_t size = board.LocalMemorySize();
  const uint32_t base = static_cast<uint32_t>(size - 10 * pitch * 4);
  Stream t;
  t.Group({{k3dIndexColourAddress, base}, {k3dIndexColourMode, pitch | k3dFormatArgb8888 << 24}});
  Triangle(t, {-5, -5, 0, 1, 1, 1, 1}, {100, -5, 0, 1, 1, 1, 1}, {-5, 100, 0, 1, 1, 1, 1});
  Run(t);
  EXPECT_EQ(engine.Primitives().back().pixels, 10u * pitch);
  EXPECT_TRUE(engine.Faults().empty());
}

TEST_F(Engine3dTest, DegenerateHugeAndNotANumberStayBounded) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* name;
    V a, b, c;
    Engine3d::Outcome outcome;
    uint64_t pixels;
  };
  const Case cases[] = {
      {"all three at one point", {5, 5}, {5, 5}, {5, 5}, Engine3d::Outcome::kDegenerate, 0},
      {"collinear", {1, 1}, {10, 10}, {20, 20}, Engine3d::Outcome::kDegenerate, 0},
      {"collinear once snapped", {1, 1}, {10, 10}, {20.01f, 20}, Engine3d::Outcome::kDegenerate, 0},
      {"NaN x", {nan, 1}, {10, 1}, {1, 10}, Engine3d::Outcome::kBadPosition, 0},
      {"infinite y", {1, 1}, {10, inf}, {1, 10}, Engine3d::Outcome::kBadPosition, 0},
      {"beyond 2^24", {1, 1}, {3e7f, 1}, {1, 10}, Engine3d::Outcome::kBadPosition, 0},
      {"1e30", {1, 1}, {1e30f, -1e30f}, {1, 10}, Engine3d::Outcome::kBadPosition, 0},
      {"huge but inside the limit covers the target", {-1.6e7f, -1.6e7f}, {1.6e7f, -1.6e7f}, {0, 1.6e7f},
       Engine3d::Outcome::kDrawn, kW * 40000ull},
      {"thin sliver between centres", {0.6f, 0.6f}, {40.4f, 0.6f}, {20, 0.9f}, Engine3d::Outcome::kDrawn, 0},
      {"NaN z and colours draw as 0", {0, 0, nan, nan, nan, nan, nan}, {8, 0, nan}, {0, 8, nan},
       Engine3d::Outcome::kDrawn, 28},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    engine.ClearPrimitives();
    // A tall target so that the huge triangle is bounded by the target's
    // rows that fit in memory, not by the raster limit.
    Stream s = BoundTargets(k3dFormatArgb8888, kW);
    Triangle(s, c.a, c.b, c.c);
    Run(s);
    ASSERT_EQ(engine.Primitives().size(), 1u);
    EXPECT_EQ(engine.Primitives()[0].outcome, c.outcome);
    if (c.pixels != kW * 40000ull) {
      EXPECT_EQ(engine.Primitives()[0].pixels, c.pixels);
    } else {
      // Clipped to 16,384 rows (the raster limit) of 48 pixels.
      EXPECT_EQ(engine.Primitives()[0].pixels, uint64_t{kW} * k3dRasterLimit);
    }
  }
  EXPECT_TRUE(engine.Faults().empty());
}

TEST_F(Engine3dTest, PointsLinesAndFetchedPrimitivesAreRecordedOnly) {
  std::memset(board.LocalMemory() + kTarget, 0, kW * kH * 4);
  Stream s = BoundTargets();
  // A point: its one vertex at place 3.
  s.Group({{k3dIndexPrimitiveControl, 0x20020}});
  s.Pieces({Position(3, {5, 5}), Diffuse(3, {5, 5, 0, 1, 1, 1, 1}, true)});
  // A line: places 0 and 1.
  s.Group({{k3dIndexPrimitiveControl, 1u << k3dPrimitiveCodeShift | 0x2003D}});
  s.Pieces({Position(0, {1, 1}), Position(1, {30, 30})});
  s.Pieces({Diffuse(0, {1, 1, 0, 1, 1, 1, 1}, false)});
  s.Pieces({Diffuse(1, {30, 30, 0, 1, 1, 1, 1}, true)});
  // Vertices copied into the stream for the engine to fetch (w = 5).
  s.Group({{k3dIndexPrimitiveControl, kTriangleList}});
  s.words.push_back(0x97000001u | 4u << 17);
  s.words.push_back(0x1000);
  s.words.push_back(0x103C);
  Run(s);
  // The command, then the one triangle its three vertices make.
  ASSERT_EQ(engine.Primitives().size(), 4u);
  EXPECT_TRUE(engine.Primitives()[3].assembled);
  EXPECT_EQ(engine.Primitives()[3].kind, Engine3d::Kind::kTriangle);
  EXPECT_EQ(engine.Primitives()[0].kind, Engine3d::Kind::kPoint);
  EXPECT_EQ(engine.Primitives()[0].vertexCount, 1u);
  EXPECT_EQ(engine.Primitives()[0].vertices[0].position[0], Bits(5.0f));
  EXPECT_EQ(engine.Primitives()[1].kind, Engine3d::Kind::kLine);
  EXPECT_EQ(engine.Primitives()[1].vertices[1].position[1], Bits(30.0f));
  EXPECT_EQ(engine.Primitives()[2].kind, Engine3d::Kind::kCommand);
  EXPECT_EQ(engine.Primitives()[2].command, 0x97000001u | 4u << 17);
  EXPECT_EQ(engine.Primitives()[2].body, (std::vector<uint32_t>{0x1000, 0x103C}));
  EXPECT_EQ(engine.Primitives()[2].control, kTriangleList);
  for (const auto& p : engine.Primitives()) EXPECT_EQ(p.outcome, Engine3d::Outcome::kRecorded);
  EXPECT_EQ(engine.PixelsWritten(), 0u);
  EXPECT_EQ(Diff(Read(), Blank()), "");
}

TEST_F(Engine3dTest, PrimitiveCommandsAreAssembledByThePrimitiveCode) {
  // Stream 0 at 0x300000 with a stride of 16 bytes: vertex i holds the
  // words 10 i, 10 i + 1, ...; index data at 0x310000.
  for (uint32_t i = 0; i < 32; ++i)
    for (uint32_t w = 0; w < 4; ++w) {
      const uint32_t word = 10 * i + w;
      std::memcpy(board.LocalMemory() + 0x300000 + 16 * i + 4 * w, &word, 4);
    }
  const uint16_t halves[] = {0xDEAD, 0, 1, 2, 3, 4, 5, 0xBEEF};
  std::memcpy(board.LocalMemory() + 0x310000, halves, sizeof halves);
  const uint32_t quads[] = {8, 9, 10, 11};
  std::memcpy(board.LocalMemory() + 0x310020, quads, sizeof quads);

  auto code = [](uint32_t c) { return c << k3dPrimitiveCodeShift | 0x20000u; };
  Stream s;
  s.Group({{k3dIndexStream0Address, 0x300000}, {k3dIndexStream01Stride, 16}});
  // From the streams: a strip of six.
  s.Group({{k3dIndexPrimitiveControl, code(4)}});
  s.words.insert(s.words.end(), {0x8F000001u, 0, 6});
  // Five inline 16-bit indices as a fan.
  s.Group({{k3dIndexPrimitiveControl, code(5)}});
  s.words.insert(s.words.end(), {0x87000000u | 4, 3u << 16 | 7, 1u << 16 | 9, 4});
  // 16-bit indices by address: start 0x310002 with bit 0 (skip the first
  // half, drop the last), end 0x310010: six indices, a list.
  s.Group({{k3dIndexPrimitiveControl, code(3)}});
  s.words.insert(s.words.end(), {0x9B000001u, 0x310003, 0x310010});
  // 32-bit indices by address as a quad; a loop closure as a line strip.
  s.Group({{k3dIndexPrimitiveControl, code(6)}});
  s.words.insert(s.words.end(), {0x9F000001u, 0x310020, 0x310030});
  s.Group({{k3dIndexPrimitiveControl, code(2)}});
  s.words.insert(s.words.end(), {0x0B000001u, 5, 0});
  // Indices past the end of local memory: a fault, nothing assembled.
  s.words.insert(s.words.end(), {0x9B000001u, 0xFFFFFF00u, 0xFFFFFFF0u});
  Run(s);

  std::vector<std::vector<uint32_t>> got;
  for (const auto& p : engine.Primitives()) {
    if (!p.assembled) continue;
    std::vector<uint32_t> v(p.indices, p.indices + p.vertexCount);
    got.push_back(v);
    for (unsigned k = 0; k < p.vertexCount; ++k) {
      EXPECT_TRUE(p.fetched[k]);
      EXPECT_EQ(p.vertexWords, 4u);
      EXPECT_EQ(p.words[k][0], 10 * p.indices[k]);
      EXPECT_EQ(p.words[k][3], 10 * p.indices[k] + 3);
    }
  }
  const std::vector<std::vector<uint32_t>> want = {
      {0, 1, 2}, {2, 1, 3}, {2, 3, 4}, {4, 3, 5},  // the strip, every other one turned
      {7, 3, 9}, {7, 9, 1}, {7, 1, 4},             // the fan
      {0, 1, 2}, {3, 4, 5},                        // the list by address
      {8, 9, 11}, {11, 9, 10},                     // the quad
      {5, 0},                                      // the closing line
  };
  EXPECT_EQ(got, want);
  ASSERT_EQ(engine.Faults().size(), 1u);
  EXPECT_NE(engine.Faults()[0].find("reach no memory"), std::string::npos);
  EXPECT_EQ(engine.PixelsWritten(), 0u);
}

// Copied vertices lie in the stream the command came from: a stream in
// page-locked system memory gives the end word as a plain bus address, and
// the vertices are read from that memory, not from local memory at the
// same address.
TEST_F(Engine3dTest, CopiedVerticesAreReadFromTheStreamsOwnMemory) {
  constexpr uint32_t kBus = 0x10000000;  // the pages' bus address
  std::vector<uint32_t> pages(0x400, 0);
  dma.SetSystemMemory([&](uint32_t bus, uint32_t length) -> uint8_t* {
    if (bus < kBus || uint64_t{bus} - kBus + length > pages.size() * 4) return nullptr;
    return reinterpret_cast<uint8_t*>(pages.data()) + (bus - kBus);
  });
  // Local memory at the same offset holds other words.
  for (uint32_t i = 0; i < 64; ++i) std::memcpy(board.LocalMemory() + kBus % board.LocalMemorySize() + 4 * i, &i, 4);
  // The stream: the triangle code, the packet, then its three vertices of
  // five words (vertex i: 100 i + w), the way the driver lays them out.
  std::vector<uint32_t> words = {1, 0x2121212C, kTriangleList};
  const uint32_t data = kBus + 4 * (static_cast<uint32_t>(words.size()) + 3);
  words.insert(words.end(), {0x97000001u | 4u << 17, data, data + 60});
  for (uint32_t i = 0; i < 3; ++i)
    for (uint32_t w = 0; w < 5; ++w) words.push_back(100 * i + w);
  std::copy(words.begin(), words.end(), pages.begin());
  // Only the packets run, as a count-prefixed range of those pages: the
  // copied words are data.
  const uint32_t outer = 0x800;
  const uint32_t packet[] = {0x20292820, 0, kBus | kDmaExecCounted, (kBus + 4 * 6) | kBusPciLocked, 0};
  std::memcpy(board.LocalMemory() + outer, packet, sizeof packet);
  board.RegWrite(kDmaRegStart, 4, outer);
  board.RegWrite(kDmaRegEnd, 4, outer + sizeof packet);
  ASSERT_TRUE(dma.DecodeErrors().empty()) << dma.DecodeErrors().front();
  ASSERT_EQ(engine.Primitives().size(), 2u);
  const Engine3d::Primitive& t = engine.Primitives()[1];
  ASSERT_TRUE(t.assembled);
  ASSERT_EQ(t.vertexWords, 5u);
  for (unsigned k = 0; k < 3; ++k) {
    EXPECT_TRUE(t.fetched[k]) << k;
    for (unsigned w = 0; w < 5; ++w) EXPECT_EQ(t.words[k][w], 100 * k + w) << k << "." << w;
  }
  EXPECT_TRUE(engine.Faults().empty());
}

TEST_F(Engine3dTest, AHugeCommandIsAssembledUpToItsBound) {
  Stream s;
  s.Group({{k3dIndexStream0Address, 0x300000}, {k3dIndexStream01Stride, 0}});
  s.Group({{k3dIndexPrimitiveControl, 0u << k3dPrimitiveCodeShift}});
  s.words.insert(s.words.end(), {0x8F000001u, 0, 0xFFFFFFFFu});
  engine.SetRecordLimit(4);
  Run(s);
  EXPECT_EQ(engine.PrimitivesDropped() + engine.Primitives().size(), 1u + k3dMaxCommandVertices);
}

TEST_F(Engine3dTest, AnEngineOperationsVerticesAreNotDrawn) {
  // Engine operations send vertex images through the places under their
  // own control words (a counter copy, a mode word): recorded, not drawn.
  std::memset(board.LocalMemory() + kTarget, 0, kW * kH * 4);
  for (uint32_t control : {0xC07u, 0x8002CDu, 0x20Au, 0x360004u}) {
    SCOPED_TRACE(control);
    engine.ClearPrimitives();
    Stream s = BoundTargets();
    s.Group({{k3dIndexEngineControl, control}});
    Triangle(s, {0.25f, 0.5f, 0.5f, 1, 1, 1, 1}, {30.5f, 0.5f, 0.5f, 1, 1, 1, 1}, {0.25f, 30.5f, 0.5f, 1, 1, 1, 1});
    Run(s);
    ASSERT_EQ(engine.Primitives().size(), 1u);
    EXPECT_EQ(engine.Primitives()[0].outcome, Engine3d::Outcome::kOperation);
    EXPECT_EQ(engine.Primitives()[0].engineControl, control);
  }
  EXPECT_EQ(Diff(Read(), Blank()), "");
  // The draw form again: drawn.
  Stream s = BoundTargets();
  Triangle(s, {0.25f, 0.5f, 0.5f, 1, 1, 1, 1}, {30.5f, 0.5f, 0.5f, 1, 1, 1, 1}, {0.25f, 30.5f, 0.5f, 1, 1, 1, 1});
  Run(s);
  EXPECT_EQ(engine.Primitives().back().outcome, Engine3d::Outcome::kDrawn);
}

TEST_F(Engine3dTest, RecordsKeepTheNewestUpToTheLimit) {
  engine.SetRecordLimit(2);
  Stream s = BoundTargets();
  for (int i = 0; i < 5; ++i) Triangle(s, {0, 0, 0, 1, 1, 1, 1}, {4, 0, 0, 1, 1, 1, 1}, {0, static_cast<float>(4 + i)});
  Run(s);
  ASSERT_EQ(engine.Primitives().size(), 2u);
  EXPECT_EQ(engine.PrimitivesDropped(), 3u);
  EXPECT_EQ(engine.Primitives()[1].vertices[2].position[1], Bits(8.0f));
  EXPECT_EQ(engine.TrianglesDrawn(), 5u);
}

TEST_F(Engine3dTest, NoColourTargetDrawsNothing) {
  Stream s;
  s.Group({{k3dIndexColourAddress, kTarget}, {k3dIndexColourMode, kW | 52u << 24}});  // 2:10:10:10
  s.Group({{k3dIndexPrimitiveControl, kTriangleList}, {k3dIndexEngineControl, kDrawControl}});
  Triangle(s, {0, 0, 0, 1, 1, 1, 1}, {9, 0}, {0, 9});
  Run(s);
  ASSERT_EQ(engine.Primitives().size(), 1u);
  EXPECT_EQ(engine.Primitives()[0].outcome, Engine3d::Outcome::kNoTarget);
  EXPECT_EQ(engine.PixelsWritten(), 0u);
}

TEST_F(Engine3dTest, ArbitraryWordsStayInsideTheTargets) {
  // Targets anywhere (past the end of local memory, in system memory no
  // resolver knows, memory space 1), any format and pitch, coordinates of
  // every size and kind: nothing crashes, every loop ends, and no byte
  // outside the targets' rows changes.
  uint64_t state = 12345;
  auto next = [&]() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(state >> 33);
  };
  const float specials[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(), 1e30f, -3e7f, 1.6e7f, 0.5f, -0.5f};
  auto coordinate = [&]() -> float {
    const uint32_t r = next();
    if (r % 8 == 0) return specials[(r >> 3) % 8];
    return static_cast<float>(static_cast<int32_t>(r % 4000) - 1000) / 16.0f;
  };
  const uint32_t formats[] = {k3dFormatArgb8888, k3dFormatRgb565, 52, 0};
  const uint32_t depthFormats[] = {k3dFormatDepth16, k3dFormatDepth15Stencil1, k3dFormatDepth24Stencil8, 0};
  const uint64_t size = board.LocalMemorySize();
  // A sentinel page below every target: targets start at 0x400000 or later.
  std::memset(board.LocalMemory() + 0x3FF000, 0x5A, 0x1000);
  for (int round = 0; round < 300; ++round) {
    const uint32_t pitch = next() % 600;
    const uint32_t space = next() % 4;
    const uint32_t where = next() % 3;
    const uint32_t address = where == 0   ? 0x400000 + (next() % 0x100000) * 4
                             : where == 1 ? static_cast<uint32_t>(size - (next() % 0x10000) * 4)
                                          : (0x400000 + next() % 0xFFB00000u) & ~3u;
    Stream s;
    s.Group({{k3dIndexColourAddress, address | space}, {k3dIndexColourMode, pitch | formats[next() % 4] << 24}});
    s.Group({{k3dIndexDepthAddress, (0x800000 + (next() % 0x100000) * 4) | (next() % 2 ? 0 : 3)},
             {k3dIndexDepthMode, (next() % 600) | depthFormats[next() % 4] << 24}});
    s.Group({{k3dIndexDepthControl, next() & 0x1F}});
    s.Group({{k3dIndexPrimitiveControl, (next() % 8) << k3dPrimitiveCodeShift},
             {k3dIndexEngineControl, next() % 4 ? kDrawControl : next()}});
    for (int t = 0; t < 4; ++t) {
      V v[3];
      for (V& x : v) {
        x = {coordinate(), coordinate(), static_cast<float>(next() % 3) * 0.5f, 1, 0.5f, 0.25f, 1};
      }
      Triangle(s, v[0], v[1], v[2], next() % 2 ? &v[0] : nullptr);
    }
    Run(s);
  }
  for (unsigned i = 0; i < 0x1000; ++i) ASSERT_EQ(board.LocalMemory()[0x3FF000 + i], 0x5A) << i;
  EXPECT_GT(engine.TrianglesDrawn(), 100u);
  EXPECT_FALSE(engine.Faults().empty()) << "system memory nobody resolves is a fault, not a crash";
}

TEST(Engine3dBeside2d, BothEnginesSeeThePacketsAndARemovedEngineNoMore) {
  Simulation sim;
  Board& board = sim.AddBoard(BoardConfig{});
  DmaEngine dma{board};
  Engine2d engine2d{board, dma};
  auto run = [&](const std::vector<uint32_t>& words) {
    std::memcpy(board.LocalMemory() + 0x10000, words.data(), words.size() * 4);
    const uint32_t end = 0x10000 + 4 * static_cast<uint32_t>(words.size());
    const uint32_t packet[] = {0x20292820, 0, 0x10000 | kDmaExecCounted, end | kBusLocal, 0};
    std::memcpy(board.LocalMemory() + 0x800, packet, sizeof packet);
    board.RegWrite(kDmaRegStart, 4, 0x800);
    board.RegWrite(kDmaRegEnd, 4, 0x800 + sizeof packet);
  };
  Stream s;
  {
    Engine3d engine{board, dma};
    s.Group({{k3dIndexColourAddress, kTarget}, {k3dIndexColourMode, kW | k3dFormatArgb8888 << 24}});
    s.Group({{k3dIndexPrimitiveControl, kTriangleList}, {k3dIndexEngineControl, kDrawControl}});
    const V a{0, 0, 0, 1, 1, 1, 1}, b{9, 0, 0, 1, 1, 1, 1}, c{0, 9, 0, 1, 1, 1, 1};
    for (const auto& piece : {Position(0, a), Position(1, b), Position(2, c), Diffuse(0, a, false),
                              Diffuse(1, b, false), Diffuse(2, c, true)})
      s.Pieces({piece});
    // The 2D engine's fill of 4 x 1 pixels into descriptor 0, the same
    // surface: foreground, plane mask, origin, control (fill, copy raster
    // operation, destination descriptor 0) and the size that starts it.
    s.Group({{0xC5, 0x12345678}, {0xC9, 0xFFFFFFFF}, {0xC2, 0}, {0xC0, 0xC0}});
    s.Group({{0xE3, 1u << 16 | 4}});
    run(s.words);
    EXPECT_EQ(engine.TrianglesDrawn(), 1u);
    EXPECT_EQ(engine2d.Operations(), 1u);
  }
  // The rasteriser is gone: the same packets reach the 2D engine alone.
  std::memset(board.LocalMemory() + kTarget, 0, kW * 16 * 4);
  run(s.words);
  EXPECT_EQ(engine2d.Operations(), 2u);
  uint32_t pixel = 0;
  std::memcpy(&pixel, board.LocalMemory() + kTarget + 4 * (kW + 1), 4);
  EXPECT_EQ(pixel, 0u) << "no triangle without the rasteriser";
  std::memcpy(&pixel, board.LocalMemory() + kTarget, 4);
  EXPECT_EQ(pixel, 0x12345678u) << "the 2D fill";
}

}  // namespace
}  // namespace orvsim
