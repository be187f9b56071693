// A small 3D scene as a client process runs it through the device node:
// the device it gets from the X driver's direct-client hook, its context,
// a command buffer, a video-only render target with a depth target, a
// primary-kind surface to present into, a 3D context on a drawable whose
// clip rectangles leave part of its window covered, and its token streams:
// viewport, render states, transforms, a light, a clear, lit and
// transformed triangles, pre-transformed triangles in flat and in Gouraud
// shading overlapping at different depths with the depth test on, and the
// present of the target into the window.
//
// The values the streams carry (render-state ids, vertex-format codes,
// primitive types, client format numbers) keep the client 3D interface's
// numbering, as the kernel expects it.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "platform/client3d/client3d.h"

struct _Screen;

namespace client3d {

// What the driver's hook ORVGLXEnableDirectClient answers for a screen.
struct DirectClient {
  uint8_t minor = 0;
  uint64_t deviceHandle = 0;
};
// Looks the hook up by name in the driver module `modulePath`, which must
// already be loaded into the process (it is never loaded here), and calls
// it for the screen, as the OpenGL module does. Empty, or why it failed.
std::string EnableDirectClient(const std::string& modulePath, _Screen* screen, DirectClient* out);

struct Rect {
  int32_t left, top, right, bottom;
};

// A pre-transformed vertex: screen x and y, depth z, reciprocal w and its
// colour (A8R8G8B8). Vertex format code kFormatScreen.
struct ScreenVertex {
  float x, y, z, rhw;
  uint32_t colour;
};
static_assert(sizeof(ScreenVertex) == 20);

// A vertex of the lit and transformed triangles: position, normal, colour
// and one set of texture coordinates. Vertex format code kFormatLit.
struct LitVertex {
  float x, y, z;
  float nx, ny, nz;
  uint32_t colour;
  float u, v;
};
static_assert(sizeof(LitVertex) == 36);

// A light record of token 33 (104 bytes): kind (1 point, 2 spot,
// 3 directional), colours as four floats, position, direction, range,
// attenuation, falloff and the cone angles.
struct LightWords {
  uint32_t kind;
  float diffuse[4], specular[4], ambient[4];
  float position[3], direction[3];
  float range;
  float attenuation[3];
  float falloff, theta, phi;
};
static_assert(sizeof(LightWords) == 104);

// Where the scene draws: its drawable, the window on the screen and the
// parts of it that are not covered (screen coordinates), the clear values.
struct SceneLayout {
  uint64_t drawableKey = 0x3D;
  Rect window = {200, 150, 456, 342};
  // Two rectangles: the window less a covered block at its bottom right.
  std::vector<Rect> visible = {{200, 150, 456, 262}, {200, 262, 356, 342}};
  uint32_t clearColour = 0xFF204080;  // A8R8G8B8
  float clearDepth = 1.0f;
  uint32_t colourFormat = 23;  // 5:6:5, the desktop's
  uint32_t depthFormat = 80;   // depth 16
};

class Scene {
 public:
  // Token opcodes.
  static constexpr uint32_t kTokenRenderStates = 12;
  static constexpr uint32_t kTokenViewport = 7;
  static constexpr uint32_t kTokenClear = 21;
  static constexpr uint32_t kTokenUserPrimitives = 28;
  static constexpr uint32_t kTokenTransforms = 32;
  static constexpr uint32_t kTokenLights = 33;
  static constexpr uint32_t kTokenVertexShader = 66;
  // Render states and their values.
  static constexpr uint32_t kStateDepthEnable = 7;
  static constexpr uint32_t kStateShadeMode = 9;
  static constexpr uint32_t kStateDepthWrite = 14;
  static constexpr uint32_t kStateCullMode = 22;
  static constexpr uint32_t kStateDepthFunc = 23;
  static constexpr uint32_t kStateLighting = 137;
  static constexpr uint32_t kStateAmbient = 139;
  static constexpr uint32_t kShadeFlat = 1;
  static constexpr uint32_t kShadeGouraud = 2;
  static constexpr uint32_t kCullNone = 1;
  static constexpr uint32_t kCompareLessEqual = 4;
  // Transform ids of token 32.
  static constexpr uint32_t kTransformView = 2;
  static constexpr uint32_t kTransformProjection = 3;
  static constexpr uint32_t kTransformWorld = 256;
  // Vertex format codes and the primitive type.
  static constexpr uint32_t kFormatScreen = 0x44;   // pre-transformed position, colour
  static constexpr uint32_t kFormatLit = 0x152;     // position, normal, colour, one texture set
  static constexpr uint32_t kTriangleList = 5;  // the kernel's primitive types: 4 is a closed line strip
  // Clear flags of token 21.
  static constexpr uint32_t kClearColour = 0x1;
  static constexpr uint32_t kClearDepth = 0x2;
  // Surface description flags and request codes.
  static constexpr uint32_t kSurfaceVideoOnly = 0x1;
  static constexpr uint32_t kSurfacePrimary = 0x20;
  static constexpr uint32_t kPresentBlit = 0x1;
  static constexpr uint32_t kCommandBufferKind = 4;  // page-locked system pages
  static constexpr uint32_t kCommandBufferBytes = 65536;

  Scene(kglue::Glue& glue, OrvDevice* device, const SceneLayout& layout = {},
        uint32_t processId = kglue::kDefaultProcessId);
  ~Scene();
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  Client& client() { return client_; }
  const SceneLayout& layout() const { return layout_; }

  // ---- Requests, in the scene's order -------------------------------------
  // Request 31 for the device object the driver named: 0 or the errno.
  int Open(uint64_t deviceHandle);
  // Request 5: the command buffer, mapped.
  bool CreateCommandBuffer();
  // Request 12, three times: the video-only render target and depth target,
  // and the primary-kind surface presents go to. Each handle is 0 when its
  // request failed. The targets are laid out like the screen (TargetWidth,
  // TargetHeight): the kernel moves clears and transformed positions by
  // the drawable's origin, so the window's pixels lie in a target where
  // they lie on the screen.
  bool CreateSurfaces();
  uint64_t ColourTarget() const { return colour_; }
  uint64_t DepthTarget() const { return depth_; }
  uint64_t Primary() const { return primary_; }
  // Request 29: the drawable's window and its uncovered rectangles.
  int32_t SetDrawableRects();
  // Request 10 on the drawable and the command buffer, with the targets
  // when they were made: the 3D context's handle, or 0.
  uint32_t CreateContext3d();
  uint32_t Context3d() const { return context3d_; }
  uint64_t StatusPageBus() const { return statusPage_; }
  // Request 1 with the stream written at the start of the command buffer:
  // the result word.
  int32_t Run(const TokenWriter& stream);
  // Request 16: the window's box of the colour target copied into the
  // window on the primary surface, per rectangle of the drawable.
  int32_t Present();

  // ---- The streams -------------------------------------------------------------
  // Viewport, render states (depth test on, less-or-equal, depth writes,
  // no culling, lighting on with an ambient colour), the world, view and
  // projection matrices and a directional light.
  TokenWriter StateStream() const;
  // The clear of the whole window: colour and depth.
  TokenWriter ClearStream() const;
  // Lit and transformed triangles (kFormatLit), lighting on.
  TokenWriter LitStream() const;
  // Pre-transformed triangles (kFormatScreen), lighting off: the Gouraud
  // one, then the flat one, which lies behind it where they overlap.
  TokenWriter ScreenStream() const;
  // The whole scene's streams in order, as one.
  TokenWriter WholeStream() const;

  // ---- The scene's data, for references -------------------------------------
  // Window-relative screen coordinates.
  static std::vector<ScreenVertex> FlatTriangle();
  static std::vector<ScreenVertex> GouraudTriangle();
  // Window-relative vertices as the scene sends them: in the target's
  // coordinates, moved by the window's origin (the kernel passes
  // pre-transformed positions on as they come).
  std::vector<ScreenVertex> OnTarget(std::vector<ScreenVertex> vertices) const;
  static std::vector<LitVertex> LitTriangles();
  // Row-major 4x4 matrices as the client sends them.
  static std::vector<float> WorldMatrix();
  static std::vector<float> ViewMatrix();
  std::vector<float> ProjectionMatrix() const;
  static LightWords Light();
  // The viewport words: x, y, width, height, minimum and maximum z.
  std::vector<uint32_t> Viewport() const;
  uint32_t Width() const { return static_cast<uint32_t>(layout_.window.right - layout_.window.left); }
  uint32_t Height() const { return static_cast<uint32_t>(layout_.window.bottom - layout_.window.top); }
  // The targets' size: the screen's up to the window's right and bottom.
  uint32_t TargetWidth() const { return static_cast<uint32_t>(layout_.window.right); }
  uint32_t TargetHeight() const { return static_cast<uint32_t>(layout_.window.bottom); }

 private:
  uint64_t CreateSurface(uint32_t flags, uint32_t format, uint32_t width, uint32_t height);

  kglue::Glue& glue_;
  SceneLayout layout_;
  uint32_t processId_;
  Client client_;
  Buffer commands_;
  uint64_t colour_ = 0, depth_ = 0, primary_ = 0;
  uint32_t context3d_ = 0;
  uint64_t statusPage_ = 0;
  // Records the kernel copies in and out, in this process's memory.
  alignas(8) uint32_t description_[7] = {};
  alignas(8) uint32_t boxes_[2][6] = {};
};

}  // namespace client3d
