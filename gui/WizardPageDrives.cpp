#include "gui/WizardPageDrives.h"

#include "analysis/DriveDescr.h"
#include "core/Config.h"
#include "core/Intl.h"
#include "core/UserInterface.h"
#include "devices/Driver.h"
#include "devices/DrivesVFS.h"
#include "devices/ReaderFactory.h"
#include "gui/DriverEditor.h"
#include "gui/GuiContext.h"
#include "gui/Interface.h"

#include <memory>

namespace gtk {

namespace {

constexpr u64 SECTOR_SIZE = 512;

std::string value(const std::string& descriptor, const char* key) {
    std::string out;
    getDescrValue(descriptor.c_str(), key, out);
    return out;
}

} // namespace

WizardPageDrives::WizardPageDrives(Wizard* wizard, int mode, GuiContext* context,
                                   std::vector<std::string>* sourceList, DrivesVFS* vfs,
                                   bool hasBack)
    : WizardPage(wizard, mode == SOURCE ? _("Select Source") : _("Select Destination"), hasBack),
      mode_(mode), context_(context), tree_(sourceList, vfs) {}

bool WizardPageDrives::selectedRowChoosable() const {
    std::string unused;
    return getDescrValue(tree_.getSelectedDescriptor().c_str(), "ok", unused);
}

void WizardPageDrives::onCursorChanged(GtkTreeView*, gpointer self) {
    WizardPageDrives* page = static_cast<WizardPageDrives*>(self);
    page->getWizard()->setResponseSensitive(GTK_RESPONSE_ACCEPT, page->selectedRowChoosable());
}

void WizardPageDrives::onRowActivated(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*,
                                      gpointer self) {
    WizardPageDrives* page = static_cast<WizardPageDrives*>(self);
    if (page->selectedRowChoosable())
        gtk_dialog_response(page->getWizard()->getDialog(), GTK_RESPONSE_ACCEPT);
}

int WizardPageDrives::run() {
    const bool source = mode_ == SOURCE;
    std::string text =
        source ? _("Select the Source Drive, Partition or File that has the data you want to "
                   "scan and recover.")
               : _("Select the Destination Partition, Directory, Floppy Drive or Share to save "
                   "the scan and the recovered data.");
    text += _(" Press F1 for more Help.");
    showPage(text.c_str());
    Wizard* wizard = getWizard();
    wizard->setHelpTopic(source ? "WizardPageSource" : "WizardPageDestination");

    GtkWidget* widget = tree_.createWidget(wizard->getWindow(), !source, !source);
    gtk_box_pack_start(wizard->getPageBox(), widget, TRUE, TRUE, 0);
    beginExtraButtons();
    packExtraWidget(tree_.createAdvancedButton());
    if (!source && hasBackButton())
        addExtraButton(_("_Continue without Destination"), RESPONSE_NO_DESTINATION);

    GtkTreeView* view = tree_.getView();
    g_signal_connect(view, "cursor-changed", G_CALLBACK(onCursorChanged), this);
    g_signal_connect(view, "row-activated", G_CALLBACK(onRowActivated), this);
    gtk_widget_grab_focus(GTK_WIDGET(view));
    gtk_widget_show_all(widget);

    std::vector<std::string>* sourceList = tree_.getSourceList();
    if ((source || !hasBackButton()) && tree_.getVfs()) {
        std::vector<std::string> fresh;
        tree_.getVfs()->listChildren("", fresh);
        keepCustomDescriptors(*sourceList, fresh);
    }
    tree_.fill(*sourceList);

    // Coming back to the page selects what was chosen before.
    Driver* held = context_->getDriveDescr()->getDriveHolder().get();
    const std::string path = source ? (held ? held->getProperties().get(PROP_ID_PATH, "") : "")
                                    : context_->locationTreePath();
    if (path.empty())
        tree_.selectById(source || !held ? std::string() : held->getProperties().get(PROP_ID, ""));
    else
        tree_.selectPath(path);
    onCursorChanged(view, this);

    int response;
    for (;;) {
        response = wizard->run();
        if (response == GTK_RESPONSE_ACCEPT) {
            if (applySelection())
                break;
            continue;
        }
        if (response == RESPONSE_NO_DESTINATION) {
            const int answer = messageDialog(
                MESSAGE_QUESTION,
                _("You can scan the Source to view what data can be recovered, without having a "
                  "Destination. However, to recover data, or to save the scan of the Source, you "
                  "need a Destination.\n\nAre you sure you want to continue without a "
                  "Destination?"),
                wizard->getWindow(), true, nullptr);
            if ((answer & 1) == 0) {
                context_->clearLocation();
                response = GTK_RESPONSE_ACCEPT;
                break;
            }
            continue;
        }
        break;
    }

    endExtraButtons();
    wizard->setResponseSensitive(GTK_RESPONSE_ACCEPT, true);
    if (GtkWidget* menu = tree_.getMenu())
        gtk_widget_destroy(menu);
    gtk_widget_destroy(widget);
    finishPage();
    return response;
}

bool WizardPageDrives::applySelection() {
    // Enter on a row without the mark must not get past the page either.
    if (!selectedRowChoosable())
        return false;
    if (mode_ == SOURCE)
        return applySource();
    const std::string id = value(tree_.getSelectedDescriptor(), "id");
    context_->setLocation(id, tree_.getSelectedText(false), tree_.getSelectedPath());
    context_->setCurrentDirectory(id);
    return true;
}

bool WizardPageDrives::applySource() {
    const std::string descriptor = tree_.getSelectedDescriptor();
    const std::string id = value(descriptor, "id");
    const std::string type = value(descriptor, "type");
    gtk::Interface ui(getWizard()->getWindow());
    std::unique_ptr<dt::Reader> reader =
        createReaderFromDescr(*tree_.getSourceList(), descriptor.c_str(), &ui, 0);
    if (!reader)
        return false;

    auto driver = std::make_unique<Driver>(SharedPtr<dt::Reader>(reader.release()), SECTOR_SIZE);
    Attributes& properties = driver->getProperties();
    properties.set(PROP_ID, id);
    properties.set(PROP_DESCRIPTION, tree_.getSelectedText(false));
    properties.set(PROP_DESCRIPTION_BIN, tree_.getSelectedText(true));
    properties.set(PROP_ID_PATH, tree_.getSelectedPath());
    properties.setUInt8(PROP_USES_PARTITION_TABLES, type == "drive" ? 1 : 0);
    properties.setUInt8(PROP_IS_FLOPPY, type == "floppy" ? 1 : 0);
    properties.set(PROP_OPTIONS, descriptor);

    DriveDescr* driveDescr = context_->getDriveDescr();
    Driver* held = driveDescr->getDriveHolder().get();
    if (held && held->getProperties().get(PROP_ID, "") != id)
        driveDescr->reset();
    driveDescr->setDrive(driver.release());
    return true;
}

} // namespace gtk
