#pragma once

// Where a page's closing tag stands: the text module's search for "</html>"
// or for the closing tag of an XML document's root. A search reads the text
// that runs from the hit on, and in a scan every hit inside that text would
// read it again, each for its own tag; so the search reads a stretch of text
// once and notes every closing tag in it, and the searches of later hits, for
// whatever tag, are answered from those notes and read only what lies beyond
// them. The notes cover the stretch ahead of the scan only, and the tags in it
// a search may yet ask for.

#include "cbr/FileModule.h"
#include "core/Types.h"

#include <deque>
#include <string>
#include <unordered_map>

namespace cbr {

// Tab, line feed, carriage return, 0x20 to 0x7E and 0x80 to 0xFF.
inline bool isTextByte(u8 byte) {
    return byte == 0x09 || byte == 0x0A || byte == 0x0D || (byte >= 0x20 && byte != 0x7F);
}

// The bytes of a tag's name: letters, digits, ':', '-', '+'.
inline bool isNameByte(u8 c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' ||
           c == '-' || c == '+';
}

class ClosingTags : public ScanMemory {
public:
    static constexpr u64 NOT_FOUND = ~u64(0);
    // A tag of "</", a name and ">" is at most this long.
    static constexpr u32 MAX_TAG_LENGTH = 64;

    // The first place at or after window offset `from` where `tag` (in lower
    // case, "</" name ">") stands in the text that runs from the window's
    // start, in any case and wholly inside the window: its window offset, or
    // NOT_FOUND (all ones) when the text or the window ends first or a read fails. `at`
    // is the window's place on the source; the windows of one memory's
    // searches come in ascending order.
    u64 find(dt::Reader& window, u64 at, u64 from, const std::string& tag);

    // Notes kept, for tests and benchmarks.
    std::size_t notes() const { return notes_; }

private:
    // How the stretch ends at its end.
    enum class Stop {
        MORE,   // the search that read it had found its tag: the text may go on
        TEXT,   // a byte there is no text
        WINDOW, // the window of the search that read it ended there
        UNREAD, // a read there failed
    };

    // Reads the text on from the stretch's end through the window [at, windowEnd)
    // (exactly what it needs: the window's own hit has read its first sector)
    // until `tag` is noted at or after `from` (source offsets) or the stretch
    // stops; true when it was.
    bool readOn(dt::Reader& window, u64 at, u64 windowEnd, u64 from, const std::string& tag);
    // Notes the closing tags that end in (noted, end] of the bytes `text` that
    // stand from `base` on.
    void note(const u8* text, u64 base, u64 end);
    // The first note of `tag` at or after `from`, or NOT_FOUND.
    u64 firstNote(const std::string& tag, u64 from);
    void forgetBefore(u64 at);

    // The stretch of text [from_, end_) on the source: no byte of it ends the
    // text, and every closing tag that ends inside it is noted.
    u64 from_ = 0;
    u64 end_ = 0;
    Stop stop_ = Stop::MORE;
    u64 windowEnd_ = 0;
    std::unordered_map<std::string, std::deque<u64>> tags_;
    std::size_t notes_ = 0;
    std::size_t liveAfterSweep_ = 0;
};

} // namespace cbr
