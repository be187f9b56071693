#include "core/bm_debug.h"

#include <string.h>

#include "core/driver_switches.h"
#include "core/lnx_device.h"
#include "core/mm_surface_manager.h"

BmDbgOutDebug::BmDbgOutDebug(CommonData* c, uint32_t u) : common(c), unit(u) {
  ReadOutputLevelFromRegistry();
}

BmDbgOutDebug::~BmDbgOutDebug() {
  for (LockedBufferInfo& page : pages) MmFreePciLockedBuffer(common, kIocAnyUnit, page.cpuAddress);
  texts.clear();
  pages.erase(pages.begin(), pages.end());
}

void BmDbgOutDebug::ReadOutputLevelFromRegistry() {
  DriverSwitchesCommon* switches = common != nullptr ? common->driverSwitches : nullptr;
  if (switches != nullptr && switches->BmDbgOutLvl != nullptr) {
    outputLevel = static_cast<int32_t>(switches->BmDbgOutLvl->GetValue());
  }
}

bool BmDbgOutDebug::IsDbgPacket(const uint32_t* packet) {
  return packet[0] == kDbgPacketHeader && (packet[1] & kDbgPacketMarkerMask) == kDbgPacketMarker;
}

uint32_t BmDbgOutDebug::GetLockedStr(const char* text) {
  auto known = texts.find(text);
  if (known != texts.end()) return (*known).second;

  const size_t bytes = strlen(text) + 1;
  uint32_t answer = 0;
  for (size_t i = pages.size(); i-- > 0 && answer == 0;) {
    LockedBufferInfo& page = pages[i];
    if (bytes <= kDbgPageSize - page.used) {
      memcpy(page.cpuAddress + page.used, text, bytes);
      answer = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(page.cpuAddress + page.used));
      page.used += static_cast<uint32_t>(bytes);
    }
  }
  // A text that no page can hold gets no page of its own either.
  if (answer == 0 && bytes <= kDbgPageSize && pages.size() < kDbgMaxPages) {
    void* cpu = nullptr;
    uint64_t bus = 0;
    if (MmAllocatePciLockedBuffer(common, kIocAnyUnit, 1, &cpu, &bus)) {
      LockedBufferInfo page{static_cast<uint8_t*>(cpu), bus, 0};
      if (pages.Insert(pages.end(), 1, page)) {
        LockedBufferInfo& added = pages[pages.size() - 1];
        memcpy(added.cpuAddress, text, bytes);
        added.used = static_cast<uint32_t>(bytes);
        answer = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(added.cpuAddress));
      } else {
        MmFreePciLockedBuffer(common, kIocAnyUnit, cpu);
      }
    }
  }
  texts.insert(Otl::Pair<const char* const, uint32_t>{text, answer});
  return answer;
}

void BmDbgOutDebug::WriteDbgPacket(BmBufferPool* pool, BmDbgOutTypes::DebugLevel level,
                                   BmDbgOutTypes::EventId event, const char* text,
                                   uint32_t value, uint32_t) {
  if (static_cast<int32_t>(level) > outputLevel) return;
  uint32_t marker = event * 0x1000000u + kDbgPacketMarker;
  uint32_t address = 0;
  if (text != nullptr) {
    address = GetLockedStr(text);
    if (address == 0) marker = kDbgPacketNoRoom;
  }
  uint32_t* at = pool->Reserve(kDbgPacketWords);
  if (at == nullptr) return;  // no buffer holds the packet
  at[0] = kDbgPacketHeader;
  at[1] = marker;
  at[2] = address;
  at[3] = 0;
  at[4] = value;
}

void BmDbgOutDebug::WriteDbgPacket(BmBufferPool* pool, BmDbgOutTypes::DebugLevel level,
                                   const char* text, uint32_t value, uint32_t ignored) {
  WriteDbgPacket(pool, level, 0, text, value, ignored);
}
