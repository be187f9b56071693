// Scratch surfaces: the scratch buffers (TempBitBuffer) in video or system
// memory that uploads, read-backs, colour expansion and copies stream their
// data through in tagged ranges, the device's three temporary bitmaps over
// them (TempBit), and component-table row 16.
#pragma once

#include <stdint.h>

#include "core/utils.h"
#include "xdriver/surface2d.h"

class BmPrimInt;
class MmHostAperture;
struct CommonData;
class PDEV;

enum TempBitType : uint32_t {
  kTempBitAgp = 0,            // system memory (AGP)
  kTempBitPci = 1,            // system memory (PCI-locked)
  kTempBitAgpSecond = 2,
  kTempBitPciSecond = 3,
  kTempBitLocalFirst = 4,     // local memory, a buffer per device
  kTempBitLocalSecond = 5,
  kTempBitLocalThird = 6,
  kTempBitNone = 7,           // never enabled
};

inline constexpr uint32_t kTempBitRanges = 511;

class TempBitBuffer : public Surface2d {
 public:
  // *ok is 0 for a type above 7; the memory is placed by Enable.
  TempBitBuffer(PDEV* pdev, uint32_t pixels, TempBitType type, uint8_t* ok);
  ~TempBitBuffer() override;

  // The next range of n bytes at the cursor; when it passes the end (or
  // the range table is full) the allocation starts again at offset 0 in the
  // other table, and the ranges of the old table it now overlaps give the
  // tag to wait for before writing. Answers the range's start.
  uint32_t AllocSurfaceGen(uint32_t n);
  // The tag of the command that reads or writes the range just allocated.
  void SetRangeTag(uint32_t tag);
  // The cursor rounded up to a multiple of `granule` bytes (a power of two).
  void AlignCursor(uint32_t granule);

  struct Range {
    uint32_t end;  // where the range starts: a new range overlaps it when this lies below its end
    uint32_t tag;
  };

  TempBitType type;
  uint32_t size = 0;        // bytes
  uint32_t allocStart = 0;  // the current range
  uint32_t cursor = 0;
  uint32_t waitTag = 0;     // to pass before the current range is written
  BmPrimInt* prim = nullptr;
  Range tables[2][kTempBitRanges] = {};

 private:
  uint32_t table_ = 0;    // the table being filled
  uint32_t used_ = 0;     // its records
  uint32_t waitFrom_ = 0; // first record of the other table not yet passed
  uint32_t waitCount_ = 0;
};

class TempBit : public Surface2d {
 public:
  // *ok is 1 when the device has its common data and a primary interface.
  TempBit(PDEV* pdev, TempBitBuffer* buffer, uint8_t* ok);
  ~TempBit() override;

  // Type 7: true, never enabled. Otherwise places the buffer, becomes a
  // clone of it (with the aperture view) and sets up the view's layout.
  bool Enable(MmSurfaceManager* manager) override;
  // Drops both clones; a buffer in local memory is given back too.
  void Disable(MmSurfaceManager* manager) override;
  // Enables or disables with the device's manager, whatever the memory.
  void OnAssertMode(PDEV* pdev, uint8_t enable) override;

  void SetSurfModeTiled(uint32_t width, uint32_t lines);
  // The current range as a rectangle in 4096-pixel-wide rows.
  LRECT GetSurfaceRect() const;
  // The processor's pointer to the current range (after the engine passed
  // its wait tag), or null when the memory cannot be reached or the wait
  // gave up. A pointer is given back with CloseSurfaceWrite.
  uint8_t* OpenSurfaceWrite(uint32_t unused);
  // The processor's pointer to the current range once the engine has
  // passed `tag` (the command that filled it), or null when the memory
  // cannot be reached or the wait gave up. Given back with
  // CloseSurfaceWrite.
  uint8_t* OpenSurfaceRead(uint32_t tag);
  void CloseSurfaceWrite();

  bool IsSystemMemory() const;

 private:
  void DropViewAperture();
  // The processor's address of the buffer's start (kept in cpu), or null.
  uint8_t* LockBuffer();

 public:

  PDEV* pdev;
  BmPrimInt* prim;
  CommonData* common;
  uint8_t* cpu = nullptr;  // the processor's pointer of the current write
  TempBitBuffer* buffer;
  Surface2d apertureView;  // the buffer seen by the processor with a 2D layout
  // The window the processor reaches a local buffer through: the view's
  // descriptor (layout 3, 8192 lines) over the buffer's memory.
  MmHostAperture* viewAperture = nullptr;
  uint32_t viewMode = 0;
  uint32_t viewDimensions = 0;
  uint32_t pixelShift;     // 0, 1, 2 for 1, 2, 4 bytes per pixel
  uint32_t tilePitch = 0;  // pixels
  uint32_t tilePitchLog = 0;
  uint32_t pitchBytes = 0;
  uint32_t lines = 0;
  uint32_t minPitch = 64;
  uint32_t minPitchLog = 6;
  uint32_t sizeWords[2] = {0, 0};
};

// The scratch memory each of a device's three slots gets.
struct TempBitChoice {
  TempBitType type;
  uint32_t pixels;
};
// By the device's display controller, the bus-master flags and the two
// memory-bank sizes of the shared locked block.
void ChooseTempBits(uint32_t controller, uint32_t busFlags, uint32_t bankA, uint32_t bankB,
                    TempBitChoice out[3]);

class DeviceBitmap;
// The scratch bitmap that transfers to and from `bitmap` go through: the
// one cached in the bitmap, else the device's second when it is enabled and
// lies in the other memory bank (address bit 27), else the first; the choice
// is cached in the bitmap. Null when the device has none.
TempBit* TempBitFor(PDEV* pdev, DeviceBitmap* bitmap);

// Row 16.
bool InitTempBit(PDEV* pdev);
void CleanupTempBit(PDEV* pdev);
