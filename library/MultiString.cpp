#include "MultiString.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>

#include "Memory.h"
#include "StringFunctions.h"
#include "UnitBlock.h"

namespace {

// A run of units that goes into a list: one element with its terminator, or the elements of a list.
struct Units {
    const wchar_t* start;
    std::size_t count;
};

// An empty string is no element: it would read as the closing NUL.
Units AsElement(const wchar_t* s) {
    const unsigned int length = StrLen(s);
    return {s, length ? length + 1 : 0};
}

Units AsList(const wchar_t* m) {
    return {m, MultiStrLen(m)};
}

Units AsSource(const wchar_t* p, int isList) {
    return isList ? AsList(p) : AsElement(p);
}

const wchar_t* NextElement(const wchar_t* element) {
    return element + StrLen(element) + 1;
}

// A new block: the first `listUnits` units of list with `inserted` spliced in at `offset`, closed.
wchar_t* Spliced(const wchar_t* list, std::size_t listUnits, std::size_t offset, Units inserted) {
    wchar_t* block = AllocateUnits(std::uint64_t{listUnits} + inserted.count + 1);
    wchar_t* end = std::copy_n(list, offset, block);
    end = std::copy_n(inserted.start, inserted.count, end);
    std::copy_n(list + offset, listUnits - offset, end);
    return block;
}

wchar_t* CopyOf(const wchar_t* p, int isList) {
    return p ? Spliced(nullptr, 0, 0, AsSource(p, isList)) : nullptr;
}

// The block of the runs that `contribution` takes from each entry, one after another.
template <typename Entry, typename Contribution>
wchar_t* Joined(const Entry* entries, unsigned int count, Contribution contribution) {
    const Entry* const end = entries ? entries + count : entries;
    std::uint64_t total = 0;
    for (const Entry* entry = entries; entry != end; ++entry) {
        total += contribution(*entry).count;
    }
    wchar_t* block = AllocateUnits(total + 1);
    wchar_t* next = block;
    for (const Entry* entry = entries; entry != end; ++entry) {
        const Units units = contribution(*entry);
        next = std::copy_n(units.start, units.count, next);
    }
    return block;
}

// Offset of the element at `position`, or of the closing NUL when the list is shorter.
std::size_t OffsetOfElement(const wchar_t* list, unsigned long position) {
    const wchar_t* element = list;
    for (; position > 0 && *element; --position) {
        element = NextElement(element);
    }
    return static_cast<std::size_t>(element - list);
}

} // namespace

MultiString::MultiString() : m_mszList(nullptr) {}

MultiString::MultiString(const wchar_t* p, int isList) : m_mszList(CopyOf(p, isList)) {}

MultiString::MultiString(const SimpleString& s) : m_mszList(CopyOf(s, 0)) {}

MultiString::MultiString(const MultiString& other) : m_mszList(CopyOf(other.m_mszList, 1)) {}

MultiString::MultiString(const wchar_t* const* strings, unsigned int count)
    : m_mszList(Joined(strings, count, AsElement)) {}

MultiString::MultiString(const SimpleString* strings, unsigned int count)
    : m_mszList(Joined(strings, count, [](const SimpleString& s) { return AsElement(s); })) {}

MultiString::MultiString(const MultiString* lists, unsigned int count)
    : m_mszList(Joined(lists, count, [](const MultiString& m) { return AsList(m); })) {}

MultiString::~MultiString() {
    MemRelease(m_mszList);
}

void MultiString::Adopt(wchar_t* block) {
    wchar_t* old = m_mszList;
    m_mszList = block;
    MemRelease(old);
}

void MultiString::ShrinkToContent() {
    // The shortened list is already valid in place; failing to shrink only keeps some spare units.
    try {
        Adopt(CopyOf(m_mszList, 1));
    } catch (const std::bad_alloc&) {
    }
}

void MultiString::Alloc(unsigned int bytes) {
    // Fewer than one unit would not even hold the closing NUL that makes it read as empty.
    const unsigned int size = std::max<unsigned int>(bytes, sizeof(wchar_t));
    Adopt(static_cast<wchar_t*>(MemAlloc(size, 1, 0)));
}

MultiString& MultiString::operator=(const wchar_t* s) {
    if (s != m_mszList) {
        Adopt(CopyOf(s, 0));
    }
    return *this;
}

MultiString& MultiString::operator=(const SimpleString& s) {
    Adopt(CopyOf(s, 0));
    return *this;
}

MultiString& MultiString::operator=(const MultiString& other) {
    if (other.m_mszList != m_mszList) {
        Adopt(CopyOf(other.m_mszList, 1));
    }
    return *this;
}

MultiString& MultiString::operator+=(const wchar_t* s) {
    return Add(s, 1, 0, 0, 0);
}

MultiString& MultiString::operator+=(const SimpleString& s) {
    return Add(s, 1, 0, 0);
}

MultiString& MultiString::operator+=(const MultiString& other) {
    return Add(other, 1, 0);
}

MultiString& MultiString::Add(const wchar_t* text, int append, unsigned long position, int isList,
                              int noDuplicate) {
    if (!text || !*text) {
        return *this;
    }
    const std::size_t listUnits = MultiStrLen(m_mszList);
    std::size_t offset = 0;
    if (m_mszList) {
        offset = append ? listUnits : OffsetOfElement(m_mszList, position);
    }
    // Only the element at the insertion point is checked, and only when inserting one string.
    const bool checkDuplicate = !append && !isList && m_mszList && noDuplicate;
    if (checkDuplicate && StrIComp(m_mszList + offset, text) == 0) {
        return *this;
    }
    Adopt(Spliced(m_mszList, listUnits, offset, AsSource(text, isList)));
    return *this;
}

MultiString& MultiString::Add(const SimpleString& text, int append, unsigned long position, int noDuplicate) {
    return Add(text, append, position, 0, noDuplicate);
}

MultiString& MultiString::Add(const MultiString& list, int append, unsigned long position) {
    return Add(list, append, position, 1, 0);
}

MultiString& MultiString::Delete(unsigned long position) {
    if (!m_mszList) {
        return *this;
    }
    wchar_t* element = m_mszList + OffsetOfElement(m_mszList, position);
    if (!*element) {
        return *this;
    }
    // The following elements and the closing NUL move down over the removed one.
    wchar_t* closing = m_mszList + MultiStrLen(m_mszList);
    std::copy(element + StrLen(element) + 1, closing + 1, element);
    ShrinkToContent();
    return *this;
}

MultiString& MultiString::Delete(const wchar_t* text) {
    if (!m_mszList || !text || !*text) {
        return *this;
    }
    // The text may be one of this list's own elements, which the compaction overwrites.
    const SimpleString target(text);
    wchar_t* kept = m_mszList;
    bool removedAny = false;
    for (const wchar_t* element = m_mszList; *element;) {
        const wchar_t* next = NextElement(element);
        if (StrIComp(element, target) == 0) {
            removedAny = true;
        } else {
            kept = std::copy(element, next, kept);
        }
        element = next;
    }
    *kept = L'\0';
    if (removedAny) {
        ShrinkToContent();
    }
    return *this;
}

MultiString& MultiString::Delete(const SimpleString& text) {
    return Delete(static_cast<const wchar_t*>(text));
}

unsigned int MultiString::Length() const {
    return MultiStrLen(m_mszList);
}

unsigned int MultiString::NumberOfElements() const {
    unsigned int count = 0;
    for (const wchar_t* element = m_mszList; element && *element; element = NextElement(element)) {
        ++count;
    }
    return count;
}

MultiString operator+(const MultiString& a, const MultiString& b) {
    MultiString sum(a);
    sum += b;
    return sum;
}

MultiString operator+(const MultiString& a, const SimpleString& b) {
    MultiString sum(a);
    sum += b;
    return sum;
}

MultiString operator+(const MultiString& a, const wchar_t* b) {
    MultiString sum(a);
    sum += b;
    return sum;
}

MultiString operator+(const SimpleString& a, const MultiString& b) {
    MultiString sum(a);
    sum += b;
    return sum;
}

MultiString operator+(const wchar_t* a, const MultiString& b) {
    MultiString sum(a, 0);
    sum += b;
    return sum;
}

std::wostream& operator<<(std::wostream& out, const MultiString& m) {
    const wchar_t* list = m;
    if (!list) {
        return out << L"(null)";
    }
    for (const wchar_t* element = list; *element; element = NextElement(element)) {
        out << element << std::endl;
    }
    return out;
}
