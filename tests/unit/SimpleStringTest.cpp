#include <gtest/gtest.h>

#include <cstdarg>
#include <iomanip>
#include <sstream>
#include <string>

#include "Memory.h"
#include "SimpleString.h"

namespace {

using SimpleStringTest = ::testing::Test;

const wchar_t* Text(const SimpleString& s) {
    return s;
}

// True when the buffer holds exactly the text and its terminator.
bool HasExactBlock(const SimpleString& s) {
    return Text(s) && MemGetSize(Text(s)) == (s.Length() + 1) * sizeof(wchar_t);
}

std::wstring Printed(const SimpleString& s) {
    std::wostringstream out;
    out << s;
    return out.str();
}

SimpleString FormThroughList(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    SimpleString result = SimpleString::FormV(format, args);
    va_end(args);
    return result;
}

// Counting this format overflows an int, which the runtime reports as a rejected format.
const wchar_t* const kRejectedFormat = L"%2147483647d%2147483647d";

TEST_F(SimpleStringTest, NullAndEmptyAreDistinctStatesThatCompareAlike) {
    const SimpleString null;
    const SimpleString empty(L'\0');
    EXPECT_EQ(Text(null), nullptr);
    ASSERT_NE(Text(empty), nullptr);
    EXPECT_TRUE(HasExactBlock(empty));
    EXPECT_TRUE(!null);
    EXPECT_TRUE(!empty);
    EXPECT_EQ(null.Length(), 0u);
    EXPECT_EQ(empty.Length(), 0u);
    EXPECT_EQ(null == empty, 1);
    EXPECT_EQ(null < empty, 0);
    EXPECT_EQ(Printed(null), L"(null)");
    EXPECT_EQ(Printed(empty), L"");
}

TEST_F(SimpleStringTest, ConstructorsCopyIntoExactBlocks) {
    const wchar_t* source = L"abc";
    const SimpleString fromText(source);
    EXPECT_NE(Text(fromText), source);
    EXPECT_STREQ(Text(fromText), L"abc");
    EXPECT_TRUE(HasExactBlock(fromText));

    const SimpleString copy(fromText);
    EXPECT_NE(Text(copy), Text(fromText));
    EXPECT_STREQ(Text(copy), L"abc");

    EXPECT_EQ(Text(SimpleString(static_cast<const wchar_t*>(nullptr))), nullptr);
    EXPECT_EQ(Text(SimpleString(SimpleString())), nullptr);
    EXPECT_STREQ(Text(SimpleString(L'é')), L"é");
    EXPECT_TRUE(!!SimpleString(L'x'));
}

TEST_F(SimpleStringTest, AllocInstallsAZeroFilledBufferOfTheGivenBytes) {
    SimpleString s(L"old");
    s.Alloc(10);
    ASSERT_NE(Text(s), nullptr);
    EXPECT_EQ(MemGetSize(Text(s)), 10u);
    EXPECT_TRUE(!s);
    s.Alloc(0);
    EXPECT_EQ(MemGetSize(Text(s)), sizeof(wchar_t)) << "always room for the terminator";
    EXPECT_EQ(s.Length(), 0u);
}

TEST_F(SimpleStringTest, AssignmentCopiesAndIgnoresItself) {
    SimpleString s(L"abc");
    const wchar_t* block = s;
    s = block;
    EXPECT_EQ(Text(s), block);
    s = s;
    EXPECT_EQ(Text(s), block);

    s = block + 1;
    EXPECT_STREQ(Text(s), L"bc") << "a tail of its own text";
    EXPECT_TRUE(HasExactBlock(s));

    s = SimpleString(L"xyz");
    EXPECT_STREQ(Text(s), L"xyz");
    s = static_cast<const wchar_t*>(nullptr);
    EXPECT_EQ(Text(s), nullptr);
    s = L'\0';
    EXPECT_NE(Text(s), nullptr);
    EXPECT_STREQ(Text(s), L"");
    s = L'q';
    EXPECT_STREQ(Text(s), L"q");
}

TEST_F(SimpleStringTest, AppendingStringsFollowsConcatenation) {
    SimpleString s;
    s += static_cast<const wchar_t*>(nullptr);
    EXPECT_EQ(Text(s), nullptr);
    s += L"ab";
    EXPECT_STREQ(Text(s), L"ab");
    s += static_cast<const wchar_t*>(nullptr);
    EXPECT_STREQ(Text(s), L"ab");
    s += SimpleString(L"cd");
    EXPECT_STREQ(Text(s), L"abcd");
    s += s;
    EXPECT_STREQ(Text(s), L"abcdabcd");
    EXPECT_TRUE(HasExactBlock(s));
}

TEST_F(SimpleStringTest, AppendingACharacterAlwaysAllocates) {
    SimpleString s;
    s += L'\0';
    ASSERT_NE(Text(s), nullptr);
    EXPECT_STREQ(Text(s), L"");
    s += L'a';
    s += L'\0';
    s += L'b';
    EXPECT_STREQ(Text(s), L"ab");
    EXPECT_TRUE(HasExactBlock(s));
}

TEST_F(SimpleStringTest, CaseMappingWorksInPlaceAndLeavesNullAlone) {
    SimpleString s(L"abc é ÿ œ");
    s.ToUpper();
    EXPECT_STREQ(Text(s), L"ABC É ÿ œ");
    s.ToLower();
    EXPECT_STREQ(Text(s), L"abc é ÿ œ");
    SimpleString null;
    null.ToUpper();
    null.ToLower();
    EXPECT_EQ(Text(null), nullptr);
}

TEST_F(SimpleStringTest, CompareMembersUseTheStringFunctions) {
    const SimpleString s(L"abc");
    EXPECT_EQ(s.Compare(L"abd"), -1);
    EXPECT_EQ(s.Compare(SimpleString(L"abc")), 0);
    EXPECT_EQ(s.Compare(L"abz", 2), 0);
    EXPECT_EQ(s.Compare(L"abz", 3), 'c' - 'z');
    EXPECT_EQ(s.CompareNoCase(L"ABC"), 0);
    EXPECT_EQ(s.CompareNoCase(L"ABCD"), -'d');
    EXPECT_EQ(s.CompareNoCase(SimpleString(L"ABx"), 2), 0);
    EXPECT_EQ(SimpleString().Compare(L""), 0);
}

TEST_F(SimpleStringTest, ComparisonOperatorsReturnOneOrZeroInEveryForm) {
    const SimpleString a(L"abc");
    const SimpleString b(L"abd");
    const wchar_t* rawB = L"abd";
    const wchar_t* rawA = L"abc";

    EXPECT_EQ(a == SimpleString(L"abc"), 1);
    EXPECT_EQ(a == rawB, 0);
    EXPECT_EQ(rawA == a, 1);
    EXPECT_EQ(a != b, 1);
    EXPECT_EQ(a != rawA, 0);
    EXPECT_EQ(rawB != a, 1);

    EXPECT_EQ(a < b, 1);
    EXPECT_EQ(a < rawA, 0);
    EXPECT_EQ(rawA < b, 1);
    EXPECT_EQ(a > b, 0);
    EXPECT_EQ(b > rawA, 1);
    EXPECT_EQ(rawB > a, 1);

    EXPECT_EQ(a <= b, 1);
    EXPECT_EQ(b <= rawA, 0);
    EXPECT_EQ(rawA <= a, 1);
    EXPECT_EQ(a >= b, 0);
    EXPECT_EQ(a >= rawA, 1);
    EXPECT_EQ(rawB >= a, 1);
}

TEST_F(SimpleStringTest, PlusOperatorsLeaveTheOperandsAlone) {
    const SimpleString ab(L"ab");
    const SimpleString null;
    EXPECT_STREQ(Text(ab + SimpleString(L"cd")), L"abcd");
    EXPECT_STREQ(Text(ab + L"cd"), L"abcd");
    EXPECT_STREQ(Text(L"cd" + ab), L"cdab");
    EXPECT_STREQ(Text(ab + L'c'), L"abc");
    EXPECT_STREQ(Text(L'c' + ab), L"cab");
    EXPECT_STREQ(Text(ab + L'\0'), L"ab");
    EXPECT_STREQ(Text(L'\0' + ab), L"ab");
    EXPECT_STREQ(Text(ab), L"ab");

    EXPECT_EQ(Text(null + null), nullptr);
    EXPECT_STREQ(Text(null + L"x"), L"x");
    EXPECT_NE(Text(null + L'\0'), nullptr);
    EXPECT_NE(Text(L'\0' + null), nullptr);
}

TEST_F(SimpleStringTest, FormatTakesWideStringsForPercentS) {
    SimpleString s(L"old");
    s.Format(L"%s=%d (%ls)", L"wide é", -42, L"also wide");
    EXPECT_STREQ(Text(s), L"wide é=-42 (also wide)");
    EXPECT_TRUE(HasExactBlock(s));
    EXPECT_STREQ(Text(SimpleString::Form(L"%ld-%s", 7L, L"x")), L"7-x");
    EXPECT_STREQ(Text(FormThroughList(L"[%5s]", L"ab")), L"[   ab]");
}

TEST_F(SimpleStringTest, FormatHasNoLengthLimit) {
    const std::wstring longText(20000, L'x');
    const SimpleString s = SimpleString::Form(L"<%s>", longText.c_str());
    EXPECT_EQ(s.Length(), 20002u);
    EXPECT_TRUE(HasExactBlock(s));
}

TEST_F(SimpleStringTest, NullOrRejectedFormatKeepsTheText) {
    SimpleString s(L"kept");
    s.Format(nullptr);
    EXPECT_STREQ(Text(s), L"kept");
    s.Format(kRejectedFormat, 1, 2);
    EXPECT_STREQ(Text(s), L"kept");
    EXPECT_EQ(Text(SimpleString::Form(kRejectedFormat, 1, 2)), nullptr);
    EXPECT_EQ(Text(FormThroughList(nullptr)), nullptr);
}

TEST_F(SimpleStringTest, PrintingHonoursWidthAndFill) {
    std::wostringstream out;
    out << std::setw(6) << std::setfill(L'.') << SimpleString(L"ab") << L'|' << std::setw(8) << SimpleString()
        << L'|' << std::left << std::setw(3) << SimpleString(L'\0') << L'|';
    EXPECT_EQ(out.str(), L"....ab|..(null)|...|");
}

} // namespace
