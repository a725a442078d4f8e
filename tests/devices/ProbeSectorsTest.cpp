// The retry reader end to end: hbprobe sectors over an image whose chosen
// sectors fail, with each answer to the read-error question.

#include "devices/UnreadableSectors.h"
#include "tests/support/FailingReader.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using testutil::run;
using testutil::shellQuote;

struct Outcome {
    int status;
    std::string out;
    std::string err;

    // The lines of stderr that begin with `prefix`, without it.
    std::vector<std::string> lines(const std::string& prefix) const {
        std::vector<std::string> found;
        std::istringstream in(err);
        for (std::string line; std::getline(in, line);) {
            if (line.compare(0, prefix.size(), prefix) == 0)
                found.push_back(line.substr(prefix.size()));
        }
        return found;
    }
};

class ProbeSectorsTest : public ::testing::Test {
protected:
    ProbeSectorsTest() : image_(testutil::numberedSectors(512)) {
        testutil::writeAll(imagePath(), image_);
    }

    std::string imagePath() const { return dir_.file("disk.img"); }
    std::string fileDescriptor() const { return "id=" + imagePath() + "|type=file"; }

    Outcome probe(const std::string& arguments) const {
        Outcome o;
        o.status = run(shellQuote(testutil::probePath()) + " sectors " + arguments, &o.out, &o.err);
        return o;
    }

    // The image's sectors [first, first + count) with the listed ones unreadable.
    std::string expected(u64 first, u64 count, const std::vector<u64>& unreadable) const {
        std::string s = image_.substr(first * 512, count * 512);
        for (u64 lba : unreadable)
            fillUnreadablePattern(reinterpret_cast<u8*>(&s[(lba - first) * 512]), 512);
        return s;
    }

    void checkSectorsHundredAndOneMarked(const Outcome& o) const;

    testutil::TempDir dir_;
    std::string image_;
};

TEST_F(ProbeSectorsTest, SectorModeMarksExactlyTheFailingSectors) {
    // An image opened as a drive goes through the block-device reader and its cache.
    const std::string asDrive = "id=" + imagePath() + "|type=drive";
    for (const std::string& descriptor : {fileDescriptor(), asDrive}) {
        SCOPED_TRACE(descriptor);
        Outcome o = probe(shellQuote(descriptor) + " 0 300 --answer yes --fail 100,101");
        checkSectorsHundredAndOneMarked(o);
    }
}

void ProbeSectorsTest::checkSectorsHundredAndOneMarked(const Outcome& o) const {
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string around = o.out.size() > 99 * 512 ? o.out.substr(99 * 512, 3 * 512) : "";
    EXPECT_EQ(o.out, expected(0, 300, {100, 101}))
        << testutil::hexDump(around.data(), around.size());
    EXPECT_EQ(o.lines("unreadable: "), std::vector<std::string>{"100 2"});
    // One question for each sector that failed again on its own.
    const std::vector<std::string> asked = o.lines("question: ");
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0], "Read Error at LBA 100 (1 sector).\\n\\n"
                        "Continuing could cause further damage to your Source.\\n\\n"
                        "Do you want to continue?");
    EXPECT_EQ(asked[1].substr(0, 33), "Read Error at LBA 101 (1 sector).");
}

TEST_F(ProbeSectorsTest, BlockModeFillsTheWholeFailedBlock) {
    Outcome o =
        probe(shellQuote(fileDescriptor()) + " 0 300 --mode block --answer yes --fail 100,101");
    ASSERT_EQ(o.status, 0) << o.err;
    std::vector<u64> block;
    for (u64 lba = 0; lba < 256; ++lba)
        block.push_back(lba);
    EXPECT_EQ(o.out, expected(0, 300, block));
    EXPECT_EQ(o.lines("unreadable: "), std::vector<std::string>{"0 256"});
    const std::vector<std::string> asked = o.lines("question: ");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].substr(0, 34), "Read Error at LBA 0 (256 sectors).");
}

TEST_F(ProbeSectorsTest, YesToAllAsksOnceAndStillShowsEveryError) {
    Outcome o = probe(shellQuote(fileDescriptor()) + " 50 400 --answer all --fail 100,101,420");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, expected(50, 400, {100, 101, 420}));
    EXPECT_EQ(o.lines("question: ").size(), 1u);
    EXPECT_EQ(o.lines("read error: "),
              (std::vector<std::string>{"Read Error at LBA 100 (1 sector).",
                                        "Read Error at LBA 101 (1 sector).",
                                        "Read Error at LBA 420 (1 sector)."}));
    EXPECT_EQ(o.lines("unreadable: "), (std::vector<std::string>{"100 2", "420 1"}));
}

TEST_F(ProbeSectorsTest, AnsweringNoEndsTheReadAfterTheGoodSectors) {
    Outcome o = probe(shellQuote(fileDescriptor()) + " 0 300 --answer no --fail 100,101");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.lines("interrupted").size(), 1u);
    // The good sectors before the bad one were delivered; nothing after it.
    EXPECT_EQ(o.out, expected(0, 100, {}));
    EXPECT_EQ(o.lines("question: ").size(), 1u);
    EXPECT_TRUE(o.lines("unreadable: ").empty());

    Outcome block =
        probe(shellQuote(fileDescriptor()) + " 0 300 --mode block --answer no --fail 260");
    EXPECT_EQ(block.status, 1);
    EXPECT_EQ(block.out, expected(0, 256, {}));
}

// A FAT volume made by mkfs.fat, read as a range of a known image: the failing
// sectors count from the range's start, as the scan of a partition sees them.
TEST_F(ProbeSectorsTest, ReadsAComposedSourceFromKnownDescriptors) {
    const std::string fat = dir_.file("fat.img");
    ASSERT_EQ(run("mkfs.fat -C -i 0x1234abcd " + shellQuote(fat) + " 256 >/dev/null"), 0);
    const std::string bytes = testutil::readAll(fat);
    testutil::writeAll(dir_.file("known"), "id=" + fat + "|type=file\n");

    Outcome o = probe("--known " + shellQuote(dir_.file("known")) +
                      " 'id=part|type=range|components=" + fat +
                      "|rangeOffset=1024|rangeSize=131072' 0 256 --answer yes --fail 5");
    ASSERT_EQ(o.status, 0) << o.err;
    std::string want = bytes.substr(1024, 256 * 512);
    fillUnreadablePattern(reinterpret_cast<u8*>(&want[5 * 512]), 512);
    EXPECT_EQ(o.out, want);
    EXPECT_EQ(o.lines("unreadable: "), std::vector<std::string>{"5 1"});
}

TEST_F(ProbeSectorsTest, ReadsPastTheEndAreUnreadable) {
    Outcome o = probe(shellQuote(fileDescriptor()) + " 510 4 --answer all");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, expected(510, 2, {}) + expected(0, 2, {0, 1}));
    EXPECT_EQ(o.lines("unreadable: "), std::vector<std::string>{"512 2"});
}

TEST_F(ProbeSectorsTest, FailuresAndUsage) {
    Outcome missing = probe("'id=" + dir_.file("none.img") + "|type=file' 0 1");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Cannot initialize " + dir_.file("none.img") +
                               "\n(invalid file: " + dir_.file("none.img") + ")\n");

    EXPECT_EQ(probe(shellQuote(fileDescriptor()) + " 0 1 --mode fast").status, 2);
    EXPECT_EQ(probe(shellQuote(fileDescriptor()) + " 0 1 --answer maybe").status, 2);
    EXPECT_EQ(probe(shellQuote(fileDescriptor()) + " 0 1 --fail 1,,2").status, 2);
    EXPECT_EQ(probe(shellQuote(fileDescriptor()) + " 0").status, 2);
}

} // namespace
