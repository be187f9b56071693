#include "tools/gui/ProbeInfo.h"

#include <cstring>

#include "tools/gui/support.h"

namespace {

// The installed drivers.
DriverInfo oDriverInfo{};
// The probed boards.
CardInfo oCardInfo[kMaxCards]{};
// The summary of the X configuration.
XConfigSummary oXConfigInfo;

void ClearCard(CardInfo* card) {
  FreeCardInfo(card);
  std::memset(card, 0, sizeof *card);
  card->outputCounts[0] = -1;
}

void CopyVersion(char* dest, const char* szDriverInfo) {
  using std::strlen;
  GUI_ASSERT(strlen(szDriverInfo) < 256);
  std::strcpy(dest, szDriverInfo);
}

}  // namespace

void InitProbeInfo() {
  oDriverInfo.qlbVersion[0] = '\0';
  oDriverInfo.orvVersion[0] = '\0';
  oDriverInfo.kernelModuleInstalled = 0;
  for (CardInfo& card : oCardInfo) ClearCard(&card);
}

XConfigSummary* GetXConfigStruct() { return &oXConfigInfo; }
CardInfo* GetCardInfo() { return oCardInfo; }
const char* GetQlbDriverInfo() { return oDriverInfo.qlbVersion; }
const char* GetOrvDriverInfo() { return oDriverInfo.orvVersion; }
uint8_t GetOrvKernelDriverFound() { return oDriverInfo.kernelModuleInstalled; }
void SetQlbDriverInfo(const char* text) { CopyVersion(oDriverInfo.qlbVersion, text); }
void SetOrvDriverInfo(const char* text) { CopyVersion(oDriverInfo.orvVersion, text); }
void SetOrvKernelDriverFound(int32_t flag) { oDriverInfo.kernelModuleInstalled = static_cast<uint8_t>(flag); }
