#include "tree/DriveDescription.h"

#include "core/Intl.h"
#include "core/Text.h"
#include "devices/DriveGeometry.h"

void printDriverDescription(std::ostream& out, const Driver& driver) {
    const Attributes& properties = driver.getProperties();
    out << _("ID") << ": " << properties.get(PROP_ID, "") << '\n'
        << _("Description") << ": " << properties.get(PROP_DESCRIPTION, "");

    // The geometry counts whole cylinders only, so this can fall short of the
    // source's real size; it is what CHS addressing reaches.
    DriveGeometry geometry = driveGeometry(driver);
    u64 bytes = static_cast<u64>(geometry.chsSectors) * driver.getSectorSize();
    out << '\n'
        << _("Total Sectors") << ": " << geometry.chsSectors << " (" << _("Size") << ": "
        << formatSize(bytes) << ")\n\n";
}
