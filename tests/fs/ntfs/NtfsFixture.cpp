// The fixture's sources, trees, memory volumes and record builders. The fuzz
// target fuzz_ntfstree builds this file too: it needs nothing of GoogleTest.

#include "tests/fs/ntfs/NtfsFixture.h"

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

template <typename Bytes> void put(Bytes& b, u64 at, u64 value, u32 width) {
    for (u32 i = 0; i < width; ++i)
        b.at(at + i) = static_cast<typename Bytes::value_type>(value >> (8 * i));
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

std::string textContent(std::size_t size, unsigned seed) {
    const char* const words[] = {"alpha ",   "beta ",      "gamma ",   "delta\n",
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

std::unique_ptr<Source> openSource(const std::string& path, const std::vector<u64>& bad) {
    auto* file = new dt::ReaderFile;
    SharedPtr<dt::Reader> reader(file);
    if (!file->open(path.c_str()))
        throw std::runtime_error("cannot open " + path);
    auto source = sourceOver(reader, bad);
    u8 boot[SECTOR];
    if (!reader->read(0, boot, SECTOR) ||
        !ntfsFsParamsFromBootSector(0, boot, source->params, source->driver->getSectorCount()))
        throw std::runtime_error("no NTFS volume in " + path);
    return source;
}

FoundList<FoundRecordRun> scanRecordRuns(Driver& driver) {
    // The scanner silences the record parsers while it probes every sector.
    ByteOverride quietRecords(&logNtfsRecordParser, false);
    ByteOverride quietFiles(&logNtfsFileRecordParser, false);
    FoundList<FoundRecordRun> runs;
    FoundRecordRun run;
    std::vector<u8> window(8 * SECTOR); // the largest record
    for (u64 lba = 0, sectors = driver.getSectorCount(); lba < sectors; ++lba) {
        const u64 n = std::min<u64>(8, sectors - lba);
        NtfsSystemRecordInfo info;
        u16 size = 0;
        if (!driver.readSectors(lba, n, window.data()) ||
            !probeNtfsFileRecord(window.data(), static_cast<u32>(n * SECTOR), info, size))
            continue;
        if (run.recordCount != 0 && run.recordSectors == size && run.endLBA() == lba) {
            ++run.recordCount;
            continue;
        }
        if (run.recordCount != 0)
            runs.insert(run);
        run = FoundRecordRun{static_cast<u32>(lba), size, 1};
    }
    if (run.recordCount != 0)
        runs.insert(run);
    return runs;
}

std::unique_ptr<tree::NTFSMapImpl> buildTree(Source& source) {
    Runlist mft;
    recreateMftRunlist(mft, source.drive(), source.recordRuns);
    if (mft.empty())
        return nullptr;
    auto map =
        std::make_unique<tree::NTFSMapImpl>(source.driver, source.params, mft, &source.unreadable);
    map->analyzeFoundFiles();
    map->finishTree();
    return map;
}

MemoryVolume::MemoryVolume(u64 sectorsPerCluster, u64 clusters, u64 mftRecords)
    : sectorsPerCluster_(sectorsPerCluster), mftRecords_(mftRecords),
      bytes_(static_cast<std::size_t>(clusters * sectorsPerCluster * SECTOR), '\0') {}

void MemoryVolume::putBytes(u64 offset, const std::string& bytes) {
    if (offset > bytes_.size() || bytes.size() > bytes_.size() - offset)
        throw std::runtime_error("bytes at " + std::to_string(offset) + " pass the volume");
    bytes_.replace(static_cast<std::size_t>(offset), bytes.size(), bytes);
}

Runlist MemoryVolume::mftRunlist() const {
    const u64 clusters = (mftRecords_ * 1024 + clusterBytes() - 1) / clusterBytes();
    return Runlist{NtfsRun{MFT_LCN, clusters, clusters}};
}

std::unique_ptr<Source> MemoryVolume::source(const std::vector<u64>& bad) const {
    auto source = sourceOver(SharedPtr<dt::Reader>(new testutil::MemoryReader(bytes_)), bad);
    source->params = NTFS_FS_PARAMS{0, bytes_.size() / SECTOR, sectorsPerCluster_, MFT_LCN, 0, 2};
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

u32 RecordBuilder::add(u32 type, u32 header, const std::u16string& name, const std::string& body) {
    const u32 at = next_;
    const u32 bodyAt = align8(header + 2 * name.size());
    next_ += align8(bodyAt + body.size());
    if (next_ + 8 > bytes_.size())
        throw std::runtime_error("attributes pass the record");
    put(bytes_, at + L::ATTR_TYPE, type, 4);
    put(bytes_, at + L::ATTR_LENGTH, next_ - at, 4);
    put(bytes_, at + L::ATTR_NAME_LENGTH, name.size(), 1);
    put(bytes_, at + L::ATTR_NAME_OFFSET, header, 2);
    put(bytes_, at + L::ATTR_INSTANCE, instance_++, 2);
    for (std::size_t i = 0; i < name.size(); ++i)
        put(bytes_, at + header + 2 * i, name[i], 2);
    std::copy(body.begin(), body.end(), bytes_.begin() + at + bodyAt);
    return at;
}

RecordBuilder& RecordBuilder::resident(u32 type, const std::string& value,
                                       const std::u16string& name) {
    const u32 at = add(type, L::ATTR_HEADER_SIZE, name, value);
    put(bytes_, at + L::ATTR_VALUE_LENGTH, value.size(), 4);
    put(bytes_, at + L::ATTR_VALUE_OFFSET, align8(L::ATTR_HEADER_SIZE + 2 * name.size()), 2);
    return *this;
}

RecordBuilder& RecordBuilder::nonResident(u32 type, const std::vector<u8>& pairs, u64 dataSize,
                                          u64 startVcn, u8 compressionUnit, u16 flags,
                                          const std::u16string& name) {
    const u32 header =
        compressionUnit != 0 ? L::ATTR_COMPRESSED_HEADER_SIZE : L::ATTR_NON_RESIDENT_HEADER_SIZE;
    const u32 at = add(type, header, name, std::string(pairs.begin(), pairs.end()));
    const u64 allocated = (dataSize + 4095) / 4096 * 4096;
    put(bytes_, at + L::ATTR_NON_RESIDENT, 1, 1);
    put(bytes_, at + L::ATTR_FLAGS, flags, 2);
    put(bytes_, at + L::ATTR_STARTING_VCN, startVcn, 8);
    put(bytes_, at + L::ATTR_LAST_VCN, startVcn + allocated / 4096, 8);
    put(bytes_, at + L::ATTR_RUNLIST_OFFSET, align8(header + 2 * name.size()), 2);
    put(bytes_, at + L::ATTR_COMPRESSION_UNIT, compressionUnit, 1);
    put(bytes_, at + L::ATTR_ALLOCATED_SIZE, allocated, 8);
    put(bytes_, at + L::ATTR_DATA_SIZE, dataSize, 8);
    put(bytes_, at + L::ATTR_INITIALIZED_SIZE, dataSize, 8);
    return *this;
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

std::vector<u8> mftRecord(const std::vector<std::pair<u64, u64>>& runs, u64 clusters,
                          const std::string& list) {
    RecordBuilder r;
    if (!list.empty())
        r.resident(NTFS_ATTR_ATTRIBUTE_LIST, list);
    return r.resident(NTFS_ATTR_FILE_NAME, RecordBuilder::fileName(5, u"$MFT", 1, 6))
        .nonResident(NTFS_ATTR_DATA, mappingPairs(runs), clusters * 512)
        .raw();
}

std::string listEntry(u32 type, u64 vcn, u64 record, u8 length) {
    std::string e(std::max<u32>(length, 32), '\0');
    put(e, L::AL_TYPE, type, 4);
    put(e, L::AL_LENGTH, length, 2);
    put(e, L::AL_NAME_OFFSET, L::AL_MIN_LENGTH, 1);
    put(e, L::AL_STARTING_VCN, vcn, 8);
    put(e, L::AL_REFERENCE, record, 8);
    e.resize(length); // a damaged entry may be too short for its own fields
    return e;
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

std::vector<u8> runPair(u64 clusters, u64 step, bool hole) {
    std::vector<u8> length, lcn;
    for (u64 v = clusters; v != 0 || length.empty(); v >>= 8)
        length.push_back(static_cast<u8>(v));
    const bool back = (step >> 63) != 0;
    for (u64 v = step; !hole; v = back ? v >> 8 | ~u64{0} << 56 : v >> 8) {
        lcn.push_back(static_cast<u8>(v));
        if (lcn.size() == 8 || v >> 7 == (back ? ~u64{0} >> 7 : 0))
            break;
    }
    std::vector<u8> b{static_cast<u8>(lcn.size() << 4 | length.size())};
    b.insert(b.end(), length.begin(), length.end());
    b.insert(b.end(), lcn.begin(), lcn.end());
    return b;
}

std::vector<u8> mappingPairs(const std::vector<std::pair<u64, u64>>& runs) {
    std::vector<u8> out;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const u64 step = runs[i].first - (i == 0 ? 0 : runs[i - 1].first);
        const std::vector<u8> pair = runPair(runs[i].second, step);
        out.insert(out.end(), pair.begin(), pair.end());
    }
    out.push_back(0);
    return out;
}

} // namespace ntfstest
