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
// A file of the module that ran on to where a later file of it ends (a walk
// from an archive's start reaches the same end as one from its member, a movie
// that ends on a sector boundary runs on into the next one) is cut back only
// when it is whole on its own before the later file: its module, given a
// window that ends where that file starts, finds the file's own end inside it
// (FileModule::wholeWithin; Callback::shortened). Otherwise both stay as
// found, overlapping: a member, tag or atom of a file never cuts it. A file
// cut back takes with it the files found inside it that ran on to the same
// end (its members, tags or atoms on sector starts): they end where it ends,
// and nothing of it or of a file embedded in it is lost.

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
    // A file that `module` found: an earlier file of the module that ran on
    // to the same end and is whole before this one starts ends there now.
    void cutBackTo(FileModule* module, const FileInfo& info);
    // Whether the file at `start` is whole before `end` by its module's own
    // judgement; its size goes into `whole`.
    bool wholeBefore(FileModule* module, u64 start, u64 end, FileInfo& whole);

    // Bytes that judgements may still read, and whether they once ran out.
    struct Allowance {
        u64 left = 0;
        bool ranOut = false;
    };
    // The window of a judgement, reading while the allowance lasts.
    class Allowed;

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
    // For each analyze module, its files that end after the scan's place and
    // were not cut back, by their end: the call of found() that gave each,
    // its start and how often it was judged not whole; of those with one end,
    // the first and the latest few (a movie holds no more atoms on sector
    // starts, and a forged chain of them costs no more). A file judged not
    // whole JUDGEMENTS_KEPT times is judged no more and stays as found: a
    // whole file is whole before the first later file past its own end, after
    // the few pieces of it that start a sector, while one that never is (an
    // atom of a movie that is not whole, an interrupted recording) would
    // otherwise be judged again, over a longer window, at every later file.
    struct Ending {
        std::size_t nth;
        u64 start;
        u32 notWhole;
    };
    static constexpr std::size_t ENDINGS_KEPT = 4;
    static constexpr u32 JUDGEMENTS_KEPT = 16;
    std::map<FileModule*, std::map<u64, std::vector<Ending>>> endings_;
    // What the modules may still read to judge whether a file is whole before
    // a later one: it grows with the sectors scanned, so that forged files
    // whose judgements read the same bytes again and again cannot make the
    // scan quadratic.
    Allowance judgeAllowance_;
    // Each analyze module's memory for this scan (FileModule::newScanMemory).
    std::map<FileModule*, std::unique_ptr<ScanMemory>> memories_;
};

} // namespace cbr
