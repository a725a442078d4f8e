#include "tree/DriveDescription.h"

#include "core/Checked.h"
#include "core/Intl.h"
#include "core/Text.h"

void printDriverDescription(std::ostream& out, const Driver& driver) {
    const Attributes& properties = driver.getProperties();
    out << _("ID") << ": " << properties.get(PROP_ID, "") << '\n'
        << _("Description") << ": " << properties.get(PROP_DESCRIPTION, "");

    // The source's own count: whole cylinders of a geometry, which Linux makes
    // up for image files (255 x 63), would drop its last sectors, and all of a
    // floppy's.
    const u64 sectors = driver.getSectorCount();
    out << '\n'
        << _("Total Sectors") << ": " << sectors << " (" << _("Size") << ": "
        << formatSize(saturatingMul(sectors, driver.getSectorSize())) << ")\n\n";
}
