#include <gtest/gtest.h>

#include <new>
#include <string>

#include "Memory.h"
#include "StringFunctions.h"

namespace {

using StringFunctionsTest = ::testing::Test;

// The whole block, terminator and reserved units included, as the caller would see it.
std::wstring BlockUnits(const wchar_t* block) {
    return std::wstring(block, MemGetSize(block) / sizeof(wchar_t));
}

// Takes a block from the functions under test and releases it once its content is read.
std::wstring TakeBlock(wchar_t* block) {
    std::wstring units = BlockUnits(block);
    MemRelease(block);
    return units;
}

TEST_F(StringFunctionsTest, StrLenCountsUnitsAndReadsNullAsEmpty) {
    EXPECT_EQ(StrLen(nullptr), 0u);
    EXPECT_EQ(StrLen(L""), 0u);
    EXPECT_EQ(StrLen(L"abcé"), 4u);
}

TEST_F(StringFunctionsTest, StrCompGivesOnlyTheSignAndTreatsNullAsEmpty) {
    EXPECT_EQ(StrComp(nullptr, nullptr), 0);
    EXPECT_EQ(StrComp(nullptr, L""), 0);
    EXPECT_EQ(StrComp(L"a", L"b"), -1);
    EXPECT_EQ(StrComp(L"b", L"a"), 1);
    EXPECT_EQ(StrComp(L"z", L"a"), 1);
    EXPECT_EQ(StrComp(L"ab", L"abc"), -1);
    EXPECT_EQ(StrComp(nullptr, L"a"), -1);
    EXPECT_EQ(StrComp(L"a", nullptr), 1);
    EXPECT_EQ(StrComp(L"abc", L"abc"), 0);
    EXPECT_EQ(StrComp(L"A", L"a"), -1) << "case matters";
    EXPECT_EQ(StrComp(L"\xFFFF", L"a"), 1) << "units compare unsigned";
}

TEST_F(StringFunctionsTest, StrNCompGivesTheDifferenceWithinTheLimit) {
    EXPECT_EQ(StrNComp(L"abc", L"xyz", 0), 0);
    EXPECT_EQ(StrNComp(L"abcX", L"abcY", 3), 0);
    EXPECT_EQ(StrNComp(L"abcX", L"abcZ", 4), 'X' - 'Z');
    EXPECT_EQ(StrNComp(nullptr, L"abc", 2), -'a');
    EXPECT_EQ(StrNComp(L"abc", nullptr, 2), 'a');
    EXPECT_EQ(StrNComp(L"ab", L"ab", 10), 0) << "stops at the end of both";
    EXPECT_GT(StrNComp(L"\xFFFF", L"a", 1), 0);
}

TEST_F(StringFunctionsTest, StrICompComparesLoweredUnits) {
    EXPECT_EQ(StrIComp(L"ABC", L"abc"), 0);
    EXPECT_EQ(StrIComp(L"abc", L"abd"), -1);
    EXPECT_EQ(StrIComp(L"ab", L"abc"), -'c');
    EXPECT_EQ(StrIComp(L"A", L"z"), 'a' - 'z');
    EXPECT_EQ(StrIComp(L"", nullptr), 0);
    EXPECT_EQ(StrIComp(L"É", L"é"), 0);
    EXPECT_EQ(StrIComp(L"\x008A", L"\x009A"), 0);
    EXPECT_NE(StrIComp(L"Œ", L"œ"), 0) << "only the Windows-1252 positions fold";
}

TEST_F(StringFunctionsTest, StrNICompStopsAtTheLimit) {
    EXPECT_EQ(StrNIComp(L"abc", L"xyz", 0), 0);
    EXPECT_EQ(StrNIComp(L"ABCx", L"abcy", 3), 0);
    EXPECT_EQ(StrNIComp(L"ABCx", L"abcy", 4), -1);
    EXPECT_EQ(StrNIComp(nullptr, L"Abc", 2), -'a');
}

TEST_F(StringFunctionsTest, CaseMappingFollowsTheTableAtEveryBoundary) {
    const struct {
        wchar_t lower;
        wchar_t upper;
    } pairs[] = {{L'a', L'A'},     {L'z', L'Z'},     {0x00E0, 0x00C0}, {0x00F6, 0x00D6}, {0x00F8, 0x00D8},
                 {0x00FE, 0x00DE}, {0x009A, 0x008A}, {0x009C, 0x008C}, {0x009E, 0x008E}};
    for (const auto& pair : pairs) {
        EXPECT_EQ(ToUpper(pair.lower), pair.upper) << std::hex << int(pair.lower);
        EXPECT_EQ(ToLower(pair.upper), pair.lower) << std::hex << int(pair.upper);
    }
    for (wchar_t unchanged : {L'`', L'{', L'@', L'[', wchar_t(0x00F7), wchar_t(0x00FF), wchar_t(0x00D7),
                              wchar_t(0x00DF), wchar_t(0x009B), wchar_t(0x009F), wchar_t(0x008B)}) {
        EXPECT_EQ(ToUpper(unchanged), unchanged) << std::hex << int(unchanged);
        EXPECT_EQ(ToLower(unchanged), unchanged) << std::hex << int(unchanged);
    }
}

TEST_F(StringFunctionsTest, CaseMappingLeavesUnitsAbove00FFAloneAndIsInvertible) {
    for (unsigned int unit = 0; unit <= 0xFFFF; ++unit) {
        const auto c = static_cast<wchar_t>(unit);
        if (unit > 0xFF) {
            ASSERT_EQ(ToUpper(c), c) << std::hex << unit;
            ASSERT_EQ(ToLower(c), c) << std::hex << unit;
        }
        if (ToUpper(c) != c) {
            ASSERT_EQ(ToLower(ToUpper(c)), c) << std::hex << unit;
        }
        if (ToLower(c) != c) {
            ASSERT_EQ(ToUpper(ToLower(c)), c) << std::hex << unit;
        }
    }
}

TEST_F(StringFunctionsTest, StrDupCopiesIntoAnExactBlock) {
    EXPECT_EQ(StrDup(nullptr), nullptr);
    const wchar_t* source = L"abc";
    wchar_t* copy = StrDup(source);
    EXPECT_NE(copy, source);
    EXPECT_EQ(TakeBlock(copy), std::wstring(L"abc", 4));
    EXPECT_EQ(TakeBlock(StrDup(L"")), std::wstring(1, L'\0'));
}

TEST_F(StringFunctionsTest, StrNDupCutsPrefixesAndReservesZeroUnits) {
    EXPECT_EQ(TakeBlock(StrNDup(L"abcdef", 3, 0, 0)), std::wstring(L"abc", 4));
    EXPECT_EQ(TakeBlock(StrNDup(L"ab", 10, 0, 0)), std::wstring(L"ab", 3));
    EXPECT_EQ(TakeBlock(StrNDup(L"abc", 2, 2, 3)), std::wstring(L"\0\0ab\0\0\0\0", 8));
    EXPECT_EQ(TakeBlock(StrNDup(nullptr, 5, 2, 3)), std::wstring(1, L'\0'));
}

TEST_F(StringFunctionsTest, StrNDupRefusesASizeThatWouldWrapAround) {
    EXPECT_THROW(StrNDup(L"abc", 3, 0xFFFFFFFFu, 2), std::bad_alloc);
}

TEST_F(StringFunctionsTest, StrCatJoinsAndAlwaysReturnsAFreshBlock) {
    EXPECT_EQ(StrCat(nullptr, nullptr), nullptr);
    const wchar_t* text = L"ab";
    wchar_t* onlyRight = StrCat(nullptr, text);
    EXPECT_NE(onlyRight, text);
    EXPECT_EQ(TakeBlock(onlyRight), std::wstring(L"ab", 3));
    EXPECT_EQ(TakeBlock(StrCat(text, nullptr)), std::wstring(L"ab", 3));
    EXPECT_EQ(TakeBlock(StrCat(L"ab", L"cdé")), std::wstring(L"abcdé", 6));
    EXPECT_EQ(TakeBlock(StrCat(L"", L"")), std::wstring(1, L'\0'));
}

TEST_F(StringFunctionsTest, MultiStrLenCountsEveryElementWithItsTerminator) {
    EXPECT_EQ(MultiStrLen(nullptr), 0u);
    EXPECT_EQ(MultiStrLen(L""), 0u);
    EXPECT_EQ(MultiStrLen(L"abc\0de\0"), 7u);
    EXPECT_EQ(MultiStrLen(L"x\0"), 2u);
}

} // namespace
