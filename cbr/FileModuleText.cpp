#include "cbr/FileModuleText.h"

#include "cbr/ByteSource.h"
#include "cbr/WalkMemory.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace cbr {

namespace {

constexpr u32 BLOCK_SIZE = 512;
constexpr u32 MAX_TAG_LENGTH = 64;
// After the closing tag: at most this many line-end or blank bytes belong to it.
constexpr u32 MAX_TRAILING_BYTES = 2;

constexpr const char* XML_START = "<?xml";
constexpr u32 XML_START_LENGTH = 5;
// "<?xml" and the least a declaration and a root tag take.
constexpr u32 MIN_XML_LENGTH = 14;
// HTML: "</html>" is searched for past "<html>".
constexpr u32 HTML_SEARCH_START = 6;

u8 lower(u8 c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<u8>(c - 'A' + 'a') : c;
}

// Whether the n bytes at text equal the lower-case ASCII word, in any case.
bool equalsNoCase(const u8* text, const char* word, u32 n) {
    for (u32 i = 0; i < n; ++i) {
        if (lower(text[i]) != static_cast<u8>(word[i]))
            return false;
    }
    return true;
}

bool startsWithNoCase(const u8* text, u32 length, const char* word) {
    const u32 n = static_cast<u32>(std::strlen(word));
    return n <= length && equalsNoCase(text, word, n);
}

bool isNameByte(u8 c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' ||
           c == '-' || c == '+';
}

bool isTrailingByte(u8 c) {
    return c == '\n' || c == '\r' || c == ' ';
}

// Index of the tag (given in lower case) in text[from, length), in any case;
// length when it is not there.
u32 findNoCase(const u8* text, u32 from, u32 length, const std::string& tag) {
    if (from > length)
        return length;
    const u8* end = text + length;
    const u8* at = std::search(text + from, end, tag.begin(), tag.end(),
                               [](u8 a, char b) { return lower(a) == static_cast<u8>(b); });
    return static_cast<u32>(at - text);
}

// Tab, line feed, carriage return, 0x20 to 0x7E and 0x80 to 0xFF.
bool isTextByte(u8 byte) {
    return byte == 0x09 || byte == 0x0A || byte == 0x0D || (byte >= 0x20 && byte != 0x7F);
}

using End = WalkMemory::End;

// Up to `size` bytes at offset (cut at the window's end) into buffer; count is
// the number of text bytes they start with. False when offset lies at or past
// the window's end (CUT), the read fails (HALTED), or the block starts with a
// non-text byte (FAILED), with `why`.
bool readTextBlock(ByteSource& src, u64 offset, u8* buffer, u32 size, u32& count, End& why) {
    why = End::CUT;
    if (offset >= src.size())
        return false;
    size = static_cast<u32>(std::min<u64>(size, src.size() - offset));
    why = End::HALTED;
    if (!src.read(offset, buffer, size))
        return false;
    count = static_cast<u32>(std::find_if_not(buffer, buffer + size, isTextByte) - buffer);
    why = End::FAILED;
    return count > 0;
}

// What the searches of one scan found out about a closing tag. The searches
// read the text block by block on the sectors' grid, so a search from a later
// hit would read the same blocks from its own first one on: where an earlier
// search looked in vain, its answer is known.
struct TagSearch {
    std::string tag;
    u64 from = 0;  // where the search began, on the source
    u64 block = 0; // the block it read last, on the source
    End end = End::FAILED;
    u64 tagAt = 0;     // FOUND: where the tag stood
    u64 windowEnd = 0; // of that search's window, on the source
};

class TextMemory : public ScanMemory {
public:
    // The search for `tag` kept, or a new one (with from > block: nothing known).
    TagSearch& searchFor(const std::string& tag) {
        for (TagSearch& s : searches_)
            if (s.tag == tag)
                return s;
        // Documents of a scan end in few different tags; the oldest goes.
        if (searches_.size() == MAX_TAGS)
            searches_.erase(searches_.begin());
        searches_.push_back(TagSearch());
        searches_.back().tag = tag;
        searches_.back().from = ~u64(0);
        return searches_.back();
    }

private:
    static constexpr std::size_t MAX_TAGS = 16;
    std::vector<TagSearch> searches_;
};

// The first tag of the text, "<!" constructs skipped: its name (letters, digits,
// ':', '-', '+', possibly empty) and the index of the blank or '>' that ends it.
// False when a name meets any other byte, or no tag ends within length.
bool findRootElement(const u8* text, u32 length, std::string& name, u32& position) {
    u32 i = 0;
    while (i < length) {
        if (text[i] != '<') {
            ++i;
            continue;
        }
        if (i + 1 < length && text[i + 1] == '!') {
            i += 2;
            continue;
        }
        for (u32 j = i + 1; j < length; ++j) {
            if (text[j] == ' ' || text[j] == '>') {
                name.assign(reinterpret_cast<const char*>(text + i + 1), j - i - 1);
                position = j;
                return true;
            }
            if (!isNameByte(text[j]))
                return false;
        }
        return false;
    }
    return false;
}

} // namespace

bool FileModuleText::check(const u8* sector, u32 size) {
    for (const char* start : {"<html", "<body", "<?xml", "<title", "<!doctype html"}) {
        if (startsWithNoCase(sector, size, start))
            return true;
    }
    return false;
}

bool FileModuleText::analyze(dt::Reader& file, FileInfo& info) {
    return analyzeInScan(file, info, 0, nullptr);
}

std::unique_ptr<ScanMemory> FileModuleText::newScanMemory() const {
    return std::make_unique<TextMemory>();
}

bool FileModuleText::analyzeInScan(dt::Reader& file, FileInfo& info, u64 at,
                                   ScanMemory* scanMemory) {
    TextMemory fresh;
    TextMemory& memory = memoryOr(scanMemory, fresh);
    ByteSource src(file);
    // One block of text and, in front of it, the tail of the block before, so
    // that a closing tag split between two blocks is still found.
    u8 buffer[MAX_TAG_LENGTH + BLOCK_SIZE];
    u32 count = 0;
    End why = End::FAILED;
    if (!readTextBlock(src, 0, buffer, BLOCK_SIZE, count, why))
        return false;

    const bool xml = startsWithNoCase(buffer, count, XML_START);
    std::string root = "html";
    u32 from = HTML_SEARCH_START;
    if (xml) {
        u32 position = 0;
        if (count < MIN_XML_LENGTH ||
            !findRootElement(buffer + XML_START_LENGTH, count - XML_START_LENGTH, root, position))
            return false;
        from = XML_START_LENGTH + position + 1;
    }
    std::string tag = "</" + root + ">";
    if (tag.size() > MAX_TAG_LENGTH)
        return false;
    std::transform(tag.begin(), tag.end(), tag.begin(),
                   [](char c) { return static_cast<char>(lower(static_cast<u8>(c))); });
    const u32 tagLength = static_cast<u32>(tag.size());

    u64 blockOffset = 0; // where the block at buffer + kept lies in the window
    u32 kept = 0;        // bytes of the block before, in front of it
    TagSearch& known = memory.searchFor(tag);
    const u64 windowEnd = at + src.size();
    const bool covered = known.from <= at + from;
    if (covered && known.end == End::FOUND && known.tagAt >= at + from)
        return false; // the rest of a document found from an earlier hit
    if (covered && known.end != End::FOUND && at < known.block) {
        if (known.end == End::FAILED || (known.end == End::CUT && windowEnd <= known.windowEnd))
            return false;
        // Its blocks up to the last one were text without the tag: the search
        // goes on from there, with the tail of the block before.
        blockOffset = known.block - at;
        known.windowEnd = windowEnd;
        if (!src.read(blockOffset - tagLength, buffer, tagLength)) {
            known.end = End::HALTED;
            return false;
        }
        if (!readTextBlock(src, blockOffset, buffer + tagLength, BLOCK_SIZE, count, why)) {
            known.end = why;
            return false;
        }
        kept = tagLength;
        from = 0;
    } else {
        known.from = at + from;
    }

    u64 end = 0;
    for (;;) {
        const u32 length = kept + count;
        const u32 tagAt = findNoCase(buffer, from, length, tag);
        if (tagAt < length) {
            end = blockOffset - kept + tagAt + tagLength;
            known.end = End::FOUND;
            known.tagAt = at + end - tagLength;
            break;
        }
        known.block = at + blockOffset;
        known.windowEnd = windowEnd;
        if (count < BLOCK_SIZE) {
            // A block cut by the window's end with text to its last byte may go
            // on in a window that ends later.
            known.end = blockOffset + count == src.size() ? End::CUT : End::FAILED;
            return false;
        }
        std::memmove(buffer, buffer + length - tagLength, tagLength);
        kept = tagLength;
        from = 0;
        blockOffset += BLOCK_SIZE;
        if (!readTextBlock(src, blockOffset, buffer + kept, BLOCK_SIZE, count, why)) {
            known.block = at + blockOffset;
            known.end = why;
            return false;
        }
    }
    for (u32 i = 0; i < MAX_TRAILING_BYTES; ++i) {
        u8 c = 0;
        if (!src.u8At(end, c) || !isTrailingByte(c))
            break;
        ++end;
    }

    info.clear();
    info.setSize(end);
    info.setType(xml ? "xml" : "html");
    return true;
}

} // namespace cbr
