#include "gui/ProgressBox.h"

#include "core/Text.h"
#include "gui/TreeViewWidgets.h"
#include "tests/gui/GuiTest.h"

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

gint64 fakeNow = 0;
gint64 fakeClock() {
    return fakeNow;
}

// The bar counts from the start; the time remaining is the elapsed time scaled
// by what is left, and shows only once something is done, its words parted by
// single blanks.
TEST_F(ProgressBoxTest, PercentAndTimeRemaining) {
    const struct {
        u64 total, start, position;
        int elapsed;
        const char* bar;
        const char* remaining;
    } cases[] = {
        {4000, 1000, 3000, 10, "50%", "0 minutes 10 seconds"},
        {4000, 1000, 1000, 10, "0%", ""},
        {4000, 1000, 10, 10, "0%", ""}, // below the start: nothing done, no wrap
        {100, 0, 250, 5, "100%", "0 minutes 0 seconds"},
        {4000, 0, 3000, 3, "75%", "0 minutes 1 second"},
        {0, 0, 50, 5, "0%", ""},
    };
    const gtk::GuiClock saved = gtk::setGuiClock(fakeClock);
    for (const auto& c : cases) {
        fakeNow = 1000 * G_USEC_PER_SEC;
        auto box = make(ProgressBox::MODE_PERCENT, c.total, c.start);
        box->setPosition(InterfaceCallback::POSITION_SET, c.position);
        fakeNow += c.elapsed * G_USEC_PER_SEC;
        box->onTimer();
        EXPECT_EQ(barText(*box), c.bar) << c.position;
        EXPECT_EQ(text(box->getRemainingLabel()), c.remaining) << c.position;
    }
    gtk::setGuiClock(saved);
}

// Looking for events asks the X server, which a worker polling once per
// cluster cannot afford: polls closer together than the interval only look at
// the answer. A press of Cancel is still seen one interval after the last look.
TEST_F(ProgressBoxTest, APressOfCancelIsSeenWithinOneInterval) {
    const gtk::GuiClock saved = gtk::setGuiClock(fakeClock);
    fakeNow = 1000 * G_USEC_PER_SEC;
    auto box = make(ProgressBox::MODE_TEXT);
    EXPECT_NO_THROW(box->poll());
    g_idle_add(
        [](gpointer d) -> gboolean {
            gtk_button_clicked(GTK_BUTTON(findButton(GTK_WIDGET(d), GTK_STOCK_CANCEL)));
            return FALSE;
        },
        box->getDialog());
    fakeNow += ProgressBox::EVENTS_INTERVAL_US - 1;
    EXPECT_NO_THROW(box->poll());
    EXPECT_FALSE(box->isCancelled());
    fakeNow += 1;
    EXPECT_THROW(box->poll(), InterruptedException);
    gtk::setGuiClock(saved);
}

TEST_F(ProgressBoxTest, FileModeRows) {
    auto box = make(ProgressBox::MODE_FILES, 1000);
    box->setText(InterfaceCallback::TEXT_SECOND, "/home/user/recovered");
    box->onTimer();
    EXPECT_EQ(text(box->getWriteToLabel()), "/home/user/recovered");
    // Names from a disk need not be UTF-8; the row still shows something.
    box->setText(InterfaceCallback::TEXT_MAIN, std::string("caf\xe9.txt"));
    box->onTimer();
    EXPECT_TRUE(g_utf8_validate(text(box->getFileLabel()).c_str(), -1, nullptr));
    EXPECT_EQ(text(box->getFileLabel()).substr(0, 3), "caf");
}

} // namespace
