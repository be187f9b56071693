#include "tools/gui/AdvancedWindowCtrl.h"

#include <cstring>

#include "tools/gui/ConfigEngine.h"

namespace {

struct AdvancedOptions {
  uint8_t busMastering;
  uint8_t openGL;
  uint8_t useEdid;
  uint8_t forceDvi;
  char outputFile[256];
};

AdvancedOptions s_options{};
AdvancedView* s_view = nullptr;

void StorePath(const char* path) {
  if (path == nullptr || std::strlen(path) > 255) return;
  std::strcpy(s_options.outputFile, path);
}

}  // namespace

void SetAdvancedView(AdvancedView* view) { s_view = view; }

void AdvancedWindowCtrlInit() {
  s_options = AdvancedOptions{};
  AdvancedWindowSetDefaultCtrl();
}

void AdvancedWindowSetDefaultCtrl() {
  XConfigSummary summary;
  GetConfigEngine().ProbeXConfig(&summary);
  // The record first, so that the state is right without a window too.
  StorePath(summary.fileName.c_str());
  Set3DCtrl(summary.openGL);
  SetBusMasteringCtrl(summary.busMastering);
  SetForcingDVICtrl(summary.forceDvi);
  SetUsingEdidCtrl(summary.useEdid);
  if (s_view == nullptr) return;
  s_view->SetOutputFileEntry(summary.fileName.c_str());
  s_view->SetUsingGl(summary.openGL != 0);
  s_view->SetUsingBusMastering(summary.busMastering != 0);
  s_view->SetForcingDVI(summary.forceDvi != 0);
  s_view->SetUsingEdid(summary.useEdid != 0);
}

void Set3DCtrl(int32_t flag) { s_options.openGL = static_cast<uint8_t>(flag); }
void SetUsingEdidCtrl(int32_t flag) { s_options.useEdid = static_cast<uint8_t>(flag); }
void SetBusMasteringCtrl(int32_t flag) { s_options.busMastering = static_cast<uint8_t>(flag); }
void SetForcingDVICtrl(int32_t flag) { s_options.forceDvi = static_cast<uint8_t>(flag); }
bool Is3DEnableCtrl() { return s_options.openGL != 0; }
bool IsBusMasteringEnableCtrl() { return s_options.busMastering != 0; }
bool IsUsingEdidCtrl() { return s_options.useEdid != 0; }
bool IsForcingDVICtrl() { return s_options.forceDvi != 0; }
void SetOutputFilePathCtrl(const char* path) { StorePath(path); }
void SetOutputFileCtrl(const char* path) { StorePath(path); }
const char* GetOutputFilePathCtrl() { return s_options.outputFile; }

void ShowAdvancedWindowCtrl() {
  if (s_view != nullptr) s_view->Show();
}

void HideAdvancedWindowCtrl() {
  if (s_view != nullptr) s_view->Hide();
}
