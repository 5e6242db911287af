#include "SimpleString.h"

#include <algorithm>
#include <cstdint>
#include <stdio.h>

#include "Memory.h"
#include "StringFunctions.h"
#include "UnitBlock.h"

namespace {

// One character as a NUL-terminated string (empty for NUL), to go through the string functions.
struct CharacterText {
    explicit CharacterText(wchar_t c) : units{c, L'\0'} {}
    wchar_t units[2];
};

// Calls msvcrt's own functions by their underscore names, which MinGW's __USE_MINGW_ANSI_STDIO
// leaves alone: with them %s takes a wide string, as every caller of the library expects.
// Returns null when the format is rejected.
wchar_t* FormattedText(const wchar_t* format, va_list args) {
    va_list measuring;
    va_copy(measuring, args);
    const int length = _vscwprintf(format, measuring);
    va_end(measuring);
    if (length < 0) {
        return nullptr;
    }
    wchar_t* text = AllocateUnits(std::uint64_t(length) + 1);
    _vsnwprintf(text, static_cast<std::size_t>(length) + 1, format, args);
    return text;
}

template <typename Map> void MapInPlace(wchar_t* text, Map map) {
    for (wchar_t* unit = text; unit && *unit; ++unit) {
        *unit = map(*unit);
    }
}

} // namespace

SimpleString::SimpleString() : m_szText(nullptr) {}

SimpleString::SimpleString(const wchar_t* s) : m_szText(StrDup(s)) {}

SimpleString::SimpleString(const SimpleString& other) : m_szText(StrDup(other.m_szText)) {}

SimpleString::SimpleString(wchar_t c) : m_szText(StrDup(CharacterText(c).units)) {}

SimpleString::~SimpleString() {
    MemRelease(m_szText);
}

void SimpleString::Adopt(wchar_t* block) {
    wchar_t* old = m_szText;
    m_szText = block;
    MemRelease(old);
}

void SimpleString::Alloc(unsigned int bytes) {
    // Fewer than one unit would not even hold the terminator that makes it read as empty.
    const unsigned int size = std::max<unsigned int>(bytes, sizeof(wchar_t));
    Adopt(static_cast<wchar_t*>(MemAlloc(size, 1, 0)));
}

int SimpleString::operator!() const {
    return StrLen(m_szText) == 0;
}

SimpleString& SimpleString::operator=(const wchar_t* s) {
    if (s != m_szText) {
        Adopt(StrDup(s));
    }
    return *this;
}

SimpleString& SimpleString::operator=(const SimpleString& other) {
    return *this = other.m_szText;
}

SimpleString& SimpleString::operator=(wchar_t c) {
    Adopt(StrDup(CharacterText(c).units));
    return *this;
}

SimpleString& SimpleString::operator+=(const wchar_t* s) {
    Adopt(StrCat(m_szText, s));
    return *this;
}

SimpleString& SimpleString::operator+=(const SimpleString& other) {
    return *this += other.m_szText;
}

SimpleString& SimpleString::operator+=(wchar_t c) {
    // The character's text is never null, so even NUL makes a null string an allocated empty one.
    Adopt(StrCat(m_szText, CharacterText(c).units));
    return *this;
}

unsigned int SimpleString::Length() const {
    return StrLen(m_szText);
}

void SimpleString::ToUpper() {
    MapInPlace(m_szText, ::ToUpper);
}

void SimpleString::ToLower() {
    MapInPlace(m_szText, ::ToLower);
}

int SimpleString::Compare(const wchar_t* s) const {
    return StrComp(m_szText, s);
}

int SimpleString::Compare(const wchar_t* s, unsigned int n) const {
    return StrNComp(m_szText, s, n);
}

int SimpleString::CompareNoCase(const wchar_t* s) const {
    return StrIComp(m_szText, s);
}

int SimpleString::CompareNoCase(const wchar_t* s, unsigned int n) const {
    return StrNIComp(m_szText, s, n);
}

void SimpleString::Format(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void SimpleString::FormatV(const wchar_t* format, va_list args) {
    if (!format) {
        return;
    }
    if (wchar_t* text = FormattedText(format, args)) {
        Adopt(text);
    }
}

SimpleString SimpleString::Form(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    SimpleString result = FormV(format, args);
    va_end(args);
    return result;
}

SimpleString SimpleString::FormV(const wchar_t* format, va_list args) {
    SimpleString result;
    result.FormatV(format, args);
    return result;
}

int operator==(const SimpleString& a, const SimpleString& b) {
    return StrComp(a, b) == 0;
}

int operator==(const SimpleString& a, const wchar_t* b) {
    return StrComp(a, b) == 0;
}

int operator==(const wchar_t* a, const SimpleString& b) {
    return StrComp(a, b) == 0;
}

int operator!=(const SimpleString& a, const SimpleString& b) {
    return StrComp(a, b) != 0;
}

int operator!=(const SimpleString& a, const wchar_t* b) {
    return StrComp(a, b) != 0;
}

int operator!=(const wchar_t* a, const SimpleString& b) {
    return StrComp(a, b) != 0;
}

int operator<(const SimpleString& a, const SimpleString& b) {
    return StrComp(a, b) < 0;
}

int operator<(const SimpleString& a, const wchar_t* b) {
    return StrComp(a, b) < 0;
}

int operator<(const wchar_t* a, const SimpleString& b) {
    return StrComp(a, b) < 0;
}

int operator>(const SimpleString& a, const SimpleString& b) {
    return StrComp(a, b) > 0;
}

int operator>(const SimpleString& a, const wchar_t* b) {
    return StrComp(a, b) > 0;
}

int operator>(const wchar_t* a, const SimpleString& b) {
    return StrComp(a, b) > 0;
}

int operator<=(const SimpleString& a, const SimpleString& b) {
    return StrComp(a, b) <= 0;
}

int operator<=(const SimpleString& a, const wchar_t* b) {
    return StrComp(a, b) <= 0;
}

int operator<=(const wchar_t* a, const SimpleString& b) {
    return StrComp(a, b) <= 0;
}

int operator>=(const SimpleString& a, const SimpleString& b) {
    return StrComp(a, b) >= 0;
}

int operator>=(const SimpleString& a, const wchar_t* b) {
    return StrComp(a, b) >= 0;
}

int operator>=(const wchar_t* a, const SimpleString& b) {
    return StrComp(a, b) >= 0;
}

SimpleString operator+(const SimpleString& a, const SimpleString& b) {
    SimpleString sum(a);
    sum += b;
    return sum;
}

SimpleString operator+(const SimpleString& a, const wchar_t* b) {
    SimpleString sum(a);
    sum += b;
    return sum;
}

SimpleString operator+(const wchar_t* a, const SimpleString& b) {
    SimpleString sum(a);
    sum += b;
    return sum;
}

SimpleString operator+(const SimpleString& a, wchar_t c) {
    SimpleString sum(a);
    sum += c;
    return sum;
}

SimpleString operator+(wchar_t c, const SimpleString& b) {
    SimpleString sum(c);
    sum += b;
    return sum;
}

std::wostream& operator<<(std::wostream& out, const SimpleString& s) {
    const wchar_t* text = s;
    return out << (text ? text : L"(null)");
}
