#pragma once

// The common body of the FAT, NTFS and carved-file trees. It keeps one folder
// record per address, asks the engine for folders only when someone needs them,
// reconciles what a folder's listing says with what each entry's own record says
// (links TO, FROM, GOOD), hangs what fits nowhere into a "Found" folder, and
// sorts a folder only when it is first shown.

#include "devices/Drive.h"
#include "tree/Map.h"

#include <list>
#include <map>
#include <unordered_map>

namespace tree {

class MapImpl : public Map {
public:
    // The engine then registers its root folder at rootAddress with parent
    // TOP_FOLDER, so that the root's entry is the "ROOT" node of the top folder.
    MapImpl(u64 rootAddress, bool searchAllEquivalents, bool sortNames);
    ~MapImpl() override;
    MapImpl(const MapImpl&) = delete;
    MapImpl& operator=(const MapImpl&) = delete;

    // tree::Map
    void setInterfaceCallback(InterfaceCallback* callback) override;
    Folder* getFolder(u64 address) override;
    i64 findFolderEntry(u64 parent, u64 address, bool visibleOnly) override;
    void finishTree() override;
    void printNodeInformation(std::ostream& out, const MapPosition& position) override;
    void printDriveInformation(std::ostream& out) override;

    // What an engine provides.
    virtual Drive* getDrive() = 0;
    // Reads the folder at address into a new folder (ATTACHED, parent as the folder
    // names it) registered with queueFolder, describes the folder in out
    // (DIRECTORY set) and returns the registered record; never null.
    virtual Folder* loadFolder(u64 address, Node& out) = 0;
    // Reads a file's own record: out gets the entry (link FROM) with the address of
    // the parent its record names. False when there is no such record.
    virtual bool loadFoundEntry(u64 address, Node& out) = 0;
    // Sets chain statuses and HAS_UNREADABLE, then the state STATUSES_CHECKED.
    virtual void checkStatuses(Folder& folder) = 0;
    // Whether a listed TO entry and a node from its own record (same address) are
    // the same entry.
    virtual bool isEquivalent(const Node& listed, const Node& added) = 0;
    // Whether candidate is a better match than the best so far.
    virtual bool isPreferred(const Node& candidate, const Node& best);
    // Merges a node from an entry's own record into its listed entry: the link
    // becomes GOOD, DELETED and the size are the record's, HAS_UNREADABLE is
    // added.
    virtual void mergeRecord(Node& listed, const Node& record);
    // Whether a folder loaded for a listed entry, that names no parent itself
    // (what would have named it was lost), belongs to the folder listing it;
    // else it is placed as a folder found by address.
    virtual bool listingHoldsOrphans() const { return false; }
    // Whether the entry listed at `listing` makes the folder it names, just
    // loaded, a child of that listing, whatever parent the folder's own record
    // names: a record whose parent field was hit must not carry a whole
    // subtree elsewhere.
    virtual bool listingClaims(u64 listing, const Node& listed, const Folder& folder) {
        (void)listing;
        (void)listed;
        (void)folder;
        return false;
    }
    // Whether an entry that no listing of the root claims belongs in the root
    // all the same, its own record naming the root beyond doubt; else it goes
    // to "Found".
    virtual bool belongsInRoot(const Node& node) {
        (void)node;
        return false;
    }
    virtual void ostreamInfo(std::ostream& out, const MapPosition& position, Folder& folder,
                             Node& node) = 0;

    u64 getRootAddress() const { return rootAddress_; }
    Folder* findFolder(u64 address);
    const Folder* findFolder(u64 address) const;
    u64 folderCount() const { return folders_.size(); }

    // Stores a copy; an address already present is a broken invariant and throws
    // "MapImpl(45)". Engines that attach what the disk names use tryAttachFolder.
    Folder* attachFolder(u64 address, const Folder& folder);
    // Appends the address to the pending folders, then attachFolder.
    Folder* queueFolder(u64 address, const Folder& folder);
    // As above, but an address already present (two on-disk structures naming the
    // same folder) is logged and answered with null; the table is unchanged.
    Folder* tryAttachFolder(u64 address, const Folder& folder);
    Folder* tryQueueFolder(u64 address, const Folder& folder);

    // Places a node under a folder; NO_FOLDER and TOP_FOLDER mean the root.
    void insertNode(u64 address, const Node& node);
    // Merges the node into an equivalent listed entry, or appends it (to "Found"
    // when it would land in the root unclaimed).
    void addNode(u64 address, Folder* folder, const Node& node, u32 start);
    // As addNode, for an entry of the folder's own listing read apart from the
    // rest of it: what no entry there takes stands in the folder, the root too.
    void addListedNode(u64 address, Folder* folder, const Node& node);
    // Hangs a folder that was loaded by address into the tree, loading missing
    // ancestors; a chain that loops or ends nowhere goes under the root.
    void addFoundNode(Folder* folder, const Node& node);
    // Sets or clears the flags of mask on each entry of the folder at parent
    // that names the folder at address.
    void flagFolderEntries(u64 parent, u64 address, u32 mask, bool on);
    Folder* bringFolder(u64 address, FolderState target);
    void checkLinks(u64 address, Folder& folder);
    // Shows the folder's path as the progress text (in deep trees, of every so
    // many folders) and polls.
    void reportFolderPath(u64 address);
    // Logs what breaks the tree's rules; false when something does.
    bool checkIntegrity();

    // The "\"-joined names from below the root down to the folder, as far as the
    // parent chain can be followed; a chain that loops is followed once round.
    std::string folderPath(u64 address);

protected:
    // Whether candidate is the folder at address or one of its ancestors; a
    // chain that loops holds what its loop holds.
    bool isSelfOrAncestor(u64 candidate, u64 address);

private:
    // folderPath, adding the levels it went up to steps.
    std::string folderPath(u64 address, u64& steps);
    void appendToFolder(u64 address, Folder& folder, const Node& node);
    // Stores a copy; a chain of ancestry that ended at this address, not loaded
    // then, is climbed again (isSelfOrAncestor watches the parents). An address
    // known already throws when required, else is logged and answered with null.
    Folder* store(u64 address, const Folder& folder, bool required);
    // Drops the chain's addresses from `keep` on, and their folders' watch.
    void forgetChainFrom(std::size_t keep);
    Folder& foundFolder();
    // Merges the node into an equivalent listed entry of the folder (searched
    // from start first), or refuses it there as a folder that would hold
    // itself; false when the folder lists no such entry.
    bool mergeIntoListed(u64 address, Folder* folder, const Node& n, u32 start);
    // Takes away a "Found" folder left empty, and its entry.
    void dropEmptyFound();
    // The index of the equivalent TO entry of node in [from, to), given the best
    // so far (-1 none); returns the new best.
    i64 findEquivalentNode(Folder& folder, const Node& node, u32 from, u32 to, i64 best);

    // Positions of the entries of a large folder by address, so that merging found
    // entries into a folder of many thousands, or finding a subfolder's entry in
    // it, does not search it whole each time.
    // It holds while the folder's generation does; appended entries are indexed
    // when next asked for.
    struct AddressIndex {
        u64 generation = 0;
        u32 indexed = 0;
        std::unordered_map<u64, std::vector<u32>> positions;
    };
    const std::vector<u32>* positionsOf(Folder& folder, u64 address);
    // Calls visit(i) for the positions i in [from, to) of the folder's entries
    // that name address, ascending, until it returns true. Nothing is copied:
    // visit must not change the folder.
    template <typename Visit>
    void visitEntriesNaming(Folder& folder, u64 address, u32 from, u32 to, Visit visit);

    u64 rootAddress_;
    std::map<u64, Folder> folders_;
    std::unordered_map<const Folder*, AddressIndex> addressIndex_;
    std::list<u64> pending_;
    bool sortNames_;
    bool searchAllEquivalents_;
    u64 lastReported_ = NO_FOLDER;
    u64 reportCredit_ = 0;
    u64 lastReportCost_ = 0;

    // The parent chain of the folder whose ancestry was asked last, from its top
    // (a folder without parent, or an address not loaded) down to that folder,
    // with each address's place in it. Asking about a folder near it walks only
    // up to where the chains meet, so that a walk down a deep tree does not climb
    // to the root at every folder. It holds while no parent in it changes: each
    // folder the chain holds counts its parent's changes into parentChanges_.
    std::vector<u64> chain_;
    std::unordered_map<u64, std::size_t> chainAt_;
    u64 parentChanges_ = 0;
    u64 chainChanges_ = 0;
};

} // namespace tree
