// The NTFS image builder checked with ntfs-3g's own tools: what it makes is
// listed by ntfsls, read back by ntfscat, described by ntfsinfo (flags, runs,
// names, times) and found by ntfsundelete; its damage lands where it is named.

#include "tests/support/NtfsBuilder.h"

#include "core/Array.h"
#include "tests/support/FsImages.h"
#include "tests/support/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testutil::Hole;
using testutil::NtfsBuilder;
using testutil::NtfsImage;
using testutil::NtfsImageOptions;
using testutil::punchHoles;
using testutil::shellQuote;
using testutil::TempDir;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

// ntfs-3g's tools with UTF-8 names and UTC dates.
ToolRun tool(const std::string& command) {
    ToolRun r;
    r.status = testutil::run("PATH=\"$PATH:/usr/sbin:/sbin\" LC_ALL=C.UTF-8 TZ=UTC " + command,
                             &r.out, &r.err);
    return r;
}

bool haveTool(const std::string& name) {
    return tool("command -v " + name).status == 0;
}

std::string ntfscat(const std::string& volume, const std::string& path) {
    ToolRun r = tool("ntfscat " + shellQuote(volume) + " " + shellQuote(path));
    EXPECT_EQ(r.status, 0) << "ntfscat " << path << ": " << r.err;
    return r.out;
}

std::string ntfsls(const std::string& volume, const std::string& folder) {
    ToolRun r = tool("ntfsls -a -p " + shellQuote(folder) + " " + shellQuote(volume));
    EXPECT_EQ(r.status, 0) << "ntfsls " << folder << ": " << r.err;
    return r.out;
}

std::string ntfsinfo(const std::string& volume, const std::string& path) {
    ToolRun r = tool("ntfsinfo -v -F " + shellQuote(path) + " " + shellQuote(volume));
    EXPECT_EQ(r.status, 0) << "ntfsinfo " << path << ": " << r.err;
    return r.out;
}

// ntfsinfo's dump of the unnamed $DATA attribute alone.
std::string dataSection(const std::string& info) {
    std::size_t at = info.find("Dumping attribute $DATA");
    if (at == std::string::npos)
        return "";
    std::size_t end = info.find("Dumping attribute", at + 1);
    return info.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

unsigned totalRuns(const std::string& info) {
    std::smatch m;
    if (!std::regex_search(info, m, std::regex("Total runs: ([0-9]+)")))
        return 0;
    return static_cast<unsigned>(std::stoul(m[1]));
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> v;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        v.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return v;
}

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen() & 0xFF);
    return s;
}

std::string textBytes(std::size_t n) {
    std::string s;
    for (unsigned i = 0; s.size() < n; ++i)
        s += "line " + std::to_string(i) + " of a text that compresses well\n";
    s.resize(n);
    return s;
}

NtfsImageOptions volumeOf(u32 clusterBytes, u32 sizeMiB = 16, bool compression = false) {
    NtfsImageOptions o;
    o.clusterBytes = clusterBytes;
    o.sizeMiB = sizeMiB;
    o.compression = compression;
    return o;
}

// The MFT record number that ntfsinfo names for a path.
u64 recordOf(const std::string& volume, const std::string& path) {
    std::smatch m;
    std::string info = ntfsinfo(volume, path);
    if (!std::regex_search(info, m, std::regex("from mft record ([0-9]+)")))
        return ~u64{0};
    return std::stoull(m[1]);
}

// What the damage tests need of the boot sector.
struct Layout {
    u64 clusterBytes;
    u64 mftOffset;
    u64 mirrorOffset;
};

Layout layoutOf(const std::string& volume) {
    std::string boot = testutil::readAt(volume, 0, testutil::IMAGE_SECTOR);
    ConstArray b(reinterpret_cast<const u8*>(boot.data()), static_cast<u32>(boot.size()));
    u64 cluster = u64{b.getLE16(0x0B)} * b.getU8(0x0D);
    return Layout{cluster, b.getLE64(0x30) * cluster, b.getLE64(0x38) * cluster};
}

// ---- Making ----

TEST(NtfsBuilderTest, FoldersNamesAndFilesReadBackWithNtfsTools) {
    TempDir dir;
    NtfsImage image(dir.file("v.img"), volumeOf(4096));
    const std::string vol = image.volumePath();
    // A surrogate pair, Cyrillic, and the longest name NTFS holds (255 units).
    const std::string odd = "Grüße 😀 файл.txt";
    std::string longest(200, 'L');
    for (int i = 0; i < 55; ++i)
        longest += "é";
    const std::string small = "resident content";
    const std::string large = randomBytes(300000, 1);

    ASSERT_TRUE(NtfsBuilder(image)
                    .mkdir("/a")
                    .mkdir("/a/b")
                    .write("/a/small", small)
                    .write("/a/b/" + odd, small)
                    .write("/" + longest, large)
                    .write("/a/b/empty", "")
                    .run());

    EXPECT_THAT(ntfsls(vol, "/"), HasSubstr(longest));
    EXPECT_THAT(ntfsls(vol, "/a"), HasSubstr("b\n"));
    std::string listed = ntfsls(vol, "/a/b");
    EXPECT_THAT(listed, HasSubstr(odd));
    EXPECT_THAT(listed, HasSubstr("empty"));
    EXPECT_EQ(ntfscat(vol, "/a/small"), small);
    EXPECT_EQ(ntfscat(vol, "/a/b/" + odd), small);
    EXPECT_EQ(ntfscat(vol, "/" + longest), large);
    EXPECT_EQ(ntfscat(vol, "/a/b/empty"), "");
    EXPECT_THAT(dataSection(ntfsinfo(vol, "/a/small")), HasSubstr("Resident: \t\t Yes"));
    EXPECT_THAT(dataSection(ntfsinfo(vol, "/" + longest)), HasSubstr("Resident: \t\t No"));
}

TEST(NtfsBuilderTest, CompressedFilesAreFlaggedAndReadBack) {
    TempDir dir;
    for (u32 cluster : {512u, 4096u}) {
        SCOPED_TRACE("cluster " + std::to_string(cluster));
        NtfsImage image(dir.file("c" + std::to_string(cluster)), volumeOf(cluster, 32));
        NtfsBuilder builder(image);
        std::vector<std::pair<std::string, std::string>> made;
        for (std::size_t size : {65535u, 65537u, 1048576u}) {
            const std::pair<const char*, std::string> kinds[] = {
                {"text", textBytes(size)},
                {"zeros", std::string(size, '\0')},
                {"random", randomBytes(size, static_cast<unsigned>(size))}};
            for (const auto& [kind, bytes] : kinds) {
                std::string path = "/" + std::string(kind) + std::to_string(size);
                builder.compress(path, bytes);
                made.emplace_back(path, bytes);
            }
        }
        ASSERT_TRUE(builder.run());
        for (const auto& [path, bytes] : made) {
            SCOPED_TRACE(path);
            std::string data = dataSection(ntfsinfo(image.volumePath(), path));
            EXPECT_THAT(data, HasSubstr("Attribute flags:\t 0x0001"));
            EXPECT_THAT(data, HasSubstr("Compression unit:\t 4"));
            EXPECT_TRUE(ntfscat(image.volumePath(), path) == bytes);
        }
    }
}

TEST(NtfsBuilderTest, CompressedVolumeCompressesWrittenFilesButNotSparseOrFragmentedOnes) {
    TempDir dir;
    NtfsImage image(dir.file("v.img"), volumeOf(4096, 16, true));
    const std::string text = textBytes(200000);
    ASSERT_TRUE(NtfsBuilder(image)
                    .write("/w", text)
                    .sparse("/s", punchHoles(text, {{65536, 65536}}), {{65536, 65536}})
                    .fragment("/f", text, 4)
                    .run());
    const std::string vol = image.volumePath();
    EXPECT_THAT(dataSection(ntfsinfo(vol, "/w")), HasSubstr("Attribute flags:\t 0x0001"));
    EXPECT_THAT(dataSection(ntfsinfo(vol, "/s")), HasSubstr("Attribute flags:\t 0x8000"));
    EXPECT_THAT(dataSection(ntfsinfo(vol, "/f")), HasSubstr("Attribute flags:\t 0x0000"));
    EXPECT_TRUE(ntfscat(vol, "/w") == text);
    EXPECT_TRUE(ntfscat(vol, "/f") == text);
}

TEST(NtfsBuilderTest, CompressionNeedsSmallClusters) {
    TempDir dir;
    NtfsImage image(dir.file("v.img"), volumeOf(65536, 64));
    ::testing::AssertionResult r = NtfsBuilder(image).compress("/c", textBytes(100000)).run();
    ASSERT_FALSE(r);
    EXPECT_THAT(r.message(), HasSubstr("too large for compression"));
}

class NtfsBuilderClusterTest : public ::testing::TestWithParam<u32> {};

TEST_P(NtfsBuilderClusterTest, SparseFileHasHolesInTheMiddleAndAtTheEnd) {
    const u64 c = GetParam();
    TempDir dir;
    NtfsImage image(dir.file("v.img"), volumeOf(GetParam(), 64));
    // 40 clusters and a half: data, a hole of 12 clusters, data, a hole to the end.
    const std::vector<Hole> holes = {{8 * c, 12 * c}, {30 * c, 10 * c + c / 2}};
    const std::string bytes = punchHoles(randomBytes(40 * c + c / 2, 7), holes);
    ASSERT_TRUE(NtfsBuilder(image).sparse("/s", bytes, holes).run());

    const std::string vol = image.volumePath();
    std::string data = dataSection(ntfsinfo(vol, "/s"));
    EXPECT_THAT(data, HasSubstr("Attribute flags:\t 0x8000"));
    EXPECT_EQ(count(data, "<HOLE>"), 2u) << data;
    EXPECT_TRUE(ntfscat(vol, "/s") == bytes);

    // libntfs-3g's compression unit, then the one Windows gives sparse files.
    EXPECT_THAT(data, HasSubstr("Compression unit:\t 4"));
    ASSERT_TRUE(NtfsBuilder(image).compressionUnit("/s", 0).run());
    EXPECT_THAT(dataSection(ntfsinfo(vol, "/s")), HasSubstr("Compression unit:\t 0"));
    EXPECT_TRUE(ntfscat(vol, "/s") == bytes);
}

TEST_P(NtfsBuilderClusterTest, FragmentedFileLiesInAsManyRuns) {
    const u64 c = GetParam();
    TempDir dir;
    NtfsImage image(dir.file("v.img"), volumeOf(GetParam(), 64));
    const std::string bytes = randomBytes(40 * c + 100, 3);
    ASSERT_TRUE(NtfsBuilder(image).fragment("/f", bytes, 20).run());
    std::string info = ntfsinfo(image.volumePath(), "/f");
    EXPECT_GE(totalRuns(info), 20u) << info;
    EXPECT_TRUE(ntfscat(image.volumePath(), "/f") == bytes);
}

INSTANTIATE_TEST_SUITE_P(Clusters, NtfsBuilderClusterTest, ::testing::Values(512, 4096, 65536));

TEST(NtfsBuilderTest, HeavilyFragmentedFileSpillsIntoAnAttributeList) {
    TempDir dir;
    NtfsImage image(dir.file("v.img"), volumeOf(512));
    const std::string bytes = randomBytes(400000, 5);
    ASSERT_TRUE(NtfsBuilder(image).fragment("/f", bytes, 600).run());
    std::string info = ntfsinfo(image.volumePath(), "/f");
    EXPECT_THAT(info, HasSubstr("$ATTRIBUTE_LIST"));
    EXPECT_GE(totalRuns(info), 600u);
    EXPECT_TRUE(ntfscat(image.volumePath(), "/f") == bytes);
}

TEST(NtfsBuilderTest, DeletedFilesAndFoldersAreWhatNtfsundeleteFinds) {
    TempDir dir;
    NtfsImage image(dir.file("v.img"), volumeOf(4096));
    const std::string vol = image.volumePath();
    ASSERT_TRUE(NtfsBuilder(image)
                    .write("/keep", "kept")
                    .write("/gone", randomBytes(300000, 2))
                    .mkdir("/d")
                    .mkdir("/d/e")
                    .write("/d/x", "x")
                    .write("/d/e/y", "y")
                    .mkdir("/empty")
                    .rm("/gone")
                    .rmtree("/d")
                    .rmdir("/empty")
                    .run());

    std::string root = ntfsls(vol, "/");
    EXPECT_THAT(root, HasSubstr("keep"));
    for (const char* name : {"gone", "d\n", "empty"})
        EXPECT_THAT(root, Not(HasSubstr(name)));
    if (!haveTool("ntfsundelete"))
        GTEST_SKIP() << "ntfsundelete is not installed";
    ToolRun scan = tool("ntfsundelete -s " + shellQuote(vol));
    ASSERT_EQ(scan.status, 0) << scan.err;
    std::vector<std::string> found;
    for (const std::string& line : lines(scan.out)) {
        std::smatch m;
        if (std::regex_match(line, m, std::regex("[0-9]+ +[FD]\\S* .* ([^ ]+)")) &&
            m[1] != "<none>")
            found.push_back(m[1]);
    }
    EXPECT_THAT(found, ::testing::UnorderedElementsAre("gone", "d", "e", "x", "y", "empty"))
        << scan.out;
}

TEST(NtfsBuilderTest, TimesAreTheEpochUnlessSet) {
    TempDir dir;
    NtfsImage image(dir.file("v.img"), volumeOf(4096));
    ASSERT_TRUE(NtfsBuilder(image)
                    .mkdir("/a")
                    .write("/a/f", "f")
                    .write("/a/g", "g")
                    .setMtime("/a/g", 1500000000)
                    .run());
    // $STANDARD_INFORMATION and $FILE_NAME alike.
    std::string f = ntfsinfo(image.volumePath(), "/a/f");
    EXPECT_EQ(count(f, "File Altered Time:\t Sun Sep 13 12:26:40 2020 UTC"), 2u) << f;
    EXPECT_EQ(count(f, "File Creation Time:\t Sun Sep 13 12:26:40 2020 UTC"), 2u) << f;
    std::string g = ntfsinfo(image.volumePath(), "/a/g");
    EXPECT_EQ(count(g, "File Altered Time:\t Fri Jul 14 02:40:00 2017 UTC"), 2u) << g;
    EXPECT_EQ(count(g, "File Creation Time:\t Sun Sep 13 12:26:40 2020 UTC"), 2u) << g;
}

TEST(NtfsBuilderTest, DosNameStandsBesideTheLongName) {
    TempDir dir;
    NtfsImage image(dir.file("v.img"), volumeOf(4096));
    ASSERT_TRUE(NtfsBuilder(image)
                    .mkdir("/a")
                    .write("/a/Long file name.text", "x")
                    .dosName("/a/Long file name.text", "LONGFI~1.TXT")
                    .run());
    std::string info = ntfsinfo(image.volumePath(), "/a/Long file name.text");
    EXPECT_THAT(info, HasSubstr("Namespace:\t\t DOS"));
    EXPECT_THAT(info, HasSubstr("Filename:\t\t 'LONGFI~1.TXT'"));
    EXPECT_THAT(info, HasSubstr("Namespace:\t\t Win32"));
    EXPECT_EQ(count(info, "File Altered Time:\t Sun Sep 13 12:26:40 2020 UTC"), 3u);
    ToolRun dos = tool("ntfsls -x -p /a " + shellQuote(image.volumePath()));
    EXPECT_THAT(dos.out, HasSubstr("LONGFI~1.TXT"));
}

TEST(NtfsBuilderTest, FilesMakesNumberedFilesOfTheirOwnName) {
    TempDir dir;
    NtfsImage image(dir.file("v.img"), volumeOf(4096));
    ASSERT_TRUE(NtfsBuilder(image).mkdir("/m").files("/m", 500, 12).run());
    std::vector<std::string> listed = lines(ntfsls(image.volumePath(), "/m"));
    EXPECT_EQ(std::count_if(listed.begin(), listed.end(),
                            [](const std::string& l) { return l.rfind("f0", 0) == 0; }),
              500);
    EXPECT_EQ(ntfscat(image.volumePath(), "/m/f000123"), "f000123f0001");
}

// ---- Damage ----

TEST(NtfsBuilderTest, ZeroingTakesRecordZeroAndTheBootSector) {
    TempDir dir;
    NtfsImage image(dir.file("v.img"), volumeOf(4096));
    const std::string vol = image.volumePath();
    Layout layout = layoutOf(vol);
    const std::string before = testutil::readAll(vol);
    const std::string zeros(1024, '\0');

    ASSERT_TRUE(NtfsBuilder(image).zeroMftRecord0().run());
    EXPECT_EQ(testutil::readAt(vol, layout.mftOffset, 1024), zeros);
    EXPECT_EQ(testutil::readAt(vol, layout.mftOffset + 1024, 4), "FILE");
    EXPECT_EQ(testutil::readAt(vol, layout.mirrorOffset, 4), "FILE");

    // With the boot sector gone first, its backup at the end still finds the mirror.
    ASSERT_TRUE(NtfsBuilder(image).zeroBootSector().zeroMirrorRecord0().run());
    EXPECT_EQ(testutil::readAt(vol, 0, 512), std::string(512, '\0'));
    EXPECT_EQ(testutil::readAt(vol, layout.mirrorOffset, 1024), zeros);
    std::string after = testutil::readAll(vol);
    ASSERT_EQ(after.size(), before.size());
    // The backup boot sector is untouched.
    EXPECT_EQ(after.substr(after.size() - 512), before.substr(before.size() - 512));
}

TEST(NtfsBuilderTest, ClearInUseHidesTheFileAndKeepsTheRecord) {
    TempDir dir;
    NtfsImage image(dir.file("v.img"), volumeOf(4096));
    const std::string vol = image.volumePath();
    ASSERT_TRUE(NtfsBuilder(image).mkdir("/a").write("/a/f", "f").write("/a/g", "g").run());
    u64 f = recordOf(vol, "/a/f");
    u64 g = recordOf(vol, "/a/g");
    Layout layout = layoutOf(vol);

    ASSERT_TRUE(NtfsBuilder(image).clearInUse("/a/f").clearInUse(g).run());
    // The index still names them; their records no longer open.
    ToolRun listed = tool("ntfsls -l -p /a " + shellQuote(vol));
    EXPECT_THAT(listed.out, Not(HasSubstr(" f\n")));
    EXPECT_THAT(listed.out, Not(HasSubstr(" g\n")));
    EXPECT_NE(tool("ntfscat " + shellQuote(vol) + " /a/f").status, 0);
    for (u64 record : {f, g}) {
        std::string head = testutil::readAt(vol, layout.mftOffset + record * 1024, 0x18);
        EXPECT_EQ(head.substr(0, 4), "FILE");
        EXPECT_EQ(head[0x16] & 1, 0) << "record " << record;
    }
    // A record that is not in use cannot lose the flag again.
    EXPECT_FALSE(NtfsBuilder(image).clearInUse(g).run());
}

TEST(NtfsBuilderTest, CorruptIndexDamagesOneEntryInTheRootOrInABlock) {
    TempDir dir;
    NtfsImage image(dir.file("v.img"), volumeOf(4096));
    const std::string vol = image.volumePath();
    // /a's entries fit in its index root; /m's spill into index blocks.
    ASSERT_TRUE(
        NtfsBuilder(image).mkdir("/a").write("/a/f", "f").mkdir("/m").files("/m", 300, 0).run());
    EXPECT_THAT(ntfsinfo(vol, "/m"), HasSubstr("$INDEX_ALLOCATION"));
    const std::string before = testutil::readAll(vol);

    ASSERT_TRUE(
        NtfsBuilder(image)
            .corruptIndex("/a", "f", testutil::INDEX_ENTRY_LENGTH, std::string("\x08\x00", 2))
            .corruptIndex("/m", "f000150", testutil::INDEX_ENTRY_KEY_LENGTH, "\xff\x7f")
            .run());
    ToolRun a = tool("ntfsls -p /a " + shellQuote(vol));
    EXPECT_TRUE(a.status != 0 || a.out.find("f\n") == std::string::npos) << a.out;
    ToolRun m = tool("ntfsls -p /m " + shellQuote(vol));
    EXPECT_TRUE(m.status != 0 || m.out.find("f000150") == std::string::npos);

    // Besides the patched bytes only update sequence numbers change: the record
    // of /a and one index block of /m, each with its sector tails.
    std::string after = testutil::readAll(vol);
    ASSERT_EQ(after.size(), before.size());
    std::size_t changed = 0;
    for (std::size_t i = 0; i < after.size(); ++i)
        changed += after[i] != before[i] ? 1 : 0;
    EXPECT_GE(changed, 2u);
    EXPECT_LE(changed, 24u);
}

// ---- Failures ----

TEST(NtfsBuilderTest, FailuresSayWhy) {
    TempDir dir;
    NtfsImage image(dir.file("v.img"), volumeOf(4096));
    ASSERT_TRUE(NtfsBuilder(image).mkdir("/a").run());
    auto fails = [&](NtfsBuilder& b, const char* why) {
        ::testing::AssertionResult r = b.run();
        EXPECT_FALSE(r);
        EXPECT_THAT(r.message(), HasSubstr(why));
    };
    NtfsBuilder b(image);
    b.mkdir("/a");
    fails(b, "exists already");
    b.write("/missing/f", "x");
    fails(b, "cannot find /missing");
    b.sparse("/s", randomBytes(65536, 1), {{4096, 4096}});
    fails(b, "holds data inside the hole");
    b.sparse("/s", std::string(65536, '\0'), {{100, 4096}});
    fails(b, "not aligned");
    b.fragment("/f", "tiny", 4);
    fails(b, "pieces need at least as many");
    b.rmdir("/nothing");
    fails(b, "cannot find /nothing");
    b.rm("/a");
    fails(b, "/a is a folder");
    b.corruptIndex("/a", "nobody", 0, "x");
    fails(b, "no index entry for nobody");
}

TEST(NtfsBuilderTest, CommandLineIsCheckedBeforeAnythingChanges) {
    TempDir dir;
    NtfsImage image(dir.file("v.img"), volumeOf(4096));
    const std::string vol = image.volumePath();
    const std::string tool = shellQuote(NtfsBuilder::toolPath()) + " " + shellQuote(vol);
    const std::string before = testutil::readAll(vol);

    std::string out;
    std::string err;
    EXPECT_EQ(testutil::run(tool + " mkdir /a \\; rm", &out, &err), 2);
    EXPECT_THAT(err, HasSubstr("command 2 (rm): rm takes 1 argument, not 0"));
    EXPECT_THAT(err, HasSubstr("usage: hbntfsbuild"));
    EXPECT_EQ(testutil::run(tool + " mkdir /a \\; nosuch x", &out, &err), 2);
    EXPECT_THAT(err, HasSubstr("unknown command \"nosuch\""));
    EXPECT_EQ(testutil::run(shellQuote(NtfsBuilder::toolPath()), &out, &err), 2);
    EXPECT_TRUE(testutil::readAll(vol) == before);

    // The command-line form runs like a script.
    ASSERT_EQ(testutil::run(tool + " mkdir /a \\; mkdir /a/b", &out, &err), 0) << err;
    EXPECT_THAT(ntfsls(vol, "/a"), HasSubstr("b\n"));
}

} // namespace
