// The colour conversion of the video layer: the port's colour controls
// (brightness, contrast, saturation, hue) around the BT.601 conversion, and
// the three combiner stages that carry the result to the texture engine.
#include <stdint.h>

#include "core/utils.h"
#include "xdriver/video_layer.h"

namespace {

// ITU-R BT.601 studio range, (Y, Cb, Cr) as a row vector times the matrix:
// R = 1.164 Y + 1.596 Cr, G = 1.164 Y - 0.392 Cb - 0.813 Cr, B = 1.164 Y + 2.017 Cb.
constexpr double kBt601ToRgb[16] = {
    1.164, 1.164,  1.164, 0,  // Y
    0,     -0.392, 2.017, 0,  // Cb
    1.596, -0.813, 0,     0,  // Cr
    0,     0,      0,     1,
};
// Where the studio range puts black and no colour.
constexpr float kLumaBlack = -0.0625f;
constexpr float kChromaZero = -0.5f;
// The combiner's constants: the matrix scaled by 255/1024, the offsets by a
// quarter, each into an 11-bit two's-complement field with 1.0 = 1024.
constexpr float kMatrixScale = 0.2490234375f;
constexpr float kOffsetScale = 0.25f;
constexpr float kFieldOne = 1024.0f;
constexpr uint32_t kFieldMask = 0x7FF;

// The three conversion stages, one per input component (Y, Cb, Cr): flags,
// control and second word, packed and planar. A planar image brings its
// chroma from texture units 1 (Cr) and 2 (Cb).
struct StageRow {
  uint8_t flags;
  uint32_t control, second;
  uint32_t planarControl, planarSecond;
};
constexpr StageRow kStageRows[kVideoStagesUsed] = {
    {6, 0x703C000, 0x400803, 0x703C000, 0x400804},  // Y
    {2, 0x7010000, 0x400802, 0x7010040, 0x400804},  // Cb, from input field 2
    {2, 0x7010000, 0x440801, 0x7010020, 0x440804},  // Cr, from input field 1
};

uint32_t Field(float value) {
  return static_cast<uint32_t>(static_cast<int32_t>(value * kFieldOne)) & kFieldMask;
}

// Element (row r, column c) of a matrix kept column-major.
float& At(Matrix& m, int r, int c) { return m.e[4 * c + r]; }

}  // namespace

void ORVVideoResetColour(ORVVideoPortPtr port) {
  port->conversion.Load(kBt601ToRgb);
  port->brightness = Vector(0, 0, 0);
  port->dirty = 1;
}

void ORVVideoSetBrightness(ORVVideoPortPtr port, float value) {
  port->brightness.x = value;
  port->dirty = 1;
}

void ORVVideoSetContrast(ORVVideoPortPtr port, float value) {
  At(port->contrast, 0, 0) = value;
  port->dirty = 1;
}

void ORVVideoSetSaturation(ORVVideoPortPtr port, float value) {
  At(port->saturation, 1, 1) = value;
  At(port->saturation, 2, 2) = value;
  port->dirty = 1;
}

void ORVVideoSetHue(ORVVideoPortPtr port, float radians) {
  const float c = static_cast<float>(LocCos(radians));
  const float s = static_cast<float>(LocSin(radians));
  At(port->hue, 1, 1) = c;
  At(port->hue, 1, 2) = s;
  At(port->hue, 2, 1) = -s;
  At(port->hue, 2, 2) = c;
  port->dirty = 1;
}

void ORVVideoInvalidate(ORVVideoPortPtr port) { port->dirty = 1; }

void ORVVideoBuildStages(ORVVideoPortPtr port, uint32_t fourcc) {
  port->combined = port->contrast * port->hue * port->saturation * port->conversion;
  const HomogenVector lift = port->brightness * port->conversion;
  const HomogenVector base = Vector(kLumaBlack, kChromaZero, kChromaZero) * port->combined;
  port->offset = Vector(lift.x + base.x, lift.y + base.y, lift.z + base.z);
  const Vector o = port->offset * kOffsetScale;
  const bool planar = VideoIsPlanar(fourcc);
  for (unsigned i = 0; i < kVideoStagesUsed; ++i) {
    const StageRow& row = kStageRows[i];
    VideoStage& s = port->stages[i];
    s.flags = row.flags;
    s.control = planar ? row.planarControl : row.control;
    s.second = planar ? row.planarSecond : row.second;
    s.option[0] = s.option[1] = 0;
    const float r = At(port->combined, i, 0) * kMatrixScale;
    const float g = At(port->combined, i, 1) * kMatrixScale;
    const float b = At(port->combined, i, 2) * kMatrixScale;
    s.constants[0] = Field(r);
    s.constants[1] = Field(b) | Field(g) << 16;
    s.constants[2] = Field(o.x);
    s.constants[3] = Field(o.z) | Field(o.y) << 16;
  }
  port->stageCount = kVideoStagesUsed;
  port->dirty = 0;
  port->lastFourcc = fourcc;
}

