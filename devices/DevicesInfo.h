#pragma once

// The property record of one disk, partition or floppy: its size and sector
// size, what the disk says about itself, and its partitions.

#include "core/PropertyMap.h"
#include "core/Types.h"
#include "devices/DeviceMapping.h"

#include <string>

namespace platform {
class BlockDevice;
}

class DevicesInfo {
public:
    // Fills a fresh record ("File", "Size", "Sector Size", "Model", "Revision",
    // "Serial", "Bus Type", "Partitions"). False when the device cannot be
    // opened or sized, or when the record already holds "File".
    static bool addDevice(const char* path, const DeviceMapping& mapping, PropertyMap& record);
    // Size, sector size and identity of the open device at `path`.
    static bool addStorageProperties(platform::BlockDevice& device, const char* path,
                                     const DeviceMapping& mapping, PropertyMap& record);
};

// The bus numbers of the storage interface we name: 1 "SCSI" to 13 "MMC"; null
// for 0 and numbers without a name.
const char* busTypeName(u32 busType);
// The number of the bus word that Linux reports ("usb", "sata", ...); 0 when it
// has none.
u32 busTypeOfLinuxBus(const std::string& bus);

// A serial number some controllers report as hexadecimal text, two digits per
// byte with the bytes of each 16-bit word swapped: "31323334" is "2143".
std::string decodeSerialNumber(const std::string& text);
