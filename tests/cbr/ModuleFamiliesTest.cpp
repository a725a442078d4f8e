// The nineteen carving modules, family by family: every real file of the
// corpus is found whole with its type and name, and hostile windows (each a
// real file with one field damaged, or a structure built to the limit) are
// turned away or cut where they must be, without a read outside the window.

#include "cbr/FileModuleRegistry.h"
#include "core/Array.h"
#include "tests/cbr/CarvingCorpus.h"
#include "tests/cbr/ModuleRun.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using corpus::be;
using corpus::le;
using corpus::noise;

constexpr u64 NO_FILE = ~u64(0);

struct Case {
    std::string label;
    std::string module;
    std::string window;
    u64 size; // NO_FILE: analyze must fail
    std::string name = "";
    moduletest::Ask ask = moduletest::Ask::ANALYSIS;
};

constexpr moduletest::Ask WHOLE_WITHIN = moduletest::Ask::WHOLE_WITHIN;

cbr::FileModule& moduleNamed(const std::string& name) {
    static cbr::FileModuleRegistry registry;
    cbr::FileModule* module = registry.find(name);
    if (module == nullptr)
        throw std::runtime_error("no module " + name);
    return *module;
}

std::string patched(std::string bytes, u64 at, const std::string& with) {
    return bytes.replace(at, with.size(), with);
}

void expectFamily(const std::set<std::string>& modules, const std::vector<Case>& hostile) {
    for (const corpus::Sample& s : corpus::everyKind()) {
        if (modules.count(s.module) == 0)
            continue;
        SCOPED_TRACE(s.label);
        cbr::FileModule& module = moduleNamed(s.module);
        std::vector<u8> head(s.bytes.begin(),
                             s.bytes.begin() + std::min<std::size_t>(s.bytes.size(), 65536));
        EXPECT_TRUE(module.check(head.data(), static_cast<u32>(head.size())));
        const moduletest::Run r = moduletest::run(module, s.bytes + noise(3000, 5));
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.size(), s.bytes.size());
        EXPECT_EQ(r.info.getType(), s.type);
        EXPECT_EQ(r.name(), s.name);
    }
    for (const Case& c : hostile) {
        SCOPED_TRACE(c.label);
        const moduletest::Run r = moduletest::run(moduleNamed(c.module), c.window, c.ask);
        EXPECT_EQ(r.size(), c.size);
        EXPECT_EQ(r.name(), c.name);
    }
}

TEST(ModuleFamiliesTest, Pictures) {
    const std::string jpeg = corpus::sample("ImageMagick baseline JPEG").bytes;
    const std::string png = corpus::sample("PNG").bytes;
    const std::string gif = corpus::sample("still GIF").bytes;
    const std::string bmp = corpus::sample("BMP v3").bytes;
    const std::string wmf = corpus::sample("WMF").bytes;
    expectFamily(
        {"jpeg", "png", "gif", "bmp", "wmf"},
        {
            // The entropy-coded data runs to the window's end, read 4096 bytes
            // at a time: the last read is cut to what is left.
            {"JPEG without its end marker", "jpeg", jpeg.substr(0, jpeg.size() - 2), NO_FILE},
            {"JPEG with stuffed bytes and restart markers in its scan", "jpeg",
             jpeg.substr(0, jpeg.size() - 2) + std::string("\xFF\x00\xFF\xD3\x11\xFF\xD9", 7) +
                 noise(9, 3),
             jpeg.size() + 5},
            {"PNG whose IEND chunk ends past the window", "png", png.substr(0, png.size() - 1),
             NO_FILE},
            {"GIF without its trailer", "gif", gif.substr(0, gif.size() - 1), NO_FILE},
            {"BMP whose size field is below its headers", "bmp", patched(bmp, 2, le(25, 4)),
             NO_FILE},
            {"BMP of its headers alone", "bmp", patched(bmp, 2, le(26, 4)), 26},
            {"BMP larger than the window", "bmp", patched(bmp, 2, le(bmp.size() + 1, 4)), NO_FILE},
            // 22 + 2 x words in 32 bits would wrap to a tiny file.
            {"WMF of 2^31 words", "wmf", patched(wmf, 28, le(0x80000001, 4)), NO_FILE},
            {"WMF of metafile type 3", "wmf", patched(wmf, 22, le(3, 2)), NO_FILE},
        });
}

// A little-endian TIFF whose first directory nests `depth` - 1 levels of
// sub-directories, one inside the other; the innermost is empty.
std::string nestedTiff(u32 depth) {
    std::string t = std::string("II*\0", 4) + le(8, 4);
    for (u32 i = 0; i + 1 < depth; ++i)
        t += le(1, 2) + le(0x014A, 2) + le(4, 2) + le(1, 4) + le(8 + 18 * (i + 1), 4) + le(0, 4);
    return t + le(0, 2) + le(0, 4);
}

TEST(ModuleFamiliesTest, TiffAndCameraRaw) {
    std::string crw = corpus::sample("CRW").bytes;
    // The thumbnail entry's offset + size wraps in 32 bits to below the
    // directory; in 64 bits it lies past it and the directory is no root.
    crw = patched(crw, crw.size() - 4 - 10 + 2, le(0x20, 4) + le(0xFFFFFFF0, 4));
    const std::string mrw = corpus::sample("MRW").bytes;
    std::string wide =
        std::string("II*\0", 4) + le(8, 4) + le(1001, 2) + std::string(1001 * 12, '\0') + le(0, 4);
    std::string loop = std::string("II*\0", 4) + le(8, 4) + le(0, 2) + le(8, 4);
    expectFamily(
        {"tiff", "mrw", "crw"},
        {
            {"sub-directories nested 32 deep", "tiff", nestedTiff(33) + noise(50, 4),
             8 + 18 * 32 + 2},
            {"sub-directories nested 33 deep", "tiff", nestedTiff(34) + noise(50, 4), NO_FILE},
            {"a directory of 1001 entries", "tiff", wide, NO_FILE},
            {"a directory of 1000 entries", "tiff",
             patched(wide, 8, le(1000, 2)).substr(0, 8 + 2 + 12000) + le(0, 4) + noise(8, 3),
             8 + 2 + 12000 + 4},
            {"a directory that names itself as the next", "tiff", loop, NO_FILE},
            // Not a loop: the same directory twice in one list is walked twice.
            {"one sub-directory named twice", "tiff",
             std::string("II*\0", 4) + le(8, 4) + le(1, 2) + le(0x014A, 2) + le(4, 2) + le(2, 4) +
                 le(28, 4) + le(0, 4) + le(0, 2) + le(26, 4) + le(26, 4) + noise(20, 5),
             36},
            {"MRW without room for its sensor data", "mrw", mrw.substr(0, mrw.size() - 1), NO_FILE},
            {"CRW whose preview entry wraps 32 bits", "crw", crw + noise(100, 6), NO_FILE},
        });
}

std::string synchsafe(u32 v) {
    return std::string{static_cast<char>((v >> 21) & 0x7F), static_cast<char>((v >> 14) & 0x7F),
                       static_cast<char>((v >> 7) & 0x7F), static_cast<char>(v & 0x7F)};
}

// An ID3v2 tag of `total` bytes holding one TIT2 frame with a Latin-1 title;
// version 3 frame sizes are plain numbers, version 4 ones synchsafe.
std::string titleTag(int major, const std::string& title, u32 total) {
    const u32 n = static_cast<u32>(title.size() + 1);
    std::string tag = std::string("ID3", 3) + static_cast<char>(major) + '\0' + '\0' +
                      synchsafe(total - 10) + "TIT2" + (major == 3 ? be(n, 4) : synchsafe(n)) +
                      std::string(2, '\0') + '\0' + title;
    tag.resize(total, '\0');
    return tag;
}

TEST(ModuleFamiliesTest, AudioAndVideo) {
    // The frames of a real MP3, without its tags.
    const std::string mp3 = corpus::sample("MP3 with ID3v2 and ID3v1").bytes;
    const u32 lead = 10 + (u32(mp3[6]) << 21 | u32(mp3[7]) << 14 | u32(mp3[8]) << 7 | u32(mp3[9]));
    ASSERT_EQ(mp3.substr(mp3.size() - 128, 3), "TAG");
    const std::string frames = mp3.substr(lead, mp3.size() - 128 - lead);
    const std::string long300(299, 'T');
    const std::string asf = corpus::sample("ASF audio").bytes;
    const u64 fileProperties = asf.find("\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11", 30);
    const std::string mp4 = corpus::sample("MP4").bytes;
    // Where the media data of a movie ends, by its top-level atoms.
    auto mediaEnd = [](const std::string& movie) {
        const u8* bytes = reinterpret_cast<const u8*>(movie.data());
        u64 p = 0;
        while (movie.compare(p + 4, 4, "mdat") != 0)
            p += getBE32(bytes, p);
        return p + getBE32(bytes, p);
    };
    // A movie of the card with sound: two chunk offset tables, the sound's last.
    const std::string sound = [] {
        for (const corpus::Sample& m : corpus::shapeFiles().cardMovies)
            if (m.bytes.find("stco") != m.bytes.rfind("stco"))
                return m.bytes;
        throw std::runtime_error("no movie of the card has sound");
    }();
    const std::string video = corpus::sample("MPEG video stream").bytes;
    const std::string pack("\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x01\x89\xC3\xF8", 14);
    std::string packs;
    for (int i = 0; i < 100; ++i)
        packs += pack;
    const std::string wav = corpus::sample("WAV").bytes;
    expectFamily(
        {"mp3", "mpeg", "riff", "asf", "mov"},
        {
            {"ID3v2.3 title frame of 300 bytes, sized plainly", "mp3",
             titleTag(3, long300, 1000) + frames, 1000 + frames.size(), long300.substr(0, 255)},
            {"ID3v2.4 title frame of 300 bytes, synchsafe", "mp3",
             titleTag(4, long300, 1000) + frames, 1000 + frames.size(), long300.substr(0, 255)},
            {"a title stops at its first NUL", "mp3",
             titleTag(3, std::string("Tune\0junk", 9), 100) + frames, 100 + frames.size(), "Tune"},
            {"a tag of 20000 bytes still gives its title", "mp3",
             titleTag(3, "Long Tag", 20000) + frames, 20000 + frames.size(), "Long Tag"},
            {"packs without packets", "mpeg", packs + noise(600, 7), NO_FILE},
            {"a video stream without its end code", "mpeg",
             video.substr(0, video.size() - 4) + noise(600, 8), NO_FILE},
            {"an end code across two blocks of 64 KiB", "mpeg",
             std::string("\0\0\1\xB3", 4) + std::string(65530, '\x11') +
                 std::string("\0\0\1\xB7", 4),
             65538},
            {"RIFF size near 4 GiB", "riff", patched(wav, 4, le(0xFFFFFFF9, 4)), NO_FILE},
            {"ASF object smaller than its header", "asf", patched(asf, 30 + 16, le(10, 8)),
             NO_FILE},
            {"ASF object reaching past the header", "asf", patched(asf, 30 + 16, asf.substr(16, 8)),
             NO_FILE},
            {"ASF file size below the header's", "asf",
             patched(asf, fileProperties + 40, le(100, 8)), NO_FILE},
            {"MOV 64-bit atom size below 16", "mov", patched(mp4, 0, be(1, 4) + "ftyp" + be(8, 8)),
             NO_FILE},
            {"MOV 64-bit atom size that wraps", "mov",
             patched(mp4, 0, be(1, 4) + "ftyp" + be(~u64(0) - 15, 8)), NO_FILE},
            // Whether a movie is whole within a window: its index points into
            // its own media data, and the file type atom of the next movie
            // starts another.
            {"MP4 within its own window", "mov", mp4, mp4.size(), "", WHOLE_WITHIN},
            {"MOV with sound within its own window", "mov", sound, sound.size(), "", WHOLE_WITHIN},
            {"MP4 whose first chunk is where its media data ends", "mov",
             patched(mp4, mp4.find("stco") + 12, be(mediaEnd(mp4), 4)), NO_FILE, "", WHOLE_WITHIN},
            {"MOV whose sound's chunks lie past its media data", "mov",
             patched(sound, sound.rfind("stco") + 12, be(sound.size(), 4)), NO_FILE, "",
             WHOLE_WITHIN},
            {"MP4 and the next in one window", "mov", mp4 + mp4, NO_FILE, "", WHOLE_WITHIN},
        });
    // A movie is judged a sector at a time: little more than its atoms' headers
    // and its movie atom is read, however large its media data.
    std::string large = mp4;
    const u64 end = mediaEnd(large);
    u64 mdat = large.rfind("mdat", end) - 4;
    large.insert(end, std::string(1 << 20, '\0'));
    large = patched(large, mdat,
                    be(getBE32(reinterpret_cast<const u8*>(large.data()), mdat) + (1u << 20), 4));
    const moduletest::Run judged =
        moduletest::run(moduleNamed("mov"), large, moduletest::Ask::WHOLE_WITHIN);
    EXPECT_TRUE(judged.ok);
    EXPECT_LE(judged.bytesRead, 4096u);
}

TEST(ModuleFamiliesTest, Archives) {
    const std::string rar = corpus::sample("RAR 4").bytes;
    const std::string zip = corpus::sample("ZIP").bytes;
    const u64 end = zip.rfind("PK\x05\x06");
    auto withZip64End = [&](u64 length, const std::string& body) {
        std::string z = zip;
        return z.insert(end, "PK\x06\x06" + le(length, 8) + body);
    };
    const std::string arj = corpus::sample("ARJ").bytes;
    // Extended headers of 4 bytes (and their CRC32) behind the main header.
    const u64 mainEnd = 4 + getLE16(reinterpret_cast<const u8*>(arj.data()), 2) + 4;
    auto withExtendedHeaders = [&](u32 n) {
        std::string a = arj;
        for (u32 i = 0; i < n; ++i)
            a.insert(mainEnd, le(4, 2) + "ext" + std::to_string(i % 10) + le(0, 4));
        return a;
    };
    expectFamily(
        {"zip", "arj", "rar", "lzh"},
        {
            {"ARJ main header whose CRC32 does not fit", "arj", patched(arj, 5, "\x55"), NO_FILE},
            {"ARJ with 16 extended headers", "arj", withExtendedHeaders(16), arj.size() + 160,
             "report"},
            {"ARJ with 17 extended headers", "arj", withExtendedHeaders(17), NO_FILE},
            // Header 39 bytes + data 2^32 - 39: a 32-bit sum of 0 would
            // keep the walk in place; in 64 bits it leaves the window.
            {"RAR member whose sizes wrap 32 bits", "rar",
             patched(rar, 20 + 7, le(0x100000000 - 39, 4)), 20},
            {"RAR cut inside its second member", "rar", rar.substr(0, rar.size() - 20),
             20 + 39 + 3000},
            {"ZIP64 end record longer than the window", "zip", withZip64End(u64(1) << 62, ""),
             NO_FILE},
            {"ZIP64 end record inside the window", "zip", withZip64End(44, std::string(44, '\0')),
             zip.size() + 56},
            {"ZIP without its end record", "zip", zip.substr(0, end) + noise(100, 9), NO_FILE},
        });
}

TEST(ModuleFamiliesTest, Documents) {
    const std::string doc = corpus::sample("Word document").bytes;
    const std::string dbx = corpus::sample("DBX").bytes;
    std::string html = corpus::sample("HTML").bytes;
    html.insert(html.find("</HTML>"), 1, '\0');
    expectFamily(
        {"ole", "dbx", "text"},
        {
            {"compound file whose last sector lies past the window", "ole",
             doc.substr(0, doc.size() - 512), NO_FILE},
            {"compound file with 4096-byte sectors", "ole", patched(doc, 0x1E, le(12, 2)), NO_FILE},
            {"DBX size below its header", "dbx", patched(dbx, 0x7C, le(0x7F, 4)), NO_FILE},
            {"DBX of its header alone", "dbx", patched(dbx, 0x7C, le(0x80, 4)), 0x80},
            {"HTML with a NUL before its closing tag", "text", html, NO_FILE},
        });
}

// A TIFF whose one directory, at 0x20000, names itself as the next one (or as
// its own sub-directory) and lists 32768 strip byte counts at 0x8000, so that
// each visit of it reads three blocks of the window.
std::string tiffRevisiting(bool asSubDirectory) {
    std::string t = std::string("II*\0", 4) + le(0x20000, 4);
    t.resize(0x20000, '\0');
    t += le(asSubDirectory ? 2 : 1, 2) + le(0x0117, 2) + le(3, 2) + le(32768, 4) + le(0x8000, 4);
    if (asSubDirectory)
        t += le(0x014A, 2) + le(4, 2) + le(1, 4) + le(0x20000, 4);
    return t + le(asSubDirectory ? 0 : 0x20000, 4) + std::string(0x10000, '\0');
}

// Walks that have nothing to find stop after a few reads: the loops that a
// hostile file builds, and false matches among random bytes. (With data
// descriptors, ZIP's search for the next header may read 10 MB.)
TEST(ModuleFamiliesTest, WalksThatFindNothingStopEarly) {
    const std::string random = noise(2 << 20, 11);
    const struct {
        const char* module;
        std::string head; // before the random bytes
        u64 maxBytesRead;
    } cases[] = {
        {"tiff", tiffRevisiting(false), 400000},
        {"tiff", tiffRevisiting(true), 400000},
        {"arj", std::string("\x60\xEA\x28\x00\x1E\x0B\x01\x00\x00\x00\x02", 11), 140000},
        {"jpeg", "\xFF\xD8\xFF", 140000},
        {"png", "\x89PNG\r\n\x1A\n", 140000},
        {"gif", "GIF89a", 140000},
        {"mov", std::string("\0\0\0\x20", 4) + "ftypisom", 140000},
        {"zip", std::string("PK\x03\x04\x14\0\0\0", 8), 140000},
        {"lzh", std::string("\x1F\x00-lh5-", 7), 140000},
        {"rar", std::string("Rar!\x1A\x07\x00", 7), 140000},
        {"tiff", std::string("II*\0", 4), 140000},
        {"tiff", std::string("\0MRM", 4), 140000},
        {"ole", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1\0\0\0\0", 12), 140000},
        {"asf", std::string("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA", 12), 140000},
        {"text", "<html>", 140000},
        {"mp3", std::string("ID3\x03\0\0", 6), 140000},
        {"riff", "RIFF", 140000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.module) + " at row " + std::to_string(&c - cases));
        const moduletest::Run r = moduletest::run(moduleNamed(c.module), c.head + random);
        EXPECT_FALSE(r.ok);
        EXPECT_LE(r.bytesRead, c.maxBytesRead);
    }
}

// Fuzzer finds. fuzz_picture_mpeg_modules, input 22 (the MPEG module on an
// empty window), and fuzz_raw_modules, input 01 (the CRW module on an empty
// window): both read their first bytes without asking whether the window had them.
// A fuzzer's find: the CRW scan memory answered a big-endian hit from the stretch
// it had read little-endian ("found, 500036 bytes" where a fresh look finds
// nothing). The window is laid out as the raw-module fuzz target lays it.
TEST(ModuleFuzzFindsTest, CrwMemoryKeepsItsByteOrder) {
    const std::string input =
        testutil::readAll(HB_SOURCE_DIR "/fuzz/corpus/raw_modules/crw-memory-byte-order");
    std::string window = input.substr(1, 26);
    window.resize(499900, '\0');
    window += input.substr(27);
    cbr::FileModule& crw = moduleNamed("crw");
    std::unique_ptr<cbr::ScanMemory> memory = crw.newScanMemory();
    cbr::FileInfo first, later, afresh;
    moduletest::StrictWindow whole(window);
    crw.analyzeInScan(whole, first, 0, memory.get());
    const std::string rest = window.substr(512);
    moduletest::StrictWindow tail(rest);
    moduletest::StrictWindow tailAgain(rest);
    EXPECT_EQ(crw.analyzeInScan(tail, later, 512, memory.get()), crw.analyze(tailAgain, afresh));
}

// Answers of a module's scan memory that differed from a fresh look. Text:
// fuzzer finds, where the notes answered a hit whose window ends before the
// closing tag with the tag that an earlier, longer window had found (a page of
// 133 bytes in a window of 102), and read the text again from before a later
// hit's window. MPEG: a program stream cut by the source's end, a pack and a
// packet in every sector, where a later hit that joined the first hit's path
// took its cut for a failure, though a stream with packets is a file up to
// the cut. Each input is replayed as the module fuzz targets lay it out: byte
// 0 chose the module, every sector is a hit, and a hit whose first byte is odd
// has a window a quarter short.
TEST(ModuleFuzzFindsTest, ScanMemoryAnswersAsAFreshLook) {
    const struct {
        const char* module;
        const char* input;
    } inputs[] = {
        {"text", "archive_modules/text-memory-shorter-window"},
        {"text", "archive_modules/text-memory-window-start"},
        {"mpeg", "picture_mpeg_modules/mpeg-cut-stream"},
    };
    for (const auto& in : inputs) {
        SCOPED_TRACE(in.input);
        const std::string input =
            testutil::readAll(std::string(HB_SOURCE_DIR "/fuzz/corpus/") + in.input).substr(1);
        cbr::FileModule& module = moduleNamed(in.module);
        std::unique_ptr<cbr::ScanMemory> memory = module.newScanMemory();
        for (std::size_t hit = 0; hit < input.size(); hit += 512) {
            const std::size_t rest = input.size() - hit;
            const std::string window =
                input.substr(hit, (input[hit] & 1) != 0 ? rest - rest / 4 : rest);
            moduletest::StrictWindow strict(window);
            moduletest::StrictWindow again(window);
            cbr::FileInfo remembered, afresh;
            const bool found = module.analyzeInScan(strict, remembered, hit, memory.get());
            EXPECT_EQ(found, module.analyze(again, afresh)) << "hit at " << hit;
            EXPECT_EQ(remembered.getSize(), afresh.getSize()) << "hit at " << hit;
        }
    }
}

TEST(ModuleFuzzFindsTest, EmptyWindows) {
    for (const char* name : {"mpeg", "crw"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(moduletest::run(moduleNamed(name), "").ok);
    }
}

} // namespace
