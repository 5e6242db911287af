#pragma once
// The console's standard streams. std::wcout and std::wcerr write wide characters to the console
// when they are one and bytes otherwise (ConsoleOutput.h says which bytes). Input comes as lines
// of characters: from the console as typed, from a file or a pipe one byte to one character.

#include <windows.h>

#include <cstdio>
#include <memory>

#include "ConsoleOutput.h"

// Bytes to a C stream; a line feed leaves as CR LF, as Windows text does.
class FileTextBuffer : public ConsoleTextBuffer {
public:
    FileTextBuffer(DWORD standardHandle, FILE* file) : ConsoleTextBuffer(standardHandle), m_file(file) {}
    ~FileTextBuffer() override { pubsync(); }

protected:
    bool WriteBytes(const char* bytes, size_t count) override;

private:
    FILE* m_file;
};

// Puts console text buffers behind std::wcout and std::wcerr and switches the standard C streams
// to binary mode, for the whole run.
void InstallStandardStreams();

// The characters of an input, one at a time.
class TextInput {
public:
    static const int End = -1;
    virtual ~TextInput() = default;
    // The next character, or End once the input is exhausted.
    virtual int Get() = 0;
    // Puts back the character that Get just gave (End: nothing).
    virtual void Unget(int c) = 0;
};

// Each byte of a C stream becomes the character of the same value.
class ByteInput : public TextInput {
public:
    explicit ByteInput(FILE* file) : m_file(file) {}
    int Get() override;
    void Unget(int c) override;

private:
    FILE* m_file;
};

// The console's characters as typed, read a line at a time. A read that brings nothing (what
// Ctrl+C does to a pending read) or a line that begins with Ctrl+Z ends the input, as it ends the
// console's byte reads.
class ConsoleInput : public TextInput {
public:
    explicit ConsoleInput(HANDLE console) : m_console(console) {}
    int Get() override;
    void Unget(int c) override;

private:
    bool Fill();

    HANDLE m_console;
    wchar_t m_characters[4096];
    DWORD m_count = 0;
    DWORD m_next = 0;
    bool m_atLineStart = true;
    bool m_atEnd = false;
};

// The process's standard input: the console's characters when it is one, else its bytes. A console
// read stops at the end of a line, so readers that each finish their lines may follow one another.
std::unique_ptr<TextInput> OpenStandardInput();

// Reads lines. A line ends at a line feed; a carriage return right before it is not part of the
// line; characters beyond the buffer's capacity are dropped up to the end of the line.
class LineReader {
public:
    explicit LineReader(TextInput& input) : m_input(input) {}
    // Fills `buffer` with the next line, zero-terminated. Sets AtEnd once the input is exhausted.
    void ReadLine(wchar_t* buffer, size_t capacity);
    bool AtEnd() const { return m_atEnd; }

private:
    TextInput& m_input;
    bool m_atEnd = false;
};
