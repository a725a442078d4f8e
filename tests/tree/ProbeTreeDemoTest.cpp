// `hbprobe tree-demo` end to end: the test engine's tree reported, selected and
// recovered into a real folder, as the program's commands do it.

#include "tests/support/RecoveredFiles.h"
#include "tests/support/TestEngine.h"
#include "tests/support/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

TEST(ProbeTreeDemoTest, ReportsSelectsAndRecoversIntoAFolder) {
    testutil::TempDir dir;
    const std::string description = "root 5\ndir 10 in=5 name=docs\n"
                                    "file 20 in=10 name=a.txt size=100 bad=10+5\n"
                                    "file 21 in=10 name=b.txt text=hello\n"
                                    "file 22 in=5 name=big.bin size=2500\n";
    testutil::writeAll(dir.file("tree.txt"), description);
    std::string out, err;
    ASSERT_EQ(testutil::run(testutil::shellQuote(testutil::probePath()) + " tree-demo " +
                                dir.file("tree.txt") + " " + dir.file("out") + " --limit 1000",
                            &out, &err),
              0)
        << out << err;
    EXPECT_THAT(out, testing::HasSubstr("\t3 file(s) 1 folder(s) 2,605 bytes\nsplit files: 1\n"
                                        "files with errors: 1\n"));
    auto engine = testutil::TestEngine::build(description);
    const std::string big = engine->expectedData(22);
    EXPECT_TRUE(testutil::cameBack(dir.file("out"), {{"big.bin", big.substr(0, 1000)},
                                                     {"big.bin.v1", big.substr(1000, 1000)},
                                                     {"big.bin.v2", big.substr(2000)},
                                                     {"docs/a.txt", engine->expectedData(20)},
                                                     {"docs/b.txt", "hello"}}));
}

} // namespace
