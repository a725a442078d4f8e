#pragma once

// The rebuilt tree of one FAT file system. The root directory is read at
// construction; further folders are read when the tree asks for them; the
// directories that the scan found but that no path reaches are attached by the
// found-files pass; every file gets the state of its cluster chain; and a file's
// data is streamed to a recoverer in runs of contiguous clusters.
//
// Addresses: a folder's is the cluster where its directory starts (the root of
// FAT12/16, which lies outside the clusters, has 1); a node's is its first
// cluster, its index its entry's position in its directory.

#include "core/Ownership.h"
#include "fs/Bitmap.h"
#include "fs/Params.h"
#include "fs/ScanResults.h"
#include "fs/fat/ChainWalker.h"
#include "fs/fat/FATDrive.h"
#include "tree/MapImpl.h"

#include <functional>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tree {

// Clusters of the data area that the scan found directory data in: the first
// as an index from cluster 2 (cluster - 2), and how many.
struct ClusterRun {
    u32 first = 0;
    u32 count = 0;
};

class FATMapImpl : public MapImpl {
public:
    // The address of the root folder of FAT12/16.
    static constexpr u64 FIXED_ROOT_ADDRESS = 1;
    // The most data handed to the recoverer at once: a run of contiguous clusters
    // is read whole up to this size.
    static constexpr u64 RUN_BYTES = 1 << 20;

    // Copies the parameters, the mirror marks and the directory runs; keeps the
    // pointer to the unreadable sectors, which must outlive the map. Throws
    // "FatsReader(24)" for sectors that are not 512 bytes or a sectors-per-FAT
    // value without a FAT width.
    FATMapImpl(const SharedPtr<Driver>& driver, const FAT_FS_PARAMS& params,
               const Bitmap& mirrorSectors, const UnreadableSectors* unreadable,
               const FoundList<FoundDirectoryRun>& directoryRuns);
    ~FATMapImpl() override;

    // tree::Map
    void analyzeFoundFiles() override;
    bool recoverNode(Recoverer& recoverer, const std::vector<std::string>& path,
                     Node& node) override;
    int readNodeData(Node& node, u8* buffer, u32 size, u64 offset) override;
    u64 getNodeLBA(u64 address) override;
    int getKind() override { return MAP_FAT; }
    void ostreamPartitionInfo(std::ostream& out) override;

    // tree::MapImpl
    Drive* getDrive() override { return &drive_; }
    Folder* loadFolder(u64 address, Node& out) override;
    bool loadFoundEntry(u64 address, Node& out) override;
    void checkStatuses(Folder& folder) override;
    bool isEquivalent(const Node& listed, const Node& added) override;
    bool isPreferred(const Node& candidate, const Node& best) override;
    void mergeRecord(Node& listed, const Node& record) override;
    bool listingHoldsOrphans() const override { return true; }
    // A live entry's first cluster is where its folder starts; a ".." is one
    // field of that folder, which a hit turns to the root, a sibling or the
    // folder itself. It decides for a folder that no live entry names, and
    // where the folder it names lists the folder live as well.
    bool listingClaims(u64 listing, const Node& listed, const Folder& folder) override;
    void ostreamInfo(std::ostream& out, const MapPosition& position, Folder& folder,
                     Node& node) override;

    FATDrive& getFatDrive() { return drive_; }
    // The clusters the found-files pass looks at, from the scan's directory runs.
    std::vector<ClusterRun> clusterRuns() const;

private:
    // Reads the directory at `cluster` into folder and describes it in node.
    void readFolderNode(u64 cluster, Folder& folder, Node& node, bool requireDots);
    void loadFoundDirectory(u32 cluster);
    // Whether a found directory cluster continues a live folder: the FAT gives
    // it to a chain, and no "." starts it.
    bool continuesLiveFolder(u32 cluster);
    // Calls visit(cluster) for each cluster of the scan's directory runs that
    // the tree has not read and that no live file's chain holds.
    void forEachFoundCluster(std::unique_ptr<Bitmap>& fileClusters,
                             const std::function<void(u32)>& visit);
    // Whether the folder at `parent`, read for the question where the tree has
    // not, lists a live entry of the folder at `cluster`; each folder's answers
    // are gathered once.
    bool listsLive(u64 parent, u64 cluster);
    // The folder that the live subfolders listed in `folder` all name by their
    // "..", NO_FOLDER when none does or they differ.
    u64 namedParent(const Folder& folder);
    // Reads the directory continued at `cluster` into the folder its subfolders
    // name, where that folder's chain ended on a full cluster: false, and
    // nothing read, when nothing ties it so without doubt.
    bool placeInOwner(u32 cluster);
    // The first clusters of the folder's live entries, for the joins of chains,
    // and of its deleted folders. Only folders the tree reaches count: entries
    // the scan alone found may be a disk image's, kept in a file, that name
    // this volume's clusters by chance.
    void noteStarts(const Folder& folder);
    // Fills `sectors` sectors of the run at `first` into buffer, sector by sector
    // where the run does not read whole; the sectors that fail become the
    // "(unreadable)" pattern. False when any did.
    bool readRun(u32 first, u32 clusters, u64 sectors, u8* buffer);

    FATDrive drive_;
    u64 sectorSize_;
    u64 sectorsPerCluster_;
    u64 clusterBytes_;
    std::vector<u8> clusterBuffer_;
    std::vector<FoundDirectoryRun> foundDirectoryRuns_;
    ChainWalker walker_;
    // The first clusters that deleted folders' entries name.
    Bitmap deletedFolderStarts_;
    // The live subfolders each folder that listsLive asked about lists.
    std::unordered_map<u64, std::unordered_set<u64>> liveSubfolders_;
};

} // namespace tree
