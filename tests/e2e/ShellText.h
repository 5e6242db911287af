#pragma once
// What the console writes, as the tests expect it. Texts are written here as wide strings with
// plain line feeds, the way they read; Bytes turns them into the bytes the program must write:
// every character narrowed to the byte of the same value and every line feed as CR LF.

#include <string>

std::string Bytes(const std::wstring& text);

extern const std::string kLineBreak;

// The start banner, written before anything else in every mode.
std::string Banner();

// What a batch run writes around its command's output: the banner, then the line break of the
// connections being closed.
std::string Batch(const std::wstring& output);

// The prompt without a connection followed by a script line as the script mode echoes it.
std::string Prompted(const std::wstring& line);

// The error banner written after a command that left `lastError` set.
std::string ErrorBanner(unsigned long lastError);

// The line written on the error stream for a word that names nothing.
std::string UnknownCommand(const std::wstring& word);

// Listings of the root and of its groups, as `help` and the dispatcher print them.
std::string RootListing();
std::string LockListing();
std::string GetListing();
std::string GetServiceListing();

// The usage text of `get service pid`, which `help` and a line without the name show.
std::string PidUsage();

// The command tree in the ASCII style, and in the style with OEM box-drawing characters.
std::string AsciiTree();
std::string ExtendedTree();
