#pragma once
// Completion with Tab at the console's prompt: the word that ends at the cursor becomes the first
// of the words that the tree allows there and that begin with it; a second Tab, with nothing typed
// between, gives the next one and Shift+Tab the one before, in alphabetical order, round and
// round. The candidates come from the tree: command and group words at that place, the fixed words
// of the command reached, the key names of the active connection's services, the numbers of the
// open connections.

#include <string>
#include <vector>

#include "StandardStreams.h"

// One command line's completions. The services are enumerated once, on the first Tab that needs
// them, and never from a lost connection; an enumeration that fails completes nothing, says
// nothing and leaves the last-error value as it was.
class LineCompletion : public TabCompletion {
public:
    std::wstring Complete(const std::wstring& before, const std::wstring& after, bool backwards) override;

private:
    struct ServiceNames {
        std::wstring keyName;
        std::wstring displayName;
    };

    std::vector<std::wstring> CandidatesAfter(const std::wstring& head, const std::wstring& prefix);
    std::vector<std::wstring> ServiceCandidates(const std::wstring& prefix);
    const std::vector<ServiceNames>& Services();
    std::wstring LineWith(size_t candidate) const;

    bool m_servicesRead = false;
    std::vector<ServiceNames> m_services;
    // The last completion, which a Tab on the line it gave turns to the next candidate.
    std::wstring m_head;
    std::wstring m_tail;
    std::vector<std::wstring> m_candidates;
    size_t m_chosen = 0;
    std::wstring m_given;
};
