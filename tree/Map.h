#pragma once

// The rebuilt tree of one file system as the rest of the program sees it:
// folders by address, texts about a node and about the source, and a node's
// data read or streamed into a recoverer.

#include "core/Progress.h"
#include "core/Types.h"
#include "tree/Folder.h"
#include "tree/MapPosition.h"
#include "tree/Node.h"

#include <ostream>
#include <string>
#include <vector>

namespace tree {

class Recoverer;

// What getKind answers; 2 is not used.
enum MapKind : int { MAP_FAT = 0, MAP_NTFS = 1, MAP_CBR = 3 };

class Map : public UsesInterfaceCallback {
public:
    // Maps pass the sink on to the drive they read through.
    void setInterfaceCallback(InterfaceCallback* callback) override = 0;
    ~Map() override = default;

    // The folder at address, brought to ELEMS_SORTED (loaded when needed).
    virtual Folder* getFolder(u64 address) = 0;
    // The index in the folder `parent` (as it stands) of the first enterable
    // entry (a folder, not TO) for the folder at address, visible when
    // visibleOnly; -1 when there is none.
    virtual i64 findFolderEntry(u64 parent, u64 address, bool visibleOnly) = 0;
    // Reconciles the links of the root and of every folder queued so far, and
    // takes away a "Found" folder that all it held has left.
    virtual void finishTree() = 0;
    // Adds the entries that no path of the tree reaches.
    virtual void analyzeFoundFiles() = 0;
    virtual void printNodeInformation(std::ostream& out, const MapPosition& position) = 0;
    // Streams the node's data into the recoverer as one file; false when some of
    // it could not be read and was replaced by the "(unreadable)" pattern.
    virtual bool recoverNode(Recoverer& recoverer, const std::vector<std::string>& path,
                             Node& node) = 0;
    // Up to size bytes of the node's data from offset: the count, negative on failure.
    virtual int readNodeData(Node& node, u8* buffer, u32 size, u64 offset) = 0;
    // The first sector of the node's data; Node::NONE when none.
    virtual u64 getNodeLBA(u64 address) = 0;
    // Whether the node's address is a place on the source (a cluster, an MFT
    // record, a sector) rather than a key of a folder the program made.
    virtual bool hasSourceAddress(const Node& node) { return !isReserved(node.getAddress()); }
    // The same for the address of a folder, as a folder names its parent.
    virtual bool isSourceFolder(u64 address) { return !isReserved(address); }
    virtual int getKind() = 0;
    virtual void printDriveInformation(std::ostream& out) = 0;
    virtual void ostreamPartitionInfo(std::ostream& out) = 0;
};

} // namespace tree
