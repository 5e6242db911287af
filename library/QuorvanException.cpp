#include "QuorvanException.h"

#include <cwchar>

#include "ConsoleOutput.h"
#include "HandleGuard.h"
#include "Memory.h"
#include "Platform.h"

CQuorvanException::CQuorvanException(const wchar_t* file, const wchar_t* function, int line, int code)
    : m_strFile(file), m_strFunction(function), m_nLine(line), m_nCode(code) {
    ::SetLastError(static_cast<DWORD>(code));
}

CQuorvanException::CQuorvanException(const SimpleString& file, const SimpleString& function, int line, int code)
    : m_strFile(file), m_strFunction(function), m_nLine(line), m_nCode(code) {
    ::SetLastError(static_cast<DWORD>(code));
}

CQuorvanException::CQuorvanException(const CQuorvanException& other)
    : m_strFile(other.m_strFile), m_strFunction(other.m_strFunction), m_nLine(other.m_nLine),
      m_nCode(other.m_nCode) {
    ::SetLastError(static_cast<DWORD>(m_nCode));
}

CQuorvanException::~CQuorvanException() = default;

SimpleString SystemMessageLine(unsigned long code) {
    LastErrorKeeper keep;
    wchar_t* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    if (!Os().FormatMessageW(flags, nullptr, code, LANG_USER_DEFAULT, reinterpret_cast<LPWSTR>(&text), 0, nullptr))
        return SimpleString(L"");
    const UniqueLocalMemory owned(text);
    text[std::wcscspn(text, L"\r\n")] = L'\0';
    return SimpleString(text);
}

// The description is the message as the console shows it: its OEM code page bytes where the
// output is not a console.
void CQuorvanException::Display(std::wostream& out) const {
    LastErrorKeeper keep;
    const SimpleString text = SystemMessageLine(static_cast<unsigned long>(m_nCode));

    out << L"Une exception est survenue." << std::endl;
    out << L"\tcode        : " << m_nCode << std::endl;
    out << L"\tdescription : " << OemCodePage(text) << std::endl;
    out << L"\tfichier     : " << m_strFile << std::endl;
    out << L"\tfonction    : " << m_strFunction << std::endl;
    out << L"\tligne       : " << m_nLine << std::endl;
    ConsoleWrite(text);
    out << std::endl;
    ConsoleWrite(OemCodePage(text));
}
