// The fixture's corpus: one recipe of steps, made by our builder on libntfs-3g
// and by ntfs-3g's own tools.

#include "tests/fs/ntfs/NtfsFixture.h"

#include "tests/support/FsImages.h"
#include "tests/support/NtfsBuilder.h"
#include "tests/support/TestUtil.h"
#include "tests/support/TreeListing.h"

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace ntfstest {

using testutil::shellQuote;

namespace {

// Bumped when what the corpus means changes without its recipe changing.
constexpr const char* CORPUS_VERSION = "3";

enum Op { MKDIR, WRITE, COMPRESS, SPARSE, FRAGMENT, DOSNAME, MTIME, ALLOCATE, RM, RMTREE };

struct Step {
    Op op;
    std::string path;
    std::string data = "";                  // the contents; DOSNAME's short name
    std::vector<testutil::Hole> holes = {}; // SPARSE's holes; ALLOCATE's one stretch
    u64 n = 0;                              // FRAGMENT's pieces; MTIME's time
};

std::vector<Step> recipe(u32 c) {
    const u32 unit = 16 * c;
    const u32 pieces = c <= 4096 ? 600 : 60;
    std::vector<Step> steps = {
        {MKDIR, "/Docs"},
        {MKDIR, "/Docs/Deep"},
        {MKDIR, "/Keep"},
        {MKDIR, "/Many"},
        {MKDIR, "/Packed"},
        {MKDIR, "/Tree"},
        {WRITE, "/empty.txt", ""},
        {WRITE, "/one.bin", "x"},
        {WRITE, "/resident.txt", textContent(300, 1)},
        {WRITE, "/exact.bin", randomContent(c, 2)},
        {WRITE, "/text.txt", textContent(100000, 3)},
        {WRITE, "/zeros.bin", std::string(70000, '\0')},
        {WRITE, "/random.bin", randomContent(300000, 4)},
        {WRITE, "/Docs/A long file name with spaces that goes on for well over sixty-four chars",
         textContent(3000, 5)},
        {WRITE, "/Docs/Deep/Grüße aus Köln.txt", textContent(777, 6)},
        {WRITE, "/Docs/\U0001D11E clef.txt", "music"},
        {WRITE, "/Docs/LongName.txt", "short name beside"},
        {DOSNAME, "/Docs/LongName.txt", "LONGNA~1.TXT"},
        // Small clusters need so many runs that the list spills into extension
        // records, named by an attribute list.
        {FRAGMENT, "/frag.bin", randomContent(u64{pieces} * c, 7), {}, pieces},
        // libntfs-3g gives sparse files a compression unit: their holes, the
        // first inside a unit, are only zeros.
        {SPARSE, "/sparse.bin", randomContent(10 * c, 8), {{3 * c, 3 * c}, {8 * c, 2 * c}}},
        // Allocated past the data by ntfs-3g's own tool: bytes never written,
        // beyond the initialized size.
        {WRITE, "/init.bin", randomContent(c + 100, 9)},
        {ALLOCATE, "/init.bin", "", {{4 * c, c}}},
        {WRITE, "/Keep/kept.bin", randomContent(30000, 17)},
        {WRITE, "/Keep/gone.bin", randomContent(40000, 18)},
        {WRITE, "/Keep/small.txt", "resident and deleted"},
        {WRITE, "/Tree/deep.bin", randomContent(9000, 19)},
        {WRITE, "/root-file.bin", randomContent(12345, 20)},
        {MTIME, "/one.bin", "", {}, testutil::IMAGE_EPOCH - 86400},
        {MTIME, "/Docs/Deep/Grüße aus Köln.txt", "", {}, testutil::IMAGE_EPOCH - 2 * 86400 - 7},
    };
    for (u32 i = 1; i <= 300; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%06u", i);
        steps.push_back({WRITE, std::string("/Many/") + name, std::string(name).append(100, ' ')});
    }
    if (c <= 4096) {
        // Compression units on both sides of their edge, of every kind.
        steps.insert(steps.end(), {{COMPRESS, "/Packed/text-unit-1", textContent(unit - 1, 10)},
                                   {COMPRESS, "/Packed/text-unit+1", textContent(unit + 1, 11)},
                                   {COMPRESS, "/Packed/zeros-unit+1", std::string(unit + 1, '\0')},
                                   {COMPRESS, "/Packed/random-unit+1", randomContent(unit + 1, 12)},
                                   {COMPRESS, "/Packed/text-1m", textContent(1 << 20, 13)},
                                   {COMPRESS, "/Packed/mixed",
                                    std::string(70000, '\0') + textContent(100000, 14) +
                                        randomContent(150000, 15) + std::string(200000, '\0') +
                                        textContent(3333, 16) + std::string(140000, '\0')}});
    }
    // Deletions last: what is made later may take their records.
    steps.insert(steps.end(), {{RM, "/Keep/gone.bin"},
                               {RM, "/Keep/small.txt"},
                               {RM, "/root-file.bin"},
                               {RMTREE, "/Tree"}});
    return steps;
}

// What the volume holds once the steps are made.
std::vector<CorpusFile> filesOf(const std::vector<Step>& steps) {
    std::vector<CorpusFile> files;
    for (const Step& s : steps) {
        if (s.op == WRITE || s.op == COMPRESS || s.op == FRAGMENT || s.op == SPARSE)
            files.push_back({s.path, testutil::punchHoles(s.data, s.holes), testutil::IMAGE_EPOCH});
        for (CorpusFile& f : files) {
            if (s.op == RMTREE && f.path.rfind(s.path + "/", 0) == 0)
                f.deleted = true;
            if (f.path != s.path)
                continue;
            if (s.op == MTIME)
                f.mtime = static_cast<std::time_t>(s.n);
            f.deleted = f.deleted || s.op == RM;
            if (s.op == ALLOCATE)
                f.data.resize(s.holes[0].offset + s.holes[0].length, '\0');
        }
    }
    return files;
}

void make(const Step& s, testutil::NtfsBuilder& b, const std::string& image) {
    if (s.op == MKDIR)
        b.mkdir(s.path);
    else if (s.op == WRITE)
        b.write(s.path, s.data);
    else if (s.op == COMPRESS)
        b.compress(s.path, s.data);
    else if (s.op == SPARSE)
        b.sparse(s.path, testutil::punchHoles(s.data, s.holes), s.holes);
    else if (s.op == FRAGMENT)
        b.fragment(s.path, s.data, static_cast<u32>(s.n));
    else if (s.op == DOSNAME)
        b.dosName(s.path, s.data);
    else if (s.op == MTIME)
        b.setMtime(s.path, static_cast<std::time_t>(s.n));
    else if (s.op == RM)
        b.rm(s.path);
    else if (s.op == RMTREE)
        b.rmtree(s.path);
    if (s.op != ALLOCATE)
        return;
    const ::testing::AssertionResult built = b.run();
    const std::string command = "ntfsfallocate -o " + std::to_string(s.holes[0].offset) + " -l " +
                                std::to_string(s.holes[0].length) + " " + shellQuote(image) + " " +
                                shellQuote(s.path.substr(1));
    if (!built || runTool(command + " >/dev/null") != 0)
        throw std::runtime_error("failed: " + command + " " + built.message());
}

Corpus build(u32 clusterBytes) {
    const std::vector<Step> steps = recipe(clusterBytes);
    Corpus corpus{"", filesOf(steps)};
    // The image is named by its recipe and builder, so that a change of either
    // builds anew.
    std::string key = CORPUS_VERSION;
    for (const Step& s : steps) {
        key += std::to_string(s.op) + s.path + s.data + std::to_string(s.n);
        for (const testutil::Hole& h : s.holes)
            key += std::to_string(h.offset) + ':' + std::to_string(h.length);
    }
    struct stat tool {};
    ::stat(testutil::NtfsBuilder::toolPath().c_str(), &tool);
    char name[64];
    std::snprintf(name, sizeof name, "/%u-%zx.img", clusterBytes,
                  std::hash<std::string>()(key + std::to_string(tool.st_size) +
                                           std::to_string(tool.st_mtime)));
    const std::string folder = HB_BINARY_DIR "/ntfs-corpus";
    corpus.image = folder + name;
    testutil::run("mkdir -p " + shellQuote(folder));
    // Built once for all test processes of the run.
    testutil::buildOnce(corpus.image, [&](const std::string& making) {
        testutil::NtfsImageOptions options;
        options.clusterBytes = clusterBytes;
        options.sizeMiB = clusterBytes > 4096 ? 96 : 32;
        testutil::NtfsImage image(making, options);
        testutil::NtfsBuilder builder(image);
        for (const Step& s : steps)
            make(s, builder, making);
        if (const ::testing::AssertionResult built = builder.run(); !built)
            throw std::runtime_error(built.message());
        testutil::run("rm -rf " + shellQuote(making + ".files"));
    });
    return corpus;
}

} // namespace

const Corpus& corpus(u32 clusterBytes) {
    static std::map<u32, Corpus> built;
    auto it = built.find(clusterBytes);
    if (it == built.end())
        it = built.emplace(clusterBytes, build(clusterBytes)).first;
    return it->second;
}

CorpusTree::CorpusTree(const std::string& image, const std::vector<u64>& bad)
    : source(openSource(image, bad)), map(buildTree(*source)) {
    if (!map)
        throw std::runtime_error("no MFT run list in " + image);
    listing = testutil::listTree(*map);
}

int runTool(const std::string& command, std::string* out) {
    std::string err;
    return testutil::run("PATH=\"$PATH:/usr/sbin:/sbin\" LC_ALL=C.UTF-8 TZ=UTC " + command, out,
                         &err);
}

} // namespace ntfstest
