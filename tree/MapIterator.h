#pragma once

// A cursor on one entry of one folder of a tree map. Views and walkers read and
// change nodes only through cursors.

#include "core/Types.h"
#include "tree/FilterMask.h"
#include "tree/MapPosition.h"

#include <memory>
#include <string>
#include <vector>

namespace tree {

class Recoverer;

// Status codes of getStatus: how much an entry can be trusted.
enum EntryStatus : int { STATUS_GOOD = 0, STATUS_FOUND = 1, STATUS_POOR = 2 };

class MapIterator {
public:
    virtual const MapPosition& getPosition() const = 0;
    // Copies the position and reloads folder and node.
    virtual void setPosition(const MapPosition& position) = 0;
    virtual bool hasPrevious() = 0;
    virtual bool hasNext() = 0;
    virtual bool canGoUp() = 0;
    virtual bool canGoDown() = 0;
    virtual bool previous() = 0;
    virtual bool next() = 0;
    // To the parent folder's entry of the current folder.
    virtual bool up() = 0;
    // To the first entry inside the current folder entry.
    virtual bool down() = 0;
    virtual const std::string& getName() const = 0;
    virtual u64 getSize() const = 0;
    virtual u32 getTime() const = 0;
    virtual bool isDirectory() const = 0;
    virtual bool isSelected() const = 0;
    virtual void setSelected(bool on) = 0;
    virtual bool isExpanded() const = 0;
    virtual void setExpanded(bool on) = 0;
    virtual bool isDeleted() const = 0;
    virtual bool hasUnreadable() const = 0;
    // A folder whose contents could not be read in full: what it lists is what
    // was read, and more may have been there.
    virtual bool isIncomplete() const = 0;
    // The map's recoverNode on the current node.
    virtual bool recover(Recoverer& recoverer, const std::vector<std::string>& path) = 0;
    virtual int readData(u8* buffer, u32 size, u64 offset) = 0;
    virtual u64 getAddress() const = 0;
    // The map's hasSourceAddress of the current node: false when getAddress
    // is no number to show.
    virtual bool hasSourceAddress() const = 0;
    virtual u64 getLBA() = 0;
    virtual void setVisible(bool on) = 0;
    virtual bool matchesFilter(u32 mask) const = 0;
    // The status code (EntryStatus); the translated text is written to text only
    // when withText is true.
    virtual int getStatus(std::string& text, const bool& withText) const = 0;
    virtual std::unique_ptr<MapIterator> clone() const = 0;
    virtual ~MapIterator() = default;
};

} // namespace tree
