#include "cbr/Scanner.h"

#include "tests/cbr/CbrTestSupport.h"
#include "tests/support/FailingReader.h"
#include "tests/support/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using cbr::FileInfo;
using cbr::FileModuleRegistry;
using cbr::Pattern;
using cbr::Scanner;
using cbrtest::Collector;
using cbrtest::Image;
using cbrtest::StubModule;
using testing::ThrowsMessage;

struct Found {
    u64 start;
    u64 size;
    std::string type;
    bool operator==(const Found& o) const {
        return start == o.start && size == o.size && type == o.type;
    }
};

std::ostream& operator<<(std::ostream& out, const Found& f) {
    return out << "{" << f.start << ", " << f.size << ", " << f.type << "}";
}

class ScannerTest : public testing::Test {
protected:
    ScannerTest() : registry(FileModuleRegistry::NO_MODULES) {}

    // A module owned by the registry under `name`, analysing with sizeAtByte4.
    StubModule* module(const std::string& name) {
        StubModule* stub = cbrtest::addStub(registry, name).stub;
        stub->onAnalyze = cbrtest::sizeAtByte4(name);
        return stub;
    }

    Pattern& add(const std::string& type, const std::string& bytes, StubModule* analyze,
                 u64 maxSize = 1000000, u32 offset = 0) {
        Pattern p;
        p.setType(type);
        if (!bytes.empty())
            p.setBytes(offset, reinterpret_cast<const u8*>(bytes.data()),
                       static_cast<u32>(bytes.size()));
        p.setAnalyzeModule(analyze);
        p.setMaxSize(maxSize);
        table.push_back(p);
        return table.back();
    }

    std::vector<Found> scan(const Image& image, Scanner::Callback* callback, u64 first = 0,
                            u64 end = ~u64(0)) {
        testutil::MemoryReader source(image.bytes());
        Scanner scanner(source, &registry);
        scanner.setPatterns(table, callback);
        cbrtest::scanImage(scanner, image, first, end);
        return found();
    }
    std::vector<Found> scan(const Image& image) { return scan(image, &collector); }

    std::vector<Found> found() const {
        std::vector<Found> out;
        for (const FileInfo& f : collector.files)
            out.push_back({f.getStart(), f.getSize(), f.getType()});
        return out;
    }

    FileModuleRegistry registry;
    std::vector<Pattern> table;
    Collector collector;
};

TEST_F(ScannerTest, APendingFileEndsAtTheNextPatternOnlyHitOrTheRangeEndCappedAtMaxSize) {
    add("pend", "PEND", nullptr);
    add("cap", "CAPP", nullptr, 1000);
    Image image(30);
    image.put(2, "PEND");
    image.put(7, "PEND");
    image.put(12, "CAPP");
    image.put(20, "PEND");
    EXPECT_EQ(scan(image), (std::vector<Found>{{1024, 2560, "pend"},
                                               {3584, 2560, "pend"},
                                               {6144, 1000, "cap"},
                                               {10240, 5120, "pend"}}));
}

TEST_F(ScannerTest, AFileFoundByAnalysisEndsThePendingOne) {
    add("pend", "PEND", nullptr);
    add("file", "FILE", module("file"));
    Image image(20);
    image.put(1, "PEND");
    image.putFile(5, "FILE", 3000);
    // Reported in this order, and nothing is left for finish.
    EXPECT_EQ(scan(image), (std::vector<Found>{{512, 2048, "pend"}, {2560, 3000, "file"}}));
}

TEST_F(ScannerTest, FinishReportsNothingWithoutAPendingFile) {
    add("file", "FILE", module("file"));
    Image image(8);
    image.putFile(0, "FILE", 600);
    EXPECT_EQ(scan(image), (std::vector<Found>{{0, 600, "file"}}));

    // A range that ends before its pending file starts (a caller's slip) gives
    // an empty file, not one of the pattern's whole Max Size.
    testutil::MemoryReader source(image.bytes());
    Scanner scanner(source, &registry);
    Collector late;
    table.clear();
    add("pend", "PEND", nullptr);
    scanner.setPatterns(table, &late);
    image.put(4, "PEND");
    scanner.processSector(2048, reinterpret_cast<const u8*>(image.bytes().data()) + 2048, 512);
    scanner.finish(1024);
    ASSERT_EQ(late.files.size(), 1u);
    EXPECT_EQ(late.files[0].getSize(), 0u);
    scanner.finish(4096);
    EXPECT_EQ(late.files.size(), 1u);
}

TEST_F(ScannerTest, InsideAnMp3OnlyTheMp3PatternIsSkipped) {
    StubModule* mp3 = module("mp3");
    StubModule* other = module("other");
    add("mp3", "MP3!", mp3);
    add("other", "OTHR", other);
    Image image(40);
    image.putFile(0, "MP3!", 10 * 512 + 1); // ends inside sector 10
    image.putFile(3, "MP3!", 512);
    image.putFile(5, "OTHR", 100);
    image.putFile(10, "MP3!", 512);
    image.putFile(11, "MP3!", 600);
    EXPECT_EQ(scan(image),
              (std::vector<Found>{{0, 5121, "mp3"}, {2560, 100, "other"}, {5632, 600, "mp3"}}));
    EXPECT_EQ(mp3->analyses, 2);
    EXPECT_EQ(other->analyses, 1);
}

TEST_F(ScannerTest, OnlyAnMpegPatternBeforeTheFirstMp3PatternIsSkipped) {
    Image image(20);
    image.putFile(0, "MPG!", 5000);
    image.putFile(4, "MPG!", 100);

    // "mpeg" after "mp3": not indexed, so hits inside a found MPEG file count.
    StubModule* mpeg = module("mpeg");
    add("mp3", "MP3!", module("mp3"));
    add("mpeg", "MPG!", mpeg);
    EXPECT_EQ(scan(image), (std::vector<Found>{{0, 5000, "mpeg"}, {2048, 100, "mpeg"}}));
    EXPECT_EQ(mpeg->analyses, 2);

    // Two "mpeg" patterns before "mp3": the last of them is skipped inside.
    table.clear();
    collector.files.clear();
    add("mpeg", "MPG?", mpeg);
    add("mpeg", "MPG!", mpeg);
    add("mp3", "MP3!", module("mp3"));
    add("mpeg", "MPG!", mpeg);
    testutil::MemoryReader source(image.bytes());
    Scanner scanner(source, &registry);
    scanner.setPatterns(table, &collector);
    EXPECT_EQ(scanner.mpegIndex(), 1u);
    EXPECT_EQ(scanner.mp3Index(), 2u);
    mpeg->analyses = 0;
    cbrtest::scanImage(scanner, image);
    // Inside, pattern 1 is skipped but pattern 3 (after "mp3") still hits.
    EXPECT_EQ(found(), (std::vector<Found>{{0, 5000, "mpeg"}, {2048, 100, "mpeg"}}));
    EXPECT_EQ(mpeg->analyses, 2);
}

TEST_F(ScannerTest, WithoutCallbackItStillTracksPendingFilesAndSkipRanges) {
    StubModule* mp3 = module("mp3");
    add("mp3", "MP3!", mp3);
    add("pend", "PEND", nullptr);
    Image image(20);
    image.putFile(0, "MP3!", 4000);
    image.putFile(3, "MP3!", 512);
    image.put(9, "PEND");
    EXPECT_TRUE(scan(image, nullptr).empty());
    EXPECT_EQ(mp3->analyses, 1);
}

TEST_F(ScannerTest, OfTwoHitsInOneSectorTheFirstThatSucceedsInTableOrderCounts) {
    StubModule* failing = cbrtest::addStub(registry, "failing").stub; // analyses fail
    StubModule* rejecting = cbrtest::addStub(registry, "rejecting").stub;
    rejecting->onCheck = [](const u8*, u32) { return false; };
    StubModule* c = module("c");
    StubModule* d = module("d");
    add("a", "AB", failing);
    add("b", "A", rejecting).setScanModule(rejecting);
    add("c", "A", c);
    add("d", "A", d);
    add("e", "", nullptr); // matches every sector, but c came first
    Image image(4);
    image.putFile(0, "AB\0\0", 700);
    EXPECT_EQ(scan(image, &collector, 0, 1), (std::vector<Found>{{0, 700, "c"}}));
    EXPECT_EQ(failing->analyses, 1);
    EXPECT_EQ(rejecting->checks, 1);
    EXPECT_EQ(rejecting->analyses, 0);
    EXPECT_EQ(d->analyses, 0);
}

TEST_F(ScannerTest, TheModuleReadsAWindowFromTheHitBoundedByMaxSizeAndTheSource) {
    StubModule* m = module("m");
    std::vector<std::string> heads;
    m->onAnalyze = [&](dt::Reader& file, FileInfo&) {
        u8 head[4];
        EXPECT_TRUE(file.read(0, head, 4));
        heads.emplace_back(reinterpret_cast<char*>(head), 4);
        return false;
    };
    add("m", "HIT", m, 1000);
    Image image(10);
    image.put(2, "HIT1");
    image.put(9, "HIT2");
    scan(image);
    EXPECT_EQ(heads, (std::vector<std::string>{"HIT1", "HIT2"}));
    EXPECT_EQ(m->windowSizes, (std::vector<i64>{1000, 512}));
}

TEST_F(ScannerTest, AWindowThatCannotBePlacedIsLoggedAndTheNextPatternTried) {
    add("m", "HIT", module("m"), 777);
    add("pend", "HIT", nullptr);
    Image image(4);
    image.put(0, "HIT");
    testutil::MemoryReader source(image.bytes());
    Scanner scanner(source, &registry);
    scanner.setPatterns(table, &collector);
    const std::size_t mark = logMemoryText().size();
    // A sector handed in beyond what the source holds.
    scanner.processSector(4096, reinterpret_cast<const u8*>(image.bytes().data()), 512);
    EXPECT_THAT(cbrtest::logSince(mark), testing::HasSubstr("Scanner(54): 4096 777\n"));
    scanner.finish(5120);
    EXPECT_EQ(found(), (std::vector<Found>{{4096, 1024, "pend"}}));
}

TEST_F(ScannerTest, AModuleClaimingMoreThanItsWindowIsNotBelieved) {
    StubModule* liar = cbrtest::addStub(registry, "liar").stub;
    liar->onAnalyze = [](dt::Reader& file, FileInfo& info) {
        info.setType("liar");
        info.setSize(static_cast<u64>(file.getSize()) + 1);
        return true;
    };
    add("mp3", "HIT", liar);
    add("next", "HIT", module("next"));
    Image image(8);
    image.putFile(0, "HIT", 100);
    image.putFile(1, "HIT", 100);
    // Not believed: the next pattern wins, and the mp3 skip range was not set.
    EXPECT_EQ(scan(image), (std::vector<Found>{{0, 100, "next"}, {512, 100, "next"}}));
    EXPECT_EQ(liar->analyses, 2);
}

TEST_F(ScannerTest, LoadPatternsReadsTheTableAndPassesItsErrorsOn) {
    StubModule* file = module("file");
    (void)file;
    testutil::TempDir dir;
    testutil::writeAll(dir.file("good"), "Type: file\nPattern: FILE\nAnalyze File Module: file\n"
                                         "Type: mp3\nType: pend\nPattern: PEND\n");
    testutil::writeAll(dir.file("bad"), "Type: x\nAnalyze File Module: nothing\n");
    Image image(4);
    image.putFile(0, "FILE", 100);
    testutil::MemoryReader source(image.bytes());
    Scanner scanner(source, &registry);
    EXPECT_THAT([&] { scanner.loadPatterns(dir.file("bad"), &collector); },
                ThrowsMessage<std::runtime_error>("PatternsFile(47)"));
    scanner.loadPatterns(dir.file("good"), &collector);
    EXPECT_EQ(scanner.patterns().size(), 3u);
    EXPECT_EQ(scanner.mp3Index(), 1u);
    EXPECT_EQ(scanner.mpegIndex(), Scanner::NONE);
    // The "mp3" record has neither bytes nor modules: it matches every sector
    // that "file" did not take.
    cbrtest::scanImage(scanner, image);
    EXPECT_EQ(found(),
              (std::vector<Found>{
                  {0, 100, "file"}, {512, 512, "mp3"}, {1024, 512, "mp3"}, {1536, 512, "mp3"}}));
}

// The program's table and modules over files that real tools made, laid at
// sector starts with zeros between them, as on a freshly formatted disk.
TEST(ScannerProgramTableTest, FindsFilesMadeByRealTools) {
    testutil::TempDir dir;
    const std::string d = testutil::shellQuote(dir.path());
    const std::string make =
        "cd " + d +
        " && convert -size 64x48 gradient:red-blue a.jpg"
        " && convert -size 64x48 gradient:red-blue a.png"
        " && convert -size 64x48 gradient:red-blue a.gif"
        " && convert -size 64x48 gradient:red-blue BMP3:a.bmp"
        " && zip -q -X -j a.zip a.png a.bmp"
        " && ffmpeg -loglevel error -f lavfi -i sine=frequency=440:duration=6"
        "    -metadata title=Song -c:a libmp3lame -b:a 128k a.mp3"
        " && ffmpeg -loglevel error -f lavfi -i sine=frequency=440:duration=1 a.wav"
        " && convert -size 64x48 gradient:red-blue a.tif"
        " && printf '<!DOCTYPE html>\\n<html><body>hi</body></html>\\r\\n' > a.html"
        " && ffmpeg -loglevel error -f lavfi -i testsrc=duration=1:size=64x48:rate=5"
        "    -c:v mpeg4 a.mp4"
        " && ffmpeg -loglevel error -f lavfi -i testsrc=duration=1:size=64x48:rate=5"
        "    -c:v mpeg4 a.avi"
        " && ffmpeg -loglevel error -f lavfi -i testsrc=duration=1:size=64x48:rate=25"
        "    -c:v mpeg1video -f mpeg a.mpg";
    std::string err;
    ASSERT_EQ(testutil::run(make, nullptr, &err), 0) << err;

    struct Placed {
        std::string file;
        std::string type;
        u64 sector;
        u64 size;
    };
    std::vector<Placed> placed{{"a.jpg", "jpeg", 3, 0}, {"a.png", "png", 0, 0},
                               {"a.gif", "gif", 0, 0},  {"a.bmp", "bmp", 0, 0},
                               {"a.zip", "zip", 0, 0},  {"a.mp3", "mp3", 0, 0},
                               {"a.wav", "wav", 0, 0}};
    std::string image(3 * 512, '\0');
    for (Placed& p : placed) {
        const std::string bytes = testutil::readAll(dir.file(p.file));
        p.sector = image.size() / 512;
        p.size = bytes.size();
        // A program stream ends at its end code; the muxer pads on behind it.
        if (p.type == "mpeg")
            p.size = bytes.find(std::string("\0\0\1\xB9", 4), 4) + 4;
        image += bytes;
        image.resize((image.size() + 511) / 512 * 512 + 2 * 512, '\0');
    }
    image.resize(image.size() + 8 * 512, '\0');
    Image source(image.size() / 512, '\0');
    source.put(0, image);

    cbr::FileModuleRegistry registry;
    testutil::MemoryReader reader(image);
    Scanner scanner(reader, &registry);
    Collector collector;
    scanner.loadPatterns(HB_SOURCE_DIR "/lib/cbr.files", &collector);
    cbrtest::scanImage(scanner, source);

    std::vector<Found> expected;
    for (const Placed& p : placed)
        expected.push_back({p.sector * 512, p.size, p.type});
    std::vector<Found> got;
    for (const FileInfo& f : collector.files)
        got.push_back({f.getStart(), f.getSize(), f.getType()});
    EXPECT_EQ(got, expected);
    ASSERT_EQ(collector.files.size(), placed.size());
    EXPECT_EQ(collector.files[5].getAttributes().get("name", ""), "Song");
}

} // namespace
