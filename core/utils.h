// Environment-free helpers used by the core in place of the standard
// library, so that the same source builds in the kernel module. Strings are
// 8-bit and null-terminated; the w variants work on the same 8-bit strings.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct LRECT {
  int32_t left;
  int32_t top;
  int32_t right;   // exclusive
  int32_t bottom;  // exclusive
};
static_assert(sizeof(LRECT) == 16);

struct LPOINT {
  int32_t x;
  int32_t y;
};

struct LSIZE {
  int32_t width;
  int32_t height;
};

// Holds a floating-point save area; the destructor frees it.
class FloatingPointState {
 public:
  FloatingPointState() = default;
  virtual ~FloatingPointState();
  FloatingPointState(const FloatingPointState&) = delete;
  FloatingPointState& operator=(const FloatingPointState&) = delete;

  void* saveArea = nullptr;
  uint32_t size = 0;
};

// ---- Loc family -------------------------------------------------------------
size_t LocStrLen(const char* text);
char* LocStrCpy(char* destination, const char* source);
char* LocStrCpyW(char* destination, const char* source);
char* LocStrCat(char* destination, const char* source);
// ASCII A-Z fold to lower case; the difference of the first differing folded
// bytes, 0 when equal.
int LocStriCmp(const char* a, const char* b);
// Tokenizer with a set of delimiter bytes; a null text continues after the
// previous token.
char* LocStrTok(char* text, const char* delimiters);
// First differing byte of a minus that of b, as unsigned bytes; 0 when equal.
int LocMemCmp(const void* a, const void* b, uint32_t count);

// ---- TOOL family --------------------------------------------------------------
char* TOOL_atot(char* destination, const char* source);
char* TOOL_wcscpy(char* destination, const char* source);
int TOOL_stricmp(const char* a, const char* b);
char* TOOL_strtok(char* text, const char* delimiters);
void* TOOL_memcpy(void* destination, const void* source, uint32_t count);
void* TOOL_memset(void* destination, int value, uint32_t count);
// Nothing when either argument is null.
char* TOOL_wcscat(char* destination, const char* source);
// -1 when either argument is null.
int TOOL_wcscmp(const char* a, const char* b);
// -1, 0 or 1.
int TOOL_strcmp(const char* a, const char* b);
char* TOOL_wcschr(const char* text, int character);
// 0 for a null string.
size_t TOOL_wcslen(const char* text);
size_t TOOL_strlen(const char* text);
// Returns destination unchanged when either argument is null.
char* TOOL_strcpy(char* destination, const char* source);
char* TOOL_strupr(char* text);
char* TOOL_strlwr(char* text);
// Signed value to text in the radix (2..36): digits 0-9 then capital letters.
char* TOOL_ltow(int32_t value, char* out, int radix);
// Spaces are skipped, a '-' anywhere makes the result negative, decimal
// digits accumulate; any other character gives 0.
int32_t TOOL_wtol(const char* text);
// (value + alignment - 1) rounded down to the alignment, a power of two.
uint64_t TOOL_AlignAddress(uint64_t value, uint64_t alignment);
bool TOOL_RectIsLargerOrEgual(const LRECT* a, const LRECT* b);
bool TOOL_RectIsEgual(const LRECT* a, const LRECT* b);

// ---- CRC-16 (reflected polynomial 0xA001, initial value 0, no final XOR) -----
void Init_Crc_Table(uint16_t* table);
uint16_t CalculateCRC(const void* data, uint32_t length);

bool MapEventUnmapProc();

// ---- Math ----------------------------------------------------------------------
double LocSqrt(double value);
double LocFabs(double value);
double LocCos(double value);
double LocSin(double value);
// base raised to exponent; whole exponents >= 0 multiply exactly as
// repeated multiplication does.
double LocPow(double base, double exponent);
// The largest whole number not above value, as a float; *integer receives it
// as an integer when given.
float LocFloor(float value, int32_t* integer = nullptr);
double LocExp(double value);
