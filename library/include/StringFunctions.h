#pragma once
// Null-tolerant wide-string helpers. A null argument reads as the empty string; returned blocks
// belong to the caller (MemRelease). Case rules are the library's own table, never the locale.

#include "VelmarikApi.h"

VELMARIK_API unsigned int StrLen(const wchar_t* s);
// -1, 0 or 1 by unsigned code unit.
VELMARIK_API int StrComp(const wchar_t* a, const wchar_t* b);
// Difference of the first differing units within n units; 0 when n is 0.
VELMARIK_API int StrNComp(const wchar_t* a, const wchar_t* b, unsigned int n);
// Difference of the first units that differ after ToLower.
VELMARIK_API int StrIComp(const wchar_t* a, const wchar_t* b);
VELMARIK_API int StrNIComp(const wchar_t* a, const wchar_t* b, unsigned int n);
// Copy of s, or null for null.
VELMARIK_API wchar_t* StrDup(const wchar_t* s);
// `count` units of s (at most its length) after `before` zero units and followed by `after` zero
// units and a terminator. A null s gives an allocated empty string.
VELMARIK_API wchar_t* StrNDup(const wchar_t* s, unsigned int count, unsigned int before, unsigned int after);
// a followed by b; null when both are null.
VELMARIK_API wchar_t* StrCat(const wchar_t* a, const wchar_t* b);
VELMARIK_API wchar_t ToUpper(wchar_t c);
VELMARIK_API wchar_t ToLower(wchar_t c);
// Units of a double-NUL-terminated list before its closing NUL; 0 for null.
VELMARIK_API unsigned int MultiStrLen(const wchar_t* m);
