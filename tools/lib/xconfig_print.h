#pragma once

// Printing helpers shared by the section printers.

#include <cstdio>

namespace xconf {

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
