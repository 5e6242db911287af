#include "TextDecoding.h"

#include "ConsoleOutput.h"

namespace {

const wchar_t Replacement = 0xFFFD;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence at the start of `bytes` (RFC 3629: no overlong form, no
// surrogate, nothing beyond U+10FFFF), or 0 when it is not one.
size_t Utf8SequenceLength(const unsigned char* bytes, size_t count) {
    const unsigned char lead = bytes[0];
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (count < length || bytes[1] < low || bytes[1] > high)
        return 0;
    for (size_t i = 2; i < length; ++i)
        if (!IsContinuation(bytes[i]))
            return 0;
    return length;
}

void AppendCodePoint(unsigned long codePoint, std::wstring& text) {
    if (codePoint < 0x10000) {
        text += static_cast<wchar_t>(codePoint);
    } else {
        codePoint -= 0x10000;
        text += static_cast<wchar_t>(0xD800 + (codePoint >> 10));
        text += static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF));
    }
}

size_t DecodeUtf8(const unsigned char* bytes, size_t count, std::wstring& text) {
    size_t firstInvalid = std::string::npos;
    for (size_t at = 0; at < count;) {
        const size_t length = Utf8SequenceLength(bytes + at, count - at);
        if (length == 0) {
            if (firstInvalid == std::string::npos)
                firstInvalid = at;
            text += Replacement;
            ++at;
            continue;
        }
        unsigned long codePoint = length == 1 ? bytes[at] : bytes[at] & (0x7F >> length);
        for (size_t i = 1; i < length; ++i)
            codePoint = (codePoint << 6) | (bytes[at + i] & 0x3F);
        AppendCodePoint(codePoint, text);
        at += length;
    }
    return firstInvalid;
}

// Code units pass as they are, lone surrogates included: they are what the platform's names hold.
size_t DecodeUtf16(const unsigned char* bytes, size_t count, bool bigEndian, std::wstring& text) {
    for (size_t at = 0; at + 1 < count; at += 2) {
        const unsigned first = bytes[at], second = bytes[at + 1];
        text += static_cast<wchar_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
    }
    if (count % 2 == 0)
        return std::string::npos;
    text += Replacement;
    return count - 1;
}

} // namespace

ByteOrderMark FindByteOrderMark(const char* bytes, size_t count) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    if (count >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)
        return {TextEncoding::Utf8, 3};
    if (count >= 2 && b[0] == 0xFF && b[1] == 0xFE)
        return {TextEncoding::Utf16LE, 2};
    if (count >= 2 && b[0] == 0xFE && b[1] == 0xFF)
        return {TextEncoding::Utf16BE, 2};
    return {TextEncoding::Windows1252, 0};
}

TextEncoding EncodingWithoutMark(const char* bytes, size_t count) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    bool beyondAscii = false;
    for (size_t at = 0; at < count;) {
        const size_t length = Utf8SequenceLength(b + at, count - at);
        if (length == 0)
            return TextEncoding::Windows1252;
        beyondAscii = beyondAscii || length > 1;
        at += length;
    }
    return beyondAscii ? TextEncoding::Utf8 : TextEncoding::Windows1252;
}

size_t DecodeText(TextEncoding encoding, const char* bytes, size_t count, std::wstring& text) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    switch (encoding) {
    case TextEncoding::Utf8:
        return DecodeUtf8(b, count, text);
    case TextEncoding::Utf16LE:
        return DecodeUtf16(b, count, false, text);
    case TextEncoding::Utf16BE:
        return DecodeUtf16(b, count, true, text);
    case TextEncoding::Windows1252:
        break;
    }
    for (size_t at = 0; at < count; ++at)
        text += Windows1252Character(b[at]);
    return std::string::npos;
}

size_t WholeUtf8Characters(const char* bytes, size_t count) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    for (size_t back = 1; back <= 3 && back <= count; ++back) {
        const unsigned char byte = b[count - back];
        if (byte < 0x80)
            return count;
        if (byte >= 0xC0) {
            const size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
            return length > back ? count - back : count;
        }
    }
    return count;
}

const wchar_t* EncodingName(TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Utf8:
        return L"UTF-8";
    case TextEncoding::Utf16LE:
        return L"UTF-16 LE";
    case TextEncoding::Utf16BE:
        return L"UTF-16 BE";
    case TextEncoding::Windows1252:
        break;
    }
    return L"Windows-1252";
}
