#include "core/Log.h"

#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using testutil::run;
using testutil::shellQuote;
using testutil::TempDir;

// The log target is set once per process, so the targets are tried through the
// probe, which sets it up exactly as the program does.
TEST(LogTest, NullTargetWritesNothing) {
    TempDir dir;
    std::string out, err;
    int rc = run("cd " + shellQuote(dir.path()) + " && " + testutil::probePath() + " log null",
                 &out, &err);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
    EXPECT_EQ(run("test -z \"$(ls -A " + shellQuote(dir.path()) + ")\""), 0);
}

TEST(LogTest, FileTargetIsTruncatedAndEveryLineHasTheStemForm) {
    TempDir dir;
    std::string path = dir.file("x.log");
    testutil::writeAll(path, std::string(10000, 'z'));
    ASSERT_EQ(run(testutil::probePath() + " log " + shellQuote(path)), 0);
    std::string text = testutil::readAll(path);
    ASSERT_FALSE(text.empty());
    std::istringstream lines(text);
    std::string line;
    bool first = true;
    while (std::getline(lines, line)) {
        if (first) {
            EXPECT_EQ(line.rfind("main(20): Halbrook (revision ", 0), 0u) << line;
            EXPECT_EQ(line.back(), ')');
            first = false;
        }
        // "Stem(n)" or "Stem(n): ..."
        std::size_t open = line.find('(');
        std::size_t close = line.find(')');
        ASSERT_NE(open, std::string::npos) << line;
        ASSERT_GT(open, 0u) << line;
        ASSERT_NE(close, std::string::npos) << line;
        EXPECT_EQ(line.substr(open + 1, close - open - 1).find_first_not_of("0123456789"),
                  std::string::npos)
            << line;
        EXPECT_TRUE(close + 1 == line.size() || line.compare(close + 1, 2, ": ") == 0) << line;
    }
    EXPECT_EQ(text.find('z'), std::string::npos);
}

TEST(LogTest, UnopenableFileFallsBackToStandardError) {
    std::string err;
    ASSERT_EQ(run(testutil::probePath() + " log /nonexistent-dir/x.log", nullptr, &err), 0);
    EXPECT_NE(err.find("main(20): Halbrook"), std::string::npos);
    ASSERT_EQ(run(testutil::probePath() + " log ''", nullptr, &err), 0);
    EXPECT_NE(err.find("main(20): Halbrook"), std::string::npos);
}

TEST(LogTest, MemoryTargetCanBeSavedAsACompressedFile) {
    TempDir dir;
    std::string saved = dir.file("Halbrook.dbg");
    ASSERT_EQ(run(testutil::probePath() + " log ostringstream " + shellQuote(saved)), 0);
    std::string text;
    ASSERT_EQ(run(testutil::probePath() + " unpack " + shellQuote(saved) + " " +
                  shellQuote(dir.file("plain"))),
              0);
    text = testutil::readAll(dir.file("plain"));
    EXPECT_EQ(text.rfind("main(20): Halbrook", 0), 0u);
    EXPECT_NE(text.find("Probe(42): values 42 sector 63\n"), std::string::npos);
}

TEST(LogTest, InMemoryByDefaultAndLinesKeepTheirOrder) {
    // The test program never set a target: lines collect in memory.
    EXPECT_STREQ(logStreamKind(), "ostringstream");
    std::size_t before = logMemoryText().size();
    logAt("LogTest", 1) << '\n';
    logAt("LogTest", 2) << ": "
                        << "a" << ' ' << 7 << '\n';
    EXPECT_EQ(logMemoryText().substr(before), "LogTest(1)\nLogTest(2): a 7\n");
}

__attribute__((noinline)) std::string traceFrom(unsigned depth) {
    return stackTraceString(depth);
}

TEST(LogTest, StackTraceIsBounded) {
    EXPECT_EQ(stackTraceString(0), "");
    std::string trace = traceFrom(100);
    ASSERT_FALSE(trace.empty());
    std::istringstream words(trace);
    std::string w;
    int n = 0;
    while (words >> w) {
        EXPECT_EQ(w.rfind("0x", 0), 0u) << w;
        ++n;
    }
    EXPECT_LE(n, 17);
    EXPECT_GE(n, 2);
    std::istringstream two(traceFrom(2));
    n = 0;
    while (two >> w)
        ++n;
    EXPECT_EQ(n, 2);
}

TEST(LogTest, NullStreamBufferNeverFails) {
    StreambufNull<int> buf;
    std::ostream out(&buf);
    out << "lots of text " << 42 << std::string(10000, 'x');
    EXPECT_TRUE(out.good());
}

} // namespace
