#include "GroupLoadOrder.h"

#include <algorithm>

#include "Memory.h"

namespace ServicesManagement {

_GROUP_LOAD_ORDER::_GROUP_LOAD_ORDER() : lpGroupName(nullptr), dwCount(0), Entries{} {}

_GROUP_LOAD_ORDER::~_GROUP_LOAD_ORDER() {
    Free();
}

void _GROUP_LOAD_ORDER::Free() {
    // The entries lie past the declared one, in the rest of the block.
    _GROUP_LOAD_ORDER_ENTRY* const entries = Entries;
    for (unsigned long i = 0; i < dwCount; ++i) {
        MemRelease(entries[i].lpServiceName);
        MemRelease(entries[i].lpLoadOrderGroup);
    }
    std::fill_n(entries, std::max<unsigned long>(dwCount, 1), _GROUP_LOAD_ORDER_ENTRY{});
    MemRelease(lpGroupName);
    lpGroupName = nullptr;
    dwCount = 0;
}

void ReleaseGroupLoadOrder(_GROUP_LOAD_ORDER* order) {
    if (!order)
        return;
    order->~_GROUP_LOAD_ORDER();
    MemRelease(order);
}

} // namespace ServicesManagement
