#pragma once

// The "Driver Editor": creates or edits a software driver, a source the user
// composes from other sources (a range of one, or a JBOD, RAID0 or RAID5 set of
// several), and returns its descriptor. Before it accepts, the descriptor must
// build a reader; the reader's size goes into the descriptor, and "custom="
// marks it as the user's own.

#include "core/Types.h"
#include "gui/TreeViewWidgets.h"

#include <gtk/gtk.h>

#include <string>
#include <vector>

class DrivesVFS;

// One optional row of the form: label and control are shown or hidden together.
struct DriverEditorRow {
    GtkWidget* labelBox = nullptr;
    GtkWidget* controlBox = nullptr;
    GtkSpinButton* spin = nullptr;

    void setVisible(bool visible) const;
    u64 value() const;
};

class DriverEditor {
public:
    enum RowIndex { OFFSET = 0, SIZE = 1, BLOCK_SIZE = 2 };

    // `descriptor` is empty for a new driver. The dialog is built at once (not
    // shown); the editor destroys it.
    DriverEditor(const std::vector<std::string>& known, DrivesVFS* vfs,
                 const std::string& descriptor, GtkWindow* parent);
    DriverEditor(const DriverEditor&) = delete;
    DriverEditor& operator=(const DriverEditor&) = delete;

    // Runs the dialog until OK yields a driver that can be read, or the user
    // cancels (empty text).
    std::string run();
    // What OK does: the finished descriptor, or an empty text when no reader
    // could be built (the reason has been shown).
    std::string accept();
    // The descriptor as the form stands, without "size" and "custom".
    std::string formDescriptor() const;

    // Shows the rows that `type` uses; any other text hides them all.
    void setType(const std::string& type);
    // Appends the "id" of a chosen component's descriptor to the Component IDs;
    // an id that would break the list is refused with a message.
    void addComponent(const std::string& componentDescriptor);

    // Why these cannot go into a descriptor, or null: "|" ends a pair and "="
    // starts a value, so either inside an id would make the rest read as other
    // keys; an empty id names nothing. The component list is joined by ", ",
    // so a component id must not hold that either.
    static const char* idProblem(const std::string& id);
    static const char* componentProblem(const std::string& componentId);
    // Why the id cannot be taken, or an empty text: each entry of the sources
    // list is found by its id, so a second driver of an id in use would stand
    // for the first. The driver being edited keeps its own id.
    std::string duplicateProblem(const std::string& id) const;
    // Why a RAID's block size cannot be taken, or an empty text: a block of
    // no bytes maps nothing, and one that cuts a sector puts file systems
    // where no scan finds them.
    static std::string blockSizeProblem(const std::string& type, u64 blockSize);
    // The descriptor of a software driver, without "size" and "custom".
    static std::string buildDescriptor(const std::string& id, const std::string& type,
                                       const std::string& components, u64 rangeOffset,
                                       u64 rangeSize, u64 blockSize);

    // "driver1" to "driver99": the first that no known descriptor uses as id.
    static std::string newDriverId(const std::vector<std::string>& known);

    GtkDialog* getDialog() const { return dialog_.get(); }
    GtkEntry* getIdEntry() const { return idEntry_; }
    GtkComboBox* getTypeCombo() const { return typeCombo_; }
    GtkTextView* getComponentsView() const { return componentsView_; }
    // The Component IDs text.
    std::string components() const;
    void setComponents(const std::string& text);
    GtkWidget* getAddComponentButton() const { return addButton_; }
    const DriverEditorRow& getRow(RowIndex index) const { return rows_[index]; }

private:
    static void onTypeChanged(GtkComboBox* combo, gpointer self);
    static void onAddComponent(GtkButton*, gpointer self);
    static gboolean onComponentsKey(GtkWidget*, GdkEventKey* event, gpointer self);
    // The dialog's window, or null once the dialog went away with its parent.
    GtkWindow* window() const { return dialog_ ? GTK_WINDOW(dialog_.get()) : nullptr; }

    const std::vector<std::string>& known_;
    DrivesVFS* vfs_;
    gtk::OwnedDialog dialog_;
    GtkEntry* idEntry_ = nullptr;
    GtkComboBox* typeCombo_ = nullptr;
    GtkTextView* componentsView_ = nullptr;
    GtkWidget* addButton_ = nullptr;
    DriverEditorRow rows_[3];
    std::string type_;
    std::string editedId_; // the id the driver had when the editor opened
};

// The new descriptor, or an empty text when the user cancelled.
std::string runDriverEditor(const std::vector<std::string>& known, DrivesVFS* vfs,
                            const std::string& descriptor, GtkWindow* parent);

// A fresh listing of the sources replaces `list`, and the software drivers of
// the old list (those with "custom") follow it in their old order, so that
// they survive every refresh.
void keepCustomDescriptors(std::vector<std::string>& list, const std::vector<std::string>& fresh);
