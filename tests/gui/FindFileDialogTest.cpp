#include "gui/FindFileDialog.h"

#include "core/DateTime.h"
#include "core/Preferences.h"
#include "tests/gui/GuiTest.h"
#include "tests/support/TestUtil.h"

namespace {

class FindFileDialogTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        guitest::GuiTest::SetUp();
        // The dates are local time in the program language's form.
        Preferences::instance().language() = 0;
    }
    testutil::ScopedTimeZone zone{"UTC"};
};

TEST(FindParamsTest, DefaultsAndTheRangeTest) {
    FindParams params;
    EXPECT_EQ("*.txt", params.mask());
    EXPECT_FALSE(params.useDates());
    EXPECT_EQ(315532800, params.from());
    EXPECT_EQ(1577836800, params.to());
    EXPECT_TRUE(params.timeInRange(315532800));
    EXPECT_TRUE(params.timeInRange(1577836800));
    EXPECT_FALSE(params.timeInRange(1577836801));
    EXPECT_FALSE(params.timeInRange(315532799));
    // An entry without a time is never in range, however wide the range.
    params.setFrom(0);
    params.setTo(0x1FFFFFFFFll);
    EXPECT_FALSE(params.timeInRange(NO_TIME));
}

TEST_F(FindFileDialogTest, FirstRunShowsTheDefaults) {
    FindParams params;
    gtk::FindFileDialog dialog(nullptr, params);
    EXPECT_STREQ("*.txt", gtk_entry_get_text(dialog.maskEntry()));
    EXPECT_FALSE(gtk_toggle_button_get_active(dialog.dateCheck()));
    EXPECT_STREQ("01/01/1980 00:00:00am", gtk_entry_get_text(dialog.fromEntry()));
    EXPECT_STREQ("01/01/2020 00:00:00am", gtk_entry_get_text(dialog.toEntry()));
    EXPECT_FALSE(gtk_widget_get_sensitive(GTK_WIDGET(dialog.fromEntry())));
    EXPECT_FALSE(gtk_widget_get_sensitive(GTK_WIDGET(dialog.toEntry())));
    EXPECT_TRUE(gtk_entry_get_activates_default(dialog.maskEntry()));
    EXPECT_TRUE(gtk_entry_get_activates_default(dialog.fromEntry()));
    EXPECT_TRUE(gtk_entry_get_activates_default(dialog.toEntry()));
}

TEST_F(FindFileDialogTest, TogglingTheRangeEnablesTheDates) {
    FindParams params;
    gtk::FindFileDialog dialog(nullptr, params);
    gtk_widget_show(GTK_WIDGET(dialog.dialog()));
    gtk_toggle_button_set_active(dialog.dateCheck(), TRUE);
    EXPECT_TRUE(gtk_widget_get_sensitive(GTK_WIDGET(dialog.fromEntry())));
    EXPECT_TRUE(gtk_widget_get_sensitive(GTK_WIDGET(dialog.toEntry())));
    EXPECT_TRUE(gtk_widget_is_focus(GTK_WIDGET(dialog.fromEntry())));
    gtk_toggle_button_set_active(dialog.dateCheck(), FALSE);
    EXPECT_FALSE(gtk_widget_get_sensitive(GTK_WIDGET(dialog.fromEntry())));
}

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

TEST_F(FindFileDialogTest, WithTheRangeOffBadDatesAreStoredAndShownEmpty) {
    FindParams params;
    {
        gtk::FindFileDialog dialog(nullptr, params);
        gtk_entry_set_text(dialog.fromEntry(), "garbage");
        ASSERT_TRUE(dialog.take(params));
    }
    EXPECT_EQ(FindParams::NO_VALID_TIME, params.from());
    EXPECT_EQ(1577836800, params.to());
    // The next run shows the time that is none without failing.
    gtk::FindFileDialog again(nullptr, params);
    EXPECT_STREQ("", gtk_entry_get_text(again.fromEntry()));
}

TEST_F(FindFileDialogTest, DatesBeyond2038AreKept) {
    FindParams params;
    gtk::FindFileDialog dialog(nullptr, params);
    gtk_toggle_button_set_active(dialog.dateCheck(), TRUE);
    gtk_entry_set_text(dialog.toEntry(), "01/01/2050 00:00:00am");
    ASSERT_TRUE(dialog.take(params));
    EXPECT_EQ(2524608000ll, params.to());
    EXPECT_TRUE(params.timeInRange(2400000000u));
}

TEST_F(FindFileDialogTest, EnterConfirmsAndCancelKeepsTheOldSearch) {
    FindParams params;
    {
        guitest::DialogAnswer answer([](GtkDialog* dialog) {
            std::vector<GtkWidget*> entries =
                guitest::findWidgets(GTK_WIDGET(dialog), GTK_TYPE_ENTRY);
            ASSERT_FALSE(entries.empty());
            gtk_entry_set_text(GTK_ENTRY(entries[0]), "report");
            // Enter in the entry activates the default response.
            gtk_widget_activate(entries[0]);
        });
        EXPECT_TRUE(runFindFileDialog(nullptr, params));
        EXPECT_TRUE(answer.answered());
    }
    EXPECT_EQ("report", params.mask());
    {
        guitest::DialogAnswer answer([](GtkDialog* dialog) {
            std::vector<GtkWidget*> entries =
                guitest::findWidgets(GTK_WIDGET(dialog), GTK_TYPE_ENTRY);
            gtk_entry_set_text(GTK_ENTRY(entries[0]), "other");
            gtk_dialog_response(dialog, GTK_RESPONSE_REJECT);
        });
        EXPECT_FALSE(runFindFileDialog(nullptr, params));
    }
    EXPECT_EQ("report", params.mask());
    {
        guitest::DialogAnswer answer(
            [](GtkDialog* dialog) { guitest::sendDelete(GTK_WIDGET(dialog)); });
        EXPECT_FALSE(runFindFileDialog(nullptr, params));
    }
}

} // namespace
