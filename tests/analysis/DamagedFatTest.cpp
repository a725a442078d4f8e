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
#include "tests/support/FatBytes.h"
#include "tests/support/FatCorpus.h"
#include "tests/support/FilesCameBack.h"
#include "tests/support/ProbeRun.h"
#include "tests/support/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
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
        writeAt(image, v.entryOffset(name11) + DE_SIZE, littleEndian(size, 4));
    }
    // The entry's first cluster, both words (FAT12/16 keep the high one 0).
    void setFirstCluster(const std::string& name11, u32 cluster) const {
        const u64 entry = v.entryOffset(name11);
        writeAt(image, entry + DE_CLUSTER_LOW, littleEndian(cluster, 2));
        writeAt(image, entry + DE_CLUSTER_HIGH, littleEndian(cluster >> 16, 2));
    }
    static std::string littleEndian(u32 value, int bytes) {
        std::string le(static_cast<std::size_t>(bytes), '\0');
        for (int i = 0; i < bytes; ++i)
            le[static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
        return le;
    }
};

// A path prefix of no file: a shape that spoils nothing.
const std::vector<std::string> NOTHING{"/"};

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
    // The damage costs no folder an entry: none is incomplete.
    bool foldersWhole = false;
    // The share of the files that must come back identical and unmarked
    // however the damage spoils, and a line the probe's output holds (the
    // width the volume is listed with, a field the structure view shows).
    double wholeShare = 0;
    const char* shows = nullptr;
};

Shape foldersWhole(Shape s) {
    s.foldersWhole = true;
    return s;
}

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
        // Two live entries that start at one cluster, of one size: one of them
        // holds the other's data, and which cannot be told.
        {"TwoEntriesShareAFirstCluster" + fat,
         tree(bits),
         [](Damage& d) { d.setFirstCluster("TAIL    BIN", d.clustersOf("OTHER.BIN").front()); },
         {"OTHER.BIN", "TAIL.BIN"}},
        // OTHER.BIN starts at SUB/DEEP's first cluster, as long as its chain.
        {"FileStartsAtAFolder" + fat,
         tree(bits),
         [](Damage& d) {
             const std::vector<u32> deep = d.clustersOf("SUB/DEEP");
             d.setFirstCluster("OTHER   BIN", deep.front());
             d.setSize("OTHER   BIN",
                       static_cast<u32>(deep.size() * d.v.params.sectorsPerCluster * IMAGE_SECTOR));
         },
         {"OTHER.BIN"}},
        // A free cluster behind the used ones: VICTIM's last link, PAD1's own
        // entry name it, and its zeros are no file's bytes.
        {"VictimLinksIntoAFreeCluster" + fat, tree(bits),
         victimLink(22, [](const Damage& d) { return d.clusterLimit() - 3; }), victim},
        {"FileStartsAtAFreeCluster" + fat,
         tree(bits),
         [](Damage& d) { d.setFirstCluster("PAD1    BIN", d.clusterLimit() - 3); },
         {"PAD1.BIN"}},
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

FatImageOptions geometry(int bits, u32 sizeKiB, u32 sectorsPerCluster);
void someFiles(ShapeRecipe& r, const std::string& folder, const char* prefix, u32 count, u64 most);
std::vector<Shape> bootSectorLostShapes();
std::string numberedName(const char* prefix, u32 i, const char* suffix);

// A folder's own two entries hurt: `dot` written over the start of ".",
// `dotDot` over the start of "..".
std::function<void(Damage&)> hurtDots(const char* folder, std::string dot, std::string dotDot) {
    return [=](Damage& d) {
        const u64 first = d.v.clusterOffset(d.clustersOf(folder).front());
        writeAt(d.image, first, dot);
        writeAt(d.image, first + DIR_ENTRY_BYTES, dotDot);
    };
}

// A folder's ".." keeps its form but names the cluster `to` gives.
std::function<void(Damage&)> dotDotNames(const char* folder, std::function<u32(const Damage&)> to) {
    return [=](Damage& d) {
        const u64 dotDot = d.v.clusterOffset(d.clustersOf(folder).front()) + DIR_ENTRY_BYTES;
        const u32 cluster = to(d);
        writeAt(d.image, dotDot + DE_CLUSTER_LOW, Damage::littleEndian(cluster, 2));
        writeAt(d.image, dotDot + DE_CLUSTER_HIGH, Damage::littleEndian(cluster >> 16, 2));
    };
}

std::function<u32(const Damage&)> firstClusterOf(const char* path) {
    return [path](const Damage& d) { return d.clustersOf(path).front(); };
}

const std::string GARBAGE_ENTRY = pattern(DIR_ENTRY_BYTES, 9);
const std::string ZEROED_ENTRY(DIR_ENTRY_BYTES, '\0');

// A folder of 13 long-named files deleted with them from the root, as a
// system deletes a folder: every entry marked.
const FatShapeVolume& deletedFolderVolume() {
    return fatShapeVolume("deleted-folder16", geometry(16, 32768, 4), [](ShapeRecipe& r) {
        someFiles(r, "", "R", 5, 3000);
        r.folder("Gone Folder");
        std::vector<std::pair<std::string, u64>> sizes;
        for (u32 i = 0; i < 13; ++i)
            sizes.push_back({numberedName("file number ", i, " of a folder.dat"), 200 + 977 * i});
        r.files("Gone Folder", sizes);
        r.removeFolder("Gone Folder", "Gone Folder");
    });
}

// The dot entries of the deleted folder hurt, as hurtDots does.
std::function<void(Damage&)> hurtDeletedDots(std::string dot, std::string dotDot) {
    return [=](Damage& d) {
        const u64 entry = entryOffsetIn(d.image, d.v.params, 0, "\xE5ONEFO~1   ");
        const std::string cluster = readAt(d.image, entry + DE_CLUSTER_LOW, 2);
        const u64 first =
            d.v.clusterOffset(bytesAt(cluster)[0] | static_cast<u32>(bytesAt(cluster)[1]) << 8);
        writeAt(d.image, first, dot);
        writeAt(d.image, first + DIR_ENTRY_BYTES, dotDot);
    };
}

// Hurt dot entries cost a folder nothing: its files stay in place and its
// listing is whole.
std::vector<Shape> dotShapes() {
    const std::string deleted(1, '\xE5'), endMark(1, '\0');
    return {
        foldersWhole({"SubDotOverwrittenFat16", tree(16),
                      hurtDots("SUB", std::string(DIR_ENTRY_BYTES, '\xAA'), ""), NOTHING}),
        foldersWhole({"SubDotDotDeletedFat16", tree(16), hurtDots("SUB", "", deleted), NOTHING}),
        foldersWhole({"SubDotsOverwrittenFat16", tree(16),
                      hurtDots("SUB", GARBAGE_ENTRY, GARBAGE_ENTRY), NOTHING}),
        foldersWhole({"SubDotsOverwrittenFat32", tree(32),
                      hurtDots("SUB", GARBAGE_ENTRY, GARBAGE_ENTRY), NOTHING}),
        foldersWhole({"SubDotZeroedFat16", tree(16), hurtDots("SUB", ZEROED_ENTRY, ""), NOTHING}),
        foldersWhole({"SubDotDotEndMarkFat16", tree(16), hurtDots("SUB", "", endMark), NOTHING}),
        foldersWhole({"SubDotsDeletedFat16", tree(16), hurtDots("SUB", deleted, deleted), NOTHING}),
        // ".." names the root, a file, the folder itself or its child: the
        // folder's parent is the folder whose live entry names it.
        foldersWhole({"DeepDotDotNamesTheRootFat16", tree(16),
                      dotDotNames("SUB/DEEP", [](const Damage&) { return 0u; }), NOTHING}),
        foldersWhole({"DeepDotDotNamesAFileFat32", tree(32),
                      dotDotNames("SUB/DEEP", firstClusterOf("OTHER.BIN")), NOTHING}),
        foldersWhole({"DeepDotDotNamesItselfFat12", tree(12),
                      dotDotNames("SUB/DEEP", firstClusterOf("SUB/DEEP")), NOTHING}),
        foldersWhole({"SubDotDotNamesItsChildFat16", tree(16),
                      dotDotNames("SUB", firstClusterOf("SUB/DEEP")), NOTHING}),
        // A second live entry, in the root, for DEEP, as a move cut short
        // leaves it: DEEP stays in SUB, which its ".." names and which lists it.
        foldersWhole({"DeepListedTwiceFat16", tree(16),
                      [](Damage& d) {
                          writeAt(d.image,
                                  entryOffsetIn(d.image, d.v.params, 0,
                                                std::string(SHORT_NAME_BYTES, '\0')),
                                  shortEntry("TWIN       ", ATTR_DIRECTORY,
                                             d.clustersOf("SUB/DEEP").front(), 0));
                      },
                      NOTHING}),
        // The same in a deleted folder, whose first cluster no chain holds.
        foldersWhole({"DeletedFolderDotsOverwrittenFat16", deletedFolderVolume,
                      hurtDeletedDots(GARBAGE_ENTRY, GARBAGE_ENTRY), NOTHING}),
        foldersWhole({"DeletedFolderDotsDeletedFat16", deletedFolderVolume,
                      hurtDeletedDots(deleted, deleted), NOTHING}),
        // A deleted folder's entry, read before SUB is, names a later cluster
        // of DEEP, which starts no folder: it takes nothing of DEEP's.
        {"DeletedFolderNamesAnotherFoldersClusterFat16", tree(16),
         [](Damage& d) {
             writeAt(
                 d.image,
                 entryOffsetIn(d.image, d.v.params, 0, std::string(SHORT_NAME_BYTES, '\0')),
                 shortEntry("\xE5LDDIR     ", ATTR_DIRECTORY, d.clustersOf("SUB/DEEP").at(1), 0));
         },
         NOTHING},
    };
}

void doubleClusterSize(Damage& d) {
    writeAt(d.image, BS_SECTORS_PER_CLUSTER,
            std::string(1, static_cast<char>(2 * d.v.params.sectorsPerCluster)));
}

Shape clusterSizeWrong(int bits) {
    Shape s{"ClusterSizeWrongFat" + std::to_string(bits), tree(bits), doubleClusterSize};
    s.shows = "Sectors Per Cluster: 1 (Changed from 2)\n";
    return s;
}

// Thirty files of long names in the folder ("" the root) and a subfolder LATE
// of three after them, on clusters of one sector, the folder's chain cut
// behind its full first cluster.
Shape longNameAcrossTheCut(const std::string& name, const std::string& volume, int bits,
                           const std::string& folder) {
    const std::string late = folder.empty() ? "LATE" : folder + "/LATE";
    return foldersWhole(
        {name,
         [=]() -> const FatShapeVolume& {
             return fatShapeVolume(
                 volume, geometry(bits, bits == 16 ? 32768 : 65536, 1), [=](ShapeRecipe& r) {
                     if (!folder.empty())
                         r.folder(folder);
                     std::vector<std::pair<std::string, u64>> sizes;
                     for (u32 i = 0; i < 30; ++i)
                         sizes.push_back({numberedName("a long file name ", i, ".dat"), 900});
                     r.files(folder, sizes);
                     r.folder(late);
                     someFiles(r, late, "L", 3, 3000);
                 });
         },
         [=](Damage& d) { d.setEntry(d.clustersOf(folder).front(), d.end()); }, NOTHING});
}

// Forty files of up to 60,000 bytes in SUB/DEEP, on clusters of four sectors.
const FatShapeVolume& deepFiles16() {
    return fatShapeVolume("deep-files16", geometry(16, 32768, 4), [](ShapeRecipe& r) {
        r.folder("SUB");
        r.folder("SUB/DEEP");
        someFiles(r, "SUB/DEEP", "D", 40, 60000);
    });
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
    for (Shape& s : dotShapes())
        all.push_back(std::move(s));
    const auto zeroRootSector = [](Damage& d) {
        d.zeroAt((d.v.params.rootDirectoryLBA + 1ull) * IMAGE_SECTOR, IMAGE_SECTOR);
    };
    const std::vector<Shape> rest{
        {"RootFirstClusterFreeFat32", tree(32), freeFolder("", false)},
        // VICTIM's chain runs on into the root's, which makes it exactly as
        // long as VICTIM's size.
        {"VictimLinkedIntoTheRootFat32",
         tree(32),
         [](Damage& d) {
             const std::size_t root = d.clustersOf("").size();
             const std::size_t own = d.clustersOf("VICTIM.BIN").size() - root;
             d.setEntry(d.clustersOf("VICTIM.BIN").at(own - 1), d.clustersOf("").front());
         },
         {"VICTIM.BIN"}},
        // The boot sector, which FAT12/16 keep no copy of, states clusters of
        // two sectors where they are of one: the boot sector made for the
        // volume states those the tree reads.
        clusterSizeWrong(12),
        clusterSizeWrong(16),
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
        // A copy interrupted: an entry of size 0 that keeps its chain.
        foldersWhole({"InterruptedCopyInAFolderFat16",
                      tree(16),
                      [](Damage& d) { d.setSize("S030    BIN", 0); },
                      {"SUB/S030.BIN"}}),
        foldersWhole({"InterruptedCopyInTheRootFat16",
                      tree(16),
                      [](Damage& d) { d.setSize("R050    BIN", 0); },
                      {"R050.BIN"}}),
        // The first sector of both FATs cannot be read, and it holds the entries
        // of every folder but the root and of the files' first clusters.
        {"FatStartUnreadableFat16",
         deepFiles16,
         [](Damage& d) {
             d.failing = {d.v.params.fatLBA, d.v.params.fatMirrLBA};
         },
         {},
         false,
         "yes"},
        // The second of DEEP's first four sectors cannot be read: only its 16
        // entries are lost, and DEEP is incomplete.
        {"DeepSecondSectorUnreadableFat16",
         deepFiles16,
         [](Damage& d) {
             d.failing = {d.v.params.get_cluster_LBA(d.clustersOf("SUB/DEEP").front()) + 1};
         },
         {"SUB/DEEP/"},
         false,
         "all",
         false,
         0.5},
        // An end mark over the link of a folder's first cluster, which is full:
        // the rest of it lies in clusters no chain leads to.
        {"SubCutBehindItsFirstClusterFat16",
         tree(16),
         [](Damage& d) { d.setEntry(d.clustersOf("SUB").front(), d.end()); },
         {"SUB/S"}},
        // A subfolder in the clusters cut off names, by its "..", the folder
        // they belong to: they are read in place.
        foldersWhole({"CutOffClustersNamedBySubfolderFat16",
                      []() -> const FatShapeVolume& {
                          return fatShapeVolume("late-folder16", geometry(16, 32768, 1),
                                                [](ShapeRecipe& r) {
                                                    r.folder("A");
                                                    someFiles(r, "A", "A", 30, 3000);
                                                    r.folder("A/LATE");
                                                    someFiles(r, "A/LATE", "L", 3, 3000);
                                                });
                      },
                      [](Damage& d) { d.setEntry(d.clustersOf("A").front(), d.end()); }, NOTHING}),
        // One long name begins in the last cluster before the cut, its short
        // entry in the first after it.
        longNameAcrossTheCut("LongNameAcrossTheCutFat16", "late-long16", 16, "A"),
        // The same in the root, whose subfolder's ".." names it as cluster 0: its
        // entries stay in it, not in Found. The name across the cut has one
        // long-name entry before it and one after.
        longNameAcrossTheCut("RootLongNameAcrossTheCutFat32", "late-root32", 32, ""),
        // Deleted files read where no copy of the FAT tells free clusters: LIVE.BIN's
        // lies between #ONE.BIN's two, and #2.BIN's is #ONE.BIN's second.
        {"DeletedFileAcrossAnUnknownFatSectorFat16",
         []() -> const FatShapeVolume& {
             return fatShapeVolume("unknown-sector16", geometry(16, 32768, 1), [](ShapeRecipe& r) {
                 r.files("", {{"PAD.BIN", 253 * IMAGE_SECTOR}});
                 r.files("", {{"H1.BIN", 500}, {"LIVE.BIN", 500}, {"H2.BIN", 500}});
                 r.remove("H1.BIN", nullptr);
                 r.remove("H2.BIN", "#2.BIN");
                 r.resetFreeClusterHint();
                 r.files("", {{"GONE.BIN", 1000}});
                 r.remove("GONE.BIN", "#ONE.BIN");
             });
         },
         [](Damage& d) {
             d.failing = {d.v.params.fatLBA + 1ull, d.v.params.fatMirrLBA + 1ull};
         },
         {"#ONE.BIN", "#2.BIN"}},
        {"RootCutBehindItsFirstClusterFat32",
         tree(32),
         [](Damage& d) { d.setEntry(d.clustersOf("").front(), d.end()); },
         {"R", "#ONE"}},
        // Deleted entries whose first clusters a live file took.
        {"DeletedFilesOverwrittenFat16", fatReuseVolume, nullptr, {"#LD"}},
    };
    all.insert(all.end(), rest.begin(), rest.end());
    for (Shape& s : bootSectorLostShapes())
        all.push_back(std::move(s));
    return all;
}

// ---- Healthy volumes of the geometries formatters choose ----

FatImageOptions geometry(int bits, u32 sizeKiB, u32 sectorsPerCluster) {
    FatImageOptions o;
    o.fatBits = bits;
    o.sizeKiB = sizeKiB;
    o.sectorsPerCluster = sectorsPerCluster;
    return o;
}

std::string numberedName(const char* prefix, u32 i, const char* suffix = ".BIN") {
    char name[40];
    std::snprintf(name, sizeof name, "%s%04u%s", prefix, i, suffix);
    return name;
}

// `count` files in the folder, from a few bytes to about `most`.
void someFiles(ShapeRecipe& r, const std::string& folder, const char* prefix, u32 count, u64 most) {
    std::vector<std::pair<std::string, u64>> sizes;
    for (u32 i = 0; i < count; ++i)
        sizes.push_back({numberedName(prefix, i), 1 + (u64{i} * 7919) % most});
    r.files(folder, sizes);
}

// Files that fill every cluster of a volume of `clusters` clusters, in files
// of at most `per` clusters, the last one ending a few bytes into its last
// cluster.
std::function<void(ShapeRecipe&)> fillToTheLastCluster(u32 clusters, u32 per, u64 clusterBytes) {
    return [=](ShapeRecipe& r) {
        std::vector<std::pair<std::string, u64>> sizes;
        for (u32 left = clusters, i = 0; left > 0; ++i) {
            const u32 n = std::min(left, per);
            sizes.push_back({numberedName("FULL", i), n * clusterBytes - (left == n ? 500 : 0)});
            left -= n;
        }
        r.files("", sizes);
    };
}

// A folder and files of a volume image made by mkfs.fat and mtools.
std::string volumeImageBytes(const FatImageOptions& options, const char* tag) {
    TempDir scratch;
    FatImage image(scratch.file("inner.img"), options);
    image.makeFolder("INSIDE");
    std::vector<std::pair<std::string, std::string>> files;
    for (u32 i = 0; i < 40; ++i)
        files.push_back({numberedName(tag, i), pattern(300 + 97 * i, static_cast<int>(i) + 50)});
    image.addFiles("INSIDE", files);
    image.addFiles("", {{"README.TXT", "an image kept as a file"}});
    return readAll(image.path());
}

std::function<const FatShapeVolume&()> healthy(const std::string& name,
                                               const FatImageOptions& options,
                                               std::function<void(ShapeRecipe&)> fill) {
    return [=]() -> const FatShapeVolume& { return fatShapeVolume(name, options, fill); };
}

// FAT12 whose FAT mkfs.fat pads to 16 sectors and more for large clusters.
std::string paddedFat12Name(u32 spc) {
    return "Fat12ClustersOf" + std::to_string(spc) + "Sectors";
}

std::function<const FatShapeVolume&()> paddedFat12(u32 spc) {
    const u64 clusters = 12u * 2048 / spc;
    return healthy(paddedFat12Name(spc), geometry(12, 12288, spc), [clusters, spc](ShapeRecipe& r) {
        const u64 most = 2 * u64{spc} * IMAGE_SECTOR + 100;
        const u32 count = static_cast<u32>(clusters / 6);
        r.folder("A");
        r.folder("A/B");
        someFiles(r, "", "R", std::min(count, 200u), most);
        someFiles(r, "A", "A", count, most);
        someFiles(r, "A/B", "B", count / 2, most);
    });
}

// FAT12 of 4,096-byte sectors, whose FAT of two sectors is 16 of ours.
std::function<const FatShapeVolume&()> fat12SectorsOf4096() {
    FatImageOptions options = geometry(12, 12288, 1);
    options.sectorBytes = 4096;
    return healthy("Fat12SectorsOf4096BytesTwoDeep", options, [](ShapeRecipe& r) {
        r.folder("A");
        r.folder("A/B");
        someFiles(r, "", "R", 100, 9000);
        someFiles(r, "A", "A", 100, 9000);
        someFiles(r, "A/B", "B", 20, 9000);
    });
}

struct OneFat {
    const char* name;
    int bits;
    u32 sizeKiB;
    u32 sectorBytes;
};

std::function<const FatShapeVolume&()> oneFat(const OneFat& o) {
    FatImageOptions options = geometry(o.bits, o.sizeKiB, 0);
    options.fats = 1;
    options.sectorBytes = o.sectorBytes;
    return healthy(o.name, options, [](ShapeRecipe& r) {
        r.folder("A");
        r.folder("A/B");
        someFiles(r, "", "R", 60, 9000);
        someFiles(r, "A", "A", 60, 9000);
        someFiles(r, "A/B", "B", 60, 9000);
    });
}

// The boot sector zeroed (FAT12/16 keep no copy): the volume is made from its
// FATs, root and folders, as wide and with as many FATs as they show.
std::vector<Shape> bootSectorLostShapes() {
    const auto zeroBootSector = [](Damage& d) { d.zeroAt(0, IMAGE_SECTOR); };
    std::vector<Shape> all;
    auto add = [&](const std::string& name, std::function<const FatShapeVolume&()> volume,
                   const char* width) {
        Shape s{"BootSectorZeroed" + name, std::move(volume), zeroBootSector};
        s.wholeShare = 0.9;
        s.shows = width;
        all.push_back(std::move(s));
    };
    add(paddedFat12Name(16), paddedFat12(16), " FAT 12\n");
    add(paddedFat12Name(64), paddedFat12(64), " FAT 12\n");
    add("Fat12SectorsOf4096BytesTwoDeep", fat12SectorsOf4096(), " FAT 12\n");
    // Files and folders of one cluster fill the FAT's first sector with end
    // marks, which read alike at FAT12 and FAT16.
    const std::string oneCluster = paddedFat12Name(64) + "FilesOfOneCluster";
    add(oneCluster,
        healthy(oneCluster, geometry(12, 12288, 64),
                [](ShapeRecipe& r) {
                    r.folder("A");
                    r.folder("A/B");
                    someFiles(r, "", "R", 30, 9000);
                    someFiles(r, "A", "A", 300, 3000);
                    someFiles(r, "A/B", "B", 20, 9000);
                }),
        " FAT 12\n");
    add("OneFatFat12", oneFat({"OneFatFat12", 12, 12288, 0}), " FAT 12\n");
    // The FAT's links spill a few bytes into its second sector, which reads as
    // a directory in front of the root.
    add("Fat12ClustersOf4SectorsFatSpillingIntoItsSecondSector",
        healthy("Fat12ClustersOf4SectorsFatSpilling", geometry(12, 4112, 4),
                [](ShapeRecipe& r) {
                    std::vector<std::pair<std::string, u64>> sizes;
                    for (u32 i : {1, 10, 2, 3, 4, 5, 6, 7, 8, 9})
                        sizes.push_back({"F" + std::to_string(i) + ".BIN", i * 3001 + 17});
                    for (u32 i : {1, 10, 2, 3, 4, 5, 6, 7, 8, 9})
                        sizes.push_back({"SUB1/G" + std::to_string(i) + ".DAT", i * 7919 + 5});
                    for (u32 i : {1, 10, 2, 3, 4, 5, 6, 7, 8, 9})
                        sizes.push_back({"SUB2/H" + std::to_string(i) + ".TXT", i * 1237 + 900});
                    r.tree(sizes);
                }),
        " FAT 12\n");
    add("OneFatFat16", oneFat({"OneFatFat16", 16, 32768, 0}), " FAT 16\n");
    // FAT32 keeps a backup 6 sectors of 4,096 bytes in; one folder makes no
    // grid, so only the backup places the volume.
    FatImageOptions sectors4096 = geometry(32, 270336, 1);
    sectors4096.sectorBytes = 4096;
    add("Fat32SectorsOf4096Bytes",
        healthy("Fat32SectorsOf4096Bytes", sectors4096,
                [](ShapeRecipe& r) {
                    r.folder("A");
                    someFiles(r, "", "R", 40, 9000);
                    someFiles(r, "A", "A", 20, 9000);
                }),
        " FAT 32\n");
    all.back().wholeShare = 1;
    return all;
}

// The names of a file saved anew beside its deleted old version, and of a
// folder "Album A" deleted beside a live "Album B".
struct SavedAnew {
    std::string oldFile, newFile;
    // What the deleted entries' long names are made, and the names they are
    // shown under.
    std::string oldRenamed, oldShown, folderRenamed, folderShown;
};

std::function<void(ShapeRecipe&)> savedAnew(const SavedAnew& n) {
    return [n](ShapeRecipe& r) {
        for (const char* album : {"Album A", "Album B"}) {
            r.folder(album);
            const std::string photo = std::string("photo ") + album[6];
            r.files(album,
                    {{photo + "1.jpg", 9000}, {photo + "2.jpg", 5000}, {photo + "3.jpg", 700}});
        }
        r.contents("", {{n.oldFile, pattern(30000, 1)}});
        r.contents("", {{n.newFile, pattern(20000, 2)}});
        r.remove(n.oldFile, n.oldShown.c_str());
        r.renameDeleted(n.oldFile, n.oldRenamed);
        r.removeFolder("Album A", n.folderShown);
        r.renameDeleted("Album A", n.folderRenamed);
    };
}

std::vector<Shape> healthyShapes() {
    std::vector<Shape> all;
    auto add = [&](const std::string& name, const FatImageOptions& options,
                   std::function<void(ShapeRecipe&)> fill) {
        all.push_back({name, healthy(name, options, std::move(fill)), nullptr, {}, true});
    };
    // A root of 4,096 entries, 128 sectors.
    FatImageOptions bigRoot = geometry(16, 65536, 4);
    bigRoot.rootEntries = 4096;
    add("RootOf4096EntriesFat16", bigRoot,
        [](ShapeRecipe& r) { someFiles(r, "", "R", 2000, 3000); });
    // One folder of 6,000 long names, 1,125 clusters of one sector.
    add("FolderOf6000LongNamesFat32", geometry(32, 65536, 1), [](ShapeRecipe& r) {
        r.folder("BIG");
        std::vector<std::pair<std::string, u64>> sizes;
        for (u32 i = 1; i <= 6000; ++i)
            sizes.push_back({numberedName("", i, "-long name.txt"), 20 + i % 400});
        r.files("BIG", sizes);
    });
    for (u32 spc : {8, 16, 32, 64})
        all.push_back({paddedFat12Name(spc), paddedFat12(spc), nullptr, {}, true});
    all.push_back({"Fat12SectorsOf4096BytesTwoDeep", fat12SectorsOf4096(), nullptr, {}, true});
    // Clusters of 256 KiB, 512 sectors of 512 bytes.
    FatImageOptions clusters256KiB = geometry(12, 65536, 64);
    clusters256KiB.sectorBytes = 4096;
    add("Fat12ClustersOf64SectorsOf4096Bytes", clusters256KiB, [](ShapeRecipe& r) {
        r.folder("A");
        someFiles(r, "", "R", 40, 600000);
        someFiles(r, "A", "A", 40, 600000);
    });
    // Filled to the last cluster, which is numbered as the FAT's reserved
    // values are: FAT12 of 4,083 clusters, FAT16 of 65,519 and 65,524.
    FatImageOptions full12 = geometry(12, 2070, 1);
    full12.unaligned = true;
    add("Fat12FullTo4083Clusters", full12, fillToTheLastCluster(4083, 400, IMAGE_SECTOR));
    FatImageOptions full16 = geometry(16, 33032, 1);
    full16.unaligned = true;
    add("Fat16FullTo65519Clusters", full16, fillToTheLastCluster(65519, 4000, IMAGE_SECTOR));
    full16.sizeKiB = 33034;
    full16.rootEntries = 496;
    add("Fat16FullTo65524Clusters", full16, fillToTheLastCluster(65524, 4000, IMAGE_SECTOR));
    // Written by a system without a clock: dates and times 0.
    for (int bits : {16, 32}) {
        add("NoClockFat" + std::to_string(bits), geometry(bits, bits == 16 ? 32768 : 65536, 1),
            [](ShapeRecipe& r) {
                r.folder("CLOCK");
                someFiles(r, "CLOCK", "T", 20, 5000);
                std::vector<std::string> names;
                for (u32 i = 0; i < 20; ++i)
                    names.push_back(numberedName("T", i));
                r.clearTimes("CLOCK", names);
                someFiles(r, "", "R", 10, 5000);
            });
    }
    // Disk images kept as files: their folders are theirs, not the volume's.
    for (int bits : {16, 32}) {
        add("ImagesAsFilesFat" + std::to_string(bits),
            geometry(bits, bits == 16 ? 32768 : 65536, 1), [](ShapeRecipe& r) {
                r.folder("IMAGES");
                someFiles(r, "", "R", 20, 4000);
                r.contents("IMAGES",
                           {{"FLOPPY.IMG", volumeImageBytes(geometry(12, 1440, 0), "F")},
                            {"SMALL16.IMG", volumeImageBytes(geometry(16, 8192, 1), "S")},
                            {"BIGCLUS.IMG", volumeImageBytes(geometry(12, 2048, 4), "G")}});
                someFiles(r, "IMAGES", "A", 20, 4000);
            });
    }
    // One FAT, on the volume's first sector, also of larger sectors.
    for (const OneFat& o :
         {OneFat{"OneFatFat12", 12, 12288, 0}, OneFat{"OneFatFat16", 16, 32768, 0},
          OneFat{"OneFatFat32", 32, 65536, 0}, OneFat{"OneFatSectorsOf1024Fat16", 16, 32768, 1024},
          OneFat{"OneFatSectorsOf4096Fat16", 16, 65536, 4096},
          OneFat{"OneFatSectorsOf1024Fat32", 32, 69632, 1024}})
        all.push_back({o.name, oneFat(o), nullptr, {}, true});
    // A file whose last cluster reads as a folder's entries: its data, not a
    // folder of the volume.
    add("FolderEntriesEndAFileFat16", geometry(16, 32768, 1), [](ShapeRecipe& r) {
        someFiles(r, "", "R", 10, 3000);
        std::string tail = shortEntry("GHOST   TXT", ATTR_ARCHIVE, 40, 100) +
                           shortEntry("GHOST2  TXT", ATTR_ARCHIVE, 41, 100);
        tail.resize(IMAGE_SECTOR, '\0');
        r.contents("", {{"TAIL.BIN", pattern(2 * IMAGE_SECTOR, 7) + tail}});
    });
    // OS/2 keeps an extended-attribute handle where FAT32 keeps a cluster's
    // high word.
    for (int bits : {12, 16}) {
        add("HighWordSetFat" + std::to_string(bits),
            geometry(bits, bits == 12 ? 1440 : 32768, bits == 12 ? 1 : 4), [](ShapeRecipe& r) {
                r.folder("A");
                someFiles(r, "", "R", 30, 3000);
                someFiles(r, "A", "A", 30, 3000);
                for (u32 i : {3, 17})
                    r.setHighWord(numberedName("R", i), static_cast<u16>(0x1234 + i));
                r.setHighWord(numberedName("A", 5), 0x0101);
            });
    }
    // A file saved anew beside its deleted old version, whose slots kept the
    // name the new one has; a deleted folder beside a live one of its name. The
    // same with names that differ only in case: the destinations people recover
    // to hold them as one name.
    add("LiveNamesBeforeDeletedFat16", geometry(16, 20000, 2),
        savedAnew({"Report Final.old", "Report Final.txt", "Report Final.txt", "Report Final-1.txt",
                   "Album B", "Album B-1"}));
    add("LiveNamesBeforeDeletedOfOtherCaseFat32", geometry(32, 65536, 1),
        savedAnew(
            {"report.Old", "Report.TXT", "report.txt", "report-1.txt", "album b", "album b-1"}));
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

// A folder that did not come back where it was, or a part of it, may hang in
// "Found" under one of its clusters: marked there, it is marked.
void placeFoundFolders(const FatShapeVolume& v, RecoverReport& report) {
    std::set<std::string> found;
    for (const std::string& path : report.incomplete) {
        const std::size_t name = path.rfind("/Found.");
        if (name != std::string::npos)
            found.insert(path.substr(name + 1));
    }
    std::vector<std::string> folders = v.folders;
    // The root of FAT32 lies in clusters too.
    if (v.params.rootEntries == 0)
        folders.push_back("");
    for (const std::string& folder : folders) {
        for (u32 cluster : v.image().clustersOf(folder)) {
            if (found.count("Found." + std::to_string(cluster)))
                report.incomplete.insert(folder);
        }
    }
}

// The entries below `root` that a destination comparing names without case
// would hold as one.
std::vector<std::string> namesOneButForCase(const std::string& root) {
    std::map<std::string, std::string> seen;
    std::vector<std::string> same;
    for (std::string path : listFolder(root)) {
        if (path.back() == '/')
            path.pop_back();
        std::string key = path;
        std::transform(key.begin(), key.end(), key.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const auto it = seen.emplace(key, path).first;
        if (it->second != path)
            same.push_back(it->second + " and " + path);
    }
    return same;
}

// Recovers the volume of the shape, as damaged, and checks what came back.
void expectWholeOrMarked(const Shape& shape, const TempDir& dir) {
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

    if (shape.shows) {
        EXPECT_THAT(r.out, testing::HasSubstr(shape.shows));
    }
    bool allBack = true;
    std::size_t wholeUnmarked = 0;
    for (const PlacedFile& f : v.files) {
        SCOPED_TRACE(f.path);
        const bool whole = fileDifference(dest + "/" + f.path, f.data, f.mtime).empty();
        const auto line = report.lines.find(f.path);
        const bool marked = line != report.lines.end() && isMarked(line->second);
        allBack = allBack && whole;
        wholeUnmarked += whole && !marked;
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
    EXPECT_GE(wholeUnmarked, shape.wholeShare * v.files.size());
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
    EXPECT_THAT(namesOneButForCase(dest), testing::IsEmpty());
    if (shape.foldersWhole) {
        EXPECT_THAT(report.incomplete, testing::IsEmpty());
    }
    if (shape.healthy) {
        EXPECT_EQ(report.errors, 0);
        EXPECT_THAT(r.out, testing::Not(testing::HasSubstr("(incomplete)")));
        EXPECT_THAT(r.out, testing::Not(testing::HasSubstr("(recovered with errors)")));
    } else if (!allBack) {
        EXPECT_GT(report.errors, 0);
    }
}

std::string shapeName(const ::testing::TestParamInfo<Shape>& info) {
    return info.param.name;
}

class DamagedFatTest : public ::testing::TestWithParam<Shape> {
protected:
    TempDir dir;
};

TEST_P(DamagedFatTest, EveryFileComesBackWholeOrMarked) {
    expectWholeOrMarked(GetParam(), dir);
}

INSTANTIATE_TEST_SUITE_P(Shapes, DamagedFatTest, ::testing::ValuesIn(shapes()), shapeName);

// Volumes as formatters and writers leave them, nothing damaged: every file
// comes back, and nothing else does.
class HealthyFatTest : public ::testing::TestWithParam<Shape> {
protected:
    TempDir dir;
};

TEST_P(HealthyFatTest, EveryFileComesBackWholeAndNothingElse) {
    expectWholeOrMarked(GetParam(), dir);
    EXPECT_TRUE(cameBack(dir.file("out"), GetParam().volume().files));
}

INSTANTIATE_TEST_SUITE_P(Geometries, HealthyFatTest, ::testing::ValuesIn(healthyShapes()),
                         shapeName);

} // namespace
