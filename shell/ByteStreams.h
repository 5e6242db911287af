#pragma once
// The console's text is 8-bit: each byte read becomes the character of the same value, and each
// character written becomes one byte again (line feeds leave as CR LF, as Windows text does).

#include <cstdio>
#include <streambuf>

class ByteOutputBuffer : public std::wstreambuf {
public:
    explicit ByteOutputBuffer(FILE* file) : m_file(file) {}
    ~ByteOutputBuffer() override { Flush(); }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const wchar_t* text, std::streamsize count) override;
    int sync() override { return Flush() ? 0 : -1; }

private:
    void PutByte(char byte);
    bool Flush();

    FILE* m_file;
    char m_bytes[4096];
    size_t m_used = 0;
};

// Puts byte-exact buffers behind std::wcout and std::wcerr and switches the standard streams to
// binary mode, for the whole run.
void InstallByteStreams();

// Reads lines of bytes. A line ends at a line feed; a carriage return right before it is not part
// of the line; characters beyond the buffer's capacity are dropped up to the end of the line.
class ByteLineReader {
public:
    explicit ByteLineReader(FILE* file) : m_file(file) {}
    // Fills `buffer` with the next line, zero-terminated. Sets AtEnd once the input is exhausted.
    void ReadLine(wchar_t* buffer, size_t capacity);
    bool AtEnd() const { return m_atEnd; }

private:
    FILE* m_file;
    bool m_atEnd = false;
};
