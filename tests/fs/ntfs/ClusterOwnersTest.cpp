// Which stream's runs land in clusters another holds.

#include "fs/ntfs/ClusterOwners.h"

#include <gtest/gtest.h>

namespace {

TEST(ClusterOwnersTest, ARunIntoAnotherRecordsClustersIsTold) {
    ClusterOwners owners;
    owners.add(30, Runlist{{100, 10, 10}, {0, 5, 0}, {120, 4, 4}}); // a hole between
    owners.add(31, Runlist{{110, 10, 10}});                         // touches 30's both ends
    owners.add(40, Runlist{{200, 8, 8}});
    owners.add(41, Runlist{{204, 8, 8}}); // into 40's
    const struct {
        u64 record;
        Runlist runs;
        bool overlaps;
    } rows[] = {
        {30, {{100, 10, 10}, {0, 5, 0}, {120, 4, 4}}, false},
        {31, {{110, 10, 10}}, false},
        {32, {{0, 200, 0}}, false}, // a hole holds no cluster
        {32, {{124, 76, 76}}, false},
        {32, {{123, 1, 1}}, true},
        {30, {{109, 2, 2}}, true},
        // Two that share clusters are both told, wherever the question falls.
        {40, {{200, 8, 8}}, true},
        {41, {{210, 2, 2}}, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.record);
        EXPECT_EQ(owners.overlapsOthers(row.record, row.runs), row.overlaps);
    }
}

} // namespace
