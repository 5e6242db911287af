// Stands in for a debugger in the end-to-end tests: started as `DebuggerRecorder FILE ARGUMENT...`
// from a debugger command template, it writes its arguments after FILE, as given and separated
// by spaces, on one line to FILE and exits, so that a test can see which process the console
// asked to have debugged.

#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        return ERROR_INVALID_PARAMETER;
    }
    std::string line;
    // The arguments are numbers and ASCII switches, so narrowing each character keeps them as they were.
    for (int i = 2; i < argc; ++i) {
        for (const wchar_t* text = argv[i]; *text; ++text) {
            line += static_cast<char>(*text);
        }
        line += i + 1 < argc ? ' ' : '\n';
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
