#pragma once

// One file or folder of a rebuilt tree. Every engine (FAT, NTFS, carved files)
// describes its entries with these, so the cursors, walkers and the recoverer
// never need to know which engine stands behind a tree.

#include "core/Types.h"

#include <ostream>
#include <string>

namespace tree {

// How an entry is known: only from its folder's listing, only from its own
// record naming its parent, or from both in agreement.
enum NodeLink : u32 { TO = 0, FROM = 1, GOOD = 2 };

// Whether the FAT chain of a FAT file is usable; always GOOD_IN_FAT elsewhere.
enum FatChainStatus : u32 { GOOD_IN_FAT = 0, BAD_IN_FAT = 1 };

class Node {
public:
    // Bits of the flag word. Bits 8-9 hold the link, bits 10-11 the chain status.
    enum Flag : u16 {
        DIRECTORY = 0x0001,
        DELETED = 0x0002,
        VISIBLE = 0x0004,
        SELECTED = 0x0008,
        EXPANDED = 0x0010,
        INVALID_DIRECTORY = 0x0020,
        HAS_UNREADABLE = 0x0040,
        SYSTEM = 0x0080,
    };
    static constexpr u16 LINK_MASK = 0x0300;
    static constexpr u16 STATUS_MASK = 0x0C00;
    static constexpr u64 NONE = ~0ull; // an address, index or size that is not there

    // A placeholder that an engine fills: empty name, everything else "none".
    Node();
    Node(std::string name, u64 address, u64 index, u64 size, u32 time);

    const std::string& getName() const { return name_; }
    std::string& getName() { return name_; }
    void setName(const std::string& name) { name_ = name; }
    u64 getAddress() const { return address_; }
    void setAddress(u64 address) { address_ = address; }
    u64 getIndex() const { return index_; }
    void setIndex(u64 index) { index_ = index; }
    u64 getSize() const { return size_; }
    void setSize(u64 size) { size_ = size; }
    u32 getTime() const { return time_; }
    void setTime(u32 time) { time_ = time; }

    u16 getFlags() const { return flags_; }
    // True when any bit of mask is set.
    bool hasFlag(u32 mask) const { return (flags_ & mask) != 0; }
    void setFlag(u32 mask, bool on) {
        if (on)
            flags_ = static_cast<u16>(flags_ | mask);
        else
            flags_ = static_cast<u16>(flags_ & ~mask);
    }
    bool isDirectory() const { return hasFlag(DIRECTORY); }

    NodeLink getLink() const { return static_cast<NodeLink>((flags_ & LINK_MASK) >> 8); }
    void setLink(NodeLink link) {
        flags_ =
            static_cast<u16>((flags_ & ~LINK_MASK) | ((static_cast<u32>(link) << 8) & LINK_MASK));
    }
    FatChainStatus getStatus() const {
        return static_cast<FatChainStatus>((flags_ & STATUS_MASK) >> 10);
    }
    void setStatus(FatChainStatus status) {
        flags_ = static_cast<u16>((flags_ & ~STATUS_MASK) |
                                  ((static_cast<u32>(status) << 10) & STATUS_MASK));
    }

private:
    std::string name_;
    u64 address_;
    u64 index_;
    u64 size_;
    u32 time_;
    u16 flags_;
};

// The order of a folder's entries: folders first, then the better-known link
// (GOOD, FROM, TO), then the name without regard to ASCII case.
bool NodeLess(const Node& a, const Node& b);

// ASCII case-insensitive three-way comparison of two byte strings.
int compareNamesNoCase(const std::string& a, const std::string& b);

// "TO", "FROM" or "GOOD", translated.
void printLink(std::ostream& out, NodeLink link);
const char* linkName(NodeLink link);
// The names of the set flags among DIRECTORY ... HAS_UNREADABLE, each followed
// by one blank, translated.
void printFlags(std::ostream& out, u32 flags);
// The number, or "none" (translated) for a reserved value (isReserved): a
// mark printed as a number would read as a place on the source.
void printValue(std::ostream& out, u64 value);

} // namespace tree
