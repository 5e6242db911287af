#include "Completion.h"

#include <algorithm>

#include "CommandLine.h"
#include "CommandTree.h"
#include "Connections.h"
#include "Memory.h"
#include "Platform.h"
#include "StringFunctions.h"

namespace {

bool IsSeparator(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// Where the word that ends at the end of `text` begins, by the rules that split a line: a
// separator inside double quotes belongs to the word, and a backslash makes a quote literal.
size_t WordStart(const std::wstring& text) {
    size_t start = 0;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'"' && (i == 0 || text[i - 1] != L'\\'))
            quoted = !quoted;
        else if (!quoted && IsSeparator(text[i]))
            start = i + 1;
    }
    return start;
}

// The word as the command will receive it, read by the line's own splitter.
std::wstring Unquoted(const std::wstring& word) {
    const std::vector<std::wstring> words = CommandLineWords(word);
    return words.empty() ? std::wstring() : words.front();
}

// The word as it must be typed to reach the command whole: inside quotes when it holds a
// separator or a quote.
std::wstring Quoted(const std::wstring& word) {
    if (std::none_of(word.begin(), word.end(), [](wchar_t c) { return IsSeparator(c) || c == L'"'; }))
        return word;
    std::wstring quoted = L"\"";
    for (wchar_t c : word) {
        if (c == L'"')
            quoted += L'\\';
        quoted += c;
    }
    return quoted + L'"';
}

bool BeginsWith(const std::wstring& word, const std::wstring& prefix) {
    return word.size() >= prefix.size() &&
           StrNIComp(word.c_str(), prefix.c_str(), static_cast<unsigned int>(prefix.size())) == 0;
}

// Alphabetical without regard to case, each word once: the order of the cycle.
std::vector<std::wstring> InCycleOrder(std::vector<std::wstring> words) {
    std::sort(words.begin(), words.end(), [](const std::wstring& a, const std::wstring& b) {
        return StrIComp(a.c_str(), b.c_str()) < 0;
    });
    words.erase(std::unique(words.begin(), words.end(),
                            [](const std::wstring& a, const std::wstring& b) {
                                return StrIComp(a.c_str(), b.c_str()) == 0;
                            }),
                words.end());
    return words;
}

std::vector<std::wstring> Matching(const std::vector<std::wstring>& words, const std::wstring& prefix) {
    std::vector<std::wstring> matching;
    std::copy_if(words.begin(), words.end(), std::back_inserter(matching),
                 [&](const std::wstring& word) { return BeginsWith(word, prefix); });
    return matching;
}

// Where a walk of the tree stops before the word being completed: in a group, at a command with
// some of its words typed, or nowhere when a word names nothing (by the rules of the walks that
// run a line: commands before subgroups). A path named after `help` ends at its command: what
// follows takes no completion.
struct TreePlace {
    const _COMMAND_GROUP* group = nullptr;
    const _COMMAND* command = nullptr;
    size_t argumentCount = 0;
    bool pathOnly = false;
};

TreePlace Walk(std::vector<std::wstring>::const_iterator word, std::vector<std::wstring>::const_iterator end,
               bool pathOnly) {
    TreePlace place{&CommandRoot, nullptr, 0, pathOnly};
    for (; word != end; ++word) {
        if (place.command) {
            const WordKind kind =
                place.argumentCount == 0 ? place.command->words.first : place.command->words.rest;
            if (kind == WordKind::CommandPath)
                return Walk(word, end, true);
            ++place.argumentCount;
            continue;
        }
        place.command = FindByName(place.group->commands, word->c_str());
        if (!place.command && !(place.group = FindByName(place.group->subgroups, word->c_str())))
            return {};
    }
    return place;
}

std::vector<std::wstring> WordsOfGroup(const _COMMAND_GROUP& group) {
    std::vector<std::wstring> words;
    for (auto* node = group.commands.head; node; node = node->next)
        words.emplace_back(node->item->name);
    for (auto* node = group.subgroups.head; node; node = node->next)
        words.emplace_back(node->item->name);
    return words;
}

std::vector<std::wstring> ConnectionNumbers() {
    std::vector<std::wstring> numbers;
    for (unsigned long number = 1; number <= ConnectionCount(); ++number)
        numbers.push_back(std::to_wstring(number));
    return numbers;
}

} // namespace

std::wstring LineCompletion::Complete(const std::wstring& before, const std::wstring& after, bool backwards) {
    const LastErrorKeeper keep;
    const bool again = !m_candidates.empty() && after.empty() && before == m_given;
    if (again) {
        const size_t count = m_candidates.size();
        m_chosen = (m_chosen + (backwards ? count - 1 : 1)) % count;
    } else {
        const size_t start = WordStart(before);
        m_head = before.substr(0, start);
        m_tail = after;
        m_candidates = InCycleOrder(CandidatesAfter(m_head, Unquoted(before.substr(start))));
        if (m_candidates.empty())
            return before + after;
        m_chosen = backwards ? m_candidates.size() - 1 : 0;
    }
    m_given = LineWith(m_chosen);
    return m_given;
}

// A word that asks for its value goes on at once; any other is followed by a separator.
std::wstring LineCompletion::LineWith(size_t candidate) const {
    const std::wstring& word = m_candidates[candidate];
    const bool separated = word.back() == L'=' || (!m_tail.empty() && IsSeparator(m_tail.front()));
    return m_head + Quoted(word) + (separated ? L"" : L" ") + m_tail;
}

std::vector<std::wstring> LineCompletion::CandidatesAfter(const std::wstring& head,
                                                          const std::wstring& prefix) {
    const std::vector<std::wstring> typed = CommandLineWords(head);
    const TreePlace place = Walk(typed.begin(), typed.end(), false);
    if (!place.command)
        return place.group ? Matching(WordsOfGroup(*place.group), prefix) : std::vector<std::wstring>();
    if (place.pathOnly)
        return {};
    const COMMAND_WORDS& words = place.command->words;
    switch (place.argumentCount == 0 ? words.first : words.rest) {
    case WordKind::ServiceName:
        return ServiceCandidates(prefix);
    case WordKind::ConnectionNumber:
        return Matching(ConnectionNumbers(), prefix);
    case WordKind::Fixed: {
        std::vector<std::wstring> fixed;
        words.fixed(fixed);
        return Matching(fixed, prefix);
    }
    case WordKind::CommandPath:
        return Matching(WordsOfGroup(CommandRoot), prefix);
    case WordKind::Free:
        break;
    }
    return {};
}

// Key names that begin with the prefix; when none does, those of the services whose display
// name begins with it.
std::vector<std::wstring> LineCompletion::ServiceCandidates(const std::wstring& prefix) {
    std::vector<std::wstring> byKey;
    std::vector<std::wstring> byDisplay;
    for (const ServiceNames& service : Services()) {
        if (BeginsWith(service.keyName, prefix))
            byKey.push_back(service.keyName);
        else if (BeginsWith(service.displayName, prefix))
            byDisplay.push_back(service.keyName);
    }
    return byKey.empty() ? byDisplay : byKey;
}

const std::vector<LineCompletion::ServiceNames>& LineCompletion::Services() {
    if (m_servicesRead)
        return m_services;
    m_servicesRead = true;
    CSvcCtrlMgr* connection = GetConnection(ActiveConnectionNumber());
    if (!connection || ConnectionLossCode(connection) != 0)
        return m_services;
    ENUM_SERVICE_STATUS_PROCESSW* services = nullptr;
    unsigned long count = 0;
    if (!connection->EnumServicesWithEnumerateRight(SERVICE_WIN32 | SERVICE_DRIVER, SERVICE_STATE_ALL,
                                                    &services, &count))
        return m_services;
    const MemBlock<ENUM_SERVICE_STATUS_PROCESSW> owned(services);
    for (unsigned long i = 0; i < count; ++i)
        m_services.push_back(
            {services[i].lpServiceName, services[i].lpDisplayName ? services[i].lpDisplayName : L""});
    return m_services;
}
