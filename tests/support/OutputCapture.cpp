#include "OutputCapture.h"

#include <iostream>

OutputCapture::OutputCapture()
    : m_out(STD_OUTPUT_HANDLE), m_err(STD_ERROR_HANDLE), m_previousOut(std::wcout.rdbuf(&m_out)),
      m_previousErr(std::wcerr.rdbuf(&m_err)) {}

OutputCapture::~OutputCapture() {
    std::wcout.rdbuf(m_previousOut);
    std::wcerr.rdbuf(m_previousErr);
}

std::wstring OutputCapture::MemoryTextBuffer::Text() {
    pubsync();
    std::wstring text;
    for (char byte : m_bytes)
        text += static_cast<wchar_t>(static_cast<unsigned char>(byte));
    return text;
}

bool OutputCapture::MemoryTextBuffer::WriteBytes(const char* bytes, size_t count) {
    m_bytes.append(bytes, count);
    return true;
}
