#include "cbr/SearchMemory.h"

#include <algorithm>

namespace cbr {

u64 SearchMemory::skip(u64 from, bool& mark) const {
    mark = false;
    auto it = stretches_.upper_bound(from);
    if (it == stretches_.begin())
        return from;
    --it;
    // From inside a stretch, or from its end when a mark starts there.
    if (from < it->second.to || (from == it->second.to && it->second.mark)) {
        mark = it->second.mark;
        return it->second.to;
    }
    return from;
}

void SearchMemory::searched(u64 from, u64 to, bool mark, u64 scanAt) {
    // Hits come in ascending order: what lies behind the scan is searched from
    // nowhere again.
    while (!stretches_.empty() && stretches_.begin()->second.to < scanAt)
        stretches_.erase(stretches_.begin());
    if (to <= from && !mark)
        return;
    // A stretch that starts inside or right after this one is a part of it or
    // goes on from it (no mark lies between): the two are one.
    Stretch joined{to, mark};
    auto next = stretches_.lower_bound(from);
    while (next != stretches_.end() && next->first <= joined.to) {
        if (next->second.to >= joined.to)
            joined = next->second;
        next = stretches_.erase(next);
    }
    // One that this one starts inside or right after.
    if (next != stretches_.begin()) {
        auto before = std::prev(next);
        if (before->second.to >= from && !(before->second.to == from && before->second.mark)) {
            if (before->second.to >= joined.to)
                joined = before->second;
            before->second = joined;
            return;
        }
    }
    stretches_[from] = joined;
}

} // namespace cbr
