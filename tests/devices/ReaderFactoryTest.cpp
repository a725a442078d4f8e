#include "devices/ReaderFactory.h"

#include "core/Log.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using testutil::ScriptedMessages;
using testutil::TempDir;
using testutil::writeAll;
using Known = std::vector<std::string>;

std::string pattern(std::size_t n, int seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i * 31 + seed + i / 253);
    return s;
}

std::string readWhole(dt::Reader& reader) {
    std::string out(static_cast<std::size_t>(reader.getSize()), '\0');
    if (!reader.read(0, reinterpret_cast<u8*>(&out[0]), reader.getSize()))
        throw std::runtime_error("read failed");
    return out;
}

// A reader of some size whose bytes are never looked at.
class SizedReader : public dt::Reader {
public:
    explicit SizedReader(i64 size) { setSize(size); }
    bool read(i64, u8*, i64) override { return true; }
};

// Replaces the leaf opener for one test and counts what it is asked.
class FakeLeaves {
public:
    explicit FakeLeaves(i64 size) {
        previous_ = setLeafOpener([this, size](LeafKind kind, const char* path) {
            opened.emplace_back(kind, path);
            return std::unique_ptr<dt::Reader>(new SizedReader(size));
        });
    }
    ~FakeLeaves() { setLeafOpener(std::move(previous_)); }
    std::vector<std::pair<LeafKind, std::string>> opened;

private:
    LeafOpener previous_;
};

// Builds `descriptor` and returns the text of the one box it showed, or "" when
// the chain was built without one.
std::string failure(const Known& known, const std::string& descriptor) {
    ScriptedMessages boxes;
    std::unique_ptr<dt::Reader> reader =
        createReaderFromDescr(known, descriptor.c_str(), nullptr, 0);
    EXPECT_EQ(reader == nullptr, boxes.asked().size() == 1) << descriptor;
    if (boxes.asked().empty())
        return "";
    EXPECT_EQ(boxes.asked()[0].kind, MESSAGE_ERROR);
    return boxes.asked()[0].text;
}

class ReaderFactoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        a = dir.file("a.img");
        b = dir.file("b.img");
        writeAll(a, pattern(4096, 1));
        writeAll(b, pattern(4096, 2));
    }
    TempDir dir;
    std::string a, b;
};

TEST_F(ReaderFactoryTest, FilesAndComposedSourcesReadTheirBytes) {
    ScriptedMessages boxes;
    auto file = createReaderFromDescr({}, ("id=" + a + "|type=file|name=x").c_str(), nullptr, 0);
    ASSERT_TRUE(file);
    EXPECT_EQ(readWhole(*file), pattern(4096, 1));

    const Known known = {"id=left|type=range|components=" + a + "|rangeOffset=96|rangeSize=2000",
                         "id=right|type=range|components=" + b + "|rangeOffset=0|rangeSize=2000",
                         "id=both|type=jbod|components=left,right"};
    auto jbod = createReaderFromDescr(known, known[2].c_str(), nullptr, 0);
    ASSERT_TRUE(jbod);
    EXPECT_EQ(readWhole(*jbod), pattern(4096, 1).substr(96, 2000) + pattern(2000, 2));

    // A range of a raid0 built over ranges of image files.
    Known deeper = known;
    deeper.push_back("id=stripes|type=raid0|components=left,right|blockSize=500");
    auto top = createReaderFromDescr(
        deeper, "id=top|type=range|components=stripes|rangeOffset=400|rangeSize=200", nullptr, 0);
    ASSERT_TRUE(top);
    // Bytes 400..599 of the set: the end of stripe 0 (left) and the start of
    // stripe 1 (right).
    EXPECT_EQ(readWhole(*top), pattern(4096, 1).substr(96 + 400, 100) + pattern(100, 2));
    EXPECT_TRUE(boxes.asked().empty());
}

TEST_F(ReaderFactoryTest, EveryFailureSaysWhy) {
    const Known known = {"id=r5|type=raid5|components=" + a + "|blockSize=512"};
    EXPECT_EQ(failure(known, "id=x|type=directory"), "Cannot initialize x\n(invalid type)");
    EXPECT_EQ(failure(known, "id=x|type="), "Cannot initialize x\n(invalid type)");
    EXPECT_EQ(failure(known, "id=x"), "Cannot initialize x\n(invalid type)");
    EXPECT_EQ(failure(known, "type=FILE|id=x"), "Cannot initialize x\n(invalid type)");
    EXPECT_EQ(failure(known, "id=j|type=jbod|components="),
              "Cannot initialize \n(empty component)");
    EXPECT_EQ(failure(known, "id=j|type=jbod"), "Cannot initialize \n(empty component)");
    EXPECT_EQ(failure(known, "id=j|type=jbod|components=" + a + ",," + b),
              "Cannot initialize \n(empty component)");
    EXPECT_EQ(failure(known, "id=j|type=jbod|components=" + a + ", "),
              "Cannot initialize \n(empty component)");
    EXPECT_EQ(
        failure(known, "id=r|type=range|components=" + a + "," + b + "|rangeOffset=0|rangeSize=1"),
        "Cannot initialize r\n(wrong number of components)");
    EXPECT_EQ(failure(known, "id=r|type=raid5|components=" + a + "|blockSize=512"),
              "Cannot initialize r\n(wrong number of components)");
    EXPECT_EQ(failure(known, "id=r|type=range|components=" + a + "|rangeOffset=1|rangeSize=4096"),
              "Cannot initialize r\n(invalid offset/size)");
    EXPECT_EQ(failure(known, "id=r|type=range|components=" + a + "|rangeOffset=-1|rangeSize=10"),
              "Cannot initialize r\n(invalid offset/size)");
    EXPECT_EQ(failure(known, "id=r|type=range|components=" + a + "|rangeOffset=0|rangeSize=-10"),
              "Cannot initialize r\n(invalid offset/size)");
    EXPECT_EQ(failure(known, "id=r|type=range|components=" + a +
                                 "|rangeOffset=9223372036854775807|rangeSize=1"),
              "Cannot initialize r\n(invalid offset/size)");

    const std::string missing = dir.file("missing.img");
    EXPECT_EQ(failure(known, "id=" + missing + "|type=file"),
              "Cannot initialize " + missing + "\n(invalid file: " + missing + ")");
    // An unknown component id is opened as a file; its own box names it, and
    // the sources above it stay silent.
    EXPECT_EQ(failure(known, "id=j|type=jbod|components=" + a + "," + missing),
              "Cannot initialize " + missing + "\n(invalid file: " + missing + ")");
    // A known component that fails shows its own box.
    EXPECT_EQ(failure(known, "id=j|type=jbod|components=r5"),
              "Cannot initialize r5\n(wrong number of components)");
    // Folders are no image files.
    EXPECT_EQ(failure(known, "id=" + dir.path() + "|type=file"),
              "Cannot initialize " + dir.path() + "\n(invalid file: " + dir.path() + ")");
}

TEST_F(ReaderFactoryTest, MarkupInIdsIsShownAsText) {
    EXPECT_EQ(failure({}, "id=<b>&amp|type=file"),
              "Cannot initialize &lt;b&gt;&amp;amp\n(invalid file: &lt;b&gt;&amp;amp)");
}

TEST_F(ReaderFactoryTest, NestingStopsAtTenLevels) {
    // A source made of itself recurses to the limit and says so once.
    EXPECT_EQ(failure({"id=loop|type=jbod|components=loop"}, "id=loop|type=jbod|components=loop"),
              "Cannot initialize loop\n(invalid depth)");

    // Ranges r0 (the top) .. r9, each one byte into the next, and r9 one byte
    // into the image: nine nested levels build.
    Known known;
    for (int i = 0; i < 10; ++i)
        known.push_back("id=r" + std::to_string(i) + "|type=range|components=r" +
                        std::to_string(i + 1) +
                        "|rangeOffset=1|rangeSize=" + std::to_string(3990 + i));
    known[9] = "id=r9|type=range|components=" + a + "|rangeOffset=1|rangeSize=3999";
    EXPECT_EQ(failure(known, known[0]), "");
    {
        ScriptedMessages boxes;
        auto reader = createReaderFromDescr(known, known[0].c_str(), nullptr, 0);
        ASSERT_TRUE(reader);
        EXPECT_EQ(readWhole(*reader), pattern(4096, 1).substr(10, 3990));
    }
    // One level more is refused, naming the source at level ten.
    known[9] = "id=r9|type=range|components=r10|rangeOffset=1|rangeSize=3999";
    known.push_back("id=r10|type=range|components=" + a + "|rangeOffset=1|rangeSize=4000");
    EXPECT_EQ(failure(known, known[0]), "Cannot initialize r10\n(invalid depth)");
    // Callers nested themselves count too.
    ScriptedMessages boxes;
    EXPECT_FALSE(createReaderFromDescr({}, ("id=" + a + "|type=file").c_str(), nullptr, 10));
    EXPECT_TRUE(createReaderFromDescr({}, ("id=" + a + "|type=file").c_str(), nullptr, 9));
}

TEST_F(ReaderFactoryTest, ComponentIdsAreTrimmedAndLookedUpInOrder) {
    ScriptedMessages boxes;
    // Two sources with one id: the first wins.
    const Known known = {"id=m|type=range|components=" + a + "|rangeOffset=0|rangeSize=100",
                         "id=m|type=range|components=" + b + "|rangeOffset=0|rangeSize=100"};
    auto spaced = createReaderFromDescr(known, "id=j|type=jbod|components= m ,\tm\t", nullptr, 0);
    ASSERT_TRUE(spaced);
    EXPECT_EQ(readWhole(*spaced), pattern(100, 1) + pattern(100, 1));
    auto plain = createReaderFromDescr(known, "id=j|type=jbod|components=m,m", nullptr, 0);
    ASSERT_TRUE(plain);
    EXPECT_EQ(readWhole(*plain), readWhole(*spaced));
    EXPECT_TRUE(boxes.asked().empty());
}

TEST_F(ReaderFactoryTest, NumbersReadLikeTheRuntime) {
    EXPECT_EQ(descriptorNumber("512"), 512);
    EXPECT_EQ(descriptorNumber("  \t42abc"), 42);
    EXPECT_EQ(descriptorNumber("+7"), 7);
    EXPECT_EQ(descriptorNumber("-65536"), -65536);
    EXPECT_EQ(descriptorNumber("abc"), 0);
    EXPECT_EQ(descriptorNumber(""), 0);
    EXPECT_EQ(descriptorNumber("- 5"), 0);
    EXPECT_EQ(descriptorNumber("0x10"), 0);
    EXPECT_EQ(descriptorNumber("99999999999999999999"), std::numeric_limits<i64>::max());
    EXPECT_EQ(descriptorNumber("-99999999999999999999"), std::numeric_limits<i64>::min());

    // Not a number reads as 0: an empty range at 0 builds and reads nothing.
    ScriptedMessages boxes;
    auto empty = createReaderFromDescr(
        {}, ("id=r|type=range|components=" + a + "|rangeOffset=x|rangeSize=y").c_str(), nullptr, 0);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->getSize(), 0);
    u8 got[1];
    EXPECT_TRUE(empty->read(0, got, 0));
    EXPECT_FALSE(empty->read(0, got, 1));
}

TEST_F(ReaderFactoryTest, AMissingOrNegativeStripeBuildsAndThrowsOnReading) {
    ScriptedMessages boxes;
    for (const std::string& tail : {std::string(""), std::string("|blockSize=-4096")}) {
        for (const char* type : {"raid0", "raid5"}) {
            const std::string descriptor =
                std::string("id=s|type=") + type + "|components=" + a + "," + b + tail;
            auto raid = createReaderFromDescr({}, descriptor.c_str(), nullptr, 0);
            ASSERT_TRUE(raid) << descriptor;
            u8 got[1];
            EXPECT_TRUE(raid->read(0, got, 0));
            EXPECT_THROW(raid->read(0, got, 1), std::runtime_error) << descriptor;
        }
    }
    EXPECT_TRUE(boxes.asked().empty());
}

TEST_F(ReaderFactoryTest, DevicesGoToTheDeviceReader) {
    FakeLeaves leaves(512);
    ScriptedMessages boxes;
    for (const char* type : {"drive", "partition", "floppy", "file"})
        EXPECT_TRUE(createReaderFromDescr(
            {}, (std::string("id=/dev/sdz|type=") + type + "|name=Disk").c_str(), nullptr, 0));
    ASSERT_EQ(leaves.opened.size(), 4u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(leaves.opened[i].first, LeafKind::DEVICE);
        EXPECT_EQ(leaves.opened[i].second, "/dev/sdz");
    }
    EXPECT_EQ(leaves.opened[3].first, LeafKind::FILE);
    EXPECT_TRUE(boxes.asked().empty());
}

TEST_F(ReaderFactoryTest, AnImageOpensAsADrive) {
    ScriptedMessages boxes;
    auto drive = createReaderFromDescr({}, ("id=" + a + "|type=drive").c_str(), nullptr, 0);
    ASSERT_TRUE(drive);
    EXPECT_EQ(readWhole(*drive), pattern(4096, 1));
}

// Each id at each level is built once: a member named 40 times on eight levels
// would otherwise be opened 40^8 times.
TEST_F(ReaderFactoryTest, RepeatedMembersAreBuiltOnce) {
    FakeLeaves leaves(1000);
    auto times40 = [](const std::string& id) {
        std::string list = id;
        for (int i = 1; i < 40; ++i)
            list += "," + id;
        return list;
    };
    Known known;
    for (int level = 0; level < 8; ++level) {
        const std::string next = level < 7 ? "l" + std::to_string(level + 1) : "leaf.img";
        known.push_back("id=l" + std::to_string(level) + "|type=jbod|components=" + times40(next));
    }
    {
        ScriptedMessages boxes;
        auto reader = createReaderFromDescr(known, known[0].c_str(), nullptr, 0);
        ASSERT_TRUE(reader);
        EXPECT_EQ(leaves.opened.size(), 1u);
        EXPECT_EQ(reader->getSize(), 6553600000000000LL); // 40^8 * 1000
    }
    // Two levels more of 40 pass 2^63: refused, not wrapped around.
    known.push_back("id=huge|type=jbod|components=" + times40("l0"));
    EXPECT_EQ(failure(known, "id=top|type=jbod|components=" + times40("huge")),
              "Cannot initialize top\n(invalid offset/size)");
    EXPECT_EQ(failure(known, "id=top|type=raid0|blockSize=512|components=" + times40("huge")),
              "Cannot initialize top\n(invalid offset/size)");
}

} // namespace
