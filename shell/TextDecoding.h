#pragma once
// How the bytes of a script file or of redirected input become characters. A byte-order mark
// decides (UTF-8, UTF-16 LE or UTF-16 BE) and is no character of the text. Without one, bytes that
// are valid UTF-8 and hold at least one byte above 0x7F are UTF-8, as Notepad and PowerShell 7
// write them; anything else is Windows-1252, the scripts' encoding of old, so that ASCII and
// Windows-1252 texts read as they always have.

#include <cstddef>
#include <string>

enum class TextEncoding { Windows1252, Utf8, Utf16LE, Utf16BE };

struct ByteOrderMark {
    TextEncoding encoding;
    // 0 when the bytes begin with no mark.
    size_t length;
};

// The mark at the start of `bytes`, if any.
ByteOrderMark FindByteOrderMark(const char* bytes, size_t count);

// The encoding of bytes without a mark.
TextEncoding EncodingWithoutMark(const char* bytes, size_t count);

// Appends the characters of `bytes` to `text`. What is not valid in the encoding (a broken UTF-8
// sequence, the odd last byte of UTF-16) becomes U+FFFD. Returns the offset of the first invalid
// byte, or std::string::npos when every byte was valid. Windows-1252 decodes every byte.
size_t DecodeText(TextEncoding encoding, const char* bytes, size_t count, std::wstring& text);

// The length of the first part of `bytes` that ends on a UTF-8 character boundary: a sequence cut
// by the end of the bytes is left out, to be decoded with the bytes that follow.
size_t WholeUtf8Characters(const char* bytes, size_t count);

// The encoding's name as the messages give it.
const wchar_t* EncodingName(TextEncoding encoding);
