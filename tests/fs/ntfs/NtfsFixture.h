#pragma once

// The NTFS tests' one fixture: a corpus of one volume per cluster size, made by
// mkntfs, filled by our builder on libntfs-3g and cached for every test process
// of a run; memory volumes and a record builder for what no tool writes; and
// the path the program takes from a source to a tree.

#include "fs/Params.h"
#include "fs/ScanResults.h"
#include "fs/ntfs/NTFSDrive.h"
#include "fs/ntfs/NTFSMapImpl.h"
#include "tests/support/FailingReader.h"

#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ntfstest {

std::string textContent(std::size_t size, unsigned seed = 1);
std::string randomContent(std::size_t size, unsigned seed = 1);

// A source with one NTFS volume on it, and what a scan would hand the engine.
struct Source {
    SharedPtr<Driver> driver;
    NTFS_FS_PARAMS params;
    UnreadableSectors unreadable;
    FoundList<FoundRecordRun> recordRuns;
    testutil::FailingReader* reader = nullptr; // owned by the driver; records requests

    // The drive over the source as the engine builds one, made at the first call.
    NTFSDrive& drive() {
        if (!drive_)
            drive_ = std::make_unique<NTFSDrive>(driver, params, &unreadable);
        return *drive_;
    }

private:
    std::unique_ptr<NTFSDrive> drive_;
};

// The volume of an image file; sectors in `bad` fail to read and are the scan's
// unreadable ones. Throws when no volume forms.
std::unique_ptr<Source> openSource(const std::string& path, const std::vector<u64>& bad = {});

// The runs of FILE records that the sector scan would find on the source.
FoundList<FoundRecordRun> scanRecordRuns(Driver& driver);

// The tree as the program builds it: the MFT run list rebuilt from $MFT, its
// mirror and the source's found record runs, the map, its found entries and
// finishTree. Null when no MFT run list could be made.
std::unique_ptr<tree::NTFSMapImpl> buildTree(Source& source);

struct CorpusFile {
    std::string path; // in the volume, "/a/b"
    std::string data;
    std::time_t mtime;
    bool deleted = false;
};

struct Corpus {
    std::string image; // the cached volume: read it, never change it
    std::vector<CorpusFile> files;
};

// The volume of that cluster size (512, 4096 or 65536).
const Corpus& corpus(u32 clusterBytes);

// A corpus volume opened as the program opens a source, its tree built and
// listed by path ("a/b").
struct CorpusTree {
    CorpusTree(const std::string& image, const std::vector<u64>& bad = {});

    std::unique_ptr<Source> source;
    std::unique_ptr<tree::NTFSMapImpl> map;
    std::map<std::string, tree::Node> listing;
};

// An ntfs-3g tool run on the system's paths; its exit status.
int runTool(const std::string& command, std::string* out = nullptr);

// 512-byte sectors, the MFT at cluster MFT_LCN with records of 2 sectors, the
// clusters after it free for data and index blocks.
class MemoryVolume {
public:
    static constexpr u64 MFT_LCN = 1;

    MemoryVolume(u64 sectorsPerCluster, u64 clusters, u64 mftRecords = 64);

    void putBytes(u64 offset, const std::string& bytes);
    void putClusters(u64 lcn, const std::string& bytes) { putBytes(lcn * clusterBytes(), bytes); }
    // At record n of the MFT, or as far beyond it.
    void putRecord(u64 n, const std::vector<u8>& raw) {
        putBytes(MFT_LCN * clusterBytes() + n * 1024, std::string(raw.begin(), raw.end()));
    }
    u64 clusterBytes() const { return sectorsPerCluster_ * 512; }
    Runlist mftRunlist() const; // one plain run
    const std::string& bytes() const { return bytes_; }
    // A source over a copy of the bytes as they are now.
    std::unique_ptr<Source> source(const std::vector<u64>& bad = {}) const;

private:
    u64 sectorsPerCluster_;
    u64 mftRecords_;
    std::string bytes_;
};

// A FILE record made attribute by attribute, numbered 42. raw() gives it as the
// disk holds it: end marker added, each sector's tail saved in the update
// sequence array and replaced by the number.
class RecordBuilder {
public:
    explicit RecordBuilder(u32 sectors = 2, u16 usaOffset = 0x30, u16 flags = NTFS_RECORD_IN_USE);

    RecordBuilder& resident(u32 type, const std::string& value, const std::u16string& name = u"");
    RecordBuilder& nonResident(u32 type, const std::vector<u8>& pairs, u64 dataSize,
                               u64 startVcn = 0, u8 compressionUnit = 0, u16 flags = 0,
                               const std::u16string& name = u"");
    RecordBuilder& baseRecord(u64 base);
    RecordBuilder& recordNumber(u32 number);
    std::vector<u8> raw() const;

    // A $FILE_NAME value; its times are 2019 plus the field's index.
    static std::string fileName(u64 parent, const std::u16string& name,
                                u8 nameSpace = NTFS_NAMESPACE_WIN32, u32 flags = 0x20,
                                u64 size = 0);

private:
    // An attribute's common fields, its name after `header` bytes and then its
    // body, 8-aligned; where it starts.
    u32 add(u32 type, u32 header, const std::u16string& name, const std::string& body);

    std::vector<u8> bytes_;
    u32 next_;
    u32 sectors_;
    u16 instance_ = 0;
};

// Record 0 of an MFT of `clusters` clusters of 512 bytes whose $DATA here holds
// `runs` {lcn, clusters}; an attribute list first when given one.
std::vector<u8> mftRecord(const std::vector<std::pair<u64, u64>>& runs, u64 clusters,
                          const std::string& list = "");
// An attribute list entry of `length` bytes (cut short when less than its 32).
std::string listEntry(u32 type, u64 vcn, u64 record, u8 length = 32);

// Folder index pieces over $FILE_NAME keys.
std::string indexEntry(u64 record, const std::string& key, bool subNode = false,
                       u64 subNodeVcn = 0);
std::string lastEntry(bool subNode = false, u64 subNodeVcn = 0);
std::string indexRoot(u32 blockSize, const std::vector<std::string>& entries);
// An INDX block as the disk holds it (fix-ups undone), `blockSize` bytes.
std::string indexBlock(u64 vcn, u32 blockSize, const std::vector<std::string>& entries);

// One mapping pair: `clusters` at `step` clusters from the pair before (two's
// complement, in the shortest field that keeps the sign), or a hole.
std::vector<u8> runPair(u64 clusters, u64 step, bool hole = false);
// Mapping pairs of plain runs {lcn, clusters}, terminated.
std::vector<u8> mappingPairs(const std::vector<std::pair<u64, u64>>& runs);

} // namespace ntfstest
