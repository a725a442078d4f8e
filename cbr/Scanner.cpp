#include "cbr/Scanner.h"

#include "cbr/PatternsFile.h"
#include "core/Log.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace cbr {

namespace {

constexpr u64 MAX_OFFSET = static_cast<u64>(std::numeric_limits<i64>::max());
constexpr u32 PREFETCH_DISTANCE = 8 * Pattern::SECTOR_BYTES;
// Judging whether files are whole may read this much at a scan's start, and
// JUDGE_PER_BYTE bytes more for each byte the scan passes. A card of real
// movies takes less than two for each (movies of a few kilobytes, each judged
// at its own atoms on sector starts and at the next movie); forged chains that
// make every judgement read its whole window still cost a fixed multiple of
// the source.
constexpr u64 JUDGE_ALLOWANCE = 1024 * 1024;
constexpr u64 JUDGE_PER_BYTE = 8;

} // namespace

// A window that reads while the allowance lasts; a read past it fails, and
// so the judgement it served says "in doubt".
class Scanner::Allowed : public dt::Reader {
public:
    Allowed(dt::Reader& window, Allowance& allowance) : window_(window), allowance_(allowance) {
        setSize(window.getSize());
    }
    bool read(i64 offset, u8* buffer, i64 size) override {
        if (size < 0 || static_cast<u64>(size) > allowance_.left) {
            if (!allowance_.ranOut)
                logAt("Scanner", 160) << ": "
                                      << "judgements of whole files cut short" << '\n';
            allowance_.ranOut = true;
            return false;
        }
        allowance_.left -= static_cast<u64>(size);
        return window_.read(offset, buffer, size);
    }

private:
    dt::Reader& window_;
    Allowance& allowance_;
};

Scanner::Scanner(dt::Reader& source, FileModuleRegistry* registry)
    : window_(&source), registry_(registry) {}

void Scanner::loadPatterns(const std::string& path, Callback* callback) {
    if (registry_ == nullptr)
        throw std::runtime_error("Scanner(23)");
    std::vector<Pattern> patterns;
    PatternsFile::load(path, *registry_, patterns);
    setPatterns(patterns, callback);
}

void Scanner::setPatterns(const std::vector<Pattern>& patterns, Callback* callback) {
    patterns_ = patterns;
    index_.build(patterns_);
    callback_ = callback;
    pendingIndex_ = NONE;
    pending_.clear();
    // Only an "mpeg" pattern before the first "mp3" one is skipped inside MPEG
    // files; the table puts it there.
    mp3Index_ = mpegIndex_ = NONE;
    mp3End_ = mpegEnd_ = 0;
    for (u32 i = 0; i < patterns_.size(); ++i) {
        if (patterns_[i].type() == "mp3") {
            mp3Index_ = i;
            break;
        }
        if (patterns_[i].type() == "mpeg")
            mpegIndex_ = i;
    }
    reported_ = 0;
    endings_.clear();
    judgeAllowance_ = {JUDGE_ALLOWANCE, false};
    memories_.clear();
    for (const Pattern& pattern : patterns_) {
        FileModule* module = pattern.analyzeModule();
        if (module != nullptr && memories_.count(module) == 0)
            memories_[module] = module->newScanMemory();
    }
}

void Scanner::processSector(u64 byteOffset, const u8* sector, u32 size) {
    // The signatures sit in a sector's first bytes, and little else is read of
    // it: the time goes into waiting for that one line. Asking for the line of a
    // sector further on lets those waits overlap.
    if (size > PREFETCH_DISTANCE)
        __builtin_prefetch(sector + PREFETCH_DISTANCE);
    judgeAllowance_.left += JUDGE_PER_BYTE * Pattern::SECTOR_BYTES;
    index_.forEachCandidate(
        sector, size, [&](u32 i) { return tryPattern(i, byteOffset, sector, size) == FOUND; });
}

Scanner::Outcome Scanner::tryPattern(u32 i, u64 byteOffset, const u8* sector, u32 size) {
    if ((i == mp3Index_ && byteOffset < mp3End_) || (i == mpegIndex_ && byteOffset < mpegEnd_))
        return NO_MATCH;
    const Pattern& pattern = patterns_[i];
    if (!pattern.matches(sector, size))
        return NO_MATCH;

    FileModule* module = pattern.analyzeModule();
    if (module == nullptr) {
        reportPending(byteOffset);
        pendingIndex_ = i;
        pending_.setStart(byteOffset);
        return FOUND;
    }

    const u64 maxSize = std::min(pattern.maxSize(), MAX_OFFSET);
    if (byteOffset > MAX_OFFSET ||
        !window_.init(static_cast<i64>(byteOffset), static_cast<i64>(maxSize))) {
        logAt("Scanner", 54) << ": " << byteOffset << ' ' << pattern.maxSize() << '\n';
        return NO_MATCH;
    }
    FileInfo info;
    auto memory = memories_.find(module);
    if (!module->analyzeInScan(window_, info, byteOffset,
                               memory == memories_.end() ? nullptr : memory->second.get()))
        return NO_MATCH;
    // A module answers with a size inside its window; anything else would end
    // the pending file and skip MP3 or MPEG hits over bytes nobody looked at.
    if (info.getSize() > static_cast<u64>(window_.getSize())) {
        logAt("Scanner", 90) << ": " << pattern.type() << ' ' << byteOffset << ' ' << info.getSize()
                             << '\n';
        return NO_MATCH;
    }

    if (i == mp3Index_)
        mp3End_ = byteOffset + info.getSize();
    else if (i == mpegIndex_)
        mpegEnd_ = byteOffset + info.getSize();
    reportPending(byteOffset);
    info.setStart(byteOffset);
    cutBackTo(module, info);
    report(info);
    return FOUND;
}

void Scanner::cutBackTo(FileModule* module, const FileInfo& info) {
    std::map<u64, std::vector<Ending>>& ends = endings_[module];
    // Files that end where the scan is or before hold no file found from here.
    const u64 start = info.getStart();
    while (!ends.empty() && ends.begin()->first <= start)
        ends.erase(ends.begin());
    if (info.getSize() == 0)
        return;
    std::vector<Ending>& earlier = ends[start + info.getSize()];
    // Each earlier file that ran on to this end: a walk from a member, tag or
    // atom of it comes here too, and so does one from the next file of its
    // kind. Only a file whole before this one ends where it starts (or
    // before, at its own end).
    for (auto e = earlier.begin(); e != earlier.end();) {
        FileInfo whole;
        if (!wholeBefore(module, e->start, start, whole)) {
            e = ++e->notWhole == JUDGEMENTS_KEPT ? earlier.erase(e) : e + 1;
            continue;
        }
        // A piece of the whole file (a member, tag or atom of it on a sector
        // start) ran on as far as the file did: it ends where the file does.
        // The entries are in the order of their starts.
        const u64 end = e->start + whole.getSize();
        auto pieces = e + 1;
        while (pieces != earlier.end() && pieces->start < end)
            ++pieces;
        if (callback_ != nullptr)
            for (auto p = e; p != pieces; ++p)
                callback_->shortened(p->nth, end - p->start);
        e = earlier.erase(e, pieces);
    }
    // The first of them is the likeliest start of a whole file; a member or
    // atom of it, the likeliest among the others.
    if (earlier.size() == ENDINGS_KEPT)
        earlier.erase(earlier.begin() + 1);
    earlier.push_back({reported_, start, 0});
}

bool Scanner::wholeBefore(FileModule* module, u64 start, u64 end, FileInfo& whole) {
    if (!window_.init(static_cast<i64>(start), static_cast<i64>(end - start)))
        return false;
    Allowed window(window_, judgeAllowance_);
    return module->wholeWithin(window, whole) && whole.getSize() != 0 &&
           whole.getSize() <= end - start;
}

void Scanner::report(const FileInfo& info) {
    if (callback_ != nullptr)
        callback_->found(info);
    ++reported_;
}

void Scanner::finish(u64 byteOffset) {
    reportPending(byteOffset);
}

void Scanner::reportPending(u64 byteOffset) {
    if (pendingIndex_ == NONE)
        return;
    const Pattern& pattern = patterns_[pendingIndex_];
    // An end before the start (a caller's slip) gives an empty file, not one of
    // the pattern's whole Max Size.
    const u64 distance = byteOffset > pending_.getStart() ? byteOffset - pending_.getStart() : 0;
    pending_.setSize(std::min(distance, pattern.maxSize()));
    pending_.setType(pattern.type());
    report(pending_);
    pendingIndex_ = NONE;
}

} // namespace cbr
