#include "TemporaryFile.h"

#include <windows.h>

#include <memory>
#include <sstream>

#include <gtest/gtest.h>

namespace {

// Plain runtime streams: the platform layer's handle guards would close through the simulated
// machine in the unit tests, which never handed these handles out.
using Stream = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

Stream OpenStream(const std::wstring& path, const wchar_t* mode) {
    return Stream(path.empty() ? nullptr : _wfopen(path.c_str(), mode), &std::fclose);
}

} // namespace

// GetTempFileNameW with no number of its own creates the file, and skips every name that exists:
// the name is ours from then on.
TemporaryFile::TemporaryFile() {
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"qvn", 0, name) == 0) {
        ADD_FAILURE() << "cannot create a temporary file, error " << GetLastError();
        return;
    }
    m_path = name;
}

TemporaryFile::~TemporaryFile() {
    if (!m_path.empty()) {
        DeleteFileW(m_path.c_str());
    }
}

void TemporaryFile::Write(const std::string& bytes) const {
    Stream file = OpenStream(m_path, L"wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() ||
        std::fflush(file.get()) != 0) {
        ADD_FAILURE() << "cannot write the temporary file";
    }
}

std::string TemporaryFile::Read() const {
    Stream file = OpenStream(m_path, L"rb");
    if (!file) {
        ADD_FAILURE() << "cannot open the temporary file";
        return std::string();
    }
    std::string bytes;
    char buffer[4096];
    for (size_t read; (read = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) {
        bytes.append(buffer, read);
    }
    return bytes;
}

std::vector<std::string> TemporaryFile::ReadLines() const {
    std::vector<std::string> lines;
    std::istringstream stream(Read());
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::FILE* TemporaryFile::OpenToRead() const {
    std::FILE* stream = OpenStream(m_path, L"rb").release();
    if (!stream) {
        ADD_FAILURE() << "cannot open the temporary file for reading";
    }
    return stream;
}
