#pragma once

// The content carver of a deep scan. Every scanned sector is tested against the
// signature table in table order; the first pattern that succeeds wins. A hit
// of a pattern without analyze module starts a file whose end is only known when
// the next file starts (the pending file); a hit of a pattern with one moves the
// window onto the candidate and lets the module find the file's size and
// attributes. Finished files leave through the callback.
//
// Two patterns are not tested inside the last file found through them: the
// first "mp3" pattern and the last "mpeg" pattern before it (a stream of audio
// or video frames would otherwise yield a new file at nearly every sector).
// Every other pattern is tested everywhere, inside found files too, since a
// file of a kind may well lie inside another of its kind (an archive stored in
// an archive, a whole movie inside the extent of a split one).
//
// A file never holds a whole later file of its kind: when a module's walk from
// an earlier hit ran on into a later file and so ended where that file ends,
// the earlier file is cut back to end where the later one starts
// (Callback::shortened). On a chain of headers that all run to one end, the
// files found then add up to the chain, not to its square.

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
        // The file of the nth call of found() (from 0, in this scan) ends
        // earlier than it said: it has `size` bytes.
        virtual void shortened(std::size_t nth, u64 size) = 0;
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
    void report(const FileInfo& info);
    // A file that `module` found: an earlier file of the module that ran on to
    // the same end now ends where this one starts.
    void cutBackTo(FileModule* module, const FileInfo& info);

    dt::ReaderReader window_;
    FileModuleRegistry* registry_;
    Callback* callback_ = nullptr;
    std::vector<Pattern> patterns_;
    PatternIndex index_;
    u32 pendingIndex_ = NONE;
    FileInfo pending_;
    // The patterns not tested below the end of the last file found through
    // them.
    u32 mp3Index_ = NONE;
    u64 mp3End_ = 0;
    u32 mpegIndex_ = NONE;
    u64 mpegEnd_ = 0;
    // Calls of found() so far.
    std::size_t reported_ = 0;
    // For each analyze module, its files that end after the scan's place, by
    // their end: the call of found() that gave the last one, and its start.
    struct Ending {
        std::size_t nth;
        u64 start;
    };
    std::map<FileModule*, std::map<u64, Ending>> endings_;
    // Each analyze module's memory for this scan (FileModule::newScanMemory).
    std::map<FileModule*, std::unique_ptr<ScanMemory>> memories_;
};

} // namespace cbr
