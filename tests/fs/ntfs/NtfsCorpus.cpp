// The fixture's corpus and ntfs-3g's tools.

#include "tests/fs/ntfs/NtfsFixture.h"

#include "tests/support/FsImages.h"
#include "tests/support/NtfsBuilder.h"
#include "tests/support/TestUtil.h"
#include "tests/support/TreeListing.h"

#include <cstdio>
#include <functional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace ntfstest {

using testutil::shellQuote;

namespace {

// Bumped when what the corpus means changes without its recipe changing.
constexpr const char* CORPUS_VERSION = "2";

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Collects the corpus's files and, when given a builder, makes them; the recipe
// names every step, so that a change of any of them builds anew.
class Recipe {
public:
    Recipe(u32 clusterBytes, testutil::NtfsBuilder* builder, const std::string& image = "")
        : c_(clusterBytes), b_(builder), image_(image) {}

    void write(const std::string& path, const std::string& data) {
        add("write", path, data);
        if (b_)
            b_->write(path, data);
    }
    void compress(const std::string& path, const std::string& data) {
        add("compress", path, data);
        if (b_)
            b_->compress(path, data);
    }
    void sparse(const std::string& path, const std::string& data,
                const std::vector<testutil::Hole>& holes) {
        const std::string punched = testutil::punchHoles(data, holes);
        add("sparse", path, punched);
        if (b_)
            b_->sparse(path, punched, holes);
    }
    void fragment(const std::string& path, const std::string& data, u32 pieces) {
        add("fragment" + std::to_string(pieces), path, data);
        if (b_)
            b_->fragment(path, data, pieces);
    }
    void mkdir(const std::string& path) {
        recipe_ += "mkdir " + path + '\n';
        if (b_)
            b_->mkdir(path);
    }
    void files(const std::string& folder, u32 count, u32 size) {
        recipe_ += "files " + folder + '\n';
        if (b_)
            b_->files(folder, count, size);
        char name[16];
        for (u32 i = 1; i <= count; ++i) {
            std::snprintf(name, sizeof name, "f%06u", i);
            std::string content;
            while (content.size() < size)
                content += name;
            content.resize(size);
            files_.push_back({folder + "/" + name, content, testutil::IMAGE_EPOCH});
        }
    }
    void dosName(const std::string& path, const std::string& shortName) {
        recipe_ += "dosname " + path + '\n';
        if (b_)
            b_->dosName(path, shortName);
    }
    void setMtime(const std::string& path, std::time_t mtime) {
        recipe_ += "mtime " + path + std::to_string(mtime) + '\n';
        find(path).mtime = mtime;
        if (b_)
            b_->setMtime(path, mtime);
    }
    // Deleted files and folders, last: what is made later may take their records.
    void rm(const std::string& path) {
        recipe_ += "rm " + path + '\n';
        find(path).deleted = true;
        if (b_)
            b_->rm(path);
    }
    void rmtree(const std::string& folder) {
        recipe_ += "rmtree " + folder + '\n';
        for (CorpusFile& f : files_)
            f.deleted = f.deleted || f.path.rfind(folder + "/", 0) == 0;
        if (b_)
            b_->rmtree(folder);
    }
    // Past the builder, with ntfs-3g's own tool: an allocation past the data
    // leaves bytes that were never written, beyond the initialized size.
    void allocate(const std::string& path, u64 offset, u64 length) {
        recipe_ += "allocate " + path + std::to_string(offset) + '\n';
        CorpusFile& f = find(path);
        f.data.resize(offset + length, '\0');
        if (!b_)
            return;
        const ::testing::AssertionResult built = b_->run();
        if (!built)
            throw std::runtime_error(built.message());
        const std::string command = "ntfsfallocate -o " + std::to_string(offset) + " -l " +
                                    std::to_string(length) + " " + shellQuote(image_) + " " +
                                    shellQuote(path.substr(1));
        if (runTool(command + " >/dev/null") != 0)
            throw std::runtime_error("failed: " + command);
    }

    u32 cluster() const { return c_; }
    const std::string& text() const { return recipe_; }
    std::vector<CorpusFile>& files() { return files_; }

private:
    void add(const std::string& kind, const std::string& path, const std::string& data) {
        recipe_ += kind + ' ' + path + ' ' + std::to_string(std::hash<std::string>()(data)) + '\n';
        files_.push_back({path, data, testutil::IMAGE_EPOCH});
    }
    CorpusFile& find(const std::string& path) {
        for (CorpusFile& f : files_) {
            if (f.path == path)
                return f;
        }
        throw std::logic_error("no corpus file " + path);
    }

    u32 c_;
    testutil::NtfsBuilder* b_;
    std::string recipe_;
    std::string image_;
    std::vector<CorpusFile> files_;
};

void fill(Recipe& r) {
    const u32 c = r.cluster();
    const u32 unit = 16 * c;
    r.mkdir("/Docs");
    r.mkdir("/Docs/Deep");
    r.mkdir("/Keep");
    r.mkdir("/Many");
    r.mkdir("/Tree");
    r.write("/empty.txt", "");
    r.write("/one.bin", "x");
    r.write("/resident.txt", textContent(300, 1));
    r.write("/exact.bin", randomContent(c, 2));
    r.write("/text.txt", textContent(100000, 3));
    r.write("/zeros.bin", std::string(70000, '\0'));
    r.write("/random.bin", randomContent(300000, 4));
    r.write("/Docs/A long file name with spaces that goes on for well over sixty-four "
            "characters.txt",
            textContent(3000, 5));
    r.write("/Docs/Deep/Grüße aus Köln.txt", textContent(777, 6));
    r.write("/Docs/\U0001D11E clef.txt", "music");
    r.write("/Docs/LongName.txt", "short name beside");
    r.dosName("/Docs/LongName.txt", "LONGNA~1.TXT");
    r.files("/Many", 300, 100);
    // Small clusters need so many runs that the list spills into extension
    // records, named by an attribute list.
    r.fragment("/frag.bin", randomContent((c <= 4096 ? 600 : 60) * u64{c}, 7),
               c <= 4096 ? 600 : 60);
    // libntfs-3g gives sparse files a compression unit: their holes, the first
    // inside a unit, are only zeros.
    r.sparse("/sparse.bin", randomContent(10 * c, 8), {{3 * c, 3 * c}, {8 * c, 2 * c}});
    r.write("/init.bin", randomContent(c + 100, 9));
    r.allocate("/init.bin", 4 * c, c);
    if (c <= 4096) {
        // Compression units on both sides of their edge, of every kind.
        r.mkdir("/Packed");
        r.compress("/Packed/text-unit-1", textContent(unit - 1, 10));
        r.compress("/Packed/text-unit+1", textContent(unit + 1, 11));
        r.compress("/Packed/zeros-unit+1", std::string(unit + 1, '\0'));
        r.compress("/Packed/random-unit+1", randomContent(unit + 1, 12));
        r.compress("/Packed/text-1m", textContent(1 << 20, 13));
        r.compress("/Packed/mixed", std::string(70000, '\0') + textContent(100000, 14) +
                                        randomContent(150000, 15) + std::string(200000, '\0') +
                                        textContent(3333, 16) + std::string(140000, '\0'));
    }
    r.write("/Keep/kept.bin", randomContent(30000, 17));
    r.write("/Keep/gone.bin", randomContent(40000, 18));
    r.write("/Keep/small.txt", "resident and deleted");
    r.write("/Tree/deep.bin", randomContent(9000, 19));
    r.write("/root-file.bin", randomContent(12345, 20));
    r.setMtime("/one.bin", testutil::IMAGE_EPOCH - 86400);
    r.setMtime("/Docs/Deep/Grüße aus Köln.txt", testutil::IMAGE_EPOCH - 2 * 86400 - 7);
    r.rm("/Keep/gone.bin");
    r.rm("/Keep/small.txt");
    r.rm("/root-file.bin");
    r.rmtree("/Tree");
}

Corpus build(u32 clusterBytes) {
    Corpus corpus;
    corpus.clusterBytes = clusterBytes;
    Recipe plan(clusterBytes, nullptr);
    fill(plan);
    corpus.files = plan.files();
    struct stat tool {};
    ::stat(testutil::NtfsBuilder::toolPath().c_str(), &tool);
    std::ostringstream key;
    key << std::hex
        << std::hash<std::string>()(plan.text() + CORPUS_VERSION + std::to_string(tool.st_size) +
                                    std::to_string(tool.st_mtime));
    const std::string folder = HB_BINARY_DIR "/ntfs-corpus";
    corpus.image = folder + "/" + std::to_string(clusterBytes) + "-" + key.str() + ".img";
    if (exists(corpus.image))
        return corpus;
    // Built aside and renamed into place, so that test processes running at the
    // same time never see half a volume.
    const std::string making = corpus.image + ".making" + std::to_string(::getpid());
    testutil::run("mkdir -p " + shellQuote(folder));
    testutil::NtfsImageOptions options;
    options.clusterBytes = clusterBytes;
    options.sizeMiB = clusterBytes > 4096 ? 96 : 32;
    testutil::NtfsImage image(making, options);
    testutil::NtfsBuilder builder(image);
    Recipe recipe(clusterBytes, &builder, making);
    fill(recipe);
    const ::testing::AssertionResult built = builder.run();
    if (!built)
        throw std::runtime_error(built.message());
    testutil::run("rm -rf " + shellQuote(making + ".files"));
    if (std::rename(making.c_str(), corpus.image.c_str()) != 0)
        throw std::runtime_error("cannot put " + corpus.image + " in place");
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
    : source(openSource(image, 0, bad)), map(buildTree(*source)) {
    if (!map)
        throw std::runtime_error("no MFT run list in " + image);
    listing = testutil::listTree(*map);
}

NtfsAttributeData CorpusTree::data(const std::string& volumePath) {
    NtfsAttributeData d;
    const auto it = listing.find(volumePath.substr(1));
    if (it == listing.end() || !map->getParser().loadFile(it->second.getAddress()) ||
        !map->getParser().getData(d))
        throw std::runtime_error("no data for " + volumePath);
    return d;
}

int runTool(const std::string& command, std::string* out) {
    std::string err;
    return testutil::run("PATH=\"$PATH:/usr/sbin:/sbin\" LC_ALL=C.UTF-8 TZ=UTC " + command, out,
                         &err);
}

std::string ntfscat(const std::string& image, const std::string& path) {
    std::string out;
    if (runTool("ntfscat " + shellQuote(image) + " " + shellQuote(path), &out) != 0)
        throw std::runtime_error("ntfscat failed for " + path);
    return out;
}

std::set<std::string> undeletable(const std::string& image) {
    std::string out;
    if (runTool("ntfsundelete -s " + shellQuote(image), &out) != 0)
        throw std::runtime_error("ntfsundelete failed on " + image);
    std::set<std::string> names;
    const std::regex line(R"(^\d+\s+F\S*\s+100%\s+\S+\s+\S+\s+\d+\s+(.+)$)");
    std::istringstream lines(out);
    std::string l;
    std::smatch m;
    while (std::getline(lines, l)) {
        if (std::regex_match(l, m, line) && m[1] != "<none>")
            names.insert(m[1]);
    }
    return names;
}

VcnMap infoMap(const std::string& image, const std::string& path) {
    std::string out;
    if (runTool("ntfsinfo -v -F " + shellQuote(path) + " " + shellQuote(image), &out) != 0)
        throw std::runtime_error("ntfsinfo failed for " + path);
    // One table per extent of $DATA; an extension's table starts with the VCNs
    // of the extents before it as not mapped.
    std::istringstream in(out);
    std::string line;
    bool inData = false;
    bool inTable = false;
    VcnMap map;
    while (std::getline(in, line)) {
        if (line.rfind("Dumping attribute ", 0) == 0) {
            inData = line.rfind("Dumping attribute $DATA ", 0) == 0;
            inTable = false;
            continue;
        }
        if (inData && line.find("Runlist:") != std::string::npos) {
            inTable = true;
            continue;
        }
        std::istringstream fields(line);
        std::string vcn, lcn, length;
        if (!inTable || !(fields >> vcn >> lcn >> length) || vcn.rfind("0x", 0) != 0) {
            inTable = false;
            continue;
        }
        if (lcn == "<RL_NOT_MAPPED>")
            continue;
        if (std::stoull(vcn, nullptr, 16) != map.size())
            throw std::runtime_error("ntfsinfo's runs of " + path + " are out of order");
        const u64 first = lcn == "<HOLE>" ? HOLE : std::stoull(lcn, nullptr, 16);
        for (u64 i = 0, n = std::stoull(length, nullptr, 16); i < n; ++i)
            map.push_back(first == HOLE ? HOLE : first + i);
    }
    return map;
}

} // namespace ntfstest
