#include "gui/ResponseButton.h"

#include "tests/gui/GuiTestSupport.h"

namespace {

class ResponseButtonTest : public guitest::GuiTest {};

TEST_F(ResponseButtonTest, ClickAnswersTheDialogAfterTheObjectIsGone) {
    GtkWidget* dialog = gtk_dialog_new();
    GtkWidget* button = gtk_button_new_with_label("Load");
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), button, FALSE,
                       FALSE, 0);
    ResponseButton(GTK_DIALOG(dialog), 100).connect(button);
    int seen = 0;
    g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkDialog*, int response, gpointer data) {
                         *static_cast<int*>(data) = response;
                     }),
                     &seen);
    gtk_button_clicked(GTK_BUTTON(button));
    EXPECT_EQ(seen, 100);
    gtk_widget_destroy(dialog);
}

} // namespace
