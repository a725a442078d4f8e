#pragma once

// A small in-memory engine on tree::MapImpl, built from a short text, so that
// the tree, its cursors, walkers and the recovery can be tested before and apart
// from the real file systems. It behaves as an engine must: folders are read
// lazily, listings and records are reconciled by the map, found entries come
// from analyzeFoundFiles, and data that cannot be read comes back as the
// "(unreadable)" pattern with a false result.
//
// DESCRIPTION FORMAT. One statement per line; '#' starts a comment; words are
// separated by blanks; numbers are decimal.
//
//   map fat                  a FAT map (default NTFS): files have no own records
//                            (all stay TO), searchAllEquivalents on, no found files
//   root ADDR                the root folder's address (default 5)
//   option searchall|nosort
//   dir ADDR ATTRS...        a folder: its own record and, for each in=, an
//                            entry in that folder's listing. The root folder is
//                            implicit; its entries say in=ROOT.
//   file ADDR ATTRS...       a file, likewise
//   entry FOLDER ADDR ATTRS...  one more listing entry in FOLDER naming ADDR,
//                            without a record of its own (for entries that
//                            disagree with the record, or that no record backs)
//
// Attributes (key=value or a bare word, any order):
//   name=NAME        the name; "\xHH" is any byte, "\s" a blank
//   in=FOLDER        listed in FOLDER (repeatable; none: listed nowhere, so only
//                    analyzeFoundFiles finds it: files on ntfs maps, folders on both)
//   parent=FOLDER    the parent its own record names (default: the first in=,
//                    else the root). Two folders naming each other make a cycle.
//   norecord         no own record: a file stays TO; a folder reads as an empty
//                    INVALID_DIRECTORY folder whose parent is the root
//   size=N time=T lba=L          (size defaults to the text length; time and lba
//                    to none)
//   deleted system unreadable badfat   DELETED, SYSTEM, HAS_UNREADABLE,
//                    FAT chain status BAD_IN_FAT
//   text=TEXT        the data, repeated to the size (escapes as in names);
//                    default: byte i is (i + ADDR) mod 251
//   bad=OFF+LEN      bytes that fail to read (repeatable); they read as
//                    "(unreadable)" repeated from the start of their range.
//   lost             (files) the recovery gives up before it begins the file,
//                    as an engine does whose record of the file cannot be read
//   prefer           (listing entries) isPreferred ranks this entry first
//   noequiv          (listing entries) never equivalent to the record
//   dir              (entry lines) the entry is a folder
//
// A listing entry and the entry's own record are equivalent (the listing entry
// turns GOOD) unless the listing entry says noequiv or the record is a folder
// that could not be read. A listing entry's index is its number among all
// listing entries of the description, in order; listings keep that order.
//
// Example:
//   dir 10 in=5 name=docs
//   file 20 in=10 name=a.txt size=1000 bad=100+12
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

// A record (dir and file lines) or a listing entry (one per in=, and entry lines).
struct TestEntry {
    u64 address = 0;
    u64 folder = 0; // listing entries: the folder listing it
    u64 index = 0;  // listing entries: the number among all of them
    std::string name;
    std::vector<u64> in;
    u64 parent = ~0ull; // none given: the first in=, else the root
    u64 size = 0;
    u32 time = 0xFFFFFFFFu;
    u64 lba = ~0ull;
    bool directory = false, noRecord = false, deleted = false, system = false;
    bool unreadable = false, badFat = false, prefer = false, noEquivalent = false;
    bool lost = false;
    std::string text; // empty: the default byte pattern
    std::vector<TestByteRange> bad;
};

struct TestDescription {
    int kind = tree::MAP_NTFS;
    u64 root = 5;
    bool searchAll = false;
    bool sortNames = true;
    std::map<u64, TestEntry> records;
    std::vector<TestEntry> listing; // in description order

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

    // The bytes a file holds (before any failure).
    static u8 defaultByte(u64 address, u64 offset) {
        return static_cast<u8>((offset + address % 251) % 251);
    }
    // What recovering the file must write: its data, with every failing byte
    // replaced by the pattern (phase counted from the start of its failing range).
    std::string expectedData(u64 address) const;

    // What the map asked of the engine.
    u64 loadFolderCalls() const { return loadFolderCalls_; }
    u64 checkStatusesCalls() const { return checkStatusesCalls_; }

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
    const TestEntry* record(u64 address) const;
    const TestEntry* listingEntry(u64 index) const;
    tree::Folder readFolder(u64 address, tree::Node& out);
    // What a node's data is made of: its record (or defaults) at the node's size.
    TestEntry dataOf(const tree::Node& node) const;
    // Copies [offset, offset + n) of the file's data to out with failing bytes
    // replaced; false when any byte failed.
    bool readRange(const TestEntry& r, u64 offset, u8* out, u64 n) const;

    TestDescription description_;
    // Folder -> its listing entries, in description order.
    std::map<u64, std::vector<std::size_t>> listingOf_;
    std::unique_ptr<Drive> drive_;
    std::set<u64> visited_;
    u64 loadFolderCalls_ = 0;
    u64 checkStatusesCalls_ = 0;
};

} // namespace testutil
