#include "xdriver/orv_palette.h"

#include "core/regs/lut.h"
#include "platform/xserver/xf86_server.h"
#include "xdriver/orv_regs.h"

namespace {

constexpr int kPaletteEntries = 256;
constexpr uint32_t kComponentScale = 256;  // an 8-bit component in the table's 16 bits
enum PaletteByte { kChanged = 0, kRed = 1, kGreen = 2, kBlue = 3 };

// One entry into a table whose index register is at `index` (the table
// steps its index after each entry).
void WriteEntry(ORVRec* rec, uint32_t index, const uint8_t* entry, bool commit) {
  ORV_OUT_REG32(rec, rec->ioBase, index + kLutRed, entry[kRed] * kComponentScale);
  ORV_OUT_REG32(rec, rec->ioBase, index + kLutGreen, entry[kGreen] * kComponentScale);
  ORV_OUT_REG32(rec, rec->ioBase, index + kLutBlue, entry[kBlue] * kComponentScale | (commit ? kLutCommit : 0));
}

uint32_t FirstTable(int head) { return kRegLutIndex + kLutModuleStride * static_cast<uint32_t>(head); }
uint32_t SecondTable(int head) { return kRegLutSecondIndex + kLutModuleStride * static_cast<uint32_t>(head); }

// Entry i into the table at `index`: the index, then the colour.
void LoadEntry(ORVRec* rec, uint32_t index, int i, const uint8_t* entry) {
  ORV_OUT_REG32(rec, rec->ioBase, index, static_cast<uint32_t>(i));
  WriteEntry(rec, index, entry, true);
}

}  // namespace

void ORVLoadPalette(ScrnInfoPtr screen, int count, int* indices, LOCO* colours, VisualPtr) {
  if (screen->bitsPerPixel != 8) return;
  if (indices == nullptr || colours == nullptr || count < 1) {
    xf86DrvMsg(screen->scrnIndex, X_ERROR, "ORVLoadPalette failed! Empty Palette!\n");
    return;
  }
  ORVRec* rec = ORVPTR(screen);
  for (int i = 0; i < count; ++i) {
    const int at = indices[i];
    if (at < 0 || at >= kPaletteEntries) continue;
    uint8_t* entry = rec->palette[at];
    entry[kChanged] = 1;
    entry[kRed] = static_cast<uint8_t>(colours[i].red);
    entry[kGreen] = static_cast<uint8_t>(colours[i].green);
    entry[kBlue] = static_cast<uint8_t>(colours[i].blue);
  }
  rec->deferredBlockHandler = ORVLoadPaletteCallback;
}

void ORVLoadPaletteCallback(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  if (rec->ioBase != nullptr) {
    for (int i = 0; i < kPaletteEntries; ++i) {
      const uint8_t* entry = rec->palette[i];
      if (!entry[kChanged]) continue;
      if (rec->merged) {
        LoadEntry(rec, FirstTable(0), i, entry);
        LoadEntry(rec, FirstTable(1), i, entry);
      } else if (rec->spanthree || rec->spanfour) {
        for (int head = 0; head < 2; ++head) {
          LoadEntry(rec, FirstTable(head), i, entry);
          LoadEntry(rec, SecondTable(head), i, entry);
        }
      } else {
        LoadEntry(rec, FirstTable(rec->head), i, entry);
      }
    }
  }
  rec->deferredBlockHandler = nullptr;
}

void ORVLoadBothPalette(ScrnInfoPtr screen, int count, const int* indices, const LOCO* colours) {
  if (screen->bitsPerPixel != 8) return;
  if (indices == nullptr || colours == nullptr || count < 1) {
    xf86DrvMsg(screen->scrnIndex, X_ERROR, "ORVLoadBothPalette failed! Empty Palette!\n");
    return;
  }
  ORVRec* rec = ORVPTR(screen);
  if (rec->ioBase == nullptr) return;
  // One index write per table; the tables step on by themselves.
  const uint32_t first = static_cast<uint32_t>(indices[0]);
  for (uint32_t table : {FirstTable(0), FirstTable(1), SecondTable(0), SecondTable(1)})
    ORV_OUT_REG32(rec, rec->ioBase, table, first);
  for (int i = 0; i < count; ++i) {
    const uint8_t entry[4] = {0, static_cast<uint8_t>(colours[i].red), static_cast<uint8_t>(colours[i].green),
                              static_cast<uint8_t>(colours[i].blue)};
    for (int head = 0; head < 2; ++head) {
      WriteEntry(rec, FirstTable(head), entry, true);
      WriteEntry(rec, SecondTable(head), entry, false);
    }
  }
}

void ORVConvertPALToQLBLUT(const uint8_t (*palette)[4], uint16_t* red, uint16_t* green, uint16_t* blue) {
  for (int i = 0; i < kPaletteEntries; ++i) {
    red[i] = palette[i][kRed];
    green[i] = palette[i][kGreen];
    blue[i] = palette[i][kBlue];
  }
}
