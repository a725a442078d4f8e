#include "gui/WizardPageSelectFs.h"

#include "analysis/Analyzer.h"
#include "core/Text.h"
#include "gui/FsStructureView.h"
#include "gui/Interface.h"
#include "tests/gui/TreeViewTestSupport.h"
#include "tests/support/FatVolumes.h"

#include <sstream>

namespace {

using gtk::StructureSummary;

// A candidate of a partition entry of `type`, everything of its kind found.
FsCandidate candidate(u8 type, u32 start) {
    FsCandidate c;
    c.startLBA = start;
    c.hasPartitionEntry = true;
    c.partitionType = type;
    c.hasBootSector = c.hasBootBackup = true;
    c.hasNtfsVolume = type == 0x07;
    c.hasFats = c.fatFound = c.fatMirrorFound = c.hasRootDir = type != 0x07;
    c.selected = true;
    c.layoutSectors = 1000;
    return c;
}

// The information text with red pieces in braces; the buttons as 1 (can dump)
// and 0, partition table first.
std::string render(const StructureSummary& s, std::string& buttons) {
    std::string text;
    for (const gtk::StructureText& piece : s.text)
        text += piece.tag && std::string(piece.tag) == "fr" ? "{" + piece.text + "}" : piece.text;
    buttons.clear();
    for (int c = gtk::COMPONENT_PARTITION_TABLE; c < gtk::COMPONENT_COUNT; ++c)
        buttons += s.dumpable[c] ? '1' : '0';
    return text.substr(text.find('\n', text.find("Size")) + 1); // past LBA and size
}

TEST(FsStructureViewTest, LinesAndButtonsPerKindAndEvidence) {
    struct Case {
        const char* what;
        FsCandidate c;
        bool usesTables;
        const char* text;
        const char* buttons;
    };
    FsCandidate fat16 = candidate(0x04, 63);
    FsCandidate ntfs = candidate(0x07, 63);
    FsCandidate mirrorless = candidate(0x0C, 63);
    mirrorless.fatMirrorFound = false;
    FsCandidate created = candidate(0x0C, 63);
    created.hasPartitionEntry = created.hasBootSector = created.hasBootBackup = false;
    created.fatType = FAT32;
    created.tableStatus = 1;
    created.bootStatus = 1;
    created.backupStatus = 2;
    created.hasSubDirs = true;
    created.subDirCount = 7;
    FsCandidate bare = candidate(0x04, 63);
    bare.hasBootSector = bare.hasFats = bare.hasRootDir = false;
    const Case cases[] = {
        {"FAT16: no backup, no NTFS", fat16, true,
         "Partition Table - Found\nBoot Sector - Found\nFATs - Found\nRoot Directory - Found\n",
         "111100"},
        {"NTFS: no FATs, no root", ntfs, true,
         "Partition Table - Found\nBoot Sector - Found\nNTFS Volume - Found\n"
         "Boot Sector Backup - Found\n",
         "110011"},
        {"a FAT without its mirror still dumps", mirrorless, true,
         "Partition Table - Found\nBoot Sector - Found\n{FAT mirror was not found\n}"
         "Root Directory - Found\nBoot Sector Backup - Found\n",
         "111101"},
        {"what the layout wrote", created, true,
         "Partition Table - Created\nBoot Sector - Created\nFATs - Found\n"
         "Root Directory - Found\nBoot Sector Backup - Not Changed\n7 Subdirectories - Found",
         "111101"},
        {"no partition tables on this source", created, false,
         "Boot Sector - Created\nFATs - Found\nRoot Directory - Found\n"
         "Boot Sector Backup - Not Changed\n7 Subdirectories - Found",
         "011101"},
        {"nothing but the entry", bare, true,
         "Partition Table - Found\nBoot Sector - {Not Found}\nFATs - {Not Found}\n"
         "Root Directory - {Not Found}\n",
         "100000"},
    };
    for (const Case& k : cases) {
        std::string buttons;
        EXPECT_EQ(render(gtk::describeStructures(k.c, k.usesTables), buttons), k.text) << k.what;
        EXPECT_EQ(buttons, k.buttons) << k.what;
    }
    EXPECT_EQ(gtk::componentStatus(true, 1), gtk::STATUS_CHANGED);
}

// A volume of one FAT has no mirror: asked for it, the view shows the FAT.
TEST(FsStructureViewTest, TheMirrorOfOneFatIsTheFat) {
    testutil::SyntheticVolume v(FAT16, 4085);
    DriveDescr d;
    d.getDriveHolder() = v.driver();
    FsCandidate c = candidate(0x04, 0);
    c.fatType = FAT16;
    c.fatLBA = v.params().fatLBA;
    c.fatSectors = 4;
    c.fatCount = 1;
    std::ostringstream fat, mirror;
    std::string title;
    ASSERT_TRUE(gtk::dumpStructure(d, c, gtk::COMPONENT_FATS, false, fat, title));
    ASSERT_TRUE(gtk::dumpStructure(d, c, gtk::COMPONENT_FATS, true, mirror, title));
    EXPECT_EQ(mirror.str(), fat.str());
}

class WizardPageSelectFsTest : public guitest::GuiTest {
protected:
    void setUpWindows() override {
        for (u32 start : {63u, 5000u}) {
            analyzer.getLayout().push_back(candidate(0x0B, start));
            FsCandidate table;
            table.isPartitionTable = table.selected = true;
            analyzer.getLayout().push_back(table);
        }
        analyzer.getCarvedFiles().resize(1);
        // A deep scan that reached LBA 16,777,216.
        analyzer.getScanRange().setSecond(16777216);
        wizard = std::make_unique<gtk::Wizard>(nullptr);
    }

    gtk::Interface ui{nullptr};
    Analyzer analyzer{&ui};
    std::vector<std::string> sources;
    GuiContext context{nullptr, &analyzer.getDriveDescr(), &sources, nullptr};
    std::unique_ptr<gtk::Wizard> wizard;
};

TEST_F(WizardPageSelectFsTest, ListsVolumesAndFoundFilesAndKeepsAnOldTreeOnNo) {
    const SharedPtr<tree::Map> old = guitest::testMap("root 5\n");
    analyzer.setMap(old);
    gtk::WizardPageSelectFs page(wizard.get(), &analyzer, &context, true);
    testutil::ScriptedMessages messages(1); // No to a new listing
    guitest::DialogScript script;
    std::vector<std::string> rows;
    std::vector<bool> viewable;
    script.on("Select Partition", [&](GtkDialog*) {
        GtkTreeView* view = page.getTreeView().getView();
        GtkTreeModel* model = gtk_tree_view_get_model(view);
        rows = guitest::modelStrings(model, 0);
        for (const std::string& size : guitest::modelStrings(model, 2))
            rows.push_back(size);
        for (int i = 0; i < 3; ++i) {
            GtkTreePath* path = gtk_tree_path_new_from_indices(i, -1);
            gtk_tree_view_set_cursor(view, path, nullptr, FALSE);
            gtk_tree_path_free(path);
            viewable.push_back(gtk_widget_get_sensitive(page.getViewButton()));
        }
        gtk_button_clicked(GTK_BUTTON(wizard->getNextButton()));
    });
    script.on("Select Partition", [](GtkDialog* d) { guitest::sendDelete(GTK_WIDGET(d)); });
    EXPECT_EQ(page.run(), GTK_RESPONSE_CLOSE);
    EXPECT_TRUE(script.done());
    const std::string volume = formatSize(512000);
    EXPECT_EQ(rows, (std::vector<std::string>{"Partition 0", "Partition 1", "Found Files", volume,
                                              volume, formatSize(8589934592ULL)}));
    EXPECT_EQ(viewable, (std::vector<bool>{true, true, false}));
    ASSERT_EQ(messages.asked().size(), 1u);
    EXPECT_EQ(messages.asked()[0].text, "Do you want to build a new File and Folder listing?");
    EXPECT_EQ(analyzer.getMapHolder().get(), old.get());
}

} // namespace
