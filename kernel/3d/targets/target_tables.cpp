#include "kernel/3d/targets/target_tables.h"

#include "kernel/3d/surfaces/format_catalogue.h"

namespace {

// Rows for client values 1-8; other values take the fallback.
constexpr uint32_t kCompare[8] = {0, 2, 1, 3, 4, 6, 5, 7};
constexpr uint32_t kStencil[8] = {0, 3, 1, 6, 7, 2, 4, 5};
constexpr uint32_t kBlendOp[8] = {0, 1, 2, 5, 6, 0, 0, 0};
constexpr uint32_t kCompareOther = 2;

// Client blend factors 1-17: source, destination; 7 and 8 differ with
// alpha (the second pair).
constexpr BlendFactorCodes kFactor[17] = {
    {0, 0},  {1, 1},   {4, 6},   {5, 7},   {6, 6},   {7, 7}, {10, 10}, {11, 11}, {8, 10},
    {9, 11}, {12, 1},  {1, 1},   {1, 1},   {2, 14},  {3, 15}, {14, 14}, {15, 15},
};

// Format codes 17-27.
constexpr uint32_t kDepthCodes[11] = {0, 1, 8, 0, 7, 1, 2, 3, 4, 5, 6};

}  // namespace

uint32_t CompareFunctionCode(uint32_t client) {
  return client >= 1 && client <= 8 ? kCompare[client - 1] : kCompareOther;
}

uint32_t StencilOperationCode(uint32_t client) {
  return client >= 1 && client <= 8 ? kStencil[client - 1] : 0;
}

uint32_t BlendOperationCode(uint32_t client) {
  return client >= 1 && client <= 8 ? kBlendOp[client - 1] : 0;
}

BlendFactorCodes BlendFactorCode(uint32_t client, bool withAlpha) {
  if (client < 1 || client > 17) return {1, 1};
  if (withAlpha && client == 7) return {10, 1};
  if (withAlpha && client == 8) return {11, 0};
  return kFactor[client - 1];
}

uint32_t GetDepthFormatCode(uint32_t formatCode) {
  return formatCode >= 17 && formatCode <= 27 ? kDepthCodes[formatCode - 17] : 0;
}

uint32_t DepthFormatEngineCode(uint32_t hardwareCode) {
  return hardwareCode > kDepthCodeEngineMax ? kDepthCodeEngineMax : hardwareCode;
}

uint32_t SmallCode(uint32_t value) { return value <= 15 ? value : 12; }

uint32_t ReplicateFill(uint32_t value, uint32_t bitsPerPixel) {
  switch (bitsPerPixel) {
    case 8:
      return (value & 0xFF) * 0x01010101u;
    case 16:
      return (value & 0xFFFF) * 0x00010001u;
    case 32:
      return value;
    default:
      return 0;
  }
}

uint32_t ChannelWriteMask(uint32_t enable, const FormatDescriptor* format) {
  if (format == nullptr) return 0;
  uint32_t mask = 0;
  if ((enable & 1) != 0) mask |= format->masks[kChannelRed];
  if ((enable & 2) != 0) mask |= format->masks[kChannelGreen];
  if ((enable & 4) != 0) mask |= format->masks[kChannelBlue];
  if ((enable & 8) != 0) mask |= format->masks[kChannelAlpha];
  return mask;
}
