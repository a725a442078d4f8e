#pragma once

// What the analysis tests share. The disk, made by the real tools once per run and
// kept in the build folder: a FAT16 (0x04) and a FAT32 (0x0B) primary partition
// and an NTFS logical partition in an extended partition (0x0F), each with three
// folders, five files and a deleted file whose clusters nothing took again; the
// FAT16 volume also holds a JPEG picture and a zip archive.

#include "core/Types.h"
#include "fs/ScanResults.h"
#include "tests/support/FilesCameBack.h"
#include "tests/support/FsImages.h"

#include <string>
#include <vector>

namespace analysistest {

constexpr u32 FAT16_LBA = 2048;
constexpr u32 FAT32_LBA = 34816;
constexpr u32 EXTENDED_LBA = 116736;
constexpr u32 NTFS_LBA = 118784;
constexpr u32 NTFS_SECTORS = 32768;
constexpr u32 DISK_SECTORS = 153600;
const std::vector<u32> VOLUME_STARTS = {FAT16_LBA, FAT32_LBA, NTFS_LBA};

// The disk image (built on first use; do not write to it).
const std::string& cachedDisk();
// Where the picture and the archive were made, for their bytes.
const std::string& cacheDir();

// What volume 0, 1 or 2 must give back: its live files and the deleted one
// (NTFS puts what lost its folder entry under "Found").
testutil::PlacedFiles expectedFiles(std::size_t volume);
// The picture and the archive, as placed on volume 0.
testutil::PlacedFiles carvable();

// Fills a FAT volume as the disk's are (three folders, five files and a
// deleted one, from `seed`), with `extra` files too; and what it gives back.
void fillFat(testutil::FatImage& image, int seed, const testutil::PlacedFiles& extra = {});
testutil::PlacedFiles fatFiles(int seed);

// Every find of the scan results, one per line: T tables (type:start+count), B
// boot sectors (kind, total sectors), F FAT sectors (width), D directory runs,
// S system records, R record runs (sectors x records), U unreadable runs.
std::string describe(const ScanResults& r);

// Text whose lines tell where in the file they stand.
std::string textContent(std::size_t n, int seed);

} // namespace analysistest
