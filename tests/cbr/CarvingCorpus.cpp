#include "tests/cbr/CarvingCorpus.h"

#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>

#include <zlib.h>

namespace corpus {

std::string le(u64 value, unsigned width) {
    std::string bytes(width, '\0');
    for (unsigned i = 0; i < width; ++i)
        bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

std::string be(u64 value, unsigned width) {
    std::string bytes(width, '\0');
    for (unsigned i = 0; i < width; ++i)
        bytes[width - 1 - i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

std::string noise(std::size_t n, u32 seed) {
    std::string bytes(n, '\0');
    u64 x = 0x9E3779B97F4A7C15ull ^ seed;
    for (char& c : bytes) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

std::string layOut(const std::vector<Sample>& samples, std::vector<u64>& starts) {
    std::string image = noise(3 * 512, 1);
    starts.clear();
    for (std::size_t i = 0; i < samples.size(); ++i) {
        starts.push_back(image.size());
        image += samples[i].bytes;
        const std::size_t gap = (512 - image.size() % 512) % 512 + 512 * (1 + i % 3);
        image += noise(gap, static_cast<u32>(i + 2));
    }
    return image + noise(8 * 512, 99);
}

// A movie with a free atom behind it that fills its last sector.
Sample endingOnASector(const Sample& movie) {
    u64 pad = (512 - movie.bytes.size() % 512) % 512;
    if (pad != 0 && pad < 8)
        pad += 512;
    Sample s = movie;
    s.label += ", ending on a sector boundary";
    if (pad != 0)
        s.bytes += be(pad, 4) + "free" + std::string(pad - 8, '\0');
    return s;
}

namespace {

// Where Debian has no tool that writes these formats, they are laid out here
// from their published layouts.

// A placeable metafile: the 22-byte header, the metafile header, `records`
// SetBkColor records and the end record.
std::string wmf(u32 records) {
    std::string body;
    for (u32 i = 0; i < records; ++i)
        body += le(5, 4) + le(0x0201, 2) + le(0x00102030 + i, 4);
    body += le(3, 4) + le(0, 2);
    const std::string header = le(1, 2) + le(9, 2) + le(0x300, 2) + le((18 + body.size()) / 2, 4) +
                               le(0, 2) + le(5, 4) + le(0, 2);
    std::string placeable = le(0x9AC6CDD7, 4) + le(0, 2) + le(0, 2) + le(0, 2) + le(640, 2) +
                            le(480, 2) + le(1440, 2) + le(0, 4);
    u16 sum = 0;
    for (std::size_t i = 0; i < placeable.size(); i += 2)
        sum ^= static_cast<u16>(static_cast<u8>(placeable[i]) | static_cast<u8>(placeable[i + 1])
                                                                    << 8);
    return placeable + le(sum, 2) + header + body;
}

// RAR 4: marker, main header, stored members, end block; each header's CRC is
// the low half of the CRC-32 of the header from its type on.
std::string rarBlock(u8 type, u16 flags, const std::string& fields) {
    const std::string h =
        std::string(1, static_cast<char>(type)) + le(flags, 2) + le(7 + fields.size(), 2) + fields;
    const uLong crc =
        crc32(0, reinterpret_cast<const Bytef*>(h.data()), static_cast<uInt>(h.size()));
    return le(crc & 0xFFFF, 2) + h;
}

std::string rarMember(const std::string& name, const std::string& data) {
    const uLong crc =
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
    const std::string fields = le(data.size(), 4) + le(data.size(), 4) + '\x03' + le(crc, 4) +
                               le(0x3A3F6AA4, 4) + '\x14' + '\x30' + le(name.size(), 2) +
                               le(0x81A4, 4) + name;
    return rarBlock(0x74, 0x8000, fields) + data;
}

std::string rar(u32 firstSize = 3000) {
    return std::string("Rar!\x1A\x07\x00", 7) + rarBlock(0x73, 0, std::string(6, '\0')) +
           rarMember("one.txt", noise(firstSize, 7)) + rarMember("two.txt", noise(700, 8)) +
           rarBlock(0x7B, 0x4000, "");
}

// The CRC-16 of LHA (reflected polynomial 0xA001) over the member's data.
u16 lhaCrc(const std::string& data) {
    u16 crc = 0;
    for (unsigned char c : data) {
        crc ^= c;
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<u16>(crc & 1 ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    return crc;
}

// A stored level-0 member of LHA: its header, whose first byte counts the
// bytes after the first two and whose second sums them, then the data.
std::string lzhLevel0(const std::string& name, const std::string& data) {
    const std::string h = "-lh0-" + le(data.size(), 4) + le(data.size(), 4) + le(0x3A3F6AA4, 4) +
                          '\x20' + '\x00' + static_cast<char>(name.size()) + name +
                          le(lhaCrc(data), 2);
    u8 sum = 0;
    for (unsigned char c : h)
        sum = static_cast<u8>(sum + c);
    return std::string(1, static_cast<char>(h.size())) + static_cast<char>(sum) + h + data;
}

// LHA: a level-0 and a level-2 member, stored (-lh0-), then the closing zero.
std::string lzh(u32 firstSize = 900) {
    const std::string second = noise(1500, 10);
    const std::string h2 = "-lh0-" + le(second.size(), 4) + le(second.size(), 4) +
                           le(1233407108, 4) + '\x20' + '\x02' + le(lhaCrc(second), 2) + 'U' +
                           le(8, 2) + '\x01' + "b.txt" + le(0, 2);
    return lzhLevel0("a.txt", noise(firstSize, 9)) + le(h2.size() + 2, 2) + h2 + second + '\0';
}

// LHA of `count` stored level-0 members of random sizes whose member `onSector`
// (0: none but the first) starts at a multiple of 512 from the archive's
// start: the member before it takes up the difference.
std::string sectorLzh(u32 count, u32 onSector, u32 seed) {
    std::string archive;
    u32 x = seed;
    for (u32 i = 0; i < count; ++i) {
        x = x * 1103515245 + 12345;
        const std::string name = "m" + std::to_string(i) + ".txt";
        u64 size = 100 + (x >> 8) % 2000;
        const u64 header = 24 + name.size();
        const u64 next = archive.size() + header + size;
        if (i + 1 == onSector)
            size += (512 - next % 512) % 512;
        else if (onSector == 0 && i + 1 < count && next % 512 == 0)
            ++size;
        archive += lzhLevel0(name, noise(size, seed + i));
    }
    return archive + '\0';
}

// An Outlook Express store: its class identifier at 8 and its size at 0x7C.
std::string dbx(u32 size) {
    std::string d = noise(size, 11);
    d.replace(0, 8, "\xCF\xAD\x12\xFE\xC5\xFD\x74\x6F", 8);
    d.replace(8, 20,
              "\x66\xE3\xD1\x11\x9A\x4E\x00\xC0\x4F\xA3\x09\xD4\x05\x00\x00\x00\x05\x00\x00\x00",
              20);
    d.replace(0x7C, 4, le(size, 4));
    return d;
}

// A Canon CIFF heap: raw data, a large JPEG and a thumbnail, then the root
// directory, closed by its own heap offset.
std::string crw() {
    std::string c = std::string("II\x1A\0\0\0HEAPCCDR", 14) + std::string(12, '\0');
    const u32 raw = 0, rawSize = 520000, jpeg = raw + rawSize, thumb = jpeg + 3000;
    c += noise(rawSize, 12) + noise(3000, 13) + noise(1000, 14);
    const u32 t = static_cast<u32>(c.size()) - 26;
    c += le(3, 2) + le(0x2005, 2) + le(rawSize, 4) + le(raw, 4) + le(0x2007, 2) + le(3000, 4) +
         le(jpeg, 4) + le(0x2008, 2) + le(1000, 4) + le(thumb, 4) + le(t, 4);
    return c;
}

// A Minolta MRW: the sensor size block, a TIFF block, then 12-bit sensor data.
std::string mrw(const std::string& tiff) {
    std::string prd = std::string("\0PRD", 4) + be(24, 4) + std::string(8, '\0') + be(20, 2) +
                      be(30, 2) + std::string(12, '\0');
    const std::string blocks = prd + std::string("\0TTW", 4) + be(tiff.size(), 4) + tiff;
    return std::string("\0MRM", 4) + be(blocks.size(), 4) + blocks + noise(30 * 20 * 3 / 2, 15);
}

std::string riff(const std::string& form, const std::string& chunks) {
    return "RIFF" + le(4 + chunks.size(), 4) + form + chunks;
}

// A RIFF MIDI file around a one-note standard MIDI file.
std::string rmi() {
    const std::string track("\x00\x90\x3C\x40\x60\x80\x3C\x40\x00\xFF\x2F\x00", 12);
    const std::string midi =
        "MThd" + be(6, 4) + be(0, 2) + be(1, 2) + be(96, 2) + "MTrk" + be(track.size(), 4) + track;
    return riff("RMID", "data" + le(midi.size(), 4) + midi);
}

// An animated cursor: its header chunk and a list of two frames.
std::string ani() {
    const std::string header =
        le(36, 4) + le(2, 4) + le(2, 4) + std::string(16, '\0') + le(10, 4) + le(1, 4);
    const std::string frames =
        "fram" + ("icon" + le(200, 4) + noise(200, 16)) + ("icon" + le(200, 4) + noise(200, 17));
    return riff("ACON", "anih" + le(36, 4) + header + "LIST" + le(frames.size(), 4) + frames);
}

// A summary property set with a title in code page 1252 and the application's name.
std::string summary(const std::string& title, const std::string& application) {
    auto text = [](const std::string& s) {
        std::string v = le(30, 4) + le(s.size() + 1, 4) + s + '\0';
        return v + std::string((4 - v.size() % 4) % 4, '\0');
    };
    const std::vector<std::pair<u32, std::string>> properties = {
        {1, le(2, 4) + le(1252, 2) + std::string(2, '\0')},
        {2, text(title)},
        {18, text(application)}};
    std::string entries, values;
    for (const auto& p : properties) {
        entries += le(p.first, 4) + le(8 + 8 * properties.size() + values.size(), 4);
        values += p.second;
    }
    return le(0xFFFE, 2) + le(0, 2) + le(0x20105, 4) + std::string(16, '\0') + le(1, 4) +
           le(0xF29F85E0, 4) + le(0x10684FF9, 4) + le(0x000891AB, 4) + le(0xD9B3272B, 4) +
           le(48, 4) + le(8 + entries.size() + values.size(), 4) + le(properties.size(), 4) +
           entries + values;
}

struct RawCamera {
    const char* make;
    const char* model;
    const char* extension;
};
const RawCamera RAW_CAMERAS[] = {
    {"NIKON CORPORATION", "NIKON D70", "nef"},
    {"Canon", "Canon EOS 20D", "cr2"},
    {"SONY", "DSLR-A100", "arw"},
    {"SONY", "DSC-R1", "sr2"},
    {"SONY", "DSC-V3", "srf"},
    {"PENTAX Corporation", "PENTAX *ist D", "pef"},
    {"Leica Camera AG", "M8 Digital Camera", "dng"},
    {"Leaf", "Aptus 75", "mos"},
    {"Kodak", "DCS Pro 14N", "dcr"},
    {"Eastman Kodak Company", "Kodak DC120 ZOOM Digital Camera", "kdc"},
    {"Eastman Kodak Company", "KODAK DC25 DIGITAL CAMERA", "k25"},
    {"Kodak", "DCS460", "tif"},
};

// Every tool run in one shell, in the corpus folder.
const char* const TOOLS = R"(set -e
C=/usr/bin/convert
F="ffmpeg -nostdin -loglevel error -y"
$C -size 96x64 gradient:red-blue base.jpg
$C -size 96x64 gradient:red-blue -interlace JPEG progressive.jpg
jpegtran -restart 1 base.jpg > restart.jpg
$C -size 96x64 gradient:red-blue a.png
$C -size 32x32 gradient:red-blue still.gif
$C -delay 10 -size 16x16 xc:red xc:blue gradient:green-yellow animated.gif
$C -size 64x48 gradient:red-blue BMP3:v3.bmp
$C -size 64x48 gradient:red-blue v5.bmp
$C -size 64x48 gradient:red-blue -endian LSB le.tif
$C -size 64x48 gradient:red-blue -endian MSB be.tif
$C -size 64x48 gradient:red-blue -size 32x24 gradient:green-yellow -compress jpeg pages.tif
sox -n -r 44100 -c 1 -b 16 tone.wav synth 6 sine 440
sox -n -r 8000 -c 1 -b 16 short.wav synth 1 sine 660
lame --quiet -b 128 --tt "Song One" --add-id3v2 tone.wav both.mp3
lame --quiet -b 128 --id3v2-latin1 --id3v2-only --tt "Second Song" tone.wav v2.mp3
$F -f lavfi -i testsrc=size=64x48:rate=25:duration=1 -c:v mpeg1video -f mpeg program.mpg
$F -f lavfi -i testsrc=size=64x48:rate=25:duration=1 -pix_fmt yuv420p -f yuv4mpegpipe - | mpeg2enc -v 0 -f 0 -o video.m1v
$F -f lavfi -i sine=duration=1 -c:a wmav2 -metadata title="Wind Song" audio.wma
$F -f lavfi -i testsrc=size=64x48:rate=10:duration=1 -f lavfi -i sine=duration=1 -c:v wmv2 -c:a wmav2 -metadata title="Test Card" video.wmv
for f in mov mp4; do
  $F -f lavfi -i testsrc=size=64x48:rate=10:duration=1 -c:v mpeg4 plain.$f
  $F -f lavfi -i testsrc=size=64x48:rate=10:duration=1 -c:v mpeg4 -movflags +faststart fast.$f
done
$F -f lavfi -i testsrc=size=64x48:rate=10:duration=1 -c:v mpeg4 a.avi
zip -q -X plain.zip a.png v3.bmp
cat v3.bmp | zip -q -X - - > streamed.zip
zip -q -X commented.zip a.png
echo "a comment of the archive" | zip -q -z commented.zip
arj a -y report.arj v3.bmp > /dev/null
msibuild setup.msi -s "Setup" "Halbrook Tests"
printf '<!DOCTYPE html>\n<HTML><body>page</body></HTML>\r\n' > page.html
printf '<?xml version="1.0"?>\n<!-- drawing -->\n<svg width="4"><rect/></svg>\n' > drawing.xml
)";

// The tools' files.
void makeTools(const std::string& folder) {
    const std::string d = testutil::shellQuote(folder);
    std::string script = TOOLS;
    for (const RawCamera& c : RAW_CAMERAS) {
        const std::string file = std::string("raw.") + c.extension;
        script += "cp le.tif " + file + " && tiffset -s 271 " + testutil::shellQuote(c.make) + " " +
                  file + " && tiffset -s 272 " + testutil::shellQuote(c.model) + " " + file + "\n";
    }
    testutil::run("rm -rf " + d + " && mkdir -p " + d + "/doc " + d + "/book");
    testutil::writeAll(folder + "/doc/WordDocument", noise(5000, 20));
    testutil::writeAll(folder + "/doc/\x05SummaryInformation",
                       summary("Minutes of May", "Microsoft Word 8.0"));
    testutil::writeAll(folder + "/book/Workbook", noise(3000, 21));
    script += "(cd doc && gsf createole ../minutes.doc WordDocument \"$(printf "
              "'\\005')SummaryInformation\" > /dev/null)\n"
              "(cd book && gsf createole ../book.xls Workbook > /dev/null)\n";
    std::string err;
    const int status = testutil::run("cd " + d + " && " + script, nullptr, &err);
    if (status != 0)
        throw std::runtime_error("the carving samples could not be made: " + err);
}

// Files for the shapes a disk leaves files in, some from the corpus's own ($T).
const char* const SHAPE_TOOLS = R"(set -e
cp "$T/a.png" "$T/v3.bmp" "$T/plain.zip" .
ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=96x64:rate=25:duration=2 -c:v mpeg4 -q:v 2 long.mov
/usr/bin/convert -seed 7 -size 1920x1536 plasma:fractal -posterize 6 -crop 192x192 +repage +adjoin tile%02d.gif
zip -q -X - a.png v3.bmp | cat > piped.zip
zip -q -X -0 nesting.zip pad.bin plain.zip
arj a -y -m0 large.arj member.bin > /dev/null
{ printf '<html><body>\n'; seq 1 200 | sed 's|.*|<p>line &</p>|'; printf '</body></html>\n'; } > long.html
{ printf '<?xml version="1.0"?>\n<svg width="4">\n'; seq 1 200 | sed 's|.*|<rect x="&"/>|'; printf '</svg>\n'; } > long.xml
)";

// The stored member of the large archives.
constexpr u32 LARGE_MEMBER = 20000;
// The corpus's ZIP, stored in another after a first member of this many bytes,
// starts at byte 512 of it: the headers before it take 76 bytes.
constexpr u32 NESTING_PAD = 436;

// The shapes' files, in the folder "shapes" of the corpus folder.
void makeShapeTools(const std::string& corpus) {
    const std::string d = testutil::shellQuote(corpus + "/shapes");
    testutil::run("mkdir -p " + d);
    testutil::writeAll(corpus + "/shapes/member.bin", noise(LARGE_MEMBER, 30));
    testutil::writeAll(corpus + "/shapes/pad.bin", noise(NESTING_PAD, 31));
    std::string err;
    const int status = testutil::run(
        "cd " + d + " && T=" + testutil::shellQuote(corpus) + " && " + SHAPE_TOOLS + "python3 " +
            testutil::shellQuote(HB_SOURCE_DIR "/tests/cbr/carving_shapes.py") + " \"$T\"\n",
        nullptr, &err);
    if (status != 0)
        throw std::runtime_error("the carving shapes' files could not be made: " + err);
}

// The corpus: the tools' files, and the shapes' in its folder "shapes", made
// by one maker under one lock, once for all test processes of a build of this
// program. A new build makes them afresh; its maker alone removes the folders
// of earlier builds.
const std::string& corpusFolder() {
    static const std::string folder = [] {
        const std::filesystem::path cache = HB_BINARY_DIR "/carving-corpus";
        std::filesystem::create_directories(cache);
        struct stat built {};
        ::stat("/proc/self/exe", &built);
        const std::string build =
            std::to_string(built.st_mtim.tv_sec) + "." + std::to_string(built.st_mtim.tv_nsec);
        const std::string path = (cache / build).string();
        testutil::buildOnce(path, [&](const std::string& making) {
            for (const auto& e : std::filesystem::directory_iterator(cache))
                if (e.path().filename().string().rfind(build, 0) != 0)
                    std::filesystem::remove_all(e.path());
            makeTools(making);
            makeShapeTools(making);
        });
        return path;
    }();
    return folder;
}

std::vector<Sample> build(bool allKinds) {
    const std::string folder = corpusFolder();
    auto file = [&](const std::string& name) { return testutil::readAll(folder + "/" + name); };
    std::vector<Sample> s = {
        {"ImageMagick baseline JPEG", "jpeg", "jpeg", "", file("base.jpg")},
        {"ImageMagick progressive JPEG", "jpeg", "jpeg", "", file("progressive.jpg")},
        {"JPEG with restart markers", "jpeg", "jpeg", "", file("restart.jpg")},
        {"PNG", "png", "png", "", file("a.png")},
        {"still GIF", "gif", "gif", "", file("still.gif")},
        {"animated GIF, local colour tables", "gif", "gif", "", file("animated.gif")},
        {"BMP v3", "bmp", "bmp", "", file("v3.bmp")},
        {"BMP v5", "bmp", "bmp", "", file("v5.bmp")},
        {"WMF", "wmf", "wmf", "", wmf(3)},
        {"larger WMF", "wmf", "wmf", "", wmf(300)},
    };
    if (!allKinds)
        return s;
    const std::vector<Sample> more = {
        {"little-endian TIFF", "tiff", "tiff", "", file("le.tif")},
        {"big-endian TIFF", "tiff", "tiff", "", file("be.tif")},
        {"two-page JPEG TIFF", "tiff", "tiff", "", file("pages.tif")},
        {"MRW", "mrw", "mrw", "", mrw(file("le.tif"))},
        {"CRW", "crw", "crw", "", crw()},
        // lame writes the ID3v2 title in UTF-16 unless told otherwise: the name
        // of the first comes from its ID3v1 tag.
        {"MP3 with ID3v2 and ID3v1", "mp3", "mp3", "Song One", file("both.mp3")},
        {"MP3 with a Latin-1 ID3v2 title", "mp3", "mp3", "Second Song", file("v2.mp3")},
        {"WAV", "riff", "wav", "", file("short.wav")},
        {"RIFF MIDI", "riff", "rmi", "", rmi()},
        {"animated cursor", "riff", "ani", "", ani()},
        {"AVI", "riff", "avi", "", file("a.avi")},
        {"MPEG program stream", "mpeg", "mpeg", "", file("program.mpg")},
        {"MPEG video stream", "mpeg", "mpeg", "", file("video.m1v")},
        {"ASF audio", "asf", "wma", "Wind Song", file("audio.wma")},
        {"ASF video", "asf", "wmv", "Test Card", file("video.wmv")},
        {"MOV", "mov", "mov", "", file("plain.mov")},
        {"MOV, fast start", "mov", "mov", "", file("fast.mov")},
        {"MP4", "mov", "mp4", "", file("plain.mp4")},
        {"MP4, fast start", "mov", "mp4", "", file("fast.mp4")},
        {"ZIP", "zip", "zip", "", file("plain.zip")},
        {"streamed ZIP", "zip", "zip", "", file("streamed.zip")},
        {"ZIP with comment", "zip", "zip", "", file("commented.zip")},
        {"ARJ", "arj", "arj", "report", file("report.arj")},
        {"RAR 4", "rar", "rar", "", rar()},
        {"LZH", "lzh", "lzh", "", lzh()},
        {"Word document", "ole", "doc", "Minutes of May", file("minutes.doc")},
        {"workbook", "ole", "xls", "", file("book.xls")},
        {"installer", "ole", "msi", "Installation Database", file("setup.msi")},
        {"DBX", "dbx", "dbx", "", dbx(3000)},
        {"HTML", "text", "html", "", file("page.html")},
        {"XML", "text", "xml", "", file("drawing.xml")},
    };
    s.insert(s.end(), more.begin(), more.end());
    for (const RawCamera& c : RAW_CAMERAS)
        s.push_back({std::string("raw TIFF of ") + c.model, "tiff", c.extension, "",
                     file(std::string("raw.") + c.extension)});
    return s;
}

} // namespace

const std::vector<Sample>& pictures() {
    static const std::vector<Sample> samples = build(false);
    return samples;
}

const std::vector<Sample>& everyKind() {
    static const std::vector<Sample> samples = build(true);
    return samples;
}

const Sample& sample(const std::string& label) {
    for (const Sample& s : everyKind())
        if (s.label == label)
            return s;
    throw std::runtime_error("no sample " + label);
}

const ShapeFiles& shapeFiles() {
    static const ShapeFiles files = [] {
        const std::string folder = corpusFolder() + "/shapes";
        auto file = [&](const std::string& name) { return testutil::readAll(folder + "/" + name); };
        // The files of a subfolder, by name.
        auto names = [&](const std::string& subfolder) {
            std::vector<std::string> sorted;
            for (const auto& e : std::filesystem::directory_iterator(folder + "/" + subfolder))
                sorted.push_back(e.path().filename().string());
            std::sort(sorted.begin(), sorted.end());
            return sorted;
        };
        ShapeFiles f;
        f.longMovie = {"MOV of two seconds", "mov", "mov", "", file("long.mov")};
        for (const char* movie : {"MOV", "MOV, fast start", "MP4", "MP4, fast start"})
            f.sectorMovies.push_back(endingOnASector(sample(movie)));
        f.descriptorZip = {"ZIP with data descriptors", "zip", "zip", "", file("piped.zip")};
        f.nestingZip = {"ZIP holding a stored ZIP", "zip", "zip", "", file("nesting.zip")};
        if (f.nestingZip.bytes.compare(512, sample("ZIP").bytes.size(), sample("ZIP").bytes) != 0)
            throw std::runtime_error("the stored ZIP does not start at byte 512 of the other");
        f.largeArj = {"ARJ of 20,000 stored bytes", "arj", "arj", "large", file("large.arj")};
        f.largeRar = {"RAR 4 of 20,000 stored bytes", "rar", "rar", "", rar(LARGE_MEMBER)};
        f.largeLzh = {"LZH of 20,000 stored bytes", "lzh", "lzh", "", lzh(LARGE_MEMBER)};
        for (int i = 0; i < 80; ++i) {
            const std::string name = (i < 10 ? "tile0" : "tile") + std::to_string(i) + ".gif";
            f.gifs.push_back({"GIF " + name, "gif", "gif", "", file(name)});
        }
        f.longHtml = {"HTML of several sectors", "text", "html", "", file("long.html")};
        f.longXml = {"XML of several sectors", "text", "xml", "", file("long.xml")};

        auto zip = [&](const std::string& label, const std::string& name) {
            return Sample{label, "zip", "zip", "", file(name)};
        };
        // An XHTML page starts as an XML document does.
        auto page = [&](const std::string& label, const std::string& name) {
            const bool xml = name.size() > 6 && name.compare(name.size() - 6, 6, ".xhtml") == 0;
            return Sample{label, "text", xml ? "xml" : "html", "", file(name)};
        };
        f.memberZip = zip("ZIP by zip, its 4th of 8 members on a sector", "member.zip");
        f.lastMemberZip = zip("ZIP by zipfile, its last member on a sector", "last.zip");
        f.bodyHtml = page("HTML, <body at byte 1024", "body.html");
        f.titleHtml = page("HTML, <title at byte 512", "title.html");
        f.bodyXhtml = page("XHTML, <body at byte 1024", "body.xhtml");
        f.memberLzh = {"LZH, its 3rd of 5 members on a sector", "lzh", "lzh", "",
                       sectorLzh(5, 2, 1)};
        f.mediaMp4 = {"MP4, mdat at byte 4096", "mov", "mp4", "", file("media.mp4")};
        f.reservedMp4 = {"MP4 of -moov_size, mdat at byte 4096", "mov", "mp4", "",
                         file("reserved.mp4")};
        f.controls = {zip("ZIP by zip, no member on a sector", "member-plain.zip"),
                      zip("ZIP by zipfile, no member on a sector", "last-plain.zip"),
                      page("HTML, no tag on a sector", "body-plain.html"),
                      page("HTML, its title on no sector", "title-plain.html"),
                      page("XHTML, no tag on a sector", "body-plain.xhtml"),
                      {"LZH, no member on a sector", "lzh", "lzh", "", sectorLzh(5, 0, 1)},
                      sample("MP4, fast start"),
                      f.reservedMp4,
                      sample("MOV")};
        for (const std::string& name : names("movies")) {
            const std::string type = name.substr(name.rfind('.') + 1);
            f.cardMovies.push_back({"movie " + name, "mov", type, "", file("movies/" + name)});
        }

        // Two archives, then a page or an LZH archive by turns.
        const std::vector<std::string> archives = names("archives");
        const std::vector<std::string> pages = names("pages");
        for (std::size_t i = 0, p = 0, l = 0; i < archives.size(); ++i) {
            f.manyArchives.push_back(zip("ZIP " + archives[i], "archives/" + archives[i]));
            if (i % 2 == 0)
                continue;
            if (i % 4 == 1 && l < 10) {
                const u32 count = 3 + 4 * l;
                f.manyArchives.push_back({"LZH of " + std::to_string(count) + " members", "lzh",
                                          "lzh", "",
                                          sectorLzh(count, 1 + l % (count - 1), 40 + l)});
                ++l;
            }
            for (; p < pages.size() && p < (i + 1) / 2; ++p)
                f.manyArchives.push_back(page("page " + pages[p], "pages/" + pages[p]));
        }
        return f;
    }();
    return files;
}

} // namespace corpus
