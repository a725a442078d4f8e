#include "tests/support/FatCorpus.h"

#include "fs/FatLayout.h"
#include "tests/support/FatBytes.h"
#include "tests/support/FilesCameBack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testutil {

namespace {

struct Width {
    int bits;
    u32 sizeKiB;
    u32 sectorsPerCluster;
    u32 partitionLba;
    // The clusters of each of the two files between the first holes: on the
    // floppy they put the holes into other windows of the FAT.
    u64 bulkClusters;
};

constexpr Width WIDTHS[] = {
    {12, 1440, 1, 0, 1200},
    {16, 32768, 4, 0, 3},
    {32, 36000, 1, 2048, 3},
};

// Runs the steps through the tools when it has an image (a volume being built)
// and records, built or cached, what they leave on the volume.
class Recipe {
public:
    Recipe(FatCorpus& corpus, FatImage* image)
        : corpus_(corpus), image_(image),
          cluster_(u64{corpus.options.sectorsPerCluster} * IMAGE_SECTOR) {}

    u64 cluster() const { return cluster_; }

    void folder(const std::string& path) {
        if (image_)
            image_->makeFolder(path);
    }
    // Even seconds, a day apart: FAT keeps two-second steps.
    void file(const std::string& path, u64 size) {
        const std::time_t mtime = IMAGE_EPOCH - 86400 * static_cast<std::time_t>(++count_);
        put(path, pattern(size, static_cast<int>(count_)), mtime, mtime);
    }
    // Written at one time, kept at another.
    void put(const std::string& path, const std::string& data, std::time_t written,
             std::time_t kept) {
        if (image_)
            image_->addFile(path, data, written);
        corpus_.live[path] = CorpusFile{data, kept};
    }
    // A deleted file comes back under its long name, or its 8.3 name without its
    // first character.
    void remove(const std::string& path, const std::string& shownAs) {
        if (image_)
            image_->deleteFile(path);
        corpus_.gone[shownAs] = corpus_.live.at(path);
        corpus_.live.erase(path);
    }
    void removeFolder(const std::string& folder) {
        if (image_)
            image_->deleteTree(folder);
        for (auto it = corpus_.live.begin(); it != corpus_.live.end();) {
            if (it->first.compare(0, folder.size() + 1, folder + "/") != 0) {
                ++it;
                continue;
            }
            corpus_.gone.insert(*it);
            it = corpus_.live.erase(it);
        }
    }
    // Deletes one-cluster 8.3 files whose clusters the next file fills.
    void punchHoles(const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            if (image_)
                image_->deleteFile(name);
            corpus_.live.erase(name);
            corpus_.reused.insert("#" + name.substr(1));
        }
        if (image_)
            image_->resetFreeClusterHint();
    }
    // The tools laid the file out as the recipe needs it, in more than one run.
    void expectFragmented(const std::string& path) const {
        if (!image_)
            return;
        const std::vector<u32> clusters = image_->clustersOf(path);
        for (std::size_t i = 1; i < clusters.size(); ++i) {
            if (clusters[i] != clusters[i - 1] + 1)
                return;
        }
        throw std::runtime_error(path + " was not fragmented");
    }

private:
    FatCorpus& corpus_;
    FatImage* image_;
    u64 cluster_;
    u32 count_ = 0;
};

void fill(Recipe& r, const Width& w) {
    const u64 c = r.cluster();
    // A live file written into the holes of two deleted files.
    r.file("HOLE1.BIN", c);
    r.file("bulk one.bin", w.bulkClusters * c);
    r.file("HOLE2.BIN", c);
    r.file("bulk two.bin", w.bulkClusters * c);
    r.punchHoles({"HOLE1.BIN", "HOLE2.BIN"});
    r.file("fragmented.bin", 3 * c - 7);
    r.expectFragmented("fragmented.bin");

    r.folder("Docs");
    r.folder("Docs/Deep");
    r.folder("Docs/Deep/Deeper");
    r.folder("Old Folder");
    r.folder("Many");
    r.file("Old Folder/inner one.txt", 5000);
    r.file("Old Folder/inner two.txt", 70);
    r.file("empty.txt", 0);
    r.file("one.bin", 1);
    r.file("exact.bin", c);
    r.file("multi.bin", 5 * c + 123);
    r.file("UPPER.TXT", 11);
    r.file("gone long name.bin", 3 * c + 5);
    r.file("GONE.TXT", 100);
    r.file("Docs/A long file name with spaces.txt", 3000);
    r.file("Docs/Deep/Grüße aus Köln.txt", 777);
    r.file("Docs/Deep/Deeper/日本語のファイル.dat", 2 * c + 1);
    for (int i = 0; i < 24; ++i)
        r.file("Many/file number " + std::to_string(i) + ".txt", 100 + 37 * i);
    r.put("odd second.txt", "odd", IMAGE_EPOCH + 1, IMAGE_EPOCH);
    r.file("after.bin", 2 * c);

    // A file written into two holes between live files and deleted at the end:
    // read cluster after cluster, it must step over the live ones.
    r.file("HOLE3.BIN", c);
    r.file("live one.bin", c + 1);
    r.file("HOLE4.BIN", c);
    r.file("live two.bin", c);
    r.punchHoles({"HOLE3.BIN", "HOLE4.BIN"});
    r.file("gone around.bin", 3 * c - 1);
    r.expectFragmented("gone around.bin");

    r.remove("gone around.bin", "gone around.bin");
    r.remove("gone long name.bin", "gone long name.bin");
    r.remove("GONE.TXT", "#ONE.TXT");
    r.removeFolder("Old Folder");
}

// Every cached image's name starts so, then the digits of its build.
const std::string KEY_PREFIX = "corpus-";

// The build of the test support that holds the recipes: a new build makes the
// volumes anew, and every test program of one build shares them.
std::string buildKey() {
    const std::string support = HB_BINARY_DIR "/tests/libhb_testsupport.a";
    struct stat st {};
    if (::stat(support.c_str(), &st) != 0)
        throw std::runtime_error("cannot stat " + support);
    return KEY_PREFIX + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec) + "-" + std::to_string(st.st_size);
}

// Whether a cached file is the image named by `suffix` of some build, or what
// a maker killed while making it left: a build key and the suffix, not a
// longer suffix that ends alike ("-filled-fat32.img" for "-fat32.img"), whose
// image another process of this build may be reading.
bool isImageOf(std::string name, const std::string& suffix) {
    for (const char* left : {".making.files", ".making"}) {
        const std::string tail = left;
        if (name.size() > tail.size() &&
            name.compare(name.size() - tail.size(), tail.size(), tail) == 0) {
            name.resize(name.size() - tail.size());
            break;
        }
    }
    const std::size_t start = KEY_PREFIX.size();
    if (name.size() <= start + suffix.size() || name.compare(0, start, KEY_PREFIX) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    return name.substr(start, name.size() - start - suffix.size())
               .find_first_not_of("0123456789.-") == std::string::npos;
}

// The image named by `suffix` of this build, made by `make` (given a scratch
// name) in one test process while the others wait; the images of earlier
// builds with that suffix go.
std::string cachedImage(const std::string& suffix,
                        const std::function<void(const std::string&)>& make) {
    const fs::path cache = fs::path(HB_BINARY_DIR) / "test-cache";
    fs::create_directories(cache);
    const std::string path = (cache / (buildKey() + suffix)).string();
    testutil::buildOnce(path, [&](const std::string& making) {
        for (const auto& e : fs::directory_iterator(cache)) {
            if (isImageOf(e.path().filename().string(), suffix) &&
                e.path().string().rfind(path, 0) != 0)
                fs::remove_all(e.path());
        }
        make(making);
        fs::remove_all(making + ".files");
    });
    return path;
}

std::unique_ptr<FatCorpus> makeCorpus(const Width& w) {
    auto corpus = std::make_unique<FatCorpus>();
    corpus->bits = w.bits;
    corpus->options.sizeKiB = w.sizeKiB;
    corpus->options.fatBits = w.bits;
    corpus->options.sectorsPerCluster = w.sectorsPerCluster;
    corpus->options.partitionLba = w.partitionLba;
    corpus->options.label = "HBLABEL";
    corpus->path =
        cachedImage("-fat" + std::to_string(w.bits) + ".img", [&](const std::string& making) {
            // The builder's own notes of what it put there are made again
            // below, by whichever process gets here.
            FatCorpus scratch = *corpus;
            FatImage image(making, scratch.options);
            Recipe recipe(scratch, &image);
            fill(recipe, w);
        });
    Recipe recipe(*corpus, nullptr);
    fill(recipe, w);
    const std::string boot = corpus->image().bootSector();
    const FatImage image = corpus->image();
    if (!fatFsParamsFromBootSector(w.partitionLba, bytesAt(boot), corpus->params,
                                   image.volumeLba() + image.volumeSectors()))
        throw std::runtime_error("no FAT volume in " + corpus->path);
    return corpus;
}

} // namespace

CorpusFiles FatCorpus::all() const {
    CorpusFiles files = live;
    files.insert(gone.begin(), gone.end());
    return files;
}

std::string FatCorpus::copy(const TempDir& dir) const {
    const std::string to = dir.file("fat" + std::to_string(bits) + ".img");
    fs::copy_file(path, to, fs::copy_options::overwrite_existing);
    return to;
}

const FatCorpus& fatCorpus(int bits) {
    static std::map<int, std::unique_ptr<FatCorpus>> corpora;
    auto& corpus = corpora[bits];
    if (!corpus) {
        for (const Width& w : WIDTHS) {
            if (w.bits == bits)
                corpus = makeCorpus(w);
        }
        if (!corpus)
            throw std::runtime_error("no FAT" + std::to_string(bits) + " volume");
    }
    return *corpus;
}

const FilledFat32& filledFat32() {
    static std::unique_ptr<FilledFat32> volume;
    if (volume)
        return *volume;
    FatImageOptions options;
    options.sizeKiB = 128 * 1024;
    options.fatBits = 32;
    options.sectorsPerCluster = 1;
    auto v = std::make_unique<FilledFat32>();
    for (u32 i = 0; i < FilledFat32::FILES; ++i) {
        const bool front = i < FilledFat32::FRONT_FILES;
        char name[16];
        std::snprintf(name, sizeof name, "%c%03u.BIN", front ? 'F' : 'L', i);
        v->files.push_back({name, pattern(front ? 950000 : 1500, static_cast<int>(i) + 1), {}});
    }
    v->path = cachedImage("-filled-fat32.img", [&](const std::string& making) {
        FatImage image(making, options);
        std::vector<std::pair<std::string, std::string>> entries;
        std::vector<std::pair<std::string, std::string>> front;
        std::vector<std::pair<std::string, std::string>> last;
        for (u32 i = 0; i < FilledFat32::FILES; ++i) {
            const FilledFat32::File& f = v->files[i];
            if (i < FilledFat32::FRONT_FILES) {
                entries.push_back({f.name, std::string()});
                front.push_back({f.name, f.data});
            } else {
                last.push_back({f.name, f.data});
            }
        }
        // Empty files first: their entries fill the root's first clusters
        // before any data is written; their data then goes into those entries.
        image.addRootFiles(entries);
        image.addRootFiles(front);
        image.addRootFiles(last);
    });
    const FatImage image(v->path, options, FatImage::Existing());
    v->rootClusters = image.clustersOf("");
    for (FilledFat32::File& f : v->files)
        f.clusters = image.clustersOf(f.name);
    if (!fatFsParamsFromBootSector(0, bytesAt(image.bootSector()), v->params,
                                   image.volumeSectors()))
        throw std::runtime_error("no FAT volume in " + v->path);
    volume = std::move(v);
    return *volume;
}

namespace {

using Batch = std::vector<std::pair<std::string, std::string>>;

std::string numbered(const char* prefix, u32 i) {
    char name[16];
    std::snprintf(name, sizeof name, "%s%03u.BIN", prefix, i);
    return name;
}

// The 32-byte short entry of an 8.3 name ("VICTIM  BIN") in the image; throws
// when it is not there once.
u64 shortEntryOffset(const std::string& path, const std::string& name11) {
    const std::string bytes = readAll(path);
    u64 found = std::string::npos;
    for (std::size_t at = bytes.find(name11); at != std::string::npos;
         at = bytes.find(name11, at + 1)) {
        if (at % 32 != 0)
            continue;
        if (found != std::string::npos)
            throw std::runtime_error(name11 + " is there twice");
        found = at;
    }
    if (found == std::string::npos)
        throw std::runtime_error("no entry " + name11);
    return found;
}

// "NAME.EXT" as its entry holds it: "NAME    EXT".
std::string name11Of(const std::string& name) {
    const std::size_t dot = name.find('.');
    std::string base = name.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    base.resize(8, ' ');
    ext.resize(3, ' ');
    return base + ext;
}

} // namespace

void ShapeRecipe::folder(const std::string& path) {
    if (image_)
        image_->makeFolder(path);
    volume_.folders.push_back(path);
}

void ShapeRecipe::files(const std::string& folder,
                        const std::vector<std::pair<std::string, u64>>& sizes) {
    Batch batch;
    for (const auto& f : sizes)
        batch.push_back({f.first, pattern(f.second, static_cast<int>(++seed_))});
    contents(folder, batch);
}

void ShapeRecipe::contents(const std::string& folder, const Batch& files) {
    for (const auto& f : files)
        volume_.files.push_back(
            {(folder.empty() ? "" : folder + "/") + f.first, f.second, IMAGE_EPOCH});
    if (image_)
        image_->addFiles(folder, files);
}

void ShapeRecipe::remove(const std::string& name, const char* shownAs) {
    if (image_)
        image_->deleteFile(name);
    for (auto it = volume_.files.begin(); it != volume_.files.end(); ++it) {
        if (it->path != name)
            continue;
        if (shownAs)
            it->path = shownAs;
        else
            volume_.files.erase(it);
        return;
    }
}

void ShapeRecipe::removeFolder(const std::string& folder, const std::string& shownAs) {
    if (image_)
        image_->deleteTree(folder);
    for (PlacedFile& f : volume_.files) {
        if (f.path.rfind(folder + "/", 0) == 0)
            f.path = shownAs + f.path.substr(folder.size());
    }
    // The folders are where the volume places them; a deleted one it places
    // nowhere.
    volume_.folders.erase(std::remove(volume_.folders.begin(), volume_.folders.end(), folder),
                          volume_.folders.end());
}

void ShapeRecipe::renameDeleted(const std::string& longName, const std::string& to) {
    if (!image_)
        return;
    const std::string bytes = readAll(image_->path());
    const u8* b = bytesAt(bytes);
    // A deleted short entry, and the deleted long-name parts before it, the
    // name's first part nearest.
    for (std::size_t at = DIR_ENTRY_BYTES; at + DIR_ENTRY_BYTES <= bytes.size();
         at += DIR_ENTRY_BYTES) {
        if (b[at] != ENTRY_DELETED || b[at + DE_ATTRIBUTES] == ATTR_LONG_NAME)
            continue;
        std::vector<u16> units;
        std::vector<u64> offsets;
        for (std::size_t part = at; part >= DIR_ENTRY_BYTES;) {
            part -= DIR_ENTRY_BYTES;
            if (b[part] != ENTRY_DELETED || b[part + DE_ATTRIBUTES] != ATTR_LONG_NAME)
                break;
            for (u32 offset : LFN_UNIT_OFFSETS) {
                units.push_back(static_cast<u16>(b[part + offset] | b[part + offset + 1] << 8));
                offsets.push_back(part + offset);
            }
        }
        const std::size_t n = longName.size();
        if (units.size() < n || (units.size() > n && units[n] != 0) ||
            !std::equal(longName.begin(), longName.end(), units.begin()))
            continue;
        for (std::size_t i = 0; i < to.size(); ++i)
            writeAt(image_->path(), offsets[i], std::string{to[i], '\0'});
        return;
    }
    throw std::runtime_error("no deleted entry " + longName);
}

void ShapeRecipe::tree(const std::vector<std::pair<std::string, u64>>& sizes) {
    Batch batch;
    for (const auto& f : sizes) {
        batch.push_back({f.first, pattern(f.second, static_cast<int>(++seed_))});
        volume_.files.push_back({f.first, batch.back().second, IMAGE_EPOCH});
    }
    if (image_)
        image_->addTree(batch);
}

void ShapeRecipe::resetFreeClusterHint() {
    if (image_)
        image_->resetFreeClusterHint();
}

u64 ShapeRecipe::entryOffset(const std::string& name) const {
    return shortEntryOffset(image_->path(), name11Of(name));
}

void ShapeRecipe::clearTimes(const std::string& folder, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        const std::string path = folder.empty() ? name : folder + "/" + name;
        for (PlacedFile& f : volume_.files) {
            if (f.path == path)
                f.mtime = ANY_TIME;
        }
        if (image_)
            writeAt(image_->path(), entryOffset(name) + DE_WRITE_TIME, std::string(4, '\0'));
    }
}

void ShapeRecipe::setHighWord(const std::string& name, u16 value) {
    if (image_)
        writeAt(image_->path(), entryOffset(name) + DE_CLUSTER_HIGH,
                std::string{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)});
}

namespace {

void fillTree(ShapeRecipe& r, int bits) {
    r.folder("SUB");
    r.folder("SUB/DEEP");
    std::vector<std::pair<std::string, u64>> twelve;
    for (u32 i = 0; i < 12; ++i)
        twelve.push_back({numbered("C", i), 2048});
    r.files("", twelve);
    for (u32 i = 0; i < 12; i += 2)
        r.remove(numbered("C", i), nullptr);
    r.resetFreeClusterHint();
    r.files("", {{"VICTIM.BIN", 12288},
                 {"OTHER.BIN", 2048},
                 {"TAIL.BIN", 2048},
                 {"PAD1.BIN", 100},
                 {"PAD2.BIN", 200},
                 {"PAD3.BIN", 300}});
    auto bulk = [&](const std::string& folder, const char* prefix, u32 count) {
        std::vector<std::pair<std::string, u64>> sizes;
        for (u32 i = 0; i < count; ++i)
            sizes.push_back({numbered(prefix, i), 1400 + (i * 53) % 301});
        r.files(folder, sizes);
    };
    bulk("", "R", bits == 32 ? 300 : 200);
    bulk("SUB", "S", 120);
    bulk("SUB/DEEP", "D", 40);
    r.files("", {{"GONE.BIN", 3000}});
    r.remove("GONE.BIN", "#ONE.BIN");
}

void fillReuse(ShapeRecipe& r) {
    std::vector<std::pair<std::string, u64>> old;
    for (u32 i = 0; i < 6; ++i)
        old.push_back({"OLD" + std::to_string(i) + ".BIN", 5000});
    r.files("", old);
    r.remove("OLD1.BIN", "#LD1.BIN");
    r.remove("OLD3.BIN", "#LD3.BIN");
    r.resetFreeClusterHint();
    r.files("", {{"new one.bin", 7000}});
}

std::unique_ptr<FatShapeVolume> makeShapeVolume(const std::string& suffix,
                                                const FatImageOptions& options,
                                                const std::function<void(ShapeRecipe&)>& fill) {
    auto v = std::make_unique<FatShapeVolume>();
    v->options = options;
    v->path = cachedImage(suffix, [&](const std::string& making) {
        FatShapeVolume scratch = *v;
        FatImage image(making, options);
        ShapeRecipe recipe(scratch, &image);
        fill(recipe);
    });
    ShapeRecipe recipe(*v, nullptr);
    fill(recipe);
    const FatImage image = v->image();
    if (!fatFsParamsFromBootSector(0, bytesAt(image.bootSector()), v->params,
                                   image.volumeSectors()))
        throw std::runtime_error("no FAT volume in " + v->path);
    return v;
}

FatImageOptions shapeOptions(int bits, u32 sizeKiB) {
    FatImageOptions options;
    options.sizeKiB = sizeKiB;
    options.fatBits = bits;
    options.sectorsPerCluster = 1;
    return options;
}

} // namespace

u64 FatShapeVolume::clusterOffset(u32 cluster) const {
    return params.get_cluster_LBA(cluster) * u64{IMAGE_SECTOR};
}

u64 FatShapeVolume::entryOffset(const std::string& name11) const {
    return shortEntryOffset(path, name11);
}

const FatShapeVolume& fatShapeVolume(const std::string& name, const FatImageOptions& options,
                                     const std::function<void(ShapeRecipe&)>& fill) {
    static std::map<std::string, std::unique_ptr<FatShapeVolume>> volumes;
    auto& v = volumes[name];
    if (!v)
        v = makeShapeVolume("-shapes-" + name + ".img", options, fill);
    return *v;
}

const FatShapeVolume& fatTreeVolume(int bits) {
    static std::map<int, std::unique_ptr<FatShapeVolume>> volumes;
    auto& v = volumes[bits];
    if (!v) {
        const u32 sizeKiB = bits == 12 ? 2048 : bits == 16 ? 32768 : 65536;
        v = makeShapeVolume("-shapes-tree" + std::to_string(bits) + ".img",
                            shapeOptions(bits, sizeKiB),
                            [bits](ShapeRecipe& r) { fillTree(r, bits); });
    }
    return *v;
}

const FatShapeVolume& fatDeepVolume() {
    static std::unique_ptr<FatShapeVolume> v;
    if (!v)
        v = makeShapeVolume("-shapes-deep32.img", shapeOptions(32, 65536), [](ShapeRecipe& r) {
            std::vector<std::pair<std::string, u64>> files;
            std::string path;
            for (u32 level = 1; level <= 1030; ++level) {
                path += level == 1 ? "a" : "/a";
                for (u32 at : {1, 500, 1023, 1024, 1025, 1030}) {
                    if (level == at)
                        files.push_back(
                            {path + "/L" + std::to_string(level) + ".BIN", 700 + level});
                }
            }
            r.tree(files);
        });
    return *v;
}

const FatShapeVolume& fatReuseVolume() {
    static std::unique_ptr<FatShapeVolume> v;
    if (!v)
        v = makeShapeVolume("-shapes-reuse16.img", shapeOptions(16, 32768), fillReuse);
    return *v;
}

void expectRecovered(const std::string& folder, const CorpusFiles& files,
                     const std::set<std::string>& ignored) {
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        const std::string path = fs::relative(e.path(), folder).string();
        EXPECT_TRUE(!e.is_regular_file() || files.count(path) || ignored.count(path))
            << "not on the volume: " << path;
    }
    for (const auto& f : files)
        EXPECT_EQ(fileDifference(folder + "/" + f.first, f.second.data, f.second.mtime), "")
            << f.first;
}

} // namespace testutil
