#pragma once

// The shape of every file-type module of the content carver. A module holds no
// state between files: check() looks at the bytes of a sector start that are
// already in memory, analyze() reads the candidate through a window of the
// source (byte 0 is the candidate sector; its length is the pattern's Max Size,
// cut at the end of the source) and sets the size, the type "t" and any further
// attributes. Modules never throw and never log: a failure is false.

#include "cbr/FileInfo.h"
#include "devices/DtReader.h"

#include <memory>

namespace cbr {

// What a module keeps about the source between the hits of one scan.
class ScanMemory {
public:
    virtual ~ScanMemory() = default;
};

class FileModule {
public:
    virtual bool check(const u8* sector, u32 size) = 0;
    virtual bool analyze(dt::Reader& file, FileInfo& info) = 0;

    // A module whose analysis may search or walk far for a file's end (an end
    // code, a directory at the end, a chain of chunks or members) keeps, for
    // one scan, what its searches and walks found out (WalkMemory for walks):
    // later hits inside that stretch do not read it again, so a source full of
    // headers without ends is still scanned at full speed. The answers stay
    // those of analyze(). `at` is the window's place on the source; the
    // scanner asks for one memory per module and scan.
    virtual std::unique_ptr<ScanMemory> newScanMemory() const { return nullptr; }
    virtual bool analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) {
        (void)at;
        (void)memory;
        return analyze(file, info);
    }

    // Whether the file at the window's start is whole inside the window by
    // its format's own end (for a movie: atoms that end there and hold its
    // index); the window's end alone is none. True sets the size in info.
    // The scanner asks this of a file that ran on to where a later file of
    // the module ends, with a window that ends where that file starts
    // (Scanner.h). A module whose analysis stops at the first end mark it
    // meets (an end record, a trailer, a closing tag) keeps this answer: its
    // file ran on past the window, so no such mark lies inside it. When in
    // doubt, false: a file kept whole that holds another loses nothing.
    virtual bool wholeWithin(dt::Reader& file, FileInfo& info) {
        (void)file;
        (void)info;
        return false;
    }

    virtual ~FileModule() = default;
};

// A module's own memory for the scan, or `fresh` when there is none (an
// analysis outside a scan).
template <typename Memory> Memory& memoryOr(ScanMemory* memory, Memory& fresh) {
    auto* known = dynamic_cast<Memory*>(memory);
    return known != nullptr ? *known : fresh;
}

} // namespace cbr
