#include "tests/gui/DialogScript.h"

#include "tests/gui/GuiTest.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sstream>
#include <utility>
#include <vector>

namespace guitest {

namespace {

// How often the watchdog looks, and after how many looks at a loop that waits
// with no step to answer it the test fails: two seconds of waiting, counted in
// looks so that a process the machine did not run for a while is not blamed.
constexpr guint WATCH_MS = 100;
constexpr int WAITING_LOOKS = 20;
// A program that runs a loop again each time the watchdog ends it would keep
// the run going for ever: past this many ends in one test it is stopped.
constexpr int MAX_ENDED_LOOPS = 100;

std::string titleOf(GtkWidget* window) {
    const char* title = GTK_IS_WINDOW(window) ? gtk_window_get_title(GTK_WINDOW(window)) : nullptr;
    return title ? title : "";
}

// Realised, mapped, visible on screen as far as GTK knows, and in front: no
// modal window (a progress box, another dialog) holds the input instead.
bool shownInFront(GtkWidget* window) {
    if (!gtk_widget_get_visible(window) || !gtk_widget_get_realized(window) ||
        !gtk_widget_get_mapped(window) || !gdk_window_is_viewable(gtk_widget_get_window(window)))
        return false;
    GtkWidget* grab = gtk_grab_get_current();
    return grab == nullptr || gtk_widget_get_toplevel(grab) == window;
}

bool widgetReady(GtkDialog* dialog, const std::string& name) {
    if (name.empty())
        return true;
    GtkWidget* widget = findNamed(GTK_WIDGET(dialog), name.c_str());
    return widget && gtk_widget_get_realized(widget) && gtk_widget_get_mapped(widget) &&
           gtk_widget_is_sensitive(widget);
}

} // namespace

// One run of a modal loop of the program.
struct ModalLoop {
    // The dialog that gtk_dialog_run runs, or for gtk_main the window in front
    // when it started (null: none). Held while the loop runs.
    GtkWindow* window = nullptr;
    bool dialogRun = false;
    // How deep in dispatched sources it started: its own iterations prepare
    // sources at this depth and dispatch them one deeper.
    gint depth = 0;
    // The dialog gave its response: the loop is about to return.
    bool answered = false;
    // A step acts on this loop right now.
    bool stepRunning = false;
    gulong responseHandler = 0;
    // Watchdog looks that found it waiting with nothing to answer it.
    int idleLooks = 0;
    // Times the watchdog tried to end it.
    int endTries = 0;
};

// The scripts, the loops and the progress boxes to cancel of this process,
// and the two sources that serve them: one that acts as soon as a step or a
// cancel is due, at idle priority so that GTK has laid out and drawn what it
// answers first, and the watchdog.
struct ScriptEngine {
    struct Cancel {
        std::string title;
        std::function<bool()> when;
    };

    static ScriptEngine& instance() {
        static ScriptEngine engine;
        return engine;
    }

    void attach() {
        if (attached_)
            return;
        attached_ = true;
        static GSourceFuncs stepFuncs = {prepareStep, checkStep, dispatchStep,
                                         nullptr,     nullptr,   nullptr};
        GSource* step = g_source_new(&stepFuncs, sizeof(GSource));
        g_source_set_priority(step, G_PRIORITY_DEFAULT_IDLE);
        // A step may open a dialog whose loop runs inside it: later steps answer that one.
        g_source_set_can_recurse(step, TRUE);
        g_source_attach(step, nullptr);
        g_source_unref(step);
        GSource* watch = g_timeout_source_new(WATCH_MS);
        g_source_set_callback(watch, watchdog, nullptr, nullptr);
        g_source_set_can_recurse(watch, TRUE);
        g_source_attach(watch, nullptr);
        g_source_unref(watch);
    }

    // A new test starts with nothing left over from the one before.
    void reset() {
        cancels.clear();
        failed = false;
        endedLoops = 0;
    }

    // The innermost loop when it waits for the user, else null: not answered,
    // no step acting on it, and the iteration running is its own, not that of
    // work inside it looking at events under a progress box. `dispatching`:
    // asked from a source's dispatch, not from its prepare or check.
    ModalLoop* waitingLoop(bool dispatching) const {
        if (loops.empty())
            return nullptr;
        ModalLoop* loop = loops.back();
        if (loop->answered || loop->stepRunning ||
            g_main_depth() != loop->depth + (dispatching ? 1 : 0))
            return nullptr;
        return loop;
    }

    // The script whose next step answers `loop` now, or null.
    DialogScript* dueScript(const ModalLoop* loop) const {
        if (!loop || !loop->window || !GTK_IS_DIALOG(loop->window) ||
            !shownInFront(GTK_WIDGET(loop->window)))
            return nullptr;
        for (DialogScript* script : scripts)
            if (script->nextAnswers(GTK_DIALOG(loop->window)))
                return script;
        return nullptr;
    }

    // The progress box to cancel now, with its place in `cancels`.
    GtkDialog* dueCancel(std::size_t& index) const {
        for (index = 0; index < cancels.size(); ++index) {
            const Cancel& cancel = cancels[index];
            GtkDialog* box = DialogScript::find(cancel.title);
            if (box && shownInFront(GTK_WIDGET(box)) && (!cancel.when || cancel.when()))
                return box;
        }
        return nullptr;
    }

    bool anythingDue(bool dispatching) const {
        std::size_t index = 0;
        return dueCancel(index) != nullptr || dueScript(waitingLoop(dispatching)) != nullptr;
    }

    void runDue() {
        std::size_t index = 0;
        if (GtkDialog* box = dueCancel(index)) {
            cancels.erase(cancels.begin() + static_cast<std::ptrdiff_t>(index));
            gtk_dialog_response(box, GTK_RESPONSE_CANCEL);
            return;
        }
        ModalLoop* loop = waitingLoop(true);
        DialogScript* script = dueScript(loop);
        if (!script)
            return;
        DialogScript::Entry entry = std::move(script->steps_.front());
        script->steps_.pop_front();
        ++script->answered_;
        loop->idleLooks = 0;
        loop->stepRunning = true;
        entry.step(GTK_DIALOG(loop->window));
        loop->stepRunning = false;
    }

    static std::string describeLoop(const ModalLoop& loop) {
        if (loop.window == nullptr)
            return "gtk_main with no window in front";
        const std::string title = "\"" + titleOf(GTK_WIDGET(loop.window)) + "\"";
        return loop.dialogRun ? "the loop of " + title : "gtk_main over " + title;
    }

    static std::string describeWindows() {
        std::ostringstream out;
        GtkWidget* grab = gtk_grab_get_current();
        GtkWidget* front = grab ? gtk_widget_get_toplevel(grab) : nullptr;
        GList* toplevels = gtk_window_list_toplevels();
        const char* separator = "";
        for (GList* l = toplevels; l; l = l->next) {
            GtkWidget* window = GTK_WIDGET(l->data);
            if (!gtk_widget_get_visible(window))
                continue;
            out << separator << '"' << titleOf(window) << "\" (" << G_OBJECT_TYPE_NAME(window)
                << (gtk_window_get_modal(GTK_WINDOW(window)) ? ", modal" : "")
                << (gtk_widget_get_mapped(window) ? "" : ", not mapped")
                << (window == front ? ", in front" : "") << ')';
            separator = ", ";
        }
        g_list_free(toplevels);
        const std::string text = out.str();
        return text.empty() ? "none" : text;
    }

    std::string stuckMessage(const ModalLoop& loop) const {
        std::ostringstream out;
        const DialogScript* pending = nullptr;
        for (const DialogScript* script : scripts)
            if (!pending && !script->steps_.empty())
                pending = script;
        if (pending)
            out << pending->describeNext() << " found nothing to answer while "
                << describeLoop(loop) << " waited";
        else
            out << "the script ran out while " << describeLoop(loop) << " waits";
        out << "; windows open: " << describeWindows()
            << ". The loop is ended so that the test goes on.";
        return out.str();
    }

    // As the user closing the window would; a loop that stays is quit.
    void end(ModalLoop& loop) {
        if (++endedLoops > MAX_ENDED_LOOPS) {
            std::fprintf(stderr, "the program keeps running modal loops that nobody answers\n");
            std::abort();
        }
        if (loop.dialogRun)
            gtk_dialog_response(GTK_DIALOG(loop.window), GTK_RESPONSE_DELETE_EVENT);
        else if (loop.window && loop.endTries++ == 0)
            sendDelete(GTK_WIDGET(loop.window));
        else
            gtk_main_quit();
    }

    static gboolean prepareStep(GSource*, gint* timeout) {
        *timeout = -1;
        return instance().anythingDue(false);
    }
    static gboolean checkStep(GSource*) { return instance().anythingDue(false); }
    static gboolean dispatchStep(GSource*, GSourceFunc, gpointer) {
        instance().runDue();
        return G_SOURCE_CONTINUE;
    }

    static gboolean watchdog(gpointer) {
        ScriptEngine& self = instance();
        ModalLoop* loop = self.waitingLoop(true);
        if (!loop)
            return G_SOURCE_CONTINUE;
        if (self.anythingDue(true)) {
            loop->idleLooks = 0;
            return G_SOURCE_CONTINUE;
        }
        // Once a test has failed so, every later loop left waiting ends at once.
        if (++loop->idleLooks < (self.failed ? 1 : WAITING_LOOKS))
            return G_SOURCE_CONTINUE;
        if (!self.failed) {
            ADD_FAILURE() << self.stuckMessage(*loop);
            self.failed = true;
            for (DialogScript* script : self.scripts) {
                script->dropped_ += script->steps_.size();
                script->steps_.clear();
            }
        }
        self.end(*loop);
        return G_SOURCE_CONTINUE;
    }

    std::vector<ModalLoop*> loops;
    std::vector<DialogScript*> scripts;
    std::vector<Cancel> cancels;
    bool failed = false;
    int endedLoops = 0;

private:
    bool attached_ = false;
};

namespace {

// Keeps a loop on the engine's list while it runs.
class LoopScope {
public:
    LoopScope(GtkWindow* window, bool dialogRun) {
        ScriptEngine& engine = ScriptEngine::instance();
        engine.attach();
        loop_.dialogRun = dialogRun;
        loop_.depth = g_main_depth();
        if (window) {
            loop_.window = GTK_WINDOW(g_object_ref(window));
            if (dialogRun)
                loop_.responseHandler =
                    g_signal_connect(window, "response", G_CALLBACK(onResponse), &loop_);
        }
        engine.loops.push_back(&loop_);
    }
    ~LoopScope() {
        ScriptEngine::instance().loops.pop_back();
        if (loop_.window) {
            // A destroyed dialog has lost its handlers already.
            if (g_signal_handler_is_connected(loop_.window, loop_.responseHandler))
                g_signal_handler_disconnect(loop_.window, loop_.responseHandler);
            g_object_unref(loop_.window);
        }
    }
    LoopScope(const LoopScope&) = delete;
    LoopScope& operator=(const LoopScope&) = delete;

private:
    static void onResponse(GtkDialog*, gint, gpointer loop) {
        static_cast<ModalLoop*>(loop)->answered = true;
    }
    ModalLoop loop_;
};

// Cancels of progress boxes and ended loops belong to the test that made them.
class ResetBetweenTests : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { ScriptEngine::instance().reset(); }
};

const bool listening = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new ResetBetweenTests);
    return true;
}();

template <typename Function> Function nextDefinition(const char* name) {
    void* found = dlsym(RTLD_NEXT, name);
    if (!found) {
        std::fprintf(stderr, "%s not found: %s\n", name, dlerror());
        std::abort();
    }
    return reinterpret_cast<Function>(found);
}

} // namespace

DialogScript::DialogScript() {
    ScriptEngine& engine = ScriptEngine::instance();
    engine.attach();
    engine.scripts.push_back(this);
}

DialogScript::~DialogScript() {
    std::vector<DialogScript*>& scripts = ScriptEngine::instance().scripts;
    for (auto it = scripts.begin(); it != scripts.end(); ++it) {
        if (*it == this) {
            scripts.erase(it);
            break;
        }
    }
}

DialogScript& DialogScript::then(Match match, Step step) {
    steps_.push_back({std::move(match), std::string(), std::move(step)});
    return *this;
}

DialogScript& DialogScript::on(const std::string& title, Step step) {
    return then(titled(title), std::move(step));
}

DialogScript& DialogScript::on(const std::string& title, const char* widget, Step step) {
    steps_.push_back({titled(title), widget, std::move(step)});
    return *this;
}

bool DialogScript::nextAnswers(GtkDialog* dialog) const {
    return !steps_.empty() && steps_.front().match.test(dialog) &&
           widgetReady(dialog, steps_.front().widget);
}

std::string DialogScript::describeNext() const {
    std::string text = "step " + std::to_string(answered_ + 1) + " (" + steps_.front().match.what;
    if (!steps_.front().widget.empty())
        text += " with its \"" + steps_.front().widget + "\" ready";
    return text + ")";
}

DialogScript::Match DialogScript::titled(const std::string& title) {
    return {"\"" + title + "\"", [title](GtkDialog* d) { return titleOf(GTK_WIDGET(d)) == title; }};
}

DialogScript::Match DialogScript::anyDialog() {
    return {"any dialog", [](GtkDialog*) { return true; }};
}

DialogScript::Match DialogScript::messageBox() {
    return {"a message box", [](GtkDialog* d) { return GTK_IS_MESSAGE_DIALOG(d); }};
}

GtkDialog* DialogScript::find(const std::string& title) {
    return find(titled(title));
}

GtkDialog* DialogScript::find(const Match& match) {
    GtkDialog* found = nullptr;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* l = toplevels; l && !found; l = l->next) {
        GtkWidget* w = GTK_WIDGET(l->data);
        if (GTK_IS_DIALOG(w) && gtk_widget_get_mapped(w) && match.test(GTK_DIALOG(w)))
            found = GTK_DIALOG(w);
    }
    g_list_free(toplevels);
    return found;
}

void cancelProgressBoxWhenShown(const std::string& title, std::function<bool()> when) {
    ScriptEngine& engine = ScriptEngine::instance();
    engine.attach();
    engine.cancels.push_back({title, std::move(when)});
}

} // namespace guitest

// The program's modal loops, wrapped: the real ones run inside, and the engine
// knows which loop waits.

extern "C" gint gtk_dialog_run(GtkDialog* dialog) {
    using Run = gint (*)(GtkDialog*);
    static const Run real = guitest::nextDefinition<Run>("gtk_dialog_run");
    guitest::LoopScope scope(GTK_WINDOW(dialog), true);
    return real(dialog);
}

extern "C" void gtk_main() {
    using Main = void (*)();
    static const Main real = guitest::nextDefinition<Main>("gtk_main");
    GtkWidget* grab = gtk_grab_get_current();
    GtkWidget* front = grab ? gtk_widget_get_toplevel(grab) : nullptr;
    guitest::LoopScope scope(GTK_IS_WINDOW(front) ? GTK_WINDOW(front) : nullptr, false);
    real();
}
