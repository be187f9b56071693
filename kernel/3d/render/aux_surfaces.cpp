// A render context's auxiliary surfaces: the constant image and the two
// stipple images, made in its client's resource table and written by the
// processor when the client's stipple changes.
#include "kernel/3d/render/aux_surfaces.h"

#include <initializer_list>

#include "core/pdev.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/surfaces/surface_fill.h"

namespace {

// The memory-manager surface type of the auxiliary surfaces.
constexpr uint32_t kAuxSurfaceType = 3;

enum : uint32_t { kConstant = 0, kPolygon = 1, kLine = 2 };

}  // namespace

AuxSurfaces3d::AuxSurfaces3d() = default;

AuxSurfaces3d::~AuxSurfaces3d() { ReleaseAll(); }

uint32_t AuxSurfaces3d::RepeatOf(uint32_t word) {
  const uint32_t repeat = word >> 16;
  if (repeat == 0) return 1;
  return repeat > kLineStippleMaxRepeat ? kLineStippleMaxRepeat : repeat;
}

Surface3d* AuxSurfaces3d::Make(PDEV* device, uint32_t width, uint32_t height) {
  if (owner == nullptr || owner->resources == nullptr || device == nullptr || device->formatCatalogue == nullptr)
    return nullptr;
  SurfaceCreateRequest request;
  request.placement = kPlaceLocal;
  request.format = device->formatCatalogue->Find(kAuxFormatCode);
  request.surfaceType = kAuxSurfaceType;
  request.width = width;
  request.height = height;
  request.levels = 1;
  request.depth = 1;
  if (request.format == nullptr) return nullptr;
  Surface3d* surface = owner->resources->CreateSurface(kAuxResourceType, &request);
  // The surface tells its owner when it goes another way than through it.
  if (surface != nullptr) surface->bindingOwner = owner;
  return surface;
}

void AuxSurfaces3d::Forget(Surface3d* surface) {
  if (surface == nullptr) return;
  for (Surface3d** held : {&constant, &polygon, &line})
    if (*held == surface) *held = nullptr;
  for (Surface3d*& s : selected)
    if (s == surface) s = nullptr;
}

void AuxSurfaces3d::Select(uint32_t index, Surface3d* surface) {
  selected[index] = surface;
  // Where the stipple is clear the engine draws this pixel value.
  Surface3dSetExpandedKey(surface, kStipplePixelClear, kUsageSurface);
}

void AuxSurfaces3d::Release(Surface3d** surface) {
  if (*surface == nullptr) return;
  Surface3d* gone = *surface;
  // A draw may have bound it as one of the context's targets: everything of
  // the context that names it forgets it before it goes.
  if (owner != nullptr) UnbindSurfaceReferences(owner, gone);
  Forget(gone);
  gone->bindingOwner = nullptr;
  if (gone->resourceTable != nullptr)
    gone->resourceTable->DestroyResource(gone->resourceType, gone->resourceHandle);
  else
    DestroySurface3d(gone);
}

bool AuxSurfaces3d::MakeConstant(PDEV* device) {
  constant = Make(device, kAuxSide, kAuxSide);
  if (constant == nullptr) return false;
  Surface3dWriteSyncTag(constant);
  const uint32_t whole[4] = {0, 0, constant->width, constant->height};
  (void)constant->FillRect(kConstantFill, whole, 0xFFFFFFFF, kRopCopy);
  return true;
}

bool AuxSurfaces3d::MakeLine(PDEV* device) {
  line = Make(device, RepeatOf(lineStipple) * 16, 1);
  return line != nullptr;
}

bool AuxSurfaces3d::Bind(RenderContext3d* context, PDEV* device) {
  owner = context;
  if (!MakeConstant(device) || (polygon = Make(device, kAuxSide, kAuxSide)) == nullptr || !MakeLine(device)) {
    ReleaseAll();
    owner = nullptr;
    return false;
  }
  Select(kConstant, constant);
  Select(kPolygon, polygon);
  Select(kLine, line);
  return true;
}

void AuxSurfaces3d::Rebuild(PDEV* device) {
  if (device == nullptr) {
    ReleaseAll();
    return;
  }
  if (constant == nullptr) MakeConstant(device);
  if (polygon == nullptr) polygon = Make(device, kAuxSide, kAuxSide);
  if (line == nullptr) MakeLine(device);
  Select(kConstant, constant);
  Select(kPolygon, polygon);
  Select(kLine, line);
}

void AuxSurfaces3d::ReleaseAll() {
  Release(&constant);
  Release(&polygon);
  Release(&line);
}

bool AuxSurfaces3d::Update(const StippleRecord& record) {
  if ((record.flags & kStipplePolygon) != 0) {
    if (polygon == nullptr) return false;
    for (uint32_t y = 0; y < kAuxSide; ++y) {
      const uint32_t row = record.rows[y];
      for (uint32_t x = 0; x < kAuxSide; ++x)
        polygonImage[y * kAuxSide + x] = (row >> x & 1) != 0 ? kStipplePixelSet : kStipplePixelClear;
    }
    Surface3dWriteSyncTag(polygon);
    if (!Surface3dWriteImage(polygon, polygonImage, sizeof polygonImage)) return false;
  }
  if ((record.flags & kStippleLine) != 0) {
    lineStipple = record.lineStipple;
    const uint32_t repeat = RepeatOf(lineStipple);
    const uint32_t entries = repeat * 16;
    Release(&line);
    if (owner == nullptr || !MakeLine(owner->device)) return false;
    for (uint32_t i = 0; i < entries; ++i)
      lineImage[i] = (lineStipple >> (i / repeat) & 1) != 0 ? kStipplePixelSet : kStipplePixelClear;
    Select(kLine, line);
    Surface3dWriteSyncTag(line);
    if (!Surface3dWriteImage(line, lineImage, entries * sizeof lineImage[0])) return false;
  }
  return true;
}

void AuxSurfaces3dReleaseAll(RenderContext3d* context) {
  if (context != nullptr) context->aux.ReleaseAll();
}

void AuxSurfaces3dRebuild(RenderContext3d* context, PDEV* device) {
  if (context != nullptr) context->aux.Rebuild(device);
}
