#include "gui/WizardPageSelectFs.h"

#include "analysis/Analyzer.h"
#include "core/Intl.h"
#include "core/UserInterface.h"
#include "devices/Driver.h"
#include "gui/ButtonColumnDialog.h"
#include "gui/FsStructureView.h"
#include "gui/GuiContext.h"
#include "gui/Interface.h"
#include "gui/ResponseButton.h"
#include "gui/TextEditor.h"
#include "gui/TreeViewPanels.h"
#include "gui/TreeViewWidgets.h"

#include <sstream>

namespace gtk {

namespace {

enum Column { COL_PARTITION, COL_FILE_SYSTEM, COL_SIZE, COL_ID, COLUMN_COUNT };
constexpr int NAME_COLUMN_WIDTH = 200;
constexpr int VIEW_WIDTH = 640;

struct ComponentButton {
    const char* label;
    const char* name;
};
// Indexed by FsComponent.
const ComponentButton COMPONENT_BUTTONS[COMPONENT_COUNT] = {
    {nullptr, nullptr},
    {N_("_Partition Table"), "partitionTable"},
    {N_("_Boot Sector"), "bootSector"},
    {N_("_FATs"), "fats"},
    {N_("_Root Directory"), "rootDirectory"},
    {N_("_NTFS Volume"), "ntfsVolume"},
    {N_("Boot _Sector Backup"), "bootBackup"},
};

bool askQuestion(GuiContext* context, GtkWindow* parent, const char* text) {
    if (context->getInterface())
        return (context->getInterface()->message(true, text, false, nullptr) & 1) == 0;
    return (messageDialog(MESSAGE_QUESTION, text, parent, false, nullptr) & 1) == 0;
}

} // namespace

WizardPageSelectFs::WizardPageSelectFs(Wizard* wizard, Analyzer* analyzer, GuiContext* context,
                                       bool hasBack)
    : WizardPageWithTreeView(wizard, _("Select Partition"), hasBack), analyzer_(analyzer),
      context_(context), driveDescr_(&analyzer->getDriveDescr()) {
    store_ =
        gtk_list_store_new(COLUMN_COUNT, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_INT);
    GtkTreeView* view = getTreeView().getView();
    gtk_tree_view_set_model(view, GTK_TREE_MODEL(store_));
    g_object_unref(store_);
    gtk_widget_set_name(GTK_WIDGET(view), "fileSystems");
    const char* titles[] = {_("Partitions"), _("File System"), _("Size")};
    for (int i = COL_PARTITION; i <= COL_SIZE; ++i) {
        GtkTreeViewColumn* column = getTreeView().appendTextColumn(titles[i], i);
        if (i != COL_SIZE) {
            gtk_tree_view_column_set_sizing(column, GTK_TREE_VIEW_COLUMN_FIXED);
            gtk_tree_view_column_set_fixed_width(column, NAME_COLUMN_WIDTH);
        }
    }
}

FsCandidate* WizardPageSelectFs::getSelectedCandidate() const {
    const int id = getTreeView().getSelectedId();
    if (id < 0)
        return nullptr;
    return getSelectedFileSystem(driveDescr_->getLayout(), static_cast<u32>(id));
}

void WizardPageSelectFs::updateViewButton() {
    if (viewButton_)
        gtk_widget_set_sensitive(viewButton_, getSelectedCandidate() != nullptr);
}

void WizardPageSelectFs::onCursorChanged(GtkTreeView*, gpointer self) {
    static_cast<WizardPageSelectFs*>(self)->updateViewButton();
}

void WizardPageSelectFs::fillList() {
    gtk_list_store_clear(store_);
    for (const FsListRow& row : fileSystemRows(*driveDescr_))
        gtk_list_store_insert_with_values(store_, nullptr, -1, COL_PARTITION, row.partition.c_str(),
                                          COL_FILE_SYSTEM, row.fileSystem.c_str(), COL_SIZE,
                                          row.size.c_str(), COL_ID, row.id, -1);
    // An empty list has no first row to stand on.
    if (gtk_tree_model_iter_n_children(GTK_TREE_MODEL(store_), nullptr) > 0) {
        GtkTreeView* view = getTreeView().getView();
        GtkTreePath* first = gtk_tree_path_new_first();
        gtk_tree_view_set_cursor(view, first, nullptr, FALSE);
        gtk_tree_view_scroll_to_cell(view, first, nullptr, FALSE, 0, 0);
        gtk_tree_path_free(first);
    }
    updateViewButton();
}

int WizardPageSelectFs::run() {
    showTreePage(_("Select a Partition to view the data that can be recovered. If you are not "
                   "sure which Partition to choose, press F1 for more Help."));
    beginExtraButtons();
    viewButton_ = addExtraButton(_("_View File System"), GTK_RESPONSE_CANCEL);
    gtk_widget_set_name(viewButton_, "viewFileSystem");
    GtkTreeView* view = getTreeView().getView();
    const gulong cursorHandler =
        g_signal_connect(view, "cursor-changed", G_CALLBACK(onCursorChanged), this);
    fillList();
    getWizard()->setHelpTopic("WizardPageSelectFs");

    int response;
    do
        response = WizardPageWithTreeView::run();
    while (!handleResponse(response));

    g_signal_handler_disconnect(view, cursorHandler);
    endExtraButtons();
    viewButton_ = nullptr;
    hideTreePage();
    return response;
}

bool WizardPageSelectFs::handleResponse(int response) {
    switch (response) {
    case GTK_RESPONSE_ACCEPT: {
        tree::Map* before = driveDescr_->getMapHolder().get();
        if (before && !askQuestion(context_, getWizard()->getWindow(),
                                   _("Do you want to build a new File and Folder listing?")))
            return false;
        driveDescr_->setSelectedEntry(getSelectedCandidate());
        try {
            analyzer_->buildMap();
        } catch (const InterruptedException&) {
            // A cancelled build keeps the user on the page.
        }
        // A build that failed leaves no tree, or the one from before.
        tree::Map* built = driveDescr_->getMapHolder().get();
        if (built && built != before)
            return true;
        gtk_widget_grab_focus(GTK_WIDGET(getTreeView().getView()));
        return false;
    }
    case GTK_RESPONSE_CANCEL:
        if (const FsCandidate* candidate = getSelectedCandidate())
            showComponentsDialog(*candidate);
        return false;
    case GTK_RESPONSE_REJECT:
    case GTK_RESPONSE_CLOSE:
        return true;
    default:
        return false;
    }
}

void WizardPageSelectFs::showComponentsDialog(const FsCandidate& candidate) {
    const Driver* driver = driveDescr_->getDriveHolder().get();
    const bool usesTables =
        driver && driver->getProperties().getUInt8(PROP_USES_PARTITION_TABLES, 1);
    const StructureSummary summary = describeStructures(candidate, usesTables);

    GtkWindow* parent = getWizard()->getWindow();
    OwnedDialog owned(GTK_DIALOG(gtk_dialog_new_with_buttons(
        _("View File System"), parent,
        static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL, nullptr)));
    GtkDialog* dialog = owned.get();
    gtk_window_set_default_size(GTK_WINDOW(dialog), VIEW_WIDTH, -1);
    if (!parent)
        gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);

    GtkWidget* row = gtk_hbox_new(FALSE, 8);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(dialog)), row, TRUE, TRUE, 0);
    GtkWidget* information = gtk_frame_new(_("Information"));
    gtk_box_pack_start(GTK_BOX(row), information, TRUE, TRUE, 0);
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC,
                                   GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
    gtk_container_set_border_width(GTK_CONTAINER(scrolled), 4);
    gtk_container_add(GTK_CONTAINER(information), scrolled);
    GtkWidget* text = gtk_text_view_new();
    gtk_widget_set_name(text, "structures");
    gtk_text_view_set_editable(GTK_TEXT_VIEW(text), FALSE);
    // Read-only: a blinking cursor would promise an edit that never comes.
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(text), FALSE);
    gtk_container_add(GTK_CONTAINER(scrolled), text);

    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(text));
    gtk_text_buffer_create_tag(buffer, "fg", "foreground", "green", nullptr);
    gtk_text_buffer_create_tag(buffer, "fr", "foreground", "red", nullptr);
    GtkTextIter end;
    for (const StructureText& piece : summary.text) {
        gtk_text_buffer_get_end_iter(buffer, &end);
        if (piece.tag)
            gtk_text_buffer_insert_with_tags_by_name(buffer, &end, piece.text.c_str(), -1,
                                                     piece.tag, nullptr);
        else
            gtk_text_buffer_insert(buffer, &end, piece.text.c_str(), -1);
    }

    GtkWidget* components = gtk_frame_new(_("View Components"));
    gtk_box_pack_start(GTK_BOX(row), components, FALSE, FALSE, 0);
    GtkWidget* buttons = gtk_vbox_new(FALSE, 4);
    gtk_container_set_border_width(GTK_CONTAINER(buttons), 4);
    gtk_container_add(GTK_CONTAINER(components), buttons);
    for (int c = COMPONENT_PARTITION_TABLE; c < COMPONENT_COUNT; ++c) {
        GtkWidget* button = gtk_button_new_with_mnemonic(_(COMPONENT_BUTTONS[c].label));
        gtk_widget_set_name(button, COMPONENT_BUTTONS[c].name);
        gtk_widget_set_sensitive(button, summary.dumpable[c]);
        ResponseButton(dialog, c).connect(button);
        gtk_box_pack_start(GTK_BOX(buttons), button, FALSE, FALSE, 0);
    }
    gtk_widget_show_all(GTK_WIDGET(dialog));

    for (;;) {
        const int response = runDialog(owned);
        if (response < COMPONENT_PARTITION_TABLE || response >= COMPONENT_COUNT)
            break;
        showComponent(GTK_WINDOW(dialog), response);
    }
}

void WizardPageSelectFs::showComponent(GtkWindow* parent, int component) {
    const FsCandidate* candidate = getSelectedCandidate();
    if (!candidate)
        return;
    // A dump that fails (a source gone away) is shown; the view stays up.
    guardCallback("WizardPageSelectFs", [&] {
        bool mirror = false;
        if (component == COMPONENT_FATS) {
            const char* const copies[] = {_("_FAT"), _("FAT _Mirror"), nullptr};
            const int chosen = ButtonColumnDialog(parent, _("Select FAT"), copies).run();
            if (chosen < 0)
                return;
            mirror = chosen == 1;
        }
        std::ostringstream dump;
        std::string title;
        if (!dumpStructure(*driveDescr_, *candidate, component, mirror, dump, title))
            return;
        std::unique_ptr<InterfaceParentScope> scope;
        if (context_->getInterface())
            scope = std::make_unique<InterfaceParentScope>(context_->getInterface(), parent);
        TextEditor editor(*context_, title.c_str());
        editor.show(dump.str());
    });
}

} // namespace gtk
