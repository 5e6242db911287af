#include "TestEnvironment.h"

#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

std::wstring DirectoryOfThisProgram() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L'\\'));
}

// The inverse of the runtime's splitting: backslashes are literal except before a quote, where
// each must be doubled, and the quote itself needs one more backslash.
std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    for (size_t i = 0;; ++i) {
        size_t backslashes = 0;
        while (i < argument.size() && argument[i] == L'\\') {
            ++backslashes;
            ++i;
        }
        if (i == argument.size()) {
            quoted.append(backslashes * 2, L'\\');
            break;
        }
        if (argument[i] == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        quoted += argument[i];
    }
    return quoted + L"\"";
}

std::wstring JoinCommandLine(const std::wstring& program, const std::vector<std::wstring>& arguments) {
    std::wstring line = QuoteArgument(program);
    for (const std::wstring& argument : arguments) {
        line += L" " + QuoteArgument(argument);
    }
    return line;
}

std::wstring ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    EXPECT_TRUE(GetComputerNameExW(ComputerNameNetBIOS, name, &size));
    return name;
}

namespace {

bool IsCountedKind(HANDLE handle) {
    alignas(8) BYTE buffer[512];
    ULONG size = 0;
    if (NtQueryObject(handle, ObjectTypeInformation, buffer, sizeof buffer, &size) != 0)
        return false;
    const UNICODE_STRING& type = reinterpret_cast<const PUBLIC_OBJECT_TYPE_INFORMATION*>(buffer)->TypeName;
    const std::wstring kind(type.Buffer, type.Length / sizeof(wchar_t));
    return kind == L"Key" || kind == L"Token" || kind == L"Process" || kind == L"File";
}

} // namespace

// Handle values are multiples of 4 handed out from the lowest free one, so the table ends soon
// after the last open handle: a long run of values that are no handle ends the count.
unsigned long OpenHandleCount(void* process) {
    const unsigned kEndOfTable = 256;
    unsigned long open = 0;
    unsigned misses = 0;
    for (ULONG_PTR value = 4; misses < kEndOfTable; value += 4) {
        HANDLE copy = nullptr;
        if (!DuplicateHandle(process, reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &copy, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            ++misses;
            continue;
        }
        misses = 0;
        open += IsCountedKind(copy) ? 1 : 0;
        CloseHandle(copy);
    }
    return open;
}
