#pragma once

// A small in-memory engine on tree::MapImpl, built from a short text, so that
// the tree, its cursors, walkers and the recovery can be tested (and tried with
// the probe) before and apart from the real file systems. It behaves as an
// engine must: folders are read lazily, listings and records are reconciled by
// the map, found entries come from analyzeFoundFiles, and data that cannot be
// read comes back as the "(unreadable)" pattern with a false result.
//
// DESCRIPTION FORMAT. One statement per line; '#' starts a comment; blank lines
// are ignored. Words are separated by blanks. Numbers are decimal or 0x hex; the
// folder addresses -1, -2 and -3 may be written as such.
//
//   map fat|ntfs|cbr         the kind of map (default ntfs). fat: files have no
//                            own records (all stay TO), searchAllEquivalents on,
//                            the FAT cursor; cbr: folders are born sorted, names
//                            are never fixed, no records.
//   root ADDR                the root folder's address (default 5)
//   option searchall|nosearchall|sort|nosort
//   source KEY=VALUE...      id=TEXT description=TEXT sectors=N: the source's
//                            "ID", "DESCRIPTION" and size in 512-byte sectors
//   unreadable START COUNT   a run of sectors the scan found unreadable
//   dir ADDR ATTRS...        a folder: its own record and, for each in=, an
//                            entry in that folder's listing. The root folder is
//                            implicit; its entries say in=ROOT.
//   file ADDR ATTRS...       a file, likewise
//   entry FOLDER ADDR ATTRS...  one more listing entry in FOLDER naming ADDR,
//                            without a record of its own (for entries that
//                            disagree with the record, or that no record backs)
//
// Attributes (key=value or a bare word, any order):
//   name=NAME        the name; "\xHH" is any byte, "\\" a backslash, "\s" a blank
//                    ('#' must be written \x23); name= alone is the empty name
//   in=FOLDER        listed in FOLDER (repeatable; none: listed nowhere, so only
//                    analyzeFoundFiles finds it: files on ntfs maps, folders on
//                    ntfs and fat maps)
//   parent=FOLDER    the parent its own record names (default: the first in=,
//                    else the root). Two folders naming each other make a cycle.
//   norecord         no own record: a file stays TO; a folder reads as an empty
//                    INVALID_DIRECTORY folder whose parent is the root
//   size=N time=T lba=L          (size defaults to the text length, else 0; time
//                    to none; lba to none)
//   deleted system unreadable    DELETED, SYSTEM, HAS_UNREADABLE (the latter is
//                    also set when lba..lba+sectors meets an unreadable run)
//   badfat           FAT chain status BAD_IN_FAT
//   text=TEXT        the data, repeated to the size (same escapes as names);
//                    default: byte i is (i + ADDR) mod 251
//   bad=OFF+LEN      bytes that fail to read (repeatable); sectors of the file
//                    (from lba) in unreadable runs fail too. Failing bytes read
//                    as "(unreadable)" repeated from the start of their range.
//   prefer           (listing entries) isPreferred ranks this entry first
//   noequiv          (listing entries) never equivalent to the record
//   dir              (entry lines) the entry is a folder
//
// A listing entry and the entry's own record are equivalent (the listing entry
// turns GOOD) unless the listing entry says noequiv or the record is a folder
// that could not be read.
//
// A listing entry's index is its number among all listing entries of the
// description, in order (0, 1, ...); listings keep the order of the lines.
//
// Example:
//   root 5
//   dir 10 in=5 name=docs
//   file 20 in=10 name=a.txt size=1000 bad=100+12
//   file 21 in=10 name=old.txt deleted text=hello
//   file 30 name=lost.bin parent=99     # found: its parent 99 does not exist

#include "devices/Drive.h"
#include "tree/MapImpl.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace testutil {

struct TestByteRange {
    u64 offset;
    u64 length;
};

struct TestRecord {
    u64 address = 0;
    bool directory = false;
    bool hasRecord = true;
    std::string name;
    u64 parent = 0;
    bool parentGiven = false;
    std::vector<u64> listedIn;
    u64 size = 0;
    u32 time = 0xFFFFFFFFu;
    u64 lba = ~0ull;
    bool deleted = false;
    bool system = false;
    bool unreadable = false;
    bool badFat = false;
    std::string text; // empty: the default byte pattern
    std::vector<TestByteRange> bad;
};

struct TestListingEntry {
    u64 folder = 0;
    u64 address = 0;
    u64 index = 0;
    std::string name;
    bool directory = false;
    u64 size = 0;
    u32 time = 0xFFFFFFFFu;
    bool deleted = false;
    bool system = false;
    bool badFat = false;
    bool prefer = false;
    bool noEquivalent = false;
};

struct TestDescription {
    int kind = tree::MAP_NTFS;
    u64 root = 5;
    bool searchAll = false;
    bool sortNames = true;
    std::string id;
    std::string description;
    u64 sectors = 0;
    SectorRuns unreadable; // ordered by start
    std::map<u64, TestRecord> records;
    std::vector<TestListingEntry> listing; // in description order

    // Throws std::runtime_error("TestEngine: line N: ...") on a malformed text.
    static TestDescription parse(const std::string& text);
};

class TestEngine : public tree::MapImpl {
public:
    explicit TestEngine(const TestDescription& description);
    ~TestEngine() override;

    // Parses, builds and finishes the tree as the program's map builder does:
    // finishTree, analyzeFoundFiles, finishTree.
    static std::unique_ptr<TestEngine> build(const std::string& description);
    static std::unique_ptr<TestEngine> buildFromFile(const std::string& path);

    // The bytes a file holds (before any failure).
    static u8 defaultByte(u64 address, u64 offset) {
        return static_cast<u8>((offset + address % 251) % 251);
    }
    // What recovering the file must write: its data, with every failing byte
    // replaced by the pattern (phase counted from the start of its failing range).
    std::string expectedData(u64 address) const;
    const TestDescription& description() const { return description_; }

    // What the map asked of the engine.
    u64 loadFolderCalls() const { return loadFolderCalls_; }
    u64 loadFoundEntryCalls() const { return loadFoundEntryCalls_; }
    u64 checkStatusesCalls() const { return checkStatusesCalls_; }
    bool wasLoaded(u64 address) const { return visited_.count(address) != 0; }

    // tree::Map
    void analyzeFoundFiles() override;
    bool recoverNode(tree::Recoverer& recoverer, const std::vector<std::string>& path,
                     tree::Node& node) override;
    int readNodeData(tree::Node& node, u8* buffer, u32 size, u64 offset) override;
    u64 getNodeLBA(u64 address) override;
    int getKind() override { return description_.kind; }
    void ostreamPartitionInfo(std::ostream& out) override;

    // tree::MapImpl
    Drive* getDrive() override { return drive_.get(); }
    tree::Folder* loadFolder(u64 address, tree::Node& out) override;
    bool loadFoundEntry(u64 address, tree::Node& out) override;
    void checkStatuses(tree::Folder& folder) override;
    bool isEquivalent(const tree::Node& listed, const tree::Node& added) override;
    bool isPreferred(const tree::Node& candidate, const tree::Node& best) override;
    void ostreamInfo(std::ostream& out, const tree::MapPosition& position, tree::Folder& folder,
                     tree::Node& node) override;

    // The amount of data handed to write() at a time.
    static constexpr u32 CHUNK_SIZE = 64 * 1024;

private:
    const TestRecord* record(u64 address) const;
    const TestListingEntry* listingEntry(u64 index) const;
    tree::Folder readFolder(u64 address, tree::Node& out);
    // What a node's data is made of: its record (or defaults) at the node's size.
    TestRecord dataOf(const tree::Node& node) const;
    // Whether the file is marked, or lies on a sector the scan found unreadable.
    bool hasUnreadable(const TestRecord* r) const;
    // The failing byte ranges of a file, sorted and merged.
    std::vector<TestByteRange> failingRanges(const TestRecord& r) const;
    // Copies [offset, offset + n) of the file's data to out with failing bytes
    // replaced; false when any byte failed.
    bool readRange(const TestRecord& r, const std::vector<TestByteRange>& failing, u64 offset,
                   u8* out, u64 n) const;
    // Where CHUNK_SIZE bytes of the file's data from offset lie, ready to write.
    const char* dataAt(const TestRecord& r, u64 offset) const;

    TestDescription description_;
    // Folder -> its listing entries, in description order.
    std::map<u64, std::vector<std::size_t>> listingOf_;
    UnreadableSectors unreadable_;
    std::unique_ptr<Drive> drive_;
    std::set<u64> visited_;
    u64 loadFolderCalls_ = 0;
    u64 loadFoundEntryCalls_ = 0;
    u64 checkStatusesCalls_ = 0;
    std::string defaultText_;
    // Text -> the text repeated to cover CHUNK_SIZE bytes from any phase.
    mutable std::map<std::string, std::string> windows_;
};

} // namespace testutil
