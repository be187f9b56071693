#pragma once

// The X configuration file as a tree of records. Every record owns its
// strings (malloc'd, null when unset) and its comment: the comment lines met
// while the record was read, so a file written back keeps them.

#include <cstdio>

struct XConfOption {
  XConfOption* next;
  char* name;
  char* value;  // null for an option without value
  int used;
  char* comment;
};

// ---- Device, Monitor, Modes, Screen, VideoAdaptor ----

constexpr int kConfMaxDacSpeeds = 4;
constexpr int kConfMaxClocks = 128;
constexpr int kConfMaxHSync = 8;
constexpr int kConfMaxVRefresh = 8;

struct XConfDevice {
  XConfDevice* next;
  char* identifier;
  char* vendor;
  char* board;
  char* chipset;
  char* busid;
  char* card;
  char* driver;
  char* ramdac;
  int dacspeeds[kConfMaxDacSpeeds];  // kHz, 0 = unset
  int videoram;
  int textclockfreq;  // kHz
  unsigned long bios_base;
  unsigned long mem_base;
  unsigned long io_base;
  char* clockchip;
  int clocks;
  int clock[kConfMaxClocks];  // kHz
  int chipid;    // -1 = unset
  int chiprev;   // -1 = unset
  int irq;       // -1 = unset
  int screen;    // -1 = unset
  XConfOption* options;
  char* comment;
};

// Mode-line flag bits.
constexpr int kConfFlagPHSync = 0x1;
constexpr int kConfFlagNHSync = 0x2;
constexpr int kConfFlagPVSync = 0x4;
constexpr int kConfFlagNVSync = 0x8;
constexpr int kConfFlagInterlace = 0x10;
constexpr int kConfFlagDoubleScan = 0x20;
constexpr int kConfFlagComposite = 0x40;
constexpr int kConfFlagPCSync = 0x80;
constexpr int kConfFlagNCSync = 0x100;
constexpr int kConfFlagHSkew = 0x200;
constexpr int kConfFlagBCast = 0x400;
constexpr int kConfFlagCustom = 0x800;
constexpr int kConfFlagVScan = 0x1000;

struct XConfModeLine {
  XConfModeLine* next;
  char* identifier;
  int clock;  // kHz
  int hdisplay, hsyncstart, hsyncend, htotal;
  int vdisplay, vsyncstart, vsyncend, vtotal;
  int vscan;
  int flags;
  int hskew;
  char* comment;
};

struct XConfModes {
  XConfModes* next;
  char* identifier;
  XConfModeLine* modelines;
  char* comment;
};

struct XConfRange {
  float lo;
  float hi;
};

struct XConfModesLink {
  XConfModesLink* next;
  char* name;
  XConfModes* modes;  // resolved by validation
};

struct XConfMonitor {
  XConfMonitor* next;
  char* identifier;
  char* vendor;
  char* model;
  int width;   // mm
  int height;  // mm
  XConfModeLine* modelines;
  int n_hsync;
  XConfRange hsync[kConfMaxHSync];  // kHz as written
  int n_vrefresh;
  XConfRange vrefresh[kConfMaxVRefresh];  // Hz as written
  float gamma_red, gamma_green, gamma_blue;  // 0 = unset
  XConfOption* options;
  XConfModesLink* modes_links;
  char* comment;
};

struct XConfVideoPort {
  XConfVideoPort* next;
  char* identifier;
  XConfOption* options;
  char* comment;
};

struct XConfVideoAdaptor {
  XConfVideoAdaptor* next;
  char* identifier;
  char* vendor;
  char* board;
  char* busid;
  char* driver;
  XConfOption* options;
  XConfVideoPort* ports;
  char* screen_identifier;  // the screen that uses it, set by validation
  char* comment;
};

struct XConfAdaptorLink {
  XConfAdaptorLink* next;
  char* name;
  XConfVideoAdaptor* adaptor;
};

struct XConfModeName {
  XConfModeName* next;
  char* name;
};

struct XConfDisplay {
  XConfDisplay* next;
  int viewport_x, viewport_y;  // -1 = unset
  int virtual_x, virtual_y;    // 0 = unset
  int depth;
  int fbbpp;
  char* visual;
  int weight_red, weight_green, weight_blue;  // 0 = unset
  int black_red, black_green, black_blue;     // -1 = unset
  int white_red, white_green, white_blue;     // -1 = unset
  XConfModeName* modes;
  XConfOption* options;
  char* comment;
};

struct XConfScreen {
  XConfScreen* next;
  char* identifier;  // may be the same string as driver (a screen named by Driver)
  char* driver;
  int default_depth;
  int default_bpp;
  int default_fbbpp;
  char* monitor_name;
  XConfMonitor* monitor;
  char* device_name;
  XConfDevice* device;
  XConfAdaptorLink* adaptors;
  XConfDisplay* displays;
  XConfOption* options;
  char* comment;
};

// ---- ServerLayout, input devices, Files, Module, flags, Vendor, DRI ----

enum XConfPosition : int {
  kConfPosLegacy = -1,
  kConfPosAbsolute = 0,
  kConfPosRightOf = 1,
  kConfPosLeftOf = 2,
  kConfPosAbove = 3,
  kConfPosBelow = 4,
  kConfPosRelative = 5,
};

struct XConfAdjacency {
  XConfAdjacency* next;
  int screen_num;  // -1 = none
  XConfScreen* screen;
  char* screen_name;
  char* legacy[4];  // neighbour names of the legacy form, in the order read
  int where;        // XConfPosition
  int x, y;         // -1 = none
  char* refscreen;
};

struct XConfInactive {
  XConfInactive* next;
  char* device_name;
  XConfDevice* device;
};

struct XConfInput;

struct XConfInputRef {
  XConfInputRef* next;
  XConfInput* input;
  char* input_name;
  XConfOption* options;  // the words behind the name, without values
};

struct XConfLayout {
  XConfLayout* next;
  char* identifier;
  XConfAdjacency* adjacencies;
  XConfInactive* inactives;
  XConfInputRef* inputs;
  XConfOption* options;
  char* comment;
};

struct XConfInput {
  XConfInput* next;
  char* identifier;
  char* driver;
  XConfOption* options;
  char* comment;
};

struct XConfFiles {
  char* logfile;
  char* rgbpath;
  char* modulepath;    // comma-separated
  char* inputdevices;  // comma-separated
  char* fontpath;      // comma-separated
  char* comment;
};

enum XConfLoadKind : int { kConfLoadModule = 0, kConfLoadDriver = 1 };

struct XConfLoad {
  XConfLoad* next;
  int kind;
  char* name;
  XConfOption* options;  // set for a module subsection
  char* comment;
};

struct XConfModule {
  XConfLoad* loads;
  char* comment;
};

struct XConfFlags {
  XConfOption* options;
  char* comment;
};

struct XConfExtensions {
  XConfOption* options;
  char* comment;
};

struct XConfVendorSub {
  XConfVendorSub* next;
  char* name;
  char* identifier;
  XConfOption* options;
  char* comment;
};

struct XConfVendor {
  XConfVendor* next;
  char* identifier;
  XConfOption* options;
  XConfVendorSub* subs;
  char* comment;
};

struct XConfBuffers {
  XConfBuffers* next;
  int count;
  int size;
  char* flags;
  char* comment;
};

struct XConfDri {
  char* group_name;
  int group;  // -1 = unset
  int mode;
  XConfBuffers* buffers;
  char* comment;
};

struct XConfFile {
  XConfFiles* files;
  XConfModule* modules;
  XConfFlags* flags;
  XConfVideoAdaptor* videoadaptors;
  XConfModes* modes;
  XConfMonitor* monitors;
  XConfDevice* devices;
  XConfScreen* screens;
  XConfInput* inputs;
  XConfLayout* layouts;
  XConfVendor* vendors;
  XConfDri* dri;
  XConfExtensions* extensions;
  char* comment;  // comments outside every section
};

// ---- Finding, reading, validating, writing ----

// Search template used by the tools.
extern const char* const kConfToolSearchPath;

// The most a configuration file may hold. Real files are a few kilobytes;
// anything larger, or anything that is not a regular file (a device, a
// pipe), is refused before it can take the memory of the process.
constexpr size_t kConfMaxFileSize = size_t{16} << 20;

// The first regular file along the templates, opened for reading; null when
// there is none.
const char* xf86openConfigFile(const char* templates, const char* cmdline, const char* projroot);
void xf86setBuiltinConfig(const char* const* lines);
namespace xconf {
// Reads the configuration from an open stream (a file in memory, for
// instance) as from a searched file; xf86closeConfigFile closes it. `name`
// stands for the file's path in messages.
void SetConfigStream(FILE* stream, const char* name);
}  // namespace xconf
XConfFile* xf86readConfigFile();
void xf86closeConfigFile();
// 1 when the file was written and renamed into place, 0 on any failure
// (the previous file is then left untouched).
int xf86writeConfigFile(const char* path, XConfFile* file);
int doWriteConfigFile(const char* path, XConfFile* file);
int xf86validateConfig(XConfFile* file);
void xf86freeConfig(XConfFile* file);

// ---- Utilities ----

int xf86nameCompare(const char* a, const char* b);
unsigned long xf86strToUL(const char* text);
int xf86pathIsAbsolute(const char* path);
int xf86pathIsSafe(const char* path);
char* xf86configStrdup(const char* text);
char* xf86addComment(char* current, const char* added);

// Appends an item at the tail of a singly linked list of records.
template <typename T>
T* xf86addListItem(T* head, T* item) {
  if (head == nullptr) return item;
  T* tail = head;
  while (tail->next != nullptr) tail = tail->next;
  tail->next = item;
  return head;
}

namespace xconf {

// Appends to a singly linked list in constant time: the tail's link is
// found once, when the appender is made, and kept. Parsers that add one
// record after another to a list (mode lines, sections) use it, so a file
// of many lines reads in linear time. Nothing else may change the list's
// tail while the appender is in use.
template <typename T>
class ListAppender {
 public:
  explicit ListAppender(T** head) : link_(head) { Settle(); }
  // Appends `item` (itself possibly a list) and returns it.
  T* Append(T* item) {
    *link_ = item;
    Settle();
    return item;
  }

 private:
  void Settle() {
    while (*link_ != nullptr) link_ = &(*link_)->next;
  }
  T** link_;
};

}  // namespace xconf

// True when the two lists do not end in the same record.
template <typename T>
bool xf86itemNotSublist(T* a, T* b) {
  T* tail_a = a;
  T* tail_b = b;
  while (tail_a != nullptr && tail_a->next != nullptr) tail_a = tail_a->next;
  while (tail_b != nullptr && tail_b->next != nullptr) tail_b = tail_b->next;
  return tail_a != tail_b;
}

// ---- Option lists ----

XConfOption* xf86newOption(char* name, char* value);  // takes over both strings
XConfOption* xf86addNewOption(XConfOption* list, char* name, char* value);
XConfOption* addNewOption2(XConfOption* list, char* name, char* value, int used);
XConfOption* xf86optionListCreate(const char** pairs, int count, int used);
XConfOption* xf86optionListDup(XConfOption* list);
XConfOption* xf86optionListMerge(XConfOption* head, XConfOption* tail);
XConfOption* xf86findOption(XConfOption* list, const char* name);
char* xf86findOptionValue(XConfOption* list, const char* name);
char* xf86optionName(XConfOption* option);
char* xf86optionValue(XConfOption* option);
XConfOption* xf86nextOption(XConfOption* option);
void xf86optionListFree(XConfOption* list);
void xf86printOptionList(FILE* stream, XConfOption* list, int tabs);
void xf86debugListOptions(XConfOption* list);
char* xf86uLongToString(unsigned long value);

// ---- Sections: look-ups, printers, validators, free functions ----

XConfDevice* xf86findDevice(const char* name, XConfDevice* list);
XConfMonitor* xf86findMonitor(const char* name, XConfMonitor* list);
XConfModes* xf86findModes(const char* name, XConfModes* list);
XConfModeLine* xf86findModeLine(const char* name, XConfModeLine* list);
XConfScreen* xf86findScreen(const char* name, XConfScreen* list);
XConfVideoAdaptor* xf86findVideoAdaptor(const char* name, XConfVideoAdaptor* list);
XConfLayout* xf86findLayout(const char* name, XConfLayout* list);
XConfInput* xf86findInput(const char* name, XConfInput* list);
XConfInput* xf86findInputByDriver(const char* driver, XConfInput* list);
XConfVendor* xf86findVendor(const char* name, XConfVendor* list);

void xf86printDeviceSection(FILE* stream, XConfDevice* list);
void xf86printMonitorSection(FILE* stream, XConfMonitor* list);
void xf86printModesSection(FILE* stream, XConfModes* list);
void xf86printScreenSection(FILE* stream, XConfScreen* list);
void xf86printVideoAdaptorSection(FILE* stream, XConfVideoAdaptor* list);
void xf86printLayoutSection(FILE* stream, XConfLayout* list);
void xf86printInputSection(FILE* stream, XConfInput* list);
void xf86printFileSection(FILE* stream, XConfFiles* files);
void xf86printModuleSection(FILE* stream, XConfModule* module);
void xf86printServerFlagsSection(FILE* stream, XConfFlags* flags);
void xf86printVendorSection(FILE* stream, XConfVendor* list);
void xf86printDRISection(FILE* stream, XConfDri* dri);
void xf86printExtensionsSection(FILE* stream, XConfExtensions* extensions);

int xf86validateDevice(XConfFile* file);
int xf86validateScreen(XConfFile* file);
int xf86validateMonitor(XConfFile* file, XConfScreen* screen);
int xf86validateInput(XConfFile* file);
int xf86validateLayout(XConfFile* file);

void xf86freeDeviceList(XConfDevice* list);
void xf86freeMonitorList(XConfMonitor* list);
void xf86freeModesList(XConfModes* list);
void xf86freeModeLineList(XConfModeLine* list);
void xf86freeScreenList(XConfScreen* list);
void xf86freeDisplayList(XConfDisplay* list);
void xf86freeModeList(XConfModeName* list);
void xf86freeAdaptorLinkList(XConfAdaptorLink* list);
void xf86freeVideoAdaptorList(XConfVideoAdaptor* list);
void xf86freeVideoPortList(XConfVideoPort* list);
void xf86freeLayoutList(XConfLayout* list);
void xf86freeAdjacencyList(XConfAdjacency* list);
void xf86freeInactiveList(XConfInactive* list);
void xf86freeInputrefList(XConfInputRef* list);
void xf86freeInputList(XConfInput* list);
void xf86freeFiles(XConfFiles* files);
void xf86freeModules(XConfModule* module);
void xf86freeFlags(XConfFlags* flags);
void xf86freeVendorList(XConfVendor* list);
void xf86freeVendorSubList(XConfVendorSub* list);
void xf86freeDRI(XConfDri* dri);
void xf86freeBuffersList(XConfBuffers* list);
void xf86freeExtensions(XConfExtensions* extensions);
