// The per-head 2D record embedded in every device object: the three
// embedded device bitmaps (the first is the primary surface), the three
// temporary-bitmap slots, the board's descriptor list and 2D context, the
// device-bitmap pool and host cache, the drawing targets and the bracket.
// It is built and destroyed with the device object; the component-table
// rows of the 2D layer fill it.
#pragma once

#include <stdint.h>

#include "xdriver/context2d.h"
#include "xdriver/device_bitmap.h"
#include "xdriver/post_draw_xform.h"

class SurfDesc2dList;
class Context2d;
class TempBit;

inline constexpr unsigned kTempBitSlots = 3;

struct Data2d {
  Data2d() = default;
  // The bitmaps go in reverse order.
  ~Data2d() = default;
  Data2d(const Data2d&) = delete;
  Data2d& operator=(const Data2d&) = delete;

  DeviceBitmap& Primary() { return bitmaps[0]; }

  DeviceBitmap bitmaps[3];
  TempBit* tempBits[kTempBitSlots] = {nullptr, nullptr, nullptr};
  SurfDesc2dList* surfDescList = nullptr;
  Context2d* context = nullptr;
  MmObjectPool<DeviceBitmap>* pool = nullptr;
  HostBitmapCache* hostCache = nullptr;
  DeviceBitmap* recacheList = nullptr;
  DeviceBitmap* target = nullptr;        // where drawing goes: the primary surface once started
  DeviceBitmap* secondTarget = nullptr;
  PreDrawPostDraw bracket;
  PostDrawXform xform;                   // the 8-to-10-bit or pivot transform, when one is on
  uint32_t memoryId = 0;                 // copied into the surfaces' allocation options
};
