#include <cmath>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/lib/xconfig_internal.h"
#include "tools/lib/xconfig_scanner.h"
#include "tools/lib/xconfig_print.h"

namespace xconf {

const char* const kMsgQuotedString = "The %s keyword requires a quoted string to follow it.";
const char* const kMsgNumber = "The %s keyword requires a number to follow it.";
const char* const kMsgPositiveInt = "The %s keyword requires a positive integer to follow it.";
const char* const kMsgMultipleLines = "Multiple \"%s\" lines.";
const char* const kMsgUnexpectedEof = "Unexpected EOF. Missing EndSection keyword?";
const char* const kMsgInvalidKeyword = "\"%s\" is not a valid keyword in this section.";
const char* const kMsgNoIdentifier = "This section must have an Identifier line.";

void Fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char message[1024];
  std::vsnprintf(message, sizeof(message), format, args);
  va_end(args);
  xf86parseError("%s", message);
  throw ParseAbort{};
}

void FailToken(int token) {
  if (token == kTokEof) Fail("%s", kMsgUnexpectedEof);
  Fail(kMsgInvalidKeyword, xf86tokenString());
}

char* ExpectString(char** comment, const char* keyword) {
  if (xf86getSubToken(comment) != kTokString) Fail(kMsgQuotedString, keyword);
  return xf86takeString();
}

int ExpectInt(char** comment, const char* keyword) {
  if (xf86getSubToken(comment) != kTokNumber) Fail(kMsgNumber, keyword);
  return xf86tokenValue().num;
}

double ExpectReal(char** comment, const char* keyword) {
  if (xf86getSubToken(comment) != kTokNumber) Fail(kMsgNumber, keyword);
  return xf86tokenValue().realnum;
}

void SetString(char** field, char* value) {
  std::free(*field);
  *field = value;
}

void SetIdentifier(char** field, char** comment) {
  char* name = ExpectString(comment, "Identifier");
  if (*field != nullptr) {
    std::free(name);
    Fail(kMsgMultipleLines, "Identifier");
  }
  *field = name;
}

int MHzToKHz(double mhz) {
  double khz = mhz * 1000.0 + 0.5;
  if (!(khz < static_cast<double>(INT_MAX))) return INT_MAX;
  if (!(khz > static_cast<double>(INT_MIN))) return INT_MIN;
  return static_cast<int>(khz);
}

void PrintSectionHead(FILE* stream, const char* name, const char* comment) {
  std::fprintf(stream, "Section \"%s\"", name);
  PrintHeadComment(stream, comment);
}

void PrintSubSectionHead(FILE* stream, const char* name, const char* comment) {
  std::fprintf(stream, "\tSubSection \"%s\"", Quoted(name));
  PrintHeadComment(stream, comment);
}

void PrintHeadComment(FILE* stream, const char* comment) {
  // A comment that stood on the Section line stays there; the others follow
  // on their own lines.
  if (comment == nullptr || comment[0] == '\0') {
    std::fputc('\n', stream);
    return;
  }
  if (comment[0] != '\n') {
    const char* p = comment;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '#') {
      if (p == comment) std::fputc(' ', stream);
    } else {
      std::fputc('\n', stream);
    }
  }
  PrintComment(stream, comment);
}

void PrintComment(FILE* stream, const char* comment) {
  if (comment == nullptr) return;
  CheckComment(comment);
  std::fputs(comment, stream);
}

void PrintTrailingComment(FILE* stream, const char* comment) {
  if (comment == nullptr || comment[0] == '\0') {
    std::fputc('\n', stream);
    return;
  }
  const char* p = comment;
  while (*p == ' ' || *p == '\t') ++p;
  if (*p != '#' && *p != '\n') std::fputc('\n', stream);
  PrintComment(stream, comment);
  size_t len = std::strlen(comment);
  if (comment[len - 1] != '\n') std::fputc('\n', stream);
}

}  // namespace xconf
