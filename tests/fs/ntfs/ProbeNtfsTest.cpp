// The whole chain through the test probe on the corpus volume: `hbprobe tree`,
// `recover` and `dump ... mft`, as a user runs them.

#include "tests/fs/ntfs/NtfsFixture.h"
#include "tests/support/ProbeRun.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

namespace {

TEST(ProbeNtfsTest, TheTreeListsRecoversAndDumpsTheVolume) {
    const ntfstest::Corpus& corpus = ntfstest::corpus(4096);
    const std::string disk = testutil::fileDescriptor(corpus.image);
    testutil::ProbeResult r = testutil::runProbe("tree " + disk + " ntfs 0");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Directory of /Docs/Deep"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Directory of /Found"), std::string::npos);
    testutil::TempDir out;
    r = testutil::runProbe("recover " + disk + " ntfs 0 " + testutil::shellQuote(out.path()));
    ASSERT_EQ(r.status, 0) << r.err;
    for (const ntfstest::CorpusFile& f : corpus.files) {
        if (!f.deleted) {
            EXPECT_TRUE(testutil::readAll(out.path() + f.path) == f.data) << f.path;
            EXPECT_EQ(testutil::mtimeOf(out.path() + f.path), f.mtime) << f.path;
        }
    }
    r = testutil::runProbe("dump " + disk + " mft 5");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("MFT Index: 5, LBA: "), 0u) << r.out;
    EXPECT_NE(r.out.find("File Name:\t'.'"), std::string::npos);
}

} // namespace
