#include "analysis/DriveLayout.h"

#include "core/Array.h"
#include "core/Log.h"
#include "devices/DriveGeometry.h"
#include "devices/Driver.h"
#include "fs/StructureChecks.h"
#include "fs/StructureDumps.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <stdexcept>

namespace {

constexpr u8 STATUS_ACTIVE = 0x80;
constexpr u8 TYPE_EXTENDED = 0x05;
constexpr u8 TYPE_EXTENDED_LBA = 0x0F;

// Start and length of an element by its smallest size.
bool sharesSector(const FsCandidate& a, const FsCandidate& b) {
    u64 aEnd = static_cast<u64>(a.startLBA) + a.minSectors;
    u64 bEnd = static_cast<u64>(b.startLBA) + b.minSectors;
    return a.startLBA < bEnd && b.startLBA < aEnd;
}

FsCandidate tableElement(u32 lba) {
    FsCandidate t;
    t.startLBA = lba;
    t.minSectors = 1;
    t.maxSectors = 1;
    t.valid = true;
    t.isPartitionTable = true;
    t.extendedBaseLBA = 0;
    return t;
}

bool isFree(const FsCandidateEntry& e) {
    return e.type == 0;
}

// Type families whose members say the same thing: a type on the sector of the
// same family as the rebuilt one is kept. 0 for a type of no family.
int typeFamily(u8 type) {
    switch (type) {
    case 0x00:
        return 1;
    case 0x01:
        return 2;
    case 0x04:
    case 0x06:
        return 3;
    case 0x0B:
    case 0x0C:
        return 4;
    case 0x07:
    case 0x17:
    case 0x86:
    case 0x87:
        return 5;
    case 0x05:
    case 0x0F:
        return 6;
    default:
        return 0;
    }
}

// The cylinder of a CHS triple: bits 8-9 in the top of the sector byte.
u32 entryCylinder(const Array& chs) {
    return (static_cast<u32>(chs.getU8(1) & 0xC0) << 2) | chs.getU8(2);
}

// Packs the CHS address of lba into head, sector/cylinder-high and cylinder
// bytes, the cylinder clamped against the one already there.
void writeChs(const Array& chs, u32 lba, const DriveGeometry& geometry) {
    ChsAddress a;
    a.lba = lba;
    lbaToChs(a, geometry);
    u32 cylinder = clampCylinder(a.cylinder, entryCylinder(chs));
    chs.setU8(0, static_cast<u8>(a.head));
    chs.setU8(1, static_cast<u8>((a.sector & 0x3F) | ((cylinder >> 2) & 0xC0)));
    chs.setU8(2, static_cast<u8>(cylinder));
}

void formEntry(const Array& e, const FsCandidate& table, const FsCandidateEntry& want, bool active,
               const Driver& driver, const DriveGeometry& geometry) {
    const u8 oldType = e.getU8(PE_TYPE);
    const u32 oldStart = e.getLE32(PE_START_LBA);
    const u32 oldCount = e.getLE32(PE_SECTOR_COUNT);
    const bool link = isExtendedPartitionType(want.type);
    const bool wasLink = isExtendedPartitionType(oldType);
    const u32 s = want.startLBA;

    // Data entries count from their own table; links from the extended
    // partition, unless the link on the sector already counts from the table
    // (or the extended partition) in a way that names the same sector.
    u32 base = table.startLBA;
    u32 count = want.sectors;
    if (link) {
        base = table.extendedBaseLBA != 0 ? table.extendedBaseLBA : table.startLBA;
        if (wasLink && oldStart <= s) {
            u32 existing = s - oldStart;
            if (existing == table.extendedBaseLBA || existing == table.startLBA)
                base = existing;
        }
        if (wasLink) {
            // A link that reaches the drive's end (or its last partial
            // cylinder) keeps its count.
            u64 toEnd = driver.getSectorCount() > s ? driver.getSectorCount() - s : 0;
            u64 cylinder = static_cast<u64>(geometry.heads) * geometry.sectorsPerTrack;
            if (oldCount == want.sectors || oldCount == toEnd ||
                (oldCount < toEnd && toEnd <= oldCount + cylinder))
                count = oldCount;
        }
    }
    if (base > s) {
        logAt("DriveLayout", 1) << ": entry at " << s << " lies before its base " << base << '\n';
        base = 0;
    }

    const int family = typeFamily(oldType);
    const u8 type = family != 0 && family == typeFamily(want.type) ? oldType : want.type;
    const u64 last = count == 0 ? s : static_cast<u64>(s) + count - 1;

    e.setU8(PE_BOOT_INDICATOR, active ? STATUS_ACTIVE : 0);
    writeChs(Array(e, PE_START_CHS, 3), s, geometry);
    e.setU8(PE_TYPE, type);
    writeChs(Array(e, PE_END_CHS, 3), static_cast<u32>(std::min<u64>(last, 0xFFFFFFFF)), geometry);
    e.setLE32(PE_START_LBA, s - base);
    e.setLE32(PE_SECTOR_COUNT, count);
}

// The last sector of a run, as the log shows it: -1 for an empty run at 0.
i64 lastSector(u32 start, u32 sectors) {
    return static_cast<i64>(start) + sectors - 1;
}

} // namespace

u32 clampCylinder(u32 cylinder, u32 previous) {
    if (cylinder < 1024)
        return cylinder;
    return previous == cylinder % 1024 ? previous : 1023;
}

namespace DL {

FsCandidate* addElement(FsCandidateList& layout, const FsCandidate& candidate, bool testOverlap) {
    if (testOverlap) {
        for (FsCandidate& e : layout) {
            if ((e.isPartitionTable || e.selected) && sharesSector(e, candidate))
                return &e;
        }
    }
    insertCandidate(layout, candidate).valid = true;
    return nullptr;
}

void addPartitionTables(FsCandidateList& layout, const DLayoutOptions& options) {
    // A table is one sector: among tables it overlaps only the one at its own
    // LBA, so a set of LBAs stands in for testing every element before it (a
    // chain of ten thousand extended boot records is ten thousand tables).
    std::set<u32> known{0};
    FsCandidateList tables{tableElement(0)};
    for (const FsCandidate& c : *options.candidates) {
        if (!isSelectedFileSystem(c) || !c.hasPartitionEntry)
            continue;
        if (known.insert(c.partitionTableLBA).second)
            tables.push_back(tableElement(c.partitionTableLBA));
    }
    insertCandidates(layout, tables);
}

void addFileSystems(FsCandidateList& layout, const DLayoutOptions& options) {
    if (!options.maximalSizes) {
        for (const FsCandidate& c : *options.candidates) {
            if (!isSelectedFileSystem(c))
                continue;
            if (addElement(layout, c, true) != nullptr)
                throw std::runtime_error("DL(86)");
        }
        return;
    }
    // Untested, they all go in: merged at once rather than each shifting the
    // elements behind it.
    FsCandidateList added;
    for (const FsCandidate& c : *options.candidates) {
        if (!isSelectedFileSystem(c))
            continue;
        added.push_back(c);
        added.back().valid = true;
    }
    insertCandidates(layout, added);
}

void build(FsCandidateList& layout, const DLayoutOptions& options) {
    layout.clear();
    if (options.usesPartitionTables)
        addPartitionTables(layout, options);
    addFileSystems(layout, options);
    for (FsCandidate& e : layout) {
        if (e.isPartitionTable)
            e.layoutSectors = 1;
        else
            e.layoutSectors = options.maximalSizes ? e.maxSectors : e.minSectors;
    }
    if (options.usesPartitionTables)
        buildPartitionTables(layout, options);
}

bool addPartitionEntry(FsCandidate& table, u8 type, u32 startLBA, u32 sectors, u32 preferredSlot,
                       bool duplicatesAllowed) {
    logAt("DL", 135) << ": "
                     << "fscode=" << static_cast<unsigned>(type) << ", LBA=" << startLBA
                     << ", sectors=" << sectors << '\n';
    if (type == 0) {
        logAt("DL", 137) << '\n';
        return false;
    }
    // An entry of no sectors is no partition: the table test refuses it.
    if (sectors == 0) {
        logAt("DriveLayout", 2) << ": no sectors at " << startLBA << '\n';
        return false;
    }
    if (!duplicatesAllowed) {
        for (const FsCandidateEntry& e : table.entries) {
            if (!isFree(e) && e.startLBA == startLBA) {
                logAt("DL", 145) << '\n';
                return false;
            }
        }
    }
    u32 slot = preferredSlot;
    if (slot >= PARTITION_ENTRY_COUNT || !isFree(table.entries[slot])) {
        auto free = std::find_if(table.entries.begin(), table.entries.end(), isFree);
        if (free == table.entries.end()) {
            logAt("DL", 171) << '\n';
            return false;
        }
        slot = static_cast<u32>(free - table.entries.begin());
    }
    table.entries[slot] = FsCandidateEntry{type, startLBA, sectors};
    return true;
}

void packPartitionEntries(FsCandidate& table) {
    if (!table.valid || !table.isPartitionTable)
        throw std::runtime_error("DL(394)");
    std::stable_partition(table.entries.begin(), table.entries.end(),
                          [](const FsCandidateEntry& e) { return !isFree(e); });
}

void buildPartitionTables(FsCandidateList& layout, const DLayoutOptions& options) {
    if (layout.empty())
        throw std::runtime_error("DL(181)");
    if (!layout[0].valid || !layout[0].isPartitionTable)
        throw std::runtime_error("DL(183)");
    std::size_t current = 0;
    u32 extendedBase = 0;
    for (std::size_t i = 1; i < layout.size(); ++i) {
        FsCandidate& x = layout[i];
        if (!x.valid)
            throw std::runtime_error("DL(186)");
        FsCandidate& table = layout[current];
        const u32 slot = x.hasPartitionEntry ? x.partitionEntryIndex : 0;
        if (!x.isPartitionTable) {
            // A volume that begins in the table's own sector (a floppy-style
            // volume at LBA 0) gets no entry: it would point the table at itself.
            if (x.startLBA == table.startLBA) {
                logAt("DriveLayout", 3) << ": the file system at " << x.startLBA
                                        << " lies on its partition table; no entry\n";
                continue;
            }
            if (addPartitionEntry(table, x.fscode(), x.startLBA, x.layoutSectors, slot, true))
                x.parentTableLBA = table.startLBA;
            continue;
        }
        // A link to the next extended boot record: from the MBR the whole
        // extended partition to the drive's end, from a record the next record
        // with the partition that follows it.
        const bool fromMbr = current == 0;
        u64 end = options.lastLBA;
        if (!fromMbr && i + 1 < layout.size() && layout[i + 1].valid) {
            const FsCandidate& next = layout[i + 1];
            end = static_cast<u64>(next.startLBA) + next.layoutSectors - 1;
        }
        if (end >= x.startLBA && end - x.startLBA < 0xFFFFFFFF) {
            const u32 sectors = static_cast<u32>(end - x.startLBA + 1);
            const u8 type = fromMbr ? TYPE_EXTENDED_LBA : TYPE_EXTENDED;
            if (addPartitionEntry(table, type, x.startLBA, sectors, slot, true)) {
                x.parentTableLBA = table.startLBA;
                x.extendedBaseLBA = extendedBase;
                if (fromMbr)
                    extendedBase = x.startLBA;
            }
        } else {
            logAt("DriveLayout", 4)
                << ": no link to the table at " << x.startLBA << " ending at " << end << '\n';
        }
        current = i;
    }
}

void formPartitionSector(const FsCandidate& table, u8* sector, Driver& driver) {
    const Array s(sector, SECTOR_BYTES);
    const DriveGeometry geometry = repairGeometry(driver);
    u32 active = PARTITION_ENTRY_COUNT;
    for (u32 i = 0; i < PARTITION_ENTRY_COUNT && active == PARTITION_ENTRY_COUNT; ++i) {
        if (s.getU8(PARTITION_TABLE_OFFSET + i * PARTITION_ENTRY_BYTES) == STATUS_ACTIVE)
            active = i;
    }
    for (u32 i = 0; i < PARTITION_ENTRY_COUNT; ++i) {
        const Array e(s, PARTITION_TABLE_OFFSET + i * PARTITION_ENTRY_BYTES, PARTITION_ENTRY_BYTES);
        const FsCandidateEntry& want = table.entries[i];
        if (isFree(want))
            std::memset(e.data(), 0, PARTITION_ENTRY_BYTES);
        else
            formEntry(e, table, want, i == active, driver, geometry);
    }
    s.setLE16(SECTOR_SIGNATURE_OFFSET, SECTOR_SIGNATURE);
}

void writePartitionTable(FsCandidate& table, Driver& driver, SectorChanges& changes, bool dump) {
    const u32 lba = table.startLBA;
    std::array<u8, SECTOR_BYTES> old{};
    if (driver.getSectorSize() != SECTOR_BYTES || !driver.readSectors(lba, 1, old.data())) {
        logAt("DL", 409) << ": " << lba << '\n';
        return;
    }
    // Removable disks of that make keep their entries in their slots.
    if (driver.getProperties().get(PROP_DESCRIPTION, "").compare(0, 3, "ZIP") != 0)
        packPartitionEntries(table);
    std::array<u8, SECTOR_BYTES> image = old;
    formPartitionSector(table, image.data(), driver);
    if (image != old) {
        logAt("DL", 421) << ": "
                         << "(LBA:" << lba << ") filling sector with zeroes\n";
        image.fill(0);
        formPartitionSector(table, image.data(), driver);
        SectorChange change;
        change.lba = lba;
        change.newImage = image;
        change.oldImage = old;
        change.description = "Partition Table (LBA:" + std::to_string(lba) + ")";
        changes.push_back(change);
    }
    if (dump)
        dumpPartitionTable(logAt("DL", 434) << '\n', image.data(), lba, driver, old.data());
}

} // namespace DL

void printDriveLayout(std::ostream& os, const FsCandidateList& layout) {
    for (const FsCandidate& e : layout) {
        os << "-> [[" << e.startLBA << ':' << lastSector(e.startLBA, e.layoutSectors) << "] ";
        if (!e.valid)
            os << '!';
        os << "dl.valid "
           << "Sects:" << e.layoutSectors << " pLBA:" << e.parentTableLBA << ' ';
        if (!e.isPartitionTable) {
            os << '(' << partitionTypeName(e.fscode()) << " File System)";
        } else {
            os << "(Partition Table):\n   ";
            for (const FsCandidateEntry& entry : e.entries) {
                if (isFree(entry)) {
                    os << "[[Unused]";
                    continue;
                }
                os << "[[" << partitionTypeName(entry.type) << ' ' << entry.startLBA << ':'
                   << lastSector(entry.startLBA, entry.sectors) << ']';
            }
        }
        os << '\n';
    }
}
