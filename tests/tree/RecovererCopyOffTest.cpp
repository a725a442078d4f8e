#include "tree/RecovererCopyOff.h"

#include "core/DateTime.h"
#include "tests/support/FilesCameBack.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/TestUtil.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using testutil::cameBack;
using testutil::listFolder;
using testutil::readAll;
using testutil::TempDir;
using testutil::writeAll;
using tree::FileEntry;
using tree::Recoverer;
using tree::RecovererCopyOff;

namespace {

using Path = std::vector<std::string>;
using Names = std::vector<std::string>;
constexpr u32 TIME = 1234567890u;

// Plays a map's recoverNode: the file's data in pieces of `piece` bytes.
void recover(Recoverer& r, const Path& path, const std::string& name, const std::string& data,
             u32 time = TIME, std::size_t piece = 4096) {
    r.beginFile(FileEntry(name, data.size(), time), path);
    for (std::size_t at = 0; at < data.size(); at += piece)
        r.write(data.data() + at, static_cast<u32>(std::min(piece, data.size() - at)));
    r.endFile();
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
// "too large: " in front for a Recoverer::FileTooLarge.
template <typename Call> std::string failureOf(Call call) {
    try {
        call();
    } catch (const Recoverer::FileTooLarge& e) {
        return std::string("too large: ") + e.what();
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

TEST_F(RecovererCopyOffTest, WritesFilesFoldersAndTimesAndShowsItsProgress) {
    RecovererCopyOff r(dest, "Shown", 0);
    const std::string data = bytes(10000);
    r.beginDirectory("empty", {}); // a folder that receives no file is not made
    testutil::RecordingProgress progress;
    {
        InterfaceCallbackScope scope(r, &progress);
        recover(r, {"a", "b"}, "report.txt", data, TIME, 333);
    }
    EXPECT_EQ(progress.record()->lastText(InterfaceCallback::TEXT_MAIN), "a/b/report.txt");
    EXPECT_EQ(progress.record()->lastText(InterfaceCallback::TEXT_SECOND), "Shown/a/b/report.txt");
    EXPECT_EQ(progress.record()->position(), 10000u);
    recover(r, {"a"}, "up.txt", "u", 1000000000u);
    recover(r, {"a", "b", "c"}, "down.txt", "d");
    recover(r, {}, "zero.txt", "");
    const std::time_t before = std::time(nullptr);
    recover(r, {"a", "b"}, "undated", "n", NO_TIME);

    // Before anything reads the file and moves its access time.
    const struct stat st = statOf(out("a/b/report.txt"));
    EXPECT_EQ(st.st_atime, TIME);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 07777, 0644u & ~mask); // recovered data is never executable
    EXPECT_GE(statOf(out("a/b/undated")).st_mtime, before - 1); // no time: now
    EXPECT_TRUE(cameBack(dest, {{"a/b/report.txt", data, TIME},
                                {"a/up.txt", "u", 1000000000u},
                                {"a/b/c/down.txt", "d", TIME},
                                {"zero.txt", "", TIME},
                                {"a/b/undated", "n"}}));
    EXPECT_EQ(r.getFiles(),
              (Names{"a/b/report.txt", "a/up.txt", "a/b/c/down.txt", "zero.txt", "a/b/undated"}));
    // A cancel that comes with a file's last byte waits for the next file:
    // the file ends whole, with its time.
    testutil::RecordingProgress atLastByte;
    atLastByte.cancelAtPoll(3); // the file's start, its creation, its one piece
    {
        InterfaceCallbackScope scope(r, &atLastByte);
        recover(r, {}, "whole.txt", "w");
    }
    EXPECT_EQ(statOf(out("whole.txt")).st_mtime, TIME);
    // A cancel passes through, and the file begun is closed later.
    testutil::RecordingProgress cancelling;
    cancelling.cancelAtPoll(3);
    InterfaceCallbackScope scope(r, &cancelling);
    EXPECT_THROW(recover(r, {}, "d.txt", bytes(1000), TIME, 300), InterruptedException);
    EXPECT_EQ(r.getFiles().size(), 6u);
}

// A record may claim a sparse file far larger than its volume: the zeros it
// does not store must not fill the destination.
TEST_F(RecovererCopyOffTest, ZerosTheSourceDoesNotStoreStayHolesAcrossVolumes) {
    constexpr u64 VOLUME = 16ull << 20;
    RecovererCopyOff r(dest, dest, VOLUME);
    r.beginFile(FileEntry("sparse.bin", 4 * VOLUME + 18, TIME), {});
    r.write("head", 4);
    r.writeZeros(4 * VOLUME);
    r.write("tail", 4);
    r.writeZeros(10); // a file may end in a hole too
    r.endFile();
    EXPECT_EQ(r.getFileBytes(), 4 * VOLUME + 18); // once the hole at its end is set
    EXPECT_EQ(r.getFiles(), (Names{"sparse.bin", "sparse.bin.v1", "sparse.bin.v2", "sparse.bin.v3",
                                   "sparse.bin.v4"}));
    for (const std::string& f : r.getFiles()) {
        const struct stat st = statOf(out(f));
        EXPECT_EQ(static_cast<u64>(st.st_size), f == "sparse.bin.v4" ? 18u : VOLUME) << f;
        EXPECT_LE(static_cast<u64>(st.st_blocks) * 512, 64u * 1024) << f;
        EXPECT_EQ(st.st_mtime, TIME) << f;
    }
    EXPECT_EQ(readAll(out("sparse.bin.v4")), std::string(4, '\0') + "tail" + std::string(10, '\0'));
    const int fd = open(out("sparse.bin").c_str(), O_RDONLY);
    char head[8] = {};
    EXPECT_EQ(pread(fd, head, 8, 0), 8);
    EXPECT_EQ(std::string(head, 8), std::string("head") + std::string(4, '\0'));
    close(fd);
}

TEST_F(RecovererCopyOffTest, NothingIsOverwrittenAndVolumesFollowTheComputedName) {
    ASSERT_EQ(mkdir(dest.c_str(), 0755), 0);
    writeAll(out("report.txt"), "old");
    writeAll(out("split.txt.v1"), "old v1");
    RecovererCopyOff r(dest, "/shown", 4);
    recover(r, {}, "report.txt", "new");
    recover(r, {}, "report.txt", "12345678", TIME, 8);
    recover(r, {}, "split.txt", "abcdef");
    recover(r, {"docs"}, "b", "b1");
    RecovererCopyOff again(dest, "/shown", 4);
    recover(again, {"docs"}, "b", "b2");
    // Where it went, and that the folder was there already.
    EXPECT_EQ(again.getFileFolder() + "/" + again.getFileName(), "docs/b-1");
    EXPECT_TRUE(r.madeFolder("docs"));
    EXPECT_FALSE(again.madeFolder("docs"));
    // A file cut in its second volume goes whole, with the folders made for it.
    again.beginFile(FileEntry("cut.bin", 9, TIME), {"new", "deep"});
    again.write("abcdef", 6);
    EXPECT_TRUE(again.discardFile());
    EXPECT_EQ(again.getFiles(), Names{"docs/b-1"});
    EXPECT_FALSE(again.isFileMade());
    EXPECT_FALSE(again.madeFolder("new"));
    EXPECT_EQ(r.getFiles(), (Names{"report-1.txt", "report-2.txt", "report.txt.v1", "split.txt",
                                   "split.txt-1.v1", "docs/b"}));
    EXPECT_TRUE(cameBack(dest, {{"report.txt", "old"},
                                {"report-1.txt", "new"},
                                {"report-2.txt", "1234"},
                                {"report.txt.v1", "5678"},
                                {"split.txt", "abcd"},
                                {"split.txt.v1", "old v1"},
                                {"split.txt-1.v1", "ef"},
                                {"docs/b", "b1"},
                                {"docs/b-1", "b2"}}));
    // With "-1" to "-999" taken too, the file fails; the recoverer goes on.
    for (int i = 3; i <= 999; ++i)
        writeAll(out("report-" + std::to_string(i) + ".txt"), "");
    recover(r, {}, "two.bin", "abcde");
    ASSERT_EQ(r.getVolumeCount(), 1u);
    EXPECT_EQ(r.getFileBytes(), 5u);
    EXPECT_EQ(failureOf([&] { r.beginFile(FileEntry("report.txt", 1, 0), {}); }),
              "Cannot find unique path\n(/shown/report.txt)");
    EXPECT_EQ(r.getVolumeCount(), 0u);
    EXPECT_FALSE(r.isFileMade());
    EXPECT_EQ(r.getFileBytes(), 0u);
    recover(r, {}, "later.bin", "z");
    EXPECT_EQ(r.getFiles().back(), "later.bin");
}

// Names are taken as a destination that ignores case compares them, in the form
// written: what is there in another case, a file of the run, a tail that a cut
// leaves, and a folder made for another tree folder all hold a name.
TEST_F(RecovererCopyOffTest, NamesEqualButForCaseOrCleaningStayApart) {
    ASSERT_EQ(mkdir(dest.c_str(), 0755), 0);
    writeAll(out("REPORT.TXT"), "there");
    ASSERT_EQ(mkdir(out("DOCS").c_str(), 0755), 0);
    // Names cut to their last 245 characters.
    const std::string upper = std::string(241, 'Q') + ".txt", lower = std::string(241, 'q');
    RecovererCopyOff r(dest, dest, 0);
    const struct {
        Path path;
        std::string name;
        std::string written;
    } rows[] = {
        {{}, "report.txt", "report-1.txt"},
        {{"docs"}, "a", "docs-1/a"},
        {{"Data."}, "x", "Data_/x"},
        {{"Data_"}, "y", "Data_-1/y"},
        {{"Data."}, "z", "Data_/z"}, // back in the folder made for it
        {{"Data_"}, "w", "Data_-1/w"},
        {{}, "au_.TXT", "au_.TXT"},
        {{}, "Aux.txt", "Au_-1.txt"},
        {{}, std::string(60, 'p') + upper, "~" + upper},
        {{}, std::string(60, 'r') + lower + ".txt", "~" + lower + "-1.txt"},
    };
    for (const auto& row : rows) {
        recover(r, row.path, row.name, row.written);
        EXPECT_EQ(r.getFiles().back(), row.written);
    }
    EXPECT_EQ(readAll(out("REPORT.TXT")), "there");
    for (const auto& row : rows)
        EXPECT_EQ(readAll(out(row.written)), row.written);
}

TEST_F(RecovererCopyOffTest, WhatHoldsANameIsSteppedAroundAndLinksAreNeverFollowed) {
    const std::string outside = tmp.file("outside");
    ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
    writeAll(outside + "/victim.txt", "keep me");
    ASSERT_EQ(mkdir(dest.c_str(), 0755), 0);
    writeAll(out("docs"), "a file");
    ASSERT_EQ(mkdir(out("photos").c_str(), 0755), 0);
    writeAll(out("photos/2009"), "a file");
    ASSERT_EQ(symlink(outside.c_str(), out("photos/2009-1").c_str()), 0);
    writeAll(out("top"), "a file");
    ASSERT_EQ(symlink(outside.c_str(), out("linked").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/victim.txt").c_str(), out("report.txt").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/new.txt").c_str(), out("dangling.txt").c_str()), 0);
    RecovererCopyOff r(dest, dest, 0);
    recover(r, {"docs"}, "a.txt", "A");
    recover(r, {"photos", "2009"}, "p.jpg", "P");
    recover(r, {"top", "mid"}, "c", "C"); // the folders below move along
    recover(r, {"linked"}, "victim.txt", "overwritten?");
    recover(r, {}, "report.txt", "new report");
    recover(r, {}, "dangling.txt", "new dangling");
    EXPECT_EQ(r.getFiles(), (Names{"docs-1/a.txt", "photos/2009-2/p.jpg", "top-1/mid/c",
                                   "linked-1/victim.txt", "report-1.txt", "dangling-1.txt"}));
    EXPECT_EQ(readAll(out("docs")), "a file");
    EXPECT_TRUE(cameBack(outside, {{"victim.txt", "keep me"}}));
}

TEST_F(RecovererCopyOffTest, HostileNamesStayInsideTheDestination) {
    RecovererCopyOff r(dest, dest, 0);
    const std::string longName = std::string(296, 'n') + ".txt";
    recover(r, {".."}, "..", "1");
    recover(r, {".", "../.."}, "../../escape", "2");
    recover(r, {"a/b"}, "c\\d", "3");
    recover(r, {}, std::string("nul\0byte", 8), "4");
    recover(r, {}, longName, "5");
    recover(r, {}, "", "6");
    for (const std::string& p : listFolder(tmp.path()))
        EXPECT_EQ(p.rfind("out/", 0), 0u) << p;
    const Names& files = r.getFiles();
    ASSERT_EQ(files.size(), 6u);
    EXPECT_EQ(files[0], "._/._");
    EXPECT_EQ(files[1], "_/.._._/.._.._escape");
    EXPECT_EQ(files[2], "a_b/c_d");
    EXPECT_EQ(files[3].find('\0'), std::string::npos);
    EXPECT_EQ(files[3].substr(0, 3), "nul");
    // Cut further by the path limit (see LongNamesAndPathsAreCutFromTheirHead).
    EXPECT_EQ(files[4], "~" + longName.substr(longName.size() - (files[4].size() - 1)));
    EXPECT_EQ(files[5], "_-1"); // "_" is taken by the folder made for "."
    for (const std::string& f : files)
        EXPECT_TRUE(S_ISREG(statOf(out(f)).st_mode)) << f;
}

// Names and paths are held to what the destination takes: 255 bytes a name
// and 4,095 a path, the NUL aside (tmpfs, ext4, btrfs and xfs alike).
TEST_F(RecovererCopyOffTest, LongNamesAndPathsAreCutFromTheirHead) {
    const std::string base = tmp.path() + "/";
    // A destination this long leaves the path limit out of play: each name
    // keeps its tail within the name limit.
    const std::string longDest = base + std::string(240 - base.size(), 'e');
    const std::string longName = std::string(296, 'n') + ".txt";
    RecovererCopyOff whole(longDest, "", 0);
    recover(whole, {std::string(300, 'f')}, longName, "x");
    EXPECT_EQ(whole.getFiles(),
              (Names{"~" + std::string(250, 'f') + "/~" + longName.substr(longName.size() - 245)}));

    // A destination of 100 bytes with its separator leaves 4,095 - 13 - 100 =
    // 3,982 bytes of path, counted in bytes: 15 folders of 250 bytes and a name
    // of 217 stay whole, a name of 218 takes the path's head away. 85 three-byte
    // characters make a folder name of 255 bytes: where the cut lands on its
    // start, "~" and all of it would be one byte more than a name holds; where
    // it lands inside a character, the character is not split.
    std::string euros;
    for (int i = 0; i < 85; ++i)
        euros += "\xE2\x82\xAC";
    Path path;
    Path belowEuros = {"x", euros};
    std::string folders;
    for (char c = 'a'; c < 'a' + 14; ++c) {
        path.push_back(std::string(250, c));
        belowEuros.push_back(path.back());
        folders += path.back() + "/";
    }
    path.push_back(std::string(250, 'o'));
    const std::string fifteen = folders + path.back() + "/";
    const std::string at100 = base + std::string(99 - base.size(), 'd');
    const struct {
        const Path& path;
        std::size_t nameBytes;
        std::string folders; // where the file comes back
    } rows[] = {
        {path, 217, fifteen},
        {path, 218, "~" + fifteen.substr(2)},
        {belowEuros, 211, "~" + euros.substr(3) + "/" + folders},
        {belowEuros, 212, "~" + euros.substr(3) + "/" + folders},
    };
    for (const auto& row : rows) {
        const std::string name = std::string(row.nameBytes - 4, 'n') + ".txt";
        RecovererCopyOff r(at100, "", 0);
        recover(r, row.path, name, "deep");
        ASSERT_EQ(r.getFiles(), (Names{row.folders + name})) << row.nameBytes;
        EXPECT_EQ(readAll(at100 + "/" + row.folders + name), "deep");
    }
}

std::string repeat(const std::string& character, std::size_t count) {
    std::string s;
    for (std::size_t i = 0; i < count; ++i)
        s += character;
    return s;
}

// The UTF-16 units of a UTF-8 name, as FAT and exFAT store it.
std::size_t utf16Units(const std::string& name) {
    glong units = 0;
    g_free(
        g_utf8_to_utf16(name.c_str(), static_cast<glong>(name.size()), nullptr, &units, nullptr));
    return static_cast<std::size_t>(units);
}

// FAT and exFAT take 255 UTF-16 units a name while Linux tells a NAME_MAX of
// 1,530 bytes for them; a name of 247 to 255 characters must still leave room
// for "-999" and ".v999". Names of `count` characters, the last four ".jpg",
// under the limits of such a volume and of one that counts 255 bytes: `kept`
// characters stay behind the "~" (0: the name stays whole). Where the disk the
// test writes on takes them, the free name "-1" and the volume ".v1" are made.
TEST_F(RecovererCopyOffTest, NamesFitFatAndExfatLimitsInUtf16Units) {
    const std::string a = "a", ae = "\xC3\xA4", euro = "\xE2\x82\xAC", grin = "\xF0\x9F\x98\x80";
    const RecovererCopyOff::Limits fat{1530, 4096}, bytes255{255, 4096};
    const struct {
        const std::string& character;
        std::size_t count;
        RecovererCopyOff::Limits limits;
        std::size_t kept;
    } rows[] = {
        {a, 246, fat, 0},          {a, 247, fat, 245},        {a, 255, fat, 245},
        {a, 256, fat, 245},        {ae, 246, fat, 0},         {ae, 247, fat, 245},
        {ae, 255, fat, 245},       {euro, 246, fat, 0},       {euro, 247, fat, 245},
        {euro, 255, fat, 245},     {grin, 125, fat, 0},       {grin, 126, fat, 124},
        {grin, 247, fat, 124},     {grin, 255, fat, 124},     {a, 247, bytes255, 245},
        {ae, 125, bytes255, 0},    {ae, 126, bytes255, 124},  {ae, 255, bytes255, 124},
        {euro, 255, bytes255, 84}, {grin, 255, bytes255, 64},
    };
    int n = 0;
    for (const auto& row : rows) {
        const std::string name = repeat(row.character, row.count - 4) + ".jpg";
        const std::string expected =
            row.kept == 0 ? name : "~" + repeat(row.character, row.kept - 4) + ".jpg";
        SCOPED_TRACE(std::to_string(row.count) + " x " + row.character + " in " +
                     std::to_string(row.limits.nameBytes) + " bytes");
        const std::string folder = dest + "/" + std::to_string(n++);
        RecovererCopyOff r(folder, "", 1);
        r.setLimits(row.limits);
        const std::string leaf = r.makeOutputPath({}, name);
        ASSERT_EQ(leaf, expected);
        // The worst a free name and a volume add.
        const std::string longest = leaf + "-999.v999";
        EXPECT_LE(utf16Units(longest), 255u);
        EXPECT_LE(longest.size(), row.limits.nameBytes);
        if (longest.size() > 255)
            continue;
        const std::string stem = leaf.substr(0, leaf.size() - 4);
        recover(r, {}, name, "12");
        recover(r, {}, name, "34");
        EXPECT_EQ(r.getFiles(), (Names{leaf, leaf + ".v1", stem + "-1.jpg", leaf + "-1.v1"}));
    }
    // Folder names: 255 units, and room for "-999" on the last.
    RecovererCopyOff r(dest + "/folders", "", 0);
    r.setLimits(fat);
    EXPECT_EQ(r.makeOutputPath({std::string(256, 'f'), std::string(252, 'g')}, "x"),
              "~" + std::string(254, 'f') + "/~" + std::string(250, 'g') + "/x");
}

// A destination may refuse a name that passed the cleaning: one that keeps to
// Windows' rules its characters or device names (EINVAL), one that tells a
// longer limit than it keeps its length (ENAMETOOLONG, here: 130 two-byte
// characters under FAT's 255 units, over the 255 bytes a name takes here).
// The name is tried once more in a safe form; the file's further volumes and
// the folder's other files follow it.
TEST_F(RecovererCopyOffTest, ARefusedNameIsTriedOnceMoreInASafeForm) {
    const std::string safe(130, '_');
    RecovererCopyOff r(dest, dest, 4);
    r.setLimits({1530, 4096});
    recover(r, {}, repeat("\xC3\xA4", 130) + ".txt", "123456");
    EXPECT_EQ(r.getFileVolumes(), (Names{safe + ".txt", safe + ".txt.v1"}));
    const Path refused = {repeat("\xC3\xB6", 130)};
    recover(r, refused, "a", "A");
    recover(r, {"x"}, "b", "B");
    recover(r, refused, "c", "C");
    EXPECT_EQ(r.getFileFolder(), safe);
    EXPECT_TRUE(cameBack(dest, {{safe + ".txt", "1234"},
                                {safe + ".txt.v1", "56"},
                                {safe + "/a", "A"},
                                {"x/b", "B"},
                                {safe + "/c", "C"}}));

    // What drivers say to characters they take not: ntfs-3g with windows_names
    // EINVAL, a charset that lacks them EILSEQ, a FAT driver to DEL EPERM. The
    // refusal of a name is no refusal of the writing (EACCES).
    const struct {
        int error;
        Path path;
        std::string name;
        std::string written; // or the failure
    } rows[] = {
        {EINVAL, {}, "caf\xC3\xA9.txt", "caf_.txt"},
        {EILSEQ, {"d\xC3\xA9j\xC3\xA0"}, "x", "d_j_/x"},
        {EPERM, {}, "a\x7F.txt", "a_.txt"},
        {EACCES, {}, "\xC3\xA9", "Cannot open file\n(/s/\xC3\xA9)\nPermission denied"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error);
        RecovererCopyOff strict(tmp.file("strict" + std::to_string(row.error)), "/s", 0);
        strict.setNameRule([&](const std::string& name) {
            for (char c : name)
                if (c < 0x20 || c > 0x7E)
                    return row.error;
            return 0;
        });
        const std::string failure = failureOf([&] { recover(strict, row.path, row.name, "r"); });
        EXPECT_EQ(failure.empty() ? strict.getFiles().back() : failure, row.written);
    }
}

// Run in a child process. A file-size limit makes the kernel stop a write
// short and then refuse the rest; then, as a user without write permission (root
// becomes "nobody" first, since root writes into a folder whatever its mode),
// neither a file nor a folder can be made, nor the pieces of a split file taken
// off again in the folder `own` of that user once it is read-only.
[[noreturn]] void recoverWhereItFails(const std::string& dest, const std::string& readOnly,
                                      const std::string& own) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {5000, RLIM_INFINITY};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        _exit(3);
    std::string failures;
    Names files;
    bool counted = false;
    {
        RecovererCopyOff r(dest, "Shown", 0);
        const std::string data = bytes(4096);
        r.beginFile(FileEntry("big.bin", 8192, TIME), {});
        r.write(data.data(), 4096);
        failures = failureOf([&] { r.write(data.data(), 4096); });
        counted = r.isFileMade() && r.getFileBytes() == 5000;
        // Data past a hole that crosses the limit: only what came before the
        // hole is on the disk.
        r.beginFile(FileEntry("holes.bin", 10200, TIME), {});
        r.write(data.data(), 100);
        r.writeZeros(10000);
        failures += "|" + failureOf([&] { r.write(data.data(), 100); });
        counted = counted && r.getFileBytes() == 100;
        // A hole at the end that crosses the limit, and one past the largest
        // offset a file can have.
        r.beginFile(FileEntry("tail.bin", 10100, TIME), {});
        r.write(data.data(), 100);
        r.writeZeros(10000);
        failures += "|" + failureOf([&] { r.endFile(); });
        // A name with a control character is shown in its printable form.
        r.beginFile(FileEntry("far\x7f.bin", 100, TIME), {});
        r.write(data.data(), 100);
        failures += "|" + failureOf([&] { r.writeZeros(u64{INT64_MAX}); });
        limit.rlim_cur = RLIM_INFINITY;
        setrlimit(RLIMIT_FSIZE, &limit);
        recover(r, {}, "next.bin", "n"); // closes the partial one
        files = r.getFiles();
    }
    struct stat st;
    const bool partial =
        stat((dest + "/big.bin").c_str(), &st) == 0 && st.st_size == 5000 && st.st_mtime != TIME &&
        stat((dest + "/holes.bin").c_str(), &st) == 0 && st.st_size == 100 && counted &&
        files == Names{"big.bin", "holes.bin", "tail.bin", "far\x7f.bin", "next.bin"};
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
        _exit(3);
    RecovererCopyOff r(readOnly, "Shown", 0);
    failures += "|" + failureOf([&] { r.beginFile(FileEntry("report.txt", 1, 0), {}); });
    failures += "|" + failureOf([&] { r.beginFile(FileEntry("a", 1, 0), {"docs"}); });
    RecovererCopyOff cut(own, "Shown", 4);
    cut.beginFile(FileEntry("cut.bin", 9, TIME), {});
    cut.write("abcdef", 6);
    const bool kept = chmod(own.c_str(), 0555) == 0 && !cut.discardFile() && cut.isFileMade() &&
                      cut.getFileVolumes() == Names{"cut.bin", "cut.bin.v1"} &&
                      cut.getFiles() == Names{"cut.bin", "cut.bin.v1"};
    std::fprintf(stderr, "[%s] %d %d", failures.c_str(), partial, kept);
    _exit(partial && kept &&
                  failures ==
                      "too large: Cannot write to file\n(Shown/big.bin)\nFile too large|"
                      "too large: Cannot write to file\n(Shown/holes.bin)\nFile too "
                      "large|"
                      "too large: Cannot write to file\n(Shown/tail.bin)\nFile too large|"
                      "too large: Cannot write to file\n(Shown/far\\x7f.bin)\nFile too large|"
                      "Cannot open file\n(Shown/report.txt)\nPermission denied|"
                      "Cannot make directory\n(Shown/docs)\nPermission denied"
              ? 0
              : 1);
}

TEST_F(RecovererCopyOffTest, FailuresGiveTheirMessagesAndKeepThePartialVolume) {
    ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
    ASSERT_EQ(mkdir(tmp.file("ro").c_str(), 0555), 0);
    ASSERT_EQ(mkdir(tmp.file("own").c_str(), 0755), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(tmp.file("own").c_str(), 65534, 65534), 0);
    }
    EXPECT_EXIT(recoverWhereItFails(dest, tmp.file("ro"), tmp.file("own")),
                ::testing::ExitedWithCode(0), "");
}

} // namespace
