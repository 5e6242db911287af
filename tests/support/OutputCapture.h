#pragma once
// Catches what the code writes to std::wcout and std::wcerr for as long as it lives, through the
// console's own buffers: where the simulated machine's standard handle is a console the text goes
// there (FakePlatform::consoleText), elsewhere the capture holds the bytes that would leave, each
// widened to one character (line feeds as they are).

#include <string>

#include "ConsoleOutput.h"

class OutputCapture {
public:
    OutputCapture();
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    std::wstring Out() { return m_out.Text(); }
    std::wstring Err() { return m_err.Text(); }

private:
    class MemoryTextBuffer : public ConsoleTextBuffer {
    public:
        explicit MemoryTextBuffer(DWORD standardHandle) : ConsoleTextBuffer(standardHandle) {}
        ~MemoryTextBuffer() override { pubsync(); }
        std::wstring Text();

    protected:
        bool WriteBytes(const char* bytes, size_t count) override;

    private:
        std::string m_bytes;
    };

    MemoryTextBuffer m_out;
    MemoryTextBuffer m_err;
    std::wstreambuf* m_previousOut;
    std::wstreambuf* m_previousErr;
};
