#pragma once

// Printing the tree: the section printers' helpers and the formats of
// numbers that must read back as written.

#include <cstdio>
#include <string>

#include "tools/lib/File.h"

struct XConfFile;

namespace xconf {

// The text of a whole file, in the writer's section order, without touching
// the disk: kUnquotable when a name or comment would not read back as
// written.
enum class FormatResult { kOk, kNoMemory, kUnquotable };
FormatResult FormatConfigFile(XConfFile* file, std::string* text);

// Writes the file as xf86writeConfigFile does (with the rights of the user
// who ran the program), putting the text on disk with `put` and printing
// nothing of a failure.
using PutText = SafeWrite (*)(const char* path, const std::string& text);
int WriteConfigFileWith(const char* path, XConfFile* file, PutText put);
// After a failed write: why it failed; after one that went through: what
// the user should know of it (no backup could be made). Empty otherwise.
const std::string& LastWriteFailure();
const std::string& LastWriteNotice();
// The errno of the last failed write; 0 when the failure has none (a name
// that cannot be written, for instance).
int LastWriteError();

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

// Checks a string before it goes into the written file: text that the
// reader would read back differently marks the write as failed.
const char* Quoted(const char* text);

// "Section \"name\"" with the record's comment.
void PrintSectionHead(FILE* stream, const char* name, const char* comment);
// "\tSubSection \"name\"" with the subsection's comment.
void PrintSubSectionHead(FILE* stream, const char* name, const char* comment);
void PrintHeadComment(FILE* stream, const char* comment);
// Writes a comment as kept; a comment that would not read back as comment
// lines marks the write as failed.
void PrintComment(FILE* stream, const char* comment);
// Ends a printed line with its comment, or with a newline when it has none.
void PrintTrailingComment(FILE* stream, const char* comment);
void CheckComment(const char* comment);

}  // namespace xconf
