#include "core/utils.h"

#include <math.h>

#include "core/os.h"

namespace {

char FoldLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char FoldUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsDelimiter(char c, const char* delimiters) {
  for (const char* d = delimiters; *d != '\0'; ++d) {
    if (*d == c) return true;
  }
  return false;
}

// Tokenizer worker; each public tokenizer keeps its own position.
char* Tokenize(char* text, const char* delimiters, char** saved) {
  char* p = text != nullptr ? text : *saved;
  if (p == nullptr) return nullptr;
  while (*p != '\0' && IsDelimiter(*p, delimiters)) ++p;
  if (*p == '\0') {
    *saved = nullptr;
    return nullptr;
  }
  char* token = p;
  while (*p != '\0' && !IsDelimiter(*p, delimiters)) ++p;
  if (*p != '\0') {
    *p = '\0';
    *saved = p + 1;
  } else {
    *saved = nullptr;
  }
  return token;
}

char* StringCopy(char* destination, const char* source) {
  char* out = destination;
  while ((*out++ = *source++) != '\0') {
  }
  return destination;
}

int FoldedCompare(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const unsigned char ca = static_cast<unsigned char>(FoldLower(*a));
    const unsigned char cb = static_cast<unsigned char>(FoldLower(*b));
    if (ca != cb || ca == 0) return ca - cb;
  }
}

char* gLocTokenPosition = nullptr;
char* gToolTokenPosition = nullptr;

uint16_t gCrcTable[256];
bool gCrcTableReady = false;

}  // namespace

FloatingPointState::~FloatingPointState() {
  if (saveArea != nullptr) memFree(saveArea);
}

size_t LocStrLen(const char* text) {
  size_t length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

char* LocStrCpy(char* destination, const char* source) { return StringCopy(destination, source); }
char* LocStrCpyW(char* destination, const char* source) { return StringCopy(destination, source); }

char* LocStrCat(char* destination, const char* source) {
  StringCopy(destination + LocStrLen(destination), source);
  return destination;
}

int LocStriCmp(const char* a, const char* b) { return FoldedCompare(a, b); }

char* LocStrTok(char* text, const char* delimiters) {
  return Tokenize(text, delimiters, &gLocTokenPosition);
}

int LocMemCmp(const void* a, const void* b, uint32_t count) {
  const unsigned char* pa = static_cast<const unsigned char*>(a);
  const unsigned char* pb = static_cast<const unsigned char*>(b);
  for (uint32_t i = 0; i < count; ++i) {
    if (pa[i] != pb[i]) return pa[i] - pb[i];
  }
  return 0;
}

char* TOOL_atot(char* destination, const char* source) { return StringCopy(destination, source); }
char* TOOL_wcscpy(char* destination, const char* source) { return StringCopy(destination, source); }
int TOOL_stricmp(const char* a, const char* b) { return FoldedCompare(a, b); }

char* TOOL_strtok(char* text, const char* delimiters) {
  return Tokenize(text, delimiters, &gToolTokenPosition);
}

void* TOOL_memcpy(void* destination, const void* source, uint32_t count) {
  return __builtin_memcpy(destination, source, count);
}

void* TOOL_memset(void* destination, int value, uint32_t count) {
  return __builtin_memset(destination, value, count);
}

char* TOOL_wcscat(char* destination, const char* source) {
  if (destination == nullptr || source == nullptr) return destination;
  return LocStrCat(destination, source);
}

int TOOL_wcscmp(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return -1;
  for (;; ++a, ++b) {
    const unsigned char ca = static_cast<unsigned char>(*a);
    const unsigned char cb = static_cast<unsigned char>(*b);
    if (ca != cb || ca == 0) return ca - cb;
  }
}

int TOOL_strcmp(const char* a, const char* b) {
  const int difference = TOOL_wcscmp(a, b);
  if (a == nullptr || b == nullptr) return -1;
  return (difference > 0) - (difference < 0);
}

char* TOOL_wcschr(const char* text, int character) {
  const char wanted = static_cast<char>(character);
  for (;; ++text) {
    if (*text == wanted) return const_cast<char*>(text);
    if (*text == '\0') return nullptr;
  }
}

size_t TOOL_wcslen(const char* text) { return text == nullptr ? 0 : LocStrLen(text); }
size_t TOOL_strlen(const char* text) { return text == nullptr ? 0 : LocStrLen(text); }

char* TOOL_strcpy(char* destination, const char* source) {
  if (destination == nullptr || source == nullptr) return destination;
  return StringCopy(destination, source);
}

char* TOOL_strupr(char* text) {
  for (char* p = text; *p != '\0'; ++p) *p = FoldUpper(*p);
  return text;
}

char* TOOL_strlwr(char* text) {
  for (char* p = text; *p != '\0'; ++p) *p = FoldLower(*p);
  return text;
}

char* TOOL_ltow(int32_t value, char* out, int radix) {
  if (radix < 2 || radix > 36) {
    out[0] = '\0';
    return out;
  }
  char digits[33];
  int count = 0;
  // Work on the magnitude as unsigned so that INT32_MIN converts too.
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    const uint32_t digit = magnitude % static_cast<uint32_t>(radix);
    digits[count++] = static_cast<char>(digit < 10 ? '0' + digit : 'A' + digit - 10);
    magnitude /= static_cast<uint32_t>(radix);
  } while (magnitude != 0);
  char* p = out;
  if (value < 0) *p++ = '-';
  while (count > 0) *p++ = digits[--count];
  *p = '\0';
  return out;
}

int32_t TOOL_wtol(const char* text) {
  uint32_t result = 0;
  bool negative = false;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == ' ') continue;
    if (*p == '-') {
      negative = true;
    } else if (*p >= '0' && *p <= '9') {
      result = result * 10 + static_cast<uint32_t>(*p - '0');
    } else {
      return 0;
    }
  }
  return static_cast<int32_t>(negative ? 0u - result : result);
}

uint64_t TOOL_AlignAddress(uint64_t value, uint64_t alignment) {
  return (value + alignment - 1) & ~(alignment - 1);
}

bool TOOL_RectIsLargerOrEgual(const LRECT* a, const LRECT* b) {
  if (a == nullptr || b == nullptr) return false;
  return static_cast<int64_t>(a->right) - a->left >= static_cast<int64_t>(b->right) - b->left &&
         static_cast<int64_t>(a->bottom) - a->top >= static_cast<int64_t>(b->bottom) - b->top;
}

bool TOOL_RectIsEgual(const LRECT* a, const LRECT* b) {
  if (a == nullptr || b == nullptr) return false;
  return a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}

void Init_Crc_Table(uint16_t* table) {
  // v(0) = 0xC0C1, v(k+1) = (v(k) << 1) ^ 0x4003: the contribution of bit k.
  uint16_t bitValue[8];
  bitValue[0] = 0xC0C1;
  for (int k = 1; k < 8; ++k) {
    bitValue[k] = static_cast<uint16_t>((bitValue[k - 1] << 1) ^ 0x4003);
  }
  for (int i = 0; i < 256; ++i) {
    uint16_t entry = 0;
    for (int k = 0; k < 8; ++k) {
      if (i & (1 << k)) entry ^= bitValue[k];
    }
    table[i] = entry;
  }
}

uint16_t CalculateCRC(const void* data, uint32_t length) {
  if (!gCrcTableReady) {
    Init_Crc_Table(gCrcTable);
    gCrcTableReady = true;
  }
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  uint16_t crc = 0;
  for (uint32_t i = 0; i < length; ++i) {
    crc = static_cast<uint16_t>((crc >> 8) ^ gCrcTable[(crc ^ bytes[i]) & 0xFF]);
  }
  return crc;
}

bool MapEventUnmapProc() { return true; }

double LocSqrt(double value) {
  OsEnterFPUMode();
  const double result = sqrt(value);
  OsExitFPUMode();
  return result;
}

double LocFabs(double value) { return fabs(value); }
double LocCos(double value) { return cos(value); }
double LocSin(double value) { return sin(value); }

double LocPow(double base, double exponent) {
  // Small whole exponents keep the exact product of repeated multiplication.
  if (exponent >= 0 && exponent <= 64 && exponent == static_cast<double>(static_cast<int>(exponent))) {
    double result = 1.0;
    for (int i = 0; i < static_cast<int>(exponent); ++i) result *= base;
    return result;
  }
  return pow(base, exponent);
}

float LocFloor(float value, int32_t* integer) {
  const float result = floorf(value);
  if (integer != nullptr) {
    // Saturate what an int32_t cannot hold; NaN gives 0.
    if (result >= 2147483648.0f) {
      *integer = INT32_MAX;
    } else if (result < -2147483648.0f) {
      *integer = INT32_MIN;
    } else if (result != result) {
      *integer = 0;
    } else {
      *integer = static_cast<int32_t>(result);
    }
  }
  return result;
}

double LocExp(double value) { return exp(value); }
