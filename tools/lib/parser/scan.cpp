#include "tools/lib/parser/scan.h"

#include "tools/lib/parser/name_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tools/lib/Log.h"
#include "tools/lib/parser/read.h"
#include "tools/lib/parser/write.h"
#include "tools/lib/parser/xconfig.h"

namespace {

// The scanner reads one file at a time; its state is process-wide.
struct Scanner {
  FILE* file = nullptr;
  const char* const* builtin = nullptr;
  size_t builtin_index = 0;
  // The file is read in blocks; what follows the current line waits here.
  std::vector<char> block;
  size_t block_pos = 0;
  size_t block_len = 0;
  // Bytes of the file taken so far, at most kConfMaxFileSize.
  size_t consumed = 0;
  bool too_large = false;
  std::string line;  // the current line, whole, with its line end
  size_t pos = 0;
  std::string text;  // text of the last token
  std::string str;   // value of the last string token
  int lineno = 0;
  int pushed = kTokNone;
  bool eol_seen = false;
  std::string section;
  std::string path;
  XConfTokenValue value{};
};

Scanner g_scan;

constexpr size_t kReadBlockSize = 64 * 1024;

// Appends the file's next line to the line buffer; false at the end of the
// file, and when the file holds more than a configuration may: then the
// read stops there, and the reader refuses the file.
bool ReadFileLine() {
  Scanner& s = g_scan;
  for (;;) {
    if (s.block_pos == s.block_len) {
      if (s.block.empty()) s.block.resize(kReadBlockSize);
      s.block_pos = 0;
      s.block_len = std::fread(s.block.data(), 1, s.block.size(), s.file);
      if (s.block_len == 0) return !s.line.empty();
    }
    const char* start = s.block.data() + s.block_pos;
    const size_t available = s.block_len - s.block_pos;
    const void* eol = std::memchr(start, '\n', available);
    const size_t take = eol != nullptr ? static_cast<size_t>(static_cast<const char*>(eol) - start) + 1
                                       : available;
    if (take > kConfMaxFileSize - s.consumed) {
      if (!s.too_large)
        ErrorF("The file %s is larger than %zu bytes: it is no X configuration file\n",
               s.path.c_str(), kConfMaxFileSize);
      s.too_large = true;
      s.line.clear();
      return false;
    }
    s.consumed += take;
    s.line.append(start, take);
    s.block_pos += take;
    if (eol != nullptr) return true;
  }
}

// Reads the next line into the line buffer; false at the end of the input.
bool ReadLine() {
  Scanner& s = g_scan;
  s.line.clear();
  s.pos = 0;
  if (s.file != nullptr) {
    if (s.too_large || !ReadFileLine()) return false;
  } else if (s.builtin != nullptr && s.builtin[s.builtin_index] != nullptr) {
    s.line = s.builtin[s.builtin_index++];
  } else {
    return false;
  }
  // A NUL ends the text of its line.
  size_t nul = s.line.find('\0');
  if (nul != std::string::npos) s.line.resize(nul);
  ++s.lineno;
  s.eol_seen = true;
  return true;
}

// The end of the run of characters from `from` for which `part` holds.
template <typename Part>
size_t SpanEnd(size_t from, Part part) {
  const char* line = g_scan.line.data();
  const size_t size = g_scan.line.size();
  size_t end = from;
  while (end < size && part(static_cast<unsigned char>(line[end]))) ++end;
  return end;
}

int Peek(size_t offset = 0) {
  const Scanner& s = g_scan;
  size_t at = s.pos + offset;
  return at < s.line.size() ? static_cast<unsigned char>(s.line[at]) : '\0';
}

int LookUp(const XConfKeyword* table, const char* word) {
  if (table == nullptr) return kTokError;
  for (const XConfKeyword* k = table; k->token != -1; ++k) {
    if (xf86nameCompare(k->name, word) == 0) return k->token;
  }
  return kTokError;
}

double DecimalValue(const std::string& text) {
  double real = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), real, std::chars_format::fixed);
  return real;
}

void VMessage(const char* prefix, const char* format, va_list args) {
  ErrorF("%s on line %d of section %s in file %s\n\t", prefix, g_scan.lineno,
         g_scan.section.c_str(), g_scan.path.c_str());
  VErrorF(format, args);
  ErrorF("\n");
}

}  // namespace

namespace xconf {

void ScannerReset(FILE* file, const char* const* builtin, const char* path) {
  Scanner& s = g_scan;
  s.file = file;
  s.builtin = builtin;
  s.builtin_index = 0;
  s.line.clear();
  s.pos = 0;
  s.text.clear();
  s.str.clear();
  s.lineno = 0;
  s.pushed = kTokNone;
  s.eol_seen = false;
  s.value = XConfTokenValue{};
  s.path = path;
  s.section.clear();
  s.block_pos = s.block_len = 0;
  s.consumed = 0;
  s.too_large = false;
}

void ScannerClose() {
  Scanner& s = g_scan;
  if (s.file != nullptr) std::fclose(s.file);
  s.file = nullptr;
  s.builtin = nullptr;
  s.builtin_index = 0;
  std::string().swap(s.line);
  std::string().swap(s.text);
  std::string().swap(s.str);
  std::vector<char>().swap(s.block);
  s.block_pos = s.block_len = 0;
  s.pos = 0;
}

bool ScannerTooLarge() { return g_scan.too_large; }

// The name a stream read with SetConfigStream goes by in messages.
std::string g_stream_name;

bool ScannerOpen() { return g_scan.file != nullptr || g_scan.builtin != nullptr; }

}  // namespace xconf

void xf86setBuiltinConfig(const char* const* lines) {
  xconf::ScannerClose();
  xconf::ScannerReset(nullptr, lines, "<builtin configuration>");
}

void xf86closeConfigFile() { xconf::ScannerClose(); }

void xconf::SetConfigStream(FILE* stream, const char* name) {
  ScannerClose();
  g_stream_name = name != nullptr ? name : "";
  ScannerReset(stream, nullptr, g_stream_name.c_str());
}

int xf86getToken(const XConfKeyword* table) {
  Scanner& s = g_scan;
  if (s.pushed == kTokEof) return kTokEof;
  if (s.pushed != kTokNone) {
    int token = s.pushed;
    s.pushed = kTokNone;
    if (token == kTokNumber || token == kTokString || token == kTokDash || token == kTokComma)
      return token;
    return LookUp(table, s.text.c_str());
  }

  s.eol_seen = false;
  s.text.clear();
  for (;;) {
    if (s.pos >= s.line.size()) {
      if (!ReadLine()) {
        s.pushed = kTokEof;
        return kTokEof;
      }
    }
    // Blanks go into the read buffer; a line end starts it afresh.
    const size_t blanks =
        SpanEnd(s.pos, [](unsigned char ch) { return ch == ' ' || ch == '\t' || ch == '\r'; });
    s.text.append(s.line, s.pos, blanks - s.pos);
    s.pos = blanks;
    if (s.pos >= s.line.size()) continue;
    if (s.line[s.pos] == '\n') {
      s.text.clear();
      ++s.pos;
      continue;
    }
    break;
  }

  int c = Peek();
  if (c == '#') {
    // The comment keeps the blanks in front of it and its line end.
    size_t end = SpanEnd(s.pos, [](unsigned char ch) { return ch != '\n' && ch != '\r'; });
    if (end < s.line.size()) ++end;
    s.text.append(s.line, s.pos, end - s.pos);
    s.pos = end;
    s.value.str = s.text.c_str();
    return kTokComment;
  }
  s.text.clear();
  if (c == ',' && !std::isalpha(Peek(1))) {
    ++s.pos;
    s.text = ",";
    return kTokComma;
  }
  if (c == '-' && !std::isalpha(Peek(1))) {
    ++s.pos;
    s.text = "-";
    return kTokDash;
  }
  if (std::isdigit(c)) {
    const bool hex = c == '0' && (Peek(1) == 'x' || Peek(1) == 'X');
    const size_t end = SpanEnd(s.pos, [hex](unsigned char ch) {
      return std::isdigit(ch) || ch == '.' || ch == 'x' || ch == 'X' ||
             (hex && ((ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F')));
    });
    s.text.assign(s.line, s.pos, end - s.pos);
    s.pos = end;
    s.value.unum = xf86strToUL(s.text.c_str());
    s.value.num = s.value.unum > INT_MAX ? INT_MAX : static_cast<int>(s.value.unum);
    s.value.realnum = DecimalValue(s.text);
    return kTokNumber;
  }
  if (c == '"') {
    ++s.pos;
    const size_t end =
        SpanEnd(s.pos, [](unsigned char ch) { return ch != '"' && ch != '\n' && ch != '\r'; });
    s.text.assign(s.line, s.pos, end - s.pos);
    // The closing quote is read; an unterminated string ends at the line end.
    s.pos = end < s.line.size() && s.line[end] == '"' ? end + 1 : end;
    s.str = s.text;
    s.value.str = s.str.c_str();
    return kTokString;
  }
  const size_t end = SpanEnd(s.pos, [](unsigned char ch) {
    return ch != ' ' && ch != '\t' && ch != '\n' && ch != '\r' && ch != '#';
  });
  s.text.assign(s.line, s.pos, end - s.pos);
  s.pos = end;
  return LookUp(table, s.text.c_str());
}

int xf86getSubTokenWithTab(char** comment, const XConfKeyword* table) {
  for (;;) {
    int token = xf86getToken(table);
    if (token != kTokComment) return token;
    if (comment != nullptr) *comment = xf86addComment(*comment, g_scan.text.c_str());
  }
}

int xf86getSubToken(char** comment) { return xf86getSubTokenWithTab(comment, nullptr); }

void xf86unGetToken(int token) { g_scan.pushed = token; }

const char* xf86tokenString() { return g_scan.text.c_str(); }

int xf86getStringToken(const XConfKeyword* table) { return LookUp(table, g_scan.str.c_str()); }

void xf86setSection(const char* name) { g_scan.section = name != nullptr ? name : ""; }

const XConfTokenValue& xf86tokenValue() { return g_scan.value; }

char* xf86takeString() {
  char* copy = strdup(g_scan.str.c_str());
  if (copy == nullptr) throw xconf::ParseAbort{};
  return copy;
}

char* xf86addComment(char* current, const char* added) {
  if (added == nullptr || added[0] == '\0') return current;
  size_t current_len = 0;
  if (current != nullptr) {
    current_len = std::strlen(current);
    g_scan.eol_seen = false;
  }
  // The blanks the scanner keeps in front of a comment include carriage
  // returns: a comment behind them is still one, and gets no second '#'.
  const char* p = added;
  while (*p == ' ' || *p == '\t' || *p == '\r') ++p;
  bool is_comment = *p == '#';
  size_t added_len = std::strlen(added);
  bool ends_newline = added[added_len - 1] == '\n';
  bool lead_newline = g_scan.eol_seen || (current_len != 0 && current[current_len - 1] != '\n');

  std::string result;
  result.reserve(current_len + added_len + 3);
  if (current != nullptr) result.append(current, current_len);
  if (lead_newline) result.push_back('\n');
  if (!is_comment) result.push_back('#');
  result.append(added, added_len);
  if (!ends_newline) result.push_back('\n');

  char* grown = static_cast<char*>(std::malloc(result.size() + 1));
  if (grown == nullptr) return current;
  std::memcpy(grown, result.c_str(), result.size() + 1);
  std::free(current);
  return grown;
}

void xf86parseError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VMessage("Parse error", format, args);
  va_end(args);
}

void xf86parseWarning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VMessage("Parse warning", format, args);
  va_end(args);
}

void xf86validationError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  ErrorF("Data incomplete in file %s\n\t", g_scan.path.c_str());
  VErrorF(format, args);
  ErrorF("\n");
  va_end(args);
}

int xf86nameCompare(const char* a, const char* b) {
  if (a == nullptr || *a == '\0') return (b == nullptr || *b == '\0') ? 0 : 1;
  if (b == nullptr) b = "";
  auto skip = [](const char*& p) {
    while (*p == ' ' || *p == '\t' || *p == '_') ++p;
  };
  skip(a);
  skip(b);
  for (;;) {
    int ca = std::tolower(static_cast<unsigned char>(*a));
    int cb = std::tolower(static_cast<unsigned char>(*b));
    if (ca != cb) return ca - cb;
    if (ca == '\0') return 0;
    ++a;
    ++b;
    skip(a);
    skip(b);
  }
}

namespace xconf {

std::string NameKey(const char* name) {
  std::string key;
  if (name == nullptr) return key;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p == ' ' || *p == '\t' || *p == '_') continue;
    key += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  }
  return key;
}

}  // namespace xconf

unsigned long xf86strToUL(const char* text) {
  if (text == nullptr) return 0;
  unsigned long base = 10;
  const char* p = text;
  if (*p == '0') {
    if (p[1] == 'x' || p[1] == 'X') {
      base = 16;
      p += 2;
    } else {
      base = 8;
    }
  }
  unsigned long total = 0;
  for (;; ++p) {
    unsigned long digit;
    if (*p >= '0' && *p <= '9') digit = static_cast<unsigned long>(*p - '0');
    else if (base == 16 && *p >= 'a' && *p <= 'f') digit = static_cast<unsigned long>(*p - 'a' + 10);
    else if (base == 16 && *p >= 'A' && *p <= 'F') digit = static_cast<unsigned long>(*p - 'A' + 10);
    else break;
    if (digit >= base) break;
    total = total * base + digit;
  }
  return total;
}

char* xf86configStrdup(const char* text) {
  if (text == nullptr) return nullptr;
  return strdup(text);
}

namespace {

constexpr size_t kMaxPathLength = 4096;
constexpr size_t kMaxHostName = 32;
constexpr const char* kDefaultProjectRoot = "/usr/X11R6";
constexpr const char* kServerMajorVersion = "4";

constexpr const char* kDefaultSearchPath =
    "/etc/X11/%S,%P/etc/X11/%S,/etc/X11/%G,%P/etc/X11/%G,/etc/X11/%X-%M,/etc/X11/%X,/etc/%X,"
    "%P/etc/X11/%X.%H,%P/etc/X11/%X-%M,%P/etc/X11/%X,%P/lib/X11/%X.%H,%P/lib/X11/%X-%M,"
    "%P/lib/X11/%X";

// Looked up once per process and kept.
struct Environment {
  std::optional<std::string> host;
  std::optional<std::string> home;
  std::optional<std::string> xorgconfig;
  bool loaded = false;
};

Environment g_env;

Environment& Env() {
  Environment& env = g_env;
  if (!env.loaded) {
    env.loaded = true;
    char host[256] = {};
    if (gethostname(host, sizeof(host) - 1) == 0) {
      std::string name(host);
      if (name.size() > kMaxHostName) name.resize(kMaxHostName);
      env.host = name;
    }
    if (const char* home = std::getenv("HOME")) env.home = home;
    if (const char* config = std::getenv("XORGCONFIG")) env.xorgconfig = config;
  }
  return env;
}

}  // namespace

void xconf::ForgetEnvironment() { g_env = Environment{}; }

const char* const kConfToolSearchPath =
    "%A,%R,/etc/X11/%R,%P/etc/X11/%R,%E,%F,/etc/X11/%F,%P/etc/X11/%F,%D/%X,/etc/X11/%X-%M,"
    "/etc/X11/%X,/etc/%X,%P/etc/X11/%X.%H,%P/etc/X11/%X-%M,%P/etc/X11/%X,%P/lib/X11/%X.%H,"
    "%P/lib/X11/%X-%M,%P/lib/X11/%X";

int xf86pathIsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

int xf86pathIsSafe(const char* path) {
  if (path == nullptr) return 0;
  if (xf86pathIsAbsolute(path)) return 0;
  if (std::strcmp(path, "..") == 0) return 0;
  if (std::strncmp(path, "../", 3) == 0) return 0;
  size_t len = std::strlen(path);
  if (len >= 3 && std::strcmp(path + len - 3, "/..") == 0) return 0;
  if (std::strstr(path, "/../") != nullptr) return 0;
  return 1;
}

bool xconf::DoSubstitution(const char* templ, const char* cmdline, const char* projroot,
                           bool* cmdline_used, bool* env_used, const char* filename,
                           std::string* out) {
  *cmdline_used = false;
  *env_used = false;
  out->clear();
  if (projroot == nullptr || *projroot == '\0') projroot = kDefaultProjectRoot;
  const Environment& env = Env();
  // An empty XORGCONFIG names no file: it counts as unset, or "%F" would
  // make a directory of the template.
  const char* xorgconfig =
      env.xorgconfig && !env.xorgconfig->empty() ? env.xorgconfig->c_str() : nullptr;

  for (const char* p = templ; *p != '\0'; ++p) {
    if (*p != '%') {
      out->push_back(*p);
    } else {
      ++p;
      const char* insert = nullptr;
      switch (*p) {
        case 'A':
          if (!xf86pathIsAbsolute(cmdline)) return false;
          insert = cmdline;
          *cmdline_used = true;
          break;
        case 'R':
          if (cmdline == nullptr || xf86pathIsAbsolute(cmdline)) return false;
          insert = cmdline;
          *cmdline_used = true;
          break;
        case 'S':
          if (!xf86pathIsSafe(cmdline)) return false;
          insert = cmdline;
          *cmdline_used = true;
          break;
        case 'X':
          insert = filename;
          break;
        case 'H':
          insert = env.host ? env.host->c_str() : "";
          break;
        case 'E':
          if (!xf86pathIsAbsolute(xorgconfig)) return false;
          insert = xorgconfig;
          *env_used = true;
          break;
        case 'F':
          if (xorgconfig == nullptr || xf86pathIsAbsolute(xorgconfig)) return false;
          insert = xorgconfig;
          *env_used = true;
          break;
        case 'G':
          if (!xf86pathIsSafe(xorgconfig)) return false;
          insert = xorgconfig;
          *env_used = true;
          break;
        case 'D':
          if (!env.home || !xf86pathIsAbsolute(env.home->c_str())) return false;
          insert = env.home->c_str();
          break;
        case 'P':
          if (!xf86pathIsAbsolute(projroot)) return false;
          insert = projroot;
          break;
        case 'M':
          insert = kServerMajorVersion;
          break;
        case '%':
          insert = "%";
          break;
        default:
          ErrorF("invalid escape %%%c found in path template\n", *p);
          return false;
      }
      out->append(insert);
    }
    if (out->size() > kMaxPathLength) return false;
    if (*p == '\0') break;
  }
  return true;
}

namespace {

FILE* SearchPass(const char* templates, const char* cmdline, const char* projroot,
                 const char* filename, std::string* found) {
  std::string list(templates);
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string templ = list.substr(start, comma - start);
    start = comma + 1;
    bool cmdline_used = false;
    bool env_used = false;
    std::string path;
    if (templ.empty() || !xconf::DoSubstitution(templ.c_str(), cmdline, projroot,
                                                &cmdline_used, &env_used, filename, &path))
      continue;
    // A name given by the caller is only found through the templates that use it.
    if (cmdline != nullptr && !cmdline_used) continue;
    // Only a regular file can be a configuration: a directory, a device
    // or a pipe is passed over like a missing file. Opening does not wait
    // for a pipe's writer.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    const int flags = fcntl(fd, F_GETFL);
    FILE* file = nullptr;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flags != -1 &&
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0)
      file = fdopen(fd, "r");
    if (file == nullptr) {
      close(fd);
      continue;
    }
    *found = path;
    return file;
  }
  return nullptr;
}

std::string g_open_path;

}  // namespace

const char* xf86openConfigFile(const char* templates, const char* cmdline, const char* projroot) {
  if (templates == nullptr || *templates == '\0') templates = kDefaultSearchPath;
  xconf::ScannerClose();
  std::string found;
  FILE* file = SearchPass(templates, cmdline, projroot, "xorg.conf", &found);
  if (file == nullptr) file = SearchPass(templates, cmdline, projroot, "XF86Config", &found);
  if (file == nullptr) {
    xconf::ScannerReset(nullptr, nullptr, "");
    return nullptr;
  }
  g_open_path = found;
  xconf::ScannerReset(file, nullptr, g_open_path.c_str());
  return g_open_path.c_str();
}
