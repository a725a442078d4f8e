#include "gui/SelectByMaskDialog.h"

#include "tests/gui/GuiTest.h"

namespace {

class SelectByMaskDialogTest : public guitest::GuiTest {};

TEST_F(SelectByMaskDialogTest, AnEmptyMaskKeepsTheDialogOpen) {
    std::string mask = "*.txt";
    gtk::SelectByMask::Dialog dialog(nullptr, mask);
    gtk_widget_show(GTK_WIDGET(dialog.dialog()));
    gtk_entry_set_text(dialog.entry(), "");
    EXPECT_FALSE(dialog.take(mask));
    EXPECT_TRUE(gtk_widget_is_focus(GTK_WIDGET(dialog.entry())));
    EXPECT_EQ("*.txt", mask);
}

} // namespace
