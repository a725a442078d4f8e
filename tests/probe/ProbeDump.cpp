// hbprobe dump: the structure view's text of one sector of a source (a partition
// table, a boot sector, a FAT sector or a directory from that sector on).

#include "fs/StructureDumps.h"
#include "tests/probe/Probe.h"
#include "tests/probe/ProbeSource.h"

#include <iostream>
#include <string>

namespace probe {

namespace {

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

// Exit 0 after a dump (also "Not FAT" or no directory), 1 when the sector
// cannot be read or the source cannot be opened.
int cmdDump(Args& args) {
    const SourceOptions source = takeSourceOptions(args);
    std::string bits;
    const bool hasType = takeOption(args, "--type", bits);
    if (args.size() != 3)
        throw UsageError();
    const std::string& what = args[1];
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
