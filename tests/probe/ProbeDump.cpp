// hbprobe dump: the structure view's text of one sector of a source (a partition
// table, a boot sector, a FAT sector or a directory from that sector on), or of
// one MFT record of an NTFS volume.

#include "fs/Params.h"
#include "fs/ScanResults.h"
#include "fs/StructureDumps.h"
#include "fs/ntfs/MftRunlist.h"
#include "fs/ntfs/NTFSDrive.h"
#include "fs/ntfs/NtfsFileParser.h"
#include "tests/probe/Probe.h"
#include "tests/probe/ProbeSource.h"

#include <iostream>
#include <string>
#include <vector>

namespace probe {

namespace {

// DESCRIPTOR mft RECORD [--boot LBA]: the record's number, LBA and text dump, as
// the node information of the NTFS tree shows them, for the volume whose boot
// sector lies at LBA (0 by default). The MFT is found as the tree finds it.
int dumpMftRecord(const SourceOptions& source, const Args& args, const std::string& bootText) {
    const unsigned long long boot = parseNumber(bootText);
    const unsigned long long record = parseNumber(args[2]);
    if (boot > 0xFFFFFFFFull)
        throw Failure("LBA " + bootText + " passes 2^32 - 1");
    SharedPtr<Driver> driver = openDriver(source, args[0]);
    std::vector<u8> sector(512);
    if (!driver->readSectors(boot, 1, sector.data()))
        throw Failure("cannot read the boot sector at " + bootText);
    NTFS_FS_PARAMS params;
    if (!ntfsFsParamsFromBootSector(static_cast<u32>(boot), sector.data(), params,
                                    driver->getSectorCount()) ||
        !NTFSDrive::isUsable(params))
        throw Failure("no NTFS boot sector at " + bootText);
    UnreadableSectors unreadable;
    NTFSDrive drive(driver, params, &unreadable);
    Runlist mft;
    recreateMftRunlist(mft, drive, FoundList<FoundRecordRun>());
    if (mft.empty())
        throw Failure("Cannot recreate MFT runlist.");
    NtfsFileParser parser(drive);
    parser.setMftRunlist(mft);
    std::vector<u8> raw(parser.getRecordsCache().getRecordSize());
    const bool read = parser.getRecordsCache().readRawRecord(record, raw.data());
    parser.dumpRecord(std::cout, record);
    std::cout.flush();
    return read ? 0 : 1;
}

FatType fatTypeOption(const std::string& bits) {
    if (bits == "12")
        return FAT12;
    if (bits == "16")
        return FAT16;
    if (bits == "32")
        return FAT32;
    throw UsageError();
}

} // namespace

// Exit 0 after a dump (also "Not FAT" or no directory), 1 when the sector or
// the MFT record cannot be read or the source cannot be opened.
int cmdDump(Args& args) {
    const SourceOptions source = takeSourceOptions(args);
    std::string bits;
    const bool hasType = takeOption(args, "--type", bits);
    std::string boot = "0";
    const bool hasBoot = takeOption(args, "--boot", boot);
    if (args.size() != 3)
        throw UsageError();
    const std::string& what = args[1];
    if (what == "mft" && !hasType)
        return dumpMftRecord(source, args, boot);
    if (hasBoot)
        throw UsageError();
    if (what != "boot" && what != "fat" && what != "dir" && what != "table")
        throw UsageError();
    if (hasType && what != "fat")
        throw UsageError();
    FatType type = hasType ? fatTypeOption(bits) : FAT_NONE;
    const unsigned long long number = parseNumber(args[2]);
    if (number > 0xFFFFFFFFull)
        throw Failure("LBA " + args[2] + " passes 2^32 - 1");
    const u32 lba = static_cast<u32>(number);

    SharedPtr<Driver> driver = openDriver(source, args[0]);

    bool read = false;
    if (what == "boot")
        read = dumpBootSectorAt(std::cout, lba, *driver, false);
    else if (what == "fat")
        read = dumpFatSector(std::cout, lba, *driver, type);
    else if (what == "dir")
        read = dumpDirectorySector(std::cout, lba, *driver);
    else
        read = dumpPartitionTableAt(std::cout, lba, *driver);
    std::cout.flush();
    return read ? 0 : 1;
}

} // namespace probe
