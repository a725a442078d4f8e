#pragma once

// The NTFS tests' one fixture.
//
// The corpus: one volume per cluster size (512, 4096, 65536) made by mkntfs and
// filled by our builder on libntfs-3g with every kind of file the engine reads
// (text, zeros, random, resident, compressed at the unit edges, sparse,
// fragmented into an attribute list, deleted), built once and cached under the
// build folder, so that every test process of a run shares it. ntfs-3g's own
// tools (ntfscat, ntfsls, ntfsinfo, ntfsundelete) say what each layer must find.
//
// Memory volumes and a record builder for what no tool writes, and the path the
// program takes from a source to a tree.

#include "fs/Params.h"
#include "fs/ScanResults.h"
#include "fs/ntfs/NTFSDrive.h"
#include "fs/ntfs/NTFSMapImpl.h"
#include "fs/ntfs/Runlist.h"
#include "tests/support/FailingReader.h"

#include <ctime>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace ntfstest {

// ---- Contents and comparisons ----

// Prose compresses, random bytes are stored as they are, zeros become holes.
std::string textContent(std::size_t size, unsigned seed = 1);
std::string randomContent(std::size_t size, unsigned seed = 1);

// ---- The path from a source to a tree ----

// A source with one NTFS volume on it, and what a scan would hand the engine.
struct Source {
    SharedPtr<Driver> driver;
    NTFS_FS_PARAMS params;
    UnreadableSectors unreadable;
    FoundList<FoundRecordRun> recordRuns;
    testutil::FailingReader* reader = nullptr; // owned by the driver; records requests

    // A drive over the source, as the engine builds one.
    std::unique_ptr<NTFSDrive> drive() {
        return std::make_unique<NTFSDrive>(driver, params, &unreadable);
    }
};

// The volume whose boot sector lies at bootLba of the image file; sectors in
// `bad` fail to read and are the scan's unreadable ones. Throws when no volume
// forms.
std::unique_ptr<Source> openSource(const std::string& path, u32 bootLba = 0,
                                   const std::vector<u64>& bad = {});

// The runs of FILE records that the sector scan would find on the source.
FoundList<FoundRecordRun> scanRecordRuns(Driver& driver);

// The tree as the program builds it: the MFT run list rebuilt from $MFT, its
// mirror and the source's found record runs, the map, its found entries and
// finishTree. Null when no MFT run list could be made.
std::unique_ptr<tree::NTFSMapImpl> buildTree(Source& source);

// ---- The corpus ----

struct CorpusFile {
    std::string path; // in the volume, "/a/b"
    std::string data;
    std::time_t mtime;
    bool deleted = false;
};

struct Corpus {
    u32 clusterBytes = 0;
    std::string image; // the cached volume: read it, never change it
    std::vector<CorpusFile> files;
};

// The volume of that cluster size (512, 4096 or 65536).
const Corpus& corpus(u32 clusterBytes);

// A corpus volume opened as the program opens a source, its tree built, listed
// by path ("a/b"), and each file's unnamed $DATA as the file parser gives it.
struct CorpusTree {
    CorpusTree(const std::string& image, const std::vector<u64>& bad = {});
    NtfsAttributeData data(const std::string& volumePath);

    std::unique_ptr<Source> source;
    std::unique_ptr<tree::NTFSMapImpl> map;
    std::map<std::string, tree::Node> listing;
};

// ntfs-3g's tools on an image.
int runTool(const std::string& command, std::string* out = nullptr);
std::string ntfscat(const std::string& image, const std::string& path);
// The names ntfsundelete can recover whole.
std::set<std::string> undeletable(const std::string& image);

// The cluster behind each VCN of an attribute: HOLE where it reads as zeros,
// BROKEN where a run list holds what no reader knows.
using VcnMap = std::vector<u64>;
constexpr u64 HOLE = ~u64{0};
constexpr u64 BROKEN = ~u64{0} - 1;
// ntfsinfo's $DATA run table of a path.
VcnMap infoMap(const std::string& image, const std::string& path);
// Ours: plain runs cluster by cluster, sparse runs as holes, a compression unit
// as its stored clusters, then holes up to its 16 clusters.
VcnMap vcnMapOf(const Runlist& runs);

// ---- Memory volumes ----

// 512-byte sectors, the MFT at cluster MFT_LCN with records of 2 sectors, the
// clusters after it free for data and index blocks. Read through a FailingReader
// that records every request.
class MemoryVolume {
public:
    static constexpr u64 MFT_LCN = 1;
    static constexpr u64 RECORD_BYTES = 1024;

    MemoryVolume(u64 sectorsPerCluster, u64 clusters, u64 mftRecords = 64);

    void putRecord(u64 n, const std::vector<u8>& raw);
    void putBytes(u64 offset, const std::string& bytes);
    void putClusters(u64 lcn, const std::string& bytes) { putBytes(lcn * clusterBytes(), bytes); }
    u64 clusterBytes() const { return sectorsPerCluster_ * 512; }
    // The MFT's run list: one plain run.
    Runlist mftRunlist() const;
    NTFS_FS_PARAMS params() const;
    const std::string& bytes() const { return bytes_; }
    // A source over a copy of the bytes as they are now.
    std::unique_ptr<Source> source(const std::vector<u64>& bad = {}) const;

private:
    u64 sectorsPerCluster_;
    u64 mftRecords_;
    std::string bytes_;
};

// A FILE record made attribute by attribute. raw() gives it as the disk holds
// it: end marker added, each sector's tail saved in the update sequence array
// and replaced by the number. The record's own number is 42.
class RecordBuilder {
public:
    explicit RecordBuilder(u32 sectors = 2, u16 usaOffset = 0x30, u16 flags = NTFS_RECORD_IN_USE);

    RecordBuilder& resident(u32 type, const std::string& value, const std::u16string& name = u"");
    RecordBuilder& nonResident(u32 type, const std::vector<u8>& pairs, u64 dataSize,
                               u64 startVcn = 0, u8 compressionUnit = 0, u16 flags = 0,
                               const std::u16string& name = u"");
    // Raw bytes appended as an attribute (for damaged ones).
    RecordBuilder& rawAttribute(const std::vector<u8>& bytes);
    RecordBuilder& baseRecord(u64 base);
    RecordBuilder& recordNumber(u32 number);
    std::vector<u8> raw() const;
    // The offset of the end marker: the bytes in use less 8.
    u32 end() const { return next_; }

    // A $FILE_NAME value; its times are 2019 plus the field's index.
    static std::string fileName(u64 parent, const std::u16string& name,
                                u8 nameSpace = NTFS_NAMESPACE_WIN32, u32 flags = 0x20,
                                u64 size = 0);

private:
    std::vector<u8> bytes_;
    u32 next_;
    u32 sectors_;
    u16 instance_ = 0;
};

// Folder index pieces over $FILE_NAME keys.
std::string indexEntry(u64 record, const std::string& key, bool subNode = false,
                       u64 subNodeVcn = 0);
std::string lastEntry(bool subNode = false, u64 subNodeVcn = 0);
std::string indexRoot(u32 blockSize, const std::vector<std::string>& entries);
// An INDX block as the disk holds it (fix-ups undone), `blockSize` bytes.
std::string indexBlock(u64 vcn, u32 blockSize, const std::vector<std::string>& entries);
// Mapping pairs of plain runs {lcn, clusters}, terminated.
std::vector<u8> mappingPairs(const std::vector<std::pair<u64, u64>>& runs);

} // namespace ntfstest
