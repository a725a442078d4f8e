#include "core/Log.h"

#include "core/CompressedFile.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using testutil::shellQuote;

std::string probeLog(const std::string& args, std::string* err = nullptr) {
    std::string out;
    EXPECT_EQ(testutil::run(shellQuote(testutil::probePath()) + " log " + args, &out, err), 0);
    return out;
}

// The log target is chosen once per process, as the program does from its
// "dbg=" argument; the probe sets it up exactly so. A file is truncated and gets
// every line in the "Stem(n)" form; the in-memory log is saved compressed.
TEST(LogTest, TargetsAsTheProgramSetsThemUp) {
    testutil::TempDir dir;
    const std::string path = dir.file("x.log"), saved = dir.file("Halbrook.dbg");
    testutil::writeAll(path, std::string(10000, 'z'));
    probeLog(shellQuote(path));
    const std::string text = testutil::readAll(path);
    EXPECT_EQ(text.rfind("main(20): Halbrook (revision ", 0), 0u) << text;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t open = line.find('('), close = line.find(')');
        ASSERT_TRUE(open > 0 && open != std::string::npos && close != std::string::npos) << line;
        EXPECT_EQ(line.substr(open + 1, close - open - 1).find_first_not_of("0123456789"),
                  std::string::npos)
            << line;
        EXPECT_TRUE(close + 1 == line.size() || line.compare(close + 1, 2, ": ") == 0) << line;
    }

    std::string err;
    EXPECT_EQ(probeLog("null", &err) + err, "");
    probeLog("/nonexistent-dir/x.log", &err); // falls back to standard error
    EXPECT_NE(err.find("main(20): Halbrook"), std::string::npos);

    probeLog("ostringstream " + shellQuote(saved));
    std::string memory;
    ASSERT_TRUE(loadCompressedFile(saved.c_str(), memory));
    EXPECT_EQ(memory.rfind("main(20): Halbrook", 0), 0u);
    EXPECT_NE(memory.find("Probe(42): values 42 sector 63\n"), std::string::npos);
}

// The in-memory log (the program's default, which Save Debug writes) keeps its
// head and its tail, whole lines each, and one line between them that says how
// many bytes it left out: a scan of a damaged disk or a hostile file can log
// without end, and once took gigabytes here.
TEST(LogTest, TheInMemoryLogKeepsItsHeadAndItsTail) {
    const std::string earlier = logMemoryText();
    u64 lines = 0;
    for (u64 bytes = 0; bytes < 3 * (LOG_MEMORY_HEAD_BYTES + LOG_MEMORY_TAIL_BYTES); ++lines) {
        logAt("LogTest", 1) << ": line " << lines << '\n';
        bytes += 18 + std::to_string(lines).size();
    }
    const std::string text = logMemoryText();
    EXPECT_LE(text.size(), LOG_MEMORY_HEAD_BYTES + LOG_MEMORY_TAIL_BYTES + 100);
    ASSERT_EQ(text.compare(0, earlier.size(), earlier), 0);

    // The lines written here, in order, with one gap where the count stands.
    std::istringstream in(text.substr(earlier.size()));
    u64 next = 0, leftOut = 0, gaps = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Log(60): ", 0) == 0) {
            EXPECT_EQ(line.substr(line.find(' ', 9)), " bytes left out");
            leftOut = std::stoull(line.substr(9));
            ++gaps;
            std::getline(in, line);
            const u64 resumed = std::stoull(line.substr(line.rfind(' ') + 1));
            EXPECT_GT(resumed, next);
            next = resumed;
        }
        ASSERT_EQ(line, "LogTest(1): line " + std::to_string(next));
        ++next;
    }
    EXPECT_EQ(next, lines);
    EXPECT_EQ(gaps, 1u);
    const std::size_t countLine = 9 + std::to_string(leftOut).size() + 16;
    EXPECT_EQ(leftOut + text.size() - countLine, logMemoryWritten());

    // What came after a mark, as the tests' log capture reads it.
    const u64 mark = logMemoryWritten();
    logAt("LogTest", 2) << ": after\n";
    EXPECT_EQ(logMemoryText(mark), "LogTest(2): after\n");
}

} // namespace
