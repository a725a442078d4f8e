#pragma once

// The tree of carved files ("Found Files"). Its folders come from no disk: the
// layout file "cbr.directories" lays down a folder per kind of file ("Type")
// with sub-folders ("Subtype") and says which carved types go where; every
// carved file becomes one file node, and files of an unlisted type go to the
// folder "Other". A carved file's bytes are its sectors read straight from the
// source.
//
// Addresses: the root is ROOT_ADDRESS; the sub-folder of layout record i is i;
// "Other" is the number of records; the type folders count up from just above
// the low half of the root's address. A file node's address is its first
// sector. The sub-folders and "Other" are born sorted, so their files stay in
// the order of discovery under the names they were given.

#include "cbr/FileInfo.h"
#include "core/Ownership.h"
#include "devices/Drive.h"
#include "tree/MapImpl.h"

#include <string>
#include <vector>

namespace tree {
namespace cbr {

class MapImpl : public tree::MapImpl {
public:
    static constexpr u64 ROOT_ADDRESS = TOP_FOLDER - 1000;
    static constexpr u64 SECTOR_BYTES = 512;
    // What recoverNode reads at once.
    static constexpr u64 CHUNK_SECTORS = 128;

    // Builds the whole tree from the layout in the program's library folder.
    // Neither the unreadable sectors nor the list is owned; both must outlive the
    // map. Throws "CbrMapImpl(57)" when the layout cannot be read.
    MapImpl(const SharedPtr<Driver>& driver, const UnreadableSectors* unreadable,
            const std::vector<::cbr::FileInfo>* files);
    // The same with the layout file named.
    MapImpl(const SharedPtr<Driver>& driver, const UnreadableSectors* unreadable,
            const std::vector<::cbr::FileInfo>* files, const std::string& directoriesPath);
    ~MapImpl() override;

    // tree::Map
    void analyzeFoundFiles() override {}
    bool recoverNode(Recoverer& recoverer, const std::vector<std::string>& path,
                     Node& node) override;
    int readNodeData(Node& node, u8* buffer, u32 size, u64 offset) override;
    // A file's address is its first sector; the folders' are the map's own.
    u64 getNodeLBA(u64 address) override;
    bool hasSourceAddress(const Node& node) override { return !node.isDirectory(); }
    bool isSourceFolder(u64 address) override {
        (void)address;
        return false;
    }
    int getKind() override { return MAP_CBR; }
    void ostreamPartitionInfo(std::ostream& out) override;

    // tree::MapImpl
    Drive* getDrive() override { return &drive_; }
    Folder* loadFolder(u64 address, Node& out) override;
    bool loadFoundEntry(u64 address, Node& out) override;
    void checkStatuses(Folder& folder) override;
    bool isEquivalent(const Node& listed, const Node& added) override;
    void ostreamInfo(std::ostream& out, const MapPosition& position, Folder& folder,
                     Node& node) override;

    // The file's name in the tree: its stored name without surrounding blanks
    // and tabs, else its first sector; then "." and its type.
    static std::string fileName(const ::cbr::FileInfo& file);

private:
    void build(const std::string& directoriesPath);
    // Reads count sectors from lba into buffer; where that fails, sector by
    // sector, the failing ones becoming the "(unreadable)" pattern. False when
    // any failed.
    bool readChunk(u64 lba, u64 count, u8* buffer);

    Drive drive_;
    const std::vector<::cbr::FileInfo>* files_;
};

} // namespace cbr
} // namespace tree
