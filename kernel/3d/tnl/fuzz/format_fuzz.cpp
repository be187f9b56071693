// Fuzz target of the vertex input formats: the first byte chooses the
// input (modulo 3: a flexible-vertex-format code, a declaration, a layout
// record); the rest is the input's bytes, missing ones read as 0. A
// declaration is its bytes as 32-bit words (a trailing partial word is
// dropped) in a block of exactly that size, so a read past its length is a
// sanitizer report. A built format must keep every element inside its
// fields and strides; the glue must hold nothing afterwards.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <vector>

#include "kernel/3d/tnl/vertex_format.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"

namespace {

uint32_t Word(const uint8_t* data, size_t size, size_t at) {
  uint32_t w = 0;
  for (size_t i = 0; i < 4; ++i)
    if (at + i < size) w |= uint32_t{data[at + i]} << (8 * i);
  return w;
}

void Check(const VertexFormat& f) {
  if (f.built != 1) abort();
  for (uint32_t s = 0; s < kVtxStreamCount; ++s)
    if (f.streamOffset[s] > 4 * (kVtxMaxOffsetWords + 1)) abort();
  for (const VertexElement& e : f.elements) {
    if (!e.Described()) continue;
    if (e.Type() >= kVtxTypeCount || e.reserved != 0) abort();
  }
  for (uint32_t i = 0; i < kVtxTexSetCount; ++i)
    if (f.texComponents[i] > 4) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  orvsim::Simulation sim;
  kglue::Glue glue;
  {
    auto format = std::make_unique<VertexFormat>();
    uint32_t result = 1;
    switch (data[0] % 3) {
      case 0:
        result = format->FromFvf(Word(data, size, 1));
        break;
      case 1: {
        const size_t words = (size - 1) / 4;
        std::unique_ptr<uint32_t[]> block(new uint32_t[words == 0 ? 1 : words]);
        if (words != 0) memcpy(block.get(), data + 1, words * 4);
        result = format->FromDeclaration(words == 0 ? nullptr : block.get(), words);
        if (result == 0 && format->constants.size() > words) abort();
        break;
      }
      default: {
        uint32_t record[6];
        for (size_t i = 0; i < 6; ++i) record[i] = Word(data, size, 1 + 4 * i);
        result = format->FromLayout(record);
        break;
      }
    }
    if (result > 1) abort();
    if (result == 0) Check(*format);
  }
  if (!glue.LiveBlocks().empty()) abort();
  return 0;
}
