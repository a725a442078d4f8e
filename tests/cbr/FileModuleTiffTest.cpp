#include "cbr/FileModuleTiff.h"

#include "core/Array.h"
#include "tests/cbr/ModuleTestUtil.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using moduletest::analyze;
using moduletest::garbage;

// Camera raw files cannot be made by any tool at hand: these tests build TIFF
// structures by hand, directory by directory, in either byte order.
class TiffBuilder {
public:
    struct Field {
        u16 tag;
        u16 type;
        u32 count;
        std::string data; // the values in the file's byte order
    };

    explicit TiffBuilder(bool little) : little_(little) {
        bytes_ = little ? std::string("II\x2A\x00", 4) : std::string("MM\x00\x2A", 4);
        bytes_ += u32s({0});
    }

    std::string u16s(std::initializer_list<u32> values) const {
        std::string out;
        for (u32 v : values)
            put(out, v, 2);
        return out;
    }
    std::string u32s(std::initializer_list<u32> values) const {
        std::string out;
        for (u32 v : values)
            put(out, v, 4);
        return out;
    }
    Field shortField(u16 tag, u32 v) const { return {tag, 3, 1, u16s({v})}; }
    Field longField(u16 tag, u32 v) const { return {tag, 4, 1, u32s({v})}; }
    Field text(u16 tag, const std::string& s) const {
        return {tag, 2, static_cast<u32>(s.size() + 1), s + '\0'};
    }

    // Appends bytes at an even offset and returns that offset.
    u32 append(const std::string& blob) {
        if (bytes_.size() % 2)
            bytes_ += '\0';
        const u32 at = static_cast<u32>(bytes_.size());
        bytes_ += blob;
        return at;
    }

    // Appends the out-of-line data, then the directory (with a zero next
    // offset when withNext); returns the directory's offset.
    u32 ifd(const std::vector<Field>& fields, bool withNext = true) {
        std::vector<std::string> values;
        for (const Field& f : fields) {
            if (f.data.size() <= 4) {
                std::string inLine = f.data;
                inLine.resize(4, '\0');
                values.push_back(inLine);
            } else {
                values.push_back(u32s({append(f.data)}));
            }
        }
        std::string table;
        put(table, static_cast<u32>(fields.size()), 2);
        for (std::size_t i = 0; i < fields.size(); ++i) {
            put(table, fields[i].tag, 2);
            put(table, fields[i].type, 2);
            put(table, fields[i].count, 4);
            table += values[i];
        }
        if (withNext)
            table += u32s({0});
        return append(table);
    }

    void setFirst(u32 ifdOffset) { patch(4, ifdOffset); }
    void setNext(u32 ifdOffset, u32 next) {
        const u32 count = little_ ? getLE16(data(), ifdOffset) : getBE16(data(), ifdOffset);
        patch(ifdOffset + 2 + 12 * count, next);
    }
    void patch(u32 at, u32 v) { bytes_.replace(at, 4, u32s({v})); }

    const std::string& bytes() const { return bytes_; }

private:
    void put(std::string& out, u32 v, int width) const {
        for (int i = 0; i < width; ++i) {
            const int shift = little_ ? 8 * i : 8 * (width - 1 - i);
            out += static_cast<char>((v >> shift) & 0xFF);
        }
    }
    const u8* data() const { return reinterpret_cast<const u8*>(bytes_.data()); }

    bool little_;
    std::string bytes_;
};

// A small RGB picture's directory entries, its pixels appended first.
std::vector<TiffBuilder::Field> rgbPicture(TiffBuilder& b, u32 width, u32 height) {
    const u32 pixels = b.append(std::string(width * height * 3, '\x40'));
    return {b.shortField(0x0100, width),       b.shortField(0x0101, height),
            {0x0102, 3, 3, b.u16s({8, 8, 8})}, b.shortField(0x0103, 1),
            b.longField(0x0111, pixels),       b.longField(0x0117, width * height * 3)};
}

u32 attr(const moduletest::Analysis& a, const char* key) {
    return a.info.getAttributes().getUInt32(key, 0xFFFFFFFF);
}

// A baseline JPEG from ImageMagick, as a camera would embed its preview.
std::string smallJpeg(const testutil::TempDir& dir, const char* options = "") {
    return moduletest::make(
        dir, std::string("convert -size 96x64 gradient:red-blue ") + options + " p.jpg", "p.jpg");
}

TEST(FileModuleTiffTest, CheckTakesTheFourSignatures) {
    cbr::FileModuleTiff module;
    EXPECT_TRUE(moduletest::check(module, std::string("II\x2A\x00", 4)));
    EXPECT_TRUE(moduletest::check(module, std::string("MM\x00\x2A", 4)));
    EXPECT_TRUE(moduletest::check(module, std::string("\x00MRM", 4)));
    EXPECT_TRUE(moduletest::check(module, std::string("\x00MRI", 4)));
    EXPECT_FALSE(moduletest::check(module, std::string("II\x2B\x00", 4)));
    EXPECT_FALSE(moduletest::check(module, std::string("II\x2A", 3)));
}

TEST(FileModuleTiffTest, ImageMagickPicturesInBothByteOrdersEndWhereTheyEnd) {
    testutil::TempDir dir;
    cbr::FileModuleTiff module;
    for (const char* endian : {"lsb", "msb"}) {
        // One strip, and many short strips whose counts are stored as SHORTs.
        for (const char* strips : {"", "-define tiff:rows-per-strip=4"}) {
            const std::string cmd = std::string("convert -size 64x48 gradient:red-blue -depth 8 ") +
                                    strips + " -define tiff:endian=" + endian + " one.tif";
            const std::string tiff = moduletest::make(dir, cmd, "one.tif");
            ASSERT_TRUE(moduletest::check(module, tiff));
            const auto found = analyze(module, tiff + garbage(3000));
            ASSERT_TRUE(found.ok) << cmd;
            EXPECT_EQ(found.size(), tiff.size()) << cmd;
            EXPECT_EQ(found.type(), "tiff");
            // The only picture is the photo itself: no preview.
            EXPECT_EQ(attr(found, "thumbnail_offset"), 0xFFFFFFFFu);
            EXPECT_EQ(found.info.getAttributes().getUInt8("raw", 0), 0);
            // Cut short: the picture or its directory is missing.
            EXPECT_FALSE(analyze(module, tiff.substr(0, tiff.size() - 1)).ok) << cmd;
        }
    }
}

TEST(FileModuleTiffTest, TheSmallerJpegPageOfAMultiPageFileIsThePreview) {
    testutil::TempDir dir;
    cbr::FileModuleTiff module;
    const std::string tiff = moduletest::make(
        dir,
        "convert -size 320x240 gradient:red-blue -depth 8 \\( +clone -resize 80x60 \\) "
        "-compress jpeg -define tiff:endian=msb two.tif",
        "two.tif");
    const auto found = analyze(module, tiff + garbage(100));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.size(), tiff.size());
    EXPECT_EQ(found.type(), "tiff");
    EXPECT_EQ(attr(found, "thumbnail_width"), 80u);
    EXPECT_EQ(attr(found, "thumbnail_height"), 60u);
    EXPECT_EQ(attr(found, "thumbnail_compression"), 7u);
    EXPECT_EQ(attr(found, "thumbnail_samples"), 3u);
    const u32 offset = attr(found, "thumbnail_offset");
    ASSERT_LT(offset, tiff.size());
    EXPECT_EQ(tiff.substr(offset, 2), "\xFF\xD8");
}

TEST(FileModuleTiffTest, TheMakerAndModelNameTheRawFormat) {
    testutil::TempDir dir;
    cbr::FileModuleTiff module;
    moduletest::make(dir,
                     "convert -size 320x240 gradient:red-blue -depth 8 \\( +clone -resize 160x120 "
                     "\\) -compress none two.tif",
                     "two.tif");
    struct Case {
        const char* make;
        const char* model;
        const char* type;
    };
    for (const Case& c :
         {Case{"NIKON CORPORATION", "NIKON D70", "nef"}, Case{"SONY", "DSLR-A100", "arw"},
          Case{"Fancy Cams", "FC-1000", "tiff"}}) {
        const std::string cmd =
            std::string("cp two.tif cam.tif && exiftool -q -overwrite_original ") + "-Make='" +
            c.make + "' -Model='" + c.model + "' cam.tif";
        const std::string tiff = moduletest::make(dir, cmd, "cam.tif");
        const auto found = analyze(module, tiff + garbage(700));
        ASSERT_TRUE(found.ok) << c.make;
        EXPECT_EQ(found.size(), tiff.size()) << c.make;
        EXPECT_EQ(found.type(), c.type);
        EXPECT_EQ(found.info.getAttributes().getUInt8("raw", 0),
                  c.type == std::string("tiff") ? 0 : 1);
        // The uncompressed 160 x 120 page is the preview, in the fixed key order.
        EXPECT_EQ(attr(found, "thumbnail_width"), 160u);
        EXPECT_EQ(attr(found, "thumbnail_height"), 120u);
        EXPECT_EQ(attr(found, "thumbnail_size"), 57600u);
        EXPECT_EQ(attr(found, "thumbnail_compression"), 1u);
        EXPECT_EQ(attr(found, "thumbnail_bits_per_sample"), 8u);
        const std::string& bag = found.info.getAttributes().bytes();
        EXPECT_LT(bag.find("thumbnail_offset"), bag.find("thumbnail_samples"));
    }
}

// A NEF-like file: a raw picture and a JPEG preview in two sub-directories,
// the preview without size entries of its own.
std::string nefLike(bool little, const std::string& jpeg, u32 rawWidth = 600) {
    TiffBuilder b(little);
    const u32 preview = b.append(jpeg);
    const u32 jpegIfd =
        b.ifd({b.longField(0x0201, preview), b.longField(0x0202, static_cast<u32>(jpeg.size())),
               b.shortField(0x0103, 6)},
              false);
    const u32 rawBytes = rawWidth * 400 * 12 / 8;
    const u32 raw = b.append(std::string(rawBytes, '\x33'));
    const u32 rawIfd =
        b.ifd({b.longField(0x0100, rawWidth), b.longField(0x0101, 400), b.shortField(0x0102, 12),
               b.shortField(0x0103, 1), b.longField(0x0111, raw), b.longField(0x0117, rawBytes)},
              false);
    const u32 first = b.ifd({b.text(0x010F, "NIKON CORPORATION"),
                             b.text(0x0110, "NIKON D2X"),
                             {0x014A, 4, 2, b.u32s({jpegIfd, rawIfd})}});
    b.setFirst(first);
    return b.bytes();
}

TEST(FileModuleTiffTest, ARawFileKeepsItsJpegPreviewNotItsRawPicture) {
    testutil::TempDir dir;
    const std::string jpeg = smallJpeg(dir);
    cbr::FileModuleTiff module;
    for (bool little : {true, false}) {
        const std::string nef = nefLike(little, jpeg);
        const auto found = analyze(module, nef + garbage(1000));
        ASSERT_TRUE(found.ok) << little;
        EXPECT_EQ(found.size(), nef.size());
        EXPECT_EQ(found.type(), "nef");
        EXPECT_EQ(found.info.getAttributes().getUInt8("raw", 0), 1);
        EXPECT_EQ(attr(found, "thumbnail_offset"), 8u);
        EXPECT_EQ(attr(found, "thumbnail_size"), jpeg.size());
        // The size of the preview comes from its own frame header.
        EXPECT_EQ(attr(found, "thumbnail_width"), 96u);
        EXPECT_EQ(attr(found, "thumbnail_height"), 64u);
        EXPECT_EQ(attr(found, "thumbnail_samples"), 3u);
        EXPECT_EQ(attr(found, "thumbnail_compression"), 6u);
    }
    // A progressive preview has no frame header the walk reads: the directory
    // stays incomplete and the file is rejected.
    const std::string progressive = smallJpeg(dir, "-interlace Plane");
    EXPECT_FALSE(analyze(module, nefLike(true, progressive)).ok);
}

TEST(FileModuleTiffTest, TheTwoCanonEos1DModelsMayKeepTheirLargestPicture) {
    cbr::FileModuleTiff module;
    for (const char* model : {"Canon EOS-1D", "Canon EOS-1D Mark II"}) {
        TiffBuilder b(true);
        auto fields = rgbPicture(b, 20, 10);
        fields.push_back(b.text(0x010F, "Canon"));
        fields.push_back(b.text(0x0110, model));
        b.setFirst(b.ifd(fields));
        const std::string tiff = b.bytes();
        const auto found = analyze(module, tiff + garbage(40));
        ASSERT_TRUE(found.ok);
        if (std::string(model) == "Canon EOS-1D") {
            EXPECT_EQ(found.type(), "tif");
            EXPECT_EQ(attr(found, "thumbnail_width"), 20u);
            // Its files end on a multiple of 16 bytes.
            EXPECT_EQ(found.size(), (tiff.size() + 15) / 16 * 16);
        } else {
            EXPECT_EQ(found.type(), "cr2");
            EXPECT_EQ(attr(found, "thumbnail_width"), 0xFFFFFFFFu);
            EXPECT_EQ(found.size(), tiff.size());
        }
    }
}

TEST(FileModuleTiffTest, WithoutPicturesTheFileEndsAtItsLastReferencedByte) {
    cbr::FileModuleTiff module;
    TiffBuilder b(true);
    const u32 directory = b.ifd({b.text(0x0131, "Hand Made 1.0")});
    b.setFirst(directory);
    // The text is moved behind the directory: the end follows it.
    const u32 text = b.append("Hand Made 1.0" + std::string(1, '\0'));
    b.patch(directory + 2 + 8, text);
    const auto found = analyze(module, b.bytes() + garbage(300));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.type(), "tiff");
    EXPECT_EQ(found.size(), text + 14u);
    EXPECT_EQ(found.info.getAttributes().get("thumbnail_offset", "none"), "none");
}

TEST(FileModuleTiffTest, AListOfStripOffsetsAfterTheDirectoryBelongsToTheFile) {
    cbr::FileModuleTiff module;
    TiffBuilder b(false);
    const u32 strips = b.append(std::string(2 * 2 * 3, 's'));
    const std::vector<TiffBuilder::Field> fields = {
        b.shortField(0x0100, 2),
        b.shortField(0x0101, 2),
        {0x0102, 3, 3, b.u16s({8, 8, 8})},
        b.shortField(0x0103, 1),
        // Two strips of one row each; the offsets list is put after the directory.
        {0x0111, 4, 2, b.u32s({0, 0})},
        {0x0117, 3, 2, b.u16s({6, 6})}};
    const u32 directory = b.ifd(fields);
    b.setFirst(directory);
    const u32 list = b.append(b.u32s({strips, strips + 6}));
    b.patch(directory + 2 + 4 * 12 + 8, list);
    const std::string tiff = b.bytes();
    EXPECT_EQ(analyze(module, tiff + garbage(30)).size(), tiff.size());
    // A list that the window does not hold is let pass: the pictures are there.
    const auto cut = analyze(module, tiff.substr(0, tiff.size() - 4));
    ASSERT_TRUE(cut.ok);
    EXPECT_EQ(cut.size(), list);
}

TEST(FileModuleTiffTest, DamagedDirectoriesInvalidateTheFile) {
    cbr::FileModuleTiff module;
    auto build = [](const std::function<void(TiffBuilder&, std::vector<TiffBuilder::Field>&)>& f) {
        TiffBuilder b(true);
        auto fields = rgbPicture(b, 4, 4);
        f(b, fields);
        b.setFirst(b.ifd(fields));
        return b.bytes();
    };
    const std::string good = build([](TiffBuilder&, std::vector<TiffBuilder::Field>&) {});
    ASSERT_TRUE(analyze(module, good).ok);
    using Fields = std::vector<TiffBuilder::Field>;
    const std::vector<std::pair<const char*, std::string>> damaged = {
        {"duplicate width",
         build([](TiffBuilder& b, Fields& f) { f.push_back(b.shortField(0x0100, 4)); })},
        {"4-byte make",
         build([](TiffBuilder& b, Fields& f) { f.push_back(b.text(0x010F, "ABC")); })},
        {"65-byte make", build([](TiffBuilder& b, Fields& f) {
             f.push_back(b.text(0x010F, std::string(64, 'N')));
         })},
        {"field type 13", build([](TiffBuilder& b, Fields& f) {
             f.push_back({0x0131, 13, 1, b.u32s({0})});
         })},
        {"no compression entry", build([](TiffBuilder&, Fields& f) { f.erase(f.begin() + 3); })},
        {"data beyond the window", build([](TiffBuilder&, Fields& f) {
             f.push_back({0x0131, 2, 0x100000, "Hello"});
         })},
    };
    for (const auto& [what, bytes] : damaged)
        EXPECT_FALSE(analyze(module, bytes + garbage(64)).ok) << what;

    // A first directory beyond the window; a header that is no TIFF header.
    std::string far = good;
    far.replace(4, 4, std::string("\xFF\xFF\x00\x00", 4));
    EXPECT_FALSE(analyze(module, far).ok);
    EXPECT_FALSE(analyze(module, "II\x2B" + good.substr(3)).ok);
}

TEST(FileModuleTiffTest, DirectoryCountsAndLoopsAreBounded) {
    cbr::FileModuleTiff module;
    // 1000 entries pass, 1001 do not.
    for (u32 n : {1000u, 1001u}) {
        TiffBuilder b(true);
        std::vector<TiffBuilder::Field> fields(n, b.shortField(0x0131, 1));
        b.setFirst(b.ifd(fields));
        EXPECT_EQ(analyze(module, b.bytes()).ok, n == 1000) << n;
    }
    // A chain of 1000 directories passes, 1001 do not.
    for (u32 n : {1000u, 1001u}) {
        TiffBuilder b(false);
        u32 previous = 0;
        for (u32 i = 0; i < n; ++i) {
            const u32 at = b.ifd({b.shortField(0x0131, 1)});
            if (i == 0)
                b.setFirst(at);
            else
                b.setNext(previous, at);
            previous = at;
        }
        EXPECT_EQ(analyze(module, b.bytes()).ok, n == 1000) << n;
    }
    // A directory that names itself as the next one, and one that is its own
    // sub-directory: both end at the directory cap.
    TiffBuilder loop(true);
    const u32 at = loop.ifd({loop.shortField(0x0131, 1)});
    loop.setFirst(at);
    loop.setNext(at, at);
    EXPECT_FALSE(analyze(module, loop.bytes()).ok);
    TiffBuilder nest(true);
    const u32 self = static_cast<u32>(nest.bytes().size());
    nest.ifd({nest.longField(0x014A, self)});
    nest.setFirst(self);
    EXPECT_FALSE(analyze(module, nest.bytes()).ok);
}

TEST(FileModuleTiffTest, SonyA330FilesArePaddedToWhole64KBWhenTheWindowHasThem) {
    cbr::FileModuleTiff module;
    TiffBuilder b(true);
    auto fields = rgbPicture(b, 8, 8);
    fields.push_back(b.text(0x010F, "SONY"));
    fields.push_back(b.text(0x0110, "DSLR-A330"));
    b.setFirst(b.ifd(fields));
    const std::string tiff = b.bytes();
    const auto padded = analyze(module, tiff + garbage(70000));
    ASSERT_TRUE(padded.ok);
    EXPECT_EQ(padded.size(), 65536u);
    EXPECT_EQ(padded.type(), "arw");
    const auto cut = analyze(module, tiff + garbage(100));
    ASSERT_TRUE(cut.ok);
    EXPECT_EQ(cut.size(), tiff.size());
}

TEST(FileModuleTiffTest, ATrailerMarkAfterTheLastDataAddsItsBytes) {
    cbr::FileModuleTiff module;
    TiffBuilder b(true);
    b.setFirst(b.ifd(rgbPicture(b, 2, 2)));
    const std::string mark("\xFF\xFF\xFF\xFF\x02\x00\x00\x00", 8);
    const std::string tiff = b.bytes() + mark;
    EXPECT_EQ(analyze(module, tiff + garbage(0xA0)).size(), b.bytes().size() + 0xA0);
    EXPECT_FALSE(analyze(module, tiff + garbage(0xA0 - 9)).ok);
}

TEST(FileModuleTiffTest, KodakDc40EntriesAreReadBigEndianInALittleEndianFile) {
    cbr::FileModuleTiff module;
    // The camera writes its picture entries big-endian in a little-endian file:
    // read in the header's order, these entries name nothing usable.
    auto build = [](bool withCompression) {
        TiffBuilder b(true);
        const u32 bits = b.append(std::string("\x08\x00", 2));
        const u32 pixels = b.append(std::string(2 * 3, 'p'));
        auto big = [](u16 tag, u16 type, u32 count, u32 v) {
            std::string data(4, '\0');
            for (int i = 0; i < 4; ++i)
                data[i] = static_cast<char>(v >> (24 - 8 * i));
            return TiffBuilder::Field{tag, type, count, data};
        };
        std::vector<TiffBuilder::Field> fields = {
            big(0x0100, 3, 1, 2), big(0x0101, 3, 1, 3),
            // Count 1 little-endian is 0x01000000 big-endian: the bits lie at
            // the big-endian value, as a little-endian u16.
            big(0x0102, 3, 1, bits), b.text(0x010F, "Eastman Kodak Company"),
            b.text(0x0110, "Digital Camera 40"), big(0x0111, 4, 1, pixels), b.longField(0x0117, 6)};
        if (withCompression)
            fields.push_back(big(0x0103, 3, 1, 1));
        b.setFirst(b.ifd(fields));
        return b.bytes();
    };
    const std::string dc40 = build(true);
    const auto found = analyze(module, dc40 + garbage(10));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.type(), "kdc");
    EXPECT_EQ(found.size(), dc40.size());
    // All five picture entries must be there.
    EXPECT_FALSE(analyze(module, build(false)).ok);
}

// A Minolta MRW: the block area with the sensor size and a TIFF block whose
// Exif maker note names a JPEG preview, then 12-bit sensor data.
std::string mrw(u32 headerLength = 0) {
    TiffBuilder t(false);
    const u32 preview = t.append(std::string("\xFF\xD8\xFF\xD9", 4));
    const u32 maker = t.ifd({t.longField(0x0088, preview), t.longField(0x0089, 4)}, false);
    const u32 exif = t.ifd({{0x927C, 7, 14, std::string(14, '\0')}}, false);
    t.patch(exif + 2 + 8, maker); // the maker note's data is its directory
    t.setFirst(t.ifd({t.text(0x010F, "Minolta Co., Ltd."), t.longField(0x8769, exif)}));
    const std::string tiff = t.bytes();

    auto be32 = [](u32 v) {
        std::string s(4, '\0');
        for (int i = 0; i < 4; ++i)
            s[i] = static_cast<char>(v >> (24 - 8 * i));
        return s;
    };
    std::string prd = std::string("\0PRD", 4) + be32(24) + std::string(24, '\0');
    prd[8 + 8] = 0;
    prd[8 + 9] = 20; // height 20
    prd[8 + 10] = 0;
    prd[8 + 11] = 30; // width 30
    const std::string ttw = std::string("\0TTW", 4) + be32(static_cast<u32>(tiff.size())) + tiff;
    const std::string blocks = prd + ttw;
    std::string file = std::string("\0MRM", 4) +
                       be32(headerLength ? headerLength : static_cast<u32>(blocks.size()));
    file += blocks;
    return file + std::string(30 * 20 * 3 / 2, '\x5A');
}

TEST(FileModuleTiffTest, MinoltaMrwCountsItsSensorDataAndNamesThePreview) {
    cbr::FileModuleTiff module;
    const std::string file = mrw();
    const auto found = analyze(module, file + garbage(500));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.type(), "mrw");
    EXPECT_EQ(found.info.getAttributes().getUInt8("raw", 0), 1);
    EXPECT_EQ(found.size(), file.size());
    const u32 offset = attr(found, "thumbnail_offset");
    ASSERT_LT(offset, file.size());
    EXPECT_EQ(file.substr(offset, 4), "\xFF\xD8\xFF\xD9");
    EXPECT_EQ(attr(found, "thumbnail_size"), 4u);
    EXPECT_EQ(attr(found, "thumbnail_compression"), 6u);
    // Without room for the sensor data, or a TIFF block that starts past the
    // block area: no file.
    EXPECT_FALSE(analyze(module, file.substr(0, file.size() - 1)).ok);
    // The block area ends where the TIFF block would start (after the 32-byte
    // PRD block and the TTW block's own 8 bytes).
    const std::string shortArea = mrw(40);
    EXPECT_FALSE(analyze(module, shortArea).ok);
}

} // namespace
