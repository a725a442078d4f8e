#include "gui/RecoverCommand.h"

#include "core/Intl.h"
#include "core/Log.h"
#include "core/Preferences.h"
#include "core/System.h"
#include "core/Text.h"
#include "gui/FileDialog.h"
#include "gui/GuiContext.h"
#include "gui/MessageDialog.h"
#include "gui/ProgressBox.h"
#include "gui/TreeInterface.h"
#include "gui/TreeViewWidgets.h"
#include "tree/ParserInformation.h"
#include "tree/ParserRecover.h"
#include "tree/RecovererCopyOff.h"

#include <cerrno>
#include <sstream>

namespace gtk {

std::string recoverDestinationName(std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[21] = {};
    if (std::strftime(buffer, sizeof buffer, "Recover-%Y%m%d%H%M", &local) == 0)
        return "Recover";
    return buffer;
}

GtkDialog* newRecoverConfirmation(GtkWindow* parent, const std::string& text) {
    GtkWidget* dialog = gtk_message_dialog_new(
        parent, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        GTK_MESSAGE_INFO, GTK_BUTTONS_CANCEL, nullptr);
    gtk_dialog_add_button(GTK_DIALOG(dialog), "Recover", GTK_RESPONSE_ACCEPT);
    gtk_dialog_set_alternative_button_order(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT,
                                            GTK_RESPONSE_CANCEL, -1);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    // The destination path comes from the user and may hold markup characters.
    gtk_message_dialog_set_markup(GTK_MESSAGE_DIALOG(dialog), escapeMarkup(text).c_str());
    // Long paths stay on one line rather than breaking anywhere.
    GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog));
    GList* children = gtk_container_get_children(GTK_CONTAINER(area));
    for (GList* c = children; c; c = c->next) {
        if (GTK_IS_LABEL(c->data))
            gtk_label_set_line_wrap(GTK_LABEL(c->data), FALSE);
    }
    g_list_free(children);
    return GTK_DIALOG(dialog);
}

bool confirmRecover(GtkWindow* parent, const std::string& text) {
    OwnedDialog dialog(newRecoverConfirmation(parent, text));
    return runDialog(dialog) == GTK_RESPONSE_ACCEPT;
}

std::string recoverNote(const tree::RecoveryCounts& counts) {
    std::string note;
    if (counts.split != 0)
        note += std::string(_("Some files have been split into volumes.")) + "\n";
    // Errors are counted by file and by incomplete folder: a folder that could
    // not be read whole is no file written with errors.
    if (counts.errors > counts.unwritten + counts.incompleteFolders)
        note += std::string(_("Some files have been recovered with errors.")) + "\n";
    if (counts.incompleteFolders != 0)
        note += std::string(_("Some folders could not be read whole: files in them may be "
                              "missing. The report marks them \"(incomplete)\".")) +
                "\n";
    if (counts.unwritten != 0)
        note += std::string(_("Some files could not be written.")) + "\n";
    if (counts.tooLarge != 0)
        note += std::string(_("Some files are larger than the destination takes. The File Size "
                              "Limit in Preferences (Drive Settings) splits files into pieces "
                              "that fit.")) +
                "\n";
    if (!note.empty())
        note += _("\nSee report that follows this message.");
    return note;
}

} // namespace gtk

namespace {

// The File Size Limit as a volume limit: a limit below one byte cannot be
// meant, and taken as it stands it would split every file into empty volumes.
u64 volumeLimit() {
    const i64 limit = Preferences::instance().fileSizeLimit();
    return limit > 0 ? static_cast<u64>(limit) : 0;
}

} // namespace

std::unique_ptr<ProgressBoxIC> TreeInterface::createRecoverProgressBox(GtkWindow* parent,
                                                                       u64 total) {
    auto box =
        std::make_unique<gtk::ProgressBox>(parent, gtk::ProgressBox::MODE_FILES, total, 0, 600);
    box->setText(InterfaceCallback::TEXT_TITLE, _("Recovering Files"));
    return box;
}

void TreeInterface::recover() {
    tree::Map* map = getMap();
    FrTreeInterface* ui = getInterface();
    tree::ParseTotals totals;
    {
        tree::ParserInformation information(map);
        information.run(totals, true, ui);
    }
    const tree::Totals marked = totals.selected;
    if (marked.files == 0) {
        ui->message(
            false,
            _("To recover individual files, right mouse click on the file. A red check-mark will "
              "appear, indicating the file has been tagged for recovery. Then, press the "
              "[Recover] button from the Menu Bar to start the recovery process.\n\nTo recover "
              "all files and folders, right mouse click on the \"Root\" folder (top left-hand "
              "column of folder listings). A red check-mark will appear, indicating all files "
              "have been tagged for recovery. Then, click the [Recover] button from the Menu Bar "
              "to start the recovery process."),
            false, nullptr);
        return;
    }

    GuiContext& context = *getContext();
    std::string name = gtk::recoverDestinationName(std::time(nullptr));
    if (!runFileDialog(context, name, FileDialog::DESTINATION,
                       _("Select Recover Destination Folder")))
        return;
    const std::string destination = context.makePath(name.c_str());

    std::ostringstream report;
    report << _("Selected") << ": ";
    tree::printTotals(report, marked);
    report << '\n' << _("Destination") << ": " << destination;
    if (!gtk::confirmRecover(parentWindow(), report.str()))
        return;

    tree::RecovererCopyOff recoverer(destination, destination, volumeLimit());
    report.str(std::string());
    report.clear();
    writeReportHeader(report, _("Recovered Selected Files Report"), false, true, false, false);
    tree::ParserRecover parser(map, &report, &recoverer, ui);
    {
        std::unique_ptr<ProgressBoxIC> box = createRecoverProgressBox(parentWindow(), marked.bytes);
        InterfaceCallbackScope scope(recoverer, box.get());
        // What was written before a failure is reported all the same.
        try {
            parser.run();
        } catch (const std::exception& e) {
            logAt("TreeInterface", 230) << ": " << e.what() << '\n';
            ui->message(false, gtk::failureText(e).c_str(), false, nullptr);
        } catch (...) {
            logAt("TreeInterface", 233) << '\n';
            ui->message(false, _("Unknown exception"), false, nullptr);
        }
    }
    refreshRows();

    const std::string note = gtk::recoverNote(parser.getCounts());
    if (!note.empty())
        information(false, gtk::escapeMarkup(note));
    std::ostringstream closing;
    const tree::Totals& written = parser.getWritten();
    // The sentence ends as the language ends it.
    std::ostringstream recovered;
    tree::printTotals(recovered, written);
    closing << formatMessage(_("You have recovered %1."), recovered.str()) << "\n\n";
    // A cancel, a No to a question or a failed step ends the walk early: the
    // message must not claim the marked files were all written.
    if (!parser.isComplete())
        closing << formatMessage(parser.isCancelled()
                                     ? _("The recovery was cancelled: %1 of %2 marked files were "
                                         "written. The report tells where it stopped.")
                                     : _("The recovery did not finish: %1 of %2 marked files were "
                                         "written. The report tells where it stopped."),
                                 formatThousands(written.files), formatThousands(marked.files))
                << "\n\n";
    closing << _("To confirm the validity of a file refer to the \"Status\" column and the F1 "
                 "Help notes. To view and use the recovered data, the Destination Drive should "
                 "now be attached to a working Windows computer system.");
    // The note promised the report: it follows unless the user unticks it.
    const int answer = information(true, gtk::escapeMarkup(closing.str()),
                                   _("_View Recovered Files Report Now"), !note.empty());
    if (answer & 0x10)
        showText(_("Report"), report.str());
}

void TreeInterface::viewFile() {
    tree::MapPosition node;
    if (!getCurrentNode(node))
        return;
    std::unique_ptr<tree::MapIterator> cursor = openCursor(node, true, false);
    if (!cursor || cursor->isDirectory()) {
        getInterface()->message(false, _("Please select file"), false, nullptr);
        return;
    }
    viewNode(*cursor);
}

bool TreeInterface::viewNode(tree::MapIterator& node) {
    Preferences& preferences = Preferences::instance();
    const std::string folder = preferences.viewDirectory();
    if (folder.empty()) {
        // The reason of the make that failed.
        const std::string text =
            std::string(_("Cannot create a temporary folder.")) + "\n" + writeFailureText(errno);
        getInterface()->message(false, text.c_str(), false, nullptr);
        return false;
    }
    // The File Size Limit splits what is recovered, not what is viewed: a
    // viewer handed the first volume of a file shows a broken file.
    constexpr u64 WHOLE = 0;
    // Its messages name the folder the copy really goes to: the user looks there.
    tree::RecovererCopyOff recoverer(folder, folder, WHOLE);
    // A copy cut short (no room, a cancel) is of no use to a viewer, and it
    // would take the room that the next file viewed needs.
    auto giveUp = [&recoverer] {
        recoverer.discardFile();
        return false;
    };
    std::vector<std::string> path;
    try {
        std::unique_ptr<ProgressBoxIC> box =
            createRecoverProgressBox(parentWindow(), node.getSize());
        InterfaceCallbackScope scope(recoverer, box.get());
        std::unique_ptr<tree::MapIterator> up = node.clone();
        // The root's own name is never part of the path.
        while (up->up() && up->canGoUp())
            path.insert(path.begin(), up->getName());
        // Read errors leave the pattern in the copy; it is shown all the same.
        node.recover(recoverer, path);
    } catch (const InterruptedException&) {
        logAt("TreeInterface", 448) << '\n';
        return giveUp();
    } catch (const tree::Recoverer::FileTooLarge& e) {
        logAt("TreeInterface", 451) << ": " << e.what() << '\n';
        const std::string text = formatMessage(
            _("%1 cannot be viewed: the temporary folder cannot hold a file this large.\n%2"),
            node.getName(), e.what());
        getInterface()->message(false, text.c_str(), false, nullptr);
        return giveUp();
    } catch (const tree::Recoverer::Exception& e) {
        logAt("TreeInterface", 453) << ": " << e.what() << '\n';
        const std::string text =
            formatMessage(_("%1 cannot be viewed.\n%2"), node.getName(), e.what());
        getInterface()->message(false, text.c_str(), false, nullptr);
        return giveUp();
    } catch (const std::exception& e) {
        logAt("TreeInterface", 454) << ": " << e.what() << '\n';
        getInterface()->message(false, gtk::failureText(e).c_str(), false, nullptr);
        return giveUp();
    } catch (...) {
        getInterface()->message(false, _("Unknown exception"), false, nullptr);
        logAt("TreeInterface", 458) << '\n';
        return giveUp();
    }
    const std::vector<std::string>& written = recoverer.getFiles();
    if (written.empty())
        return false;
    const std::string file = buildFileName(folder.c_str(), written.front().c_str());
    std::string display = tree::joinPath(path);
    if (!display.empty())
        display += '/';
    display += node.getName();
    systemOpenFile(file.c_str(), display.c_str());
    return true;
}
