#pragma once

#include <climits>
#include <cstdint>
#include <string_view>

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
// The text is read as ParseModeLineClock reads it; 0 when it is no clock.
int32_t ConvertMHzToKHz(const char* text);

// Mode-line values as users type them, on the wizard's command line and in
// the GUI's mode-line editor: one reading and one set of limits.
//
// The configuration file holds a clock as whole kHz in a signed 32-bit word:
// that is the largest clock a mode line can have.
constexpr int32_t kModeLineMaxClockKHz = INT32_MAX;
// A pixel clock in MHz: decimal digits with at most one point (no sign, no
// exponent, whatever the locale), blanks around it ignored; above 0 and at
// most kModeLineMaxClockKHz once rounded to whole kHz. The value given back
// is that rounded one.
bool ParseModeLineClock(std::string_view text, double* mhz);
// A timing value: decimal digits only, blanks around them ignored, from 1 to
// INT32_MAX.
bool ParseModeLineTiming(std::string_view text, int32_t* value);
// A mode-line name: 1 to 103 characters, no double quote and no control
// character (the file quotes the name and holds it on one line).
bool IsModeLineNameValid(std::string_view name);
