// The main road as a user walks it: the source page, a deep scan, the
// file-system page (with a look at the structure view), the tree with its root
// marked, and Recover up to the closing message. Every live file and every
// deleted file whose clusters are still free must come back byte for byte with
// its time.

#include "analysis/Analyzer.h"
#include "gui/MessageDialog.h"
#include "gui/StockItems.h"
#include "gui/WizardPageDrives.h"
#include "gui/WizardPageScanner.h"
#include "gui/WizardPageSelectFs.h"
#include "tests/gui/TreeViewTestSupport.h"
#include "tests/support/FilesCameBack.h"
#include "tests/support/FsImages.h"

#include <gmock/gmock.h>

namespace {

// The program's own message boxes, answered by the dialog scripter.
int realBoxes(int kind, const std::string& text, WindowHandle parent, bool defaultNo,
              const char* checkLabel, bool checked) {
    return gtk::runMessageDialog(kind, text, static_cast<GtkWindow*>(parent), defaultNo, checkLabel,
                                 checked);
}

using guitest::DialogScript;
using testing::HasSubstr;

class MainRoadTest : public guitest::EnglishUtcTest {
protected:
    void setUpWindows() override {
        appDirectory.useShipped();
        registerStockItems();
        context.setSystemRoots(src.tree.roots());
        analyzer.setPatternsPath(std::string(HB_SOURCE_DIR) + "/lib/cbr.files");
        wizard = std::make_unique<gtk::Wizard>(nullptr);
        previousMessages = setMessageDialogHandler(realBoxes);
    }
    void TearDown() override { setMessageDialogHandler(previousMessages); }

    void clickNext(GtkDialog*) { gtk_button_clicked(GTK_BUTTON(wizard->getNextButton())); }

    // Source page to file-system page; `onFsPage` adds the steps on the last
    // page, which end with Next.
    bool runWizard(const std::string& image, std::function<void(DialogScript&)> onFsPage) {
        gtk::InterfaceParentScope scope(&ui, wizard->getWindow());
        gtk::WizardPageDrives source(wizard.get(), gtk::WizardPageDrives::SOURCE, &context,
                                     &sources, src.vfs.get(), false);
        gtk::WizardPageScanner scanner(wizard.get(), &analyzer, &context);
        gtk::WizardPageSelectFs fileSystems(wizard.get(), &analyzer, &context, true);
        gtk::WizardPage* pages[] = {&source, &scanner, &fileSystems};
        DialogScript script;
        script.on("Select Source", [&](GtkDialog* d) {
            source.getTree().selectPath(src.mount.path() + "|" + image);
            clickNext(d);
        });
        script.on("Scan", [&](GtkDialog* d) { clickNext(d); });
        script.on("Select Scan Type",
                  [](GtkDialog* d) { gtk_dialog_response(d, gtk::WizardPageScanner::SCAN_DEEP); });
        // Leaving the scan page offers to save the scan.
        script.on("Question", [](GtkDialog* d) { gtk_dialog_response(d, GTK_RESPONSE_REJECT); });
        onFsPage(script);
        const bool done = gtk::runWizardPages(3, pages);
        EXPECT_TRUE(script.done());
        return done;
    }

    // Marks the root of the built tree and recovers it into "Out"; the
    // closing message's text.
    std::string recoverAll() {
        guitest::ShownTree shown(analyzer.getMapHolder(), &destinationVfs);
        GtkTreeIter root;
        EXPECT_TRUE(gtk_tree_model_get_iter_first(shown.folders().model(), &root));
        guitest::setCursor(shown.folders().view(), shown.folders().model(), &root);
        shown.folders().toggleCheck();
        guitest::pumpEvents();
        DialogScript script;
        guitest::answerDialogs(script, "Out", true);
        std::string closing;
        script.on("Information", [&closing](GtkDialog* d) {
            for (GtkWidget* label : guitest::findWidgets(GTK_WIDGET(d), GTK_TYPE_LABEL))
                closing += gtk_label_get_text(GTK_LABEL(label));
            gtk_dialog_response(d, GTK_RESPONSE_REJECT);
        });
        // The boxes are real ones here: the closing message is read from its window.
        MessageDialogHandler scripted = setMessageDialogHandler(realBoxes);
        shown.view().recover();
        setMessageDialogHandler(scripted);
        EXPECT_TRUE(script.done());
        return closing;
    }

    guitest::ScopedAppDirectory appDirectory;
    guitest::FakeSources src;
    testutil::TempDir destination;
    guitest::OneSourceVfs destinationVfs{destination.path()};
    std::vector<std::string> sources;
    std::unique_ptr<gtk::Wizard> wizard;
    gtk::Interface ui{nullptr};
    Analyzer analyzer{&ui};
    GuiContext context{&ui, &analyzer.getDriveDescr(), &sources, src.vfs.get()};
    MessageDialogHandler previousMessages;
};

TEST_F(MainRoadTest, Fat32WithDeletedFilesComesBackWhole) {
    testutil::FatImageOptions options;
    options.sizeKiB = 40 * 1024;
    options.fatBits = 32;
    const std::string path = src.mount.path() + "/fat32.img";
    testutil::FatImage image(path, options);
    const testutil::PlacedFiles files = {
        {"live.txt", "first live file\n", testutil::IMAGE_EPOCH + 100},
        {"large.bin", std::string(70000, 'L') + "several clusters", testutil::IMAGE_EPOCH + 200},
        {"Docs/inner.txt", "in a folder", testutil::IMAGE_EPOCH + 300},
        {"deleted but intact.txt", "deleted but intact", testutil::IMAGE_EPOCH + 400},
        {"Docs/deleted in a folder.txt", "deleted in a folder", testutil::IMAGE_EPOCH + 500},
    };
    image.makeFolder("Docs");
    for (const testutil::PlacedFile& f : files)
        image.addFile(f.path, f.data, f.mtime);
    image.deleteFile(files[3].path);
    image.deleteFile(files[4].path);

    std::string structures;
    std::string bootDump;
    ASSERT_TRUE(runWizard(path, [&](DialogScript& script) {
        script.on("Select Partition", "viewFileSystem", [](GtkDialog* d) {
            gtk_button_clicked(GTK_BUTTON(guitest::findNamed(GTK_WIDGET(d), "viewFileSystem")));
        });
        script.on("View File System", "bootSector", [&](GtkDialog* v) {
            structures = guitest::editorText(v);
            // Read-only, so without a text cursor.
            EXPECT_FALSE(gtk_text_view_get_cursor_visible(
                GTK_TEXT_VIEW(guitest::findNamed(GTK_WIDGET(v), "structures"))));
            gtk_button_clicked(GTK_BUTTON(guitest::findNamed(GTK_WIDGET(v), "bootSector")));
        });
        script.on("Boot Sector", [&](GtkDialog* editor) {
            bootDump = guitest::editorText(editor);
            guitest::sendDelete(GTK_WIDGET(editor));
        });
        script.on("View File System",
                  [](GtkDialog* v) { gtk_dialog_response(v, GTK_RESPONSE_CANCEL); });
        script.on("Select Partition", [this](GtkDialog* d) { clickNext(d); });
    }));
    // FAT32: boot sector, FATs, root and the backup; no NTFS volume.
    EXPECT_THAT(structures, HasSubstr("\nBoot Sector - "));
    EXPECT_THAT(structures, HasSubstr("FATs - Found\nRoot Directory - Found\n"));
    EXPECT_THAT(structures, HasSubstr("Boot Sector Backup - "));
    EXPECT_THAT(structures, testing::Not(HasSubstr("NTFS Volume")));
    EXPECT_THAT(bootDump, HasSubstr("Sectors Per Track"));

    const std::string closing = recoverAll();
    EXPECT_THAT(closing, testing::StartsWith("You have recovered 5 file(s)")) << closing;
    EXPECT_THAT(closing, testing::Not(HasSubstr("did not finish")));
    EXPECT_TRUE(testutil::filesCameBack(destination.file("Out"), files));
}

} // namespace
