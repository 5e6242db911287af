#include "StandardStreams.h"

#include <fcntl.h>
#include <io.h>
#include <iterator>
#include <iostream>

#include "Platform.h"

bool FileTextBuffer::WriteBytes(const char* bytes, size_t count) {
    bool written = true;
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] == '\n')
            written = std::fputc('\r', m_file) != EOF && written;
        written = std::fputc(bytes[i], m_file) != EOF && written;
    }
    return std::fflush(m_file) == 0 && written;
}

void InstallStandardStreams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // Never destroyed: the runtime flushes the standard streams after static objects are gone.
    std::wcout.rdbuf(new FileTextBuffer(STD_OUTPUT_HANDLE, stdout));
    std::wcerr.rdbuf(new FileTextBuffer(STD_ERROR_HANDLE, stderr));
}

int ByteInput::Get() {
    const int byte = std::getc(m_file);
    return byte == EOF ? End : byte;
}

void ByteInput::Unget(int c) {
    if (c != End)
        std::ungetc(c, m_file);
}

int ConsoleInput::Get() {
    if (m_next == m_count && !Fill())
        return End;
    const wchar_t c = m_characters[m_next++];
    m_atLineStart = c == L'\n';
    return c;
}

void ConsoleInput::Unget(int c) {
    if (c != End && m_next > 0)
        --m_next;
}

// Reading is no command's failure: the last-error value stays as it was.
bool ConsoleInput::Fill() {
    if (m_atEnd)
        return false;
    LastErrorKeeper keep;
    DWORD read = 0;
    const bool any = Os().ReadConsoleW(m_console, m_characters, static_cast<DWORD>(std::size(m_characters)), &read,
                                       nullptr) &&
                     read != 0;
    m_atEnd = !any || (m_atLineStart && m_characters[0] == L'\x1A');
    m_count = m_atEnd ? 0 : read;
    m_next = 0;
    return !m_atEnd;
}

std::unique_ptr<TextInput> OpenStandardInput() {
    if (HANDLE console = ConsoleBehind(STD_INPUT_HANDLE))
        return std::make_unique<ConsoleInput>(console);
    return std::make_unique<ByteInput>(stdin);
}

void LineReader::ReadLine(wchar_t* buffer, size_t capacity) {
    size_t length = 0;
    auto store = [&](int c) {
        if (length + 1 < capacity)
            buffer[length++] = static_cast<wchar_t>(c);
    };
    for (;;) {
        const int c = m_input.Get();
        if (c == TextInput::End) {
            m_atEnd = true;
            break;
        }
        if (c == L'\n')
            break;
        if (c == L'\r') {
            const int next = m_input.Get();
            if (next == L'\n')
                break;
            m_input.Unget(next);
        }
        store(c);
    }
    buffer[length] = L'\0';
}
