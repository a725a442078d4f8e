#include "devices/DtReaderReader.h"

#include "core/Log.h"
#include "core/Ownership.h"
#include "tests/support/FailingReader.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace {

using testutil::FailingReader;
using testutil::MemoryReader;

std::string logSince(std::size_t mark) {
    return logMemoryText().substr(mark);
}

// 1,000 bytes whose values show where they came from, behind a reader that
// records every request.
struct Parent {
    Parent() : memory(new MemoryReader(bytes())), reader(memory, {}) {}
    static std::string bytes() {
        std::string s(1000, '\0');
        for (std::size_t i = 0; i < s.size(); ++i)
            s[i] = static_cast<char>(i * 7 + i / 256);
        return s;
    }
    SharedPtr<dt::Reader> memory;
    FailingReader reader;
};

TEST(ReaderReaderTest, FreshWindowShowsTheWholeParent) {
    Parent p;
    dt::ReaderReader window(&p.reader);
    EXPECT_EQ(window.getSize(), 1000);
    std::vector<u8> got(1000);
    ASSERT_TRUE(window.read(0, got.data(), 1000));
    EXPECT_EQ(std::string(got.begin(), got.end()), Parent::bytes());
}

TEST(ReaderReaderTest, InitMovesAndClipsTheWindow) {
    Parent p;
    dt::ReaderReader window(&p.reader);
    ASSERT_TRUE(window.init(10, 5));
    EXPECT_EQ(window.getBaseOffset(), 10);
    EXPECT_EQ(window.getSize(), 5);
    u8 got[5];
    ASSERT_TRUE(window.read(0, got, 5));
    EXPECT_EQ(std::string(got, got + 5), Parent::bytes().substr(10, 5));

    // More than the parent has left is clipped to its end.
    ASSERT_TRUE(window.init(900, 500));
    EXPECT_EQ(window.getSize(), 100);
    ASSERT_TRUE(window.init(999, 1));
    EXPECT_EQ(window.getSize(), 1);
    ASSERT_TRUE(window.init(999, std::numeric_limits<i64>::max()));
    EXPECT_EQ(window.getSize(), 1);
}

TEST(ReaderReaderTest, InitOutsideTheParentKeepsTheWindow) {
    Parent p;
    dt::ReaderReader window(&p.reader);
    ASSERT_TRUE(window.init(100, 50));

    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(window.init(1000, 1));
    EXPECT_EQ(logSince(mark), "ReaderReader(19): 1000 1000\n");
    EXPECT_FALSE(window.init(5000, 1));
    EXPECT_FALSE(window.init(-1, 10));
    EXPECT_FALSE(window.init(10, -1));
    EXPECT_EQ(window.getBaseOffset(), 100);
    EXPECT_EQ(window.getSize(), 50);
}

TEST(ReaderReaderTest, ReadsAreCheckedAgainstTheWindow) {
    Parent p;
    dt::ReaderReader window(&p.reader);
    ASSERT_TRUE(window.init(200, 100));
    u8 got[100];
    ASSERT_TRUE(window.read(90, got, 10));
    EXPECT_EQ(std::string(got, got + 10), Parent::bytes().substr(290, 10));

    const std::size_t asked = p.reader.requests().size();
    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(window.read(91, got, 10));
    EXPECT_EQ(logSince(mark), "ReaderReader(30): 91 10 100\n");
    EXPECT_FALSE(window.read(-1, got, 1));
    EXPECT_FALSE(window.read(std::numeric_limits<i64>::max(), got, 1));
    EXPECT_FALSE(window.read(0, got, -1));
    EXPECT_EQ(p.reader.requests().size(), asked) << "the parent was asked";

    // Nothing at the very end still goes to the parent.
    ASSERT_TRUE(window.read(100, got, 0));
    ASSERT_EQ(p.reader.requests().size(), asked + 1);
    EXPECT_EQ(p.reader.requests().back().offset, 300);
    EXPECT_EQ(p.reader.requests().back().size, 0);
}

TEST(ReaderReaderTest, AFailedParentReadIsLogged) {
    Parent p;
    p.reader.addBadSector(1); // bytes 512..1023
    dt::ReaderReader window(&p.reader);
    ASSERT_TRUE(window.init(500, 400));
    u8 got[20];
    ASSERT_TRUE(window.read(0, got, 12));
    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(window.read(10, got, 20));
    EXPECT_NE(logSince(mark).find("ReaderReader(34): 10 500 20\n"), std::string::npos);
}

} // namespace
