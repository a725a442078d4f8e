// The main road as a user walks it: the source page, a deep scan, the
// file-system page (with a look at the structure view), the tree with its root
// marked, and Recover up to the closing message. Every live file and every
// deleted file whose clusters are still free must come back byte for byte with
// its time; the same through "Found Files" on an image with only pictures
// among random bytes.

#include "analysis/Analyzer.h"
#include "gui/MessageDialog.h"
#include "gui/StockItems.h"
#include "gui/WizardPageDrives.h"
#include "gui/WizardPageScanner.h"
#include "gui/WizardPageSelectFs.h"
#include "tests/gui/TreeViewTestSupport.h"
#include "tests/support/FsImages.h"

#include <filesystem>
#include <gmock/gmock.h>
#include <map>
#include <random>
#include <sys/stat.h>

namespace {

// The program's own message boxes, answered by the dialog scripter.
int realBoxes(int kind, const std::string& text, WindowHandle parent, bool defaultNo,
              const char* checkLabel) {
    return gtk::runMessageDialog(kind, text, static_cast<GtkWindow*>(parent), defaultNo,
                                 checkLabel);
}

using guitest::DialogScript;
using testing::HasSubstr;

struct Original {
    std::string content;
    std::time_t time; // 0: none to compare (carved files have no time)
};

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
            guitest::screenshot(GTK_WIDGET(d), "source-page");
            clickNext(d);
        });
        script.on("Scan", [&](GtkDialog* d) { clickNext(d); });
        if (readsAsVolume)
            script.on("Select Scan Type", [](GtkDialog* d) {
                guitest::screenshot(GTK_WIDGET(d), "select-scan-type");
                gtk_dialog_response(d, gtk::WizardPageScanner::SCAN_DEEP);
            });
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
        guitest::screenshot(shown.window(), readsAsVolume ? "tree-view-fat32" : "tree-view-carved");
        DialogScript script;
        guitest::answerDialogs(script, "Out", true);
        std::string closing;
        script.on("Information", [&closing](GtkDialog* d) {
            guitest::screenshot(GTK_WIDGET(d), "recover-closing-message");
            for (GtkWidget* label : guitest::findWidgets(GTK_WIDGET(d), GTK_TYPE_LABEL))
                closing += gtk_label_get_text(GTK_LABEL(label));
            gtk_dialog_response(d, GTK_RESPONSE_REJECT);
        });
        // The boxes are real ones here, for the picture of the closing message.
        MessageDialogHandler scripted = setMessageDialogHandler(realBoxes);
        shown.view().recover();
        setMessageDialogHandler(scripted);
        EXPECT_TRUE(script.done());
        return closing;
    }

    // Every original among the recovered files, with its time when it has one.
    void expectRecovered(const std::vector<Original>& originals) {
        std::multimap<std::string, std::time_t> recovered; // content -> time
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(destination.file("Out"))) {
            struct stat st {};
            if (entry.is_regular_file() && stat(entry.path().c_str(), &st) == 0)
                recovered.emplace(testutil::readAll(entry.path().string()), st.st_mtime);
        }
        for (const Original& o : originals) {
            const auto range = recovered.equal_range(o.content);
            ASSERT_NE(range.first, range.second) << "missing: " << o.content.substr(0, 40);
            EXPECT_TRUE(o.time == 0 || range.first->second == o.time) << o.content.substr(0, 40);
        }
    }

    guitest::ScopedAppDirectory appDirectory;
    guitest::FakeSources src;
    testutil::TempDir destination;
    guitest::OneFolderVfs destinationVfs{destination.path()};
    std::vector<std::string> sources;
    std::unique_ptr<gtk::Wizard> wizard;
    gtk::Interface ui{nullptr};
    Analyzer analyzer{&ui};
    GuiContext context{&ui, &analyzer.getDriveDescr(), &sources, src.vfs.get()};
    bool readsAsVolume = true;
    MessageDialogHandler previousMessages;
};

TEST_F(MainRoadTest, Fat32WithDeletedFilesComesBackWhole) {
    testutil::FatImageOptions options;
    options.sizeKiB = 40 * 1024;
    options.fatBits = 32;
    const std::string path = src.mount.path() + "/fat32.img";
    testutil::FatImage image(path, options);
    std::vector<Original> originals = {
        {"first live file\n", testutil::IMAGE_EPOCH + 100},
        {std::string(70000, 'L') + "large, several clusters", testutil::IMAGE_EPOCH + 200},
        {"in a folder", testutil::IMAGE_EPOCH + 300},
        {"deleted but intact", testutil::IMAGE_EPOCH + 400},
        {"deleted in a folder", testutil::IMAGE_EPOCH + 500},
    };
    image.makeFolder("DOCS");
    image.addFile("LIVE.TXT", originals[0].content, originals[0].time);
    image.addFile("LARGE.BIN", originals[1].content, originals[1].time);
    image.addFile("DOCS/INNER.TXT", originals[2].content, originals[2].time);
    image.addFile("GONE.TXT", originals[3].content, originals[3].time);
    image.addFile("DOCS/GONE2.TXT", originals[4].content, originals[4].time);
    image.deleteFile("GONE.TXT");
    image.deleteFile("DOCS/GONE2.TXT");

    std::string structures;
    std::string bootDump;
    ASSERT_TRUE(runWizard(path, [&](DialogScript& script) {
        script.on("Select Partition", [](GtkDialog* d) {
            guitest::screenshot(GTK_WIDGET(d), "select-partition-page");
            gtk_button_clicked(GTK_BUTTON(guitest::findNamed(GTK_WIDGET(d), "viewFileSystem")));
        });
        script.on("View File System", [&](GtkDialog* v) {
            guitest::screenshot(GTK_WIDGET(v), "structure-view");
            structures = guitest::editorText(v);
            gtk_button_clicked(GTK_BUTTON(guitest::findNamed(GTK_WIDGET(v), "bootSector")));
        });
        script.on("Boot Sector", [&](GtkDialog* editor) {
            guitest::screenshot(GTK_WIDGET(editor), "structure-dump");
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
    expectRecovered(originals);
}

TEST_F(MainRoadTest, PicturesAmongRandomBytesComeBackAsFoundFiles) {
    testutil::TempDir made;
    ASSERT_EQ(0, testutil::run("cd " + made.path() +
                               " && convert -seed 1 -size 320x240 plasma: photo.jpg"
                               " && convert -seed 2 -size 200x150 plasma: picture.png"));
    const std::vector<Original> originals = {{testutil::readAll(made.file("photo.jpg")), 0},
                                             {testutil::readAll(made.file("picture.png")), 0}};
    std::string bytes(4 << 20, '\0');
    std::mt19937 random(7);
    for (char& c : bytes)
        c = static_cast<char>(random());
    bytes.replace(100 * 512, originals[0].content.size(), originals[0].content);
    bytes.replace(3000 * 512, originals[1].content.size(), originals[1].content);
    const std::string path = src.mount.path() + "/carve.img";
    testutil::writeAll(path, bytes);

    readsAsVolume = false;
    ASSERT_TRUE(runWizard(path, [this](DialogScript& script) {
        script.on("Select Partition", [this](GtkDialog* d) {
            const auto view = guitest::findWidgets(GTK_WIDGET(d), GTK_TYPE_TREE_VIEW);
            EXPECT_EQ(guitest::modelStrings(gtk_tree_view_get_model(GTK_TREE_VIEW(view[0])), 0),
                      (std::vector<std::string>{"Found Files"}));
            EXPECT_FALSE(
                gtk_widget_get_sensitive(guitest::findNamed(GTK_WIDGET(d), "viewFileSystem")));
            clickNext(d);
        });
    }));
    EXPECT_THAT(recoverAll(), testing::StartsWith("You have recovered 2 file(s)"));
    expectRecovered(originals);
}

} // namespace
