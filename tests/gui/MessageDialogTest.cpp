#include "gui/MessageDialog.h"

#include "core/UserInterface.h"
#include "gui/ResizableLabel.h"
#include "tests/gui/GuiTest.h"

using guitest::DialogAnswer;
using guitest::findButton;
using guitest::findWidgets;

namespace {

class MessageDialogTest : public guitest::GuiTest {
protected:
    // Shows a box of `kind`, lets `answer` act on it, returns the result.
    int ask(int kind, const std::function<void(GtkDialog*)>& answer, bool defaultNo = false,
            const char* checkLabel = nullptr, const std::string& text = "Go on?",
            bool checked = false) {
        DialogAnswer answerer([&](GtkDialog* dialog) {
            auto labels = findWidgets(GTK_WIDGET(dialog), GTK_TYPE_RESIZABLE_LABEL);
            seenText = labels.empty() ? std::string()
                                      : gtk_label_get_text(resizableLabelGetLabel(labels.front()));
            seenCheck = !findWidgets(GTK_WIDGET(dialog), GTK_TYPE_CHECK_BUTTON).empty();
            answer(dialog);
        });
        int result = gtk::runMessageDialog(kind, text, nullptr, defaultNo, checkLabel, checked);
        EXPECT_TRUE(answerer.answered());
        return result;
    }

    static std::function<void(GtkDialog*)> click(const char* stockId) {
        return [stockId](GtkDialog* dialog) {
            GtkWidget* button = findButton(GTK_WIDGET(dialog), stockId);
            ASSERT_NE(button, nullptr) << stockId;
            gtk_button_clicked(GTK_BUTTON(button));
        };
    }
    static std::function<void(GtkDialog*)> tickThen(const char* stockId, bool ticked = true) {
        return [stockId, ticked](GtkDialog* dialog) {
            auto checks = findWidgets(GTK_WIDGET(dialog), GTK_TYPE_CHECK_BUTTON);
            ASSERT_EQ(checks.size(), 1u);
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(checks.front()), ticked);
            click(stockId)(dialog);
        };
    }

    std::string seenText;
    bool seenCheck = false;
};

TEST(MessageResultTest, YesNoKindsTellYesFromEverythingElse) {
    for (int kind : {MESSAGE_QUESTION, MESSAGE_WARNING}) {
        EXPECT_EQ(gtk::messageResult(kind, GTK_RESPONSE_ACCEPT, false), 0);
        EXPECT_EQ(gtk::messageResult(kind, GTK_RESPONSE_REJECT, false), 1);
        EXPECT_EQ(gtk::messageResult(kind, GTK_RESPONSE_DELETE_EVENT, false), 1);
        EXPECT_EQ(gtk::messageResult(kind, GTK_RESPONSE_NONE, false), 1);
        EXPECT_EQ(gtk::messageResult(kind, GTK_RESPONSE_ACCEPT, true), 0x10);
        EXPECT_EQ(gtk::messageResult(kind, GTK_RESPONSE_REJECT, true), 0x11);
    }
    for (int kind : {int(MESSAGE_ERROR), int(MESSAGE_INFO_CLOSE), int(MESSAGE_INFO_OK), 9, -1}) {
        EXPECT_EQ(gtk::messageResult(kind, GTK_RESPONSE_REJECT, false), 0);
        EXPECT_EQ(gtk::messageResult(kind, GTK_RESPONSE_DELETE_EVENT, true), 0x10);
    }
}

TEST_F(MessageDialogTest, TickedCheckBoxAddsItsBit) {
    EXPECT_EQ(ask(MESSAGE_QUESTION, tickThen(GTK_STOCK_YES), false, "_Always"), 0x10);
    EXPECT_TRUE(seenCheck);
    EXPECT_EQ(ask(MESSAGE_QUESTION, tickThen(GTK_STOCK_NO), false, "_Always"), 0x11);
    EXPECT_EQ(ask(MESSAGE_INFO_OK, tickThen(GTK_STOCK_OK), false, "_Always"), 0x10);
    // Offered but left alone: no bit.
    EXPECT_EQ(ask(MESSAGE_QUESTION, click(GTK_STOCK_YES), false, "_Always"), 0);
    // Offered ticked: the bit unless the user unticks it.
    EXPECT_EQ(ask(MESSAGE_INFO_OK, click(GTK_STOCK_OK), false, "_Always", "Go on?", true), 0x10);
    EXPECT_EQ(ask(MESSAGE_INFO_OK, tickThen(GTK_STOCK_OK, false), false, "_Always", "Go on?", true),
              0);
}

TEST_F(MessageDialogTest, TextIsMarkupAndBrokenMarkupShowsAsItStands) {
    ask(MESSAGE_ERROR, click(GTK_STOCK_CLOSE), false, nullptr,
        "<span foreground=\"red\">Warning</span>: not saved");
    EXPECT_EQ(seenText, "Warning: not saved");
    ask(MESSAGE_ERROR, click(GTK_STOCK_CLOSE), false, nullptr,
        "Cannot write to file:\n/tmp/a & b <c>");
    EXPECT_EQ(seenText, "Cannot write to file:\n/tmp/a & b <c>");
}

} // namespace
