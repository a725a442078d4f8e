// hbprobe tree | recover: the tree of the FAT or NTFS file system whose boot
// sector lies at FIRST_SECTOR, built as the program builds the tree of a chosen
// file system, then reported (and selected and recovered).

#include "analysis/MapInterface.h"
#include "fs/Params.h"
#include "tests/probe/Probe.h"
#include "tests/probe/ProbeRecover.h"
#include "tests/probe/ProbeSource.h"
#include "tests/support/ScriptedMessages.h"
#include "tree/FilterMask.h"
#include "tree/ParserFilter.h"
#include "tree/ParserReport.h"

#include <iostream>
#include <vector>

namespace probe {

namespace {

struct EngineOptions {
    SourceOptions source;
    bool analyzeFats = true;
    bool addressMode = false;
    bool hideDeleted = false;
    // FIRST_SECTOR is the NTFS backup boot sector, the volume's last sector.
    bool backup = false;
};

EngineOptions takeEngineOptions(Args& args) {
    EngineOptions options;
    options.source = takeSourceOptions(args);
    options.analyzeFats = !takeFlag(args, "--no-analyze-fats");
    options.addressMode = takeFlag(args, "--address");
    options.hideDeleted = takeFlag(args, "--hide-deleted");
    options.backup = takeFlag(args, "--backup");
    return options;
}

// DESCRIPTOR fat|ntfs FIRST_SECTOR: the parameters of that boot sector. With
// `backup` (NTFS only) the sector is the copy that NTFS keeps in the volume's
// last sector, and the volume starts its total sectors before it.
FsParams readParams(Driver& driver, const std::string& kind, const std::string& lbaText,
                    bool backup) {
    u64 lba = parseNumber(lbaText);
    if (kind != "fat" && kind != "ntfs")
        throw UsageError();
    if (backup && kind != "ntfs")
        throw UsageError();
    if (lba > 0xFFFFFFFFull)
        throw Failure("LBA " + lbaText + " passes 2^32 - 1");
    std::vector<u8> sector(512);
    if (!driver.readSectors(lba, 1, sector.data()))
        throw Failure("cannot read the boot sector at " + lbaText);
    if (backup) {
        NtfsBootParams boot;
        if (!readNtfsBootParams(sector.data(), boot))
            throw Failure("no NTFS boot sector at " + lbaText);
        if (boot.totalSectors > lba)
            throw Failure("the backup boot sector at " + lbaText + " names " +
                          std::to_string(boot.totalSectors) + " sectors before it");
        lba -= boot.totalSectors;
    }
    FsParams fs;
    if (kind == "fat") {
        if (!fatFsParamsFromBootSector(static_cast<u32>(lba), sector.data(), fs.fat,
                                       driver.getSectorCount()))
            throw Failure("no FAT boot sector at " + lbaText);
        fs.kind = FS_FAT;
    } else {
        if (!ntfsFsParamsFromBootSector(static_cast<u32>(lba), sector.data(), fs.ntfs,
                                        driver.getSectorCount()))
            throw Failure("no NTFS boot sector for the volume at " + std::to_string(lba));
        fs.kind = FS_NTFS;
    }
    return fs;
}

SharedPtr<tree::Map> buildTree(const EngineOptions& options, const Args& args,
                               const ScanResults& results) {
    SharedPtr<Driver> driver = openDriver(options.source, args[0]);
    const FsParams fs = readParams(*driver, args[1], args[2], options.backup);
    testutil::ScriptedInterface ui(1);
    SharedPtr<tree::Map> map;
    MapInterface::buildMap(map, driver, fs, results, options.analyzeFats, &ui);
    for (const testutil::AskedBox& box : ui.asked())
        std::cerr << "message: " << escapeLines(box.text) << '\n';
    if (!map)
        throw Failure("no tree was built");
    if (options.hideDeleted) {
        tree::ParserFilter filter(map.get(), tree::FILTER_HIDE_DELETED);
        filter.run(&ui);
    }
    return map;
}

} // namespace

int cmdTree(Args& args) {
    const EngineOptions options = takeEngineOptions(args);
    if (args.size() != 3)
        throw UsageError();
    ScanResults results;
    SharedPtr<tree::Map> map = buildTree(options, args, results);
    testutil::ScriptedInterface ui(1);
    tree::ParserReport report(map.get(), &std::cout, options.addressMode, &ui);
    report.run();
    return 0;
}

int cmdRecover(Args& args) {
    const EngineOptions engine = takeEngineOptions(args);
    RecoverOptions options = takeRecoverOptions(args);
    if (args.size() != 4)
        throw UsageError();
    options.destination = args[3];
    ScanResults results;
    SharedPtr<tree::Map> map = buildTree(engine, args, results);
    return recoverAndReport(*map, options);
}

} // namespace probe
