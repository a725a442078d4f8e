#include "gui/SelectByMaskDialog.h"

#include "tests/gui/GuiTest.h"

namespace {

class SelectByMaskDialogTest : public guitest::GuiTest {};

GtkEntry* entryOf(GtkDialog* dialog) {
    std::vector<GtkWidget*> entries = guitest::findWidgets(GTK_WIDGET(dialog), GTK_TYPE_ENTRY);
    return entries.empty() ? nullptr : GTK_ENTRY(entries[0]);
}

TEST_F(SelectByMaskDialogTest, AnEmptyMaskKeepsTheDialogOpen) {
    std::string mask = "*.txt";
    gtk::SelectByMask::Dialog dialog(nullptr, mask);
    gtk_widget_show(GTK_WIDGET(dialog.dialog()));
    gtk_entry_set_text(dialog.entry(), "");
    EXPECT_FALSE(dialog.take(mask));
    EXPECT_TRUE(gtk_widget_is_focus(GTK_WIDGET(dialog.entry())));
    EXPECT_EQ("*.txt", mask);
}

TEST_F(SelectByMaskDialogTest, OffersTheLastAcceptedMask) {
    gtk::SelectByMask record;
    EXPECT_EQ("*.txt", record.mask());
    std::string offered;
    {
        guitest::DialogAnswer answer([&offered](GtkDialog* dialog) {
            offered = gtk_entry_get_text(entryOf(dialog));
            gtk_entry_set_text(entryOf(dialog), "*bank*.*");
            gtk_dialog_response(dialog, GTK_RESPONSE_ACCEPT);
        });
        EXPECT_TRUE(record.run(nullptr));
    }
    EXPECT_EQ("*.txt", offered);
    EXPECT_EQ("*bank*.*", record.mask());
    {
        guitest::DialogAnswer answer([&offered](GtkDialog* dialog) {
            offered = gtk_entry_get_text(entryOf(dialog));
            gtk_entry_set_text(entryOf(dialog), "*.doc");
            gtk_dialog_response(dialog, GTK_RESPONSE_REJECT);
        });
        EXPECT_FALSE(record.run(nullptr));
    }
    EXPECT_EQ("*bank*.*", offered);
    EXPECT_EQ("*bank*.*", record.mask());
}

} // namespace
