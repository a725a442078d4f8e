// hbprobe scan | analyze: the scanner page's work and what the file-system page
// makes of it.
//
// scan: a deep scan of FIRST COUNT (with content carving); prints the six
// counters, the list sizes, the unreadable runs and one line per carved file;
// --recover DEST recovers the carved files.
//
// analyze: a scan of the whole source (or, with --load, a saved scan instead),
// then the candidate collection, the layout and the rebuilt sectors with their
// report; --save writes the scan. --choose N builds the tree of the layout's Nth
// file system ("found": of the carved files) and prints its report; --recover
// DEST selects and recovers all of it as the program's Recover command does,
// then prints the recover report, the split and error counts and, on standard
// error, the questions (answered by "--answer yes|no|all", No by default).

#include "analysis/Analyzer.h"
#include "analysis/DriveLayout.h"
#include "analysis/FsFilters.h"
#include "analysis/ScScanner.h"
#include "analysis/Serializer.h"
#include "analysis/Unserializer.h"
#include "cbr/CbrMapImpl.h"
#include "core/AppDirectory.h"
#include "core/Config.h"
#include "core/Preferences.h"
#include "devices/Driver.h"
#include "fs/StructureChecks.h"
#include "tests/probe/Probe.h"
#include "tests/probe/ProbeSource.h"
#include "tests/support/ScriptedMessages.h"
#include "tree/ParserRecover.h"
#include "tree/ParserReport.h"
#include "tree/ParserSelect.h"
#include "tree/RecovererCopyOff.h"

#include <array>
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

// The options both commands share, and the analyzer over the source.
struct Session {
    SourceOptions source;
    std::string destination;
    int answer = 1; // to every question: 0 Yes, 1 No, 0x10 Yes and don't ask again
    std::unique_ptr<testutil::ScriptedInterface> ui;
    std::unique_ptr<Analyzer> analyzer;

    explicit Session(Args& args) {
        source = takeSourceOptions(args);
        std::string text;
        if (takeOption(args, "--answer", text))
            answer = parseAnswer(text);
        takeOption(args, "--recover", destination);
    }

    // What the source page and the scanner page note of a newly chosen source.
    void open(const std::string& descriptor) {
        if (appDirectory().empty())
            setAppDirectory(HB_SOURCE_DIR "/lib");
        ui.reset(new testutil::ScriptedInterface(answer));
        analyzer.reset(new Analyzer(ui.get()));
        analyzer->getDriveHolder() = openDriver(source, descriptor);
        Attributes& properties = analyzer->getDrive()->getProperties();
        std::string type;
        getDescrValue(descriptor.c_str(), "type", type);
        setSourceKind(properties, type);
        properties.set(PROP_DESCRIPTION, descriptor);
        properties.set(PROP_DESCRIPTION_BIN, descriptor);
        analyzer->getScanRange().setDriveId(descriptor);
        analyzer->setHasScan(true);
    }

    // The deep scan, recorded as the scanner page records it.
    void scan(u64 first, u64 count, Counters& counters) {
        Analyzer& a = *analyzer;
        const u64 scanned = a.scan(first, count, &counters);
        a.getScanRange().setFirst(0);
        a.getScanRange().setSecond(first + scanned);
        a.setScanSaved(false);
        a.setDeepScanDone(true);
        std::cout << "scanned: " << scanned << '\n';
    }

    // The tree of the chosen entry (null: the carved files), reported, and
    // recovered when a destination was given.
    void tree(FsCandidate* entry, const std::string& name) {
        Analyzer& a = *analyzer;
        a.setSelectedEntry(entry);
        a.buildMap();
        if (!a.getMapHolder())
            throw Failure("no tree was built for " + name);
        std::cout << "--- tree " << name << " ---\n";
        tree::Map* map = a.getMapHolder().get();
        // The recovery's questions have their own script and are printed apart.
        testutil::ScriptedInterface asking(answer);
        FrTreeInterface* walkUi = destination.empty() ? ui.get() : &asking;
        tree::ParserReport(map, &std::cout, false, walkUi).run();
        if (destination.empty())
            return;
        tree::ParserSelect(map, "").run(tree::START_POSITION, true, walkUi);
        std::cout << "\n--- recover ---\n";
        const i64 limit = Preferences::instance().fileSizeLimit();
        u32 splitCount = 0;
        u32 errorCount = 0;
        {
            tree::RecovererCopyOff recoverer(destination, destination,
                                             limit > 0 ? static_cast<u64>(limit) : 0);
            tree::ParserRecover walk(map, &std::cout, &recoverer, walkUi);
            walk.run();
            splitCount = walk.getSplitCount();
            errorCount = walk.getErrorCount();
            // A volume left open by a failure is closed when the recoverer goes.
        }
        std::cout << "split files: " << splitCount << '\n'
                  << "files with errors: " << errorCount << '\n';
        for (const testutil::AskedBox& box : asking.asked())
            std::cerr << "question: " << escapeLines(box.text) << " [" << box.checkLabel << "]\n";
    }
};

// The six counters as the scanner page last showed them, what the lists hold,
// the unreadable runs and the carved files.
void printScan(const Analyzer& analyzer, const Counters& live) {
    using IC = InterfaceCallback;
    std::cout << "counters: partition-tables " << live.value(IC::FOUND_PARTITION_TABLES)
              << " boot-sectors " << live.value(IC::FOUND_BOOT_SECTORS) << " fats "
              << live.value(IC::FOUND_FATS) << " directories " << live.value(IC::FOUND_DIRECTORIES)
              << " ntfs-records " << live.value(IC::FOUND_NTFS_RECORDS) << " ntfs-files "
              << live.value(IC::FOUND_NTFS_FILES) << " cbr-files "
              << live.value(IC::FOUND_CBR_FILES) << '\n';
    const ScanResults& r = analyzer.getScanResults();
    std::cout << "lists: " << r.partitionTables.size() << ' ' << r.bootSectors.size() << ' '
              << r.fatSectors.size() << ' ' << r.directoryRuns.size() << ' '
              << r.ntfsSystemRecords.size() << ' ' << r.ntfsRecordRuns.size() << '\n';
    std::cout << "unreadable:";
    for (const SectorRun& run : r.unreadable.runs())
        std::cout << ' ' << run.start << '+' << run.count;
    std::cout << '\n';
    for (const cbr::FileInfo& file : analyzer.getCarvedFiles())
        std::cout << "carved: " << file.getStart() << ' ' << file.getSize() << ' ' << file.getType()
                  << ' ' << tree::cbr::MapImpl::fileName(file) << '\n';
}

void printAnalysis(Analyzer& analyzer) {
    Driver& driver = *analyzer.getDrive();
    std::cout << "--- collection ---\n";
    printFsCollection(std::cout, analyzer.getFsCollection(), driver);
    std::cout << "--- layout ---\n";
    printDriveLayout(std::cout, analyzer.getLayout());
    std::cout << "--- file systems ---\n";
    u32 i = 0;
    for (const FsCandidate& fs : analyzer.getLayout()) {
        if (isSelectedFileSystem(fs))
            std::cout << i++ << ": LBA " << fs.startLBA << " sectors " << fs.layoutSectors << ' '
                      << partitionTypeName(fs.fscode()) << '\n';
    }
    std::cout << "--- changes ---\n";
    for (const SectorChange& change : analyzer.getChanges())
        std::cout << change.lba << ' ' << change.description << '\n';
    std::cout << "--- report ---\n" << analyzer.getLayoutReport();
}

} // namespace

int cmdScan(Args& args) {
    Session session(args);
    if (args.size() != 3)
        throw UsageError();
    const u64 first = parseNumber(args[1]);
    const u64 count = parseNumber(args[2]);
    session.open(args[0]);
    Counters counters;
    session.scan(first, count, counters);
    printScan(*session.analyzer, counters);
    if (!session.destination.empty())
        session.tree(nullptr, "found");
    printMessages(session.ui->asked());
    return 0;
}

int cmdAnalyze(Args& args) {
    Session session(args);
    std::string load;
    std::string save;
    std::string choose;
    takeOption(args, "--load", load);
    takeOption(args, "--save", save);
    takeOption(args, "--choose", choose);
    if (args.size() != 1 || (!session.destination.empty() && choose.empty()))
        throw UsageError();
    session.open(args[0]);
    Analyzer& analyzer = *session.analyzer;

    Counters counters;
    if (!load.empty()) {
        if (!loadScan(load.c_str(), analyzer, session.ui.get()))
            throw Failure("cannot load the scan " + load);
        // The page shows the counts of a loaded scan as a scan would have left them.
        UsesInterfaceCallback page;
        page.setInterfaceCallback(&counters);
        ScScanner::reportTotals(&analyzer.getScanResults(), &page);
        counters.setPosition(InterfaceCallback::FOUND_CBR_FILES, analyzer.getCarvedFiles().size());
        const ScanRange& range = analyzer.getScanRange();
        std::cout << "loaded: " << range.getFirst() << ' ' << range.getSecond() << '\n';
    } else {
        session.scan(0, analyzer.getDrive()->getSectorCount(), counters);
    }
    printScan(analyzer, counters);
    analyzer.createFSCollection();
    printAnalysis(analyzer);

    if (!save.empty() && !saveScan(save.c_str(), analyzer, session.ui.get()))
        throw Failure("cannot save the scan " + save);
    if (choose == "found") {
        session.tree(nullptr, choose);
    } else if (!choose.empty()) {
        FsCandidate* fs =
            getSelectedFileSystem(analyzer.getLayout(), static_cast<u32>(parseNumber(choose)));
        if (fs == nullptr)
            throw Failure("no file system " + choose + " in the layout");
        session.tree(fs, choose);
    }
    printMessages(session.ui->asked());
    return 0;
}

} // namespace probe
