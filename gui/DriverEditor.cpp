#include "gui/DriverEditor.h"

#include "core/Config.h"
#include "core/Intl.h"
#include "core/Text.h"
#include "core/UserInterface.h"
#include "devices/ReaderFactory.h"
#include "fs/FsTypes.h"
#include "gui/Interface.h"
#include "gui/SelectComponent.h"
#include "gui/TreeViewPanels.h"
#include "gui/TreeViewWidgets.h"
#include "gui/Wizard.h"

#include <gdk/gdkkeysyms.h>

#include <algorithm>
#include <cstring>

namespace {

// The spin buttons hold doubles: whole byte counts are exact up to 2^53 (8 PiB),
// far beyond any disk, so an offset on a large disk is never rounded or cut.
constexpr double MAX_BYTES = 9007199254740992.0;
constexpr u64 DEFAULT_RANGE_SIZE = 1000000000000ULL;
constexpr u64 DEFAULT_BLOCK_SIZE = 16384;
constexpr int MAX_DRIVER_NUMBER = 99;

const char* const TYPES[] = {"range", "jbod", "raid0", "raid5"};
constexpr int TYPE_COUNT = 4;
// Between the ids of the Component IDs field.
constexpr const char* COMPONENT_SEPARATOR = ", ";

// The field shows a line for each id where the descriptor parts them by
// COMPONENT_SEPARATOR.
std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string value(const std::string& descriptor, const char* key) {
    std::string out;
    getDescrValue(descriptor.c_str(), key, out);
    return out;
}

u64 number(const std::string& descriptor, const char* key) {
    const i64 n = descriptorNumber(value(descriptor, key));
    return n > 0 ? static_cast<u64>(n) : 0;
}

void attachRow(GtkTable* table, guint row, GtkWidget* label, GtkWidget* control) {
    gtk_table_attach(table, label, 0, 1, row, row + 1, GTK_FILL, GTK_FILL, 4, 4);
    gtk_table_attach(table, control, 1, 2, row, row + 1,
                     static_cast<GtkAttachOptions>(GTK_EXPAND | GTK_FILL), GTK_FILL, 4, 4);
}

} // namespace

void DriverEditorRow::setVisible(bool visible) const {
    for (GtkWidget* box : {labelBox, controlBox}) {
        if (visible)
            gtk_widget_show(box);
        else
            gtk_widget_hide(box);
    }
}

u64 DriverEditorRow::value() const {
    gtk_spin_button_update(spin);
    const double v = gtk_spin_button_get_value(spin);
    return v > 0 ? static_cast<u64>(v) : 0;
}

DriverEditor::DriverEditor(const std::vector<std::string>& known, DrivesVFS* vfs,
                           const std::string& descriptor, GtkWindow* parent)
    : known_(known), vfs_(vfs) {
    dialog_.reset(GTK_DIALOG(gtk_dialog_new_with_buttons(
        _("Driver Editor"), parent,
        static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL, GTK_STOCK_OK, GTK_RESPONSE_OK, nullptr)));
    // Wide enough for a component path or two without scrolling the entry.
    gtk_window_set_default_size(window(), 460, -1);
    gtk_dialog_set_alternative_button_order(dialog_.get(), GTK_RESPONSE_OK, GTK_RESPONSE_CANCEL,
                                            -1);
    gtk_dialog_set_default_response(dialog_.get(), GTK_RESPONSE_OK);

    GtkTable* table = GTK_TABLE(gtk_table_new(7, 2, FALSE));
    gtk_container_set_border_width(GTK_CONTAINER(table), 8);

    auto entryRow = [table](guint row, const char* text) {
        GtkWidget* entry = gtk_entry_new();
        gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
        GtkWidget* label = gtk::newFormLabel(text);
        gtk_label_set_mnemonic_widget(GTK_LABEL(label), entry);
        attachRow(table, row, label, entry);
        return GTK_ENTRY(entry);
    };
    idEntry_ = entryRow(0, _("_ID"));

    GtkWidget* combo = gtk_combo_box_text_new();
    for (const char* name :
         {N_("Range Driver"), N_("JBOD Driver"), N_("RAID0 Driver"), N_("RAID5 Driver")})
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), _(name));
    typeCombo_ = GTK_COMBO_BOX(combo);
    GtkWidget* typeLabel = gtk::newFormLabel(_("_Type"));
    gtk_label_set_mnemonic_widget(GTK_LABEL(typeLabel), combo);
    attachRow(table, 1, typeLabel, combo);
    g_signal_connect(combo, "changed", G_CALLBACK(onTypeChanged), this);

    // A component is mostly a path, and a set has several: the field shows
    // each on a line of its own, wrapped where one is longer than the field,
    // so that every one shows whole. Enter still answers the dialog, and Tab
    // moves on.
    componentsView_ = GTK_TEXT_VIEW(gtk_text_view_new());
    gtk_text_view_set_wrap_mode(componentsView_, GTK_WRAP_WORD_CHAR);
    gtk_text_view_set_accepts_tab(componentsView_, FALSE);
    g_signal_connect(componentsView_, "key-press-event", G_CALLBACK(onComponentsKey), this);
    GtkWidget* frame = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(frame), GTK_POLICY_NEVER, GTK_POLICY_NEVER);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(frame), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(frame), GTK_WIDGET(componentsView_));
    GtkWidget* componentsLabel = gtk::newFormLabel(_("Component IDs"));
    gtk_misc_set_alignment(GTK_MISC(componentsLabel), 1.0f, 0.0f);
    gtk_label_set_mnemonic_widget(GTK_LABEL(componentsLabel), GTK_WIDGET(componentsView_));
    attachRow(table, 2, componentsLabel, frame);
    addButton_ = gtk_button_new_with_mnemonic(_("_Add Component"));
    g_signal_connect(addButton_, "clicked", G_CALLBACK(onAddComponent), this);
    gtk_table_attach(table, addButton_, 1, 2, 3, 4, GTK_FILL, GTK_FILL, 4, 4);

    const char* const labels[] = {N_("Offset"), N_("Size"), N_("Block Size")};
    for (int i = 0; i < 3; ++i) {
        DriverEditorRow& r = rows_[i];
        // Every field takes 0, so that what the user typed is what OK checks.
        r.spin = GTK_SPIN_BUTTON(gtk_spin_button_new_with_range(0, MAX_BYTES, 1));
        gtk_spin_button_set_digits(r.spin, 0);
        gtk_entry_set_activates_default(GTK_ENTRY(r.spin), TRUE);
        GtkWidget* label = gtk::newFormLabel(_(labels[i]));
        gtk_label_set_mnemonic_widget(GTK_LABEL(label), GTK_WIDGET(r.spin));
        r.labelBox = gtk_hbox_new(FALSE, 0);
        gtk_box_pack_end(GTK_BOX(r.labelBox), label, TRUE, TRUE, 0);
        r.controlBox = gtk_hbox_new(FALSE, 0);
        gtk_box_pack_start(GTK_BOX(r.controlBox), GTK_WIDGET(r.spin), TRUE, TRUE, 0);
        // Shown only by setType, never by showing the whole dialog.
        gtk_widget_show_all(r.labelBox);
        gtk_widget_show_all(r.controlBox);
        gtk_widget_set_no_show_all(r.labelBox, TRUE);
        gtk_widget_set_no_show_all(r.controlBox, TRUE);
        attachRow(table, 4 + i, r.labelBox, r.controlBox);
        r.setVisible(false);
    }
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(dialog_.get())), GTK_WIDGET(table), TRUE,
                       TRUE, 0);

    std::string id = value(descriptor, "id");
    editedId_ = id;
    if (id.empty())
        id = newDriverId(known_);
    gtk_entry_set_text(idEntry_, id.c_str());
    type_ = value(descriptor, "type");
    const std::string initialType = type_;
    for (int i = 0; i < TYPE_COUNT; ++i)
        if (initialType == TYPES[i])
            gtk_combo_box_set_active(typeCombo_, i);
    setType(initialType);
    setComponents(value(descriptor, "components"));
    const u64 size = number(descriptor, "rangeSize");
    const u64 blockSize = number(descriptor, "blockSize");
    gtk_spin_button_set_value(rows_[OFFSET].spin,
                              static_cast<double>(number(descriptor, "rangeOffset")));
    gtk_spin_button_set_value(rows_[SIZE].spin,
                              static_cast<double>(size == 0 ? DEFAULT_RANGE_SIZE : size));
    gtk_spin_button_set_value(rows_[BLOCK_SIZE].spin,
                              static_cast<double>(blockSize == 0 ? DEFAULT_BLOCK_SIZE : blockSize));
    gtk_widget_show_all(GTK_WIDGET(table));
}

std::string DriverEditor::newDriverId(const std::vector<std::string>& known) {
    std::string candidate;
    for (int n = 1; n <= MAX_DRIVER_NUMBER; ++n) {
        candidate = "driver" + std::to_string(n);
        bool used = false;
        for (const std::string& descriptor : known)
            if (value(descriptor, "id") == candidate) {
                used = true;
                break;
            }
        if (!used)
            return candidate;
    }
    return candidate;
}

void DriverEditor::onTypeChanged(GtkComboBox* combo, gpointer self) {
    const int index = gtk_combo_box_get_active(combo);
    static_cast<DriverEditor*>(self)->setType(index >= 0 && index < TYPE_COUNT ? TYPES[index] : "");
}

void DriverEditor::setType(const std::string& type) {
    type_ = type;
    rows_[OFFSET].setVisible(type == "range");
    rows_[SIZE].setVisible(type == "range");
    rows_[BLOCK_SIZE].setVisible(type == "raid0" || type == "raid5");
    // A window keeps the height it had: rows that went would leave a gap
    // above the buttons. Asked for no height, it takes the one it needs; the
    // width stays as the user made it.
    if (GtkWindow* shown = window()) {
        if (gtk_widget_get_visible(GTK_WIDGET(shown))) {
            gint width = 0;
            gtk_window_get_size(shown, &width, nullptr);
            gtk_window_resize(shown, width, 1);
        }
    }
}

std::string DriverEditor::components() const {
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(componentsView_);
    GtkTextIter start;
    GtkTextIter end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    std::string result = text;
    g_free(text);
    return replaceAll(result, "\n", COMPONENT_SEPARATOR);
}

void DriverEditor::setComponents(const std::string& text) {
    const std::string lines = replaceAll(text, COMPONENT_SEPARATOR, "\n");
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(componentsView_), lines.c_str(), -1);
}

gboolean DriverEditor::onComponentsKey(GtkWidget*, GdkEventKey* event, gpointer self) {
    if (event->keyval != GDK_KEY_Return && event->keyval != GDK_KEY_KP_Enter)
        return FALSE;
    // An id holds no line break: Enter is OK, as in the other fields.
    if (GtkWindow* window = static_cast<DriverEditor*>(self)->window())
        gtk_window_activate_default(window);
    return TRUE;
}

void DriverEditor::onAddComponent(GtkButton*, gpointer self) {
    DriverEditor* editor = static_cast<DriverEditor*>(self);
    gtk::guardCallback("DriverEditor", [editor] {
        SelectComponent select(editor->known_, editor->vfs_, editor->window());
        editor->addComponent(select.run());
    });
}

void DriverEditor::addComponent(const std::string& componentDescriptor) {
    const std::string id = value(componentDescriptor, "id");
    if (id.empty())
        return;
    if (const char* problem = componentProblem(id)) {
        messageDialog(MESSAGE_ERROR, gtk::escapeMarkup(problem).c_str(), window(), false, nullptr);
        return;
    }
    std::string text = components();
    if (!text.empty())
        text += COMPONENT_SEPARATOR;
    text += id;
    setComponents(text);
}

const char* DriverEditor::idProblem(const std::string& id) {
    if (id.empty() || id.find_first_of("|=") != std::string::npos)
        return _("The ID must not be empty and must not contain \"|\" or \"=\".");
    return nullptr;
}

std::string DriverEditor::duplicateProblem(const std::string& id) const {
    if (id == editedId_)
        return std::string();
    const bool used = std::any_of(known_.begin(), known_.end(), [&id](const std::string& d) {
        std::string known;
        return getDescrValue(d.c_str(), "id", known) && known == id;
    });
    if (!used)
        return std::string();
    return formatMessage(_("The ID \"%1\" is already in use. Choose another ID."), id);
}

std::string DriverEditor::blockSizeProblem(const std::string& type, u64 blockSize) {
    if (type != "raid0" && type != "raid5")
        return std::string();
    if (blockSize == 0)
        return formatMessage(_("Block Size: 0 is no block size. A block of the set holds whole "
                               "sectors of %1 bytes."),
                             std::to_string(SECTOR_BYTES));
    if (blockSize % SECTOR_BYTES != 0)
        return formatMessage(_("Block Size: %1 is not a multiple of the sector size. A block of "
                               "the set holds whole sectors of %2 bytes."),
                             std::to_string(blockSize), std::to_string(SECTOR_BYTES));
    return std::string();
}

const char* DriverEditor::componentProblem(const std::string& componentId) {
    if (componentId.find_first_of("|=") != std::string::npos ||
        componentId.find(COMPONENT_SEPARATOR) != std::string::npos)
        return _("A component ID must not contain \"|\", \"=\" or \", \".");
    return nullptr;
}

std::string DriverEditor::buildDescriptor(const std::string& id, const std::string& type,
                                          const std::string& components, u64 rangeOffset,
                                          u64 rangeSize, u64 blockSize) {
    return "id=" + id + "|type=" + type + "|components=" + components +
           "|rangeOffset=" + std::to_string(rangeOffset) +
           "|rangeSize=" + std::to_string(rangeSize) + "|blockSize=" + std::to_string(blockSize);
}

std::string DriverEditor::formDescriptor() const {
    return buildDescriptor(gtk_entry_get_text(idEntry_), type_, components(), rows_[OFFSET].value(),
                           rows_[SIZE].value(), rows_[BLOCK_SIZE].value());
}

std::string DriverEditor::accept() {
    const std::string id = gtk_entry_get_text(idEntry_);
    const std::string components = this->components();
    // The first field that is wrong, and why; it gets the keyboard back.
    GtkWidget* wrong = GTK_WIDGET(idEntry_);
    const char* malformed = idProblem(id);
    std::string problem = malformed ? malformed : duplicateProblem(id);
    for (std::size_t from = 0; problem.empty() && from <= components.size();) {
        std::size_t end = components.find(COMPONENT_SEPARATOR, from);
        if (end == std::string::npos)
            end = components.size();
        if (const char* component = componentProblem(components.substr(from, end - from))) {
            problem = component;
            wrong = GTK_WIDGET(componentsView_);
        }
        from = end + std::strlen(COMPONENT_SEPARATOR);
    }
    if (problem.empty()) {
        problem = blockSizeProblem(type_, rows_[BLOCK_SIZE].value());
        wrong = GTK_WIDGET(rows_[BLOCK_SIZE].spin);
    }
    if (!problem.empty()) {
        messageDialog(MESSAGE_ERROR, gtk::escapeMarkup(problem).c_str(), window(), false, nullptr);
        gtk_widget_grab_focus(wrong);
        return std::string();
    }
    const std::string descriptor = formDescriptor();
    gtk::Interface ui(window());
    std::unique_ptr<dt::Reader> reader = createReaderFromDescr(known_, descriptor.c_str(), &ui, 0);
    if (!reader)
        return std::string();
    return descriptor + "|size=" + std::to_string(reader->getSize()) + "|custom=";
}

std::string DriverEditor::run() {
    while (gtk::runDialog(dialog_) == GTK_RESPONSE_OK) {
        std::string result = accept();
        if (!result.empty())
            return result;
    }
    return std::string();
}

std::string runDriverEditor(const std::vector<std::string>& known, DrivesVFS* vfs,
                            const std::string& descriptor, GtkWindow* parent) {
    DriverEditor editor(known, vfs, descriptor, parent);
    return editor.run();
}

void keepCustomDescriptors(std::vector<std::string>& list, const std::vector<std::string>& fresh) {
    std::vector<std::string> result = fresh;
    std::string unused;
    for (const std::string& descriptor : list)
        if (getDescrValue(descriptor.c_str(), "custom", unused))
            result.push_back(descriptor);
    list.swap(result);
}
