// orvwizard: changes the X configuration file from the command line.

#include <getopt.h>
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "tools/lib/ConfigFileGenerator.h"
#include "tools/lib/ErrorCodes.h"
#include "tools/lib/File.h"
#include "tools/lib/List.h"
#include "tools/lib/ModelineUtils.h"
#include "tools/lib/Probe.h"
#include "tools/lib/carddb.h"
#include "tools/lib/parser/xconfig.h"

namespace {

constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 1;
constexpr int kVersionPatch = 3;
constexpr int kModeLineFields = 12;
// Status of a requested action that failed after the arguments were accepted.
constexpr int kExitFailed = 1;
// Where the probes read /proc, /lib/modules and the driver directories from;
// unset means the running system.
constexpr const char* kSysRootVariable = "ORV_SYSROOT";

enum OptionId {
  kOptOutputFile = 1,
  kOptCardFile,
  kOptOrv,
  kOptQlb,
  kOptKvd,
  kOptOutput,
  kOptMerge,
  kOptIndependent,
  kOptXinerama,
  kOptHorizontal,
  kOptSquare,
  kOptVertical,
  kOptResolution,
  kOptVRefresh,
  kOptBpp,
  kOptRotate,
  kOptBm,
  kOptGl,
  kOptEdid,
  kOptDvi,
  kOptVersion,
  kOptOverwrite,
  kOptProbe,
  kOptModeLine,
  kOptIgnoreCap,
  kOptClearModeLine,
  kOptHelp,
};

const option kLongOptions[] = {
    {"outputfile", required_argument, nullptr, kOptOutputFile},
    {"cardfile", required_argument, nullptr, kOptCardFile},
    {"orv", no_argument, nullptr, kOptOrv},
    {"qlb", no_argument, nullptr, kOptQlb},
    {"kvd", required_argument, nullptr, kOptKvd},
    {"output", required_argument, nullptr, kOptOutput},
    {"merge", no_argument, nullptr, kOptMerge},
    {"independent", no_argument, nullptr, kOptIndependent},
    {"xinerama", no_argument, nullptr, kOptXinerama},
    {"horizontal", no_argument, nullptr, kOptHorizontal},
    {"square", no_argument, nullptr, kOptSquare},
    {"vertical", no_argument, nullptr, kOptVertical},
    {"resolution", required_argument, nullptr, kOptResolution},
    {"vrefresh", required_argument, nullptr, kOptVRefresh},
    {"bpp", required_argument, nullptr, kOptBpp},
    {"rotate", required_argument, nullptr, kOptRotate},
    {"bm", required_argument, nullptr, kOptBm},
    {"gl", required_argument, nullptr, kOptGl},
    {"edid", required_argument, nullptr, kOptEdid},
    {"dvi", required_argument, nullptr, kOptDvi},
    {"version", no_argument, nullptr, kOptVersion},
    {"overwrite", no_argument, nullptr, kOptOverwrite},
    {"probe", required_argument, nullptr, kOptProbe},
    {"modeline", required_argument, nullptr, kOptModeLine},
    {"ignorecap", no_argument, nullptr, kOptIgnoreCap},
    {"clearmodeline", no_argument, nullptr, kOptClearModeLine},
    {"help", no_argument, nullptr, kOptHelp},
    {nullptr, 0, nullptr, 0},
};

const char* const kUsage[] = {
    "Possible options:",
    "    --version                         : display version number.",
    "    --outputfile                      : filename of the config to change.",
    "    --cardfile                        : directory holding the orvcards board database.",
    "    --orv | --qlb                     : board family.",
    "    --kvd on|off                      : Must be specified for a KVD Series board.",
    "    --output 1|2|3|4                  : number of displays.",
    "    --merge |",
    "    --independent |",
    "    --xinerama                        : Multi-display mode.",
    "    --horizontal |",
    "    --vertical |",
    "    --square                          : layout of the monitors.",
    "    --resolution modename[,modename]  : resolution of the monitor(s).",
    "    --bpp value[,value]               : color depth of the monitor(s).",
    "                                        where value =  8|16|24.",
    "    --vrefresh Hz[,Hz]                : vertical refresh rate of the monitor(s).",
    "    --rotate rotation[,rotation]      : rotation of the desktop.",
    "                                        where rotation =  none|cw|ccw.",
    "    --bm on|off                       : enable/disable busmastering.",
    "    --gl on|off                       : enable/disable OpenGL.",
    "    --edid on|off                     : enable/disable using edid from monitor.",
    "    --dvi on|off                      : enable/disable forcing dvi from every monitors.",
    "    --overwrite                       : rewrite all drivers specific section.",
    "    --probe all|xpath                           : dump information about the cards and "
    "system. Add the option xpath for the xconfig file path.",
    "    --modeline \"modeline\"             : adds a modeline to the config file. ",
    "                                        where modeline = \"modeline name, pixel "
    "clock(MHz), hdisp,",
    "                                        hsync start, hsync end, hsync total, vdisp, vdisp "
    "start,",
    "                                        vdisp end, vtotal, hsync polarity[+hsync|-hsync], ",
    "                                        vsync polarity[+vsync|-vsync]\"",
    "                                        exemple : orvwizard --modeline \"2560x1600,268.0,"
    "2560,2608,",
    "                                        2640,2720,1600,1603,1609,1646,+hsync,-vsync\"",
    "                                        Note : Pixel clock must be in MHz",
    "    --clearmodeline                   : clears every modeline in config file.",
    "    --ignorecap                       : ignore capabilities of the card for config.",
};

// On/off settings: 0 not given, 1 on, 2 off.
enum Switch { kNotGiven = 0, kOn = 1, kOff = 2 };

struct Options {
  std::string outputFile;
  bool haveOutputFile = false;
  std::string cardDir;
  bool haveCardDir = false;
  int family = 0;
  int mode = 0;
  int layout = 0;
  bool overwrite = false;
  bool useCapabilities = true;
  bool clearModeLine = false;
  int outputs = 0;
  int kvd = kNotGiven, bm = kNotGiven, gl = kNotGiven, edid = kNotGiven, dvi = kNotGiven;
  bool version = false;
  bool probe = false;
  bool probeXPath = false;
  const char* resolution = nullptr;
  const char* vrefresh = nullptr;
  const char* bpp = nullptr;
  const char* rotate = nullptr;
  const char* modeLine = nullptr;
};

// The usage text on standard output; asked for with --help it is no error.
[[noreturn]] void Usage(int status = 1) {
  for (const char* line : kUsage) std::printf("%s\n", line);
  std::exit(status);
}

[[noreturn]] void ArgumentError(const char* format, const char* value) {
  std::fprintf(stderr, format, value);
  std::exit(1);
}

bool IsPathValid(const char* path) {
  FILE* file = std::fopen(path, "r");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

// The configuration file named on the command line: it must be a regular
// file that opens for reading, of a size a configuration can have. A
// directory counts as a path that does not open; a device or a pipe is
// never opened, as reading it may not end.
void CheckOutputFile(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0 || S_ISDIR(st.st_mode))
    ArgumentError("The file %s doesn't exist or the file path is unreachable. \nNote : A file that "
                  "contains minimum xorg configure section (ServerLayout and InputSection) must "
                  "already exist.\n",
                  path);
  if (!S_ISREG(st.st_mode))
    ArgumentError("The file %s is not a regular file: it cannot be an X configuration file.\n", path);
  if (static_cast<uint64_t>(st.st_size) > kConfMaxFileSize) {
    std::fprintf(stderr, "The file %s is larger than %zu bytes: it cannot be an X configuration file.\n",
                 path, kConfMaxFileSize);
    std::exit(1);
  }
  if (!IsPathValid(path))
    ArgumentError("The file %s doesn't exist or the file path is unreachable. \nNote : A file that "
                  "contains minimum xorg configure section (ServerLayout and InputSection) must "
                  "already exist.\n",
                  path);
}

// The value of an on/off switch.
int OnOff(const char* word) {
  for (const char* on : {"yes", "on", "1", "true", "enable"})
    if (strcasecmp(word, on) == 0) return kOn;
  for (const char* off : {"no", "off", "0", "false", "disable"})
    if (strcasecmp(word, off) == 0) return kOff;
  ArgumentError("unrecognized parameter value: %s\n", word);
}

std::vector<std::string> SplitFields(const char* text) {
  std::vector<std::string> fields;
  std::string current;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == ',') {
      fields.push_back(current);
      current.clear();
    } else {
      current.push_back(*p);
    }
  }
  fields.push_back(current);
  return fields;
}

// The first and, when present, the second comma-separated field; answers how
// many there were (0 for none).
int SplitComaArg(const char* text, char* first, char* second, size_t size) {
  first[0] = second[0] = '\0';
  if (text == nullptr || *text == '\0' || *text == ',') return 0;
  std::vector<std::string> fields = SplitFields(text);
  std::snprintf(first, size, "%s", fields[0].c_str());
  if (fields.size() < 2 || fields[1].empty()) return 1;
  std::snprintf(second, size, "%s", fields[1].c_str());
  return 2;
}

int GetRotateArgsOrv(const char* word) {
  if (word == nullptr || *word == '\0' || strcasecmp(word, "none") == 0) return 0;
  if (strcasecmp(word, "cw") == 0) return 1;
  if (strcasecmp(word, "ccw") == 0) return 2;
  ArgumentError("invalid rotate parameter: %s.\n", word);
}

ModelinePolarity ConvertToEnum(const char* word) {
  if (strcasecmp(word, "+hsync") == 0 || strcasecmp(word, "+vsync") == 0)
    return kPolarityPositive;
  return kPolarityNegative;
}

// A mode line needs exactly its twelve fields; the polarity words are exact.
bool IsModeLineArgumentsValid(const char* text) {
  std::vector<std::string> fields = SplitFields(text);
  if (fields.size() != kModeLineFields) return false;
  const std::string& h = fields[10];
  const std::string& v = fields[11];
  if (h != "+hsync" && h != "-hsync") {
    std::fprintf(stderr,
                 "Arguments for hsync polarity is invalid, only +hsync or -hsync are accepted\n");
    std::exit(1);
  }
  if (v != "+vsync" && v != "-vsync") {
    std::fprintf(stderr,
                 "Arguments for vsync polarity is invalid, only +vsync or -vsync are accepted\n");
    std::exit(1);
  }
  return true;
}

bool ParseInt(const std::string& text, int32_t* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < 0 || value > INT32_MAX) return false;
  *out = int32_t(value);
  return true;
}

UiModeLine BuildModeLine(const char* text) {
  std::vector<std::string> fields = SplitFields(text);
  UiModeLine line{};
  std::snprintf(line.name, sizeof line.name, "%s", fields[0].c_str());
  int32_t* timings[] = {&line.hdisplay, &line.hsyncstart, &line.hsyncend, &line.htotal,
                        &line.vdisplay, &line.vsyncstart, &line.vsyncend, &line.vtotal};
  bool ok = IsModeLineNameValid(fields[0]) && ParseModeLineClock(fields[1], &line.clock);
  for (int i = 0; ok && i < 8; ++i) ok = ParseModeLineTiming(fields[2 + i], timings[i]);
  if (!ok) ArgumentError("Invalid modeline parameter: %s\n", text);
  // The display ends before its sync starts, the sync starts before it ends
  // and ends before the total: a mode line out of that order is one no
  // server can use.
  static const char* const kTimingNames[] = {"hdisp", "hsync start", "hsync end", "hsync total",
                                             "vdisp", "vdisp start", "vdisp end", "vtotal"};
  for (int i = 0; i < 8; ++i) {
    if (i % 4 == 0 || *timings[i] >= *timings[i - 1]) continue;
    std::fprintf(stderr,
                 "Invalid modeline timings: %s (%d) is less than %s (%d); the timings must "
                 "not decrease from hdisp to hsync total and from vdisp to vtotal\n",
                 kTimingNames[i], *timings[i], kTimingNames[i - 1], *timings[i - 1]);
    std::exit(1);
  }
  line.hpolarity = ConvertToEnum(fields[10].c_str());
  line.vpolarity = ConvertToEnum(fields[11].c_str());
  return line;
}

// Reads "%u" or "%u,%u"; 0 when the text holds no number. With
// `noValueWord`, "-1" stands for a panel driven by a mode line (no rate).
int ParseUnsignedPair(const char* text, uint32_t* first, uint32_t* second,
                      bool noValueWord = false) {
  *first = *second = 0;
  std::vector<std::string> fields = SplitFields(text);
  if (fields.size() > 2) return 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    uint32_t& out = i == 0 ? *first : *second;
    int32_t value = 0;
    if (noValueWord && fields[i] == "-1") {
      out = kRefreshNoValue;
    } else if (ParseInt(fields[i], &value)) {
      out = uint32_t(value);
    } else {
      return 0;
    }
  }
  return int(fields.size());
}

// Any failure of the action is printed with its message and fails the run;
// the warning about several boards is only printed.
int Finish(int code) {
  if (code == kErrNone) return 0;
  // The library has said on standard error why it refused the file.
  if (code == kErrConfigRefused) return kExitFailed;
  // A write that failed for another cause than permission (a full disk,
  // say) gives that cause alone; the library's message would be untrue.
  if (code != kErrWritePermission || WriteFailureIsPermission())
    std::printf("%s\n", ErrorCodeToString(code));
  if (code == kErrWritePermission && !WriteFailureReason().empty())
    std::printf("%s\n", WriteFailureReason().c_str());
  return code == kErrOneCardOnly ? 0 : kExitFailed;
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  opterr = 0;
  int id;
  // The leading ':' tells a missing argument from an unknown option.
  while ((id = getopt_long_only(argc, argv, ":", kLongOptions, nullptr)) != -1) {
    switch (id) {
      case kOptOutputFile:
        o.outputFile = optarg;
        o.haveOutputFile = true;
        CheckOutputFile(optarg);
        break;
      case kOptCardFile:
        o.cardDir = optarg;
        o.haveCardDir = true;
        if (!IsPathValid(optarg)) ArgumentError("The orvcards file can't be found at %s\n", optarg);
        break;
      case kOptOrv: o.family = 1; break;
      case kOptQlb: o.family = 2; break;
      case kOptKvd: o.kvd = OnOff(optarg); break;
      case kOptOutput: {
        int32_t n = 0;
        if (!ParseInt(optarg, &n) || n <= 0) {
          std::fprintf(stderr, "Invalid number of outputs\n");
          std::exit(1);
        }
        o.outputs = n;
        break;
      }
      case kOptMerge: o.mode = kModeMerge; break;
      case kOptIndependent: o.mode = kModeIndependent; break;
      case kOptXinerama: o.mode = kModeXinerama; break;
      case kOptHorizontal: o.layout = kToolLayoutHorizontal; break;
      case kOptSquare: o.layout = kToolLayoutSquare; break;
      case kOptVertical: o.layout = kToolLayoutVertical; break;
      case kOptResolution: o.resolution = optarg; break;
      case kOptVRefresh: o.vrefresh = optarg; break;
      case kOptBpp: o.bpp = optarg; break;
      case kOptRotate: o.rotate = optarg; break;
      case kOptBm: o.bm = OnOff(optarg); break;
      case kOptGl: o.gl = OnOff(optarg); break;
      case kOptEdid: o.edid = OnOff(optarg); break;
      case kOptDvi: o.dvi = OnOff(optarg); break;
      case kOptVersion: o.version = true; break;
      case kOptOverwrite: o.overwrite = true; break;
      case kOptProbe:
        o.probe = true;
        o.probeXPath = std::strcmp(optarg, "xpath") == 0;
        break;
      case kOptModeLine:
        if (!IsModeLineArgumentsValid(optarg)) {
          std::fprintf(stderr, "Invalid number of arguments for modeline, try --help for usage\n");
          std::exit(1);
        }
        o.modeLine = optarg;
        break;
      case kOptIgnoreCap: o.useCapabilities = false; break;
      case kOptClearModeLine: o.clearModeLine = true; break;
      case kOptHelp: Usage(0);
      case ':':
        std::fprintf(stderr, "option %s needs an argument\n", argv[optind - 1]);
        Usage();
      default:
        // An unknown option, or an abbreviation that fits several.
        std::fprintf(stderr, "unrecognized option: %s\n", argv[optind - 1]);
        Usage();
    }
  }
  if (optind < argc) {
    std::fprintf(stderr, "unrecognized options: ");
    for (int i = optind; i < argc; ++i) std::fprintf(stderr, "%s ", argv[i]);
    std::fprintf(stderr, "\n");
    Usage();
  }
  return o;
}

int RunUpdate(Options& o) {
  UserSelection sel{};
  sel.outputs = 1;
  sel.family = 1;
  sel.useCapabilities = 1;
  if (o.haveOutputFile) {
    sel.outputFile = o.outputFile.c_str();
    sel.presentFlags |= kSelOutputFile;
  }
  if (o.family != 0) {
    sel.family = o.family;
    sel.presentFlags |= kSelFamily;
  }
  if (o.outputs > 0) {
    sel.outputs = o.outputs;
    sel.presentFlags |= kSelOutputs;
  }
  struct OnOffField {
    int given;
    int32_t* field;
    uint32_t flag;
  };
  const OnOffField switches[] = {
      {o.kvd, &sel.kvd, kSelKvd},           {o.bm, &sel.busMastering, kSelBusMastering},
      {o.edid, &sel.edid, kSelEdid},        {o.dvi, &sel.forceDigital, kSelForceDigital},
      {o.gl, &sel.openGL, kSelOpenGL},
  };
  for (const OnOffField& s : switches) {
    if (s.given == kNotGiven) continue;
    *s.field = s.given == kOn ? 1 : 0;
    sel.presentFlags |= s.flag;
  }
  if (o.mode != 0) {
    sel.mode = o.mode;
    sel.presentFlags |= kSelMode;
  }
  if (o.layout != 0) {
    sel.layout = o.layout;
    sel.presentFlags |= kSelLayout;
  }
  if (o.resolution != nullptr) {
    if (SplitComaArg(o.resolution, sel.resolution[0], sel.resolution[1], kToolTextSize) == 0)
      ArgumentError("invalid resolution parameter: %s.\n", o.resolution);
    sel.presentFlags |= kSelResolution;
  }
  if (o.vrefresh != nullptr) {
    if (ParseUnsignedPair(o.vrefresh, &sel.refresh[0], &sel.refresh[1], true) == 0)
      ArgumentError("invalid refresh rate parameter: %s.\n", o.vrefresh);
    sel.presentFlags |= kSelRefresh;
  }
  if (o.bpp != nullptr) {
    if (ParseUnsignedPair(o.bpp, &sel.depth[0], &sel.depth[1]) == 0)
      ArgumentError("invalid bpp parameter: %s.\n", o.bpp);
    sel.presentFlags |= kSelDepth;
  }
  if (o.rotate != nullptr) {
    char first[kToolTextSize], second[kToolTextSize];
    if (SplitComaArg(o.rotate, first, second, sizeof first) == 0)
      ArgumentError("invalid rotate parameter: %s.\n", o.rotate);
    sel.rotation[0] = GetRotateArgsOrv(first);
    sel.rotation[1] = GetRotateArgsOrv(second);
    sel.presentFlags |= kSelRotation;
  }
  sel.overwrite = o.overwrite ? 1 : 0;
  sel.useCapabilities = o.useCapabilities ? 1 : 0;

  const int code = UpdateConfigFile(&sel);
  const int status = Finish(code);
  if (code >= kErrDriverCapability && code <= kErrOutputCapability)
    std::printf("Please change configuration or use --overwrite switch\n");
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options o = ParseOptions(argc, argv);
  if (const char* root = std::getenv(kSysRootVariable)) SysRootSet(root);

  if (o.haveCardDir) SetDatabaseCardFile(o.cardDir.c_str());
  InitCoreModule();

  const char* path = o.haveOutputFile ? o.outputFile.c_str() : nullptr;
  if (o.version) {
    std::printf("Version %d.%d.%d\n", kVersionMajor, kVersionMinor, kVersionPatch);
    return 0;
  }
  if (o.probe) {
    if (o.probeXPath) {
      char found[4096];
      ProbeXConfigPath(found, sizeof found);
      if (found[0] != '\0') std::printf("filename %s\n", found);
      else std::printf("filename unknown_location\n");
      return 0;
    }
    const int code = ProbeSystem();
    // A machine without the board is reported as such, not as a failure.
    if (code == kErrNoCard) {
      std::printf("%s\n", ErrorCodeToString(code));
      return 0;
    }
    return Finish(code);
  }
  if (o.clearModeLine) return Finish(ClearModelineFromConfig(path));
  if (o.modeLine != nullptr) {
    const UiModeLine line = BuildModeLine(o.modeLine);
    PrivateList* list = PrivateListInsertFirst(nullptr, &line, sizeof line, nullptr);
    const int code = AddModelineToConfig(list, path);
    PrivateDeleteList(list);
    return Finish(code);
  }
  return RunUpdate(o);
}
