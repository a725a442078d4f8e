#include "gui/MainFrame.h"

#include "core/CompressedFile.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/Preferences.h"
#include "core/System.h"
#include "core/Text.h"
#include "devices/SystemSources.h"
#include "fs/FsCandidate.h"
#include "gui/Banner.h"
#include "gui/FileDialog.h"
#include "gui/Help.h"
#include "gui/MessageDialog.h"
#include "gui/PreferencesDialog.h"
#include "gui/ScanFiles.h"
#include "gui/TreeInterfaceImpl.h"
#include "gui/Wizard.h"
#include "gui/WizardPageDrives.h"
#include "gui/WizardPageScanner.h"
#include "gui/WizardPageSelectFs.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <execinfo.h>
#include <gdk/gdkkeysyms.h>
#include <glib-unix.h>
#include <unistd.h>

namespace {

// What a menu item or toolbar button carries to its callback.
struct Activation {
    MainFrame* frame;
    MainFrame::Command command;
};

void onActivate(GtkWidget*, gpointer data) {
    auto* a = static_cast<Activation*>(data);
    a->frame->runCommand(a->command);
}

void freeActivation(gpointer data, GClosure*) {
    delete static_cast<Activation*>(data);
}

void connectCommand(GtkWidget* widget, const char* signal, MainFrame* frame,
                    MainFrame::Command command) {
    g_signal_connect_data(widget, signal, G_CALLBACK(onActivate), new Activation{frame, command},
                          freeActivation, GConnectFlags(0));
}

std::string programName(const PropertyMap& config) {
    return config.getString("Program Name", "");
}

gboolean onAboutLink(GtkAboutDialog*, gchar* uri, gpointer) {
    systemOpen(uri);
    return TRUE;
}

} // namespace

struct MainFrame::MenuRow {
    const char* label; // English, translated when built; null: a separator
    const char* stock; // a stock item instead of a label
    const char* image; // a stock image beside the label
    guint key;         // 0: none (or the stock item's own)
    GdkModifierType modifiers;
    Command command;
    GtkWidget* MainFrame::*holder; // the field that keeps the item, or null
};

MainFrame::MainFrame(PropertyMap& config, DrivesVFS* sources)
    : config_(&config), window_(GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL))),
      interface_(window_), analyzer_(&interface_),
      drives_(sources ? sources : createSystemSources()),
      context_(&interface_, &analyzer_.getDriveDescr(), &sourceList_, drives_.get()) {
    // The window stays ours until the destructor, whatever GTK does with it.
    g_object_ref_sink(window_);
    gtk_widget_set_name(GTK_WIDGET(window_), "MainFrame");
    GtkWidget* vbox = gtk_vbox_new(FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window_), vbox);
    gtk_box_pack_start(GTK_BOX(vbox),
                       createBanner("MainFrameBannerLeft.png", "MainFrameBannerRight.png"), FALSE,
                       FALSE, 0);

    GtkWidget* bars = gtk_hbox_new(FALSE, 0);
    GtkWidget* toolbar = gtk_toolbar_new();
    gtk_toolbar_set_show_arrow(GTK_TOOLBAR(toolbar), FALSE);
    gtk_toolbar_set_style(GTK_TOOLBAR(toolbar), GTK_TOOLBAR_ICONS);
    struct ToolRow {
        const char* stock;
        Command command;
        GtkToolItem* MainFrame::*holder;
    };
    const ToolRow tools[] = {{GTK_STOCK_GO_FORWARD, &MainFrame::wizard, &MainFrame::wizardButton_},
                             {GTK_STOCK_SAVE, &MainFrame::recover, &MainFrame::recoverButton_},
                             {GTK_STOCK_FIND, &MainFrame::findFile, &MainFrame::findButton_},
                             {GTK_STOCK_FILE, &MainFrame::viewFile, &MainFrame::viewFileButton_},
                             {GTK_STOCK_HELP, &MainFrame::helpContents, &MainFrame::helpButton_}};
    for (const ToolRow& row : tools) {
        GtkToolItem* item = gtk_tool_button_new_from_stock(row.stock);
        connectCommand(GTK_WIDGET(item), "clicked", this, row.command);
        gtk_toolbar_insert(GTK_TOOLBAR(toolbar), item, -1);
        this->*row.holder = item;
    }
    gtk_box_pack_start(GTK_BOX(bars), toolbar, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(bars), gtk_vseparator_new(), FALSE, FALSE, 0);
    menuBar_ = gtk_menu_bar_new();
    gtk_box_pack_start(GTK_BOX(bars), menuBar_, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(vbox), bars, FALSE, FALSE, 0);

    GtkWidget* frame = gtk_frame_new(nullptr);
    content_ = GTK_CONTAINER(frame);
    GtkWidget* align = gtk_alignment_new(0.5, 0.5, 0.1, 0.1);
    GtkWidget* start = gtk_button_new_with_mnemonic(_("_Wizard"));
    gtk_widget_set_name(start, "WizardButton");
    startButton_ = start;
    g_signal_connect(start, "destroy", G_CALLBACK(gtk_widget_destroyed), &startButton_);
    gtk_button_set_image(GTK_BUTTON(start),
                         gtk_image_new_from_stock(GTK_STOCK_GO_FORWARD, GTK_ICON_SIZE_BUTTON));
    connectCommand(start, "clicked", this, &MainFrame::wizard);
    gtk_container_add(GTK_CONTAINER(align), start);
    gtk_container_add(content_, align);
    gtk_box_pack_start(GTK_BOX(vbox), frame, TRUE, TRUE, 0);

    accelGroup_ = gtk_accel_group_new();
    gtk_window_add_accel_group(window_, accelGroup_);
    buildMenus();

    // A window without a title is hard to find in a task list.
    std::string title = programName(config);
    gtk_window_set_title(window_, title.empty() ? "Halbrook" : title.c_str());
    g_signal_connect(window_, "delete-event", G_CALLBACK(onDelete), this);
    gtk_window_set_default_size(window_, 800, 600);
    gtk_window_set_position(window_, GTK_WIN_POS_CENTER);
    gtk_widget_show_all(GTK_WIDGET(window_));
}

MainFrame::~MainFrame() {
    for (guint* source : {&termSource_, &intSource_, &closeTimer_}) {
        if (*source)
            g_source_remove(*source);
        *source = 0;
    }
    // The view before the widgets it shows, as showTree replaces it.
    treeInterface_.reset();
    gtk_widget_destroy(GTK_WIDGET(window_));
    g_object_unref(window_);
    g_object_unref(accelGroup_);
}

void MainFrame::appendMenu(const char* title, const MenuRow* rows, std::size_t count) {
    GtkWidget* menu = gtk_menu_new();
    gtk_menu_set_accel_group(GTK_MENU(menu), accelGroup_);
    for (std::size_t i = 0; i < count; ++i) {
        const MenuRow& row = rows[i];
        GtkWidget* item;
        if (!row.label && !row.stock) {
            item = gtk_separator_menu_item_new();
        } else if (row.stock) {
            item = gtk_image_menu_item_new_from_stock(row.stock, accelGroup_);
        } else if (row.image) {
            item = gtk_image_menu_item_new_with_mnemonic(_(row.label));
            gtk_image_menu_item_set_image(GTK_IMAGE_MENU_ITEM(item),
                                          gtk_image_new_from_stock(row.image, GTK_ICON_SIZE_MENU));
        } else {
            item = gtk_menu_item_new_with_mnemonic(_(row.label));
        }
        if (row.key)
            gtk_widget_add_accelerator(item, "activate", accelGroup_, row.key, row.modifiers,
                                       GTK_ACCEL_VISIBLE);
        if (row.command)
            connectCommand(item, "activate", this, row.command);
        if (row.holder)
            this->*row.holder = item;
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    }
    GtkWidget* top = gtk_menu_item_new_with_mnemonic(_(title));
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(top), menu);
    gtk_menu_shell_append(GTK_MENU_SHELL(menuBar_), top);
}

void MainFrame::buildMenus() {
    const char* const tips[] = {N_("Wizard"), N_("Recover"), N_("Find File"), N_("View File"),
                                N_("Help")};
    GtkToolItem* const buttons[] = {wizardButton_, recoverButton_, findButton_, viewFileButton_,
                                    helpButton_};
    for (int i = 0; i < 5; ++i)
        gtk_tool_item_set_tooltip_text(buttons[i], _(tips[i]));
    // The big button speaks the new language too, as long as it is there.
    if (startButton_)
        gtk_button_set_label(GTK_BUTTON(startButton_), _("_Wizard"));

    GList* items = gtk_container_get_children(GTK_CONTAINER(menuBar_));
    for (GList* l = items; l; l = l->next)
        gtk_widget_destroy(GTK_WIDGET(l->data));
    g_list_free(items);

    const auto CTRL = GDK_CONTROL_MASK;
    const auto ALT = GDK_MOD1_MASK;
    const auto NONE = GdkModifierType(0);
    const MenuRow SEPARATOR{nullptr, nullptr, nullptr, 0, NONE, nullptr, nullptr};
    const MenuRow file[] = {
        {N_("_Wizard"), nullptr, GTK_STOCK_GO_FORWARD, GDK_w, CTRL, &MainFrame::wizard, nullptr},
        SEPARATOR,
        {nullptr, GTK_STOCK_PREFERENCES, nullptr, 0, NONE, &MainFrame::preferences, nullptr},
        SEPARATOR,
        {nullptr, GTK_STOCK_QUIT, nullptr, 0, NONE, &MainFrame::quit, nullptr}};
    const MenuRow options[] = {{N_("Select _Partition"), nullptr, nullptr, GDK_p, CTRL,
                                &MainFrame::selectPartition, &MainFrame::selectPartitionItem_},
                               {N_("_Recover"), nullptr, nullptr, GDK_r, CTRL, &MainFrame::recover,
                                &MainFrame::recoverItem_},
                               SEPARATOR,
                               {N_("_Save Scan"), nullptr, nullptr, GDK_s, CTRL,
                                &MainFrame::saveScan, &MainFrame::saveScanItem_},
                               {N_("Save Debug"), nullptr, nullptr, GDK_d, CTRL,
                                &MainFrame::saveDebug, &MainFrame::saveDebugItem_}};
    const MenuRow tools[] = {{N_("Find _File"), nullptr, nullptr, GDK_f, CTRL, &MainFrame::findFile,
                              &MainFrame::findFileItem_},
                             {N_("Find _Next File"), nullptr, nullptr, GDK_n, CTRL,
                              &MainFrame::findNextFile, &MainFrame::findNextItem_},
                             SEPARATOR,
                             {N_("Select Files by _Mask"), nullptr, nullptr, GDK_m, ALT,
                              &MainFrame::selectByMask, &MainFrame::selectByMaskItem_},
                             SEPARATOR,
                             {N_("Filter Files by _Status"), nullptr, nullptr, GDK_s, ALT,
                              &MainFrame::filterByStatus, &MainFrame::filterItem_},
                             SEPARATOR,
                             {N_("_View File"), nullptr, nullptr, GDK_v, ALT, &MainFrame::viewFile,
                              &MainFrame::viewFileItem_}};
    const MenuRow report[] = {{N_("View File/Folder _Information"), nullptr, nullptr, GDK_i, ALT,
                               &MainFrame::viewInformation, &MainFrame::informationItem_},
                              {N_("View File/Folder _List"), nullptr, nullptr, GDK_l, ALT,
                               &MainFrame::viewList, &MainFrame::listItem_},
                              SEPARATOR,
                              {N_("View File/Folder _Properties"), nullptr, nullptr, GDK_p, ALT,
                               &MainFrame::viewProperties, &MainFrame::propertiesItem_},
                              {N_("View _Address/LBA Map"), nullptr, nullptr, GDK_a, ALT,
                               &MainFrame::viewAddressMap, &MainFrame::addressMapItem_}};
    const MenuRow help[] = {
        {N_("_F1 Help"), nullptr, nullptr, GDK_F1, NONE, &MainFrame::helpContents, nullptr},
        {N_("Software _Support"), nullptr, nullptr, 0, NONE, &MainFrame::helpSupport, nullptr},
        {N_("_About"), nullptr, nullptr, 0, NONE, &MainFrame::about, nullptr}};
    appendMenu(N_("_File"), file, G_N_ELEMENTS(file));
    appendMenu(N_("_Options"), options, G_N_ELEMENTS(options));
    appendMenu(N_("_Tools"), tools, G_N_ELEMENTS(tools));
    appendMenu(N_("_Report"), report, G_N_ELEMENTS(report));
    appendMenu(N_("_Help"), help, G_N_ELEMENTS(help));

    gtk_widget_show_all(menuBar_);
    if (treeInterface_)
        treeInterface_->refreshTexts();
    updateSensitivity();
}

MainFrame::StateWidgets MainFrame::stateWidgets() const {
    return {selectPartitionItem_,
            saveScanItem_,
            saveDebugItem_,
            {recoverItem_, findFileItem_, findNextItem_, selectByMaskItem_, filterItem_,
             viewFileItem_, informationItem_, listItem_, propertiesItem_, addressMapItem_,
             GTK_WIDGET(recoverButton_), GTK_WIDGET(findButton_), GTK_WIDGET(viewFileButton_)}};
}

void MainFrame::updateSensitivity() {
    DriveDescr& d = analyzer_.getDriveDescr();
    StateWidgets w = stateWidgets();
    gtk_widget_set_sensitive(w.selectPartition, getSelectedFileSystem(d.getLayout(), 0) != nullptr);
    gtk_widget_set_sensitive(w.saveScan, d.hasScan());
    gtk_widget_set_sensitive(w.saveDebug, std::strcmp(logStreamKind(), "ostringstream") == 0);
    for (GtkWidget* widget : w.needTree)
        gtk_widget_set_sensitive(widget, treeInterface_ != nullptr);
}

void MainFrame::guard(const std::function<void()>& action) {
    if (Preferences::instance().stackTraceAtException()) {
        // No guard: the exception finds no handler, so the terminate handler
        // sees the stack of the throw itself.
        action();
        return;
    }
    try {
        action();
    } catch (const InterruptedException&) {
        // The user cancelled in a progress box: nothing to tell.
        logAt("MainFrame", 917) << '\n';
    } catch (const std::exception& e) {
        // The text comes from anywhere, a disk's names included: never markup.
        if (!closing_) {
            const std::string text = escapeMarkup(gtk::failureText(e));
            messageDialog(MESSAGE_ERROR, text.c_str(), window_, false, nullptr);
        }
        logAt("MainFrame", 919) << ": " << e.what() << '\n';
    } catch (...) {
        if (!closing_)
            messageDialog(MESSAGE_ERROR, _("Unknown exception"), window_, false, nullptr);
        logAt("MainFrame", 922) << '\n';
    }
}

void MainFrame::runCommand(Command command) {
    guard([this, command] { (this->*command)(); });
}

bool MainFrame::requireTree() {
    if (treeInterface_)
        return true;
    messageDialog(MESSAGE_INFO_CLOSE,
                  _("Click the [Wizard] button to start the recovery process. This option is only "
                    "available after the Wizard has been completed."),
                  interface_.getParentWindow(), false, nullptr);
    return false;
}

void MainFrame::withTree(const std::function<void(TreeInterface&)>& action) {
    if (requireTree())
        action(*treeInterface_);
}

void MainFrame::showTree() {
    SharedPtr<tree::Map>& map = analyzer_.getDriveDescr().getMapHolder();
    if (!map.get())
        return;
    GtkWidget* widget = nullptr;
    std::unique_ptr<TreeInterface> view =
        gtk::TreeInterfaceImpl::create(window_, widget, config_, map, &context_);
    treeInterface_ = std::move(view);
    GList* children = gtk_container_get_children(content_);
    for (GList* l = children; l; l = l->next)
        gtk_widget_destroy(GTK_WIDGET(l->data));
    g_list_free(children);
    gtk_container_add(content_, widget);
    gtk_widget_show_all(widget);
    treeInterface_->applyFilter();
}

void MainFrame::wizard() {
    bool completed;
    {
        gtk::Wizard dialog(window_);
        gtk::InterfaceParentScope scope(&interface_, dialog.getWindow());
        gtk::WizardPageDrives source(&dialog, gtk::WizardPageDrives::SOURCE, &context_,
                                     &sourceList_, context_.getDrivesVfs(), false);
        gtk::WizardPageScanner scanner(&dialog, &analyzer_, &context_);
        // Back leads to the scan page; Select Partition runs the page alone,
        // with nothing to go back to.
        gtk::WizardPageSelectFs fileSystems(&dialog, &analyzer_, &context_, true);
        gtk::WizardPage* const pages[] = {&source, &scanner, &fileSystems};
        completed = gtk::runWizardPages(G_N_ELEMENTS(pages), pages);
    }
    if (closing_)
        return;
    if (completed) {
        showTree();
        interface_.information(false,
                               _("Tip: use &lt;space&gt; button or right mouse click menu to "
                                 "check/uncheck directories and files for recovery."),
                               false, nullptr);
    } else if (getSelectedFileSystem(analyzer_.getDriveDescr().getLayout(), 0)) {
        interface_.information(false,
                               _("To avoid having to rescan the Source Drive, use Select Partition "
                                 "from the Menu Bar."),
                               false, nullptr);
    }
    updateSensitivity();
}

void MainFrame::selectPartition() {
    bool completed;
    {
        gtk::Wizard dialog(window_);
        gtk::InterfaceParentScope scope(&interface_, dialog.getWindow());
        gtk::WizardPageSelectFs fileSystems(&dialog, &analyzer_, &context_, false);
        gtk::WizardPage* const pages[] = {&fileSystems};
        completed = gtk::runWizardPages(G_N_ELEMENTS(pages), pages);
    }
    if (closing_)
        return;
    if (completed)
        showTree();
    updateSensitivity();
}

void MainFrame::preferences() {
    Preferences& preferences = Preferences::instance();
    const int language = preferences.language();
    runPreferencesDialog(window_, preferences);
    if (preferences.language() != language)
        buildMenus();
}

void MainFrame::quit() {
    std::string question;
    const DriveDescr& d = analyzer_.getDriveDescr();
    if (d.hasScan() && !d.isScanSaved())
        question = std::string("<span foreground=\"red\">") + _("Warning") + ":</span> " +
                   _("scan file is not saved") + "\n\n";
    question += _("Do you want to quit?");
    // Our own markup: straight to the box, which the interface would escape.
    if (messageDialog(MESSAGE_QUESTION, question.c_str(), interface_.getParentWindow(), true,
                      nullptr) != 0)
        return;
    exitCode_ = 0;
    closing_ = true;
    gtk_widget_hide(GTK_WIDGET(window_));
    if (gtk_main_level() > 0)
        gtk_main_quit();
}

void MainFrame::recover() {
    withTree([](TreeInterface& t) { t.recover(); });
}

void MainFrame::saveScan() {
    saveScanWithPrompt(&context_, analyzer_.getDriveDescr(), false);
    updateSensitivity();
}

void MainFrame::saveDebug() {
    if (std::strcmp(logStreamKind(), "ostringstream") != 0)
        return;
    std::string name = "Halbrook.dbg";
    if (!runFileDialog(context_, name, FileDialog::SAVE, nullptr))
        return;
    const std::string text = logMemoryText();
    const std::string path = context_.makePath(name.c_str());
    if (!saveCompressedFile(path.c_str(), reinterpret_cast<const u8*>(text.data()), text.size()))
        reportWriteError(context_, name, errno);
}

void MainFrame::findFile() {
    withTree([](TreeInterface& t) { t.find(false); });
}

void MainFrame::findNextFile() {
    withTree([](TreeInterface& t) { t.find(true); });
}

void MainFrame::selectByMask() {
    withTree([](TreeInterface& t) { t.selectByMask(); });
}

void MainFrame::filterByStatus() {
    withTree([](TreeInterface& t) { t.editFilter(); });
}

void MainFrame::viewFile() {
    withTree([](TreeInterface& t) { t.viewFile(); });
}

void MainFrame::viewInformation() {
    withTree([](TreeInterface& t) { t.showTotals(); });
}

void MainFrame::viewList() {
    withTree([](TreeInterface& t) { t.report(false); });
}

void MainFrame::viewProperties() {
    withTree([](TreeInterface& t) { t.showProperties(); });
}

void MainFrame::viewAddressMap() {
    withTree([](TreeInterface& t) { t.report(true); });
}

void MainFrame::helpContents() {
    helpFile(window_, "MainFrame");
}

void MainFrame::helpSupport() {
    helpFile(window_, "SoftwareSupport");
}

void MainFrame::about() {
    GtkWidget* dialog = gtk_about_dialog_new();
    GtkAboutDialog* about = GTK_ABOUT_DIALOG(dialog);
    gtk_window_set_transient_for(GTK_WINDOW(dialog), window_);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_about_dialog_set_program_name(about, programName(*config_).c_str());
    const std::string version = "\n" + formatMessage(_("(revision %1)"), revision_);
    gtk_about_dialog_set_version(about, version.c_str());
    gtk_about_dialog_set_copyright(
        about, _("Copyright (C) 2026 The Halbrook developers. Halbrook never writes to the drive "
                 "it recovers from."));
    const std::string site = config_->getString("Web Site", "");
    if (!site.empty())
        gtk_about_dialog_set_website(about, site.c_str());
    g_signal_connect(dialog, "activate-link", G_CALLBACK(onAboutLink), nullptr);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

gboolean MainFrame::onDelete(GtkWidget*, GdkEvent*, gpointer self) {
    auto* frame = static_cast<MainFrame*>(self);
    frame->runCommand(&MainFrame::quit);
    return TRUE;
}

void MainFrame::endRun(int exitCode) {
    logAt("MainFrame", 960) << ": " << exitCode << '\n';
    exitCode_ = exitCode;
    closing_ = true;
    if (!closeTimer_)
        closeTimer_ = g_timeout_add(50, closeDialogs, this);
}

template <int Signal> gboolean MainFrame::onEndSignal(gpointer self) {
    static_cast<MainFrame*>(self)->endRun(128 + Signal);
    return G_SOURCE_CONTINUE;
}

gboolean MainFrame::closeDialogs(gpointer self) {
    // One dialog a tick, the one in front (no other dialog stands over it): its
    // modal loop must return before the one below it can.
    std::vector<GtkWindow*> shown;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* l = toplevels; l; l = l->next)
        if (GTK_IS_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data)))
            shown.push_back(GTK_WINDOW(l->data));
    g_list_free(toplevels);
    GtkDialog* front = nullptr;
    for (GtkWindow* candidate : shown) {
        bool covered = false;
        for (GtkWindow* other : shown)
            covered = covered || gtk_window_get_transient_for(other) == candidate;
        if (!covered)
            front = GTK_DIALOG(candidate);
    }
    if (front) {
        gtk_dialog_response(front, GTK_RESPONSE_DELETE_EVENT);
        return G_SOURCE_CONTINUE;
    }
    auto* frame = static_cast<MainFrame*>(self);
    gtk_widget_hide(GTK_WIDGET(frame->window_));
    if (gtk_main_level() > 0)
        gtk_main_quit();
    return G_SOURCE_CONTINUE;
}

int MainFrame::run() {
    installCrashHandlers(crashLogFd_);
    termSource_ = g_unix_signal_add(SIGTERM, onEndSignal<SIGTERM>, this);
    intSource_ = g_unix_signal_add(SIGINT, onEndSignal<SIGINT>, this);
    const std::string url = config_->getString("Update URL", "");
    if (updateCheck_ && updateCheck_(window_, url.c_str(), programName(*config_).c_str()))
        return 0;
    runCommand(&MainFrame::wizard);
    if (!closing_)
        gtk_main();
    return exitCode_;
}

// The crash path.

namespace {

constexpr int FATAL_SIGNALS[] = {SIGSEGV, SIGILL, SIGFPE, SIGBUS, SIGABRT};
constexpr int MAX_FRAMES = 64;
int crashLogFd = -1;

// Everything below runs inside a signal handler: only write(2), no allocation,
// no locks, no stdio.
void writeAll(int fd, const char* text, std::size_t n) {
    while (n > 0) {
        ssize_t done = ::write(fd, text, n);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return;
        text += done;
        n -= static_cast<std::size_t>(done);
    }
}

void writeText(int fd, const char* text) {
    writeAll(fd, text, std::strlen(text));
}

void writeHex(int fd, std::uintptr_t value) {
    char digits[2 + sizeof value * 2];
    std::size_t n = sizeof digits;
    do {
        digits[--n] = "0123456789abcdef"[value & 0xf];
        value >>= 4;
    } while (value && n > 2);
    digits[--n] = 'x';
    digits[--n] = '0';
    writeAll(fd, digits + n, sizeof digits - n);
}

void writeTrace(int fd, void* const* frames, int count) {
    writeText(fd, "MainFrame(74): Stack trace:");
    for (int i = 0; i < count; ++i) {
        writeText(fd, " ");
        writeHex(fd, reinterpret_cast<std::uintptr_t>(frames[i]));
    }
    writeText(fd, "\n");
    backtrace_symbols_fd(frames, count, fd);
}

void onFatalSignal(int signal) {
    void* frames[MAX_FRAMES];
    int count = backtrace(frames, MAX_FRAMES);
    writeTrace(STDERR_FILENO, frames, count);
    if (crashLogFd >= 0)
        writeTrace(crashLogFd, frames, count);
    // The default action ends the process by this very signal once the
    // handler returns (a fault is raised again by the same instruction).
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void onTerminate() {
    static bool inside = false;
    if (!inside) {
        inside = true;
        // Worded as the command guard words what it catches: the user reads
        // what stopped the program, not a programmer's prefix.
        std::string what;
        if (std::exception_ptr current = std::current_exception()) {
            try {
                std::rethrow_exception(current);
            } catch (const std::exception& e) {
                what = gtk::failureText(e);
            } catch (...) {
                what = _("Unknown exception");
            }
        }
        std::string trace = std::string("Stack trace: ") + stackTraceString(1024);
        if (!what.empty())
            trace = what + "\n" + trace;
        logAt("MainFrame", 74) << ": " << trace << '\n';
        if (std::strcmp(logStreamKind(), "stderr") != 0)
            writeText(STDERR_FILENO, ("MainFrame(74): " + trace + "\n").c_str());
        messageDialog(MESSAGE_ERROR, escapeMarkup(trace).c_str(), nullptr, false, nullptr);
    }
    // Already reported: the abort must not report again.
    std::signal(SIGABRT, SIG_DFL);
    std::abort();
}

} // namespace

void installCrashHandlers(int logFd) {
    static bool installed = false;
    crashLogFd = logFd;
    if (installed)
        return;
    installed = true;
    // The first backtrace loads the unwinder; in a handler that would allocate.
    void* warm[1];
    backtrace(warm, 1);
    // A stack overflow leaves no stack for the handler: it gets one of its own.
    static char alternateStack[64 * 1024];
    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    sigaltstack(&stack, nullptr);
    struct sigaction action {};
    action.sa_handler = onFatalSignal;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : FATAL_SIGNALS)
        sigaction(signal, &action, nullptr);
    std::set_terminate(onTerminate);
}
