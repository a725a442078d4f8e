#include "devices/SystemSources.h"

#include "core/Intl.h"
#include "core/Log.h"
#include "core/PropertyMap.h"
#include "core/System.h"
#include "core/Text.h"
#include "devices/BlockDeviceReader.h"
#include "devices/DeviceMapping.h"
#include "devices/DevicesInfo.h"
#include "platform/BlockDeviceList.h"
#include "platform/MountTable.h"

#include <algorithm>
#include <cerrno>
#include <glib.h>
#include <glib/gstdio.h>
#include <memory>
#include <set>
#include <sys/stat.h>

namespace {

// The name a user reads: file names that are not UTF-8 are shown through
// GLib's display conversion, while the id keeps the real bytes.
std::string displayName(const std::string& name) {
    gchar* shown = g_filename_display_name(name.c_str());
    std::string out = shown ? shown : "";
    g_free(shown);
    return out;
}

// "|" separates the pairs of a descriptor; a path holding one cannot be named.
bool nameable(const std::string& path) {
    if (path.find('|') == std::string::npos)
        return true;
    logAt("SystemSources", 37) << ": " << path << '\n';
    return false;
}

class SystemSources : public DrivesVFS {
public:
    explicit SystemSources(const platform::SystemRoots& roots) : roots_(roots) {}
    bool listChildren(const char* parentId, std::vector<std::string>& out) override;
    bool hasChildren(const char* parentId) override;

private:
    bool listRoot(std::vector<std::string>& out);
    bool listDrive(const std::string& id, std::vector<std::string>& out);
    bool listFolder(const std::string& path, std::vector<std::string>& out);
    // The descriptor of the folder's entry `name`, shown as `shown`; false for
    // what is left out.
    static bool folderEntry(const std::string& folder, const std::string& name,
                            const std::string& shown, std::string& descriptor);
    void listMountRoots(std::vector<std::string>& out);
    // The device under the /dev root that `id` names, if any.
    bool deviceOf(const std::string& id, platform::BlockDeviceEntry& out) const;

    platform::SystemRoots roots_;
};

bool SystemSources::listChildren(const char* parentId, std::vector<std::string>& out) {
    const std::string id = parentId ? parentId : "";
    if (id.empty())
        return listRoot(out);
    platform::BlockDeviceEntry device;
    if (deviceOf(id, device)) {
        if (device.partition == 0 && device.kind == platform::BlockDeviceKind::DISK)
            return listDrive(id, out);
        return true; // a partition or a floppy has no children
    }
    return listFolder(id, out);
}

bool SystemSources::hasChildren(const char* parentId) {
    const std::string id = parentId ? parentId : "";
    platform::BlockDeviceEntry device;
    if (id.empty() || deviceOf(id, device))
        return DrivesVFS::hasChildren(parentId);
    // The first entry that would be listed answers; the rest is not read.
    GDir* dir = g_dir_open(id.c_str(), 0, nullptr);
    if (dir == nullptr)
        return false;
    std::string descriptor;
    bool found = false;
    while (const gchar* n = g_dir_read_name(dir)) {
        if ((found = folderEntry(id, n, displayName(n), descriptor)))
            break;
    }
    g_dir_close(dir);
    return found;
}

bool SystemSources::deviceOf(const std::string& id, platform::BlockDeviceEntry& out) const {
    const std::string prefix = roots_.dev + "/";
    if (id.compare(0, prefix.size(), prefix) != 0)
        return false;
    const std::string name = platform::blockDeviceNameOfPath(roots_, id);
    return !name.empty() && platform::findBlockDevice(roots_, name, out);
}

bool SystemSources::listRoot(std::vector<std::string>& out) {
    DeviceMapping mapping(roots_);
    for (const platform::BlockDeviceEntry& disk : platform::listWholeDevices(roots_)) {
        if (disk.kind != platform::BlockDeviceKind::DISK || disk.size == 0)
            continue; // ram disks, optical drives, empty loop devices
        PropertyMap record;
        if (!DevicesInfo::addDevice(disk.path.c_str(), mapping, record)) {
            logAt("SystemSources", 80) << ": " << disk.path << '\n';
            continue;
        }
        std::string d = "type=drive|id=" + disk.path +
                        "|size=" + std::to_string(record.getUInt64("Size", u64(0)));
        const std::string model = toPrintableText(record.getString("Model", ""));
        const std::string revision = toPrintableText(record.getString("Revision", ""));
        std::string serial = toPrintableText(record.getString("Serial", ""));
        if (!serial.empty() && !revision.empty())
            serial += "-";
        serial += revision;
        if (!model.empty())
            d += "|model=" + model;
        if (!serial.empty())
            d += "|serial=" + serial;
        const std::string partitions = record.getString("Partitions", "");
        if (!partitions.empty()) {
            std::vector<std::string> names;
            split(partitions, names, ',');
            std::string comment = std::string(_("Logical Drives")) + ": ";
            for (std::size_t i = 0; i < names.size(); ++i)
                comment += (i ? ", " : "") + roots_.dev + "/" + names[i];
            d += "|partitions=" + partitions + "|comment=" + comment;
        }
        out.push_back(d);
    }

    // Floppies only where the machine has them; most have none, and that is
    // not worth a log line on every listing.
    dt::BlockDeviceReader reader;
    for (const char* name : {"fd0", "fd1"}) {
        const std::string path = roots_.dev + "/" + name;
        if (!g_file_test(path.c_str(), G_FILE_TEST_EXISTS))
            continue;
        if (reader.open(path.c_str(), true))
            out.push_back("type=floppy|id=" + path + "|size=" + std::to_string(reader.getSize()) +
                          "|partitions=" + name);
        else
            logAt("SystemSources", 131) << ": " << path << '\n';
    }

    listMountRoots(out);
    return true;
}

// "/" and the mount points of the file systems that live on block devices: the
// places a user looks for image files.
void SystemSources::listMountRoots(std::vector<std::string>& out) {
    std::vector<std::string> roots{"/"};
    std::vector<platform::MountEntry> mounts;
    if (platform::readMountTable(roots_, mounts)) {
        std::set<std::string> points;
        for (const platform::MountEntry& m : mounts)
            if (platform::isBlockBacked(m) && m.mountPoint != "/")
                points.insert(m.mountPoint);
        roots.insert(roots.end(), points.begin(), points.end());
    } else {
        logAt("SystemSources", 142) << ": " << roots_.mountInfo << ' ' << lastErrorText() << '\n';
    }
    for (const std::string& root : roots) {
        if (!nameable(root))
            continue;
        struct stat st;
        if (g_access(root.c_str(), F_OK) != 0 || g_stat(root.c_str(), &st) != 0) {
            logAt("SystemSources", 146) << ": " << root << ' ' << lastErrorText() << '\n';
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            logAt("SystemSources", 154) << ": " << root << '\n'; // a file bind-mounted
            continue;
        }
        out.push_back("type=directory|id=" + root + "|name=" + _("Logical Drive") + " " +
                      displayName(root));
    }
}

bool SystemSources::listDrive(const std::string& id, std::vector<std::string>& out) {
    DeviceMapping mapping(roots_);
    PropertyMap record;
    if (!DevicesInfo::addDevice(id.c_str(), mapping, record)) {
        logAt("SystemSources", 161) << ": " << id << '\n';
        return false;
    }
    std::vector<std::string> names;
    const std::string partitions = record.getString("Partitions", "");
    if (!partitions.empty())
        split(partitions, names, ',');
    dt::BlockDeviceReader reader;
    for (const std::string& name : names) {
        const std::string path = roots_.dev + "/" + name;
        if (reader.open(path.c_str(), true))
            out.push_back("type=partition|id=" + path +
                          "|size=" + std::to_string(reader.getSize()) + "|partitions=" + name);
        else
            logAt("SystemSources", 175) << ": " << path << '\n';
    }
    return true;
}

bool SystemSources::listFolder(const std::string& path, std::vector<std::string>& out) {
    GDir* dir = g_dir_open(path.c_str(), 0, nullptr);
    if (dir == nullptr) {
        logAt("SystemSources", 190) << ": " << path << '\n';
        return false;
    }
    struct Name {
        std::string bytes;
        std::string shown;
        std::string key;
    };
    std::vector<Name> names;
    while (const gchar* n = g_dir_read_name(dir)) {
        Name name{n, displayName(n), std::string()};
        gchar* key = g_utf8_collate_key(name.shown.c_str(), -1);
        name.key = key;
        g_free(key);
        names.push_back(std::move(name));
    }
    g_dir_close(dir);
    std::sort(names.begin(), names.end(), [](const Name& a, const Name& b) {
        return a.key != b.key ? a.key < b.key : a.bytes < b.bytes;
    });

    std::string descriptor;
    for (const Name& name : names) {
        if (folderEntry(path, name.bytes, name.shown, descriptor))
            out.push_back(std::move(descriptor));
    }
    return true;
}

bool SystemSources::folderEntry(const std::string& folder, const std::string& name,
                                const std::string& shown, std::string& descriptor) {
    const std::string full = buildFileName(folder.c_str(), name.c_str());
    if (!nameable(full))
        return false;
    struct stat st;
    if (g_stat(full.c_str(), &st) != 0) {
        logAt("SystemSources", 204) << ": " << full << '\n';
        return false;
    }
    if (S_ISREG(st.st_mode))
        descriptor = "type=file|size=" + std::to_string(static_cast<u64>(st.st_size)) +
                     "|id=" + full + "|name=" + shown;
    else if (S_ISDIR(st.st_mode))
        descriptor = "type=directory|id=" + full + "|name=" + shown;
    else
        logAt("SystemSources", 214) << ": " << full << '\n';
    return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
}

} // namespace

DrivesVFS* createSystemSources() {
    return new SystemSources(platform::SystemRoots());
}

DrivesVFS* createSystemSources(const platform::SystemRoots& roots) {
    return new SystemSources(roots);
}

std::string toPrintableText(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F)
            c = '.';
    }
    return trim(out, " \t");
}
