#include "gui/TreeViewWidgets.h"

#include "tests/gui/GuiTestSupport.h"

namespace {

class TreeViewWidgetsTest : public guitest::GuiTest {};

TEST(TreeViewWidgetsTextTest, EscapeMarkup) {
    EXPECT_EQ("a &amp; &lt;b&gt;", gtk::escapeMarkup("a & <b>"));
    EXPECT_EQ("plain", gtk::escapeMarkup("plain"));
}

TEST_F(TreeViewWidgetsTest, OkCancelDialogAnswersAndOrders) {
    GtkDialog* dialog =
        gtk::newOkCancelDialog("T", nullptr, GTK_RESPONSE_REJECT, GTK_RESPONSE_ACCEPT);
    EXPECT_STREQ("T", gtk_window_get_title(GTK_WINDOW(dialog)));
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(dialog)));
    EXPECT_NE(nullptr, guitest::findButton(GTK_WIDGET(dialog), GTK_STOCK_OK));
    EXPECT_NE(nullptr, guitest::findButton(GTK_WIDGET(dialog), GTK_STOCK_CANCEL));
    gtk_widget_destroy(GTK_WIDGET(dialog));
}

TEST_F(TreeViewWidgetsTest, OwnedDialogForgetsADialogDestroyedElsewhere) {
    GtkWidget* parent = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk::OwnedDialog dialog(
        gtk::newOkCancelDialog("T", GTK_WINDOW(parent), GTK_RESPONSE_REJECT, GTK_RESPONSE_ACCEPT));
    ASSERT_TRUE(dialog);
    // Destroyed with its parent: the holder must not destroy it again.
    gtk_widget_destroy(parent);
    EXPECT_FALSE(dialog);
    EXPECT_EQ(GTK_RESPONSE_NONE, gtk::runDialog(dialog));
}

TEST_F(TreeViewWidgetsTest, AWrappedLabelFollowsItsWidth) {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* label = gtk_label_new("some words that wrap");
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk::wrapLabelToAllocation(label);
    gtk_container_add(GTK_CONTAINER(window), label);
    gtk_window_set_default_size(GTK_WINDOW(window), 300, 100);
    gtk_widget_show_all(window);
    ASSERT_TRUE(guitest::pumpUntil([label] {
        int width = -1;
        gtk_widget_get_size_request(label, &width, nullptr);
        return width > 0;
    }));
    GtkAllocation allocation;
    gtk_widget_get_allocation(label, &allocation);
    int width = -1;
    gtk_widget_get_size_request(label, &width, nullptr);
    EXPECT_EQ(allocation.width - 8, width);
    gtk_widget_destroy(window);
}

} // namespace
