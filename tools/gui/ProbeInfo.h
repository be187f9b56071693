// What the start-up probe found: installed drivers, the boards and the
// current X configuration.
#pragma once
#include <cstdint>

#include "tools/gui/ConfigEngine.h"
#include "tools/lib/DriverInfo.h"
#include "tools/lib/Probe.h"

constexpr int kMaxCards = 8;

void InitProbeInfo();
XConfigSummary* GetXConfigStruct();
CardInfo* GetCardInfo();  // kMaxCards records
const char* GetQlbDriverInfo();
const char* GetOrvDriverInfo();
uint8_t GetOrvKernelDriverFound();
void SetQlbDriverInfo(const char* text);
void SetOrvDriverInfo(const char* text);
void SetOrvKernelDriverFound(int32_t flag);
