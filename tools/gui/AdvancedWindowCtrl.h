// The options that are not per display, and the output file.
#pragma once
#include <cstdint>

// What the options need of the Advanced window.
class AdvancedView {
 public:
  virtual ~AdvancedView() = default;
  virtual void SetOutputFileEntry(const char* text) = 0;
  // The check buttons' "toggled" handlers store the flags back.
  virtual void SetUsingBusMastering(bool on) = 0;
  virtual void SetForcingDVI(bool on) = 0;
  virtual void SetUsingEdid(bool on) = 0;
  virtual void SetUsingGl(bool on) = 0;
  virtual void Show() = 0;
  virtual void Hide() = 0;
};

void SetAdvancedView(AdvancedView* view);

void AdvancedWindowCtrlInit();
void AdvancedWindowSetDefaultCtrl();
void Set3DCtrl(int32_t flag);
void SetUsingEdidCtrl(int32_t flag);
void SetBusMasteringCtrl(int32_t flag);
void SetForcingDVICtrl(int32_t flag);
bool Is3DEnableCtrl();
bool IsBusMasteringEnableCtrl();
bool IsUsingEdidCtrl();
bool IsForcingDVICtrl();
// Paths of 256 characters or more are ignored.
void SetOutputFilePathCtrl(const char* path);
void SetOutputFileCtrl(const char* path);
const char* GetOutputFilePathCtrl();
void ShowAdvancedWindowCtrl();
void HideAdvancedWindowCtrl();
