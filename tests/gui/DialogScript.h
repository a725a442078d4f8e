#pragma once

// The scripted user of the window tests. A DialogScript answers the program's
// modal loops one step at a time, and a step acts only when the loop it answers
// waits for the user: the innermost loop, idle in its own iteration (no work
// under a progress box looking at events from inside it), every pending event,
// layout and redraw done, not yet answered in this run, and its dialog
// realised, mapped and in front of every other modal window. Nothing fires on
// a clock. The test programs wrap gtk_dialog_run and gtk_main to know the loops.
//
// A loop that waits while no step can answer it (the script ran out, or the
// step's window never came) is a fault of the test: after a few seconds of
// waiting the test fails, naming the step and the windows open, and the loop is
// ended, so that the run goes on instead of hanging until the runner kills it.

#include <gtk/gtk.h>

#include <cstddef>
#include <deque>
#include <functional>
#include <string>

namespace guitest {

class DialogScript {
public:
    // What a step answers: a text for the failure messages, and the test of
    // the dialog whose loop waits.
    struct Match {
        std::string what;
        std::function<bool(GtkDialog*)> test;
    };
    using Step = std::function<void(GtkDialog*)>;

    DialogScript();
    ~DialogScript();
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;

    DialogScript& then(Match match, Step step);
    DialogScript& on(const std::string& title, Step step);
    // The step waits also for the widget named `widget` (gtk_widget_set_name)
    // inside the dialog to be realised, mapped and sensitive.
    DialogScript& on(const std::string& title, const char* widget, Step step);

    // Every step has answered its loop.
    bool done() const { return steps_.empty() && dropped_ == 0; }
    // How many steps have answered their loop.
    std::size_t answered() const { return answered_; }

    static Match titled(const std::string& title);
    // The dialog whose loop waits, whatever it is.
    static Match anyDialog();
    static Match messageBox();

    // The visible, mapped dialog with that title, or null.
    static GtkDialog* find(const std::string& title);
    static GtkDialog* find(const Match& match);

private:
    friend struct ScriptEngine;
    struct Entry {
        Match match;
        std::string widget;
        Step step;
    };
    // Whether the next step answers `dialog` now.
    bool nextAnswers(GtkDialog* dialog) const;
    std::string describeNext() const;

    std::deque<Entry> steps_;
    std::size_t answered_ = 0;
    // Steps given up when a loop waited for them in vain.
    std::size_t dropped_ = 0;
};

// Answers the next loop that waits, whatever its dialog.
class DialogAnswer : public DialogScript {
public:
    explicit DialogAnswer(Step step) { then(anyDialog(), std::move(step)); }
    bool answered() const { return DialogScript::answered() > 0; }
};

// Cancels the progress box titled `title` at the first look at events it takes
// while it is shown in front and `when` (if given) holds, such as the work
// having got somewhere. Forgotten when the test ends.
void cancelProgressBoxWhenShown(const std::string& title, std::function<bool()> when = {});

} // namespace guitest
