// Debug markers in a command stream: a five-word packet that the engine
// passes over without effect (four header indexes 0x20) and that a trace of
// the DMA buffers recognises, with an event number, a value and optionally
// a text. Texts are copied once into PCI-locked pages so that the reader can
// find them by address.
#pragma once

#include <stdint.h>

#include "core/bm_buffer.h"
#include "core/heap_object.h"
#include "core/otl_map.h"
#include "core/otl_vector.h"
#include "core/regs/dma.h"

// A debug marker: four discarding indexes, which the engine passes over.
inline constexpr uint32_t kDbgPacketHeader = PacketHeader(kIdxDiscard, kIdxDiscard, kIdxDiscard, kIdxDiscard);
inline constexpr uint32_t kDbgPacketMarker = 0xA7B8C9;
inline constexpr uint32_t kDbgPacketMarkerMask = 0xFFFFFF;
inline constexpr uint32_t kDbgPacketNoRoom = 0xFFA7B8C9;
inline constexpr uint32_t kDbgPacketWords = 5;
inline constexpr uint32_t kDbgPageSize = 4096;
inline constexpr uint32_t kDbgMaxPages = 16;

namespace BmDbgOutTypes {
using DebugLevel = uint32_t;
using EventId = uint32_t;
}  // namespace BmDbgOutTypes

struct LockedBufferInfo {
  uint8_t* cpuAddress;
  uint64_t busAddress;
  uint32_t used;
};

class BmDbgOutDebug : public OsHeapObject {
 public:
  BmDbgOutDebug(CommonData* common, uint32_t unit);
  virtual ~BmDbgOutDebug();
  BmDbgOutDebug(const BmDbgOutDebug&) = delete;
  BmDbgOutDebug& operator=(const BmDbgOutDebug&) = delete;

  void WriteDbgPacket(BmBufferPool* pool, BmDbgOutTypes::DebugLevel level,
                      BmDbgOutTypes::EventId event, const char* text, uint32_t value,
                      uint32_t ignored);
  void WriteDbgPacket(BmBufferPool* pool, BmDbgOutTypes::DebugLevel level, const char* text,
                      uint32_t value, uint32_t ignored);
  static bool IsDbgPacket(const uint32_t* packet);
  static bool PrintDbgPacket(const uint32_t* packet) { return IsDbgPacket(packet); }
  // Address (low 32 bits) of the stored copy of text; 0 when there is no room.
  uint32_t GetLockedStr(const char* text);

  int32_t outputLevel = 0;
  CommonData* common;
  uint32_t unit;
  Otl::Map<const char*, uint32_t> texts;
  Otl::Vector<LockedBufferInfo> pages;

 private:
  void ReadOutputLevelFromRegistry();
};
