#include "tests/fs/ntfs/NtfsTreeFixture.h"

#include "core/Log.h"
#include "core/Ownership.h"
#include "devices/DtReaderFile.h"
#include "fs/ntfs/MftRunlist.h"
#include "fs/ntfs/NtfsRecord.h"
#include "fs/ntfs/VolumeHelpers.h"
#include "tree/ParserRecover.h"
#include "tree/ParserSelect.h"
#include "tree/RecovererCopyOff.h"

#include <set>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace ntfstree {

namespace {

constexpr u64 SECTOR = 512;

// A source over the reader whose `bad` sectors fail and are the scan's
// unreadable ones; its parameters are left to the caller.
std::unique_ptr<Source> sourceOver(const SharedPtr<dt::Reader>& reader,
                                   const std::vector<u64>& bad) {
    auto source = std::make_unique<Source>();
    SharedPtr<dt::Reader> chain = reader;
    if (!bad.empty()) {
        source->failing = new testutil::FailingReader(reader, bad);
        chain.reset(source->failing);
        for (u64 lba : bad)
            source->unreadable.runs().push_back(SectorRun{static_cast<u32>(lba), 1});
    }
    source->driver.reset(new Driver(chain, SECTOR));
    return source;
}

std::unique_ptr<Source> openOver(const SharedPtr<dt::Reader>& reader, u32 bootLba, bool backup,
                                 const std::vector<u64>& bad) {
    auto source = sourceOver(reader, bad);
    u8 boot[SECTOR];
    if (!reader->read(static_cast<i64>(bootLba * SECTOR), boot, SECTOR))
        throw std::runtime_error("cannot read sector " + std::to_string(bootLba));
    u32 volumeLba = bootLba;
    if (backup) {
        NtfsBootParams b;
        if (!readNtfsBootParams(boot, b) || b.totalSectors > bootLba)
            throw std::runtime_error("no backup boot sector at " + std::to_string(bootLba));
        volumeLba = static_cast<u32>(bootLba - b.totalSectors);
    }
    if (!ntfsFsParamsFromBootSector(volumeLba, boot, source->params,
                                    source->driver->getSectorCount()))
        throw std::runtime_error("no NTFS volume at " + std::to_string(volumeLba));
    return source;
}

} // namespace

std::unique_ptr<Source> openSource(const std::string& path, u32 bootLba, bool backup,
                                   const std::vector<u64>& bad) {
    auto* file = new dt::ReaderFile;
    SharedPtr<dt::Reader> reader(file);
    if (!file->open(path.c_str()))
        throw std::runtime_error("cannot open " + path);
    return openOver(reader, bootLba, backup, bad);
}

std::unique_ptr<Source> openMemorySource(const std::string& bytes) {
    return openOver(SharedPtr<dt::Reader>(new testutil::MemoryReader(bytes)), 0, false, {});
}

FoundList<FoundRecordRun> scanRecordRuns(Driver& driver) {
    // The scanner silences the record parsers while it probes every sector.
    ByteOverride quietRecords(&logNtfsRecordParser, false);
    ByteOverride quietFiles(&logNtfsFileRecordParser, false);
    FoundList<FoundRecordRun> runs;
    FoundRecordRun pending;
    constexpr u64 WINDOW = 256;
    constexpr u64 LOOKAHEAD = 8; // the largest record
    std::vector<u8> window((WINDOW + LOOKAHEAD) * SECTOR, 0);
    const u64 sectors = driver.getSectorCount();
    for (u64 first = 0; first < sectors; first += WINDOW) {
        const u64 count = std::min(WINDOW + LOOKAHEAD, sectors - first);
        if (!driver.readSectors(first, count, window.data()))
            continue;
        for (u64 s = 0; s < std::min(WINDOW, count); ++s) {
            NtfsSystemRecordInfo info;
            u16 recordSectors = 0;
            const u32 length = static_cast<u32>((count - s) * SECTOR);
            if (!probeNtfsFileRecord(window.data() + s * SECTOR, length, info, recordSectors))
                continue;
            const u64 lba = first + s;
            if (pending.recordCount != 0 && pending.recordSectors == recordSectors &&
                pending.endLBA() == lba) {
                ++pending.recordCount;
                continue;
            }
            if (pending.recordCount != 0)
                runs.insert(pending);
            pending = FoundRecordRun{static_cast<u32>(lba), recordSectors, 1};
        }
    }
    if (pending.recordCount != 0)
        runs.insert(pending);
    return runs;
}

std::unique_ptr<tree::NTFSMapImpl> buildTree(Source& source) {
    Runlist mft;
    {
        NTFSDrive drive(source.driver, source.params, &source.unreadable);
        recreateMftRunlist(mft, drive, source.recordRuns);
    }
    if (mft.empty())
        return nullptr;
    auto map =
        std::make_unique<tree::NTFSMapImpl>(source.driver, source.params, mft, &source.unreadable);
    map->analyzeFoundFiles();
    map->finishTree();
    return map;
}

std::string readWhole(tree::Map& map, tree::Node node, u32 piece) {
    std::string out;
    std::vector<u8> buffer(piece);
    for (;;) {
        const int n = map.readNodeData(node, buffer.data(), piece, out.size());
        if (n < 0)
            throw std::runtime_error("readNodeData failed at " + std::to_string(out.size()));
        if (n == 0)
            return out;
        out.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(n));
    }
}

std::string logSince(std::size_t mark) {
    return logMemoryText().substr(mark);
}

std::time_t mtimeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw std::runtime_error("cannot stat " + path);
    return st.st_mtime;
}

MemoryMft::MemoryMft(u64 sectorsPerCluster, u64 clusters, u64 mftRecords)
    : sectorsPerCluster_(sectorsPerCluster), mftRecords_(mftRecords),
      bytes_(static_cast<std::size_t>(clusters * sectorsPerCluster * SECTOR), '\0') {}

void MemoryMft::putRecord(u64 n, std::vector<u8> raw) {
    putBytes(MFT_LCN * clusterBytes() + n * RECORD_BYTES, std::string(raw.begin(), raw.end()));
}

void MemoryMft::putBytes(u64 offset, const std::string& bytes) {
    if (offset + bytes.size() > bytes_.size())
        throw std::runtime_error("bytes at " + std::to_string(offset) + " pass the volume");
    bytes_.replace(static_cast<std::size_t>(offset), bytes.size(), bytes);
}

u64 MemoryMft::firstFreeCluster() const {
    const u64 mftBytes = mftRecords_ * RECORD_BYTES;
    return MFT_LCN + (mftBytes + clusterBytes() - 1) / clusterBytes();
}

Runlist MemoryMft::mftRunlist() const {
    const u64 clusters = firstFreeCluster() - MFT_LCN;
    return Runlist{NtfsRun{MFT_LCN, clusters, clusters}};
}

NTFS_FS_PARAMS MemoryMft::params() const {
    NTFS_FS_PARAMS p;
    p.startingLBA = 0;
    p.totalSectors = bytes_.size() / SECTOR;
    p.sectorsPerCluster = sectorsPerCluster_;
    p.mftLCN = MFT_LCN;
    p.mftMirrLCN = 0;
    p.sectorsPerFileRecord = RECORD_BYTES / SECTOR;
    return p;
}

std::unique_ptr<Source> MemoryMft::source(const std::vector<u64>& bad) const {
    auto source = sourceOver(SharedPtr<dt::Reader>(new testutil::MemoryReader(bytes_)), bad);
    source->params = params();
    return source;
}

namespace {

void putLE(std::string& b, std::size_t at, u64 value, u32 width) {
    for (u32 i = 0; i < width; ++i)
        b[at + i] = static_cast<char>(value >> (8 * i));
}

void putLE(std::vector<u8>& b, std::size_t at, u64 value, u32 width) {
    for (u32 i = 0; i < width; ++i)
        b[at + i] = static_cast<u8>(value >> (8 * i));
}

std::size_t align8(std::size_t n) {
    return (n + 7) & ~std::size_t{7};
}

} // namespace

void setRecordNumber(std::vector<u8>& raw, u32 number) {
    putLE(raw, 0x2C, number, 4);
}

void setBaseRecord(std::vector<u8>& raw, u64 base) {
    putLE(raw, 0x20, base, 8);
}

std::string indexEntry(u64 record, const std::string& key, bool subNode, u64 subNodeVcn) {
    const std::size_t length = align8(16 + key.size()) + (subNode ? 8 : 0);
    std::string e(length, '\0');
    putLE(e, 0x00, record, 8);
    putLE(e, 0x08, length, 2);
    putLE(e, 0x0A, key.size(), 2);
    putLE(e, 0x0C, subNode ? 1 : 0, 4);
    e.replace(16, key.size(), key);
    if (subNode)
        putLE(e, length - 8, subNodeVcn, 8);
    return e;
}

std::string lastEntry(bool subNode, u64 subNodeVcn) {
    const std::size_t length = subNode ? 24 : 16;
    std::string e(length, '\0');
    putLE(e, 0x08, length, 2);
    putLE(e, 0x0C, 2 | (subNode ? 1 : 0), 4);
    if (subNode)
        putLE(e, 16, subNodeVcn, 8);
    return e;
}

std::string indexNode(const std::vector<std::string>& entries) {
    std::string body;
    for (const std::string& e : entries)
        body += e;
    std::string node(16, '\0');
    putLE(node, 0x00, 16, 4);
    putLE(node, 0x04, 16 + body.size(), 4);
    putLE(node, 0x08, 16 + body.size(), 4);
    return node + body;
}

std::string indexRoot(u32 blockSize, const std::vector<std::string>& entries) {
    std::string root(16, '\0');
    putLE(root, 0x00, 0x30, 4);
    putLE(root, 0x04, 1, 4);
    putLE(root, 0x08, blockSize, 4);
    putLE(root, 0x0C, 1, 1);
    return root + indexNode(entries);
}

std::string indexBlock(u64 vcn, u32 blockSize, const std::vector<std::string>& entries) {
    const u32 sectors = blockSize / 512;
    std::string b(blockSize, '\0');
    b.replace(0, 4, "INDX");
    putLE(b, 0x04, 0x28, 2);
    putLE(b, 0x06, sectors + 1, 2);
    putLE(b, 0x10, vcn, 8);
    // The node's entries start after the update sequence array.
    const std::size_t entriesAt = align8(0x28 + 2 + 2 * sectors);
    std::string body;
    for (const std::string& e : entries)
        body += e;
    const std::size_t nodeEntries = entriesAt - 24;
    putLE(b, 24 + 0x00, nodeEntries, 4);
    putLE(b, 24 + 0x04, nodeEntries + body.size(), 4);
    putLE(b, 24 + 0x08, blockSize - 24, 4);
    if (entriesAt + body.size() > blockSize)
        throw std::runtime_error("index entries pass the block");
    b.replace(entriesAt, body.size(), body);
    const u16 number = 0x0202;
    putLE(b, 0x28, number, 2);
    for (u32 i = 0; i < sectors; ++i) {
        const std::size_t tail = 510 + 512 * i;
        putLE(b, 0x28 + 2 + 2 * i, static_cast<u8>(b[tail]) | static_cast<u8>(b[tail + 1]) << 8, 2);
        putLE(b, tail, number, 2);
    }
    return b;
}

std::vector<u8> mappingPairs(const std::vector<std::pair<u64, u64>>& runs) {
    std::vector<u8> out;
    i64 previous = 0;
    for (const auto& run : runs) {
        const i64 offset = static_cast<i64>(run.first) - previous;
        previous = static_cast<i64>(run.first);
        std::vector<u8> length;
        for (u64 v = run.second; v != 0 || length.empty(); v >>= 8)
            length.push_back(static_cast<u8>(v));
        if (length.back() & 0x80)
            length.push_back(0);
        std::vector<u8> lcn;
        i64 v = offset;
        for (;;) {
            lcn.push_back(static_cast<u8>(v));
            const bool done = (v >= -128 && v < 128);
            v >>= 8;
            if (done)
                break;
        }
        out.push_back(static_cast<u8>(lcn.size() << 4 | length.size()));
        out.insert(out.end(), length.begin(), length.end());
        out.insert(out.end(), lcn.begin(), lcn.end());
    }
    out.push_back(0);
    return out;
}

} // namespace ntfstree
