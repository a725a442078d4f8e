#include "bench/BenchSupport.h"

#include "devices/DtReaderFile.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace bench {

void shell(const std::string& command) {
    const std::string full = "LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 " + command;
    if (std::system(full.c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

std::string quote(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

ScratchDir::ScratchDir() {
    const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/hbbench-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        throw std::runtime_error("mkdtemp");
    path_ = buffer.data();
}

ScratchDir::~ScratchDir() {
    if (std::system(("rm -rf " + quote(path_)).c_str()) != 0)
        path_.clear();
}

ScratchDir& scratch() {
    static ScratchDir dir;
    return dir;
}

std::string cachedImage(const std::string& name, void (*make)(const std::string& path)) {
    std::string folder;
    if (const char* named = std::getenv("HB_BENCH_CACHE")) {
        folder = named;
    } else {
        std::vector<char> exe(4096, '\0');
        const ssize_t n = readlink("/proc/self/exe", exe.data(), exe.size() - 1);
        folder = n > 0 ? std::string(exe.data(), static_cast<std::size_t>(n)) : "./x";
        folder = folder.substr(0, folder.rfind('/')) + "/images";
    }
    const std::string path = folder + "/" + name;
    if (access(path.c_str(), R_OK) != 0) {
        shell("mkdir -p " + quote(folder));
        // Made under another name first: a run stopped half-way leaves no image.
        make(path + ".part");
        shell("mv " + quote(path + ".part") + " " + quote(path));
    }
    return path;
}

long peakResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, 6, "VmHWM:") == 0)
            return std::stol(line.substr(6));
    return 0;
}

void resetPeakResident() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

void writeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

namespace {

// SMALL_FILES files of 1 byte to 3 KiB in a hundred folders, named by
// name(folder, file), made into a FAT32 image with mkfs.fat and mcopy.
void makeSmallFilesImage(const std::string& image,
                         const std::function<std::string(u64, u64)>& name) {
    constexpr u64 FOLDERS = 100;
    const std::string source = scratch().file("small-files");
    for (u64 d = 0; d < FOLDERS; ++d) {
        char folder[32];
        std::snprintf(folder, sizeof folder, "/Folder %03u", static_cast<unsigned>(d));
        shell("mkdir -p " + quote(source + folder));
        for (u64 f = 0; f < SMALL_FILES / FOLDERS; ++f) {
            const u64 n = d * (SMALL_FILES / FOLDERS) + f;
            writeFile(source + folder + "/" + name(d, n), std::string(n % 3000 + 1, 'x'));
        }
    }
    shell("rm -f " + quote(image) + " && mkfs.fat -C -F 32 -s 8 -i 1234abcd " + quote(image) +
          " 524288 >/dev/null");
    shell("mcopy -s -i " + quote(image) + " " + quote(source) + "/* ::/");
    shell("rm -rf " + quote(source));
}

// Names whose first six characters differ, so that mcopy finds a free short
// name at once.
void makeLongNamesImage(const std::string& image) {
    makeSmallFilesImage(image, [](u64, u64 n) {
        char name[64];
        std::snprintf(name, sizeof name, "%06u report of the day.txt", static_cast<unsigned>(n));
        return std::string(name);
    });
}

// Upper-case 8.3 names, which mcopy writes without a long name.
void makeShortNamesImage(const std::string& image) {
    makeSmallFilesImage(image, [](u64, u64 n) {
        char name[32];
        std::snprintf(name, sizeof name, "R%06u.TXT", static_cast<unsigned>(n));
        return std::string(name);
    });
}

} // namespace

const std::string& fatSmallFilesImage() {
    static const std::string path = cachedImage("small-files.img", makeLongNamesImage);
    return path;
}

const std::string& fatShortNamesImage() {
    static const std::string path = cachedImage("short-names.img", makeShortNamesImage);
    return path;
}

SharedPtr<Driver> openFatVolume(const std::string& image, FAT_FS_PARAMS& params) {
    auto* file = new dt::ReaderFile;
    SharedPtr<dt::Reader> reader(file);
    if (!file->open(image.c_str()))
        throw std::runtime_error("cannot open " + image);
    SharedPtr<Driver> driver(new Driver(reader, 512));
    std::vector<u8> boot(512);
    if (!driver->readSectors(0, 1, boot.data()) ||
        !fatFsParamsFromBootSector(0, boot.data(), params, driver->getSectorCount()))
        throw std::runtime_error("no FAT volume in " + image);
    return driver;
}

FatTree::FatTree(const std::string& image, InterfaceCallback* progress)
    : driver(openFatVolume(image, params)) {
    Bitmap mirror(params.sectorsPerFAT);
    map = std::make_unique<tree::FATMapImpl>(driver, params, mirror, &unreadable, runs);
    InterfaceCallbackScope scope(*map, progress);
    map->finishTree();
    map->analyzeFoundFiles();
    map->finishTree();
}

u64 showAll(tree::MapImpl& map) {
    u64 files = 0;
    std::vector<u64> pending{map.getRootAddress()};
    while (!pending.empty()) {
        const u64 address = pending.back();
        pending.pop_back();
        for (const tree::Node& n : map.getFolder(address)->getNodes()) {
            if (!n.isDirectory())
                ++files;
            else if (n.getLink() != tree::TO && n.getAddress() != address)
                pending.push_back(n.getAddress());
        }
    }
    return files;
}

} // namespace bench
