#include "cbr/ClosingTags.h"

#include <algorithm>

namespace cbr {

namespace {

// The text is read in blocks of this many bytes, with the bytes of a tag that
// may begin before them in front.
constexpr u32 BLOCK_SIZE = 4096;
// No sweep of the notes behind the scan before they are this many.
constexpr std::size_t MIN_SWEEP = 4096;

u8 lower(u8 c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<u8>(c - 'A' + 'a') : c;
}

} // namespace

u64 ClosingTags::find(dt::Reader& window, u64 at, u64 from, const std::string& tag) {
    const u64 windowEnd = at + static_cast<u64>(std::max<i64>(window.getSize(), 0));
    const u64 start = at + from;
    if (at < from_ || at > end_) {
        // The hit lies past the stretch, which is behind every later hit too.
        tags_.clear();
        notes_ = liveAfterSweep_ = 0;
        from_ = end_ = windowEnd_ = at;
        stop_ = Stop::MORE;
    } else if (notes_ >= 2 * liveAfterSweep_ + MIN_SWEEP) {
        forgetBefore(at);
    }
    for (;;) {
        const u64 place = firstNote(tag, start);
        if (place != NOT_FOUND) {
            // A tag past this window's end: the text reaches that end first.
            return place <= windowEnd && tag.size() <= windowEnd - place ? place - at : NOT_FOUND;
        }
        if (!readOn(window, at, windowEnd, start, tag))
            return NOT_FOUND;
    }
}

bool ClosingTags::readOn(dt::Reader& window, u64 at, u64 windowEnd, u64 from,
                         const std::string& tag) {
    if (stop_ == Stop::TEXT || (stop_ == Stop::WINDOW && windowEnd <= windowEnd_))
        return false;
    u8 buffer[MAX_TAG_LENGTH + BLOCK_SIZE];
    for (;;) {
        const u64 pos = end_;
        if (pos >= windowEnd) {
            stop_ = Stop::WINDOW;
            windowEnd_ = windowEnd;
            return false;
        }
        // A tag may have begun in the text before: those bytes come again, as
        // far as the window has them (a tag before it is before every search).
        const u64 back = std::min<u64>(pos - std::max(from_, at), MAX_TAG_LENGTH - 1);
        const u64 n = std::min<u64>(BLOCK_SIZE, windowEnd - pos);
        if (!window.read(static_cast<i64>(pos - back - at), buffer, static_cast<i64>(back + n))) {
            stop_ = Stop::UNREAD;
            return false;
        }
        const u64 count = static_cast<u64>(
            std::find_if_not(buffer + back, buffer + back + n, isTextByte) - (buffer + back));
        note(buffer, pos - back, pos + count);
        end_ = pos + count;
        if (count < n) {
            stop_ = Stop::TEXT;
        } else if (end_ == windowEnd) {
            stop_ = Stop::WINDOW;
            windowEnd_ = windowEnd;
        } else {
            stop_ = Stop::MORE;
        }
        if (firstNote(tag, from) != NOT_FOUND)
            return true;
        if (stop_ != Stop::MORE)
            return false;
    }
}

void ClosingTags::note(const u8* text, u64 base, u64 end) {
    const u64 n = end - base;
    for (u64 i = 0; i + 2 < n; ++i) {
        if (text[i] != '<' || text[i + 1] != '/')
            continue;
        u64 j = i + 2;
        while (j < n && j - i < MAX_TAG_LENGTH - 1 && isNameByte(text[j]))
            ++j;
        // A whole tag, and one not noted yet: it ends past the old end.
        if (j >= n || text[j] != '>' || base + j < end_)
            continue;
        std::string name(j + 1 - i, '\0');
        std::transform(text + i, text + j + 1, name.begin(), lower);
        tags_[name].push_back(base + i);
        ++notes_;
    }
}

u64 ClosingTags::firstNote(const std::string& tag, u64 from) {
    const auto it = tags_.find(tag);
    if (it == tags_.end())
        return NOT_FOUND;
    // Hits come in ascending order, and every search starts inside its hit's
    // first sector: a tag before this search's start is before every later one.
    std::deque<u64>& places = it->second;
    while (!places.empty() && places.front() < from) {
        places.pop_front();
        --notes_;
    }
    return places.empty() ? NOT_FOUND : places.front();
}

void ClosingTags::forgetBefore(u64 at) {
    for (auto it = tags_.begin(); it != tags_.end();) {
        std::deque<u64>& places = it->second;
        while (!places.empty() && places.front() < at) {
            places.pop_front();
            --notes_;
        }
        it = places.empty() ? tags_.erase(it) : std::next(it);
    }
    liveAfterSweep_ = notes_;
}

} // namespace cbr
