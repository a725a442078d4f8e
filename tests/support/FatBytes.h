#pragma once

// FAT structures as bytes, built from the named fields of fs/FatLayout.h: boot
// sectors for the tests' inline sectors, directory and long-name entries, and
// the damage helpers that find clusters and directory entries of a volume in an
// image file.

#include "core/Types.h"
#include "fs/Params.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace testutil {

using Sector = std::array<u8, 512>;

inline const u8* bytesAt(const std::string& s, std::size_t at = 0) {
    return reinterpret_cast<const u8*>(s.data() + at);
}

// A FAT boot sector with these fields and nothing else but the sector size, two
// FATs and the signature: the 16-bit size fields where they fit (sectors per
// FAT only on a volume with a fixed root), the 32-bit ones otherwise, and the
// root cluster when rootEntries is 0.
Sector fatBootSector(u32 reserved, u32 sectorsPerFat, u32 rootEntries, u32 totalSectors,
                     u32 sectorsPerCluster, u32 rootCluster = 2);
// An NTFS boot sector: a jump, the OEM name, these fields and the signature.
Sector ntfsBootSector(u64 totalSectors, u8 sectorsPerCluster, u64 mftCluster, u64 mirrorCluster,
                      u8 clustersPerRecord);

// A 32-byte short entry: the 11-byte name as stored, attributes, first cluster,
// size, and the write (also creation and access) date and time as stored,
// 2020-01-02 03:04:06 by default.
std::string shortEntry(const std::string& name11, u8 attributes, u32 cluster, u32 size,
                       u16 date = 0x5022, u16 time = 0x1883);
// A long-name entry: order byte, checksum, up to 13 UTF-16 units, padded with a
// 0 and then 0xFFFF as systems write them.
std::string lfnEntry(u8 order, u8 checksum, const std::vector<u16>& units);
std::vector<u16> asciiUnits(const std::string& text);
// The checksum of an 11-byte short name that its long-name entries carry.
u8 checksumOf(const std::string& name11);

// The text of the std::runtime_error that `f` throws ("FatsReader(24)"); empty
// when it throws none.
std::string thrownText(const std::function<void()>& f);

// A sector of the "(unreadable)" pattern, as a read error leaves it in a file.
std::string unreadableSector();

// A FAT volume in an image file: a cluster's byte offset (0: the fixed root of
// FAT12/16).
u64 clusterOffset(const FAT_FS_PARAMS& params, u32 cluster);
// Zeroes the whole first FAT.
void zeroFirstFat(const std::string& path, const FAT_FS_PARAMS& params);
// The byte offset of the short entry named name11 in the first cluster of the
// directory at `cluster` (0: the fixed root of FAT12/16); throws when absent.
u64 entryOffsetIn(const std::string& path, const FAT_FS_PARAMS& params, u32 cluster,
                  const std::string& name11);

} // namespace testutil
