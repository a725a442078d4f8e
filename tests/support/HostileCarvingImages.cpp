#include "tests/support/HostileCarvingImages.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <stdexcept>

#include <zlib.h>

namespace hostile {

namespace {

constexpr u64 SECTOR = 512;

// One sector under construction; fields past its end are cut (they belong to
// the next sector, which writes its own bytes there).
class Sector {
public:
    explicit Sector(char fill = 0) : bytes_(SECTOR, fill) {}
    Sector& put(u64 at, const std::string& b) {
        for (std::size_t i = 0; i < b.size() && at + i < SECTOR; ++i)
            bytes_[at + i] = b[i];
        return *this;
    }
    Sector& le(u64 at, u64 value, unsigned width) { return number(at, value, width, false); }
    Sector& be(u64 at, u64 value, unsigned width) { return number(at, value, width, true); }
    const std::string& bytes() const { return bytes_; }

private:
    Sector& number(u64 at, u64 value, unsigned width, bool bigEndian) {
        for (unsigned i = 0; i < width; ++i)
            put(bigEndian ? at + width - 1 - i : at + i,
                std::string(1, static_cast<char>(value >> (8 * i))));
        return *this;
    }
    std::string bytes_;
};

// What a sector's builder is told: which header it is, whether it is the last
// one of its chain and ends the chain properly, how many bytes the image has
// from its start on, and how far on the next header of its chain starts (the
// next sector's, or with two chains interleaved the one after that).
struct Place {
    u64 index;
    bool last;
    bool ends;
    u64 rest;
    u64 next;
};
using Builder = Sector (*)(const Place&);

std::string letters(std::size_t n) {
    std::string text(n, 'a');
    for (std::size_t i = 0; i < n; ++i)
        text[i] = static_cast<char>('a' + i % 26);
    return text;
}

// Empty chunks, then one whose data reaches to byte 8 of the next header, where
// its first chunk stands.
Sector png(const Place& p) {
    Sector s;
    s.put(0, std::string("\x89PNG\r\n\x1A\n", 8));
    u64 at = 8;
    for (; at + 24 <= SECTOR; at += 12)
        s.be(at, 0, 4).put(at + 4, "tEXt").be(at + 8, crc32(0, Z_NULL, 0), 4);
    if (p.ends)
        return s.be(at, 0, 4).put(at + 4, "IEND").be(at + 8, 0xAE426082, 4);
    return s.be(at, p.next + 8 - at - 12, 4).put(at + 4, "tEXt").put(at + 8, letters(SECTOR));
}

Sector text(const Place& p, const std::string& start, const std::string& closing) {
    Sector s;
    s.put(0, start + letters(SECTOR - start.size()));
    if (p.ends)
        s.put(SECTOR - closing.size() - 2, closing + "\r\n");
    return s;
}
Sector html(const Place& p) {
    return text(p, "<html>", "</html>");
}
Sector xml(const Place& p) {
    return text(p, "<?xml version=\"1.0\"?>\n<book>", "</book>");
}

// Documents whose root elements cycle through 17 names; the last sector closes
// them all.
constexpr u64 ROOT_NAMES = 17;
Sector roots(const Place& p) {
    std::string closing;
    for (u64 n = 0; n < ROOT_NAMES; ++n)
        closing += "</root" + std::to_string(n) + ">";
    return text(
        p, "<?xml version=\"1.0\"?>\n<root" + std::to_string(p.index % ROOT_NAMES) + " a=\"b\">",
        closing);
}

// A comment extension of one-byte sub-blocks whose last one covers the next
// header's first 12 bytes; its 13th (the screen's aspect byte, 0) ends them, so
// that the next block is read where the next header's own first block stands.
Sector gif(const Place& p) {
    Sector s;
    s.put(0, "GIF89a").le(6, 1, 2).le(8, 1, 2); // 1 x 1, no colour table
    if (p.ends)
        return s.put(13, "\x3B");
    s.put(13, "\x21\xFE");
    u64 at = 15;
    for (; at + 2 < SECTOR - 12; at += 2)
        s.put(at, "\x01g");
    return s.le(at, SECTOR + 12 - at - 1, 1).put(at + 1, letters(SECTOR));
}

// A start of scan, entropy-coded bytes, empty comments, then a comment whose
// length reaches the start of scan of the next header (at its byte 2).
Sector jpeg(const Place& p) {
    Sector s('\x55');
    s.put(0, "\xFF\xD8\xFF\xDA").be(4, 2, 2);
    for (u64 at = 20; at < 504; at += 4)
        s.put(at, std::string("\xFF\xFE\x00\x02", 4));
    if (p.ends)
        return s.put(504, "\xFF\xD9");
    return s.put(504, "\xFF\xFE").be(506, p.next - 504, 2);
}

// 64 atoms of 8 bytes, the last reaching the next header's first atom.
Sector mov(const Place& p) {
    Sector s;
    s.be(0, 8, 4).put(4, "ftyp");
    for (u64 at = 8; at < SECTOR; at += 8)
        s.be(at, at + 8 == SECTOR ? p.next - at : 8, 4).put(at + 4, "free");
    if (p.ends)
        return s.put(SECTOR - 4, "junk"); // not a movie atom: the movie ends before it
    if (p.last)
        return s.be(SECTOR - 16, 4, 4); // smaller than an atom's own header
    return s;
}

// Empty stored members without names; the last one's data reaches the next
// header.
Sector zip(const Place& p) {
    Sector s;
    for (u64 at = 0; at + 30 <= SECTOR; at += 30)
        s.put(at, "PK\x03\x04").le(at + 4, 20, 2);
    if (!p.ends)
        return s.le(480 + 18, p.next - 510, 4).le(480 + 22, p.next - 510, 4);
    const u64 data = 10;
    s = Sector();
    s.put(0, "PK\x03\x04").le(4, 20, 2).le(18, data, 4).le(22, data, 4).le(26, 5, 2);
    s.put(30, "a.txt");
    const u64 central = 35 + data;
    s.put(central, "PK\x01\x02").le(central + 4, 20, 2).le(central + 6, 20, 2);
    s.le(central + 20, data, 4).le(central + 24, data, 4).le(central + 28, 5, 2);
    s.put(central + 46, "a.txt");
    const u64 eocd = central + 51;
    return s.put(eocd, "PK\x05\x06").le(eocd + 8, 1, 2).le(eocd + 10, 1, 2).le(eocd + 12, 51, 4);
}

// Empty level-0 members without names; the last one's packed data reaches the
// next sector.
Sector lzh(const Place& p) {
    Sector s;
    for (u64 at = 0; at + 24 <= SECTOR; at += 24) {
        const bool last = at + 48 > SECTOR;
        const u64 packed = !last || p.ends ? 0 : 8;
        s.le(at, 22, 1).put(at + 2, "-lh0-").le(at + 7, packed, 4).le(at + 19, 0x20, 1);
    }
    return s;
}

// The marker, the main header and empty file blocks; the last one's data
// reaches the next sector's first file block (over its marker and main header).
Sector rar(const Place& p) {
    Sector s;
    s.put(0, std::string("Rar!\x1A\x07\x00", 7));
    s.le(9, 0x73, 1).le(10, 0, 2).le(12, 13, 2);
    u64 at = 20;
    for (; at + 33 + 33 <= SECTOR; at += 33)
        s.le(at + 2, 0x74, 1).le(at + 3, 0x8000, 2).le(at + 5, 33, 2).le(at + 26, 1, 2);
    if (p.ends)
        return s.le(at + 2, 0x7B, 1).le(at + 3, 0x4000, 2).le(at + 5, 7, 2);
    s.le(at + 2, 0x74, 1).le(at + 3, 0x8000, 2).le(at + 5, 33, 2).le(at + 26, 1, 2);
    return s.le(at + 7, SECTOR + 20 - at - 33, 4);
}

// A main header (whose modification time, read as a member's packed size, is
// 0), then empty members without names; the last one's data reaches the next
// sector. A walk through the next sector takes its main header for a member
// and goes on.
Sector arj(const Place& p) {
    Sector s;
    auto header = [&](u64 at, u8 type, u64 packed) {
        s.put(at, "\x60\xEA").le(at + 2, 32, 2).le(at + 4, 30, 1).le(at + 5, 11, 1);
        s.le(at + 6, 1, 1).le(at + 10, type, 1).le(at + 16, packed, 4);
        const auto* basic = reinterpret_cast<const Bytef*>(s.bytes().data() + at + 4);
        s.le(at + 36, crc32(0, basic, 32), 4).le(at + 40, 0, 2);
    };
    header(0, 2, 0);
    u64 at = 42;
    for (; at + 42 + 42 <= SECTOR; at += 42)
        header(at, 0, 0);
    if (p.ends)
        return s.put(at, std::string("\x60\xEA\0\0", 4));
    header(at, 0, SECTOR - at - 42);
    return s;
}

// A directory that names itself as the next one; its strip byte counts are
// 32,768 SHORT values at the file's start.
Sector tiff(const Place&) {
    Sector s;
    s.put(0, std::string("II*\0", 4)).le(4, 8, 4).le(8, 1, 2);
    s.le(10, 0x0117, 2).le(12, 3, 2).le(14, 32768, 4).le(18, 0, 4);
    return s.le(22, 8, 4);
}

// A Minolta header whose block area reaches the image's end: empty blocks,
// the last reaching the first block of the next header.
Sector mrw(const Place& p) {
    Sector s;
    s.put(0, std::string("\0MRM", 4)).be(4, p.rest - 8, 4);
    for (u64 at = 8; at < SECTOR; at += 8)
        s.put(at, std::string("\0WBG", 4)).be(at + 4, at + 8 == SECTOR ? 8 : 0, 4);
    return s;
}

Sector crw(const Place&) {
    return Sector('\x11').put(0, std::string("II\x1A\0\0\0HEAPCCDR", 14));
}

// An ID3 tag and MPEG-1 Layer III frames of 96 bytes (32 kbit/s, 48 kHz).
Sector mp3(const Place&) {
    Sector s;
    s.put(0, std::string("ID3\x03\0\0\0\0\0\0", 10));
    for (u64 at = 10; at < SECTOR; at += 96)
        s.put(at, "\xFF\xFB\x14");
    return s;
}

// MPEG video: a sequence header, then bytes without a start code.
Sector mpv(const Place&) {
    return Sector('\x22').put(0, std::string("\0\0\x01\xB3", 4));
}

// MPEG-2 pack headers and nothing else: 34 of 14 bytes, 2 with 4 stuffing bytes.
Sector mpp(const Place&) {
    Sector s;
    for (u64 i = 0, at = 0; i < 36; ++i) {
        const u64 stuffing = i < 34 ? 0 : 4;
        s.put(at, std::string("\0\0\x01\xBA\x44\0\x04\0\x04\x01\x01\x89\xC3", 13));
        s.le(at + 13, 0xF8 | stuffing, 1).put(at + 14, std::string(stuffing, '\xFF'));
        at += 14 + stuffing;
    }
    return s;
}

// Every other sector a compound-file header whose 109 FAT sectors are the
// free sectors between the headers; the FAT says nothing is used.
Sector ole(const Place& p) {
    if (p.index % 2 == 1)
        return Sector('\xFF');
    Sector s;
    s.put(0, std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)).le(0x1A, 3, 2).le(0x1C, 0xFFFE, 2);
    s.le(0x1E, 9, 2).le(0x20, 6, 2).le(0x2C, 109, 4).le(0x30, 0, 4).le(0x44, 0xFFFFFFFE, 4);
    for (u64 i = 0; i < 109; ++i)
        s.le(0x4C + 4 * i, 2 * i, 4);
    return s;
}

// A header object of the largest size allowed, then objects of 24 bytes; the
// last reaches the next header's first object.
Sector asf(const Place&) {
    Sector s;
    s.put(0, std::string("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16));
    s.le(16, 0xFA000, 8).le(24, 0xFFFFFFFF, 4);
    u64 at = 30;
    for (; at + 24 + 24 <= SECTOR; at += 24)
        s.put(at, std::string(16, '\x01')).le(at + 16, 24, 8);
    return s.put(at, std::string(16, '\x01')).le(at + 16, SECTOR + 30 - at, 8);
}

// Headers whose size field claims the rest of the image.
Sector riff(const Place& p) {
    return Sector().put(0, "RIFF").le(4, p.rest - 8, 4).put(8, "AVI ");
}
Sector bmp(const Place& p) {
    return Sector().put(0, "BM").le(2, p.rest, 4);
}
Sector dbx(const Place& p) {
    Sector s;
    s.put(8,
          std::string("\x66\xE3\xD1\x11\x9A\x4E\x00\xC0\x4F\xA3\x09\xD4\x05\0\0\0\x05\0\0\0", 20));
    return s.le(0x7C, p.rest, 4);
}
Sector wmf(const Place& p) {
    Sector s;
    s.put(0, std::string("\xD7\xCD\xC6\x9A\0\0", 6)).le(22, 1, 2).le(24, 9, 2);
    return s.le(28, (p.rest - 22) / 2, 4);
}

const std::map<std::string, Builder>& builders() {
    static const std::map<std::string, Builder> all = {
        {"png", png},        {"html", html},        {"xml", xml},         {"gif", gif},
        {"jpeg", jpeg},      {"mov", mov},          {"zip", zip},         {"lzh", lzh},
        {"rar", rar},        {"arj", arj},          {"tiff", tiff},       {"mrw", mrw},
        {"crw", crw},        {"mp3", mp3},          {"ole", ole},         {"asf", asf},
        {"riff", riff},      {"bmp", bmp},          {"dbx", dbx},         {"wmf", wmf},
        {"mpeg-video", mpv}, {"mpeg-program", mpp}, {"xml-roots", roots},
    };
    return all;
}

// The kinds whose headers can reach the next header but one.
const char* const INTERLEAVING[] = {"jpeg", "mov", "png", "zip"};
const std::string INTERLEAVED = "-interleaved";

} // namespace

std::vector<std::string> kinds() {
    std::vector<std::string> names;
    for (const auto& b : builders())
        names.push_back(b.first);
    for (const char* kind : INTERLEAVING)
        names.push_back(kind + INTERLEAVED);
    return names;
}

std::vector<std::string> endingKinds() {
    std::vector<std::string> names = {"arj", "gif", "html", "jpeg", "lzh",      "mov",
                                      "png", "rar", "xml",  "zip",  "xml-roots"};
    for (const char* kind : INTERLEAVING)
        names.push_back(kind + INTERLEAVED);
    return names;
}

std::string image(const std::string& kind, u64 bytes, Ending ending, u64 headers) {
    // Two chains interleaved: each header reaches the next header but one.
    std::string base = kind;
    u64 chains = 1;
    if (kind.size() > INTERLEAVED.size() &&
        kind.compare(kind.size() - INTERLEAVED.size(), INTERLEAVED.size(), INTERLEAVED) == 0) {
        base = kind.substr(0, kind.size() - INTERLEAVED.size());
        chains = 2;
        if (std::find(std::begin(INTERLEAVING), std::end(INTERLEAVING), base) ==
            std::end(INTERLEAVING))
            throw std::invalid_argument("no hostile image of kind " + kind);
    }
    const auto builder = builders().find(base);
    if (builder == builders().end())
        throw std::invalid_argument("no hostile image of kind " + kind);
    const u64 sectors = bytes / SECTOR;
    headers = std::min(headers, sectors);
    std::string out(sectors * SECTOR, '\0');
    for (u64 i = 0; i < headers; ++i) {
        const bool last = i + chains >= headers;
        const Place place{i, last, last && ending == Ending::AT_THE_END, (sectors - i) * SECTOR,
                          chains * SECTOR};
        std::memcpy(&out[i * SECTOR], builder->second(place).bytes().data(), SECTOR);
    }
    return out;
}

} // namespace hostile
