#include "ByteStreams.h"

#include <fcntl.h>
#include <io.h>
#include <iostream>

std::wstreambuf::int_type ByteOutputBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    const wchar_t wide = traits_type::to_char_type(c);
    if (wide == L'\n')
        PutByte('\r');
    PutByte(static_cast<char>(wide <= 0xFF ? wide : L'?'));
    return c;
}

std::streamsize ByteOutputBuffer::xsputn(const wchar_t* text, std::streamsize count) {
    for (std::streamsize i = 0; i < count; ++i)
        overflow(traits_type::to_int_type(text[i]));
    return count;
}

void ByteOutputBuffer::PutByte(char byte) {
    if (m_used == sizeof m_bytes)
        Flush();
    m_bytes[m_used++] = byte;
}

bool ByteOutputBuffer::Flush() {
    const bool written = std::fwrite(m_bytes, 1, m_used, m_file) == m_used;
    m_used = 0;
    return std::fflush(m_file) == 0 && written;
}

void InstallByteStreams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // Never destroyed: the runtime flushes the standard streams after static objects are gone.
    std::wcout.rdbuf(new ByteOutputBuffer(stdout));
    std::wcerr.rdbuf(new ByteOutputBuffer(stderr));
}

void ByteLineReader::ReadLine(wchar_t* buffer, size_t capacity) {
    size_t length = 0;
    auto store = [&](int byte) {
        if (length + 1 < capacity)
            buffer[length++] = static_cast<unsigned char>(byte);
    };
    for (;;) {
        int byte = std::getc(m_file);
        if (byte == EOF) {
            m_atEnd = true;
            break;
        }
        if (byte == '\n')
            break;
        if (byte == '\r') {
            const int next = std::getc(m_file);
            if (next == '\n')
                break;
            if (next != EOF)
                std::ungetc(next, m_file);
        }
        store(byte);
    }
    buffer[length] = L'\0';
}
