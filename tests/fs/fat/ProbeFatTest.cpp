// The whole chain on real volumes: `hbprobe tree` and `recover` over the shared
// FAT12, FAT16 and FAT32 volumes (tests/support/FatCorpus.h) give back every
// live and deleted file byte for byte, with its name and time: the fragmented
// file, the deleted file between live ones, folders three deep and of several
// clusters, long and non-ASCII names. The label is no file.

#include "tests/support/FatCorpus.h"
#include "tests/support/ProbeRun.h"

#include <gtest/gtest.h>

namespace {

using namespace testutil;

class ProbeFatTest : public ::testing::TestWithParam<int> {};

TEST_P(ProbeFatTest, EveryFileComesBackWithItsNameBytesAndTime) {
    const FatCorpus& volume = fatCorpus(GetParam());
    const std::string source =
        fileDescriptor(volume.path) + " fat " + std::to_string(volume.volumeLba());
    const ProbeResult tree = runProbe("tree " + source);
    ASSERT_EQ(tree.status, 0) << tree.err;
    EXPECT_NE(tree.out.find("Directory of /Docs/Deep/Deeper"), std::string::npos) << tree.out;
    EXPECT_EQ(tree.out.find("HBLABEL"), std::string::npos) << tree.out;

    TempDir dir;
    const ProbeResult r = runProbe("recover " + source + " " + shellQuote(dir.file("out")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("split files: 0\nfiles with errors: 0\n"), std::string::npos) << r.out;
    expectRecovered(dir.file("out"), volume.all(), volume.reused);
}

INSTANTIATE_TEST_SUITE_P(Widths, ProbeFatTest, ::testing::Values(12, 16, 32),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Fat" + std::to_string(info.param);
                         });

} // namespace
