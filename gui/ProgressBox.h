#pragma once

// The modal window that keeps the program alive while a long operation runs on
// the GUI thread: a bar, up to four text rows and Cancel. The worker reports
// through the InterfaceCallback operations; the box redraws from a 100 ms timer
// and lets pending events run from its polls, at most once every
// EVENTS_INTERVAL_US, and once the user has answered the box (Cancel, or
// closing it) every later poll throws InterruptedException.

#include "core/Progress.h"

#include <gtk/gtk.h>
#include <string>

namespace gtk {

// One text row: the worker's text is only stored, the timer writes it.
struct ProgressLabelRow {
    GtkLabel* label = nullptr; // null when the row is not shown in this mode
    std::string pending;
    bool dirty = false;
};

class ProgressBox : public ProgressBoxIC {
public:
    enum Mode : int {
        // A text row and a pulsing bar.
        MODE_TEXT = 0,
        // A bar with the percentage, "Progress" and "Time Remaining".
        MODE_PERCENT = 1,
        // As MODE_PERCENT, plus "File" and "Write to" rows.
        MODE_FILES = 2,
    };
    // How long a text given with TEXT_MAIN in MODE_PERCENT hides the percentage.
    static constexpr int PERCENT_HOLD_TICKS = 600;
    static constexpr guint TIMER_MS = 100;
    // Looking for pending events asks the X server, which costs more than what
    // most workers do between two polls (one cluster of a chain, one block of a
    // scan): polls closer together than this only look at the answer. A press
    // of Cancel is therefore seen within this time, and a cancel already seen
    // throws from the very next poll.
    static constexpr gint64 EVENTS_INTERVAL_US = 30 * 1000;

    // Shows the window at once. `parent` may be null (then centred on the
    // screen). `total` is the amount that is 100 %, counted from `start`.
    ProgressBox(GtkWindow* parent, int mode, u64 total, u64 start, int width);
    ~ProgressBox() override;
    ProgressBox(const ProgressBox&) = delete;
    ProgressBox& operator=(const ProgressBox&) = delete;

    // Runs the pending events when EVENTS_INTERVAL_US has passed since it last
    // did; throws InterruptedException once the box was answered.
    void poll() override;
    // TEXT_TITLE: the window title; TEXT_MAIN: the bar text in MODE_PERCENT,
    // else the main ("File") row; TEXT_SECOND: the "Write to" row.
    void setText(u64 kind, const std::string& text) override;
    // POSITION_SET or POSITION_ADD; other modes are ignored.
    void setPosition(u64 mode, u64 value) override;

    // One timer tick: bar, percentage, time remaining, progress and row texts.
    void onTimer();

    bool isCancelled() const { return response_ != -1; }
    int getResponse() const { return response_; }
    u64 getPosition() const { return position_; }
    GtkDialog* getDialog() const { return dialog_; }
    GtkProgressBar* getBar() const { return bar_; }
    // The value labels of the rows; null when the mode has no such row.
    GtkLabel* getProgressLabel() const { return progressRow_.label; }
    GtkLabel* getRemainingLabel() const { return remainingRow_.label; }
    GtkLabel* getFileLabel() const { return fileRow_.label; }
    GtkLabel* getWriteToLabel() const { return writeToRow_.label; }

private:
    static gboolean timerCallback(gpointer self);
    static void onResponse(GtkDialog* dialog, int response, gpointer self);
    static void onDestroy(GtkWidget* widget, gpointer self);
    static void flushRow(ProgressLabelRow& row);
    void updatePercent();

    int mode_;
    u64 total_;
    u64 position_;
    u64 start_;
    GtkDialog* dialog_;
    GtkWindow* window_;
    GtkProgressBar* bar_ = nullptr;
    int percentHold_ = 0;
    guint timer_ = 0;
    int response_ = -1;
    // Monotonic microseconds at construction (guiClock), and the whole second
    // since then of the last "Time Remaining" update (-1: none yet).
    gint64 startTime_;
    gint64 lastSecond_ = -1;
    // When the next poll runs the pending events: the first poll does.
    gint64 nextEvents_;
    ProgressLabelRow progressRow_;
    ProgressLabelRow remainingRow_;
    ProgressLabelRow fileRow_;
    ProgressLabelRow writeToRow_;
};

} // namespace gtk
