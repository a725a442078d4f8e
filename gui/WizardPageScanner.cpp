#include "gui/WizardPageScanner.h"

#include "analysis/Analyzer.h"
#include "analysis/ScScanner.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/UserInterface.h"
#include "devices/Driver.h"
#include "fs/FsCandidate.h"
#include "gui/GuiContext.h"
#include "gui/Interface.h"
#include "gui/ProgressBox.h"
#include "gui/ResizableLabel.h"
#include "gui/ResponseButton.h"
#include "gui/ScanFiles.h"
#include "gui/TreeViewWidgets.h"

#include <string>

namespace gtk {

namespace {

constexpr u64 SECTOR_BYTES = 512;
constexpr int PROGRESS_WIDTH = 600;
constexpr int SCAN_TYPE_LABEL_WIDTH = 500;
constexpr int SCAN_TYPE_LABEL_START_WIDTH = 100;

// The captions of the counters, in counter order: two rows of three.
const char* const COUNTER_CAPTIONS[WizardPageScanner::COUNTER_COUNT] = {
    N_("Partition tables"), N_("Boot sectors"), N_("FATs"),
    N_("Directories"),      N_("NTFS Files"),   N_("CBR Files")};

// Reports the counters of the existing results through the page's own sink.
class CounterReporter : public UsesInterfaceCallback {
public:
    explicit CounterReporter(InterfaceCallback* sink) { setInterfaceCallback(sink); }
};

// The widest figures a counter is sized for: a five-digit count, and the NTFS
// files with their system records (three of each volume: a thousand is more
// than any disk holds).
const char* const COUNTER_FIGURES = "00000";
const char* const NTFS_COUNTER_FIGURES = "00000 (000)";

// A counter: a read-only entry whose figures stay black, not greyed out, as
// wide as `figures` and its frame. (A width in characters would be sized by
// the font's widest characters, not its digits.)
GtkEntry* newCounter(const char* figures) {
    GtkWidget* entry = gtk_entry_new();
    gtk_widget_set_sensitive(entry, FALSE);
    gtk_entry_set_width_chars(GTK_ENTRY(entry), 0);
    GtkRequisition frame;
    gtk_widget_size_request(entry, &frame);
    PangoLayout* layout = gtk_widget_create_pango_layout(entry, figures);
    int width = 0;
    pango_layout_get_pixel_size(layout, &width, nullptr);
    g_object_unref(layout);
    gtk_widget_set_size_request(entry, frame.width + width, -1);
    GdkColor black = {0, 0, 0, 0};
    gtk_widget_modify_text(entry, GTK_STATE_INSENSITIVE, &black);
    return GTK_ENTRY(entry);
}

GtkSpinButton* newRangeField(u64 sectorCount) {
    GtkWidget* spin = gtk_spin_button_new_with_range(0, static_cast<gdouble>(sectorCount), 1);
    gtk_spin_button_set_digits(GTK_SPIN_BUTTON(spin), 0);
    gtk_entry_set_activates_default(GTK_ENTRY(spin), TRUE);
    return GTK_SPIN_BUTTON(spin);
}

u64 fieldValue(GtkSpinButton* field) {
    // Text typed and not yet confirmed counts too.
    gtk_spin_button_update(field);
    const gdouble value = gtk_spin_button_get_value(field);
    return value <= 0 ? 0 : static_cast<u64>(value);
}

// The progress box goes when the scan ends, also when an exception leaves it.
class ProgressReset {
public:
    explicit ProgressReset(std::unique_ptr<ProgressBoxIC>& box) : box_(box) {}
    ~ProgressReset() { box_.reset(); }
    ProgressReset(const ProgressReset&) = delete;
    ProgressReset& operator=(const ProgressReset&) = delete;

private:
    std::unique_ptr<ProgressBoxIC>& box_;
};

} // namespace

WizardPageScanner::WizardPageScanner(Wizard* wizard, Analyzer* analyzer, GuiContext* context)
    : WizardPage(wizard, _("Scan"), true), analyzer_(analyzer), context_(context),
      driveDescr_(&analyzer->getDriveDescr()) {}

WizardPageScanner::~WizardPageScanner() = default;

u64 WizardPageScanner::sectorCount() const {
    return driveDescr_->getDrive()->getSectorCount();
}

void WizardPageScanner::buildPage() {
    std::string text = _("Scan Source that has the data you want to recover.");
    text += _(" Press F1 for more Help.");
    showPage(text.c_str());
    Wizard* wizard = getWizard();
    wizard->setHelpTopic("WizardPageScanner");
    GtkBox* pageBox = wizard->getPageBox();
    const u64 sectors = sectorCount();
    Driver* driver = driveDescr_->getDrive();

    GtkWidget* frame = gtk_frame_new(_("Source"));
    GtkWidget* frameBox = gtk_vbox_new(FALSE, 0);
    gtk_container_set_border_width(GTK_CONTAINER(frameBox), 8);
    const std::string description = driver->getProperties().get(PROP_DESCRIPTION, "");
    gtk_box_pack_start(
        GTK_BOX(frameBox),
        Wizard::makeDescriptionView(GTK_WIDGET(wizard->getDialog()), description.c_str()), TRUE,
        TRUE, 0);
    gtk_container_add(GTK_CONTAINER(frame), frameBox);
    gtk_box_pack_start(pageBox, frame, FALSE, TRUE, 0);

    expander_ = gtk_expander_new_with_mnemonic(_("_Advanced"));
    gtk_expander_set_expanded(GTK_EXPANDER(expander_), FALSE);
    gtk_box_pack_start(pageBox, expander_, FALSE, TRUE, 8);
    GtkWidget* advanced = gtk_vbox_new(FALSE, 8);
    gtk_container_add(GTK_CONTAINER(expander_), advanced);

    GtkWidget* rangeRow = gtk_hbox_new(FALSE, 4);
    startLba_ = newRangeField(sectors);
    sectors_ = newRangeField(sectors);
    GtkWidget* startLabel = newFormLabel(_("Starting LBA"));
    gtk_label_set_mnemonic_widget(GTK_LABEL(startLabel), GTK_WIDGET(startLba_));
    GtkWidget* sectorsLabel = newFormLabel(_("Sectors"));
    gtk_label_set_mnemonic_widget(GTK_LABEL(sectorsLabel), GTK_WIDGET(sectors_));
    gtk_box_pack_start(GTK_BOX(rangeRow), startLabel, FALSE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(rangeRow), GTK_WIDGET(startLba_), TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(rangeRow), gtk_label_new(""), FALSE, TRUE, 8);
    gtk_box_pack_start(GTK_BOX(rangeRow), sectorsLabel, FALSE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(rangeRow), GTK_WIDGET(sectors_), TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(advanced), rangeRow, FALSE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(advanced), gtk_hseparator_new(), FALSE, TRUE, 0);

    // Two rows of three captioned counters. Each row shares out its own width,
    // not columns common to both: with the long captions of some languages a
    // common column left the NTFS counter too narrow for its figures.
    GtkWidget* rows = gtk_vbox_new(FALSE, 8);
    GtkWidget* row = nullptr;
    for (int i = 0; i < COUNTER_COUNT; ++i) {
        if (i % 3 == 0) {
            row = gtk_hbox_new(FALSE, 8);
            gtk_box_pack_start(GTK_BOX(rows), row, FALSE, TRUE, 0);
        }
        counters_[i] = newCounter(i == COUNTER_NTFS_FILES ? NTFS_COUNTER_FIGURES : COUNTER_FIGURES);
        GtkWidget* label = newFormLabel(_(COUNTER_CAPTIONS[i]));
        gtk_label_set_mnemonic_widget(GTK_LABEL(label), GTK_WIDGET(counters_[i]));
        GtkWidget* pair = gtk_hbox_new(FALSE, 4);
        gtk_box_pack_start(GTK_BOX(pair), label, FALSE, TRUE, 0);
        gtk_box_pack_start(GTK_BOX(pair), GTK_WIDGET(counters_[i]), TRUE, TRUE, 0);
        gtk_box_pack_start(GTK_BOX(row), pair, TRUE, TRUE, 0);
    }
    gtk_box_pack_start(GTK_BOX(advanced), rows, FALSE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(advanced), gtk_hseparator_new(), FALSE, TRUE, 0);

    GtkWidget* clearRow = gtk_hbox_new(FALSE, 0);
    GtkWidget* clear = gtk_button_new_with_mnemonic(_("_Clear Scan Results"));
    ResponseButton(wizard->getDialog(), RESPONSE_CLEAR_SCAN).connect(clear);
    gtk_box_pack_start(GTK_BOX(clearRow), clear, FALSE, FALSE, 0);
    gtk_box_pack_start(pageBox, clearRow, FALSE, TRUE, 0);
    gtk_widget_show_all(GTK_WIDGET(pageBox));

    beginExtraButtons();
    addExtraButton(_("_Load Scan"), RESPONSE_LOAD_SCAN);

    if (!driveDescr_->hasScan()) {
        ScanRange& range = driveDescr_->getScanRange();
        range.setDriveId(driver->getProperties().get(PROP_DESCRIPTION_BIN, ""));
        range.setFirst(0);
        range.setSecond(0);
        driveDescr_->setHasScan(true);
    }
}

void WizardPageScanner::proposeRange() {
    const u64 sectors = sectorCount();
    const ScanRange& range = driveDescr_->getScanRange();
    // A loaded scan may carry any numbers: the sum must not wrap to a small
    // start.
    u64 start = range.getFirst() + range.getSecond();
    if (start < range.getFirst() || start > sectors)
        start = sectors;
    gtk_spin_button_set_value(startLba_, static_cast<gdouble>(start));
    gtk_spin_button_set_value(sectors_, static_cast<gdouble>(sectors - start));

    CounterReporter reporter(this);
    ScScanner::reportTotals(&driveDescr_->getScanResults(), &reporter);
    reporter.setPosition(FOUND_CBR_FILES, driveDescr_->getCarvedFiles().size());
}

void WizardPageScanner::readRange(u64& start, u64& count) {
    const u64 sectors = sectorCount();
    start = fieldValue(startLba_);
    if (start > sectors) {
        start = sectors;
        gtk_spin_button_set_value(startLba_, static_cast<gdouble>(start));
    }
    count = fieldValue(sectors_);
    if (count > sectors - start) {
        count = sectors - start;
        gtk_spin_button_set_value(sectors_, static_cast<gdouble>(count));
    }
}

bool WizardPageScanner::scanAndAnalyze() {
    u64 start = 0;
    u64 count = 0;
    readRange(start, count);
    Wizard* wizard = getWizard();

    if (count != 0) {
        int type = SCAN_DEEP;
        bool isFat = false;
        FAT_FS_PARAMS fat;
        NTFS_FS_PARAMS ntfs;
        if (analyzer_->readBootSectorParams(start, &isFat, &fat, &ntfs)) {
            type = selectScanType(wizard->getWindow());
            if (type == SCAN_NONE)
                return false;
        }

        gtk::Interface* interface = context_->getInterface();
        GtkWindow* parent = interface ? interface->getParentWindow() : wizard->getWindow();
        // The bar and the time remaining measure this scan, from its first
        // sector, not the part of the source before it.
        ProgressReset reset(progress_);
        progress_ =
            std::make_unique<ProgressBox>(parent, ProgressBox::MODE_PERCENT, count * SECTOR_BYTES,
                                          start * SECTOR_BYTES, PROGRESS_WIDTH);
        progress_->setText(TEXT_TITLE, _("Scanning Source"));

        ScanRange& range = driveDescr_->getScanRange();
        if (type == SCAN_QUICK) {
            analyzer_->quickScan(start, isFat, &fat, &ntfs, this);
            range.setFirst(start);
            range.setSecond(0);
            analyzer_->setDeepScanDone(false);
        } else {
            const u64 scanned = analyzer_->scan(start, count, this);
            range.setFirst(0);
            range.setSecond(start + scanned);
            driveDescr_->setScanSaved(false);
            analyzer_->setDeepScanDone(true);
        }
    }

    try {
        analyzer_->createFSCollection();
    } catch (const InterruptedException&) {
        // Cancelling the analysis keeps the user on the page with the scan as
        // it is; Next analyses it again.
        logAt("WizardPageScanner", 244) << ": "
                                        << "analysis cancelled" << '\n';
        return false;
    }
    if (driveDescr_->getCarvedFiles().empty() &&
        getSelectedFileSystem(driveDescr_->getLayout(), 0) == nullptr) {
        messageDialog(MESSAGE_INFO_CLOSE, _("No valid file system was found during the scan."),
                      wizard->getWindow(), false, nullptr);
        return false;
    }
    return true;
}

bool WizardPageScanner::handleResponse(int response) {
    switch (response) {
    case GTK_RESPONSE_ACCEPT:
        return scanAndAnalyze();
    case RESPONSE_CLEAR_SCAN:
        driveDescr_->reset();
        driveDescr_->getScanRange().setFirst(0);
        driveDescr_->getScanRange().setSecond(0);
        driveDescr_->setHasScan(true);
        return false;
    case RESPONSE_LOAD_SCAN:
        openScanWithDialog(context_, *driveDescr_);
        return false;
    default:
        return true;
    }
}

void WizardPageScanner::leavePage() {
    if (!driveDescr_->isScanSaved())
        saveScanWithPrompt(context_, *driveDescr_, true);
    endExtraButtons();
    forgetWidgets();
    finishPage();
}

void WizardPageScanner::forgetWidgets() {
    // The wizard destroys them with the next page.
    startLba_ = nullptr;
    sectors_ = nullptr;
    for (GtkEntry*& counter : counters_)
        counter = nullptr;
    expander_ = nullptr;
}

int WizardPageScanner::run() {
    buildPage();
    int response = GTK_RESPONSE_CLOSE;
    try {
        for (;;) {
            proposeRange();
            awaiting_ = true;
            response = getWizard()->run();
            awaiting_ = false;
            if (handleResponse(response))
                break;
        }
    } catch (...) {
        // A broken invariant of the analysis goes on to the command guard; the
        // page's buttons go first, the widgets with the wizard.
        awaiting_ = false;
        endExtraButtons();
        forgetWidgets();
        throw;
    }
    leavePage();
    return response;
}

void WizardPageScanner::poll() {
    if (progress_)
        progress_->poll();
}

void WizardPageScanner::setText(u64 kind, const std::string& text) {
    if (progress_)
        progress_->setText(kind, text);
}

void WizardPageScanner::setCounter(int counter, u64 value) {
    if (counters_[counter])
        gtk_entry_set_text(counters_[counter], std::to_string(value).c_str());
}

void WizardPageScanner::showNtfsCounter() {
    if (!counters_[COUNTER_NTFS_FILES])
        return;
    const std::string text =
        std::to_string(ntfsRecordTotal_) + " (" +
        std::to_string(driveDescr_->getScanResults().ntfsSystemRecords.size()) + ")";
    gtk_entry_set_text(counters_[COUNTER_NTFS_FILES], text.c_str());
}

void WizardPageScanner::setPosition(u64 kind, u64 value) {
    switch (kind) {
    case POSITION_SET:
        if (startLba_)
            gtk_spin_button_set_value(startLba_, static_cast<gdouble>(value));
        if (progress_)
            progress_->setPosition(POSITION_SET, value * SECTOR_BYTES);
        return;
    case FOUND_PARTITION_TABLES:
        setCounter(COUNTER_PARTITION_TABLES, value);
        return;
    case FOUND_BOOT_SECTORS:
        setCounter(COUNTER_BOOT_SECTORS, value);
        return;
    case FOUND_FATS:
        setCounter(COUNTER_FATS, value);
        return;
    case FOUND_DIRECTORIES:
        setCounter(COUNTER_DIRECTORIES, value);
        return;
    case FOUND_NTFS_FILES:
        ntfsRecordTotal_ = value;
        showNtfsCounter();
        return;
    case FOUND_NTFS_RECORDS:
        showNtfsCounter();
        return;
    case FOUND_CBR_FILES:
        setCounter(COUNTER_CBR_FILES, value);
        return;
    default:
        // POSITION_ADD and anything the page does not know.
        if (progress_)
            progress_->setPosition(kind, value);
        return;
    }
}

int WizardPageScanner::selectScanType(GtkWindow* parent) {
    OwnedDialog dialog(GTK_DIALOG(gtk_dialog_new_with_buttons(
        _("Select Scan Type"), parent,
        static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        _("_Quick Scan"), SCAN_QUICK, _("_Deep Scan"), SCAN_DEEP, GTK_STOCK_CANCEL,
        GTK_RESPONSE_CANCEL, nullptr)));
    gint border = 0;
    gtk_widget_style_get(GTK_WIDGET(dialog.get()), "action-area-border", &border, nullptr);
    GtkWidget* box = gtk_vbox_new(FALSE, 0);
    gtk_container_set_border_width(GTK_CONTAINER(box), static_cast<guint>(border));
    GtkWidget* label = createResizableLabel(
        _("Quick Scan assumes that the file system is intact.\n\nIf there is corruption/damage "
          "or the results of the Quick Scan are not what you expect, use Deep Scan."),
        SCAN_TYPE_LABEL_WIDTH);
    gtk_box_pack_start(GTK_BOX(box), label, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(dialog.get())), box, TRUE, TRUE, 0);
    gtk_widget_show_all(box);
    resizableLabelSetWidth(label, SCAN_TYPE_LABEL_START_WIDTH);
    const int response = runDialog(dialog);
    return response == SCAN_QUICK || response == SCAN_DEEP ? response : SCAN_NONE;
}

} // namespace gtk
