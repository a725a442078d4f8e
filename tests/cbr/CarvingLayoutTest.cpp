// The shapes in which ordinary disks hold files, carved with the program's
// table and modules: files back to back on sector starts, a file whose end was
// written over by the next one of its kind, a recording that was interrupted,
// a file split around another of its kind, an archive stored in another, whole
// files whose own members, tags or atoms start a sector. Every whole file among
// them is carved whole; a file that is not may run on over those after it.

#include "cbr/FileModuleRegistry.h"
#include "tests/cbr/CarvingCorpus.h"
#include "tests/cbr/CarvingLayouts.h"
#include "tests/cbr/CbrTestSupport.h"
#include "tests/support/ProbeRun.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using cbrtest::Found;
using corpus::DiskImage;
using corpus::Placed;
using corpus::sample;

const corpus::ShapeFiles& shapes() {
    return corpus::shapeFiles();
}

void expectCarvedWhole(const std::vector<Placed>& whole, const std::vector<Found>& carved) {
    u64 lost = 0;
    for (const Placed& w : whole) {
        const Found expected{w.start, w.size, w.type};
        if (std::find(carved.begin(), carved.end(), expected) == carved.end()) {
            ADD_FAILURE() << w.label << " at " << w.start << " is not carved whole as " << expected;
            ++lost;
        }
    }
    EXPECT_EQ(lost, 0u) << "of " << whole.size() << " whole files";
}

struct Shape {
    const char* name;
    DiskImage (*build)();
    // When not 0, the found files together claim no more cards than this: a
    // piece of a whole file that ran on with it ends with it.
    u64 cardsClaimed = 0;
};

void PrintTo(const Shape& shape, std::ostream* out) {
    *out << shape.name;
}

class CarvingLayoutTest : public testing::TestWithParam<Shape> {};

TEST_P(CarvingLayoutTest, EveryWholeFileIsCarvedWhole) {
    const DiskImage disk = GetParam().build();
    cbr::FileModuleRegistry registry;
    const cbrtest::ScanOutcome outcome =
        cbrtest::carveWithProgramTable(cbrtest::Image(disk.bytes()), registry);
    expectCarvedWhole(disk.wholeFiles(), outcome.files);
    if (GetParam().cardsClaimed == 0)
        return;
    u64 claimed = 0;
    for (const Found& f : outcome.files)
        claimed += f.size;
    EXPECT_LE(claimed, GetParam().cardsClaimed * disk.bytes().size())
        << outcome.files.size() << " found files on a card of " << disk.bytes().size() << " bytes";
}

const char* const MOVIES[] = {"MOV", "MOV, fast start", "MP4", "MP4, fast start"};

const Shape SHAPES[] = {
    {"InterruptedRecordingThenFourMovies",
     [] {
         DiskImage d;
         d.other(corpus::interruptedRecording(sample("MOV"), 4));
         for (const char* movie : MOVIES)
             d.whole(sample(movie));
         return d.zeros(8);
     }},
    {"TwoMoviesBackToBackEndingOnSectorBoundaries",
     [] {
         return DiskImage()
             .whole(shapes().sectorMovies[0])
             .whole(shapes().sectorMovies[3])
             .zeros(8);
     }},
    {"MovieInsideAMovieSplitAroundIt",
     [] { return DiskImage().split(shapes().longMovie, 2, sample("MP4")).zeros(8); }},
    {"RarInsideARarSplitAroundIt",
     [] { return DiskImage().split(shapes().largeRar, 2, sample("RAR 4")).zeros(8); }},
    {"LzhInsideAnLzhSplitAroundIt",
     [] { return DiskImage().split(shapes().largeLzh, 2, sample("LZH")).zeros(8); }},
    {"ArjInsideAnArjSplitAroundIt",
     [] { return DiskImage().split(shapes().largeArj, 2, sample("ARJ")).zeros(8); }},
    {"ZipAfterACutZipWithDataDescriptors",
     [] { return DiskImage().cut(shapes().descriptorZip, 1).whole(sample("ZIP")).zeros(8); }},
    {"StoredZipInsideAZip",
     [] { return DiskImage().whole(shapes().nestingZip).holding(sample("ZIP"), 512).zeros(8); }},
    {"GifsAfterCutGifs",
     [] {
         DiskImage d;
         for (std::size_t i = 0; i < 40; ++i)
             d.cut(shapes().gifs[i], 1 + i % 3).whole(shapes().gifs[40 + i]);
         return d.zeros(8);
     }},
    {"HtmlAfterAPageWithoutClosingTag",
     [] { return DiskImage().cut(shapes().longHtml, 2).whole(sample("HTML")).zeros(8); }},
    {"XmlAfterADocumentWithoutClosingTag",
     [] { return DiskImage().cut(shapes().longXml, 2).whole(sample("XML")).zeros(8); }},
    {"ZipWhoseFourthOfEightMembersStartsASector",
     [] { return DiskImage().whole(shapes().memberZip).zeros(8); }},
    {"ZipWhoseLastMemberStartsASector",
     [] { return DiskImage().whole(shapes().lastMemberZip).zeros(8); }},
    {"HtmlWhoseBodyStartsASector", [] { return DiskImage().whole(shapes().bodyHtml).zeros(8); }},
    {"HtmlWhoseTitleStartsASector", [] { return DiskImage().whole(shapes().titleHtml).zeros(8); }},
    {"XhtmlWhoseBodyStartsASector", [] { return DiskImage().whole(shapes().bodyXhtml).zeros(8); }},
    {"LzhWhoseThirdOfFiveMembersStartsASector",
     [] { return DiskImage().whole(shapes().memberLzh).zeros(8); }},
    {"Mp4WhoseMediaDataStartsASector",
     [] { return DiskImage().whole(shapes().mediaMp4).zeros(8); }},
    {"TheSameWithNothingOnASectorAndMoviesThatStayWhole",
     [] {
         DiskImage d;
         for (const corpus::Sample& s : shapes().controls)
             d.whole(s);
         return d.zeros(8);
     }},
    // Its index points past its first atoms, which end where its media data
    // starts a sector: it is whole only with the media data.
    {"MovieWithItsIndexFirstAndMediaOnASectorThenAnother",
     [] {
         return DiskImage()
             .whole(corpus::endingOnASector(shapes().reservedMp4))
             .whole(shapes().sectorMovies[2])
             .zeros(8);
     }},
    // The movie is cut back at the first movie after it, and the atom of it
    // on a sector start, whole before none of them, with it.
    {"MovieWhoseMediaStartsASectorThenAHundredAndFiftyMovies",
     [] {
         DiskImage d;
         d.whole(corpus::endingOnASector(shapes().mediaMp4));
         for (std::size_t i = 0; i < 150; ++i)
             d.whole(shapes().sectorMovies[i % shapes().sectorMovies.size()]);
         return d.zeros(8);
     },
     3},
    // A card of small movies, each with its media data or movie atom on a
    // sector start: every movie runs on to the last one's end, and so does
    // each atom piece of one until its movie is cut back.
    {"FourHundredMoviesWithAnAtomOnASectorBackToBack",
     [] {
         DiskImage d;
         const std::vector<corpus::Sample>& movies = shapes().cardMovies;
         for (std::size_t i = 0; i < 400; ++i)
             d.whole(corpus::endingOnASector(movies[i * 7 % movies.size()]));
         return d.zeros(8);
     },
     3},
    // Each movie is judged at its own media data and at the next movie, all
    // within the judgements' allowance: it grows with the card faster than
    // judging real movies reads, here 14 MB of them.
    {"FifteenHundredMp4sWhoseMediaStartsASectorBackToBack",
     [] {
         DiskImage d;
         const corpus::Sample movie = corpus::endingOnASector(shapes().mediaMp4);
         for (std::size_t i = 0; i < 1500; ++i)
             d.whole(movie);
         return d.zeros(8);
     },
     3},
    {"FortyArchivesTwentyPagesTenLzhBackToBack",
     [] {
         DiskImage d;
         for (const corpus::Sample& s : shapes().manyArchives)
             d.whole(s);
         return d.zeros(8);
     }},
};

INSTANTIATE_TEST_SUITE_P(Shapes, CarvingLayoutTest, testing::ValuesIn(SHAPES),
                         [](const testing::TestParamInfo<Shape>& info) { return info.param.name; });

// A memory card written in one go: files of every kind back to back, twice,
// and among them each of the shapes above.
DiskImage card() {
    DiskImage d;
    const std::vector<corpus::Sample>& every = corpus::everyKind();
    for (const corpus::Sample& s : every)
        d.whole(s);
    for (std::size_t i = 0; i < 6; ++i)
        d.cut(shapes().gifs[i], 1 + i % 3).whole(shapes().gifs[40 + i]);
    d.cut(shapes().longHtml, 2).whole(sample("HTML"));
    d.cut(shapes().longXml, 2).whole(sample("XML"));
    d.cut(shapes().descriptorZip, 1).whole(sample("ZIP"));
    d.cut(sample("ImageMagick baseline JPEG"), 1).whole(sample("ImageMagick progressive JPEG"));
    d.cut(sample("BMP v5"), 1).whole(sample("BMP v3"));
    d.split(shapes().largeArj, 2, sample("ARJ"));
    d.split(shapes().largeRar, 2, sample("RAR 4"));
    d.split(shapes().largeLzh, 2, sample("LZH"));
    d.split(shapes().longMovie, 2, sample("MP4"));
    d.whole(shapes().nestingZip).holding(sample("ZIP"), 512);
    for (const corpus::Sample& movie : shapes().sectorMovies)
        d.whole(movie);
    for (auto s = every.rbegin(); s != every.rend(); ++s)
        d.whole(*s);
    d.other(corpus::interruptedRecording(sample("MOV"), 4));
    for (const char* movie : MOVIES)
        d.whole(sample(movie));
    return d.zeros(8);
}

// The whole chain as a user runs it: a deep scan of the card through the test
// probe and the recovery of the found files. Every whole file comes back byte
// for byte.
TEST(CarvingLayoutCardTest, EveryWholeFileOfACardWrittenInOneGoComesBack) {
    const DiskImage disk = card();
    testutil::TempDir dir;
    testutil::writeAll(dir.file("card"), disk.bytes());
    const testutil::ProbeResult r =
        testutil::runProbe("scan " + testutil::fileDescriptor(dir.file("card")) + " 0 " +
                           std::to_string(disk.bytes().size() / 512) + " --recover " +
                           testutil::shellQuote(dir.file("out")));
    ASSERT_EQ(r.status, 0) << r.err;

    std::vector<Found> carved;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string head;
        Found f{};
        if (fields >> head >> f.start >> f.size >> f.type && head == "carved:")
            carved.push_back(f);
    }
    expectCarvedWhole(disk.wholeFiles(), carved);

    // Files alike (the corpus's ZIP, three times) come back as often as they
    // were laid.
    std::map<std::string, int> missing;
    for (const Placed& w : disk.wholeFiles())
        ++missing[disk.bytes().substr(w.start, w.size)];
    std::string list;
    testutil::run("cd " + testutil::shellQuote(dir.file("out")) + " && find . -type f", &list);
    std::istringstream paths(list);
    for (std::string path; std::getline(paths, path);)
        --missing[testutil::readAll(dir.file("out/" + path))];
    for (const Placed& w : disk.wholeFiles())
        EXPECT_LE(missing[disk.bytes().substr(w.start, w.size)], 0)
            << w.label << " at " << w.start << " does not come back";
}

} // namespace
