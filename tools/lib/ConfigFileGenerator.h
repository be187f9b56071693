// The one entry through which both tools change the X configuration: the
// user's choices are merged over the file, checked against the board and the
// rules, and written back. Results are the library's error codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/lib/List.h"
#include "tools/lib/XConfigOp.h"
#include "tools/lib/parser/xconfig.h"

// Presence bits of UserSelection::presentFlags.
constexpr uint32_t kSelOutputFile = 0x1;
constexpr uint32_t kSelOutputs = 0x2;
constexpr uint32_t kSelFamily = 0x4;
constexpr uint32_t kSelKvd = 0x8;
constexpr uint32_t kSelBusMastering = 0x10;
constexpr uint32_t kSelOpenGL = 0x20;
constexpr uint32_t kSelEdid = 0x40;
constexpr uint32_t kSelForceDigital = 0x80;
constexpr uint32_t kSelMode = 0x100;
constexpr uint32_t kSelLayout = 0x200;
constexpr uint32_t kSelOverwrite = 0x400;
constexpr uint32_t kSelResolution = 0x1000;
constexpr uint32_t kSelRefresh = 0x2000;
constexpr uint32_t kSelDepth = 0x4000;
constexpr uint32_t kSelRotation = 0x8000;
// What the board's capabilities decide.
constexpr uint32_t kSelFromBoard = kSelOutputs | kSelFamily | kSelKvd | kSelOpenGL;

struct UserSelection {
  const char* outputFile;  // null: search the usual places
  int32_t outputs;
  int32_t family;  // 1 orv, 2 qlb
  int32_t kvd;
  int32_t busMastering;
  int32_t openGL;
  int32_t edid;
  int32_t forceDigital;
  int32_t mode;    // ToolDispMode
  int32_t layout;  // ToolLayout
  int32_t overwrite;
  int32_t useCapabilities;
  char resolution[kToolPanels][kToolTextSize];
  uint32_t refresh[kToolPanels];  // 0 not given, kRefreshNoValue a mode line
  uint32_t depth[kToolPanels];
  int32_t rotation[2];  // ToolRotation
  uint32_t presentFlags;
};
static_assert(sizeof(UserSelection) == 496);
static_assert(offsetof(UserSelection, outputs) == 8);
static_assert(offsetof(UserSelection, family) == 12);
static_assert(offsetof(UserSelection, mode) == 36);
static_assert(offsetof(UserSelection, overwrite) == 44);
static_assert(offsetof(UserSelection, useCapabilities) == 48);
static_assert(offsetof(UserSelection, resolution) == 52);
static_assert(offsetof(UserSelection, refresh) == 452);
static_assert(offsetof(UserSelection, depth) == 468);
static_assert(offsetof(UserSelection, rotation) == 484);
static_assert(offsetof(UserSelection, presentFlags) == 492);

struct XConfigScreen {
  char group[256];  // outputs of the screen, "1,2"
  char resolution[256];
  int32_t refresh;
  int32_t depth;
  int32_t rotation;  // ToolRotation
};

struct XConfigInfo {
  char fileName[256];
  char busId[256];
  int32_t outputs;
  int32_t board;  // always 0
  int32_t layout;
  int32_t mode;  // xinerama is reported as independent
  int32_t xinerama;
  int32_t busMastering;
  int32_t openGL;
  int32_t edid;
  int32_t forceDigital;
  PrivateList* screens;    // XConfigScreen
  PrivateList* modeLines;  // UiModeLine
};

// Values given on the last calls (1 or 2), 0 before any.
extern int m_nbResolutionArgs;
extern int m_nbRefreshArgs;
extern int m_nbBppArgs;
extern int m_nbRotateArgs;

int UpdateConfigFile(UserSelection* selection);
// 0 with the configuration read, 1 when it does not parse, 2 when no file is
// given and none is found.
int OpenXConfigFile(UserSelection* selection, XConfFile** config, char* path, size_t pathSize);
// Keeps the previous file as "<path>.bak" and writes through the library's
// safe writer: 4 on any failure, else 0. A write without a backup says so
// after the "Writing config file" line.
int WriteToXConfigFile(const char* path, XConfFile* config);
// Whether a successful write says "Writing config file to `<path>'" (and
// any notice of the write) on standard output; on unless turned off. A
// caller that writes a temporary file and copies it into place turns it
// off and names the real target itself.
void SetWriteAnnouncement(bool on);
// After a result of 4: why the file could not be written ("<path>:
// Permission denied", a full disk, a failed backup, ...).
const std::string& WriteFailureReason();
// Whether that failure is a matter of permission (or has no known cause),
// which the message of code 4 speaks of; a full disk, for one, is not.
bool WriteFailureIsPermission();
// The configuration file found along the tools' search path, empty when none.
void ProbeXConfigPath(char* path, size_t pathSize);

// Adds the mode lines to the file. A mode line whose name the file already
// has is kept as the file has it (and said so); when no line is added the
// file is not rewritten.
int AddModelineToConfig(PrivateList* modeLines, const char* path);
// Clears the file's mode lines; a file without any is left untouched.
int ClearModelineFromConfig(const char* path);
// Answers whether anything was removed.
bool ClearModeLine(XConfFile* config);

void SetXConfigDispModeOption(XConfigOpt* target, int mode, int outputs);
void SetXConfigLayout(XConfigOpt* target, int outputs, int layout);
// Any other word than none, cw or ccw ends the process with status 1.
int GetRotateArgs(const char* word);
