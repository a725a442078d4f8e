#pragma once

// Cylinder/head/sector geometry of a source. Partition tables and boot sectors
// carry CHS addresses beside their LBAs: the structure dumps show them, the drive
// description shows the geometry, and the layout repair writes them into the
// tables it rebuilds.

#include "core/Types.h"
#include "devices/Driver.h"

#include <ostream>
#include <string>

constexpr u32 DEFAULT_HEADS = 255;
constexpr u32 DEFAULT_SECTORS_PER_TRACK = 63;

struct DriveGeometry {
    u32 cylinders = 0;
    u32 heads = 0;
    u32 sectorsPerTrack = 0;
    // The driver's sector size, low 32 bits.
    u32 sectorSize = 0;
    // cylinders x heads x sectorsPerTrack: the sectors CHS addressing reaches.
    u32 chsSectors = 0;

    DriveGeometry() = default;
    // Whole cylinders of the driver's sectors; no cylinders when heads x sectors
    // per track is 0.
    DriveGeometry(const Driver& driver, u64 heads, u64 sectorsPerTrack);
};

struct ChsAddress {
    u32 cylinder = 0;
    u32 head = 0;
    // Counted from 1; 0 only where a geometry reaches no sector at all.
    u32 sector = 0;
    u32 lba = 0;
};

// From the driver's "HEADS" and "SECTORS" properties (255 and 63 when absent or
// 0): the geometry the dumps and the drive description show.
DriveGeometry driveGeometry(const Driver& driver);
// From "REPAIR_HEADS" and "REPAIR_SECTORS", the geometry the user chose for the
// partition tables we rebuild.
DriveGeometry repairGeometry(const Driver& driver);

// Fills cylinder, head and sector from the address's lba. The cylinder is not
// capped at 1023; packing into a partition entry is the caller's business.
void lbaToChs(ChsAddress& address, const DriveGeometry& geometry);
// Fills lba from cylinder, head and sector.
void chsToLba(ChsAddress& address, const DriveGeometry& geometry);

// Writes the text with the prefix before the first character of every line that
// has one; empty lines stay empty.
void writeWithLinePrefix(std::ostream& out, const std::string& text, const std::string& prefix);
