#include "devices/DtReaderRange.h"

#include "core/Log.h"
#include "tests/support/FailingReader.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

using testutil::FailingReader;
using testutil::MemoryReader;
using testutil::numberedSectors;

std::string logSince(std::size_t mark) {
    return logMemoryText().substr(mark);
}

constexpr i64 MAX = std::numeric_limits<i64>::max();

TEST(ReaderRangeTest, InitMustFitTheParent) {
    SharedPtr<dt::Reader> parent(new MemoryReader(std::string(1000, 'x')));
    dt::ReaderRange range;
    EXPECT_TRUE(range.init(parent, 400, 600));
    EXPECT_EQ(range.getSize(), 600);

    dt::ReaderRange tooLong;
    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(tooLong.init(parent, 400, 601));
    EXPECT_EQ(logSince(mark), "ReaderRange(17)\n");
    EXPECT_FALSE(tooLong.init(parent, -1, 10));
    EXPECT_FALSE(tooLong.init(parent, 10, -1));
    EXPECT_FALSE(tooLong.init(parent, MAX, 2));
    EXPECT_FALSE(tooLong.init(parent, 2, MAX));
    EXPECT_FALSE(tooLong.init(SharedPtr<dt::Reader>(), 0, 0));
    EXPECT_EQ(tooLong.getSize(), 0);
}

TEST(ReaderRangeTest, ReadsAreShiftedAndBounded) {
    const std::string bytes = numberedSectors(4);
    SharedPtr<dt::Reader> memory(new MemoryReader(bytes));
    auto* recorder = new FailingReader(memory, {});
    SharedPtr<dt::Reader> parent(recorder);
    dt::ReaderRange range;
    ASSERT_TRUE(range.init(parent, 1000, 500));

    u8 got[100];
    ASSERT_TRUE(range.read(450, got, 50));
    EXPECT_EQ(std::string(got, got + 50), bytes.substr(1450, 50));
    EXPECT_EQ(recorder->requests().back().offset, 1450);

    const std::size_t asked = recorder->requests().size();
    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(range.read(451, got, 50));
    EXPECT_EQ(logSince(mark), "ReaderRange(29)\n");
    EXPECT_FALSE(range.read(-1, got, 1));
    EXPECT_FALSE(range.read(MAX, got, 1));
    EXPECT_EQ(recorder->requests().size(), asked);
    EXPECT_TRUE(range.read(500, got, 0));

    recorder->addBadSector(2);
    mark = logMemoryText().size();
    EXPECT_FALSE(range.read(0, got, 100)); // parent bytes 1000..1099 hold sector 2
    EXPECT_NE(logSince(mark).find("ReaderRange(33)\n"), std::string::npos);
}

TEST(ReaderRangeTest, AnEmptyRangeReadsNothing) {
    SharedPtr<dt::Reader> parent(new MemoryReader("abc"));
    dt::ReaderRange range;
    ASSERT_TRUE(range.init(parent, 0, 0));
    u8 got[1];
    EXPECT_TRUE(range.read(0, got, 0));
    EXPECT_FALSE(range.read(0, got, 1));
    // Nor does one that was never set up.
    dt::ReaderRange unset;
    EXPECT_TRUE(unset.read(0, got, 0));
    EXPECT_FALSE(unset.read(0, got, 1));
}

} // namespace
