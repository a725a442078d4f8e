#include "cbr/FileModuleMp3.h"

#include "cbr/ByteSource.h"
#include "core/Array.h"
#include "core/FileNames.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace cbr {

namespace {

// Streams of this size or less are dropped: short runs of bytes that happen to
// chain as frames are far more common than such short songs.
constexpr u64 MIN_SIZE = 65536;
constexpr u64 ID3V1_SIZE = 128;
constexpr u32 ID3V1_TITLE = 3;
constexpr u32 ID3V1_TITLE_SIZE = 30;
constexpr u32 ID3V2_HEADER_SIZE = 10;
constexpr u32 ID3V2_FOOTER_SIZE = 10;
constexpr u32 ID3V2_FRAME_HEADER_SIZE = 10;
// How much of a tag is read for its title: taggers put the title frame first,
// and pictures or lyrics behind it may make the tag large.
constexpr u64 MAX_TITLE_TAG = 16384;
// How far zero padding after the leading tag is searched for the first frame.
constexpr u64 ZERO_GAP = 2048;

constexpr u8 ID3V2_FOOTER = 0x10;
constexpr u8 ID3V2_EXTENDED_HEADER = 0x40;
constexpr u8 TEXT_LATIN = 0; // in the charset the settings give for ID3v2
constexpr u8 TEXT_UTF8 = 3;

// The length of the Layer III frame whose header is at h, or 0 when these four
// bytes are no such frame header.
u32 frameLength(const u8* h) {
    // kbit/s by bitrate index; 0 = free format or the forbidden index 15.
    static constexpr u16 MPEG1[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                      112, 128, 160, 192, 224, 256, 320, 0};
    static constexpr u16 MPEG2[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                      64, 80, 96, 112, 128, 144, 160, 0};
    // MPEG-2 frames hold half the samples at half these rates, so the MPEG-1
    // formula with the MPEG-1 rates gives their length as well.
    static constexpr u32 RATES[4] = {44100, 48000, 32000, 0};

    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return 0;
    const unsigned version = (h[1] >> 3) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const unsigned layer = (h[1] >> 1) & 3;   // 1 Layer III
    if (layer != 1 || (version != 3 && version != 2))
        return 0;
    const u32 kbps = (version == 3 ? MPEG1 : MPEG2)[h[2] >> 4];
    const u32 rate = RATES[(h[2] >> 2) & 3];
    const u32 padding = (h[2] >> 1) & 1;
    const unsigned emphasis = h[3] & 3;
    if (kbps == 0 || rate == 0 || emphasis == 2)
        return 0;
    return 144 * kbps * 1000 / rate + padding;
}

u32 synchsafe(const u8* b) {
    return b[0] * 0x200000u + b[1] * 0x4000u + b[2] * 0x80u + b[3];
}

bool isId3v2Start(const u8* b) {
    return std::memcmp(b, "ID3", 3) == 0 && (b[3] == 3 || b[3] == 4);
}

struct Id3v2Tag {
    u8 major = 0;
    u64 size = 0;         // header, frames, padding and footer
    u32 headerLength = 0; // where the frames begin
};

// The ID3v2 tag whose header is at `at`; false when the header is not one we accept.
bool readId3v2Header(ByteSource& src, u64 at, Id3v2Tag& tag) {
    u8 h[ID3V2_HEADER_SIZE + 4];
    if (!src.read(at, h, ID3V2_HEADER_SIZE) || !isId3v2Start(h) || h[4] == 0xFF ||
        (h[5] & 0x0F) != 0 || ((h[6] | h[7] | h[8] | h[9]) & 0x80) != 0)
        return false;
    tag.major = h[3];
    tag.size = u64(synchsafe(h + 6)) + ID3V2_HEADER_SIZE;
    if (h[5] & ID3V2_FOOTER)
        tag.size += ID3V2_FOOTER_SIZE;
    tag.headerLength = ID3V2_HEADER_SIZE;
    if (h[5] & ID3V2_EXTENDED_HEADER) {
        u8* ext = h + ID3V2_HEADER_SIZE;
        if (!src.read(at + ID3V2_HEADER_SIZE, ext, 4) ||
            ((ext[0] | ext[1] | ext[2] | ext[3]) & 0x80) != 0)
            return false;
        const u32 extSize = synchsafe(ext);
        if (extSize < 6)
            return false;
        // Version 4 counts the whole extended header; version 3 leaves out
        // its own four size bytes.
        tag.headerLength += extSize + (tag.major == 3 ? 4 : 0);
    }
    return true;
}

// Text up to its terminator: taggers often end a text with a zero byte, and
// pad ID3v1 fields with zeros or blanks.
std::size_t textLength(const u8* text, std::size_t n) {
    return static_cast<std::size_t>(std::find(text, text + n, 0) - text);
}

void keepLonger(std::string& title, std::string text) {
    if (text.size() > title.size())
        title = std::move(text);
}

// The text of a TIT2 frame's data; empty for the UTF-16 encodings.
std::string id3v2Text(const u8* data, u32 size) {
    const char* text = reinterpret_cast<const char*>(data + 1);
    const std::size_t n = textLength(data + 1, size - 1);
    if (data[0] == TEXT_LATIN)
        return convertToUtf8(text, n, CbrCharsets::instance().id3v2().c_str());
    if (data[0] == TEXT_UTF8)
        return std::string(text, n);
    return std::string();
}

// Takes the tag's title into `title` when it is longer than the one held.
void readId3v2Title(ByteSource& src, u64 at, const Id3v2Tag& tag, std::string& title) {
    if (tag.size <= tag.headerLength + 11u)
        return;
    std::vector<u8> rest(
        static_cast<std::size_t>(std::min(tag.size - tag.headerLength, MAX_TITLE_TAG)));
    if (!src.read(at + tag.headerLength, rest.data(), rest.size()))
        return;
    u64 p = 0;
    while (ID3V2_FRAME_HEADER_SIZE <= rest.size() - p) {
        const u8* frame = rest.data() + p;
        // Version 3 frame sizes are plain big-endian numbers, version 4 ones synchsafe.
        const u32 size = tag.major == 3 ? getBE32(frame, 4) : synchsafe(frame + 4);
        if (size == 0 || size > rest.size() - p - ID3V2_FRAME_HEADER_SIZE)
            return;
        for (int i = 0; i < 4; ++i)
            if (!((frame[i] >= 'A' && frame[i] <= 'Z') || (frame[i] >= '0' && frame[i] <= '9')))
                return;
        if ((frame[8] & 0x8F) != 0 || (frame[9] & 0xB0) != 0)
            return;
        if (std::memcmp(frame, "TIT2", 4) == 0) {
            keepLonger(title, id3v2Text(frame + ID3V2_FRAME_HEADER_SIZE, size));
            return;
        }
        p += ID3V2_FRAME_HEADER_SIZE + u64(size);
    }
}

void readId3v1Title(const u8* tag, std::string& title) {
    const u8* text = tag + ID3V1_TITLE;
    std::size_t n = textLength(text, ID3V1_TITLE_SIZE);
    while (n > 0 && text[n - 1] == ' ')
        --n;
    keepLonger(title, convertToUtf8(reinterpret_cast<const char*>(text), n,
                                    CbrCharsets::instance().id3v1().c_str()));
}

} // namespace

bool FileModuleMp3::check(const u8* sector, u32 size) {
    if (size < 4)
        return false;
    if (isId3v2Start(sector))
        return true;
    // Everything handed in must chain as frames.
    u64 position = 0;
    do {
        const u32 length = frameLength(sector + position);
        if (length == 0)
            return false;
        position += length;
    } while (position + 4 < size);
    return true;
}

bool FileModuleMp3::analyze(dt::Reader& file, FileInfo& info) {
    ByteSource src(file);
    u8 head[4];
    if (!src.read(0, head, sizeof head))
        return false;
    std::string title;
    u64 position = 0;
    if (isId3v2Start(head)) {
        Id3v2Tag tag;
        if (!readId3v2Header(src, 0, tag) || tag.size > src.size())
            return false;
        readId3v2Title(src, 0, tag, title);
        position = tag.size;
    }
    const u64 frameStart = position;
    while (true) {
        u8 h[4];
        if (!src.read(position, h, sizeof h))
            break;
        if (const u32 length = frameLength(h)) {
            position += length;
            continue;
        }
        if (std::memcmp(h, "TAG", 3) == 0) {
            u8 tag[ID3V1_SIZE];
            if (src.read(position, tag, sizeof tag)) {
                readId3v1Title(tag, title);
                position += ID3V1_SIZE;
            }
            break;
        }
        if (isId3v2Start(h)) {
            // A tag at the end; one that claims more than the window holds is
            // damaged and left out.
            Id3v2Tag tag;
            if (readId3v2Header(src, position, tag) && tag.size <= src.size() - position) {
                readId3v2Title(src, position, tag, title);
                position += tag.size;
            }
            break;
        }
        if (h[0] == 0 && position == frameStart && frameStart > 0) {
            // Padding between the leading tag and the first frame.
            const u8 sync = 0xFF;
            const u64 next = src.find(position, &sync, 1, position + ZERO_GAP);
            if (next == ByteSource::NOT_FOUND)
                break;
            position = next;
            continue;
        }
        break;
    }
    // A last frame cut by the window's end keeps only the bytes that are there.
    position = std::min(position, src.size());
    if (position <= MIN_SIZE)
        return false;
    info.clear();
    info.setType("mp3");
    info.setSize(position);
    if (!title.empty())
        info.getAttributes().set("name", title);
    return true;
}

} // namespace cbr
