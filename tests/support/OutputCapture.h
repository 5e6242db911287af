#pragma once
// Catches what the code writes to std::wcout and std::wcerr for as long as it lives.

#include <sstream>
#include <string>

class OutputCapture {
public:
    OutputCapture();
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    std::wstring Out() const { return m_out.str(); }
    std::wstring Err() const { return m_err.str(); }

private:
    std::wstringbuf m_out;
    std::wstringbuf m_err;
    std::wstreambuf* m_previousOut;
    std::wstreambuf* m_previousErr;
};
