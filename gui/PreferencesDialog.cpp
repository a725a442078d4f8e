#include "gui/PreferencesDialog.h"

#include "core/FileNames.h"
#include "core/Intl.h"
#include "core/Preferences.h"
#include "core/Types.h"
#include "gui/Help.h"
#include "gui/TreeViewWidgets.h"

#include <algorithm>

namespace {

constexpr double MAX_FILE_SIZE_LIMIT = 999999999999.0;

int driveLanguageCount() {
    int count = 0;
    while (Preferences::driveLanguages[count].name)
        ++count;
    return count;
}

// What the two "changed" handlers share.
struct DriveLanguageLink {
    int rowCount = 0;
    GtkComboBox* combo = nullptr;
    std::array<GtkEntry*, 4> entries{};
    // Set while one handler changes what the other listens to.
    bool updating = false;
};

void onDriveLanguageChanged(GtkComboBox* combo, gpointer data) {
    auto* link = static_cast<DriveLanguageLink*>(data);
    const int row = gtk_combo_box_get_active(combo);
    if (link->updating || row < 0 || row >= link->rowCount)
        return;
    link->updating = true;
    const DriveLanguageTexts texts = driveLanguageTexts(row);
    for (std::size_t i = 0; i < texts.size(); ++i)
        gtk_entry_set_text(link->entries[i], texts[i].c_str());
    link->updating = false;
}

void onCharsetEntryChanged(GtkEditable*, gpointer data) {
    auto* link = static_cast<DriveLanguageLink*>(data);
    if (link->updating)
        return;
    DriveLanguageTexts texts;
    for (std::size_t i = 0; i < texts.size(); ++i)
        texts[i] = gtk_entry_get_text(link->entries[i]);
    link->updating = true;
    gtk_combo_box_set_active(link->combo, driveLanguageRow(texts));
    link->updating = false;
}

// A right-aligned mnemonic label for `control`, in `group`.
GtkWidget* formLabel(const char* text, GtkWidget* control, GtkSizeGroup* group) {
    GtkWidget* label = gtk_label_new_with_mnemonic(text);
    gtk_misc_set_alignment(GTK_MISC(label), 1.0f, 0.5f);
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), control);
    gtk_size_group_add_widget(group, label);
    return label;
}

// A row "label control" packed into `box`; the control fills the rest.
GtkWidget* packRow(GtkWidget* box, const char* text, GtkWidget* control, GtkSizeGroup* group,
                   const char* name) {
    gtk_widget_set_name(control, name);
    if (GTK_IS_ENTRY(control))
        gtk_entry_set_activates_default(GTK_ENTRY(control), TRUE);
    GtkWidget* row = gtk_hbox_new(FALSE, 4);
    gtk_box_pack_start(GTK_BOX(row), formLabel(text, control, group), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), control, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
    return control;
}

GtkEntry* packEntry(GtkWidget* box, const char* text, const std::string& value, GtkSizeGroup* group,
                    const char* name) {
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry), gtk::validUtf8(value).c_str());
    return GTK_ENTRY(packRow(box, text, entry, group, name));
}

GtkWidget* newCheck(const char* text, bool active, const char* name) {
    GtkWidget* check = gtk_check_button_new_with_mnemonic(text);
    gtk_widget_set_name(check, name);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), active);
    return check;
}

GtkComboBox* newCombo(const std::initializer_list<const char*>& items, int active) {
    GtkWidget* combo = gtk_combo_box_new_text();
    for (const char* item : items)
        gtk_combo_box_append_text(GTK_COMBO_BOX(combo), item);
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo), active);
    return GTK_COMBO_BOX(combo);
}

// A frame titled `title` holding a vertical box, packed into `box`.
GtkWidget* packFrame(GtkWidget* box, const char* title) {
    GtkWidget* frame = gtk_frame_new(title);
    GtkWidget* inner = gtk_vbox_new(FALSE, 4);
    gtk_container_set_border_width(GTK_CONTAINER(inner), 4);
    gtk_container_add(GTK_CONTAINER(frame), inner);
    gtk_box_pack_start(GTK_BOX(box), frame, FALSE, FALSE, 0);
    return inner;
}

// The window as high as it asks: a closed expander leaves no gap.
gboolean shrinkWhenIdle(gpointer window) {
    if (gtk_widget_get_visible(GTK_WIDGET(window))) {
        gint width = 0;
        gtk_window_get_size(GTK_WINDOW(window), &width, nullptr);
        gtk_window_resize(GTK_WINDOW(window), width, 1);
    }
    g_object_unref(window);
    return FALSE;
}

// Each time the fields ask for a new height, the scrolled area takes it, up to
// most of the screen, so that an opened expander shows its fields; past the
// screen's reach the area scrolls. Set while its own request is being made,
// the height counts in this request already.
void onContentRequest(GtkWidget* viewport, GtkRequisition* content, gpointer) {
    GtkWidget* scrolled = gtk_widget_get_parent(viewport);
    const int most = gdk_screen_get_height(gtk_widget_get_screen(viewport)) * 3 / 4;
    const int border = static_cast<int>(gtk_container_get_border_width(GTK_CONTAINER(scrolled)));
    const int height = std::min(content->height + 2 * border, most);
    gint now = -1;
    gtk_widget_get_size_request(scrolled, nullptr, &now);
    if (height == now)
        return;
    gtk_widget_set_size_request(scrolled, -1, height);
    if (height < now)
        g_idle_add(shrinkWhenIdle, g_object_ref(gtk_widget_get_toplevel(scrolled)));
}

GtkWidget* packExpander(GtkWidget* box, const char* title) {
    GtkWidget* expander = gtk_expander_new(title);
    GtkWidget* inner = gtk_vbox_new(FALSE, 4);
    gtk_container_add(GTK_CONTAINER(expander), inner);
    gtk_box_pack_start(GTK_BOX(box), expander, FALSE, FALSE, 0);
    return inner;
}

} // namespace

DriveLanguageTexts driveLanguageTexts(int row) {
    const Preferences::DriveLanguage& l = Preferences::driveLanguages[row];
    return {l.oemCharset, l.arjName, l.id3v1, l.id3v2};
}

int driveLanguageRow(const DriveLanguageTexts& texts) {
    const int count = driveLanguageCount();
    for (int row = 0; row < count; ++row)
        if (driveLanguageTexts(row) == texts)
            return row;
    return count;
}

bool runPreferencesDialog(GtkWindow* parent, Preferences& preferences) {
    CbrCharsets& charsets = CbrCharsets::instance();
    gtk::OwnedDialog owned(
        gtk::newOkCancelDialog(_("Preferences"), parent, GTK_RESPONSE_REJECT, GTK_RESPONSE_ACCEPT));
    GtkDialog* dialog = owned.get();
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_container_set_border_width(GTK_CONTAINER(scrolled), 4);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER,
                                   GTK_POLICY_AUTOMATIC);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(dialog)), scrolled, TRUE, TRUE, 0);
    GtkWidget* box = gtk_vbox_new(FALSE, 4);
    gtk_container_set_border_width(GTK_CONTAINER(box), 4);
    gtk_scrolled_window_add_with_viewport(GTK_SCROLLED_WINDOW(scrolled), box);
    g_signal_connect_after(gtk_bin_get_child(GTK_BIN(scrolled)), "size-request",
                           G_CALLBACK(onContentRequest), nullptr);
    // Tab into a field below the visible part scrolls it into view.
    gtk_container_set_focus_vadjustment(
        GTK_CONTAINER(box), gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scrolled)));

    GtkWidget* stackTrace = newCheck(_("_Stack trace at exception (terminate)"),
                                     preferences.stackTraceAtException(), "stackTrace");
    gtk_box_pack_start(GTK_BOX(box), stackTrace, FALSE, FALSE, 0);
    GtkWidget* filterInvalid = newCheck(_("_Filter Invalid File Systems"),
                                        preferences.filterInvalidFileSystems(), "filterInvalid");
    gtk_box_pack_start(GTK_BOX(box), filterInvalid, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), gtk_hseparator_new(), FALSE, FALSE, 0);

    GtkSizeGroup* mainGroup = gtk_size_group_new(GTK_SIZE_GROUP_HORIZONTAL);
    GtkComboBox* readMode =
        newCombo({_("Sector (Slow)"), _("Block (Fast)")}, preferences.readErrorMode() == 1);
    packRow(box, _("_Read Error Processing Mode"), GTK_WIDGET(readMode), mainGroup,
            "readErrorMode");
    gtk_box_pack_start(GTK_BOX(box), gtk_hseparator_new(), FALSE, FALSE, 0);

    const int language = preferences.language();
    GtkComboBox* programLanguage =
        newCombo({"English", "Deutsch", "日本語"}, language == 1 || language == 2 ? language : 0);
    packRow(box, _("_Program Language"), GTK_WIDGET(programLanguage), mainGroup, "programLanguage");

    DriveLanguageLink link;
    link.rowCount = driveLanguageCount();
    link.combo = GTK_COMBO_BOX(gtk_combo_box_new_text());
    for (int row = 0; row < link.rowCount; ++row)
        gtk_combo_box_append_text(link.combo, _(Preferences::driveLanguages[row].name));
    gtk_combo_box_append_text(link.combo, _("Custom"));
    packRow(box, _("_Drive Language"), GTK_WIDGET(link.combo), mainGroup, "driveLanguage");

    GtkEntry* temporary =
        packEntry(box, _("_Temporary Directory"), preferences.temporaryDirectory(), mainGroup,
                  "temporaryDirectory");
    gtk_widget_set_tooltip_text(GTK_WIDGET(temporary),
                                _("Empty: a private folder made for this run."));
    gtk_box_pack_start(GTK_BOX(box), gtk_hseparator_new(), FALSE, FALSE, 0);

    GtkSizeGroup* driveGroup = gtk_size_group_new(GTK_SIZE_GROUP_HORIZONTAL);
    GtkWidget* drive = packExpander(box, _("Drive Settings"));
    link.entries[0] = packEntry(packFrame(drive, _("Source Drive")), _("OEM Charset"),
                                preferences.sourceOemCharset(), driveGroup, "oemCharset");
    GtkWidget* destination = packFrame(drive, _("Destination Drive"));
    GtkEntry* codepage = packEntry(destination, _("Codepage"), preferences.destinationCodepage(),
                                   driveGroup, "codepage");
    gtk_widget_set_tooltip_text(GTK_WIDGET(codepage),
                                _("Empty: names are written in the system's charset (UTF-8)."));
    GtkWidget* limit = gtk_spin_button_new_with_range(0, MAX_FILE_SIZE_LIMIT, 1);
    gtk_spin_button_set_digits(GTK_SPIN_BUTTON(limit), 0);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(limit),
                              static_cast<double>(preferences.fileSizeLimit()));
    packRow(destination, _("File Size Limit"), limit, driveGroup, "fileSizeLimit");

    GtkSizeGroup* cbrGroup = gtk_size_group_new(GTK_SIZE_GROUP_HORIZONTAL);
    GtkWidget* cbr = packFrame(packExpander(box, _("CBR Settings")), _("Charsets"));
    link.entries[1] = packEntry(cbr, _("ARJ Name"), charsets.arjName(), cbrGroup, "arjName");
    link.entries[2] = packEntry(cbr, _("MP3 ID3v1"), charsets.id3v1(), cbrGroup, "id3v1");
    link.entries[3] = packEntry(cbr, _("MP3 ID3v2"), charsets.id3v2(), cbrGroup, "id3v2");
    g_object_unref(mainGroup);
    g_object_unref(driveGroup);
    g_object_unref(cbrGroup);

    onCharsetEntryChanged(nullptr, &link);
    g_signal_connect(link.combo, "changed", G_CALLBACK(onDriveLanguageChanged), &link);
    for (GtkEntry* entry : link.entries)
        g_signal_connect(entry, "changed", G_CALLBACK(onCharsetEntryChanged), &link);

    F1HelpBinding help(GTK_WIDGET(dialog), "Preferences");
    gtk_widget_show_all(GTK_WIDGET(dialog));
    if (gtk::runDialog(owned) != GTK_RESPONSE_ACCEPT)
        return false;

    auto text = [](GtkEntry* entry) { return std::string(gtk_entry_get_text(entry)); };
    preferences.setStackTraceAtException(
        gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(stackTrace)));
    preferences.setFilterInvalidFileSystems(
        gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(filterInvalid)));
    preferences.setReadErrorMode(gtk_combo_box_get_active(readMode) == 1 ? 1 : 0);
    const int chosen = gtk_combo_box_get_active(programLanguage);
    // Switching the process locale to the same language would still replace
    // the user's own locale (and its date format) by ours.
    if ((chosen == 1 || chosen == 2 ? chosen : 0) != language)
        preferences.setLanguage(chosen);
    preferences.setTemporaryDirectory(text(temporary));
    preferences.setSourceOemCharset(text(link.entries[0]));
    preferences.setDestinationCodepage(text(codepage));
    preferences.setFileSizeLimit(
        static_cast<i64>(gtk_spin_button_get_value(GTK_SPIN_BUTTON(limit))));
    charsets.setArjName(text(link.entries[1]));
    charsets.setId3v1(text(link.entries[2]));
    charsets.setId3v2(text(link.entries[3]));
    return true;
}
