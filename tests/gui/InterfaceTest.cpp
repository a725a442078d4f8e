#include "gui/Interface.h"

#include "gui/ProgressBox.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/support/ScriptedMessages.h"

using testutil::ScriptedMessages;

namespace {

class InterfaceTest : public guitest::GuiTest {};

TEST_F(InterfaceTest, ErrorBoxIgnoresDefaultAndCheckBox) {
    ScriptedMessages script;
    script.then(0x11);
    gtk::Interface ui(nullptr);
    EXPECT_EQ(ui.message(false, "Broken", true, "_Remember"), 0);
    ASSERT_EQ(script.asked().size(), 1u);
    EXPECT_EQ(script.asked()[0].kind, MESSAGE_ERROR);
    EXPECT_FALSE(script.asked()[0].defaultNo);
    EXPECT_EQ(script.asked()[0].checkLabel, "");
    // Error boxes take no answer from the queue.
    EXPECT_EQ(script.pendingAnswers(), 1u);
}

TEST_F(InterfaceTest, QuestionPassesItsChoicesOn) {
    ScriptedMessages script;
    script.then(0x11);
    gtk::Interface ui(nullptr);
    EXPECT_EQ(ui.message(true, "Retry?", true, "_Always"), 0x11);
    ASSERT_EQ(script.asked().size(), 1u);
    EXPECT_EQ(script.asked()[0].kind, MESSAGE_QUESTION);
    EXPECT_EQ(script.asked()[0].text, "Retry?");
    EXPECT_TRUE(script.asked()[0].defaultNo);
    EXPECT_EQ(script.asked()[0].checkLabel, "_Always");
}

TEST_F(InterfaceTest, InformationWithOkOrClose) {
    ScriptedMessages script;
    gtk::Interface ui(nullptr);
    ui.information(true, "Done", false, nullptr);
    ui.information(false, "Tip", false, nullptr);
    ASSERT_EQ(script.asked().size(), 2u);
    EXPECT_EQ(script.asked()[0].kind, MESSAGE_INFO_OK);
    EXPECT_EQ(script.asked()[1].kind, MESSAGE_INFO_CLOSE);
}

TEST_F(InterfaceTest, ParentScopeLendsTheParentAndGivesItBack) {
    GtkWidget* main = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* wizard = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk::Interface ui(GTK_WINDOW(main));
    {
        gtk::InterfaceParentScope scope(&ui, GTK_WINDOW(wizard));
        EXPECT_EQ(ui.getParentWindow(), GTK_WINDOW(wizard));
        {
            gtk::InterfaceParentScope inner(&ui, nullptr);
            EXPECT_EQ(ui.getParentWindow(), nullptr);
        }
        EXPECT_EQ(ui.getParentWindow(), GTK_WINDOW(wizard));
    }
    EXPECT_EQ(ui.getParentWindow(), GTK_WINDOW(main));
    gtk_widget_destroy(wizard);
    gtk_widget_destroy(main);
}

TEST_F(InterfaceTest, ProgressBoxIsATextBoxOverTheParent) {
    GtkWidget* main = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk::Interface ui(GTK_WINDOW(main));
    std::unique_ptr<ProgressBoxIC> sink = ui.createProgressBox("Loading");
    auto* box = dynamic_cast<gtk::ProgressBox*>(sink.get());
    ASSERT_NE(box, nullptr);
    GtkWindow* window = GTK_WINDOW(box->getDialog());
    EXPECT_STREQ(gtk_window_get_title(window), "Loading");
    EXPECT_EQ(gtk_window_get_transient_for(window), GTK_WINDOW(main));
    EXPECT_NE(box->getFileLabel(), nullptr);
    EXPECT_EQ(box->getProgressLabel(), nullptr);
    sink.reset();
    gtk_widget_destroy(main);
}

} // namespace
