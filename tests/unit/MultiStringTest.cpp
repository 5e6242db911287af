#include <gtest/gtest.h>

#include <initializer_list>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Memory.h"
#include "MultiString.h"
#include "SimpleString.h"

namespace {

using MultiStringTest = ::testing::Test;

const wchar_t* Block(const MultiString& m) {
    return m;
}

// The whole block as stored; comparing it with Layout checks the content and the exact size at once.
std::wstring BlockUnits(const MultiString& m) {
    return std::wstring(Block(m), MemGetSize(Block(m)) / sizeof(wchar_t));
}

std::wstring Layout(std::initializer_list<const wchar_t*> elements) {
    std::wstring units;
    for (const wchar_t* element : elements) {
        units += element;
        units += L'\0';
    }
    return units + L'\0';
}

std::wstring Printed(const MultiString& m) {
    std::wostringstream out;
    out << m;
    return out.str();
}

TEST_F(MultiStringTest, SingleStringConstructionMakesOneElementOrNone) {
    const MultiString abc(L"abc", 0);
    EXPECT_EQ(BlockUnits(abc), Layout({L"abc"}));
    EXPECT_EQ(abc.Length(), 4u);
    EXPECT_EQ(abc.NumberOfElements(), 1u);

    const MultiString empty(L"", 0);
    ASSERT_NE(Block(empty), nullptr);
    EXPECT_EQ(BlockUnits(empty), Layout({}));
    EXPECT_EQ(empty.NumberOfElements(), 0u);

    const MultiString null(nullptr, 0);
    EXPECT_EQ(Block(null), nullptr);
    EXPECT_EQ(null.Length(), 0u);
    EXPECT_EQ(null.NumberOfElements(), 0u);

    EXPECT_EQ(BlockUnits(MultiString(SimpleString(L"é"))), Layout({L"é"}));
    EXPECT_EQ(Block(MultiString(SimpleString())), nullptr);
}

TEST_F(MultiStringTest, ListConstructionAndCopiesDuplicateTheWholeList) {
    const MultiString list(L"ab\0cd\0", 1);
    EXPECT_EQ(BlockUnits(list), Layout({L"ab", L"cd"}));
    EXPECT_EQ(BlockUnits(MultiString(L"", 1)), Layout({}));

    const MultiString copy(list);
    EXPECT_NE(Block(copy), Block(list));
    EXPECT_EQ(BlockUnits(copy), Layout({L"ab", L"cd"}));
    EXPECT_EQ(Block(MultiString(MultiString())), nullptr);
}

TEST_F(MultiStringTest, ArrayConstructionSkipsEmptyEntries) {
    const wchar_t* const strings[] = {L"a", nullptr, L"", L"b"};
    EXPECT_EQ(BlockUnits(MultiString(strings, 4)), Layout({L"a", L"b"}));
    EXPECT_EQ(BlockUnits(MultiString(strings, 0)), Layout({}));

    const SimpleString simple[] = {SimpleString(L"x"), SimpleString(), SimpleString(L'\0'),
                                   SimpleString(L"y")};
    EXPECT_EQ(BlockUnits(MultiString(simple, 4)), Layout({L"x", L"y"}));

    const MultiString lists[] = {MultiString(L"a\0b\0", 1), MultiString(), MultiString(L"", 0),
                                 MultiString(L"c", 0)};
    EXPECT_EQ(BlockUnits(MultiString(lists, 4)), Layout({L"a", L"b", L"c"}));
}

TEST_F(MultiStringTest, AllocInstallsAnEmptyListOfTheGivenBytes) {
    MultiString m(L"old", 0);
    m.Alloc(12);
    EXPECT_EQ(MemGetSize(Block(m)), 12u);
    EXPECT_EQ(m.NumberOfElements(), 0u);
    m.Alloc(1);
    EXPECT_EQ(MemGetSize(Block(m)), sizeof(wchar_t)) << "always room for the closing NUL";
    EXPECT_EQ(m.Length(), 0u);
}

TEST_F(MultiStringTest, AssignmentReplacesAndIgnoresItself) {
    MultiString m(L"a\0b\0", 1);
    const wchar_t* block = m;
    m = block;
    EXPECT_EQ(Block(m), block);
    m = m;
    EXPECT_EQ(Block(m), block);

    m = L"x";
    EXPECT_EQ(BlockUnits(m), Layout({L"x"}));
    m = L"";
    EXPECT_EQ(BlockUnits(m), Layout({}));
    m = SimpleString(L"y");
    EXPECT_EQ(BlockUnits(m), Layout({L"y"}));
    m = MultiString(L"p\0q\0", 1);
    EXPECT_EQ(BlockUnits(m), Layout({L"p", L"q"}));
    m = static_cast<const wchar_t*>(nullptr);
    EXPECT_EQ(Block(m), nullptr);
}

TEST_F(MultiStringTest, AppendingNeverChecksForDuplicates) {
    MultiString m;
    m += L"a";
    m += L"a";
    m += SimpleString(L"b");
    m += MultiString(L"x\0y\0", 1);
    m += L"";
    EXPECT_EQ(BlockUnits(m), Layout({L"a", L"a", L"b", L"x", L"y"}));
}

TEST_F(MultiStringTest, AddInsertsAtAPositionOrAppendsPastTheEnd) {
    const MultiString ac(L"a\0c\0", 1);
    EXPECT_EQ(BlockUnits(MultiString(ac).Add(L"b", 0, 0, 0, 0)), Layout({L"b", L"a", L"c"}));
    EXPECT_EQ(BlockUnits(MultiString(ac).Add(L"b", 0, 1, 0, 0)), Layout({L"a", L"b", L"c"}));
    EXPECT_EQ(BlockUnits(MultiString(ac).Add(L"b", 0, 7, 0, 0)), Layout({L"a", L"c", L"b"}));
    EXPECT_EQ(BlockUnits(MultiString(ac).Add(L"b", 1, 0, 0, 0)), Layout({L"a", L"c", L"b"}));
    EXPECT_EQ(BlockUnits(MultiString().Add(L"b", 0, 3, 0, 1)), Layout({L"b"}));
    EXPECT_EQ(BlockUnits(MultiString(L"", 0).Add(L"b", 0, 0, 0, 1)), Layout({L"b"}));
}

TEST_F(MultiStringTest, NoDuplicateLooksOnlyAtTheElementAtTheInsertionPoint) {
    MultiString ac(L"a\0c\0", 1);
    const wchar_t* block = ac;
    ac.Add(L"A", 0, 0, 0, 1);
    EXPECT_EQ(Block(ac), block) << "unchanged";
    EXPECT_EQ(BlockUnits(MultiString(ac).Add(L"c", 0, 0, 0, 1)), Layout({L"c", L"a", L"c"}));
    EXPECT_EQ(BlockUnits(MultiString(ac).Add(L"a", 1, 0, 0, 1)), Layout({L"a", L"c", L"a"}));
    EXPECT_EQ(BlockUnits(MultiString(ac).Add(SimpleString(L"C"), 0, 1, 1)), Layout({L"a", L"c"}));
    EXPECT_EQ(BlockUnits(MultiString(ac).Add(L"c", 0, 5, 0, 1)), Layout({L"a", L"c", L"c"}));
}

TEST_F(MultiStringTest, AddingNothingChangesNothing) {
    MultiString a(L"a", 0);
    const wchar_t* block = a;
    a.Add(L"", 0, 0, 0, 0).Add(nullptr, 1, 0, 0, 0).Add(L"", 0, 0, 1, 0).Add(MultiString(), 1, 0);
    EXPECT_EQ(Block(a), block);
    EXPECT_EQ(BlockUnits(a), Layout({L"a"}));
}

TEST_F(MultiStringTest, AddingAListInsertsAllItsElements) {
    const MultiString xy(L"x\0y\0", 1);
    EXPECT_EQ(BlockUnits(MultiString(L"a", 0).Add(xy, 1, 0)), Layout({L"a", L"x", L"y"}));
    EXPECT_EQ(BlockUnits(MultiString(L"a", 0).Add(xy, 0, 0)), Layout({L"x", L"y", L"a"}));
    EXPECT_EQ(BlockUnits(MultiString(L"a", 0).Add(L"x\0y\0", 0, 1, 1, 1)), Layout({L"a", L"x", L"y"}));

    MultiString self(L"a\0b\0", 1);
    self.Add(self, 0, 1);
    EXPECT_EQ(BlockUnits(self), Layout({L"a", L"a", L"b", L"b"}));
}

TEST_F(MultiStringTest, DeleteByPositionShrinksToAnExactBlock) {
    MultiString abc(L"a\0bb\0c\0", 1);
    abc.Delete(1);
    EXPECT_EQ(BlockUnits(abc), Layout({L"a", L"c"}));

    const wchar_t* block = abc;
    abc.Delete(5).Delete(2);
    EXPECT_EQ(Block(abc), block) << "unchanged";

    MultiString single(L"x", 0);
    single.Delete(0ul);
    EXPECT_EQ(BlockUnits(single), Layout({}));
    EXPECT_EQ(Block(MultiString().Delete(0ul)), nullptr);
}

TEST_F(MultiStringTest, DeleteByTextRemovesEveryMatchRegardlessOfCase) {
    MultiString m(L"a\0b\0A\0", 1);
    m.Delete(L"A");
    EXPECT_EQ(BlockUnits(m), Layout({L"b"}));

    const wchar_t* block = m;
    m.Delete(L"z").Delete(L"").Delete(static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(Block(m), block) << "unchanged";

    m.Delete(SimpleString(L"B"));
    EXPECT_EQ(BlockUnits(m), Layout({}));
}

TEST_F(MultiStringTest, DeleteByTextMayNameAnElementOfTheListItself) {
    MultiString m(L"a\0b\0a\0", 1);
    m.Delete(Block(m));
    EXPECT_EQ(BlockUnits(m), Layout({L"b"}));
}

TEST_F(MultiStringTest, PlusOperatorsAppendTheRightOperand) {
    const MultiString ab(L"a\0b\0", 1);
    EXPECT_EQ(BlockUnits(ab + MultiString(L"c\0a\0", 1)), Layout({L"a", L"b", L"c", L"a"}));
    EXPECT_EQ(BlockUnits(ab + SimpleString(L"a")), Layout({L"a", L"b", L"a"}));
    EXPECT_EQ(BlockUnits(ab + L"c"), Layout({L"a", L"b", L"c"}));
    EXPECT_EQ(BlockUnits(SimpleString(L"z") + ab), Layout({L"z", L"a", L"b"}));
    EXPECT_EQ(BlockUnits(L"z" + ab), Layout({L"z", L"a", L"b"}));
    EXPECT_EQ(BlockUnits(L"" + ab), Layout({L"a", L"b"}));
    EXPECT_EQ(BlockUnits(ab), Layout({L"a", L"b"}));
    EXPECT_EQ(Block(MultiString() + MultiString()), nullptr);
}

TEST_F(MultiStringTest, PrintingWritesOneLinePerElement) {
    EXPECT_EQ(Printed(MultiString(L"abc\0de\0", 1)), L"abc\nde\n");
    EXPECT_EQ(Printed(MultiString(L"", 0)), L"");
    EXPECT_EQ(Printed(MultiString()), L"(null)");
}

// The list as a vector of strings (none: a null list), changed by Add and Delete as they are defined.
class ListModel {
public:
    using Elements = std::optional<std::vector<std::wstring>>;

    static bool SameText(const std::wstring& a, const std::wstring& b) {
        auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (lower(a[i]) != lower(b[i]))
                return false;
        return true;
    }

    void Add(const std::vector<std::wstring>& inserted, bool append, unsigned long position, bool single,
             bool noDuplicate) {
        if (inserted.empty())
            return;
        if (!m_elements) {
            m_elements.emplace(inserted);
            return;
        }
        std::vector<std::wstring>& elements = *m_elements;
        const size_t at = append ? elements.size() : std::min<size_t>(position, elements.size());
        if (!append && single && noDuplicate && at < elements.size() && SameText(elements[at], inserted[0]))
            return;
        elements.insert(elements.begin() + static_cast<std::ptrdiff_t>(at), inserted.begin(), inserted.end());
    }
    void Delete(unsigned long position) {
        if (m_elements && position < m_elements->size())
            m_elements->erase(m_elements->begin() + static_cast<std::ptrdiff_t>(position));
    }
    void Delete(const std::wstring& text) {
        if (!m_elements || text.empty())
            return;
        std::vector<std::wstring> kept;
        for (const std::wstring& element : *m_elements)
            if (!SameText(element, text))
                kept.push_back(element);
        m_elements = kept;
    }
    // The block the list must be, or nothing for a null list.
    std::optional<std::wstring> Units() const {
        if (!m_elements)
            return std::nullopt;
        std::wstring units;
        for (const std::wstring& element : *m_elements)
            units += element + L'\0';
        return units + L'\0';
    }

private:
    Elements m_elements;
};

std::optional<std::wstring> UnitsOf(const MultiString& m) {
    return Block(m) ? std::optional<std::wstring>(BlockUnits(m)) : std::nullopt;
}

TEST_F(MultiStringTest, RandomAddsAndDeletesFollowTheListModel) {
    const std::wstring pool[] = {L"a", L"A", L"b", L"ab", L"AB", L"aB", L"c", L"\u00E9t\u00E9", L"\u20AC"};
    std::mt19937 random(4242);
    auto between = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    auto pick = [&] { return pool[between(0, static_cast<int>(std::size(pool)) - 1)]; };
    for (int sequence = 0; sequence < 300; ++sequence) {
        MultiString list;
        ListModel model;
        for (int step = 0; step < 40; ++step) {
            const bool append = between(0, 3) == 0;
            const unsigned long position = static_cast<unsigned long>(between(0, 8));
            const bool noDuplicate = between(0, 1) == 1;
            switch (between(0, 5)) {
            case 0: {
                const std::wstring text = between(0, 9) == 0 ? std::wstring() : pick();
                list.Add(text.c_str(), append, position, 0, noDuplicate);
                model.Add(text.empty() ? std::vector<std::wstring>() : std::vector<std::wstring>{text}, append,
                          position, true, noDuplicate);
                break;
            }
            case 1: {
                std::vector<std::wstring> elements(static_cast<size_t>(between(0, 3)));
                std::wstring units;
                for (std::wstring& element : elements)
                    units += (element = pick()) + L'\0';
                units += L'\0';
                if (between(0, 1) == 0)
                    list.Add(units.c_str(), append, position, 1, noDuplicate);
                else
                    list.Add(MultiString(units.c_str(), 1), append, position);
                model.Add(elements, append, position, false, noDuplicate);
                break;
            }
            case 2:
            case 3:
                list.Delete(position);
                model.Delete(position);
                break;
            default: {
                const std::wstring text = between(0, 9) == 0 ? std::wstring() : pick();
                list.Delete(text.c_str());
                model.Delete(text);
                break;
            }
            }
            ASSERT_EQ(UnitsOf(list), model.Units()) << "sequence " << sequence << ", step " << step;
        }
    }
}

} // namespace
