#include "QuorvanException.h"

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

namespace {

// The platform's text for `code`, up to its first carriage return; null when it has none.
UniqueLocalMemory SystemMessage(int code) {
    wchar_t* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    if (!Os().FormatMessageW(flags, nullptr, static_cast<DWORD>(code), LANG_USER_DEFAULT,
                             reinterpret_cast<LPWSTR>(&text), 0, nullptr))
        return UniqueLocalMemory();
    for (wchar_t* p = text; *p; ++p) {
        if (*p == L'\r') {
            *p = L'\0';
            break;
        }
    }
    return UniqueLocalMemory(text);
}

} // namespace

// The description is the message as the console shows it: its OEM code page bytes where the
// output is not a console.
void CQuorvanException::Display(std::wostream& out) const {
    LastErrorKeeper keep;
    UniqueLocalMemory message = SystemMessage(m_nCode);
    const wchar_t* text = message ? static_cast<const wchar_t*>(message.get()) : L"";

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
