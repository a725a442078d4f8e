#include "gui/FindFileDialog.h"

#include "core/DateTime.h"
#include "core/Intl.h"
#include "gui/TreeViewWidgets.h"

#include <utility>

bool FindParams::timeInRange(u32 time) const {
    if (time == NO_TIME)
        return false;
    const i64 t = time;
    return t >= from_ && t <= to_;
}

namespace gtk {

namespace {

// The text a stored time shows. A time that is no valid time (stored from a
// date text that did not parse while the range was off) shows as empty.
std::string dateText(i64 time) {
    if (time == FindParams::NO_VALID_TIME)
        return std::string();
    return formatDateTime(time, true);
}

GtkEntry* newDateEntry(i64 time) {
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry), dateText(time).c_str());
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    return GTK_ENTRY(entry);
}

} // namespace

FindFileDialog::FindFileDialog(GtkWindow* parent, const FindParams& params) {
    dialog_.reset(
        newOkCancelDialog(_("Find File"), parent, GTK_RESPONSE_REJECT, GTK_RESPONSE_ACCEPT));
    gtk_window_set_default_size(GTK_WINDOW(dialog_.get()), 640, -1);

    GtkWidget* box = gtk_vbox_new(FALSE, 4);
    gtk_container_set_border_width(GTK_CONTAINER(box), 4);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(dialog_.get())), box, TRUE, TRUE, 0);

    mask_ = packLabelledEntry(GTK_BOX(box), _("_Look For"), params.mask());
    packHint(
        GTK_BOX(box),
        _("Type all or part of the file name you are looking for in the search field above.\n\nTo "
          "search for only file extensions, type a period before the file extension you are "
          "looking for. Example: type \".doc\" (without quotes) to look for all files with a DOC "
          "extension.\n\nYou can also use wildcards in your search using the asterisk (*). As "
          "example, type \"ba*.txt\" (without quotes) to find all files that start with \"ba\" and "
          "have a \"txt\" extension.\n\nNote: The first file with the parameters entered is "
          "automatically displayed. To find the next file, select [Tools->Find Next File] from the "
          "Menu Bar. Right click on individual files to tag them for recovery."));

    GtkWidget* frame = gtk_frame_new(nullptr);
    useDates_ = GTK_TOGGLE_BUTTON(gtk_check_button_new_with_mnemonic(_("_Modified between")));
    gtk_toggle_button_set_active(useDates_, params.useDates());
    gtk_frame_set_label_widget(GTK_FRAME(frame), GTK_WIDGET(useDates_));
    GtkWidget* inner = gtk_vbox_new(FALSE, 4);
    gtk_container_set_border_width(GTK_CONTAINER(inner), 4);
    GtkWidget* dates = gtk_hbox_new(FALSE, 4);
    from_ = newDateEntry(params.from());
    to_ = newDateEntry(params.to());
    gtk_box_pack_start(GTK_BOX(dates), GTK_WIDGET(from_), TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(dates), gtk_label_new("-"), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(dates), GTK_WIDGET(to_), TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(inner), dates, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(frame), inner);
    gtk_box_pack_start(GTK_BOX(box), frame, FALSE, FALSE, 4);

    gtk_widget_set_sensitive(GTK_WIDGET(from_), params.useDates());
    gtk_widget_set_sensitive(GTK_WIDGET(to_), params.useDates());
    g_signal_connect(useDates_, "toggled", G_CALLBACK(onDatesToggled), this);
    gtk_widget_show_all(box);
}

void FindFileDialog::onDatesToggled(GtkToggleButton* check, gpointer self) {
    auto* d = static_cast<FindFileDialog*>(self);
    const bool on = gtk_toggle_button_get_active(check);
    gtk_widget_set_sensitive(GTK_WIDGET(d->from_), on);
    gtk_widget_set_sensitive(GTK_WIDGET(d->to_), on);
    if (on)
        gtk_widget_grab_focus(GTK_WIDGET(d->from_));
}

bool FindFileDialog::take(FindParams& params) {
    const std::string mask = gtk_entry_get_text(mask_);
    if (mask.empty()) {
        gtk_widget_grab_focus(GTK_WIDGET(mask_));
        return false;
    }
    const bool useDates = gtk_toggle_button_get_active(useDates_);
    // While the range is off whatever the texts parse to is kept, -1 included:
    // they are not used, and the next run shows them again.
    i64 from = parseDateTime(gtk_entry_get_text(from_), true);
    if (useDates && from == FindParams::NO_VALID_TIME) {
        gtk_widget_grab_focus(GTK_WIDGET(from_));
        return false;
    }
    i64 to = parseDateTime(gtk_entry_get_text(to_), true);
    if (useDates && to == FindParams::NO_VALID_TIME) {
        gtk_widget_grab_focus(GTK_WIDGET(to_));
        return false;
    }
    if (from > to)
        std::swap(from, to);
    params.setMask(mask);
    params.setUseDates(useDates);
    params.setFrom(from);
    params.setTo(to);
    return true;
}

bool FindFileDialog::run(FindParams& params) {
    bool accepted = false;
    while (!accepted && runDialog(dialog_) == GTK_RESPONSE_ACCEPT)
        accepted = take(params);
    dialog_.reset();
    return accepted;
}

} // namespace gtk

bool runFindFileDialog(GtkWindow* parent, FindParams& params) {
    gtk::FindFileDialog dialog(parent, params);
    return dialog.run(params);
}
