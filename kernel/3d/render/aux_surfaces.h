// The three surfaces a render context keeps for itself in its client's
// resource table: a constant image, the polygon-stipple image and the
// line-stipple image, with the processor's copies of the two stipple
// images.
#pragma once


#include <stdint.h>

class PDEV;
class Surface3d;
struct RenderContext3d;

inline constexpr uint32_t kAuxSide = 32;                 // constant and polygon images: 32 x 32
inline constexpr uint32_t kLineStippleEntries = 4096;
inline constexpr uint32_t kLineStippleMaxRepeat = 256;
inline constexpr uint32_t kLineStippleWordDefault = 0x0001FFFF;
inline constexpr uint32_t kStipplePixelClear = 0xD9D9D9D9;  // a stipple bit that is clear
inline constexpr uint32_t kStipplePixelSet = 0;
inline constexpr uint32_t kConstantFill = 0xFF000000;
inline constexpr uint32_t kAuxFormatCode = 11;
inline constexpr uint32_t kAuxResourceType = 0;

// Flag bits of the stipple record.
inline constexpr uint32_t kStipplePolygon = 0x1;
inline constexpr uint32_t kStippleLine = 0x2;

struct StippleRecord {
  uint32_t flags;
  uint32_t rows[32];
  uint32_t lineStipple;
};

struct AuxSurfaces3d {
  AuxSurfaces3d();
  ~AuxSurfaces3d();
  AuxSurfaces3d(const AuxSurfaces3d&) = delete;
  AuxSurfaces3d& operator=(const AuxSurfaces3d&) = delete;

  // Creates the three surfaces and selects them; false (owner cleared, any
  // surface made released) when one cannot be made.
  bool Bind(RenderContext3d* context, PDEV* device);
  // Null releases all three; else the missing ones are made again and the
  // constant values expanded again.
  void Rebuild(PDEV* device);
  void ReleaseAll();
  bool Update(const StippleRecord& record);

  // A surface that goes while one of the three holds it is forgotten.
  void Forget(Surface3d* surface);

  // The repeat factor of a line-stipple word, within 1 to 256.
  static uint32_t RepeatOf(uint32_t word);

  RenderContext3d* owner = nullptr;
  Surface3d* constant = nullptr;
  Surface3d* polygon = nullptr;
  Surface3d* line = nullptr;
  Surface3d* selected[3] = {};
  uint32_t polygonImage[kAuxSide * kAuxSide] = {};
  uint32_t lineImage[kLineStippleEntries] = {};
  uint32_t lineStipple = kLineStippleWordDefault;

 private:
  Surface3d* Make(PDEV* device, uint32_t width, uint32_t height);
  void Select(uint32_t index, Surface3d* surface);
  bool MakeConstant(PDEV* device);
  bool MakeLine(PDEV* device);
  void Release(Surface3d** surface);
};

// What the 3D surfaces ask of a render context's auxiliary surfaces: all
// three released (their resource table is cleared), or made again for a
// device (none: released).
void AuxSurfaces3dReleaseAll(RenderContext3d* context);
void AuxSurfaces3dRebuild(RenderContext3d* context, PDEV* device);
