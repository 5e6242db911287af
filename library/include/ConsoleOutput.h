#pragma once
// The console's text. Every text says what it means, in wide characters, once; how it leaves
// follows from where it goes. To a console it goes as those characters. Anywhere else (a file, a
// pipe) each character becomes one byte, as scripts and files have always received it: the texts'
// own Windows-1252 byte ('?' for a character that Windows-1252 cannot hold, one for a surrogate
// pair), unless the text asks for the bytes of an OEM code page. Nothing here changes the thread's
// last-error value.

#include <windows.h>

#include <ostream>
#include <streambuf>
#include <string>

#include "VelmarikApi.h"

// How a text becomes bytes where the output is not a console.
enum class ByteForm {
    Windows1252,
    // Code page 437 (and 850): é as 0x82 and the box drawing as 0xC3, 0xC4, 0xC0 and 0xB3, the
    // bytes that two headings and the command tree have always had.
    Cp437,
    // The machine's OEM code page.
    OemCodePage,
};

struct FormedText {
    const wchar_t* text;
    ByteForm form;
};

inline FormedText Cp437(const wchar_t* text) { return {text, ByteForm::Cp437}; }
inline FormedText OemCodePage(const wchar_t* text) { return {text, ByteForm::OemCodePage}; }

// On a stream of the console (a ConsoleTextBuffer behind it) the text leaves in its form; any
// other stream receives its characters.
VELMARIK_API std::wostream& operator<<(std::wostream& out, const FormedText& text);

// Windows-1252 in both directions. The five bytes that the code page leaves unassigned (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) stand for the control character of the same value, as in the platform's own
// conversion, so that every byte survives a round trip.
VELMARIK_API wchar_t Windows1252Character(unsigned char byte);
// '?' for a character that Windows-1252 cannot hold.
VELMARIK_API char Windows1252Byte(wchar_t character);

// The buffer behind the console's standard streams: wide characters to the console when the
// standard handle is one (decided when the buffer is made), else bytes to WriteBytes.
class VELMARIK_API ConsoleTextBuffer : public std::wstreambuf {
public:
    explicit ConsoleTextBuffer(DWORD standardHandle);
    ~ConsoleTextBuffer() override;
    ConsoleTextBuffer(const ConsoleTextBuffer&) = delete;
    ConsoleTextBuffer& operator=(const ConsoleTextBuffer&) = delete;

    void Write(const wchar_t* text, size_t count, ByteForm form);

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const wchar_t* text, std::streamsize count) override;
    int sync() override;
    // Where the bytes go. A derived buffer flushes in its own destructor (this one cannot reach it).
    virtual bool WriteBytes(const char* bytes, size_t count) = 0;

private:
    void AppendBytes(const wchar_t* text, size_t count, ByteForm form);

    HANDLE m_console;
    std::wstring m_characters;
    std::string m_bytes;
    // The last character turned into bytes was the first half of a surrogate pair, whose '?'
    // stands for the whole pair.
    bool m_afterHighSurrogate = false;
};

// The console behind a standard handle (STD_INPUT_HANDLE, ...), or null when the handle is
// redirected or missing.
VELMARIK_API HANDLE ConsoleBehind(DWORD standardHandle);

// Text meant for the console window (the listing rows, the exception's message): it takes the
// same path as the rest of std::wcout, in order with it.
VELMARIK_API void ConsoleWrite(const wchar_t* text);
VELMARIK_API void ConsoleWrite(const FormedText& text);
// printf-style (%s takes a wide string).
VELMARIK_API void ConsolePrintf(const wchar_t* format, ...);
