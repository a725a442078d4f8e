#include "gui/TextEditor.h"

#include "core/Intl.h"
#include "core/System.h"
#include "core/Text.h"
#include "gui/FileDialog.h"
#include "gui/GuiContext.h"
#include "gui/Interface.h"
#include "gui/TreeViewPanels.h"

#include <algorithm>
#include <cerrno>
#include <gdk/gdkkeysyms.h>
#include <utility>
#include <vector>

namespace {

constexpr int DEFAULT_WIDTH = 640;
constexpr int DEFAULT_HEIGHT = 480;
constexpr const char* SUGGESTED_NAME = "filename.txt";

// A menu item and the editor operation it runs.
struct ItemLink {
    TextEditor* editor;
    void (TextEditor::*operation)();
};

void onItemActivate(GtkMenuItem*, gpointer data) {
    const ItemLink* link = static_cast<const ItemLink*>(data);
    gtk::guardCallback("TextEditor", [link] { (link->editor->*link->operation)(); });
}

void freeItemLink(gpointer data, GClosure*) {
    delete static_cast<ItemLink*>(data);
}

GtkWidget* addMenu(GtkWidget* bar, const char* label) {
    GtkWidget* item = gtk_menu_item_new_with_mnemonic(label);
    GtkWidget* menu = gtk_menu_new();
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), menu);
    gtk_menu_shell_append(GTK_MENU_SHELL(bar), item);
    return menu;
}

void addSeparator(GtkWidget* menu) {
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
}

// The width of `text` in the widget's font, in pixels.
int textWidth(GtkWidget* widget, const char* text) {
    PangoLayout* layout = gtk_widget_create_pango_layout(widget, text);
    int width = 0;
    pango_layout_get_pixel_size(layout, &width, nullptr);
    g_object_unref(layout);
    return width;
}

} // namespace

std::vector<LabelLine> labelLines(const std::string& text) {
    std::vector<LabelLine> found;
    int line = 0;
    for (std::size_t start = 0; start <= text.size(); ++line) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::size_t tab = text.find('\t', start);
        if (tab < end && tab > start && text[tab - 1] == ':') {
            const std::size_t value = text.find_first_not_of('\t', tab);
            found.push_back(LabelLine{line, text.substr(start, tab - start),
                                      static_cast<int>(std::min(value, end) - tab)});
        }
        start = end + 1;
    }
    return found;
}

TextEditor::TextEditor(GuiContext& context, const char* title)
    : context_(context), window_(GTK_WINDOW(gtk_dialog_new())), view_(nullptr), buffer_(nullptr),
      accelGroup_(gtk_accel_group_new()) {
    GtkDialog* dialog = GTK_DIALOG(window_);
    gtk_window_set_title(window_, title ? title : _("Text Editor"));
    gtk_window_set_default_size(window_, DEFAULT_WIDTH, DEFAULT_HEIGHT);
    gtk_window_set_modal(window_, TRUE);
    gtk::Interface* interface = context_.getInterface();
    GtkWindow* parent = interface ? interface->getParentWindow() : nullptr;
    if (parent) {
        gtk_window_set_transient_for(window_, parent);
        gtk_window_set_position(window_, GTK_WIN_POS_CENTER_ON_PARENT);
    } else {
        gtk_window_set_position(window_, GTK_WIN_POS_CENTER);
    }
    // A text window, not a question: no buttons.
    gtk_widget_hide(gtk_dialog_get_action_area(dialog));
    gtk_widget_set_no_show_all(gtk_dialog_get_action_area(dialog), TRUE);
    gtk_dialog_set_has_separator(dialog, FALSE);
    gtk_window_add_accel_group(window_, accelGroup_);

    GtkWidget* content = gtk_dialog_get_content_area(dialog);
    GtkWidget* bar = gtk_menu_bar_new();
    gtk_box_pack_start(GTK_BOX(content), bar, FALSE, FALSE, 0);
    GtkWidget* file = addMenu(bar, _("_File"));
    addItem(file, GTK_STOCK_NEW, &TextEditor::clear);
    addItem(file, GTK_STOCK_OPEN, &TextEditor::open);
    addSeparator(file);
    addItem(file, GTK_STOCK_SAVE, &TextEditor::saveOrAsk);
    addItem(file, GTK_STOCK_SAVE_AS, &TextEditor::saveAs);
    addSeparator(file);
    quitItem_ = addItem(file, GTK_STOCK_QUIT, &TextEditor::close);
    gtk_widget_add_accelerator(quitItem_, "activate", accelGroup_, GDK_Escape,
                               static_cast<GdkModifierType>(0), static_cast<GtkAccelFlags>(0));
    GtkWidget* edit = addMenu(bar, _("_Edit"));
    addItem(edit, GTK_STOCK_CUT, &TextEditor::cut);
    addItem(edit, GTK_STOCK_COPY, &TextEditor::copy);
    addItem(edit, GTK_STOCK_PASTE, &TextEditor::paste);
    addItem(edit, GTK_STOCK_DELETE, &TextEditor::deleteSelection);

    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC,
                                   GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
    gtk_box_pack_start(GTK_BOX(content), scrolled, TRUE, TRUE, 0);
    view_ = GTK_TEXT_VIEW(gtk_text_view_new());
    buffer_ = gtk_text_view_get_buffer(view_);
    g_object_ref(buffer_);
    PangoFontDescription* font = pango_font_description_from_string("monospace");
    gtk_widget_modify_font(GTK_WIDGET(view_), font);
    pango_font_description_free(font);
    gtk_container_add(GTK_CONTAINER(scrolled), GTK_WIDGET(view_));

    g_signal_connect(window_, "delete_event", G_CALLBACK(onDelete), this);
    // It has no buttons: a response comes only from the end of a run, which
    // answers the dialog in front so that its loop returns.
    g_signal_connect(window_, "response", G_CALLBACK(onResponse), this);
    g_signal_connect(window_, "destroy", G_CALLBACK(onDestroy), this);
}

TextEditor::~TextEditor() {
    if (window_) {
        g_signal_handlers_disconnect_by_data(window_, this);
        gtk_widget_destroy(GTK_WIDGET(window_));
    }
    g_object_unref(buffer_);
    g_object_unref(accelGroup_);
}

GtkWidget* TextEditor::addItem(GtkWidget* menu, const char* stockId,
                               void (TextEditor::*operation)()) {
    GtkWidget* item = gtk_image_menu_item_new_from_stock(stockId, accelGroup_);
    g_signal_connect_data(item, "activate", G_CALLBACK(onItemActivate),
                          new ItemLink{this, operation}, freeItemLink,
                          static_cast<GConnectFlags>(0));
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    return item;
}

void TextEditor::show(const std::string& text, Layout layout) {
    if (!window_)
        return;
    setText(text.data(), text.size());
    if (layout == Layout::LABEL_COLUMNS)
        alignLabelColumns();
    gtk_widget_show_all(GTK_WIDGET(window_));
    looping_ = true;
    gtk_main();
}

std::string TextEditor::getText() const {
    GtkTextBuffer* buffer = buffer_;
    GtkTextIter start;
    GtkTextIter end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, TRUE);
    std::string result(text);
    g_free(text);
    return result;
}

void TextEditor::setText(const char* text, std::size_t length) {
    // The buffer takes UTF-8 only; a file in another charset (or with NUL
    // bytes) is shown with replacement characters rather than not at all.
    const std::string valid = validUtf8(std::string(text, length));
    gtk_text_buffer_set_text(buffer_, valid.data(), static_cast<gint>(valid.size()));
}

void TextEditor::alignLabelColumns() {
    const std::vector<LabelLine> lines = labelLines(getText());
    const int gap = textWidth(GTK_WIDGET(view_), "  ");
    for (std::size_t first = 0; first < lines.size();) {
        // A block: lines that follow one another in the text.
        std::size_t end = first + 1;
        while (end < lines.size() && lines[end].line == lines[end - 1].line + 1)
            ++end;
        int widest = 0;
        for (std::size_t i = first; i < end; ++i)
            widest = std::max(widest, textWidth(GTK_WIDGET(view_), lines[i].label.c_str()));
        // One tab after each label reaches the block's one stop.
        for (std::size_t i = first; i < end; ++i) {
            if (lines[i].tabs < 2)
                continue;
            const int labelChars = g_utf8_strlen(lines[i].label.c_str(), -1);
            GtkTextIter from;
            GtkTextIter to;
            gtk_text_buffer_get_iter_at_line_offset(buffer_, &from, lines[i].line, labelChars + 1);
            gtk_text_buffer_get_iter_at_line_offset(buffer_, &to, lines[i].line,
                                                    labelChars + lines[i].tabs);
            gtk_text_buffer_delete(buffer_, &from, &to);
        }
        PangoTabArray* stops =
            pango_tab_array_new_with_positions(1, TRUE, PANGO_TAB_LEFT, widest + gap);
        GtkTextTag* tag = gtk_text_buffer_create_tag(buffer_, nullptr, "tabs", stops, nullptr);
        pango_tab_array_free(stops);
        GtkTextIter from;
        GtkTextIter to;
        gtk_text_buffer_get_iter_at_line(buffer_, &from, lines[first].line);
        gtk_text_buffer_get_iter_at_line(buffer_, &to, lines[end - 1].line);
        gtk_text_iter_forward_to_line_end(&to);
        gtk_text_buffer_apply_tag(buffer_, tag, &from, &to);
        first = end;
    }
}

void TextEditor::clear() {
    // The file name stays: a later Save overwrites the same file.
    gtk_text_buffer_set_text(buffer_, "", 0);
}

void TextEditor::saveOrAsk() {
    if (fileName_.empty())
        saveAs();
    else
        save();
}

void TextEditor::saveAs() {
    std::string name = fileName_.empty() ? SUGGESTED_NAME : "";
    if (!runFileDialog(context_, name, 1, nullptr))
        return;
    fileName_ = name;
    save();
}

void TextEditor::save() {
    std::string text = getText();
    std::string path = context_.makePath(fileName_.c_str());
    if (!writeFile(path.c_str(), text.data(), text.size()))
        reportWriteError(context_, fileName_, errno);
}

void TextEditor::open() {
    if (!runFileDialog(context_, fileName_, 0, nullptr))
        return;
    std::string bytes;
    std::string path = context_.makePath(fileName_.c_str());
    if (!readFile(path.c_str(), bytes)) {
        reportReadError(context_, fileName_);
        return;
    }
    setText(bytes.data(), bytes.size());
}

void TextEditor::close() {
    if (window_)
        gtk_widget_destroy(GTK_WIDGET(window_));
}

void TextEditor::cut() {
    if (window_)
        g_signal_emit_by_name(view_, "cut-clipboard");
}

void TextEditor::copy() {
    if (window_)
        g_signal_emit_by_name(view_, "copy-clipboard");
}

void TextEditor::paste() {
    if (window_)
        g_signal_emit_by_name(view_, "paste-clipboard");
}

void TextEditor::deleteSelection() {
    gtk_text_buffer_delete_selection(buffer_, TRUE, TRUE);
}

gboolean TextEditor::onDelete(GtkWidget*, GdkEvent*, gpointer self) {
    static_cast<TextEditor*>(self)->close();
    return TRUE;
}

void TextEditor::onResponse(GtkDialog*, gint, gpointer self) {
    static_cast<TextEditor*>(self)->close();
}

// Every way the window goes (close button, Escape, Quit, a parent taking it
// down) ends here, and so does the nested loop of show.
void TextEditor::onDestroy(GtkWidget*, gpointer data) {
    TextEditor* self = static_cast<TextEditor*>(data);
    self->window_ = nullptr;
    if (self->looping_) {
        self->looping_ = false;
        gtk_main_quit();
    }
}
