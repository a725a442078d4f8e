// hbprobe tree | recover: the tree of the FAT or NTFS file system whose boot
// sector lies at FIRST_SECTOR, built as the program builds the tree of a chosen
// file system, then reported (and selected and recovered).

#include "analysis/MapInterface.h"
#include "fs/Params.h"
#include "tests/probe/Probe.h"
#include "tests/probe/ProbeRecover.h"
#include "tests/probe/ProbeSource.h"
#include "tests/support/ScriptedMessages.h"
#include "tree/ParserReport.h"

#include <iostream>
#include <vector>

namespace probe {

namespace {

// DESCRIPTOR fat|ntfs FIRST_SECTOR: the parameters of that boot sector.
FsParams readParams(Driver& driver, const std::string& kind, const std::string& lbaText) {
    const u32 lba = parseLba(lbaText);
    if (kind != "fat" && kind != "ntfs")
        throw UsageError();
    std::vector<u8> sector(512);
    if (!driver.readSectors(lba, 1, sector.data()))
        throw Failure("cannot read the boot sector at " + lbaText);
    FsParams fs;
    fs.kind = kind == "fat" ? FS_FAT : FS_NTFS;
    if (fs.kind == FS_FAT
            ? !fatFsParamsFromBootSector(lba, sector.data(), fs.fat, driver.getSectorCount())
            : !ntfsFsParamsFromBootSector(lba, sector.data(), fs.ntfs, driver.getSectorCount()))
        throw Failure("no " + std::string(fs.kind == FS_FAT ? "FAT" : "NTFS") + " boot sector at " +
                      lbaText);
    return fs;
}

// DESCRIPTOR fat|ntfs FIRST_SECTOR and `more` arguments: the tree, with the
// boxes its building asked on standard error.
SharedPtr<tree::Map> buildTree(Args& args, std::size_t more) {
    const SourceOptions source = takeSourceOptions(args);
    if (args.size() != 3 + more)
        throw UsageError();
    SharedPtr<Driver> driver = openDriver(source, args[0]);
    const FsParams fs = readParams(*driver, args[1], args[2]);
    testutil::ScriptedInterface ui(1);
    // The tree keeps what it is given for its life.
    static const ScanResults none;
    SharedPtr<tree::Map> map;
    MapInterface::buildMap(map, driver, fs, none, true, &ui);
    printMessages(ui.asked());
    if (!map)
        throw Failure("no tree was built");
    return map;
}

} // namespace

int cmdTree(Args& args) {
    SharedPtr<tree::Map> map = buildTree(args, 0);
    testutil::ScriptedInterface ui(1);
    tree::ParserReport(map.get(), &std::cout, false, &ui).run();
    return 0;
}

int cmdRecover(Args& args) {
    RecoverOptions options = takeRecoverOptions(args);
    SharedPtr<tree::Map> map = buildTree(args, 1);
    options.destination = args[3];
    return recoverAndReport(*map, options);
}

} // namespace probe
