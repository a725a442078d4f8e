#include "gui/DrivesTree.h"

#include "core/Text.h"
#include "tests/gui/GuiTest.h"
#include "tests/support/ScriptedMessages.h"

#include <cstring>
#include <filesystem>

using guitest::descrHas;
using guitest::descrValue;
using guitest::FakeSources;
using testutil::ScriptedMessages;
using Strings = std::vector<std::string>;

namespace {

class DrivesTreeTest : public guitest::GuiTest {
protected:
    void setUpWindows() override {
        window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(window), 500, 400);
        src.vfs->listChildren("", sources);
    }
    void TearDown() override {
        tree.reset();
        if (window)
            gtk_widget_destroy(window);
    }
    gtk::DrivesTree& make(bool destination = false, bool hideCustom = false) {
        tree = std::make_unique<gtk::DrivesTree>(&sources, src.vfs.get());
        GtkWidget* box = gtk_vbox_new(FALSE, 0);
        gtk_box_pack_start(GTK_BOX(box),
                           tree->createWidget(GTK_WINDOW(window), destination, hideCustom), TRUE,
                           TRUE, 0);
        advanced = tree->createAdvancedButton();
        gtk_box_pack_start(GTK_BOX(box), advanced, FALSE, FALSE, 0);
        gtk_container_add(GTK_CONTAINER(window), box);
        gtk_widget_show_all(window);
        return *tree;
    }
    GtkTreeModel* model() const { return gtk_tree_view_get_model(tree->getView()); }
    Strings column(GtkTreeIter* parent, int c) const {
        return guitest::modelStrings(model(), c, parent);
    }
    Strings ids(GtkTreeIter* parent) const {
        Strings out;
        for (const std::string& d : column(parent, gtk::DrivesTree::COLUMN_DESCRIPTOR))
            out.push_back(descrValue(d, "id"));
        return out;
    }
    // The top-level row with that id.
    GtkTreeIter top(const std::string& id) const {
        GtkTreeIter it;
        EXPECT_TRUE(gtk_tree_model_get_iter_first(model(), &it));
        do {
            gchar* d = nullptr;
            gtk_tree_model_get(model(), &it, gtk::DrivesTree::COLUMN_DESCRIPTOR, &d, -1);
            const bool match = descrValue(d ? d : "", "id") == id;
            g_free(d);
            if (match)
                return it;
        } while (gtk_tree_model_iter_next(model(), &it));
        ADD_FAILURE() << "no row " << id;
        return it;
    }
    void expand(GtkTreeIter row) {
        GtkTreePath* path = gtk_tree_model_get_path(model(), &row);
        gtk_tree_view_expand_row(tree->getView(), path, FALSE);
        gtk_tree_path_free(path);
    }
    void collapse(GtkTreeIter row) {
        GtkTreePath* path = gtk_tree_model_get_path(model(), &row);
        gtk_tree_view_collapse_row(tree->getView(), path);
        gtk_tree_path_free(path);
    }

    FakeSources src;
    Strings sources;
    GtkWidget* window = nullptr;
    GtkWidget* advanced = nullptr;
    std::unique_ptr<gtk::DrivesTree> tree;
};

TEST_F(DrivesTreeTest, ListsTheMachineWithChoosableDevicesAndExpandersWhereThereAreChildren) {
    make().fill(sources);
    EXPECT_EQ(ids(nullptr), (Strings{src.dev("sda"), src.dev("fd0"), "/", src.mount.path()}));
    const Strings rows = column(nullptr, gtk::DrivesTree::COLUMN_DESCRIPTOR);
    EXPECT_TRUE(descrHas(rows[0], "ok"));
    EXPECT_TRUE(descrHas(rows[1], "ok"));
    EXPECT_FALSE(descrHas(rows[2], "ok")); // folders are not sources
    EXPECT_FALSE(descrHas(rows[3], "ok"));
    EXPECT_EQ(column(nullptr, gtk::DrivesTree::COLUMN_TEXT)[0],
              "DISK1-A7 <span foreground=\"blue\"><b>" + formatSize(1 << 21) +
                  " Drive</b></span> <i>(" + src.dev("sda") + ")</i>");

    GtkTreeIter sda = top(src.dev("sda"));
    GtkTreeIter fd0 = top(src.dev("fd0"));
    EXPECT_EQ(column(&sda, gtk::DrivesTree::COLUMN_TEXT), Strings{"&lt;empty&gt;"});
    EXPECT_FALSE(gtk_tree_model_iter_has_child(model(), &fd0));

    expand(sda);
    EXPECT_EQ(ids(&sda), Strings{src.dev("sda1")});
    EXPECT_TRUE(descrHas(column(&sda, gtk::DrivesTree::COLUMN_DESCRIPTOR)[0], "ok"));
    EXPECT_EQ(tree->getSelectedPath(), src.dev("sda")); // expanding puts the cursor there

    GtkTreeIter mount = top(src.mount.path());
    expand(mount);
    EXPECT_EQ(ids(&mount), (Strings{src.imagePath(), src.folder()}));
    const Strings inside = column(&mount, gtk::DrivesTree::COLUMN_DESCRIPTOR);
    EXPECT_TRUE(descrHas(inside[0], "ok")); // an image file is a source
    EXPECT_FALSE(descrHas(inside[1], "ok"));
}

TEST_F(DrivesTreeTest, EveryExpansionListsAfreshAndAnEmptyOneShowsThePlaceholder) {
    make().fill(sources);
    tree->selectPath(src.mount.path() + "|" + src.folder());
    GtkTreeIter mount = top(src.mount.path());
    GtkTreeIter folder;
    ASSERT_TRUE(gtk_tree_model_iter_nth_child(model(), &folder, &mount, 1));
    std::filesystem::remove(src.folder() + "/inner.bin");
    expand(folder);
    EXPECT_EQ(column(&folder, gtk::DrivesTree::COLUMN_TEXT), Strings{"&lt;empty&gt;"});
    EXPECT_EQ(column(&folder, gtk::DrivesTree::COLUMN_DESCRIPTOR), Strings{""});

    collapse(folder);
    testutil::writeAll(src.folder() + "/new.bin", "x");
    expand(folder);
    EXPECT_EQ(ids(&folder), Strings{src.folder() + "/new.bin"});
}

TEST_F(DrivesTreeTest, DestinationModeListsOnlyFoldersAndFilesAndOnlyFoldersAreChoosable) {
    sources.push_back("type=range|id=r1|components=x|size=5|custom=");
    make(true, true).fill(sources);
    EXPECT_EQ(ids(nullptr), (Strings{"/", src.mount.path()}));
    for (const std::string& d : column(nullptr, gtk::DrivesTree::COLUMN_DESCRIPTOR))
        EXPECT_TRUE(descrHas(d, "ok"));
    GtkTreeIter mount = top(src.mount.path());
    expand(mount);
    const Strings inside = column(&mount, gtk::DrivesTree::COLUMN_DESCRIPTOR);
    ASSERT_EQ(inside.size(), 2u);
    EXPECT_FALSE(descrHas(inside[0], "ok")); // disk.img
    EXPECT_TRUE(descrHas(inside[1], "ok"));  // folder
    // No software-driver commands here.
    EXPECT_EQ(tree->getEditItem(), nullptr);
    EXPECT_EQ(tree->getRemoveItem(), nullptr);
}

TEST_F(DrivesTreeTest, MenuFollowsTheSelectedRow) {
    sources.push_back("type=range|id=r1|components=x|size=5|custom=");
    make().fill(sources);
    EXPECT_FALSE(gtk_widget_get_sensitive(tree->getInformationItem()));
    tree->selectById(src.dev("sda"));
    EXPECT_TRUE(gtk_widget_get_sensitive(tree->getInformationItem()));
    EXPECT_FALSE(gtk_widget_get_sensitive(tree->getCreateDirectoryItem()));
    EXPECT_FALSE(gtk_widget_get_sensitive(tree->getEditItem()));
    EXPECT_FALSE(gtk_widget_get_sensitive(tree->getRemoveItem()));
    tree->selectById("r1");
    EXPECT_TRUE(gtk_widget_get_sensitive(tree->getEditItem()));
    EXPECT_TRUE(gtk_widget_get_sensitive(tree->getRemoveItem()));
    tree->selectPath(src.mount.path());
    EXPECT_TRUE(gtk_widget_get_sensitive(tree->getCreateDirectoryItem()));

    gtk_button_clicked(GTK_BUTTON(advanced));
    EXPECT_TRUE(gtk_widget_get_visible(tree->getMenu()));
    GtkWidget* active = GTK_MENU_SHELL(tree->getMenu())->active_menu_item;
    EXPECT_EQ(active, tree->getInformationItem());
    gtk_menu_popdown(GTK_MENU(tree->getMenu()));
}

// A model name from the disk is escaped; the fields that are there follow.
TEST_F(DrivesTreeTest, InformationListsThePresentFieldsEscaped) {
    make().fill({"type=drive|id=//|model=M&M|size=10"});
    ScriptedMessages messages;
    tree->selectPath("//");
    tree->showInformation();
    ASSERT_EQ(messages.asked().size(), 1u);
    auto field = [](const char* label, const char* v) {
        return std::string("\n<span foreground='darkgreen'><i>") + label + "</i></span>: " + v;
    };
    EXPECT_EQ(messages.asked()[0].kind, MESSAGE_INFO_CLOSE);
    EXPECT_EQ(messages.asked()[0].text,
              "M&amp;M " + formatSize(10) + " Drive (//)\n" + field("Type", "drive") +
                  field("Model Number", "M&amp;M") + field("Size (in bytes)", "10"));
}

// A name that would leave the folder is refused with EINVAL and the cursor
// stays; a plain one is made and selected.
TEST_F(DrivesTreeTest, CreateDirectoryMakesPlainNamesAndRefusesThoseThatLeaveTheFolder) {
    make(true, true).fill(sources);
    const std::string folder = src.mount.path() + "|" + src.folder();
    tree->selectPath(folder);
    ScriptedMessages messages;
    for (const char* name : {"../escaped", "..", "a|b", "Recovered"}) {
        guitest::DialogAnswer answer([name](GtkDialog* d) {
            auto entries = guitest::findWidgets(GTK_WIDGET(d), GTK_TYPE_ENTRY);
            ASSERT_FALSE(entries.empty());
            gtk_entry_set_text(GTK_ENTRY(entries.front()), name);
            gtk_dialog_response(d, GTK_RESPONSE_OK);
        });
        tree->createDirectory();
        EXPECT_TRUE(std::strcmp(name, "Recovered") == 0 || tree->getSelectedPath() == folder)
            << name;
    }
    EXPECT_FALSE(std::filesystem::exists(src.mount.path() + "/escaped"));
    EXPECT_FALSE(std::filesystem::exists(src.folder() + "/a|b"));
    ASSERT_EQ(messages.asked().size(), 3u);
    EXPECT_EQ(messages.asked()[0].kind, MESSAGE_ERROR);
    EXPECT_EQ(messages.asked()[0].text, std::strerror(EINVAL));
    EXPECT_TRUE(std::filesystem::is_directory(src.folder() + "/Recovered"));
    EXPECT_EQ(tree->getSelectedPath(), folder + "|" + src.folder() + "/Recovered");
}

// A list may hold an id twice (a saved list, a source named like a driver):
// Edit and Remove take the row chosen, not the first entry of its id, and
// the cursor stays on the driver edited. So does an edit while the sources
// are listed anew under the editor (a disk came, as Add Component lists them).
TEST_F(DrivesTreeTest, DriverCommandsTakeTheSelectedRowNotTheFirstOfItsId) {
    const std::string raid = "type=raid0|id=r0|components=x|blockSize=512|size=5|custom=";
    sources.push_back(raid);
    sources.push_back("type=range|id=r0|components=" + src.imagePath() +
                      "|rangeOffset=0|rangeSize=9|custom=");
    make().fill(sources);
    auto selectLast = [this] {
        GtkTreePath* last = gtk_tree_path_new_from_indices(
            gtk_tree_model_iter_n_children(model(), nullptr) - 1, -1);
        gtk_tree_view_set_cursor(tree->getView(), last, nullptr, FALSE);
        gtk_tree_path_free(last);
    };
    selectLast();
    for (const bool refreshed : {false, true}) {
        const int size = refreshed ? 8 : 7;
        guitest::DialogAnswer answer([&](GtkDialog* d) {
            if (refreshed) {
                src.tree.addDisk("sdb", 1 << 20, "8:16", {{"device/model", "DISK2"}});
                tree->refresh();
            }
            gtk_spin_button_set_value(GTK_SPIN_BUTTON(guitest::controlOfLabel(d, "Size:")), size);
            gtk_dialog_response(d, GTK_RESPONSE_OK);
        });
        tree->editDriver();
        ASSERT_TRUE(answer.answered()) << refreshed;
        EXPECT_EQ(sources[sources.size() - 2], raid);
        EXPECT_EQ(descrValue(sources.back(), "rangeSize"), std::to_string(size));
        EXPECT_EQ(descrValue(tree->getSelectedDescriptor(), "rangeSize"), std::to_string(size));
    }
    EXPECT_TRUE(std::any_of(sources.begin(), sources.end(), [this](const std::string& d) {
        return descrValue(d, "id") == src.dev("sdb");
    }));
    selectLast();
    tree->removeDriver();
    EXPECT_EQ(sources.back(), raid);
}

} // namespace
