#include "devices/DtReaderJBOD.h"

#include "core/Log.h"
#include "tests/devices/MemberSet.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace {

using testutil::FailingReader;

std::string logSince(std::size_t mark) {
    return logMemoryText().substr(mark);
}

// A reader of some size that is never read.
class SizedReader : public dt::Reader {
public:
    explicit SizedReader(i64 size) { setSize(size); }
    bool read(i64, u8*, i64) override { return false; }
};

// Members of 100, 0 and 50 bytes.
struct Members {
    Members()
        : set(contents()), a(set.members[0]), b(set.members[2]), first(contents()[0]),
          second(contents()[2]) {}
    static std::vector<std::string> contents() {
        std::string all;
        for (int i = 0; i < 150; ++i)
            all += static_cast<char>('A' + i % 50);
        return {all.substr(0, 100), "", all.substr(100)};
    }
    testutil::MemberSet set;
    FailingReader* a;
    FailingReader* b;
    std::string first, second;
    const dt::ReaderList& list = set.list;
};

TEST(ReaderJBODTest, ReadsCrossFromOneMemberToTheNext) {
    Members m;
    dt::ReaderJBOD jbod;
    ASSERT_TRUE(jbod.init(m.list));
    EXPECT_EQ(jbod.getSize(), 150);

    u8 got[20];
    ASSERT_TRUE(jbod.read(90, got, 20));
    EXPECT_EQ(std::string(got, got + 20), (m.first + m.second).substr(90, 20));
    ASSERT_EQ(m.a->requests().size(), 1u);
    EXPECT_EQ(m.a->requests()[0].offset, 90);
    EXPECT_EQ(m.a->requests()[0].size, 10);
    ASSERT_EQ(m.b->requests().size(), 1u);
    EXPECT_EQ(m.b->requests()[0].offset, 0);
    EXPECT_EQ(m.b->requests()[0].size, 10);

    ASSERT_TRUE(jbod.read(120, got, 20));
    EXPECT_EQ(std::string(got, got + 20), m.second.substr(20, 20));
    EXPECT_EQ(m.a->requests().size(), 1u);
}

TEST(ReaderJBODTest, TheEndIsAHardLimit) {
    Members m;
    dt::ReaderJBOD jbod;
    ASSERT_TRUE(jbod.init(m.list));
    u8 got[2];
    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(jbod.read(150, got, 1));
    EXPECT_EQ(logSince(mark), "ReaderJBOD(23)\n");
    EXPECT_FALSE(jbod.read(-1, got, 1));
    EXPECT_FALSE(jbod.read(std::numeric_limits<i64>::max(), got, 2));
    // Nothing at the very end is read without a member to take it.
    EXPECT_TRUE(jbod.read(150, got, 0));
    EXPECT_TRUE(m.a->requests().empty());

    dt::ReaderJBOD empty;
    ASSERT_TRUE(empty.init({}));
    EXPECT_EQ(empty.getSize(), 0);
    EXPECT_TRUE(empty.read(0, got, 0));
    EXPECT_FALSE(empty.read(0, got, 1));
}

TEST(ReaderJBODTest, AFailingMemberFailsTheRead) {
    Members m;
    m.b->addBadSector(0);
    dt::ReaderJBOD jbod;
    ASSERT_TRUE(jbod.init(m.list));
    u8 got[20];
    ASSERT_TRUE(jbod.read(0, got, 20));
    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(jbod.read(95, got, 10));
    EXPECT_NE(logSince(mark).find("ReaderJBOD(35)\n"), std::string::npos);
}

TEST(ReaderJBODTest, ASizeBeyond63BitsIsRefused) {
    const i64 half = std::numeric_limits<i64>::max() / 2 + 1;
    dt::ReaderJBOD jbod;
    EXPECT_FALSE(jbod.init({SharedPtr<dt::Reader>(new SizedReader(half)),
                            SharedPtr<dt::Reader>(new SizedReader(half))}));
    EXPECT_TRUE(jbod.init({SharedPtr<dt::Reader>(new SizedReader(half)),
                           SharedPtr<dt::Reader>(new SizedReader(half - 1))}));
    EXPECT_EQ(jbod.getSize(), std::numeric_limits<i64>::max());
}

} // namespace
