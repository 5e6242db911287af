// Random texts through the decoders of scripts and redirected input: valid ones read back
// exactly whatever the encoding and wherever the bytes are cut; invalid UTF-8 reads as
// Windows-1252 without a mark and is refused with one.

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "ConsoleOutput.h"
#include "StandardStreams.h"
#include "TemporaryFile.h"
#include "TextDecoding.h"

namespace {

const unsigned Seed = 20261208;
// The stream reader's part: a line longer than this is read in parts.
const size_t PartBytes = 64 * 1024;

void AppendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendUtf16(char32_t c, std::wstring& out) {
    if (c < 0x10000) {
        out += static_cast<wchar_t>(c);
    } else {
        out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
        out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
}

std::string Utf16Bytes(const std::wstring& text, bool bigEndian) {
    std::string bytes;
    for (wchar_t unit : text) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

// A character of every UTF-8 length, line feeds among them when `lineFeeds`; never a surrogate.
char32_t RandomCharacter(std::mt19937& random, bool lineFeeds) {
    switch (random() % 6) {
    case 0:
        return lineFeeds ? U'\n' : U' ';
    case 1:
        return 0x20 + random() % 0x5F;
    case 2:
        return 0x80 + random() % 0x780;
    case 3: {
        const char32_t c = 0x800 + random() % 0xF800;
        return c >= 0xD800 && c <= 0xDFFF ? c - 0x800 : c;
    }
    default:
        return 0x10000 + random() % 0x100000;
    }
}

struct Sample {
    std::string utf8;
    std::wstring text;
};

Sample RandomText(std::mt19937& random, size_t characters, bool lineFeeds = true) {
    Sample sample;
    for (size_t i = 0; i < characters; ++i) {
        const char32_t c = RandomCharacter(random, lineFeeds);
        AppendUtf8(c, sample.utf8);
        AppendUtf16(c, sample.text);
    }
    return sample;
}

// Every character of a stream, as the console's loop reads them.
std::wstring ReadThroughStream(const std::string& bytes) {
    TemporaryFile file;
    file.Write(bytes);
    std::FILE* stream = file.OpenToRead();
    if (!stream)
        return L"<not opened>";
    std::wstring text;
    {
        StreamTextInput input(stream);
        for (int c; (c = input.Get()) != TextInput::End;)
            text += static_cast<wchar_t>(c);
    }
    std::fclose(stream);
    return text;
}

// The whole-file reading of a script: its mark, or the guess without one.
std::wstring ReadAsScript(const std::string& bytes, size_t& firstInvalid) {
    const ByteOrderMark mark = FindByteOrderMark(bytes.data(), bytes.size());
    const TextEncoding encoding =
        mark.length != 0 ? mark.encoding : EncodingWithoutMark(bytes.data(), bytes.size());
    std::wstring text;
    firstInvalid = DecodeText(encoding, bytes.data() + mark.length, bytes.size() - mark.length, text);
    return text;
}

// UTF-8 decoded part by part, each cut where `cuts` says and ending on a whole character, the
// rest carried into the next part, as the stream reader does at its part's end.
std::wstring ReadUtf8InParts(const std::string& bytes, std::mt19937& random) {
    std::wstring text;
    std::string carried;
    for (size_t at = 0; at < bytes.size();) {
        const size_t length = std::min<size_t>(1 + random() % 9, bytes.size() - at);
        std::string part = carried + bytes.substr(at, length);
        at += length;
        const size_t whole = at < bytes.size() ? WholeUtf8Characters(part.data(), part.size()) : part.size();
        carried = part.substr(whole);
        DecodeText(TextEncoding::Utf8, part.data(), whole, text);
    }
    return text;
}

const std::string Utf8Mark = "\xEF\xBB\xBF";

TEST(TextDecodingTest, RandomValidTextsReadBackExactlyInEveryEncodingAndAtEveryCut) {
    std::mt19937 random(Seed);
    SCOPED_TRACE(testing::Message() << "seed " << Seed);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        const Sample sample = RandomText(random, 1 + random() % 200);
        const std::string encodings[] = {sample.utf8, Utf8Mark + sample.utf8,
                                         "\xFF\xFE" + Utf16Bytes(sample.text, false),
                                         "\xFE\xFF" + Utf16Bytes(sample.text, true)};
        for (const std::string& bytes : encodings) {
            size_t firstInvalid = 0;
            EXPECT_EQ(ReadAsScript(bytes, firstInvalid), sample.text);
            EXPECT_EQ(firstInvalid, std::string::npos);
            EXPECT_EQ(ReadThroughStream(bytes), sample.text);
        }
        EXPECT_EQ(ReadUtf8InParts(sample.utf8, random), sample.text);
    }
}

// A line longer than the stream reader's part, with a character of each length cut by the part's
// end after each of its bytes.
TEST(TextDecodingTest, ALongLineReadsWholeWhereverThePartEndCutsACharacter) {
    for (const char32_t c : {U'\u00E9', U'\u20AC', U'\U0001F600'}) {
        std::string one;
        AppendUtf8(c, one);
        for (size_t before = 1; before <= one.size(); ++before) {
            SCOPED_TRACE(testing::Message() << "character U+" << std::hex << static_cast<unsigned long>(c)
                                            << ", " << before << " byte(s) before the cut");
            const std::string line = std::string(PartBytes - before, 'a') + one + "b\n";
            std::wstring expected(PartBytes - before, L'a');
            AppendUtf16(c, expected);
            expected += L"b\n";
            EXPECT_EQ(ReadThroughStream(line), expected);
        }
    }
}

// Sequences that RFC 3629 forbids, each after valid text and before a line feed.
const char* const Invalid[] = {
    "\xC0\xAF",         // overlong "/"
    "\xC1\xBF",         // overlong, two bytes
    "\xE0\x80\xAF",     // overlong, three bytes
    "\xF0\x80\x80\xAF", // overlong, four bytes
    "\xED\xA0\x80",     // a high surrogate
    "\xED\xBF\xBF",     // a low surrogate
    "\xF4\x90\x80\x80", // beyond U+10FFFF
    "\xF5\x80\x80\x80", // a lead byte that no character has
    "\xE2\x82",         // cut short: the line feed after it is no continuation
    "\xF0\x9F\x98",     // cut short after three bytes
    "\x80",             // a continuation alone
    "\xFF",
};

std::wstring AsWindows1252(const std::string& bytes) {
    std::wstring text;
    for (unsigned char byte : bytes)
        text += Windows1252Character(byte);
    return text;
}

// Without a mark, the whole script reads as Windows-1252, and the stream reader reads the line
// that holds the sequence so (it decides line by line).
TEST(TextDecodingTest, InvalidUtf8ReadsAsWindows1252WithoutAMarkAndIsRefusedWithOne) {
    std::mt19937 random(Seed + 1);
    SCOPED_TRACE(testing::Message() << "seed " << Seed + 1);
    for (int round = 0; round < 36; ++round) {
        const std::string bad = Invalid[round % (sizeof Invalid / sizeof Invalid[0])];
        SCOPED_TRACE(testing::Message() << "round " << round << ", sequence " << testing::PrintToString(bad));
        Sample linesBefore = RandomText(random, random() % 20);
        AppendUtf8(U'\n', linesBefore.utf8);
        linesBefore.text += L'\n';
        const Sample lineStart = RandomText(random, random() % 20, false);
        const Sample linesAfter = RandomText(random, random() % 20);
        const std::string badLine = lineStart.utf8 + bad + "\n";
        const std::string bytes = linesBefore.utf8 + badLine + linesAfter.utf8;

        size_t firstInvalid = 0;
        EXPECT_EQ(ReadAsScript(bytes, firstInvalid), AsWindows1252(bytes));
        EXPECT_EQ(firstInvalid, std::string::npos) << "Windows-1252 has no invalid byte";
        EXPECT_EQ(ReadThroughStream(bytes), linesBefore.text + AsWindows1252(badLine) + linesAfter.text);

        ReadAsScript(Utf8Mark + bytes, firstInvalid);
        EXPECT_EQ(firstInvalid, linesBefore.utf8.size() + lineStart.utf8.size())
            << "refused at the first byte of the sequence";
    }
}

} // namespace
