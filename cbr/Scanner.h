#pragma once

// The content carver of a deep scan. Every scanned sector is tested against the
// signature table in table order; the first pattern that succeeds wins. A hit
// of a pattern without analyze module starts a file whose end is only known when
// the next file starts (the pending file); a hit of a pattern with one moves the
// window onto the candidate and lets the module find the file's size and
// attributes. Finished files leave through the callback.
//
// Some patterns are not tested inside the last file found through them: the
// first "mp3" pattern and the last "mpeg" pattern before it (a stream of audio
// or video frames would otherwise yield a new file at nearly every sector), and
// every pattern of a module whose files are chains of members
// (FileModule::ownsHitsInsideItsFiles: an archive or a movie found once is one
// file, not one more from each member on).

#include "cbr/FileInfo.h"
#include "cbr/FileModuleRegistry.h"
#include "cbr/Pattern.h"
#include "cbr/PatternIndex.h"
#include "devices/DtReaderReader.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace cbr {

class Scanner {
public:
    class Callback {
    public:
        virtual void found(const FileInfo& info) = 0;
        virtual ~Callback() = default;
    };

    static constexpr u32 NONE = 0xFFFFFFFFu;

    // Neither the source nor the registry is owned; both must outlive the scanner.
    Scanner(dt::Reader& source, FileModuleRegistry* registry);
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    // Loads the table (its exceptions pass to the caller) and starts afresh.
    // The callback may be null: the scanner then tracks everything and reports
    // nothing.
    void loadPatterns(const std::string& path, Callback* callback);
    // The same with a table already loaded.
    void setPatterns(const std::vector<Pattern>& patterns, Callback* callback);

    // One sector at byteOffset (sector number x 512); size counts the bytes
    // available from sector on (the sector and those buffered after it). Sectors
    // come in ascending order.
    void processSector(u64 byteOffset, const u8* sector, u32 size);
    // After the last sector: the pending file ends at byteOffset, the end of the
    // scanned range.
    void finish(u64 byteOffset);

private:
    // What testing pattern i at a sector came to.
    enum Outcome { NO_MATCH, FOUND };
    Outcome tryPattern(u32 i, u64 byteOffset, const u8* sector, u32 size);
    void reportPending(u64 byteOffset);
    u32 newSkipSlot();

    dt::ReaderReader window_;
    FileModuleRegistry* registry_;
    Callback* callback_ = nullptr;
    std::vector<Pattern> patterns_;
    PatternIndex index_;
    u32 pendingIndex_ = NONE;
    FileInfo pending_;
    // For each pattern, NONE or the index of the end in skipEnds_ below which
    // it is not tested: the end of the last file found through the pattern (the
    // MP3 and MPEG ones) or through any pattern of its module (a module that
    // owns the hits inside its files).
    std::vector<u32> skipSlots_;
    std::vector<u64> skipEnds_;
    // Each analyze module's memory for this scan (FileModule::newScanMemory).
    std::map<FileModule*, std::unique_ptr<ScanMemory>> memories_;
};

} // namespace cbr
