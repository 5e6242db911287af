#pragma once
// The console window: title, banner and clearing.

#include <windows.h>

#include "SimpleString.h"

extern const wchar_t ProductString[];

// Sets the window title to the product string (empty text), or to a base, " - " and the text;
// the base is the product string, or the current title when `append` is 1. Never changes the
// thread's last-error value: a missing console is no failure of the command that asked.
void UpdateConsoleTitle(const SimpleString& text, int append);
void UpdateConsoleTitle(const wchar_t* text, int append);
void PrintBanner();

// `cls`
int ClearScreen(unsigned long argc, wchar_t** argv);
void ClearScreenHelp();
