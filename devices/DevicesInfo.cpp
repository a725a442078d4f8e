#include "devices/DevicesInfo.h"

#include "core/Log.h"
#include "core/Text.h"
#include "devices/BlockDeviceReader.h"
#include "platform/BlockDeviceList.h"
#include "platform/DiskIdentity.h"

#include <glib.h>
#include <memory>

namespace {

const char* const BUS_NAMES[] = {nullptr, "SCSI", "ATAPI", "ATA", "1394", "SSA", "FIBRE",
                                 "USB",   "RAID", "ISCSI", "SAS", "SATA", "SD",  "MMC"};

bool hexPair(const char* p, u8& out) {
    if (!g_ascii_isxdigit(p[0]) || !g_ascii_isxdigit(p[1]))
        return false;
    out = static_cast<u8>(g_ascii_xdigit_value(p[0]) * 16 + g_ascii_xdigit_value(p[1]));
    return true;
}

} // namespace

const char* busTypeName(u32 busType) {
    return busType < sizeof BUS_NAMES / sizeof BUS_NAMES[0] ? BUS_NAMES[busType] : nullptr;
}

u32 busTypeOfLinuxBus(const std::string& bus) {
    static const struct {
        const char* word;
        u32 number;
    } WORDS[] = {{"scsi", 1}, {"ata", 3},   {"ieee1394", 4}, {"usb", 7}, {"iscsi", 9},
                 {"sas", 10}, {"sata", 11}, {"sd", 12},      {"mmc", 13}};
    for (const auto& w : WORDS)
        if (bus == w.word)
            return w.number;
    return 0;
}

std::string decodeSerialNumber(const std::string& text) {
    std::string result;
    const char* p = text.c_str();
    std::size_t left = text.size();
    while (left >= 4) {
        u8 first = 0, second = 0;
        if (!hexPair(p, first) || !hexPair(p + 2, second))
            break;
        result += static_cast<char>(second);
        result += static_cast<char>(first);
        p += 4;
        left -= 4;
    }
    if (left > 0)
        logAt("DevicesInfo", 95) << ": " << text << '\n';
    return trim(result, " \t");
}

bool DevicesInfo::addDevice(const char* path, const DeviceMapping& mapping, PropertyMap& record) {
    const char* shown = path ? path : "";
    if (!record.set("File", shown, true)) {
        logAt("DevicesInfo", 251) << '\n';
        return false;
    }
    std::unique_ptr<platform::BlockDevice> device = platform::createSystemBlockDevice();
    if (!device->open(shown, true)) {
        // Usually a disk that needs root or the group "disk".
        logAt("DevicesInfo", 263) << ": " << shown << ' ' << device->lastErrorText() << '\n';
        return false;
    }
    const bool ok = addStorageProperties(*device, shown, mapping, record);
    if (ok) {
        const std::string partitions = mapping.partitionsOf(shown);
        logAt("DevicesInfo", 271) << ": "
                                  << "Partitions: " << partitions << '\n';
        if (!record.set("Partitions", partitions, true))
            logAt("DevicesInfo", 273) << '\n';
    } else {
        logAt("DevicesInfo", 268) << '\n';
    }
    return ok;
}

bool DevicesInfo::addStorageProperties(platform::BlockDevice& device, const char* path,
                                       const DeviceMapping& mapping, PropertyMap& record) {
    u64 size = 0, sectorSize = 0;
    if (!dt::getDeviceSize(device, size, sectorSize)) {
        logAt("DevicesInfo", 128) << '\n';
        return false;
    }
    logAt("DevicesInfo", 131) << ": "
                              << "Size: " << size << ", Sector Size: " << sectorSize << '\n';
    if (!record.set("Size", size, true)) {
        logAt("DevicesInfo", 133) << '\n';
        return false;
    }
    if (!record.set("Sector Size", sectorSize, true)) {
        logAt("DevicesInfo", 137) << '\n';
        return false;
    }

    const std::string name = platform::blockDeviceNameOfPath(mapping.roots(), path ? path : "");
    platform::DiskIdentity id;
    if (!platform::readDiskIdentity(mapping.roots(), name, id)) {
        // Loop, dm and md devices have no hardware behind them to describe.
        logAt("DevicesInfo", 154) << '\n';
        return true;
    }
    const std::string model = trim(id.model, " \t");
    const std::string revision = trim(id.revision, " \t");
    const std::string serial = trim(id.serial, " \t");
    logAt("DevicesInfo", 185) << ": "
                              << "STORAGE_DEVICE_DESCRIPTOR" << '\n'
                              << "  RemovableMedia: " << (id.removable ? 1 : 0) << '\n'
                              << "  BusType: " << id.bus << '\n'
                              << "  vendorId: " << trim(id.vendor, " \t") << '\n'
                              << "  productId: " << model << '\n'
                              << "  productRevision: " << revision << '\n'
                              << "  serialNumber: " << serial << '\n';
    if (!record.set("Model", model, true))
        logAt("DevicesInfo", 187) << '\n';
    if (!record.set("Revision", revision, true))
        logAt("DevicesInfo", 190) << '\n';
    if (!record.set("Serial", serial, true))
        logAt("DevicesInfo", 193) << '\n';

    const u32 bus = busTypeOfLinuxBus(id.bus);
    if (const char* busName = busTypeName(bus)) {
        if (!record.set("Bus Type", busName, true))
            logAt("DevicesInfo", 241) << '\n';
    } else {
        logAt("DevicesInfo", 237) << ": " << bus << ' ' << id.bus << '\n';
    }
    return true;
}
