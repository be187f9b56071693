// The code of the prebuilt vertex programs and of the register check's test
// program: constant microcode of the module. The instruction words are
// placeholders of the right sizes (the engine's own listings are not part
// of this tree); only their sizes and places matter to the driver.
#pragma once

#include <stdint.h>

struct FixedProgramCode {
  const uint8_t* code;
  uint32_t size;  // bytes, a multiple of 12
};

// The prebuilt program of an id in 0-3, 6-12, 15-17 ({null, 0} for others).
FixedProgramCode FixedProgramCodeOf(uint32_t id);
// Program 4's element `index` (0-15).
FixedProgramCode IndexedProgramCodeOf(uint32_t index);
// The register check's program: 401 instructions.
FixedProgramCode ConstantCheckProgramCode();

inline constexpr uint32_t kConstantCheckProgramBytes = 4812;
