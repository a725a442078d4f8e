#pragma once

// The rebuilt tree of one NTFS volume. Folders are read from their MFT records
// when the tree reaches them, starting at the root folder (record 5); then every
// record that no walk reached is tried once as a found entry and hung under the
// folder its own $FILE_NAME names, so deleted and orphaned files are listed too.
// Files are read through the MFT run list the map is given and the run lists of
// their $DATA, compressed and sparse ones included.
//
// Addresses: a node's is its MFT record number, and so is a folder's.
//
// A record is placed by each of its names into the folder that name gives (a
// hard link stands in every folder it was linked into), also where that
// folder's index lost its entry. A deleted record goes where its parent reference, number and
// sequence, still names the folder; one naming a folder whose record was
// reused since goes to "Found". The root is known by its number, so its
// entries stay in it whatever became of its record and its index. A folder
// whose own record is lost stands, marked, under the name a listing gives it,
// and holds what names it. A file in use whose data stream does not read is
// placed by its name too, to be told as not recovered, and the listings of
// the folders it names are not taken as whole. A file in use that lost every
// name goes to "Found" under its record number. A folder stands where the
// index of a folder in use names it; its own parent reference decides only
// where none does.
//
// A file's data is told as not whole where the record read for it carries
// another's number, where its runs end before the size they allocate, and
// where they land in clusters the MFT or another file in use holds.

#include "core/Ownership.h"
#include "devices/UnreadableSectors.h"
#include "fs/Bitmap.h"
#include "fs/Params.h"
#include "fs/ntfs/ClusterOwners.h"
#include "fs/ntfs/DataReader.h"
#include "fs/ntfs/NTFSDrive.h"
#include "fs/ntfs/NtfsFileParser.h"
#include "fs/ntfs/Runlist.h"
#include "tree/MapImpl.h"

#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tree {

class NTFSMapImpl : public MapImpl {
public:
    static constexpr u64 ROOT_RECORD = 5;
    // Records below it are the volume's own and those it keeps in reserve.
    static constexpr u64 FIRST_USER_RECORD = 16;
    static constexpr u64 MIRROR_RECORD = 1;

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
    void finishTree() override;
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
    void mergeRecord(Node& listed, const Node& record) override;
    bool belongsInRoot(const Node& node) override;
    void ostreamInfo(std::ostream& out, const MapPosition& position, Folder& folder,
                     Node& node) override;

    NTFSDrive& getNtfsDrive() { return drive_; }
    NtfsFileParser& getParser() { return parser_; }
    const Bitmap& getRecords() const { return records_; }

private:
    // A record tried as an entry: how far it was built, its node and where
    // its names put it.
    struct RecordEntry {
        bool loaded = false;
        NodeBuild build = NodeBuild::NO_NAME;
        Node node;
        FileLinks links;
        // Whether it makes a node to place: a whole one, or a file in use
        // whose data does not read, to be told as not recovered.
        bool placed() const {
            return build == NodeBuild::WHOLE ||
                   (build == NodeBuild::NO_DATA && !node.hasFlag(Node::DELETED));
        }
    };

    // Lists the loaded folder's index into folder; remembers where each record
    // was listed, so that its own record finds its entry at once, and which
    // folder lists each folder, so that one whose own record is lost takes
    // the name listed there.
    bool listLoadedFolder(u64 address, Folder& folder);
    // Hangs a folder whose own record is lost, put under "Found" before any
    // listing named it, under the folder listed at address that names it in
    // `entry`.
    void claimLostFolder(u64 address, const Folder& listing, Node& entry);
    // Takes the entries of the claimed folders out of "Found".
    void dropClaimedFromFound();
    // Loads a record not tried before into the parser; false when it does not
    // load, or is a copy that waits until the record it copies had its turn.
    bool loadRecord(u64 address);
    // Loads a record as an entry; one that does not load places nothing. A
    // file in use whose data does not read is placed too.
    RecordEntry loadEntry(u64 address);
    // Notes where the names of the record loaded last place its node.
    void noteNode(u64 address, const RecordEntry& entry);
    // The position of the record's first entry in the listing of the folder,
    // when it has one there.
    std::optional<u32> listedAt(u64 folder, u64 record) const;
    // Whether the record loaded last is the node's: it carries the node's
    // number, or is a copy placed as a node of its own, or, carrying none,
    // the name a listing gives the node.
    bool recordIsNode(const Node& node);
    // Loads the node's file and prepares its unnamed data; an empty value for
    // a file that has none.
    bool loadNodeData(const Node& node, NtfsAttributeData& data);
    // Places a node that its own record describes under its parent folder,
    // starting the search for its listed entry where that was listed; a
    // deleted one whose reference names an earlier use of the parent's record
    // goes to "Found".
    void placeFoundFile(const ParentRef& parent, const Node& node);
    // Whether a deleted record's reference names the folder as it is now: its
    // sequence, or the one before it when the folder was deleted too. A
    // folder whose record is unknown holds any.
    bool referenceHolds(const ParentRef& parent) const;
    // Loads a record that no walk reached and hangs it into the tree.
    void placeFoundRecord(u64 record);
    // Puts the record loaded last, a file in use whose data reads but that
    // lost every name, in "Found" under its number.
    void placeNameless(u64 record);
    // The folder a folder's record hangs in: the one whose listing in use
    // names it, else the one its own parent reference gives.
    u64 parentOfFolder(u64 address, u64 reference) const;
    // Why the prepared data of a node's record is not the file's, if it is
    // not: its runs lost their end, or land in clusters another holds.
    bool dataMisplaced(const Node& node, const NtfsAttributeData& data);
    // Places the names of hard links that the records loaded so far still owe.
    void placePendingLinks();
    // A folder's listing failed while its own record was read.
    void noteFailedListing(u64 address, Node& node);
    // Marks each such folder "(incomplete)" or clears its mark: once every
    // record was tried, each entry its index lost came back from its own
    // record, unless some record that held something could not be read, or
    // one in use that names it could not be built whole.
    void settleFailedListings();
    void setIncomplete(u64 folder, bool on);

    NTFSDrive drive_;
    NtfsFileParser parser_;
    ntfs::RecovererDataReader dataReader_;
    Bitmap records_;
    // Records that made a node.
    Bitmap built_;
    // Records whose own names place them in the root.
    Bitmap inRoot_;
    // Folder records -> the folder whose listing named each first.
    std::unordered_map<u64, u64> listers_;
    // The same, of the listings of folders in use alone: where each folder
    // stands, whatever its own parent reference says.
    std::unordered_map<u64, u64> namedBy_;
    // The clusters the data of the files in use and the MFT store.
    ClusterOwners owners_;
    // The data of $MFTMirr, where its record reads.
    Runlist mirrorRuns_;
    // File records that some folder's listing names.
    Bitmap listedFiles_;
    // Records in use that lost their names, put in "Found" by number.
    std::unordered_set<u64> nameless_;
    // Folders whose own record is lost, put under "Found" for want of a
    // listing that named them.
    std::unordered_set<u64> lostInFound_;
    // Of those, the ones a listing has claimed since, while their entries
    // still stand in "Found": the records' pass takes them out at its end.
    std::unordered_set<u64> claimed_;
    // Folders that a record in use names, built without its data or not at all.
    std::unordered_set<u64> unbuiltIn_;
    // Records that are copies of another: their number, the copied one's.
    std::vector<std::pair<u64, u64>> copies_;
    bool takingCopies_ = false;
    // Those placed as nodes of their own, for want of the records they copy.
    std::unordered_set<u64> takenCopies_;
    // Folder address -> record -> position of its first index entry there.
    std::unordered_map<u64, std::unordered_map<u64, u32>> listed_;
    struct FolderRecord {
        u16 sequence;
        bool deleted;
    };
    // The folder records read, by number.
    std::unordered_map<u64, FolderRecord> folderRecords_;
    // Further names of hard links: where each goes and the node it puts there.
    std::vector<std::pair<ParentRef, Node>> pendingLinks_;
    std::vector<u64> failedListings_;
    // A record that held something could not be read: what an index lost may
    // have been in it. So may a record of zeros below one that was written.
    bool recordsLost_ = false;
    u64 firstBlank_ = ~u64{0};
    u64 lastWritten_ = 0;
    bool foundAnalyzed_ = false;
};

} // namespace tree
