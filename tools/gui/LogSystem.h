#pragma once
#include <string>
#include <vector>

void Trace(const char* text);
void PrintCommand(const std::vector<std::string>& argv);
void ShowErrorDialog(const char* text);
// To the standard error stream.
void PrintError(const char* text);
