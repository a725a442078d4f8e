#include "devices/DriveGeometry.h"

#include "core/Log.h"

namespace {

// A geometry property of 0 would leave every conversion dividing by zero; a
// driver editor or a damaged saved scan can set one, so it counts as unset.
u64 geometryProperty(const Driver& driver, const char* key, u32 def) {
    u64 value = driver.getProperties().getUInt64(key, def);
    if (static_cast<u32>(value) == 0) {
        logAt("DriveGeometry", 12) << ": " << key << ' ' << value << " using " << def << '\n';
        return def;
    }
    return value;
}

DriveGeometry geometryFrom(const Driver& driver, const char* headsKey, const char* sectorsKey) {
    return DriveGeometry(driver, geometryProperty(driver, headsKey, DEFAULT_HEADS),
                         geometryProperty(driver, sectorsKey, DEFAULT_SECTORS_PER_TRACK));
}

} // namespace

DriveGeometry::DriveGeometry(const Driver& driver, u64 headCount, u64 trackSectors)
    : heads(static_cast<u32>(headCount)), sectorsPerTrack(static_cast<u32>(trackSectors)),
      sectorSize(static_cast<u32>(driver.getSectorSize())) {
    u32 perCylinder = heads * sectorsPerTrack;
    cylinders = perCylinder == 0 ? 0 : static_cast<u32>(driver.getSectorCount() / perCylinder);
    chsSectors = sectorsPerTrack * cylinders * heads;
}

DriveGeometry driveGeometry(const Driver& driver) {
    return geometryFrom(driver, PROP_HEADS, PROP_SECTORS);
}

DriveGeometry repairGeometry(const Driver& driver) {
    return geometryFrom(driver, PROP_REPAIR_HEADS, PROP_REPAIR_SECTORS);
}

void lbaToChs(ChsAddress& address, const DriveGeometry& geometry) {
    u32 perCylinder = geometry.heads * geometry.sectorsPerTrack;
    if (perCylinder == 0) {
        // Only a geometry built by hand gets here; it addresses nothing.
        address.cylinder = 0;
        address.head = 0;
        address.sector = 0;
        return;
    }
    address.cylinder = address.lba / perCylinder;
    address.head = address.lba / geometry.sectorsPerTrack % geometry.heads;
    address.sector = address.lba % geometry.sectorsPerTrack + 1;
}

void chsToLba(ChsAddress& address, const DriveGeometry& geometry) {
    address.lba = (address.cylinder * geometry.heads + address.head) * geometry.sectorsPerTrack +
                  address.sector - 1;
}

void writeWithLinePrefix(std::ostream& out, const std::string& text, const std::string& prefix) {
    bool lineStart = true;
    for (char c : text) {
        if (c == '\n') {
            out << c;
            lineStart = true;
            continue;
        }
        if (lineStart)
            out << prefix;
        lineStart = false;
        out << c;
    }
}
