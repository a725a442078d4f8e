#include "gui/ButtonColumnDialog.h"

#include "tests/gui/GuiTestSupport.h"

using guitest::DialogAnswer;
using guitest::findButton;

namespace {

class ButtonColumnDialogTest : public guitest::GuiTest {
protected:
    int choose(const std::function<void(GtkDialog*)>& answer) {
        const char* const ids[] = {GTK_STOCK_OPEN, "_Second Copy", nullptr};
        ButtonColumnDialog dialog(nullptr, "Choose", ids);
        DialogAnswer answerer(answer);
        int result = dialog.run();
        EXPECT_TRUE(answerer.answered());
        return result;
    }
    static std::function<void(GtkDialog*)> click(const char* label) {
        return [label](GtkDialog* d) {
            GtkWidget* button = findButton(GTK_WIDGET(d), label);
            ASSERT_NE(button, nullptr) << label;
            gtk_button_clicked(GTK_BUTTON(button));
        };
    }
};

TEST_F(ButtonColumnDialogTest, EachButtonAnswersItsIndex) {
    EXPECT_EQ(choose(click(GTK_STOCK_OPEN)), 0);
    EXPECT_EQ(choose(click("_Second Copy")), 1);
}

TEST_F(ButtonColumnDialogTest, CancelAndClosingAnswerMinusOne) {
    EXPECT_EQ(choose(click(GTK_STOCK_CANCEL)), -1);
    EXPECT_EQ(choose([](GtkDialog* d) { guitest::sendDelete(GTK_WIDGET(d)); }), -1);
}

TEST_F(ButtonColumnDialogTest, ButtonsStandInOneColumnOutsideTheActionArea) {
    const char* const ids[] = {GTK_STOCK_YES, GTK_STOCK_NO, nullptr};
    GtkWidget* parent = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    ButtonColumnDialog dialog(GTK_WINDOW(parent), "Choose", ids);
    GtkDialog* d = dialog.getDialog();
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(d)), GTK_WINDOW(parent));
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(d)), "Choose");
    auto boxes = guitest::findWidgets(GTK_WIDGET(d), GTK_TYPE_VBUTTON_BOX);
    ASSERT_EQ(boxes.size(), 1u);
    auto buttons = guitest::findWidgets(boxes[0], GTK_TYPE_BUTTON);
    ASSERT_EQ(buttons.size(), 3u);
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(buttons[2])), GTK_STOCK_CANCEL);
    EXPECT_TRUE(guitest::findWidgets(gtk_dialog_get_action_area(d), GTK_TYPE_BUTTON).empty());
    gtk_widget_destroy(parent);
}

} // namespace
