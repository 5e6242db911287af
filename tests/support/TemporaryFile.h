#pragma once
// Temporary files for the tests: each is created under a name no other process holds, so that
// test programs running side by side never share one.

#include <cstdio>
#include <string>
#include <vector>

// A new, empty, uniquely named file in the temporary folder, deleted on destruction.
class TemporaryFile {
public:
    TemporaryFile();
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::wstring& path() const { return m_path; }
    void Write(const std::string& bytes) const;
    std::string Read() const;
    // The file's lines, without their line feeds.
    std::vector<std::string> ReadLines() const;
    // A binary stream on the file, for code that reads a FILE*; null (and a test failure) if the
    // file cannot be opened. The caller closes it.
    std::FILE* OpenToRead() const;

private:
    std::wstring m_path;
};
