#include "gui/TreeInterfaceImpl.h"

#include "gui/Interface.h"
#include "tree/ParserSelect.h"

namespace gtk {

std::unique_ptr<TreeInterface> TreeInterfaceImpl::create(GtkWindow* parent, GtkWidget*& widget,
                                                         PropertyMap* config,
                                                         const SharedPtr<tree::Map>& map,
                                                         GuiContext* context) {
    auto view = std::make_unique<TreeInterfaceImpl>(parent, config, map, context);
    widget = view->widget();
    return view;
}

TreeInterfaceImpl::TreeInterfaceImpl(GtkWindow* parent, PropertyMap* config,
                                     const SharedPtr<tree::Map>& map, GuiContext* context)
    : TreeInterface(config), InterfaceForPanels(map), context_(context),
      interface_(context ? context->getInterface() : nullptr), parent_(parent) {
    paned_ = gtk_hpaned_new();
    // Ours until the caller's window holds it too; a view that is never shown
    // still releases it.
    g_object_ref_sink(paned_);
    gtk_paned_set_position(GTK_PANED(paned_), 250);
    left_ = GTK_SCROLLED_WINDOW(gtk_scrolled_window_new(nullptr, nullptr));
    right_ = GTK_SCROLLED_WINDOW(gtk_scrolled_window_new(nullptr, nullptr));
    gtk_scrolled_window_set_policy(left_, GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_policy(right_, GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_paned_pack1(GTK_PANED(paned_), GTK_WIDGET(left_), FALSE, TRUE);
    gtk_paned_pack2(GTK_PANED(paned_), GTK_WIDGET(right_), TRUE, TRUE);
    folders_ = std::make_unique<FolderTreePanel>(this, left_);
    files_ = std::make_unique<FileListPanel>(this, right_, parent_);
    filter().set(map_->getKind() == tree::MAP_FAT ? DEFAULT_FAT_FILTER : DEFAULT_FILTER);
}

TreeInterfaceImpl::~TreeInterfaceImpl() {
    // The panes first: their widgets may outlive the view inside the window
    // until the caller destroys them, and must not call back into it.
    files_.reset();
    folders_.reset();
    g_object_unref(paned_);
}

FrTreeInterface* TreeInterfaceImpl::getInterface() {
    return interface_;
}

void TreeInterfaceImpl::reload() {
    folders_->reload();
}

void TreeInterfaceImpl::refreshTexts() {
    files_->setTitles();
    if (files_->shownFolder().folder != tree::NO_FOLDER)
        files_->showFolder(files_->shownFolder());
}

void TreeInterfaceImpl::refreshRows() {
    folders_->refreshChecks(true);
    files_->refreshIcons();
}

void TreeInterfaceImpl::selectByMask() {
    GtkWindow* over = parentWindow();
    if (!selectByMask_.run(over ? over : parent_))
        return;
    tree::ParserSelect select(map_.get(), selectByMask_.mask());
    select.run(tree::START_POSITION, true, interface_);
    refreshRows();
}

bool TreeInterfaceImpl::getSelectedFileNode(tree::MapPosition& out) {
    return files_->getCursor(out);
}

bool TreeInterfaceImpl::getCurrentNode(tree::MapPosition& out) {
    if (folders_->hasFocus())
        return folders_->getSelected(out);
    return getSelectedFileNode(out);
}

bool TreeInterfaceImpl::selectNode(const tree::MapPosition& node) {
    return folders_->selectNode(node) && files_->selectIndex(node);
}

void TreeInterfaceImpl::showFolder(const tree::MapPosition& folder) {
    files_->showFolder(folder);
}

void TreeInterfaceImpl::activateNode(const tree::MapPosition& node) {
    std::unique_ptr<tree::MapIterator> cursor = cursorAt(node, true, false);
    if (!cursor)
        return;
    if (cursor->isDirectory())
        folders_->openChild(node);
    else
        viewNode(*cursor);
}

bool TreeInterfaceImpl::setChecked(const tree::MapPosition& node, bool mark) {
    tree::ParserSelect select(map_.get(), std::string());
    return select.run(node, mark, interface_);
}

bool TreeInterfaceImpl::setFolderChecked(const tree::MapPosition& node, bool mark) {
    const bool marked = setChecked(node, mark);
    files_->refreshIcons();
    return marked;
}

bool TreeInterfaceImpl::setFileChecked(const tree::MapPosition& node, bool mark) {
    const bool marked = setChecked(node, mark);
    folders_->refreshChecks(false);
    return marked;
}

} // namespace gtk
