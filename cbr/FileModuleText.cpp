#include "cbr/FileModuleText.h"

#include "cbr/ClosingTags.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace cbr {

namespace {

constexpr u32 BLOCK_SIZE = 512;
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

bool isTrailingByte(u8 c) {
    return c == '\n' || c == '\r' || c == ' ';
}

// Up to BLOCK_SIZE bytes at the window's start into buffer, read on their own:
// a hit whose search the scan's notes answer reads little more; count is the
// number of text bytes they start with. False when the window is empty, the
// read fails, or the block starts with a non-text byte.
bool readFirstBlock(dt::Reader& file, u8* buffer, u32& count) {
    const u32 size = static_cast<u32>(std::min<i64>(BLOCK_SIZE, file.getSize()));
    if (size == 0 || !file.read(0, buffer, size))
        return false;
    count = static_cast<u32>(std::find_if_not(buffer, buffer + size, isTextByte) - buffer);
    return count > 0;
}

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
    return std::make_unique<ClosingTags>();
}

bool FileModuleText::analyzeInScan(dt::Reader& file, FileInfo& info, u64 at,
                                   ScanMemory* scanMemory) {
    ClosingTags fresh;
    ClosingTags& memory = memoryOr(scanMemory, fresh);
    u8 buffer[BLOCK_SIZE];
    u32 count = 0;
    if (!readFirstBlock(file, buffer, count))
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
    if (tag.size() > ClosingTags::MAX_TAG_LENGTH)
        return false;
    std::transform(tag.begin(), tag.end(), tag.begin(),
                   [](char c) { return static_cast<char>(lower(static_cast<u8>(c))); });

    const u64 tagAt = memory.find(file, at, from, tag);
    if (tagAt == ClosingTags::NOT_FOUND)
        return false;
    u64 end = tagAt + tag.size();
    u8 trailing[MAX_TRAILING_BYTES];
    const u64 n = std::min<u64>(MAX_TRAILING_BYTES, static_cast<u64>(file.getSize()) - end);
    if (file.read(static_cast<i64>(end), trailing, static_cast<i64>(n)))
        end += std::find_if_not(trailing, trailing + n, isTrailingByte) - trailing;

    info.clear();
    info.setSize(end);
    info.setType(xml ? "xml" : "html");
    return true;
}

} // namespace cbr
