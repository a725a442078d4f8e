#pragma once

// The wizard's second page: scanning the chosen source. It shows the source,
// the range to scan (Starting LBA and Sectors, under "_Advanced") and six live
// counters of the finds, and offers to clear the scan results and to load a
// saved scan. Next scans quickly when a FAT or NTFS boot sector starts the
// range (the user chooses), deeply otherwise, then builds the candidates and
// the layout, and moves on only when a file system or a carved file was found.
// Whenever the page is left with a scan that is not saved, saving it is
// offered.
//
// The page is the progress sink of the scans: the counters follow what the
// analyzer reports, everything else goes on to the progress box of the scan.

#include "core/Progress.h"
#include "core/Types.h"
#include "gui/WizardPage.h"

#include <gtk/gtk.h>

#include <memory>

class Analyzer;
class DriveDescr;
class GuiContext;

namespace gtk {

class WizardPageScanner : public WizardPage, public ProgressBoxIC {
public:
    // The page's own responses.
    static constexpr int RESPONSE_LOAD_SCAN = 100;
    static constexpr int RESPONSE_CLEAR_SCAN = 101;
    // The answers of selectScanType.
    enum ScanType { SCAN_NONE = 0, SCAN_QUICK = 1, SCAN_DEEP = 2 };
    // The counters, in the order they stand on the page.
    enum Counter {
        COUNTER_PARTITION_TABLES = 0,
        COUNTER_BOOT_SECTORS,
        COUNTER_FATS,
        COUNTER_DIRECTORIES,
        COUNTER_NTFS_FILES,
        COUNTER_CBR_FILES,
        COUNTER_COUNT
    };

    // Neither is owned; both outlive the page.
    WizardPageScanner(Wizard* wizard, Analyzer* analyzer, GuiContext* context);
    ~WizardPageScanner() override;

    int run() override;

    // The progress sink.
    void poll() override;
    void setText(u64 kind, const std::string& text) override;
    void setPosition(u64 kind, u64 value) override;

    // The Select Scan Type dialog: SCAN_QUICK, SCAN_DEEP, or SCAN_NONE for
    // anything else.
    static int selectScanType(GtkWindow* parent);

    // The steps of run, each usable on its own while the page is shown.
    // Builds the page's widgets and takes the source's id for the scan range
    // when the range belongs to no source yet.
    void buildPage();
    // Proposes the range after the last scan and refills the counters from the
    // scan results.
    void proposeRange();
    // What a response does; true when it leaves the page.
    bool handleResponse(int response);
    // Next: scans the range in the fields and builds the candidates; true when
    // something usable was found.
    bool scanAndAnalyze();
    // Offers to save an unsaved scan and takes the page's buttons away.
    void leavePage();

    // The page's widgets while it is shown (null otherwise).
    GtkSpinButton* getStartField() const { return startLba_; }
    GtkSpinButton* getSectorsField() const { return sectors_; }
    GtkEntry* getCounter(int counter) const { return counters_[counter]; }
    GtkWidget* getExpander() const { return expander_; }
    // The progress box of the scan that runs, null between scans.
    ProgressBoxIC* getProgressBox() const { return progress_.get(); }
    // Whether the page waits in the wizard's loop for the user's answer.
    bool isAwaitingResponse() const { return awaiting_; }

private:
    void forgetWidgets();
    void setCounter(int counter, u64 value);
    void showNtfsCounter();
    u64 sectorCount() const;
    // The fields' range, cut to the source.
    void readRange(u64& start, u64& count);

    Analyzer* analyzer_;
    GuiContext* context_;
    DriveDescr* driveDescr_;
    GtkSpinButton* startLba_ = nullptr;
    GtkSpinButton* sectors_ = nullptr;
    GtkEntry* counters_[COUNTER_COUNT] = {};
    GtkWidget* expander_ = nullptr;
    u64 ntfsRecordTotal_ = 0;
    std::unique_ptr<ProgressBoxIC> progress_;
    bool awaiting_ = false;
};

} // namespace gtk
