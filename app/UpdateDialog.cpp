#include "app/UpdateDialog.h"

#include "core/Intl.h"
#include "core/Log.h"
#include "core/System.h"
#include "core/Text.h"
#include "gui/ProgressBox.h"
#include "gui/TreeViewWidgets.h"

#include <cerrno>
#include <fcntl.h>
#include <glib/gstdio.h>
#include <unistd.h>

namespace {

GtkWidget* centredLabel(const std::string& markup, const char* name) {
    GtkWidget* label = gtk_label_new(nullptr);
    gtk_label_set_markup(GTK_LABEL(label), markup.c_str());
    gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
    gtk_widget_set_name(label, name);
    return label;
}

void onReleaseNotes(GtkButton*, gpointer url) {
    const std::string& address = *static_cast<const std::string*>(url);
    // The feed comes from the network: only a web page is handed to the
    // desktop, never a local file or another kind of address.
    if (address.compare(0, 7, "http://") == 0 || address.compare(0, 8, "https://") == 0)
        systemOpen(address.c_str());
    else
        logAt("UpdateDialog", 130) << ": " << address << '\n';
}

} // namespace

bool offerUpdate(GtkWindow* parent, const UpdateInfo& info, const std::string& currentVersion) {
    GtkWidget* dialog = gtk_dialog_new_with_buttons(
        _("Update"), parent,
        GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT | GTK_DIALOG_NO_SEPARATOR),
        GTK_STOCK_NO, GTK_RESPONSE_NO, nullptr);
    GtkWidget* yes = gtk_dialog_add_button(GTK_DIALOG(dialog), GTK_STOCK_YES, GTK_RESPONSE_YES);
    gtk_dialog_set_alternative_button_order(GTK_DIALOG(dialog), GTK_RESPONSE_YES, GTK_RESPONSE_NO,
                                            -1);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_YES);
    if (!parent)
        gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);

    GtkWidget* box = gtk_vbox_new(FALSE, 8);
    gtk_container_set_border_width(GTK_CONTAINER(box), 8);
    const std::string available =
        "<b><i>" +
        formatMessage(_("%1 is available."),
                      "<span color='blue'>" + escapeMarkup(info.version) + "</span>") +
        "</i></b>";
    gtk_box_pack_start(GTK_BOX(box), centredLabel(available, "available"), FALSE, FALSE, 0);
    GtkWidget* notes = gtk_button_new_with_mnemonic(_("_Show Release Notes"));
    g_signal_connect(notes, "clicked", G_CALLBACK(onReleaseNotes),
                     const_cast<std::string*>(&info.releaseNotesUrl));
    GtkWidget* notesRow = gtk_hbox_new(FALSE, 0);
    gtk_box_pack_start(GTK_BOX(notesRow), notes, TRUE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), notesRow, FALSE, FALSE, 0);
    const std::string question =
        formatMessage(_("You are using %1 now.\nWould you like to install the new version?"),
                      "<span color='blue'><i>" + escapeMarkup(currentVersion) + "</i></span>");
    gtk_box_pack_start(GTK_BOX(box), centredLabel(question, "current"), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), box, TRUE, TRUE,
                       0);
    gtk_widget_show_all(dialog);
    gtk_widget_grab_focus(yes);
    // The dialog may go with its parent while it runs.
    gtk::OwnedDialog owned(GTK_DIALOG(dialog));
    return gtk::runDialog(owned) == GTK_RESPONSE_YES;
}

std::string downloadInstaller(Update& update, const UpdateInfo& info,
                              const std::string& parentDirectory) {
    // mkdtemp makes the folder with mode 0700 and fails on anything already
    // there, so no one else can put a file or a link in the installer's place.
    std::string pattern = buildFileName(parentDirectory.c_str(), "halbrook-update-XXXXXX");
    if (!g_mkdtemp_full(&pattern[0], 0700)) {
        logAt("UpdateDialog", 40) << ": " << pattern << ' ' << lastErrorText() << '\n';
        return std::string();
    }
    const std::string folder = pattern;
    const std::string path = buildFileName(folder.c_str(), Update::installerName(info.url).c_str());
    bool complete = false;
    StreamFile file;
    file.setInterfaceCallback(update.getInterfaceCallback());
    update.setText(InterfaceCallback::TEXT_SECOND, path);
    auto discard = [&] {
        file.close();
        removeFile(path.c_str());
        g_rmdir(folder.c_str());
    };
    try {
        if (file.open(path.c_str())) {
            complete = update.httpGet(info.url.c_str(), file, info.length, 0);
            if (complete && file.written() != info.length) {
                logAt("UpdateDialog", 60) << ": " << file.written() << ' ' << info.length << '\n';
                complete = false;
            }
        }
    } catch (...) {
        discard();
        throw;
    }
    if (!complete) {
        logAt("UpdateDialog", 176) << ": " << info.url << '\n';
        discard();
        return std::string();
    }
    file.close();
    return path;
}

StreamFile::~StreamFile() {
    close();
}

bool StreamFile::open(const char* path) {
    close();
    fd_ = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        logAt("UpdateDialog", 46) << ": " << path << ' ' << lastErrorText() << '\n';
        return false;
    }
    written_ = 0;
    return true;
}

bool StreamFile::write(const u8* data, u32 length) {
    u32 done = 0;
    while (done < length) {
        ssize_t n = ::write(fd_, data + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            logAt("UpdateDialog", 56) << '\n';
            return false;
        }
        done += static_cast<u32>(n);
    }
    written_ += length;
    setPosition(InterfaceCallback::POSITION_ADD, length);
    poll();
    return true;
}

void StreamFile::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool runUpdateCheck(GtkWindow* parent, const char* url, const char* currentVersion,
                    platform::TcpNetwork& network) {
    if (!url || !*url) {
        logAt("UpdateDialog", 73) << '\n';
        return false;
    }
    const std::string current = currentVersion ? currentVersion : "";
    Update update(network);
    UpdateInfo info;
    try {
        {
            gtk::ProgressBox box(parent, gtk::ProgressBox::MODE_TEXT, 0, 0, 320);
            box.setText(InterfaceCallback::TEXT_MAIN, _("Looking for updates"));
            InterfaceCallbackScope scope(update, &box);
            box.poll();
            if (!update.check(url, info)) {
                logAt("UpdateDialog", 91) << ": " << url << '\n';
                return false;
            }
        }
        logAt("UpdateDialog", 97) << ": " << info.version << ' ' << info.url << ' ' << info.length
                                  << ' ' << info.releaseNotesUrl << '\n';
        // Versions are compared as texts, byte by byte: the feed decides what
        // sorts after the running one.
        if (info.version <= current) {
            logAt("UpdateDialog", 99) << ": " << current << '\n';
            return false;
        }
        if (!offerUpdate(parent, info, current))
            return false;
        std::string path;
        {
            gtk::ProgressBox box(parent, gtk::ProgressBox::MODE_FILES, info.length, 0, 600);
            box.setText(InterfaceCallback::TEXT_TITLE, _("Downloading"));
            box.setText(InterfaceCallback::TEXT_MAIN, info.url);
            InterfaceCallbackScope scope(update, &box);
            box.poll();
            path = downloadInstaller(update, info, tempDirectory());
        }
        if (path.empty())
            return false;
        systemOpen(path.c_str());
        return true;
    } catch (const InterruptedException&) {
        logAt("UpdateDialog", 183) << '\n';
        return false;
    }
}
