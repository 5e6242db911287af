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

char Windows1252Byte(wchar_t c) { return static_cast<char>(c <= 0xFF ? c : L'?'); }

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
        for (size_t i = 0; i < count; ++i)
            m_bytes += Windows1252Byte(text[i]);
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

// A console write that fails loses its text, as a failed stream write does; it sets no code.
int ConsoleTextBuffer::sync() {
    LastErrorKeeper keep;
    bool written = true;
    for (size_t at = 0; at < m_characters.size(); at += BufferCapacity) {
        const size_t count = std::min(BufferCapacity, m_characters.size() - at);
        DWORD done = 0;
        written = Os().WriteConsoleW(m_console, m_characters.data() + at, static_cast<DWORD>(count), &done,
                                     nullptr) && written;
    }
    m_characters.clear();
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
