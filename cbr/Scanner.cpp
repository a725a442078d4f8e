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

} // namespace

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
    skipSlots_.assign(patterns_.size(), NONE);
    skipEnds_.clear();
    // Only an "mpeg" pattern before the first "mp3" one is skipped inside MPEG
    // files; the table puts it there.
    u32 mpegIndex = NONE;
    for (u32 i = 0; i < patterns_.size(); ++i) {
        if (patterns_[i].type() == "mp3") {
            skipSlots_[i] = newSkipSlot();
            break;
        }
        if (patterns_[i].type() == "mpeg")
            mpegIndex = i;
    }
    if (mpegIndex != NONE)
        skipSlots_[mpegIndex] = newSkipSlot();
    std::map<FileModule*, u32> owners;
    for (u32 i = 0; i < patterns_.size(); ++i) {
        FileModule* module = patterns_[i].analyzeModule();
        if (module == nullptr || !module->ownsHitsInsideItsFiles() || skipSlots_[i] != NONE)
            continue;
        auto owner = owners.find(module);
        skipSlots_[i] = owner != owners.end() ? owner->second : (owners[module] = newSkipSlot());
    }
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
    index_.forEachCandidate(
        sector, size, [&](u32 i) { return tryPattern(i, byteOffset, sector, size) == FOUND; });
}

Scanner::Outcome Scanner::tryPattern(u32 i, u64 byteOffset, const u8* sector, u32 size) {
    const u32 skipSlot = skipSlots_[i];
    if (skipSlot != NONE && byteOffset < skipEnds_[skipSlot])
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

    if (skipSlot != NONE)
        skipEnds_[skipSlot] = byteOffset + info.getSize();
    reportPending(byteOffset);
    if (callback_ != nullptr) {
        info.setStart(byteOffset);
        callback_->found(info);
    }
    return FOUND;
}

u32 Scanner::newSkipSlot() {
    skipEnds_.push_back(0);
    return static_cast<u32>(skipEnds_.size() - 1);
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
    if (callback_ != nullptr)
        callback_->found(pending_);
    pendingIndex_ = NONE;
}

} // namespace cbr
