#pragma once
// Splitting a typed line into words.

#include <string>
#include <vector>

// Splits `line` into words separated by any character of `separators`. In a word, double quotes
// protect separators and are removed, and a backslash before a quote makes it literal; from the
// first character of `rawAfter` met outside quotes on, the rest of the word is kept as typed
// (quotes still protect separators). Empty words are dropped.
// `*words` receives one block (release it with MemRelease) holding `*count` + 1 word pointers, the
// last one null, followed by the words' text. Always returns 1.
int SplitCommandLine(const wchar_t* separators, const wchar_t* rawAfter, const wchar_t* line, unsigned long* count,
                     wchar_t*** words);
// The words of a typed line as the console's loop splits it: spaces and tabs separate, and "="
// keeps the rest of a word as typed.
std::vector<std::wstring> CommandLineWords(const std::wstring& line);
