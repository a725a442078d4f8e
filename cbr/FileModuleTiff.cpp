#include "cbr/FileModuleTiff.h"

#include "cbr/ByteSource.h"
#include "cbr/FileModuleJpeg.h"
#include "cbr/Thumbnail.h"
#include "cbr/WalkMemory.h"
#include "core/Array.h"
#include "core/Checked.h"
#include "devices/DtReaderReader.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace cbr {

namespace {

// Bounds of one walk. A hostile file may chain directories into a loop or nest
// sub-directories without end; the directory count ends both.
constexpr u32 MAX_ENTRIES = 1000;
constexpr u32 MAX_DIRECTORIES = 1000;
constexpr u32 MAX_THUMBNAILS = 1000;
constexpr u32 ENTRY_SIZE = 12;
constexpr u64 MAX_STRIP_COUNTS_BYTES = 65536;
constexpr u64 MAX_SUB_IFD_LIST_BYTES = 1024;
// Sub-directories inside sub-directories: cameras nest one or two; a hostile
// file nesting a thousand would take the stack with it.
constexpr u32 MAX_SUB_IFD_DEPTH = 32;
// A JPEG has a handful of segments before its frame header; a walk that meets
// thousands is walking noise.
constexpr u32 MAX_JPEG_SEGMENTS = 4096;

// Tags.
constexpr u16 TAG_IMAGE_WIDTH = 0x0100;
constexpr u16 TAG_IMAGE_LENGTH = 0x0101;
constexpr u16 TAG_BITS_PER_SAMPLE = 0x0102;
constexpr u16 TAG_COMPRESSION = 0x0103;
constexpr u16 TAG_MAKE = 0x010F;
constexpr u16 TAG_MODEL = 0x0110;
constexpr u16 TAG_STRIP_OFFSETS = 0x0111;
constexpr u16 TAG_STRIP_BYTE_COUNTS = 0x0117;
constexpr u16 TAG_SUB_IFDS = 0x014A;
constexpr u16 TAG_JPEG_OFFSET = 0x0201;
constexpr u16 TAG_JPEG_LENGTH = 0x0202;
constexpr u16 TAG_KODAK_IFD = 0x8290;
constexpr u16 TAG_LEAF = 0x85FF;
constexpr u16 TAG_EXIF_IFD = 0x8769;
constexpr u16 TAG_MAKER_NOTE = 0x927C;
// Maker-note tags.
constexpr u16 TAG_MAKER_JPEG = 0x0081;
constexpr u16 TAG_MAKER_PREVIEW_OFFSET = 0x0088;
constexpr u16 TAG_MAKER_PREVIEW_LENGTH = 0x0089;

// Field types.
constexpr u16 TYPE_ASCII = 2;
constexpr u16 TYPE_SHORT = 3;
constexpr u16 TYPE_LONG = 4;
// Bytes of one value of the TIFF 6.0 types 1 to 12; 0 marks the invalid ones.
constexpr u8 TYPE_SIZES[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

constexpr u32 TIFF_LITTLE_MAGIC = 0x002A4949; // "II" 2A 00, read little-endian
constexpr u32 TIFF_BIG_MAGIC = 0x2A004D4D;    // "MM" 00 2A, read little-endian
// Some cameras leave a trailer of this mark and 0xA0 bytes after the last
// directory's data.
constexpr u8 TRAILER_MARK[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00};
constexpr u64 TRAILER_SIZE = 0xA0;
// The Sony F828 stores its raw picture without naming where it is.
constexpr u32 SONY_F828_RAW_OFFSET = 0xD27C0;

constexpr u64 roundUp(u64 value, u64 unit) {
    return ceilDiv(value, unit) * unit;
}

// Fields in the file's byte order.
bool readU16(ByteSource& src, bool little, u64 offset, u16& out) {
    return little ? src.le16(offset, out) : src.be16(offset, out);
}
bool readU32(ByteSource& src, bool little, u64 offset, u32& out) {
    return little ? src.le32(offset, out) : src.be32(offset, out);
}

bool isCanonEos1D(const std::string& model) {
    return model == "Canon EOS-1D" || model == "Canon EOS-1DS";
}

// The state of one walk over one file.
class TiffScanState {
public:
    explicit TiffScanState(u64 limit) : limit_(limit) { thumbnails_.reserve(8); }

    u64 end() const { return end_; }
    // Takes e as the file's end when it lies further; false when it passes the
    // window, because then something the file needs is not there.
    bool extendEnd(u64 e) {
        if (e <= end_)
            return true;
        if (e > limit_)
            return false;
        end_ = e;
        return true;
    }
    bool countIfd() { return ++ifdCount_ <= MAX_DIRECTORIES; }
    bool addThumbnail(const Thumbnail& t) {
        if (!t.isComplete() || thumbnails_.size() >= MAX_THUMBNAILS)
            return false;
        thumbnails_.push_back(t);
        return true;
    }
    const std::vector<Thumbnail>& thumbnails() const { return thumbnails_; }

    std::string make;
    std::string model;
    bool makerNoteIsIfd = false;
    u32 makerThumbnailOffset = Thumbnail::UNSET;
    u32 makerThumbnailSize = Thumbnail::UNSET;
    std::string makerThumbnailType;
    // An embedded JPEG is analysed once per file: its scan may run to the end of
    // the window, and a hostile maker note could ask for that a thousand times.
    bool makerJpegAnalysed = false;
    // The sums of the strip byte count lists read so far, by where the list
    // lies, its type and count: a directory that many others name is read
    // once.
    std::map<std::tuple<u64, u16, u32>, u32> stripByteCounts;

private:
    u64 end_ = 0;
    u64 limit_;
    u32 ifdCount_ = 0;
    std::vector<Thumbnail> thumbnails_;
};

// One directory entry, its integers in the file's byte order.
struct Entry {
    u64 at = 0; // where its 12 bytes lie
    u8 raw[ENTRY_SIZE] = {};
    u16 tag = 0;
    u16 type = 0;
    u32 count = 0;
    u32 value = 0;      // the value field as a u32: an offset when the data lies out of line
    u16 shortValue = 0; // the first u16 of the value field
    u64 dataSize = 0;

    bool validType() const { return type >= 1 && type <= 12; }
    bool outOfLine() const { return dataSize > 4; }
    u64 dataEnd() const { return u64(value) + dataSize; }
};

class TiffWalk {
public:
    // `at` is where the reader's byte 0 lies on the source, and `jpegWalks`
    // the scan's memory of the embedded JPEG walks (null outside a scan).
    TiffWalk(dt::Reader& reader, ByteSource& src, bool littleEndian, TiffScanState& state, u64 at,
             WalkMemory* jpegWalks)
        : reader_(reader), src_(src), little_(littleEndian), s_(state), at_(at),
          jpegWalks_(jpegWalks) {}

    bool walkIfd(u64 offset, u32* nextOffset);

private:
    bool walkEntries(u64 offset, u32* nextOffset);
    enum class Kind { EXIF, MAKER_NOTE, PLAIN };

    bool readU16(u64 offset, u16& out) { return cbr::readU16(src_, little_, offset, out); }
    bool readU32(u64 offset, u32& out) { return cbr::readU32(src_, little_, offset, out); }
    bool readEntry(u64 at, Entry& e);
    bool readText(const Entry& e, std::string& out);
    bool readStripByteCounts(const Entry& e, u32& out);
    bool walkSubIfds(const Entry& e);
    // The directories that are only checked for extents and a few tags.
    bool walkFramedIfd(u64 offset, Kind kind);
    bool onExifEntry(const Entry& e);
    bool correctKodakDc40(Thumbnail& t, const u64 (&at)[5]);
    bool readJpegFrameHeader(Thumbnail& t);

    dt::Reader& reader_;
    ByteSource& src_;
    bool little_;
    TiffScanState& s_;
    u64 at_;
    WalkMemory* jpegWalks_;
    u32 depth_ = 0; // of the sub-directory being walked
    // The directories being walked, the outermost first.
    std::vector<u64> open_;
};

bool TiffWalk::readEntry(u64 at, Entry& e) {
    if (!src_.read(at, e.raw, ENTRY_SIZE))
        return false;
    e.at = at;
    // 0x00 tag, 0x02 type, 0x04 count, 0x08 value or offset
    e.tag = little_ ? getLE16(e.raw, 0) : getBE16(e.raw, 0);
    e.type = little_ ? getLE16(e.raw, 2) : getBE16(e.raw, 2);
    e.count = little_ ? getLE32(e.raw, 4) : getBE32(e.raw, 4);
    e.value = little_ ? getLE32(e.raw, 8) : getBE32(e.raw, 8);
    e.shortValue = little_ ? getLE16(e.raw, 8) : getBE16(e.raw, 8);
    e.dataSize = e.validType() ? u64(TYPE_SIZES[e.type]) * e.count : 0;
    return true;
}

bool TiffWalk::readText(const Entry& e, std::string& out) {
    if (e.type != TYPE_ASCII || e.dataSize < 5 || e.dataSize > 64)
        return false;
    char text[64];
    if (!src_.read(e.value, text, e.dataSize))
        return false;
    out.assign(text, strnlen(text, static_cast<std::size_t>(e.dataSize)));
    return true;
}

bool TiffWalk::readStripByteCounts(const Entry& e, u32& out) {
    // Writers store short strips' counts as SHORT, larger ones as LONG; both
    // are the same list.
    if ((e.type != TYPE_LONG && e.type != TYPE_SHORT) || e.count == 0)
        return false;
    if (e.count == 1) {
        out = e.type == TYPE_LONG ? e.value : e.shortValue;
        return true;
    }
    if (e.dataSize > MAX_STRIP_COUNTS_BYTES)
        return false;
    const auto key = std::make_tuple(u64(e.value), e.type, e.count);
    const auto known = s_.stripByteCounts.find(key);
    if (known != s_.stripByteCounts.end()) {
        out = known->second;
        return true;
    }
    // Two SHORT counts lie in the entry itself, more lie out of line; the list
    // is read at once.
    std::vector<u8> list(static_cast<std::size_t>(e.dataSize));
    if (!e.outOfLine())
        std::memcpy(list.data(), e.raw + 8, list.size());
    else if (!src_.read(e.value, list.data(), list.size()))
        return false;
    const u32 width = e.type == TYPE_LONG ? 4 : 2;
    u64 sum = 0;
    for (std::size_t at = 0; at < list.size(); at += width) {
        if (width == 4)
            sum += little_ ? getLE32(list.data(), at) : getBE32(list.data(), at);
        else
            sum += little_ ? getLE16(list.data(), at) : getBE16(list.data(), at);
    }
    // The picture's size is a u32 whose all-ones value means "unknown".
    if (sum >= Thumbnail::UNSET)
        return false;
    out = static_cast<u32>(sum);
    s_.stripByteCounts[key] = out;
    return true;
}

bool TiffWalk::walkSubIfds(const Entry& e) {
    if (e.type != TYPE_LONG || e.count == 0 || depth_ >= MAX_SUB_IFD_DEPTH)
        return false;
    if (e.count > 1 && e.dataSize > MAX_SUB_IFD_LIST_BYTES)
        return false;
    ++depth_;
    bool ok = true;
    for (u32 i = 0; i < e.count && ok; ++i) {
        u32 sub = e.value;
        // A directory that names one it lies inside would be walked again and
        // again until the nesting or the directory count stops it, and then
        // the file is turned away: it is turned away at once.
        ok = (e.count == 1 || readU32(u64(e.value) + u64(i) * 4, sub)) &&
             std::find(open_.begin(), open_.end(), sub) == open_.end() && walkIfd(sub, nullptr);
    }
    --depth_;
    return ok;
}

bool TiffWalk::walkIfd(u64 offset, u32* nextOffset) {
    if (!s_.countIfd())
        return false;
    open_.push_back(offset);
    const bool ok = walkEntries(offset, nextOffset);
    open_.pop_back();
    return ok;
}

bool TiffWalk::walkEntries(u64 offset, u32* nextOffset) {
    u16 count = 0;
    if (!readU16(offset, count) || count > MAX_ENTRIES)
        return false;
    const u64 table = offset + 2;
    const u64 tableLength = u64(count) * ENTRY_SIZE + (nextOffset ? 4 : 0);
    if (!s_.extendEnd(table + tableLength))
        return false;

    Thumbnail t;
    // Where the entries that describe the picture lie, for the camera corrections.
    enum { WIDTH, HEIGHT, BITS, COMPRESSION, STRIPS };
    constexpr u64 NONE = ~u64(0);
    u64 at[5] = {NONE, NONE, NONE, NONE, NONE};

    for (u32 i = 0; i < count; ++i) {
        Entry e;
        if (!readEntry(table + u64(i) * ENTRY_SIZE, e))
            return false;
        if (e.tag == 0)
            continue;
        if (!e.validType())
            return false;
        switch (e.tag) {
        case TAG_IMAGE_WIDTH:
        case TAG_IMAGE_LENGTH: {
            u64& seen = at[e.tag == TAG_IMAGE_WIDTH ? WIDTH : HEIGHT];
            if (seen != NONE || e.count != 1 || (e.type != TYPE_SHORT && e.type != TYPE_LONG))
                return false;
            seen = e.at;
            (e.tag == TAG_IMAGE_WIDTH ? t.width : t.height) =
                e.type == TYPE_SHORT ? e.shortValue : e.value;
            break;
        }
        case TAG_BITS_PER_SAMPLE: {
            if (at[BITS] != NONE || e.type != TYPE_SHORT || e.count < 1)
                return false;
            at[BITS] = e.at;
            u16 bits = e.shortValue;
            if (e.outOfLine() && !readU16(e.value, bits))
                return false;
            t.bitsPerSample = bits;
            t.samples = e.count;
            break;
        }
        case TAG_COMPRESSION:
            if (at[COMPRESSION] != NONE || e.type != TYPE_SHORT || e.count != 1)
                return false;
            at[COMPRESSION] = e.at;
            t.compression = e.shortValue;
            break;
        case TAG_MAKE:
            if (!readText(e, s_.make))
                return false;
            break;
        case TAG_MODEL:
            if (!readText(e, s_.model))
                return false;
            break;
        case TAG_STRIP_OFFSETS: {
            if (t.offset != Thumbnail::UNSET || (e.type != TYPE_SHORT && e.type != TYPE_LONG))
                return false;
            at[STRIPS] = e.at;
            if (!e.outOfLine()) {
                if (e.count != 1)
                    return false;
                t.offset = e.type == TYPE_SHORT ? e.shortValue : e.value;
                break;
            }
            if (e.type == TYPE_SHORT) {
                u16 first = 0;
                if (!readU16(e.value, first))
                    return false;
                t.offset = first;
            } else if (!readU32(e.value, t.offset)) {
                return false;
            }
            // The list of strip offsets is part of the file too; when it lies
            // inside the window it counts towards the end (a list beyond the
            // window is let pass, as some cameras write a broken one).
            s_.extendEnd(e.dataEnd());
            break;
        }
        case TAG_STRIP_BYTE_COUNTS:
            if (t.size != Thumbnail::UNSET || !readStripByteCounts(e, t.size))
                return false;
            break;
        case TAG_JPEG_OFFSET:
        case TAG_JPEG_LENGTH:
            if (e.type != TYPE_LONG || e.count != 1)
                return false;
            (e.tag == TAG_JPEG_OFFSET ? t.offset : t.size) = e.value;
            break;
        case TAG_SUB_IFDS:
            if (!walkSubIfds(e))
                return false;
            break;
        case TAG_LEAF:
            if (!s_.make.empty())
                return false;
            s_.make = "Leaf";
            break;
        case TAG_EXIF_IFD:
            if (e.type != TYPE_LONG || e.count != 1 || !walkFramedIfd(e.value, Kind::EXIF))
                return false;
            break;
        case TAG_KODAK_IFD:
            if (s_.make == "Kodak" &&
                (e.type != TYPE_LONG || e.count != 1 || !walkFramedIfd(e.value, Kind::PLAIN)))
                return false;
            break;
        default:
            break;
        }
        if (e.tag != TAG_STRIP_OFFSETS && e.outOfLine() && !s_.extendEnd(e.dataEnd()))
            return false;
    }
    if (nextOffset && !readU32(table + u64(count) * ENTRY_SIZE, *nextOffset))
        return false;

    if (s_.make == "Eastman Kodak Company" && s_.model == "Digital Camera 40" &&
        !correctKodakDc40(t, at))
        return false;
    if (s_.make == "SONY" && s_.model == "DSC-F828" && t.offset == Thumbnail::UNSET)
        t.offset = SONY_F828_RAW_OFFSET;

    if (t.offset == Thumbnail::UNSET)
        return true;
    if ((t.width == Thumbnail::UNSET || t.height == Thumbnail::UNSET ||
         t.bitsPerSample == Thumbnail::UNSET || t.samples == Thumbnail::UNSET) &&
        !readJpegFrameHeader(t))
        return false;
    return s_.addThumbnail(t) && s_.extendEnd(u64(t.offset) + t.size);
}

// This camera writes its picture entries big-endian whatever its header says.
bool TiffWalk::correctKodakDc40(Thumbnail& t, const u64 (&at)[5]) {
    u8 raw[5][ENTRY_SIZE];
    for (int i = 0; i < 5; ++i)
        if (at[i] == ~u64(0) || !src_.read(at[i], raw[i], ENTRY_SIZE))
            return false;
    t.width = getBE16(raw[0], 10);
    t.height = getBE16(raw[1], 10);
    t.compression = getBE16(raw[3], 10);
    t.offset = getBE32(raw[4], 8);
    const u32 count = getBE32(raw[2], 4);
    const u32 value = getBE32(raw[2], 8);
    if (count > 2) {
        u16 bits = 0;
        if (!src_.le16(value, bits))
            return false;
        t.bitsPerSample = bits;
    } else {
        t.bitsPerSample = getBE16(raw[2], 10);
    }
    return true;
}

bool TiffWalk::walkFramedIfd(u64 offset, Kind kind) {
    if (!s_.countIfd())
        return false;
    u16 count = 0;
    if (!readU16(offset, count) || count == 0 || count > MAX_ENTRIES)
        return false;
    const u64 table = offset + 2;
    if (!s_.extendEnd(table + u64(count) * ENTRY_SIZE))
        return false;
    u32 previewOffset = Thumbnail::UNSET;
    u32 previewLength = Thumbnail::UNSET;
    for (u32 i = 0; i < count; ++i) {
        Entry e;
        if (!readEntry(table + u64(i) * ENTRY_SIZE, e))
            return false;
        if (!e.validType() || (kind != Kind::PLAIN && e.count == 0))
            return false;
        if (e.outOfLine() && !s_.extendEnd(e.dataEnd()))
            return false;
        if (kind == Kind::EXIF) {
            if (!onExifEntry(e))
                return false;
        } else if (kind == Kind::MAKER_NOTE && e.type == TYPE_LONG) {
            if (e.tag == TAG_MAKER_PREVIEW_OFFSET) {
                previewOffset = e.value;
            } else if (e.tag == TAG_MAKER_PREVIEW_LENGTH) {
                previewLength = e.value;
            } else if (e.tag == TAG_MAKER_JPEG && !s_.makerJpegAnalysed) {
                // An embedded JPEG that is really there belongs to the file; one
                // that is not is no reason to drop it.
                static constexpr u8 SOI[3] = {0xFF, 0xD8, 0xFF};
                if (!src_.matches(e.value, SOI, sizeof SOI))
                    continue;
                s_.makerJpegAnalysed = true;
                dt::ReaderReader window(&reader_);
                FileModuleJpeg jpeg;
                FileInfo found;
                // Through the scan's memory of these walks: a preview that the
                // files of many hits name is walked once.
                if (window.init(e.value, static_cast<i64>(src_.size() - e.value)) &&
                    jpeg.analyzeInScan(window, found, at_ + e.value, jpegWalks_) &&
                    !s_.extendEnd(u64(e.value) + found.getSize()))
                    return false;
            }
        }
    }
    if (kind == Kind::MAKER_NOTE && previewOffset != Thumbnail::UNSET) {
        if (previewLength == Thumbnail::UNSET)
            return false;
        s_.makerThumbnailOffset = previewOffset;
        s_.makerThumbnailSize = previewLength;
        s_.makerThumbnailType = "jpeg";
    }
    return true;
}

bool TiffWalk::onExifEntry(const Entry& e) {
    if (e.tag != TAG_MAKER_NOTE)
        return true;
    if (s_.makerNoteIsIfd || s_.make == "Canon")
        return e.dataSize >= 5 && walkFramedIfd(e.value, Kind::MAKER_NOTE);
    if (s_.make == "SAMSUNG TECHWIN") {
        // Its maker note names the start and length of the raw picture.
        u8 extent[8];
        if (e.dataSize < 5 || !src_.read(u64(e.value) + 8, extent, sizeof extent))
            return false;
        s_.extendEnd(u64(getBE32(extent, 0)) + getBE32(extent, 4));
    }
    return true;
}

bool TiffWalk::readJpegFrameHeader(Thumbnail& t) {
    static constexpr u8 SOI[2] = {0xFF, 0xD8};
    if (!src_.matches(t.offset, SOI, sizeof SOI))
        return false;
    u64 p = u64(t.offset) + 2;
    for (u32 segment = 0; segment < MAX_JPEG_SEGMENTS; ++segment) {
        u8 marker[4]; // FF, code, u16 BE length
        if (!src_.read(p, marker, sizeof marker) || marker[0] != 0xFF)
            return false;
        const u8 code = marker[1];
        if (code == 0xC0 || code == 0xC3) { // baseline or lossless frame
            u8 frame[6];                    // precision, lines, samples per line, components
            if (!src_.read(p + 4, frame, sizeof frame))
                return false;
            t.bitsPerSample = frame[0];
            t.height = getBE16(frame, 1);
            t.width = getBE16(frame, 3);
            t.samples = frame[5];
            return true;
        }
        if (code == 0xDA) // start of scan: no frame header we can read
            return true;
        p += u64(getBE16(marker, 2)) + 2;
    }
    return false;
}

// Picks the preview to keep: never the largest picture, which is the photo
// itself (except on the two Canon models whose files hold no separate preview
// worth the name); among the rest the smallest 8-bit RGB or JPEG one, failing
// that the smallest consistent one.
const Thumbnail* choosePreview(const TiffScanState& s) {
    const std::vector<Thumbnail>& all = s.thumbnails();
    std::size_t main = all.size();
    if (!isCanonEos1D(s.model)) {
        u64 largest = 0;
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (main == all.size() || all[i].area() > largest) {
                largest = all[i].area();
                main = i;
            }
        }
    }
    constexpr u64 NO_AREA = 0x7FFFFFFF;
    const Thumbnail* preferred = nullptr;
    const Thumbnail* any = nullptr;
    u64 preferredArea = NO_AREA;
    u64 anyArea = NO_AREA;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Thumbnail& t = all[i];
        if (i == main || t.isInconsistent())
            continue;
        const bool rgb8 =
            t.compression == Thumbnail::UNCOMPRESSED && t.samples == 3 && t.bitsPerSample == 8;
        const bool jpeg = t.compression == Thumbnail::JPEG || t.compression == Thumbnail::JPEG_NEW;
        if ((rgb8 || jpeg) && t.area() < preferredArea) {
            preferredArea = t.area();
            preferred = &t;
        }
        if (t.area() < anyArea) {
            anyArea = t.area();
            any = &t;
        }
    }
    return preferred ? preferred : any;
}

bool finishTiff(TiffScanState& s, FileInfo& info) {
    const Thumbnail* preview = choosePreview(s);
    info.clear();
    const char* extension = rawExtensionForMaker(s.make.c_str(), s.model.c_str());
    if (extension) {
        info.setType(extension);
        info.getAttributes().setUInt8("raw", 1);
    } else {
        info.setType("tiff");
    }
    // This camera pads its files to whole 64 KB.
    if (s.make.compare(0, 4, "SONY") == 0 && s.model == "DSLR-A330" && s.end() % 65536 != 0)
        s.extendEnd(roundUp(s.end(), 65536));
    info.setSize(s.end());
    if (preview)
        preview->storeIn(info);
    return true;
}

bool readTiffHeader(const u8* h, bool& little, u32& firstIfd) {
    const u32 magic = getLE32(h, 0);
    if (magic != TIFF_LITTLE_MAGIC && magic != TIFF_BIG_MAGIC)
        return false;
    little = magic == TIFF_LITTLE_MAGIC;
    firstIfd = little ? getLE32(h, 4) : getBE32(h, 4);
    return true;
}

// What the module keeps for one scan: the walks over MRW blocks, and those of
// the JPEG module over previews embedded in maker notes.
class TiffMemory : public ScanMemory {
public:
    WalkMemory mrwBlocks;
    WalkMemory jpegWalks;
};

// The block area of an MRW file, up to `total`: the sensor size from its PRD
// block and where its TTW block's TIFF starts. False when a block cannot be
// read. A walk that met neither block is kept in the scan's memory (with those
// blocks, what a later walk would make of it depends on its own limit), so
// that a later hit whose blocks join its path follows it.
bool walkMrwBlocks(ByteSource& src, bool little, u64 total, u64 at, WalkMemory* memory,
                   u64& tiffStart, u16& sensorHeight, u16& sensorWidth, bool& havePrd,
                   bool& haveTtw) {
    WalkMemory::Walk walk(memory, at, src.size());
    WalkMemory::Place block{8};
    while (block.at < total) {
        // A later walk follows no further than its own block area goes.
        if (walk.arrive(block, total - 1) != WalkMemory::Next::GO_ON)
            return false;
        u8 head[8]; // tag, u32 length
        if (!src.read(block.at, head, sizeof head))
            return havePrd || haveTtw ? false : walk.readFailed(block, src.has(block.at, 8));
        const u32 length = little ? getLE32(head, 4) : getBE32(head, 4);
        if (std::memcmp(head, "\0PRD", 4) == 0) {
            if (!readU16(src, little, block.at + 16, sensorHeight) ||
                !readU16(src, little, block.at + 18, sensorWidth))
                return false;
            havePrd = true;
        } else if (std::memcmp(head, "\0TTW", 4) == 0) {
            tiffStart = block.at + 8;
            haveTtw = true;
        }
        block.at += u64(length) + 8;
        ++block.steps;
    }
    // Where this walk's block area ends, a later one's may go on.
    if (!havePrd && !haveTtw)
        walk.ended(WalkMemory::End::HALTED, block);
    return true;
}

// Minolta's MRW: blocks of a 4-byte tag and a length, among them the sensor
// size ("\0PRD") and a TIFF block ("\0TTW"); the 12-bit sensor data follows the
// block area.
bool analyzeMrw(dt::Reader& file, ByteSource& src, FileInfo& info, bool little, u64 at,
                TiffMemory* memory) {
    u32 headerLength = 0;
    if (!readU32(src, little, 4, headerLength))
        return false;
    const u64 total = u64(headerLength) + 8;
    if (total > src.size())
        return false;
    bool havePrd = false;
    u64 tiffStart = 0;
    bool haveTtw = false;
    u16 sensorHeight = 0;
    u16 sensorWidth = 0;
    if (!walkMrwBlocks(src, little, total, at, memory ? &memory->mrwBlocks : nullptr, tiffStart,
                       sensorHeight, sensorWidth, havePrd, haveTtw) ||
        !havePrd || !haveTtw || tiffStart >= total)
        return false;

    u8 h[8];
    bool tiffLittle = false;
    u32 firstIfd = 0;
    if (!src.read(tiffStart, h, sizeof h) || !readTiffHeader(h, tiffLittle, firstIfd))
        return false;
    dt::ReaderReader window(&file);
    if (!window.init(static_cast<i64>(tiffStart), static_cast<i64>(src.size() - tiffStart)))
        return false;
    ByteSource tiff(window);
    TiffScanState s(tiff.size());
    const u64 sensorBytes = u64(sensorWidth) * sensorHeight * 3 / 2; // 12 bits a pixel
    if (!s.extendEnd((total - tiffStart) + sensorBytes))
        return false;
    s.makerNoteIsIfd = true;
    TiffWalk walk(window, tiff, tiffLittle, s, at + tiffStart,
                  memory ? &memory->jpegWalks : nullptr);
    u32 next = 0; // the camera writes one directory; whatever follows is not ours
    if (!walk.walkIfd(firstIfd, &next))
        return false;

    info.clear();
    info.setType("mrw");
    info.setSize(s.end() + tiffStart);
    info.getAttributes().setUInt8("raw", 1);
    const u64 previewOffset = u64(s.makerThumbnailOffset) + tiffStart;
    if (!s.makerThumbnailType.empty() && previewOffset < Thumbnail::UNSET) {
        info.getAttributes().setUInt32("thumbnail_offset", static_cast<u32>(previewOffset));
        info.getAttributes().setUInt32("thumbnail_size", s.makerThumbnailSize);
        info.getAttributes().setUInt32("thumbnail_compression", Thumbnail::JPEG);
    }
    return true;
}

} // namespace

bool FileModuleTiff::check(const u8* sector, u32 size) {
    static constexpr u8 SIGNATURES[4][4] = {
        {0x49, 0x49, 0x2A, 0x00}, // TIFF, little-endian
        {0x4D, 0x4D, 0x00, 0x2A}, // TIFF, big-endian
        {0x00, 0x4D, 0x52, 0x49}, // MRW, little-endian
        {0x00, 0x4D, 0x52, 0x4D}, // MRW, big-endian
    };
    for (const auto& signature : SIGNATURES)
        if (startsWith(sector, size, signature, sizeof signature))
            return true;
    return false;
}

bool FileModuleTiff::analyze(dt::Reader& file, FileInfo& info) {
    return analyzeInScan(file, info, 0, nullptr);
}

std::unique_ptr<ScanMemory> FileModuleTiff::newScanMemory() const {
    return std::make_unique<TiffMemory>();
}

bool FileModuleTiff::analyzeInScan(dt::Reader& file, FileInfo& info, u64 at,
                                   ScanMemory* scanMemory) {
    TiffMemory* memory = dynamic_cast<TiffMemory*>(scanMemory);
    ByteSource src(file);
    u8 h[8];
    if (!src.read(0, h, sizeof h))
        return false;
    if (h[0] == 0x00)
        return analyzeMrw(file, src, info, h[3] == 'I', at, memory);
    bool little = false;
    u32 next = 0;
    if (!readTiffHeader(h, little, next))
        return false;
    TiffScanState s(src.size());
    if (!s.extendEnd(sizeof h))
        return false;
    TiffWalk walk(file, src, little, s, at, memory ? &memory->jpegWalks : nullptr);
    // A chain of directories that comes back to one it passed would go round
    // until the directory count stops it, and then the file is turned away:
    // it is turned away at once.
    std::set<u64> chain;
    do {
        const u64 offset = next;
        if (!chain.insert(offset).second)
            return false;
        if (!walk.walkIfd(offset, &next))
            return false;
    } while (next != 0);

    if (s.make == "Canon" && isCanonEos1D(s.model) && s.end() % 16 != 0)
        s.extendEnd(roundUp(s.end(), 16));
    u8 trailer[sizeof TRAILER_MARK];
    if (src.read(s.end(), trailer, sizeof trailer) &&
        std::memcmp(trailer, TRAILER_MARK, sizeof trailer) == 0 &&
        !s.extendEnd(s.end() + TRAILER_SIZE))
        return false;
    return finishTiff(s, info);
}

} // namespace cbr
