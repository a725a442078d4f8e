#include "gui/TextEntryDialog.h"

#include "tests/gui/GuiTestSupport.h"

#include <string>

using guitest::DialogAnswer;

namespace {

class TextEntryDialogTest : public guitest::GuiTest {
protected:
    static GtkEntry* entryOf(GtkDialog* d) {
        auto entries = guitest::findWidgets(GTK_WIDGET(d), GTK_TYPE_ENTRY);
        return entries.empty() ? nullptr : GTK_ENTRY(entries.front());
    }
};

TEST_F(TextEntryDialogTest, EnterConfirmsTheTypedText) {
    std::string value = "New Folder";
    std::string initial;
    std::string title;
    bool hasHint = false;
    DialogAnswer answerer([&](GtkDialog* d) {
        GtkEntry* entry = entryOf(d);
        ASSERT_NE(entry, nullptr);
        initial = gtk_entry_get_text(entry);
        title = gtk_window_get_title(GTK_WINDOW(d));
        for (GtkWidget* l : guitest::findWidgets(GTK_WIDGET(d), GTK_TYPE_LABEL))
            hasHint = hasHint || std::string(gtk_label_get_text(GTK_LABEL(l))) == "No slashes";
        gtk_entry_set_text(entry, "Photos");
        gtk_widget_activate(GTK_WIDGET(entry));
    });
    EXPECT_TRUE(textEntryDialog(nullptr, "Create Directory", value, "Name", "No slashes"));
    EXPECT_EQ(initial, "New Folder");
    EXPECT_EQ(title, "Create Directory");
    EXPECT_TRUE(hasHint);
    EXPECT_EQ(value, "Photos");
}

TEST_F(TextEntryDialogTest, CancelLeavesTheValue) {
    std::string value = "keep";
    DialogAnswer answerer([&](GtkDialog* d) {
        gtk_entry_set_text(entryOf(d), "changed");
        gtk_button_clicked(GTK_BUTTON(guitest::findButton(GTK_WIDGET(d), GTK_STOCK_CANCEL)));
    });
    EXPECT_FALSE(textEntryDialog(nullptr, "Name", value, nullptr, nullptr));
    EXPECT_EQ(value, "keep");

    DialogAnswer closer([&](GtkDialog* d) { guitest::sendDelete(GTK_WIDGET(d)); });
    EXPECT_FALSE(textEntryDialog(nullptr, "Name", value, nullptr, nullptr));
    EXPECT_EQ(value, "keep");
}

TEST_F(TextEntryDialogTest, OkButtonConfirms) {
    std::string value;
    DialogAnswer answerer([&](GtkDialog* d) {
        gtk_entry_set_text(entryOf(d), "x");
        gtk_button_clicked(GTK_BUTTON(guitest::findButton(GTK_WIDGET(d), GTK_STOCK_OK)));
    });
    EXPECT_TRUE(textEntryDialog(nullptr, "Name", value, "Name", nullptr));
    EXPECT_EQ(value, "x");
}

} // namespace
