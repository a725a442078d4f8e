#pragma once

// The record of one folder of a rebuilt tree: where it hangs and what it holds.

#include "core/Types.h"
#include "tree/Node.h"

#include <ostream>
#include <vector>

namespace tree {

// How far the map has brought a folder; a folder only moves up, except that a
// node appended to a sorted folder takes it back to STATUSES_CHECKED.
enum FolderState : u32 {
    ATTACHED = 0,
    LINKS_CHECKED = 1,
    STATUSES_CHECKED = 2,
    ELEMS_SORTED = 3,
};

class Folder {
public:
    Folder(FolderState state, u64 parent) : state_(state), parent_(parent) {}
    // A copy belongs to no map (see watchParent); assigning one to a folder of a
    // map keeps that folder's watch and starts a new generation.
    Folder(const Folder& other);
    Folder& operator=(const Folder& other);

    FolderState getState() const { return state_; }
    void setState(FolderState state) { state_ = state; }
    u64 getParent() const { return parent_; }
    void setParent(u64 parent);
    // While watched, every change of its parent is counted in *changes, so that
    // what the map holding it knows of its ancestry stays true; nullptr ends it.
    void watchParent(u64* changes) { parentChanges_ = changes; }

    u32 size() const { return static_cast<u32>(nodes_.size()); }
    bool empty() const { return nodes_.empty(); }
    void clear() {
        nodes_.clear();
        ++generation_;
    }
    // Appending keeps the positions of the entries before it.
    void addNode(const Node& node) { nodes_.push_back(node); }

    // Throws "Node(209)" (writable) or "Node(203)" (read-only) beyond the end.
    Node& node(u32 i);
    const Node& node(u32 i) const;

    // Whoever takes the list to change it may move entries: that starts a new
    // generation (see getGeneration).
    std::vector<Node>& getNodes() {
        ++generation_;
        return nodes_;
    }
    const std::vector<Node>& getNodes() const { return nodes_; }

    // Sorts the entries and makes their names unique within the folder, as a
    // destination that ignores case compares them once cleaned.
    void sortAndFixNames();

    // Changes whenever entries may have moved (sorting, clearing, or the list
    // handed out for changing); appending does not change it. Lets the map keep
    // an index of positions for as long as it holds.
    u64 getGeneration() const { return generation_; }

private:
    FolderState state_;
    u64 parent_;
    std::vector<Node> nodes_;
    u64 generation_ = 0;
    u64* parentChanges_ = nullptr;
};

// "ATTACHED", "LINKS_CHECKED", "STATUSES_CHECKED" or "ELEMS_SORTED", translated.
void printFolderState(std::ostream& out, FolderState state);

} // namespace tree
