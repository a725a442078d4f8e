// `hbprobe tree` and `recover` end to end on FAT images made by mkfs.fat and
// mtools: every file of FAT12, FAT16 and FAT32 volumes (one behind a partition
// table) back byte for byte with its name and time, deleted files included; a
// zeroed first FAT read through the mirror; hostile chains, folders and boot
// sectors that must end promptly; read errors, volume splitting and hidden
// deleted files.

#include "devices/UnreadableSectors.h"
#include "fs/DirectoryEntry.h"
#include "tests/fs/fat/FatTestVolume.h"
#include "tests/support/FsImages.h"
#include "tests/support/ProbeRun.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace {

using fattest::patternData;
using testutil::FatImage;
using testutil::FatImageOptions;
using testutil::IMAGE_EPOCH;
using testutil::readAll;
using testutil::readAt;
using testutil::shellQuote;
using testutil::TempDir;
using testutil::writeAt;

using Result = testutil::ProbeResult;

Result probe(const std::string& arguments) {
    return testutil::runProbe(arguments);
}

std::string descriptorOf(const std::string& path) {
    return testutil::fileDescriptor(path);
}

// A run that ended by itself (not killed by the timeout or a signal) with a
// usual exit code.
::testing::AssertionResult endedPromptly(const Result& r) {
    if (r.status == 0 || r.status == 1)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "exit status " << r.status << "\n" << r.err;
}

struct Expected {
    std::string data;
    std::time_t mtime;
};
using Files = std::map<std::string, Expected>;

// Every regular file below a folder, by its '/'-joined path.
std::map<std::string, std::string> filesUnder(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
        if (e.is_regular_file())
            files[std::filesystem::relative(e.path(), folder).string()] =
                readAll(e.path().string());
    }
    return files;
}

using testutil::mtimeOf;

// The recovered folder holds exactly these files, with their bytes and times,
// and perhaps the ignored ones.
void expectExactly(const std::string& folder, const Files& files,
                   const std::set<std::string>& ignored = {}) {
    const auto got = filesUnder(folder);
    std::vector<std::string> extra;
    for (const auto& g : got)
        if (!files.count(g.first) && !ignored.count(g.first))
            extra.push_back(g.first);
    EXPECT_TRUE(extra.empty()) << "not on the volume: " << ::testing::PrintToString(extra);
    for (const auto& f : files) {
        auto it = got.find(f.first);
        if (it == got.end()) {
            ADD_FAILURE() << "missing: " << f.first;
            continue;
        }
        EXPECT_TRUE(it->second == f.second.data)
            << f.first << ": " << it->second.size() << " bytes, expected " << f.second.data.size();
        EXPECT_EQ(mtimeOf(folder + "/" + f.first), f.second.mtime) << f.first;
    }
}

// A sector of the "(unreadable)" pattern, as a read error leaves it in a file.
std::string unreadableSector() {
    std::vector<u8> pattern(512);
    fillUnreadablePattern(pattern.data(), 512);
    return std::string(pattern.begin(), pattern.end());
}

FatImageOptions imageOptions(u32 sizeKiB, int bits, u32 sectorsPerCluster = 0,
                             u32 partitionLba = 0) {
    FatImageOptions o;
    o.sizeKiB = sizeKiB;
    o.fatBits = bits;
    o.sectorsPerCluster = sectorsPerCluster;
    o.partitionLba = partitionLba;
    o.label = "HBLABEL";
    return o;
}

struct ImageKind {
    const char* name;
    FatImageOptions options;
};

std::ostream& operator<<(std::ostream& os, const ImageKind& k) {
    return os << k.name;
}

// One volume filled through mtools: what must come back live, what was
// deleted with its clusters left free, and where the volume lies.
class ProbeFatTest : public ::testing::TestWithParam<ImageKind> {
protected:
    ProbeFatTest() : utc_("UTC") {}

    void SetUp() override {
        image_.reset(new FatImage(dir_.file("fat.img"), GetParam().options));
        const std::string boot = image_->bootSector();
        ASSERT_TRUE(fatFsParamsFromBootSector(image_->volumeLba(),
                                              reinterpret_cast<const u8*>(boot.data()), params_,
                                              image_->volumeLba() + image_->volumeSectors()));
        clusterBytes_ = static_cast<u64>(params_.sectorsPerCluster) * 512;
        fill();
        source_ = descriptorOf(image_->path()) + " fat " + std::to_string(image_->volumeLba());
    }

    void add(Files& files, const std::string& path, const std::string& data) {
        // Even seconds, one day apart: FAT keeps two-second steps.
        const std::time_t mtime = IMAGE_EPOCH - 86400 * static_cast<std::time_t>(++added_);
        image_->addFile(path, data, mtime);
        files[path] = Expected{data, mtime};
    }

    // Folders three deep; long, non-ASCII and plain 8.3 names; files of 0, 1, one
    // cluster and several clusters, one of them fragmented; then deletions of a
    // file with a long name, of one with a short name only, and of a whole folder,
    // whose clusters nothing takes afterwards.
    void fill() {
        image_->makeFolder("Docs");
        image_->makeFolder("Docs/Deep");
        image_->makeFolder("Docs/Deep/Deeper");
        image_->makeFolder("Old Folder");
        add(gone_, "Old Folder/inner one.txt", patternData(5000, 1));
        add(gone_, "Old Folder/inner two.txt", patternData(70, 2));
        add(live_, "empty.txt", "");
        add(live_, "one.bin", "x");
        add(live_, "exact.bin", patternData(clusterBytes_, 3));
        add(live_, "multi.bin", patternData(5 * clusterBytes_ + 123, 4));
        add(live_, "UPPER.TXT", "an 8.3 name");
        add(gone_, "gone long name.bin", patternData(3 * clusterBytes_ + 5, 5));
        add(gone_, "GONE.TXT", patternData(100, 6));
        add(live_, "Docs/A long file name with spaces.txt", patternData(3000, 7));
        add(live_, "Docs/Deep/Grüße aus Köln.txt", patternData(777, 8));
        add(live_, "Docs/Deep/Deeper/日本語のファイル.dat", patternData(2 * clusterBytes_ + 1, 9));
        add(live_, "e ab x.txt", "astral");
        // An odd second is kept as the even one below it.
        image_->addFile("odd second.txt", "odd", IMAGE_EPOCH + 1);
        live_["odd second.txt"] = Expected{"odd", IMAGE_EPOCH};
        add(live_, "after.bin", patternData(2 * clusterBytes_, 10));

        fragment("MULTI   BIN", 2);

        image_->deleteFile("gone long name.bin");
        image_->deleteFile("GONE.TXT");
        image_->deleteTree("Old Folder");
        // A deleted entry has lost its first character; the long name keeps it.
        gone_["#ONE.TXT"] = gone_["GONE.TXT"];
        gone_.erase("GONE.TXT");

        // mtools cannot write a character outside the BMP: the long name's "ab"
        // becomes the surrogate pair of U+1F600, under the same checksum.
        const u64 metadata = std::min<u64>(params_.dataClusterLBA + 64, params_.endLBA()) * 512;
        const std::string head = readAt(image_->path(), 0, metadata);
        const std::string units("e\0 \0a\0b\0 \0", 10);
        const std::size_t at = head.find(units);
        ASSERT_NE(at, std::string::npos);
        ASSERT_EQ(head.find(units, at + 1), std::string::npos);
        writeAt(image_->path(), at + 4, std::string("\x3D\xD8\x00\xDE", 4));
        live_["e \xF0\x9F\x98\x80 x.txt"] = live_["e ab x.txt"];
        live_.erase("e ab x.txt");
    }

    // Moves cluster k of a root file to the volume's last cluster (free on these
    // small fills): its chain then jumps there and back.
    void fragment(const std::string& name11, u32 k) {
        const u32 first = rootFileCluster(name11);
        const u32 last = params_.get_cluster_count() + 1;
        ASSERT_EQ(fattest::getFatEntryOf(image_->path(), params_, last), 0u);
        const u32 moved = first + k;
        const std::string path = image_->path();
        writeAt(path, fattest::clusterOffset(params_, last),
                readAt(path, fattest::clusterOffset(params_, moved), clusterBytes_));
        writeAt(path, fattest::clusterOffset(params_, moved), std::string(clusterBytes_, '\0'));
        fattest::setFatEntry(path, params_, last, fattest::getFatEntryOf(path, params_, moved));
        fattest::setFatEntry(path, params_, moved - 1, last);
        fattest::setFatEntry(path, params_, moved, 0);
    }

    // The first cluster of the first file in a folder's first cluster.
    u32 firstFileCluster(u32 folder) const {
        const std::string dir =
            readAt(image_->path(), fattest::clusterOffset(params_, folder), clusterBytes_);
        for (u64 at = 0; at < dir.size(); at += DIR_ENTRY_BYTES) {
            const u8* e = reinterpret_cast<const u8*>(&dir[at]);
            if (e[0] != 0 && e[0] != '.' && !isLongNameEntry(e) &&
                !(dirEntryAttributes(e) & ATTR_DIRECTORY))
                return dirEntryStartCluster(e);
        }
        ADD_FAILURE() << "no file in cluster " << folder;
        return 0;
    }

    // Everything that must come back from the volume.
    Files all() const {
        Files files = live_;
        files.insert(gone_.begin(), gone_.end());
        return files;
    }

    Result recover(const std::string& dest, const std::string& options = "") {
        return probe("recover " + options + " " + source_ + " " + shellQuote(dest));
    }

    u32 rootFileCluster(const std::string& name11) const {
        return fattest::entryClusterIn(image_->path(), params_,
                                       params_.rootEntries ? 0 : params_.rootCluster, name11);
    }

    testutil::ScopedTimeZone utc_;
    TempDir dir_;
    std::unique_ptr<FatImage> image_;
    FAT_FS_PARAMS params_;
    u64 clusterBytes_ = 0;
    std::string source_;
    Files live_;
    Files gone_;
    int added_ = 0;
};

TEST_P(ProbeFatTest, EveryFileComesBackWithItsNameBytesAndTime) {
    const Result tree = probe("tree " + source_);
    ASSERT_EQ(tree.status, 0) << tree.err;
    EXPECT_NE(tree.out.find("Directory of /Docs/Deep/Deeper"), std::string::npos) << tree.out;
    EXPECT_NE(tree.out.find("日本語のファイル.dat"), std::string::npos);
    EXPECT_NE(tree.out.find("e \xF0\x9F\x98\x80 x.txt"), std::string::npos);
    // The label names the volume and is no file.
    EXPECT_EQ(tree.out.find("HBLABEL"), std::string::npos);

    const std::string out = dir_.file("out");
    const Result r = recover(out);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("split files: 0\nfiles with errors: 0\n"), std::string::npos) << r.out;
    expectExactly(out, all());
}

TEST_P(ProbeFatTest, AZeroedFirstFatIsReadThroughTheMirror) {
    writeAt(image_->path(), static_cast<u64>(params_.fatLBA) * 512,
            std::string(static_cast<std::size_t>(params_.sectorsPerFAT) * 512, '\0'));
    const std::string out = dir_.file("out");
    const Result r = recover(out);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("files with errors: 0\n"), std::string::npos) << r.out;
    expectExactly(out, all());

    // Taken at its word, the zeroed FAT has no chains: the fragmented file is read
    // on in the clusters that follow its first (and on FAT32, whose root is a
    // chain too, it may be lost with the root's later clusters).
    const std::string plain = dir_.file("plain");
    ASSERT_EQ(recover(plain, "--no-analyze-fats").status, 0);
    const auto got = filesUnder(plain);
    auto multi = got.find("multi.bin");
    EXPECT_TRUE(multi == got.end() || multi->second != live_.at("multi.bin").data);
}

TEST_P(ProbeFatTest, CyclicAndEscapingChainsAndFoldersEndPromptly) {
    const std::string path = image_->path();
    const u32 docs = rootFileCluster("DOCS       ");
    const u32 deep = fattest::entryClusterIn(path, params_, docs, "DEEP       ");
    const u32 deeper = fattest::entryClusterIn(path, params_, deep, "DEEPER     ");
    const u32 outside = params_.get_cluster_count() + 10;
    const u64 entries = clusterBytes_ / DIR_ENTRY_BYTES;
    // A file's chain comes back to its first cluster from its second.
    const u32 jp = firstFileCluster(deeper);
    fattest::setFatEntry(path, params_, jp + 1, jp);
    // Docs' chain names itself; Deep's leaves the volume.
    fattest::setFatEntry(path, params_, docs, docs);
    fattest::setFatEntry(path, params_, deep, outside);
    // Deeper holds a folder entry naming Docs, its grandparent; Docs a folder and a
    // file whose clusters lie past the volume's end.
    writeAt(path, fattest::clusterOffset(params_, deeper) + (entries - 1) * DIR_ENTRY_BYTES,
            fattest::shortEntry("BACK       ", ATTR_DIRECTORY, docs, 0));
    writeAt(path, fattest::clusterOffset(params_, docs) + (entries - 2) * DIR_ENTRY_BYTES,
            fattest::shortEntry("AWAY       ", ATTR_DIRECTORY, outside, 0) +
                fattest::shortEntry("FAR     BIN", ATTR_ARCHIVE, outside, 5000));

    const Result tree = probe("tree " + source_);
    ASSERT_TRUE(endedPromptly(tree));
    EXPECT_EQ(tree.status, 0);
    EXPECT_NE(tree.out.find("BACK"), std::string::npos) << tree.out;
    EXPECT_EQ(tree.out.find("AWAY"), std::string::npos) << tree.out;
    EXPECT_EQ(tree.out.find("FAR.BIN"), std::string::npos) << tree.out;
    const std::string out = dir_.file("out");
    const Result r = recover(out);
    ASSERT_TRUE(endedPromptly(r));
    // Nothing is lost, and nothing is listed twice through the loop.
    expectExactly(out, all());
}

INSTANTIATE_TEST_SUITE_P(
    Images, ProbeFatTest,
    ::testing::Values(ImageKind{"Fat12Floppy", imageOptions(1440, 12)},
                      ImageKind{"Fat16", imageOptions(32768, 16, 4)},
                      ImageKind{"Fat32", imageOptions(36000, 32, 1)},
                      ImageKind{"Fat32BehindAnMbr", imageOptions(36000, 32, 1, 2048)}),
    [](const ::testing::TestParamInfo<ImageKind>& info) { return info.param.name; });

// The recover options, on one volume of one-sector clusters and one of
// four-sector clusters.
class ProbeFatOptionsTest : public ProbeFatTest {};

TEST_P(ProbeFatOptionsTest, ReadErrorsFillExactlyTheirSectors) {
    // The second half of a long-named file's last sector (a part sector) and one
    // whole sector inside a cluster of another file.
    const u32 docs = rootFileCluster("DOCS       ");
    const u32 longName = firstFileCluster(docs);
    const std::string longPath = "Docs/A long file name with spaces.txt";
    const u64 longSectors = (live_.at(longPath).data.size() + 511) / 512;
    const u32 perCluster = params_.sectorsPerCluster;
    const u64 lastSector =
        params_.get_cluster_LBA(longName + static_cast<u32>((longSectors - 1) / perCluster)) +
        (longSectors - 1) % perCluster;
    const u32 exact = rootFileCluster("EXACT   BIN");
    const u64 inExact = params_.get_cluster_LBA(exact) + perCluster / 2;
    const Result r = recover(dir_.file("out"), "--fail " + std::to_string(lastSector) + "," +
                                                   std::to_string(inExact));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("A long file name with spaces.txt       3000"), std::string::npos);
    EXPECT_NE(r.out.find(" (recovered with errors)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("files with errors: 2\n"), std::string::npos) << r.out;
    std::istringstream lines(r.out);
    std::string line;
    u32 marked = 0;
    while (std::getline(lines, line)) {
        if (line.find(" (recovered with errors)") == std::string::npos)
            continue;
        ++marked;
        EXPECT_TRUE(line.compare(0, 32, "A long file name with spaces.txt") == 0 ||
                    line.compare(0, 9, "exact.bin") == 0)
            << line;
    }
    EXPECT_EQ(marked, 2u);

    Files files = all();
    const std::string sector = unreadableSector();
    std::string& longData = files[longPath].data;
    const u64 tail = (longSectors - 1) * 512;
    longData.replace(tail, longData.size() - tail, sector.substr(0, longData.size() - tail));
    files["exact.bin"].data.replace(perCluster / 2 * 512, 512, sector);
    expectExactly(dir_.file("out"), files);
}

TEST_P(ProbeFatOptionsTest, FilesAboveTheLimitAreSplitIntoVolumes) {
    const u64 limit = 2 * clusterBytes_;
    const std::string out = dir_.file("out");
    const Result r = recover(out, "--limit " + std::to_string(limit));
    ASSERT_EQ(r.status, 0) << r.err;
    // Each file above the limit becomes the file and its volumes .v1, .v2, ...; a
    // file of exactly the limit stays whole.
    Files files;
    u32 split = 0;
    for (const auto& f : all()) {
        const std::string& data = f.second.data;
        if (data.size() <= limit) {
            files.insert(f);
            continue;
        }
        ++split;
        for (u64 at = 0, v = 0; at < data.size(); at += limit, ++v) {
            const std::string name = v == 0 ? f.first : f.first + ".v" + std::to_string(v);
            files[name] = Expected{data.substr(at, limit), f.second.mtime};
        }
    }
    ASSERT_TRUE(all().at("after.bin").data.size() == limit);
    EXPECT_NE(r.out.find("split files: " + std::to_string(split) + "\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("multi.bin"), std::string::npos);
    EXPECT_NE(r.out.find(" (split file)\n"), std::string::npos) << r.out;
    expectExactly(out, files);
}

TEST_P(ProbeFatOptionsTest, HiddenDeletedFilesAreNeitherListedNorRecovered) {
    const Result tree = probe("tree --hide-deleted " + source_);
    ASSERT_EQ(tree.status, 0) << tree.err;
    EXPECT_NE(tree.out.find("multi.bin"), std::string::npos) << tree.out;
    for (const char* name : {"#ONE.TXT", "gone long name.bin", "inner one.txt"})
        EXPECT_EQ(tree.out.find(name), std::string::npos) << name << "\n" << tree.out;
    // A folder is not hidden for being deleted, only what it holds.
    EXPECT_NE(tree.out.find("\nOld Folder "), std::string::npos) << tree.out;
    const std::string out = dir_.file("out");
    ASSERT_EQ(recover(out, "--hide-deleted").status, 0);
    expectExactly(out, live_);
}

INSTANTIATE_TEST_SUITE_P(Images, ProbeFatOptionsTest,
                         ::testing::Values(ImageKind{"Fat12Floppy", imageOptions(1440, 12)},
                                           ImageKind{"Fat16", imageOptions(32768, 16, 4)}),
                         [](const ::testing::TestParamInfo<ImageKind>& info) {
                             return info.param.name;
                         });

TEST(ProbeFatBootTest, AbsurdBootValuesAreRefusedPromptly) {
    testutil::ScopedTimeZone utc("UTC");
    TempDir dir;
    FatImage image(dir.file("f.img"), imageOptions(1440, 12));
    image.addFile("a.txt", "a");
    const std::string good = image.bootSector();
    struct Field {
        u32 offset;
        std::string bytes;
    };
    struct Case {
        const char* what;
        std::vector<Field> fields;
    };
    const std::string zero16("\0\0", 2);
    const std::vector<Case> cases = {
        {"2^31 sectors per FAT", {{22, zero16}, {36, std::string("\0\0\0\x80", 4)}}},
        {"2^32 - 1 sectors", {{19, zero16}, {32, std::string("\xFF\xFF\xFF\xFF", 4)}}},
        {"both",
         {{22, zero16},
          {36, std::string("\0\0\0\x80", 4)},
          {19, zero16},
          {32, std::string("\xFF\xFF\xFF\xFF", 4)}}},
        {"65535 reserved sectors", {{14, std::string("\xFF\xFF", 2)}}},
        {"65535 root entries", {{17, std::string("\xFF\xFF", 2)}}},
        {"no sectors per cluster", {{13, std::string(1, '\0')}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string boot = good;
        for (const Field& f : c.fields)
            boot.replace(f.offset, f.bytes.size(), f.bytes);
        writeAt(image.path(), 0, boot);
        const Result tree = probe("tree " + descriptorOf(image.path()) + " fat 0");
        ASSERT_TRUE(endedPromptly(tree));
        EXPECT_EQ(tree.status, 1);
        EXPECT_NE(tree.err.find("no FAT boot sector at 0"), std::string::npos) << tree.err;
        const Result dump = probe("dump " + descriptorOf(image.path()) + " boot 0");
        EXPECT_TRUE(endedPromptly(dump));
    }
}

TEST(ProbeFatFloppyTest, AFullFloppyCrossesTheFat12WindowEdges) {
    testutil::ScopedTimeZone utc("UTC");
    TempDir dir;
    FatImage image(dir.file("floppy.img"), imageOptions(1440, 12));
    FAT_FS_PARAMS params;
    const std::string boot = image.bootSector();
    ASSERT_TRUE(fatFsParamsFromBootSector(0, reinterpret_cast<const u8*>(boot.data()), params,
                                          image.volumeSectors()));
    Files files;
    std::time_t mtime = IMAGE_EPOCH;
    auto add = [&](const std::string& name, u64 size) {
        mtime -= 3600;
        files[name] = Expected{patternData(size, static_cast<u32>(files.size()) + 1), mtime};
        image.addFile(name, files[name].data, mtime);
    };
    for (int i = 0; i < 13; ++i)
        add("part" + std::to_string(i) + ".bin", 100 * 1024 + 7 * i);
    // A hole in the middle, filled by a file that goes on past the others: a
    // fragmented chain across the three-sector windows of the FAT.
    image.deleteFile("part3.bin");
    files.erase("part3.bin");
    add("fragmented.bin", 180 * 1024 + 3);
    auto freeClusters = [&] {
        u32 n = 0;
        for (u32 c = 2; c < params.get_cluster_count() + 2; ++c)
            n += fattest::getFatEntryOf(image.path(), params, c) == 0;
        return n;
    };
    // The rest of the floppy, to its last cluster.
    add("last.bin", static_cast<u64>(freeClusters()) * 512);
    ASSERT_EQ(freeClusters(), 0u);
    ASSERT_GT(params.get_cluster_count(), 2048u);

    // part3.bin's entry is left, its clusters taken.
    const std::set<std::string> reused{"#art3.bin"};
    const std::string source = descriptorOf(image.path()) + " fat 0 ";
    Result r = probe("recover " + source + shellQuote(dir.file("out")));
    ASSERT_EQ(r.status, 0) << r.err;
    expectExactly(dir.file("out"), files, reused);

    writeAt(image.path(), static_cast<u64>(params.fatLBA) * 512,
            std::string(static_cast<std::size_t>(params.sectorsPerFAT) * 512, '\0'));
    r = probe("recover " + source + shellQuote(dir.file("mirror")));
    ASSERT_EQ(r.status, 0) << r.err;
    expectExactly(dir.file("mirror"), files, reused);
}

// The first data cluster is where a chain may well go on: a file's and a
// folder's second cluster moved onto cluster 2 of FAT12 and FAT16 volumes.
TEST(ProbeFatClusterTwoTest, AFileOrFolderFragmentedOntoClusterTwoComesBack) {
    testutil::ScopedTimeZone utc("UTC");
    for (int bits : {12, 16}) {
        for (bool folder : {false, true}) {
            SCOPED_TRACE(std::to_string(bits) + (folder ? " folder" : " file"));
            TempDir dir;
            FatImage image(dir.file("fat.img"), imageOptions(bits == 12 ? 1440 : 16384, bits, 1));
            FAT_FS_PARAMS params;
            const std::string boot = image.bootSector();
            ASSERT_TRUE(fatFsParamsFromBootSector(0, reinterpret_cast<const u8*>(boot.data()),
                                                  params, image.volumeSectors()));
            const std::string path = image.path();
            image.addFile("FIRST.BIN", patternData(512, 1));
            ASSERT_EQ(fattest::entryClusterIn(path, params, 0, "FIRST   BIN"), 2u);
            Files files;
            auto add = [&](const std::string& name, u64 size) {
                files[name] =
                    Expected{patternData(size, static_cast<u32>(files.size()) + 2), IMAGE_EPOCH};
                image.addFile(name, files[name].data);
            };
            // Whatever follows FIRST.BIN on the disk, in cluster 3 on.
            if (folder) {
                image.makeFolder("DIR");
                // More entries than one cluster of 16 holds.
                for (int i = 0; i < 20; ++i)
                    add("DIR/F" + std::to_string(i) + ".TXT", 10 + i);
            } else {
                add("FRAG.BIN", 3 * 512);
            }
            add("AFTER.BIN", 700);
            const std::string moved11 = folder ? "DIR        " : "FRAG    BIN";
            ASSERT_EQ(fattest::entryClusterIn(path, params, 0, moved11), 3u);
            const u32 second = fattest::getFatEntryOf(path, params, 3);
            ASSERT_GT(second, 3u);
            image.deleteFile("FIRST.BIN");
            // 3 -> 2 -> what followed the second cluster.
            writeAt(path, fattest::clusterOffset(params, 2),
                    readAt(path, fattest::clusterOffset(params, second), 512));
            writeAt(path, fattest::clusterOffset(params, second), std::string(512, '\0'));
            fattest::setFatEntry(path, params, 2, fattest::getFatEntryOf(path, params, second));
            fattest::setFatEntry(path, params, 3, 2);
            fattest::setFatEntry(path, params, second, 0);

            // FIRST.BIN's entry is left, its cluster taken.
            const std::set<std::string> reused{"#IRST.BIN"};
            const std::string source = descriptorOf(path) + " fat 0 ";
            Result r = probe("recover " + source + shellQuote(dir.file("out")));
            ASSERT_EQ(r.status, 0) << r.err;
            expectExactly(dir.file("out"), files, reused);
            // And through the mirror when the first FAT is gone.
            writeAt(path, static_cast<u64>(params.fatLBA) * 512,
                    std::string(static_cast<std::size_t>(params.sectorsPerFAT) * 512, '\0'));
            r = probe("recover " + source + shellQuote(dir.file("mirror")));
            ASSERT_EQ(r.status, 0) << r.err;
            expectExactly(dir.file("mirror"), files, reused);
        }
    }
}

} // namespace
