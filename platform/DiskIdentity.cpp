#include "platform/DiskIdentity.h"

#include "platform/BlockDeviceList.h"

#include <cstdlib>
#include <glib.h>

namespace platform {

namespace {

std::string attribute(const std::string& dir, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        std::string text;
        if (readSysfsText(dir + "/" + name, text)) {
            text = std::string(text.c_str()); // binary attributes stop at a NUL
            std::string::size_type b = text.find_first_not_of(" \t");
            std::string::size_type e = text.find_last_not_of(" \t");
            if (b != std::string::npos)
                return text.substr(b, e - b + 1);
        }
    }
    return std::string();
}

std::string lookup(const std::map<std::string, std::string>& props, const char* key) {
    auto it = props.find(key);
    return it == props.end() ? std::string() : it->second;
}

std::string resolvedPath(const std::string& path) {
    std::string out;
    if (char* real = realpath(path.c_str(), nullptr)) {
        out = real;
        std::free(real);
    }
    return out;
}

// Without udev, the device's place in the sysfs hierarchy still tells the bus:
// ".../usb2/..." or ".../ata3/...".
std::string busFromHierarchy(const std::string& blockDir, const std::string& deviceDir) {
    std::string real = resolvedPath(blockDir);
    for (const char* bus : {"usb", "ata", "ieee1394"}) {
        std::string needle = std::string("/") + bus;
        for (std::string::size_type at = real.find(needle); at != std::string::npos;
             at = real.find(needle, at + 1)) {
            char next = at + needle.size() < real.size() ? real[at + needle.size()] : '\0';
            if (g_ascii_isdigit(next))
                return bus;
        }
    }
    std::string subsystem = resolvedPath(deviceDir + "/subsystem");
    std::string::size_type slash = subsystem.rfind('/');
    return slash == std::string::npos ? std::string() : subsystem.substr(slash + 1);
}

} // namespace

std::map<std::string, std::string> parseUdevProperties(const std::string& text) {
    std::map<std::string, std::string> out;
    std::string::size_type pos = 0;
    while (pos < text.size()) {
        std::string::size_type end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        std::string::size_type eq = line.find('=');
        if (line.compare(0, 2, "E:") == 0 && eq != std::string::npos && eq > 2)
            out[line.substr(2, eq - 2)] = line.substr(eq + 1);
    }
    return out;
}

std::string decodeUdevText(const std::string& text) {
    std::string out;
    for (std::string::size_type i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
            g_ascii_isxdigit(text[i + 2]) && g_ascii_isxdigit(text[i + 3])) {
            out += static_cast<char>(g_ascii_xdigit_value(text[i + 2]) * 16 +
                                     g_ascii_xdigit_value(text[i + 3]));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool readDiskIdentity(const SystemRoots& roots, const std::string& name, DiskIdentity& out) {
    out = DiskIdentity();
    if (name.empty() || name.find('/') != std::string::npos || name[0] == '.')
        return false;
    const std::string blockDir = roots.sysfs + "/block/" + name;
    const std::string deviceDir = blockDir + "/device";
    const bool hasDevice = g_file_test(deviceDir.c_str(), G_FILE_TEST_IS_DIR);

    std::map<std::string, std::string> udev;
    std::string devNumber, record;
    const bool hasUdev = readSysfsText(blockDir + "/dev", devNumber) &&
                         readSysfsText(roots.udevData + "/b" + devNumber, record);
    if (hasUdev)
        udev = parseUdevProperties(record);
    if (!hasDevice && !hasUdev)
        return false;

    out.vendor = attribute(deviceDir, {"vendor"});
    // SCSI and ATA name it "model", MMC cards "name"; NVMe keeps its firmware
    // revision under "firmware_rev", MMC under "fwrev".
    out.model = attribute(deviceDir, {"model", "name"});
    out.revision = attribute(deviceDir, {"rev", "firmware_rev", "fwrev"});
    out.serial = attribute(deviceDir, {"serial"});
    if (out.serial.empty())
        out.serial = attribute(blockDir, {"serial"}); // virtio keeps it there
    if (out.model.empty())
        out.model = decodeUdevText(lookup(udev, "ID_MODEL_ENC"));
    if (out.model.empty())
        out.model = lookup(udev, "ID_MODEL");
    if (out.revision.empty())
        out.revision = lookup(udev, "ID_REVISION");
    if (out.serial.empty())
        out.serial = lookup(udev, "ID_SERIAL_SHORT");
    if (out.vendor.empty())
        out.vendor = decodeUdevText(lookup(udev, "ID_VENDOR_ENC"));
    out.removable = attribute(blockDir, {"removable"}) == "1";

    std::string type = attribute(deviceDir, {"type"});
    out.bus = lookup(udev, "ID_BUS");
    if (out.bus == "ata" && lookup(udev, "ID_ATA_SATA") == "1")
        out.bus = "sata";
    if (out.bus.empty() && name.compare(0, 6, "mmcblk") == 0 && (type == "SD" || type == "MMC"))
        out.bus = type == "SD" ? "sd" : "mmc";
    if (out.bus.empty() && name.compare(0, 4, "nvme") == 0)
        out.bus = "nvme";
    if (out.bus.empty() && hasDevice)
        out.bus = busFromHierarchy(blockDir, deviceDir);
    return true;
}

} // namespace platform
