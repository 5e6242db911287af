#include "LoadOrder.h"

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "StringFunctions.h"

namespace ServicesManagement {

namespace {

// Names equal under StrIComp have the same folded form.
std::wstring Folded(const wchar_t* name) {
    std::wstring folded;
    for (const wchar_t* unit = name; unit && *unit; ++unit)
        folded += ToLower(*unit);
    return folded;
}

using Bucket = std::vector<std::size_t>;

// The candidates of one start type, in candidate order: by folded group for those that have a
// group, and those that fall under the empty name (no group, or one the list does not know).
struct StartTypeIndex {
    std::unordered_map<std::wstring, Bucket> byGroup;
    Bucket unknownGroup;
};

struct WalkedGroup {
    const wchar_t* name;
    bool listed;
};

class LoadOrderBuilder {
public:
    LoadOrderBuilder(const std::vector<LoadOrderCandidate>& candidates, const std::vector<SimpleString>& groupList,
                     const TagVectorReader& readTagVector)
        : m_candidates(candidates), m_readTagVector(readTagVector) {
        for (const SimpleString& name : groupList)
            m_listed.insert(Folded(name));
        IndexCandidates();
    }

    std::vector<LoadOrderPlacement> Place(const std::vector<WalkedGroup>& walk) {
        for (const StartTypeIndex& index : m_byStartType)
            for (const WalkedGroup& group : walk)
                PlaceGroup(BucketOf(index, group.name), group);
        return std::move(m_placements);
    }

    bool IsListed(const wchar_t* name) const { return m_listed.count(Folded(name)) != 0; }

private:
    void IndexCandidates() {
        for (std::size_t i = 0; i < m_candidates.size(); ++i) {
            const LoadOrderCandidate& candidate = m_candidates[i];
            if (candidate.startType > SERVICE_AUTO_START)
                continue;
            StartTypeIndex& index = m_byStartType[candidate.startType];
            const std::wstring group = Folded(candidate.group);
            if (candidate.hasGroup)
                index.byGroup[group].push_back(i);
            if (!candidate.hasGroup || !m_listed.count(group))
                index.unknownGroup.push_back(i);
        }
    }

    const Bucket& BucketOf(const StartTypeIndex& index, const wchar_t* name) const {
        static const Bucket none;
        if (!*name)
            return index.unknownGroup;
        auto found = index.byGroup.find(Folded(name));
        return found == index.byGroup.end() ? none : found->second;
    }

    // The tag sweeps, in the order of the group's vector (a repeated tag places nothing more),
    // then the group's other services.
    void PlaceGroup(const Bucket& bucket, const WalkedGroup& group) {
        if (bucket.empty())
            return;
        std::unordered_set<DWORD> vectorTags;
        if (group.listed) {
            const std::unordered_map<DWORD, Bucket> byTag = IndexByTag(bucket);
            for (DWORD tag : m_readTagVector(group.name)) {
                if (!vectorTags.insert(tag).second)
                    continue;
                auto tagged = byTag.find(tag);
                if (tagged == byTag.end())
                    continue;
                for (std::size_t i : tagged->second)
                    Add(i, group, true);
            }
        }
        for (std::size_t i : bucket) {
            const LoadOrderCandidate& candidate = m_candidates[i];
            if (!(candidate.hasTag && vectorTags.count(candidate.tag)))
                Add(i, group, false);
        }
    }

    std::unordered_map<DWORD, Bucket> IndexByTag(const Bucket& bucket) const {
        std::unordered_map<DWORD, Bucket> byTag;
        for (std::size_t i : bucket)
            if (m_candidates[i].hasTag)
                byTag[m_candidates[i].tag].push_back(i);
        return byTag;
    }

    void Add(std::size_t i, const WalkedGroup& group, bool tagListed) {
        m_placements.push_back({i, group.listed && m_candidates[i].hasGroup, tagListed});
    }

    const std::vector<LoadOrderCandidate>& m_candidates;
    const TagVectorReader& m_readTagVector;
    std::unordered_set<std::wstring> m_listed;
    StartTypeIndex m_byStartType[SERVICE_AUTO_START + 1];
    std::vector<LoadOrderPlacement> m_placements;
};

// Every group of the list once, in list order, then the empty name for the unknown ones.
std::vector<WalkedGroup> AllGroups(const std::vector<SimpleString>& groupList) {
    std::vector<WalkedGroup> walk;
    std::unordered_set<std::wstring> seen;
    for (const SimpleString& name : groupList)
        if (seen.insert(Folded(name)).second)
            walk.push_back({name, true});
    walk.push_back({L"", false});
    return walk;
}

} // namespace

std::vector<LoadOrderPlacement> PlaceInLoadOrder(const std::vector<LoadOrderCandidate>& candidates,
                                                 const std::vector<SimpleString>& groupList, const wchar_t* group,
                                                 const TagVectorReader& readTagVector) {
    LoadOrderBuilder builder(candidates, groupList, readTagVector);
    if (!group)
        return builder.Place(AllGroups(groupList));
    return builder.Place({{group, *group && builder.IsListed(group)}});
}

} // namespace ServicesManagement
