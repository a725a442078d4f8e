#include "gui/ScanFiles.h"

#include "analysis/DriveDescr.h"
#include "analysis/Serializer.h"
#include "analysis/Unserializer.h"
#include "core/Intl.h"
#include "core/Text.h"
#include "core/UserInterface.h"
#include "gui/FileDialog.h"
#include "gui/GuiContext.h"
#include "gui/Interface.h"
#include "gui/TreeViewWidgets.h"

#include <string>

namespace {

// The interface the analysis reports through; without one (no main window)
// the boxes still show, over no parent.
FrTreeInterface* interfaceOf(GuiContext* context) {
    static HeadlessInterface headless;
    if (context->getInterface() != nullptr)
        return context->getInterface();
    return &headless;
}

} // namespace

bool openScanWithDialog(GuiContext* context, DriveDescr& d) {
    std::string name = SAVED_SCAN_FILE_NAME;
    if (!runFileDialog(*context, name, FileDialog::OPEN, nullptr))
        return false;
    const std::string path = context->makePath(name.c_str());
    return loadScan(path.c_str(), d, interfaceOf(context));
}

bool saveScanWithPrompt(GuiContext* context, DriveDescr& d, bool ask) {
    FrTreeInterface* interface = interfaceOf(context);
    if (ask &&
        interface->message(true,
                           _("Saving a scan allows you to Load the saved scan from the "
                             "Destination without having to rescan the Source again. This would "
                             "be useful if you exited the program and re-entered it later to "
                             "recover data.\n\nDo you want to save the scan to a file?"),
                           false, nullptr) != 0)
        return true;

    std::string name = SAVED_SCAN_FILE_NAME;
    if (!runFileDialog(*context, name, FileDialog::SAVE, nullptr))
        return false;
    const std::string path = context->makePath(name.c_str());
    if (!saveScan(path.c_str(), d, interface))
        return false;

    const std::string note =
        formatMessage(_("The scan has been saved as %1.\n\nSaving a scan allows you to load the "
                        "saved scan without having to rescan the Source again. This would be "
                        "useful if you exited the program and re-entered it later to recover "
                        "data."),
                      gtk::escapeMarkup(path));
    if (gtk::Interface* gui = context->getInterface())
        gui->information(false, note.c_str(), false, nullptr);
    else
        messageDialog(MESSAGE_INFO_CLOSE, note.c_str(), nullptr, false, nullptr);
    return true;
}
