#pragma once

#include <cstdint>

enum ModelinePolarity : int32_t { kPolarityPositive = 0, kPolarityNegative = 1 };

// A mode line as the tools edit it.
struct UiModeLine {
  char name[104];
  double clock;  // MHz
  int32_t hdisplay, hsyncstart, hsyncend, htotal;
  int32_t vdisplay, vsyncstart, vsyncend, vtotal;
  ModelinePolarity hpolarity;
  ModelinePolarity vpolarity;
};

// Sync flags of an X configuration mode line.
constexpr int kModeFlagPHSync = 0x1;
constexpr int kModeFlagNHSync = 0x2;
constexpr int kModeFlagPVSync = 0x4;
constexpr int kModeFlagNVSync = 0x8;

// Copies the eight timing values between mode-line records that name them
// alike (the tools' own, the configuration file's, the parsed one).
template <typename To, typename From>
void CopyModeTimings(To* to, const From& from) {
  to->hdisplay = from.hdisplay;
  to->hsyncstart = from.hsyncstart;
  to->hsyncend = from.hsyncend;
  to->htotal = from.htotal;
  to->vdisplay = from.vdisplay;
  to->vsyncstart = from.vsyncstart;
  to->vsyncend = from.vsyncend;
  to->vtotal = from.vtotal;
}

int ConvertModelineArgsToFlags(const char* hword, const char* vword);
int ConvertEnumModelineArgsToFlags(int hpolarity, int vpolarity);
// Clock conversions keep the fraction: 108500 kHz is 108.5 MHz, and MHz
// values round to the nearest kHz.
double ConvertKHzToMHz(int32_t khz);
int32_t ConvertDoubleMHzToKHz(double mhz);
// The text is read as a decimal number whatever the process locale says.
int32_t ConvertMHzToKHz(const char* text);
