// `hbprobe tree-demo` end to end: the test engine's tree reported, selected and
// recovered into a real folder, as the program's commands do it.

#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using testutil::probePath;
using testutil::readAll;
using testutil::run;
using testutil::shellQuote;
using testutil::TempDir;
using testutil::writeAll;

const char* const TREE = R"(
root 5
dir 10 in=5 name=docs
file 20 in=10 name=a.txt size=100 bad=10+5
file 21 in=10 name=b.txt text=hello
file 22 in=5 name=big.bin size=2500
file 23 in=5 name=photo.JPG size=7
)";

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result treeDemo(const std::string& description, const std::string& dest,
                const std::string& options = "") {
    Result r;
    r.status = run("TZ=UTC " + shellQuote(probePath()) + " tree-demo " + shellQuote(description) +
                       " " + shellQuote(dest) + " " + options,
                   &r.out, &r.err);
    return r;
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

u64 sizeOf(const std::string& path) {
    struct stat st = {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return static_cast<u64>(st.st_size);
}

TEST(ProbeTreeDemoTest, ReportsSelectsRecoversAndReportsAgain) {
    TempDir dir;
    writeAll(dir.file("tree.txt"), TREE);
    const Result r = treeDemo(dir.file("tree.txt"), dir.file("out"), "--limit 1000");
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    const std::size_t recoverAt = r.out.find("\n--- recover ---\n");
    ASSERT_NE(recoverAt, std::string::npos) << r.out;
    const std::string report = r.out.substr(0, recoverAt);
    const std::string recovered = r.out.substr(recoverAt);
    EXPECT_EQ(report.substr(0, 16), "\nDirectory of /\n");
    EXPECT_NE(report.find("\t4 file(s) 1 folder(s) 2,612 bytes\n"), std::string::npos) << report;
    EXPECT_NE(recovered.find("big.bin                                2500 Invalid Time"
                             " (split file)\n"),
              std::string::npos)
        << recovered;
    EXPECT_NE(recovered.find("a.txt                                   100 Invalid Time"
                             " (recovered with errors)\n"),
              std::string::npos)
        << recovered;
    EXPECT_NE(recovered.find("\t4 file(s) 1 folder(s) 2,612 bytes\nsplit files: 1\n"
                             "files with errors: 1\n"),
              std::string::npos)
        << recovered;

    EXPECT_EQ(sizeOf(dir.file("out/big.bin")), 1000u);
    EXPECT_EQ(sizeOf(dir.file("out/big.bin.v1")), 1000u);
    EXPECT_EQ(sizeOf(dir.file("out/big.bin.v2")), 500u);
    EXPECT_EQ(readAll(dir.file("out/docs/a.txt")).substr(10, 5), "(unre");
    EXPECT_EQ(readAll(dir.file("out/docs/b.txt")), "hello");

    // A second run into the same folder overwrites nothing.
    const Result again = treeDemo(dir.file("tree.txt"), dir.file("out"), "--limit 1000");
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(readAll(dir.file("out/docs/b-1.txt")), "hello");
    EXPECT_EQ(sizeOf(dir.file("out/big-1.bin")), 1000u);
    EXPECT_EQ(sizeOf(dir.file("out/big.bin.v2")), 500u);
}

TEST(ProbeTreeDemoTest, AMaskSelectsOnlyTheMatchingFiles) {
    TempDir dir;
    writeAll(dir.file("tree.txt"), TREE);
    const Result r = treeDemo(dir.file("tree.txt"), dir.file("out"), "--mask '*.jpg'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists(dir.file("out/photo.JPG")));
    EXPECT_FALSE(exists(dir.file("out/big.bin")));
    EXPECT_FALSE(exists(dir.file("out/docs")));
}

TEST(ProbeTreeDemoTest, AFailureIsAskedAboutAndNoEndsTheWalk) {
    TempDir dir;
    writeAll(dir.file("tree.txt"), TREE);
    writeAll(dir.file("not-a-folder"), "x");
    Result r = treeDemo(dir.file("tree.txt"), dir.file("not-a-folder"), "--answer no");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\n\n*** Interrupted ***\n\n================ Total ================\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("question: Cannot make directory\\n("), std::string::npos) << r.err;

    r = treeDemo(dir.file("tree.txt"), dir.file("not-a-folder"), "--answer all");
    EXPECT_EQ(r.out.find("*** Interrupted ***"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("files with errors: 4\n"), std::string::npos) << r.out;
    std::size_t questions = 0;
    for (std::size_t at = r.err.find("question: "); at != std::string::npos;
         at = r.err.find("question: ", at + 1))
        ++questions;
    EXPECT_EQ(questions, 1u) << r.err;
}

TEST(ProbeTreeDemoTest, HostileNamesLandInsideTheDestination) {
    TempDir dir;
    const std::string longName = std::string(296, 'n') + ".txt";
    writeAll(dir.file("tree.txt"), "root 5\n"
                                   "dir 10 in=5 name=..\n"
                                   "file 20 in=10 name=passwd text=x\n"
                                   "file 21 in=5 name=..\\x2F..\\x2Fescaped text=y\n"
                                   "file 22 in=5 name=nul\\x00byte text=z\n"
                                   "file 23 in=5 name=" +
                                       longName + " text=w\n");
    const Result r = treeDemo(dir.file("tree.txt"), dir.file("out"));
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    // Nothing but the description and the destination beside it.
    DIR* d = opendir(dir.path().c_str());
    ASSERT_NE(d, nullptr);
    std::vector<std::string> beside;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..")
            beside.push_back(name);
    }
    closedir(d);
    std::sort(beside.begin(), beside.end());
    EXPECT_EQ(beside, (std::vector<std::string>{"out", "tree.txt"}));

    EXPECT_EQ(readAll(dir.file("out/._/passwd")), "x");
    EXPECT_EQ(readAll(dir.file("out/.._.._escaped")), "y");
    EXPECT_EQ(readAll(dir.file("out/nul_byte")), "z");
    // The whole path below the destination is kept within 234 characters with
    // the destination's own: the name keeps its end behind a '~'.
    const std::size_t keep = 234 - dir.file("out/").size() - 1;
    EXPECT_EQ(readAll(dir.file("out/~" + longName.substr(longName.size() - keep))), "w");
}

TEST(ProbeTreeDemoTest, BadCommandLinesAndDescriptions) {
    TempDir dir;
    writeAll(dir.file("tree.txt"), TREE);
    std::string out, err;
    EXPECT_EQ(
        run(shellQuote(probePath()) + " tree-demo " + shellQuote(dir.file("tree.txt")), &out, &err),
        2);
    EXPECT_NE(err.find("usage: hbprobe tree-demo DESCRIPTION DEST"), std::string::npos) << err;
    EXPECT_EQ(treeDemo(dir.file("tree.txt"), dir.file("out"), "--answer maybe").status, 2);
    EXPECT_EQ(treeDemo(dir.file("tree.txt"), dir.file("out"), "--limit lots").status, 2);
    writeAll(dir.file("bad.txt"), "dir ten in=5\n");
    const Result r = treeDemo(dir.file("bad.txt"), dir.file("out"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("TestEngine: line 1"), std::string::npos) << r.err;
}

} // namespace
