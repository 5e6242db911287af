// Stands in for a debugger in the end-to-end tests: started as `DebuggerRecorder FILE PID EVENT`
// from a debugger command template, it writes its two numbers, as given, on one line to FILE and
// exits, so that a test can see which process the console asked to have debugged.

#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        return ERROR_INVALID_PARAMETER;
    }
    std::string line;
    // The numbers are decimal digits, so narrowing each character keeps them as they were.
    const wchar_t* pieces[] = {argv[2], L" ", argv[3], L"\n"};
    for (const wchar_t* text : pieces) {
        for (; *text; ++text) {
            line += static_cast<char>(*text);
        }
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return static_cast<int>(GetLastError());
    }
    // One write, so that a reader sees either nothing or the whole line.
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
    return wrote ? 0 : 1;
}
