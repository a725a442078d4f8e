#pragma once

// The drive of one FAT12, FAT16 or FAT32 volume: clusters to sectors, cluster
// reads, the check that a file's chain fits its size, directories read into
// folders of nodes (following their chain, or their clusters in order when the
// directory was deleted), and the text that describes one directory entry.
//
// Nothing here trusts the disk: a chain stops at the first cluster outside the
// volume and never loops, a directory is read at most once per cluster and at
// most MAX_DIRECTORY_ENTRIES long, and every read lies inside the volume.

#include "core/Ownership.h"
#include "core/Types.h"
#include "devices/Drive.h"
#include "fs/Bitmap.h"
#include "fs/Params.h"
#include "fs/fat/ChainJoins.h"
#include "fs/fat/DirEntryCursor.h"
#include "fs/fat/FatsReader.h"
#include "tree/Folder.h"
#include "tree/Node.h"

#include <ostream>
#include <string>
#include <unordered_map>

class FATDrive : public Drive {
public:
    // FAT numbers a directory's entries in 16 bits: a directory longer than
    // this, in clusters of whatever size, is damage, not data. The fixed root's
    // entry count is a 16-bit field too.
    static constexpr u64 MAX_DIRECTORY_ENTRIES = 65536;
    static constexpr u64 MAX_ROOT_SECTORS = MAX_DIRECTORY_ENTRIES * 32 / 512;

    // Throws what FatsReader throws ("FatsReader(24)"), and "FATDrive(20)"
    // for parameters that describe no usable volume (the caller forms and checks
    // them first).
    FATDrive(const SharedPtr<Driver>& driver, const FAT_FS_PARAMS& params,
             const Bitmap& mirrorSectors, const UnreadableSectors* unreadable);
    ~FATDrive() override;

    FatsReader& getFatsReader() { return fats_; }
    const FatsReader& getFatsReader() const { return fats_; }
    const FAT_FS_PARAMS& getParams() const { return params_; }
    Bitmap& getVisitedClusters() { return visitedClusters_; }
    // Where chains run into other files' clusters; the map notes the first
    // clusters of the live entries it reads.
    ChainJoins& getChainJoins() { return joins_; }
    u64 getClusterBytes() const { return clusterBytes_; }
    u64 getEntriesPerCluster() const { return entriesPerCluster_; }
    // The most clusters a directory can take: MAX_DIRECTORY_ENTRIES' worth.
    u64 getMaxDirectoryClusters() const { return maxDirectoryClusters_; }
    // The first cluster an entry names: its high word only on FAT32, where
    // FAT12/16 leave that word to the system (OS/2 keeps a handle there).
    u32 entryCluster(const u8* entry) const;
    // The bytes of the clusters the FAT numbers (FatsReader::isTableCluster).
    u64 getTableBytes() const { return tableBytes_; }

    // The first sector of the cluster; all ones (and a log line) for a cluster
    // that is not valid.
    u64 getClusterLBA(u32 cluster);
    // Reads `sectors` sectors (0: one cluster) from the cluster's first sector.
    // They must lie in the volume's clusters. False for an invalid cluster or a
    // failed read. Polls first: a cancel throws InterruptedException.
    bool readClusters(u32 cluster, u8* buffer, u64 sectors);
    // Whether `sectors` sectors of a file from `first` lie where the FAT says
    // (contiguous: a deleted file, whose clusters must be free from the first
    // on), its chain running into no other file's clusters (ChainJoins: every
    // directory must have been read first). hasUnreadable is set when a walked
    // cluster lies on a sector the scan found unreadable; the caller clears it
    // first.
    bool checkChain(u32 first, u64 sectors, bool contiguous, bool& hasUnreadable);
    // Whether a live entry's first cluster starts a chain, while directories are
    // still being read: a directory's first cluster is taken, a file's chain
    // fits its size.
    bool holdsChain(u32 first, u32 size, bool directory);
    // Sets the clusters of every live file (ChainJoins::noteFile) whose chain
    // holds its size exactly and runs into no other file's.
    void markFileClusters(Bitmap& clusters);
    // What one parsed directory cluster (or the FAT12/16 root block) held
    // besides the entries that became nodes.
    struct ParsedEntries {
        u64 free = 0;          // entries whose first byte is 0: the end mark
        u64 invalid = 0;       // entries that are no entry of a file or folder
        u64 entries = 0;       // entries of files, folders, long names and labels
        bool afterEnd = false; // an entry that is not free behind a free one
        // "." or ".." asked for and free, in a cluster that nothing else makes
        // the folder's; or zeroed in one that is, and no entry in it at all.
        bool dotsLost = false;
        bool clean() const { return free == 0 && invalid == 0; }
    };

    enum class NamedBy { NOTHING, LIVE_FOLDER, DELETED_FOLDER };

    // How a directory is read.
    struct DirectoryRead {
        // Its first cluster must start with "." and "..", or must not.
        bool requireDots = false;
        bool rejectDots = false;
        // Its clusters are noted as read, and a cluster noted already ends it.
        bool markVisited = false;
        // It is the root, which is never deleted.
        bool live = false;
        // The entry that names its first cluster, where its "." and ".." are
        // hurt. A live folder's makes the cluster the folder's whatever they
        // hold. A deleted folder's, where no chain holds the cluster, makes it
        // the folder's only when what stands in their places is no other entry
        // (bytes that are no entry, or a dot entry whose first byte was hit)
        // and every other entry of the cluster reads.
        NamedBy namedBy = NamedBy::NOTHING;
        // The cluster read before its first, whose last entries may begin the
        // first entry's long name: a folder's last cluster, where the chain was
        // cut that went on into this one.
        u32 previous = 0;
    };

    // Appends the entries of the directory starting at `first` to the folder and
    // sets its parent from "..". A directory whose chain the FAT gives is
    // followed to its end, past clusters of zeros, clusters that cannot be read
    // and entries that are no entries, up to a cluster that holds more of what is
    // no entry than of entries; one whose first cluster is free was deleted and
    // is read in the clusters that follow, unless it is live or its FAT entry is
    // one no copy of the FAT gives: then its chain is lost and only its first
    // cluster is read. False when the directory could not be read whole (what
    // was read stays in the folder): a chain that breaks or is lost, a sector
    // that fails to read (the entries of the cluster's other sectors stand, and
    // the chain goes on past it), entries that are not
    // entries, entries behind the end mark (a cluster of zeros where entries
    // were), more entries than a directory can have.
    bool readDirectory(u64 first, tree::Folder& folder, bool& readAsDeleted,
                       const DirectoryRead& how);
    // Where a live directory ended its chain on a full cluster, as a cut chain
    // ends too: the index its next entry would have, and that last cluster.
    struct FullEnd {
        u64 nextIndex = 0;
        u32 lastCluster = 0;
    };
    // Whether the live directory at `first`, read with its visits marked, ended
    // its chain on a full cluster; if so, where, and the question is answered
    // no from then on.
    bool takeFullEnd(u64 first, FullEnd& end);
    // The root directory's entries into the folder. False when some of it could
    // not be read or was lost as in readDirectory (what was read stays in the
    // folder).
    bool loadRootDirectory(tree::Folder& folder);
    // The entries of one directory cluster (or of the FAT12/16 root block) become
    // nodes with indexes from firstIndex, deleted ones all when `markDeleted`
    // but for live files that still hold their chains. False where "." or ".."
    // is rejected, or is asked for and neither stands in a cluster that no
    // folder's entry holds (DirectoryRead::namedBy; one that stands, or the
    // entry, keeps the cluster the folder's: what lies in their places is
    // passed over).
    bool parseDirectory(DirEntryCursor& cursor, u64 firstIndex, const DirectoryRead& how,
                        bool markDeleted, bool& hasDotDot, u32& dotDotCluster, tree::Folder& folder,
                        ParsedEntries& parsed);
    // The node's directory entry and the FAT entries of its first cluster and of
    // the folder's.
    void printEntryInfo(std::ostream& os, u64 folderAddress, const tree::Node& node);

private:
    // The long name that precedes the short entry the cursor is on; false when
    // there is none that fits.
    bool readLongName(DirEntryCursor& cursor, const u8* shortEntry, bool deleted,
                      std::string& name);
    void printClusterLine(std::ostream& os, const char* label, u64 cluster);
    // checkChain, that asks about joins only when `joins`.
    bool followChain(u32 first, u64 sectors, bool contiguous, bool joins, bool& hasUnreadable);
    // The cluster of a directory starting at `first` that holds its j-th cluster
    // of entries; 0 when the chain cannot be traced.
    u32 directoryCluster(u64 first, u64 j);
    // Reads a block of directory sectors, each one that fails as free entries;
    // how many of them were read.
    u64 readEachSector(u64 lba, u64 sectors, u8* buffer);
    // One directory cluster, as readEachSector; 0 for one that readClusters
    // refuses.
    u64 readDirectoryCluster(u32 cluster, u8* buffer);

    FatsReader fats_;
    ChainJoins joins_;
    FAT_FS_PARAMS params_;
    u64 clusterBytes_;
    u64 entriesPerCluster_;
    u64 tableBytes_;
    u64 maxDirectoryClusters_;
    ScopedArray<u8> clusterPair_;
    Bitmap visitedClusters_;
    // The directories whose chains ended on a full cluster, by first cluster.
    std::unordered_map<u64, FullEnd> fullEnds_;
};

// The parameters with the cluster size that places the subfolders of a fixed
// root (FAT12/16), each of whose "." entry starts its first cluster: the size
// the boot sector states, unless it places none of them and another size
// places some. A boot sector of FAT12/16 has no copy that would tell a
// damaged cluster size otherwise.
FAT_FS_PARAMS withPlacedFolders(Driver& driver, const FAT_FS_PARAMS& params);

// The text block of one 32-byte directory entry: name, size, cluster,
// attributes, the three dates and the two times.
void printDirEntry(std::ostream& os, const u8* entry);
