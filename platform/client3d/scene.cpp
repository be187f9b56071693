#include "platform/client3d/scene.h"

#include <dlfcn.h>
#include <string.h>

namespace client3d {

namespace {

uint32_t Bits(float f) {
  uint32_t u;
  memcpy(&u, &f, 4);
  return u;
}

// Request codes.
constexpr uint32_t kRequestCreateSurface = 12;
constexpr uint32_t kRequestPresent = 16;
constexpr uint32_t kRequestSetDrawableRects = 29;

// Words of the request block.
constexpr size_t kDrawableRectsAt = 48;
constexpr size_t kMaxDrawableRects = 32;

void AppendMatrix(std::vector<uint32_t>* words, uint32_t id, const std::vector<float>& m) {
  words->push_back(id);
  for (float f : m) words->push_back(Bits(f));
}

// Token 28: {primitive type, vertex count, stride, six viewport words, byte
// count} for each draw, then the vertices of every draw in order.
template <typename Vertex>
void UserPrimitives(TokenWriter& w, const std::vector<std::vector<Vertex>>& draws, const std::vector<uint32_t>& viewport) {
  std::vector<uint32_t> entries;
  std::vector<uint8_t> data;
  for (const std::vector<Vertex>& vertices : draws) {
    const uint32_t bytes = static_cast<uint32_t>(vertices.size() * sizeof(Vertex));
    entries.push_back(Scene::kTriangleList);
    entries.push_back(static_cast<uint32_t>(vertices.size()));
    entries.push_back(sizeof(Vertex));
    entries.insert(entries.end(), viewport.begin(), viewport.end());
    entries.push_back(bytes);
    const auto* b = reinterpret_cast<const uint8_t*>(vertices.data());
    data.insert(data.end(), b, b + bytes);
  }
  while (data.size() % 4 != 0) data.push_back(0);
  w.Token(Scene::kTokenUserPrimitives, static_cast<uint32_t>(draws.size()), entries);
  w.Raw(data.data(), data.size());
}

}  // namespace

std::string EnableDirectClient(const std::string& modulePath, _Screen* screen, DirectClient* out) {
  void* module = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (module == nullptr) return modulePath + " is not loaded";
  using Hook = int (*)(_Screen*, uint8_t*, uint64_t*);
  auto hook = reinterpret_cast<Hook>(dlsym(module, "ORVGLXEnableDirectClient"));
  std::string why;
  if (hook == nullptr) {
    why = "ORVGLXEnableDirectClient is not in " + modulePath;
  } else if (hook(screen, &out->minor, &out->deviceHandle) != 1) {
    why = "ORVGLXEnableDirectClient refused the screen";
  }
  dlclose(module);
  return why;
}

Scene::Scene(kglue::Glue& glue, OrvDevice* device, const SceneLayout& layout, uint32_t processId)
    : glue_(glue), layout_(layout), processId_(processId), client_(glue, device, processId) {
  glue_.DeclareUserMemory(processId_, description_, sizeof description_);
  glue_.DeclareUserMemory(processId_, boxes_, sizeof boxes_);
}

Scene::~Scene() = default;

int Scene::Open(uint64_t deviceHandle) { return client_.CreateContext(deviceHandle); }

bool Scene::CreateCommandBuffer() { return client_.CreateBuffer(kCommandBufferBytes, kCommandBufferKind, &commands_); }

uint64_t Scene::CreateSurface(uint32_t flags, uint32_t format, uint32_t width, uint32_t height) {
  const uint32_t description[7] = {flags, 0, format, width, height, 1, 0};
  memcpy(description_, description, sizeof description_);
  client_.Put64(16, reinterpret_cast<uintptr_t>(description_));
  client_.Put64(24, 0);
  return client_.Run(kRequestCreateSurface) == 0 ? client_.Get64(24) : 0;
}

bool Scene::CreateSurfaces() {
  colour_ = CreateSurface(kSurfaceVideoOnly, layout_.colourFormat, TargetWidth(), TargetHeight());
  depth_ = CreateSurface(kSurfaceVideoOnly, layout_.depthFormat, TargetWidth(), TargetHeight());
  // The primary kind takes its size from the device.
  primary_ = CreateSurface(kSurfacePrimary, 0, Width(), Height());
  return colour_ != 0 && depth_ != 0 && primary_ != 0;
}

int32_t Scene::SetDrawableRects() {
  if (layout_.visible.size() > kMaxDrawableRects) return -1;
  const Rect& w = layout_.window;
  client_.Put64(16, layout_.drawableKey);
  client_.Put32(24, static_cast<uint32_t>(w.left));
  client_.Put32(28, static_cast<uint32_t>(w.top));
  client_.Put32(32, static_cast<uint32_t>(w.right));
  client_.Put32(36, static_cast<uint32_t>(w.bottom));
  client_.Put32(40, static_cast<uint32_t>(layout_.visible.size()));
  for (size_t i = 0; i < layout_.visible.size(); ++i) {
    const Rect& r = layout_.visible[i];
    const size_t at = kDrawableRectsAt + 16 * i;
    client_.Put32(at, static_cast<uint32_t>(r.left));
    client_.Put32(at + 4, static_cast<uint32_t>(r.top));
    client_.Put32(at + 8, static_cast<uint32_t>(r.right));
    client_.Put32(at + 12, static_cast<uint32_t>(r.bottom));
  }
  return client_.Run(kRequestSetDrawableRects);
}

uint32_t Scene::CreateContext3d() {
  context3d_ = client_.CreateContext3d(layout_.drawableKey, commands_, static_cast<uint32_t>(colour_),
                                       static_cast<uint32_t>(depth_));
  statusPage_ = context3d_ != 0 ? client_.Get64(72) : 0;
  return context3d_;
}

int32_t Scene::Run(const TokenWriter& stream) {
  if (!stream.WriteTo(commands_, 0)) return -1;
  return client_.RunTokens(context3d_, 0, static_cast<uint32_t>(stream.Size()));
}

int32_t Scene::Present() {
  const Rect& w = layout_.window;
  const uint32_t window[6] = {static_cast<uint32_t>(w.left), static_cast<uint32_t>(w.top), 0,
                              static_cast<uint32_t>(w.right), static_cast<uint32_t>(w.bottom), 1};
  const uint32_t boxes[2][6] = {{window[0], window[1], window[2], window[3], window[4], window[5]},
                                {window[0], window[1], window[2], window[3], window[4], window[5]}};
  memcpy(boxes_, boxes, sizeof boxes_);
  client_.Put32(16, kPresentBlit);
  client_.Put32(24, context3d_);
  client_.Put64(32, primary_);
  client_.Put64(40, colour_);
  client_.Put64(48, reinterpret_cast<uintptr_t>(boxes_[0]));
  client_.Put64(56, reinterpret_cast<uintptr_t>(boxes_[1]));
  client_.Put64(64, 0);
  client_.Put64(72, 0);
  client_.Put64(80, 0xFFFFFFFF);
  client_.Put64(96, 0);
  return client_.Run(kRequestPresent);
}

std::vector<uint32_t> Scene::Viewport() const { return {0, 0, Width(), Height(), Bits(0.0f), Bits(1.0f)}; }

std::vector<float> Scene::WorldMatrix() {
  // A quarter turn about the vertical axis, then 4 units away.
  return {0, 0, -1, 0,  //
          0, 1, 0, 0,   //
          1, 0, 0, 0,   //
          0, 0, 4, 1};
}

std::vector<float> Scene::ViewMatrix() {
  return {1, 0, 0, 0,  //
          0, 1, 0, 0,  //
          0, 0, 1, 0,  //
          0, -0.5f, 0, 1};
}

std::vector<float> Scene::ProjectionMatrix() const {
  // A perspective of 90 degrees across the height, the window's aspect,
  // depth from 1 to 10 onto 0 to 1.
  const float aspect = static_cast<float>(Width()) / static_cast<float>(Height());
  const float nearZ = 1.0f, farZ = 10.0f;
  const float q = farZ / (farZ - nearZ);
  return {1.0f / aspect, 0, 0, 0,  //
          0, 1, 0, 0,              //
          0, 0, q, 1,              //
          0, 0, -q * nearZ, 0};
}

LightWords Scene::Light() {
  LightWords l = {};
  l.kind = 3;  // directional
  const float white[4] = {1, 1, 1, 1};
  memcpy(l.diffuse, white, sizeof white);
  memcpy(l.specular, white, sizeof white);
  l.direction[0] = 0.0f;
  l.direction[1] = -0.6f;
  l.direction[2] = 0.8f;
  l.range = 1000.0f;
  l.attenuation[0] = 1.0f;
  return l;
}

std::vector<ScreenVertex> Scene::FlatTriangle() {
  // Far (z 0.5); flat shading takes the colour of the primitive's last vertex.
  return {{20, 20, 0.5f, 1, 0xFFE03030}, {200, 40, 0.5f, 1, 0xFF30E030}, {60, 180, 0.5f, 1, 0xFF3030E0}};
}

std::vector<ScreenVertex> Scene::GouraudTriangle() {
  // Near (z 0.25), across the flat one and into the covered part of the
  // window.
  return {{100, 60, 0.25f, 1, 0xFFFF0000}, {250, 100, 0.25f, 1, 0xFF00FF00}, {140, 190, 0.25f, 1, 0xFF0000FF}};
}

std::vector<ScreenVertex> Scene::OnTarget(std::vector<ScreenVertex> vertices) const {
  for (ScreenVertex& v : vertices) {
    v.x += static_cast<float>(layout_.window.left);
    v.y += static_cast<float>(layout_.window.top);
  }
  return vertices;
}

std::vector<LitVertex> Scene::LitTriangles() {
  // Two triangles of a square facing the light, in model space.
  return {{-1, -1, 0, 0, 0, -1, 0xFFC0C0C0, 0, 1}, {-1, 1, 0, 0, 0, -1, 0xFFC0C0C0, 0, 0},
          {1, 1, 0, 0, 0, -1, 0xFFC0C0C0, 1, 0},   {-1, -1, 0, 0, 0, -1, 0xFF808080, 0, 1},
          {1, 1, 0, 0, 0, -1, 0xFF808080, 1, 0},   {1, -1, 0, 0, 0, -1, 0xFF808080, 1, 1}};
}

TokenWriter Scene::StateStream() const {
  TokenWriter w;
  w.Token(kTokenViewport, 1, Viewport());
  const std::vector<uint32_t> states = {kStateDepthEnable, 1, kStateDepthWrite, 1, kStateDepthFunc,
                                        kCompareLessEqual, kStateCullMode, kCullNone, kStateLighting, 1,
                                        kStateAmbient, 0xFF202020};
  w.Token(kTokenRenderStates, static_cast<uint32_t>(states.size() / 2), states);
  std::vector<uint32_t> transforms;
  AppendMatrix(&transforms, kTransformWorld, WorldMatrix());
  AppendMatrix(&transforms, kTransformView, ViewMatrix());
  AppendMatrix(&transforms, kTransformProjection, ProjectionMatrix());
  w.Token(kTokenTransforms, 3, transforms);
  const LightWords light = Light();
  const uint32_t lightEntry[2] = {0, sizeof light};
  w.Token(kTokenLights, 1, lightEntry, sizeof lightEntry);
  w.Raw(&light, sizeof light);
  return w;
}

TokenWriter Scene::ClearStream() const {
  TokenWriter w;
  const std::vector<uint32_t> entry = {kClearColour | kClearDepth, layout_.clearColour, Bits(layout_.clearDepth), 0, 0,
                                       0, 0, Width(), Height()};
  w.Token(kTokenClear, 1, entry);
  return w;
}

TokenWriter Scene::LitStream() const {
  TokenWriter w;
  w.Token(kTokenRenderStates, 1, std::vector<uint32_t>{kStateLighting, 1});
  w.Token(kTokenVertexShader, 1, std::vector<uint32_t>{kFormatLit});
  UserPrimitives<LitVertex>(w, {LitTriangles()}, Viewport());
  return w;
}

TokenWriter Scene::ScreenStream() const {
  TokenWriter w;
  w.Token(kTokenRenderStates, 1, std::vector<uint32_t>{kStateLighting, 0});
  w.Token(kTokenVertexShader, 1, std::vector<uint32_t>{kFormatScreen});
  // The nearer triangle first: only the depth test keeps it in front of
  // the farther one drawn after it.
  w.Token(kTokenRenderStates, 1, std::vector<uint32_t>{kStateShadeMode, kShadeGouraud});
  UserPrimitives<ScreenVertex>(w, {OnTarget(GouraudTriangle())}, Viewport());
  w.Token(kTokenRenderStates, 1, std::vector<uint32_t>{kStateShadeMode, kShadeFlat});
  UserPrimitives<ScreenVertex>(w, {OnTarget(FlatTriangle())}, Viewport());
  return w;
}

TokenWriter Scene::WholeStream() const {
  TokenWriter w;
  for (const TokenWriter& part : {StateStream(), ClearStream(), LitStream(), ScreenStream()})
    w.Raw(part.Bytes().data(), part.Size());
  return w;
}

}  // namespace client3d
