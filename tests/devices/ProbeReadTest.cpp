// `hbprobe read` over the whole chain: a FAT image made by mkfs.fat and mtools,
// split by a script into the members of a RAID5 (with parity stripes that must
// never come back), a RAID0, a range of a JBOD and a nested chain, reads back
// byte for byte through each.

#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

namespace {

TEST(ProbeReadTest, RaidSetsOfARealImageReadBackWhole) {
    testutil::TempDir dir;
    std::string out, err;
    const std::string script = std::string(HB_SOURCE_DIR) + "/tests/data/make-raid.sh";
    EXPECT_EQ(testutil::run("sh " + testutil::shellQuote(script) + " " +
                                testutil::shellQuote(testutil::probePath()) + " " +
                                testutil::shellQuote(dir.path()),
                            &out, &err),
              0)
        << out << err;
    for (const char* check : {"ok raid5\n", "ok raid0\n", "ok jbod-range\n", "ok nested\n",
                              "ok nested-second\n", "ok files\n", "ok pieces\n"})
        EXPECT_NE(out.find(check), std::string::npos) << check << out << err;
}

} // namespace
