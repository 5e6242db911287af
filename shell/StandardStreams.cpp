#include "StandardStreams.h"

#include <algorithm>
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

namespace {

// The most bytes decoded at once: a line longer than this is decoded in parts (the line rules
// keep far fewer characters), so that a stream without line ends holds no more than this.
const size_t PartCapacity = 64 * 1024;

// Whether `bytes` begin a byte-order mark that more bytes could complete.
bool BeginsAMark(const std::string& bytes) {
    for (const std::string mark : {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"})
        if (bytes.size() < mark.size() && mark.compare(0, bytes.size(), bytes) == 0)
            return true;
    return false;
}

} // namespace

int StreamTextInput::Get() {
    if (m_next == m_characters.size() && !Fill())
        return End;
    return m_characters[m_next++];
}

void StreamTextInput::Unget(int c) {
    if (c != End && m_next > 0)
        --m_next;
}

// Reads no more than a mark can be, so that a stream without one loses nothing.
void StreamTextInput::ReadMark() {
    m_markRead = true;
    for (int byte; (m_pending.empty() || BeginsAMark(m_pending)) && (byte = std::getc(m_file)) != EOF;)
        m_pending += static_cast<char>(byte);
    const ByteOrderMark mark = FindByteOrderMark(m_pending.data(), m_pending.size());
    m_marked = mark.length != 0;
    m_markedEncoding = mark.encoding;
    m_pending.erase(0, mark.length);
}

std::string StreamTextInput::ReadLineBytes() {
    std::string bytes = std::move(m_pending);
    m_pending.clear();
    const bool wide = m_marked && (m_markedEncoding == TextEncoding::Utf16LE || m_markedEncoding == TextEncoding::Utf16BE);
    const char lineFeed[2] = {m_markedEncoding == TextEncoding::Utf16BE ? '\0' : '\n',
                              m_markedEncoding == TextEncoding::Utf16BE ? '\n' : '\0'};
    for (int byte; bytes.size() < PartCapacity && (byte = std::getc(m_file)) != EOF;) {
        bytes += static_cast<char>(byte);
        if (!wide && byte == '\n')
            return bytes;
        if (wide && bytes.size() % 2 == 0 && bytes[bytes.size() - 2] == lineFeed[0] &&
            bytes[bytes.size() - 1] == lineFeed[1])
            return bytes;
    }
    if (!wide && bytes.size() >= PartCapacity) {
        const size_t whole = WholeUtf8Characters(bytes.data(), bytes.size());
        m_pending = bytes.substr(whole);
        bytes.resize(whole);
    }
    return bytes;
}

// Reading is no command's failure: decoding sets no code.
bool StreamTextInput::Fill() {
    if (!m_markRead)
        ReadMark();
    const std::string bytes = ReadLineBytes();
    m_characters.clear();
    m_next = 0;
    const TextEncoding encoding = m_marked ? m_markedEncoding : EncodingWithoutMark(bytes.data(), bytes.size());
    DecodeText(encoding, bytes.data(), bytes.size(), m_characters);
    return !m_characters.empty();
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
    const bool any = ReadLine(read) && read != 0;
    m_atEnd = !any || (m_atLineStart && m_characters[0] == L'\x1A');
    m_count = m_atEnd ? 0 : read;
    m_next = 0;
    return !m_atEnd;
}

bool ConsoleInput::ReadLine(DWORD& read) {
    if (m_completion && m_atLineStart)
        if (HANDLE output = ConsoleBehind(STD_OUTPUT_HANDLE))
            return ReadCompletedLine(output, read);
    return Os().ReadConsoleW(m_console, m_characters, static_cast<DWORD>(std::size(m_characters)), &read, nullptr);
}

namespace {

// Shows `line` in place of the `shownLength` characters of the line being typed, whose character
// `cursorIndex` is under the cursor, and leaves the cursor after it, where the console's next
// read goes on. Cells are counted along the buffer's rows, so that a line that wrapped, or
// scrolled the buffer, is found all the same.
void ShowLineAgain(HANDLE output, DWORD cursorIndex, DWORD shownLength, const std::wstring& line) {
    CONSOLE_SCREEN_BUFFER_INFO screen;
    if (!Os().GetConsoleScreenBufferInfo(output, &screen) || screen.dwSize.X <= 0)
        return;
    const long width = screen.dwSize.X;
    const long cursorCell = screen.dwCursorPosition.Y * width + screen.dwCursorPosition.X;
    const long startCell = std::max(0L, cursorCell - static_cast<long>(cursorIndex));
    const COORD start = {static_cast<SHORT>(startCell % width), static_cast<SHORT>(startCell / width)};
    DWORD cleared = 0;
    Os().FillConsoleOutputCharacterW(output, L' ', shownLength, start, &cleared);
    Os().SetConsoleCursorPosition(output, start);
    std::wcout << line << std::flush;
}

} // namespace

// Each Tab ends the console's read with the Tab where the cursor was and the whole line in the
// buffer; the next read keeps the completed line as its initial characters.
bool ConsoleInput::ReadCompletedLine(HANDLE output, DWORD& read) {
    const DWORD capacity = static_cast<DWORD>(std::size(m_characters));
    // Room for the line's end after the initial characters, which the read requires.
    const size_t longestKept = capacity - 3;
    CONSOLE_READCONSOLE_CONTROL control = {sizeof control, 0, 1UL << L'\t', 0};
    for (;;) {
        if (!Os().ReadConsoleW(m_console, m_characters, capacity, &read, &control))
            return false;
        const wchar_t* tab = std::find(m_characters, m_characters + read, L'\t');
        if (tab == m_characters + read)
            return true;
        const std::wstring before(static_cast<const wchar_t*>(m_characters), tab);
        const std::wstring after(tab + 1, static_cast<const wchar_t*>(m_characters) + read);
        std::wstring line = m_completion->Complete(before, after, (control.dwControlKeyState & SHIFT_PRESSED) != 0);
        line.resize(std::min(line.size(), longestKept));
        ShowLineAgain(output, static_cast<DWORD>(before.size()), read - 1, line);
        std::copy(line.begin(), line.end(), m_characters);
        control.nInitialChars = static_cast<ULONG>(line.size());
        control.dwControlKeyState = 0;
    }
}

std::unique_ptr<TextInput> OpenStandardInput() {
    if (HANDLE console = ConsoleBehind(STD_INPUT_HANDLE))
        return std::make_unique<ConsoleInput>(console);
    return std::make_unique<StreamTextInput>(stdin);
}

namespace {

// Switches the input console's echo off for its lifetime; nothing when the input is no console.
class EchoOff {
public:
    EchoOff() : m_console(ConsoleBehind(STD_INPUT_HANDLE)) {
        LastErrorKeeper keep;
        m_switched = m_console && Os().GetConsoleMode(m_console, &m_mode) &&
                     Os().SetConsoleMode(m_console, m_mode & ~ENABLE_ECHO_INPUT);
    }
    ~EchoOff() {
        if (!m_switched)
            return;
        LastErrorKeeper keep;
        Os().SetConsoleMode(m_console, m_mode);
        std::wcout << std::endl;
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    HANDLE m_console;
    DWORD m_mode = 0;
    bool m_switched = false;
};

} // namespace

std::wstring ReadHiddenLine(TextInput& input) {
    wchar_t line[1024];
    {
        const EchoOff hidden;
        LineReader(input).ReadLine(line, std::size(line));
    }
    std::wstring secret(line);
    SecureZeroMemory(line, sizeof line);
    return secret;
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
