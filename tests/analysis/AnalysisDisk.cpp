#include "tests/analysis/AnalysisDisk.h"

#include "tests/support/FsImages.h"
#include "tests/support/NtfsBuilder.h"
#include "tests/support/TestUtil.h"

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

using namespace testutil;

namespace analysistest {

std::string textContent(std::size_t n, int seed) {
    std::string out;
    for (int line = 0; out.size() < n; ++line)
        out += "file " + std::to_string(seed) + " line " + std::to_string(line) + "\n";
    out.resize(n);
    return out;
}

static std::time_t fileTime(int seed) {
    return IMAGE_EPOCH + 86400 * seed + 2 * seed;
}

// Three folders, so that the scan sees a grid of subdirectories.
static PlacedFiles liveFiles(int seed) {
    PlacedFiles files;
    const char* paths[] = {"readme.txt", "Docs/report.txt", "Pics/photo data.bin", "Music/song.bin",
                           "big file.bin"};
    const std::size_t sizes[] = {12, 30000, 9000, 4100, 150000};
    for (int i = 0; i < 5; ++i)
        files.push_back({paths[i], textContent(sizes[i], seed * 10 + i), fileTime(seed + i)});
    return files;
}

static PlacedFile deletedFile(int seed) {
    return {"gone long name.bin", textContent(20000, seed * 10 + 9), fileTime(seed + 9)};
}

// The images are built once per run and kept in the build folder (each test
// is its own process); a new layout of the disk needs a new name.
const std::string& cacheDir() {
    static const std::string dir = [] {
        const std::string d = HB_BINARY_DIR "/test-images/disk-analysis-v4";
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

static PlacedFiles carvableIn(const std::string& dir) {
    return {{"photo.jpg", readAll(dir + "/photo.jpg"), fileTime(7)},
            {"archive.zip", readAll(dir + "/archive.zip"), fileTime(8)}};
}

PlacedFiles carvable() {
    return carvableIn(cacheDir());
}

static void copySectors(const std::string& from, u64 skip, const std::string& to, u64 seek,
                        u64 count) {
    std::string err;
    const std::string cmd = "dd if=" + shellQuote(from) + " of=" + shellQuote(to) +
                            " bs=512 skip=" + std::to_string(skip) +
                            " seek=" + std::to_string(seek) + " count=" + std::to_string(count) +
                            " conv=notrunc status=none";
    if (run(cmd, nullptr, &err) != 0)
        throw std::runtime_error(cmd + ": " + err);
}

// The deleted file goes last: nothing takes its clusters again.
void fillFat(FatImage& image, int seed, const PlacedFiles& extra) {
    for (const char* folder : {"Docs", "Pics", "Music"})
        image.makeFolder(folder);
    PlacedFiles files = liveFiles(seed);
    files.insert(files.end(), extra.begin(), extra.end());
    for (const PlacedFile& f : files)
        image.addFile(f.path, f.data, f.mtime);
    const PlacedFile gone = deletedFile(seed);
    image.addFile(gone.path, gone.data, gone.mtime);
    image.deleteFile(gone.path);
}

static void buildDisk(const std::string& disk, const std::string& scratch) {
    FatImageOptions o16;
    o16.sizeKiB = 16384;
    o16.fatBits = 16;
    o16.partitionLba = FAT16_LBA;
    FatImage f16(scratch + "/f16.img", o16);
    // A picture and an archive: what a reformat leaves to the carver.
    std::string err;
    if (run("cd " + shellQuote(scratch) +
                " && convert -seed 1 -size 320x240 plasma: photo.jpg && seq 1 4000 > n.txt"
                " && zip -q -X archive.zip n.txt",
            nullptr, &err) != 0)
        throw std::runtime_error(err);
    fillFat(f16, 1, carvableIn(scratch));

    FatImageOptions o32;
    o32.sizeKiB = 40960;
    o32.fatBits = 32;
    o32.sectorsPerCluster = 1;
    o32.partitionLba = FAT32_LBA;
    FatImage f32(scratch + "/f32.img", o32);
    fillFat(f32, 2);

    // Hidden sectors of a logical partition count from its extended record.
    NtfsImageOptions on;
    on.partitionLba = NTFS_LBA - EXTENDED_LBA;
    NtfsImage ntfs(scratch + "/ntfs.img", on);
    NtfsBuilder build(ntfs);
    build.mkdir("/Docs").mkdir("/Pics").mkdir("/Music");
    for (const PlacedFile& f : liveFiles(3))
        build.write("/" + f.path, f.data).setMtime("/" + f.path, f.mtime);
    const PlacedFile gone = deletedFile(3);
    build.write("/gone.bin", gone.data).setMtime("/gone.bin", gone.mtime).rm("/gone.bin");
    if (!build.run())
        throw std::runtime_error("the NTFS builder failed");

    const std::string table = "label: dos\n2048,32768,4\n34816,81920,b\n116736,,f\n"
                              "118784,32768,7\n";
    if (run("truncate -s " + std::to_string(u64{DISK_SECTORS} * 512) + " " + shellQuote(disk) +
                " && printf '" + table + "' | sfdisk -q " + shellQuote(disk),
            nullptr, &err) != 0)
        throw std::runtime_error("sfdisk: " + err);
    copySectors(f16.path(), FAT16_LBA, disk, FAT16_LBA, f16.volumeSectors());
    copySectors(f32.path(), FAT32_LBA, disk, FAT32_LBA, f32.volumeSectors());
    copySectors(ntfs.volumePath(), 0, disk, NTFS_LBA, ntfs.volumeSectors());
}

const std::string& cachedDisk() {
    static const std::string path = [] {
        // The picture and the archive lie beside the disk they were put on;
        // one process builds all three while the others wait.
        const std::string disk = cacheDir() + "/disk.img";
        testutil::buildOnce(disk, [](const std::string& making) {
            TempDir scratch;
            buildDisk(making, scratch.path());
            for (const char* name : {"photo.jpg", "archive.zip"})
                std::filesystem::copy_file(scratch.file(name), cacheDir() + "/" + name,
                                           std::filesystem::copy_options::overwrite_existing);
        });
        return disk;
    }();
    return path;
}

PlacedFiles expectedFiles(std::size_t volume) {
    PlacedFiles files = fatFiles(static_cast<int>(volume) + 1);
    if (volume == 2)
        files.back().path = "gone.bin";
    if (volume == 0) {
        const PlacedFiles more = carvable();
        files.insert(files.end(), more.begin(), more.end());
    }
    return files;
}

PlacedFiles fatFiles(int seed) {
    PlacedFiles files = liveFiles(seed);
    files.push_back(deletedFile(seed));
    return files;
}

std::string describe(const ScanResults& r) {
    std::ostringstream os;
    for (const auto& t : r.partitionTables) {
        os << "T" << t.lba;
        for (const auto& e : t.entries)
            os << ' ' << std::hex << unsigned(e.type) << std::dec << ':' << e.startLba << '+'
               << e.sectorCount;
        os << '\n';
    }
    for (const auto& b : r.bootSectors)
        os << "B" << b.lba << ' ' << b.params.kind << ' ' << b.params.fat.totalSectors << '\n';
    for (const auto& f : r.fatSectors)
        os << "F" << f.lba << ' ' << f.fatType << '\n';
    for (const auto& d : r.directoryRuns)
        os << "D" << d.lba << '+' << d.sectorCount << (d.startsWithDotEntries ? " dots" : "")
           << (d.lastSlotInUse ? " full" : "") << ' ' << d.dotCluster << '/' << d.dotDotCluster
           << " h" << d.highestCluster << '\n';
    for (const auto& s : r.ntfsSystemRecords)
        os << "S" << s.lba << ' ' << s.info.which << '\n';
    for (const auto& run : r.ntfsRecordRuns)
        os << "R" << run.lba << ' ' << run.recordSectors << 'x' << run.recordCount << '\n';
    for (const auto& u : r.unreadable.runs())
        os << "U" << u.start << '+' << u.count << '\n';
    return os.str();
}

} // namespace analysistest
