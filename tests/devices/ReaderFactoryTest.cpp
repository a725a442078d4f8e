#include "devices/ReaderFactory.h"

#include "tests/support/FailingReader.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace {

using testutil::pattern;
using testutil::ScriptedInterface;
using Known = std::vector<std::string>;

// Replaces the leaf opener for one test and records what it is asked.
class FakeLeaves {
public:
    explicit FakeLeaves(std::size_t size) {
        previous_ = setLeafOpener([this, size](LeafKind kind, const char* path) {
            opened.emplace_back(kind, path);
            return std::unique_ptr<dt::Reader>(new testutil::MemoryReader(std::string(size, '\0')));
        });
    }
    ~FakeLeaves() { setLeafOpener(std::move(previous_)); }
    std::vector<std::pair<LeafKind, std::string>> opened;

private:
    LeafOpener previous_;
};

class ReaderFactoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        a = dir.file("a.img");
        b = dir.file("b.img");
        testutil::writeAll(a, pattern(4096, 1));
        testutil::writeAll(b, pattern(4096, 2));
    }
    // The chain of `descriptor`, which must build without a word.
    std::string bytesOf(const Known& known, const std::string& descriptor) {
        ScriptedInterface ui;
        auto reader = createReaderFromDescr(known, descriptor.c_str(), &ui, 0);
        EXPECT_TRUE(ui.asked().empty()) << ui.asked()[0].text;
        if (!reader)
            return "(none)";
        std::string out(static_cast<std::size_t>(reader->getSize()), '\0');
        if (!reader->read(0, reinterpret_cast<u8*>(&out[0]), reader->getSize()))
            return "(unreadable)";
        return out;
    }
    // The text of the one error `descriptor` tells, "" when it builds.
    std::string failure(const Known& known, const std::string& descriptor, int depth = 0) {
        ScriptedInterface ui;
        auto reader = createReaderFromDescr(known, descriptor.c_str(), &ui, depth);
        EXPECT_EQ(reader == nullptr, ui.asked().size() == 1) << descriptor;
        if (ui.asked().empty())
            return "";
        EXPECT_EQ(ui.asked()[0].kind, MESSAGE_ERROR);
        return ui.asked()[0].text;
    }

    testutil::TempDir dir;
    std::string a, b;
};

TEST_F(ReaderFactoryTest, ChainsOfFilesReadTheirBytes) {
    const Known known = {"id=left|type=range|components=" + a + "|rangeOffset=96|rangeSize=2000",
                         "id=right|type=range|components=" + b + "|rangeOffset=0|rangeSize=4096",
                         "id=both|type=jbod|components=left,right",
                         "id=stripes|type=raid0|components=left,right|blockSize=500",
                         // Two sources with one id: the first wins.
                         "id=m|type=range|components=" + a + "|rangeOffset=0|rangeSize=100",
                         "id=m|type=range|components=" + b + "|rangeOffset=0|rangeSize=100"};
    EXPECT_EQ(bytesOf(known, known[2]), pattern(4096, 1).substr(96, 2000) + pattern(4096, 2));
    // Bytes 400..599 of the stripes: the end of stripe 0 (left), the start of
    // stripe 1 (right).
    EXPECT_EQ(bytesOf(known, "id=t|type=range|components=stripes|rangeOffset=400|rangeSize=200"),
              pattern(4096, 1).substr(496, 100) + pattern(100, 2));
    EXPECT_EQ(bytesOf(known, "id=j|type=jbod|components= m ,\tm\t"),
              pattern(100, 1) + pattern(100, 1));
    // Offsets are 64-bit all the way down: the last bytes of a sparse 5 GiB image
    // through a range of it as a file, as a drive and inside a set.
    const std::string big = dir.file("big.img");
    const i64 end = i64(5) << 30;
    testutil::writeAll(big, "");
    std::filesystem::resize_file(big, end - 5);
    std::ofstream(big, std::ios::app) << "MARKS";
    const std::pair<Known, std::string> holders[] = {
        {{}, big},
        {{"id=" + big + "|type=drive"}, big},
        {{"id=j|type=jbod|components=" + a + "," + big}, "j"}};
    for (const auto& h : holders)
        EXPECT_EQ(bytesOf(h.first, "id=r|type=range|components=" + h.second +
                                       "|rangeSize=5|rangeOffset=" +
                                       std::to_string(end - 5 + (h.second == "j" ? 4096 : 0))),
                  "MARKS")
            << h.second;
    // Not a number reads as 0: an empty range.
    EXPECT_EQ(bytesOf(known, "id=r|type=range|components=" + a + "|rangeOffset=x|rangeSize=y"), "");
}

TEST_F(ReaderFactoryTest, EveryFailureSaysWhyOnce) {
    const std::string missing = dir.file("missing.img"), fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const Known known = {"id=r5|type=raid5|components=" + a + "|blockSize=512",
                         "id=loop|type=jbod|components=loop"};
    const std::string range = "id=r|type=range|components=" + a;
    const std::pair<std::string, std::string> cases[] = {
        {"id=x|type=directory", "Cannot initialize x\n(invalid type)"},
        // A missing component names the driver whose list lacks it.
        {"id=j|type=jbod|components=" + a + ",," + b, "Cannot initialize j\n(empty component)"},
        {"id=j|type=jbod|components=" + a + ", ", "Cannot initialize j\n(empty component)"},
        {"id=r9|type=raid5|components=|blockSize=512", "Cannot initialize r9\n(empty component)"},
        {range + "," + b + "|rangeOffset=0|rangeSize=1",
         "Cannot initialize r\n(wrong number of components)"},
        {range + "|rangeOffset=1|rangeSize=4096", "Cannot initialize r\n(invalid offset/size)"},
        {range + "|rangeOffset=9223372036854775807|rangeSize=1",
         "Cannot initialize r\n(invalid offset/size)"},
        // A stripe of no bytes is refused when the set is opened.
        {"id=s|type=raid0|components=" + a + "," + b, "Cannot initialize s\n(invalid offset/size)"},
        {"id=s|type=raid5|components=" + a + "," + b + "|blockSize=0",
         "Cannot initialize s\n(invalid offset/size)"},
        {"id=s|type=raid0|components=" + a + "|blockSize=-4096",
         "Cannot initialize s\n(invalid offset/size)"},
        // A failing component names itself; the sources above it stay silent.
        {"id=j|type=jbod|components=r5", "Cannot initialize r5\n(wrong number of components)"},
        {"id=j|type=jbod|components=" + a + "," + missing,
         "Cannot initialize " + missing + "\n(invalid file: " + missing + ")"},
        // Folders and pipes are no images (and a pipe must not wait for a writer).
        {"id=" + dir.path() + "|type=file",
         "Cannot initialize " + dir.path() + "\n(invalid file: " + dir.path() + ")"},
        {"id=" + fifo + "|type=file",
         "Cannot initialize " + fifo + "\n(invalid file: " + fifo + ")"},
        // Ids are handed on as they are: the window layer escapes them.
        {"id=<a href='x'>&amp|type=file",
         "Cannot initialize <a href='x'>&amp\n(invalid file: <a href='x'>&amp)"},
        // A source made of itself recurses to the limit and says so once.
        {known[1], "Cannot initialize loop\n(invalid depth)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(failure(known, c.first), c.second) << c.first;
    EXPECT_EQ(failure({}, "id=" + a + "|type=file", 10),
              "Cannot initialize " + a + "\n(invalid depth)");
    EXPECT_EQ(failure({}, "id=" + a + "|type=file", 9), "");
}

// Each id at each level is built once: a member named 40 times on eight levels
// would otherwise be opened 40^8 times. Sizes past 2^63 are refused, not wrapped.
TEST_F(ReaderFactoryTest, LeavesAndRepeatedMembersAreOpenedOnceAndHugeSetsRefused) {
    FakeLeaves leaves(1000);
    auto times40 = [](const std::string& id) {
        std::string list = id;
        for (int i = 1; i < 40; ++i)
            list += "," + id;
        return list;
    };
    Known known;
    for (int level = 0; level < 8; ++level)
        known.push_back("id=l" + std::to_string(level) + "|type=jbod|components=" +
                        times40(level < 7 ? "l" + std::to_string(level + 1) : "leaf.img"));
    {
        ScriptedInterface ui;
        auto reader = createReaderFromDescr(known, known[0].c_str(), &ui, 0);
        ASSERT_TRUE(reader);
        EXPECT_EQ(leaves.opened.size(), 1u);
        EXPECT_EQ(reader->getSize(), 6553600000000000LL); // 40^8 * 1000
    }
    known.push_back("id=huge|type=jbod|components=" + times40("l0"));
    EXPECT_EQ(failure(known, "id=top|type=jbod|components=" + times40("huge")),
              "Cannot initialize top\n(invalid offset/size)");
    EXPECT_EQ(failure(known, "id=top|type=raid0|blockSize=512|components=" + times40("huge")),
              "Cannot initialize top\n(invalid offset/size)");
    // Drives, partitions and floppies are opened as devices.
    leaves.opened.clear();
    for (const char* type : {"drive", "partition", "floppy"})
        EXPECT_EQ(failure({}, std::string("id=/dev/sdz|type=") + type), "");
    EXPECT_EQ(leaves.opened,
              (std::vector<std::pair<LeafKind, std::string>>(3, {LeafKind::DEVICE, "/dev/sdz"})));
}

} // namespace
