// The records the kernel core's ordered maps hold per key
// (Otl::Map<unsigned int, Record*>): the component maps of the 3D engine's
// state blocks and a 3D client's surface groups. Map::AddIfAbsent makes a
// record for a new key and runs its Prepare where it has one; the other
// records are left as allocated and filled by their owner.
#pragma once

#include <stdint.h>

#include <initializer_list>

#include "platform/kglue/kglue.h"

// Two, three and four 32-bit words: state-block kinds 8, 13 and 14, and 7.
struct Dword2 {
  uint32_t word[2];
};
struct Dword3 {
  uint32_t word[3];
  void Prepare() { LocMemSet(word, 0, sizeof(word)); }
};
struct Dword4 {
  uint32_t word[4];
};

// Four 32-bit values: state-block kinds 3, 10 and 12.
struct Float4 {
  float value[4];
  void Prepare() { LocMemSet(value, 0, sizeof(value)); }
};

// A material, state-block kind 4: four 16-byte vectors, of which the third
// is left as allocated.
struct MaterialRecord {
  float vector[4][4];
  void Prepare() {
    for (int i : {0, 1, 3}) LocMemSet(vector[i], 0, sizeof(vector[i]));
  }
};
static_assert(sizeof(MaterialRecord) == 64);

// A 3D client's group of surfaces, made by its context and kept by id.
class SurfaceGroup;
