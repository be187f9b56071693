#include "tools/gui/LogSystem.h"

#include <cstdio>

void Trace(const char*) {}
void PrintCommand(const std::vector<std::string>&) {}
void ShowErrorDialog(const char*) {}
void PrintError(const char* text) { std::fputs(text, stderr); }
