#include "ConsoleOutput.h"

#include <algorithm>
#include <cstdarg>
#include <cwchar>
#include <iostream>

#include "Platform.h"
#include "SimpleString.h"

namespace {

// What one console write or one write of bytes carries at most: the console takes a write from a
// heap of limited size.
const size_t BufferCapacity = 4096;

// The characters of the bytes 0x80 to 0x9F; an unassigned byte stands for itself.
const wchar_t Windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // € . ‚ ƒ „ … † ‡
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // ˆ ‰ Š ‹ Œ . Ž .
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // . ‘ ’ “ ” • – —
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // ˜ ™ š › œ . ž Ÿ
};

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// How many of the first `count` characters can leave in one piece without cutting a surrogate
// pair: a first half at the end waits for its second.
size_t WholeCharacters(const wchar_t* text, size_t count) {
    return count > 0 && IsHighSurrogate(text[count - 1]) ? count - 1 : count;
}

// Only the characters that our code page 437 texts use; ASCII is the same in every code page.
char Cp437Byte(wchar_t c) {
    switch (c) {
    case L'\u00E9': return '\x82'; // é
    case L'\u251C': return '\xC3'; // ├
    case L'\u2500': return '\xC4'; // ─
    case L'\u2514': return '\xC0'; // └
    case L'\u2502': return '\xB3'; // │
    default: return static_cast<char>(c < 0x80 ? c : L'?');
    }
}

// The machine's OEM bytes of the text; nothing when the conversion fails.
std::string OemCodePageBytes(const wchar_t* text, size_t count) {
    if (count == 0)
        return {};
    LastErrorKeeper keep;
    const int length = static_cast<int>(count);
    const int size = Os().WideCharToMultiByte(CP_OEMCP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size < 1)
        return {};
    std::string bytes(static_cast<size_t>(size), '\0');
    const int written = Os().WideCharToMultiByte(CP_OEMCP, 0, text, length, &bytes[0], size, nullptr, nullptr);
    bytes.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return bytes;
}

} // namespace

wchar_t Windows1252Character(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9F ? Windows1252High[byte - 0x80] : static_cast<wchar_t>(byte);
}

char Windows1252Byte(wchar_t character) {
    if (character < 0x80 || (character >= 0xA0 && character <= 0xFF))
        return static_cast<char>(character);
    for (unsigned byte = 0x80; byte <= 0x9F; ++byte)
        if (Windows1252High[byte - 0x80] == character)
            return static_cast<char>(byte);
    return '?';
}

HANDLE ConsoleBehind(DWORD standardHandle) {
    LastErrorKeeper keep;
    HANDLE handle = Os().GetStdHandle(standardHandle);
    DWORD mode = 0;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !Os().GetConsoleMode(handle, &mode))
        return nullptr;
    return handle;
}

ConsoleTextBuffer::ConsoleTextBuffer(DWORD standardHandle) : m_console(ConsoleBehind(standardHandle)) {}

ConsoleTextBuffer::~ConsoleTextBuffer() = default;

void ConsoleTextBuffer::Write(const wchar_t* text, size_t count, ByteForm form) {
    if (m_console)
        m_characters.append(text, count);
    else
        AppendBytes(text, count, form);
    if (m_characters.size() >= BufferCapacity || m_bytes.size() >= BufferCapacity)
        sync();
}

void ConsoleTextBuffer::AppendBytes(const wchar_t* text, size_t count, ByteForm form) {
    switch (form) {
    case ByteForm::Windows1252:
        for (size_t i = 0; i < count; ++i) {
            const bool secondHalf = m_afterHighSurrogate && IsLowSurrogate(text[i]);
            m_afterHighSurrogate = IsHighSurrogate(text[i]);
            if (!secondHalf)
                m_bytes += Windows1252Byte(text[i]);
        }
        break;
    case ByteForm::Cp437:
        for (size_t i = 0; i < count; ++i)
            m_bytes += Cp437Byte(text[i]);
        break;
    case ByteForm::OemCodePage:
        m_bytes += OemCodePageBytes(text, count);
        break;
    }
}

std::wstreambuf::int_type ConsoleTextBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    const wchar_t character = traits_type::to_char_type(c);
    Write(&character, 1, ByteForm::Windows1252);
    return c;
}

std::streamsize ConsoleTextBuffer::xsputn(const wchar_t* text, std::streamsize count) {
    Write(text, static_cast<size_t>(count), ByteForm::Windows1252);
    return count;
}

// A console write that fails loses its text, as a failed stream write does; it sets no code. The
// console reads each piece on its own: a piece never ends with the first half of a surrogate pair,
// which waits for the next piece instead.
int ConsoleTextBuffer::sync() {
    LastErrorKeeper keep;
    bool written = true;
    size_t at = 0;
    for (;;) {
        const size_t count =
            WholeCharacters(m_characters.data() + at, std::min(BufferCapacity, m_characters.size() - at));
        if (count == 0)
            break;
        DWORD done = 0;
        written = Os().WriteConsoleW(m_console, m_characters.data() + at, static_cast<DWORD>(count), &done,
                                     nullptr) && written;
        at += count;
    }
    m_characters.erase(0, at);
    if (!m_bytes.empty())
        written = WriteBytes(m_bytes.data(), m_bytes.size()) && written;
    m_bytes.clear();
    return written ? 0 : -1;
}

std::wostream& operator<<(std::wostream& out, const FormedText& text) {
    const wchar_t* characters = text.text ? text.text : L"";
    auto* console = dynamic_cast<ConsoleTextBuffer*>(out.rdbuf());
    if (!console)
        return out << characters;
    // The sentry flushes the tied stream first, and flushes this one after when it is unit-buffered.
    const std::wostream::sentry ready(out);
    if (ready)
        console->Write(characters, std::wcslen(characters), text.form);
    return out;
}

void ConsoleWrite(const wchar_t* text) { ConsoleWrite(FormedText{text, ByteForm::Windows1252}); }

void ConsoleWrite(const FormedText& text) {
    LastErrorKeeper keep;
    std::wcout << text;
}

void ConsolePrintf(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const SimpleString text = SimpleString::FormV(format, args);
    va_end(args);
    ConsoleWrite(text);
}
