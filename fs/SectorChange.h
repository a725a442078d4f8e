#pragma once

// One sector that the layout repair rebuilt in memory: its new image, the image
// read from the disk, and what it is ("Boot Sector FAT32 (LBA:2048)"). Nothing
// writes a change to the source; the structure view shows each one "Changed
// from" the old image. Lookups by LBA take the first change with that LBA.

#include "core/Types.h"

#include <array>
#include <string>
#include <vector>

struct SectorChange {
    u32 lba = 0;
    std::array<u8, 512> newImage{};
    std::array<u8, 512> oldImage{};
    std::string description;
};

using SectorChanges = std::vector<SectorChange>;
