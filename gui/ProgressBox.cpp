#include "gui/ProgressBox.h"

#include "core/Intl.h"
#include "core/Text.h"
#include "gui/TreeViewWidgets.h"

#include <limits>

namespace gtk {

namespace {

// A caption (when given) and, filling the rest of the line, a framed value label.
GtkLabel* addProgressRow(GtkWidget* line, const char* caption, GtkSizeGroup* group) {
    if (caption) {
        GtkWidget* label = gtk_label_new(_(caption));
        gtk_misc_set_alignment(GTK_MISC(label), 1.0f, 0.5f);
        gtk_box_pack_start(GTK_BOX(line), label, FALSE, FALSE, 0);
        if (group)
            gtk_size_group_add_widget(group, label);
    }
    GtkWidget* frame = gtk_frame_new(nullptr);
    gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_IN);
    GtkWidget* value = gtk_label_new(nullptr);
    gtk_misc_set_alignment(GTK_MISC(value), 0.0f, 0.5f);
    gtk_label_set_ellipsize(GTK_LABEL(value), PANGO_ELLIPSIZE_MIDDLE);
    gtk_container_add(GTK_CONTAINER(frame), value);
    gtk_box_pack_start(GTK_BOX(line), frame, TRUE, TRUE, 0);
    return GTK_LABEL(value);
}

GtkWidget* newLine(GtkWidget* box) {
    GtkWidget* line = gtk_hbox_new(FALSE, 4);
    gtk_box_pack_start(GTK_BOX(box), line, FALSE, FALSE, 0);
    return line;
}

// The duration's words parted by single blanks: its columns line up numbers
// in fixed-width text, and in a label they only leave gaps.
std::string durationText(u32 seconds) {
    std::string text;
    for (char c : formatDuration(seconds)) {
        if (c != ' ' || (!text.empty() && text.back() != ' '))
            text += c;
    }
    return text;
}

gboolean refuseDelete(GtkWidget*, GdkEvent*, gpointer) {
    return TRUE;
}

} // namespace

ProgressBox::ProgressBox(GtkWindow* parent, int mode, u64 total, u64 start, int width)
    : mode_(mode), total_(total), position_(start), start_(start),
      dialog_(GTK_DIALOG(gtk_dialog_new_with_buttons(
          _("Please Wait"), parent,
          static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT |
                                      GTK_DIALOG_NO_SEPARATOR),
          GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL, nullptr))),
      window_(GTK_WINDOW(dialog_)), startTime_(guiClock()), nextEvents_(startTime_) {
    GtkWidget* box = gtk_vbox_new(FALSE, 4);
    gtk_container_set_border_width(GTK_CONTAINER(box), 8);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(dialog_)), box, TRUE, TRUE, 0);
    bar_ = GTK_PROGRESS_BAR(gtk_progress_bar_new());
    gtk_box_pack_start(GTK_BOX(box), GTK_WIDGET(bar_), FALSE, FALSE, 0);

    GtkSizeGroup* captions = gtk_size_group_new(GTK_SIZE_GROUP_HORIZONTAL);
    if (mode_ == MODE_PERCENT || mode_ == MODE_FILES) {
        GtkWidget* line = newLine(box);
        progressRow_.label = addProgressRow(line, N_("Progress"), captions);
        remainingRow_.label = addProgressRow(line, N_("Time Remaining"), nullptr);
        // Amounts and durations are short and useless when cut: the box widens
        // for them instead; only names are shortened in the middle.
        gtk_label_set_ellipsize(progressRow_.label, PANGO_ELLIPSIZE_NONE);
        gtk_label_set_ellipsize(remainingRow_.label, PANGO_ELLIPSIZE_NONE);
        if (mode_ == MODE_FILES) {
            fileRow_.label = addProgressRow(newLine(box), N_("File"), captions);
            writeToRow_.label = addProgressRow(newLine(box), N_("Write to"), captions);
        }
    } else {
        fileRow_.label = addProgressRow(newLine(box), nullptr, captions);
    }
    g_object_unref(captions);

    g_signal_connect(dialog_, "delete_event", G_CALLBACK(refuseDelete), nullptr);
    g_signal_connect(dialog_, "response", G_CALLBACK(onResponse), this);
    g_signal_connect(dialog_, "destroy", G_CALLBACK(onDestroy), this);
    timer_ = g_timeout_add(TIMER_MS, timerCallback, this);

    gtk_window_set_default_size(window_, width, -1);
    if (!parent)
        gtk_window_set_position(window_, GTK_WIN_POS_CENTER);
    gtk_widget_show_all(GTK_WIDGET(dialog_));
}

ProgressBox::~ProgressBox() {
    if (timer_)
        g_source_remove(timer_);
    if (dialog_) {
        g_signal_handlers_disconnect_by_data(dialog_, this);
        gtk_widget_destroy(GTK_WIDGET(dialog_));
    }
}

void ProgressBox::poll() {
    const gint64 now = guiClock();
    if (now >= nextEvents_) {
        nextEvents_ = now + EVENTS_INTERVAL_US;
        while (gtk_events_pending())
            gtk_main_iteration();
    }
    if (response_ != -1)
        throw InterruptedException();
}

void ProgressBox::setText(u64 kind, const std::string& text) {
    switch (kind) {
    case TEXT_TITLE:
        if (window_)
            gtk_window_set_title(window_, validUtf8(text).c_str());
        break;
    case TEXT_MAIN:
        if (mode_ == MODE_PERCENT) {
            if (bar_)
                gtk_progress_bar_set_text(bar_, validUtf8(text).c_str());
            percentHold_ = PERCENT_HOLD_TICKS;
        } else {
            fileRow_.pending = text;
            fileRow_.dirty = true;
        }
        break;
    case TEXT_SECOND:
        if (writeToRow_.label) {
            writeToRow_.pending = text;
            writeToRow_.dirty = true;
        }
        break;
    default:
        break;
    }
}

void ProgressBox::setPosition(u64 mode, u64 value) {
    if (mode == POSITION_SET)
        position_ = value;
    else if (mode == POSITION_ADD)
        position_ += value;
}

gboolean ProgressBox::timerCallback(gpointer self) {
    static_cast<ProgressBox*>(self)->onTimer();
    return TRUE;
}

void ProgressBox::onResponse(GtkDialog*, int response, gpointer self) {
    static_cast<ProgressBox*>(self)->response_ = response;
}

// Taken down from outside (with its parent): nothing is left to draw into, and
// the work cannot go on without its box.
void ProgressBox::onDestroy(GtkWidget*, gpointer data) {
    ProgressBox* self = static_cast<ProgressBox*>(data);
    if (self->timer_)
        g_source_remove(self->timer_);
    self->timer_ = 0;
    self->dialog_ = nullptr;
    self->window_ = nullptr;
    self->bar_ = nullptr;
    for (ProgressLabelRow* row :
         {&self->progressRow_, &self->remainingRow_, &self->fileRow_, &self->writeToRow_})
        row->label = nullptr;
    if (self->response_ == -1)
        self->response_ = GTK_RESPONSE_DELETE_EVENT;
}

void ProgressBox::flushRow(ProgressLabelRow& row) {
    if (!row.dirty)
        return;
    row.dirty = false;
    if (row.label)
        gtk_label_set_text(row.label, validUtf8(row.pending).c_str());
}

void ProgressBox::updatePercent() {
    // A position below the start counts as nothing done, not as a wrapped-around
    // amount beyond the total.
    u64 done = position_ >= start_ ? position_ - start_ : 0;
    double fraction = total_ != 0 ? static_cast<double>(done) / static_cast<double>(total_) : 0.0;
    if (fraction > 1.0)
        fraction = 1.0;
    gtk_progress_bar_set_fraction(bar_, fraction);

    if (percentHold_ == 0) {
        std::string percent = std::to_string(static_cast<int>(fraction * 100)) + "%";
        gtk_progress_bar_set_text(bar_, percent.c_str());
    } else {
        --percentHold_;
    }

    if (remainingRow_.label && fraction != 0.0) {
        // Whole seconds since the box was shown, at most one estimate a second.
        const gint64 now = (guiClock() - startTime_) / G_USEC_PER_SEC;
        if (now != lastSecond_) {
            double remaining = (1.0 - fraction) * static_cast<double>(now) / fraction;
            // A tiny fraction early on gives an estimate beyond any duration.
            constexpr double MAX_SECONDS = std::numeric_limits<u32>::max();
            u32 seconds = remaining >= MAX_SECONDS ? std::numeric_limits<u32>::max()
                          : remaining > 0.0        ? static_cast<u32>(remaining)
                                                   : 0;
            gtk_label_set_text(remainingRow_.label, durationText(seconds).c_str());
            lastSecond_ = now;
        }
    }
    if (progressRow_.label)
        gtk_label_set_text(progressRow_.label, formatProgress(done, total_).c_str());
}

void ProgressBox::onTimer() {
    if (!bar_)
        return;
    if (mode_ == MODE_TEXT)
        gtk_progress_bar_pulse(bar_);
    else
        updatePercent();
    flushRow(fileRow_);
    flushRow(writeToRow_);
}

} // namespace gtk
