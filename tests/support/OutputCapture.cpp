#include "OutputCapture.h"

#include <iostream>

OutputCapture::OutputCapture() : m_previousOut(std::wcout.rdbuf(&m_out)), m_previousErr(std::wcerr.rdbuf(&m_err)) {}

OutputCapture::~OutputCapture() {
    std::wcout.rdbuf(m_previousOut);
    std::wcerr.rdbuf(m_previousErr);
}
