// What the configuration tools read back from, strip from and write into an
// X configuration file: their driver options, generated sections and modules.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/lib/ModelineUtils.h"
#include "tools/lib/parser/xconfig.h"

constexpr int kToolTextSize = 100;
constexpr int kToolPanels = 4;
constexpr uint32_t kRefreshNoValue = 0xFFFFFFFFu;

enum ToolDispMode : int32_t { kModeMerge = 1, kModeIndependent = 2, kModeXinerama = 3 };
enum ToolLayout : int32_t { kToolLayoutHorizontal = 1, kToolLayoutVertical = 2, kToolLayoutSquare = 3 };
enum ToolPosition : int32_t { kToolRightOf = 1, kToolLeftOf = 2, kToolAbove = 3, kToolBelow = 4 };
enum ToolRotation : int32_t { kRotateNone = 0, kRotateCw = 1, kRotateCcw = 2 };

struct UseModesName {
  char name[104];
  UseModesName* next;
};

struct ModeLineResolution {
  char name[104];
  double clock;  // MHz
  int32_t hdisplay, hsyncstart, hsyncend, htotal;
  int32_t vdisplay, vsyncstart, vsyncend, vtotal;
  int32_t flags;  // X mode flags
  ModeLineResolution* next;
};

// The comment behind an entry the tools strip and write again (a driver
// option, the Xinerama option, a module load), kept so that the rewritten
// entry gets it back.
struct StrippedComment {
  const void* owner;  // the Screen the option was found for; the layout for
                      // Xinerama; null for a module load
  std::string name;
  std::string comment;
  // The comment of the section the entry stood in: the comment stays there
  // when the entry is not written again.
  char** section = nullptr;
  mutable bool givenBack = false;
};

// What was read back from a configuration.
struct ParsedOpt {
  char path[kToolTextSize];
  int32_t screens;
  int32_t family;  // 1 orv, 2 qlb
  int32_t kvd;
  int32_t mode;              // ToolDispMode
  int32_t monitor2Position;  // ToolPosition
  int32_t depth[kToolPanels];
  int32_t busMastering;
  int32_t openGL;
  int32_t edid;
  int32_t forceDigital;
  char resolution[kToolPanels][kToolTextSize];
  int32_t refresh[kToolPanels];
  char rotation[kToolPanels][kToolTextSize];
  char monitor2VRefresh[kToolTextSize];
  char metaModes[kToolTextSize];
  char busId[kToolTextSize];
  UseModesName* useModes;
  int32_t layout;  // ToolLayout
  int32_t layoutScreens;
  ModeLineResolution* modeLines;
  std::vector<StrippedComment> strippedComments;
};

// What is to be written.
struct XConfigOpt {
  int32_t family;
  int32_t kvd;
  int32_t screens;
  int32_t mergedFB, spanThree, spanFour, s3i, s4i, xinerama;
  int32_t layoutRewrite;
  int32_t screenPosition;    // ToolPosition between Screen lines
  int32_t monitor2Position;  // ToolPosition
  int32_t depth[kToolPanels];
  int32_t busMastering, edid, openGL, forceDigital;
  int32_t resolutionGiven;
  char resolution[kToolPanels][kToolTextSize];
  char metaModes[kToolTextSize];
  uint32_t refresh[kToolPanels];  // kRefreshNoValue: no value
  char monitor2VRefresh[kToolTextSize];
  int32_t refreshGiven;
  char monitor2HSync[kToolTextSize];
  int32_t rotation[kToolPanels];  // ToolRotation
  char busId[kToolPanels][kToolTextSize];
  UseModesName* useModes;  // not owned
  const std::vector<StrippedComment>* strippedComments;  // not owned, may be null
};

// The defaults a ParsedOpt starts from before reading.
void InitParsedOpt(ParsedOpt* parsed);
void FreeParsedOpt(ParsedOpt* parsed);

// Empty text when not found, null when found without a value.
const char* GetOptionStr(const char* name, XConfScreen* screen);
int GetOptionBool(const char* name, XConfScreen* screen, int defaultValue);
// 1 or 0; an empty text gives the default. Any other word ends the process
// with status 1.
int XOption2Bool(const char* text, int defaultValue);

XConfOption* RemoveOptionList(XConfOption* options, const char* name);
void RemoveOption(const char* name, XConfScreen* screen);
XConfLoad* RemoveModule(XConfLoad* loads, const char* name);
// The same, handing over the comment of the entry removed (left as it was
// when there is none).
XConfOption* RemoveOptionKeepingComment(XConfOption* options, const char* name,
                                        std::string* comment);
XConfLoad* RemoveModuleKeepingComment(XConfLoad* loads, const char* name, std::string* comment);

void AppendUseModeList(UseModesName** list, const char* name);
void AppendModeLineResolution(ModeLineResolution** list, const XConfModeLine* line);
// The same at a known tail link, in constant time; answers the new tail link.
ModeLineResolution** AppendModeLineResolutionAt(ModeLineResolution** tail,
                                                const XConfModeLine* line);

// Reads the tools' state back and strips their options and modules; kErrNone.
// A file the tools cannot work with (no layout with input devices, a second
// layout, an undecided layout on a probe, a bad Monitor2Position or boolean
// word) prints its message on standard error and answers kErrConfigRefused,
// leaving the rest of the file unread and unstripped.
int SetParsedOptFromConfig(ParsedOpt* parsed, XConfFile* config, int overwrite, int probe);
void SetConfigFromXConfigOpt(XConfigOpt* target, XConfFile* config);
// Adds the mode line to the Modes section each layout screen's Monitor
// uses, where no mode line of its name is yet; answers how many sections it
// was added to (0: every one already had it). A Monitor without UseModes
// ends the process with status 1.
int AppendSingleModeLineToConfig(const UiModeLine* line, XConfFile* config);
