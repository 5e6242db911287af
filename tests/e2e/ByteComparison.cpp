#include "ByteComparison.h"

#include <algorithm>
#include <cstdio>

namespace {

const size_t kContextBytes = 40;

std::string EscapeByte(unsigned char byte) {
    switch (byte) {
    case '\\':
        return "\\\\";
    case '\r':
        return "\\r";
    case '\n':
        return "\\n";
    case '\t':
        return "\\t";
    default:
        break;
    }
    if (byte >= 0x20 && byte < 0x7F) {
        return std::string(1, static_cast<char>(byte));
    }
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
    return hex;
}

size_t FirstDifference(const std::string& a, const std::string& b) {
    size_t common = std::min(a.size(), b.size());
    return static_cast<size_t>(std::mismatch(a.begin(), a.begin() + common, b.begin()).first - a.begin());
}

std::string ContextAfter(const std::string& bytes, size_t offset) {
    if (offset >= bytes.size()) {
        return "<end>";
    }
    return EscapeBytes(bytes.substr(offset, kContextBytes)) +
           (offset + kContextBytes < bytes.size() ? "..." : "");
}

} // namespace

std::string EscapeBytes(const std::string& bytes) {
    std::string escaped;
    for (char byte : bytes) {
        escaped += EscapeByte(static_cast<unsigned char>(byte));
    }
    return escaped;
}

testing::AssertionResult BytesEqual(const char* expectedExpression, const char* actualExpression,
                                    const std::string& expected, const std::string& actual) {
    if (expected == actual) {
        return testing::AssertionSuccess();
    }
    size_t offset = FirstDifference(expected, actual);
    size_t contextStart = offset > kContextBytes ? offset - kContextBytes : 0;
    std::string before =
        (contextStart > 0 ? "..." : "") + EscapeBytes(expected.substr(contextStart, offset - contextStart));
    return testing::AssertionFailure()
           << actualExpression << " differs from " << expectedExpression << " at byte " << offset
           << " (expected " << expected.size() << " bytes, actual " << actual.size() << " bytes)\n"
           << "  expected: " << before << ContextAfter(expected, offset) << "\n"
           << "  actual:   " << before << ContextAfter(actual, offset) << "\n"
           << "            " << std::string(before.size(), ' ') << "^";
}

testing::AssertionResult BytesEndWith(const char* expectedExpression, const char* actualExpression,
                                      const std::string& expectedEnd, const std::string& actual) {
    if (actual.size() < expectedEnd.size()) {
        return testing::AssertionFailure()
               << actualExpression << " is shorter (" << actual.size() << " bytes) than its expected end "
               << expectedExpression << " (" << expectedEnd.size() << " bytes): " << EscapeBytes(actual);
    }
    const std::string tail =
        "the last " + std::to_string(expectedEnd.size()) + " bytes of " + actualExpression;
    return BytesEqual(expectedExpression, tail.c_str(), expectedEnd,
                      actual.substr(actual.size() - expectedEnd.size()));
}
