// Every kind of reader against one contract: its size is what it can read, every
// byte inside reads back as laid out (across stripes, members and cache windows),
// nothing outside reads or reaches a member, and a failing member fails the read.

#include "devices/BlockDeviceReader.h"
#include "devices/DtReaderFile.h"
#include "devices/DtReaderJBOD.h"
#include "devices/DtReaderRAID5.h"
#include "devices/DtReaderRange.h"
#include "devices/DtReaderReader.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FakeBlockDevice.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>

namespace {

using testutil::FailingReader;
using testutil::LogCapture;
using testutil::MemoryReader;
using testutil::pattern;

struct Built {
    std::unique_ptr<dt::Reader> reader;
    std::string bytes;                   // what it must show
    std::vector<FailingReader*> members; // owned by `list`
    dt::ReaderList list;

    Built(std::string b, const std::vector<std::string>& contents) : bytes(std::move(b)) {
        for (const std::string& c : contents) {
            members.push_back(new FailingReader(SharedPtr<dt::Reader>(new MemoryReader(c)), {}));
            list.push_back(SharedPtr<dt::Reader>(members.back()));
        }
    }
    std::size_t requests() const {
        std::size_t n = 0;
        for (const FailingReader* r : members)
            n += r->requests().size();
        return n;
    }
};

// `b` with `reader` as its reader, once `ready` says its open or init worked.
Built with(Built& b, dt::Reader* reader, bool ready) {
    EXPECT_TRUE(ready);
    b.reader.reset(reader);
    return std::move(b);
}

// `image` dealt out in stripes over as many members as `sizes` names; a RAID5
// keeps on member N - 1 - row mod N a parity stripe that must never come back.
// Each member is then padded to its size: a partial stripe at its end.
template <typename Set>
Built striped(const std::string& image, std::size_t stripe, const std::vector<std::size_t>& sizes) {
    const std::size_t n = sizes.size();
    const bool parity = std::is_same_v<Set, dt::ReaderRAID5>;
    std::vector<std::string> bytes(n);
    for (std::size_t row = 0, block = 0; block * stripe < image.size(); ++row)
        for (std::size_t m = 0; m < n; ++m)
            bytes[m] += parity && m == n - 1 - row % n ? std::string(stripe, 'P')
                                                       : image.substr(block++ * stripe, stripe);
    for (std::size_t m = 0; m < n; ++m)
        bytes[m].resize(sizes[m], 'Z');
    Built b(image, bytes);
    auto* set = new Set();
    return with(b, set, set->init(b.list, static_cast<i64>(stripe)));
}

struct Kind {
    const char* name;
    const char* boundTag;  // logged for a request past the end
    const char* memberTag; // logged when a member fails
    std::function<Built(const testutil::TempDir&)> build;
};

const Kind LEAVES[] = {
    {"file", "ReaderFile(56)", "",
     [](const testutil::TempDir& dir) {
         Built b(pattern(3000), {});
         testutil::writeAll(dir.file("img"), b.bytes);
         auto* file = new dt::ReaderFile();
         // A failed open keeps the file opened before.
         return with(b, file,
                     file->open(dir.file("img").c_str()) && !file->open(dir.path().c_str()));
     }},
    // 150 sectors: reads cross the cache windows of 64.
    {"device", "BlockDeviceReader(185)", "", [](const testutil::TempDir&) {
         Built b(pattern(150 * 512), {});
         auto disk = testutil::FakeDisk::numbered(150);
         disk->bytes.assign(b.bytes.begin(), b.bytes.end());
         auto* device = new dt::BlockDeviceReader(testutil::fakeBlockDeviceFactory(disk));
         return with(b, device, device->open("/dev/fake", true));
     }}};

const Kind COMPOSED[] = {
    {"range", "ReaderRange(29)", "ReaderRange(33)",
     [](const testutil::TempDir&) {
         Built b(pattern(5000).substr(1000, 2500), {pattern(5000)});
         auto* range = new dt::ReaderRange();
         return with(b, range, range->init(b.list[0], 1000, 2500));
     }},
    {"jbod", "ReaderJBOD(23)", "ReaderJBOD(35)",
     [](const testutil::TempDir&) {
         Built b(pattern(2037), {pattern(2037).substr(0, 700), "", pattern(2037).substr(700)});
         auto* jbod = new dt::ReaderJBOD();
         return with(b, jbod, jbod->init(b.list));
     }},
    // Members of 1000, 1200 and 1100 bytes hold three whole stripes of 256.
    {"raid0", "ReaderRAID0(38)", "ReaderRAID0(51)",
     [](const testutil::TempDir&) {
         return striped<dt::ReaderRAID0>(pattern(3 * 768), 256, {1000, 1200, 1100});
     }},
    {"raid5_of_three", "ReaderRAID5(38)", "ReaderRAID5(57)",
     [](const testutil::TempDir&) {
         return striped<dt::ReaderRAID5>(pattern(2 * 768), 256, {1000, 1200, 1100});
     }},
    // Five rows: the parity wraps round after four.
    {"raid5_of_four", "ReaderRAID5(38)", "ReaderRAID5(57)",
     [](const testutil::TempDir&) {
         return striped<dt::ReaderRAID5>(pattern(3 * 640), 128, {700, 700, 700, 700});
     }},
    {"window", "ReaderReader(30)", "ReaderReader(34)", [](const testutil::TempDir&) {
         Built b(pattern(4000).substr(300), {pattern(4000)});
         auto* window = new dt::ReaderReader(b.members[0]);
         return with(b, window, window->init(300, 5000)); // clipped to the parent's end
     }}};

class ReaderKindTest : public ::testing::TestWithParam<Kind> {
protected:
    std::string read(i64 offset, i64 n) {
        std::string got(static_cast<std::size_t>(n), '\0');
        if (!built_.reader->read(offset, reinterpret_cast<u8*>(&got[0]), n))
            return "(failed)";
        return got;
    }
    testutil::TempDir dir_;
    Built built_ = GetParam().build(dir_);
};

TEST_P(ReaderKindTest, EveryByteInsideTheSizeReadsAsLaidOut) {
    const std::string& want = built_.bytes;
    const i64 size = static_cast<i64>(want.size());
    ASSERT_EQ(built_.reader->getSize(), size);
    ASSERT_EQ(read(0, size), want);
    for (i64 at = 0; at < size; at += 97) {
        const i64 n = std::min<i64>(300, size - at);
        ASSERT_EQ(read(at, n), want.substr(at, n)) << "at " << at;
    }
}

TEST_P(ReaderKindTest, NothingOutsideReadsOrReachesAMember) {
    const i64 size = built_.reader->getSize();
    const std::size_t asked = built_.requests();
    LogCapture log;
    u8 got[2];
    EXPECT_FALSE(built_.reader->read(size, got, 1));
    EXPECT_TRUE(log.has(GetParam().boundTag)) << log.text();
    EXPECT_FALSE(built_.reader->read(size - 1, got, 2));
    EXPECT_FALSE(built_.reader->read(-1, got, 1));
    EXPECT_FALSE(built_.reader->read(0, got, -1));
    EXPECT_FALSE(built_.reader->read(std::numeric_limits<i64>::max(), got, 2));
    EXPECT_EQ(built_.requests(), asked);
}

using ComposedReaderTest = ReaderKindTest;

TEST_P(ComposedReaderTest, AFailingMemberFailsTheRead) {
    // Parity is never used to rebuild what a member cannot give.
    built_.members.back()->addBadSector(0);
    built_.members.back()->addBadSector(1);
    LogCapture log;
    EXPECT_EQ(read(0, built_.reader->getSize()), "(failed)");
    EXPECT_TRUE(log.has(GetParam().memberTag)) << log.text();
}

void PrintTo(const Kind& kind, std::ostream* os) {
    *os << kind.name;
}
std::string kindName(const ::testing::TestParamInfo<Kind>& info) {
    return info.param.name;
}
INSTANTIATE_TEST_SUITE_P(Leaves, ReaderKindTest, ::testing::ValuesIn(LEAVES), kindName);
INSTANTIATE_TEST_SUITE_P(Composed, ReaderKindTest, ::testing::ValuesIn(COMPOSED), kindName);
INSTANTIATE_TEST_SUITE_P(Composed, ComposedReaderTest, ::testing::ValuesIn(COMPOSED), kindName);

} // namespace
