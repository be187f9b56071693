// The 3D engine's rasteriser on the simulated board: the triangles the
// attribute path delivers with their positions already in target pixels
// (the pre-transformed vertices the processor converted) are drawn into
// the bound colour target, flat or Gouraud shaded, with the depth test of
// the depth-stencil group against the bound depth target. Points, lines
// and the primitive commands whose vertices the engine fetches itself (for
// its vertex program, which the board does not run) are recorded only:
// a command with the primitives it assembles and their vertices' words.
//
// The rules are written down in README.md ("The 3D rasteriser").
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/board/board.h"
#include "platform/board/chip_attributes.h"
#include "platform/board/chip_dma.h"

namespace orvsim {

// Register indexes the rasteriser reads (register 0x1000 + 4 x index).
inline constexpr uint8_t k3dIndexPrimitiveControl = 0x2C;  // primitive code in bits 12-14
inline constexpr uint8_t k3dIndexColourAddress = 0x88;     // colour target: address word
inline constexpr uint8_t k3dIndexColourMode = 0x89;        // pitch, layout, format
inline constexpr uint8_t k3dIndexDepthAddress = 0x8A;      // depth target: address word
inline constexpr uint8_t k3dIndexDepthMode = 0x8B;
inline constexpr uint8_t k3dIndexDepthControl = 0xB2;      // test, compare code, write
inline constexpr uint8_t k3dIndexEngineControl = 0xC0;     // the engine's control word

// The bits of the engine control word that say a 3D draw (engine
// operations and mode words write other codes there).
inline constexpr uint32_t k3dEngineDrawForm = 0x860E00;
// Fields of the primitive control word and the depth control word.
inline constexpr unsigned k3dPrimitiveCodeShift = 12;
inline constexpr uint32_t k3dDepthTestOn = 0x1;
inline constexpr unsigned k3dDepthCompareShift = 1;  // bits 1-3
inline constexpr uint32_t k3dDepthWrite = 0x10;

// Target formats the rasteriser draws (bits 24-29 of a mode word).
inline constexpr uint32_t k3dFormatArgb8888 = 50;
inline constexpr uint32_t k3dFormatRgb565 = 40;
inline constexpr uint32_t k3dFormatDepth16 = 42;
inline constexpr uint32_t k3dFormatDepth15Stencil1 = 43;
inline constexpr uint32_t k3dFormatDepth24Stencil8 = 54;

// Vertex coordinates are snapped to 1/16 pixel; a vertex further out than
// this many pixels (or not finite) makes its triangle undrawable.
inline constexpr double k3dCoordinateLimit = 16777216.0;  // 2^24
// The raster's extent: no pixel at x or y of 16,384 or more is drawn.
inline constexpr int k3dRasterLimit = 16384;

// Stream 0's address and stride registers (index 0x00; 0x10 bits 0-15),
// from which a primitive command's vertices are read.
inline constexpr uint8_t k3dIndexStream0Address = 0x00;
inline constexpr uint8_t k3dIndexStream01Stride = 0x10;
// Vertices one primitive command assembles at most, and the words of each
// vertex a record keeps.
inline constexpr uint32_t k3dMaxCommandVertices = 1u << 18;
inline constexpr unsigned k3dRecordedVertexWords = 12;

class Engine3d {
 public:
  enum class Kind : uint8_t { kPoint, kLine, kTriangle, kCommand };
  enum class Outcome : uint8_t {
    kDrawn,        // a triangle rasterised (it may have covered no pixel)
    kRecorded,     // a point, a line or a primitive command: recorded only
    kDegenerate,   // a triangle of no area once snapped: nothing drawn
    kBadPosition,  // a coordinate not finite or beyond the limit: nothing drawn
    kNoTarget,     // no colour target the rasteriser draws: nothing drawn
    kOperation,    // the places drawn while the engine ran an operation: recorded only
  };
  // One vertex as the places held it: the position slot (x, y, z, w) and
  // the diffuse slot (red, green, blue, alpha), raw 32-bit words.
  struct Vertex {
    uint32_t position[4] = {};
    uint32_t diffuse[4] = {};
  };
  struct Primitive {
    Kind kind = Kind::kTriangle;
    Outcome outcome = Outcome::kRecorded;
    uint32_t control = 0;      // the primitive control word at the draw
    uint32_t engineControl = 0;  // the engine control word at the draw
    bool flat = false;         // a flat colour came at place 3 for it
    unsigned vertexCount = 0;  // 1, 2 or 3 from the places; 0 for a command
    Vertex vertices[3];
    uint32_t flatColour[4] = {};
    uint64_t pixels = 0;       // colour pixels written
    uint32_t command = 0;      // a primitive command word and its body
    std::vector<uint32_t> body;
    // A primitive a command assembled (kind point, line or triangle, with
    // `command` set): its vertex indices, and the first words of each
    // vertex as memory held them (`vertexWords` of them; `fetched` false
    // for a vertex that reached no memory).
    bool assembled = false;
    uint32_t indices[3] = {};
    unsigned vertexWords = 0;
    bool fetched[3] = {};
    uint32_t words[3][k3dRecordedVertexWords] = {};
  };

  // Installs the rasteriser behind the DMA engine's packet writes and its
  // primitive commands; it must outlive every range the engine runs.
  Engine3d(Board& board, DmaEngine& dma);
  ~Engine3d();
  Engine3d(const Engine3d&) = delete;
  Engine3d& operator=(const Engine3d&) = delete;

  // One register write as a packet makes it (after it is stored).
  void Write(uint32_t reg, uint32_t value);

  // What reached the engine, in order; the newest `RecordLimit()` are
  // kept, older ones are counted as dropped.
  const std::deque<Primitive>& Primitives() const { return primitives_; }
  void ClearPrimitives() { primitives_.clear(); }
  uint64_t PrimitivesDropped() const { return dropped_; }
  void SetRecordLimit(size_t limit) { limit_ = limit; }
  size_t RecordLimit() const { return limit_; }

  uint64_t TrianglesDrawn() const { return triangles_; }
  uint64_t PixelsWritten() const { return pixels_; }
  // Accesses of a drawn triangle that reached no memory (the colour or
  // depth target outside every memory): one line per triangle and target.
  const std::vector<std::string>& Faults() const { return faults_; }

 private:
  struct Target;
  void Drew(const AttributePath::Draw& draw);
  void Command(uint32_t word, const std::vector<uint32_t>& body);
  // The vertex indices of a command, or false when its index memory is
  // out of reach (a fault is noted).
  bool CommandIndices(uint32_t word, const std::vector<uint32_t>& body, std::vector<uint32_t>* out);
  void Assemble(uint32_t word, uint32_t control, const std::vector<uint32_t>& body,
                const std::vector<uint32_t>& indices);
  const uint8_t* BusBytes(uint32_t address, unsigned space, uint64_t length);
  void Record(Primitive primitive);
  uint32_t Reg(uint8_t index) const;
  void Rasterise(Primitive& primitive);

  Board& board_;
  DmaEngine& dma_;
  unsigned sink_ = 0;
  AttributePath path_;
  std::deque<Primitive> primitives_;
  size_t limit_ = 65536;
  uint64_t dropped_ = 0;
  uint64_t triangles_ = 0;
  uint64_t pixels_ = 0;
  std::vector<std::string> faults_;
  std::vector<uint32_t> indices_;  // scratch of Command
};

}  // namespace orvsim
