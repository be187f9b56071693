#pragma once

// Internal glue between the scanner, the file search and the writer.

#include <cstdio>
#include <string>

namespace xconf {

void ScannerReset(FILE* file, const char* const* builtin, const char* path);
void ScannerClose();

// Expands one path template; false when the expansion fails.
bool DoSubstitution(const char* templ, const char* cmdline, const char* projroot,
                    bool* cmdline_used, bool* env_used, const char* filename, std::string* out);

// The host name, HOME and XORGCONFIG are looked up once per process; this
// makes the next search look them up again.
void ForgetEnvironment();

// Formats a frequency kept in kHz as MHz with the decimals it needs, at least
// one ("65.0", "148.25"), whatever the process locale says.
std::string FormatKHzAsMHz(int khz);
// The same without a forced decimal ("220", "135.5").
std::string FormatKHzAsMHzShort(int khz);
// Shortest decimal text that reads back as the same float, without exponent;
// with force_decimal a whole number gets ".0".
std::string FormatFloat(float value, bool force_decimal);

// Writer state: set when a printed string would not read back as written.
void ResetQuoteCheck();
bool QuoteCheckFailed();

}  // namespace xconf
