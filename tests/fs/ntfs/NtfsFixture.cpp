// The fixture's sources, trees, memory volumes and record builders. The fuzz
// target fuzz_ntfstree builds this file too: it needs nothing of GoogleTest.

#include "tests/fs/ntfs/NtfsFixture.h"

#include "core/Array.h"
#include "core/Log.h"
#include "devices/DtReaderFile.h"
#include "fs/ntfs/MftRunlist.h"
#include "fs/ntfs/NtfsLayout.h"
#include "fs/ntfs/NtfsRecord.h"
#include "fs/ntfs/VolumeHelpers.h"

#include <random>
#include <stdexcept>

namespace ntfstest {

namespace L = ntfslayout;

namespace {

constexpr u64 SECTOR = 512;

u32 align8(u64 n) {
    return static_cast<u32>((n + 7) & ~u64{7});
}

void put(std::vector<u8>& b, u64 at, u64 value, u32 width) {
    for (u32 i = 0; i < width; ++i)
        b.at(at + i) = static_cast<u8>(value >> (8 * i));
}

void put(std::string& b, u64 at, u64 value, u32 width) {
    for (u32 i = 0; i < width; ++i)
        b.at(at + i) = static_cast<char>(value >> (8 * i));
}

// Saves each sector's tail in the array at usa + 2 and writes the number there.
template <typename Bytes> void protect(Bytes& b, u32 usa, u32 sectors, u16 number) {
    put(b, usa, number, 2);
    for (u32 i = 0; i < sectors; ++i) {
        const u64 tail = SECTOR - 2 + SECTOR * i;
        put(b, usa + 2 + 2 * i, static_cast<u8>(b[tail]) | static_cast<u8>(b[tail + 1]) << 8, 2);
        put(b, tail, number, 2);
    }
}

std::unique_ptr<Source> sourceOver(const SharedPtr<dt::Reader>& reader,
                                   const std::vector<u64>& bad) {
    auto source = std::make_unique<Source>();
    source->reader = new testutil::FailingReader(reader, bad);
    for (u64 lba : bad)
        source->unreadable.runs().push_back(SectorRun{static_cast<u32>(lba), 1});
    source->driver.reset(new Driver(SharedPtr<dt::Reader>(source->reader), SECTOR));
    return source;
}

} // namespace

std::string textContent(std::size_t size, unsigned seed) {
    static const char* const words[] = {"alpha ",   "beta ",      "gamma ",   "delta\n",
                                        "epsilon ", "recovered ", "cluster ", "record "};
    std::mt19937 random(seed);
    std::string text;
    while (text.size() < size)
        text += words[random() % 8];
    text.resize(size);
    return text;
}

std::string randomContent(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

std::unique_ptr<Source> openSource(const std::string& path, u32 bootLba,
                                   const std::vector<u64>& bad) {
    auto* file = new dt::ReaderFile;
    SharedPtr<dt::Reader> reader(file);
    if (!file->open(path.c_str()))
        throw std::runtime_error("cannot open " + path);
    auto source = sourceOver(reader, bad);
    u8 boot[SECTOR];
    if (!reader->read(static_cast<i64>(bootLba * SECTOR), boot, SECTOR) ||
        !ntfsFsParamsFromBootSector(bootLba, boot, source->params,
                                    source->driver->getSectorCount()))
        throw std::runtime_error("no NTFS volume at " + std::to_string(bootLba));
    return source;
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
    recreateMftRunlist(mft, *source.drive(), source.recordRuns);
    if (mft.empty())
        return nullptr;
    auto map =
        std::make_unique<tree::NTFSMapImpl>(source.driver, source.params, mft, &source.unreadable);
    map->analyzeFoundFiles();
    map->finishTree();
    return map;
}

VcnMap vcnMapOf(const Runlist& runs) {
    VcnMap map;
    VcnMap unit; // stored clusters of the compression unit being read
    for (const NtfsRun& r : runs) {
        if (r.isPlain() && unit.empty()) {
            for (u64 i = 0; i < r.clusters; ++i)
                map.push_back(r.lcn + i);
        } else if (r.isSparse() && unit.empty()) {
            map.insert(map.end(), r.clusters, HOLE);
        } else if (r.isCompressed()) {
            for (u64 i = 0; i < r.storedClusters; ++i)
                unit.push_back(r.lcn + i);
            if (r.clusters != 0) {
                unit.resize(r.clusters, HOLE);
                map.insert(map.end(), unit.begin(), unit.end());
                unit.clear();
            }
        } else {
            map.insert(map.end(), r.clusters == 0 ? 1 : r.clusters, BROKEN);
        }
    }
    if (!unit.empty())
        map.push_back(BROKEN);
    return map;
}

MemoryVolume::MemoryVolume(u64 sectorsPerCluster, u64 clusters, u64 mftRecords)
    : sectorsPerCluster_(sectorsPerCluster), mftRecords_(mftRecords),
      bytes_(static_cast<std::size_t>(clusters * sectorsPerCluster * SECTOR), '\0') {}

void MemoryVolume::putRecord(u64 n, const std::vector<u8>& raw) {
    putBytes(MFT_LCN * clusterBytes() + n * RECORD_BYTES, std::string(raw.begin(), raw.end()));
}

void MemoryVolume::putBytes(u64 offset, const std::string& bytes) {
    if (offset > bytes_.size() || bytes.size() > bytes_.size() - offset)
        throw std::runtime_error("bytes at " + std::to_string(offset) + " pass the volume");
    bytes_.replace(static_cast<std::size_t>(offset), bytes.size(), bytes);
}

Runlist MemoryVolume::mftRunlist() const {
    const u64 clusters = (mftRecords_ * RECORD_BYTES + clusterBytes() - 1) / clusterBytes();
    return Runlist{NtfsRun{MFT_LCN, clusters, clusters}};
}

NTFS_FS_PARAMS MemoryVolume::params() const {
    NTFS_FS_PARAMS p;
    p.startingLBA = 0;
    p.totalSectors = bytes_.size() / SECTOR;
    p.sectorsPerCluster = sectorsPerCluster_;
    p.mftLCN = MFT_LCN;
    p.mftMirrLCN = 0;
    p.sectorsPerFileRecord = RECORD_BYTES / SECTOR;
    return p;
}

std::unique_ptr<Source> MemoryVolume::source(const std::vector<u64>& bad) const {
    auto source = sourceOver(SharedPtr<dt::Reader>(new testutil::MemoryReader(bytes_)), bad);
    source->params = params();
    return source;
}

RecordBuilder::RecordBuilder(u32 sectors, u16 usaOffset, u16 flags)
    : bytes_(sectors * SECTOR, 0), sectors_(sectors) {
    put(bytes_, L::REC_MAGIC, NTFS_MAGIC_FILE, 4);
    put(bytes_, L::REC_USA_OFFSET, usaOffset, 2);
    put(bytes_, L::REC_USA_COUNT, sectors + 1, 2);
    put(bytes_, L::FILE_SEQUENCE, 1, 2);
    put(bytes_, L::FILE_LINKS, 1, 2);
    put(bytes_, L::FILE_FLAGS, flags, 2);
    put(bytes_, L::FILE_BYTES_ALLOCATED, sectors * SECTOR, 4);
    recordNumber(42);
    next_ = align8(usaOffset + 2 + 2 * sectors);
    put(bytes_, L::FILE_FIRST_ATTRIBUTE, next_, 2);
}

RecordBuilder& RecordBuilder::baseRecord(u64 base) {
    put(bytes_, L::FILE_BASE_REFERENCE, base, 8);
    return *this;
}

RecordBuilder& RecordBuilder::recordNumber(u32 number) {
    put(bytes_, L::FILE_RECORD_NUMBER, number, 4);
    return *this;
}

RecordBuilder& RecordBuilder::rawAttribute(const std::vector<u8>& bytes) {
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + next_);
    next_ += align8(bytes.size());
    return *this;
}

RecordBuilder& RecordBuilder::resident(u32 type, const std::string& value,
                                       const std::u16string& name) {
    const u32 valueOffset = align8(L::ATTR_HEADER_SIZE + 2 * name.size());
    std::vector<u8> a(align8(valueOffset + value.size()), 0);
    put(a, L::ATTR_TYPE, type, 4);
    put(a, L::ATTR_LENGTH, a.size(), 4);
    put(a, L::ATTR_NAME_LENGTH, name.size(), 1);
    put(a, L::ATTR_NAME_OFFSET, L::ATTR_HEADER_SIZE, 2);
    put(a, L::ATTR_INSTANCE, instance_++, 2);
    put(a, L::ATTR_VALUE_LENGTH, value.size(), 4);
    put(a, L::ATTR_VALUE_OFFSET, valueOffset, 2);
    for (std::size_t i = 0; i < name.size(); ++i)
        put(a, L::ATTR_HEADER_SIZE + 2 * i, name[i], 2);
    std::copy(value.begin(), value.end(), a.begin() + valueOffset);
    return rawAttribute(a);
}

RecordBuilder& RecordBuilder::nonResident(u32 type, const std::vector<u8>& pairs, u64 dataSize,
                                          u64 startVcn, u8 compressionUnit, u16 flags,
                                          const std::u16string& name) {
    const u32 header =
        compressionUnit != 0 ? L::ATTR_COMPRESSED_HEADER_SIZE : L::ATTR_NON_RESIDENT_HEADER_SIZE;
    const u32 pairsOffset = align8(header + 2 * name.size());
    std::vector<u8> a(align8(pairsOffset + pairs.size()), 0);
    put(a, L::ATTR_TYPE, type, 4);
    put(a, L::ATTR_LENGTH, a.size(), 4);
    put(a, L::ATTR_NON_RESIDENT, 1, 1);
    put(a, L::ATTR_NAME_LENGTH, name.size(), 1);
    put(a, L::ATTR_NAME_OFFSET, header, 2);
    put(a, L::ATTR_FLAGS, flags, 2);
    put(a, L::ATTR_INSTANCE, instance_++, 2);
    put(a, L::ATTR_STARTING_VCN, startVcn, 8);
    put(a, L::ATTR_LAST_VCN, startVcn + (dataSize + 4095) / 4096, 8);
    put(a, L::ATTR_RUNLIST_OFFSET, pairsOffset, 2);
    put(a, L::ATTR_COMPRESSION_UNIT, compressionUnit, 1);
    put(a, L::ATTR_ALLOCATED_SIZE, (dataSize + 4095) / 4096 * 4096, 8);
    put(a, L::ATTR_DATA_SIZE, dataSize, 8);
    put(a, L::ATTR_INITIALIZED_SIZE, dataSize, 8);
    for (std::size_t i = 0; i < name.size(); ++i)
        put(a, header + 2 * i, name[i], 2);
    std::copy(pairs.begin(), pairs.end(), a.begin() + pairsOffset);
    return rawAttribute(a);
}

std::vector<u8> RecordBuilder::raw() const {
    std::vector<u8> b = bytes_;
    put(b, next_, NTFS_ATTR_END, 4);
    put(b, L::FILE_BYTES_IN_USE, next_ + 8, 4);
    put(b, L::FILE_NEXT_INSTANCE, instance_, 2);
    protect(b, b[L::REC_USA_OFFSET] | b[L::REC_USA_OFFSET + 1] << 8, sectors_, 0x0101);
    return b;
}

std::string RecordBuilder::fileName(u64 parent, const std::u16string& name, u8 nameSpace, u32 flags,
                                    u64 size) {
    std::string v(L::FN_NAME + 2 * name.size(), '\0');
    put(v, L::FN_PARENT, parent, 8);
    for (u32 t = 0; t < 4; ++t)
        put(v, L::FN_TIMES + 8 * t, 132000000000000000ull + t, 8); // 2019
    put(v, L::FN_ALLOCATED_SIZE, (size + 4095) / 4096 * 4096, 8);
    put(v, L::FN_DATA_SIZE, size, 8);
    put(v, L::FN_FLAGS, flags, 4);
    put(v, L::FN_NAME_LENGTH, name.size(), 1);
    put(v, L::FN_NAMESPACE, nameSpace, 1);
    for (std::size_t i = 0; i < name.size(); ++i)
        put(v, L::FN_NAME + 2 * i, name[i], 2);
    return v;
}

std::string indexEntry(u64 record, const std::string& key, bool subNode, u64 subNodeVcn) {
    const u32 length = align8(L::IE_HEADER_SIZE + key.size()) + (subNode ? 8 : 0);
    std::string e(length, '\0');
    put(e, L::IE_REFERENCE, record, 8);
    put(e, L::IE_LENGTH, length, 2);
    put(e, L::IE_KEY_LENGTH, key.size(), 2);
    put(e, L::IE_FLAGS, subNode ? NTFS_INDEX_ENTRY_SUB_NODE : 0, 1);
    e.replace(L::IE_KEY, key.size(), key);
    if (subNode)
        put(e, length - L::IE_SUB_NODE_VCN_SIZE, subNodeVcn, 8);
    return e;
}

std::string lastEntry(bool subNode, u64 subNodeVcn) {
    std::string e = indexEntry(0, "", subNode, subNodeVcn);
    put(e, L::IE_FLAGS, NTFS_INDEX_ENTRY_LAST | (subNode ? NTFS_INDEX_ENTRY_SUB_NODE : 0), 1);
    return e;
}

namespace {

// An index node header with its entries right after it (from `entriesAt`).
std::string indexNode(const std::vector<std::string>& entries, u64 entriesAt, u64 allocated) {
    std::string node(entriesAt, '\0');
    for (const std::string& e : entries)
        node += e;
    put(node, L::NODE_ENTRIES_OFFSET, entriesAt, 4);
    put(node, L::NODE_ENTRIES_END, node.size(), 4);
    put(node, L::NODE_ALLOCATED_SIZE, allocated != 0 ? allocated : node.size(), 4);
    return node;
}

} // namespace

std::string indexRoot(u32 blockSize, const std::vector<std::string>& entries) {
    std::string root(L::IR_NODE, '\0');
    put(root, L::IR_TYPE, NTFS_ATTR_FILE_NAME, 4);
    put(root, L::IR_COLLATION, 1, 4);
    put(root, L::IR_BLOCK_SIZE, blockSize, 4);
    put(root, L::IR_CLUSTERS_PER_BLOCK, 1, 1);
    return root + indexNode(entries, L::NODE_HEADER_SIZE, 0);
}

std::string indexBlock(u64 vcn, u32 blockSize, const std::vector<std::string>& entries) {
    const u32 sectors = blockSize / SECTOR;
    constexpr u32 USA = 0x28;
    std::string b(L::INDX_NODE, '\0');
    put(b, L::REC_MAGIC, NTFS_MAGIC_INDX, 4);
    put(b, L::REC_USA_OFFSET, USA, 2);
    put(b, L::REC_USA_COUNT, sectors + 1, 2);
    put(b, L::INDX_VCN, vcn, 8);
    // The node's entries start after the update sequence array.
    b += indexNode(entries, align8(USA + 2 + 2 * sectors) - L::INDX_NODE, blockSize - L::INDX_NODE);
    if (b.size() > blockSize)
        throw std::runtime_error("index entries pass the block");
    b.resize(blockSize, '\0');
    protect(b, USA, sectors, 0x0202);
    return b;
}

std::vector<u8> mappingPairs(const std::vector<std::pair<u64, u64>>& runs) {
    std::vector<u8> out;
    u64 previous = 0;
    for (const auto& run : runs) {
        // The step as a two's complement field just wide enough for its sign.
        const u64 step = run.first - previous;
        previous = run.first;
        const bool back = (step >> 63) != 0;
        std::vector<u8> lcn;
        u64 v = step;
        do {
            lcn.push_back(static_cast<u8>(v));
            v = back ? (v >> 8) | (~u64{0} << 56) : v >> 8;
        } while (v != (back ? ~u64{0} : 0) || ((lcn.back() & 0x80) != 0) != back);
        std::vector<u8> length;
        for (u64 n = run.second; n != 0 || length.empty(); n >>= 8)
            length.push_back(static_cast<u8>(n));
        if (length.back() & 0x80)
            length.push_back(0);
        out.push_back(static_cast<u8>(lcn.size() << 4 | length.size()));
        out.insert(out.end(), length.begin(), length.end());
        out.insert(out.end(), lcn.begin(), lcn.end());
    }
    out.push_back(0);
    return out;
}

} // namespace ntfstest
