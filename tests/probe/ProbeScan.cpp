// hbprobe scan: scans a sector range of a source as the scanner page does (a
// deep scan with content carving, or with --quick the quick scan of the volume
// whose boot sector lies at FIRST), builds the candidates and the layout, and
// prints the counters, the candidates, the layout with its rebuilt sectors and
// the carved files. --load reads a saved scan first (COUNT 0 then scans
// nothing), --save writes the scan afterwards. --recover builds the tree of a
// file system of the layout (by its row, as the file-system page lists them) or
// of the carved files ("found") and recovers it into DEST.
//
// The time the scan took goes to standard error as "speed: ... MB/s".

#include "analysis/Analyzer.h"
#include "analysis/DriveLayout.h"
#include "analysis/FsFilters.h"
#include "analysis/ScScanner.h"
#include "analysis/Serializer.h"
#include "analysis/Unserializer.h"
#include "cbr/CbrMapImpl.h"
#include "core/AppDirectory.h"
#include "devices/Driver.h"
#include "fs/StructureChecks.h"
#include "tests/probe/Probe.h"
#include "tests/probe/ProbeRecover.h"
#include "tests/probe/ProbeSource.h"
#include "tests/support/ScriptedMessages.h"

#include <array>
#include <chrono>
#include <iostream>
#include <string>

namespace probe {

namespace {

// Keeps the last value of each scan counter, as the page's counters show them.
class Counters : public ProgressBoxIC {
public:
    void setPosition(u64 mode, u64 value) override {
        if (mode < values_.size())
            values_[mode] = value;
    }
    u64 value(u64 mode) const { return values_[mode]; }

private:
    std::array<u64, InterfaceCallback::FOUND_CBR_FILES + 1> values_{};
};

struct ScanOptions {
    SourceOptions source;
    bool quick = false;
    std::string load;
    std::string save;
    std::string recover; // empty: nothing is recovered
};

ScanOptions takeScanOptions(Args& args) {
    ScanOptions options;
    options.source = takeSourceOptions(args);
    options.quick = takeFlag(args, "--quick");
    takeOption(args, "--load", options.load);
    takeOption(args, "--save", options.save);
    takeOption(args, "--recover", options.recover);
    return options;
}

// What the scan found, live, and what the scan results hold now: after a load or
// a later scan the two may differ, and the page shows the second.
void printCounters(const Analyzer& analyzer, const Counters& live) {
    const ScanResults& r = analyzer.getScanResults();
    std::cout << "counters:"
              << " partition-tables " << r.partitionTables.size() << " boot-sectors "
              << r.bootSectors.size() << " fats " << r.fatSectors.size() << " directories "
              << r.directoryRuns.size() << " ntfs-files " << ScScanner::reportTotals(&r, nullptr)
              << " (" << r.ntfsSystemRecords.size() << ")"
              << " cbr-files " << analyzer.getCarvedFiles().size() << '\n';
    std::cout << "live counters:"
              << " partition-tables " << live.value(InterfaceCallback::FOUND_PARTITION_TABLES)
              << " boot-sectors " << live.value(InterfaceCallback::FOUND_BOOT_SECTORS) << " fats "
              << live.value(InterfaceCallback::FOUND_FATS) << " ntfs-files "
              << live.value(InterfaceCallback::FOUND_NTFS_FILES) << " cbr-files "
              << live.value(InterfaceCallback::FOUND_CBR_FILES) << '\n';
    std::cout << "unreadable:";
    for (const SectorRun& run : r.unreadable.runs())
        std::cout << ' ' << run.start << '+' << run.count;
    std::cout << '\n';
}

void printAnalysis(Analyzer& analyzer) {
    Driver& driver = *analyzer.getDrive();
    std::cout << "--- candidates ---\n";
    printFsCollection(std::cout, analyzer.getFsCollection(), driver);
    std::cout << "--- layout ---\n";
    printDriveLayout(std::cout, analyzer.getLayout());
    std::cout << "--- file systems ---\n";
    for (u32 i = 0;; ++i) {
        const FsCandidate* fs = getSelectedFileSystem(analyzer.getLayout(), i);
        if (fs == nullptr)
            break;
        std::cout << i << ": LBA " << fs->startLBA << " sectors " << fs->layoutSectors << ' '
                  << partitionTypeName(fs->fscode()) << '\n';
    }
    std::cout << "--- changes ---\n";
    for (const SectorChange& change : analyzer.getChanges())
        std::cout << change.lba << ' ' << change.description << '\n';
    std::cout << "--- carved files ---\n";
    for (const cbr::FileInfo& file : analyzer.getCarvedFiles())
        std::cout << file.getStart() << ' ' << file.getSize() << ' ' << file.getType() << ' '
                  << tree::cbr::MapImpl::fileName(file) << '\n';
}

// Reads the boot sector at `first` and quick-scans its volume.
void runQuickScan(Analyzer& analyzer, u64 first, Counters& counters) {
    bool isFat = false;
    FAT_FS_PARAMS fat;
    NTFS_FS_PARAMS ntfs;
    if (!analyzer.readBootSectorParams(first, &isFat, &fat, &ntfs))
        throw Failure("no FAT or NTFS boot sector at " + std::to_string(first));
    analyzer.quickScan(first, isFat, &fat, &ntfs, &counters);
    analyzer.getScanRange().setFirst(first);
    analyzer.getScanRange().setSecond(0);
    analyzer.setDeepScanDone(false);
}

u64 runDeepScan(Analyzer& analyzer, u64 first, u64 count, Counters& counters) {
    const u64 scanned = analyzer.scan(first, count, &counters);
    analyzer.getScanRange().setFirst(0);
    analyzer.getScanRange().setSecond(first + scanned);
    analyzer.setScanSaved(false);
    analyzer.setDeepScanDone(true);
    return scanned;
}

void recover(Analyzer& analyzer, const std::string& what, const RecoverOptions& options) {
    if (what == "found") {
        analyzer.setSelectedEntry(nullptr);
    } else {
        FsCandidate* fs =
            getSelectedFileSystem(analyzer.getLayout(), static_cast<u32>(parseNumber(what)));
        if (fs == nullptr)
            throw Failure("no file system " + what + " in the layout");
        analyzer.setSelectedEntry(fs);
    }
    analyzer.buildMap();
    if (!analyzer.getMapHolder())
        throw Failure("no tree was built for " + what);
    std::cout << "--- tree " << what << " ---\n";
    recoverAndReport(*analyzer.getMapHolder(), options);
}

} // namespace

int cmdScan(Args& args) {
    const ScanOptions options = takeScanOptions(args);
    RecoverOptions recoverOptions = takeRecoverOptions(args);
    if (args.size() != (options.recover.empty() ? 3u : 4u))
        throw UsageError();
    const u64 first = parseNumber(args[1]);
    const u64 count = parseNumber(args[2]);
    if (!options.recover.empty())
        recoverOptions.destination = args[3];

    if (appDirectory().empty())
        setAppDirectory(HB_SOURCE_DIR "/lib");
    testutil::ScriptedInterface ui(recoverOptions.answer);
    Analyzer analyzer(&ui);
    analyzer.getDriveHolder() = openDriver(options.source, args[0]);
    // What the source page and the scanner page note of a newly chosen source.
    Attributes& properties = analyzer.getDrive()->getProperties();
    properties.set(PROP_DESCRIPTION, args[0]);
    properties.set(PROP_DESCRIPTION_BIN, args[0]);
    analyzer.getScanRange().setDriveId(args[0]);
    analyzer.setHasScan(true);

    if (!options.load.empty() && !loadScan(options.load.c_str(), analyzer, &ui))
        throw Failure("cannot load the scan " + options.load);

    Counters counters;
    u64 scanned = 0;
    const auto started = std::chrono::steady_clock::now();
    if (options.quick)
        runQuickScan(analyzer, first, counters);
    else if (count != 0)
        scanned = runDeepScan(analyzer, first, count, counters);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (scanned != 0)
        std::cerr << "speed: " << (scanned * 512 / 1e6) / seconds << " MB/s (" << scanned * 512
                  << " bytes in " << seconds << " s)\n";

    analyzer.createFSCollection();
    std::cout << "scanned: " << scanned << '\n';
    printCounters(analyzer, counters);
    printAnalysis(analyzer);

    if (!options.save.empty() && !saveScan(options.save.c_str(), analyzer, &ui))
        throw Failure("cannot save the scan " + options.save);
    if (!options.recover.empty())
        recover(analyzer, options.recover, recoverOptions);
    for (const testutil::AskedBox& box : ui.asked())
        std::cerr << "message: " << escapeLines(box.text) << '\n';
    return 0;
}

} // namespace probe
