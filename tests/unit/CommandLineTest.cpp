#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "CommandLineModel.h"
#include "Memory.h"

namespace {

class SplitCommandLineTest : public ::testing::Test {
protected:
    std::vector<std::wstring> Split(const wchar_t* line, const wchar_t* separators = L" \t",
                                    const wchar_t* rawAfter = L"=") {
        unsigned long count = 99;
        wchar_t** words = nullptr;
        EXPECT_EQ(SplitCommandLine(separators, rawAfter, line, &count, &words), 1);
        std::vector<std::wstring> result;
        for (unsigned long i = 0; i < count; ++i)
            result.emplace_back(words[i]);
        EXPECT_EQ(words[count], nullptr) << "the word array ends with a null entry";
        const unsigned int expectedBytes = static_cast<unsigned int>(sizeof(wchar_t*) * (count + 1));
        unsigned int textUnits = 0;
        for (const auto& word : result)
            textUnits += static_cast<unsigned int>(word.size()) + 1;
        EXPECT_EQ(MemGetSize(words), expectedBytes + textUnits * sizeof(wchar_t)) << "one exact block";
        MemRelease(words);
        return result;
    }
    using Words = std::vector<std::wstring>;
};

TEST_F(SplitCommandLineTest, QuotesGroupWordsAndDisappear) {
    EXPECT_EQ(Split(L"start \"Mon Service\""), (Words{L"start", L"Mon Service"}));
    EXPECT_EQ(Split(L"a\"b c\"d"), (Words{L"ab cd"}));
    EXPECT_EQ(Split(L"\"\" stop"), (Words{L"stop"}));
}

TEST_F(SplitCommandLineTest, BackslashesAreHalvedBeforeAQuoteAndKeptElsewhere) {
    EXPECT_EQ(Split(L"a\\\\\"b c\""), (Words{L"a\\b c"}));
    EXPECT_EQ(Split(L"a\\\"b"), (Words{L"a\"b"}));
    EXPECT_EQ(Split(L"C:\\dir\\\\file"), (Words{L"C:\\dir\\\\file"}));
    EXPECT_EQ(Split(L"end\\\\"), (Words{L"end\\\\"}));
}

TEST_F(SplitCommandLineTest, RawAfterCharacterKeepsTheRestAsTyped) {
    EXPECT_EQ(Split(L"create service_group grp order=5"), (Words{L"create", L"service_group", L"grp", L"order=5"}));
    EXPECT_EQ(Split(L"x name=\"a b\""), (Words{L"x", L"name=\"a b\""}));
    EXPECT_EQ(Split(L"k=\\\"v w\\\""), (Words{L"k=\\\"v", L"w\""}));
    // Inside quotes, or right after a run of backslashes, the character does not turn the word raw.
    EXPECT_EQ(Split(L"\"a=b\"\"c d\""), (Words{L"a=bc d"}));
    EXPECT_EQ(Split(L"a\\=\"b c\""), (Words{L"a\\=b c"}));
}

TEST_F(SplitCommandLineTest, LinesWithoutWords) {
    EXPECT_TRUE(Split(L"").empty());
    EXPECT_TRUE(Split(L" \t  \t").empty());
    EXPECT_TRUE(Split(L"\"\" \"\"").empty());
    EXPECT_TRUE(Split(nullptr).empty());
}

TEST_F(SplitCommandLineTest, UnbalancedQuoteRunsToTheEnd) {
    EXPECT_EQ(Split(L"say \"hello  world"), (Words{L"say", L"hello  world"}));
}

TEST_F(SplitCommandLineTest, OtherSeparatorsAndNoRawSet) {
    EXPECT_EQ(Split(L"order=\"a b\"", L"=", L""), (Words{L"order", L"a b"}));
    EXPECT_EQ(Split(L"order=2=3", L"=", L""), (Words{L"order", L"2", L"3"}));
}

TEST_F(SplitCommandLineTest, CharactersAboveLatinOnePassThrough) {
    EXPECT_EQ(Split(L"\u0152uvre \u20AC"), (Words{L"\u0152uvre", L"\u20AC"}));
}

TEST_F(SplitCommandLineTest, RandomLinesSplitAsTheRulesReadOneCharacterAtATime) {
    const wchar_t alphabet[] = {L' ', L'\t', L'"', L'"', L'\\', L'\\', L'=', L'a', L'b', L'\u00E9', L'\u0152', L'\u20AC', L'\uFFFF', L'\0'};
    const struct {
        const wchar_t* separators;
        const wchar_t* rawAfter;
    } sets[] = {{L" \t", L"="}, {L"=", L""}, {L" ", L"\"="}};
    std::mt19937 random(20260611);
    for (int round = 0; round < 20000; ++round) {
        std::wstring line(std::uniform_int_distribution<size_t>(0, 24)(random), L' ');
        for (wchar_t& c : line)
            c = alphabet[std::uniform_int_distribution<size_t>(0, std::size(alphabet) - 1)(random)];
        const auto& set = sets[round % std::size(sets)];
        ASSERT_EQ(Split(line.c_str(), set.separators, set.rawAfter), ReferenceSplit(line, set.separators, set.rawAfter))
            << "round " << round;
    }
}

} // namespace
