// The render state's control record of the vertex attribute fetch: the
// primitive code, edge flags, the fetch kind and the fetch descriptors.
#pragma once

#include <stdint.h>

struct VertexFetchControl {
  uint8_t edgeFlags[2];
  uint8_t kind;          // two bits
  uint8_t primitiveBits; // the primitive code bits
  uint8_t lineFlags;     // bit 1: edge flags fetched for lines
  const void* descriptors;
};
