#pragma once

// NTFS volumes for the tree tests: an image made by mkntfs and filled by our
// builder, opened as the program opens a source, its parameters formed from a
// boot sector, the FILE-record runs that a sector scan would find, the tree built
// as the program builds it, and helpers that list a tree and recover it.

#include "fs/Params.h"
#include "fs/ScanResults.h"
#include "fs/ntfs/NTFSMapImpl.h"
#include "tests/support/FailingReader.h"
#include "tests/support/TreeListing.h"
#include "tree/Node.h"

#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ntfstree {

// A source with one NTFS volume on it, and what a scan would hand the engine.
struct Source {
    SharedPtr<Driver> driver;
    NTFS_FS_PARAMS params;
    UnreadableSectors unreadable;
    FoundList<FoundRecordRun> recordRuns;
    // Set when the source reads through a FailingReader (bad sectors given).
    testutil::FailingReader* failing = nullptr;
};

// The volume whose boot sector lies at bootLba of the image; with `backup` that
// sector is the copy in the volume's last sector. Sectors in `bad` fail to read
// and are the scan's unreadable sectors. Throws when no volume forms.
std::unique_ptr<Source> openSource(const std::string& path, u32 bootLba, bool backup = false,
                                   const std::vector<u64>& bad = {});
// The same over bytes in memory, the volume's boot sector at LBA 0.
std::unique_ptr<Source> openMemorySource(const std::string& bytes);

// The runs of FILE records that the sector scan would find on the source.
FoundList<FoundRecordRun> scanRecordRuns(Driver& driver);

// The tree as the program builds it: the MFT run list rebuilt from $MFT, its
// mirror and the source's found record runs, the map, its found entries and
// finishTree. Null when no MFT run list could be made.
std::unique_ptr<tree::NTFSMapImpl> buildTree(Source& source);

using testutil::listTree;
using testutil::recoverAll;

// The node's data as readNodeData gives it, in pieces of `piece` bytes.
std::string readWhole(tree::Map& map, tree::Node node, u32 piece = 65536);

// The debug log written since `mark` (an earlier length of logMemoryText()).
std::string logSince(std::size_t mark);

// A file's modification time on the host.
std::time_t mtimeOf(const std::string& path);

// An NTFS volume made in memory record by record, for what no tool writes:
// 512-byte sectors, the MFT at cluster MFT_LCN with records of 2 sectors, the
// clusters after it free for data and index blocks.
class MemoryMft {
public:
    static constexpr u64 MFT_LCN = 1;
    static constexpr u64 RECORD_BYTES = 1024;

    MemoryMft(u64 sectorsPerCluster, u64 clusters, u64 mftRecords);

    // Raw records as RecordBuilder::raw gives them.
    void putRecord(u64 n, std::vector<u8> raw);
    void putBytes(u64 offset, const std::string& bytes);
    void putClusters(u64 lcn, const std::string& bytes) { putBytes(lcn * clusterBytes(), bytes); }
    u64 clusterBytes() const { return sectorsPerCluster_ * 512; }
    // The first cluster after the MFT.
    u64 firstFreeCluster() const;
    // The MFT's run list: one plain run.
    Runlist mftRunlist() const;
    NTFS_FS_PARAMS params() const;
    std::string& bytes() { return bytes_; }
    // A source over a copy of the bytes as they are now (bad: sectors that fail).
    std::unique_ptr<Source> source(const std::vector<u64>& bad = {}) const;

private:
    u64 sectorsPerCluster_;
    u64 mftRecords_;
    std::string bytes_;
};

// Fields of a raw record that RecordBuilder leaves as they are.
void setRecordNumber(std::vector<u8>& raw, u32 number);
void setBaseRecord(std::vector<u8>& raw, u64 base);

// Folder index pieces. A $FILE_NAME key comes from RecordBuilder::fileName.
std::string indexEntry(u64 record, const std::string& key, bool subNode = false,
                       u64 subNodeVcn = 0);
std::string lastEntry(bool subNode = false, u64 subNodeVcn = 0);
// An index node header (entries right after it) and its entries.
std::string indexNode(const std::vector<std::string>& entries);
// An $INDEX_ROOT value over $FILE_NAME keys.
std::string indexRoot(u32 blockSize, const std::vector<std::string>& entries);
// An INDX block as the disk holds it (fix-ups undone), `blockSize` bytes.
std::string indexBlock(u64 vcn, u32 blockSize, const std::vector<std::string>& entries);
// Mapping pairs of plain runs {lcn, clusters}, terminated.
std::vector<u8> mappingPairs(const std::vector<std::pair<u64, u64>>& runs);

} // namespace ntfstree
