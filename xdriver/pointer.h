// Cursor images in video memory: the cursor buffers (a small ring of image
// slots with one spare, per display controller and image kind), the
// device's pointer component that creates the board's buffers and hands
// them out, and the emulated pointer classes.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "xdriver/surface2d.h"

struct SharedLockedData_t;
class PDEV;

// One slot of a cursor buffer: the keys of the image it holds and where
// that image lies in the buffer.
struct HardPointerEntry {
  uint32_t key1;
  uint32_t key2;
  uint8_t valid;
  uint32_t value;   // 64 once invalidated
  uint32_t offset;  // bytes from the start of the buffer
  uint8_t data[5204];
};
static_assert(sizeof(HardPointerEntry) == 5224);
static_assert(offsetof(HardPointerEntry, value) == 12);
static_assert(offsetof(HardPointerEntry, offset) == 16);

inline constexpr uint32_t kPointerSlotsPerBuffer = 6;
inline constexpr unsigned kPointerControllers = 4;

class HardPointerBuffer : public Surface2d {
 public:
  enum PointerType : uint32_t {
    kTwoColour = 0,      // format code 5, 64 rows of 32 bytes
    kSixteenColour = 1,  // format code 4, 64 rows of 128 bytes
  };
  static constexpr uint32_t kTwoColourSlotBytes = 2048;
  static constexpr uint32_t kSixteenColourSlotBytes = 8192;
  static constexpr uint32_t kTwoColourFormat = 5;
  static constexpr uint32_t kSixteenColourFormat = 4;
  static constexpr uint32_t kInvalidValue = 64;

  // *ok is 0 when the entries cannot be allocated (then nothing else is
  // set); the memory is placed by Enable.
  HardPointerBuffer(PDEV* pdev, uint32_t count, PointerType type, uint8_t* ok);
  ~HardPointerBuffer() override;

  // Forgets every image, places the buffer and waits until neither a DMA
  // buffer nor a drawing still uses its memory. False when it cannot be
  // placed or the engine does not become idle.
  bool Enable(MmSurfaceManager* manager) override;
  void InvalidateCache();
  // The entry holding the image of both keys (*hit 1), or else the next
  // entry round the ring, given the spare slot so that the new image never
  // goes where the entry's previous one was handed out (*hit 0). A key of 0
  // never matches.
  HardPointerEntry* GetSurface(uint32_t key1, uint32_t key2, uint8_t* hit);

  uint32_t FormatCode() const { return (formatWord >> 24) & 0x3F; }

  SharedLockedData_t* sharedLocked = nullptr;
  HardPointerEntry* entries = nullptr;
  uint32_t formatWord = 0;  // format code in bits 24-29
  uint32_t slotSize = 0;
  uint32_t count = 0;
  uint32_t nextReplace = 0;
  uint32_t spareValue = 0;
  uint32_t spareOffset = 0;
};

// The device's pointer component. The buffers are the board's, kept in its
// common data; every device of the board holds copies of the eight
// pointers.
class Pointer {
 public:
  bool OnInit(PDEV* pdev);
  void OnCleanup(PDEV* pdev);

  PDEV* pdev = nullptr;
  HardPointerBuffer* twoColour[kPointerControllers] = {};
  HardPointerBuffer* sixteenColour[kPointerControllers] = {};
};

// Pointer objects for a cursor drawn without the cursor engines.
class BasePointer {
 public:
  virtual ~BasePointer() = default;
  virtual void Move(int x, int y) = 0;
  virtual void Exclude(uint8_t) { excluded = 1; }
  virtual void Unexclude(uint8_t) { excluded = 0; }
  virtual bool OnInit(PDEV*) {
    excluded = 1;
    enabled = 0;
    return true;
  }
  virtual void OnCleanup(PDEV*) { Disable(0); }
  virtual bool Enable() {
    enabled = 1;
    return true;
  }
  virtual void Disable(uint8_t) { enabled = 0; }
  void OnAssertMode(uint8_t on) {
    if (on) {
      Enable();
    } else {
      Disable(1);
    }
  }

  uint32_t emulation = 0;
  uint8_t enabled = 0;
  uint8_t excluded = 0;
};

class EmulPointer : public BasePointer {
 public:
  void Move(int, int) override {}
  bool OnInit(PDEV* pdev) override {
    emulation = 1;
    return BasePointer::OnInit(pdev);
  }
};

// Row 20 of the device's component table.
bool InitPointer(PDEV* pdev);
void CleanupPointer(PDEV* pdev);
