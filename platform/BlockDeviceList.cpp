#include "platform/BlockDeviceList.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <glib.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <utility>

namespace platform {

namespace {

bool startsWith(const std::string& s, const char* prefix) {
    return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

BlockDeviceKind kindOf(const std::string& name) {
    if (startsWith(name, "fd"))
        return BlockDeviceKind::FLOPPY;
    if (startsWith(name, "ram") || startsWith(name, "zram") || startsWith(name, "sr"))
        return BlockDeviceKind::OTHER;
    return BlockDeviceKind::DISK;
}

struct Family {
    const char* prefix;
    int rank;
};
// Longer prefixes first where one begins another.
const Family FAMILIES[] = {{"mmcblk", 2}, {"nvme", 1}, {"loop", 6}, {"xvd", 0}, {"dm-", 5},
                           {"sd", 0},     {"hd", 0},   {"vd", 0},   {"md", 4}};

// The device family's prefix (for names of no known family, the leading
// letters) and its rank in the listing.
std::pair<std::string, int> familyOf(const std::string& name) {
    for (const Family& f : FAMILIES)
        if (startsWith(name, f.prefix))
            return {f.prefix, f.rank};
    std::size_t n = 0;
    while (n < name.size() && std::isalpha(static_cast<unsigned char>(name[n])))
        ++n;
    return {name.substr(0, n), 3};
}

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

std::vector<std::string> listNames(const std::string& dir) {
    std::vector<std::string> names;
    GDir* d = g_dir_open(dir.c_str(), 0, nullptr);
    if (d == nullptr)
        return names;
    while (const gchar* n = g_dir_read_name(d))
        names.emplace_back(n);
    g_dir_close(d);
    return names;
}

u64 sysfsSize(const std::string& dir) {
    std::string text;
    if (!readSysfsText(dir + "/size", text))
        return 0;
    unsigned long long sectors = std::strtoull(text.c_str(), nullptr, 10);
    // sysfs counts 512-byte units whatever the logical sector size is.
    return sectors > ULLONG_MAX / 512 ? 0 : static_cast<u64>(sectors) * 512;
}

BlockDeviceEntry makeEntry(const SystemRoots& roots, const std::string& dir,
                           const std::string& name, const std::string& disk, u32 partition) {
    BlockDeviceEntry e;
    e.name = name;
    e.path = roots.dev + "/" + name;
    e.disk = disk;
    e.partition = partition;
    e.size = sysfsSize(dir);
    readSysfsText(dir + "/dev", e.devNumber);
    e.kind = kindOf(disk);
    return e;
}

} // namespace

bool readSysfsText(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad())
        return false;
    out = ss.str();
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return true;
}

bool naturalDeviceLess(const std::string& a, const std::string& b) {
    const auto fa = familyOf(a), fb = familyOf(b);
    if (fa.second != fb.second)
        return fa.second < fb.second;
    if (fa.first != fb.first)
        return fa.first < fb.first;
    // After the prefix, numbers compare as numbers and letters as the kernel
    // counts them (a..z, aa..zz): shorter first, so 9 before 10, sdz before sdaa.
    std::size_t i = fa.first.size(), j = fb.first.size();
    while (i < a.size() && j < b.size()) {
        const bool da = isDigit(a[i]), db = isDigit(b[j]);
        if (da != db)
            return da;
        std::size_t ei = i, ej = j;
        while (ei < a.size() && isDigit(a[ei]) == da)
            ++ei;
        while (ej < b.size() && isDigit(b[ej]) == db)
            ++ej;
        std::string ca = a.substr(i, ei - i), cb = b.substr(j, ej - j);
        if (da) {
            ca.erase(0, std::min(ca.find_first_not_of('0'), ca.size()));
            cb.erase(0, std::min(cb.find_first_not_of('0'), cb.size()));
        }
        if (ca.size() != cb.size())
            return ca.size() < cb.size();
        if (ca != cb)
            return ca < cb;
        i = ei;
        j = ej;
    }
    if ((i < a.size()) != (j < b.size()))
        return i >= a.size();
    return a < b;
}

std::vector<BlockDeviceEntry> listWholeDevices(const SystemRoots& roots) {
    std::vector<BlockDeviceEntry> out;
    const std::string base = roots.sysfs + "/block";
    for (const std::string& name : listNames(base))
        out.push_back(makeEntry(roots, base + "/" + name, name, name, 0));
    std::sort(out.begin(), out.end(), [](const BlockDeviceEntry& x, const BlockDeviceEntry& y) {
        return naturalDeviceLess(x.name, y.name);
    });
    return out;
}

std::vector<BlockDeviceEntry> listPartitions(const SystemRoots& roots, const std::string& disk) {
    std::vector<BlockDeviceEntry> out;
    if (disk.empty() || disk.find('/') != std::string::npos || disk == "." || disk == "..")
        return out;
    const std::string base = roots.sysfs + "/block/" + disk;
    for (const std::string& name : listNames(base)) {
        std::string number;
        const std::string dir = base + "/" + name;
        if (!readSysfsText(dir + "/partition", number))
            continue; // queue, holders, power, ...: not a partition
        out.push_back(makeEntry(roots, dir, name, disk,
                                static_cast<u32>(std::strtoul(number.c_str(), nullptr, 10))));
    }
    std::sort(out.begin(), out.end(), [](const BlockDeviceEntry& x, const BlockDeviceEntry& y) {
        return x.partition != y.partition ? x.partition < y.partition
                                          : naturalDeviceLess(x.name, y.name);
    });
    return out;
}

bool findBlockDevice(const SystemRoots& roots, const std::string& name, BlockDeviceEntry& out) {
    if (name.empty())
        return false;
    for (const BlockDeviceEntry& whole : listWholeDevices(roots)) {
        if (whole.name == name) {
            out = whole;
            return true;
        }
        for (const BlockDeviceEntry& part : listPartitions(roots, whole.name)) {
            if (part.name == name) {
                out = part;
                return true;
            }
        }
    }
    return false;
}

std::string blockDeviceNameOfPath(const SystemRoots& roots, const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
        const std::string number =
            std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
        for (const BlockDeviceEntry& whole : listWholeDevices(roots)) {
            if (whole.devNumber == number)
                return whole.name;
            for (const BlockDeviceEntry& part : listPartitions(roots, whole.name))
                if (part.devNumber == number)
                    return part.name;
        }
        return std::string();
    }
    // Not a device node (a fake tree's stand-in, or a missing node): go by the
    // name under the /dev root, after symbolic links such as /dev/mapper/x.
    std::string resolved = path;
    if (char* real = realpath(path.c_str(), nullptr)) {
        resolved = real;
        std::free(real);
    }
    std::string devRoot = roots.dev;
    if (char* real = realpath(roots.dev.c_str(), nullptr)) {
        devRoot = real;
        std::free(real);
    }
    auto nameUnder = [&roots](const std::string& p, const std::string& root) {
        if (p.size() <= root.size() + 1 || p.compare(0, root.size(), root) != 0 ||
            p[root.size()] != '/')
            return std::string();
        std::string name = p.substr(root.size() + 1);
        BlockDeviceEntry e;
        return name.find('/') == std::string::npos && findBlockDevice(roots, name, e)
                   ? name
                   : std::string();
    };
    for (const std::string& p : {resolved, path})
        for (const std::string& root : {devRoot, roots.dev})
            if (std::string name = nameUnder(p, root); !name.empty())
                return name;
    return std::string();
}

} // namespace platform
