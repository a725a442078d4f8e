#include "gui/WizardPageScanner.h"

#include "analysis/Analyzer.h"
#include "gui/Interface.h"
#include "gui/ProgressBox.h"
#include "gui/ScanFiles.h"
#include "tests/gui/TreeViewTestSupport.h"
#include "tests/support/FsImages.h"

namespace {

using guitest::DialogScript;

class WizardPageScannerTest : public guitest::GuiTest {
protected:
    void setUpWindows() override {
        testutil::FatImageOptions options;
        options.sizeKiB = 40 * 1024;
        options.fatBits = 32;
        testutil::FatImage image(dir.file("fat32.img"), options);
        image.addFile("README.TXT", "hello");
        analyzer.getDriveHolder() = testutil::openImageDriver(image.path());
        analyzer.setPatternsPath(std::string(HB_SOURCE_DIR) + "/lib/cbr.files");
        wizard = std::make_unique<gtk::Wizard>(nullptr);
        page = std::make_unique<gtk::WizardPageScanner>(wizard.get(), &analyzer, &context);
    }
    void TearDown() override {
        page.reset();
        wizard.reset();
    }

    std::string field(GtkSpinButton* spin) const {
        return std::to_string(gtk_spin_button_get_value_as_int(spin));
    }
    std::vector<std::string> counters() const {
        std::vector<std::string> out;
        for (int c = 0; c < gtk::WizardPageScanner::COUNTER_COUNT; ++c)
            out.push_back(gtk_entry_get_text(page->getCounter(c)));
        return out;
    }
    // Next over `start` and `sectors`; `type` answers the Select Scan Type
    // dialog (none: no such dialog is expected).
    void scanNext(DialogScript& script, int start, int sectors, int type) {
        script.on("Scan", [=](GtkDialog*) {
            if (gtk_expander_get_expanded(GTK_EXPANDER(page->getExpander())))
                gtk_spin_button_set_value(page->getStartField(), start);
            gtk_spin_button_set_value(page->getSectorsField(), sectors);
            gtk_button_clicked(GTK_BUTTON(wizard->getNextButton()));
        });
        if (type != gtk::WizardPageScanner::SCAN_NONE)
            script.on("Select Scan Type", [type](GtkDialog* d) { gtk_dialog_response(d, type); });
    }

    testutil::TempDir dir;
    testutil::TempDir destination;
    guitest::OneSourceVfs vfs{destination.path()};
    testutil::ScriptedMessages messages{1}; // every question answered No
    gtk::Interface ui{nullptr};
    Analyzer analyzer{&ui};
    std::vector<std::string> sources;
    GuiContext context{&ui, &analyzer.getDriveDescr(), &sources, &vfs};
    std::unique_ptr<gtk::Wizard> wizard;
    std::unique_ptr<gtk::WizardPageScanner> page;
};

TEST_F(WizardPageScannerTest, QuickThenDeepScanWithCountersAndClear) {
    DialogScript script;
    std::vector<std::string> proposed;
    script.on("Scan", [&](GtkDialog*) {
        gtk_expander_set_expanded(GTK_EXPANDER(page->getExpander()), TRUE);
        proposed = {
            field(page->getStartField()), field(page->getSectorsField()),
            gtk_entry_get_text(page->getCounter(gtk::WizardPageScanner::COUNTER_NTFS_FILES))};
        // Past the end: nothing to scan, and nothing found yet.
        gtk_spin_button_set_value(page->getStartField(), 999999);
        gtk_button_clicked(GTK_BUTTON(wizard->getNextButton()));
    });
    scanNext(script, 0, 81920, gtk::WizardPageScanner::SCAN_QUICK);
    EXPECT_EQ(page->run(), GTK_RESPONSE_ACCEPT);
    EXPECT_EQ(proposed, (std::vector<std::string>{"0", "81920", "0 (0)"}));
    ASSERT_EQ(messages.asked().size(), 1u); // a quick scan leaves nothing unsaved
    EXPECT_EQ(messages.asked()[0].text, "No valid file system was found during the scan.");
    EXPECT_FALSE(analyzer.isDeepScanDone());
    EXPECT_FALSE(analyzer.getFsCollection().empty());

    scanNext(script, 0, 81920, gtk::WizardPageScanner::SCAN_DEEP);
    EXPECT_EQ(page->run(), GTK_RESPONSE_ACCEPT);
    EXPECT_EQ(analyzer.getScanRange().getSecond(), 81920u);
    EXPECT_EQ(messages.asked().size(), 2u); // now leaving offers to save the scan

    std::vector<std::string> found;
    std::vector<std::string> cleared;
    script.on("Scan", [&](GtkDialog*) {
        found = counters();
        gtk_button_clicked(GTK_BUTTON(
            guitest::findButton(GTK_WIDGET(wizard->getDialog()), "_Clear Scan Results")));
    });
    script.on("Scan", [&](GtkDialog* d) {
        cleared = counters();
        cleared.push_back(field(page->getSectorsField()));
        guitest::sendDelete(GTK_WIDGET(d));
    });
    EXPECT_EQ(page->run(), GTK_RESPONSE_CLOSE);
    EXPECT_TRUE(script.done());
    EXPECT_EQ(found[gtk::WizardPageScanner::COUNTER_BOOT_SECTORS], "2"); // and the backup
    EXPECT_NE(found[gtk::WizardPageScanner::COUNTER_DIRECTORIES], "0");
    EXPECT_EQ(cleared, (std::vector<std::string>{"0", "0", "0", "0", "0 (0)", "0", "81920"}));
}

TEST_F(WizardPageScannerTest, ACancelledScanKeepsItsFindsWhichSaveAndLoad) {
    // Every poll looks for events, so the press is seen at the first poll
    // after the scan has left its first block (the start field follows the
    // block being read), however fast the scan runs.
    const gtk::GuiClock clock = gtk::setGuiClock([] {
        static gint64 now = 0;
        return now += gtk::ProgressBox::EVENTS_INTERVAL_US;
    });
    DialogScript script;
    script.on("Scan", [&](GtkDialog*) { gtk_button_clicked(GTK_BUTTON(wizard->getNextButton())); });
    script.on("Select Scan Type", [&](GtkDialog* d) {
        guitest::cancelProgressBoxWhenShown("Scanning Source", [&] {
            return gtk_spin_button_get_value(page->getStartField()) > 0;
        });
        gtk_dialog_response(d, gtk::WizardPageScanner::SCAN_DEEP);
    });
    // What a few blocks show may not make a file system yet: the user leaves.
    script.on("Scan", [](GtkDialog* d) { guitest::sendDelete(GTK_WIDGET(d)); });
    page->run();
    gtk::setGuiClock(clock);
    const u64 reached = analyzer.getScanRange().getSecond();
    EXPECT_GT(reached, 0u);
    EXPECT_LT(reached, 81920u);
    const std::size_t bootSectors = analyzer.getScanResults().bootSectors.size();
    EXPECT_GE(bootSectors, 1u);

    script.on("Save File", [](GtkDialog* d) { gtk_dialog_response(d, GTK_RESPONSE_ACCEPT); });
    ASSERT_TRUE(saveScanWithPrompt(&context, analyzer, false));
    analyzer.reset();
    script.on("Open File", [](GtkDialog* d) { gtk_dialog_response(d, GTK_RESPONSE_ACCEPT); });
    ASSERT_TRUE(openScanWithDialog(&context, analyzer));
    EXPECT_TRUE(script.done());
    EXPECT_EQ(analyzer.getScanRange().getSecond(), reached);
    EXPECT_EQ(analyzer.getScanResults().bootSectors.size(), bootSectors);
}

} // namespace
