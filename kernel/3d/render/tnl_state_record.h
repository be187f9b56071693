// The record of a render context that its transform-and-lighting set-up
// attaches to: which vertex programs changed, the fixed programs in use and
// their parameter blocks.
#pragma once

#include <stdint.h>

struct VertexProgram;

struct TnlStateRecord {
  uint8_t programDirty[2];
  struct {
    VertexProgram* program;
    const void* header;
    uint32_t headerCount;
    const void* parameters;
    uint32_t parameterCount;
  } fixedProgram3;
  VertexProgram* fixedPrograms[3];  // fixed programs 0, 1 and 17
  const void* constantImage;
  float tweenDefault;
};
