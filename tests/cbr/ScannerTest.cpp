#include "cbr/Scanner.h"

#include "cbr/PatternsFile.h"
#include "tests/cbr/CarvingCorpus.h"
#include "tests/cbr/CbrTestSupport.h"
#include "tests/support/FailingReader.h"
#include "tests/support/HostileCarvingImages.h"
#include "tests/support/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
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

using cbrtest::Found;
using cbrtest::ScanOutcome;

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

TEST_F(ScannerTest, InsideAnMp3OrMpegFileOnlyItsOwnPatternIsSkipped) {
    for (const std::string kind : {"mp3", "mpeg"}) {
        SCOPED_TRACE(kind);
        table.clear();
        collector.files.clear();
        StubModule* stream = module(kind);
        StubModule* other = module("other");
        add(kind, "STR!", stream);
        add("other", "OTHR", other);
        Image image(40);
        image.putFile(0, "STR!", 10 * 512 + 1); // ends inside sector 10
        image.putFile(3, "STR!", 512);
        image.putFile(5, "OTHR", 100);
        image.putFile(10, "STR!", 512);
        image.putFile(11, "STR!", 600);
        EXPECT_EQ(scan(image),
                  (std::vector<Found>{{0, 5121, kind}, {2560, 100, "other"}, {5632, 600, kind}}));
        EXPECT_EQ(stream->analyses, 2);
        EXPECT_EQ(other->analyses, 1);
    }
}

// Inside a found file every pattern is tried again. A file of the same module
// that ends where an earlier one ends (the earlier analysis ran on into it)
// cuts that one back only when its module finds it whole before the later
// start, by its own end; here the u32 at byte 8 is that end (0: none).
TEST_F(ScannerTest, AFileRunOnToWhereALaterOneEndsIsCutOnlyWhereItIsWholeByItsOwnEnd) {
    struct Laid {
        u64 sector;
        const char* magic;
        u32 size;
        u32 ownEnd;
    };
    struct Case {
        const char* name;
        std::vector<Laid> files;
        std::vector<Found> found;
    };
    const Case cases[] = {
        {"a member that ends with its file cuts nothing",
         {{0, "AAAA", 4096, 0}, {4, "BBBB", 2048, 0}},
         {{0, 4096, "chain"}, {2048, 2048, "chain"}}},
        {"a file whole where the next one starts ends there",
         {{0, "AAAA", 4096, 2048}, {4, "BBBB", 2048, 0}},
         {{0, 2048, "chain"}, {2048, 2048, "chain"}}},
        {"or at its own end before",
         {{0, "AAAA", 4096, 1000}, {4, "BBBB", 2048, 0}},
         {{0, 1000, "chain"}, {2048, 2048, "chain"}}},
        {"an own end past the later start is none before it",
         {{0, "AAAA", 4096, 3000}, {4, "BBBB", 2048, 0}},
         {{0, 4096, "chain"}, {2048, 2048, "chain"}}},
        {"the first file of an end is judged again at every later one, and a piece of it that "
         "ran on with it ends with it",
         {{0, "AAAA", 6144, 3072}, {3, "BBBB", 4608, 0}, {6, "AAAA", 3072, 0}},
         {{0, 3072, "chain"}, {1536, 1536, "chain"}, {3072, 3072, "chain"}}},
        {"of more files of an end than are kept, the second goes and the first stays",
         {{0, "AAAA", 8192, 3072},
          {1, "BBBB", 7680, 0},
          {2, "BBBB", 7168, 0},
          {3, "BBBB", 6656, 0},
          {4, "BBBB", 6144, 0},
          {6, "AAAA", 5120, 0}},
         {{0, 3072, "chain"},
          {512, 7680, "chain"},
          {1024, 2048, "chain"},
          {1536, 1536, "chain"},
          {2048, 1024, "chain"},
          {3072, 5120, "chain"}}},
        {"a file of another module cuts nothing",
         {{0, "AAAA", 4096, 2048}, {4, "OTHR", 2048, 0}},
         {{0, 4096, "chain"}, {2048, 2048, "other"}}},
        {"nor one that ends elsewhere",
         {{0, "AAAA", 4096, 2048}, {4, "BBBB", 1024, 0}},
         {{0, 4096, "chain"}, {2048, 1024, "chain"}}},
    };
    StubModule* chain = module("chain");
    chain->onWholeWithin = [](dt::Reader& file, FileInfo& info) {
        u8 head[12];
        if (!file.read(0, head, sizeof head) || getLE32(head, 8) == 0 ||
            getLE32(head, 8) > file.getSize())
            return false;
        info.setSize(getLE32(head, 8));
        return true;
    };
    add("chain", "AAAA", chain);
    add("more", "BBBB", chain);
    add("other", "OTHR", module("other"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        collector.files.clear();
        Image image(20);
        for (const Laid& f : c.files) {
            image.putFile(f.sector, f.magic, f.size);
            image.put(f.sector, corpus::le(f.ownEnd, 4), 8);
        }
        EXPECT_EQ(scan(image), c.found);
    }
}

// Four forged chains in turn, every sector a file of one that runs on to the
// chain's end, and every judgement of a module reading its whole window: the
// windows of the first file of an end and of the latest ones reach back over
// the other chains' files, and unbounded they would read some sixty times the
// source. Judging stays within a fixed multiple of it.
TEST_F(ScannerTest, JudgingForgedChainsReadsAFixedMultipleOfTheSource) {
    StubModule* chain = module("chain");
    u64 judged = 0;
    chain->onWholeWithin = [&judged](dt::Reader& file, FileInfo&) {
        std::vector<u8> block(4096);
        for (i64 at = 0; at < file.getSize(); at += 4096) {
            const i64 n = std::min<i64>(4096, file.getSize() - at);
            if (!file.read(at, block.data(), n))
                return false;
            judged += static_cast<u64>(n);
        }
        return false;
    };
    add("chain", "AAAA", chain, u64(1) << 30);
    constexpr u64 SECTORS = 4096;
    constexpr u64 CHAINS = 4;
    Image image(SECTORS + CHAINS);
    for (u64 s = 0; s < SECTORS; ++s)
        image.putFile(s, "AAAA", static_cast<u32>((SECTORS + s % CHAINS - s) * 512));
    EXPECT_EQ(scan(image).size(), SECTORS);
    EXPECT_LE(judged, 10 * image.bytes().size());
}

// Files back to back, each running on to the last one's end, whose judgement
// reads what they hold six times over (as a movie's atoms and index are read
// again from its media data and from the next movie): judging real files
// reads a few times the source, and on a card of 8 MiB every file is still
// judged and cut back to its own end, the last as well as the first.
TEST_F(ScannerTest, JudgingThatReadsAFewTimesTheSourceLastsTheWholeCard) {
    constexpr u64 FILES = 2048;
    constexpr u32 FILE_BYTES = 4096;
    StubModule* chain = module("chain");
    u64 judged = 0;
    chain->onWholeWithin = [&judged](dt::Reader& file, FileInfo& info) {
        std::vector<u8> bytes(FILE_BYTES);
        for (int pass = 0; pass < 6; ++pass) {
            if (file.getSize() < FILE_BYTES || !file.read(0, bytes.data(), FILE_BYTES))
                return false;
            judged += FILE_BYTES;
        }
        info.setSize(getLE32(bytes.data(), 8));
        return true;
    };
    add("chain", "AAAA", chain, u64(1) << 30);
    Image image(FILES * FILE_BYTES / 512);
    std::vector<Found> expected;
    for (u64 i = 0; i < FILES; ++i) {
        const u64 sector = i * FILE_BYTES / 512;
        image.putFile(sector, "AAAA", static_cast<u32>((FILES - i) * FILE_BYTES));
        image.put(sector, corpus::le(FILE_BYTES, 4), 8);
        expected.push_back({sector * 512, FILE_BYTES, "chain"});
    }
    EXPECT_EQ(scan(image), expected);
    EXPECT_LE(judged, 7 * image.bytes().size());
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

TEST_F(ScannerTest, AWindowThatCannotBePlacedIsLoggedAndTheNextPatternTried) {
    add("m", "HIT", module("m"), 777);
    add("pend", "HIT", nullptr);
    Image image(4);
    image.put(0, "HIT");
    testutil::MemoryReader source(image.bytes());
    Scanner scanner(source, &registry);
    scanner.setPatterns(table, &collector);
    testutil::LogCapture log;
    // A sector handed in beyond what the source holds.
    scanner.processSector(4096, reinterpret_cast<const u8*>(image.bytes().data()), 512);
    EXPECT_TRUE(log.has("Scanner(54): 4096 777\n"));
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
    testutil::LogCapture log;
    EXPECT_EQ(scan(image), (std::vector<Found>{{0, 100, "next"}, {512, 100, "next"}}));
    EXPECT_TRUE(log.has("Scanner(90): mp3 0 4097\n"));
    EXPECT_EQ(liar->analyses, 2);
}

// The program's modules with their scan memory taken away: each hit analysed
// afresh, as if it were the only one.
class Forgetful : public cbr::FileModule {
public:
    explicit Forgetful(cbr::FileModule* module) : module_(module) {}
    bool check(const u8* sector, u32 size) override { return module_->check(sector, size); }
    bool analyze(dt::Reader& file, FileInfo& info) override { return module_->analyze(file, info); }
    bool wholeWithin(dt::Reader& file, FileInfo& info) override {
        return module_->wholeWithin(file, info);
    }

private:
    cbr::FileModule* module_;
};

// The same modules as `registry`, forgetful.
FileModuleRegistry forgetfulOf(const FileModuleRegistry& registry) {
    FileModuleRegistry forgetful(FileModuleRegistry::NO_MODULES);
    for (const auto& named : registry.modules())
        forgetful.add(named.first, SharedPtr<cbr::FileModule>(new Forgetful(named.second.get())));
    return forgetful;
}

// Searches for an end that failed over a stretch are not made again by the
// hits inside it (a CRW header whose root directory is gone, a video stream
// without its end code at every sector, a megabyte of pack headers), and the
// files found are those of an analysis afresh at every hit.
TEST(ScannerMemoryTest, FailedSearchesAreNotRepeatedAndTheFindsStayTheSame) {
    const std::string crw = [] {
        for (const corpus::Sample& s : corpus::everyKind())
            if (s.type == "crw")
                return s.bytes;
        return std::string();
    }();
    const std::string pack("\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x01\x89\xC3\xF8", 14);
    std::string packs;
    while (packs.size() < 2048 * 512)
        packs += pack;
    Image image(1200 + 2048 + 100 + 64);
    image.put(0, corpus::noise(image.sectors() * 512, 3));
    image.put(0, crw.substr(0, 26)); // its heap and root directory are gone
    image.put(8, crw);
    for (u64 s = 1100; s < 1164; ++s)
        image.put(s, std::string("\0\0\1\xB3", 4));
    image.put(1200, packs);

    FileModuleRegistry registry;
    FileModuleRegistry forgetful = forgetfulOf(registry);
    const ScanOutcome remembering = cbrtest::carveWithProgramTable(image, registry);
    const ScanOutcome afresh = cbrtest::carveWithProgramTable(image, forgetful);
    EXPECT_EQ(remembering.files, (std::vector<Found>{{8 * 512, crw.size(), "crw"}}));
    EXPECT_EQ(remembering.files, afresh.files);
    EXPECT_LT(remembering.bytesRead, 3 * image.bytes().size());
    EXPECT_GT(afresh.bytesRead, 20 * remembering.bytesRead);
}

struct Hostile {
    const char* kind;
    hostile::Ending ending;
    u64 maxSize; // of every pattern's windows, short of the image's end (0: the table's)
    // The smaller image's size: large enough that most hits' windows hold all
    // that their walks may read.
    u64 kib = 256;
    // When not 0: the most the scan of the larger image may read, in images.
    u64 maxReads = 0;
};

class HostileImageTest : public testing::TestWithParam<Hostile> {};

// Each hit is walked as far as its chain goes only where no earlier walk went:
// twice the image costs twice the reading, not four times. The files come out
// as an analysis afresh at every hit gives them.
TEST_P(HostileImageTest, CarvingIsLinearAndFindsWhatAnAnalysisAfreshFinds) {
    const Hostile& h = GetParam();
    FileModuleRegistry registry;
    // An image of `kib` KiB in which every sector starts a header of one kind
    // that chains into the next sector.
    auto scan = [&](u64 kib, FileModuleRegistry& modules) {
        Image image(0);
        image.put(0, hostile::image(h.kind, kib * 1024, h.ending));
        return cbrtest::carveWithProgramTable(image, modules, h.maxSize);
    };
    const ScanOutcome small = scan(h.kib, registry);
    const ScanOutcome large = scan(2 * h.kib, registry);
    EXPECT_LE(large.bytesRead, 5 * small.bytesRead / 2);
    if (h.maxReads != 0) {
        EXPECT_LE(large.bytesRead, h.maxReads * 2 * h.kib * 1024);
    }
    FileModuleRegistry forgetful = forgetfulOf(registry);
    EXPECT_EQ(scan(128, registry).files, scan(128, forgetful).files);
}

constexpr hostile::Ending NEVER = hostile::Ending::NEVER;
constexpr hostile::Ending ENDED = hostile::Ending::AT_THE_END;

const Hostile HOSTILE_IMAGES[] = {
    {"png-interleaved", NEVER, 0},
    {"png-interleaved", ENDED, 0},
    {"jpeg-interleaved", NEVER, 0},
    {"jpeg-interleaved", ENDED, 0},
    {"zip-interleaved", NEVER, 0},
    {"zip-interleaved", ENDED, 0},
    {"mov-interleaved", NEVER, 0},
    {"mov-interleaved", ENDED, 0},
    {"xml-roots", NEVER, 0},
    {"xml-roots", ENDED, 0},
    {"png", NEVER, 0},
    {"png", ENDED, 0},
    {"png", ENDED, 40000},
    {"gif", NEVER, 0},
    {"gif", ENDED, 40000},
    {"jpeg", NEVER, 0},
    {"jpeg", ENDED, 40000},
    {"html", NEVER, 40000},
    {"html", ENDED, 0},
    {"xml", ENDED, 40000},
    {"mov", NEVER, 0},
    {"mov", NEVER, 40000},
    {"mov", ENDED, 0},
    {"zip", NEVER, 0},
    {"zip", ENDED, 40000},
    {"lzh", ENDED, 0},
    {"rar", NEVER, 0},
    {"arj", ENDED, 0},
    {"tiff", NEVER, 0},
    {"mrw", NEVER, 0},
    {"mrw", NEVER, 40000},
    {"asf", NEVER, 0},
    {"asf", NEVER, 40000},
    {"ole", NEVER, 0, 1024, 16},
    {"crw", NEVER, 0, 2048},
    {"mpeg-program", NEVER, 0},
    {"mpeg-video", NEVER, 0},
    {"mp3", NEVER, 0},
};

INSTANTIATE_TEST_SUITE_P(Kinds, HostileImageTest, testing::ValuesIn(HOSTILE_IMAGES),
                         [](const testing::TestParamInfo<Hostile>& info) {
                             std::string name = info.param.kind;
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name + (info.param.ending == ENDED ? "Ended" : "") +
                                    (info.param.maxSize ? "ShortWindows" : "");
                         });

} // namespace
