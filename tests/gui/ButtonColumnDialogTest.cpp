#include "gui/ButtonColumnDialog.h"

#include "tests/gui/GuiTest.h"

namespace {

using guitest::DialogScript;

class ButtonColumnDialogTest : public guitest::GuiTest {};

TEST_F(ButtonColumnDialogTest, EachButtonAnswersItsIndexAndEverythingElseNothing) {
    const char* const copies[] = {"_FAT", "FAT _Mirror", nullptr};
    const struct {
        const char* press; // a button's label, or null to close the window
        int answer;
    } cases[] = {{"_FAT", 0}, {"FAT _Mirror", 1}, {GTK_STOCK_CANCEL, -1}, {nullptr, -1}};
    for (const auto& c : cases) {
        DialogScript script;
        script.on("Select FAT", [&c](GtkDialog* d) {
            if (c.press)
                gtk_button_clicked(GTK_BUTTON(guitest::findButton(GTK_WIDGET(d), c.press)));
            else
                guitest::sendDelete(GTK_WIDGET(d));
        });
        EXPECT_EQ(ButtonColumnDialog(nullptr, "Select FAT", copies).run(), c.answer)
            << (c.press ? c.press : "closed");
        EXPECT_TRUE(script.done());
    }
}

TEST_F(ButtonColumnDialogTest, TheWindowIsWideEnoughForItsTitle) {
    // Buttons far narrower than the title: the title bar must still show it.
    const char* const buttons[] = {"_A", "_B", nullptr};
    const char* title = "Select the copy of the table to show";
    ButtonColumnDialog chooser(nullptr, title, buttons);
    GtkWidget* window = GTK_WIDGET(chooser.getDialog());
    gtk_widget_show(window);
    guitest::pumpEvents();
    PangoLayout* layout = gtk_widget_create_pango_layout(window, title);
    int textWidth = 0;
    int lineHeight = 0;
    pango_layout_get_pixel_size(layout, &textWidth, &lineHeight);
    g_object_unref(layout);
    // The bar's icon and its three buttons stand beside the title.
    EXPECT_GE(window->allocation.width, textWidth + 4 * lineHeight);
}

} // namespace
