// FAT volumes made by mkfs.fat and mtools, damaged as disks are damaged, on the
// whole road: `hbprobe analyze --choose 0 --recover --answer all`. After every
// shape each file of the volume comes back identical, or its line in the
// recovery's report says it came back with errors, or it lies in a folder the
// report marks "(incomplete)"; and "files with errors" is above 0 whenever some
// file did not come back identical. An undamaged volume gives every file back
// with nothing marked and no error. A shape that names the files it may spoil
// leaves every other file identical and unmarked.

#include "fs/FatLayout.h"
#include "fs/StructureChecks.h"
#include "tests/support/FatCorpus.h"
#include "tests/support/FilesCameBack.h"
#include "tests/support/ProbeRun.h"
#include "tests/support/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>

using namespace testutil;

namespace {

// The copy of a volume a shape damages, and the sectors that fail to read.
struct Damage {
    const FatShapeVolume& v;
    std::string image;
    std::vector<u64> failing;

    u32 end() const {
        return v.params.fatType() == FAT12   ? FAT12_END
               : v.params.fatType() == FAT16 ? FAT16_END
                                             : FAT32_END;
    }
    u32 clusterLimit() const { return v.params.get_cluster_count() + 2; }
    std::vector<u32> clustersOf(const std::string& path) const {
        return v.image().clustersOf(path);
    }
    // The entry of a cluster, in both FATs.
    void setEntry(u32 cluster, u32 value) const {
        const u64 bytes = u64{v.params.sectorsPerFAT} * IMAGE_SECTOR;
        for (u32 lba : {v.params.fatLBA, v.params.fatMirrLBA}) {
            std::string fat = readAt(image, u64{lba} * IMAGE_SECTOR, bytes);
            setFatEntry(v.params.fatType(), cluster,
                        Array(reinterpret_cast<u8*>(&fat[0]), fat.size()), value, 0);
            writeAt(image, u64{lba} * IMAGE_SECTOR, fat);
        }
    }
    void zeroAt(u64 offset, u64 bytes) const {
        writeAt(image, offset, std::string(static_cast<std::size_t>(bytes), '\0'));
    }
    // The first sector of both FATs zeroed.
    void zeroFatStart() const {
        for (u32 lba : {v.params.fatLBA, v.params.fatMirrLBA})
            writeAt(image, u64{lba} * IMAGE_SECTOR, std::string(IMAGE_SECTOR, '\0'));
    }
    void cutAt(u64 sectors) const { std::filesystem::resize_file(image, sectors * IMAGE_SECTOR); }
    void setSize(const std::string& name11, u32 size) const {
        std::string le(4, '\0');
        for (int i = 0; i < 4; ++i)
            le[i] = static_cast<char>(size >> (8 * i));
        writeAt(image, v.entryOffset(name11) + DE_SIZE, le);
    }
};

struct Shape {
    std::string name;
    std::function<const FatShapeVolume&()> volume;
    // nullptr: the volume as made.
    std::function<void(Damage&)> damage;
    // The path prefixes of the files the damage may spoil; none: any.
    std::vector<std::string> spoils = {};
    bool healthy = false;
    // What the probe answers to every question.
    const char* answer = "all";
};

std::ostream& operator<<(std::ostream& os, const Shape& s) {
    return os << s.name;
}

std::function<const FatShapeVolume&()> tree(int bits) {
    return [bits]() -> const FatShapeVolume& { return fatTreeVolume(bits); };
}

// The entry of VICTIM.BIN's cluster `at` (from 0) links to what `to` gives.
std::function<void(Damage&)> victimLink(std::size_t at, std::function<u32(const Damage&)> to) {
    return [at, to](Damage& d) { d.setEntry(d.clustersOf("VICTIM.BIN").at(at), to(d)); };
}

std::function<void(Damage&)> cutAtPercent(double percent) {
    return [percent](Damage& d) {
        d.cutAt(static_cast<u64>(d.v.params.totalSectors * percent / 100));
    };
}

// SUB's first cluster free, or its whole chain.
std::function<void(Damage&)> freeFolder(const char* folder, bool whole) {
    return [folder, whole](Damage& d) {
        const std::vector<u32> clusters = d.clustersOf(folder);
        for (std::size_t i = 0; i < (whole ? clusters.size() : 1); ++i)
            d.setEntry(clusters[i], 0);
    };
}

// The shapes of one FAT width whose damage lies in a chain: VICTIM's chain
// broken in each way a FAT entry can break it, and SUB's clusters freed.
std::vector<Shape> chainShapes(int bits) {
    const std::string fat = "Fat" + std::to_string(bits);
    auto clusterOf = [](const char* path, std::size_t at) {
        return [path, at](const Damage& d) { return d.clustersOf(path).at(at); };
    };
    const std::vector<std::string> victim{"VICTIM.BIN"};
    return {
        {"VictimLoops" + fat, tree(bits), victimLink(5, clusterOf("VICTIM.BIN", 0)), victim},
        {"VictimCrossLinked" + fat, tree(bits), victimLink(5, clusterOf("OTHER.BIN", 0)), victim},
        // Into OTHER's first cluster, or into the middle of R150's chain (past
        // the FAT's first sector, which two links to one cluster make fail the
        // tests of a FAT's start), where the clusters that are left make VICTIM's
        // chain exactly as long as its size.
        {"VictimCrossLinkedToItsSize" + fat, tree(bits), victimLink(19, clusterOf("OTHER.BIN", 0)),
         victim},
        {"VictimMergesIntoAnother" + fat,
         tree(bits),
         victimLink(21, clusterOf("R150.BIN", 1)),
         {"VICTIM.BIN", "R150.BIN"}},
        {"VictimEndsEarly" + fat, tree(bits),
         victimLink(5, [](const Damage& d) { return d.end(); }), victim},
        {"VictimFree" + fat, tree(bits), victimLink(5, [](const Damage&) { return 0u; }), victim},
        {"VictimBadCluster" + fat, tree(bits),
         victimLink(5, [](const Damage& d) { return d.end() - 8; }), victim},
        {"VictimLeavesTheVolume" + fat, tree(bits),
         victimLink(5, [](const Damage& d) { return d.clusterLimit(); }), victim},
        {"VictimSizeBeyondItsChain" + fat, tree(bits),
         [](Damage& d) { d.setSize("VICTIM  BIN", 12288 + 3000); }, victim},
        {"VictimSizeShortOfItsChain" + fat, tree(bits),
         [](Damage& d) { d.setSize("VICTIM  BIN", 12288 - 3000); }, victim},
        {"SubFolderFree" + fat, tree(bits), freeFolder("SUB", true), {"SUB/"}},
        {"SubFolderFirstClusterFree" + fat, tree(bits), freeFolder("SUB", false), {"SUB/"}},
    };
}

constexpr std::size_t LAST_CLUSTER = ~std::size_t(0);

// The index-th cluster of a folder's chain zeroed (LAST_CLUSTER: its last).
std::function<void(Damage&)> zeroFolderCluster(const char* folder, std::size_t index) {
    return [folder, index](Damage& d) {
        const std::vector<u32> clusters = d.clustersOf(folder);
        d.zeroAt(d.v.clusterOffset(index == LAST_CLUSTER ? clusters.back() : clusters.at(index)),
                 d.v.params.sectorsPerCluster * u64{IMAGE_SECTOR});
    };
}

// The first sector of a folder cannot be read.
std::function<void(Damage&)> unreadableFolderStart(const char* folder) {
    return [folder](Damage& d) {
        d.failing.push_back(d.v.params.get_cluster_LBA(d.clustersOf(folder).front()));
    };
}

// The shapes of one FAT width whose damage lies in a folder: clusters that read
// as zeros, or a first sector that cannot be read, while the chain goes on.
std::vector<Shape> folderShapes(int bits) {
    const std::string fat = "Fat" + std::to_string(bits);
    return {
        {"SubFirstClusterZeroed" + fat, tree(bits), zeroFolderCluster("SUB", 0), {"SUB/"}},
        {"SubSecondClusterZeroed" + fat, tree(bits), zeroFolderCluster("SUB", 1), {"SUB/"}},
        // Behind a full cluster: nothing after it tells what it held.
        {"SubLastClusterZeroed" + fat,
         tree(bits),
         zeroFolderCluster("SUB", LAST_CLUSTER),
         {"SUB/"}},
        {"DeepFirstClusterZeroed" + fat,
         tree(bits),
         zeroFolderCluster("SUB/DEEP", 0),
         {"SUB/DEEP/"}},
        {"SubFirstSectorUnreadable" + fat,
         tree(bits),
         unreadableFolderStart("SUB"),
         {"SUB/"},
         false,
         "no"},
    };
}

std::vector<Shape> shapes() {
    std::vector<Shape> all{
        {"HealthyFat12", tree(12), nullptr, {}, true},
        {"HealthyFat16", tree(16), nullptr, {}, true},
        {"HealthyFat32", tree(32), nullptr, {}, true},
    };
    for (int bits : {12, 16, 32}) {
        for (Shape& s : chainShapes(bits))
            all.push_back(std::move(s));
        for (Shape& s : folderShapes(bits))
            all.push_back(std::move(s));
    }
    const auto zeroRootSector = [](Damage& d) {
        d.zeroAt((d.v.params.rootDirectoryLBA + 1ull) * IMAGE_SECTOR, IMAGE_SECTOR);
    };
    const std::vector<Shape> rest{
        {"RootFirstClusterFreeFat32", tree(32), freeFolder("", false)},
        // The FATs' first sectors fail the tests of a FAT's start: the boot sector
        // still places them.
        {"VictimLinksToCluster2Fat12", tree(12), victimLink(5, [](const Damage&) { return 2u; })},
        {"VictimLinksToCluster2Fat16", tree(16), victimLink(5, [](const Damage&) { return 2u; })},
        {"FatStartZeroedFat12", tree(12), [](Damage& d) { d.zeroFatStart(); }},
        {"FatStartZeroedFat16", tree(16), [](Damage& d) { d.zeroFatStart(); }},
        {"FatStartZeroedFat32", tree(32), [](Damage& d) { d.zeroFatStart(); }},
        {"RootSecondSectorZeroedFat12", tree(12), zeroRootSector, {"R"}},
        {"RootSecondSectorZeroedFat16", tree(16), zeroRootSector, {"R"}},
        {"RootSecondClusterZeroedFat32", tree(32), zeroFolderCluster("", 1), {"R"}},
        // Folders nested deeper than 1,024 levels: nothing lost.
        {"NestedDeeperThan1024Fat32", fatDeepVolume, nullptr, {}, true},
        // A volume the copy holds in part.
        {"CutInTheDataFat12", tree(12), cutAtPercent(9.5)},
        {"CutInTheDataFat16", tree(16), [](Damage& d) { d.cutAt(874); }},
        // Behind the root's last cluster, in SUB's files.
        {"CutInTheDataFat32", tree(32),
         [](Damage& d) {
             d.cutAt(d.v.params.get_cluster_LBA(d.clustersOf("SUB/S060.BIN").front()));
         }},
        // Deleted entries whose first clusters a live file took.
        {"DeletedFilesOverwrittenFat16", fatReuseVolume, nullptr, {"#LD"}},
    };
    all.insert(all.end(), rest.begin(), rest.end());
    return all;
}

// What the recovery's report says: each file's line by path, the folders it
// marks incomplete ("" the root) and the count of files with errors.
struct RecoverReport {
    std::map<std::string, std::string> lines;
    std::set<std::string> incomplete;
    long errors = -1;
};

std::string joined(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

RecoverReport readRecoverReport(const std::string& out) {
    RecoverReport report;
    const std::size_t start = out.find("--- recover ---");
    if (start == std::string::npos)
        return report;
    std::istringstream in(out.substr(start));
    std::string folder;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Directory of /", 0) == 0) {
            folder = line.substr(14);
            continue;
        }
        if (line.rfind("files with errors: ", 0) == 0) {
            report.errors = std::stol(line.substr(19));
            continue;
        }
        const std::size_t gap = line.find("  ");
        if (line.empty() || line[0] == '\t' || gap == std::string::npos)
            continue;
        const std::string name = line.substr(0, gap);
        const std::string path = folder.empty() && name == "ROOT" ? "" : joined(folder, name);
        if (line.find(" (incomplete)") != std::string::npos)
            report.incomplete.insert(path);
        report.lines[path] = line;
    }
    return report;
}

bool isMarked(const std::string& line) {
    const std::string mark = " (recovered with errors)";
    return line.size() >= mark.size() &&
           line.compare(line.size() - mark.size(), mark.size(), mark) == 0;
}

bool inIncompleteFolder(const RecoverReport& report, const std::string& path) {
    if (report.incomplete.count(""))
        return true;
    for (std::size_t slash = path.find('/'); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        if (report.incomplete.count(path.substr(0, slash)))
            return true;
    }
    return false;
}

// A folder that did not come back where it was may hang in "Found" under its
// first cluster: marked there, it is marked.
void placeFoundFolders(const FatShapeVolume& v, RecoverReport& report) {
    std::set<std::string> found;
    for (const std::string& path : report.incomplete) {
        const std::size_t name = path.rfind("/Found.");
        if (name != std::string::npos)
            found.insert(path.substr(name + 1));
    }
    for (const std::string& folder : v.folders) {
        if (found.count("Found." + std::to_string(v.image().clustersOf(folder).front())))
            report.incomplete.insert(folder);
    }
}

class DamagedFatTest : public ::testing::TestWithParam<Shape> {
protected:
    TempDir dir;
};

TEST_P(DamagedFatTest, EveryFileComesBackWholeOrMarked) {
    const Shape& shape = GetParam();
    const FatShapeVolume& v = shape.volume();
    Damage damage{v, v.path, {}};
    if (shape.damage) {
        damage.image = dir.file("damaged.img");
        std::filesystem::copy_file(v.path, damage.image);
        shape.damage(damage);
    }
    std::string fail;
    for (u64 lba : damage.failing)
        fail += (fail.empty() ? " --fail " : ",") + std::to_string(lba);
    const std::string dest = dir.file("out");
    const ProbeResult r =
        runProbe("analyze" + fail + " " + fileDescriptor(damage.image) + " --choose 0 --recover " +
                 shellQuote(dest) + " --answer " + shape.answer);
    // No volume is dropped for one bad chain.
    ASSERT_EQ(r.status, 0) << r.err;
    RecoverReport report = readRecoverReport(r.out);
    placeFoundFolders(v, report);
    ASSERT_GE(report.errors, 0) << r.out;

    bool allBack = true;
    for (const PlacedFile& f : v.files) {
        SCOPED_TRACE(f.path);
        const bool whole = fileDifference(dest + "/" + f.path, f.data, f.mtime).empty();
        const auto line = report.lines.find(f.path);
        const bool marked = line != report.lines.end() && isMarked(line->second);
        allBack = allBack && whole;
        if (!whole) {
            EXPECT_TRUE(marked || inIncompleteFolder(report, f.path)) << "lost unmarked";
        }
        const bool spared =
            !shape.spoils.empty() &&
            std::none_of(shape.spoils.begin(), shape.spoils.end(),
                         [&](const std::string& p) { return f.path.rfind(p, 0) == 0; });
        if (shape.healthy || spared) {
            EXPECT_TRUE(whole);
            EXPECT_FALSE(marked);
        }
    }
    // Nothing unmarked is wrong, wherever it came back: a file under another
    // path holds the data of the file of its name.
    std::map<std::string, const PlacedFile*> byName;
    for (const PlacedFile& f : v.files)
        byName[f.path.substr(f.path.rfind('/') + 1)] = &f;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dest)) {
        const std::string path = e.path().lexically_relative(dest).string();
        const auto named = byName.find(e.path().filename().string());
        const auto line = report.lines.find(path);
        if (!e.is_regular_file() || named == byName.end() || line == report.lines.end() ||
            isMarked(line->second))
            continue;
        EXPECT_EQ(fileDifference(e.path().string(), named->second->data, ANY_TIME), "")
            << path << " is wrong and not marked";
    }
    if (shape.healthy) {
        EXPECT_EQ(report.errors, 0);
        EXPECT_THAT(r.out, testing::Not(testing::HasSubstr("(incomplete)")));
        EXPECT_THAT(r.out, testing::Not(testing::HasSubstr("(recovered with errors)")));
    } else if (!allBack) {
        EXPECT_GT(report.errors, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, DamagedFatTest, ::testing::ValuesIn(shapes()),
                         [](const ::testing::TestParamInfo<Shape>& info) {
                             return info.param.name;
                         });

} // namespace
