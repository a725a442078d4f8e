#include "tests/support/FsImages.h"

#include "core/Array.h"
#include "devices/DtReaderFile.h"
#include "fs/FatLayout.h"
#include "fs/StructureChecks.h"
#include "tests/support/FailingReader.h"
#include "tests/support/TestUtil.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <utime.h>

namespace testutil {

namespace {

// The environment every tool runs in: fixed dates, FAT times in UTC, no
// geometry complaints from mtools, and UTF-8 names on the command line.
std::string toolEnvironment() {
    return "LC_ALL=C.UTF-8 TZ=UTC SOURCE_DATE_EPOCH=" + std::to_string(IMAGE_EPOCH) +
           " MTOOLS_SKIP_CHECK=1 ";
}

std::string runTool(const std::string& command) {
    std::string out;
    std::string err;
    int status = run(toolEnvironment() + command, &out, &err);
    if (status != 0)
        throw std::runtime_error("`" + command + "` failed (" + std::to_string(status) +
                                 "): " + err + out);
    return out;
}

// CHS of an LBA under 255 heads and 63 sectors per track, as an entry packs it;
// past cylinder 1023 the usual all-ones marker.
void packChs(std::string& entry, std::size_t at, u32 lba) {
    constexpr u32 HEADS = 255;
    constexpr u32 SECTORS = 63;
    u32 cylinder = lba / (HEADS * SECTORS);
    u32 head = (lba / SECTORS) % HEADS;
    u32 sector = lba % SECTORS + 1;
    if (cylinder > 1023) {
        cylinder = 1023;
        head = 254;
        sector = 63;
    }
    entry[at] = static_cast<char>(head);
    entry[at + 1] = static_cast<char>(sector | ((cylinder >> 2) & 0xC0));
    entry[at + 2] = static_cast<char>(cylinder & 0xFF);
}

void resizeFile(const std::string& path, u64 size) {
    runTool("truncate -s " + std::to_string(size) + " " + shellQuote(path));
}

// A host file with that content and modification time, for the tools to copy.
std::string placeHostFile(const std::string& path, const std::string& content, std::time_t mtime) {
    writeAll(path, content);
    struct utimbuf times {
        mtime, mtime
    };
    if (utime(path.c_str(), &times) != 0)
        throw std::runtime_error("cannot set the time of " + path);
    return path;
}

// The same under a fresh name in the folder.
std::string hostFile(const std::string& folder, const std::string& content, std::time_t mtime) {
    static unsigned counter = 0;
    return placeHostFile(folder + "/f" + std::to_string(++counter), content, mtime);
}

} // namespace

std::string makeMbr(const std::vector<PartitionSpec>& partitions) {
    if (partitions.size() > 4)
        throw std::runtime_error("an MBR holds four partitions");
    std::string mbr(IMAGE_SECTOR, '\0');
    for (std::size_t i = 0; i < partitions.size(); ++i) {
        const PartitionSpec& p = partitions[i];
        std::string entry(PARTITION_ENTRY_BYTES, '\0');
        entry[PE_BOOT_INDICATOR] = static_cast<char>(p.bootable ? 0x80 : 0x00);
        packChs(entry, PE_START_CHS, p.startLba);
        entry[PE_TYPE] = static_cast<char>(p.type);
        packChs(entry, PE_END_CHS, p.sectors ? p.startLba + p.sectors - 1 : p.startLba);
        Array e(reinterpret_cast<u8*>(&entry[0]), PARTITION_ENTRY_BYTES);
        e.setLE32(PE_START_LBA, p.startLba);
        e.setLE32(PE_SECTOR_COUNT, p.sectors);
        mbr.replace(PARTITION_TABLE_OFFSET + PARTITION_ENTRY_BYTES * i, PARTITION_ENTRY_BYTES,
                    entry);
    }
    Array(reinterpret_cast<u8*>(&mbr[0]), IMAGE_SECTOR)
        .setLE16(SECTOR_SIGNATURE_OFFSET, SECTOR_SIGNATURE);
    return mbr;
}

SharedPtr<dt::Reader> openImageReader(const std::string& path) {
    auto* file = new dt::ReaderFile;
    SharedPtr<dt::Reader> reader(file);
    if (!file->open(path.c_str()))
        throw std::runtime_error("cannot open " + path);
    return reader;
}

SharedPtr<Driver> openImageDriver(const std::string& path) {
    SharedPtr<Driver> driver(new Driver(openImageReader(path), IMAGE_SECTOR));
    driver->getProperties().set(PROP_ID, path);
    driver->getProperties().set(PROP_DESCRIPTION, path);
    return driver;
}

std::string readAt(const std::string& path, u64 offset, u64 size) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string bytes(size, '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(size));
    if (static_cast<u64>(in.gcount()) != size)
        throw std::runtime_error("cannot read " + std::to_string(size) + " bytes at " +
                                 std::to_string(offset) + " of " + path);
    return bytes;
}

void writeAt(const std::string& path, u64 offset, const std::string& bytes) {
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(offset));
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write at " + std::to_string(offset) + " of " + path);
}

// ---- FAT ----

FatImage::FatImage(const std::string& path, const FatImageOptions& options)
    : path_(path), options_(options) {
    scratch_ = path + ".files";
    runTool("rm -rf " + shellQuote(path) + " " + shellQuote(scratch_) + " && mkdir -p " +
            shellQuote(scratch_));
    std::ostringstream cmd;
    cmd << "mkfs.fat -i " << std::hex << IMAGE_VOLUME_ID << std::dec;
    if (options.fatBits)
        cmd << " -F " << options.fatBits;
    if (options.sectorsPerCluster)
        cmd << " -s " << options.sectorsPerCluster;
    if (options.rootEntries)
        cmd << " -r " << options.rootEntries;
    if (options.fats)
        cmd << " -f " << options.fats;
    if (options.sectorBytes)
        cmd << " -S " << options.sectorBytes;
    if (options.reservedSectors)
        cmd << " -R " << options.reservedSectors;
    if (options.unaligned)
        cmd << " -a";
    if (!options.label.empty())
        cmd << " -n " << shellQuote(options.label);
    if (options.partitionLba == 0) {
        cmd << " -C " << shellQuote(path) << ' ' << options.sizeKiB;
        runTool(cmd.str());
        return;
    }
    writeAll(path, "");
    resizeFile(path, volumeOffset() + volumeSectors() * IMAGE_SECTOR);
    if (options.hiddenSectors)
        cmd << " -h " << options.partitionLba;
    cmd << " --offset=" << options.partitionLba << ' ' << shellQuote(path) << ' '
        << options.sizeKiB;
    runTool(cmd.str());
    // The width mkfs.fat chose, from the boot sector it wrote.
    const std::string boot = bootSector();
    const bool fat32 = ConstArray(reinterpret_cast<const u8*>(boot.data()), IMAGE_SECTOR)
                           .getLE16(BS_SECTORS_PER_FAT_16) == 0;
    const bool fat12 = boot.compare(BS16_FS_TYPE, 5, "FAT12") == 0;
    const u8 type = fat32 ? 0x0C : fat12 ? 0x01 : volumeSectors() < 65536 ? 0x04 : 0x06;
    writeAt(
        path, 0,
        makeMbr({PartitionSpec{options.partitionLba, static_cast<u32>(volumeSectors()), type}}));
}

FatImage::FatImage(const std::string& path, const FatImageOptions& options, Existing)
    : path_(path), options_(options), scratch_(path + ".files") {}

std::string FatImage::bootSector() const {
    return readAt(path_, volumeOffset(), IMAGE_SECTOR);
}

std::string FatImage::target() const {
    std::string t = path_;
    if (options_.partitionLba)
        t += "@@" + std::to_string(volumeOffset());
    return shellQuote(t);
}

std::string FatImage::mtools(const std::string& tool, const std::string& args) const {
    return runTool(tool + " -i " + target() + " " + args);
}

void FatImage::makeFolder(const std::string& folder) {
    mtools("mmd", shellQuote("::/" + folder));
}

void FatImage::addFile(const std::string& file, const std::string& content, std::time_t mtime) {
    std::string host = hostFile(scratch_, content, mtime);
    mtools("mcopy", "-m -D o " + shellQuote(host) + " " + shellQuote("::/" + file));
    std::remove(host.c_str());
}

void FatImage::addRootFiles(const std::vector<std::pair<std::string, std::string>>& files,
                            std::time_t mtime) {
    addFiles("", files, mtime);
}

void FatImage::addFiles(const std::string& folder,
                        const std::vector<std::pair<std::string, std::string>>& files,
                        std::time_t mtime) {
    // One folder of host files under their own names, copied as a whole.
    const std::string batch = scratch_ + "/batch";
    runTool("rm -rf " + shellQuote(batch) + " && mkdir " + shellQuote(batch));
    // The names go through a list, in order: thousands of them would pass
    // what one shell command may hold.
    std::string list;
    for (const auto& f : files)
        list += placeHostFile(batch + "/" + f.first, f.second, mtime) + '\0';
    const std::string names = scratch_ + "/batch.list";
    writeAll(names, list);
    runTool("xargs -0 -a " + shellQuote(names) +
            " sh -c 'to=$1; shift; exec mcopy -i \"$0\" -m -D o \"$@\" \"$to\"' " + target() + " " +
            shellQuote("::/" + folder + (folder.empty() ? "" : "/")));
    runTool("rm -rf " + shellQuote(batch) + " " + shellQuote(names));
}

void FatImage::addTree(const std::vector<std::pair<std::string, std::string>>& files,
                       std::time_t mtime) {
    const std::string tree = scratch_ + "/tree";
    runTool("rm -rf " + shellQuote(tree) + " && mkdir " + shellQuote(tree));
    std::set<std::string> tops;
    for (const auto& f : files) {
        const std::string host = tree + "/" + f.first;
        std::filesystem::create_directories(std::filesystem::path(host).parent_path());
        placeHostFile(host, f.second, mtime);
        tops.insert(f.first.substr(0, f.first.find('/')));
    }
    std::string hosts;
    for (const std::string& top : tops)
        hosts += ' ' + shellQuote(tree + "/" + top);
    mtools("mcopy", "-s -m -D o" + hosts + " ::/");
    runTool("rm -rf " + shellQuote(tree));
}

void FatImage::deleteFile(const std::string& file) {
    mtools("mdel", shellQuote("::/" + file));
}

void FatImage::deleteTree(const std::string& folder) {
    mtools("mdeltree", shellQuote("::/" + folder));
}

void FatImage::resetFreeClusterHint() {
    const std::string boot = bootSector();
    const ConstArray b(reinterpret_cast<const u8*>(boot.data()), IMAGE_SECTOR);
    if (b.getLE16(BS_SECTORS_PER_FAT_16) != 0)
        return;
    const u64 info = volumeOffset() + u64{b.getLE16(BS32_FSINFO_SECTOR)} * IMAGE_SECTOR;
    writeAt(path_, info + FSINFO_NEXT_FREE, std::string(4, '\xFF'));
}

std::vector<u32> FatImage::clustersOf(const std::string& path) const {
    // "::/name <2-5> <9>": runs of clusters.
    const std::string out = mtools("mshowfat", shellQuote("::/" + path));
    std::vector<u32> clusters;
    for (std::size_t at = out.find('<'); at != std::string::npos; at = out.find('<', at + 1)) {
        const std::size_t end = out.find('>', at);
        const std::string run = out.substr(at + 1, end - at - 1);
        const std::size_t dash = run.find('-');
        const u32 first = static_cast<u32>(std::stoul(run.substr(0, dash)));
        const u32 last =
            dash == std::string::npos ? first : static_cast<u32>(std::stoul(run.substr(dash + 1)));
        for (u32 c = first; c <= last; ++c)
            clusters.push_back(c);
    }
    if (clusters.empty())
        throw std::runtime_error("no clusters of " + path + ": " + out);
    return clusters;
}

// ---- NTFS ----

NtfsImage::NtfsImage(const std::string& path, const NtfsImageOptions& options)
    : path_(path), options_(options) {
    volume_ = options.partitionLba ? path + ".volume" : path;
    runTool("rm -rf " + shellQuote(path) + " " + shellQuote(volume_));
    writeAll(volume_, "");
    resizeFile(volume_, volumeSectors() * IMAGE_SECTOR);
    std::ostringstream cmd;
    cmd << "mkntfs -F -Q -q -s 512 -c " << options.clusterBytes << " -p " << options.partitionLba
        << " -H 255 -S 63";
    cmd << ' ' << shellQuote(volume_);
    runTool(cmd.str());
}

const std::string& NtfsImage::path() {
    if (options_.partitionLba && dirty_) {
        writeAll(path_, makeMbr({PartitionSpec{options_.partitionLba,
                                               static_cast<u32>(volumeSectors()), 0x07}}));
        resizeFile(path_, volumeOffset() + volumeSectors() * IMAGE_SECTOR);
        runTool("dd status=none conv=notrunc bs=1M oflag=seek_bytes seek=" +
                std::to_string(volumeOffset()) + " if=" + shellQuote(volume_) +
                " of=" + shellQuote(path_));
    }
    dirty_ = false;
    return path_;
}

std::string NtfsImage::bootSector() const {
    return readAt(volume_, 0, IMAGE_SECTOR);
}

} // namespace testutil
