#pragma once
// The console's standard streams. std::wcout and std::wcerr write wide characters to the console
// when they are one and bytes otherwise (ConsoleOutput.h says which bytes). Input comes as lines
// of characters: from the console as typed, from a file or a pipe decoded as TextDecoding.h says.

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "ConsoleOutput.h"
#include "TextDecoding.h"

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

// What a Tab pressed while a line is typed at the console does to the line.
class TabCompletion {
public:
    virtual ~TabCompletion() = default;
    // The line after a Tab (a Shift+Tab when `backwards`) pressed with `before` left of the cursor
    // and `after` right of it.
    virtual std::wstring Complete(const std::wstring& before, const std::wstring& after, bool backwards) = 0;
};

// The characters of an input, one at a time.
class TextInput {
public:
    static const int End = -1;
    virtual ~TextInput() = default;
    // The next character, or End once the input is exhausted.
    virtual int Get() = 0;
    // Puts back the character that Get just gave (End: nothing).
    virtual void Unget(int c) = 0;
    // From the next line on, Tab completes the lines typed at a console (null: Tab no longer
    // does). Other inputs have no Tab to press.
    virtual void CompleteWith(TabCompletion*) {}
};

// The characters of a C stream (redirected input), decoded as it comes, a line at a time: a mark
// at the start decides for the whole stream; without one each line is decided on its own, since
// a stream cannot be read to its end before its first line runs. One object reads a stream for
// the whole run, so that its mark is known to every reader that follows.
class StreamTextInput : public TextInput {
public:
    explicit StreamTextInput(FILE* file) : m_file(file) {}
    int Get() override;
    void Unget(int c) override;

private:
    bool Fill();
    void ReadMark();
    // The bytes of the next line, its line end included, or of a part of a line too long to hold.
    std::string ReadLineBytes();

    FILE* m_file;
    bool m_markRead = false;
    bool m_marked = false;
    TextEncoding m_markedEncoding = TextEncoding::Windows1252;
    // Bytes read and not yet decoded: what followed no mark, or the start of a character cut by
    // the end of a part.
    std::string m_pending;
    std::wstring m_characters;
    size_t m_next = 0;
};

// The characters of a text already decoded (a whole script file).
class TextBufferInput : public TextInput {
public:
    explicit TextBufferInput(std::wstring text) : m_text(std::move(text)) {}
    int Get() override { return m_next < m_text.size() ? m_text[m_next++] : End; }
    void Unget(int c) override {
        if (c != End && m_next > 0)
            --m_next;
    }

private:
    std::wstring m_text;
    size_t m_next = 0;
};

// The console's characters as typed, read a line at a time. A read that brings nothing (what
// Ctrl+C does to a pending read) or a line that begins with Ctrl+Z ends the input, as it ends the
// console's byte reads. While a completion is given and the output is the console too, a Tab
// ends the read: the line is completed and shown again, and the read goes on from it.
class ConsoleInput : public TextInput {
public:
    explicit ConsoleInput(HANDLE console) : m_console(console) {}
    int Get() override;
    void Unget(int c) override;
    void CompleteWith(TabCompletion* completion) override { m_completion = completion; }

private:
    bool Fill();
    bool ReadLine(DWORD& read);
    bool ReadCompletedLine(HANDLE output, DWORD& read);

    TabCompletion* m_completion = nullptr;

    HANDLE m_console;
    wchar_t m_characters[4096];
    DWORD m_count = 0;
    DWORD m_next = 0;
    bool m_atLineStart = true;
    bool m_atEnd = false;
};

// The process's standard input: the console's characters when it is one, else its decoded bytes.
std::unique_ptr<TextInput> OpenStandardInput();

// One line of `input` that the console does not show as it is typed (a password): echo is off
// for the read when the standard input is a console, and the line break that the console did not
// show is written then. Redirected input is read as it is.
std::wstring ReadHiddenLine(TextInput& input);

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
