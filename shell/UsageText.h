#pragma once
// Usage texts: an empty line, the given lines, and an empty line, each flushed.

#include <initializer_list>

void PrintUsageText(std::initializer_list<const wchar_t*> lines);
// The lines alone, without the surrounding empty lines.
void PrintLines(std::initializer_list<const wchar_t*> lines);
