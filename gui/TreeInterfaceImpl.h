#pragma once

// The main window's view of a rebuilt file system: a split pane with the folder
// tree on the left and the current folder's entries on the right. Every row
// comes from a cursor over the shown map, and every change of a mark goes
// through the select walk.

#include "core/Ownership.h"
#include "core/PropertyMap.h"
#include "gui/GuiContext.h"
#include "gui/SelectByMaskDialog.h"
#include "gui/TreeInterface.h"
#include "gui/TreeViewFileList.h"
#include "gui/TreeViewFolderTree.h"
#include "gui/TreeViewPanels.h"

#include <gtk/gtk.h>

#include <memory>

namespace gtk {

class TreeInterfaceImpl : public TreeInterface, public InterfaceForPanels {
public:
    // The filter a new view starts with: hide empty folders, files with sector
    // errors and, on FAT maps, files with an invalid FAT chain; on the other
    // kinds the entries of bit 0x80 (NTFS invalid files, carved poor files).
    static constexpr u32 DEFAULT_FAT_FILTER = 0x203;
    static constexpr u32 DEFAULT_FILTER = 0x83;

    // Builds the view; `widget` receives the split pane for the caller's window.
    // The caller then applies the filter, which fills the panes.
    static std::unique_ptr<TreeInterface> create(GtkWindow* parent, GtkWidget*& widget,
                                                 PropertyMap* config,
                                                 const SharedPtr<tree::Map>& map,
                                                 GuiContext* context);

    TreeInterfaceImpl(GtkWindow* parent, PropertyMap* config, const SharedPtr<tree::Map>& map,
                      GuiContext* context);
    ~TreeInterfaceImpl() override;

    // TreeInterface
    void selectByMask() override;
    void refreshTexts() override;
    GuiContext* getContext() override { return context_; }
    FrTreeInterface* getInterface() override;
    tree::Map* getMap() override { return map_.get(); }
    void refreshRows() override;
    void reload() override;
    bool getCurrentNode(tree::MapPosition& out) override;
    bool getSelectedFileNode(tree::MapPosition& out) override;
    bool selectNode(const tree::MapPosition& node) override;

    // InterfaceForPanels
    void showFolder(const tree::MapPosition& folder) override;
    void activateNode(const tree::MapPosition& node) override;
    bool setFolderChecked(const tree::MapPosition& node, bool mark) override;
    bool setFileChecked(const tree::MapPosition& node, bool mark) override;
    TreeInterface* getTreeInterface() override { return this; }

    GtkWidget* widget() const { return paned_; }
    FolderTreePanel& folderTree() { return *folders_; }
    FileListPanel& fileList() { return *files_; }
    SelectByMask& selectByMaskRecord() { return selectByMask_; }

private:
    // The select walk with an empty mask on one node.
    bool setChecked(const tree::MapPosition& node, bool mark);

    GuiContext* context_;
    FrTreeInterface* interface_;
    GtkWindow* parent_;
    GtkWidget* paned_ = nullptr;
    GtkScrolledWindow* left_ = nullptr;
    GtkScrolledWindow* right_ = nullptr;
    std::unique_ptr<FolderTreePanel> folders_;
    std::unique_ptr<FileListPanel> files_;
    SelectByMask selectByMask_;
};

} // namespace gtk
