#pragma once

// The front end of a shown file tree: the commands of the main window's
// Options, Tools and Report menus on the rebuilt tree, apart from the widgets
// that show it. It keeps the view's filter and the last search. What needs the
// widgets (the cursor rows, the marks shown, reloading) is left to the
// implementation (gtk::TreeInterfaceImpl).

#include "core/PropertyMap.h"
#include "core/UserInterface.h"
#include "gui/FindFileDialog.h"
#include "gui/TextEditor.h"
#include "tree/FilterMask.h"
#include "tree/Map.h"
#include "tree/MapIterator.h"

#include <gtk/gtk.h>

#include <memory>
#include <ostream>
#include <string>
#include <unordered_set>

class GuiContext;

class TreeInterface {
public:
    explicit TreeInterface(PropertyMap* config) : config_(config) {}
    virtual ~TreeInterface() = default;
    TreeInterface(const TreeInterface&) = delete;
    TreeInterface& operator=(const TreeInterface&) = delete;

    // The widget-dependent part.
    virtual void selectByMask() = 0;
    // Column titles and the shown folder again, after the language changed.
    virtual void refreshTexts() = 0;
    virtual GuiContext* getContext() = 0;
    virtual FrTreeInterface* getInterface() = 0;
    virtual tree::Map* getMap() = 0;
    // Both panes' marks again from the nodes (after a recovery).
    virtual void refreshRows() = 0;
    // Both panes anew from the tree (after filtering).
    virtual void reload() = 0;
    // The folder tree's selected row when it has the focus, else the file
    // list's cursor row; false when there is none.
    virtual bool getCurrentNode(tree::MapPosition& out) = 0;
    // The file list's cursor row; false when there is none.
    virtual bool getSelectedFileNode(tree::MapPosition& out) = 0;
    // Shows the node: its folder in the folder tree, the cursor on it in the file
    // list. True when both worked.
    virtual bool selectNode(const tree::MapPosition& node) = 0;

    // Filters the tree with the view's filter, then reloads both panes.
    void applyFilter();
    // The Filter dialog; re-filters when it was confirmed.
    void editFilter();
    // Find File (next false) and Find Next File (next true).
    void find(bool next);
    // Counts of all and of the marked files and folders.
    void showTotals();
    // The map's information on the current node, in the text editor.
    void showProperties();
    void showNodeProperties(const tree::MapPosition& node);
    // The listing of the visible tree; in address mode the address/LBA map.
    void report(bool addressMode);

    // The Recover command: every marked file into a folder the user names.
    void recover();
    // The View File command: the current file into the temporary directory,
    // opened with the system's viewer.
    void viewFile();
    // Copies the file at the cursor to the temporary directory and opens it;
    // true when a file was written and handed to the system.
    bool viewNode(tree::MapIterator& node);
    // A progress box of the files mode over `parent`, 600 wide, for `total`
    // bytes, titled "Recovering Files".
    std::unique_ptr<ProgressBoxIC> createRecoverProgressBox(GtkWindow* parent, u64 total);

    // The report head shared with the recovery report.
    void writeReportHeader(std::ostream& out, const char* title, bool withFilterListing,
                           bool withDateColumn, bool withMd5Column, bool addressMode);
    static void writeDateLine(std::ostream& out);
    static void writeFilterListing(std::ostream& out, const tree::FilterMask& mask,
                                   const int& kind);
    // Pads `line` with '-' to `column` characters (UTF-8), then " text ".
    static void addHeaderColumn(std::string& line, const std::string& text, std::size_t column);
    // The column row of a report head, with its line end.
    static std::string headerColumns(bool withDateColumn, bool withMd5Column, bool addressMode);

    // Moves to the next entry in depth-first order; false when the whole tree
    // has been walked. A folder already entered on this walk (`entered`) is not
    // entered again, so a damaged tree whose folder names an ancestor cannot
    // keep the walk going round.
    static bool nextNodeDepthFirst(tree::MapIterator& it, std::unordered_set<u64>& entered);
    // A cursor at `position`, or nothing when no such entry exists in the map.
    std::unique_ptr<tree::MapIterator> openCursor(const tree::MapPosition& position,
                                                  bool visibleOnly, bool directoriesOnly);

    tree::FilterMask& filter() { return filter_; }
    FindParams& findParams() { return findParams_; }
    PropertyMap* config() const { return config_; }

protected:
    // The parent window of the interface (the main window, or a dialog over it).
    GtkWindow* parentWindow();
    // An information box (OK with withOk, else Close) over the parent window;
    // returns the message box's result (0x10 when a check box was ticked). With
    // `checked` the check box starts ticked.
    int information(bool withOk, const std::string& text, const char* checkLabel = nullptr,
                    bool checked = false);
    // Shows `text` in the modal text editor titled `title`.
    void showText(const char* title, const std::string& text,
                  TextEditor::Layout layout = TextEditor::Layout::AS_IS);

private:
    PropertyMap* config_;
    tree::FilterMask filter_;
    FindParams findParams_;
};
