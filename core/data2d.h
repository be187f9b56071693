// The per-head 2D record embedded in every device object. The 2D layer owns
// its contents; until it is built this holds only what the device object
// needs: construction and destruction with the object.
#pragma once

#include <stdint.h>

class SurfDesc2dList;
class Context2d;

struct Data2d {
  Data2d();
  ~Data2d();
  Data2d(const Data2d&) = delete;
  Data2d& operator=(const Data2d&) = delete;

  SurfDesc2dList* surfDescList = nullptr;
  Context2d* context = nullptr;
};
