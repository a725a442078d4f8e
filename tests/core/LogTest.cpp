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

} // namespace
