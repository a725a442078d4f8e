#include "gui/ProgressBox.h"

#include "core/Text.h"
#include "tests/gui/GuiTest.h"

#include <memory>
#include <string>

using gtk::ProgressBox;
using guitest::findButton;

namespace {

class ProgressBoxTest : public guitest::GuiTest {
protected:
    std::unique_ptr<ProgressBox> make(int mode, u64 total = 0, u64 start = 0) {
        return std::make_unique<ProgressBox>(nullptr, mode, total, start, 400);
    }
    static std::string text(GtkLabel* label) { return label ? gtk_label_get_text(label) : "?"; }
    static std::string barText(ProgressBox& box) {
        const char* t = gtk_progress_bar_get_text(box.getBar());
        return t ? t : "";
    }
};

TEST_F(ProgressBoxTest, CancelMakesTheNextAndEveryLaterPollThrow) {
    auto box = make(ProgressBox::MODE_TEXT);
    EXPECT_NO_THROW(box->poll());
    GtkWidget* cancel = findButton(GTK_WIDGET(box->getDialog()), GTK_STOCK_CANCEL);
    ASSERT_NE(cancel, nullptr);
    gtk_button_clicked(GTK_BUTTON(cancel));
    EXPECT_TRUE(box->isCancelled());
    EXPECT_EQ(box->getResponse(), GTK_RESPONSE_CANCEL);
    EXPECT_THROW(box->poll(), InterruptedException);
    EXPECT_THROW(box->poll(), InterruptedException);
}

TEST_F(ProgressBoxTest, ClosingFromTheTitleBarCancelsButKeepsTheWindow) {
    auto box = make(ProgressBox::MODE_PERCENT, 100);
    GtkWidget* window = GTK_WIDGET(box->getDialog());
    guitest::sendDelete(window);
    EXPECT_THROW(box->poll(), InterruptedException);
    ASSERT_NE(box->getDialog(), nullptr);
    EXPECT_TRUE(gtk_widget_get_visible(window));
    // The timer keeps drawing into it while the command tidies up.
    box->onTimer();
}

TEST_F(ProgressBoxTest, TextModeShowsTheMainTextAtTheNextTick) {
    auto box = make(ProgressBox::MODE_TEXT);
    EXPECT_EQ(box->getProgressLabel(), nullptr);
    EXPECT_EQ(box->getWriteToLabel(), nullptr);
    box->setText(InterfaceCallback::TEXT_MAIN, "Reading FAT");
    box->setText(InterfaceCallback::TEXT_SECOND, "ignored");
    EXPECT_EQ(text(box->getFileLabel()), "");
    box->onTimer();
    EXPECT_EQ(text(box->getFileLabel()), "Reading FAT");
    box->setText(InterfaceCallback::TEXT_TITLE, "Building the tree");
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(box->getDialog())), "Building the tree");
}

TEST_F(ProgressBoxTest, PercentCountsFromTheStart) {
    auto box = make(ProgressBox::MODE_PERCENT, 4000, 1000);
    box->setPosition(InterfaceCallback::POSITION_SET, 3000);
    box->onTimer();
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(box->getBar()), 0.5);
    EXPECT_EQ(barText(*box), "50%");
    EXPECT_EQ(text(box->getProgressLabel()), formatProgress(2000, 4000));
    EXPECT_NE(text(box->getRemainingLabel()), "");
    guitest::screenshot(GTK_WIDGET(box->getDialog()), "progress-percent");
}

TEST_F(ProgressBoxTest, NothingDoneShowsNoTimeRemaining) {
    auto box = make(ProgressBox::MODE_PERCENT, 4000, 1000);
    box->onTimer();
    EXPECT_EQ(barText(*box), "0%");
    EXPECT_EQ(text(box->getRemainingLabel()), "");
    // Below the start is nothing done too, not a wrapped-around amount.
    box->setPosition(InterfaceCallback::POSITION_SET, 10);
    box->onTimer();
    EXPECT_EQ(barText(*box), "0%");
    EXPECT_EQ(text(box->getProgressLabel()), formatProgress(0, 4000));
}

TEST_F(ProgressBoxTest, BeyondTheTotalStaysAtFullWithNothingRemaining) {
    auto box = make(ProgressBox::MODE_PERCENT, 100);
    box->setPosition(InterfaceCallback::POSITION_SET, 250);
    box->onTimer();
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(box->getBar()), 1.0);
    EXPECT_EQ(barText(*box), "100%");
    EXPECT_EQ(text(box->getRemainingLabel()), formatDuration(0));
}

TEST_F(ProgressBoxTest, ZeroTotalLeavesTheBarEmpty) {
    auto box = make(ProgressBox::MODE_FILES, 0);
    box->setPosition(InterfaceCallback::POSITION_SET, 77);
    box->onTimer();
    EXPECT_EQ(barText(*box), "0%");
    EXPECT_EQ(text(box->getRemainingLabel()), "");
}

TEST_F(ProgressBoxTest, PositionModes) {
    auto box = make(ProgressBox::MODE_PERCENT, 100);
    box->setPosition(InterfaceCallback::POSITION_ADD, 10);
    box->setPosition(InterfaceCallback::POSITION_ADD, 15);
    EXPECT_EQ(box->getPosition(), 25u);
    box->setPosition(InterfaceCallback::FOUND_FATS, 3);
    box->setPosition(99, 3);
    EXPECT_EQ(box->getPosition(), 25u);
    box->setPosition(InterfaceCallback::POSITION_SET, 7);
    EXPECT_EQ(box->getPosition(), 7u);
    box->setPosition(InterfaceCallback::POSITION_ADD, 0xFFFFFFFFull);
    EXPECT_EQ(box->getPosition(), 0x100000006ull);
}

TEST_F(ProgressBoxTest, MainTextHidesThePercentageForAMinute) {
    auto box = make(ProgressBox::MODE_PERCENT, 100);
    box->setPosition(InterfaceCallback::POSITION_SET, 40);
    box->setText(InterfaceCallback::TEXT_MAIN, "Analyzing");
    EXPECT_EQ(barText(*box), "Analyzing");
    for (int i = 0; i < ProgressBox::PERCENT_HOLD_TICKS; ++i)
        box->onTimer();
    EXPECT_EQ(barText(*box), "Analyzing");
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(box->getBar()), 0.4);
    box->onTimer();
    EXPECT_EQ(barText(*box), "40%");
}

TEST_F(ProgressBoxTest, FileModeRows) {
    auto box = make(ProgressBox::MODE_FILES, 1000);
    ASSERT_NE(box->getFileLabel(), nullptr);
    ASSERT_NE(box->getWriteToLabel(), nullptr);
    box->setText(InterfaceCallback::TEXT_MAIN, "DCIM\\IMG_0001.JPG");
    box->setText(InterfaceCallback::TEXT_SECOND, "/home/user/recovered");
    box->onTimer();
    EXPECT_EQ(text(box->getFileLabel()), "DCIM\\IMG_0001.JPG");
    EXPECT_EQ(text(box->getWriteToLabel()), "/home/user/recovered");
    // Names from a disk need not be UTF-8; the row still shows something.
    box->setText(InterfaceCallback::TEXT_MAIN, std::string("caf\xe9.txt"));
    box->onTimer();
    EXPECT_TRUE(g_utf8_validate(text(box->getFileLabel()).c_str(), -1, nullptr));
    EXPECT_EQ(text(box->getFileLabel()).substr(0, 3), "caf");
    guitest::screenshot(GTK_WIDGET(box->getDialog()), "progress-files");
}

TEST_F(ProgressBoxTest, TheTimerRedrawsWhileTheWorkerPolls) {
    auto box = make(ProgressBox::MODE_PERCENT, 200);
    box->setPosition(InterfaceCallback::POSITION_SET, 50);
    EXPECT_EQ(barText(*box), "");
    gint64 deadline = g_get_monotonic_time() + 2 * G_USEC_PER_SEC;
    while (barText(*box) != "25%" && g_get_monotonic_time() < deadline) {
        box->poll();
        g_usleep(5000);
    }
    EXPECT_EQ(barText(*box), "25%");
}

TEST_F(ProgressBoxTest, StandsModalOverItsParent) {
    GtkWidget* parent = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    {
        ProgressBox box(GTK_WINDOW(parent), ProgressBox::MODE_TEXT, 0, 0, 300);
        EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(box.getDialog())), GTK_WINDOW(parent));
        EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(box.getDialog())));
        EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(box.getDialog())), "Please Wait");
        // Taken down with its parent: the box survives and counts as cancelled.
        gtk_widget_destroy(parent);
        EXPECT_EQ(box.getDialog(), nullptr);
        EXPECT_THROW(box.poll(), InterruptedException);
        box.setText(InterfaceCallback::TEXT_TITLE, "late");
        box.onTimer();
    }
}

} // namespace
