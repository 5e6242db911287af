#include "ConsoleOutput.h"

#include <cstdarg>
#include <cstring>
#include <iostream>

#include "Platform.h"
#include "SimpleString.h"
#include "StringFunctions.h"

namespace {

// The standard output handle when it is a console, else null.
HANDLE ConsoleOutputHandle() {
    HANDLE out = Os().GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == nullptr || out == INVALID_HANDLE_VALUE || !Os().GetConsoleMode(out, &mode))
        return nullptr;
    return out;
}

// Writes to the console itself when standard output is one (after what the stream holds, to keep
// the order), and through the stream otherwise.
template <typename ToConsole, typename ToStream>
void WriteForConsole(ToConsole toConsole, ToStream toStream) {
    LastErrorKeeper keep;
    if (HANDLE console = ConsoleOutputHandle()) {
        std::wcout.flush();
        toConsole(console);
    } else {
        toStream();
    }
}

} // namespace

void ConsoleWrite(const wchar_t* text) {
    if (!text || !*text)
        return;
    WriteForConsole(
        [text](HANDLE console) {
            DWORD written = 0;
            Os().WriteConsoleW(console, text, StrLen(text), &written, nullptr);
        },
        [text] { std::wcout << text; });
}

void ConsoleWriteBytes(const char* text) {
    if (!text || !*text)
        return;
    WriteForConsole(
        [text](HANDLE console) {
            DWORD written = 0;
            Os().WriteConsoleA(console, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
        },
        [text] {
            for (const char* p = text; *p; ++p)
                std::wcout << static_cast<wchar_t>(static_cast<unsigned char>(*p));
        });
}

void ConsolePrintf(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const SimpleString text = SimpleString::FormV(format, args);
    va_end(args);
    ConsoleWrite(text);
}
