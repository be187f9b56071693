// The board on the PCI bus and what it and its monitors support.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "tools/lib/ConfigFileGenerator.h"
#include "tools/lib/List.h"
#include "tools/lib/ModelineUtils.h"
#include "tools/lib/carddb.h"


enum CardLayoutKind : int32_t { kLayoutHorizontal = 1, kLayoutVertical = 2, kLayoutSquare = 3 };
enum CardDisplayMode : int32_t { kDisplayMerge = 1, kDisplayIndependent = 2 };

// Output index of the resolutions that hold for every output.
constexpr int32_t kAllOutputs = 5;
constexpr int kMaxOutputCounts = 5;  // with the -1 end mark
constexpr int kMaxRefreshRates = 15;  // with the -1 end mark

struct CardLayout {
  int32_t outputsMinusOne;
  int32_t layout;    // CardLayoutKind
  int32_t mode;      // CardDisplayMode
  int32_t rotation;  // 1 when rotated desktops are allowed
};

struct CardMonitorMode {
  int32_t output;
  char resolution[256];               // "1280x1024"
  int32_t refresh[kMaxRefreshRates];  // ended by -1
};

struct CardPreferredMode {
  int32_t output;
  UiModeLine mode;
};

struct CardInfo {
  char busId[256];  // "PCI:bus:device:function"
  char name[256];
  char driver[256];  // "unknown", "orv" or "qlb"
  int32_t kvd;
  int32_t outputCounts[kMaxOutputCounts];  // ended by -1
  int32_t openGL;
  PrivateList* layouts;              // CardLayout
  PrivateList* resolutions;          // CardMonitorMode, from the monitors
  PrivateList* fallbackResolutions;  // CardMonitorMode of kAllOutputs
  PrivateList* preferredModes;       // CardPreferredMode
};

// Finds the maker's display board on the PCI bus. With several boards the
// one the kernel lists first is taken and the answer is 3 (only one board
// is supported), else 0. `board` stays empty when there is none. The bus id
// text ("PCI:%d:%d:%d") is written when `force` is set or it is empty.
int ProbePciBusId(std::optional<CardAttribute>& board, char* busId, size_t busIdSize, int force);

// Fills `card` from the board's database record, the monitors the
// configuration extension reports and the fixed fallback modes.
void ProbeCardInfo(CardInfo* card, const char* busId, const CardAttribute& board);
void AppendLayout(CardInfo* card, int32_t outputsMinusOne, int32_t layout, int32_t mode,
                  int32_t rotation);
void AppendCardSupportedVesaMode(CardInfo* card);
// Frees the four lists of `card`.
void FreeCardInfo(CardInfo* card);

// The probe of the current configuration and board, and the text report of
// the wizard's --probe.
extern const char* const s_dispMode[4];
extern const char* const s_layout[4];
extern const char* const s_rotate[3];

// 0 or 3 (several boards), 1 when the file does not parse, 26 when no board
// of the maker is on the bus; the summary is filled from the file in every
// case but 1. Free the lists with FreeXConfigInfo.
int ProbeXConfig(XConfigInfo* info);
void FreeXConfigInfo(XConfigInfo* info);
// 0 or 3 with the board's record filled, 1 on a parse failure, 26 without a
// board. Free the record with FreeCardInfo.
int ProbeCardInfoStruct(CardInfo* card);
// Prints the report on standard output; without a board the card section is
// left out and the answer is 26.
int ProbeSystem();
