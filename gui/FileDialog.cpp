#include "gui/FileDialog.h"

#include "analysis/DriveDescr.h"
#include "core/Config.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/System.h"
#include "core/Text.h"
#include "devices/Driver.h"
#include "devices/DrivesVFS.h"
#include "gui/GuiContext.h"
#include "gui/Interface.h"
#include "gui/TreeViewWidgets.h"
#include "platform/BlockDeviceList.h"
#include "platform/MountTable.h"

#include <glib.h>

#include <cstdlib>
#include <set>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int DEFAULT_WIDTH = 640;
constexpr int DEFAULT_HEIGHT = 480;
// Device mapper and RAID stacks are a few levels deep; a loop in a broken
// sysfs must not hang the dialog.
constexpr int MAX_STACK_DEPTH = 16;

std::string value(const std::string& descriptor, const char* key) {
    std::string out;
    getDescrValue(descriptor.c_str(), key, out);
    return out;
}

std::string realPath(const std::string& path) {
    std::string result = path;
    if (char* real = realpath(path.c_str(), nullptr)) {
        result = real;
        std::free(real);
    }
    return result;
}

bool isUnder(const std::string& path, const std::string& mountPoint) {
    if (mountPoint == "/")
        return !path.empty() && path[0] == '/';
    return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

// The kernel name of the block device whose device number is "major:minor".
std::string deviceByNumber(const platform::SystemRoots& roots, const std::string& number) {
    for (const platform::BlockDeviceEntry& whole : platform::listWholeDevices(roots)) {
        if (whole.devNumber == number)
            return whole.name;
        for (const platform::BlockDeviceEntry& part : platform::listPartitions(roots, whole.name))
            if (part.devNumber == number)
                return part.name;
    }
    return std::string();
}

// The kernel name of the device that holds the file system `folder` lies in;
// empty when it is no block device (tmpfs, network file systems).
std::string deviceOfFolder(const std::string& folder, const platform::SystemRoots& roots) {
    std::vector<platform::MountEntry> mounts;
    if (!platform::readMountTable(roots, mounts)) {
        logAt("FileDialog", 70) << ": " << roots.mountInfo << '\n';
        return std::string();
    }
    const std::string path = realPath(folder);
    const platform::MountEntry* best = nullptr;
    // Later lines mount over earlier ones at the same place.
    for (const platform::MountEntry& m : mounts)
        if (isUnder(path, m.mountPoint) &&
            (best == nullptr || m.mountPoint.size() >= best->mountPoint.size()))
            best = &m;
    if (best == nullptr || !platform::isBlockBacked(*best))
        return std::string();
    std::string name;
    if (best->major != 0)
        name =
            deviceByNumber(roots, std::to_string(best->major) + ":" + std::to_string(best->minor));
    // btrfs shows an anonymous device number; its source names the device.
    if (name.empty() && best->source.compare(0, 5, "/dev/") == 0)
        name = platform::blockDeviceNameOfPath(roots, roots.dev + best->source.substr(4));
    return name;
}

// The device and every device below it (the members of a device-mapper or RAID
// device, as sysfs lists them under "slaves").
void addStack(const platform::SystemRoots& roots, const std::string& name,
              std::set<std::string>& out, int depth) {
    if (name.empty() || depth > MAX_STACK_DEPTH || !out.insert(name).second)
        return;
    const std::string slaves = roots.sysfs + "/block/" + name + "/slaves";
    GDir* dir = g_dir_open(slaves.c_str(), 0, nullptr);
    if (dir == nullptr)
        return;
    std::vector<std::string> below;
    while (const gchar* entry = g_dir_read_name(dir))
        below.push_back(entry);
    g_dir_close(dir);
    for (const std::string& b : below)
        addStack(roots, b, out, depth + 1);
}

} // namespace

bool folderLiesOnSource(const std::string& sourceDescriptor, const std::string& folder,
                        const platform::SystemRoots& roots) {
    std::set<std::string> sourceNames;
    std::vector<std::string> partitions;
    const std::string text = value(sourceDescriptor, "partitions");
    if (!text.empty())
        split(text, partitions, ',');
    for (const std::string& partition : partitions)
        if (std::string name = trim(partition, " \t"); !name.empty())
            sourceNames.insert(name);
    const std::string type = value(sourceDescriptor, "type");
    // A file system may also sit on the whole device, without a partition.
    if (type == "drive" || type == "partition" || type == "floppy") {
        const std::string self =
            platform::blockDeviceNameOfPath(roots, value(sourceDescriptor, "id"));
        if (!self.empty())
            sourceNames.insert(self);
    }
    if (sourceNames.empty())
        return false;
    std::set<std::string> stack;
    addStack(roots, deviceOfFolder(folder, roots), stack, 0);
    for (const std::string& name : stack)
        if (sourceNames.count(name))
            return true;
    return false;
}

FileDialog::FileDialog(GuiContext& context, const std::string& name, int mode, const char* title)
    : context_(context), mode_(mode), tree_(context.getKnownDescriptors(), context.getDrivesVfs()) {
    if (title == nullptr)
        title = mode == OPEN ? _("Open File") : _("Save File");
    GtkWindow* parent =
        context.getInterface() ? context.getInterface()->getParentWindow() : nullptr;
    dialog_.reset(gtk::newOkCancelDialog(title, parent, GTK_RESPONSE_REJECT, GTK_RESPONSE_ACCEPT));
    GtkWindow* window = GTK_WINDOW(dialog_.get());
    gtk_window_set_default_size(window, DEFAULT_WIDTH, DEFAULT_HEIGHT);

    GtkWidget* box = gtk_vbox_new(FALSE, 4);
    gtk_container_set_border_width(GTK_CONTAINER(box), 4);
    entry_ = gtk::packLabelledEntry(GTK_BOX(box), _("_Location"), name);
    gtk_box_pack_start(GTK_BOX(box), tree_.createWidget(window, true, true), TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(dialog_.get())), box, TRUE, TRUE, 0);

    GtkWidget* advanced = tree_.createAdvancedButton();
    GtkWidget* area = gtk_dialog_get_action_area(dialog_.get());
    gtk_box_pack_start(GTK_BOX(area), advanced, FALSE, TRUE, 0);
    gtk_button_box_set_child_secondary(GTK_BUTTON_BOX(area), advanced, TRUE);

    std::vector<std::string> top;
    if (DrivesVFS* vfs = context.getDrivesVfs())
        vfs->listChildren("", top);
    tree_.fill(top);
    if (context.locationTreePath().empty())
        tree_.selectById(std::string());
    else
        tree_.selectPath(context.locationTreePath());

    g_signal_connect(tree_.getView(), "cursor-changed", G_CALLBACK(onSelectionChanged), this);
    g_signal_connect(entry_, "changed", G_CALLBACK(onSelectionChanged), this);
    g_signal_connect(tree_.getView(), "row-activated", G_CALLBACK(onRowActivated), this);
    onSelectionChanged(nullptr, this);
    gtk_widget_show_all(box);
    gtk_widget_show(advanced);
}

void FileDialog::onSelectionChanged(GtkWidget*, gpointer self) {
    FileDialog* d = static_cast<FileDialog*>(self);
    const std::string type = value(d->tree_.getSelectedDescriptor(), "type");
    const bool named = gtk_entry_get_text(d->entry_)[0] != '\0';
    if (d->dialog_)
        gtk_dialog_set_response_sensitive(d->dialog_.get(), GTK_RESPONSE_ACCEPT,
                                          named && (type == "directory" || type == "file"));
}

void FileDialog::onRowActivated(GtkTreeView* view, GtkTreePath* path, GtkTreeViewColumn*,
                                gpointer self) {
    FileDialog* d = static_cast<FileDialog*>(self);
    const std::string descriptor = d->tree_.getSelectedDescriptor();
    if (value(descriptor, "type") == "file") {
        gtk_entry_set_text(d->entry_, value(descriptor, "name").c_str());
        gtk_widget_grab_focus(GTK_WIDGET(d->entry_));
        return;
    }
    if (gtk_tree_view_row_expanded(view, path))
        gtk_tree_view_collapse_row(view, path);
    else
        gtk_tree_view_expand_row(view, path, FALSE);
}

bool FileDialog::accept(std::string& name) {
    const std::string descriptor = tree_.getSelectedDescriptor();
    std::string id;
    std::string type;
    if (!getDescrValue(descriptor.c_str(), "id", id) ||
        !getDescrValue(descriptor.c_str(), "type", type)) {
        gtk_widget_grab_focus(GTK_WIDGET(tree_.getView()));
        return false;
    }
    std::string folder = type == "file" ? pathDirName(id.c_str()) : id;
    std::string fileName = gtk_entry_get_text(entry_);
    // A typed name with folders in it ("sub/x", "../x") is taken apart, so that
    // the checks below see the folder the file really goes to.
    if (fileName.find('/') != std::string::npos) {
        const std::string full = buildFileName(folder.c_str(), fileName.c_str());
        folder = pathDirName(full.c_str());
        fileName = fileName.back() == '/' ? std::string() : pathBaseName(full.c_str());
    }
    if (fileName.empty()) {
        gtk_widget_grab_focus(GTK_WIDGET(entry_));
        return false;
    }
    GtkWindow* window = dialog_ ? GTK_WINDOW(dialog_.get()) : nullptr;
    if (mode_ == SAVE || mode_ == DESTINATION) {
        DriveDescr* driveDescr = context_.getDriveDescr();
        Driver* source = driveDescr ? driveDescr->getDriveHolder().get() : nullptr;
        const std::string path = buildFileName(folder.c_str(), fileName.c_str());
        if ((source &&
             folderLiesOnSource(source->getProperties().get(PROP_OPTIONS, ""), folder,
                                context_.getSystemRoots()) &&
             !gtk::DrivesTree::confirmWriteToSource(window)) ||
            (fileAccess(path.c_str(), 0) == 0 && !acceptExisting(path, window))) {
            gtk_widget_grab_focus(GTK_WIDGET(entry_));
            return false;
        }
    }
    context_.setLocation(id, tree_.getSelectedText(false), tree_.getSelectedPath());
    context_.setCurrentDirectory(folder);
    name = fileName;
    return true;
}

bool FileDialog::acceptExisting(const std::string& path, GtkWindow* window) const {
    // The path as it will be used, whole: a name typed below the chosen
    // folder does not say where it lands.
    const std::string shown = gtk::escapeMarkup(path);
    // Yes goes on; No, the default, goes back to the dialog.
    auto yes = [window](const std::string& question) {
        return (messageDialog(MESSAGE_QUESTION, question.c_str(), window, true, nullptr) & 1) == 0;
    };
    struct stat st {};
    const bool folder = fileStat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    auto refuse = [window](const std::string& refusal) {
        messageDialog(MESSAGE_ERROR, refusal.c_str(), window, false, nullptr);
        return false;
    };
    if (mode_ == SAVE) {
        // Overwriting cannot replace a folder; asking would only lead to "Is a
        // directory".
        if (folder)
            return refuse(formatMessage(
                _("%1 is a folder, not a file: nothing can be saved in its place. Choose "
                  "another name for the file."),
                shown));
        return yes(formatMessage(_("%1 already exists.\n\nDo you want to overwrite?"), shown));
    }
    if (!folder)
        return refuse(
            formatMessage(_("%1 is a file, not a folder: the recovery cannot go into it. Choose "
                            "another name for the destination folder."),
                          shown));
    // The recovery adds to the folder: nothing there is replaced.
    return yes(formatMessage(_("%1 already exists. Recover into it?\n\nFiles already there are "
                               "kept; recovered files whose names are taken get new names."),
                             shown));
}

bool FileDialog::run(std::string& name) {
    while (runDialog(dialog_) == GTK_RESPONSE_ACCEPT)
        if (accept(name))
            return true;
    return false;
}

bool runFileDialog(GuiContext& context, std::string& name, int mode, const char* title) {
    if (mode != FileDialog::OPEN && mode != FileDialog::SAVE && mode != FileDialog::DESTINATION)
        return false;
    FileDialog dialog(context, name, mode, title);
    return dialog.run(name);
}

namespace {

void reportFileError(GuiContext& context, const char* message, const std::string& name,
                     const std::string& reason = std::string()) {
    std::string text = std::string(message) + context.makePath(name.c_str());
    if (!reason.empty())
        text += "\n" + reason;
    if (context.getInterface())
        context.getInterface()->message(false, text.c_str(), false, nullptr);
    else
        messageFromInterface(false, text.c_str(), false, nullptr, nullptr);
}

} // namespace

void reportWriteError(GuiContext& context, const std::string& name, int code) {
    reportFileError(context, _("Cannot write to file:\n"), name, writeFailureText(code));
}

void reportReadError(GuiContext& context, const std::string& name) {
    reportFileError(context, _("Cannot read file:\n"), name);
}
