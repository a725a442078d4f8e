#include "gui/ButtonColumnDialog.h"

#include "tests/gui/GuiTest.h"

namespace {

class ButtonColumnDialogTest : public guitest::GuiTest {};

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
