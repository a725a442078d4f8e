#pragma once

// The small modal text window in which the program shows the texts it produces
// (reports, totals, recovery logs, structure dumps). The user may edit the text,
// save it, open another file and use the clipboard. Files are chosen with the
// program's own file dialog, in the context's current folder.

#include <gtk/gtk.h>

#include <string>
#include <vector>

class GuiContext;

// A line "Label:<tabs>value" of a text: its number from 0, the label with its
// colon (and any indent), and the count of tabs that follow it.
struct LabelLine {
    int line;
    std::string label;
    int tabs;
};
// Every such line of `text`, in order; a line whose first tab does not follow
// a colon is none.
std::vector<LabelLine> labelLines(const std::string& text);

class TextEditor {
public:
    // Builds the window, hidden. A null title means "Text Editor".
    TextEditor(GuiContext& context, const char* title);
    ~TextEditor();
    TextEditor(const TextEditor&) = delete;
    TextEditor& operator=(const TextEditor&) = delete;

    // How a text is laid out. LABEL_COLUMNS is for "Label:<tabs>value" lines
    // (properties): the values of consecutive such lines start in one column
    // set by their widest label as the font draws it, whatever the language,
    // where tabs at every eighth character would scatter them.
    enum class Layout { AS_IS, LABEL_COLUMNS };

    // Replaces the text, shows the window and runs a nested main loop until the
    // window is closed. The text is taken whole: a dump of a record holds NUL
    // bytes where its signature was zeroed, and what follows must still show.
    void show(const std::string& text, Layout layout = Layout::AS_IS);

    // The menu's operations.
    void clear();
    void open();
    void saveOrAsk();
    void saveAs();
    void save();
    void close();
    void cut();
    void copy();
    void paste();
    void deleteSelection();

    // The whole text of the buffer.
    std::string getText() const;
    void setText(const char* text, std::size_t length);
    const std::string& getFileName() const { return fileName_; }
    void setFileName(const std::string& name) { fileName_ = name; }
    // Null once the window is closed.
    GtkWindow* getWindow() const { return window_; }
    GtkTextView* getView() const { return window_ ? view_ : nullptr; }
    // Kept after the window is closed, so the text can still be read.
    GtkTextBuffer* getBuffer() const { return buffer_; }

private:
    static void onDestroy(GtkWidget* widget, gpointer self);
    static gboolean onDelete(GtkWidget* widget, GdkEvent* event, gpointer self);
    static void onResponse(GtkDialog* dialog, gint response, gpointer self);
    GtkWidget* addItem(GtkWidget* menu, const char* stockId, void (TextEditor::*operation)());
    void alignLabelColumns();

    GuiContext& context_;
    GtkWindow* window_;
    GtkTextView* view_;
    GtkTextBuffer* buffer_;
    std::string fileName_;
    GtkAccelGroup* accelGroup_;
    GtkWidget* quitItem_ = nullptr;
    bool looping_ = false;
};
