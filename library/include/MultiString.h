#pragma once
// MultiString: an owned list of non-empty UTF-16 strings laid out as a registry multi-string
// value (each element NUL-terminated, the whole closed by one more NUL). The block is always
// exactly the size of its content; a null list and an empty block both hold no element.

#include <ostream>

#include "SimpleString.h"
#include "VelmarikApi.h"

class VELMARIK_API MultiString {
public:
    MultiString();
    // With isList 0, p is one string (an empty p gives an empty list); otherwise p is itself a
    // double-NUL-terminated list. Null gives a null list.
    MultiString(const wchar_t* p, int isList);
    MultiString(const SimpleString& s);
    MultiString(const MultiString& other);
    // The non-empty entries of the array, in order.
    MultiString(const wchar_t* const* strings, unsigned int count);
    MultiString(const SimpleString* strings, unsigned int count);
    // Every element of every list of the array, in order.
    MultiString(const MultiString* lists, unsigned int count);
    ~MultiString();

    // Replaces the content by a zero-filled block of `bytes` bytes (an empty list to be filled).
    void Alloc(unsigned int bytes);

    operator const wchar_t*() const { return m_mszList; }
    operator wchar_t*() { return m_mszList; }

    MultiString& operator=(const wchar_t* s);
    MultiString& operator=(const SimpleString& s);
    MultiString& operator=(const MultiString& other);
    MultiString& operator+=(const wchar_t* s);
    MultiString& operator+=(const SimpleString& s);
    MultiString& operator+=(const MultiString& other);

    // Inserts text at element `position` (a position past the end appends), or at the end when
    // `append` is set. With `noDuplicate`, an insertion of a single string is skipped when the
    // element at the insertion point already equals it without regard to case.
    MultiString& Add(const wchar_t* text, int append, unsigned long position, int isList, int noDuplicate);
    MultiString& Add(const SimpleString& text, int append, unsigned long position, int noDuplicate);
    MultiString& Add(const MultiString& list, int append, unsigned long position);

    MultiString& Delete(unsigned long position);
    // Removes every element equal to text without regard to case.
    MultiString& Delete(const wchar_t* text);
    MultiString& Delete(const SimpleString& text);

    unsigned int Length() const;
    unsigned int NumberOfElements() const;

private:
    void Adopt(wchar_t* block);
    // Moves the (already compacted) content into a block of its exact size.
    void ShrinkToContent();

    wchar_t* m_mszList;
};

VELMARIK_API MultiString operator+(const MultiString& a, const MultiString& b);
VELMARIK_API MultiString operator+(const MultiString& a, const SimpleString& b);
VELMARIK_API MultiString operator+(const MultiString& a, const wchar_t* b);
VELMARIK_API MultiString operator+(const SimpleString& a, const MultiString& b);
VELMARIK_API MultiString operator+(const wchar_t* a, const MultiString& b);

// Each element on a line of its own (flushed); a null list writes "(null)".
VELMARIK_API std::wostream& operator<<(std::wostream& out, const MultiString& m);
