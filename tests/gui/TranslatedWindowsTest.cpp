// The windows as they are built in German and Japanese: every window and menu
// gives each mnemonic key to one widget (two that share one make Alt+key move
// between them: in the destination dialog "_Ort" and "_OK" took the typed path
// away), and the scan page's counters show their whole values.

#include "analysis/Analyzer.h"
#include "app/UpdateDialog.h"
#include "core/Intl.h"
#include "fs/FatLayout.h"
#include "fs/ntfs/NtfsDumps.h"
#include "gui/ButtonColumnDialog.h"
#include "gui/DriverEditor.h"
#include "gui/FileDialog.h"
#include "gui/FilterDialog.h"
#include "gui/FindFileDialog.h"
#include "gui/Interface.h"
#include "gui/MainFrame.h"
#include "gui/MessageDialog.h"
#include "gui/PreferencesDialog.h"
#include "gui/ProgressBox.h"
#include "gui/RecoverCommand.h"
#include "gui/SelectByMaskDialog.h"
#include "gui/SelectComponent.h"
#include "gui/StockItems.h"
#include "gui/TextEditor.h"
#include "gui/TextEntryDialog.h"
#include "gui/Wizard.h"
#include "gui/WizardPageDrives.h"
#include "gui/WizardPageScanner.h"
#include "gui/WizardPageSelectFs.h"
#include "tests/gui/TreeViewTestSupport.h"
#include "tests/support/FatVolumes.h"
#include "tests/support/FsImages.h"
#include "tests/support/ScriptedMessages.h"

#include <clocale>
#include <functional>
#include <gdk/gdkkeysyms.h>
#include <map>
#include <sstream>

namespace {

using guitest::DialogAnswer;
using guitest::DialogScript;

struct Language {
    int language;
    const char* locale;
};

// The program's texts and GTK's own (stock buttons) in one language while it
// lives, the catalogue bound as the program binds it.
class ScopedLanguage {
public:
    explicit ScopedLanguage(const Language& l)
        : domain_(textdomain(nullptr)), locale_(std::setlocale(LC_ALL, nullptr)) {
        bindtextdomain(TEXT_DOMAIN, HB_BINARY_DIR "/lib/locale");
        bind_textdomain_codeset(TEXT_DOMAIN, "UTF-8");
        textdomain(TEXT_DOMAIN);
        available_ = std::setlocale(LC_ALL, l.locale) != nullptr;
        Preferences::instance().language() = l.language;
        registerStockItems();
    }
    ~ScopedLanguage() {
        std::setlocale(LC_ALL, locale_.c_str());
        textdomain(domain_.c_str());
        Preferences::instance().language() = 0;
        registerStockItems();
    }
    bool available() const { return available_; }

private:
    std::string domain_;
    std::string locale_;
    bool available_ = false;
};

// The labels with a mnemonic below `widget` by their key, hidden widgets left
// out; the submenus met go to `scopes`, as a menu's keys are its own.
void collectMnemonics(GtkWidget* widget, std::map<guint, std::vector<std::string>>& keys,
                      std::vector<GtkWidget*>& scopes) {
    if (GTK_IS_LABEL(widget)) {
        const guint key = gtk_label_get_mnemonic_keyval(GTK_LABEL(widget));
        if (key != GDK_VoidSymbol)
            keys[gdk_keyval_to_lower(key)].push_back(gtk_label_get_label(GTK_LABEL(widget)));
    }
    if (GTK_IS_MENU_ITEM(widget))
        if (GtkWidget* submenu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(widget)))
            scopes.push_back(submenu);
    for (GtkWidget* child : guitest::findWidgets(widget, GTK_TYPE_WIDGET)) {
        if (child != widget && gtk_widget_get_parent(child) == widget &&
            gtk_widget_get_visible(child))
            collectMnemonics(child, keys, scopes);
    }
}

// "where: A and B" for each key that two labels of one window or menu share.
std::string mnemonicClashes(const std::string& where, std::vector<GtkWidget*> scopes) {
    std::string clashes;
    for (std::size_t i = 0; i < scopes.size(); ++i) {
        std::map<guint, std::vector<std::string>> keys;
        collectMnemonics(scopes[i], keys, scopes);
        for (const auto& key : keys) {
            if (key.second.size() < 2)
                continue;
            clashes += where + ":";
            for (const std::string& label : key.second)
                clashes += " \"" + label + "\"";
            clashes += "\n";
        }
    }
    return clashes;
}

// The clashes of the window that the next modal loop shows (and of `menus`),
// which is then closed.
std::string clashesOfNextDialog(const std::string& where, const std::function<void()>& open,
                                const std::function<std::vector<GtkWidget*>()>& menus = {}) {
    std::string clashes;
    DialogAnswer answer([&](GtkDialog* d) {
        std::vector<GtkWidget*> scopes{GTK_WIDGET(d)};
        if (menus)
            for (GtkWidget* menu : menus())
                scopes.push_back(menu);
        clashes = mnemonicClashes(where, scopes);
        guitest::sendDelete(GTK_WIDGET(d));
    });
    open();
    EXPECT_TRUE(answer.answered()) << where;
    return clashes;
}

const Language ENGLISH{0, "C.UTF-8"};
const Language GERMAN{1, "de_DE.UTF-8"};
const Language JAPANESE{2, "ja_JP.UTF-8"};

class TranslatedWindowsTest : public guitest::GuiTest,
                              public ::testing::WithParamInterface<Language> {
protected:
    void setUpWindows() override {
        appDirectory.useShipped();
        language = std::make_unique<ScopedLanguage>(GetParam());
        if (!language->available())
            GTEST_SKIP() << GetParam().locale << " is not installed";
        context.setSystemRoots(src.tree.roots());
        analyzer.getDriveHolder() = testutil::openImageDriver(src.imagePath());
    }
    void TearDown() override { language.reset(); }

    guitest::ScopedAppDirectory appDirectory;
    std::unique_ptr<ScopedLanguage> language;
    guitest::FakeSources src;
    testutil::ScriptedMessages messages{1};
    gtk::Interface ui{nullptr};
    Analyzer analyzer{&ui};
    std::vector<std::string> sources;
    GuiContext context{&ui, &analyzer.getDriveDescr(), &sources, src.vfs.get()};
};

// Every window and menu of the program, built in the language.
TEST_P(TranslatedWindowsTest, EveryMnemonicKeyBelongsToOneWidget) {
    // The windows are built in the language indeed.
    if (GetParam().language != 0) {
        ASSERT_STRNE(_("_Location"), "_Location");
    }
    std::string clashes;
    {
        PropertyMap config;
        config.set("Program Name", "Halbrook 1.0", false);
        MainFrame frame(config, new guitest::OneSourceVfs(src.mount.path()));
        clashes += mnemonicClashes("main window", {GTK_WIDGET(frame.getWindow())});
    }
    for (int mode : {FileDialog::OPEN, FileDialog::SAVE}) {
        FileDialog files(context, "Scan.bin", mode, nullptr);
        clashes += mnemonicClashes("file dialog", {GTK_WIDGET(files.getDialog())});
    }
    tree::FilterMask mask;
    for (int kind : {0, 1, 3})
        clashes += mnemonicClashes(
            "filter", {GTK_WIDGET(gtk::MapFilterEditor(nullptr, mask, kind).dialog())});
    clashes += mnemonicClashes("find file",
                               {GTK_WIDGET(gtk::FindFileDialog(nullptr, FindParams()).dialog())});
    clashes += mnemonicClashes("select by mask",
                               {GTK_WIDGET(gtk::SelectByMask::Dialog(nullptr, "*.txt").dialog())});
    clashes += mnemonicClashes(
        "driver editor",
        {GTK_WIDGET(DriverEditor(sources, src.vfs.get(), "", nullptr).getDialog())});
    clashes +=
        mnemonicClashes("select component",
                        {GTK_WIDGET(SelectComponent(sources, src.vfs.get(), nullptr).getDialog())});
    {
        TextEditor editor(context, _("Report"));
        clashes += clashesOfNextDialog("text editor", [&] { editor.show("text"); });
    }
    {
        gtk::ProgressBox box(nullptr, gtk::ProgressBox::MODE_FILES, 100, 0, 600);
        clashes += mnemonicClashes("progress box", {GTK_WIDGET(box.getDialog())});
    }
    const char* const copies[] = {GTK_STOCK_GO_BACK, GTK_STOCK_GO_FORWARD, nullptr};
    clashes += mnemonicClashes(
        "button column", {GTK_WIDGET(ButtonColumnDialog(nullptr, "FAT", copies).getDialog())});
    {
        gtk::OwnedDialog confirmation(gtk::newRecoverConfirmation(nullptr, "Selected"));
        clashes += mnemonicClashes("recover confirmation", {GTK_WIDGET(confirmation.get())});
    }
    // The message boxes with their check boxes.
    for (const auto& box :
         {std::make_pair(int(MESSAGE_QUESTION), _("_Don't ask me again")),
          std::make_pair(int(MESSAGE_QUESTION), _("Yes To _All")),
          std::make_pair(int(MESSAGE_INFO_OK), _("_View Recovered Files Report Now"))})
        clashes += clashesOfNextDialog(
            box.second, [&] { gtk::runMessageDialog(box.first, "?", nullptr, true, box.second); });
    clashes += clashesOfNextDialog("preferences",
                                   [] { runPreferencesDialog(nullptr, Preferences::instance()); });
    clashes +=
        clashesOfNextDialog("scan type", [] { gtk::WizardPageScanner::selectScanType(nullptr); });
    clashes += clashesOfNextDialog("text entry", [] {
        std::string value = "x";
        textEntryDialog(nullptr, "Folder", value, _("_ID"), nullptr);
    });
    clashes += clashesOfNextDialog("update", [] {
        offerUpdate(nullptr, UpdateInfo{"2.0", "http://127.0.0.1/x", 10, "http://127.0.0.1/n"},
                    "1.0");
    });
    // The wizard's source page with the menu of its sources, and its scan page.
    {
        gtk::Wizard wizard(nullptr);
        gtk::WizardPageDrives page(&wizard, gtk::WizardPageDrives::SOURCE, &context, &sources,
                                   src.vfs.get(), false);
        clashes += clashesOfNextDialog(
            "source page", [&] { page.run(); },
            [&] { return std::vector<GtkWidget*>{page.getTree().getMenu()}; });
    }
    {
        gtk::Wizard wizard(nullptr);
        gtk::WizardPageScanner page(&wizard, &analyzer, &context);
        clashes += clashesOfNextDialog("scan page", [&] { page.run(); });
    }
    // The file-system page, with Back, and the structure view of a FAT and an
    // NTFS volume with all their structures found.
    {
        gtk::Wizard wizard(nullptr);
        gtk::WizardPageSelectFs page(&wizard, &analyzer, &context, true);
        clashes += clashesOfNextDialog("file-system page", [&] { page.run(); });
        for (const u8 type : {0x0B, 0x07}) {
            FsCandidate found;
            found.hasPartitionEntry = found.hasBootSector = found.hasBootBackup = true;
            found.partitionType = type;
            found.hasNtfsVolume = type == 0x07;
            found.hasFats = found.fatFound = found.fatMirrorFound = found.hasRootDir = type != 0x07;
            clashes +=
                clashesOfNextDialog("structure view", [&] { page.showComponentsDialog(found); });
        }
    }
    EXPECT_EQ(clashes, "");
}

// Five-digit counts, and three-digit counts of NTFS system records (349 NTFS
// files once showed as "349 (!" in Japanese): every counter shows its whole
// text at the window's default size, in English too.
TEST_P(TranslatedWindowsTest, TheScanPageShowsItsCountersWhole) {
    for (u32 lba = 0; lba < 999; ++lba)
        analyzer.getScanResults().ntfsSystemRecords.insert({lba, {NTFS_MFT_RECORD, 4, 262144}});
    gtk::Wizard wizard(nullptr);
    gtk::WizardPageScanner page(&wizard, &analyzer, &context);
    std::string cut;
    DialogScript script;
    script.then(DialogScript::anyDialog(), [&](GtkDialog*) {
        // At once, not on the clock of the expander's animation.
        g_object_set(gtk_settings_get_default(), "gtk-enable-animations", FALSE, nullptr);
        gtk_expander_set_expanded(GTK_EXPANDER(page.getExpander()), TRUE);
        g_object_set(gtk_settings_get_default(), "gtk-enable-animations", TRUE, nullptr);
        for (u64 kind = InterfaceCallback::FOUND_PARTITION_TABLES;
             kind <= InterfaceCallback::FOUND_CBR_FILES; ++kind)
            page.setPosition(kind, 99999);
    });
    // Once the counters are laid out: the window grew taller, and its new size
    // comes back from the X server.
    script.then(DialogScript::anyDialog(), [&](GtkDialog* d) {
        GtkWidget* last = GTK_WIDGET(page.getCounter(gtk::WizardPageScanner::COUNTER_COUNT - 1));
        for (int tries = 0; last->allocation.width <= 1 && tries < 200; ++tries) {
            gdk_display_sync(gdk_display_get_default());
            guitest::pumpEvents();
            g_usleep(10000);
        }
        int width = 0;
        int defaultWidth = 0;
        gtk_window_get_size(GTK_WINDOW(d), &width, nullptr);
        gtk_window_get_default_size(GTK_WINDOW(d), &defaultWidth, nullptr);
        EXPECT_EQ(width, defaultWidth);
        for (int c = 0; c < gtk::WizardPageScanner::COUNTER_COUNT; ++c) {
            GtkEntry* counter = page.getCounter(c);
            int textWidth = 0;
            pango_layout_get_pixel_size(gtk_entry_get_layout(counter), &textWidth, nullptr);
            // The text area less the entry's inner border (2 pixels a side
            // unless the style sets one).
            int room = 0;
            gdk_drawable_get_size(counter->text_area, &room, nullptr);
            const GtkBorder* inner = gtk_entry_get_inner_border(counter);
            room -= inner ? inner->left + inner->right : 4;
            if (textWidth > room)
                cut += std::string(gtk_entry_get_text(counter)) + " in " + std::to_string(room) +
                       " of " + std::to_string(textWidth) + " pixels\n";
        }
        guitest::sendDelete(GTK_WIDGET(d));
    });
    page.run();
    EXPECT_TRUE(script.done());
    EXPECT_EQ(cut, "");
}

// The structure view's lines end in the same status word: "7 Unterverzeichnisse
// - gefunden" once stood apart from "Bootsektor - Gefunden" in German.
TEST_P(TranslatedWindowsTest, TheStructureViewSaysFoundAlike) {
    const std::string subdirectories = _("Subdirectories - Found");
    const std::string found = std::string(" - ") + _("Found");
    ASSERT_GE(subdirectories.size(), found.size());
    EXPECT_EQ(subdirectories.substr(subdirectories.size() - found.size()), found);
}

// The labels of a dump ("Label:\t", "Label: ", "Label {") that stand in
// English in its translation: each line of the English dump against the same
// line of the translated one.
std::string englishLabels(const std::string& english, const std::string& translated) {
    // Words that are the same in the language (names and abbreviations).
    static const char* const SAME[] = {"VCN",    "Node VCN", "Start VCN", "Flags",
                                       "Offset", "Index",    "Version",   "Name",
                                       "Link",   "Status",   "Cluster"};
    std::istringstream e(english);
    std::istringstream t(translated);
    std::string found;
    std::string el;
    std::string tl;
    while (std::getline(e, el) && std::getline(t, tl)) {
        const std::size_t start = el.find_first_not_of(" \t-");
        std::size_t end = std::string::npos;
        for (const char* mark : {":\t", ": ", " {", " ["})
            end = std::min(end, el.find(mark));
        if (start == std::string::npos || end == std::string::npos || end <= start)
            continue;
        const std::string label = el.substr(start, end - start);
        bool same = false;
        for (const char* word : SAME)
            same = same || label == word;
        if (!same && label.find_first_of("abcdefghijklmnopqrstuvwxyz") != std::string::npos &&
            tl.find(label) != std::string::npos)
            found += "\"" + label + "\" in " + tl + "\n";
    }
    return found;
}

// Properties of a FAT root, file and folder and the FILE records of an NTFS
// volume speak the language in every label, and show no number for a value
// that is not there (a folder's size, the root's index, time and parent).
TEST_P(TranslatedWindowsTest, PropertiesDumpsHaveNoEnglishLabel) {
    testutil::TempDir dir;
    testutil::FatImage fat(dir.file("fat.img"), {});
    fat.makeFolder("DOCS");
    fat.addFile("DOCS/A.TXT", "abc");
    auto volume = testutil::openVolume(fat.path(), 0);
    auto map = testutil::buildTree(*volume);
    testutil::NtfsImage ntfs(dir.file("ntfs.img"), {});
    const std::string boot = testutil::readAt(ntfs.path(), 0, 512);
    const u64 mftOffset = (boot[BSN_MFT_CLUSTER] & 0xFFu) * u64{4096} +
                          (boot[BSN_MFT_CLUSTER + 1] & 0xFFu) * u64{4096} * 256;
    // Properties of the root, of the nodes below it, then the FILE records of
    // $MFT and of the root folder.
    auto dumps = [&] {
        std::ostringstream text;
        map->printNodeInformation(text, tree::START_POSITION);
        tree::Folder* root = map->getFolder(map->getRootAddress());
        for (u32 i = 0; i < root->size(); ++i) {
            map->printNodeInformation(text, tree::MapPosition{map->getRootAddress(), i});
            if (tree::Folder* docs = map->getFolder(root->node(i).getAddress()))
                for (u32 j = 0; j < docs->size(); ++j)
                    map->printNodeInformation(text,
                                              tree::MapPosition{root->node(i).getAddress(), j});
        }
        for (u64 record : {0, 5}) {
            std::string bytes = testutil::readAt(ntfs.path(), mftOffset + record * 1024, 1024);
            dumpNtfsFileRecord(text, reinterpret_cast<u8*>(&bytes[0]), 1024);
        }
        return text.str();
    };
    const std::string translated = dumps();
    std::string english;
    {
        ScopedLanguage inEnglish(ENGLISH);
        english = dumps();
    }
    ASSERT_NE(english.find("Entry first cluster"), std::string::npos) << english;
    ASSERT_NE(english.find("Stream Length"), std::string::npos) << english;
    // The marks of what is not there (an index, a time, the root's parent)
    // are no numbers to show.
    for (const char* mark : {"18446744073709551", "4294967295"})
        EXPECT_EQ(translated.find(mark), std::string::npos) << mark << '\n' << translated;
    if (GetParam().language != 0) {
        EXPECT_EQ(englishLabels(english, translated), "");
    }
    // A label is worded whole, not word by word ("Übergeordnet Dateireferenz").
    EXPECT_NE(translated.find(std::string(_("Parent File Reference")) + ":\t"), std::string::npos);
}

// In Properties the values of a block start in one column however long its
// labels are in the language ("Verknüpfung:", "インデックス:" took a second tab
// stop where "Link:" takes the first), and each starts past its label.
TEST_P(TranslatedWindowsTest, PropertiesValuesShareOneColumn) {
    testutil::TempDir dir;
    testutil::FatImage fat(dir.file("fat.img"), {});
    fat.addFile("A.TXT", "abc");
    auto volume = testutil::openVolume(fat.path(), 0);
    auto map = testutil::buildTree(*volume);
    std::ostringstream text;
    map->printNodeInformation(text, tree::MapPosition{map->getRootAddress(), 0});
    TextEditor editor(context, "Properties");
    std::string misplaced;
    int lines = 0;
    DialogAnswer answer([&](GtkDialog* d) {
        GtkTextView* view = editor.getView();
        int blockLine = -2;
        int column = -1;
        for (const LabelLine& line : labelLines(editor.getText())) {
            GtkTextIter at;
            GdkRectangle label;
            GdkRectangle value;
            gtk_text_buffer_get_iter_at_line_offset(editor.getBuffer(), &at, line.line,
                                                    g_utf8_strlen(line.label.c_str(), -1));
            gtk_text_view_get_iter_location(view, &at, &label);
            gtk_text_iter_forward_chars(&at, line.tabs);
            gtk_text_view_get_iter_location(view, &at, &value);
            if (line.line != blockLine + 1)
                column = value.x;
            if (value.x != column || value.x <= label.x)
                misplaced += line.label + " " + std::to_string(value.x) + "\n";
            blockLine = line.line;
            ++lines;
        }
        guitest::sendDelete(GTK_WIDGET(d));
    });
    editor.show(text.str(), TextEditor::Layout::LABEL_COLUMNS);
    EXPECT_TRUE(answer.answered());
    EXPECT_GE(lines, 6) << editor.getText();
    EXPECT_EQ(misplaced, "") << editor.getText();
}

std::string languageName(const ::testing::TestParamInfo<Language>& info) {
    const char* const names[] = {"English", "German", "Japanese"};
    return names[info.param.language];
}

INSTANTIATE_TEST_SUITE_P(Languages, TranslatedWindowsTest,
                         ::testing::Values(ENGLISH, GERMAN, JAPANESE), languageName);

} // namespace
