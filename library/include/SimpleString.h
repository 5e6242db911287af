#pragma once
// SimpleString: an owned, possibly null, NUL-terminated UTF-16 string. Null and empty behave alike
// everywhere but in printing ("(null)" against nothing). Every change builds the new text first
// and releases the old one after, so a failed allocation leaves the text as it was.

#include <cstdarg>
#include <ostream>

#include "VelmarikApi.h"

class VELMARIK_API SimpleString {
public:
    SimpleString();
    SimpleString(const wchar_t* s);
    SimpleString(const SimpleString& other);
    SimpleString(wchar_t c);
    ~SimpleString();

    // Replaces the text by a zero-filled buffer of `bytes` bytes for the caller to fill.
    void Alloc(unsigned int bytes);

    operator const wchar_t*() const { return m_szText; }
    operator wchar_t*() { return m_szText; }
    int operator!() const;

    SimpleString& operator=(const wchar_t* s);
    SimpleString& operator=(const SimpleString& other);
    SimpleString& operator=(wchar_t c);
    SimpleString& operator+=(const wchar_t* s);
    SimpleString& operator+=(const SimpleString& other);
    SimpleString& operator+=(wchar_t c);

    unsigned int Length() const;
    void ToUpper();
    void ToLower();

    int Compare(const wchar_t* s) const;
    int Compare(const wchar_t* s, unsigned int n) const;
    int CompareNoCase(const wchar_t* s) const;
    int CompareNoCase(const wchar_t* s, unsigned int n) const;

    // Replace the text with the formatted result (%s takes a wide string); a rejected format
    // leaves the text unchanged.
    void Format(const wchar_t* format, ...);
    void FormatV(const wchar_t* format, va_list args);
    static SimpleString Form(const wchar_t* format, ...);
    static SimpleString FormV(const wchar_t* format, va_list args);

private:
    // Takes ownership of a new block (or null) and releases the old text.
    void Adopt(wchar_t* block);

    wchar_t* m_szText;
};

VELMARIK_API int operator==(const SimpleString& a, const SimpleString& b);
VELMARIK_API int operator==(const SimpleString& a, const wchar_t* b);
VELMARIK_API int operator==(const wchar_t* a, const SimpleString& b);
VELMARIK_API int operator!=(const SimpleString& a, const SimpleString& b);
VELMARIK_API int operator!=(const SimpleString& a, const wchar_t* b);
VELMARIK_API int operator!=(const wchar_t* a, const SimpleString& b);
VELMARIK_API int operator<(const SimpleString& a, const SimpleString& b);
VELMARIK_API int operator<(const SimpleString& a, const wchar_t* b);
VELMARIK_API int operator<(const wchar_t* a, const SimpleString& b);
VELMARIK_API int operator>(const SimpleString& a, const SimpleString& b);
VELMARIK_API int operator>(const SimpleString& a, const wchar_t* b);
VELMARIK_API int operator>(const wchar_t* a, const SimpleString& b);
VELMARIK_API int operator<=(const SimpleString& a, const SimpleString& b);
VELMARIK_API int operator<=(const SimpleString& a, const wchar_t* b);
VELMARIK_API int operator<=(const wchar_t* a, const SimpleString& b);
VELMARIK_API int operator>=(const SimpleString& a, const SimpleString& b);
VELMARIK_API int operator>=(const SimpleString& a, const wchar_t* b);
VELMARIK_API int operator>=(const wchar_t* a, const SimpleString& b);

VELMARIK_API SimpleString operator+(const SimpleString& a, const SimpleString& b);
VELMARIK_API SimpleString operator+(const SimpleString& a, const wchar_t* b);
VELMARIK_API SimpleString operator+(const wchar_t* a, const SimpleString& b);
VELMARIK_API SimpleString operator+(const SimpleString& a, wchar_t c);
VELMARIK_API SimpleString operator+(wchar_t c, const SimpleString& b);

// Writes the text with the stream's own width and fill; a null string writes "(null)".
VELMARIK_API std::wostream& operator<<(std::wostream& out, const SimpleString& s);
