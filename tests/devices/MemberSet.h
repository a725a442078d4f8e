#pragma once

// The members of a composed source, held in memory behind readers that record
// every request and can be told to fail at chosen sectors.

#include "devices/DtReader.h"
#include "tests/support/FailingReader.h"

#include <string>
#include <vector>

namespace testutil {

struct MemberSet {
    explicit MemberSet(const std::vector<std::string>& contents) {
        for (const std::string& bytes : contents) {
            members.push_back(
                new FailingReader(SharedPtr<dt::Reader>(new MemoryReader(bytes)), {}));
            list.push_back(SharedPtr<dt::Reader>(members.back()));
        }
    }
    std::vector<FailingReader*> members; // owned by `list`
    dt::ReaderList list;
};

} // namespace testutil
