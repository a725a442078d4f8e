// hbprobe dump: the structure view's text of one sector of a source (a partition
// table, a boot sector, a FAT sector or a directory from that sector on), or of
// one MFT record of the NTFS volume whose boot sector is the source's first.

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

// The record's number, LBA and text dump, as the node information of the NTFS
// tree shows them. The MFT is found as the tree finds it.
int dumpMftRecord(const SharedPtr<Driver>& driver, const std::string& recordText) {
    std::vector<u8> sector(512);
    NTFS_FS_PARAMS params;
    if (!driver->readSectors(0, 1, sector.data()) ||
        !ntfsFsParamsFromBootSector(0, sector.data(), params, driver->getSectorCount()) ||
        !NTFSDrive::isUsable(params))
        throw Failure("no NTFS boot sector at 0");
    UnreadableSectors unreadable;
    NTFSDrive drive(driver, params, &unreadable);
    Runlist mft;
    recreateMftRunlist(mft, drive, FoundList<FoundRecordRun>());
    if (mft.empty())
        throw Failure("Cannot recreate MFT runlist.");
    NtfsFileParser parser(drive);
    parser.setMftRunlist(mft);
    const unsigned long long record = parseNumber(recordText);
    std::vector<u8> raw(parser.getRecordsCache().getRecordSize());
    const bool read = parser.getRecordsCache().readRawRecord(record, raw.data());
    parser.dumpRecord(std::cout, record);
    std::cout.flush();
    return read ? 0 : 1;
}

} // namespace

// Exit 0 after a dump (also "Not FAT" or no directory), 1 when the sector or
// the MFT record cannot be read or the source cannot be opened.
int cmdDump(Args& args) {
    const SourceOptions source = takeSourceOptions(args);
    if (args.size() != 3)
        throw UsageError();
    const std::string& what = args[1];
    if (what != "boot" && what != "fat" && what != "dir" && what != "table" && what != "mft")
        throw UsageError();
    SharedPtr<Driver> driver = openDriver(source, args[0]);
    if (what == "mft")
        return dumpMftRecord(driver, args[2]);
    const u32 lba = parseLba(args[2]);
    bool read = false;
    FatType type = FAT_NONE;
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
