// The command-line tokenizer: one scan, run once to measure and once to write the words.

#include "CommandLine.h"

#include <cwchar>

#include "Memory.h"

namespace {

bool IsOneOf(wchar_t c, const wchar_t* set) { return c != L'\0' && set && std::wcschr(set, c); }

// Walks the line word by word. With a null `out` it only measures; otherwise it writes each word
// and its terminator at `out` and records where each word starts in `starts`.
class WordScanner {
public:
    WordScanner(const wchar_t* separators, const wchar_t* rawAfter) : m_separators(separators), m_rawAfter(rawAfter) {}

    void Scan(const wchar_t* line, wchar_t* out, wchar_t** starts) {
        m_words = 0;
        m_units = 0;
        m_out = out;
        const wchar_t* p = line ? line : L"";
        for (;;) {
            while (IsOneOf(*p, m_separators))
                ++p;
            if (*p == L'\0')
                return;
            wchar_t* start = m_out ? m_out + m_units : nullptr;
            const unsigned long length = ScanWord(p);
            if (length == 0)
                continue;
            Put(L'\0', 1);
            if (starts)
                starts[m_words] = start;
            ++m_words;
        }
    }
    unsigned long Words() const { return m_words; }
    unsigned long Units() const { return m_units; }

private:
    // Copies one word from p (advanced past it) and returns its length.
    unsigned long ScanWord(const wchar_t*& p) {
        const unsigned long first = m_units;
        bool inQuotes = false;
        bool cooked = true;
        for (;;) {
            if (cooked && !inQuotes && IsOneOf(*p, m_rawAfter))
                cooked = false;
            unsigned long backslashes = 0;
            while (p[backslashes] == L'\\')
                ++backslashes;
            p += backslashes;
            bool keep = true;
            if (!cooked) {
                Put(L'\\', backslashes);
                if (*p == L'"' && backslashes % 2 == 0)
                    inQuotes = !inQuotes;
            } else if (*p == L'"') {
                Put(L'\\', backslashes / 2);
                if (backslashes % 2 == 0) {
                    inQuotes = !inQuotes;
                    keep = false;
                }
            } else {
                Put(L'\\', backslashes);
            }
            if (*p == L'\0' || (!inQuotes && IsOneOf(*p, m_separators)))
                return m_units - first;
            if (keep)
                Put(*p, 1);
            ++p;
        }
    }

    void Put(wchar_t c, unsigned long times) {
        for (; times; --times, ++m_units)
            if (m_out)
                m_out[m_units] = c;
    }

    const wchar_t* m_separators;
    const wchar_t* m_rawAfter;
    wchar_t* m_out = nullptr;
    unsigned long m_words = 0;
    unsigned long m_units = 0;
};

} // namespace

int SplitCommandLine(const wchar_t* separators, const wchar_t* rawAfter, const wchar_t* line, unsigned long* count,
                     wchar_t*** words) {
    WordScanner scanner(separators, rawAfter);
    scanner.Scan(line, nullptr, nullptr);
    const unsigned long wordCount = scanner.Words();
    const size_t pointerBytes = sizeof(wchar_t*) * (wordCount + 1);
    const size_t textBytes = sizeof(wchar_t) * scanner.Units();
    auto* block = static_cast<wchar_t**>(MemAlloc(static_cast<unsigned int>(pointerBytes + textBytes), 1, 0));
    scanner.Scan(line, reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(block) + pointerBytes), block);
    *count = wordCount;
    *words = block;
    return 1;
}

std::vector<std::wstring> CommandLineWords(const std::wstring& line) {
    unsigned long count = 0;
    wchar_t** words = nullptr;
    SplitCommandLine(L" \t", L"=", line.c_str(), &count, &words);
    const std::vector<std::wstring> split(words, words + count);
    MemRelease(words);
    return split;
}
