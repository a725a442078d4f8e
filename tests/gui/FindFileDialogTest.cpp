#include "gui/FindFileDialog.h"

#include "core/DateTime.h"
#include "tests/gui/GuiTest.h"

namespace {

// The dates are local time in the program language's form.
class FindFileDialogTest : public guitest::EnglishUtcTest {};

TEST_F(FindFileDialogTest, InvalidInputKeepsTheDialogAndFocusesTheField) {
    FindParams params;
    gtk::FindFileDialog dialog(nullptr, params);
    gtk_widget_show(GTK_WIDGET(dialog.dialog()));

    gtk_entry_set_text(dialog.maskEntry(), "");
    EXPECT_FALSE(dialog.take(params));
    EXPECT_TRUE(gtk_widget_is_focus(GTK_WIDGET(dialog.maskEntry())));

    gtk_entry_set_text(dialog.maskEntry(), "doc");
    gtk_toggle_button_set_active(dialog.dateCheck(), TRUE);
    gtk_entry_set_text(dialog.fromEntry(), "not a date");
    EXPECT_FALSE(dialog.take(params));
    EXPECT_TRUE(gtk_widget_is_focus(GTK_WIDGET(dialog.fromEntry())));

    gtk_entry_set_text(dialog.fromEntry(), "01/01/2000 00:00:00am");
    gtk_entry_set_text(dialog.toEntry(), "13/45/2000 00:00:00am");
    EXPECT_FALSE(dialog.take(params));
    EXPECT_TRUE(gtk_widget_is_focus(GTK_WIDGET(dialog.toEntry())));
    // Nothing was stored by the failed attempts.
    EXPECT_EQ("*.txt", params.mask());
    EXPECT_FALSE(params.useDates());
}

TEST_F(FindFileDialogTest, AReversedRangeIsExchanged) {
    FindParams params;
    gtk::FindFileDialog dialog(nullptr, params);
    gtk_entry_set_text(dialog.maskEntry(), ".doc");
    gtk_toggle_button_set_active(dialog.dateCheck(), TRUE);
    gtk_entry_set_text(dialog.fromEntry(), "06/01/2010 00:00:00am");
    gtk_entry_set_text(dialog.toEntry(), "01/01/2010 00:00:00am");
    ASSERT_TRUE(dialog.take(params));
    EXPECT_EQ(".doc", params.mask());
    EXPECT_TRUE(params.useDates());
    EXPECT_EQ(1262304000, params.from());
    EXPECT_EQ(1275350400, params.to());
}

} // namespace
