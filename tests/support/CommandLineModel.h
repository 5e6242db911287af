#pragma once
// The splitting rules of the command line read one character at a time, as a second, independent
// statement of them for tests.

#include <string>
#include <vector>

// A backslash is only counted until the character that ends its run decides what becomes of it.
inline std::vector<std::wstring> ReferenceSplit(const std::wstring& line, const std::wstring& separators,
                                                const std::wstring& rawAfter) {
    auto isIn = [](wchar_t c, const std::wstring& set) { return c != L'\0' && set.find(c) != std::wstring::npos; };
    const std::wstring text = line.substr(0, line.find(L'\0')) + L'\0';
    std::vector<std::wstring> words;
    size_t i = 0;
    for (;;) {
        while (isIn(text[i], separators))
            ++i;
        if (text[i] == L'\0')
            return words;
        std::wstring word;
        bool inQuotes = false;
        bool raw = false;
        size_t backslashes = 0;
        for (;; ++i) {
            const wchar_t c = text[i];
            // Only the first character of a run of backslashes (or a character after none) can turn the word raw.
            if (backslashes == 0 && !raw && !inQuotes && isIn(c, rawAfter))
                raw = true;
            if (c == L'\\') {
                ++backslashes;
                if (raw)
                    word += c;
                continue;
            }
            const bool quoteToggles = c == L'"' && backslashes % 2 == 0;
            if (!raw)
                word.append(c == L'"' ? backslashes / 2 : backslashes, L'\\');
            backslashes = 0;
            if (quoteToggles)
                inQuotes = !inQuotes;
            if (c == L'\0' || (!inQuotes && isIn(c, separators)))
                break;
            if (!(quoteToggles && !raw))
                word += c;
        }
        if (!word.empty())
            words.push_back(word);
    }
}
