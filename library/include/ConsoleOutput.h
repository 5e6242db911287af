#pragma once
// Text meant for the console window itself. When standard output is a console it is written
// there directly; otherwise it goes to std::wcout, in order with the rest of the output, so that
// redirected output loses nothing. Neither changes the thread's last-error value.

#include "VelmarikApi.h"

VELMARIK_API void ConsoleWrite(const wchar_t* text);
// 8-bit text (in the console's code page) for the console.
VELMARIK_API void ConsoleWriteBytes(const char* text);
// printf-style (%s takes a wide string).
VELMARIK_API void ConsolePrintf(const wchar_t* format, ...);
