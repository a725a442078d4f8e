#include "gui/SelectByMaskDialog.h"

#include "core/Intl.h"

namespace gtk {

SelectByMask::Dialog::Dialog(GtkWindow* parent, const std::string& mask) {
    dialog_.reset(
        newOkCancelDialog(_("Select By Mask"), parent, GTK_RESPONSE_REJECT, GTK_RESPONSE_ACCEPT));
    GtkWidget* box = gtk_vbox_new(FALSE, 4);
    gtk_container_set_border_width(GTK_CONTAINER(box), 4);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(dialog_.get())), box, TRUE, TRUE, 0);

    entry_ = packLabelledEntry(GTK_BOX(box), _("_Mask"), mask);
    packHint(
        GTK_BOX(box),
        _("Example: *.txt: (* = all) (.txt = txt extension) - tags all files with txt "
          "extensions.\n\nExample: *bank*.* (* = all) (bank = file names with the word \"bank\") - "
          "tags all file names with the word \"bank\".\n\nNote: All files with the parameters "
          "entered are automatically tagged with a red check icon, indicating they have been "
          "tagged for recovery. Right click on the \"Root\" folder to un-tag all files. Right "
          "click "
          "on individual files to un-tag them."));
    gtk_widget_show_all(box);
}

bool SelectByMask::Dialog::take(std::string& mask) {
    const std::string text = gtk_entry_get_text(entry_);
    if (text.empty()) {
        gtk_widget_grab_focus(GTK_WIDGET(entry_));
        return false;
    }
    mask = text;
    return true;
}

bool SelectByMask::Dialog::run(std::string& mask) {
    bool accepted = false;
    while (runDialog(dialog_) == GTK_RESPONSE_ACCEPT) {
        if (take(mask)) {
            accepted = true;
            break;
        }
    }
    dialog_.reset();
    return accepted;
}

bool SelectByMask::run(GtkWindow* parent) {
    Dialog dialog(parent, mask_);
    return dialog.run(mask_);
}

} // namespace gtk
