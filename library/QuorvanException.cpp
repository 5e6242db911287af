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

// The text in the console's OEM code page, in a zero-filled library block.
char* ToOemText(const wchar_t* text) {
    int size = Os().WideCharToMultiByte(CP_OEMCP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size < 1)
        size = 1;
    auto* narrow = static_cast<char*>(MemAlloc(static_cast<unsigned int>(size), 1, 0));
    Os().WideCharToMultiByte(CP_OEMCP, 0, text, -1, narrow, size, nullptr, nullptr);
    narrow[size - 1] = '\0';
    return narrow;
}

void WriteWidened(std::wostream& out, const char* narrow) {
    for (const char* p = narrow; *p; ++p)
        out << static_cast<wchar_t>(static_cast<unsigned char>(*p));
}

} // namespace

void CQuorvanException::Display(std::wostream& out) const {
    LastErrorKeeper keep;
    UniqueLocalMemory message = SystemMessage(m_nCode);
    const wchar_t* text = message ? static_cast<const wchar_t*>(message.get()) : L"";
    char* description = ToOemText(text);

    out << L"Une exception est survenue." << std::endl;
    out << L"\tcode        : " << m_nCode << std::endl;
    out << L"\tdescription : ";
    WriteWidened(out, description);
    out << std::endl;
    out << L"\tfichier     : " << m_strFile << std::endl;
    out << L"\tfonction    : " << m_strFunction << std::endl;
    out << L"\tligne       : " << m_nLine << std::endl;
    ConsoleWrite(text);
    out << std::endl;
    ConsoleWriteBytes(description);
    MemRelease(description);
}
