#pragma once
// The library's one exception: where a failure was detected and the platform's error code.
// Thrown by value when a connection to a service control manager cannot be opened.

#include <ostream>

#include "SimpleString.h"
#include "VelmarikApi.h"

// The platform's text for `code` in the user's language (a system message, its inserts left as
// they are), up to its first line end; empty when the platform has none. Leaves the last-error
// value as it found it.
VELMARIK_API SimpleString SystemMessageLine(unsigned long code);

class VELMARIK_API CQuorvanException {
public:
    // Each constructor also sets the thread's last-error value to `code`. The C++ runtime may
    // change that value while it unwinds, so a handler that reports the failure through the
    // last-error value sets it again from m_nCode.
    CQuorvanException(const wchar_t* file, const wchar_t* function, int line, int code);
    CQuorvanException(const SimpleString& file, const SimpleString& function, int line, int code);
    CQuorvanException(const CQuorvanException& other);
    ~CQuorvanException();
    CQuorvanException& operator=(const CQuorvanException&) = delete;

    // Writes the report (code, the platform's description, file, function, line) to `out`, and
    // the description straight to the console. Leaves the last-error value as it found it.
    virtual void Display(std::wostream& out) const;

    SimpleString m_strFile;
    SimpleString m_strFunction;
    int m_nLine;
    int m_nCode;
};
