#pragma once

// Answers a series of modal dialogs, nested ones included: each step waits for
// the visible dialog with its title, then acts on it. A step that finds no
// dialog within a few seconds fails the test and closes whatever is up.

#include "tests/gui/GuiTestSupport.h"

#include <deque>
#include <functional>
#include <string>
#include <utility>

namespace guitest {

class DialogScript {
public:
    using Match = std::function<bool(GtkDialog*)>;
    using Step = std::function<void(GtkDialog*)>;

    DialogScript() { source_ = g_timeout_add(10, &DialogScript::tick, this); }
    ~DialogScript() {
        if (source_)
            g_source_remove(source_);
        if (current_)
            g_object_unref(current_);
    }
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;

    DialogScript& then(Match match, Step step) {
        if (steps_.empty())
            deadline_ = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
        steps_.push_back({std::move(match), std::move(step)});
        return *this;
    }
    DialogScript& on(const std::string& title, Step step) {
        return then(titled(title), std::move(step));
    }
    // Every step has found its dialog.
    bool done() const { return steps_.empty(); }
    // How many steps have found their dialog.
    std::size_t answered() const { return answered_; }

    static Match titled(const std::string& title) {
        return [title](GtkDialog* d) {
            const char* t = gtk_window_get_title(GTK_WINDOW(d));
            return t && title == t;
        };
    }
    static Match messageBox() {
        return [](GtkDialog* d) { return GTK_IS_MESSAGE_DIALOG(d); };
    }

    // The visible, mapped dialog with that title, or null.
    static GtkDialog* find(const std::string& title) { return find(titled(title)); }
    static GtkDialog* find(const Match& match) {
        GtkDialog* found = nullptr;
        GList* toplevels = gtk_window_list_toplevels();
        for (GList* l = toplevels; l && !found; l = l->next) {
            GtkWidget* w = GTK_WIDGET(l->data);
            if (GTK_IS_DIALOG(w) && gtk_widget_get_mapped(w) && match(GTK_DIALOG(w)))
                found = GTK_DIALOG(w);
        }
        g_list_free(toplevels);
        return found;
    }

private:
    struct Entry {
        Match match;
        Step step;
    };

    static gboolean tick(gpointer data) {
        auto* self = static_cast<DialogScript*>(data);
        // The dialog answered last must be gone before the next step looks,
        // unless it stays up: then it is being asked again.
        if (self->current_) {
            if (gtk_widget_get_visible(GTK_WIDGET(self->current_)) &&
                g_get_monotonic_time() < self->answeredAt_ + 300 * 1000)
                return TRUE;
            g_object_unref(self->current_);
            self->current_ = nullptr;
        }
        if (self->steps_.empty())
            return TRUE;
        if (GtkDialog* dialog = find(self->steps_.front().match)) {
            Entry entry = std::move(self->steps_.front());
            self->steps_.pop_front();
            self->current_ = GTK_DIALOG(g_object_ref(dialog));
            self->answeredAt_ = g_get_monotonic_time();
            self->deadline_ = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
            ++self->answered_;
            entry.step(dialog);
        } else if (g_get_monotonic_time() > self->deadline_) {
            // The watchdog: a modal loop nobody answers would hang the run.
            ADD_FAILURE() << "a scripted dialog did not appear within 5 s";
            self->steps_.clear();
            if (GtkDialog* any = findVisibleDialog())
                gtk_dialog_response(any, GTK_RESPONSE_DELETE_EVENT);
        }
        return TRUE;
    }

    std::deque<Entry> steps_;
    guint source_ = 0;
    GtkDialog* current_ = nullptr;
    gint64 deadline_ = 0;
    gint64 answeredAt_ = 0;
    std::size_t answered_ = 0;
};

// The control that the label with that text (as shown) names by its mnemonic.
inline GtkWidget* controlOfLabel(GtkDialog* dialog, const std::string& text) {
    for (GtkWidget* label : findWidgets(GTK_WIDGET(dialog), GTK_TYPE_LABEL))
        if (text == gtk_label_get_text(GTK_LABEL(label)))
            return gtk_label_get_mnemonic_widget(GTK_LABEL(label));
    return nullptr;
}

// Puts the cursor of the only tree view inside `dialog` on the row whose
// descriptor column (2) has that "id"; false when there is none.
inline bool selectRowById(GtkDialog* dialog, const std::string& id) {
    auto views = findWidgets(GTK_WIDGET(dialog), GTK_TYPE_TREE_VIEW);
    if (views.size() != 1)
        return false;
    GtkTreeView* view = GTK_TREE_VIEW(views[0]);
    GtkTreeModel* model = gtk_tree_view_get_model(view);
    GtkTreeIter it;
    if (!gtk_tree_model_get_iter_first(model, &it))
        return false;
    do {
        gchar* d = nullptr;
        gtk_tree_model_get(model, &it, 2, &d, -1);
        const std::string descriptor = d ? d : "";
        g_free(d);
        const std::string key = "id=" + id + "|";
        if (descriptor.compare(0, key.size(), key) == 0 ||
            descriptor.find("|" + key) != std::string::npos) {
            GtkTreePath* path = gtk_tree_model_get_path(model, &it);
            gtk_tree_view_set_cursor(view, path, nullptr, FALSE);
            gtk_tree_path_free(path);
            return true;
        }
    } while (gtk_tree_model_iter_next(model, &it));
    return false;
}

} // namespace guitest
