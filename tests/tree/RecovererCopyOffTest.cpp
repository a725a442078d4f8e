#include "tree/RecovererCopyOff.h"

#include "core/DateTime.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using testutil::readAll;
using testutil::TempDir;
using testutil::writeAll;
using tree::FileEntry;
using tree::Recoverer;
using tree::RecovererCopyOff;

namespace {

using Path = std::vector<std::string>;

// Plays a map's recoverNode: the file's data in pieces of `piece` bytes.
void recover(Recoverer& r, const Path& path, const std::string& name, const std::string& data,
             u32 time = 1234567890u, std::size_t piece = 4096) {
    r.beginFile(FileEntry(name, data.size(), time), path);
    for (std::size_t at = 0; at < data.size(); at += piece) {
        std::size_t n = std::min(piece, data.size() - at);
        r.write(data.data() + at, static_cast<u32>(n));
    }
    r.endFile();
}

// Every entry below `root`, relative, sorted; folders end with '/', links with '@'.
void listInto(const std::string& root, const std::string& rel, std::vector<std::string>& out) {
    DIR* dir = opendir((root + "/" + rel).c_str());
    if (!dir)
        return;
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        std::string path = rel.empty() ? name : rel + "/" + name;
        struct stat st;
        lstat((root + "/" + path).c_str(), &st);
        if (S_ISLNK(st.st_mode)) {
            out.push_back(path + "@");
        } else if (S_ISDIR(st.st_mode)) {
            out.push_back(path + "/");
            listInto(root, path, out);
        } else {
            out.push_back(path);
        }
    }
    closedir(dir);
}

std::vector<std::string> listTree(const std::string& root) {
    std::vector<std::string> out;
    listInto(root, "", out);
    std::sort(out.begin(), out.end());
    return out;
}

struct stat statOf(const std::string& path) {
    struct stat st = {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st;
}

std::string bytes(std::size_t n, char seed = 'a') {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(seed + i % 23);
    return s;
}

// The message a Recoverer::Exception carries, or "" when none was thrown.
template <typename Call> std::string failureOf(Call call) {
    try {
        call();
    } catch (const Recoverer::Exception& e) {
        return e.what();
    }
    return std::string();
}

class RecovererCopyOffTest : public ::testing::Test {
protected:
    TempDir tmp;
    // A folder of its own, so that whatever would escape it shows up beside it.
    std::string dest = tmp.file("out");
    std::string out(const std::string& rel) const { return dest + "/" + rel; }
};

} // namespace

TEST_F(RecovererCopyOffTest, WritesFoldersFilesAndTimes) {
    RecovererCopyOff r(dest, "Shown", 0);
    std::string data = bytes(10000);
    recover(r, {"a", "b"}, "report.txt", data, 1234567890u, 333);
    recover(r, {}, "top.bin", "x", 1000000000u);

    // Before anything reads the file and moves its access time.
    struct stat st = statOf(out("a/b/report.txt"));
    EXPECT_EQ(st.st_mtime, 1234567890);
    EXPECT_EQ(st.st_atime, 1234567890);
    EXPECT_EQ(statOf(out("top.bin")).st_mtime, 1000000000);
    // Recovered data is never made executable.
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 07777, 0644u & ~mask);

    EXPECT_EQ(listTree(dest),
              (std::vector<std::string>{"a/", "a/b/", "a/b/report.txt", "top.bin"}));
    EXPECT_EQ(readAll(out("a/b/report.txt")), data);
    EXPECT_EQ(r.getFiles(), (std::vector<std::string>{"a/b/report.txt", "top.bin"}));
    EXPECT_EQ(r.getVolumeCount(), 0u);
}

TEST_F(RecovererCopyOffTest, FileWithoutTimeKeepsTheTimeOfItsWriting) {
    RecovererCopyOff r(dest, dest, 0);
    std::time_t before = std::time(nullptr);
    recover(r, {}, "undated", "data", NO_TIME);
    struct stat st = statOf(out("undated"));
    EXPECT_GE(st.st_mtime, before - 1);
    EXPECT_LE(st.st_mtime, std::time(nullptr) + 1);
}

TEST_F(RecovererCopyOffTest, EmptyFilesCountAndEmptyFoldersLeaveNothing) {
    RecovererCopyOff r(dest, dest, 0);
    r.beginDirectory("empty", {});
    r.beginDirectory("deeper", {"empty"});
    recover(r, {"docs"}, "zero.txt", "");
    EXPECT_EQ(listTree(dest), (std::vector<std::string>{"docs/", "docs/zero.txt"}));
    EXPECT_EQ(r.getFiles(), (std::vector<std::string>{"docs/zero.txt"}));
}

TEST_F(RecovererCopyOffTest, SplitsIntoVolumesOnlyWhenBytesPassTheLimit) {
    RecovererCopyOff r(dest, dest, 10);
    recover(r, {}, "exact.bin", bytes(10), 1234567890u, 3);
    EXPECT_EQ(r.getVolumeCount(), 0u);
    recover(r, {}, "over.bin", bytes(11), 1234567890u, 11);
    EXPECT_EQ(r.getVolumeCount(), 1u);
    recover(r, {"d"}, "long.bin", bytes(25, 'k'), 1234567890u, 7);
    EXPECT_EQ(r.getVolumeCount(), 2u);

    EXPECT_EQ(r.getFiles(),
              (std::vector<std::string>{"exact.bin", "over.bin", "over.bin.v1", "d/long.bin",
                                        "d/long.bin.v1", "d/long.bin.v2"}));
    EXPECT_EQ(readAll(out("exact.bin")), bytes(10));
    EXPECT_EQ(readAll(out("over.bin")), bytes(11).substr(0, 10));
    EXPECT_EQ(readAll(out("over.bin.v1")), bytes(11).substr(10));
    EXPECT_EQ(readAll(out("d/long.bin")) + readAll(out("d/long.bin.v1")) +
                  readAll(out("d/long.bin.v2")),
              bytes(25, 'k'));
    EXPECT_EQ(readAll(out("d/long.bin.v2")).size(), 5u);
    // Every volume gets the entry's time, the last one too.
    EXPECT_EQ(statOf(out("d/long.bin.v1")).st_mtime, 1234567890);
    EXPECT_EQ(statOf(out("d/long.bin.v2")).st_mtime, 1234567890);

    RecovererCopyOff unlimited(tmp.file("whole"), "", 0);
    recover(unlimited, {}, "big", bytes(1 << 20), 1234567890u, 65536);
    EXPECT_EQ(unlimited.getFiles(), (std::vector<std::string>{"big"}));
    EXPECT_EQ(readAll(tmp.file("whole/big")).size(), 1u << 20);
}

TEST_F(RecovererCopyOffTest, TakenNamesGetNumbersAndVolumesFollowTheComputedName) {
    ASSERT_EQ(mkdir(dest.c_str(), 0755), 0);
    writeAll(out("report.txt"), "old");
    writeAll(out("split.txt.v1"), "old v1");
    RecovererCopyOff r(dest, "D", 4);
    recover(r, {}, "report.txt", "new");
    recover(r, {}, "report.txt", "12345678", 1234567890u, 8);
    recover(r, {}, "split.txt", "abcdef");

    EXPECT_EQ(r.getFiles(),
              (std::vector<std::string>{"report-1.txt", "report-2.txt", "report.txt.v1",
                                        "split.txt", "split.txt-1.v1"}));
    EXPECT_EQ(readAll(out("report.txt")), "old");
    EXPECT_EQ(readAll(out("report-1.txt")), "new");
    EXPECT_EQ(readAll(out("report.txt.v1")), "5678");
    EXPECT_EQ(readAll(out("split.txt.v1")), "old v1");
    EXPECT_EQ(readAll(out("split.txt-1.v1")), "ef");
}

TEST_F(RecovererCopyOffTest, NoFreeNameThrowsAndLeavesNoVolumeCount) {
    ASSERT_EQ(mkdir(dest.c_str(), 0755), 0);
    writeAll(out("report.txt"), "");
    for (int i = 1; i <= 999; ++i)
        writeAll(out("report-" + std::to_string(i) + ".txt"), "");
    RecovererCopyOff r(dest, "/shown", 1);
    recover(r, {}, "two.bin", "ab");
    ASSERT_EQ(r.getVolumeCount(), 1u);

    EXPECT_EQ(failureOf([&] { r.beginFile(FileEntry("report.txt", 1, 0), {}); }),
              "Cannot find unique path\n(/shown/report.txt)");
    EXPECT_EQ(r.getVolumeCount(), 0u);
    // Still usable afterwards.
    recover(r, {}, "later.bin", "z");
    EXPECT_EQ(r.getFiles().back(), "later.bin");
}

TEST_F(RecovererCopyOffTest, RecoveringTwiceOverwritesNothing) {
    auto recoverTree = [&](const std::string& tag) {
        RecovererCopyOff r(dest, dest, 0);
        recover(r, {}, "x", "root " + tag);
        recover(r, {"docs"}, "a.txt", "a " + tag);
        recover(r, {"docs", "sub"}, "b", "b " + tag);
        return r.getFiles();
    };
    recoverTree("first");
    EXPECT_EQ(recoverTree("second"),
              (std::vector<std::string>{"x-1", "docs/a-1.txt", "docs/sub/b-1"}));
    EXPECT_EQ(readAll(out("x")), "root first");
    EXPECT_EQ(readAll(out("x-1")), "root second");
    EXPECT_EQ(readAll(out("docs/a.txt")), "a first");
    EXPECT_EQ(readAll(out("docs/sub/b")), "b first");
    EXPECT_EQ(readAll(out("docs/sub/b-1")), "b second");
}

TEST_F(RecovererCopyOffTest, FileWhereTheTreeHasAFolderMovesTheFolder) {
    ASSERT_EQ(mkdir(dest.c_str(), 0755), 0);
    writeAll(out("docs"), "a file");
    ASSERT_EQ(mkdir(out("photos").c_str(), 0755), 0);
    writeAll(out("photos/2009"), "a file");
    writeAll(out("photos/2009-1"), "a file too");
    writeAll(out("top"), "a file");
    RecovererCopyOff r(dest, dest, 0);
    recover(r, {"docs"}, "a.txt", "A");
    recover(r, {"docs"}, "b.txt", "B");
    recover(r, {"photos", "2009"}, "p.jpg", "P");
    // A file in the middle of the path moves the folders below it along.
    recover(r, {"top", "mid"}, "c", "C");

    EXPECT_EQ(r.getFiles(), (std::vector<std::string>{"docs-1/a.txt", "docs-1/b.txt",
                                                      "photos/2009-2/p.jpg", "top-1/mid/c"}));
    EXPECT_EQ(readAll(out("docs")), "a file");
    EXPECT_EQ(readAll(out("docs-1/b.txt")), "B");
}

TEST_F(RecovererCopyOffTest, PlantedLinksAreNeverFollowed) {
    std::string outside = tmp.file("outside");
    ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
    writeAll(outside + "/victim.txt", "keep me");
    ASSERT_EQ(mkdir(dest.c_str(), 0755), 0);
    ASSERT_EQ(symlink(outside.c_str(), out("docs").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/victim.txt").c_str(), out("report.txt").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/new.txt").c_str(), out("dangling.txt").c_str()), 0);

    RecovererCopyOff r(dest, dest, 0);
    recover(r, {"docs"}, "victim.txt", "overwritten?");
    recover(r, {}, "report.txt", "new report");
    recover(r, {}, "dangling.txt", "new dangling");

    EXPECT_EQ(r.getFiles(),
              (std::vector<std::string>{"docs-1/victim.txt", "report-1.txt", "dangling-1.txt"}));
    EXPECT_EQ(listTree(outside), (std::vector<std::string>{"victim.txt"}));
    EXPECT_EQ(readAll(outside + "/victim.txt"), "keep me");
    EXPECT_EQ(readAll(out("report-1.txt")), "new report");
}

TEST_F(RecovererCopyOffTest, HostileNamesStayInsideTheDestination) {
    RecovererCopyOff r(dest, dest, 0);
    std::string longName = std::string(296, 'n') + ".txt";
    recover(r, {".."}, "..", "1");
    recover(r, {".", "../.."}, "../../escape", "2");
    recover(r, {"a/b"}, "c\\d", "3");
    recover(r, {}, std::string("nul\0byte", 8), "4");
    recover(r, {}, longName, "5");
    recover(r, {}, "", "6");

    // Nothing beside the destination.
    EXPECT_EQ(listTree(tmp.path()).front(), "out/");
    for (const std::string& p : listTree(tmp.path()))
        EXPECT_EQ(p.rfind("out/", 0), 0u) << p;

    const std::vector<std::string>& files = r.getFiles();
    ASSERT_EQ(files.size(), 6u);
    EXPECT_EQ(files[0], "._/._");
    EXPECT_EQ(files[1], "_/.._._/.._.._escape");
    EXPECT_EQ(files[2], "a_b/c_d");
    EXPECT_EQ(files[3].find('\0'), std::string::npos);
    EXPECT_EQ(files[3].substr(0, 3), "nul");
    // Cut further by the path limit: see LongNamesKeepTheirTail.
    EXPECT_EQ(files[4], "~" + longName.substr(longName.size() - (files[4].size() - 1)));
    EXPECT_LE(files[4].size(), 246u);
    // "_" is taken by the folder made for ".".
    EXPECT_EQ(files[5], "_-1");
    for (const std::string& f : files)
        EXPECT_TRUE(S_ISREG(statOf(out(f)).st_mode)) << f;
}

TEST_F(RecovererCopyOffTest, LongNamesKeepTheirTail) {
    // A destination this long leaves the path limit out of play.
    std::string longDest = tmp.path() + "/" + std::string(240 - tmp.path().size(), 'e');
    std::string longName = std::string(296, 'n') + ".txt";
    RecovererCopyOff r(longDest, "", 0);
    recover(r, {std::string(300, 'f')}, longName, "x");
    std::string folder = "~" + std::string(250, 'f');
    std::string file = "~" + longName.substr(longName.size() - 245);
    EXPECT_EQ(r.getFiles(), (std::vector<std::string>{folder + "/" + file}));
    EXPECT_EQ(readAll(longDest + "/" + folder + "/" + file), "x");
}

TEST_F(RecovererCopyOffTest, LongPathsAreCutFromTheirHead) {
    // A destination of 100 bytes with its separator: 134 characters are left.
    std::string base = tmp.path() + "/";
    std::string longDest = base + std::string(99 - base.size(), 'd');
    ASSERT_EQ(longDest.size() + 1, 100u);
    Path path;
    for (char c : std::string("abcdefghij"))
        path.push_back(std::string(19, c)); // 10 folders of 20 with the separator
    RecovererCopyOff r(longDest, "", 0);
    recover(r, path, "file.txt", "deep");

    std::string full;
    for (const std::string& p : path)
        full += p + "/";
    full += "file.txt";
    std::string expected = "~" + full.substr(full.size() - 133);
    ASSERT_EQ(r.getFiles(), (std::vector<std::string>{expected}));
    EXPECT_EQ(readAll(longDest + "/" + expected), "deep");

    // Without a limit left (a destination of 234 bytes or more) nothing is cut.
    std::string deepDest = base + std::string(240 - base.size(), 'e');
    RecovererCopyOff deep(deepDest, "", 0);
    recover(deep, path, "file.txt", "deep");
    EXPECT_EQ(deep.getFiles(), (std::vector<std::string>{full}));
}

TEST_F(RecovererCopyOffTest, CutOnANameStartStaysWithinTheNameLimit) {
    // 85 three-byte characters: a folder name of 255 bytes. With a destination of
    // 144 bytes, 90 characters are left, and the cut lands right at that name's
    // start: "~" and all of it would be one byte more than a name can hold.
    std::string euros;
    for (int i = 0; i < 85; ++i)
        euros += "\xE2\x82\xAC";
    std::string destPath = tmp.path() + "/" + std::string(142 - tmp.path().size(), 'f');
    ASSERT_EQ(destPath.size() + 1, 144u);
    RecovererCopyOff r(destPath, "", 0);
    recover(r, {"x", euros, "y"}, "f", "a");

    ASSERT_EQ(r.getFiles().size(), 1u);
    const std::string& written = r.getFiles()[0];
    EXPECT_EQ(written, "~" + euros.substr(3) + "/y/f");
    EXPECT_EQ(readAll(destPath + "/" + written), "a");
}

TEST_F(RecovererCopyOffTest, ReportsProgressAndPassesACancelOn) {
    testutil::RecordingProgress progress;
    RecovererCopyOff r(dest, "Shown", 0);
    {
        InterfaceCallbackScope scope(r, &progress);
        recover(r, {"a", "b"}, "c.txt", bytes(1000), 1234567890u, 300);
    }
    const auto& record = *progress.record();
    EXPECT_EQ(record.lastText(InterfaceCallback::TEXT_MAIN), "a/b/c.txt");
    EXPECT_EQ(record.lastText(InterfaceCallback::TEXT_SECOND), "Shown/a/b/c.txt");
    EXPECT_EQ(record.position(), 1000u);

    testutil::RecordingProgress cancelling;
    cancelling.cancelAtPoll(3);
    InterfaceCallbackScope scope(r, &cancelling);
    EXPECT_THROW(recover(r, {}, "d.txt", bytes(1000), 1234567890u, 300), InterruptedException);
    EXPECT_EQ(r.getFiles().size(), 1u);
}

// Run in a child process: a user without write permission. Root is made
// "nobody" first, since root writes into a folder whatever its mode.
[[noreturn]] void recoverIntoReadOnly(const std::string& dest) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
        _exit(3);
    RecovererCopyOff r(dest, "Shown", 0);
    std::string file = failureOf([&] { r.beginFile(FileEntry("report.txt", 1, 0), {}); });
    std::string folder = failureOf([&] { r.beginFile(FileEntry("a", 1, 0), {"docs"}); });
    std::fprintf(stderr, "[%s][%s]", file.c_str(), folder.c_str());
    _exit(file == "Cannot open file\n(Shown/report.txt)" &&
                  folder == "Cannot make directory\n(Shown/docs)"
              ? 0
              : 1);
}

TEST_F(RecovererCopyOffTest, ReadOnlyDestinationGivesTheMessages) {
    ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dest.c_str(), 0555), 0);
    EXPECT_EXIT(recoverIntoReadOnly(dest), ::testing::ExitedWithCode(0), "");
}

// Run in a child process: a file-size limit makes the kernel stop a write short
// and then refuse the rest.
[[noreturn]] void recoverPastFileSizeLimit(const std::string& dest) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {5000, RLIM_INFINITY};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        _exit(3);
    std::string failure;
    std::vector<std::string> files;
    {
        RecovererCopyOff r(dest, "Shown", 0);
        std::string data = bytes(4096);
        r.beginFile(FileEntry("big.bin", 8192, 1234567890u), {});
        r.write(data.data(), 4096);
        failure = failureOf([&] { r.write(data.data(), 4096); });
        limit.rlim_cur = RLIM_INFINITY;
        setrlimit(RLIMIT_FSIZE, &limit);
        // The next file closes the partial one.
        recover(r, {}, "next.bin", "n");
        files = r.getFiles();
    }
    struct stat st;
    bool partial = stat((dest + "/big.bin").c_str(), &st) == 0 && st.st_size == 5000 &&
                   st.st_mtime != 1234567890;
    std::fprintf(stderr, "[%s] %zu", failure.c_str(), files.size());
    _exit(failure == "Cannot write to file\n(Shown/big.bin)" && partial &&
                  files == std::vector<std::string>{"big.bin", "next.bin"}
              ? 0
              : 1);
}

TEST_F(RecovererCopyOffTest, WriteFailureKeepsThePartialVolume) {
    EXPECT_EXIT(recoverPastFileSizeLimit(dest), ::testing::ExitedWithCode(0), "");
}

TEST(RecovererTest, JoinsPathsWithSlashes) {
    EXPECT_EQ(tree::joinPath({"a", "b"}), "a/b");
    EXPECT_EQ(tree::joinPath({}), "");
    EXPECT_EQ(tree::withTrailingSeparator("a"), "a/");
    EXPECT_EQ(tree::withTrailingSeparator("a/"), "a/");
    EXPECT_EQ(tree::withTrailingSeparator(""), "");
}
