#pragma once

// The rebuilt tree of one NTFS volume. Folders are read from their MFT records
// when the tree reaches them, starting at the root folder (record 5); then every
// record that no walk reached is tried once as a found entry and hung under the
// folder its own $FILE_NAME names, so deleted and orphaned files are listed too.
// Files are read through the MFT run list the map is given and the run lists of
// their $DATA, compressed and sparse ones included.
//
// Addresses: a node's is its MFT record number, and so is a folder's.

#include "core/Ownership.h"
#include "devices/UnreadableSectors.h"
#include "fs/Bitmap.h"
#include "fs/Params.h"
#include "fs/ntfs/DataReader.h"
#include "fs/ntfs/NTFSDrive.h"
#include "fs/ntfs/NtfsFileParser.h"
#include "fs/ntfs/Runlist.h"
#include "tree/MapImpl.h"

#include <unordered_map>
#include <vector>

namespace tree {

class NTFSMapImpl : public MapImpl {
public:
    static constexpr u64 ROOT_RECORD = 5;

    // The parameters must make a usable drive (NTFSDrive::isUsable) with records
    // of a size NtfsFileRecordsCache::isRecordSize takes; the MFT run
    // list is cut at its first run that is neither stored in the volume nor
    // sparse. Keeps the pointer to the unreadable sectors, which must outlive
    // the map. Reads the root folder at once.
    NTFSMapImpl(const SharedPtr<Driver>& driver, const NTFS_FS_PARAMS& params,
                const Runlist& mftRunlist, const UnreadableSectors* unreadable);
    ~NTFSMapImpl() override;

    // The records an MFT run list can hold on this volume: the clusters it
    // covers, at most the volume's, in records; never beyond Bitmap::MAX_SIZE.
    static u64 recordCount(const NTFSDrive& drive, const Runlist& mftRunlist);
    // The runs of the list up to the first that is neither sparse nor stored
    // inside the volume.
    static Runlist usableMftRunlist(const NTFSDrive& drive, const Runlist& mftRunlist);

    // tree::Map
    void analyzeFoundFiles() override;
    bool recoverNode(Recoverer& recoverer, const std::vector<std::string>& path,
                     Node& node) override;
    int readNodeData(Node& node, u8* buffer, u32 size, u64 offset) override;
    u64 getNodeLBA(u64 address) override;
    int getKind() override { return MAP_NTFS; }
    void ostreamPartitionInfo(std::ostream& out) override;

    // tree::MapImpl
    Drive* getDrive() override { return &drive_; }
    Folder* loadFolder(u64 address, Node& out) override;
    bool loadFoundEntry(u64 address, Node& out) override;
    void checkStatuses(Folder& folder) override;
    bool isEquivalent(const Node& listed, const Node& added) override;
    void ostreamInfo(std::ostream& out, const MapPosition& position, Folder& folder,
                     Node& node) override;

    NTFSDrive& getNtfsDrive() { return drive_; }
    NtfsFileParser& getParser() { return parser_; }
    const Bitmap& getRecords() const { return records_; }

private:
    // Lists the loaded folder's index into folder; remembers where each record
    // was listed, so that its own record finds its entry at once.
    bool listLoadedFolder(u64 address, Folder& folder);
    // Loads the node's file and prepares its unnamed data; an empty value for
    // a file that has none.
    bool loadNodeData(const Node& node, NtfsAttributeData& data);
    // Places a node that its own record describes under its parent folder,
    // starting the search for its listed entry where that was listed.
    void placeFoundFile(u64 parent, const Node& node);

    NTFSDrive drive_;
    NtfsFileParser parser_;
    ntfs::RecovererDataReader dataReader_;
    Bitmap records_;
    // Folder address -> record -> position of its first index entry there.
    std::unordered_map<u64, std::unordered_map<u64, u32>> listed_;
};

} // namespace tree
