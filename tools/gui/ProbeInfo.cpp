#include "tools/gui/ProbeInfo.h"

#include <cstring>

#include "tools/gui/GuiAssert.h"

namespace {

struct ProbeRecord {
  char qlbVersion[256];
  char orvVersion[256];
  uint8_t kernelModuleFound;
  CardInfo cards[kMaxCards];
  XConfigSummary xconfig;
};

ProbeRecord s_probe{};

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
  s_probe.qlbVersion[0] = '\0';
  s_probe.orvVersion[0] = '\0';
  s_probe.kernelModuleFound = 0;
  for (CardInfo& card : s_probe.cards) ClearCard(&card);
}

XConfigSummary* GetXConfigStruct() { return &s_probe.xconfig; }
CardInfo* GetCardInfo() { return s_probe.cards; }
const char* GetQlbDriverInfo() { return s_probe.qlbVersion; }
const char* GetOrvDriverInfo() { return s_probe.orvVersion; }
uint8_t GetOrvKernelDriverFound() { return s_probe.kernelModuleFound; }
void SetQlbDriverInfo(const char* text) { CopyVersion(s_probe.qlbVersion, text); }
void SetOrvDriverInfo(const char* text) { CopyVersion(s_probe.orvVersion, text); }
void SetOrvKernelDriverFound(int32_t flag) { s_probe.kernelModuleFound = static_cast<uint8_t>(flag); }
