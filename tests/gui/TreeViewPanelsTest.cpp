#include "gui/TreeViewPanels.h"

#include "core/Progress.h"
#include "tests/gui/GuiTest.h"
#include "tests/support/ScriptedMessages.h"

#include <stdexcept>

namespace {

class TreeViewPanelsTest : public guitest::GuiTest {};

TEST_F(TreeViewPanelsTest, GuardKeepsFailuresOutOfGtk) {
    testutil::ScriptedMessages messages;
    gtk::guardCallback("test", [] { throw InterruptedException(); });
    EXPECT_TRUE(messages.asked().empty());
    gtk::guardCallback("test", [] { throw std::runtime_error("Map(<12>)"); });
    ASSERT_EQ(1u, messages.asked().size());
    EXPECT_EQ(MESSAGE_ERROR, messages.asked()[0].kind);
    EXPECT_EQ("Exception: Map(&lt;12&gt;)", messages.asked()[0].text);
    gtk::guardCallback("test", [] { throw 42; });
    ASSERT_EQ(2u, messages.asked().size());
    EXPECT_EQ("Unknown exception", messages.asked()[1].text);
    bool ran = false;
    gtk::guardCallback("test", [&ran] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST_F(TreeViewPanelsTest, TheFourIconsAreDistinctEvenWithoutStockItems) {
    GtkWidget* widget = gtk_tree_view_new();
    g_object_ref_sink(widget);
    {
        gtk::PaneIcons icons(widget, true);
        EXPECT_NE(nullptr, icons.folder(false));
        EXPECT_NE(icons.folder(false), icons.folder(true));
        EXPECT_NE(icons.file(false), icons.file(true));
        EXPECT_NE(icons.folder(false), icons.file(false));
        EXPECT_EQ(icons.folder(true), icons.of(true, true));
        gtk::PaneIcons folderOnly(widget, false);
        EXPECT_EQ(nullptr, folderOnly.file(false));
    }
    g_object_unref(widget);
}

TEST_F(TreeViewPanelsTest, ANewPopupReplacesTheLastOne) {
    gtk::PopupMenu popup;
    GtkMenu* first = popup.start();
    int runs = 0;
    GtkWidget* item = popup.add("_Open", true, [&runs] { ++runs; });
    GtkWidget* label = gtk_bin_get_child(GTK_BIN(item));
    EXPECT_STREQ("Open", gtk_label_get_text(GTK_LABEL(label)));
    gtk_menu_item_activate(GTK_MENU_ITEM(item));
    EXPECT_EQ(1, runs);
    g_object_ref(first);
    GtkMenu* second = popup.start();
    EXPECT_NE(first, second);
    // The first menu was destroyed: its items are gone.
    GList* children = gtk_container_get_children(GTK_CONTAINER(first));
    EXPECT_EQ(nullptr, children);
    g_list_free(children);
    g_object_unref(first);
    popup.addSeparator();
    EXPECT_EQ(second, popup.get());
}

} // namespace
